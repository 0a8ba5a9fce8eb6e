#include "media/time_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace media {

std::wstring timeText(double seconds)
{
    const double tenths = std::round(std::max(0.0, std::isfinite(seconds) ? seconds : 0.0) * 10.0);
    const auto minutes = static_cast<long long>(tenths / 600.0);
    char text[32];
    const int n = minutes == 0 ? std::snprintf(text, sizeof text, "%.1f s", tenths / 10.0)
                               : std::snprintf(text, sizeof text, "%lld:%04.1f", minutes,
                                   (tenths - static_cast<double>(minutes) * 600.0) / 10.0);
    return std::wstring(text, text + std::clamp(n, 0, static_cast<int>(sizeof text) - 1)); // ASCII only
}

} // namespace media
