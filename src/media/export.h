#pragma once
// Writing takes and Last excerpts to files: the five formats, the recordings
// folder, the names made from date and time, and encodeFile, which writes WAV
// itself and the other formats through the platform's encoder under a
// ".saving" name that is moved into place only when complete.

#include "media/sound.h"
#include "platform/files.h"
#include "platform/known_folders.h"
#include "platform/media.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace media {

struct TakeFormatEntry {
    const wchar_t* label;     // "MP3 sound (*.mp3)"
    const wchar_t* extension; // "mp3"
    bool ownWriter;           // WAV: the program's own writer
    platform::EncoderFormat encoder;
    uint32_t targetBytesPerSecond; // 0: no target
};

inline constexpr int kTakeFormats = 5;
// The entry of a TakeFormat value, clamped to 0..4.
const TakeFormatEntry& takeFormat(int32_t index);
// The index of the path's extension (any case), or -1.
int formatFromPath(const std::wstring& path);
// The file name without folder and extension.
std::wstring displayName(const std::wstring& path);

// Where recordings go: clipsFolder when not empty; else the Music folder +
// "\VantorOvix"; else the application's data folder + "\VantorOvix" (appData
// is the APPDATA variable's value, when set and shorter than 260 characters;
// else the program's own folder), created when missing.
std::wstring recordingsFolder(platform::Files& files, const std::wstring& clipsFolder,
    platform::KnownFolders* knownFolders, const std::wstring* appData, const std::wstring& programFolder);

// The local time a name is made from.
struct LocalTime {
    uint32_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
LocalTime localTimeNow();
// "<folder>\<prefix>_YYYYMMDD_hhmmss.<extension>".
std::wstring makeFileName(const std::wstring& folder, const std::wstring& prefix, const LocalTime& time,
    const TakeFormatEntry& format);

// The name a file is encoded under until it is complete.
std::wstring savingName(const std::wstring& target);

// The index of the offered type to encode with: sampleRate stereo only, the
// average byte rate nearest the target (any, when the target is 0), 16-bit
// types before all others, the first on a tie; -1 when none is usable.
int chooseEncoderType(const std::vector<platform::EncoderType>& types, uint32_t sampleRate, uint32_t targetBytesPerSecond);

// Writes sound to target in format; false with message on failure, when no
// half file is left and an old file under target is untouched.
bool encodeFile(platform::Files& files, platform::Media* media, const std::wstring& target, const clip::Sound& sound,
    uint32_t sampleRate, const TakeFormatEntry& format, std::wstring& message);

} // namespace media
