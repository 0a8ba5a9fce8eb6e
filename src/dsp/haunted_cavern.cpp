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
    rotCos_ = std::cos(p[13]);
    rotSin_ = std::sin(p[13]);
    earlyLevel_ = p[7];
    lineOut_ = p[12];
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

double PlateReverb::processFrame(double x) noexcept
{
    preDelay_.write(static_cast<float>(x));
    double u = preDelay_.delayed(preDelayFrames_);
    for (size_t i = 0; i < diffuser_.size(); ++i) {
        DelayRing<float>& r = diffuser_[i];
        const double d = r.at(r.writeCounter() - diffuserLength_[i]);
        const double w = u + diffuserCoeff_ * d;
        r.write(static_cast<float>(w));
        u = d - diffuserCoeff_ * w;
    }
    u *= kDiffuserOutputScale;
    // DC blocker whose state also leaks, so a stuck offset drains away.
    const double dc = u - dcIn_ + kDcPole * dcState_;
    dcIn_ = u;
    dcState_ = kDcLeak * dc;
    u = dc;

    std::array<double, kLines> v;
    double out = 0.0;
    for (int i = 0; i < kLines; ++i) {
        const auto k = static_cast<size_t>(i);
        const DelayRing<float>& line = lines_[k];
        double y;
        if (i == 0 && modDepth_ > 0.0) {
            const double m = (1.0 + parabolicSine(modPhase_)) * modDepth_;
            const double t = static_cast<double>(line.writeCounter() - lineLength_[k]) - m;
            const int64_t p = floorIndex(t);
            y = interpolateLinear(line.at(p), line.at(p + 1), t - static_cast<double>(p));
        } else {
            y = line.at(line.writeCounter() - lineLength_[k]);
        }
        out += (i & 1) != 0 ? -y : y;
        v[k] = y * lineGain_[k];
    }
    damping_.process(v);
    modPhase_ += modRate_;
    if (modPhase_ >= 1.0)
        modPhase_ -= 1.0;
    // A butterfly of plane rotations: orthogonal, so it neither adds nor removes energy.
    for (int span = 1; span < kLines; span <<= 1)
        for (int i = 0; i < kLines; ++i)
            if ((i & span) == 0) {
                const double a = v[static_cast<size_t>(i)];
                const double b = v[static_cast<size_t>(i + span)];
                v[static_cast<size_t>(i)] = rotCos_ * a - rotSin_ * b;
                v[static_cast<size_t>(i + span)] = rotSin_ * a + rotCos_ * b;
            }
    const double inject = u * 0.35355339059327373; // 1/√8 into each line
    for (int i = 0; i < kLines; ++i) {
        const auto k = static_cast<size_t>(i);
        lines_[k].write(static_cast<float>(v[k] + ((i & 2) != 0 ? -inject : inject)));
    }
    const double y = out * lineOut_ + u * earlyLevel_;
    return highShelf_.process(lowShelf_.process(y)) * outGain_;
}

void PlateReverb::process(const float* in, float* out, int frames) noexcept
{
    for (int i = 0; i < frames; ++i)
        out[i] += static_cast<float>(processFrame(in[i]));
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
    for (int i = 0; i < frames; ++i) {
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
