#include "console/offline_fx.h"

#include "dsp/denormals.h"
#include "dsp/gain.h"
#include "engine/effect_chain.h"
#include "engine/reverb_environments.h"
#include "platform/sample_rate.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <numbers>
#include <vector>

namespace console {

namespace {

constexpr uint32_t kBlockFrames = 480;
constexpr double kMaxTailSeconds = 8.0;
constexpr int kQuietBelow = 33;           // trailing frames quieter than this on both sides are dropped
constexpr int64_t kFadeOutFrames = 48000; // the end of a kept tail fades over at most this
constexpr int32_t kUnityLevel = 100;      // clip_level of gain 1

// The sound as the clip player would deliver it, forever active so the bus
// keeps running through the tail; silence after the end.
class SoundClip final : public engine::ClipSource {
public:
    explicit SoundClip(const clip::Sound& sound) : sound_(sound) { }
    bool active() const noexcept override { return true; }
    bool paused() const noexcept override { return false; }
    uint32_t clipGeneration() const noexcept override { return 1; }
    uint32_t read(float* left, float* right, uint32_t n) noexcept override
    {
        constexpr float kScale = 1.0f / 32768.0f;
        const uint32_t count = std::min<uint32_t>(n, sound_.frames() - at_);
        const int16_t* s = sound_.samples.data() + size_t{at_} * 2;
        for (uint32_t i = 0; i < count; ++i) {
            left[i] = s[2 * i] * kScale;
            right[i] = s[2 * i + 1] * kScale;
        }
        at_ += count;
        return count;
    }

private:
    const clip::Sound& sound_;
    uint32_t at_ = 0;
};

// The record the chain reads: the snapshot's effects on the clip bus alone,
// sent to the cable only, at unity level and the snapshot's own speed.
settings::Snapshot clipOnlySettings(const recorder::EffectSnapshot& s)
{
    settings::Snapshot st = s.settings;
    st.preset = s.preset;
    st.amount = s.amount;
    st.effects = s.echoOnClip ? 1 : 0;
    st.echo_on = s.echoOnClip ? 2 : 0;
    st.mask_on = s.maskOnClip ? 2 : 0;
    st.pitch_hz = s.pitchHz;
    st.voice_ratio = s.voiceRatio;
    st.voice_mask = s.voiceMask;
    st.clip_speed = s.speed;
    st.clip_follow_voice = 0;
    st.clip_keep_pitch = s.keepPitch ? 1 : 0;
    st.eq_on = s.eqOn ? 1 : 0;
    st.eq_level = s.eqLevel;
    st.ambit = s.ambit ? 1 : 0;
    std::copy(s.eqBands.begin(), s.eqBands.end(), st.eq_bands.begin());
    st.clip_level = kUnityLevel;
    st.clip_mic = 1;
    st.clip_hear = 0;
    st.monitor = 0;
    st.wide = 0;
    st.app_only = 0;
    st.app_hear = 0;
    return st;
}

} // namespace

OfflineFxLength offlineFxLength(int64_t inputFrames, const recorder::EffectSnapshot& snapshot, double decaySeconds)
{
    OfflineFxLength length;
    const int64_t speed = std::clamp(snapshot.speed, 25, 400);
    length.content = speed == 100 ? inputFrames : (inputFrames * 100 + speed - 1) / speed;
    if (snapshot.echoOnClip && snapshot.amount >= 1) {
        const double seconds = std::isfinite(decaySeconds) ? std::clamp(decaySeconds, 0.0, kMaxTailSeconds) : 0.0;
        length.tail = std::llround(seconds * platform::kSampleRate);
    }
    return length;
}

clip::SoundRef renderOfflineFx(const clip::Sound& input, const recorder::EffectSnapshot& snapshot,
    std::atomic<int32_t>& progress, const ResponseSource& response)
{
    const dsp::ScopedFlushDenormals flush;
    try {
        const settings::Snapshot st = clipOnlySettings(snapshot);
        engine::ReverbEnvironments environments(snapshot.irLoaded ? response.files : nullptr, response.folder);
        const settings::Settings unused; // the chain reads the block's snapshot, never the record
        engine::EffectChain chain(environments, unused);
        SoundClip source(input);
        chain.setSources({&source, nullptr, nullptr, nullptr, nullptr});
        if (snapshot.irLoaded)
            chain.loadImpulseResponse();
        chain.prepare(platform::kSampleRate, kBlockFrames, snapshot.preset);
        chain.reloadEq(st);
        chain.setBassBoost(snapshot.eqOn ? static_cast<float>(dsp::levelGain(st.mic_level)) : 1.0f);

        const OfflineFxLength length = offlineFxLength(input.frames(), snapshot, chain.clipDecaySeconds());
        const int64_t total = length.content + length.tail;
        auto out = std::make_shared<clip::Sound>();
        out->samples.resize(static_cast<size_t>(total) * 2);

        std::vector<float> voice(kBlockFrames, 0.0f), wetCable(kBlockFrames), wetMonitor(kBlockFrames);
        std::vector<float> cable(size_t{kBlockFrames} * 2), monitor(size_t{kBlockFrames} * 2);
        engine::Block block;
        block.settings = &st;
        block.voice = voice.data();
        block.wetCable = wetCable.data();
        block.wetMonitor = wetMonitor.data();
        block.cable = cable.data();
        block.monitor = monitor.data();
        for (int64_t done = 0; done < total;) {
            const uint32_t n = static_cast<uint32_t>(std::min<int64_t>(kBlockFrames, total - done));
            block.frames = n;
            std::fill(cable.begin(), cable.end(), 0.0f);
            std::fill(monitor.begin(), monitor.end(), 0.0f);
            chain.mixBuses(block);
            int16_t* to = out->samples.data() + done * 2;
            for (uint32_t i = 0; i < n * 2; ++i)
                to[i] = clip::storedSample(cable[i]); // the chain soft-clipped it
            done += n;
            progress.store(static_cast<int32_t>(done * 1000 / total), std::memory_order_relaxed);
        }

        // A tail that fell quiet ends there; one still ringing fades out.
        std::vector<int16_t>& s = out->samples;
        int64_t end = total;
        while (end > length.content && std::abs(s[end * 2 - 2]) < kQuietBelow && std::abs(s[end * 2 - 1]) < kQuietBelow)
            --end;
        if (end < total) {
            s.resize(static_cast<size_t>(end) * 2);
        } else if (length.tail > 0) {
            const int64_t fadeStart = std::max(length.content, total - kFadeOutFrames);
            const double span = static_cast<double>(total - fadeStart);
            for (int64_t i = fadeStart; i < total; ++i) {
                const double gain = std::sin(std::numbers::pi / 2 * static_cast<double>(total - i) / span);
                for (int c = 0; c < 2; ++c)
                    s[i * 2 + c] = static_cast<int16_t>(std::lround(s[i * 2 + c] * gain));
            }
        }
        return out;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

recorder::FxRenderer offlineFxRenderer(ResponseSource response)
{
    return [response = std::move(response)](const clip::Sound& input, const recorder::EffectSnapshot& snapshot,
               std::atomic<int32_t>& progress) { return renderOfflineFx(input, snapshot, progress, response); };
}

} // namespace console
