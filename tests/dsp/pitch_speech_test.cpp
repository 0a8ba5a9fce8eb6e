// The fundamental detector on real speech (espeak-ng, generated at test time),
// against aubio's YIN tracker on the same frames.

#include "dsp/pitch_detector.h"
#include "dsp/voice_signals.h"

#include <gtest/gtest.h>

#ifdef OVIX_TEST_AUBIO
#include <aubio/aubio.h>
#endif

#include <cmath>
#include <vector>

namespace {

using namespace voicetest;

constexpr int kHop = 480;

// Octave errors: estimates more than 0.6 octave away from the local reference,
// the median of every estimate of both trackers within ±100 ms. Octave slips
// are sparse, so the local median sits on the true contour.
struct OctaveErrors {
    int shared = 0;     // frames both trackers call voiced
    int ours = 0;       // our octave errors on those frames
    int theirs = 0;     // aubio's on those frames
    int ownFrames[2]{}; // frames each tracker calls voiced (ours, aubio)
    int ownErrors[2]{}; // and its octave errors on them
};

OctaveErrors countOctaveErrors(const std::vector<double>& ours, const std::vector<double>& theirs)
{
    OctaveErrors result;
    for (size_t i = 0; i < ours.size(); ++i) {
        if (ours[i] <= 0.0 && theirs[i] <= 0.0)
            continue;
        std::vector<double> around;
        for (size_t k = i >= 10 ? i - 10 : 0; k < std::min(ours.size(), i + 11); ++k) {
            if (ours[k] > 0.0)
                around.push_back(ours[k]);
            if (theirs[k] > 0.0)
                around.push_back(theirs[k]);
        }
        if (around.size() < 8)
            continue;
        const double reference = median(around);
        const auto slipped = [&](double hz) { return std::fabs(std::log2(hz / reference)) > 0.6 ? 1 : 0; };
        const double hz[2] = {ours[i], theirs[i]};
        for (int t = 0; t < 2; ++t) {
            if (hz[t] > 0.0) {
                ++result.ownFrames[t];
                result.ownErrors[t] += slipped(hz[t]);
            }
        }
        if (hz[0] > 0.0 && hz[1] > 0.0) {
            ++result.shared;
            result.ours += slipped(hz[0]);
            result.theirs += slipped(hz[1]);
        }
    }
    return result;
}

TEST(PitchDetectorOnSpeech, MakesNoMoreOctaveErrorsThanAubioYin)
{
#ifndef OVIX_TEST_AUBIO
    GTEST_SKIP() << "aubio (libaubio-dev) was not found at configure time; the comparison needs it";
#else
    const char* kText = "The quick brown fox jumps over the lazy dog. How are you doing today? "
                        "Seven silver swans swam slowly south, while we waited by the river.";
    OctaveErrors total;
    for (const char* voice : {"en", "en+m3", "en+f2", "en+f4"}) {
        const std::vector<float> speech = espeakSpeech(kText, voice);
        if (speech.empty())
            GTEST_SKIP() << "espeak-ng is not installed (or failed); no speech to track";

        aubio_pitch_t* yin = new_aubio_pitch("yin", dsp::PitchDetector::kWindow, kHop, static_cast<uint_t>(kFs));
        aubio_pitch_set_unit(yin, "Hz");
        aubio_pitch_set_tolerance(yin, 0.15f);
        fvec_t* in = new_fvec(kHop);
        fvec_t* out = new_fvec(1);
        dsp::PitchDetector detector;
        detector.prepare(kFs);

        std::vector<double> ourTrack;
        std::vector<double> theirTrack;
        for (size_t end = kHop; end <= speech.size(); end += kHop) {
            for (int i = 0; i < kHop; ++i)
                in->data[i] = speech[end - kHop + static_cast<size_t>(i)];
            aubio_pitch_do(yin, in, out);
            if (end < dsp::PitchDetector::kWindow)
                continue;
            // aubio's buffer now holds the last 2048 frames: the same window.
            const double theirHz = out->data[0];
            const bool theirVoiced = theirHz > 0.0 && aubio_pitch_get_confidence(yin) > 0.7;
            theirTrack.push_back(theirVoiced ? theirHz : 0.0);
            ourTrack.push_back(detector.analyse(speech.data() + end - dsp::PitchDetector::kWindow).hz);
        }
        del_fvec(out);
        del_fvec(in);
        del_aubio_pitch(yin);

        const OctaveErrors e = countOctaveErrors(ourTrack, theirTrack);
        total.shared += e.shared;
        total.ours += e.ours;
        total.theirs += e.theirs;
        for (int t = 0; t < 2; ++t) {
            total.ownFrames[t] += e.ownFrames[t];
            total.ownErrors[t] += e.ownErrors[t];
        }
        std::printf("%-6s shared voiced frames %d, octave errors ours %d, aubio YIN %d; "
                    "on its own voiced frames ours %d/%d, aubio YIN %d/%d\n",
            voice, e.shared, e.ours, e.theirs, e.ownErrors[0], e.ownFrames[0], e.ownErrors[1], e.ownFrames[1]);
    }
    aubio_cleanup();
    ASSERT_GT(total.shared, 400) << "too few voiced frames for a comparison";
    EXPECT_LE(total.ours, total.theirs);
    // The rate over each tracker's own voiced frames, too (cross-multiplied).
    EXPECT_LE(static_cast<double>(total.ownErrors[0]) * total.ownFrames[1],
        static_cast<double>(total.ownErrors[1]) * total.ownFrames[0]);
#endif
}

} // namespace
