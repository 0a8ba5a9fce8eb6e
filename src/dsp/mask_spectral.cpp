#include "dsp/mask_spectral.h"

#include "dsp/biquad.h"

#include <algorithm>
#include <cmath>

namespace dsp {

namespace {
// Band edges follow the mel scale, so that the bands are about equally wide to
// the ear; every band keeps at least one bin.
double melOf(double hz)
{
    return 2595.0 * std::log10(1.0 + hz / 700.0);
}
double hzOfMel(double mel)
{
    return 700.0 * (std::pow(10.0, mel / 2595.0) - 1.0);
}
} // namespace

void MaskSpectral::prepare(double sampleRate)
{
    const double fs = sampleRate > 0.0 ? sampleRate : 48000.0;
    fft_.prepare(kSize);
    window_.assign(kSize, 0.0f);
    fillSqrtHann(window_.data(), kSize);
    input_.assign(kSize, 0.0f);
    output_.assign(kSize, 0.0f);
    ready_.assign(kHop, 0.0f);
    frame_.assign(kSize, 0.0f);
    bins_.assign(kBins, {});
    envelope_.assign(kBins, 0.0);

    const double top = melOf(fs / 2.0);
    edges_[0] = 1;
    for (int b = 1; b <= kBands; ++b) {
        const double bin = hzOfMel(top * b / kBands) * kSize / fs;
        edges_[b] = std::clamp(static_cast<int>(std::lround(bin)), edges_[b - 1] + 1, kBins);
    }
    edges_[kBands] = kBins;
    for (int b = 0; b < kBands; ++b)
        centres_[b] = 0.5 * (edges_[b] + edges_[b + 1] - 1);
    for (int k = 0, b = 0; k < kBins; ++k) {
        while (b < kBands && centres_[b] < k)
            ++b;
        firstCentre_[static_cast<size_t>(k)] = std::max(1, b);
    }
    for (size_t i = 0; i < phasors_.size(); ++i)
        phasors_[i] = std::polar(1.0f, static_cast<float>(2.0 * kPi * static_cast<double>(i) / phasors_.size()));
    reset();
}

void MaskSpectral::reset() noexcept
{
    std::fill(input_.begin(), input_.end(), 0.0f);
    std::fill(output_.begin(), output_.end(), 0.0f);
    std::fill(ready_.begin(), ready_.end(), 0.0f);
    flutter_.fill(1.0);
    position_ = 0;
    random_ = Lcg{0x2545F491u};
}

void MaskSpectral::setup(const SpectralSetup& s) noexcept
{
    setup_.whisper = s.whisper;
    setup_.warp = std::clamp(s.warp, 0.5, 2.0);
    setup_.flutter = std::clamp(s.flutter, 0.0, 0.2);
    setup_.wetPercent = std::clamp(s.wetPercent, 0.0, 100.0);
    setup_.breath = std::clamp(s.breath, 0.0, 1.0);
}

void MaskSpectral::process(float* samples, int frames) noexcept
{
    for (int i = 0; i < frames; ++i) {
        input_[static_cast<size_t>(kSize - kHop + position_)] = samples[i];
        samples[i] = ready_[static_cast<size_t>(position_)];
        if (++position_ == kHop) {
            processFrame();
            position_ = 0;
        }
    }
}

// The envelope between band centres, linearly interpolated; flat beyond the
// first and last centre.
double MaskSpectral::envelopeAt(double bin) const noexcept
{
    if (bin <= centres_[0])
        return level_[0] * flutter_[0];
    // The first centre at or above `bin`, starting from the one for its whole bin.
    int b = firstCentre_[static_cast<size_t>(std::min(bin, static_cast<double>(kBins - 1)))];
    while (b < kBands && centres_[b] < bin)
        ++b;
    if (b >= kBands)
        return level_[kBands - 1] * flutter_[kBands - 1];
    const double f = (bin - centres_[b - 1]) / (centres_[b] - centres_[b - 1]);
    return (1.0 - f) * level_[b - 1] * flutter_[b - 1] + f * level_[b] * flutter_[b];
}

void MaskSpectral::processFrame() noexcept
{
    for (int i = 0; i < kSize; ++i)
        frame_[static_cast<size_t>(i)] = input_[static_cast<size_t>(i)] * window_[static_cast<size_t>(i)];
    std::copy(input_.begin() + kHop, input_.end(), input_.begin());
    fft_.forward(frame_.data(), bins_.data());

    // Band levels: the RMS magnitude of each band.
    for (int b = 0; b < kBands; ++b) {
        double sum = 0.0;
        for (int k = edges_[b]; k < edges_[b + 1]; ++k)
            sum += std::norm(bins_[static_cast<size_t>(k)]);
        level_[b] = std::sqrt(sum / (edges_[b + 1] - edges_[b]));
    }

    const double wet = setup_.wetPercent / 100.0;
    // Noise frames overlap-add by power, not by amplitude: with the four
    // square-root Hann pairs per frame that is √1.5 instead of 2, made up here.
    const double noiseGain = 2.0 / std::sqrt(1.5);
    const double flutterDb = setup_.flutter * 100.0;
    // The unwarped envelope is measured with unit band gains, the rebuilt one
    // with this hop's flutter.
    flutter_.fill(1.0);
    bins_[0] = {};
    for (int k = 1; k < kBins; ++k)
        envelope_[static_cast<size_t>(k)] = envelopeAt(k);
    if (flutterDb > 0.0)
        for (double& g : flutter_)
            g = std::pow(10.0, flutterDb * random_.bipolar() / 20.0);

    for (int k = 1; k < kBins; ++k) {
        const std::complex<float> x = bins_[static_cast<size_t>(k)];
        const double own = envelope_[static_cast<size_t>(k)];
        const double target = envelopeAt(k / setup_.warp);
        std::complex<float> rebuilt;
        if (setup_.whisper) {
            rebuilt = phasors_[random_.next() >> 24] * static_cast<float>(noiseGain * target);
        } else {
            // Keep the fine structure, exchange the envelope; the gain is capped
            // so that a near-empty band is not lifted into audible noise.
            const double gain = std::min(target / std::max(own, 1e-9), 8.0);
            rebuilt = x * static_cast<float>(gain);
        }
        if (setup_.breath > 0.0)
            rebuilt += phasors_[random_.next() >> 24] * static_cast<float>(noiseGain * setup_.breath * target);
        bins_[static_cast<size_t>(k)] = x * static_cast<float>(1.0 - wet) + rebuilt * static_cast<float>(wet);
    }
    bins_[kBins - 1] = {bins_[kBins - 1].real(), 0.0f};
    fft_.inverse(bins_.data(), frame_.data());

    // Square-root Hann on both sides sums to 2 at a quarter-frame hop; the
    // inverse transform is unscaled.
    const float scale = 1.0f / (2.0f * kSize);
    for (int i = 0; i < kSize; ++i)
        output_[static_cast<size_t>(i)] += frame_[static_cast<size_t>(i)] * window_[static_cast<size_t>(i)] * scale;
    std::copy(output_.begin(), output_.begin() + kHop, ready_.begin());
    std::copy(output_.begin() + kHop, output_.end(), output_.begin());
    std::fill(output_.end() - kHop, output_.end(), 0.0f);
}

} // namespace dsp
