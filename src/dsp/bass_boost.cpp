#include "dsp/bass_boost.h"

#include "dsp/gain.h"

#include <algorithm>
#include <cmath>

namespace dsp {

double bassBoostForMicLevel(int micLevel)
{
    if (micLevel < 1)
        return 0.0;
    const double db = 20.0 * std::log10(levelGain(micLevel));
    return db > 0.0 ? 0.5 * db : 0.0;
}

void BassBoost::prepare(double sampleRate)
{
    sampleRate_ = sampleRate > 0.0 ? sampleRate : 48000.0;
    filter_.setCoeffs({});
    filter_.reset();
    initialIdentity_ = true;
}

void BassBoost::setBoost(double db) noexcept
{
    db = std::isfinite(db) ? std::clamp(db, -kMaxBoostDb, kMaxBoostDb) : 0.0;
    if (db == boostDb_ && !(initialIdentity_ && db != 0.0))
        return;
    if (boostDb_ == 0.0 && db != 0.0)
        filter_.reset();
    boostDb_ = db;
    filter_.setCoeffs(designLowShelf(kShelfHz, db, sampleRate_));
    initialIdentity_ = false;
}

} // namespace dsp
