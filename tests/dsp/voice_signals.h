#pragma once
// Voices for the voice changer and voice speed suites: synthetic vowels
// (glottal pulses through formant resonators, with vibrato and glides), speech
// spoken by espeak-ng at test time, and the measurements the suites share.

#include "dsp/random.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace voicetest {

inline constexpr double kFs = 48000.0;
inline constexpr double kTau = 6.283185307179586;

// A formant: centre frequency and bandwidth, Hz.
struct Formant {
    double hz;
    double bandwidth;
};

// The vowel /a/ of an adult voice.
inline const std::vector<Formant> kVowelA{{730.0, 90.0}, {1090.0, 110.0}, {2440.0, 160.0}};

// A voice: the fundamental at time t (seconds) and its formants.
struct VoiceRecipe {
    std::function<double(double)> f0;
    std::vector<Formant> formants = kVowelA;
    double level = 0.3; // peak amplitude after normalising
};

inline VoiceRecipe steadyVoice(double hz, double vibratoCents = 0.0)
{
    return {
        [hz, vibratoCents](double t) { return hz * std::pow(2.0, vibratoCents / 1200.0 * std::sin(kTau * 5.5 * t)); }};
}

// Glottal flow (raised-cosine opening, quarter-cosine closing) differentiated,
// so each cycle has its sharp excitation at closure, through two-pole resonators.
inline std::vector<float> synthVoice(const VoiceRecipe& recipe, double seconds)
{
    const auto n = static_cast<size_t>(seconds * kFs);
    std::vector<double> excitation(n);
    double phase = 0.0;
    double previousFlow = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const double f = recipe.f0(static_cast<double>(i) / kFs);
        phase += f / kFs;
        phase -= std::floor(phase);
        double flow = 0.0;
        if (phase < 0.6)
            flow = 0.5 * (1.0 - std::cos(kTau * 0.5 * phase / 0.6));
        else if (phase < 0.8)
            flow = std::cos(kTau * 0.25 * (phase - 0.6) / 0.2);
        excitation[i] = flow - previousFlow;
        previousFlow = flow;
    }
    std::vector<double> voice(n, 0.0);
    for (const Formant& formant : recipe.formants) {
        const double r = std::exp(-kTau * 0.5 * formant.bandwidth / kFs);
        const double a1 = 2.0 * r * std::cos(kTau * formant.hz / kFs);
        const double a2 = -r * r;
        double y1 = 0.0;
        double y2 = 0.0;
        for (size_t i = 0; i < n; ++i) {
            const double y = excitation[i] + a1 * y1 + a2 * y2;
            y2 = y1;
            y1 = y;
            voice[i] += y;
        }
    }
    double peak = 1e-12;
    for (double v : voice)
        peak = std::max(peak, std::fabs(v));
    std::vector<float> out(n);
    for (size_t i = 0; i < n; ++i)
        out[i] = static_cast<float>(voice[i] / peak * recipe.level);
    return out;
}

inline std::vector<float> sine(double hz, double seconds, double amplitude = 0.3)
{
    std::vector<float> out(static_cast<size_t>(seconds * kFs));
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<float>(amplitude * std::sin(kTau * hz * static_cast<double>(i) / kFs));
    return out;
}

// The fundamental of y[from, from + count) near `expected` (within ±40 %): the
// highest normalised autocorrelation peak, refined by a parabola. Returns 0
// when that peak is weak (< 0.5), i.e. there is no clear period near expected.
inline double periodicityHz(const std::vector<float>& y, size_t from, size_t count, double expected)
{
    const int lo = static_cast<int>(kFs / (expected * 1.4));
    const int hi = static_cast<int>(kFs / (expected * 0.6)) + 1;
    if (from + count + static_cast<size_t>(hi) + 1 > y.size())
        return 0.0;
    std::vector<double> r(static_cast<size_t>(hi + 2), 0.0);
    double e0 = 0.0;
    for (size_t j = 0; j < count; ++j)
        e0 += static_cast<double>(y[from + j]) * y[from + j];
    for (int lag = lo - 1; lag <= hi + 1; ++lag) {
        double c = 0.0;
        double e1 = 0.0;
        for (size_t j = 0; j < count; ++j) {
            const double b = y[from + j + static_cast<size_t>(lag)];
            c += static_cast<double>(y[from + j]) * b;
            e1 += b * b;
        }
        r[static_cast<size_t>(lag)] = c / std::sqrt(e0 * e1 + 1e-30);
    }
    int best = lo;
    for (int lag = lo; lag <= hi; ++lag)
        if (r[static_cast<size_t>(lag)] > r[static_cast<size_t>(best)])
            best = lag;
    if (r[static_cast<size_t>(best)] < 0.5)
        return 0.0;
    const double a = r[static_cast<size_t>(best - 1)];
    const double b = r[static_cast<size_t>(best)];
    const double c = r[static_cast<size_t>(best + 1)];
    const double curve = a - 2.0 * b + c;
    const double shift = curve < 0.0 ? 0.5 * (a - c) / curve : 0.0;
    return kFs / (best + shift);
}

inline double median(std::vector<double> v)
{
    if (v.empty())
        return 0.0;
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
    return v[v.size() / 2];
}

inline double cents(double hz, double reference)
{
    return 1200.0 * std::log2(hz / reference);
}

// Speech from espeak-ng resampled to 48 kHz, or empty when espeak-ng is not
// installed or fails (the caller skips and says why).
inline std::vector<float> espeakSpeech(const std::string& text, const std::string& voice = "en")
{
    namespace fs = std::filesystem;
    if (std::system("command -v espeak-ng >/dev/null 2>&1") != 0)
        return {};
    const fs::path dir = fs::temp_directory_path() / ("ovix_voice_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path wav = dir / "speech.wav";
    const std::string command
        = "espeak-ng -v " + voice + " -s 150 -w '" + wav.string() + "' \"" + text + "\" 2>/dev/null";
    std::vector<float> out;
    if (std::system(command.c_str()) == 0) {
        std::ifstream file(wav, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        // Walk the RIFF chunks for fmt (rate) and data (16-bit mono samples).
        uint32_t rate = 0;
        size_t pos = 12;
        const auto u32 = [&](size_t at) {
            uint32_t v = 0;
            for (int k = 3; k >= 0; --k)
                v = (v << 8) | static_cast<uint8_t>(bytes[at + static_cast<size_t>(k)]);
            return v;
        };
        while (pos + 8 <= bytes.size()) {
            const uint32_t size = u32(pos + 4);
            const std::string id(bytes.data() + pos, 4);
            if (id == "fmt " && pos + 16 <= bytes.size())
                rate = u32(pos + 12);
            if (id == "data" && rate > 0) {
                const size_t count = std::min<size_t>(size, bytes.size() - pos - 8) / 2;
                std::vector<double> in(count);
                for (size_t i = 0; i < count; ++i) {
                    const auto lo = static_cast<uint8_t>(bytes[pos + 8 + 2 * i]);
                    const auto hi = static_cast<uint8_t>(bytes[pos + 9 + 2 * i]);
                    in[i] = static_cast<int16_t>(static_cast<uint16_t>(lo | (hi << 8))) / 32768.0;
                }
                const double step = static_cast<double>(rate) / kFs;
                for (double t = 0.0; t + 2.0 < static_cast<double>(count); t += step) {
                    const auto i = static_cast<size_t>(t);
                    const double f = t - static_cast<double>(i);
                    const double ym1 = i > 0 ? in[i - 1] : in[i];
                    const double c1 = 0.5 * (in[i + 1] - ym1);
                    const double c2 = ym1 - 2.5 * in[i] + 2.0 * in[i + 1] - 0.5 * in[i + 2];
                    const double c3 = 1.5 * (in[i] - in[i + 1]) + 0.5 * (in[i + 2] - ym1);
                    out.push_back(static_cast<float>(((c3 * f + c2) * f + c1) * f + in[i]));
                }
                break;
            }
            pos += 8 + size + (size & 1);
        }
    }
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    return out;
}

// Speech-like syllables for when espeak-ng is missing: voiced vowels (/a/, /i/,
// /u/) of 0.1 to 0.3 s on gliding fundamentals, each after a short noise
// burst like a consonant, with pauses of 30 to 350 ms between them. Seeded,
// so every run is the same.
inline std::vector<float> syllableSpeech(double seconds, uint32_t seed = 1)
{
    static const std::vector<Formant> vowels[] = {kVowelA, {{270.0, 60.0}, {2290.0, 120.0}, {3010.0, 180.0}},
        {{300.0, 60.0}, {870.0, 90.0}, {2240.0, 160.0}}};
    dsp::Lcg random{seed};
    const auto uniform = [&random] { return static_cast<double>(random.uniform()); };
    std::vector<float> out(static_cast<size_t>(seconds * kFs), 0.0f);
    size_t at = static_cast<size_t>(0.2 * kFs);
    while (at < out.size()) {
        const double length = 0.1 + 0.2 * uniform();
        const double f0 = 100.0 + 80.0 * uniform(), glide = 40.0 * (uniform() - 0.5);
        VoiceRecipe recipe{[f0, glide, length](double t) { return f0 + glide * t / length; },
            vowels[static_cast<size_t>(uniform() * 3.0) % 3], 0.2 + 0.3 * uniform()};
        const std::vector<float> vowel = synthVoice(recipe, length);
        const size_t burst = static_cast<size_t>(0.02 * kFs);
        double hiss = 0.0; // noise low-passed to a few kilohertz, as a fricative
        for (size_t i = 0; i < burst && at + i < out.size(); ++i) {
            hiss += 0.3 * (uniform() - 0.5 - hiss);
            out[at + i] = static_cast<float>(0.2 * hiss);
        }
        at += burst;
        const size_t rise = static_cast<size_t>(0.015 * kFs), fall = static_cast<size_t>(0.04 * kFs);
        for (size_t i = 0; i < vowel.size() && at + i < out.size(); ++i) {
            const double edge = std::min({1.0, static_cast<double>(i) / static_cast<double>(rise),
                static_cast<double>(vowel.size() - i) / static_cast<double>(fall)});
            out[at + i] = static_cast<float>(vowel[i] * edge);
        }
        at += vowel.size() + static_cast<size_t>((0.03 + 0.32 * uniform()) * kFs);
    }
    return out;
}

// espeak-ng speaking text, or the syllables above when it is not installed.
inline std::vector<float> speechOrSyllables(const std::string& text, double syllableSeconds)
{
    std::vector<float> speech = espeakSpeech(text);
    return speech.empty() ? syllableSpeech(syllableSeconds) : speech;
}

} // namespace voicetest
