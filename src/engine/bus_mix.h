#pragma once
// The clip and application buses and the take previews (block steps 15 and
// 16): filling the clip bus from the player (through the time-stretcher off
// speed 100) and the pads, the application bus from its ring; their gains,
// bass shelves and masks; the shared and the monitor-only environment with
// their tails; the routing matrix into both outputs with equalizer, width
// and soft clip; then the two preview players. Engine thread only;
// allocates only in prepare().

#include "dsp/bass_boost.h"
#include "dsp/clip_stretcher.h"
#include "dsp/equalizer.h"
#include "engine/block_steps.h"
#include "engine/mask_stage.h"
#include "engine/mix.h"
#include "engine/mix_sources.h"
#include "engine/room_builder.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace engine {

// The mask processor of the clip or the application bus.
class BusMask {
public:
    virtual ~BusMask() = default;
    virtual void reset() noexcept = 0;
    // enabled: the bus's bit of mask_on; glitchHeld: the glitch button or key
    // is held. Keeps running after enabled clears until its output has faded.
    virtual void process(float* left, float* right, uint32_t n, bool enabled, bool glitchHeld,
        const settings::Snapshot& settings) noexcept = 0;
};

// The mask stage's stream processor behind the bus mask hook; the stage reads
// the bus's mask_on bit itself.
class StageBusMask : public BusMask {
public:
    StageBusMask(MaskStage& stage, MaskStream stream) : stage_(stage), stream_(stream) { }
    void prepare(uint32_t maxFrames) { frames_.assign(size_t{maxFrames} * 2, 0.0f); }
    void reset() noexcept override;
    void process(float* left, float* right, uint32_t n, bool enabled, bool glitchHeld,
        const settings::Snapshot& settings) noexcept override;

private:
    MaskStage& stage_;
    MaskStream stream_;
    std::vector<float> frames_; // interleaved, as the stage takes it
};

// The sources the buses and previews read.
struct MixSources {
    ClipSource* clip = nullptr;
    MixSource* pads = nullptr;
    AppSource* app = nullptr;
    MixSource* previewToMic = nullptr;  // heard on both outputs
    MixSource* previewPhones = nullptr; // heard in the monitor only
};

// What the buses need to know of the voice's environment this block.
struct BusEnvironmentState {
    int preset = 0;
    bool convolution = false; // the voice runs on the cavern's response
};

class BusMix {
public:
    void setSources(const MixSources& sources) { sources_ = sources; }
    void setMasks(BusMask* clip, BusMask* app)
    {
        clipMask_ = clip;
        appMask_ = app;
    }
    // Takes the two bus rooms of preset and the cavern's stages, and the scratch for maxFrames. Allocates.
    void prepare(double sampleRate, uint32_t maxFrames, EnvironmentFactory& environments, int preset);
    void setBands(const settings::EqGains& gains, int level) noexcept;
    void setBassBoost(double db) noexcept;
    // Swaps in the bus rooms of set; set takes back the ones displaced.
    void adopt(RoomSet& set) noexcept;

    // Step 15, one chunk: the buses mixed into block.monitor and block.cable.
    void mix(Block& block, const BusEnvironmentState& environment) noexcept;
    // Step 16, one chunk.
    void mixPreviews(Block& block) noexcept;

    bool clipLive() const { return clipActive_ || clipTail_ >= 1; }
    bool appLive() const { return appActive_ || appTail_ >= 1; }
    bool bus1Running() const { return bus1Running_; }
    bool stretcherEngaged() const { return stretcherEngaged_; }
    // How long the clips' environment rings, in seconds.
    double clipDecaySeconds() const { return bus0_.decaySeconds(); }

private:
    void fillClip(const settings::Snapshot& st, uint32_t n) noexcept;
    void fillApp(uint32_t n) noexcept;

    MixSources sources_;
    BusMask* clipMask_ = nullptr;
    BusMask* appMask_ = nullptr;

    dsp::BassBoost clipBass_, appBass_;
    dsp::Equalizer eqMonitor_, eqCable_;
    BusEnvironment bus0_, bus1_;
    bool clipActive_ = false, appActive_ = false;
    int64_t clipTail_ = 0, appTail_ = 0, bus1Tail_ = 0;
    bool bus1Running_ = false;
    bool busesWereLive_ = false;
    dsp::ClipStretcher stretcher_;
    bool stretcherEngaged_ = false;
    uint32_t clipGeneration_ = 0;
    bool clipGenerationSeen_ = false;

    std::vector<float> clipL_, clipR_, appL_, appR_, pullL_, pullR_;
    std::vector<float> previewAL_, previewAR_, previewHL_, previewHR_;
};

} // namespace engine
