#pragma once
// The loopback tap of the chosen speaker: everything rendered to it is
// captured on the tap's own thread, converted to 48 kHz stereo float and
// pushed into the recorder's two loopback rings, with gaps (the platform
// delivers nothing while the endpoint renders nothing) filled with silence
// so that the timeline stays continuous and aligned with the voice.

#include "engine/recorder_ring.h"
#include "platform/audio_endpoints.h"
#include "platform/clock.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace engine {

// Gives the endpoint id to tap; empty: the default render endpoint.
using EndpointSource = std::function<std::wstring()>;

class OutputTap {
public:
    OutputTap(platform::Clock& clock, platform::AudioDevices& devices);
    ~OutputTap(); // stops
    OutputTap(const OutputTap&) = delete;
    OutputTap& operator=(const OutputTap&) = delete;

    // Clears the stop flag and starts the thread (when not running).
    void startTap(uint32_t sampleRate, EndpointSource endpointSource, RecorderRing& takeSink, RecorderRing& lastSink);
    // Sets the stop flag and joins the thread.
    void stopTap();
    bool threadRunning() const { return thread_.joinable(); }
    // 1 while a loopback stream is delivering.
    bool delivering() const { return running_.load() != 0; }

    // Optional hooks run first and last on the tap's thread (the program's COM apartment).
    void setThreadHooks(std::function<void()> begin, std::function<void()> end);

private:
    void run();

    platform::Clock& clock_;
    platform::AudioDevices& devices_;
    std::thread thread_;
    std::atomic<uint8_t> stopFlag_{0};
    std::atomic<int32_t> running_{0};
    uint32_t sampleRate_ = 48000;
    EndpointSource endpointSource_;
    RecorderRing* takeSink_ = nullptr;
    RecorderRing* lastSink_ = nullptr;
    std::function<void()> beginHook_, endHook_;
};

// Whether the tap should run: bit 1 of recSources set and either a take
// recording or keepLast > 0; during a recording also when it was started
// with bit 1 set. Starts or stops tap to match.
struct TapWish {
    int32_t recSources = 0;
    bool recording = false;
    bool recordingStartedWithLoopback = false;
    int32_t keepLast = 0;
};
bool tapShouldRun(const TapWish& wish);
void hearTapSync(OutputTap& tap, const TapWish& wish, EndpointSource endpointSource, RecorderRing& takeSink,
    RecorderRing& lastSink);

} // namespace engine
