#include "console/offline_fx.h"

#include "dsp/random.h"
#include "engine/reverb_environments.h"
#include "settings/settings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

namespace {

recorder::EffectSnapshot snapshotWith(void (*change)(settings::Snapshot&))
{
    const settings::Settings record;
    settings::Snapshot st = record.snapshot();
    st.echo_on = 0;
    st.mask_on = 0;
    st.eq_on = 0;
    st.ambit = 0;
    change(st);
    return recorder::takeEffectSnapshot(st, false);
}

clip::SoundRef noiseBurst(uint32_t frames, int16_t level)
{
    auto s = std::make_shared<clip::Sound>();
    s->samples.resize(size_t{frames} * 2);
    dsp::Lcg noise{7};
    for (auto& v : s->samples)
        v = static_cast<int16_t>(level * (2 * noise.uniform() - 1));
    return s;
}

bool quiet(const clip::Sound& s, uint32_t frame)
{
    return std::abs(s.samples[2 * frame]) < 33 && std::abs(s.samples[2 * frame + 1]) < 33;
}

TEST(OfflineFx, TheTailIsTheRoomsDecayCappedAtEightSecondsAndOnlyWithTheClipsReverb)
{
    const auto room = snapshotWith([](settings::Snapshot& s) { s.effects = 1, s.amount = 50, s.echo_on = 2; });
    EXPECT_EQ(console::offlineFxLength(1000, room, 1.5).tail, 72000);
    EXPECT_EQ(console::offlineFxLength(1000, room, 20.0).tail, 8 * 48000);
    const auto voiceOnly = snapshotWith([](settings::Snapshot& s) { s.effects = 1, s.amount = 50, s.echo_on = 1; });
    EXPECT_EQ(console::offlineFxLength(1000, voiceOnly, 1.5).tail, 0);
    // Content at a speed is rounded up: 1000 frames at 75 % are 1333.3.
    const auto slow = snapshotWith([](settings::Snapshot& s) { s.clip_speed = 75; });
    EXPECT_EQ(console::offlineFxLength(1000, slow, 1.5).content, 1334);
    EXPECT_EQ(console::offlineFxLength(1000, slow, 1.5).tail, 0);
}

TEST(OfflineFx, WithoutReverbTheOutputIsTheContentExactlyEvenWhereItIsQuiet)
{
    // The last half second is silence, which is content and never trimmed.
    auto input = std::make_shared<clip::Sound>(*noiseBurst(24000, 8000));
    input->samples.resize(input->samples.size() + 2 * 24000, 0);
    const auto slow = snapshotWith([](settings::Snapshot& s) { s.clip_speed = 75, s.eq_on = 1, s.eq_level = 3; });
    std::atomic<int32_t> progress{0};
    const clip::SoundRef out = console::renderOfflineFx(*input, slow, progress, {});
    ASSERT_TRUE(out);
    EXPECT_EQ(out->frames(), 64000u);
    EXPECT_TRUE(quiet(*out, out->frames() - 1));
    EXPECT_EQ(progress.load(), 1000);
}

TEST(OfflineFx, AReverbTailRingsAfterTheContentAndEndsTrimmedOrFaded)
{
    for (const int preset : {0, 3, 8}) {
        SCOPED_TRACE(preset);
        const clip::SoundRef input = noiseBurst(9600, 20000);
        recorder::EffectSnapshot room
            = snapshotWith([](settings::Snapshot& s) { s.effects = 1, s.amount = 100, s.echo_on = 2; });
        room.preset = preset;
        room.settings.preset = preset;
        std::atomic<int32_t> progress{0};
        const clip::SoundRef out = console::renderOfflineFx(*input, room, progress, {});
        ASSERT_TRUE(out);
        ASSERT_GT(out->frames(), 9600u + 4800u); // rings for more than 0.1 s after the burst
        // A trimmed end stops at the last audible frame; a full one faded to silence.
        const uint32_t last = out->frames() - 1;
        engine::ReverbEnvironments environments;
        const auto length = console::offlineFxLength(9600, room, environments.makeRoom(48000, preset)->decaySeconds());
        const uint32_t full = static_cast<uint32_t>(length.content + length.tail);
        ASSERT_LE(out->frames(), full);
        if (out->frames() < full)
            EXPECT_FALSE(quiet(*out, last));
        else
            EXPECT_TRUE(quiet(*out, last));
    }
}

} // namespace
