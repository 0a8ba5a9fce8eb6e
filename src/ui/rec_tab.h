#pragma once
// What the Recorder & Editor tab shows of the recorder and the take editor:
// which buttons work in which state, the running length and the fade and
// Last buffer texts, the waveform's mapping between pointer and take time,
// and the waveform drawn over a view of the take.

#include "ui/painter.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ui {

// The recorder and editor as the buttons depend on them.
struct RecorderState {
    bool recording = false;
    bool saving = false; // a take save or an effects render runs
    bool hasTake = false;
    bool canUndo = false, canRedo = false;
    double fadeIn = 0.0, fadeOut = 0.0; // seconds
    int32_t keepLast = 60;              // seconds, 0: off
};

struct RecorderButtons {
    std::wstring_view record; // "Record", or "Stop" while recording
    bool recordOn = false;    // Record/Stop (an effects render or a save holds it)
    bool sources = false;     // the source switches (frozen while recording)
    bool last = false;        // grab the Last buffer
    bool keepLess = false, keepMore = false;
    bool edit = false; // Play, Mic, Cut Sel, Keep Sel, Trim Silence, Apply FX, Save
    bool undo = false, redo = false;
    bool fadeInLess = false, fadeInMore = false, fadeOutLess = false, fadeOutMore = false;
    bool clear = false;
};
RecorderButtons recorderButtons(const RecorderState& state);

// "Recording... 3.2 s  (click Stop when finished)".
std::wstring recordingLine(double seconds);
// "0.25 s": a fade length.
std::wstring fadeText(double seconds);
// What the Last buffer holds: "Holds 12.3 s of 1:00.0", or "Off".
std::wstring lastFillText(int64_t frames, int64_t capacityFrames, int32_t keepLast);

// The take time under x in area, which shows the view [viewStart,
// viewStart + viewLength) of a take of total seconds; limited to the take.
double timeAt(float x, const Rect& area, double viewStart, double viewLength, double total);
// The x of a take time in area (outside area when the time is out of view).
float xAt(double seconds, const Rect& area, double viewStart, double viewLength);

// Peaks (pointsPerSecond of them per second, largest |sample| / 32768)
// mirrored around area's middle over the view [viewStart, viewStart +
// viewLength), one column every two units, scaled so that the largest peak
// of the whole take fills the area.
void paintTakePeaks(Painter& painter, const Rect& area, const std::vector<float>& peaks, double pointsPerSecond,
    double viewStart, double viewLength, Colour colour);

} // namespace ui
