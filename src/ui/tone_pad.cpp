#include "ui/tone_pad.h"

#include "settings/mic_tone_pad.h"

#include <algorithm>
#include <cmath>

namespace ui {
namespace {

int32_t padAxis(double offset, double half)
{
    const double v = std::round(offset / half * 100.0);
    return static_cast<int32_t>(std::isfinite(v) ? std::clamp(v, -100.0, 100.0) : 0.0);
}

} // namespace

PadPosition tonePadAt(double x, double y) noexcept
{
    return {padAxis(x - kTonePadCentreX, kTonePadHalfWidth), padAxis(kTonePadCentreY - y, kTonePadHalfHeight)};
}

void toneDragPad(settings::Settings& s, double x, double y)
{
    const PadPosition p = tonePadAt(x, y);
    settings::toneMovePad(s, p.x, p.y);
}

} // namespace ui
