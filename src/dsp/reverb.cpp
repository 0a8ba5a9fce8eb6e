#include "dsp/reverb.h"

#include <algorithm>
#include <cmath>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace dsp {

namespace {

constexpr size_t kHeadroom = 264;
constexpr double kSqrtHalf = 0.7071067811865476;
constexpr double kMinus60Db = 0.001;

// Multiples of the size scale, seconds. The early all-pass and line sets
// continue the first two values of each (geometric and linear steps).
constexpr std::array<double, 4> kEarlyTap{0.0, 0.001010676, 0.002126553, 0.00335858};
constexpr std::array<double, 4> kEarlyAllPass{0.000485484, 0.0005360178, 0.0005918117, 0.0006533911};
constexpr std::array<double, 4> kEarlyLine{0.00299252, 0.005456575, 0.00792063, 0.010384685};
constexpr std::array<double, 4> kLateLine{0.00932129376, 0.0117440928, 0.0162197856, 0.0186425856};
constexpr std::array<double, 4> kLateAllPass{0.00080914, 0.001019453, 0.001407968, 0.00161828};
constexpr double kLateAllPassMean = 0.00121371025;
// Diffuser stage delays, ms, stretched by (1 + 0.11·k) for stage k.
constexpr std::array<double, 3> kDiffuserMs{3.1, 5.3, 8.9};
constexpr double kDiffuserCoeff = 0.7;

int64_t samplesOf(double seconds, double sampleRate)
{
    return static_cast<int64_t>(std::llround(seconds * sampleRate));
}

double gainDb(double linear)
{
    return 20.0 * std::log10(linear);
}

// Shelf gains are linear amplitudes floored at −60 dB; an exact 1 is the identity.
BiquadCoeffs highShelf(double freq, double gain, double sampleRate)
{
    return designHighShelf(freq, gainDb(std::max(kMinus60Db, gain)), sampleRate);
}

BiquadCoeffs lowShelf(double freq, double gain, double sampleRate)
{
    return designLowShelf(freq, gainDb(std::max(kMinus60Db, gain)), sampleRate);
}

bool peakPresent(const PeakParams& p)
{
    return p.freq > 0.0 && p.gainDb != 0.0;
}

// acc[i] += Σ_k src[k][i]·gain[k] over a chunk, a few taps per pass so the
// accumulators stay in registers, four frames per step.
void addTaps(float* acc, const float* const* src, const float* gain, int count, size_t frames) noexcept
{
    size_t i = 0;
#ifdef __SSE2__
    for (; i + 4 <= frames; i += 4) {
        __m128 a = _mm_loadu_ps(acc + i);
        for (int k = 0; k < count; ++k)
            a = _mm_add_ps(a, _mm_mul_ps(_mm_loadu_ps(src[k] + i), _mm_set1_ps(gain[k])));
        _mm_storeu_ps(acc + i, a);
    }
#endif
    for (; i < frames; ++i) {
        float a = acc[i];
        for (int k = 0; k < count; ++k)
            a += src[k][i] * gain[k];
        acc[i] = a;
    }
}

} // namespace

void Reverb::MirroredRing::prepare(size_t needed)
{
    const size_t length = ringLengthFor(needed);
    data.assign(2 * length, 0.0f);
    mask = length - 1;
    written = 0;
}

void Reverb::MirroredRing::reset() noexcept
{
    std::fill(data.begin(), data.end(), 0.0f);
    written = 0;
}

void Reverb::TapList::add(int64_t at, double g) noexcept
{
    if (g == 0.0 || count >= kMaxExplicitTaps)
        return;
    position[static_cast<size_t>(count)] = at;
    gain[static_cast<size_t>(count)] = static_cast<float>(g);
    ++count;
}

void Reverb::AllPass::prepare(int64_t samples, size_t headroom)
{
    length = std::max<int64_t>(1, samples);
    ring.prepare(static_cast<size_t>(length), headroom);
}

void Reverb::Echo::prepare(double seconds, double fb, double mix, double sampleRate, double minSeconds)
{
    on = true;
    length = std::max<int64_t>(16, samplesOf(std::max(seconds, minSeconds), sampleRate));
    feedback = fb;
    inGain = std::sqrt(std::max(0.0, 1.0 - fb * fb));
    depth = mix;
    for (auto& r : rings)
        r.prepare(static_cast<size_t>(length), kHeadroom);
}

void Reverb::Echo::process(std::array<std::array<double, kBlockLength>, kLines>& v, int frames) noexcept
{
    for (int k = 0; k < kLines; ++k) {
        DelayRing<float>& r = rings[static_cast<size_t>(k)];
        double* x = v[static_cast<size_t>(k)].data();
        for (int i = 0; i < frames; ++i) {
            const double delayed = r.at(r.writeCounter() - length);
            r.write(static_cast<float>(x[i] * inGain + delayed * feedback));
            x[i] = (1.0 - depth) * x[i] + depth * delayed;
        }
    }
}

std::unique_ptr<Reverb> Reverb::create(double sampleRate, int preset)
{
    auto reverb = std::make_unique<Reverb>();
    reverb->prepare(sampleRate, preset);
    return reverb;
}

void Reverb::prepare(double sampleRate, const RoomParams& params)
{
    const double fs = sampleRate > 0.0 ? sampleRate : 48000.0;
    sampleRate_ = fs;
    params_ = params;
    const RoomParams& p = params_;
    const double S = roomSizeScale(p.density);
    sizeScale_ = S;

    // Decay times. The HF limit keeps the HF decay within what the air
    // absorption allows for this decay time.
    const double T = std::max(p.decayTime, 0.1);
    double hfRatio = p.decayHfRatio;
    if (p.decayHfLimit != 0 && p.airAbsorptionHf < 1.0) {
        const double limit = 0.0029129041654529565 / (std::log10(std::max(p.airAbsorptionHf, 1e-12)) * T / -3.0);
        hfRatio = std::min(hfRatio, limit);
    }
    decayHf_ = std::clamp(T * hfRatio, 0.1, 20.0);
    decayLf_ = std::clamp(T * p.decayLfRatio, 0.1, 20.0);

    const double hfNorm = std::min(p.hfReference / fs, 0.49);
    const double lfNorm = std::min(p.lfReference / fs, 0.49);
    const double lateHfNorm = p.lateFilterReference > 0.0 ? std::min(p.lateFilterReference / fs, 0.49) : hfNorm;

    // Input shelving for the main path, the explicit-tap input and the explicit mono sum.
    const BiquadCoeffs inHf = highShelf(hfNorm * fs / std::sqrt(2.0), p.gainHf * p.gainHf, fs);
    const BiquadCoeffs inLf = lowShelf(lfNorm * fs * std::sqrt(2.0), p.gainLf * p.gainLf, fs);
    for (Biquad* b : {&inputHf_, &tapHf_, &monoHf_})
        b->setCoeffs(inHf);
    for (Biquad* b : {&inputLf_, &tapLf_, &monoLf_})
        b->setCoeffs(inLf);
    const BiquadCoeffs inPeak = peakPresent(p.inputPeak)
        ? designPeaking(p.inputPeak.freq, p.inputPeak.q, p.inputPeak.gainDb, fs)
        : BiquadCoeffs{};
    tapPeak_.setCoeffs(inPeak);
    monoPeak_.setCoeffs(inPeak);

    // Early section.
    int64_t longestTap = 0;
    for (int i = 0; i < kLines; ++i) {
        const auto u = static_cast<size_t>(i);
        earlyTap_[u] = std::max<int64_t>(0, samplesOf(p.earlyTapSpread * kEarlyTap[u] * S + p.reflectionsDelay, fs));
        longestTap = std::max(longestTap, earlyTap_[u]);
        earlyAllPass_[u].prepare(samplesOf(kEarlyAllPass[u] * S, fs), kHeadroom);
        earlyLine_[u].length = std::max<int64_t>(1, samplesOf(kEarlyLine[u] * S, fs));
        earlyLine_[u].ring.prepare(static_cast<size_t>(earlyLine_[u].length), kHeadroom);
    }
    input_.prepare(static_cast<size_t>(longestTap) + 1, kHeadroom);
    earlyGain_ = p.diffusion * p.diffusion * kSqrtHalf;

    // Late section: an orthogonal scatter whose spread grows with the diffusion.
    const double t = p.diffusion * std::atan(std::sqrt(3.0));
    scatterX_ = std::cos(t);
    scatterY_ = std::sin(t) / std::sqrt(3.0);

    modRate_ = 1.0 / (std::max(p.modulationTime, 0.0001) * fs);
    modDepth_ = std::min(0.25, std::max(p.modulationTime, 0.0001)) * 0.0125 * p.modulationDepth * fs;
    modDepth_ = std::max(0.0, modDepth_);

    double meanLine = 0.0;
    hasLatePeak_ = p.decayPeak.freq > 0.0 && p.decayPeak.gainDb != 0.0;
    for (int i = 0; i < kLines; ++i) {
        const auto u = static_cast<size_t>(i);
        const double seconds = p.lateLineMultiplier[u] * kLateLine[u] * S;
        meanLine += p.lateLineMultiplier[u] * kLateLine[u] / kLines;
        lateDelay_[u] = std::max<int64_t>(0, samplesOf(seconds, fs) - 1);
        // Six-point reads reach two frames beyond the modulated position.
        late_[u].prepare(
            static_cast<size_t>(lateDelay_[u] + static_cast<int64_t>(std::ceil(2.0 * modDepth_)) + 4), kHeadroom);
        lateAllPass_[u].prepare(samplesOf(kLateAllPass[u] * S, fs), kHeadroom);

        // The loop's delay: the line, its mean modulation and its all-pass.
        const double d = (static_cast<double>(lateDelay_[u] + 1 + lateAllPass_[u].length) + modDepth_) / fs;
        const double mid = std::pow(kMinus60Db, d / T);
        lateDecay_[u] = mid;
        lateLf_.setCoeffs(u, lowShelf(lfNorm * fs, std::pow(kMinus60Db, d / decayLf_) / mid, fs));
        lateHf_.setCoeffs(u, highShelf(lateHfNorm * fs, std::pow(kMinus60Db, d / decayHf_) / mid, fs));
        latePeak_.setCoeffs(u, 
            hasLatePeak_ ? designPeaking(p.decayPeak.freq, p.decayPeak.q, d * p.decayPeak.gainDb, fs) : BiquadCoeffs{});
        phase_[u] = p.modulationPhase[u] - std::floor(p.modulationPhase[u]);
    }

    // The late input is scaled so that its energy, summed over the decay, does
    // not depend on how long the lines are. The decay is weighted by the share
    // of the band each of the three decay times governs.
    const double bandDecay = (decayLf_ * lfNorm + T * std::max(0.0, hfNorm - lfNorm) + decayHf_ * (0.5 - hfNorm)) / 0.5;
    const double meanPath = (meanLine + kLateAllPassMean) * S;
    const double g = std::pow(kMinus60Db, meanPath / std::max(bandDecay, 0.1));
    densityGain_ = std::sqrt(std::max(0.0, 1.0 - g * g));

    hasDiffuser_ = p.diffuser[1] >= 0.0;
    if (hasDiffuser_) {
        for (int k = 0; k < kLines; ++k)
            for (int j = 0; j < 3; ++j)
                diffuser_[static_cast<size_t>(k)][static_cast<size_t>(j)].prepare(
                    std::max<int64_t>(2, samplesOf((1.0 + 0.11 * k) * kDiffuserMs[static_cast<size_t>(j)] * 0.001, fs)),
                    kHeadroom);
        diffuserShared_ = (p.diffuser[0] - p.diffuser[1]) / 4.0;
        diffuserOwn_ = p.diffuser[1];
    }

    echo_ = {};
    if (p.echoDepth > 0.0)
        echo_.prepare(p.echoTime, std::pow(kMinus60Db, p.echoTime / T), std::min(p.echoDepth, 1.0), fs, 0.03);
    for (size_t e = 0; e < extraEcho_.size(); ++e) {
        extraEcho_[e] = {};
        if (p.extraEchoGain[e] > 0.0)
            extraEcho_[e].prepare(p.extraEchoDelay[e], std::clamp(p.extraEchoFeedback[e], 0.0, 0.98),
                std::min(p.extraEchoGain[e], 1.0), fs, 0.002);
    }

    // Wet equalization.
    hasWetFilters_ = false;
    for (size_t i = 0; i < wetPeaks_.size(); ++i) {
        hasWetPeak_[i] = peakPresent(p.wetPeaks[i]);
        wetPeaks_[i].setCoeffs(hasWetPeak_[i]
                ? designPeaking(p.wetPeaks[i].freq, p.wetPeaks[i].q, p.wetPeaks[i].gainDb, fs)
                : BiquadCoeffs{});
        hasWetFilters_ = hasWetFilters_ || hasWetPeak_[i];
    }
    for (size_t i = 0; i < midFilter_.size(); ++i) {
        const PeakParams& m = p.midSide[i];
        const bool on = peakPresent(m);
        midFilter_[i].setCoeffs(on ? designPeaking(m.freq, m.q, -0.5 * m.gainDb, fs) : BiquadCoeffs{});
        sideFilter_[i].setCoeffs(on ? designPeaking(m.freq, m.q, 0.5 * m.gainDb, fs) : BiquadCoeffs{});
        hasWetFilters_ = hasWetFilters_ || on;
    }
    const bool shelf = p.outputShelfFreq > 0.0 && p.outputShelfDb != 0.0;
    outputShelf_.setCoeffs(shelf ? designLowShelf(p.outputShelfFreq, p.outputShelfDb, fs) : BiquadCoeffs{});
    hasWetFilters_ = hasWetFilters_ || shelf || p.lateMidGain != 1.0;

    // Explicit taps.
    const int stereoTaps = p.stereoTaps != nullptr ? std::clamp(p.stereoTapCount, 0, kMaxExplicitTaps) : 0;
    const int monoTaps = p.monoTaps != nullptr && stereoTaps > 0 ? std::clamp(p.monoTapCount, 0, kMaxExplicitTaps) : 0;
    hasTaps_ = stereoTaps > 0;
    tapsLeft_.count = tapsRight_.count = tapsMono_.count = 0;
    int64_t longest = 0;
    const auto position = [&](double ms) { return std::max<int64_t>(0, samplesOf(ms * 0.001, fs) - p.tapOffset); };
    for (int i = 0; i < stereoTaps; ++i) {
        const int64_t at = position(p.stereoTaps[i].ms);
        tapsLeft_.add(at, p.stereoTaps[i].left * p.tapGainScale);
        tapsRight_.add(at, p.stereoTaps[i].right * p.tapGainScale);
        longest = std::max(longest, at);
    }
    for (int i = 0; i < monoTaps; ++i) {
        const int64_t at = position(p.monoTaps[i].ms);
        tapsMono_.add(at, p.monoTaps[i].gain * p.tapGainScale);
        longest = std::max(longest, at);
    }
    if (hasTaps_) {
        tapCompensated_.prepare(static_cast<size_t>(longest) + 1 + kHeadroom);
        tapSent_.prepare(static_cast<size_t>(longest) + 1 + kHeadroom);
    } else {
        tapCompensated_.prepare(1);
        tapSent_.prepare(1);
    }

    reset();
}

void Reverb::reset() noexcept
{
    for (Biquad* b : {&inputHf_, &inputLf_, &tapHf_, &tapLf_, &tapPeak_, &monoHf_, &monoLf_, &monoPeak_, &outputShelf_})
        b->reset();
    input_.reset();
    for (BiquadBank<kLines>* b : {&lateLf_, &lateHf_, &latePeak_})
        b->reset();
    for (int i = 0; i < kLines; ++i) {
        const auto u = static_cast<size_t>(i);
        earlyAllPass_[u].ring.reset();
        earlyLine_[u].ring.reset();
        late_[u].reset();
        lateAllPass_[u].ring.reset();
        for (AllPass& a : diffuser_[u])
            a.ring.reset();
        phase_[u] = params_.modulationPhase[u] - std::floor(params_.modulationPhase[u]);
    }
    for (Echo* e : {&echo_, &extraEcho_[0], &extraEcho_[1]})
        for (auto& r : e->rings)
            r.reset();
    for (auto& w : wetPeaks_)
        w.reset();
    for (size_t i = 0; i < midFilter_.size(); ++i) {
        midFilter_[i].reset();
        sideFilter_[i].reset();
    }
    tapCompensated_.reset();
    tapSent_.reset();
}

void Reverb::setTapGains(float send, float compensation) noexcept
{
    sendGain_ = std::isfinite(send) ? send : 0.0;
    compensationGain_ = std::isfinite(compensation) ? compensation : 1.0;
}

void Reverb::mix(std::array<double, kLines>& v) const noexcept
{
    const double x = scatterX_, y = scatterY_;
    const double e0 = v[0], e1 = v[1], e2 = v[2], e3 = v[3];
    v[0] = (e0 - e1 + e2) * y + x * e3;
    v[1] = (e1 - e3 + e2) * y + x * e0;
    v[2] = (e3 - e0 + e2) * y + x * e1;
    v[3] = (-e3 - e0 - e1) * y + x * e2;
}

void Reverb::readLate(const std::array<double, kLines>& modulation, std::array<double, kLines>& out) const noexcept
{
    // y[k][line]: the six points y[−2] .. y[3] around each read, line by line,
    // so the weights of two lines are worked out side by side.
    std::array<std::array<double, kLines>, 6> y;
    std::array<double, kLines> f;
    for (size_t u = 0; u < kLines; ++u) {
        const DelayRing<float>& ring = late_[u];
        const double t = static_cast<double>(ring.writeCounter() - 1 - lateDelay_[u]) - modulation[u];
        const int64_t i = floorIndex(t);
        f[u] = t - static_cast<double>(i);
        for (size_t k = 0; k < 6; ++k)
            y[k][u] = ring.at(i - 2 + static_cast<int64_t>(k));
    }
    // Lagrange weights w_k = c_k · Π_{j≠k} (f + 2 − j), from prefix and suffix
    // products; the constants c_k have denominators ∓120, ±24, ∓12.
    constexpr double k120 = 1.0 / 120.0, k24 = 1.0 / 24.0, k12 = 1.0 / 12.0;
    for (size_t u = 0; u < kLines; ++u) {
        const double x = f[u];
        const double d0 = x + 2.0, d1 = x + 1.0, d2 = x, d3 = x - 1.0, d4 = x - 2.0, d5 = x - 3.0;
        const double p1 = d0, p2 = p1 * d1, p3 = p2 * d2, p4 = p3 * d3, p5 = p4 * d4;
        const double s4 = d5, s3 = s4 * d4, s2 = s3 * d3, s1 = s2 * d2, s0 = s1 * d1;
        out[u] = -s0 * k120 * y[0][u] + p1 * s1 * k24 * y[1][u] - p2 * s2 * k12 * y[2][u] + p3 * s3 * k12 * y[3][u]
            - p4 * s4 * k24 * y[4][u] + p5 * k120 * y[5][u];
    }
}

void Reverb::processTaps(int frames) noexcept
{
    const RoomParams& p = params_;
    const auto n = static_cast<size_t>(frames);
    std::fill_n(tapLeft_.begin(), n, 0.0f);
    std::fill_n(tapRight_.begin(), n, 0.0f);
    std::fill_n(monoSum_.begin(), n, 0.0f);
    std::fill_n(explicitIn_.begin(), n, 0.0);
    if (!hasTaps_)
        return;
    const int64_t base = tapCompensated_.written;
    for (size_t i = 0; i < n; ++i) {
        double u = tapHf_.process(static_cast<double>(scratch_[i]) * p.gain);
        u = tapPeak_.process(tapLf_.process(u));
        tapCompensated_.write(static_cast<float>(u * compensationGain_));
        tapSent_.write(static_cast<float>(u * sendGain_));
    }
    // Fixed reflections straight to the output, and a sparse cluster that
    // joins the input of the network.
    const auto sum = [&](const MirroredRing& ring, const TapList& taps, float* acc) {
        constexpr int kGroup = 8;
        std::array<const float*, kGroup> src{};
        for (int k = 0; k < taps.count; k += kGroup) {
            const int count = std::min(kGroup, taps.count - k);
            for (int j = 0; j < count; ++j)
                src[static_cast<size_t>(j)] = ring.run(base - taps.position[static_cast<size_t>(k + j)]);
            addTaps(acc, src.data(), &taps.gain[static_cast<size_t>(k)], count, n);
        }
    };
    sum(tapCompensated_, tapsLeft_, tapLeft_.data());
    sum(tapCompensated_, tapsRight_, tapRight_.data());
    sum(tapSent_, tapsMono_, monoSum_.data());
    const double unGain = p.gain > 1e-9 ? 1.0 / p.gain : 0.0;
    for (size_t i = 0; i < n; ++i)
        explicitIn_[i] = monoPeak_.process(monoLf_.process(monoHf_.process(monoSum_[i] * unGain)));
}

void Reverb::processNetwork(int frames) noexcept
{
    const RoomParams& p = params_;
    for (int frame = 0; frame < frames; ++frame) {
        const auto f = static_cast<size_t>(frame);
        const double x = scratch_[f];
        input_.write(static_cast<float>(inputLf_.process(inputHf_.process((x + explicitIn_[f]) * 0.5))));

        // Early section: four taps, a reflection about their mean, all-passes and lines.
        std::array<double, kLines> e;
        for (int i = 0; i < kLines; ++i)
            e[static_cast<size_t>(i)] = input_.delayed(earlyTap_[static_cast<size_t>(i)]) * p.gain;
        const double h = (e[0] + e[1] + e[2] + e[3]) * 0.5;
        for (int i = 0; i < kLines; ++i) {
            const auto u = static_cast<size_t>(i);
            const double v = earlyAllPass_[u].process(e[u] - h, earlyGain_);
            e[u] = earlyLine_[u].process(v) * earlyGain_;
            early_[u][f] = e[u];
        }

        // Late section.
        mix(e);
        std::array<double, kLines> l;
        if (modDepth_ > 0.0) {
            std::array<double, kLines> m;
            for (size_t u = 0; u < kLines; ++u) {
                m[u] = (1.0 + parabolicSine(phase_[u])) * modDepth_;
                phase_[u] += modRate_;
                if (phase_[u] >= 1.0)
                    phase_[u] -= 1.0;
            }
            readLate(m, l);
        } else {
            for (size_t u = 0; u < kLines; ++u)
                l[u] = late_[u].delayed(lateDelay_[u]);
        }
        for (size_t u = 0; u < kLines; ++u)
            l[u] *= lateDecay_[u];
        lateLf_.process(l);
        lateHf_.process(l);
        if (hasLatePeak_)
            latePeak_.process(l);
        for (size_t u = 0; u < kLines; ++u) {
            l[u] += e[u] * densityGain_;
            l[u] = lateAllPass_[u].process(l[u], earlyGain_);
        }
        mix(l);
        for (int i = 0; i < kLines; ++i) {
            const auto u = static_cast<size_t>(i);
            late_[u].write(static_cast<float>(l[u]));
            lateOut_[u][f] = l[u];
        }
    }
}

void Reverb::processDiffuser(int frames) noexcept
{
    for (int k = 0; k < kLines; ++k) {
        double* v = lateOut_[static_cast<size_t>(k)].data();
        for (AllPass& a : diffuser_[static_cast<size_t>(k)])
            for (int i = 0; i < frames; ++i)
                v[i] = a.process(v[i], kDiffuserCoeff);
    }
    for (int frame = 0; frame < frames; ++frame) {
        const auto f = static_cast<size_t>(frame);
        std::array<double, kLines> l{lateOut_[0][f], lateOut_[1][f], lateOut_[2][f], lateOut_[3][f]};
        const double sum = l[0] + l[1] + l[2] + l[3];
        for (double& v : l)
            v = diffuserShared_ * sum + diffuserOwn_ * v;
        mix(l);
        for (size_t u = 0; u < kLines; ++u)
            lateOut_[u][f] = l[u];
    }
}

void Reverb::processOutput(float* left, float* right, int frames) noexcept
{
    const RoomParams& p = params_;
    for (int frame = 0; frame < frames; ++frame) {
        const auto f = static_cast<size_t>(frame);
        // First-order B-format-like sums of the lines, decoded to a pair.
        std::array<double, kLines> l, e;
        for (size_t u = 0; u < kLines; ++u) {
            l[u] = lateOut_[u][f] * p.lateGain;
            e[u] = early_[u][f] * p.reflectionsGain;
        }
        const double wl = (l[0] + l[1] + l[2] + l[3]) * 0.5;
        const double yl = (l[1] - l[0] + l[2] - l[3]) * 0.5;
        const double we = (e[0] + e[1] + e[2] + e[3]) * 0.5;
        const double ye = (e[1] - e[0] + e[2] - e[3]) * 0.5;
        double outL, outR;
        if (!hasWetFilters_) {
            outL = (we + ye + wl + yl) * kSqrtHalf;
            outR = (we + wl - ye - yl) * kSqrtHalf;
        } else {
            float lateL = static_cast<float>((wl + yl) * kSqrtHalf);
            float lateR = static_cast<float>((wl - yl) * kSqrtHalf);
            for (size_t i = 0; i < wetPeaks_.size(); ++i)
                if (hasWetPeak_[i])
                    wetPeaks_[i].process(lateL, lateR);
            double mid = (static_cast<double>(lateL) + lateR) * 0.5;
            double side = (static_cast<double>(lateL) - lateR) * 0.5;
            for (size_t i = 0; i < midFilter_.size(); ++i) {
                mid = midFilter_[i].process(mid);
                side = sideFilter_[i].process(side);
            }
            mid = outputShelf_.process(mid * p.lateMidGain);
            outL = mid + side + (we + ye) * kSqrtHalf;
            outR = mid - side + (we - ye) * kSqrtHalf;
        }
        left[f] = static_cast<float>(outL + tapLeft_[f] * p.reflectionsGain);
        right[f] = static_cast<float>(outR + tapRight_[f] * p.reflectionsGain);
    }
}

void Reverb::process(const float* input, const float* input2, float* left, float* right, int frames) noexcept
{
    int done = 0;
    while (done < frames) {
        const int n = std::min(kBlockLength, frames - done);
        for (int i = 0; i < n; ++i) {
            float x = input != nullptr ? input[done + i] : 0.0f;
            if (input2 != nullptr)
                x = (x + input2[done + i]) * 0.5f;
            scratch_[static_cast<size_t>(i)] = std::isfinite(x) ? x : 0.0f;
        }
        processTaps(n);
        processNetwork(n);
        if (hasDiffuser_)
            processDiffuser(n);
        for (Echo* e : {&echo_, &extraEcho_[0], &extraEcho_[1]})
            if (e->on)
                e->process(lateOut_, n);
        processOutput(left + done, right + done, n);
        done += n;
    }
}

} // namespace dsp
