#include "engine/mask_stage.h"

#include "dsp/mask_table.h"
#include "dsp/stereo_glitch.h"

#include <algorithm>
#include <memory>

namespace engine {

namespace {
constexpr int32_t kLiveVoiceBit = 1;
constexpr int32_t kStreamBits[2] = {2, 4};

} // namespace

void MaskStage::prepare(double sampleRate, uint32_t maxFrames)
{
    sampleRate_ = sampleRate > 0.0 ? sampleRate : 48000.0;
    maxFrames_ = static_cast<int>(std::clamp<uint32_t>(maxFrames, 1, dsp::MaskChannel::kMaxChunk));
    for (auto& engine : engines_)
        engine.prepare(sampleRate_, true, maxFrames_);
    fadeLength_ = std::max(1, static_cast<int>(0.04 * sampleRate_));
    outgoing_.assign(static_cast<size_t>(maxFrames_), 0.0f);
    for (auto& stream : streams_) {
        if (!stream.processor.glitch())
            stream.processor.installGlitch(std::make_unique<dsp::StereoGlitch>());
        stream.processor.prepare(sampleRate_);
    }
    reset();
}

void MaskStage::reset() noexcept
{
    for (auto& engine : engines_)
        engine.reset();
    active_ = 0;
    fadePosition_ = -1;
    for (auto& stream : streams_) {
        stream.processor.reset();
        stream.running = false;
    }
}

void MaskStage::voiceMask(Block& block) noexcept
{
    if (!block.voice || !block.settings)
        return;
    const auto& s = *block.settings;
    const dsp::MaskRow* row = (s.mask_on & kLiveVoiceBit) ? dsp::findMask(s.voice_mask) : nullptr;
    const dsp::MaskKind kind = row ? row->kind : dsp::MaskKind::None;
    const double p1 = row ? row->p1 : 0.0;
    const double p2 = row ? row->p2 : 0.0;

    dsp::MaskChannel& current = engines_[active_];
    if (kind == current.kind()) {
        current.configure(kind, p1, p2);
    } else if (fadePosition_ < 0) {
        // A new kind starts on the idle engine and takes over over 40 ms; a
        // further change waits until this crossfade has finished.
        active_ = 1 - active_;
        engines_[active_].reset();
        engines_[active_].configure(kind, p1, p2);
        fadePosition_ = 0;
    }

    for (uint32_t done = 0; done < block.frames;) {
        const int n = static_cast<int>(std::min<uint32_t>(block.frames - done, static_cast<uint32_t>(maxFrames_)));
        runVoice(block.voice + done, n);
        done += static_cast<uint32_t>(n);
    }
}

void MaskStage::runVoice(float* samples, int frames) noexcept
{
    if (fadePosition_ < 0) {
        engines_[active_].process(samples, frames);
        return;
    }
    std::copy(samples, samples + frames, outgoing_.begin());
    engines_[1 - active_].process(outgoing_.data(), frames);
    engines_[active_].process(samples, frames);
    const float step = 1.0f / static_cast<float>(fadeLength_);
    for (int i = 0; i < frames; ++i) {
        const float w = fadePosition_ < fadeLength_ ? static_cast<float>(fadePosition_ + 1) * step : 1.0f;
        const float old = outgoing_[static_cast<size_t>(i)];
        samples[i] = old + (samples[i] - old) * w;
        if (fadePosition_ < fadeLength_)
            ++fadePosition_;
    }
    if (fadePosition_ >= fadeLength_) {
        fadePosition_ = -1;
        engines_[1 - active_].reset(); // idle until the next change
    }
}

void MaskStage::streamMask(
    MaskStream which, float* frames2, uint32_t frames, const settings::Snapshot& settings, bool glitchHeld) noexcept
{
    Stream& stream = streams_[static_cast<int>(which)];
    const bool on = (settings.mask_on & kStreamBits[static_cast<int>(which)]) != 0;
    const int n = static_cast<int>(frames);
    if (on && !stream.running) {
        // From a stopped processor only: one that is still fading out turns
        // back without the jump that restarting its fade would make.
        stream.processor.reset();
        stream.running = true;
    }
    if (!stream.running) {
        stream.processor.feedBypassInterleaved(frames2, n);
        return;
    }
    stream.processor.setPitchAndMask(settings.pitch_hz, settings.voice_ratio, settings.voice_mask);
    stream.processor.setGlitch(glitchHeld, settings.glitch_style);
    stream.processor.processInterleaved(frames2, n, on);
    if (!on && stream.processor.faded())
        stream.running = false;
}

} // namespace engine
