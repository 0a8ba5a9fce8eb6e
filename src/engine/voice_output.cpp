#include "engine/voice_output.h"

#include "dsp/gain.h"

namespace engine {

void VoiceOutput::prepare(double sampleRate, uint32_t maxFrames)
{
    bass_.prepare(sampleRate);
    eqMonitor_.prepare(sampleRate);
    eqCable_.prepare(sampleRate);
    for (auto* v : {&monL_, &monR_, &cabL_, &cabR_})
        v->assign(maxFrames, 0.0f);
}

void VoiceOutput::setBands(const settings::EqGains& gains, int level) noexcept
{
    eqMonitor_.setBandsAndLevel(gains, level);
    eqCable_.setBandsAndLevel(gains, level);
}

void VoiceOutput::driveAndBass(Block& block) noexcept
{
    drive_.update(block.settings->mic_level);
    for (uint32_t i = 0; i < block.frames; ++i) {
        float v = block.voice[i] * drive_.makeUp;
        float unused = 0.0f;
        bass_.process(v, unused);
        block.voice[i] = v;
    }
}

void VoiceOutput::process(Block& block, float dryTarget, const float* monWetL, const float* monWetR,
    const float* cabWetL, const float* cabWetR) noexcept
{
    const auto& st = *block.settings;
    const uint32_t n = block.frames;
    const float d = drive_.drive;
    const bool eq = st.eq_on != 0;
    const bool ambit = st.ambit != 0;

    for (uint32_t i = 0; i < n; ++i) {
        dryGain_ += kDryGainGlide * (dryTarget - dryGain_);
        const float dry = dryGain_ * block.voice[i];
        float ml = dry + monWetL[i];
        float mr = dry + monWetR[i];
        float cl = dry + cabWetL[i];
        float cr = dry + cabWetR[i];
        if (d > 0.0f) {
            ml = dsp::driveClip(ml, d);
            mr = dsp::driveClip(mr, d);
            cl = dsp::driveClip(cl, d);
            cr = dsp::driveClip(cr, d);
        }
        monL_[i] = ml;
        monR_[i] = mr;
        cabL_[i] = cl;
        cabR_[i] = cr;
    }
    // The equalizers over the whole run, which lets their bands work side by side.
    if (eq) {
        eqMonitor_.process(monL_.data(), monR_.data(), static_cast<int>(n));
        eqCable_.process(cabL_.data(), cabR_.data(), static_cast<int>(n));
    }
    for (uint32_t i = 0; i < n; ++i) {
        float ml = monL_[i];
        float mr = monR_[i];
        float cl = cabL_[i];
        float cr = cabR_[i];
        if (ambit) {
            eqMonitor_.processAmbit(ml, mr);
            eqCable_.processAmbit(cl, cr);
        }
        block.monitor[2 * i] = dsp::softClip(ml);
        block.monitor[2 * i + 1] = dsp::softClip(mr);
        block.cable[2 * i] = dsp::softClip(cl);
        block.cable[2 * i + 1] = dsp::softClip(cr);
    }
}

void VoiceOutput::pan(Block& block) noexcept
{
    const auto& st = *block.settings;
    const int32_t p = st.pan;
    if (p == 0)
        return;
    const Balance b = balance(p);
    auto apply = [&](float* out) {
        for (uint32_t i = 0; i < block.frames; ++i) {
            out[2 * i] *= b.left;
            out[2 * i + 1] *= b.right;
        }
    };
    if (st.pan_cable)
        apply(block.cable);
    if (st.pan_mon)
        apply(block.monitor);
}

} // namespace engine
