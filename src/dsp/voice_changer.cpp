#include "dsp/voice_changer.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace dsp {

namespace {
// Half the analysis window: an analysis centred at c runs once c + this has arrived.
constexpr int kLookAhead = PitchDetector::kWindow / 2;
// Grains are built this far behind the newest input: far enough for the marks
// around them to exist and for their reads to stay in the past, near enough
// that a grain snapped back to a mark still starts after the output read point.
constexpr int kSynthesisDelay = 1100;
// Longest half grain, so that every grain lands ahead of the output read point.
constexpr int kMaxHalfGrain = 1150;
// Reads stay this far behind the newest input.
constexpr int kReadGuard = 3;
// Macro mode centres the voice here.
constexpr double kMacroCentreHz = 120.0;
constexpr double kTwoPi = 6.283185307179586;
// Mark candidates scored side by side; the searched span is padded to whole groups.
constexpr int kMatchGroup = 4;

// The half cycle compared around a mark and how far a mark may move from its
// predicted place, for a period in frames.
int matchHalf(double period)
{
    return std::max(4, static_cast<int>(0.5 * period));
}
int matchReach(double period)
{
    return std::max(2, static_cast<int>(0.2 * period));
}

// clamp() that also turns NaN into the fallback.
double clampOr(double v, double lo, double hi, double fallback)
{
    return v == v ? std::clamp(v, lo, hi) : fallback;
}
} // namespace

void VoiceChanger::prepare(double sampleRate)
{
    fs_ = sampleRate > 0.0 ? sampleRate : 48000.0;
    detector_.prepare(fs_, 70.0, 400.0);
    minPeriod_ = detector_.shortestPeriod();
    maxPeriod_ = detector_.longestPeriod();
    unvoicedSpacing_ = std::max(16, static_cast<int>(std::lround(0.015 * fs_)));
    smoothCoeff_ = 1.0 - std::exp(-kAnalysisHop / (0.03 * fs_));
    levelCoeff_ = 1.0 / (0.3 * fs_);
    input_.prepare(kRingFrames);
    output_.prepare(kRingFrames);
    analysis_.assign(PitchDetector::kWindow, 0.0f);
    // The detector's periods lie within half a frame of its range.
    const double longest = maxPeriod_ + 1.0;
    const auto matchFrames = static_cast<size_t>(2 * matchHalf(longest) + matchReach(longest) + 2 * kMatchGroup);
    markCycle_.assign(matchFrames, 0.0);
    span_.assign(matchFrames, 0.0);
    spanSquares_.assign(matchFrames, 0.0);
    reset();
}

void VoiceChanger::reset() noexcept
{
    input_.reset();
    output_.reset();
    std::fill(analysis_.begin(), analysis_.end(), 0.0f);
    nextAnalysis_ = 0;
    track_ = Tracking{};
    nextGrain_ = 0.0;
    lastGrainMark_ = std::numeric_limits<int64_t>::min();
    voicedGrains_ = 0;
    jitter_ = 0.0;
    random_.state = 0x5eed1234u;
    inPower_ = 0.0;
    outPower_ = 0.0;
    gain_ = 1.0;
}

void VoiceChanger::setVoice(double pitchHz, double sizePercent, double ratio) noexcept
{
    pitchOffset_ = clampOr(pitchHz, -150.0, 150.0, 0.0);
    size_ = clampOr(sizePercent, 60.0, 150.0, 100.0);
    ratio_ = clampOr(ratio, 0.4, 2.5, 1.0);
}

void VoiceChanger::setMaskValues(
    double macro, double pitchExponent, double formantExponent, double alternateAttenuation) noexcept
{
    mask_.macro = clampOr(macro, 0.0, 1.0, 0.0);
    mask_.pitchExponent = clampOr(pitchExponent, -4.0, 4.0, 1.0);
    mask_.formantExponent = clampOr(formantExponent, -4.0, 4.0, 0.0);
    // k = 1 would silence every second grain; just below keeps the growl audible.
    mask_.alternateAttenuation = clampOr(alternateAttenuation, 0.0, 0.95, 0.0);
}

void VoiceChanger::setMaskValues(const VoiceMaskValues& values) noexcept
{
    setMaskValues(values.macro, values.pitchExponent, values.formantExponent, values.alternateAttenuation);
}

bool VoiceChanger::identityPitch() const noexcept
{
    return pitchOffset_ == 0.0 && ratio_ == 1.0 && !(mask_.macro > 0.5);
}

bool VoiceChanger::neutral() const noexcept
{
    return identityPitch() && size_ == 100.0;
}

double VoiceChanger::targetFundamental() const noexcept
{
    if (!(track_.smoothed > 0.0))
        return 0.0;
    double centre = ratio_ * track_.smoothed;
    if (mask_.macro > 0.5)
        centre = ratio_ * kMacroCentreHz * std::pow(track_.smoothed / std::exp(track_.meanLog), mask_.pitchExponent);
    return std::clamp(pitchOffset_ + centre, 72.0, 800.0);
}

double VoiceChanger::formantFactor() const noexcept
{
    const double f = 100.0 / size_;
    if (mask_.macro > 0.5 && track_.detections > 0)
        return std::clamp(f * std::pow(kMacroCentreHz / std::exp(track_.meanLog), mask_.formantExponent), 0.55, 1.6);
    return f;
}

double VoiceChanger::detectedHz() const noexcept
{
    return track_.voiced ? track_.smoothed : 0.0;
}

double VoiceChanger::targetHz() const noexcept
{
    return track_.voiced ? targetFundamental() : 0.0;
}

void VoiceChanger::process(float* samples, int frames) noexcept
{
    run(samples, samples, frames, nullptr);
}

void VoiceChanger::processPair(const float* input, VoiceChanger& leader, float* leaderOut, VoiceChanger& follower,
    float* followerOut, int frames) noexcept
{
    const bool inStep = &leader != &follower && leader.fs_ == follower.fs_
        && leader.nextAnalysis_ == follower.nextAnalysis_
        && leader.input_.writeCounter() == follower.input_.writeCounter();
    if (!inStep) {
        leader.run(input, leaderOut, frames, nullptr);
        follower.run(input, followerOut, frames, nullptr);
        return;
    }
    // Each run ends on the frame of an analysis (or the block's end), so the
    // follower takes the tracking the leader had at that very frame.
    for (int done = 0; done < frames;) {
        const int64_t untilAnalysis = leader.nextAnalysis_ + kLookAhead - leader.input_.writeCounter();
        const int n = static_cast<int>(std::clamp<int64_t>(untilAnalysis, 1, frames - done));
        leader.run(input + done, leaderOut + done, n, nullptr);
        follower.run(input + done, followerOut + done, n, &leader);
        done += n;
    }
}

void VoiceChanger::run(const float* in, float* out, int frames, const VoiceChanger* leader) noexcept
{
    for (int i = 0; i < frames; ++i) {
        float x = in[i];
        x = x == x ? std::clamp(x, -8.0f, 8.0f) : 0.0f;
        input_.write(x);
        const int64_t newest = input_.writeCounter() - 1;
        if (newest + 1 >= nextAnalysis_ + kLookAhead) {
            if (leader)
                track_ = leader->track_;
            else
                analyse();
            nextAnalysis_ += kAnalysisHop;
        }
        synthesizeDue();

        // The output is read kLatencyFrames behind the input; its slot is
        // cleared for the grains that will land there one ring later.
        const int64_t position = newest - kLatencyFrames;
        float& slot = output_.at(position);
        const double y = slot;
        slot = 0.0f;

        // Level match against the input of the same moment.
        const double dry = input_.at(position);
        inPower_ += levelCoeff_ * (dry * dry - inPower_);
        outPower_ += levelCoeff_ * (y * y - outPower_);
        if (outPower_ > 1e-8 && inPower_ > 1e-6)
            gain_ += 0.05 * (std::clamp(std::sqrt(inPower_ / outPower_), 0.5, 2.0) - gain_);
        out[i] = static_cast<float>(y * gain_);
    }
}

void VoiceChanger::analyse() noexcept
{
    input_.copyOut(nextAnalysis_ - kLookAhead, analysis_.size(), analysis_.data());
    const PitchEstimate estimate = detector_.analyse(analysis_.data());
    ++track_.analysisCount;

    if (estimate.hz > 0.0 && estimate.confidence > 0.0) {
        ++track_.detections;
        const double logHz = std::log(estimate.hz);
        // The first detection seeds the mean: limited steps from zero would
        // take seconds to climb to any real voice.
        if (track_.detections == 1)
            track_.meanLog = logHz;
        else
            track_.meanLog += std::max(0.004, 1.0 / static_cast<double>(track_.detections))
                * std::clamp(logHz - track_.meanLog, -0.7, 0.7);
        if (track_.analysisCount - track_.lastDetection <= 2 && track_.smoothed > 0.0)
            track_.smoothed += smoothCoeff_ * (estimate.hz - track_.smoothed);
        else
            track_.smoothed = estimate.hz;
        track_.lastDetection = track_.analysisCount;
        track_.detected = estimate.hz;
        track_.confidence = estimate.confidence;
        track_.misses = 0;
        placeMarks(estimate.period);
    } else {
        track_.misses = std::min(track_.misses + 1, 1000);
    }
    track_.voiced = track_.confidence > 0.0 && track_.misses <= 2;
}

// Marks one point per period. A new run of voicing is anchored on the highest
// sample of its first period; each further mark is placed about a period
// after the previous one, where the cycle around it best matches the cycle
// around the previous mark (normalised cross-correlation over ±20 % of a
// period). The marks so keep to the same phase of every cycle, and their
// distances follow the voice's own period from cycle to cycle.
void VoiceChanger::placeMarks(double period) noexcept
{
    const int64_t newest = input_.writeCounter() - 1;
    const int reach = matchReach(period);
    const int half = matchHalf(period);
    if (static_cast<size_t>(2 * half + reach + 2 * kMatchGroup) > span_.size())
        return; // longer than any period the detector reports
    const int64_t limit = newest - kReadGuard - reach - half;
    const int64_t windowStart = nextAnalysis_ - kLookAhead;

    int64_t last = track_.markCount > 0 ? track_.marks[static_cast<size_t>((track_.markCount - 1) & 63)] : 0;
    if (track_.markCount == 0 || last < windowStart - static_cast<int64_t>(period)) {
        int64_t best = windowStart + half;
        for (int64_t p = best + 1; p < windowStart + half + static_cast<int64_t>(period); ++p)
            if (input_.at(p) > input_.at(best))
                best = p;
        last = best;
        track_.marks[static_cast<size_t>(track_.markCount & 63)] = last;
        ++track_.markCount;
    }
    for (;;) {
        const int64_t predicted = last + std::lround(period);
        if (predicted > limit)
            break;
        // Coarse (every second candidate and sample), then every candidate next to the best.
        const int64_t coarse = bestMatch(last, predicted - reach, reach + 1, half, 2, predicted);
        last = bestMatch(last, coarse - 1, 3, half, 1, coarse);
        track_.marks[static_cast<size_t>(track_.markCount & 63)] = last;
        ++track_.markCount;
    }
}

// Of the candidates firstCandidate + j·step (j < candidates), the one whose
// cycle best matches the cycle around `mark`: cross-correlation over ±half
// frames (every step-th), normalised by the candidate's energy; the first of
// equal scores, or `fallback` when none scores above −2.
//
// The input is copied out once, as doubles and squares, and a group of
// candidates is summed side by side with every sum still taken in frame
// order: the scores are those of one candidate at a time read from the ring,
// without a masked read and a conversion per product.
int64_t VoiceChanger::bestMatch(
    int64_t mark, int64_t firstCandidate, int candidates, int half, int step, int64_t fallback) noexcept
{
    const int terms = (2 * half + step - 1) / step;
    const int used = candidates + terms - 1;
    const int padded = (candidates + kMatchGroup - 1) / kMatchGroup * kMatchGroup + terms - 1;
    for (int k = 0; k < terms; ++k)
        markCycle_[static_cast<size_t>(k)] = input_.at(mark - half + k * step);
    for (int n = 0; n < padded; ++n) {
        const double x = n < used ? input_.at(firstCandidate - half + n * step) : 0.0f;
        span_[static_cast<size_t>(n)] = x;
        spanSquares_[static_cast<size_t>(n)] = x * x;
    }

    int64_t best = fallback;
    double bestScore = -2.0;
    for (int group = 0; group < candidates; group += kMatchGroup) {
        // Eight independent running sums, spelled out so that they stay in
        // registers at any optimisation level.
        double c0 = 0.0, c1 = 0.0, c2 = 0.0, c3 = 0.0;
        double e0 = 1e-12, e1 = 1e-12, e2 = 1e-12, e3 = 1e-12;
        for (int k = 0; k < terms; ++k) {
            const double m = markCycle_[static_cast<size_t>(k)];
            const double* x = span_.data() + group + k;
            const double* xx = spanSquares_.data() + group + k;
            c0 += m * x[0];
            c1 += m * x[1];
            c2 += m * x[2];
            c3 += m * x[3];
            e0 += xx[0];
            e1 += xx[1];
            e2 += xx[2];
            e3 += xx[3];
        }
        const std::array<double, kMatchGroup> cross{c0, c1, c2, c3};
        const std::array<double, kMatchGroup> energy{e0, e1, e2, e3};
        const int count = std::min(kMatchGroup, candidates - group);
        for (int j = 0; j < count; ++j) {
            const double score = cross[static_cast<size_t>(j)] / std::sqrt(energy[static_cast<size_t>(j)]);
            if (score > bestScore) {
                bestScore = score;
                best = firstCandidate + static_cast<int64_t>(group + j) * step;
            }
        }
    }
    return best;
}

// The mark nearest to position and the distance to its predecessor (the
// detected period when that distance is implausible or unknown).
bool VoiceChanger::nearestMark(double position, int64_t& mark, double& period) const noexcept
{
    const int64_t count = std::min<int64_t>(track_.markCount, 64);
    if (count == 0 || !(track_.smoothed > 0.0))
        return false;
    const double detectedPeriod = fs_ / track_.smoothed;
    int64_t bestIndex = -1;
    double bestDistance = 1.5 * detectedPeriod;
    for (int64_t k = track_.markCount - count; k < track_.markCount; ++k) {
        const double distance = std::fabs(static_cast<double>(track_.marks[static_cast<size_t>(k & 63)]) - position);
        if (distance < bestDistance) {
            bestDistance = distance;
            bestIndex = k;
        }
    }
    if (bestIndex < 0)
        return false;
    mark = track_.marks[static_cast<size_t>(bestIndex & 63)];
    period = detectedPeriod;
    const int64_t neighbour = bestIndex > track_.markCount - count ? bestIndex - 1 : bestIndex + 1;
    if (neighbour < track_.markCount) {
        const double distance
            = std::fabs(static_cast<double>(mark - track_.marks[static_cast<size_t>(neighbour & 63)]));
        if (distance >= 0.5 * detectedPeriod && distance <= 1.5 * detectedPeriod)
            period = distance;
    }
    return true;
}

// The earliest mark after `after`, if one lies no later than `limit`.
bool VoiceChanger::markAfter(int64_t after, double limit, int64_t& mark) const noexcept
{
    const int64_t count = std::min<int64_t>(track_.markCount, 64);
    for (int64_t k = track_.markCount - count; k < track_.markCount; ++k) {
        const int64_t m = track_.marks[static_cast<size_t>(k & 63)];
        if (m > after) {
            mark = m;
            return static_cast<double>(m) <= limit;
        }
    }
    return false;
}

void VoiceChanger::synthesizeDue() noexcept
{
    const int64_t newest = input_.writeCounter() - 1;
    const double due = static_cast<double>(newest - kSynthesisDelay);
    while (nextGrain_ <= due) {
        const double f = formantFactor();
        if (!track_.voiced) {
            // Unvoiced: fixed grains at the input's own spacing, formants moved alike.
            const int spacing = unvoicedSpacing_;
            addGrain(nextGrain_, nextGrain_, 2 * spacing, f, 1.0);
            nextGrain_ += spacing;
            continue;
        }

        int64_t mark = 0;
        double period = fs_ / track_.smoothed;
        bool marked = nearestMark(nextGrain_, mark, period);
        const int length = std::max(32, static_cast<int>(std::lround(2.0 * period / f)));
        double scale = 1.0;
        if (mask_.alternateAttenuation > 0.0 && (voicedGrains_ & 1) != 0)
            scale = (1.0 - mask_.alternateAttenuation) / (1.0 + mask_.alternateAttenuation);
        ++voicedGrains_;

        if (identityPitch()) {
            // The fundamental stays: every grain sits on its own mark.
            double centre = nextGrain_;
            if (marked && mark <= lastGrainMark_)
                marked = markAfter(lastGrainMark_, nextGrain_ + period, mark);
            if (marked) {
                centre = static_cast<double>(mark);
                lastGrainMark_ = mark;
            }
            addGrain(centre, centre, length, f, f * scale);
            nextGrain_ = centre + period;
            continue;
        }

        jitter_ += 0.35 * (random_.bipolar() - jitter_);
        const double target = targetFundamental();
        const double spacing = (fs_ / target) * (track_.smoothed / (fs_ / period)) * (1.0 + 0.003 * jitter_);
        const double source = marked ? static_cast<double>(mark) : nextGrain_;
        addGrain(nextGrain_, source, length, f, f * spacing / period * scale);
        nextGrain_ += spacing;
    }
}

// Overlap-adds one Hann-windowed grain centred at outCentre (output timeline),
// reading the input around inCentre at `rate` input frames per output frame.
void VoiceChanger::addGrain(double outCentre, double inCentre, int length, double rate, double gain) noexcept
{
    const int64_t newest = input_.writeCounter() - 1;
    const int64_t firstWritable = newest - kLatencyFrames; // not yet read out
    const double half = std::min<double>(0.5 * length, kMaxHalfGrain);
    const double latestRead = static_cast<double>(newest - kReadGuard);
    const double earliestRead = static_cast<double>(newest - kRingFrames + 8);
    // Keep the whole grain's reads in the past: shift the source back rather
    // than hold its tail on one sample.
    inCentre = std::min(inCentre, latestRead - half * rate);

    const double begin = outCentre - half;
    const auto first = static_cast<int64_t>(std::ceil(begin));
    const auto last = static_cast<int64_t>(std::ceil(outCentre + half)) - 1;
    // Hann window 0.5 − 0.5·cos(2π·t/length) with t = p − begin, by rotation.
    const double step = kTwoPi / (2.0 * half);
    const double phase = (static_cast<double>(first) - begin) * step;
    double c = std::cos(phase);
    double s = std::sin(phase);
    const double cs = std::cos(step);
    const double sn = std::sin(step);
    const auto rotate = [&] {
        const double nc = c * cs - s * sn;
        s = s * cs + c * sn;
        c = nc;
    };
    const auto readAt = [&](int64_t p) { return inCentre + (static_cast<double>(p) - outCentre) * rate; };

    // Nearly every grain lands wholly on output not yet read, reads input
    // inside the allowed span (t grows with p, so the ends tell) and wraps
    // neither ring: it is summed straight on the buffers, with the same
    // arithmetic as the checked loop below but no clamp or mask per frame.
    const double firstRead = readAt(first);
    const double lastRead = readAt(last);
    if (rate > 0.0 && first >= firstWritable && firstRead >= earliestRead && lastRead <= latestRead
        && output_.contiguous(first, last) && input_.contiguous(floorIndex(firstRead) - 1, floorIndex(lastRead) + 2)) {
        const int64_t inFirst = floorIndex(firstRead) - 1;
        const float* in = input_.data() + input_.slot(inFirst);
        float* out = output_.data() + output_.slot(first);
        for (int64_t p = first; p <= last; ++p) {
            const double t = readAt(p);
            const int64_t i = floorIndex(t);
            const float* x = in + (i - 1 - inFirst);
            const double w = 0.5 - 0.5 * c;
            out[p - first]
                += static_cast<float>(gain * w * interpolateCubic(x[0], x[1], x[2], x[3], t - static_cast<double>(i)));
            rotate();
        }
        return;
    }
    for (int64_t p = first; p <= last; ++p) {
        if (p >= firstWritable) {
            const double t = std::clamp(readAt(p), earliestRead, latestRead);
            const double w = 0.5 - 0.5 * c;
            output_.at(p) += static_cast<float>(gain * w * input_.readCubic(t));
        }
        rotate();
    }
}

} // namespace dsp
