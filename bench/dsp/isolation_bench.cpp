// Noise isolation: the cost of each isolation mode per 10 ms block, and our
// suppressor side by side with speexdsp's preprocessor and, when present,
// WebRTC's noise suppression on the same espeak-ng speech mixed with five
// noises at 0, 5 and 10 dB SNR. The comparison libraries are linked into this
// benchmark only.

#include "bench_main.h"

#include "dsp/noise_isolation.h"
#include "dsp/noisy_speech.h" // test material, shared with the suites
#include "dsp/random.h"
#include "dsp/vocal_expander.h"

#include <benchmark/benchmark.h>

#ifdef OVIX_BENCH_SPEEXDSP
#include <speex/speex_preprocess.h>
#endif
#ifdef OVIX_BENCH_WEBRTC_APM
#include <webrtc/modules/audio_processing/include/audio_processing.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kFrames = 480;
constexpr double kFs = 48000.0;

// A suppressor under test: processes 480-frame blocks in place.
struct Suppressor {
    virtual ~Suppressor() = default;
    virtual void process(float* block) = 0;
};

struct Ours : Suppressor {
    dsp::NoiseSuppressor ns;
    Ours(int mode, int level)
    {
        ns.prepare(kFs);
        ns.setParameters(dsp::mapIsolation(mode, level, kFs));
    }
    void process(float* block) override { ns.process(block, kFrames); }
};

struct Vocal : Suppressor {
    dsp::VocalExpander ex;
    Vocal()
    {
        ex.prepare(kFs);
        ex.set(dsp::ExpanderRecord{});
    }
    void process(float* block) override { ex.process(block, kFrames); }
};

#ifdef OVIX_BENCH_SPEEXDSP
struct Speex : Suppressor {
    SpeexPreprocessState* st = speex_preprocess_state_init(kFrames, static_cast<int>(kFs));
    spx_int16_t pcm[kFrames];
    Speex()
    {
        int on = 1;
        speex_preprocess_ctl(st, SPEEX_PREPROCESS_SET_DENOISE, &on);
    }
    ~Speex() override { speex_preprocess_state_destroy(st); }
    void process(float* block) override
    {
        for (int i = 0; i < kFrames; ++i)
            pcm[i] = static_cast<spx_int16_t>(std::clamp(block[i] * 32767.0f, -32768.0f, 32767.0f));
        speex_preprocess_run(st, pcm);
        for (int i = 0; i < kFrames; ++i)
            block[i] = pcm[i] / 32768.0f;
    }
};
#endif

#ifdef OVIX_BENCH_WEBRTC_APM
struct WebRtc : Suppressor {
    std::unique_ptr<webrtc::AudioProcessing> apm{webrtc::AudioProcessing::Create()};
    webrtc::StreamConfig config{static_cast<int>(kFs), 1};
    WebRtc()
    {
        apm->high_pass_filter()->Enable(false);
        apm->noise_suppression()->set_level(webrtc::NoiseSuppression::kHigh);
        apm->noise_suppression()->Enable(true);
    }
    void process(float* block) override
    {
        float* channels[] = {block};
        apm->ProcessStream(channels, config, config, channels);
    }
};
#endif

using Factory = std::function<std::unique_ptr<Suppressor>()>;

std::vector<std::pair<std::string, Factory>> comparedSuppressors()
{
    std::vector<std::pair<std::string, Factory>> all;
    all.emplace_back("isolation", [] { return std::make_unique<Ours>(2, 60); });
#ifdef OVIX_BENCH_SPEEXDSP
    all.emplace_back("speex", [] { return std::make_unique<Speex>(); });
#endif
#ifdef OVIX_BENCH_WEBRTC_APM
    all.emplace_back("webrtc", [] { return std::make_unique<WebRtc>(); });
#endif
    return all;
}

std::vector<float> runAll(Suppressor& s, const std::vector<float>& x)
{
    std::vector<float> y = x;
    y.resize((y.size() / kFrames) * kFrames);
    for (size_t at = 0; at < y.size(); at += kFrames)
        s.process(y.data() + at);
    return y;
}

// The lag (0..3072 frames) at which `out` best matches `clean`, from a loud stretch.
size_t estimateDelay(const std::vector<float>& clean, const std::vector<float>& out)
{
    size_t loudest = 0;
    double best = -1.0;
    for (size_t at = 0; at + 24000 < clean.size(); at += 4800) {
        const double e = noisy::power(clean, at, 24000);
        if (e > best) {
            best = e;
            loudest = at;
        }
    }
    size_t lag = 0;
    double top = -1e300;
    for (size_t d = 0; d <= 3072; ++d) {
        double c = 0.0;
        for (size_t i = loudest; i < loudest + 24000 && i + d < out.size(); i += 2)
            c += static_cast<double>(clean[i]) * out[i + d];
        if (c > top) {
            top = c;
            lag = d;
        }
    }
    return lag;
}

struct Score {
    double segGain = 0, attenuation = 0, lsd = 0;
};

// Quality by suppressor, then input SNR, averaged over the noises; computed once.
struct Table {
    bool ready = false;
    std::map<std::string, std::map<int, Score>> scores;
    std::map<std::string, std::map<std::string, Score>> at0; // by noise
};

const Table& table()
{
    static Table t = [] {
        Table r;
        const auto speech = noisy::speech("The quick brown fox jumps over the lazy dog. Please call Stella, and ask "
                                          "her to bring these things with her from the store.");
        if (!speech) {
            std::printf("isolation comparison skipped: espeak-ng is not installed\n");
            return r;
        }
        std::vector<float> clean(48000, 0.0f); // one second of lead-in for every suppressor to settle
        clean.insert(clean.end(), speech->begin(), speech->end());
        clean.resize((clean.size() / kFrames) * kFrames);
        const size_t from = 48000;
        for (const auto& [name, make] : comparedSuppressors()) {
            // Each suppressor's own delay, from a mild mixture.
            const auto probeNoise
                = noisy::scaledNoise(clean, noisy::makeNoise(noisy::Noise::White, clean.size()), 20.0);
            auto probe = make();
            const size_t delay = estimateDelay(clean, runAll(*probe, noisy::add(clean, probeNoise)));
            for (int snr : {0, 5, 10}) {
                Score sum;
                for (noisy::Noise kind : noisy::kAllNoises) {
                    const auto noise = noisy::scaledNoise(clean, noisy::makeNoise(kind, clean.size()), snr);
                    const auto mixed = noisy::add(clean, noise);
                    auto s = make();
                    const auto out = runAll(*s, mixed);
                    const auto scored = noisy::noisyFrames(noise);
                    const Score one{noisy::segmentalSnr(clean, out, delay, from, scored)
                            - noisy::segmentalSnr(clean, mixed, 0, from, scored),
                        noisy::noiseAttenuationDb(clean, noise, out, delay, from),
                        noisy::logSpectralDistance(clean, out, delay, from)};
                    sum.segGain += one.segGain;
                    sum.attenuation += one.attenuation;
                    sum.lsd += one.lsd;
                    if (snr == 0)
                        r.at0[name][noisy::noiseName(kind)] = one;
                }
                const double n = std::size(noisy::kAllNoises);
                r.scores[name][snr] = {sum.segGain / n, sum.attenuation / n, sum.lsd / n};
            }
            std::printf("%s: delay %zu frames\n", name.c_str(), delay);
        }
        r.ready = true;
        return r;
    }();
    return t;
}

void printTable(const bench::Results& results)
{
    const Table& t = table();
    if (!t.ready)
        return;
    std::printf(
        "\n%-10s %6s %12s %12s %10s %12s\n", "suppressor", "SNR", "segSNR gain", "noise atten", "LSD", "block cost");
    for (const auto& [name, bySnr] : t.scores) {
        const auto it = results.find("BM_Suppressor/" + name);
        for (const auto& [snr, s] : bySnr) {
            char cost[32] = "-";
            if (it != results.end())
                std::snprintf(cost, sizeof cost, "%.3f %%", bench::percentOfBlock(it->second));
            std::printf("%-10s %4d dB %9.2f dB %9.2f dB %7.2f dB %12s\n", name.c_str(), snr, s.segGain, s.attenuation,
                s.lsd, cost);
        }
    }
    std::printf("at 0 dB by noise (segSNR gain / LSD):\n");
    for (const auto& [name, byNoise] : t.at0) {
        std::printf("  %-10s", name.c_str());
        for (const auto& [noise, s] : byNoise)
            std::printf("  %s %+.2f / %.1f", noise.c_str(), s.segGain, s.lsd);
        std::printf("\n");
    }
    std::printf("\n");
}

// A noisy speech-like block stream for the cost runs: the mixture is made once.
const std::vector<float>& costInput()
{
    static const std::vector<float> x = [] {
        std::vector<float> v(48000 * 4);
        dsp::Lcg g{11};
        for (size_t i = 0; i < v.size(); ++i)
            v[i] = 0.05f * g.bipolar()
                + static_cast<float>(
                    0.3 * std::sin(2.0 * 3.14159265 * 180.0 * i / kFs) * (((i / 24000) % 2) ? 1.0 : 0.0));
        return v;
    }();
    return x;
}

void runCost(benchmark::State& state, Suppressor& s)
{
    const auto& x = costInput();
    std::vector<float> block(kFrames);
    size_t at = 0;
    for (auto _ : state) {
        std::copy_n(x.begin() + static_cast<long>(at), kFrames, block.begin());
        s.process(block.data());
        benchmark::DoNotOptimize(block.data());
        at = at + 2 * kFrames > x.size() ? 0 : at + kFrames;
    }
}

void BM_IsolationMode(benchmark::State& state)
{
    const int mode = static_cast<int>(state.range(0));
    std::unique_ptr<Suppressor> s;
    if (mode == dsp::kIsolationVocalMode)
        s = std::make_unique<Vocal>();
    else
        s = std::make_unique<Ours>(mode, 60);
    runCost(state, *s);
}
BENCHMARK(BM_IsolationMode)->DenseRange(0, 4);

void BM_Suppressor(benchmark::State& state, const Factory& make)
{
    auto s = make();
    runCost(state, *s);
}

const bool registered = [] {
    for (const auto& [name, make] : comparedSuppressors())
        benchmark::RegisterBenchmark(("BM_Suppressor/" + name).c_str(), BM_Suppressor, make);
    return true;
}();

bool modePercent(const bench::Results& r, int mode, double& v)
{
    const auto it = r.find("BM_IsolationMode/" + std::to_string(mode));
    if (it == r.end())
        return false;
    v = bench::percentOfBlock(it->second);
    return true;
}

OVIX_FIGURE(
    m0, "isolation_gate_block_percent", [](const bench::Results& r, double& v) { return modePercent(r, 0, v); });
OVIX_FIGURE(
    m1, "isolation_clean_block_percent", [](const bench::Results& r, double& v) { return modePercent(r, 1, v); });
OVIX_FIGURE(
    m2, "isolation_studio_block_percent", [](const bench::Results& r, double& v) { return modePercent(r, 2, v); });
OVIX_FIGURE(
    m3, "isolation_broadcast_block_percent", [](const bench::Results& r, double& v) { return modePercent(r, 3, v); });
OVIX_FIGURE(
    m4, "isolation_vocal_block_percent", [](const bench::Results& r, double& v) { return modePercent(r, 4, v); });

bool segGain(const bench::Results& r, const char* name, double& v)
{
    if (r.find("BM_Suppressor/isolation") == r.end())
        return false; // the comparison was filtered out
    const Table& t = table();
    const auto it = t.scores.find(name);
    if (it == t.scores.end())
        return false;
    v = it->second.at(0).segGain;
    return true;
}

// The table prints with the first figure that needs it.
OVIX_FIGURE(q1, "isolation_segsnr_gain_db", [](const bench::Results& r, double& v) {
    if (r.find("BM_Suppressor/isolation") != r.end())
        printTable(r);
    return segGain(r, "isolation", v);
});
OVIX_FIGURE(q2, "speex_segsnr_gain_db", [](const bench::Results& r, double& v) { return segGain(r, "speex", v); });
OVIX_FIGURE(q4, "webrtc_segsnr_gain_db", [](const bench::Results& r, double& v) { return segGain(r, "webrtc", v); });
OVIX_FIGURE(q3, "isolation_vs_speex_cost", [](const bench::Results& r, double& v) {
    const auto ours = r.find("BM_Suppressor/isolation");
    const auto speex = r.find("BM_Suppressor/speex");
    if (ours == r.end() || speex == r.end())
        return false;
    v = ours->second / speex->second;
    return true;
});

} // namespace
