// The Recorder & Editor tab's mappings: which buttons work in which state,
// the running-length and Last buffer texts, the pointer-to-time mapping of
// the waveform, and where the waveform is drawn for a view of the take.

#include "ui/rec_tab.h"
#include "ui/recording_painter.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using ui::RecorderButtons;
using ui::RecorderState;

TEST(RecorderTab, EditingWorksOnlyOnATakeWhileNothingIsBusyAndFadesAndClearFollowTheirOwnRules)
{
    RecorderState idle;
    RecorderButtons b = ui::recorderButtons(idle);
    EXPECT_EQ(b.record, L"Record");
    EXPECT_TRUE(b.recordOn && b.sources && b.last && b.keepLess && b.keepMore);
    EXPECT_FALSE(b.edit || b.undo || b.redo || b.clear || b.fadeInMore || b.fadeOutMore);

    RecorderState take{false, false, true, true, true, 0.0, 10.0, 60};
    b = ui::recorderButtons(take);
    EXPECT_TRUE(b.edit && b.undo && b.redo && b.clear);
    // The fades stop at their ends: 0 s and 10 s.
    EXPECT_FALSE(b.fadeInLess);
    EXPECT_TRUE(b.fadeInMore && b.fadeOutLess);
    EXPECT_FALSE(b.fadeOutMore);

    // Recording: Record reads Stop and still works; the sources are frozen,
    // every edit, the Last grab and Clear (it would drop the capture) wait.
    RecorderState recording = take;
    recording.recording = true;
    b = ui::recorderButtons(recording);
    EXPECT_EQ(b.record, L"Stop");
    EXPECT_TRUE(b.recordOn);
    EXPECT_FALSE(b.sources || b.last || b.edit || b.undo || b.redo || b.clear);

    // A save or an effects render: no new recording or edit, but the fades
    // (they only shape the next render) and Clear still work.
    RecorderState saving = take;
    saving.saving = true;
    b = ui::recorderButtons(saving);
    EXPECT_EQ(b.record, L"Record");
    EXPECT_FALSE(b.recordOn || b.last || b.edit || b.undo || b.redo);
    EXPECT_TRUE(b.sources && b.fadeInMore && b.fadeOutLess && b.clear);

    RecorderState off = idle, longest = idle;
    off.keepLast = 0;
    longest.keepLast = 600;
    EXPECT_FALSE(ui::recorderButtons(off).keepLess);
    EXPECT_TRUE(ui::recorderButtons(off).keepMore);
    EXPECT_TRUE(ui::recorderButtons(longest).keepLess);
    EXPECT_FALSE(ui::recorderButtons(longest).keepMore);
}

TEST(RecorderTab, TheRunningLengthTheFadesAndTheLastBufferReadInTheirUnits)
{
    EXPECT_EQ(ui::recordingLine(3.24), L"Recording... 3.2 s  (click Stop when finished)");
    EXPECT_EQ(ui::recordingLine(65.0), L"Recording... 1:05.0  (click Stop when finished)");
    EXPECT_EQ(ui::fadeText(0.0), L"0.00 s");
    EXPECT_EQ(ui::fadeText(0.25), L"0.25 s");
    EXPECT_EQ(ui::fadeText(10.0), L"10.00 s");
    EXPECT_EQ(ui::lastFillText(0, 0, 0), L"Off");
    EXPECT_EQ(ui::lastFillText(12 * 48000 + 14400, 60 * 48000, 60), L"Holds 12.3 s of 1:00.0");
    // Never more than the buffer holds.
    EXPECT_EQ(ui::lastFillText(90 * 48000, 30 * 48000, 30), L"Holds 30.0 s of 30.0 s");
}

TEST(RecorderTab, ThePointerMapsToTheTimeUnderItInTheViewLimitedToTheTake)
{
    const ui::Rect area{24, 264, 800, 88};
    // A 10 s take with the view on 2 s to 4 s.
    EXPECT_DOUBLE_EQ(ui::timeAt(24, area, 2.0, 2.0, 10.0), 2.0);
    EXPECT_DOUBLE_EQ(ui::timeAt(424, area, 2.0, 2.0, 10.0), 3.0);
    EXPECT_DOUBLE_EQ(ui::timeAt(824, area, 2.0, 2.0, 10.0), 4.0);
    // Dragged past the area's ends the time goes on, but never past the take.
    EXPECT_DOUBLE_EQ(ui::timeAt(-776, area, 2.0, 2.0, 10.0), 0.0);
    EXPECT_DOUBLE_EQ(ui::timeAt(1224, area, 8.0, 2.0, 10.0), 10.0);
    EXPECT_DOUBLE_EQ(ui::timeAt(100, area, 0.0, 0.0, 0.0), 0.0);
    for (double t : {2.0, 2.5, 3.75, 4.0})
        EXPECT_DOUBLE_EQ(ui::timeAt(ui::xAt(t, area, 2.0, 2.0), area, 2.0, 2.0, 10.0), t);
}

TEST(RecorderTab, TheWaveformDrawsTheViewedPartOfTheTakeOnlyWhereTheTakeRuns)
{
    // One second at 20 points per second, loud in its second half.
    std::vector<float> peaks(20, 0.05f);
    std::fill(peaks.begin() + 10, peaks.end(), 0.5f);
    const ui::Rect area{0, 0, 400, 100};
    auto shapeOf = [&](double viewStart, double viewLength) {
        ui::RecordingPainter painter;
        ui::paintTakePeaks(painter, area, peaks, 20.0, viewStart, viewLength, 0);
        EXPECT_EQ(painter.calls.size(), 1u);
        return painter.calls.empty() ? std::vector<ui::Point>{} : painter.calls.front().points;
    };
    // A two-second view: the take fills the left half only.
    for (const ui::Point& p : shapeOf(0.0, 2.0))
        EXPECT_LE(p.x, 201.0f);
    // Zoomed on the loud half: full height (the largest peak fills the area) everywhere.
    for (const ui::Point& p : shapeOf(0.5, 0.5)) {
        EXPECT_TRUE(p.y <= 0.5f || p.y >= 99.5f) << p.x << " " << p.y;
    }
    // Zoomed on the quiet half: a tenth of the height.
    for (const ui::Point& p : shapeOf(0.0, 0.45))
        EXPECT_NEAR(std::abs(p.y - 50.0f), 5.0f, 0.01f);
}

} // namespace
