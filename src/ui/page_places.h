#pragma once
// Where the pages put the controls the window tests click: the pages build
// them here and the test driver clicks them here, so the two cannot drift.

#include "ui/geometry.h"
#include "ui/layout.h"

namespace ui {

// The two columns every page lines up on.
inline constexpr float kLeftX = 16, kLeftW = 404, kRightX = 440, kRightW = 404;
inline constexpr float kHalfW = (kLeftW - 8) / 2;

// Page 2: the seven bands, the output level, the switch.
inline constexpr float kEqBandStep = 58, kEqBandW = 52;
inline constexpr Rect kEqBandArea{kLeftX, kContentTop, kLeftW, 248};
constexpr Rect eqBandRect(int band)
{
    return {kEqBandArea.x + band * kEqBandStep + (kEqBandStep - kEqBandW) / 2 - 3, kEqBandArea.y, kEqBandW,
        kEqBandArea.h};
}
inline constexpr Rect kEqLevelRect{kLeftX, 384, kLeftW, 44};
inline constexpr Rect kEqSwitchRect{kRightX, kContentTop, kRightW, 28};

// Page 3: the virtual cable section (right column, under its heading): the
// state in up to two lines with the capture endpoint under it, two rows of
// buttons, the vendor's page.
inline constexpr Rect kCableTextRect{kRightX, 336, kRightW, 60};
inline constexpr Rect kCableInstallRect{kRightX, 408, kHalfW, 24};
inline constexpr Rect kCableFolderRect{kRightX + kHalfW + 8, 408, kHalfW, 24};
inline constexpr Rect kCableSoundRect{kRightX, 440, kHalfW, 24};
inline constexpr Rect kCableRescanRect{kRightX + kHalfW + 8, 440, kHalfW, 24};
inline constexpr Rect kCableVendorRect{kRightX, 472, kHalfW, 24};
// Page 3: the speaker tests.
inline constexpr Rect kChannelTestRect{kLeftX, 200, kHalfW, 24};
inline constexpr Rect kPinkNoiseRect{kLeftX + kHalfW + 8, 200, kHalfW, 24};

// Page 5: the window's look.
inline constexpr Rect kZoomRect{kLeftX, 144, kHalfW, 44};
inline constexpr Rect kOpacityRect{kLeftX + kHalfW + 8, 144, kHalfW, 44};
inline constexpr Rect kOnTopRect{kLeftX, 200, kHalfW, 28};
inline constexpr Rect kRememberPlaceRect{kLeftX + kHalfW + 8, 200, kHalfW, 28};
inline constexpr Rect kHintsRect{kLeftX, 232, kHalfW, 28};
inline constexpr Rect kAnimationsRect{kLeftX + kHalfW + 8, 232, kHalfW, 28};

// Page 4, the Sound Clip tab: the source row, the transport, the position
// bar over the waveform, the speed and the routing.
inline constexpr Rect kClipSourceLabelRect{kLeftX, 152, 88, 24};
inline constexpr Rect kClipSourceRect{112, 152, 612, 24};
inline constexpr Rect kClipBrowseRect{732, 152, 112, 24};
inline constexpr Rect kClipStatusRect{112, 184, 732, 20};
inline constexpr Rect kClipPlayRect{kLeftX, 216, 96, 24};
inline constexpr Rect kClipStopRect{120, 216, 96, 24};
inline constexpr Rect kClipBackRect{224, 216, 64, 24};
inline constexpr Rect kClipForwardRect{296, 216, 64, 24};
inline constexpr Rect kClipTimeRect{kRightX, 216, kRightW, 24};
inline constexpr Rect kClipPositionRect{kLeftX, 248, 828, 88};
inline constexpr Rect kClipSpeedRect{kLeftX, 384, kLeftW, 44};
inline constexpr Rect kClipKeepPitchRect{kLeftX, 440, kHalfW, 28};
inline constexpr Rect kClipFollowVoiceRect{kLeftX + kHalfW + 8, 440, kHalfW, 28};
inline constexpr Rect kClipLevelRect{kRightX, 384, kRightW, 44};
inline constexpr Rect kClipMicRect{kRightX, 440, kHalfW, 28};
inline constexpr Rect kClipHearRect{kRightX + kHalfW + 8, 440, kHalfW, 28};

// Page 4, the Recorder & Editor tab: recording and the Last buffer above,
// the take's waveform, its editing rows, and the status line.
inline constexpr Rect kRecRecordRect{kLeftX, 152, 120, 24};
inline constexpr Rect kRecLengthRect{144, 152, 276, 24};
inline constexpr Rect kRecVoiceRect{kLeftX, 184, kHalfW, 28};
inline constexpr Rect kRecComputerRect{kLeftX + kHalfW + 8, 184, kHalfW, 28};
inline constexpr Rect kRecLastRect{kRightX, 152, 120, 24};
inline constexpr Rect kRecKeepLessRect{568, 152, 32, 24};
inline constexpr Rect kRecKeepMoreRect{608, 152, 32, 24};
inline constexpr Rect kRecLastFillRect{648, 152, 196, 24};
inline constexpr Rect kRecQuietRect{kRightX, 184, kHalfW, 28};
inline constexpr Rect kRecSaveLastRect{kRightX + kHalfW + 8, 186, 120, 24};
inline constexpr Rect kRecTakeInfoRect{kRightX, 224, kRightW, 24};
inline constexpr Rect kRecWaveformRect{kLeftX, 256, 828, 128};
// Inside it: the view of the take, and the overview strip of the whole take.
inline constexpr Rect kRecWaveRect{24, 264, 812, 88};
inline constexpr Rect kRecStripRect{24, 360, 812, 16};
// The editing row: Play, Mic, Cut Sel, Keep Sel, Trim Silence, Undo, Redo,
// and Clear apart at the right edge.
inline constexpr int kRecEditButtons = 8;
inline constexpr Rect recEditRect(int i)
{
    return {i == kRecEditButtons - 1 ? 748.0f : kLeftX + 104.0f * static_cast<float>(i), 392, 96, 24};
}
inline constexpr Rect kRecFadeInLabelRect{kLeftX, 424, 64, 24};
inline constexpr Rect kRecFadeInLessRect{80, 424, 32, 24};
inline constexpr Rect kRecFadeInValueRect{112, 424, 56, 24};
inline constexpr Rect kRecFadeInMoreRect{168, 424, 32, 24};
inline constexpr Rect kRecFadeOutLabelRect{216, 424, 72, 24};
inline constexpr Rect kRecFadeOutLessRect{288, 424, 32, 24};
inline constexpr Rect kRecFadeOutValueRect{320, 424, 56, 24};
inline constexpr Rect kRecFadeOutMoreRect{376, 424, 32, 24};
inline constexpr Rect kRecApplyFxRect{kRightX, 424, 120, 24};
inline constexpr Rect kRecFxProgressRect{568, 424, 276, 24};
inline constexpr Rect kRecSaveRect{kLeftX, 456, 120, 24};
inline constexpr Rect kRecFolderRect{144, 456, 276, 24};
inline constexpr Rect kRecStatusRect{kLeftX, 488, 828, 20};

// Page 4, the Program on Mic tab: the programs playing sound and the
// capture's buttons on the left, the routing, level and balance and the
// captured sound's meter on the right, the capture's status across the bottom.
inline constexpr Rect kProgramListRect{kLeftX, 152, kLeftW, 266};
inline constexpr float kProgramButtonW = (kLeftW - 16) / 3;
inline constexpr Rect kProgramStartRect{kLeftX, 432, kProgramButtonW, 24};
inline constexpr Rect kProgramStopRect{kLeftX + kProgramButtonW + 8, 432, kProgramButtonW, 24};
inline constexpr Rect kProgramRefreshRect{kLeftX + 2 * (kProgramButtonW + 8), 432, kProgramButtonW, 24};
inline constexpr Rect kProgramPrivateRect{kRightX, 152, kRightW, 28};
inline constexpr Rect kProgramOnlyRect{kRightX, 184, kRightW, 28};
inline constexpr Rect kProgramGainRect{kRightX, 264, kRightW, 44};
inline constexpr Rect kProgramPanRect{kRightX, 320, kRightW, 44};
inline constexpr Rect kProgramMeterRect{kRightX, 392, kRightW, 24};
inline constexpr Rect kProgramStatusRect{kLeftX, 488, 828, 20};

// Page 4, the Setups & Hotkeys tab: the saved setups on the left (the
// current name, previous and next, save, delete, the list), the ten action
// hotkeys on the right, one row every 33 units, and the tab's status line
// across the bottom. The hotkeys' heading is long, so their column is wider.
inline constexpr float kSetupsW = 300, kHotkeysX = 332, kHotkeysW = 512;
inline constexpr Rect kSetupNameRect{kLeftX, 152, kSetupsW, 24};
inline constexpr Rect kSetupPrevRect{kLeftX, 184, 32, 24};
inline constexpr Rect kSetupNextRect{56, 184, 32, 24};
inline constexpr Rect kSetupSaveRect{96, 184, 104, 24};
inline constexpr Rect kSetupDeleteRect{208, 184, 108, 24};
inline constexpr int kSetupRowsShown = 8;
inline constexpr float kSetupRowHeight = 23;
inline constexpr Rect kSetupListRect{kLeftX, 224, kSetupsW, kSetupRowsShown * kSetupRowHeight + 2};
constexpr Rect hotkeyRowRect(int row)
{
    return {kHotkeysX, 152 + 33.0f * static_cast<float>(row), kHotkeysW, 28};
}
inline constexpr Rect kSetupsStatusRect{kLeftX, 488, 828, 20};

// Page 1's advanced tab: the glitch key's field under the hold button.
inline constexpr Rect kGlitchKeyRect{kRightX, 480, kRightW, 24};

} // namespace ui
