#pragma once
// The block cycle: one block of captured (or gap) frames through the voice
// chain into the cable and monitor buses, in the fixed order of its steps.
// It reads the settings once per packet into the snapshot every stage uses,
// polls the glitch key, feeds the recorder rings and raises the output peak; writing the buses to the devices is the
// session's. Engine thread only; run() neither allocates nor locks.

#include "engine/block_steps.h"
#include "engine/engine_report.h"
#include "engine/engine_state.h"
#include "engine/recorder_ring.h"
#include "platform/key_state.h"
#include "settings/settings.h"

#include <cstdint>
#include <vector>

namespace engine {

struct CycleServices {
    const settings::Settings& settings;
    const EngineState& state;
    EngineReports& reports;
    RecorderRings& rings;
    BlockSteps& steps;
    // The keys as they are now, for the glitch hotkey (GlitchKey) and the
    // input-activity check; none: never held, no activity.
    const platform::KeyState* keys = nullptr;
};

class BlockCycle {
public:
    explicit BlockCycle(CycleServices services);

    // At engine start: the record read, and its equalizer counter as it is
    // now counts as seen.
    void start();
    // Once per packet, before the devices are managed and the blocks run: the
    // record copied into the snapshot that the session and every stage read.
    // A transaction being written leaves the last copy (the engine never waits).
    void readSettings() noexcept { s_.settings.trySnapshot(snapshot_); }
    const settings::Snapshot& settings() const { return snapshot_; }
    // Every buffer holds a block of frames.
    void ensureScratch(uint32_t frames);
    // One block of n frames: interleaved stereo capture, or nullptr for gap
    // silence (pass 0). The buses are then in cableBus() and monitorBus().
    void run(const float* interleaved, uint32_t n, int pass) noexcept;

    const float* cableBus() const { return cableBus_.data(); }
    const float* monitorBus() const { return monitorBus_.data(); }
    // For the report: the last block's cable peak (x 10000) and the glitch key.
    int32_t blockPeak() const { return blockPeak_; }
    bool glitchKeyHeld() const { return glitchKeyHeld_; }

private:
    void pollGlitchKey() noexcept;
    void checkInputActivity() noexcept;

    CycleServices s_;
    platform::InputActivityCheck inputCheck_;
    // The record as readSettings() last copied it.
    settings::Snapshot snapshot_;
    uint32_t eqRevisionSeen_ = 0;
    int32_t micLevelSeen_ = -1;
    float micGain_ = 1.0f;
    int32_t blockPeak_ = 0;
    bool glitchKeyHeld_ = false;
    bool glitchKeyArmed_ = false; // the key was seen released at least once
    std::vector<float> voice_;
    std::vector<float> wetCable_;
    std::vector<float> wetMonitor_;
    std::vector<float> cableBus_;
    std::vector<float> monitorBus_;
};

} // namespace engine
