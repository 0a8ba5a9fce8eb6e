#pragma once
// The "Mic Tone & Vocal Lift" window apart from any platform: the tone pad,
// the three band sliders, the vocal expander's level and gate sliders, the
// on switch, "Reset All" and the expander's status line, on a small canvas
// of its own in logical units. It writes the settings only through the
// record's setters and the mic tone operations. The real window feeds it
// pointer, key and timer events in logical units and hands it a painter.

#include "settings/settings.h"
#include "ui/main_window.h"
#include "ui/painter.h"

#include <memory>

namespace ui {

inline constexpr float kToneWindowWidth = 456.0f;
inline constexpr float kToneWindowHeight = 476.0f;

// The window's controls, in reading (focus) order.
enum class TonePart { On, Pad, BandLo, BandMid, BandHi, VocalLevel, GateOut, GateLo, GateMid, GateHi, ResetAll, Close };
inline constexpr int kTonePartCount = 12;
Rect tonePartRect(TonePart part);
// The expander's status line.
Rect toneStatusRect();

class ToneWindow {
public:
    explicit ToneWindow(settings::Settings& settings);
    ~ToneWindow();
    ToneWindow(const ToneWindow&) = delete;
    ToneWindow& operator=(const ToneWindow&) = delete;

    void paint(Painter& painter);

    void pointerMove(Point p);
    void pointerDown(Point p);
    void pointerUp(Point p);
    void doubleClick(Point p);
    void pointerLeave();
    void wheel(Point p, float notches); // positive: away from the user
    // True when the key was used; Escape asks to close.
    bool key(Key key, Modifiers modifiers);

    // The 16 ms frame tick (seconds since the previous one): hover and press
    // motion. True when the window draws differently than at the last tick
    // (its motion, or settings changed elsewhere, such as a setup load).
    bool tick(double seconds);

    // The close button or Escape asked the window to go.
    bool closeRequested() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace ui
