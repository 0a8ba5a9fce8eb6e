#include "engine/voice_stage.h"

#include <algorithm>
#include <cmath>

namespace engine {

namespace {
constexpr double kChangerFadeSeconds = 0.01;

int32_t roundedHz(double hz)
{
    return static_cast<int32_t>(std::lround(std::clamp(hz, 0.0, 100000.0)));
}
} // namespace

void VoiceStage::prepare(double sampleRate, uint32_t maxFrames)
{
    speed_.prepare(sampleRate);
    changer_.prepare(sampleRate);
    fade_.prepare(kChangerFadeSeconds, sampleRate);
    dry_.assign(std::max<uint32_t>(maxFrames, 1), 0.0f);
    reset();
}

void VoiceStage::reset() noexcept
{
    speed_.reset();
    changer_.reset();
    fade_.snap(false);
    running_ = false;
    stopping_ = false;
    neutralFrames_ = 0;
    speedLatencyMs_ = 0;
    publishPitch();
}

void VoiceStage::voiceSpeed(Block& block, int speedPercent, bool keepPitch) noexcept
{
    for (uint32_t done = 0; done < block.frames;) {
        const auto chunk = std::min<uint32_t>(block.frames - done, dsp::VoiceSpeed::kMaxChunk);
        speed_.process(block.voice + done, static_cast<int>(chunk), speedPercent, keepPitch);
        done += chunk;
    }
    speedLatencyMs_ = speed_.latencyMs();

    const bool masked = block.settings && (block.settings->mask_on & 1) != 0;
    if (running_ && !masked)
        runChanger(block.voice, block.frames, true);
}

void VoiceStage::voiceChanger(Block& block, const dsp::VoiceMaskValues& mask) noexcept
{
    if (!block.settings)
        return;
    const auto& s = *block.settings;
    changer_.setVoice(s.pitch_hz, s.voice_size, s.voice_ratio / 1000.0);
    changer_.setMaskValues(mask);
    const bool neutral = changer_.neutral();

    if (!running_) {
        if (neutral) {
            publishPitch();
            return; // idle: the voice passes undelayed
        }
        changer_.reset();
        running_ = true;
        fade_.snap(false);
    }
    if (!neutral) {
        neutralFrames_ = 0;
        stopping_ = false;
        fade_.setTarget(true);
    }
    runChanger(block.voice, block.frames, neutral && neutralFrames_ >= kRunOnFrames);
    if (neutral)
        neutralFrames_ += block.frames;
}

// Runs the changer on the voice in place, mixed with the dry voice by the
// fade; a wanted stop fades to the dry voice and then idles the changer.
void VoiceStage::runChanger(float* voice, uint32_t frames, bool stopWanted) noexcept
{
    if (stopWanted && !stopping_) {
        stopping_ = true;
        fade_.setTarget(false);
    }
    const auto capacity = static_cast<uint32_t>(dry_.size());
    for (uint32_t done = 0; done < frames && running_;) {
        const uint32_t chunk = std::min(frames - done, capacity);
        float* samples = voice + done;
        std::copy_n(samples, chunk, dry_.begin());
        changer_.process(samples, static_cast<int>(chunk));
        for (uint32_t i = 0; i < chunk; ++i)
            samples[i] = fade_.mix(dry_[i], samples[i]);
        done += chunk;
        if (stopping_ && fade_.settled()) {
            // Faded out: the rest of the block is the dry voice as it came in.
            running_ = false;
            stopping_ = false;
            neutralFrames_ = 0;
        }
    }
    publishPitch();
}

void VoiceStage::publishPitch() noexcept
{
    detectedPitchHz_ = running_ ? roundedHz(changer_.detectedHz()) : 0;
    targetPitchHz_ = running_ ? roundedHz(changer_.targetHz()) : 0;
}

} // namespace engine
