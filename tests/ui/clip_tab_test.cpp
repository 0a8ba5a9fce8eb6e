// The Sound Clip tab's mappings: the transport per player state, the time
// texts, the position bar's ends, and the outline's drawing.

#include "media/time_text.h"
#include "ui/clip_tab.h"
#include "ui/recording_painter.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using clip::PlayerState;

TEST(ClipTab, PlayReadsPauseOrResumeWhileRunningAndStopAndSkipsWorkOnlyOnSomethingLoaded)
{
    struct Case {
        PlayerState state;
        bool paused;
        double duration;
        std::wstring_view play;
        bool stop, skip, failed;
    };
    const Case cases[] = {
        {PlayerState::Idle, false, 0.0, L"Play", false, false, false},
        {PlayerState::Idle, true, 30.0, L"Play", false, false, false},
        {PlayerState::Buffering, false, 0.0, L"Pause", true, false, false},
        {PlayerState::Buffering, true, 30.0, L"Resume", true, true, false},
        {PlayerState::Playing, false, 30.0, L"Pause", true, true, false},
        {PlayerState::Playing, true, 30.0, L"Resume", true, true, false},
        {PlayerState::Ended, false, 30.0, L"Play", true, true, false},
        {PlayerState::Ended, false, 0.0, L"Play", true, false, false},
        {PlayerState::Failed, false, 30.0, L"Play", false, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.state) * 10 + c.paused);
        const ui::ClipTransport t = ui::clipTransport(c.state, c.paused, c.duration);
        EXPECT_EQ(t.play, c.play);
        EXPECT_EQ(t.stop, c.stop);
        EXPECT_EQ(t.skip, c.skip);
        EXPECT_EQ(t.failed, c.failed);
    }
    // The status line: the player's text while it runs or failed, never a
    // stale "Playing" after a pause, an underrun, the end or a stop.
    EXPECT_EQ(ui::clipStatusLine(PlayerState::Buffering, false, L"Opening..."), L"Opening...");
    EXPECT_EQ(ui::clipStatusLine(PlayerState::Buffering, false, L"Playing"), L"Buffering...");
    EXPECT_EQ(ui::clipStatusLine(PlayerState::Playing, false, L"Playing"), L"Playing");
    EXPECT_EQ(ui::clipStatusLine(PlayerState::Playing, true, L"Playing"), L"Paused");
    EXPECT_EQ(ui::clipStatusLine(PlayerState::Ended, false, L"Playing"), L"Finished");
    EXPECT_EQ(ui::clipStatusLine(PlayerState::Failed, false, L"Can't open that link"), L"Can't open that link");
    EXPECT_EQ(ui::clipStatusLine(PlayerState::Idle, false, L"Playing"), L"");
}

TEST(ClipTab, TimesReadInTenthsOfASecondBelowAMinuteAndInMinutesFromOneWithoutASixtiethSecond)
{
    EXPECT_EQ(media::timeText(0.0), L"0.0 s");
    EXPECT_EQ(media::timeText(59.9), L"59.9 s");
    EXPECT_EQ(media::timeText(60.0), L"1:00.0");
    EXPECT_EQ(media::timeText(59.96), L"1:00.0");
    EXPECT_EQ(media::timeText(65.04), L"1:05.0");
    EXPECT_EQ(media::timeText(119.96), L"2:00.0");
    EXPECT_EQ(media::timeText(3725.3), L"62:05.3");
    EXPECT_EQ(media::timeText(-1.0), L"0.0 s");
    EXPECT_EQ(ui::clipPositionText(59.9, 60.0), L"59.9 s / 1:00.0");
}

TEST(ClipTab, ThePositionBarSpansTheDurationInThousandthsAndAnUnknownDurationStaysAtItsStart)
{
    EXPECT_EQ(ui::clipPositionValue(0.0, 10.3), 0);
    EXPECT_EQ(ui::clipPositionValue(10.3, 10.3), 1000);
    EXPECT_EQ(ui::clipPositionValue(12.0, 10.3), 1000);
    EXPECT_EQ(ui::clipPositionValue(5.15, 10.3), 500);
    EXPECT_EQ(ui::clipPositionValue(4.0, 0.0), 0);
    EXPECT_DOUBLE_EQ(ui::clipSeekSeconds(0, 10.3), 0.0);
    EXPECT_DOUBLE_EQ(ui::clipSeekSeconds(1000, 10.3), 10.3);
    EXPECT_DOUBLE_EQ(ui::clipSeekSeconds(1500, 10.3), 10.3);
}

TEST(ClipTab, TheOutlineFillsItsAreaAtTheLargestPeakAndThePlayedPartIsClippedToThePosition)
{
    clip::Outline outline;
    outline.peaks.assign(400, 0.1f);
    std::fill(outline.peaks.begin(), outline.peaks.begin() + 200, 0.4f);
    outline.maxPeak = 0.4f;
    const ui::Rect area{100, 50, 200, 40};
    ui::RecordingPainter painter;
    ui::paintClipOutline(painter, area, outline, 0.25, 0x111111, 0x222222);
    ASSERT_EQ(painter.calls.size(), 2u);
    const auto& rest = painter.calls[0];
    EXPECT_EQ(rest.colour, 0x222222u);
    float top = area.bottom(), bottom = area.y;
    for (const ui::Point& p : rest.points) {
        top = std::min(top, p.y);
        bottom = std::max(bottom, p.y);
        EXPECT_GE(p.x, area.x);
        EXPECT_LE(p.x, area.right());
    }
    EXPECT_FLOAT_EQ(top, area.y) << "the largest peak reaches the top";
    EXPECT_FLOAT_EQ(bottom, area.bottom());
    // The quieter second half stands a quarter as high.
    EXPECT_FLOAT_EQ(rest.points[rest.points.size() / 2 - 1].y, area.y + area.h / 2 - area.h / 8);
    const auto& played = painter.calls[1];
    EXPECT_EQ(played.colour, 0x111111u);
    EXPECT_EQ(played.clip, (ui::Rect{area.x, area.y, area.w / 4, area.h}));
}

} // namespace
