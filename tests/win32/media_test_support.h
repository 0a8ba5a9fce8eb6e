#pragma once
// What the media tests and the decode speed figure share: Media Foundation
// started for the process, the test audio's folder, and decoding a file the
// program's way (clip::openReader's negotiation, then media::FormatConverter
// to 48 kHz stereo float).

#include "platform/media.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ovix_media_test {

inline constexpr double kRate = 48000.0;

// The platform's media with COM and Media Foundation started on the calling
// thread, until destroyed there.
struct MediaSession {
    MediaSession();
    ~MediaSession();
    MediaSession(const MediaSession&) = delete;
    MediaSession& operator=(const MediaSession&) = delete;

    std::unique_ptr<platform::Media> media;
    std::shared_ptr<void> com;
    bool started = false;
};

// Ends the process with code, without the library teardown of a normal
// exit: under wine, GStreamer's threads behind Media Foundation now and then
// crash a process while its libraries unload, after everything it did had
// passed (a segmentation fault after "[  PASSED  ]", once in about twenty
// runs). Standard output is flushed first.
[[noreturn]] void endProcess(int code);

struct Decoded {
    bool ok = false;
    std::string failure;             // why not ok
    std::vector<float> stereo;       // 48 kHz interleaved
    int64_t firstTimestamp = -1;     // of the first sample with data, 100 ns
    std::optional<int64_t> duration; // as the reader gives it
    bool readerConverts = false;     // the reader delivered 48 kHz stereo float itself
    double frames() const { return static_cast<double>(stereo.size()) / 2.0; }
};

// The whole file from its start, or from seekTo (100 ns) when given.
Decoded decode(platform::Media& media, const std::wstring& path, platform::ReaderUse use,
    std::optional<int64_t> seekTo = std::nullopt);

// A file in the folder OVIX_MEDIA_AUDIO names (a host path is taken as wine's Z: drive).
std::wstring audioPath(const std::wstring& name);
std::string narrow(const std::wstring& text);
bool underWine();

} // namespace ovix_media_test
