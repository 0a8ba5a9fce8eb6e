#include "engine/cleanup_stage.h"

#include <algorithm>
#include <cmath>

namespace engine {

void CleanupStage::prepare(double sampleRate, uint32_t maxFrames)
{
    sampleRate_ = sampleRate;
    suppressor_.prepare(sampleRate);
    expander_.prepare(sampleRate);
    tone_.prepare(sampleRate);
    cardMic_.prepare(sampleRate);
    scratch_.assign(std::max<uint32_t>(maxFrames, 1), 0.0f);
    reset();
}

void CleanupStage::reset() noexcept
{
    suppressor_.reset();
    expander_.reset();
    tone_.reset();
    cardMic_.reset();
    path_ = Path::None;
    ranThisBlock_ = false;
    isolationLoaded_ = false;
    toneLoaded_ = false;
    micGainSeen_ = 0.0f;
    activityPending_ = false;
    blocks_ = 0;
    cardMicBlock_ = 0;
}

void CleanupStage::followMicGain(float micGain) noexcept
{
    if (micGain == micGainSeen_)
        return;
    // A step from or to silence says nothing about levels; just remember it.
    if (micGainSeen_ > 0.0f && micGain > 0.0f) {
        const double db = 20.0 * std::log10(static_cast<double>(micGain) / micGainSeen_);
        suppressor_.shiftLevel(db);
        expander_.shiftLevel(db);
    }
    micGainSeen_ = micGain;
}

void CleanupStage::reloadIsolation(const settings::Snapshot& s) noexcept
{
    const uint32_t revision = s.isolationRevision;
    if (isolationLoaded_ && revision == isolationSeen_)
        return;
    isolationLoaded_ = true;
    isolationSeen_ = revision;
    const int mode = dsp::isolationModeOf(s.iso_mode);
    suppressor_.setParameters(dsp::mapIsolation(std::min(mode, 3), s.iso_level, sampleRate_));
    expander_.set(dsp::expanderRecordFrom(s.vocal_level, s.gate_lo, s.gate_mid, s.gate_hi, s.gate_out));
}

void CleanupStage::runPath(Path path, float* samples, int frames) noexcept
{
    if (path == Path::Spectral)
        suppressor_.process(samples, frames);
    else if (path == Path::Vocal)
        expander_.process(samples, frames);
}

void CleanupStage::crossfadePaths(Path from, Path to, float* voice, int frames) noexcept
{
    const int n = std::min<int>(frames, static_cast<int>(scratch_.size()));
    std::copy_n(voice, n, scratch_.begin());
    runPath(from, scratch_.data(), n);
    runPath(to, voice, frames);
    for (int i = 0; i < n; ++i) {
        const double s = std::sin((i + 0.5) * (0.5 * dsp::kPi) / n);
        const float w = static_cast<float>(s * s);
        voice[i] = scratch_[static_cast<size_t>(i)] + (voice[i] - scratch_[static_cast<size_t>(i)]) * w;
    }
}

void CleanupStage::isolation(Block& block) noexcept
{
    if (!block.settings || !block.voice)
        return;
    const auto& s = *block.settings;
    followMicGain(block.micGain);
    reloadIsolation(s);
    const Path path = dsp::isolationModeOf(s.iso_mode) == dsp::kIsolationVocalMode ? Path::Vocal : Path::Spectral;
    if (path == Path::Spectral && activityPending_) {
        suppressor_.noteInputActivity();
        activityPending_ = false;
    }
    const int frames = static_cast<int>(block.frames);
    if (path != path_) {
        // Becoming active (or changing between the two paths) starts the new
        // one from a clean state and crossfades into it.
        if (path == Path::Spectral)
            suppressor_.reset();
        else
            expander_.reset();
        crossfadePaths(path_, path, block.voice, frames);
    } else {
        runPath(path, block.voice, frames);
    }
    path_ = path;
    ranThisBlock_ = true;
}

void CleanupStage::micTone(Block& block) noexcept
{
    ++blocks_;
    if (!block.settings || !block.voice)
        return;
    const auto& s = *block.settings;
    followMicGain(block.micGain);
    const int frames = static_cast<int>(block.frames);

    // Isolation was switched off: fade from its output to the dry voice.
    if (!ranThisBlock_ && path_ != Path::None) {
        crossfadePaths(path_, Path::None, block.voice, frames);
        path_ = Path::None;
    }
    ranThisBlock_ = false;
    activityPending_ = false;

    const uint32_t revision = s.toneRevision;
    if (!toneLoaded_ || revision != toneSeen_) {
        toneLoaded_ = true;
        toneSeen_ = revision;
        if (s.tone_on)
            tone_.setTargets(s.tone_lo / 10.0, s.tone_mid / 10.0, s.tone_hi / 10.0);
        else
            tone_.setTargets(0.0, 0.0, 0.0);
    }
    tone_.process(block.voice, frames);
}

void CleanupStage::cardMicVoicing(Block& block) noexcept
{
    if (!block.voice)
        return;
    // Not called last block: the voicing was off, so it fades in from the dry voice.
    if (cardMicBlock_ != blocks_) {
        cardMic_.reset();
        cardMic_.enable(true);
    }
    cardMicBlock_ = blocks_ + 1;
    cardMic_.process(block.voice, static_cast<int>(block.frames));
}

} // namespace engine
