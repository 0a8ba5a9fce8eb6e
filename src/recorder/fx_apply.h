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
#include <vector>

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
using FxRenderer = std::function<clip::SoundRef(
    const clip::Sound& input, const EffectSnapshot& snapshot, std::atomic<int32_t>& progress)>;

// What Apply FX reads of the take and does to it: the take editor's part.
class FxTake {
public:
    virtual ~FxTake() = default;
    virtual bool hasTake() const = 0;
    virtual const clip::SoundRef& source() const = 0;
    virtual const std::vector<Range>& segments() const = 0;
    virtual uint32_t takeCounter() const = 0;
    virtual void stopPlayback() = 0;
    // The whole take with its joint dips and the shortest fades only; none when memory runs out.
    virtual clip::SoundRef renderUnfaded() const = 0;
    virtual void replaceSound(clip::SoundRef sound, bool inPlace) = 0;
};

// The take editor as Apply FX sees it.
class EditorFxTake final : public FxTake {
public:
    explicit EditorFxTake(TakeEditor& editor) : editor_(editor) { }
    bool hasTake() const override { return editor_.hasTake(); }
    const clip::SoundRef& source() const override { return editor_.source(); }
    const std::vector<Range>& segments() const override { return editor_.segments(); }
    uint32_t takeCounter() const override { return editor_.takeCounter(); }
    void stopPlayback() override { editor_.stopPlayback(); }
    clip::SoundRef renderUnfaded() const override;
    void replaceSound(clip::SoundRef sound, bool inPlace) override { editor_.replaceSound(std::move(sound), inPlace); }

private:
    TakeEditor& editor_;
};

// The longest output Apply FX makes, before the tail: 5 minutes.
inline constexpr int64_t kFxMaxOutputFrames = 14'400'000;

class FxApply {
public:
    FxApply(TakeEditor& editor, BusyFlags& flags, StatusSink status);
    FxApply(FxTake& take, BusyFlags& flags, StatusSink status);

    // The Apply FX button: the job to run on a worker (with the snapshot),
    // published for poll(); none with the refusal in the status line.
    std::shared_ptr<TakeFxJob> start(const EffectSnapshot& snapshot);
    // Timer 2: takes a finished job's result. True when the take changed.
    bool poll();
    const std::shared_ptr<TakeFxJob>& running() const { return job_; }

private:
    std::unique_ptr<EditorFxTake> ownTake_;
    FxTake& take_;
    BusyFlags& flags_;
    StatusSink status_;
    std::shared_ptr<TakeFxJob> job_;
    clip::SoundRef fxOriginal_, fxResult_;
    uint32_t fxTakeCounter_ = 0; // the take the remembered original and result belong to
};

// Runs job on the calling (worker) thread: renderer, result, then done.
void runFxJob(TakeFxJob& job, const EffectSnapshot& snapshot, const FxRenderer& renderer);

} // namespace recorder
