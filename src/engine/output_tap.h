#pragma once
// The loopback tap of the chosen speaker: everything rendered to it is
// captured on the tap's own thread, converted to 48 kHz stereo float and
// pushed into the recorder's two loopback rings, with gaps (the platform
// delivers nothing while the endpoint renders nothing) filled with silence
// so that the timeline stays continuous and aligned with the voice.

#include "engine/recorder_ring.h"
#include "media/format_converter.h"
#include "platform/audio_endpoints.h"
#include "platform/clock.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace engine {

// Gives the endpoint id to tap; empty: the default render endpoint.
using EndpointSource = std::function<std::wstring()>;

// The tap thread's work in steps: the thread is a thin loop around them, and
// tests call them one at a time on a manual clock. Times are 100 ns units on
// the performance-counter clock (the Clock's microseconds × 10). Owned by
// the tap's thread.
class TapStream {
public:
    static constexpr int64_t kTicksPerSecond = 10000000;
    static constexpr int64_t kLateOrEarly = 200000; // 20 ms: stamps nearer than this count as on time
    static constexpr int64_t kQuietAfter = 1000000; // 100 ms without packets before silence is filled
    static constexpr int64_t kQuietLag = 600000;    // the fill stops 60 ms short of now
    static constexpr int64_t kMaxGap = 5 * kTicksPerSecond;
    static constexpr int64_t kEndpointCheck = 5000000; // 500 ms between looks at the chosen endpoint

    TapStream(platform::Clock& clock, platform::AudioDevices& devices, uint32_t sampleRate,
        EndpointSource endpointSource, RecorderRing& takeSink, RecorderRing& lastSink);
    ~TapStream();

    // Opens a loopback stream on the endpoint the source names (the default
    // render endpoint when it names none or an unknown one), in the fixed
    // format or else in the endpoint's mix format, and starts it. False, with
    // nothing open, when any step fails.
    bool open();
    enum class Pass {
        Ok,
        EndpointChanged, // the source names another endpoint: close and open again
        Failed,          // a capture call failed; the stream is closed
    };
    // One pass: drains every packet into the sinks, fills gaps in the
    // timeline with silence, and every 500 ms asks the source again.
    Pass pass();
    void close();

    bool isOpen() const { return capture_ != nullptr; }
    bool mixFormatFallback() const { return converter_.has_value(); }
    // Where the next captured frame belongs on the timeline.
    int64_t expected() const { return expected_; }

private:
    int64_t now() const { return clock_.nowMicros() * 10; }
    int64_t framesToTicks(uint64_t frames) const;
    uint64_t ticksToFrames(int64_t ticks) const;
    void pushSilence(uint64_t frames);
    void pushFrames(const float* interleaved, uint64_t frames);
    void takePacket(const platform::CapturePacket& packet);

    platform::Clock& clock_;
    platform::AudioDevices& devices_;
    uint32_t sampleRate_;
    EndpointSource endpointSource_;
    RecorderRing& takeSink_;
    RecorderRing& lastSink_;

    std::wstring endpointInUse_; // what the source said at the last open
    std::unique_ptr<platform::AudioClient> client_;
    std::unique_ptr<platform::CaptureService> capture_;
    std::optional<media::FormatConverter> converter_; // set while the stream runs in the mix format
    uint32_t mixFrameBytes_ = 0;
    bool timelineStarted_ = false;
    int64_t expected_ = 0;
    int64_t lastEndpointCheck_ = 0;
    std::vector<float> silence_;   // a tenth of a second of stereo zeros
    std::vector<float> converted_; // a mix-format packet at 48 kHz stereo
    std::vector<uint8_t> zeroBytes_;
};

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
    // Waits on the clock until timeout passes or the tap is asked to stop; true when asked.
    bool waitStop(int64_t micros);

    platform::Clock& clock_;
    platform::AudioDevices& devices_;
    std::unique_ptr<platform::Event> stopEvent_; // set with stopFlag, so that waits end at once
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
void hearTapSync(
    OutputTap& tap, const TapWish& wish, EndpointSource endpointSource, RecorderRing& takeSink, RecorderRing& lastSink);

} // namespace engine
