#pragma once
// Speech and noise for the noise-suppression suites and benchmarks: speech is
// synthesised with espeak-ng into a temporary folder at run time, noises are
// made here from a seeded generator, and the measures (segmental SNR, noise
// attenuation, log-spectral distance, spectral flatness) work on aligned
// float vectors at 48 kHz.

#include "dsp/biquad.h"
#include "dsp/fft.h"
#include "dsp/pink_filter.h"
#include "dsp/random.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace noisy {

inline constexpr double kFs = 48000.0;
inline constexpr double kPi = 3.14159265358979323846;
inline constexpr size_t kFrame = 480; // 10 ms measuring frames

// Reads a 16-bit PCM mono WAV; empty on any other format.
inline std::vector<float> readWav16(const std::filesystem::path& path, int& rate)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto u32 = [&](size_t at) {
        uint32_t v = 0;
        std::memcpy(&v, bytes.data() + at, 4);
        return v;
    };
    auto u16 = [&](size_t at) {
        uint16_t v = 0;
        std::memcpy(&v, bytes.data() + at, 2);
        return v;
    };
    std::vector<float> out;
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 || std::memcmp(bytes.data() + 8, "WAVE", 4) != 0)
        return out;
    size_t at = 12;
    int channels = 0, bits = 0;
    while (at + 8 <= bytes.size()) {
        const uint32_t size = u32(at + 4);
        const size_t body = at + 8;
        if (std::memcmp(bytes.data() + at, "fmt ", 4) == 0 && body + 16 <= bytes.size()) {
            channels = u16(body + 2);
            rate = static_cast<int>(u32(body + 4));
            bits = u16(body + 14);
        } else if (std::memcmp(bytes.data() + at, "data", 4) == 0) {
            if (channels != 1 || bits != 16)
                return out;
            const size_t end = std::min(bytes.size(), body + size);
            for (size_t i = body; i + 2 <= end; i += 2)
                out.push_back(static_cast<int16_t>(u16(i)) / 32768.0f);
            return out;
        }
        at = body + size + (size & 1u);
    }
    return out;
}

// Linear interpolation to 48 kHz (speech from espeak-ng has nothing above 11 kHz worth keeping exactly).
inline std::vector<float> resampleTo48k(const std::vector<float>& x, int rate)
{
    if (rate == 48000 || x.empty())
        return x;
    const double step = static_cast<double>(rate) / kFs;
    const size_t n = static_cast<size_t>(static_cast<double>(x.size() - 1) / step);
    std::vector<float> y(n);
    for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) * step;
        const size_t j = static_cast<size_t>(t);
        const double f = t - static_cast<double>(j);
        y[i] = static_cast<float>((1.0 - f) * x[j] + f * x[std::min(j + 1, x.size() - 1)]);
    }
    return y;
}

inline bool haveEspeak()
{
    return std::system("espeak-ng --version > /dev/null 2>&1") == 0;
}

// Speech at 48 kHz, peak-normalised to 0.5; nothing when espeak-ng is missing or fails.
inline std::optional<std::vector<float>> speech(const std::string& text, const std::string& voice = "en")
{
    if (!haveEspeak())
        return std::nullopt;
    static int serial = 0;
    const auto dir = std::filesystem::temp_directory_path();
    const auto file = dir / ("ovix_speech_" + std::to_string(::getpid()) + "_" + std::to_string(serial++) + ".wav");
    const std::string command
        = "espeak-ng -v " + voice + " -s 150 -w '" + file.string() + "' \"" + text + "\" 2>/dev/null";
    if (std::system(command.c_str()) != 0)
        return std::nullopt;
    int rate = 0;
    auto x = readWav16(file, rate);
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
    if (x.empty() || rate <= 0)
        return std::nullopt;
    auto y = resampleTo48k(x, rate);
    // A microphone path carries nothing below about 70 Hz; the synthesiser's
    // output does, and a reference holding it would count every band limit as damage.
    dsp::Biquad a, b;
    a.setCoeffs(dsp::designHighPass(70.0, dsp::kButterworthQ, kFs));
    b.setCoeffs(a.coeffs);
    for (auto& v : y)
        v = b.process(a.process(v));
    float peak = 0.0f;
    for (float v : y)
        peak = std::max(peak, std::fabs(v));
    if (peak <= 0.0f)
        return std::nullopt;
    for (float& v : y)
        v *= 0.5f / peak;
    return y;
}

enum class Noise { White, Pink, Hum, Fan, Keyboard };
inline constexpr Noise kAllNoises[] = {Noise::White, Noise::Pink, Noise::Hum, Noise::Fan, Noise::Keyboard};
inline const char* noiseName(Noise n)
{
    switch (n) {
    case Noise::White:
        return "white";
    case Noise::Pink:
        return "pink";
    case Noise::Hum:
        return "hum";
    case Noise::Fan:
        return "fan";
    case Noise::Keyboard:
        return "keyboard";
    }
    return "?";
}

inline float gaussian(dsp::Lcg& r)
{
    // Sum of four uniforms: close enough to normal for noise beds.
    return static_cast<float>((r.uniform() + r.uniform() + r.uniform() + r.uniform() - 2.0) * 1.7320508);
}

// Noise of the kind at unit-ish level (the mixer scales it).
inline std::vector<float> makeNoise(Noise kind, size_t n, uint32_t seed = 12345)
{
    dsp::Lcg r{seed};
    std::vector<float> y(n);
    switch (kind) {
    case Noise::White:
        for (auto& v : y)
            v = gaussian(r);
        break;
    case Noise::Pink: {
        dsp::PinkFilter pink;
        for (auto& v : y)
            v = static_cast<float>(pink.process(gaussian(r)));
        break;
    }
    case Noise::Hum:
        // Mains hum: 50 Hz and its harmonics with falling amplitude, a little buzz.
        for (size_t i = 0; i < n; ++i) {
            const double t = static_cast<double>(i) / kFs;
            double v = 0.0;
            for (int h = 1; h <= 8; ++h)
                v += std::sin(2.0 * kPi * 50.0 * h * t + 0.7 * h) / h;
            y[i] = static_cast<float>(v + 0.01 * gaussian(r));
        }
        break;
    case Noise::Fan: {
        // A fan: band noise between about 150 Hz and 2 kHz with a blade tone and slow swell.
        double lp1 = 0, lp2 = 0, hp = 0, prev = 0;
        const double a = std::exp(-2.0 * kPi * 2000.0 / kFs);
        const double c = std::exp(-2.0 * kPi * 150.0 / kFs);
        for (size_t i = 0; i < n; ++i) {
            const double t = static_cast<double>(i) / kFs;
            lp1 = (1 - a) * gaussian(r) + a * lp1;
            lp2 = (1 - a) * lp1 + a * lp2;
            hp = c * (hp + lp2 - prev);
            prev = lp2;
            y[i] = static_cast<float>(
                hp * (1.0 + 0.15 * std::sin(2.0 * kPi * 0.7 * t)) + 0.02 * std::sin(2.0 * kPi * 120.0 * t));
        }
        break;
    }
    case Noise::Keyboard: {
        // Key clicks: short decaying bright bursts, about seven a second at uneven times.
        std::fill(y.begin(), y.end(), 0.0f);
        size_t at = static_cast<size_t>(0.05 * kFs);
        while (at < n) {
            const double amp = 0.5 + r.uniform();
            const size_t len = static_cast<size_t>(0.012 * kFs);
            double hpPrev = 0, hpState = 0;
            for (size_t j = 0; j < len && at + j < n; ++j) {
                const double w = gaussian(r);
                hpState = 0.9 * (hpState + w - hpPrev);
                hpPrev = w;
                y[at + j] += static_cast<float>(amp * hpState * std::exp(-static_cast<double>(j) / (0.0025 * kFs)));
            }
            at += static_cast<size_t>((0.08 + 0.2 * r.uniform()) * kFs);
        }
        break;
    }
    }
    return y;
}

inline double power(const std::vector<float>& x, size_t from = 0, size_t count = SIZE_MAX)
{
    const size_t end = std::min(x.size(), from + std::min(count, x.size()));
    double e = 0.0;
    for (size_t i = from; i < end; ++i)
        e += static_cast<double>(x[i]) * x[i];
    return end > from ? e / static_cast<double>(end - from) : 0.0;
}

// noise scaled so that speech power / noise power is snrDb, over the whole span.
inline std::vector<float> scaledNoise(const std::vector<float>& clean, const std::vector<float>& noise, double snrDb)
{
    const double k = std::sqrt(power(clean) / (power(noise) * std::pow(10.0, snrDb / 10.0)));
    std::vector<float> y(clean.size());
    for (size_t i = 0; i < y.size(); ++i)
        y[i] = static_cast<float>(noise[i] * k);
    return y;
}

inline std::vector<float> add(const std::vector<float>& a, const std::vector<float>& b)
{
    std::vector<float> y(a.size());
    for (size_t i = 0; i < y.size(); ++i)
        y[i] = a[i] + b[i];
    return y;
}

// Frames whose clean energy lies within 40 dB of the loudest frame count as speech.
inline std::vector<bool> speechFrames(const std::vector<float>& clean, double withinDb = 40.0)
{
    const size_t frames = clean.size() / kFrame;
    std::vector<double> e(frames);
    double top = 0.0;
    for (size_t f = 0; f < frames; ++f)
        top = std::max(top, e[f] = power(clean, f * kFrame, kFrame));
    std::vector<bool> active(frames);
    for (size_t f = 0; f < frames; ++f)
        active[f] = e[f] > top * std::pow(10.0, -withinDb / 10.0);
    return active;
}

// Frames where the noise is present: within 40 dB of its mean power. Every
// frame of a steady noise; only the frames of a click and its tail for
// sparse clicks.
inline std::vector<bool> noisyFrames(const std::vector<float>& noise, double withinDb = 40.0)
{
    const double floor = power(noise) * std::pow(10.0, -withinDb / 10.0);
    std::vector<bool> present(noise.size() / kFrame);
    for (size_t f = 0; f < present.size(); ++f)
        present[f] = power(noise, f * kFrame, kFrame) > floor;
    return present;
}

// Segmental SNR over speech frames, each frame clamped to −10..35 dB.
// `out` is compared with `clean` delayed by `delay` frames; frames before
// `from` are skipped, and so are frames outside `only` when it is given
// (the usual definition scores the frames where noise is present: a frame
// the noise never touched scores the cap on the input and says nothing of
// the suppressor except its distortion).
inline double segmentalSnr(const std::vector<float>& clean, const std::vector<float>& out, size_t delay,
    size_t from = 0, const std::vector<bool>& only = {})
{
    const auto active = speechFrames(clean);
    double sum = 0.0;
    int count = 0;
    for (size_t f = 0; f < active.size(); ++f) {
        const size_t at = f * kFrame;
        if (!active[f] || at < from || at + delay + kFrame > out.size() || (f < only.size() && !only[f]))
            continue;
        double s = 0.0, e = 0.0;
        for (size_t i = 0; i < kFrame; ++i) {
            const double c = clean[at + i];
            const double d = out[at + delay + i] - c;
            s += c * c;
            e += d * d;
        }
        sum += std::clamp(10.0 * std::log10((s + 1e-20) / (e + 1e-20)), -10.0, 35.0);
        ++count;
    }
    return count ? sum / count : 0.0;
}

// Power of `out` over the frames where clean speech is silent (below 60 dB under its loudest frame),
// as dB relative to the noise's power over the same frames.
inline double noiseAttenuationDb(const std::vector<float>& clean, const std::vector<float>& noise,
    const std::vector<float>& out, size_t delay, size_t from = 0)
{
    const auto active = speechFrames(clean, 60.0);
    double eo = 0.0, en = 0.0;
    for (size_t f = 0; f < active.size(); ++f) {
        const size_t at = f * kFrame;
        if (active[f] || at < from || at + delay + kFrame > out.size())
            continue;
        eo += power(out, at + delay, kFrame);
        en += power(noise, at, kFrame);
    }
    return 10.0 * std::log10((en + 1e-30) / (eo + 1e-30));
}

// Mean log-spectral distance (dB) between clean and out over strong speech frames (within 20 dB of the top),
// 1024-point Hann frames, bins 100 Hz .. 8 kHz.
inline double logSpectralDistance(
    const std::vector<float>& clean, const std::vector<float>& out, size_t delay, size_t from = 0)
{
    constexpr size_t N = 1024;
    dsp::RealFft fft;
    fft.prepare(N);
    std::vector<float> a(N), b(N);
    std::vector<std::complex<float>> A(N / 2 + 1), B(N / 2 + 1);
    const auto active = speechFrames(clean, 20.0);
    double sum = 0.0;
    int count = 0;
    for (size_t f = 0; f < active.size(); f += 2) {
        const size_t at = f * kFrame;
        if (!active[f] || at < from || at + delay + N > out.size() || at + N > clean.size())
            continue;
        for (size_t i = 0; i < N; ++i) {
            const float w = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * kPi * static_cast<double>(i) / N));
            a[i] = clean[at + i] * w;
            b[i] = out[at + delay + i] * w;
        }
        fft.forward(a.data(), A.data());
        fft.forward(b.data(), B.data());
        double d2 = 0.0;
        int bins = 0;
        for (size_t k = 2; k <= 170; ++k) {
            const double d = 10.0 * std::log10((std::norm(A[k]) + 1e-12) / (std::norm(B[k]) + 1e-12));
            d2 += d * d;
            ++bins;
        }
        sum += std::sqrt(d2 / bins);
        ++count;
    }
    return count ? sum / count : 0.0;
}

// Spectral flatness (geometric / arithmetic mean of the averaged power spectrum, 100 Hz .. 16 kHz).
inline double spectralFlatness(const std::vector<float>& x, size_t from, size_t count)
{
    constexpr size_t N = 1024;
    dsp::RealFft fft;
    fft.prepare(N);
    std::vector<float> a(N);
    std::vector<std::complex<float>> A(N / 2 + 1);
    std::vector<double> avg(N / 2 + 1, 0.0);
    for (size_t at = from; at + N <= from + count && at + N <= x.size(); at += N / 2) {
        for (size_t i = 0; i < N; ++i)
            a[i] = x[at + i] * static_cast<float>(0.5 - 0.5 * std::cos(2.0 * kPi * static_cast<double>(i) / N));
        fft.forward(a.data(), A.data());
        for (size_t k = 0; k < avg.size(); ++k)
            avg[k] += std::norm(A[k]);
    }
    double logSum = 0.0, sum = 0.0;
    int bins = 0;
    for (size_t k = 3; k <= 341; ++k) {
        logSum += std::log(avg[k] + 1e-30);
        sum += avg[k];
        ++bins;
    }
    return std::exp(logSum / bins) / (sum / bins + 1e-30);
}

// Runs `process(float*, int)` over x in blocks of `block` frames.
template <typename Process> std::vector<float> run(const std::vector<float>& x, Process&& process, int block = 480)
{
    std::vector<float> y = x;
    for (size_t at = 0; at < y.size(); at += static_cast<size_t>(block))
        process(y.data() + at, static_cast<int>(std::min<size_t>(static_cast<size_t>(block), y.size() - at)));
    return y;
}

} // namespace noisy
