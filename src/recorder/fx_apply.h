#pragma once
// "Apply FX": the current effect settings rendered offline into the take on
// a worker, as a shared job that the interface polls. The job's result
// replaces the take only when the take is still the one it started from; a
// second Apply FX on an untouched result starts again from the unprocessed
// take. Interface thread, except the job's render.

#include "media/sound.h"
#include "recorder/take_editor.h"
#include "settings/settings.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace recorder {

// The settings an offline render uses, taken when the job starts.
struct EffectSnapshot {
    int32_t preset = 0; // 0..14
    int32_t amount = 0;
    bool echoOnClip = false;
    bool maskOnClip = false;
    int32_t pitchHz = 0;
    int32_t voiceRatio = 1000;
    int32_t voiceMask = 0;
    int32_t speed = 100; // 25..400
    bool keepPitch = true;
    bool irLoaded = false;
    bool eqOn = false;
    int32_t eqLevel = 0;
    bool ambit = false;
    double bassBoostDb = 0.0;
    settings::EqGains eqBands{};
    // The whole record as it was, for a renderer that runs the program's chain.
    settings::Snapshot settings{};
};

EffectSnapshot takeEffectSnapshot(const settings::Snapshot& settings, bool irLoaded);
// False when nothing would change the sound (the refusal of Apply FX).
bool snapshotChangesSound(const EffectSnapshot& snapshot);

struct TakeFxJob {
    uint8_t reserved = 0;
    std::atomic<uint8_t> done{0};
    std::atomic<int32_t> progress{0}; // per mille
    uint32_t takeCounter = 0;
    bool applyToOriginal = false;
    clip::SoundRef input;
    clip::SoundRef result; // written before done is set; none on failure
};

// Worker thread: renders input under snapshot, reporting progress per mille;
// none when memory runs out.
using FxRenderer
    = std::function<clip::SoundRef(const clip::Sound& input, const EffectSnapshot& snapshot, std::atomic<int32_t>& progress)>;

class FxApply {
public:
    FxApply(TakeEditor& editor, BusyFlags& flags, StatusSink status);

    // The Apply FX button: the job to run on a worker (with the snapshot),
    // published for poll(); none with the refusal in the status line.
    std::shared_ptr<TakeFxJob> start(const EffectSnapshot& snapshot);
    // Timer 2: takes a finished job's result. True when the take changed.
    bool poll();
    const std::shared_ptr<TakeFxJob>& running() const { return job_; }

private:
    TakeEditor& editor_;
    BusyFlags& flags_;
    StatusSink status_;
    std::shared_ptr<TakeFxJob> job_;
    clip::SoundRef fxOriginal_, fxResult_;
    uint32_t fxTakeCounter_ = 0; // the take the remembered original and result belong to
};

// Runs job on the calling (worker) thread: renderer, result, then done.
void runFxJob(TakeFxJob& job, const EffectSnapshot& snapshot, const FxRenderer& renderer);

} // namespace recorder
