// Long silences found by level against the loud parts, with pads left around
// speech, and removed with sine fades at the cuts.

#include "recorder/silence.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

namespace {

using recorder::Range;

// Builds a sound from stretches of a 300 Hz tone (speech) and of noise, each at a level in dB.
class Builder {
public:
    Builder& speech(int64_t frames, double db = -9.0) { return add(frames, db, true); }
    Builder& pause(int64_t frames, double db = -65.0) { return add(frames, db, false); }
    // A full-scale 300 Hz square: 0 dB.
    Builder& loud(int64_t frames)
    {
        for (int64_t i = 0; i < frames; ++i) {
            const int16_t s = (i / 80) % 2 ? -32767 : 32767;
            sound_.samples.insert(sound_.samples.end(), {s, s});
        }
        return *this;
    }
    clip::SoundRef sound() const { return std::make_shared<clip::Sound>(sound_); }

private:
    Builder& add(int64_t frames, double db, bool tone)
    {
        const double amplitude = 32767.0 * std::pow(10.0, db / 20.0);
        std::uniform_real_distribution<double> noise(-1.0, 1.0);
        for (int64_t i = 0; i < frames; ++i) {
            const double v = tone ? std::sqrt(2.0) * amplitude * std::sin(2.0 * std::numbers::pi * 300.0 * i / 48000.0)
                                  : std::sqrt(3.0) * amplitude * noise(random_);
            const auto s = static_cast<int16_t>(std::clamp(std::lround(v), -32768L, 32767L));
            sound_.samples.push_back(s);
            sound_.samples.push_back(s);
        }
        return *this;
    }
    clip::Sound sound_;
    std::mt19937 random_{9};
};

std::vector<Range> silencesOf(const clip::SoundRef& sound)
{
    const Range whole{0, sound->frames()};
    return recorder::findSilences(*sound, std::span(&whole, 1));
}

TEST(Silence, APauseOfFourTenthsStaysAndOneOfSixTenthsKeepsATenthOnEachSide)
{
    const clip::SoundRef sound = Builder().speech(96000).pause(19200).speech(96000).pause(28800).speech(96000).sound();
    const int64_t pauseStart = 96000 + 19200 + 96000;
    const std::vector<Range> found = silencesOf(sound);
    ASSERT_EQ(found, (std::vector<Range>{{pauseStart + 4800, pauseStart + 28800 - 4800}}));

    const clip::SoundRef cut = recorder::removeQuiet(sound);
    ASSERT_EQ(cut->frames(), sound->frames() - 19200);
    // Around the joint the first piece fades out and the second in, over 3 ms each.
    const int64_t joint = pauseStart + 4800;
    for (int64_t j = 0; j < 144; ++j) {
        const double gain = std::sin((j + 0.5) / 144.0 * std::numbers::pi / 2);
        const auto before = static_cast<size_t>(joint - 1 - j) * 2, after = static_cast<size_t>(joint + j) * 2;
        EXPECT_EQ(cut->samples[before], std::lround(sound->samples[before] * gain)) << j;
        EXPECT_EQ(cut->samples[after], std::lround(sound->samples[after + 19200 * 2] * gain)) << j;
    }
    EXPECT_EQ(cut->samples[(joint + 144) * 2], sound->samples[(joint + 144 + 19200) * 2]);
    EXPECT_EQ(cut->samples[200 * 2], sound->samples[200 * 2]) << "no cut at the start: only its 3 ms fade";
    EXPECT_EQ(cut->samples[0], std::lround(sound->samples[0] * std::sin(0.5 / 144.0 * std::numbers::pi / 2)));

    const clip::SoundRef shortOne = Builder().pause(23999).sound();
    EXPECT_EQ(recorder::removeQuiet(shortOne), shortOne);
    EXPECT_EQ(recorder::removeQuiet(Builder().speech(48000).sound())->frames(), 48000u);
}

TEST(Silence, TheThresholdSitsTwentyFourDecibelsUnderTheLoudPartsWithinItsBounds)
{
    // Full-scale speech would put it at -24 dB; the ceiling keeps a -25 dB hum.
    EXPECT_TRUE(silencesOf(Builder().loud(48000).pause(48000, -25.0).loud(48000).sound()).empty());
    EXPECT_EQ(silencesOf(Builder().loud(48000).pause(48000, -27.0).loud(48000).sound()).size(), 1u);
    // Quiet speech would put it at -54 dB; the floor still finds a -53 dB pause.
    EXPECT_EQ(silencesOf(Builder().speech(48000, -30.0).pause(48000, -53.0).speech(48000, -30.0).sound()).size(), 1u);
    EXPECT_TRUE(silencesOf(Builder().speech(48000, -30.0).pause(48000, -50.0).speech(48000, -30.0).sound()).empty());
    // A take that is all quiet keeps everything.
    EXPECT_TRUE(silencesOf(Builder().pause(96000).sound()).empty());
}

TEST(Silence, TheTimelineOfSegmentsIsMeasuredInTimelineFrames)
{
    // Speech, a second of quiet, speech; the timeline skips the quiet's second half.
    const clip::SoundRef sound = Builder().speech(48000).pause(48000).speech(48000).sound();
    const std::vector<Range> segments = {{0, 72000}, {96000, 144000}};
    EXPECT_EQ(recorder::findSilences(*sound, segments), (std::vector<Range>{{52800, 67200}}));
    const std::vector<Range> reordered = {{96000, 144000}, {48000, 96000}};
    EXPECT_EQ(recorder::findSilences(*sound, reordered), (std::vector<Range>{{48000 + 2400, 96000}}))
        << "a trailing quiet keeps 0.05 s";
}

} // namespace
