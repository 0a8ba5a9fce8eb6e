// Prints how many times faster than real time a file decodes the program's
// way (reader, negotiation, conversion to 48 kHz stereo float):
// "figure clip_decode_realtime_x N". A figure, not a test: nothing is timed
// against a limit.

#include "win32/media_test_support.h"

#include <chrono>
#include <cstdio>

namespace {

int run()
{
    using namespace ovix_media_test;
    MediaSession session;
    if (!session.media->available()) {
        std::printf("Media Foundation is missing\n");
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    const Decoded decoded = decode(*session.media, audioPath(L"minute.mp3"), platform::ReaderUse::Streaming);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (!decoded.ok) {
        std::printf("decoding failed: %s\n", decoded.failure.c_str());
        return 1;
    }
    const double seconds = decoded.frames() / kRate;
    std::printf("decoded %.2f s of MP3 in %.3f s\n", seconds, took.count());
    std::printf("figure clip_decode_realtime_x %.1f\n", seconds / took.count());
    return seconds > 59.0 ? 0 : 1;
}

} // namespace

int main()
{
    ovix_media_test::endProcess(run());
}
