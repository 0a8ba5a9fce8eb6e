#include "ui/clip_tab.h"

#include "clip/messages.h"
#include "media/time_text.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace ui {

ClipTransport clipTransport(clip::PlayerState state, bool paused, double duration)
{
    using clip::PlayerState;
    const bool running = state == PlayerState::Buffering || state == PlayerState::Playing;
    const bool loaded = running || state == PlayerState::Ended;
    ClipTransport t;
    t.play = running ? (paused ? L"Resume" : L"Pause") : L"Play";
    t.stop = loaded;
    t.skip = loaded && duration > 0.0;
    t.failed = state == PlayerState::Failed;
    return t;
}

std::wstring clipStatusLine(clip::PlayerState state, bool paused, const std::wstring& playerText)
{
    using clip::PlayerState;
    switch (state) {
    case PlayerState::Buffering:
    case PlayerState::Playing:
        if (paused)
            return L"Paused";
        // An underrun buffers again after the reader said "Playing".
        return state == PlayerState::Buffering && playerText == clip::kPlaying ? L"Buffering..." : playerText;
    case PlayerState::Ended:
        return L"Finished";
    case PlayerState::Failed:
        return playerText;
    case PlayerState::Idle:
        break;
    }
    return {};
}

std::wstring clipPositionText(double position, double duration)
{
    return media::timeText(position) + L" / " + media::timeText(duration);
}

int32_t clipPositionValue(double position, double duration)
{
    if (!(duration > 0.0))
        return 0;
    return static_cast<int32_t>(
        std::clamp(std::lround(position / duration * kClipPositionSteps), 0L, static_cast<long>(kClipPositionSteps)));
}

double clipSeekSeconds(int32_t value, double duration)
{
    return std::clamp(value, 0, kClipPositionSteps) / static_cast<double>(kClipPositionSteps) * duration;
}

void paintClipOutline(
    Painter& painter, const Rect& area, const clip::Outline& outline, double playedFraction, Colour played, Colour rest)
{
    if (outline.peaks.empty() || area.w < 2)
        return;
    // One column every two units: the largest peak of the buckets under it.
    const int columns = std::max(1, static_cast<int>(area.w / 2));
    const float scale = outline.maxPeak > 0.0f ? 1.0f / outline.maxPeak : 1.0f;
    const float mid = area.y + area.h / 2, half = area.h / 2;
    const size_t n = outline.peaks.size();
    std::vector<Point> shape;
    shape.reserve(static_cast<size_t>(columns) * 2 + 2);
    std::vector<float> heights(static_cast<size_t>(columns));
    for (int c = 0; c < columns; ++c) {
        const size_t from = n * static_cast<size_t>(c) / static_cast<size_t>(columns);
        const size_t to = std::max(from + 1, n * static_cast<size_t>(c + 1) / static_cast<size_t>(columns));
        float peak = 0.0f;
        for (size_t i = from; i < std::min(to, n); ++i)
            peak = std::max(peak, std::min(1.0f, outline.peaks[i]));
        // At least a hairline, so that silence still shows where the sound runs.
        heights[static_cast<size_t>(c)] = std::max(0.5f, std::min(1.0f, peak * scale) * half);
    }
    const float step = area.w / static_cast<float>(columns);
    for (int c = 0; c < columns; ++c) {
        const float x = area.x + step * (static_cast<float>(c) + 0.5f);
        shape.push_back({x, mid - heights[static_cast<size_t>(c)]});
    }
    for (int c = columns - 1; c >= 0; --c) {
        const float x = area.x + step * (static_cast<float>(c) + 0.5f);
        shape.push_back({x, mid + heights[static_cast<size_t>(c)]});
    }
    painter.fillPolygon(shape, rest);
    const float playedWidth = area.w * static_cast<float>(std::clamp(playedFraction, 0.0, 1.0));
    if (playedWidth > 0.0f) {
        painter.pushClip({area.x, area.y, playedWidth, area.h});
        painter.fillPolygon(shape, played);
        painter.popClip();
    }
}

} // namespace ui
