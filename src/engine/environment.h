#pragma once
// What the mix needs of the environment reverb: room instances built for a
// preset, the convolution response, and the procedural cavern's own stages
// (its dry duck and the stages that run beside its room). The mix owns the
// instances and decides what feeds them and where their output goes; how
// they sound is the reverb's business. Making an instance allocates; running
// one does not.

#include <cstdint>
#include <memory>

namespace engine {

inline constexpr int kCavernPreset = 8;

// One reverb instance: a room, or the convolution response.
class ReverbInstance {
public:
    virtual ~ReverbInstance() = default;
    // A mono send (b, when given, is averaged with a) into a stereo wet pair;
    // left and right are overwritten.
    virtual void process(const float* a, const float* b, float* left, float* right, uint32_t n) noexcept = 0;
    // The explicit-tap gains of the cavern room: the send and its compensation.
    virtual void setTapGains(double /*send*/, double /*compensation*/) noexcept { }
    // Clears every line (the convolution, when it becomes active).
    virtual void clear() noexcept { }
    // Decay time in seconds; sets how long a tail rings.
    virtual double decaySeconds() const noexcept = 0;
};

// The stages that run beside the cavern's room while it runs procedurally.
class CavernStages {
public:
    virtual ~CavernStages() = default;
    virtual void reset() noexcept { }
    // How far the dry signal is to be ducked, in dB (0 = not at all), for a
    // block of the dry signal; amount is the reverb intensity in percent.
    virtual float duckDb(const float* /*dry*/, uint32_t /*n*/, int32_t /*amount*/) noexcept { return 0.0f; }
    // Voice: the procedural stages fed from the high-passed voice at send
    // level send, with the send compressor's gain of each frame (the stages
    // split the send by it); their output is added into the monitor and
    // cable wet pairs.
    virtual void addVoice(const float* /*highPassed*/, const float* /*compressorGain*/, float /*send*/,
        int32_t /*amount*/, float* /*monL*/, float* /*monR*/, float* /*cabL*/, float* /*cabR*/, uint32_t /*n*/) noexcept
    { }
    // A clip/application bus: a mono wet from the bus's mono dry sum
    // (overwrites out); sending tells whether any send is above 0.
    virtual void monoWet(const float* /*dry*/, bool /*sending*/, int32_t /*amount*/, float* out, uint32_t n) noexcept
    {
        for (uint32_t i = 0; i < n; ++i)
            out[i] = 0.0f;
    }
    // A block in which nothing feeds the stages: their levels decay only.
    virtual void idle(uint32_t /*n*/) noexcept { }
};

// Makes the instances: at engine start, and on a preset change on the room
// builder's thread (room_builder.h), never in the engine's block cycle.
class EnvironmentFactory {
public:
    virtual ~EnvironmentFactory() = default;
    // Engine start: loads the convolution response; true when it loaded.
    virtual bool loadImpulseResponse() { return false; }
    virtual std::unique_ptr<ReverbInstance> makeRoom(double sampleRate, int preset) = 0;
    // The convolution response, when it loaded; else none.
    virtual std::unique_ptr<ReverbInstance> makeConvolution(double /*sampleRate*/) { return nullptr; }
    // The cavern's procedural stages, or none.
    virtual std::unique_ptr<CavernStages> makeCavern(double /*sampleRate*/) { return nullptr; }
};

// No reverb: every room is silent and rings for no time.
class SilentEnvironments : public EnvironmentFactory {
public:
    std::unique_ptr<ReverbInstance> makeRoom(double sampleRate, int preset) override;
};

} // namespace engine
