#include "recorder/fx_apply.h"

#include <gtest/gtest.h>

#include <cmath>

#include <string>
#include <vector>

namespace {

using recorder::EffectSnapshot;
using recorder::FxApply;
using recorder::Range;

clip::SoundRef soundOf(uint32_t frames, int16_t value)
{
    auto s = std::make_shared<clip::Sound>();
    s->samples.assign(size_t{frames} * 2, value);
    return s;
}

// A take as the editor holds it: a source, its ranges, the counter a new take moves.
class FakeTake final : public recorder::FxTake {
public:
    bool hasTake() const override { return source_ && !segments_.empty(); }
    const clip::SoundRef& source() const override { return source_; }
    const std::vector<Range>& segments() const override { return segments_; }
    uint32_t takeCounter() const override { return counter_; }
    void stopPlayback() override { ++stops; }
    clip::SoundRef renderUnfaded() const override
    {
        int64_t frames = 0;
        for (const Range& r : segments_)
            frames += r.end - r.start;
        return soundOf(static_cast<uint32_t>(frames), source_->samples.empty() ? 0 : source_->samples[0]);
    }
    void replaceSound(clip::SoundRef sound, bool inPlace) override
    {
        source_ = std::move(sound);
        segments_ = {{0, source_->frames()}};
        replacements.push_back(inPlace);
    }

    void setTake(clip::SoundRef sound)
    {
        source_ = std::move(sound);
        segments_ = {{0, source_->frames()}};
        ++counter_;
    }
    void cut(int64_t from, int64_t to) { segments_ = {{0, from}, {to, source_->frames()}}; }

    int stops = 0;
    std::vector<bool> replacements;

private:
    clip::SoundRef source_;
    std::vector<Range> segments_;
    uint32_t counter_ = 0;
};

struct Applier {
    FakeTake take;
    recorder::BusyFlags flags;
    std::vector<std::wstring> status;
    FxApply fx{take, flags, [this](const std::wstring& text) { status.push_back(text); }};
    std::vector<clip::SoundRef> inputs; // what each render was given
    int16_t nextMark = 100;

    // The worker's part, run here: a render that marks its output.
    void finish(const std::shared_ptr<recorder::TakeFxJob>& job, bool fails = false)
    {
        recorder::runFxJob(*job, EffectSnapshot{}, [&](const clip::Sound& in, const EffectSnapshot&, auto&) {
            inputs.push_back(job->input);
            return fails ? nullptr : soundOf(in.frames() + 10, nextMark++);
        });
    }
};

EffectSnapshot withRoom()
{
    EffectSnapshot s;
    s.echoOnClip = true;
    s.amount = 50;
    return s;
}

TEST(FxApplySnapshot, SpeedFollowsTheVoiceWhereTheMasksSayAndNothingToChangeIsRecognised)
{
    const settings::Settings record;
    settings::Snapshot st = record.snapshot();
    st.clip_speed = 150;
    st.voice_speed = 200;
    st.clip_follow_voice = 0;
    st.mask_on = 1;
    EXPECT_EQ(recorder::takeEffectSnapshot(st, false).speed, 150);
    st.mask_on = 2; // the clip's own mask carries the voice's speed, clamped to 400
    EXPECT_EQ(recorder::takeEffectSnapshot(st, false).speed, 300);
    st.clip_speed = 50;
    st.voice_speed = 40;
    EXPECT_EQ(recorder::takeEffectSnapshot(st, false).speed, 25);
    st.clip_keep_pitch = 1;
    st.voice_keep_pitch = 0;
    EXPECT_FALSE(recorder::takeEffectSnapshot(st, false).keepPitch);
    st.mic_level = 200;
    EXPECT_NEAR(recorder::takeEffectSnapshot(st, false).bassBoostDb, 0.5 * 20 * 1.301 * std::log10(2.0), 1e-9);
    st.mic_level = 50;
    EXPECT_EQ(recorder::takeEffectSnapshot(st, false).bassBoostDb, 0.0);

    EffectSnapshot s; // speed 100, everything off
    EXPECT_FALSE(recorder::snapshotChangesSound(s));
    s.maskOnClip = true; // a mask that changes neither pitch nor anything else
    s.voiceMask = -1;
    EXPECT_FALSE(recorder::snapshotChangesSound(s));
    s.pitchHz = 30;
    EXPECT_TRUE(recorder::snapshotChangesSound(s));
    s = {};
    s.eqOn = true; // flat bands at level 0
    EXPECT_FALSE(recorder::snapshotChangesSound(s));
    s.eqBands[3] = 2;
    EXPECT_TRUE(recorder::snapshotChangesSound(s));
    for (auto change : {+[](EffectSnapshot& e) { e.ambit = true; }, +[](EffectSnapshot& e) { e.speed = 90; },
             +[](EffectSnapshot& e) { e.echoOnClip = true; }}) {
        EffectSnapshot t;
        change(t);
        EXPECT_TRUE(recorder::snapshotChangesSound(t));
    }
}

TEST(FxApply, RefusalsLeaveTheTakeAndTheFlagsAlone)
{
    Applier a;
    EXPECT_FALSE(a.fx.start(withRoom())); // no take: ignored
    EXPECT_TRUE(a.status.empty());

    a.take.setTake(soundOf(48000, 1));
    EXPECT_FALSE(a.fx.start(EffectSnapshot{}));
    EXPECT_EQ(a.status.back(), L"Enable Effects, Equalizer, or Voice Mask on Sound Clip first");

    a.take.setTake(soundOf(4 * 60 * 48000, 1));
    EffectSnapshot slow;
    slow.speed = 75; // 5 min 20 s of output
    EXPECT_FALSE(a.fx.start(slow));
    EXPECT_EQ(a.status.back(), L"Clip with speed exceeds 5 mins");
    slow.speed = 80; // exactly 5 minutes
    const auto job = a.fx.start(slow);
    ASSERT_TRUE(job);
    EXPECT_EQ(a.status.back(), L"Applying Ovix / EQ / Voice FX...");

    // While it renders, everything that checks the busy flags (the recorder's start) is refused.
    EXPECT_TRUE(a.flags.busy());
    EXPECT_FALSE(a.fx.start(withRoom()));
    EXPECT_FALSE(a.fx.poll());
    a.finish(job);
    EXPECT_TRUE(a.fx.poll());
    EXPECT_FALSE(a.flags.busy());

    a.flags.recording = true;
    EXPECT_FALSE(a.fx.start(withRoom()));
    EXPECT_TRUE(a.take.replacements.size() == 1);
}

TEST(FxApply, AResultWhoseTakeWasReplacedOrThatFailedIsDropped)
{
    Applier a;
    a.take.setTake(soundOf(4800, 1));
    const clip::SoundRef before = a.take.source();
    auto job = a.fx.start(withRoom());
    ASSERT_TRUE(job);
    a.finish(job);
    a.take.setTake(soundOf(9600, 2)); // a Last grab after the job finished, before the poll
    EXPECT_FALSE(a.fx.poll());
    EXPECT_EQ(a.status.back(), L"Could not apply effects");
    EXPECT_FALSE(a.flags.saving);
    EXPECT_TRUE(a.take.replacements.empty());

    job = a.fx.start(withRoom());
    ASSERT_TRUE(job);
    a.finish(job, true);
    EXPECT_FALSE(a.fx.poll());
    EXPECT_EQ(a.status.back(), L"Could not apply effects");
    EXPECT_TRUE(a.take.replacements.empty());
}

TEST(FxApply, ASecondApplyOnAnUntouchedResultStartsFromTheUnprocessedTakeAndAnEditedOneFromTheEdit)
{
    Applier a;
    a.take.setTake(soundOf(4800, 1));
    auto job = a.fx.start(withRoom());
    a.finish(job);
    ASSERT_TRUE(a.fx.poll());
    EXPECT_EQ(a.status.back(), L"Applied Ovix effects cleanly");
    const clip::SoundRef unprocessed = a.inputs[0];
    const clip::SoundRef first = a.take.source();

    // Another room on the untouched result: the same unprocessed input, swapped in place.
    job = a.fx.start(withRoom());
    EXPECT_TRUE(job->applyToOriginal);
    a.finish(job);
    ASSERT_TRUE(a.fx.poll());
    EXPECT_EQ(a.inputs[1], unprocessed);
    EXPECT_NE(a.take.source(), first);
    EXPECT_EQ(a.take.replacements, (std::vector<bool>{false, true}));

    // An edit of the result: the edit is what the next one processes.
    a.take.cut(100, 200);
    job = a.fx.start(withRoom());
    EXPECT_FALSE(job->applyToOriginal);
    a.finish(job);
    ASSERT_TRUE(a.fx.poll());
    EXPECT_NE(a.inputs[2], unprocessed);
    EXPECT_EQ(a.inputs[2]->frames(), 4800u + 10 - 100);
    EXPECT_EQ(a.take.replacements.back(), false);
    EXPECT_EQ(a.take.stops, 3);
}

} // namespace
