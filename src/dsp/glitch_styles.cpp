#include "dsp/glitch_repeater.h"

// The thirteen styles: what each captures at a press and plays while it runs,
// each on its own state (glitch_styles.h). The press, the ramp, the tail and the echo line around them are the
// repeater's shell (glitch_repeater.cpp).

#include <algorithm>
#include <cmath>
#include <utility>

namespace dsp {

namespace {

constexpr double kTwoPi = 6.283185307179586;

float readInterpolated(const std::vector<float>& buf, double pos, int64_t length)
{
    // Linear read within [0, length − 1].
    if (length < 2)
        return 0.0f;
    pos = std::clamp(pos, 0.0, static_cast<double>(length - 2));
    const auto i = static_cast<size_t>(pos);
    const double f = pos - static_cast<double>(i);
    return static_cast<float>(interpolateLinear(buf[i], buf[i + 1], f));
}

} // namespace

float glitch::Loop::read(const float* buf) const noexcept
{
    if (len <= 0)
        return 0.0f;
    if (passes > 0 && pos < fade) {
        const float w = static_cast<float>(pos + 1) / static_cast<float>(fade + 1);
        return buf[pos] * w + buf[prevLen + pos] * (1.0f - w);
    }
    return buf[pos];
}

bool glitch::Loop::advance() noexcept
{
    if (len <= 0)
        return false;
    if (++pos < len)
        return false;
    pos = 0;
    prevLen = len;
    ++passes;
    return true;
}
namespace {

// A loop over `captured` frames: the last `fade` frames are kept as the
// continuation that each new pass fades in from. Too short: silent.
template <class L> L makeLoop(int64_t captured, int64_t fade)
{
    L loop;
    if (captured > fade + 8) {
        loop.len = captured - fade;
        loop.fade = fade;
    } else if (captured > 8) {
        loop.len = captured;
        loop.fade = 0;
    } else {
        loop.len = 0;
    }
    return loop;
}

} // namespace

// The latched style's own set-up at a press: what it captures, its loop,
// playhead, queue or grains, and the fixed length of a closing style.
void GlitchRepeater::startStyle() noexcept
{
    const int64_t c = onsetOffset(0, capMax_);
    capLen_ = 0;

    switch (running_) {
    case kGlitchRepeat: {
        repeat_.takeover = 0;
        repeat_.recaptureAt = -1;
        // The current word from its onset (at least 0.12 s of it), or the last quarter second.
        const int64_t age = onsetOffset(frames(0.12, fs_), capMax_);
        capLen_ = capture(cap_, age > 0 ? age : frames(0.25, fs_), 0);
        repeat_.loop = makeLoop<Loop>(capLen_, crossfade_);
        break;
    }
    case kGlitchBeep:
        beep_.level = std::min(0.3, std::max(0.05, 0.8 * medium_.y));
        beep_.phase = 0.0;
        break;
    case kGlitchStutter: {
        const int64_t length = frames(0.12, fs_);
        const int64_t from = bestStutterStart(c, length);
        capLen_ = capture(cap_, length + loopFade_, now_ - (from + length + loopFade_));
        stutter_.loop = makeLoop<Loop>(capLen_, loopFade_);
        break;
    }
    case kGlitchReverse:
        reverse_.queueSize = 0;
        reverse_.playPos = -1;
        queueStretch(now_ - frames(0.6, fs_) - c, now_ - c);
        reverse_.phraseOpen = slow_.y > std::max(2.0 * minimum_, 0.004);
        reverse_.phraseStart = c > 0 ? now_ - c : now_ - frames(0.02, fs_);
        reverse_.pause = 0;
        break;
    case kGlitchTapeStop:
    case kGlitchRobot: {
        const int64_t earliest = std::max<int64_t>(0, now_ - static_cast<int64_t>(history_[0].length()) + 2);
        playhead_.readPos = static_cast<double>(std::max(now_ - frames(0.12, fs_) - c, earliest));
        for (auto& comb : comb_)
            comb.reset();
        playhead_.robotPhase = 0.0;
        tailLength_ = frames(running_ == kGlitchTapeStop ? 0.8 : 0.9, fs_);
        break;
    }
    case kGlitchScratch:
        capLen_ = capture(cap_, frames(0.6, fs_), 0);
        break;
    case kGlitchCrush:
        capLen_ = capture(cap_, frames(0.16, fs_), 0);
        crush_.loop = makeLoop<Loop>(capLen_, loopFade_);
        crush_.count = 0;
        if (capLen_ > 2 * loopFade_ + 8)
            tailLength_ = frames(0.7, fs_);
        break;
    case kGlitchChipmunk:
        capLen_ = capture(cap_, frames(0.8, fs_), 0);
        if (capLen_ > 8)
            tailLength_ = capLen_ * 2 * 10 / 39;
        break;
    case kGlitchDeep:
        capLen_ = capture(cap_, frames(0.5, fs_), 0);
        if (capLen_ > 8)
            tailLength_ = capLen_ * 100 / 55;
        break;
    case kGlitchEcho: {
        // The last 0.3 s go into the slots the line reads over the next 0.3 s,
        // faded in and out over 5 ms so that neither end clicks.
        const int64_t n = echoDelay_;
        for (int ch = 0; ch < channels_; ++ch) {
            const int64_t slot = echo_[ch].writeCounter() - n;
            for (int64_t j = 0; j < n; ++j) {
                const double w
                    = std::min(1.0, static_cast<double>(std::min(j, n - j - 1)) / static_cast<double>(crossfade_));
                echo_[ch].at(slot + j) += static_cast<float>(w * history_[ch].at(now_ - n + j));
            }
        }
        echoIdle_ = frames(10.0, fs_);
        tailLength_ = frames(1.5, fs_);
        break;
    }
    case kGlitchCut:
        break;
    case kGlitchGlitch: {
        grain_.ready = false;
        capLen_ = capture(cap_, capMax_, 0);
        if (capLen_ - grainLength_ - 2 > frames(0.04, fs_) + 2) {
            grain_.lo = static_cast<double>(frames(0.02, fs_));
            grain_.hi = static_cast<double>(capLen_ - frames(0.3, fs_));
            if (grain_.hi < grain_.lo) {
                grain_.lo = 0.0;
                grain_.hi = static_cast<double>(std::max<int64_t>(0, capLen_ - 2 * grainLength_ - 2));
            }
            grain_.grains = {};
            grain_.last = {};
            startGrain(grain_.grains[0]);
            grain_.clock = 0;
            grain_.ready = true;
        }
        break;
    }
    default:
        break;
    }
}
// The stutter loop should start on the word's attack and join cleanly: the
// candidates lie from 20 ms before to 30 ms after the onset, in 2.5 ms steps,
// and the one whose first 10 ms best match (normalised correlation) the 10 ms
// that follow its loop end wins, so each pass runs into the next like the
// word going on.
int64_t GlitchRepeater::bestStutterStart(int64_t c, int64_t loopLength) const noexcept
{
    const int64_t window = std::max<int64_t>(8, frames(0.01, fs_));
    const int64_t latest = now_ - loopLength - loopFade_ - window;
    const int64_t earliest = std::max<int64_t>(0, now_ - static_cast<int64_t>(mono_.length()) + 1);
    if (latest <= earliest)
        return std::max(earliest, latest);
    const int64_t centre = c > 0 ? now_ - c : latest - frames(0.03, fs_);
    int64_t hi = std::min(centre + frames(0.03, fs_), latest);
    int64_t lo = std::max(std::min(centre - frames(0.02, fs_), hi - frames(0.05, fs_)), earliest);
    hi = std::max(hi, lo);
    const int64_t step = std::max<int64_t>(1, frames(0.0025, fs_));
    int64_t best = hi;
    double bestScore = -2.0;
    for (int64_t s = lo; s <= hi; s += step) {
        double xy = 0.0, xx = 0.0, yy = 0.0;
        for (int64_t i = 0; i < window; ++i) {
            const double x = mono_.at(s + i);
            const double y = mono_.at(s + loopLength + i);
            xy += x * y;
            xx += x * x;
            yy += y * y;
        }
        const double score = xy / std::sqrt(xx * yy + 1e-18);
        if (score > bestScore) {
            bestScore = score;
            best = s;
        }
    }
    return best;
}

float GlitchRepeater::endingLevel(double progress) const noexcept
{
    switch (running_) {
    case kGlitchCrush:
        return static_cast<float>(std::min(1.0, 3.0 * (1.0 - progress)));
    case kGlitchDeep:
        return static_cast<float>(std::min(1.0, (1.0 - progress) / 0.4));
    default:
        return 1.0f;
    }
}
void GlitchRepeater::queueStretch(int64_t begin, int64_t end) noexcept
{
    begin = std::max<int64_t>(begin, 0);
    if (end - begin < 2 * crossfade_)
        return;
    if (reverse_.playPos < 0) {
        reverse_.playing = {begin, end};
        reverse_.playPos = end - 1;
        return;
    }
    if (reverse_.queueSize == static_cast<int>(reverse_.queue.size()))
        return;
    reverse_
        .queue[static_cast<size_t>((reverse_.queueHead + reverse_.queueSize) % static_cast<int>(reverse_.queue.size()))]
        = {begin, end};
    ++reverse_.queueSize;
}
// Backward play reads the long ring from the stretch's end down to its
// start, with 5 ms fades at both ends so that stretches join without steps.
float GlitchRepeater::reverseSample(int ch) const noexcept
{
    if (reverse_.playPos < 0)
        return 0.0f;
    const double fromEnd = static_cast<double>(reverse_.playing.end - reverse_.playPos);
    const double fromBegin = static_cast<double>(reverse_.playPos - reverse_.playing.begin + 1);
    const double gain = std::min(1.0, std::min(fromEnd, fromBegin) / static_cast<double>(crossfade_));
    return static_cast<float>(gain * long_[ch].at(reverse_.playPos));
}
void GlitchRepeater::advanceReverse() noexcept
{
    const int64_t oldest = now_ - static_cast<int64_t>(long_[0].length()) + 1;
    if (reverse_.playPos >= 0 && --reverse_.playPos >= std::max(reverse_.playing.begin, oldest))
        return;
    reverse_.playPos = -1;
    while (reverse_.queueSize > 0 && reverse_.playPos < 0) {
        const auto next = reverse_.queue[static_cast<size_t>(reverse_.queueHead)];
        reverse_.queueHead = (reverse_.queueHead + 1) % static_cast<int>(reverse_.queue.size());
        --reverse_.queueSize;
        reverse_.playing = {std::max(next.begin, oldest + 1), next.end};
        if (reverse_.playing.end - reverse_.playing.begin >= 2 * crossfade_)
            reverse_.playPos = reverse_.playing.end - 1;
    }
}
// Phrases for backward play: a phrase is open while the slow follower is
// above twice the noise floor (and above 0.004); it is queued once 70 ms of
// pause follow it, ending 30 ms into the pause. Speech running on for more
// than 1 s is cut at its quietest 10 ms window past its first 0.35 s.
void GlitchRepeater::trackPhrases() noexcept
{
    const bool loud = slow_.y > std::max(2.0 * minimum_, 0.004);
    if (!reverse_.phraseOpen) {
        reverse_.phraseStart = now_ - frames(0.02, fs_);
        reverse_.phraseOpen = loud;
        reverse_.pause = 0;
        return;
    }
    reverse_.pause = loud ? 0 : reverse_.pause + 1;
    if (reverse_.pause >= frames(0.07, fs_)) {
        queueStretch(reverse_.phraseStart, now_ + frames(0.03, fs_) - reverse_.pause);
        reverse_.phraseOpen = false;
        reverse_.pause = 0;
        return;
    }
    if (now_ - reverse_.phraseStart > frames(1.0, fs_)) {
        const int64_t cut = quietestCut(reverse_.phraseStart + frames(0.35, fs_), now_);
        queueStretch(reverse_.phraseStart, cut);
        reverse_.phraseStart = cut;
    }
}
int64_t GlitchRepeater::quietestCut(int64_t from, int64_t to) const noexcept
{
    const int64_t window = std::max<int64_t>(2, frames(0.01, fs_));
    const int64_t hop = window / 2;
    int64_t best = to - window / 2;
    double bestEnergy = -1.0;
    for (int64_t t = from; t + window <= to; t += hop) {
        double e = 0.0;
        for (int64_t i = 0; i < window; ++i) {
            const double v = mono_.at(t + i);
            e += v * v;
        }
        if (bestEnergy < 0.0 || e < bestEnergy) {
            bestEnergy = e;
            best = t + window / 2;
        }
    }
    return best;
}
// The granular player of "Glitch": 80 ms sin² grains at 50 % overlap (so the
// windows sum to one), each from a random point of the capture at a random
// one of normal, half, double or backward speed; one grain in three repeats
// the previous grain exactly, which gives the stuck-record jumps.
void GlitchRepeater::startGrain(Grain& grain) noexcept
{
    static constexpr double kRates[] = {1.0, 1.0, 1.0, 0.5, 2.0, -1.0, -1.0};
    if (grain_.last.age >= 0 && grain_.random.next() % 3 == 0) {
        grain = grain_.last;
    } else {
        grain.start = grain_.lo + static_cast<double>(grain_.random.uniform()) * (grain_.hi - grain_.lo);
        grain.rate = kRates[(grain_.random.next() >> 8) % 7];
    }
    grain.age = 0;
    grain_.last = grain;
}
float GlitchRepeater::grainSample(const Grain& grain, int ch) const noexcept
{
    const double i = static_cast<double>(grain.age);
    const double span = static_cast<double>(grainLength_ - 1);
    const double pos = grain.rate >= 0.0 ? grain.start + i * grain.rate : grain.start + (span - i) * -grain.rate;
    return grainWindow_[static_cast<size_t>(grain.age)] * readInterpolated(cap_[ch], pos, capLen_);
}

// One frame of the running style's output into g (zeroed by the caller); a is
// the frames since the press, progress the share of the tail gone.
void GlitchRepeater::styleSample(float* g, int channels, double a, double progress) noexcept
{
    switch (running_) {
    case kGlitchRepeat: {
        if (held_ && repeat_.recaptureAt >= 0 && now_ >= repeat_.recaptureAt) {
            const int64_t length = std::min(now_ - repeat_.recaptureOnset, capMax_);
            repeat_.next = makeLoop<Loop>(capture(next_, length, 0), crossfade_);
            if (repeat_.next.len > 0)
                repeat_.takeover = crossfade_;
            repeat_.recaptureAt = -1;
        }
        const float w = static_cast<float>(repeat_.takeover) / static_cast<float>(crossfade_ + 1);
        for (int ch = 0; ch < channels; ++ch) {
            g[ch] = repeat_.loop.read(cap_[ch].data());
            if (repeat_.takeover > 0)
                g[ch] = g[ch] * w + repeat_.next.read(next_[ch].data()) * (1.0f - w);
        }
        repeat_.loop.advance();
        if (repeat_.takeover > 0) {
            repeat_.next.advance();
            if (--repeat_.takeover == 0) {
                std::swap(cap_, next_);
                repeat_.loop = repeat_.next;
                capLen_ = repeat_.next.len + repeat_.next.fade;
            }
        }
        break;
    }
    case kGlitchBeep: {
        const auto v = static_cast<float>(std::sin(kTwoPi * beep_.phase) * beep_.level);
        beep_.phase += 1000.0 / fs_;
        beep_.phase -= std::floor(beep_.phase);
        for (int ch = 0; ch < channels; ++ch)
            g[ch] = v;
        break;
    }
    case kGlitchStutter:
        for (int ch = 0; ch < channels; ++ch)
            g[ch] = stutter_.loop.read(cap_[ch].data());
        // Every second pass halves the loop while it stays at least 25 ms: the stutter accelerates.
        if (stutter_.loop.advance() && stutter_.loop.passes % 2 == 0 && stutter_.loop.len / 2 >= minLoop_)
            stutter_.loop.len /= 2;
        break;
    case kGlitchReverse:
        for (int ch = 0; ch < channels; ++ch)
            g[ch] = reverseSample(ch);
        advanceReverse();
        break;
    case kGlitchTapeStop:
    case kGlitchRobot: {
        if (tail_ <= 0)
            break;
        const double d = std::max(0.0, 1.0 - progress);
        const double level = std::min(1.0, 4.0 * d);
        const double ring = std::sin(kTwoPi * playhead_.robotPhase);
        for (int ch = 0; ch < channels; ++ch) {
            double x = history_[ch].readLinear(playhead_.readPos) * level;
            if (running_ == kGlitchRobot) {
                x = x * ring + 0.35 * comb_[ch].at(comb_[ch].writeCounter() - combDelay_);
                comb_[ch].write(static_cast<float>(x));
            }
            g[ch] = static_cast<float>(x);
        }
        playhead_.readPos += d;
        playhead_.robotPhase += (0.4 + 0.6 * d) * 55.0 / fs_;
        playhead_.robotPhase -= std::floor(playhead_.robotPhase);
        break;
    }
    case kGlitchScratch: {
        if (capLen_ <= 8)
            break;
        const double w = kTwoPi * 2.6 / fs_;
        const double top = static_cast<double>(capLen_ - 2);
        const double depth = std::min(0.45 * top, 0.15 * fs_);
        const double pos = std::clamp(top - (1.0 - std::cos(w * a)) * depth, 0.0, top);
        const double level = std::min(1.0, 0.25 + 0.75 * std::fabs(std::sin(w * a) * w * depth));
        for (int ch = 0; ch < channels; ++ch)
            g[ch] = static_cast<float>(level) * readInterpolated(cap_[ch], pos, capLen_);
        break;
    }
    case kGlitchCrush: {
        if (tail_ <= 0 || crush_.loop.len <= 0)
            break;
        if (crush_.count <= 0) {
            const double h = 16.0 * std::pow(0.25, progress);
            for (int ch = 0; ch < channels; ++ch) {
                const double x = crush_.loop.read(cap_[ch].data());
                crush_.held[ch] = static_cast<float>(std::clamp(std::round(x * h) / h, -1.0, 1.0));
            }
            crush_.count = 1 + static_cast<int64_t>(47.0 * progress * progress);
        }
        --crush_.count;
        crush_.loop.advance();
        for (int ch = 0; ch < channels; ++ch)
            g[ch] = crush_.held[ch];
        break;
    }
    case kGlitchChipmunk:
    case kGlitchDeep: {
        if (tail_ <= 0 || capLen_ <= 8)
            break;
        const double t = static_cast<double>(tailLength_);
        const double pos = running_ == kGlitchChipmunk ? 1.3 * a + 1.3 * a * a / (2.0 * t) : 0.55 * a;
        for (int ch = 0; ch < channels; ++ch)
            g[ch] = readInterpolated(cap_[ch], std::min(pos, static_cast<double>(capLen_ - 1)), capLen_);
        break;
    }
    case kGlitchGlitch: {
        if (!grain_.ready)
            break;
        for (Grain& grain : grain_.grains) {
            if (grain.age < 0)
                continue;
            for (int ch = 0; ch < channels; ++ch)
                g[ch] += grainSample(grain, ch);
            if (++grain.age >= grainLength_)
                grain.age = -1;
        }
        if (++grain_.clock >= grainLength_ / 2) {
            grain_.clock = 0;
            startGrain(grain_.grains[0].age < 0 ? grain_.grains[0] : grain_.grains[1]);
        }
        break;
    }
    default: // Echo and Cut: the voice is cut.
        break;
    }
}

} // namespace dsp
