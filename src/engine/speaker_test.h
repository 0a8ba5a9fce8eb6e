#pragma once
// The speaker test: a test signal played straight to the chosen speaker on
// its own short-lived thread and its own render stream, outside the block
// cycle, so it works while the engine is stopped and never passes through
// the effects. One test runs at a time; starting one stops the other.
//
// The thread is a thin loop around SpeakerTestRun, whose open() and step() a
// test calls one at a time on a virtual clock. A stop fades the signal out
// over the stream's time, so on a manual clock stopping a playing test needs
// the clock to move while the caller waits in the join.

#include "engine/test_generator.h"
#include "platform/audio_endpoints.h"
#include "platform/clock.h"
#include "settings/settings.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace engine {

inline constexpr int64_t kSpeakerTestBufferMicros = 80000;
inline constexpr int64_t kSpeakerTestWaitMicros = 10000; // between chunks, and between drain checks
inline constexpr int kSpeakerTestDrainWaits = 15;        // the drain gives up after this many waits
inline constexpr wchar_t kSpeakerOpenFailedText[] = L"Could not open speaker device for audio test.";

// What the test thread reads and publishes while it runs.
struct SpeakerTestControls {
    std::atomic<uint8_t> stopFlag{0};      // interface: fade out and end
    std::atomic<float> level{0.35f};       // interface: output level 0..1, read every chunk
    std::atomic<int32_t> activeChannel{0}; // test thread: a TestChannel
};

// The sample layout a test stream takes its frames in.
struct TestStreamFormat {
    uint16_t channels = 2;
    uint32_t rate = 48000;
    bool pcm16 = false; // signed 16-bit; otherwise 32-bit float

    uint32_t frameBytes() const { return channels * (pcm16 ? 2u : 4u); }
};

// Writes frames stereo frames in format: left and right into the first two
// channels, further channels silent, a mono stream their sum within the
// generator's limit; 16-bit samples rounded from v × 32767.
void convertTestFrames(const float* stereo, uint32_t frames, const TestStreamFormat& format, uint8_t* out) noexcept;

// One test on its stream.
class SpeakerTestRun {
public:
    // endpoint: the chosen speaker's id; empty or unknown plays on the default render endpoint.
    SpeakerTestRun(platform::AudioDevices& devices, std::wstring endpoint, const TestSignal& signal,
        SpeakerTestControls& controls);
    ~SpeakerTestRun();
    SpeakerTestRun(const SpeakerTestRun&) = delete;
    SpeakerTestRun& operator=(const SpeakerTestRun&) = delete;

    // Opens and starts the stream: float stereo at 48000 Hz with the
    // platform's conversion first, then the endpoint's own mix format when it
    // is 32-bit float or 16-bit. False when neither opens.
    bool open();
    // One pass of the loop: a 20 ms chunk into the free space of the buffer,
    // or one check of the drain after the signal ended. False once the test
    // has ended and its stream is stopped; otherwise wait for the stop event
    // at most kSpeakerTestWaitMicros and step again.
    bool step();

    const TestStreamFormat& format() const { return format_; }
    const TestGenerator* generator() const { return generator_.get(); }

private:
    bool finish();

    platform::AudioDevices& devices_;
    std::wstring endpoint_;
    TestSignal signal_;
    SpeakerTestControls& controls_;
    std::unique_ptr<platform::AudioClient> client_;
    std::unique_ptr<platform::RenderService> render_;
    std::unique_ptr<TestGenerator> generator_;
    TestStreamFormat format_;
    uint32_t bufferFrames_ = 0;
    uint32_t chunkFrames_ = 0;
    std::vector<float> chunk_;
    std::vector<uint8_t> bytes_;
    bool stopSeen_ = false;
    bool draining_ = false;
    int drainWaits_ = 0;
    bool ended_ = false;
};

// The process-wide speaker test. The interface thread starts, stops and
// joins it and reads its fields; the test thread owns the stream.
class SpeakerTest {
public:
    SpeakerTest(platform::Clock& clock, platform::AudioDevices& devices, settings::Settings& settings);
    ~SpeakerTest(); // stops and joins
    SpeakerTest(const SpeakerTest&) = delete;
    SpeakerTest& operator=(const SpeakerTest&) = delete;

    // The buttons: the level from SpkTestVol; the same mode again only stops
    // the running test; another mode stops it and starts this one on the
    // chosen speaker (spk).
    void startSpeakerTest(TestMode mode);
    // Fades the running test out and joins its thread.
    void stopSpeakerTest();
    // A running test takes a new level at its next chunk.
    void setLevel(float level);

    bool running() const { return running_.load() != 0; }
    float level() const { return controls_.level.load(); }
    TestMode mode() const { return static_cast<TestMode>(mode_.load()); }
    TestChannel activeChannel() const { return static_cast<TestChannel>(controls_.activeChannel.load()); }
    // Empty, or why the last test could not play.
    std::wstring statusText() const;

private:
    void run(std::wstring endpoint, TestSignal signal);

    platform::Clock& clock_;
    platform::AudioDevices& devices_;
    settings::Settings& settings_;
    std::unique_ptr<platform::Event> stopEvent_; // auto-reset: wakes the test thread early
    SpeakerTestControls controls_;
    std::atomic<uint8_t> running_{0};
    std::atomic<int32_t> mode_{0};
    std::thread thread_; // interface thread only
    mutable std::mutex textLock_;
    std::wstring statusText_; // guarded by textLock_
};

} // namespace engine
