#pragma once
// The concrete effect chain of the block cycle: it holds every effect and
// fills every step. Here live the microphone drive and bass boost, the voice
// environment send with the old environment's tail, the two voice output
// buses with equalizer, width and soft clip, the voice pan, the clip and
// application buses with their two environments and the routing matrix, and
// the take previews. The voice chain's own stages (isolation, gate and tone,
// speed and changer, masks, glitch, card-mic voicing) fill their steps, and
// the wide echo room adds to the headphone wet; the bus masks and a
// replacement wide echo plug in through the hooks below. Everything runs on the
// engine thread and allocates only in prepare() and when a preset change
// builds new rooms.

#include "dsp/bass_boost.h"
#include "dsp/biquad.h"
#include "dsp/clip_stretcher.h"
#include "dsp/equalizer.h"
#include "dsp/gain.h"
#include "engine/block_steps.h"
#include "engine/cleanup_stage.h"
#include "engine/engine_state.h"
#include "engine/environment.h"
#include "engine/glitch_stage.h"
#include "engine/mask_stage.h"
#include "engine/mix.h"
#include "engine/mix_sources.h"
#include "engine/voice_stage.h"
#include "engine/wide_echo.h"
#include "platform/sample_rate.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {
class Files;
}

namespace engine {

// The mask processor of the clip or the application bus.
class BusMask {
public:
    virtual ~BusMask() = default;
    virtual void reset() noexcept = 0;
    // enabled: the bus's bit of mask_on; glitchHeld: the glitch button or key
    // is held. Keeps running after enabled clears until its output has faded.
    virtual void process(float* left, float* right, uint32_t n, bool enabled, bool glitchHeld,
        const settings::Settings& settings) noexcept = 0;
};

// The mask stage's stream processor behind the bus mask hook; the stage reads
// the bus's mask_on bit itself.
class StageBusMask : public BusMask {
public:
    StageBusMask(MaskStage& stage, MaskStream stream) : stage_(stage), stream_(stream) { }
    void prepare(uint32_t maxFrames) { frames_.assign(size_t{maxFrames} * 2, 0.0f); }
    void reset() noexcept override;
    void process(float* left, float* right, uint32_t n, bool enabled, bool glitchHeld,
        const settings::Settings& settings) noexcept override;

private:
    MaskStage& stage_;
    MaskStream stream_;
    std::vector<float> frames_; // interleaved, as the stage takes it
};

// A replacement for the chain's own wide echo room on the headphone path:
// adds into the voice's headphone wet pair.
class WideEcho {
public:
    virtual ~WideEcho() = default;
    // feed: the voice send of this block as the built-in room gets it (the
    // high-passed voice, the send level and the cavern send compressor's
    // gain per frame, 1 on other rooms: the part the cavern takes, so the
    // wide echo's part is 1 minus it); cavernRunning: the procedural cavern runs now.
    virtual void process(const WideEchoFeed& feed, float* wetL, float* wetR, uint32_t n, bool cavernRunning,
        const settings::Settings& settings) noexcept = 0;
};

class EffectChain : public BlockSteps {
public:
    struct Sources {
        ClipSource* clip = nullptr;
        MixSource* pads = nullptr;
        AppSource* app = nullptr;
        MixSource* previewToMic = nullptr;  // heard on both outputs
        MixSource* previewPhones = nullptr; // heard in the monitor only
    };

    EffectChain(EnvironmentFactory& environments, const settings::Settings& settings, EngineState& state);
    ~EffectChain() override;

    // Before the engine starts.
    void setSources(const Sources& sources) { sources_ = sources; }
    void setClipMask(BusMask* mask) { clipMask_ = mask; }
    void setAppMask(BusMask* mask) { appMask_ = mask; }
    void setWideEcho(WideEcho* wide) { wideEcho_ = wide; }

    bool loadImpulseResponse() override;
    void prepare(double sampleRate, uint32_t maxFrames, int preset) override;
    void changeEnvironment(int preset) noexcept override;
    void reloadEq() noexcept override;
    void setBassBoost(float micGain) noexcept override;
    void isolation(Block& block) noexcept override;
    void micTone(Block& block) noexcept override;
    void voiceSpeed(Block& block, int speedPercent, bool keepPitch) noexcept override;
    void voiceChangerAndMask(Block& block) noexcept override;
    void glitch(Block& block, bool active) noexcept override;
    void cardMicVoicing(Block& block) noexcept override;
    void driveAndBass(Block& block) noexcept override;
    void environment(Block& block) noexcept override;
    void voiceOutput(Block& block) noexcept override;
    void voicePan(Block& block) noexcept override;
    void mixBuses(Block& block) noexcept override;
    void mixPreviews(Block& block) noexcept override;

    // The stages of the voice chain.
    CleanupStage& cleanup() { return cleanup_; }
    VoiceStage& voiceStage() { return voiceStage_; }
    MaskStage& masks() { return masks_; }
    GlitchStage& glitchStage() { return glitchStage_; }
    const WideEchoRoom& wideEcho() const { return wideRoom_; }

    // Diagnostics.
    const MicDrive& drive() const { return drive_; }
    float voiceDryGain() const { return voiceDryGain_; }
    bool clipLive() const { return clipActive_ || clipTail_ >= 1; }
    bool appLive() const { return appActive_ || appTail_ >= 1; }
    bool bus1Running() const { return bus1Running_; }
    bool oldEnvironmentRinging() const { return oldRoom_ != nullptr || oldIsConvolution_; }
    bool clipStretcherEngaged() const { return stretcherEngaged_; }

private:
    // Runs a step over chunks no longer than the prepared scratch.
    template <class Step> void inChunks(Block& block, Step step) noexcept;
    void environmentChunk(Block& block) noexcept;
    void voiceOutputChunk(Block& block) noexcept;
    void mixBusesChunk(Block& block) noexcept;
    void mixPreviewsChunk(Block& block) noexcept;
    void fillClip(const settings::Settings& st, uint32_t n) noexcept;
    void fillApp(uint32_t n) noexcept;
    bool convolutionActive(int preset) const noexcept;
    std::unique_ptr<ReverbInstance> makeRoom(int preset) noexcept;

    EnvironmentFactory& environments_;
    const settings::Settings& settings_;
    EngineState& state_;
    Sources sources_;
    WideEcho* wideEcho_ = nullptr;

    double sampleRate_ = platform::kSampleRate;
    uint32_t capacity_ = 0; // frames of scratch
    bool irLoaded_ = false;
    int preset_ = kCavernPreset;

    // Voice.
    CleanupStage cleanup_;
    VoiceStage voiceStage_;
    MaskStage masks_;
    GlitchStage glitchStage_;
    WideEchoRoom wideRoom_;     // the headphones' wide echo, unless a hook replaces it
    bool voiceMaskRan_ = false; // voiceMask() ran in this block's changer step
    StageBusMask clipStageMask_{masks_, MaskStream::Clip};
    StageBusMask appStageMask_{masks_, MaskStream::Application};
    BusMask* clipMask_ = &clipStageMask_;
    BusMask* appMask_ = &appStageMask_;
    MicDrive drive_;
    dsp::BassBoost voiceBass_, clipBass_, appBass_;
    dsp::Biquad sendHighPass_;
    dsp::InputCompressor sendCompressor_;
    std::unique_ptr<ReverbInstance> room_;
    std::unique_ptr<ReverbInstance> convolution_;
    std::unique_ptr<CavernStages> voiceCavern_;
    bool convolutionWasActive_ = false;
    std::unique_ptr<ReverbInstance> oldRoom_;
    bool oldIsConvolution_ = false; // the tail comes from the convolution, which is kept
    bool oldFromCavern_ = false;
    int64_t oldTail_ = 0;
    float voiceDryGain_ = 1.0f;
    dsp::Equalizer eqVoiceMonitor_, eqVoiceCable_, eqClipsMonitor_, eqClipsCable_;

    // Clip and application buses.
    BusEnvironment bus0_, bus1_;
    bool clipActive_ = false, appActive_ = false;
    int64_t clipTail_ = 0, appTail_ = 0, bus1Tail_ = 0;
    bool bus1Running_ = false;
    bool busesWereLive_ = false;
    dsp::ClipStretcher stretcher_;
    bool stretcherEngaged_ = false;
    uint32_t clipGeneration_ = 0;
    bool clipGenerationSeen_ = false;

    // Scratch, sized in prepare().
    std::vector<float> send_, highPassed_, compressorGain_, silence_;
    std::vector<float> wetMonL_, wetMonR_, wetCabL_, wetCabR_, tailL_, tailR_;
    std::vector<float> clipL_, clipR_, appL_, appR_, pullL_, pullR_;
    std::vector<float> previewAL_, previewAR_, previewHL_, previewHR_;
    std::vector<float> outMonL_, outMonR_, outCabL_, outCabR_; // the voice's output pairs before the equalizers
};

// The program's effect chain with the environment reverb, bound to a settings
// record and an engine state that outlive it; the cavern runs procedurally.
std::unique_ptr<BlockSteps> makeEffectChain(const settings::Settings& settings, EngineState& state);
// The same, with the cavern's response file looked for in folder through files.
std::unique_ptr<BlockSteps> makeEffectChainWithResponse(
    const settings::Settings& settings, EngineState& state, platform::Files& files, std::wstring folder);

} // namespace engine
