#pragma once
// The effect steps of the block cycle, called by the engine in a fixed order.
// Each step belongs to its own effect module; until a module fills its step
// in, the step passes the voice through unchanged. All steps run on the
// engine thread: the block steps are noexcept and never allocate or lock.

#include "engine/engine_report.h"
#include "settings/settings.h"

#include <cstdint>

namespace engine {

// One block as the steps see it. Buffers hold at least frames entries (mono)
// or 2 x frames (interleaved stereo).
struct Block {
    uint32_t frames = 0;
    int pass = 1;                                 // 0 for a block of gap silence, 1 for a captured packet
    float micGain = 1.0f;                         // linear
    const settings::Snapshot* settings = nullptr; // the record as this block reads it
    bool glitchHeld = false; // the glitch key or button, read once for the whole block
    float* voice = nullptr;                       // mono voice
    float* wetCable = nullptr;                    // mono environment send for the cable
    float* wetMonitor = nullptr;                  // mono environment send for the monitor
    float* cable = nullptr;                       // stereo cable output
    float* monitor = nullptr;                     // stereo monitor output
};

class BlockSteps {
public:
    virtual ~BlockSteps() = default;

    // Engine thread start: load the impulse response (returns whether it
    // loaded), create the environment for preset, prepare every effect.
    virtual bool loadImpulseResponse() { return false; }
    virtual void prepare(double /*sampleRate*/, uint32_t /*maxFrames*/, int /*preset*/) { }
    // The environment preset changed while running; the old one fades as a tail.
    virtual void changeEnvironment(int /*preset*/) noexcept { }

    // In block-cycle order.
    virtual void reloadEq(const settings::Snapshot& /*settings*/) noexcept { } // eqRevision moved
    virtual void setBassBoost(float /*micGain*/) noexcept { }                  // voice, clip, application shelves
    // Pass 1 only, before isolation: a key press or click since the previous packet.
    virtual void inputActivity() noexcept { }
    virtual void isolation(Block& /*block*/) noexcept { } // while isolate is set
    virtual void micTone(Block& /*block*/) noexcept { }
    virtual void voiceSpeed(Block& /*block*/, int /*speedPercent*/, bool /*keepPitch*/) noexcept { }
    virtual void voiceChangerAndMask(Block& /*block*/) noexcept { } // while bit 0 of mask_on is set
    virtual void glitch(Block& /*block*/, bool /*active*/) noexcept { }
    virtual void cardMicVoicing(Block& /*block*/) noexcept { } // card_mic set and raw clear
    virtual void driveAndBass(Block& /*block*/) noexcept { }
    // Fills the wet sends; without an environment they are silent.
    virtual void environment(Block& block) noexcept;
    // Dry voice plus wet into both stereo outputs; EQ, width and soft clip come later.
    virtual void voiceOutput(Block& block) noexcept;
    virtual void voicePan(Block& /*block*/) noexcept { }
    virtual void mixBuses(Block& /*block*/) noexcept { }    // clips, soundboard, application audio
    virtual void mixPreviews(Block& /*block*/) noexcept { } // take previews

    // After each block: the steps' part of the engine report (pitch, speed
    // latency, glitching, bus activity).
    virtual void report(EngineReport& /*report*/) const noexcept { }
};

} // namespace engine
