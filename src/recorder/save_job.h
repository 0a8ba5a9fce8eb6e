#pragma once
// A save of a take or a Last excerpt as the interface hands it to a
// background worker: the sound, the file and its format, and the texts the
// result is told with.

#include "media/export.h"
#include "media/sound.h"
#include "platform/files.h"
#include "platform/media.h"

#include <string>

namespace recorder {

struct SaveRequest {
    clip::SoundRef sound;
    std::wstring path;
    int32_t format = 0;            // TakeFormat index
    std::wstring successPrefix;    // "Saved: " or "Saved Last: "
    bool withExtension = false;    // the success text names the extension too ("Saved: name.wav")
};

struct SaveResult {
    bool ok = false;
    std::wstring text; // the status line: success text, the encoder's message, or "Save failed"
};

// Worker thread: encodes the request's sound into its file.
SaveResult runSave(const SaveRequest& request, platform::Files& files, platform::Media* media);

} // namespace recorder
