#pragma once
// What the Sound Clip tab shows of the clip player: the transport's labels
// and which buttons work in which state, the position and duration texts,
// the position bar's mapping, and the waveform outline drawn under it.

#include "clip/loaders.h"
#include "clip/player.h"
#include "ui/painter.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace ui {

struct ClipTransport {
    std::wstring_view play; // "Play", "Pause", or "Resume" while paused
    bool stop = false;      // something is loaded, running or ended
    bool skip = false;      // "-10s", "+10s" and the position bar: a seek would be carried out
    bool failed = false;    // the status line reads as an error
};
ClipTransport clipTransport(clip::PlayerState state, bool paused, double duration);

// The status line: the player's own text while it opens, plays or failed;
// what a person expects once it was paused, ended or stopped (the player
// keeps its last text then). Empty when Idle: the tab shows its hint.
std::wstring clipStatusLine(clip::PlayerState state, bool paused, const std::wstring& playerText);

// "12.3 s / 1:05.0": the position and the duration.
std::wstring clipPositionText(double position, double duration);

// The position bar's value, 0..1000 of the duration, and back to seconds.
inline constexpr int32_t kClipPositionSteps = 1000;
int32_t clipPositionValue(double position, double duration);
double clipSeekSeconds(int32_t value, double duration);

// The outline's peaks mirrored around the middle of area, scaled so that
// the largest peak fills it; the part left of playedFraction in played,
// the rest in rest.
void paintClipOutline(Painter& painter, const Rect& area, const clip::Outline& outline, double playedFraction,
    Colour played, Colour rest);

} // namespace ui
