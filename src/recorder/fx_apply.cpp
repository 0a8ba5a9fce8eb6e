#include "recorder/fx_apply.h"

#include "dsp/gain.h"
#include "dsp/mask_table.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace recorder {

namespace {

constexpr int kMinSpeed = 25;
constexpr int kMaxSpeed = 400;
constexpr int kPresetCount = 15;

bool bit(int32_t value, int b)
{
    return ((value >> b) & 1) != 0;
}

bool maskNeutral(const EffectSnapshot& s)
{
    const double pitch = s.voiceRatio / 1000.0 * (s.pitchHz + 300.0) / 300.0;
    return std::fabs(pitch - 1.0) < 0.0001 && !dsp::maskHasExtraEffect(s.voiceMask);
}

} // namespace

EffectSnapshot takeEffectSnapshot(const settings::Snapshot& st, bool irLoaded)
{
    EffectSnapshot s;
    s.settings = st;
    s.preset = std::clamp<int32_t>(st.preset, 0, kPresetCount - 1);
    s.amount = st.amount;
    s.echoOnClip = st.effects && st.amount > 0 && bit(st.echo_on, 1);
    s.maskOnClip = bit(st.mask_on, 1);
    s.pitchHz = st.pitch_hz;
    s.voiceRatio = st.voice_ratio;
    s.voiceMask = st.voice_mask;
    // The clip follows the voice's speed when its own mask is on, or when told
    // to while the voice's is.
    const bool follows = bit(st.mask_on, 1) || (st.clip_follow_voice && bit(st.mask_on, 0));
    const int64_t c = follows ? st.voice_speed : 100;
    s.speed = static_cast<int32_t>(std::clamp<int64_t>(c * st.clip_speed / 100, kMinSpeed, kMaxSpeed));
    s.keepPitch = st.clip_keep_pitch != 0 && !(bit(st.mask_on, 1) && c != 100 && !st.voice_keep_pitch);
    s.irLoaded = irLoaded;
    s.eqOn = st.eq_on != 0;
    s.eqLevel = st.eq_level;
    s.ambit = st.ambit != 0;
    const double db = st.mic_level >= 1 ? 0.5 * 20.0 * std::log10(dsp::levelGain(st.mic_level)) : 0.0;
    s.bassBoostDb = db > 0.0 ? db : 0.0;
    std::copy(st.eq_bands.begin(), st.eq_bands.end(), s.eqBands.begin());
    return s;
}

bool snapshotChangesSound(const EffectSnapshot& s)
{
    const bool eqFlat = !s.eqOn
        || (s.eqLevel == 0 && std::all_of(s.eqBands.begin(), s.eqBands.end(), [](int32_t g) { return g == 0; }));
    const bool unchanged = !s.echoOnClip && (!s.maskOnClip || maskNeutral(s)) && s.speed == 100 && eqFlat && !s.ambit;
    return !unchanged;
}

clip::SoundRef EditorFxTake::renderUnfaded() const
{
    return editor_.render(0, editor_.length(), false);
}

FxApply::FxApply(TakeEditor& editor, BusyFlags& flags, StatusSink status)
    : ownTake_(std::make_unique<EditorFxTake>(editor)), take_(*ownTake_), flags_(flags), status_(std::move(status))
{ }

FxApply::FxApply(FxTake& take, BusyFlags& flags, StatusSink status)
    : take_(take), flags_(flags), status_(std::move(status))
{ }

std::shared_ptr<TakeFxJob> FxApply::start(const EffectSnapshot& snapshot)
{
    if (flags_.busy() || job_ || !take_.hasTake())
        return nullptr;
    if (!snapshotChangesSound(snapshot)) {
        status_(L"Enable Effects, Equalizer, or Voice Mask on Sound Clip first");
        return nullptr;
    }
    take_.stopPlayback();
    const clip::SoundRef& source = take_.source();
    const std::vector<Range>& segments = take_.segments();
    // The take is the last result, untouched: start again from what it was made of.
    const bool applyToOriginal = fxResult_ && fxOriginal_ && take_.takeCounter() == fxTakeCounter_
        && source == fxResult_ && segments.size() == 1 && segments.front() == Range{0, source->frames()};
    clip::SoundRef input;
    try {
        input = applyToOriginal ? fxOriginal_ : take_.renderUnfaded();
    } catch (const std::bad_alloc&) {
        input = nullptr;
    }
    if (!input) {
        status_(L"Not enough memory to render FX");
        return nullptr;
    }
    const int32_t speed = std::clamp(snapshot.speed, kMinSpeed, kMaxSpeed);
    if (int64_t{input->frames()} * 100 / speed > kFxMaxOutputFrames) {
        status_(L"Clip with speed exceeds " + std::to_wstring(kFxMaxOutputFrames / (48000 * 60)) + L" mins");
        return nullptr;
    }
    auto job = std::make_shared<TakeFxJob>();
    job->takeCounter = take_.takeCounter();
    job->applyToOriginal = applyToOriginal;
    job->input = std::move(input);
    job_ = job;
    flags_.saving = true;
    status_(L"Applying Ovix / EQ / Voice FX...");
    return job;
}

bool FxApply::poll()
{
    if (!job_ || !job_->done.load(std::memory_order_acquire))
        return false;
    const std::shared_ptr<TakeFxJob> job = std::move(job_);
    job_.reset();
    flags_.saving = false;
    if (job->takeCounter != take_.takeCounter() || !job->result || job->result->frames() == 0) {
        status_(L"Could not apply effects");
        return false;
    }
    fxOriginal_ = job->input;
    fxResult_ = job->result;
    fxTakeCounter_ = job->takeCounter;
    take_.replaceSound(job->result, job->applyToOriginal);
    status_(L"Applied Ovix effects cleanly");
    return true;
}

void runFxJob(TakeFxJob& job, const EffectSnapshot& snapshot, const FxRenderer& renderer)
{
    clip::SoundRef result;
    if (renderer && job.input) {
        try {
            result = renderer(*job.input, snapshot, job.progress);
        } catch (const std::bad_alloc&) {
            result = nullptr;
        }
    }
    job.result = std::move(result);
    job.done.store(1, std::memory_order_release);
}

} // namespace recorder
