#include "recorder/take_editor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

namespace {

using recorder::Range;

constexpr int64_t kRate = 48000;

// Left counts the source frame up (so a shifted range shows), right is its negative.
clip::SoundRef rampSound(int64_t frames)
{
    auto s = std::make_shared<clip::Sound>();
    s->samples.resize(static_cast<size_t>(frames) * 2);
    for (int64_t f = 0; f < frames; ++f) {
        const auto v = static_cast<int16_t>(1000 + f % 20000);
        s->samples[f * 2] = v;
        s->samples[f * 2 + 1] = static_cast<int16_t>(-v);
    }
    return s;
}

struct Rig {
    recorder::BusyFlags flags;
    std::vector<std::wstring> statuses;
    engine::SoundPlayer phones, toMic;
    engine::EngineState state;
    recorder::TakeEditor editor{flags, [this](const std::wstring& t) { statuses.push_back(t); }, phones, toMic, state};

    std::wstring last() const { return statuses.empty() ? L"" : statuses.back(); }
    void take(int64_t frames) { editor.setTake(rampSound(frames), true); }
    bool cut(double a, double b)
    {
        editor.setSelection(a, b);
        return editor.cutSelection();
    }
};

// The gain the render owes timeline frame j, written out from the fade rules:
// quarter sines at both ends of the take (at least 144 frames, shared out when
// they overlap) and a 144-frame dip on each side of every joint.
double expectedGain(const std::vector<Range>& segs, double fadeInS, double fadeOutS, int64_t j)
{
    const auto q = [](double x, double n) { return std::clamp(std::sin(x / n * std::numbers::pi / 2), 0.0, 1.0); };
    int64_t total = 0;
    for (const Range& r : segs)
        total += r.end - r.start;
    double fi = std::max<double>(std::llrint(fadeInS * kRate), 144);
    double fo = std::max<double>(std::llrint(fadeOutS * kRate), 144);
    if (fi + fo > total) {
        const double k = double(total) / (fi + fo);
        fi *= k;
        fo *= k;
    }
    double g = 1.0;
    if (j < fi)
        g *= q(j + 0.5, fi);
    if (total - j <= fo)
        g *= q(total - j - 0.5, fo);
    int64_t off = 0;
    for (size_t i = 0; i < segs.size(); ++i) {
        const int64_t len = segs[i].end - segs[i].start;
        if (j >= off && j < off + len) {
            const int64_t k = j - off;
            if (i > 0 && k < 144)
                g *= q(k + 0.5, 144);
            if (i + 1 < segs.size() && len - k <= 144)
                g *= q(len - k - 0.5, 144);
        }
        off += len;
    }
    return g;
}

// Every frame of the rendered take against the source frame it came from and its gain.
void expectRenderFollowsTheFades(const Rig& rig, bool userFades = true)
{
    const auto& segs = rig.editor.segments();
    const clip::SoundRef out = rig.editor.render(0, rig.editor.length(), userFades);
    const double fadeIn = userFades ? rig.editor.fadeIn() : 0.0;
    const double fadeOut = userFades ? rig.editor.fadeOut() : 0.0;
    ASSERT_EQ(int64_t{out->frames()}, rig.editor.length());
    int64_t j = 0;
    for (const Range& r : segs) {
        for (int64_t f = r.start; f < r.end; ++f, ++j) {
            const double g = expectedGain(segs, fadeIn, fadeOut, j);
            const double src = rig.editor.source()->samples[f * 2];
            ASSERT_NEAR(out->samples[j * 2], src * g, 0.5 + 1e-6) << "frame " << j;
            ASSERT_NEAR(out->samples[j * 2 + 1], -src * g, 0.5 + 1e-6) << "frame " << j;
        }
    }
}

TEST(TakeEditor, KeepOrCutOfTheWholeTakeOrOfNothingIsRefusedAndLeavesTheTake)
{
    Rig rig;
    rig.take(2 * kRate);
    EXPECT_EQ(rig.last(), L"Recorded 2.0 s");
    for (auto [a, b] : {std::pair{0.0, 2.0}, std::pair{0.0, 5.0}, std::pair{1.0, 1.0}}) {
        rig.editor.setSelection(a, b);
        EXPECT_FALSE(rig.editor.keepSelection());
        EXPECT_EQ(rig.last(), L"Select a portion of the waveform first");
        rig.statuses.clear();
        EXPECT_FALSE(rig.editor.cutSelection());
        EXPECT_EQ(rig.last(), L"Select a portion of the waveform first");
    }
    EXPECT_EQ(rig.editor.segments(), (std::vector<Range>{{0, 2 * kRate}}));
    EXPECT_FALSE(rig.editor.canUndo());
    rig.take(65 * kRate);
    EXPECT_EQ(rig.last(), L"Recorded 1:05.0");
}

TEST(TakeEditor, CutCutUndoUndoRedoReturnsToAfterTheFirstCutAndANewEditEmptiesRedo)
{
    Rig rig;
    rig.take(10 * kRate);
    const std::vector<Range> whole{{0, 480000}};
    const std::vector<Range> afterFirst{{0, 48000}, {96000, 480000}};
    ASSERT_TRUE(rig.cut(1.0, 2.0));
    EXPECT_EQ(rig.last(), L"Cut selection");
    EXPECT_EQ(rig.editor.segments(), afterFirst);
    // The second cut is in timeline time, which the first cut shifted.
    ASSERT_TRUE(rig.cut(3.0, 4.0));
    EXPECT_EQ(rig.editor.segments(), (std::vector<Range>{{0, 48000}, {96000, 192000}, {240000, 480000}}));
    EXPECT_EQ(rig.editor.length(), 8 * kRate);
    EXPECT_DOUBLE_EQ(rig.editor.selectionEnd(), 8.0); // the selection is reset to the whole take

    ASSERT_TRUE(rig.editor.undo());
    EXPECT_EQ(rig.last(), L"Undone");
    EXPECT_EQ(rig.editor.segments(), afterFirst);
    ASSERT_TRUE(rig.editor.undo());
    EXPECT_EQ(rig.editor.segments(), whole);
    EXPECT_FALSE(rig.editor.undo());
    ASSERT_TRUE(rig.editor.redo());
    EXPECT_EQ(rig.last(), L"Redone");
    EXPECT_EQ(rig.editor.segments(), afterFirst);
    EXPECT_EQ(rig.editor.length(), 9 * kRate);
    EXPECT_TRUE(rig.editor.canRedo());

    // Keep across the joint: both pieces, source ranges intact.
    rig.editor.setSelection(0.5, 1.5);
    ASSERT_TRUE(rig.editor.keepSelection());
    EXPECT_EQ(rig.last(), L"Kept selection");
    EXPECT_EQ(rig.editor.segments(), (std::vector<Range>{{24000, 48000}, {96000, 120000}}));
    EXPECT_FALSE(rig.editor.canRedo());
    ASSERT_TRUE(rig.editor.undo());
    EXPECT_EQ(rig.editor.segments(), afterFirst);
}

TEST(TakeEditor, FadesOfTenSecondsEachOnATwelveSecondTakeShareItAsSixSecondsEach)
{
    Rig rig;
    rig.take(12 * kRate);
    for (int i = 0; i < 45; ++i) { // beyond the 10 s limit
        rig.editor.stepFade(true, +1);
        rig.editor.stepFade(false, +1);
    }
    EXPECT_DOUBLE_EQ(rig.editor.fadeIn(), 10.0);
    EXPECT_DOUBLE_EQ(rig.editor.fadeOut(), 10.0);
    const clip::SoundRef out = rig.editor.render(0, rig.editor.length());
    const auto gainAt = [&](int64_t j) { return out->samples[j * 2] / double(rig.editor.source()->samples[j * 2]); };
    const double sixSeconds = 6.0 * kRate;
    EXPECT_NEAR(gainAt(144000), std::sin((144000.5 / sixSeconds) * std::numbers::pi / 2), 1e-3); // half-way into 6 s
    EXPECT_NEAR(gainAt(432000), std::sin((143999.5 / sixSeconds) * std::numbers::pi / 2), 1e-3);
    EXPECT_NEAR(gainAt(288000), 1.0, 1e-3);
    rig.editor.stepFade(true, -1);
    EXPECT_DOUBLE_EQ(rig.editor.fadeIn(), 9.75);
    for (int i = 0; i < 50; ++i)
        rig.editor.stepFade(true, -1);
    EXPECT_DOUBLE_EQ(rig.editor.fadeIn(), 0.0);
}

TEST(TakeEditor, RenderFadesBothEndsAndDipsEveryJointEvenWhenJointsAreCloseTogether)
{
    Rig rig;
    rig.take(kRate);
    // Two cuts leave a 200-frame piece between two joints: its dips overlap.
    ASSERT_TRUE(rig.cut(0.25, 0.5));
    ASSERT_TRUE(rig.cut(12200.0 / kRate, 0.5));
    ASSERT_EQ(rig.editor.segments().size(), 3u);
    EXPECT_EQ(rig.editor.segments()[1].end - rig.editor.segments()[1].start, 200);
    expectRenderFollowsTheFades(rig);
    rig.editor.stepFade(true, +1);
    rig.editor.stepFade(false, +1);
    expectRenderFollowsTheFades(rig);
    expectRenderFollowsTheFades(rig, false); // the effects input: only the 3 ms ends

    // A part of the timeline keeps the take's fades where they are.
    const clip::SoundRef whole = rig.editor.render(0, rig.editor.length());
    const clip::SoundRef part = rig.editor.render(1000, 13000);
    ASSERT_EQ(part->frames(), 12000u);
    EXPECT_TRUE(std::equal(part->samples.begin(), part->samples.end(), whole->samples.begin() + 2000));
}

TEST(TakeEditor, WhileRecordingOrSavingOnlyTheFadesAndClearWork)
{
    for (bool recording : {true, false}) {
        Rig rig;
        rig.take(2 * kRate);
        ASSERT_TRUE(rig.cut(0.5, 1.0));
        (recording ? rig.flags.recording : rig.flags.saving) = true;
        rig.statuses.clear();
        EXPECT_FALSE(rig.cut(0.1, 0.2));
        rig.editor.setSelection(0.1, 0.2);
        EXPECT_FALSE(rig.editor.keepSelection());
        EXPECT_FALSE(rig.editor.trimSilence());
        EXPECT_FALSE(rig.editor.undo());
        EXPECT_FALSE(rig.editor.save(L"x.wav", 0));
        rig.editor.play(false);
        EXPECT_FALSE(rig.phones.playing());
        EXPECT_TRUE(rig.statuses.empty());
        EXPECT_EQ(rig.editor.length(), int64_t{kRate * 3 / 2});

        rig.editor.stepFade(false, +1);
        EXPECT_DOUBLE_EQ(rig.editor.fadeOut(), 0.25);
        const uint32_t counter = rig.editor.takeCounter();
        rig.editor.clear();
        EXPECT_FALSE(rig.editor.hasTake());
        EXPECT_FALSE(rig.editor.canUndo());
        EXPECT_EQ(rig.editor.takeCounter(), counter + 1);
        EXPECT_EQ(rig.last(), L"Press Record or click Last buffer to edit waveform");
    }
}

TEST(TakeEditor, SaveHandsOverTheRenderedTakeAndRaisesTheSavingFlag)
{
    Rig rig;
    rig.take(2 * kRate);
    ASSERT_TRUE(rig.cut(0.5, 1.0));
    const auto request = rig.editor.save(L"C:\\Rec\\VantorOvix_Clip_1.wav", 0);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->path, L"C:\\Rec\\VantorOvix_Clip_1.wav");
    EXPECT_EQ(request->successPrefix, L"Saved: ");
    EXPECT_TRUE(request->withExtension);
    EXPECT_EQ(request->sound->samples, rig.editor.render(0, rig.editor.length())->samples);
    EXPECT_TRUE(rig.flags.saving);
    EXPECT_EQ(rig.last(), L"Saving clip...");
    EXPECT_FALSE(rig.editor.save(L"again.wav", 0)); // one save at a time
}

TEST(TakeEditor, PlayStartsThePreviewOfTheSelectionAndKeepsTheMonitorOpenUntilStopped)
{
    Rig rig;
    rig.take(2 * kRate);
    rig.editor.setSelection(0.5, 1.0);
    rig.editor.play(false);
    EXPECT_EQ(rig.state.previewNeedsMonitor.load(), 1);
    EXPECT_TRUE(rig.editor.playing(false));
    EXPECT_FALSE(rig.editor.playing(true));
    EXPECT_FALSE(rig.toMic.playing());

    // The engine mixes one block: the selection's render, cursor from its start.
    std::vector<float> left(480), right(480);
    rig.phones.mixInto(left.data(), right.data(), 480);
    const clip::SoundRef expected = rig.editor.render(24000, 48000);
    EXPECT_FLOAT_EQ(left[300] * 32768.0f, expected->samples[600]);
    ASSERT_TRUE(rig.editor.playCursor());
    EXPECT_DOUBLE_EQ(*rig.editor.playCursor(), 0.5 + 480.0 / kRate);

    rig.editor.play(false); // the same button again stops it
    EXPECT_FALSE(rig.editor.playing(false));
    EXPECT_EQ(rig.state.previewNeedsMonitor.load(), 0);
    EXPECT_FALSE(rig.editor.playCursor());

    // Mic plays the whole take when the selection is all of it; an edit stops it.
    rig.editor.setSelection(0.0, 2.0);
    rig.editor.play(true);
    EXPECT_TRUE(rig.editor.playing(true));
    rig.toMic.mixInto(left.data(), right.data(), 480);
    EXPECT_DOUBLE_EQ(*rig.editor.playCursor(), 480.0 / kRate);
    ASSERT_TRUE(rig.cut(0.1, 0.2));
    EXPECT_FALSE(rig.editor.playing(true));
    EXPECT_EQ(rig.state.previewNeedsMonitor.load(), 0);
}

TEST(TakeEditor, ASoundFromEffectsReplacesTheTakeWithAnUndoEntryOrInPlaceWithout)
{
    Rig rig;
    rig.take(2 * kRate);
    ASSERT_TRUE(rig.cut(0.5, 1.0));
    ASSERT_TRUE(rig.editor.undo());
    ASSERT_TRUE(rig.editor.canRedo());
    const clip::SoundRef original = rig.editor.source();
    rig.editor.replaceSound(rampSound(kRate), false);
    EXPECT_EQ(rig.editor.segments(), (std::vector<Range>{{0, kRate}}));
    EXPECT_FALSE(rig.editor.canRedo());
    rig.editor.replaceSound(rampSound(kRate / 2), true);
    EXPECT_EQ(rig.editor.length(), kRate / 2);
    ASSERT_TRUE(rig.editor.undo()); // straight back to before the first result
    EXPECT_EQ(rig.editor.source(), original);
    EXPECT_FALSE(rig.editor.undo());
}

TEST(TakeEditor, TheOutlineHoldsThePeakOfEvery2400FramesOfTheEditedTimeline)
{
    Rig rig;
    auto s = std::make_shared<clip::Sound>();
    s->samples.resize(3 * kRate * 2);
    uint32_t x = 12345;
    for (auto& v : s->samples) {
        x = x * 1664525u + 1013904223u;
        v = static_cast<int16_t>(static_cast<int32_t>(x >> 16) - 32768);
    }
    rig.editor.setTake(s, false);
    // Odd cut points, so that buckets start inside the precomputed peak blocks.
    ASSERT_TRUE(rig.cut(0.31337, 0.6021));
    ASSERT_TRUE(rig.cut(1.1111, 1.20007));
    const recorder::TakeOutline& outline = rig.editor.outline();
    const clip::SoundRef timeline = rig.editor.render(0, rig.editor.length());
    ASSERT_EQ(int64_t(outline.peaks.size()), (rig.editor.length() + 2399) / 2400);
    EXPECT_DOUBLE_EQ(outline.seconds, rig.editor.seconds());
    // The render scales the ends and joints, so compare against the source frames.
    std::vector<int32_t> peaks(outline.peaks.size(), 0);
    int64_t j = 0;
    for (const Range& r : rig.editor.segments())
        for (int64_t f = r.start; f < r.end; ++f, ++j)
            for (int c = 0; c < 2; ++c)
                peaks[j / 2400] = std::max(peaks[j / 2400], std::abs(int32_t{s->samples[f * 2 + c]}));
    for (size_t p = 0; p < peaks.size(); ++p)
        ASSERT_FLOAT_EQ(outline.peaks[p], peaks[p] / 32768.0f) << "point " << p;
    EXPECT_EQ(timeline->frames(), uint32_t(j));
}

TEST(TakeEditor, SelectionAndViewStayInsideTheTakeAndZoomKeepsTheTimeUnderThePointer)
{
    Rig rig;
    rig.take(10 * kRate);
    rig.editor.setSelection(7.0, -3.0);
    EXPECT_DOUBLE_EQ(rig.editor.selectionStart(), 0.0);
    EXPECT_DOUBLE_EQ(rig.editor.selectionEnd(), 7.0);
    EXPECT_DOUBLE_EQ(rig.editor.viewLength(), 10.0);
    rig.editor.zoom(1, 2.5);
    EXPECT_NEAR(rig.editor.viewLength(), 7.8, 1e-9);
    EXPECT_NEAR(rig.editor.viewStart(), 2.5 - 0.25 * 7.8, 1e-9);
    rig.editor.zoom(40, 2.5);
    EXPECT_DOUBLE_EQ(rig.editor.viewLength(), 0.25);
    rig.editor.zoom(-40, 2.5);
    EXPECT_DOUBLE_EQ(rig.editor.viewLength(), 10.0);
    EXPECT_DOUBLE_EQ(rig.editor.viewStart(), 0.0);
    rig.editor.setView(9.0, 15.0); // too long: the whole take
    EXPECT_DOUBLE_EQ(rig.editor.viewStart(), 0.0);
    rig.editor.setView(9.9, 1.0);
    EXPECT_DOUBLE_EQ(rig.editor.viewStart(), 9.0);
}

TEST(TakeEditor, TrimSilenceRemovesTheLongQuietInsideTheTakeKeepingItsPads)
{
    Rig rig;
    // 2 s of loud noise, 2 s of silence, 2 s of loud noise.
    auto s = std::make_shared<clip::Sound>();
    s->samples.resize(6 * kRate * 2);
    uint32_t x = 7;
    for (size_t i = 0; i < s->samples.size(); ++i) {
        x = x * 1664525u + 1013904223u;
        if (i / 2 < 2 * kRate || i / 2 >= 4 * kRate)
            s->samples[i] = static_cast<int16_t>(static_cast<int32_t>(x >> 20) - 2048);
    }
    const Range whole{0, 6 * kRate};
    if (recorder::findSilences(*s, std::span(&whole, 1)).empty())
        GTEST_SKIP() << "quiet detection finds nothing yet";
    rig.editor.setTake(s, false);
    ASSERT_TRUE(rig.editor.trimSilence());
    EXPECT_EQ(rig.last(), L"Removed 1 silent section(s)");
    EXPECT_EQ(rig.editor.segments(), (std::vector<Range>{{0, 2 * kRate + 4800}, {4 * kRate - 4800, 6 * kRate}}));
    EXPECT_FALSE(rig.editor.trimSilence());
    EXPECT_EQ(rig.last(), L"No silence found to cut");
    ASSERT_TRUE(rig.editor.undo());
    EXPECT_EQ(rig.editor.segments(), (std::vector<Range>{whole}));
}

} // namespace
