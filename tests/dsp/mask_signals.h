#pragma once
// Signals and measurements for the mask suites: espeak-ng speech made at test
// time (resampled to 48 kHz), tones, levels and frequency estimates.

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace mask_test {

inline constexpr double kFs = 48000.0;
inline constexpr double kPi = 3.14159265358979323846;

// Mono 16-bit PCM from a WAV file, as floats, and its rate; empty on failure.
inline std::vector<float> readWav(const std::filesystem::path& path, int& rate)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto u32 = [&](size_t at) {
        return static_cast<uint32_t>(static_cast<unsigned char>(bytes[at]))
            | static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8
            | static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 16
            | static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 3])) << 24;
    };
    std::vector<float> out;
    int channels = 1;
    for (size_t at = 12; at + 8 <= bytes.size();) {
        const std::string id(&bytes[at], 4);
        const size_t size = u32(at + 4);
        const size_t body = at + 8;
        if (id == "fmt " && body + 16 <= bytes.size()) {
            channels = std::max(1, static_cast<int>(static_cast<unsigned char>(bytes[body + 2])));
            rate = static_cast<int>(u32(body + 4));
        } else if (id == "data") {
            const size_t end = std::min(bytes.size(), body + size);
            for (size_t p = body; p + 2 * channels <= end; p += 2 * static_cast<size_t>(channels)) {
                const auto v = static_cast<int16_t>(static_cast<uint16_t>(static_cast<unsigned char>(bytes[p]))
                    | static_cast<uint16_t>(static_cast<unsigned char>(bytes[p + 1]) << 8));
                out.push_back(static_cast<float>(v) / 32768.0f);
            }
            break;
        }
        at = body + size + (size & 1);
    }
    return out;
}

// `seconds` of espeak-ng speech at 48 kHz, peak 0.5 (repeated if the text is
// short); empty when espeak-ng is not installed or fails. Made once per process.
inline const std::vector<float>& speech(double seconds = 10.0)
{
    static std::vector<float> cached;
    static bool tried = false;
    if (!tried) {
        tried = true;
        std::string pattern = (std::filesystem::temp_directory_path() / "ovix_mask_XXXXXX").string();
        if (mkdtemp(pattern.data())) {
            const std::filesystem::path dir = pattern;
            const std::filesystem::path wav = dir / "speech.wav";
            const std::string command = "espeak-ng -s 150 -w '" + wav.string()
                + "' 'The quick brown fox jumps over the lazy dog. She sells sea shells by the sea shore. "
                  "How much wood would a woodchuck chuck, if a woodchuck could chuck wood? "
                  "Peter Piper picked a peck of pickled peppers.' >/dev/null 2>&1";
            int rate = 0;
            std::vector<float> raw;
            if (std::system(command.c_str()) == 0)
                raw = readWav(wav, rate);
            std::error_code ignored;
            std::filesystem::remove_all(dir, ignored);
            if (!raw.empty() && rate > 0) {
                const auto n = static_cast<size_t>(seconds * kFs);
                cached.resize(n);
                const double step = rate / kFs;
                float peak = 0.0f;
                for (size_t i = 0; i < n; ++i) {
                    const double t = std::fmod(i * step, static_cast<double>(raw.size() - 1));
                    const auto k = static_cast<size_t>(t);
                    const double f = t - static_cast<double>(k);
                    cached[i] = static_cast<float>((1.0 - f) * raw[k] + f * raw[k + 1]);
                    peak = std::max(peak, std::fabs(cached[i]));
                }
                for (auto& v : cached)
                    v *= 0.5f / std::max(peak, 1e-6f);
            }
        }
    }
    return cached;
}

inline std::vector<float> tone(double freq, double amplitude, size_t frames)
{
    std::vector<float> out(frames);
    for (size_t i = 0; i < frames; ++i)
        out[i] = static_cast<float>(amplitude * std::sin(2.0 * kPi * freq * static_cast<double>(i) / kFs));
    return out;
}

inline double rms(const float* x, size_t n)
{
    double sum = 0.0;
    for (size_t i = 0; i < n; ++i)
        sum += static_cast<double>(x[i]) * x[i];
    return std::sqrt(sum / static_cast<double>(std::max<size_t>(n, 1)));
}

// Magnitude of the Hann-windowed spectrum of x[0, n) at any frequency.
inline double spectrumAt(const float* x, size_t n, double freq)
{
    std::complex<double> sum;
    for (size_t i = 0; i < n; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2.0 * kPi * static_cast<double>(i) / static_cast<double>(n));
        sum += w * x[i] * std::polar(1.0, -2.0 * kPi * freq * static_cast<double>(i) / kFs);
    }
    return std::abs(sum);
}

// The frequency of the strongest component within ±span of `guess`: a pass in
// steps of 0.1 %, then one in steps of 0.001 % around the best.
inline double peakFrequency(const float* x, size_t n, double guess, double span)
{
    double best = guess;
    for (double step : {1e-3, 1e-5}) {
        const double centre = best;
        const double width = step == 1e-3 ? span : 1e-3;
        double bestValue = -1.0;
        for (double f = centre * (1.0 - width); f <= centre * (1.0 + width); f += guess * step) {
            const double v = spectrumAt(x, n, f);
            if (v > bestValue) {
                bestValue = v;
                best = f;
            }
        }
    }
    return best;
}

// The largest absolute difference between neighbouring samples in x[from, to).
inline double largestStep(const std::vector<float>& x, size_t from, size_t to)
{
    double step = 0.0;
    for (size_t i = std::max<size_t>(from, 1); i < std::min(to, x.size()); ++i)
        step = std::max(step, static_cast<double>(std::fabs(x[i] - x[i - 1])));
    return step;
}

} // namespace mask_test
