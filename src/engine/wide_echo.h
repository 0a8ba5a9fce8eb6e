#pragma once
// The wide echo ("Wide echo in headphones"): a second "Haunted Cavern" room
// for the headphone path, its decay shortened to 0.8818342151675485 of the
// room's, fed the part of the voice send that the main cavern's input
// compressor holds back. The monitor thus hears a wider, fuller cave than the
// virtual microphone receives.
//
// It runs while `wide` is set and either the procedural cavern runs or less
// than 15 s (720000 frames at 48 kHz) have passed since it last ran, so it
// rings out after the room changes away; with any other room its send is
// silence. The room is built in prepare(): when `wide` clears or the ring-out
// ends the room is silenced and skipped, never freed or rebuilt on the
// engine thread. Engine thread only.

#include "dsp/reverb.h"

#include <cstdint>
#include <vector>

namespace engine {

// One block of the voice send as the environment step makes it.
struct WideEchoFeed {
    const float* highPassed = nullptr;     // the 20 Hz high-passed voice
    const float* compressorGain = nullptr; // the cavern input compressor's gain per frame
    float send = 0.0f;                     // the voice send level
    float tapSend = 1.0f;                  // the explicit taps' gains, as the main cavern has them
    float tapCompensation = 1.0f;
};

class WideEchoRoom {
public:
    static constexpr double kDecayScale = 0.8818342151675485;
    static constexpr double kRingOutSeconds = 15.0;

    // Builds the room and the scratch for maxFrames per call. Allocates.
    void prepare(double sampleRate, uint32_t maxFrames);
    // Silent and idle.
    void reset() noexcept;

    // Adds the room's output into the monitor's wet pair. cavernRunning: the
    // procedural cavern is the environment now; wide: the setting.
    void process(
        const WideEchoFeed& feed, float* wetL, float* wetR, uint32_t n, bool cavernRunning, bool wide) noexcept;

    bool running() const noexcept { return running_; }
    int64_t countdown() const noexcept { return countdown_; }
    // Late decay of the room, seconds.
    double decaySeconds() const noexcept { return room_.decayTime(); }
    // Frames from a send to the room's first output.
    int64_t answerFrames() const noexcept { return answerFrames_; }

private:
    int64_t firstAnswer() noexcept;

    dsp::Reverb room_;
    double sampleRate_ = 48000.0;
    int64_t ringOut_ = 720000;
    int64_t countdown_ = 0;
    bool running_ = false;
    bool silent_ = true;       // nothing sent and nothing left ringing: the room is clear and skipped
    int64_t answerFrames_ = 0; // from a send to the room's first output
    int64_t sinceSend_ = 0;    // frames since the last sample sent
    std::vector<float> send_, left_, right_;
};

} // namespace engine
