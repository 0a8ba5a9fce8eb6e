#include "engine/block_cycle.h"

#include "engine/mix.h"

#include <algorithm>
#include <cmath>

namespace engine {

namespace {

constexpr float kInputLimit = 4.0f;

template <class T> void growTo(std::vector<T>& v, size_t size)
{
    if (v.size() < size)
        v.resize(size);
}

} // namespace

BlockCycle::BlockCycle(CycleServices services) : s_(services)
{ }

void BlockCycle::start()
{
    snapshot_ = s_.settings.snapshot();
    eqRevisionSeen_ = snapshot_.eqRevision;
}

void BlockCycle::ensureScratch(uint32_t frames)
{
    growTo(voice_, frames);
    growTo(wetCable_, frames);
    growTo(wetMonitor_, frames);
    growTo(cableBus_, size_t{frames} * 2);
    growTo(monitorBus_, size_t{frames} * 2);
}

void BlockCycle::pollGlitchKey() noexcept
{
    const auto code = static_cast<uint32_t>(snapshot_.GlitchKey);
    const bool held = s_.keys != nullptr && platform::keyCodeHeld(*s_.keys, code);
    if (held) {
        glitchKeyHeld_ = glitchKeyArmed_;
    } else {
        glitchKeyArmed_ = true;
        glitchKeyHeld_ = false;
    }
}

void BlockCycle::checkInputActivity() noexcept
{
    if (s_.keys != nullptr && inputCheck_.check(s_.keys->inputState()))
        s_.steps.inputActivity();
}

void BlockCycle::run(const float* interleaved, uint32_t n, int pass) noexcept
{
    const settings::Snapshot& st = snapshot_;
    const int32_t level = st.mic_level;
    if (level != micLevelSeen_) {
        micLevelSeen_ = level;
        micGain_ = levelGain(level);
    }
    Block block;
    block.frames = n;
    block.pass = pass;
    block.micGain = micGain_;
    block.settings = &st;
    block.voice = voice_.data();
    block.wetCable = wetCable_.data();
    block.wetMonitor = wetMonitor_.data();
    block.cable = cableBus_.data();
    block.monitor = monitorBus_.data();

    // 1. Voice input: mono, out-of-range and NaN samples silenced, microphone gain.
    if (interleaved) {
        for (uint32_t i = 0; i < n; ++i) {
            const float v = 0.5f * (interleaved[2 * i] + interleaved[2 * i + 1]);
            voice_[i] = (v > -kInputLimit && v < kInputLimit ? v : 0.0f) * micGain_;
        }
    } else {
        std::fill_n(voice_.begin(), n, 0.0f);
    }

    // 2-3. Equalizer bands and bass boost.
    const uint32_t eqRevision = st.eqRevision;
    if (eqRevision != eqRevisionSeen_) {
        eqRevisionSeen_ = eqRevision;
        s_.steps.reloadEq(st);
    }
    s_.steps.setBassBoost(micGain_);

    // 4-10. The voice chain; the isolation hears of key presses and clicks in
    // pass 1. Only the isolation listens, and each look at the input is a
    // round of system calls (under wine, of requests to its server), so
    // none is made while it is off; it starts again with a first look.
    if (pass == 1) {
        if (st.isolate)
            checkInputActivity();
        else
            inputCheck_ = {};
    }
    if (st.isolate)
        s_.steps.isolation(block);
    s_.steps.micTone(block);
    const bool masked = (st.mask_on & 1) != 0;
    s_.steps.voiceSpeed(block, masked ? st.voice_speed : 100, st.voice_keep_pitch != 0);
    if (masked)
        s_.steps.voiceChangerAndMask(block);
    if (pass == 1)
        pollGlitchKey();
    block.glitchHeld = s_.state.glitchButtonHeld.load() || glitchKeyHeld_;
    s_.steps.glitch(block, masked && block.glitchHeld);
    if (st.card_mic && !st.raw)
        s_.steps.cardMicVoicing(block);
    s_.steps.driveAndBass(block);

    // 11-12. Environment and the two voice outputs.
    s_.steps.environment(block);
    s_.steps.voiceOutput(block);

    // 13. The recorder hears the cable voice before pan and the other sources.
    for (RecorderRing* ring : {&s_.rings.take, &s_.rings.last}) {
        if (ring->armed.load(std::memory_order_acquire))
            ring->push(cableBus_.data(), 2 * n);
    }

    // 14-16. Pan, then the other sources into both outputs.
    s_.steps.voicePan(block);
    s_.steps.mixBuses(block);
    s_.steps.mixPreviews(block);

    // 17. Peak meter of the cable output.
    float peak = 0.0f;
    for (uint32_t i = 0; i < 2 * n; ++i)
        peak = std::max(peak, std::fabs(cableBus_[i]));
    const double scaled = std::min(static_cast<double>(peak) * 10000.0, 2147483647.0);
    blockPeak_ = static_cast<int32_t>(scaled);
    s_.reports.raiseOutputPeak(blockPeak_);
    // 18, writing the outputs, is the device session's.
}

} // namespace engine
