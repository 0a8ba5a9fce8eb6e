// The environment reverb on one 10 ms block (480 frames at 48 kHz): every
// room, the convolution with a 5-second response, and, side by side, the same
// room parameters through OpenAL Soft's EAX reverb on its loopback device.
// OpenAL's figure covers its whole render of one looping source whose dry path
// is filtered to silence and whose send feeds the reverb slot, so it carries
// a little mixing work besides the reverb itself.

#include "bench_main.h"

#include "dsp/convolution.h"
#include "dsp/denormals.h"
#include "dsp/haunted_cavern.h"
#include "dsp/random.h"
#include "dsp/reverb.h"
#include "dsp/room.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#ifdef OVIX_BENCH_OPENAL
#define AL_ALEXT_PROTOTYPES
#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alext.h>
#include <AL/efx.h>
#endif

namespace {

constexpr int kFrames = 480;

std::vector<float> noiseBlock(uint32_t seed)
{
    dsp::Lcg g{seed};
    std::vector<float> block(kFrames);
    for (float& v : block)
        v = 0.3f * g.bipolar();
    return block;
}

void BM_ReverbRoom(benchmark::State& state)
{
    dsp::ScopedFlushDenormals flush;
    const int preset = static_cast<int>(state.range(0));
    auto reverb = dsp::Reverb::create(48000, preset);
    const std::vector<float> in = noiseBlock(5);
    std::vector<float> left(kFrames), right(kFrames);
    // Fill the lines first so the figure is the steady state.
    for (int b = 0; b < 200; ++b)
        reverb->process(in.data(), nullptr, left.data(), right.data(), kFrames);
    for (auto _ : state) {
        reverb->process(in.data(), nullptr, left.data(), right.data(), kFrames);
        benchmark::DoNotOptimize(left.data());
    }
    state.SetLabel("room " + std::to_string(preset));
}
BENCHMARK(BM_ReverbRoom)->DenseRange(0, dsp::kRoomCount - 1);

// What the procedural "Haunted Cavern" runs beside its room instance: the slap
// echo and the two plates, with the send open and the compressor gain moving.
void BM_CavernPlatesAndSlap(benchmark::State& state)
{
    dsp::ScopedFlushDenormals flush;
    dsp::HauntedCavern cavern;
    cavern.prepare(48000);
    const std::vector<float> in = noiseBlock(7);
    std::vector<float> gain(kFrames), left(kFrames), right(kFrames);
    for (size_t i = 0; i < gain.size(); ++i)
        gain[i] = 0.6f + 0.4f * std::fabs(in[i]);
    for (int b = 0; b < 200; ++b)
        cavern.process(in.data(), gain.data(), 0.7f, 80, left.data(), right.data(), kFrames);
    for (auto _ : state) {
        cavern.process(in.data(), gain.data(), 0.7f, 80, left.data(), right.data(), kFrames);
        benchmark::DoNotOptimize(left.data());
    }
}
BENCHMARK(BM_CavernPlatesAndSlap);

void BM_Convolution5s(benchmark::State& state)
{
    dsp::ScopedFlushDenormals flush;
    const size_t frames = dsp::ConvolutionReverb::kDroppedFrames + 5 * 48000;
    std::vector<float> left(frames), right(frames);
    dsp::Lcg g{8};
    for (size_t i = 0; i < frames; ++i) {
        const float env = std::exp(-4.0f * static_cast<float>(i) / static_cast<float>(frames));
        left[i] = env * g.bipolar();
        right[i] = env * g.bipolar();
    }
    dsp::ConvolutionReverb conv;
    conv.load(left, right, 48000);
    const std::vector<float> in = noiseBlock(6);
    std::vector<float> outL(kFrames), outR(kFrames);
    for (auto _ : state) {
        conv.process(in.data(), outL.data(), outR.data(), kFrames);
        benchmark::DoNotOptimize(outL.data());
    }
}
BENCHMARK(BM_Convolution5s);

#ifdef OVIX_BENCH_OPENAL

// One loopback device rendering 48 kHz float stereo, with one effect slot
// holding an EAX reverb and one looping noise source sent into it.
class OpenAlReverb {
public:
    explicit OpenAlReverb(const dsp::RoomParams& p)
    {
        device_ = alcLoopbackOpenDeviceSOFT(nullptr);
        if (device_ == nullptr)
            return;
        const ALCint attrs[] = {ALC_FORMAT_CHANNELS_SOFT, ALC_STEREO_SOFT, ALC_FORMAT_TYPE_SOFT, ALC_FLOAT_SOFT,
            ALC_FREQUENCY, 48000, ALC_MAX_AUXILIARY_SENDS, 1, 0};
        context_ = alcCreateContext(device_, attrs);
        if (context_ == nullptr || alcMakeContextCurrent(context_) == ALC_FALSE)
            return;
        alGenEffects(1, &effect_);
        alEffecti(effect_, AL_EFFECT_TYPE, AL_EFFECT_EAXREVERB);
        // The same values, limited to the ranges the EFX reverb accepts.
        const auto set = [&](ALenum param, double v, double lo, double hi) {
            alEffectf(effect_, param, static_cast<ALfloat>(std::clamp(v, lo, hi)));
        };
        set(AL_EAXREVERB_DENSITY, p.density, 0, 1);
        set(AL_EAXREVERB_DIFFUSION, p.diffusion, 0, 1);
        set(AL_EAXREVERB_GAIN, p.gain, 0, 1);
        set(AL_EAXREVERB_GAINHF, p.gainHf, 0, 1);
        set(AL_EAXREVERB_GAINLF, p.gainLf, 0, 1);
        set(AL_EAXREVERB_DECAY_TIME, p.decayTime, 0.1, 20);
        set(AL_EAXREVERB_DECAY_HFRATIO, p.decayHfRatio, 0.1, 2);
        set(AL_EAXREVERB_DECAY_LFRATIO, p.decayLfRatio, 0.1, 2);
        set(AL_EAXREVERB_REFLECTIONS_GAIN, p.reflectionsGain, 0, 3.16);
        set(AL_EAXREVERB_REFLECTIONS_DELAY, p.reflectionsDelay, 0, 0.3);
        set(AL_EAXREVERB_LATE_REVERB_GAIN, p.lateGain, 0, 10);
        set(AL_EAXREVERB_LATE_REVERB_DELAY, p.lateDelay, 0, 0.1);
        set(AL_EAXREVERB_ECHO_TIME, p.echoTime, 0.075, 0.25);
        set(AL_EAXREVERB_ECHO_DEPTH, p.echoDepth, 0, 1);
        set(AL_EAXREVERB_MODULATION_TIME, p.modulationTime, 0.04, 4);
        set(AL_EAXREVERB_MODULATION_DEPTH, p.modulationDepth, 0, 1);
        set(AL_EAXREVERB_AIR_ABSORPTION_GAINHF, p.airAbsorptionHf, 0.892, 1);
        set(AL_EAXREVERB_HFREFERENCE, p.hfReference, 1000, 20000);
        set(AL_EAXREVERB_LFREFERENCE, p.lfReference, 20, 1000);
        alEffecti(effect_, AL_EAXREVERB_DECAY_HFLIMIT, p.decayHfLimit != 0 ? AL_TRUE : AL_FALSE);
        alGenAuxiliaryEffectSlots(1, &slot_);
        alAuxiliaryEffectSloti(slot_, AL_EFFECTSLOT_EFFECT, static_cast<ALint>(effect_));

        // One second of mono noise, looping; the dry path filtered to nothing.
        std::vector<float> noise(48000);
        dsp::Lcg g{12};
        std::vector<ALshort> pcm(noise.size());
        for (auto& s : pcm)
            s = static_cast<ALshort>(g.bipolar() * 9000.0f);
        alGenBuffers(1, &buffer_);
        alBufferData(buffer_, AL_FORMAT_MONO16, pcm.data(), static_cast<ALsizei>(pcm.size() * sizeof(ALshort)), 48000);
        alGenFilters(1, &filter_);
        alFilteri(filter_, AL_FILTER_TYPE, AL_FILTER_LOWPASS);
        alFilterf(filter_, AL_LOWPASS_GAIN, 0.0f);
        alGenSources(1, &source_);
        alSourcei(source_, AL_BUFFER, static_cast<ALint>(buffer_));
        alSourcei(source_, AL_LOOPING, AL_TRUE);
        alSourcei(source_, AL_DIRECT_FILTER, static_cast<ALint>(filter_));
        alSource3i(source_, AL_AUXILIARY_SEND_FILTER, static_cast<ALint>(slot_), 0, AL_FILTER_NULL);
        alSourcePlay(source_);
        ok_ = alGetError() == AL_NO_ERROR;
    }
    ~OpenAlReverb()
    {
        if (context_ != nullptr) {
            alSourceStop(source_);
            alDeleteSources(1, &source_);
            alDeleteFilters(1, &filter_);
            alDeleteBuffers(1, &buffer_);
            alDeleteAuxiliaryEffectSlots(1, &slot_);
            alDeleteEffects(1, &effect_);
            alcMakeContextCurrent(nullptr);
            alcDestroyContext(context_);
        }
        if (device_ != nullptr)
            alcCloseDevice(device_);
    }
    OpenAlReverb(const OpenAlReverb&) = delete;
    OpenAlReverb& operator=(const OpenAlReverb&) = delete;

    bool ok() const { return ok_; }
    void render(float* stereo, int frames) { alcRenderSamplesSOFT(device_, stereo, frames); }

private:
    ALCdevice* device_ = nullptr;
    ALCcontext* context_ = nullptr;
    ALuint effect_ = 0, slot_ = 0, buffer_ = 0, filter_ = 0, source_ = 0;
    bool ok_ = false;
};

void BM_OpenAlRoom(benchmark::State& state)
{
    const int preset = static_cast<int>(state.range(0));
    OpenAlReverb al(dsp::room(preset));
    if (!al.ok()) {
        state.SkipWithError("OpenAL Soft loopback device or EAX reverb unavailable");
        return;
    }
    std::vector<float> stereo(2 * kFrames);
    for (int b = 0; b < 200; ++b)
        al.render(stereo.data(), kFrames);
    for (auto _ : state) {
        al.render(stereo.data(), kFrames);
        benchmark::DoNotOptimize(stereo.data());
    }
    state.SetLabel("room " + std::to_string(preset));
}
BENCHMARK(BM_OpenAlRoom)->DenseRange(0, dsp::kRoomCount - 1);

// Median over the rooms of our block cost divided by OpenAL's.
OVIX_FIGURE(versusOpenAl, "reverb_vs_openal", [](const bench::Results& r, double& value) {
    std::vector<double> ratios;
    for (int i = 0; i < dsp::kRoomCount; ++i) {
        const std::string ours = "BM_ReverbRoom/" + std::to_string(i);
        const std::string theirs = "BM_OpenAlRoom/" + std::to_string(i);
        if (r.count(ours) && r.count(theirs) && r.at(theirs) > 0.0)
            ratios.push_back(r.at(ours) / r.at(theirs));
    }
    if (ratios.empty())
        return false;
    std::sort(ratios.begin(), ratios.end());
    const size_t n = ratios.size();
    value = n % 2 == 1 ? ratios[n / 2] : 0.5 * (ratios[n / 2 - 1] + ratios[n / 2]);
    return true;
});

#endif // OVIX_BENCH_OPENAL

OVIX_FIGURE(worstRoom, "reverb_worst_room_block_pct", [](const bench::Results& r, double& value) {
    double worst = -1.0;
    for (int i = 0; i < dsp::kRoomCount; ++i) {
        const std::string name = "BM_ReverbRoom/" + std::to_string(i);
        if (r.count(name))
            worst = std::max(worst, r.at(name));
    }
    if (worst < 0.0)
        return false;
    value = bench::percentOfBlock(worst);
    return true;
});

OVIX_FIGURE(cavernPlates, "cavern_plates_slap_block_pct", [](const bench::Results& r, double& value) {
    if (!r.count("BM_CavernPlatesAndSlap"))
        return false;
    value = bench::percentOfBlock(r.at("BM_CavernPlatesAndSlap"));
    return true;
});

OVIX_FIGURE(convolution5s, "convolution_5s_block_pct", [](const bench::Results& r, double& value) {
    if (!r.count("BM_Convolution5s"))
        return false;
    value = bench::percentOfBlock(r.at("BM_Convolution5s"));
    return true;
});

} // namespace
