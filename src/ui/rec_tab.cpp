#include "ui/rec_tab.h"

#include "media/time_text.h"

#include <algorithm>
#include <cmath>

namespace ui {

namespace {

constexpr double kMaxFade = 10.0;
constexpr int32_t kMaxKeepLast = 600;
constexpr double kFramesPerSecond = 48000.0;

} // namespace

RecorderButtons recorderButtons(const RecorderState& state)
{
    const bool busy = state.recording || state.saving;
    const bool idleTake = state.hasTake && !busy;
    RecorderButtons b;
    b.record = state.recording ? L"Stop" : L"Record";
    b.recordOn = !state.saving;
    b.sources = !state.recording;
    b.last = !busy;
    b.keepLess = state.keepLast > 0;
    b.keepMore = state.keepLast < kMaxKeepLast;
    b.edit = idleTake;
    b.undo = idleTake && state.canUndo;
    b.redo = idleTake && state.canRedo;
    // The fades only change how the take is rendered: they work while a save or a render runs.
    b.fadeInLess = state.hasTake && state.fadeIn > 0.0;
    b.fadeInMore = state.hasTake && state.fadeIn < kMaxFade;
    b.fadeOutLess = state.hasTake && state.fadeOut > 0.0;
    b.fadeOutMore = state.hasTake && state.fadeOut < kMaxFade;
    // Clearing while a take is captured would throw the capture away.
    b.clear = state.hasTake && !state.recording;
    return b;
}

std::wstring recordingLine(double seconds)
{
    return L"Recording... " + media::timeText(seconds) + L"  (click Stop when finished)";
}

std::wstring fadeText(double seconds)
{
    wchar_t text[32];
    std::swprintf(text, 32, L"%.2f s", std::max(0.0, seconds));
    return text;
}

std::wstring lastFillText(int64_t frames, int64_t capacityFrames, int32_t keepLast)
{
    if (keepLast <= 0)
        return L"Off";
    const int64_t held = std::clamp<int64_t>(frames, 0, std::max<int64_t>(capacityFrames, 0));
    return L"Holds " + media::timeText(static_cast<double>(held) / kFramesPerSecond) + L" of "
        + media::timeText(static_cast<double>(keepLast));
}

double timeAt(float x, const Rect& area, double viewStart, double viewLength, double total)
{
    if (!(area.w > 0.0f) || !(total > 0.0))
        return 0.0;
    const double t = viewStart + static_cast<double>(x - area.x) / area.w * viewLength;
    return std::clamp(t, 0.0, total);
}

float xAt(double seconds, const Rect& area, double viewStart, double viewLength)
{
    if (!(viewLength > 0.0))
        return area.x;
    return area.x + static_cast<float>((seconds - viewStart) / viewLength) * area.w;
}

void paintTakePeaks(Painter& painter, const Rect& area, const std::vector<float>& peaks, double pointsPerSecond,
    double viewStart, double viewLength, Colour colour)
{
    if (peaks.empty() || area.w < 2 || !(viewLength > 0.0) || !(pointsPerSecond > 0.0))
        return;
    const float largest = *std::max_element(peaks.begin(), peaks.end());
    const float scale = largest > 0.0f ? 1.0f / std::min(1.0f, largest) : 1.0f;
    const int columns = std::max(1, static_cast<int>(area.w / 2));
    const float mid = area.y + area.h / 2, half = area.h / 2;
    const float step = area.w / static_cast<float>(columns);
    const auto n = static_cast<int64_t>(peaks.size());
    std::vector<Point> shape;
    shape.reserve(static_cast<size_t>(columns) * 2);
    std::vector<float> heights(static_cast<size_t>(columns), 0.0f);
    int first = columns, last = -1;
    for (int c = 0; c < columns; ++c) {
        // The points whose time span meets this column's.
        const double t0 = viewStart + viewLength * c / columns, t1 = viewStart + viewLength * (c + 1) / columns;
        const auto from = static_cast<int64_t>(std::floor(t0 * pointsPerSecond));
        const auto to = std::max(from + 1, static_cast<int64_t>(std::ceil(t1 * pointsPerSecond)));
        if (to <= 0 || from >= n)
            continue; // past the take's ends: nothing to draw
        float peak = 0.0f;
        for (int64_t i = std::max<int64_t>(from, 0); i < std::min(to, n); ++i)
            peak = std::max(peak, peaks[static_cast<size_t>(i)]);
        // At least a hairline, so that silence still shows where the take runs.
        heights[static_cast<size_t>(c)] = std::max(0.5f, std::min(1.0f, peak * scale) * half);
        first = std::min(first, c);
        last = c;
    }
    if (last < first)
        return;
    for (int c = first; c <= last; ++c)
        shape.push_back({area.x + step * (static_cast<float>(c) + 0.5f), mid - heights[static_cast<size_t>(c)]});
    for (int c = last; c >= first; --c)
        shape.push_back({area.x + step * (static_cast<float>(c) + 0.5f), mid + heights[static_cast<size_t>(c)]});
    painter.fillPolygon(shape, colour);
}

} // namespace ui
