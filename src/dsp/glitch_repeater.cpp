#include "dsp/glitch_repeater.h"

#include "dsp/crossfade.h"

#include <algorithm>
#include <cmath>

namespace dsp {

namespace {

constexpr double kTwoPi = 6.283185307179586;

float finiteOr0(float x)
{
    return std::isfinite(x) ? x : 0.0f;
}

} // namespace

void GlitchRepeater::prepare(double sampleRate, int channels)
{
    fs_ = sampleRate > 0.0 ? sampleRate : 48000.0;
    channels_ = std::clamp(channels, 1, kMaxChannels);
    const auto len = [this](double seconds) { return static_cast<size_t>(std::ceil(seconds * fs_)); };

    crossfade_ = std::max<int64_t>(1, frames(0.005, fs_));
    loopFade_ = std::max<int64_t>(1, frames(0.0015, fs_));
    minLoop_ = std::max<int64_t>(16, frames(0.025, fs_));
    rampFrames_ = std::max<int64_t>(1, frames(0.006, fs_));
    rampStep_ = 1.0f / static_cast<float>(rampFrames_);
    echoDelay_ = std::max<int64_t>(1, frames(0.3, fs_));
    combDelay_ = std::max<int64_t>(1, frames(0.006, fs_));
    grainLength_ = std::max<int64_t>(4, static_cast<int64_t>(0.08 * fs_) & ~int64_t{1});
    capMax_ = static_cast<int64_t>(len(1.0));
    onsetGap_ = frames(0.08, fs_);
    syllableGap_ = frames(0.1, fs_);
    onsetLead_ = frames(0.003, fs_);
    recaptureDelay_ = frames(0.16, fs_);

    for (int ch = 0; ch < kMaxChannels; ++ch) {
        const bool used = ch < channels_;
        history_[ch].prepare(used ? len(2.5) : 1);
        long_[ch].prepare(used ? len(4.0) : 1);
        echo_[ch].prepare(used ? len(0.5) : 1);
        comb_[ch].prepare(used ? len(0.006) + 4 : 1);
        const size_t capacity = used ? static_cast<size_t>(capMax_ + loopFade_ + crossfade_ + 8) : 1;
        cap_[ch].assign(capacity, 0.0f);
        next_[ch].assign(capacity, 0.0f);
    }
    mono_.prepare(len(2.5));
    grainWindow_.assign(static_cast<size_t>(grainLength_), 0.0f);
    fillGrainWindow(grainWindow_.data(), grainWindow_.size());

    fast_.prepare(0.0005, 0.03, fs_);
    medium_.prepare(0.005, 0.12, fs_);
    slow_.prepare(0.02, 0.3, fs_);
    minimumRise_ = std::pow(10.0, 0.05 / fs_);
    echoLowPass_ = 1.0 - std::exp(-kTwoPi * 2500.0 / fs_);
    reset();
}

void GlitchRepeater::reset() noexcept
{
    for (int ch = 0; ch < kMaxChannels; ++ch) {
        history_[ch].reset();
        long_[ch].reset();
        echo_[ch].reset();
        comb_[ch].reset();
        std::fill(cap_[ch].begin(), cap_[ch].end(), 0.0f);
        std::fill(next_[ch].begin(), next_[ch].end(), 0.0f);
    }
    mono_.reset();
    now_ = 0;
    capLen_ = 0;
    fast_.reset();
    medium_.reset();
    slow_.reset();
    minimum_ = 0.0;
    onsets_.fill(0);
    onsetCount_ = 0;
    onsetNext_ = 0;
    quiet_ = true;
    lastOnset_ = -1000000;
    held_ = false;
    running_ = style_;
    tail_ = 0;
    tailLength_ = 1;
    sincePress_ = 0;
    ramp_ = 0.0f;
    lastG_.fill(0.0f);
    restartFrom_.fill(0.0f);
    restart_ = 0;
    repeat_ = {};
    beep_ = {};
    stutter_ = {};
    reverse_ = {};
    playhead_ = {};
    crush_ = {};
    grain_ = {};
    echoState_.fill(0.0);
    echoIdle_ = 0;
}

void GlitchRepeater::setHeld(bool on) noexcept
{
    if (on && !held_) {
        held_ = true;
        start();
    }
    held_ = on;
}

// Word onsets come from the fast follower: a rise above four times the noise
// floor after it had fallen back near the floor (a word after a pause), or,
// in connected speech, a jump to 2.5 times the slow follower at least 0.1 s
// after the previous onset (a new syllable's attack). Each onset is stored a
// few milliseconds early so that a capture from it keeps the attack.
void GlitchRepeater::record(float mono) noexcept
{
    mono_.write(mono);
    const double a = std::fabs(mono);
    const double f = fast_.process(a);
    medium_.process(a);
    const double s = slow_.process(a);
    minimum_ = std::min(s, std::max(minimum_ * minimumRise_, 1e-6));

    const double high = std::max(4.0 * minimum_, 0.005);
    const double low = std::max(2.0 * minimum_, 0.0025);
    if (f < low)
        quiet_ = true;
    const int64_t since = now_ - lastOnset_;
    bool onset = false;
    if (f > high && since >= onsetGap_)
        onset = quiet_ || (f > 2.5 * s && since >= syllableGap_);
    if (onset) {
        quiet_ = false;
        lastOnset_ = now_;
        const int64_t at = now_ - onsetLead_;
        onsets_[static_cast<size_t>(onsetNext_)] = at;
        onsetNext_ = (onsetNext_ + 1) % static_cast<int>(onsets_.size());
        onsetCount_ = std::min(onsetCount_ + 1, static_cast<int>(onsets_.size()));
        // Repeat re-arms on a new word: its loop is captured 0.16 s after the
        // word shows here, from the (early) onset on.
        if (held_ && running_ == kGlitchRepeat && repeat_.recaptureAt < 0 && repeat_.takeover == 0) {
            repeat_.recaptureOnset = at;
            repeat_.recaptureAt = now_ + recaptureDelay_;
        }
    }
    ++now_;
}

int64_t GlitchRepeater::onsetOffset(int64_t minAge, int64_t maxAge) const noexcept
{
    const int n = static_cast<int>(onsets_.size());
    for (int k = 1; k <= onsetCount_; ++k) {
        const int64_t age = now_ - onsets_[static_cast<size_t>((onsetNext_ - k + n) % n)];
        if (age > maxAge)
            break;
        if (age >= minAge)
            return age;
    }
    return 0;
}

int64_t GlitchRepeater::capture(
    std::array<std::vector<float>, kMaxChannels>& dest, int64_t length, int64_t endAge) noexcept
{
    const int64_t end = now_ - std::max<int64_t>(0, endAge);
    const int64_t earliest = std::max<int64_t>(0, now_ - static_cast<int64_t>(history_[0].length()) + 1);
    const int64_t begin = std::max(end - std::min(length, capMax_), earliest);
    const int64_t n = std::max<int64_t>(0, end - begin);
    for (int ch = 0; ch < channels_; ++ch) {
        for (int64_t i = 0; i < n; ++i)
            dest[ch][static_cast<size_t>(i)] = history_[ch].at(begin + i);
    }
    return n;
}

void GlitchRepeater::start() noexcept
{
    running_ = style_;
    sincePress_ = 0;
    // A press while the previous effect still sounds: fade its last output out.
    restart_ = ramp_ > 0.0f ? rampFrames_ : 0;
    restartFrom_ = lastG_;
    tailLength_ = 0;
    startStyle();
    if (!kGlitchStyleEnds[static_cast<size_t>(running_)] && running_ != kGlitchRepeat)
        tailLength_ = frames(0.3, fs_);
    tailLength_ = std::max<int64_t>(1, tailLength_);
    tail_ = tailLength_;
}

void GlitchRepeater::generate(float* g, int channels) noexcept
{
    const bool ending = kGlitchStyleEnds[static_cast<size_t>(running_)];
    const double a = static_cast<double>(sincePress_);
    const double progress = std::min(1.0, a / static_cast<double>(tailLength_));
    for (int ch = 0; ch < channels; ++ch)
        g[ch] = 0.0f;

    styleSample(g, channels, a, progress);

    if (ending) {
        float level = tail_ > 0 ? endingLevel(progress) : 0.0f;
        if (tail_ > 0 && tail_ <= crossfade_)
            level *= static_cast<float>(tail_) / static_cast<float>(crossfade_);
        for (int ch = 0; ch < channels; ++ch)
            g[ch] *= level;
    }
    if (restart_ > 0) {
        const float w = static_cast<float>(restart_) / static_cast<float>(rampFrames_ + 1);
        for (int ch = 0; ch < channels; ++ch)
            g[ch] = g[ch] * (1.0f - w) + restartFrom_[ch] * w;
        --restart_;
    }
    for (int ch = 0; ch < channels; ++ch)
        lastG_[ch] = g[ch];
}

void GlitchRepeater::process(float* left, float* right, int count) noexcept
{
    const int channels = right != nullptr && channels_ == 2 ? 2 : 1;
    for (int i = 0; i < count; ++i) {
        float dry[kMaxChannels];
        dry[0] = finiteOr0(left[i]);
        dry[1] = channels == 2 ? finiteOr0(right[i]) : dry[0];
        for (int ch = 0; ch < channels; ++ch) {
            history_[ch].write(dry[ch]);
            long_[ch].write(dry[ch]);
        }
        record(channels == 2 ? 0.5f * (dry[0] + dry[1]) : dry[0]);
        if (running_ == kGlitchReverse && (held_ || tail_ > 0))
            trackPhrases();

        const bool on = held_ || tail_ > 0;
        ramp_ = on ? std::min(1.0f, ramp_ + rampStep_) : std::max(0.0f, ramp_ - rampStep_);
        float g[kMaxChannels] = {dry[0], dry[1]};
        if (on || ramp_ > 0.0f) {
            generate(g, channels);
            if (tail_ > 0)
                --tail_;
            ++sincePress_;
        }

        float e[kMaxChannels] = {0.0f, 0.0f};
        if (echoIdle_ > 0) {
            for (int ch = 0; ch < channels; ++ch) {
                DelayRing<float>& line = echo_[ch];
                const double raw = line.at(line.writeCounter() - echoDelay_);
                echoState_[ch] += echoLowPass_ * (raw - echoState_[ch]);
                e[ch] = static_cast<float>(echoState_[ch]);
                line.write(static_cast<float>(0.55 * echoState_[ch]));
            }
            if (--echoIdle_ == 0) {
                for (int ch = 0; ch < channels_; ++ch) {
                    echo_[ch].reset();
                    echoState_[ch] = 0.0;
                }
            }
        }
        for (int ch = 0; ch < channels; ++ch) {
            const float out = dry[ch] + (g[ch] - dry[ch]) * ramp_ + 0.8f * e[ch];
            (ch == 0 ? left : right)[i] = out;
        }
    }
}

} // namespace dsp
