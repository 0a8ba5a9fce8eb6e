#pragma once
// The concrete effect chain of the block cycle: a short orchestrator that
// holds every effect and calls each in its step. The voice chain's own stages
// (isolation, gate and tone, speed and changer, masks, glitch, card-mic
// voicing) fill steps 4 to 9; the voice output unit the drive, the output
// pairs and the pan (steps 10, 12, 14); the voice environment the send, the
// rooms, the cavern's stages, the wide echo and the old room's tail (step
// 11); the bus mix the clip and application buses and the previews (steps 15
// and 16). A preset change asks the room builder for the new rooms and swaps
// them in when they are ready; what it lets go of goes back to be freed off
// the engine thread. Everything runs on the engine thread and allocates only
// in prepare().

#include "engine/block_steps.h"
#include "engine/bus_mix.h"
#include "engine/cleanup_stage.h"
#include "engine/environment.h"
#include "engine/glitch_stage.h"
#include "engine/mask_stage.h"
#include "engine/mix.h"
#include "engine/mix_sources.h"
#include "engine/room_builder.h"
#include "engine/voice_environment.h"
#include "engine/voice_output.h"
#include "engine/voice_stage.h"
#include "engine/wide_echo.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {
class Files;
}

namespace engine {

class EffectChain : public BlockSteps {
public:
    using Sources = MixSources;

    EffectChain(EnvironmentFactory& environments, const settings::Settings& settings);
    ~EffectChain() override;

    // Before the engine starts.
    void setSources(const Sources& sources) { buses_.setSources(sources); }
    void setClipMask(BusMask* mask)
    {
        clipMask_ = mask;
        buses_.setMasks(clipMask_, appMask_);
    }
    void setAppMask(BusMask* mask)
    {
        appMask_ = mask;
        buses_.setMasks(clipMask_, appMask_);
    }
    void setWideEcho(WideEcho* wide) { environment_.setWideEcho(wide); }
    // How rooms are built on a preset change (inline unless set; see room_builder.h).
    void setRoomBuilding(RoomBuilder::Mode mode) { rooms_.setMode(mode); }
    RoomBuilder& rooms() { return rooms_; }

    bool loadImpulseResponse() override;
    void prepare(double sampleRate, uint32_t maxFrames, int preset) override;
    void changeEnvironment(int preset) noexcept override;
    void reloadEq(const settings::Snapshot& settings) noexcept override;
    void setBassBoost(float micGain) noexcept override;
    void inputActivity() noexcept override { cleanup_.inputActivity(); }
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
    void report(EngineReport& report) const noexcept override;

    // The stages of the voice chain.
    CleanupStage& cleanup() { return cleanup_; }
    VoiceStage& voiceStage() { return voiceStage_; }
    MaskStage& masks() { return masks_; }
    GlitchStage& glitchStage() { return glitchStage_; }
    const WideEchoRoom& wideEcho() const { return environment_.wideEcho(); }

    // Diagnostics.
    int presetInUse() const { return environment_.preset(); }
    const MicDrive& drive() const { return output_.drive(); }
    float voiceDryGain() const { return output_.dryGain(); }
    bool clipLive() const { return buses_.clipLive(); }
    bool appLive() const { return buses_.appLive(); }
    bool bus1Running() const { return buses_.bus1Running(); }
    bool oldEnvironmentRinging() const { return environment_.oldRinging(); }
    bool clipStretcherEngaged() const { return buses_.stretcherEngaged(); }
    double clipDecaySeconds() const { return buses_.clipDecaySeconds(); }

private:
    // Runs a step over chunks no longer than the prepared scratch.
    template <class Step> void inChunks(Block& block, Step step) noexcept;
    // Swaps in the rooms of the wanted preset once the builder has them.
    void adoptRooms() noexcept;

    EnvironmentFactory& environments_;
    const settings::Settings& settings_;
    uint32_t capacity_ = 0; // frames of scratch
    int wantedPreset_ = kCavernPreset;

    CleanupStage cleanup_;
    VoiceStage voiceStage_;
    MaskStage masks_;
    GlitchStage glitchStage_;
    bool voiceMaskRan_ = false; // voiceMask() ran in this block's changer step
    StageBusMask clipStageMask_{masks_, MaskStream::Clip};
    StageBusMask appStageMask_{masks_, MaskStream::Application};
    BusMask* clipMask_ = &clipStageMask_;
    BusMask* appMask_ = &appStageMask_;
    VoiceEnvironment environment_;
    VoiceOutput output_;
    BusMix buses_;
    RoomBuilder rooms_; // last: its thread stops before the rest goes
};

} // namespace engine
