#include "dsp/noise_isolation.h"

#include "dsp/biquad.h"
#include "dsp/crossfade.h"
#include "dsp/gain.h"

#include <algorithm>
#include <cmath>

namespace dsp {
namespace {

constexpr double kOutOfBandPassGain = 0.0316; // band limit without suppression, about −30 dB
constexpr double kNoiseFloorPower = 1e-20;    // −200 dB
constexpr double kLevelFloorPower = 1e-30;    // −300 dB
constexpr double kMinXi = 0.0032;
constexpr double kNoiseStep = 1.5; // 1.8 dB over the estimate
constexpr double kNoiseStepBias = 1.15;
// Far beyond any microphone signal, and small enough that powers stay finite.
constexpr float kInputLimit = 1000.0f;
// The speech gate watches the band that carries most voiced energy.
constexpr double kDetectorLowHz = 200.0;
constexpr double kDetectorHighHz = 4000.0;
// A closed gate fades by this much per hop (75 dB in 0.4 s), after its hold.
constexpr double kGateFallDbPerHop = 1.0;
// After a key press or click, sounds that do not continue speech are held
// off for about 160 ms: long enough for a keystroke's rattle.
constexpr int kActivityHops = 30;
// For the first 43 ms no bin may rise over its level before the press, and that
// allowance grows by 1.8 dB a hop, so a voice that starts then comes through
// within a few hops while a click's sudden burst does not.
constexpr int kClickHops = 8; // a click and its rattle, through the 1024-frame window
constexpr double kClickHeadroom = 1.0;
// A click is bright: at least a third of its energy lies above 4 kHz, where a
// voiced onset has little. Together with the jump across the whole band this
// tells an unreported click from a word starting.
constexpr double kClickHighHz = 4000.0;
constexpr double kClickHighShare = 0.5;
constexpr double kClickJump = 8.0; // 9 dB over the level before the press
constexpr double kClickRefGrowth = 1.5;
// Bins either side of a peak that its main lobe covers, through the window and the power smoothing.
constexpr int kLobeBins = 2;
// The lowest gain a bin inside the band takes while speech is in the history (−25 dB).
constexpr double kSpeechFloor = 0.056234;
// Hops a candidate must last (43 ms) before it may set or raise the talker level.
constexpr int kSustainedHops = 8;
// How fast the per-bin gains give way to a uniform floor once speech has
// left the 20-hop history: to 1 % in about 50 ms.
constexpr double kSpeechWeightFall = 0.6;

} // namespace

int isolationModeOf(int32_t stored) noexcept
{
    if (stored < 0)
        return 0;
    if (stored > kIsolationVocalMode)
        return 3;
    return stored;
}

IsolationParams mapIsolation(int mode, int level, double sampleRate)
{
    IsolationParams p;
    const int m = std::clamp(mode, 0, 3);
    const double L = std::clamp(level, 0, 100);
    p.mode = m;
    p.level = static_cast<int>(L);

    double b = 0.62 * L + 14.0;
    const double h = L <= 40.0 ? 0.0 : (L - 40.0) / 60.0;
    p.enabled = m != 0;
    const bool t = !(m == 1 && L < 30.0);
    p.delta = 4.0 * h + 5.0;
    p.beta = 0.5 * h + 1.0;
    double g = b + 24.0;
    switch (m) {
    case 0:
        b = 0.0;
        g = b + 24.0;
        break;
    case 1:
        g = 0.5 * L + 30.0;
        break;
    case 3:
        p.lowHz = 80.0;
        p.highHz = 9000.0;
        p.delta += 1.5;
        b += 6.0;
        g = b + 24.0;
        break;
    default:
        g = b + 24.0;
        break;
    }
    p.strong = t && L >= 70.0 && m != 1;
    if (p.strong) {
        p.lowHz = std::max(p.lowHz, 80.0);
        b += (L - 70.0) * 0.3 + 8.0;
        g = b + 24.0;
        p.highHz = std::min(p.highHz, 8000.0);
    }
    p.floorDb = b;
    p.gateDb = g;
    p.gmin = dbToGain(-b);

    const double d = L <= 80.0 ? 0.0 : (L - 80.0) / 20.0;
    p.holdHops = (0.4 - 0.1 * h - 0.12 * d) * sampleRate / kIsolationHop;
    p.secondCount = 200.0 - 130.0 * d;
    if (L > 29.0) {
        p.thresholdA = std::max(11.0, 30.0 - (L - 30.0) * 0.36);
        p.thresholdB = L < 50.0 ? 0.0 : std::max(10.0, 16.0 - (L - 50.0) * 0.2);
    } else {
        p.thresholdA = 99.0;
        p.thresholdB = 0.0;
    }
    const double detectorFrom = m == 3 ? 35.0 : m == 1 ? 50.0 : 45.0;
    p.detector = t && L >= detectorFrom;
    p.mixFactor = m == 3 ? 0.4 : 0.45;

    const double binsPerHz = kIsolationFftSize / sampleRate;
    p.binLo = std::clamp(static_cast<int>(std::ceil(p.lowHz * binsPerHz)), 0, kIsolationBins - 1);
    p.binHi = std::clamp(static_cast<int>(std::floor(p.highHz * binsPerHz)), 0, kIsolationBins - 1);
    return p;
}

double expIntegralE1(double v) noexcept
{
    if (!(v > 0.0))
        return 50.0;
    if (v < 1.0) {
        const double v2 = v * v;
        return -0.5772156649015329 - std::log(v) + v - v2 / 4.0 + v2 * v / 18.0 - v2 * v2 / 96.0 + v2 * v2 * v / 600.0;
    }
    if (v <= 50.0)
        return std::exp(-v) / v * (v * v + 2.334733 * v + 0.250621) / (v * v + 3.330657 * v + 1.681534);
    return 0.0;
}

void NoiseSuppressor::prepare(double sampleRate)
{
    sampleRate_ = sampleRate > 0.0 ? sampleRate : 48000.0;
    fft_.prepare(kIsolationFftSize);
    window_.assign(kIsolationFftSize, 0.0f);
    fillSqrtHann(window_.data(), window_.size());
    input_.assign(kIsolationFftSize, 0.0f);
    frame_.assign(kIsolationFftSize, 0.0f);
    overlap_.assign(kIsolationFftSize, 0.0f);
    outQueue_.assign(kIsolationHop, 0.0f);
    spectrum_.assign(kIsolationBins, {});
    for (auto* v : {&power_, &smoothed_, &minimum_, &runningMin_, &presence_, &lambda_, &cleanPower_, &gain_, &gainH1_,
             &clickRef_})
        v->assign(kIsolationBins, 0.0);
    const double binsPerHz = kIsolationFftSize / sampleRate_;
    detLo_ = static_cast<int>(std::ceil(kDetectorLowHz * binsPerHz));
    highBin_ = static_cast<int>(std::ceil(kClickHighHz * binsPerHz));
    detHi_ = std::min(kIsolationBins - 2, static_cast<int>(std::floor(kDetectorHighHz * binsPerHz)));
    if (params_.binHi == 0)
        setParameters(mapIsolation(0, 0, sampleRate_));
    reset();
}

void NoiseSuppressor::reset() noexcept
{
    std::fill(input_.begin(), input_.end(), 0.0f);
    std::fill(overlap_.begin(), overlap_.end(), 0.0f);
    std::fill(outQueue_.begin(), outQueue_.end(), 0.0f);
    for (auto* v : {&smoothed_, &minimum_, &runningMin_, &presence_, &lambda_, &cleanPower_})
        std::fill(v->begin(), v->end(), 0.0);
    std::fill(gain_.begin(), gain_.end(), 1.0);
    std::fill(gainH1_.begin(), gainH1_.end(), 1.0);
    fill_ = 0;
    hops_ = 0;
    minWindowCount_ = 0;
    talkerStarted_ = false;
    talkerDb_ = peakDb_ = secondDb_ = -200.0;
    farCount_ = 0.0;
    candidateRun_ = 0;
    release_ = 0.0;
    nonSpeechHops_ = 0.0;
    gateGain_ = 1.0;
    speechWeight_ = 1.0;
    activityHops_ = 0;
    clickHops_ = 0;
    history_.fill(0);
    historyPos_ = 0;
    historySpeech_ = 0;
}

void NoiseSuppressor::setParameters(const IsolationParams& params) noexcept
{
    params_ = params;
    params_.binLo = std::clamp(params_.binLo, 0, kIsolationBins - 1);
    params_.binHi = std::clamp(params_.binHi, 0, kIsolationBins - 1);
    gateGainFloor_ = dbToGain(-std::max(0.0, params_.gateDb));
}

void NoiseSuppressor::shiftLevel(double db) noexcept
{
    if (!std::isfinite(db) || db == 0.0)
        return;
    const double factor = dbToPower(db);
    for (int k = 0; k < kIsolationBins; ++k) {
        lambda_[k] = std::max(lambda_[k] * factor, kNoiseFloorPower);
        smoothed_[k] = std::max(smoothed_[k] * factor, kLevelFloorPower);
        minimum_[k] = std::max(minimum_[k] * factor, kLevelFloorPower);
        runningMin_[k] = std::max(runningMin_[k] * factor, kLevelFloorPower);
    }
    if (talkerStarted_) {
        talkerDb_ += db;
        peakDb_ += db;
        secondDb_ += db;
    }
}

void NoiseSuppressor::noteInputActivity() noexcept
{
    // The level of each bin just before the key press is what a click may not exceed.
    if (activityHops_ == 0)
        std::copy(smoothed_.begin(), smoothed_.end(), clickRef_.begin());
    activityHops_ = kActivityHops;
}

bool NoiseSuppressor::looksLikeClick() const noexcept
{
    if (hops_ == 0)
        return false;
    int jumped = 0;
    double low = 0.0, high = 0.0;
    for (int k = params_.binLo; k <= params_.binHi; ++k) {
        jumped += power_[k] > kClickJump * smoothed_[k];
        (k < highBin_ ? low : high) += power_[k];
    }
    return jumped * 2 > params_.binHi - params_.binLo + 1 && high > kClickHighShare * low;
}

void NoiseSuppressor::limitClicks() noexcept
{
    // A click jumps across the whole band at once; a voice starting up
    // rises in its own harmonics and formants. Only a broadband jump is cut.
    int jumped = 0;
    for (int k = params_.binLo; k <= params_.binHi; ++k)
        jumped += power_[k] > kClickJump * clickRef_[k];
    const bool click = jumped * 2 > params_.binHi - params_.binLo + 1;
    for (int k = params_.binLo; k <= params_.binHi; ++k) {
        const double limit = kClickHeadroom * clickRef_[k];
        const double P = power_[k];
        if (click && P > limit)
            gain_[k] = std::min(gain_[k], std::sqrt(limit / P));
        clickRef_[k] *= kClickRefGrowth;
    }
}

void NoiseSuppressor::process(float* samples, int frames) noexcept
{
    int i = 0;
    while (i < frames) {
        const int n = std::min(frames - i, kIsolationHop - fill_);
        float* in = input_.data() + (kIsolationFftSize - kIsolationHop) + fill_;
        for (int j = 0; j < n; ++j) {
            const float x = samples[i + j];
            in[j] = std::isfinite(x) ? std::clamp(x, -kInputLimit, kInputLimit) : 0.0f;
            samples[i + j] = outQueue_[static_cast<size_t>(fill_ + j)];
        }
        fill_ += n;
        i += n;
        if (fill_ == kIsolationHop) {
            processHop();
            fill_ = 0;
        }
    }
}

void NoiseSuppressor::processHop() noexcept
{
    for (int i = 0; i < kIsolationFftSize; ++i)
        frame_[i] = input_[i] * window_[i];
    fft_.forward(frame_.data(), spectrum_.data());

    // Power, smoothed across neighbouring bins to tame the estimator's variance.
    for (int k = 0; k < kIsolationBins; ++k)
        gain_[k] = std::norm(std::complex<double>(spectrum_[k])); // raw power, parked in gain_ for a moment
    power_[0] = gain_[0];
    power_[kIsolationBins - 1] = gain_[kIsolationBins - 1];
    for (int k = 1; k < kIsolationBins - 1; ++k)
        power_[k] = 0.25 * gain_[k - 1] + 0.5 * gain_[k] + 0.25 * gain_[k + 1];

    // A click nobody reported: cut it the same way as a reported one.
    if (clickHops_ == 0 && activityHops_ == 0 && looksLikeClick()) {
        std::copy(smoothed_.begin(), smoothed_.end(), clickRef_.begin());
        clickHops_ = kClickHops;
    }
    trackAndGain();
    // The speech decisions run at every level; only with the detector flag
    // does the gate act on them.
    speechGate();
    if (!params_.detector)
        gateGain_ = 1.0;
    // While the voice is on, no bin inside the band falls more than 25 dB:
    // the floor between harmonics stays natural and cannot flicker. And the
    // log-spectral gain itself applies there, widened to the window's main
    // lobe around each peak: a harmonic is kept whole, skirts included, and a
    // weak one the presence measure missed is kept at its estimated share
    // rather than floored.
    if (historySpeech_ > 0) {
        const double floor = std::max(params_.gmin, kSpeechFloor);
        for (int k = params_.binLo; k <= params_.binHi; ++k) {
            double lobe = floor;
            for (int j = std::max(0, k - kLobeBins); j <= std::min(kIsolationBins - 1, k + kLobeBins); ++j)
                lobe = std::max(lobe, gainH1_[j]);
            gain_[k] = std::max(gain_[k], lobe);
        }
    }
    // Away from speech every bin takes the floor alike: the noise keeps its
    // shape instead of breaking into the isolated tones of bins that
    // happen to poke above the threshold ("musical noise").
    if (speechWeight_ == 0.0) {
        for (int k = params_.binLo; k <= params_.binHi; ++k)
            gain_[k] = params_.gmin;
    } else if (speechWeight_ < 1.0) {
        const double w = speechWeight_;
        const double lnGmin = std::log(std::max(params_.gmin, 1e-12));
        for (int k = params_.binLo; k <= params_.binHi; ++k)
            gain_[k] = std::exp(w * std::log(gain_[k]) + (1.0 - w) * lnGmin);
    }
    if (activityHops_ > kActivityHops - kClickHops || clickHops_ > 0)
        limitClicks();
    if (activityHops_ > 0)
        --activityHops_;
    if (clickHops_ > 0)
        --clickHops_;

    const float gate = static_cast<float>(gateGain_);
    for (int k = 0; k < kIsolationBins; ++k)
        spectrum_[k] *= static_cast<float>(gain_[k]) * gate;
    fft_.inverse(spectrum_.data(), frame_.data());

    // Square-root Hann on both sides at a quarter-frame hop sums to 2.
    constexpr float kScale = 1.0f / (2.0f * kIsolationFftSize);
    for (int i = 0; i < kIsolationFftSize; ++i)
        overlap_[i] += frame_[i] * window_[i] * kScale;

    ++hops_;
    if (hops_ <= kIsolationSettlingHops) {
        std::fill(outQueue_.begin(), outQueue_.end(), 0.0f);
    } else if (hops_ == kIsolationSettlingHops + 1) {
        // Fade in after the settling silence rather than starting with a step.
        for (int i = 0; i < kIsolationHop; ++i) {
            const double s = std::sin((i + 0.5) * (0.5 * kPi) / kIsolationHop);
            outQueue_[i] = overlap_[i] * static_cast<float>(s * s);
        }
    } else {
        std::copy_n(overlap_.begin(), kIsolationHop, outQueue_.begin());
    }
    std::copy(overlap_.begin() + kIsolationHop, overlap_.end(), overlap_.begin());
    std::fill(overlap_.end() - kIsolationHop, overlap_.end(), 0.0f);
    std::copy(input_.begin() + kIsolationHop, input_.end(), input_.begin());
}

void NoiseSuppressor::trackAndGain() noexcept
{
    const IsolationParams& p = params_;
    const bool first = hops_ == 0;
    const double lnGmin = std::log(std::max(p.gmin, 1e-12));
    for (int k = 0; k < kIsolationBins; ++k) {
        const double P = power_[k];
        if (first) {
            smoothed_[k] = minimum_[k] = runningMin_[k] = lambda_[k] = P;
        } else {
            smoothed_[k] = 0.8 * smoothed_[k] + 0.2 * P;
            minimum_[k] = std::min(minimum_[k], smoothed_[k]);
            runningMin_[k] = std::min(runningMin_[k], smoothed_[k]);
        }
        presence_[k] = 0.2 * presence_[k] + (smoothed_[k] > p.delta * minimum_[k] ? 0.8 : 0.0);
        const double alpha = 0.95 + 0.05 * presence_[k];
        // Power far above the estimate (a click, a knock, a word in a bin
        // the presence measure missed) enters it only as a modest step:
        // otherwise a key click lifts the estimate by tens of dB, and a voice
        // in moderate noise teaches the estimate its own harmonics. Capping
        // steady noise's peaks would leave the estimate low; the bias factor
        // restores its mean.
        const double update = first ? P : std::min(P, kNoiseStep * lambda_[k]) * kNoiseStepBias;
        lambda_[k] = alpha * lambda_[k] + (1.0 - alpha) * update;
        const double gamma = P / (std::max(lambda_[k], kNoiseFloorPower) * p.beta);

        double g = 1.0;
        double g2 = 1.0;
        const bool inBand = k >= p.binLo && k <= p.binHi;
        if (!inBand) {
            // Outside the band nothing else matters; skip the estimator there.
            g = g2 = p.enabled ? p.gmin : kOutOfBandPassGain;
            cleanPower_[k] = 0.0;
        } else if (p.enabled) {
            const double xi = std::max(kMinXi, 0.98 * cleanPower_[k] + 0.02 * std::max(gamma - 1.0, 0.0));
            const double r = xi / (1.0 + xi);
            const double gh1 = std::min(1.0, r * std::exp(0.5 * expIntegralE1(r * gamma)));
            cleanPower_[k] = gh1 * gh1 * gamma;
            // G_H1^q · Gmin^(1 − q); q settles near 0 or 1 within a few hops,
            // where the power law needs no logarithm.
            const double q = presence_[k];
            if (q < 1e-4)
                g = p.gmin;
            else if (q > 1.0 - 1e-4)
                g = std::max(p.gmin, gh1);
            else
                g = std::max(p.gmin, std::exp(q * std::log(std::max(gh1, 1e-12)) + (1.0 - q) * lnGmin));
            g2 = std::max(p.gmin, gh1);
        } else {
            cleanPower_[k] = gamma;
        }
        gain_[k] = g;
        gainH1_[k] = g2;
    }

    // Minimum-window restarts: quickly while the estimates settle, then every 300 hops.
    ++minWindowCount_;
    const int window = hops_ < 300 ? 25 : 300;
    if (minWindowCount_ >= window) {
        minWindowCount_ = 0;
        for (int k = 0; k < kIsolationBins; ++k) {
            minimum_[k] = std::min(runningMin_[k], smoothed_[k]);
            runningMin_[k] = smoothed_[k];
        }
    }
}

void NoiseSuppressor::speechGate() noexcept
{
    const IsolationParams& p = params_;
    // Speech count and energies of the detector band.
    double bandEnergy = 0.0;
    double bandNoise = 0.0;
    double cleanEnergy = 0.0;
    double rawEnergy = 0.0;
    double speechEnergy = 0.0;
    int count = 0;
    for (int k = detLo_; k <= detHi_; ++k) {
        const double P = power_[k];
        // Weighted by the detector's gain, the band's energies lean on the
        // bins where the voice stands out, so a loud band noise under the
        // voice does not hide it.
        const double w = gainH1_[k] * gainH1_[k];
        bandEnergy += w * P;
        bandNoise += w * lambda_[k];
        cleanEnergy += w * P;
        rawEnergy += P;
        const double gamma = P / (std::max(lambda_[k], kNoiseFloorPower) * p.beta);
        if (presence_[k] > 0.5 || gamma > 3.0) {
            ++count;
            speechEnergy += P;
        }
    }
    // The presence measure is the share of the band's energy that sits in
    // speech-like bins: a voice's harmonics carry most of it even where a
    // band noise keeps most bins noise-like.
    const double share = speechEnergy / std::max(rawEnergy, kLevelFloorPower);
    speechBins_ = count;
    const double needed = p.strong && nonSpeechHops_ > p.holdHops ? 0.5 : p.mixFactor;
    const bool candidate = share > needed && bandEnergy > 3.0 * bandNoise;
    // The talker's level is taken from the cleaned band, so steady noise does not lift it.
    const double levelDb = 10.0 * std::log10(std::max(cleanEnergy, kLevelFloorPower));

    peakDb_ -= 0.25;
    bool speech = false;
    candidateRun_ = candidate ? candidateRun_ + 1 : 0;
    // Only sound that lasts may set or raise the talker level: a key click or
    // a knock must not teach the gate that the voice is that loud.
    const bool sustained = candidateRun_ >= kSustainedHops;
    if (candidate) {
        if (!talkerStarted_ && sustained) {
            talkerStarted_ = true;
            talkerDb_ = peakDb_ = levelDb;
        }
        peakDb_ = std::max(peakDb_, levelDb);
        bool near = !talkerStarted_
            || (levelDb >= talkerDb_ - p.thresholdA && (p.thresholdB <= 0.0 || peakDb_ >= talkerDb_ - p.thresholdB));
        // A sound right after a key press opens the gate only inside speech.
        if (activityHops_ > 0 && historySpeech_ == 0)
            near = false;
        if (near) {
            speech = true;
            if (levelDb < talkerDb_)
                talkerDb_ += (levelDb - talkerDb_) * 0.004;
            else if (sustained)
                talkerDb_ += (levelDb - talkerDb_) * 0.25;
            farCount_ = 0.0;
        } else if (talkerStarted_ && levelDb < talkerDb_ - p.thresholdA) {
            // A quieter talker (or one who moved away) takes over after enough such hops.
            secondDb_ = farCount_ == 0.0 ? levelDb : secondDb_ + (levelDb - secondDb_) * 0.05;
            farCount_ = std::min(100.0, farCount_ + (levelDb < talkerDb_ - p.thresholdA - 16.0 ? 0.25 : 1.0));
            if (farCount_ >= 100.0) {
                talkerDb_ = secondDb_;
                farCount_ = 0.0;
            }
        }
    }

    release_ = speech ? p.secondCount : std::max(0.0, release_ - 1.0);
    nonSpeechHops_ = speech ? 0.0 : nonSpeechHops_ + 1.0;
    historySpeech_ += static_cast<int>(speech) - history_[historyPos_];
    history_[historyPos_] = speech ? 1 : 0;
    historyPos_ = (historyPos_ + 1) % kIsolationHistoryHops;

    // While the gate is open the spectral gains hold; once it closes they give way to the floor.
    speechWeight_ = release_ > 0.0 ? 1.0 : speechWeight_ * kSpeechWeightFall;
    if (speechWeight_ < 1e-3)
        speechWeight_ = 0.0;

    // Open at once so word onsets are whole; close slowly once the hold has run out.
    if (release_ > 0.0)
        gateGain_ = 1.0;
    else
        gateGain_ = std::max(gateGainFloor_, gateGain_ * dbToGain(-kGateFallDbPerHop));
}

} // namespace dsp
