#include "dsp/haunted_cavern.h"

#include "dsp/reverb.h"

#include <algorithm>
#include <cmath>

namespace dsp {

namespace {

constexpr double kMinus60Db = 0.001;
constexpr double kDiffuserOutputScale = 0.6665;
constexpr double kDcPole = 0.99935;
constexpr double kDcLeak = 0.9987;
// Input all-pass lengths as shares of the longest, mutually far from simple ratios.
constexpr std::array<double, 4> kDiffuserShare{1.0, 0.73, 0.53, 0.37};

int64_t framesOf(double ms, double sampleRate)
{
    return std::max<int64_t>(1, std::llround(ms * 0.001 * sampleRate));
}

} // namespace

const PlateReverb::Params kCavernPlateA{
    0, -15, 17.01, 0.91, 7.9, 0.111, 10.7, 0.05, 10, 0.4, -5, 0, 0.25, 0.413, 0.042, 5000, 0};
const PlateReverb::Params kCavernPlateB{
    0, -15, 15, 0.91, 7.9, 0.111, 10.7, 0.05, 10, 0.4, -5, 0, 0.25, 0.413, 0.042, 5000, 0};

// --- Slap echo ---------------------------------------------------------------

void SlapEcho::prepare(double sampleRate)
{
    sampleRate_ = sampleRate > 0.0 ? sampleRate : 48000.0;
    lowPassDecay_ = slapLowPassDecay(sampleRate_);
    shelf_.setCoeffs(designSlapShelf(sampleRate_));
    ring_.assign(kRingFrames, 0.0f);
    reset();
}

void SlapEcho::reset() noexcept
{
    std::fill(ring_.begin(), ring_.end(), 0.0f);
    read_ = 0;
    stage1_ = stage2_ = 0.0;
    shelf_.reset();
}

int SlapEcho::delayFrames(int amount, double sampleRate)
{
    const double seconds = amount <= 20 ? 0.4867 : 0.4867 - (std::min(amount, 100) - 20) * 0.0134 / 80.0;
    const auto frames = static_cast<int>(std::lround(seconds * sampleRate));
    return std::clamp(frames, 1, kRingFrames - 1);
}

float SlapEcho::sendLevel(int amount)
{
    const double x = std::clamp(amount, 0, 100) / 100.0;
    return static_cast<float>(std::min(0.0765, 1.77 * std::pow(x, 1.4)));
}

void SlapEcho::process(const float* highPassed, float* left, float* right, int frames, int amount) noexcept
{
    const int delay = delayFrames(amount, sampleRate_);
    const float send = sendLevel(amount);
    const double k = lowPassDecay_;
    for (int i = 0; i < frames; ++i) {
        // Take the repeat out of its slot, so the ring never feeds back.
        const double echo = ring_[static_cast<size_t>(read_)];
        ring_[static_cast<size_t>(read_)] = 0.0f;
        int at = read_ + delay;
        if (at >= kRingFrames)
            at -= kRingFrames;
        ring_[static_cast<size_t>(at)] += send * highPassed[i];
        if (++read_ == kRingFrames)
            read_ = 0;

        stage1_ = (1.0 - k) * echo + k * stage1_;
        stage2_ = (1.0 - k) * stage1_ + k * stage2_;
        const double y = shelf_.process(stage2_);
        left[i] += static_cast<float>(y);
        right[i] -= static_cast<float>(0.2 * y);
    }
}

// --- Plate -------------------------------------------------------------------

void PlateReverb::prepare(double sampleRate, const Params& params)
{
    const double fs = sampleRate > 0.0 ? sampleRate : 48000.0;
    sampleRate_ = fs;
    params_ = params;
    const Params& p = params_;
    const double decay = std::max(p[2], 0.1);
    const double decayHf = std::max(decay * p[3], 0.05);

    preDelayFrames_ = std::max<int64_t>(0, std::llround(std::max(p[0], 0.0) * 0.001 * fs));
    preDelay_.prepare(static_cast<size_t>(preDelayFrames_) + 1, 4);
    for (size_t i = 0; i < diffuser_.size(); ++i) {
        diffuserLength_[i] = framesOf(std::max(p[4], 0.1) * kDiffuserShare[i], fs);
        diffuser_[i].prepare(static_cast<size_t>(diffuserLength_[i]), 4);
    }
    diffuserCoeff_ = std::clamp(p[9], -0.95, 0.95);

    modDepth_ = std::max(p[5], 0.0) * 0.001 * fs;
    modRate_ = 1.0 / (std::max(p[14], 0.0001) * fs);
    const double hfRef = std::clamp(p[15], 20.0, 0.49 * fs);
    for (int i = 0; i < kLines; ++i) {
        const auto u = static_cast<size_t>(i);
        const double ms = std::max(p[6], 1.0) * (1.0 + i * std::max(p[8], 0.0) / (kLines - 1));
        // Odd lengths keep the lines from sharing the factor two.
        lineLength_[u] = framesOf(ms, fs) | 1;
        const auto reach = static_cast<size_t>(lineLength_[u] + static_cast<int64_t>(std::ceil(2.0 * modDepth_)) + 2);
        lines_[u].prepare(reach, 4);
        const double seconds = static_cast<double>(lineLength_[u]) / fs;
        lineGain_[u] = std::pow(kMinus60Db, seconds / decay);
        const double hf = std::max(kMinus60Db, std::pow(kMinus60Db, seconds / decayHf) / lineGain_[u]);
        damping_.setCoeffs(u, designHighShelf(hfRef, 20.0 * std::log10(hf), fs));
    }
    const int64_t shortest = *std::min_element(lineLength_.begin(), lineLength_.end());
    chunk_ = static_cast<int>(std::clamp<int64_t>(shortest - 1, 1, kChunk));
    rotCos_ = std::cos(p[13]);
    rotSin_ = std::sin(p[13]);
    earlyLevel_ = p[7];
    lineLevel_ = p[12];
    outGain_ = std::pow(10.0, p[1] / 20.0);
    lowShelf_.setCoeffs(designLowShelf(250.0, p[10], fs));
    highShelf_.setCoeffs(designHighShelf(hfRef, p[11], fs));
    reset();
}

void PlateReverb::reset() noexcept
{
    preDelay_.reset();
    for (auto& d : diffuser_)
        d.reset();
    for (auto& l : lines_)
        l.reset();
    damping_.reset();
    lowShelf_.reset();
    highShelf_.reset();
    dcIn_ = dcState_ = 0.0;
    modPhase_ = 0.0;
}

// The frame-by-frame arithmetic of the plate, split into stages that each run
// over a whole chunk: every stage is a recurrence of its own, so each loop is
// short and the frames' latencies overlap, with the same results as one frame
// through all stages at a time.
void PlateReverb::processDiffusion(const float* in, int frames) noexcept
{
    for (int i = 0; i < frames; ++i) {
        preDelay_.write(in[i]);
        diffused_[static_cast<size_t>(i)] = preDelay_.delayed(preDelayFrames_);
    }
    for (size_t k = 0; k < diffuser_.size(); ++k) {
        DelayRing<float>& r = diffuser_[k];
        const int64_t length = diffuserLength_[k];
        for (int i = 0; i < frames; ++i) {
            double& u = diffused_[static_cast<size_t>(i)];
            const double d = r.at(r.writeCounter() - length);
            const double w = u + diffuserCoeff_ * d;
            r.write(static_cast<float>(w));
            u = d - diffuserCoeff_ * w;
        }
    }
    for (int i = 0; i < frames; ++i) {
        double& u = diffused_[static_cast<size_t>(i)];
        u *= kDiffuserOutputScale;
        // DC blocker whose state also leaks, so a stuck offset drains away.
        const double dc = u - dcIn_ + kDcPole * dcState_;
        dcIn_ = u;
        dcState_ = kDcLeak * dc;
        u = dc;
    }
}

void PlateReverb::processLines(int frames) noexcept
{
    const auto n = static_cast<size_t>(frames);
    // The chunk is shorter than every line, so all that the lines give out
    // during it was written before it: read it all first, line by line.
    for (size_t k = 0; k < kLines; ++k) {
        const DelayRing<float>& line = lines_[k];
        const int64_t from = line.writeCounter() - lineLength_[k];
        std::array<double, kChunk>& y = lineOut_[k];
        if (k == 0 && modDepth_ > 0.0) {
            double phase = modPhase_;
            for (size_t f = 0; f < n; ++f) {
                const double m = (1.0 + parabolicSine(phase)) * modDepth_;
                const double t = static_cast<double>(from + static_cast<int64_t>(f)) - m;
                const int64_t p = floorIndex(t);
                y[f] = interpolateLinear(line.at(p), line.at(p + 1), t - static_cast<double>(p));
                phase += modRate_;
                if (phase >= 1.0)
                    phase -= 1.0;
            }
            modPhase_ = phase;
        } else {
            for (size_t f = 0; f < n; ++f)
                y[f] = line.at(from + static_cast<int64_t>(f));
        }
    }
    // The output is the lines' alternating sum, taken before their decay.
    for (size_t f = 0; f < n; ++f) {
        double out = 0.0;
        for (size_t k = 0; k < kLines; ++k)
            out += (k & 1) != 0 ? -lineOut_[k][f] : lineOut_[k][f];
        lineSum_[f] = out;
    }
    for (size_t k = 0; k < kLines; ++k)
        for (size_t f = 0; f < n; ++f)
            lineOut_[k][f] *= lineGain_[k];
    damping_.process(lineOut_, frames);
    // A butterfly of plane rotations: orthogonal, so it neither adds nor removes energy.
    for (size_t span = 1; span < kLines; span <<= 1)
        for (size_t i = 0; i < kLines; ++i)
            if ((i & span) == 0) {
                std::array<double, kChunk>& a = lineOut_[i];
                std::array<double, kChunk>& b = lineOut_[i + span];
                for (size_t f = 0; f < n; ++f) {
                    const double x = a[f];
                    a[f] = rotCos_ * x - rotSin_ * b[f];
                    b[f] = rotSin_ * x + rotCos_ * b[f];
                }
            }
    for (size_t k = 0; k < kLines; ++k) {
        DelayRing<float>& line = lines_[k];
        for (size_t f = 0; f < n; ++f) {
            const double inject = diffused_[f] * 0.35355339059327373; // 1/√8 into each line
            line.write(static_cast<float>(lineOut_[k][f] + ((k & 2) != 0 ? -inject : inject)));
        }
    }
}

void PlateReverb::process(const float* in, float* out, int frames) noexcept
{
    int done = 0;
    while (done < frames) {
        const int n = std::min(chunk_, frames - done);
        processDiffusion(in + done, n);
        processLines(n);
        for (int i = 0; i < n; ++i) {
            const auto f = static_cast<size_t>(i);
            const double y = lineSum_[f] * lineLevel_ + diffused_[f] * earlyLevel_;
            out[done + i] += static_cast<float>(highShelf_.process(lowShelf_.process(y)) * outGain_);
        }
        done += n;
    }
}

// --- Dry duck ------------------------------------------------------------------

void CavernDryDuck::prepare(double sampleRate)
{
    level_.prepare(0.005, 0.3, sampleRate);
    level_.reset();
}

float CavernDryDuck::process(const float* dry, int frames, int amount) noexcept
{
    double peak = 0.0;
    // A follower at rest fed silence stays at rest (idle buses feed it nothing
    // else): the steps would leave it, and the peak, exactly at zero.
    const bool resting = level_.y == 0.0 && std::all_of(dry, dry + frames, [](float x) { return x == 0.0f; });
    for (int i = 0; i < frames && !resting; ++i) {
        const float x = dry[i];
        peak = std::max(peak, level_.process(std::isfinite(x) ? std::fabs(x) : 0.0));
    }
    const double depth = 6.0 * std::clamp((amount - 10) / 90.0, 0.0, 1.0);
    const double levelDb = 20.0 * std::log10(std::max(peak, 1e-6));
    const double weight = std::clamp((levelDb + 45.0) / 30.0, 0.0, 1.0);
    return static_cast<float>(depth * weight);
}

// --- The whole procedural cavern ------------------------------------------------

void HauntedCavern::prepare(double sampleRate)
{
    slap_.prepare(sampleRate);
    plateA_.prepare(sampleRate, kCavernPlateA);
    plateB_.prepare(sampleRate, kCavernPlateB);
    duck_.prepare(sampleRate);
}

void HauntedCavern::reset() noexcept
{
    slap_.reset();
    plateA_.reset();
    plateB_.reset();
    duck_.reset();
}

void HauntedCavern::process(const float* highPassed, const float* compressorGain, float send, int amount, float* left,
    float* right, int frames) noexcept
{
    // With the send closed (effects off, voice not routed) nothing new enters;
    // what is already ringing rings out.
    const bool open = send > 0.0f;
    int done = 0;
    while (done < frames) {
        const int n = std::min(kChunk, frames - done);
        for (int i = 0; i < n; ++i) {
            const float x = open ? send * highPassed[done + i] : 0.0f;
            const float g = compressorGain[done + i];
            inA_[static_cast<size_t>(i)] = g * x;
            inB_[static_cast<size_t>(i)] = (1.0f - g) * x;
            plates_[static_cast<size_t>(i)] = 0.0f;
        }
        plateA_.process(inA_.data(), plates_.data(), n);
        plateB_.process(inB_.data(), plates_.data(), n);
        for (int i = 0; i < n; ++i) {
            left[done + i] += plates_[static_cast<size_t>(i)];
            right[done + i] += plates_[static_cast<size_t>(i)];
            // The slap reuses inB_ as its gated input.
            inB_[static_cast<size_t>(i)] = open ? highPassed[done + i] : 0.0f;
        }
        slap_.process(inB_.data(), left + done, right + done, n, amount);
        done += n;
    }
}

} // namespace dsp
