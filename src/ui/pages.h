#pragma once
// The pages' texts and the mappings between stored values and what the
// controls show: tab labels and tooltips, headings, the caption's tooltips,
// value texts in their units, and the rows that stored choices select.

#include "cable/cable.h"
#include "settings/settings.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace ui {

struct PageText {
    std::wstring_view label;
    std::wstring_view tooltip;
};
PageText pageText(int page);
std::wstring_view subTabLabel(int page, int tab);
// Pages 0, 2 and 5: the heading line; empty for the others.
std::wstring_view pageHeading(int page);
// Page 3's four sections, in reading order.
std::wstring_view speakerSection(int index);

// The caption's tool tooltips and the page reset's texts.
std::wstring_view captionTooltip(int tool);
inline constexpr wchar_t kNoSetupName[] = L"Kestrel / Default Setup";

// Rows selected by stored values: a preset beyond the rooms selects the
// last room; a glitch style beyond the styles selects the first.
int roomRow(int32_t preset);
int glitchStyleRow(int32_t style);

// Value texts: "9%" for percent, "+3.0 dB" for a level by the level law (100 is 0 dB, "Off" at 0).
std::wstring percentText(int32_t value);
std::wstring levelText(int32_t value);
// "L 40", "Center", "R 40" for a pan or balance of -100..100.
std::wstring panText(int32_t value);
// "1.25x" for a value in percent (speed) or thousandths (ratio).
std::wstring timesText(int32_t value, int32_t unity);
// "+12 Hz"; "+3 dB"; "-6 dB" for an attenuation of 6.
std::wstring hertzText(int32_t value);
std::wstring decibelText(int32_t value);
std::wstring attenuationText(int32_t value);
// "+3.0 dB" for a gain in tenths of a decibel.
std::wstring tenthsDecibelText(int32_t tenths);
// The vocal expander's line: its level, output gain and gate tone (tenths of a dB).
std::wstring expanderStatusText(int32_t vocalLevel, int32_t out, int32_t lo, int32_t mid, int32_t hi);
// The pitch line: "Voice 120 Hz  ->  150 Hz", or "Pitch tracking ready" before a detection.
std::wstring pitchText(int32_t detectedHz, int32_t targetHz);
// The equalizer's bass-boost line for the microphone level.
std::wstring bassBoostText(int32_t micLevel);

// The virtual cable's texts: page 3's state line by install state and
// health (the worker's problem text for a blocked cable), the main status
// line's text (empty when the cable is ready), and page 5's note on the
// capture side's rename (empty when it carries the new name).
std::wstring cableSectionText(cable::Install install, cable::Health health, const std::wstring& problem);
std::wstring cableStatusLineText(cable::Health health, const std::wstring& problem);
std::wstring cableNoteText(cable::Rename rename);

// The diagnostics lines of page 5 and their colours.
struct DiagnosticLine {
    std::wstring text;
    uint32_t colour = 0;
};
struct DiagnosticInputs {
    bool engineRunning = false;
    bool irLoaded = false;
    std::wstring cableEndpoint; // empty: not active
    std::wstring cableProblem;  // empty: healthy
    std::wstring cableNote;     // empty: ready
};
inline constexpr int kDiagnosticLines = 7;
DiagnosticLine diagnosticLine(int index, const DiagnosticInputs& in);

} // namespace ui
