#pragma once
// An effect chain driven block by block the way the engine drives it, with
// stand-in rooms and sources that tests control.

#include "engine/effect_chain.h"
#include "engine/engine.h"

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

namespace test {

// A room that answers every send with a known wet pair: a slowly leaking
// sum of what it was fed, positive on the left and negative on the right,
// so it rings on after its input stops. It remembers how much it was fed.
class StandInRoom : public engine::ReverbInstance {
public:
    explicit StandInRoom(double decay) : decay_(decay) { }
    void process(const float* a, const float* b, float* left, float* right, uint32_t n) noexcept override
    {
        for (uint32_t i = 0; i < n; ++i) {
            const float x = b ? 0.5f * (a[i] + b[i]) : a[i];
            fed += std::fabs(x);
            state_ = 0.999f * state_ + x;
            left[i] = kGain * state_;
            right[i] = -kGain * state_;
        }
        processed += n;
    }
    void clear() noexcept override
    {
        state_ = 0.0f;
        ++clears;
    }
    double decaySeconds() const noexcept override { return decay_; }
    // What it holds now: the level its output rings at.
    float level() const { return state_; }

    static constexpr float kGain = 0.05f;
    double fed = 0.0;
    uint64_t processed = 0;
    int clears = 0;

private:
    double decay_;
    float state_ = 0.0f;
};

// Cavern stages that duck by a set amount and add a known signal: the
// high-passed voice times 0.25 into every wet channel it is given, and half
// the bus's dry sum as the bus's mono wet.
class StandInCavern : public engine::CavernStages {
public:
    float duck = 0.0f;
    uint64_t voiceFrames = 0;

    float duckDb(const float*, uint32_t, int32_t) noexcept override { return duck; }
    void addVoice(const float* highPassed, const float*, float, int32_t, float* monL, float* monR, float* cabL,
        float* cabR, uint32_t n) noexcept override
    {
        for (uint32_t i = 0; i < n; ++i) {
            const float x = 0.25f * highPassed[i];
            monL[i] += x;
            monR[i] += x;
            cabL[i] += x;
            cabR[i] += x;
        }
        voiceFrames += n;
    }
    void monoWet(const float* dry, bool, int32_t, float* out, uint32_t n) noexcept override
    {
        for (uint32_t i = 0; i < n; ++i)
            out[i] = 0.5f * dry[i];
    }
};

class StandInEnvironments : public engine::EnvironmentFactory {
public:
    double decay = 0.25; // seconds: tails of 24000 + 12000 frames
    bool responseLoads = false;
    bool withCavern = false;
    std::vector<StandInRoom*> rooms; // in order of making; owned by the chain
    std::vector<int> presets;
    StandInRoom* convolution = nullptr;
    std::vector<StandInCavern*> caverns; // the voice's first, then bus 0 and bus 1

    bool loadImpulseResponse() override { return responseLoads; }
    std::unique_ptr<engine::ReverbInstance> makeRoom(double, int preset) override
    {
        auto room = std::make_unique<StandInRoom>(decay);
        rooms.push_back(room.get());
        presets.push_back(preset);
        return room;
    }
    std::unique_ptr<engine::ReverbInstance> makeConvolution(double) override
    {
        auto room = std::make_unique<StandInRoom>(decay);
        convolution = room.get();
        return room;
    }
    std::unique_ptr<engine::CavernStages> makeCavern(double) override
    {
        if (!withCavern)
            return nullptr;
        auto cavern = std::make_unique<StandInCavern>();
        caverns.push_back(cavern.get());
        return cavern;
    }
};

// A clip player playing a constant stereo value (or a sine when hz > 0).
class FakeClip : public engine::ClipSource {
public:
    bool isActive = false;
    bool isPaused = false;
    uint32_t generation = 1;
    float left = 0.25f;
    float right = 0.25f;
    double hz = 0.0;
    uint64_t framesRead = 0;

    bool active() const noexcept override { return isActive; }
    bool paused() const noexcept override { return isPaused; }
    uint32_t clipGeneration() const noexcept override { return generation; }
    uint32_t read(float* l, float* r, uint32_t n) noexcept override
    {
        for (uint32_t i = 0; i < n; ++i) {
            const double t = static_cast<double>(framesRead + i) / 48000.0;
            const float s = hz > 0.0 ? static_cast<float>(std::sin(2.0 * 3.14159265358979 * hz * t)) : 1.0f;
            l[i] = left * s;
            r[i] = right * s;
        }
        framesRead += n;
        return n;
    }
};

class FakeApp : public engine::AppSource {
public:
    bool isRunning = false;
    bool park = true;
    float left = 0.125f;
    float right = 0.125f;

    bool running() const noexcept override { return isRunning; }
    bool parkRequested() const noexcept override { return park; }
    uint32_t read(float* l, float* r, uint32_t n) noexcept override
    {
        for (uint32_t i = 0; i < n; ++i) {
            l[i] = left;
            r[i] = right;
        }
        return n;
    }
};

struct ChainRig {
    static constexpr uint32_t kFrames = 480;

    settings::Settings settings;
    settings::Snapshot snapshot; // what the last block read
    StandInEnvironments environments;
    engine::EnvironmentFactory* realRooms = nullptr; // when set, used instead of the stand-ins
    std::unique_ptr<engine::EffectChain> chain;
    FakeClip clip;
    FakeApp app;
    std::vector<float> voice, wetCable, wetMonitor, cable, monitor;
    // Also run the voice chain's own steps (4 to 9), gated as the engine gates them.
    bool voiceStages = false;

    // Quiet defaults: no reverb, no equalizer; a test turns on what it checks.
    ChainRig()
    {
        settings.set(&settings::Settings::effects, 0);
        settings.set(&settings::Settings::eq_on, 0);
        voice.resize(kFrames * 4);
        wetCable.resize(kFrames * 4);
        wetMonitor.resize(kFrames * 4);
        cable.resize(kFrames * 8);
        monitor.resize(kFrames * 8);
    }

    // Prepares the chain (after the test has set up settings and the factory).
    engine::EffectChain& start(engine::EffectChain::Sources sources = {})
    {
        chain = std::make_unique<engine::EffectChain>(
            realRooms ? *realRooms : static_cast<engine::EnvironmentFactory&>(environments), settings);
        if (sources.clip == nullptr && sources.app == nullptr) {
            sources.clip = &clip;
            sources.app = &app;
        }
        chain->setSources(sources);
        chain->loadImpulseResponse();
        chain->prepare(48000.0, kFrames, settings.preset.load());
        return *chain;
    }

    // One block of the engine's cycle with a constant microphone value, or
    // one whose sign alternates every frame (a tone at half the sample rate).
    void block(float mic = 0.0f, uint32_t n = kFrames, bool alternate = false)
    {
        const float g = engine::levelGain(settings.mic_level.load());
        for (uint32_t i = 0; i < n; ++i)
            voice[i] = (alternate && (i & 1) ? -mic : mic) * g;
        engine::Block b;
        b.frames = n;
        b.micGain = g;
        b.settings = &(snapshot = settings.snapshot());
        b.voice = voice.data();
        b.wetCable = wetCable.data();
        b.wetMonitor = wetMonitor.data();
        b.cable = cable.data();
        b.monitor = monitor.data();
        chain->setBassBoost(g);
        if (voiceStages) {
            const bool masked = (settings.mask_on.load() & 1) != 0;
            if (settings.isolate.load())
                chain->isolation(b);
            chain->micTone(b);
            chain->voiceSpeed(b, masked ? settings.voice_speed.load() : 100, settings.voice_keep_pitch.load() != 0);
            if (masked)
                chain->voiceChangerAndMask(b);
            chain->glitch(b, false);
            if (settings.card_mic.load() && !settings.raw.load())
                chain->cardMicVoicing(b);
        }
        chain->driveAndBass(b);
        chain->environment(b);
        chain->voiceOutput(b);
        chain->voicePan(b);
        chain->mixBuses(b);
        chain->mixPreviews(b);
    }
    void blocks(int count, float mic = 0.0f)
    {
        for (int i = 0; i < count; ++i)
            block(mic);
    }

    static double peak(const std::vector<float>& v, uint32_t n = kFrames * 2)
    {
        double p = 0.0;
        for (uint32_t i = 0; i < n; ++i)
            p = std::max(p, static_cast<double>(std::fabs(v[i])));
        return p;
    }
};

} // namespace test
