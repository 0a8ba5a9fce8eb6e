#include "recorder/fx_apply.h"

namespace recorder {

EffectSnapshot takeEffectSnapshot(const settings::Snapshot& settings, bool irLoaded)
{
    EffectSnapshot snapshot;
    snapshot.settings = settings;
    snapshot.irLoaded = irLoaded;
    return snapshot;
}

bool snapshotChangesSound(const EffectSnapshot&)
{
    return false;
}

FxApply::FxApply(TakeEditor& editor, BusyFlags& flags, StatusSink status)
    : editor_(editor), flags_(flags), status_(std::move(status))
{
}

std::shared_ptr<TakeFxJob> FxApply::start(const EffectSnapshot&)
{
    return nullptr;
}

bool FxApply::poll()
{
    return false;
}

void runFxJob(TakeFxJob& job, const EffectSnapshot&, const FxRenderer&)
{
    job.done.store(1);
}

} // namespace recorder
