#pragma once
// Opening a platform reader on a clip source and negotiating its output:
// 48 kHz stereo float when the reader converts, else the native rate and
// channels as float or 16-bit PCM, which the format converter then turns into
// 48 kHz stereo float. Shared by the streaming player and the loaders.

#include "media/format_converter.h"
#include "platform/media.h"

#include <memory>
#include <string>

namespace clip {

enum class OpenFailure {
    None,
    CannotOpen, // the reader could not be created (or has no audio stream)
    NoFormat,   // no output type was accepted, or the native type is out of range
};

struct OpenedReader {
    std::unique_ptr<platform::MediaReader> reader;
    media::SourceLayout layout; // what the reader delivers; readerConverts when 48 kHz stereo float
    OpenFailure failure = OpenFailure::None;
    platform::MediaCode code = platform::kMediaOk; // the platform's code when the reader could not be created
};

OpenedReader openReader(platform::Media& media, const std::wstring& source, platform::ReaderUse use);

} // namespace clip
