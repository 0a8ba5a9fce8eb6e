// The wide echo room: when it runs and for how long it rings out, what it is
// fed, and how fast it decays compared with the cavern it copies.

#include "engine/wide_echo.h"

#include "../support/alloc_counter.h"
#include "dsp/random.h"
#include "mix_rig.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

namespace engine {
namespace {

constexpr uint32_t kBlock = 480;

struct EchoRig {
    WideEchoRoom room;
    std::vector<float> voice = std::vector<float>(kBlock);
    std::vector<float> gain = std::vector<float>(kBlock, 0.5f);
    std::vector<float> left = std::vector<float>(kBlock), right = std::vector<float>(kBlock);
    dsp::Lcg noise{7};

    EchoRig() { room.prepare(48000.0, kBlock); }
    // One block of noise (or silence); returns the energy the room added.
    double block(bool cavern, bool wide, bool loud = true)
    {
        for (float& v : voice)
            v = loud ? 0.3f * noise.bipolar() : 0.0f;
        std::fill(left.begin(), left.end(), 0.0f);
        std::fill(right.begin(), right.end(), 0.0f);
        WideEchoFeed feed;
        feed.highPassed = voice.data();
        feed.compressorGain = gain.data();
        feed.send = 0.5f;
        room.process(feed, left.data(), right.data(), kBlock, cavern, wide);
        double e = 0.0;
        for (uint32_t i = 0; i < kBlock; ++i)
            e += static_cast<double>(left[i]) * left[i] + static_cast<double>(right[i]) * right[i];
        return e;
    }
};

TEST(WideEcho, RunsOnlyWithWideSetAndTheCavernOrWithin15sAfterIt)
{
    EchoRig r;
    EXPECT_EQ(r.block(true, false), 0.0); // wide clear
    EXPECT_FALSE(r.room.running());
    EXPECT_EQ(r.block(false, true), 0.0); // another room, the cavern never ran
    EXPECT_FALSE(r.room.running());

    for (int b = 0; b < 50; ++b)
        r.block(true, true);
    EXPECT_TRUE(r.room.running());
    EXPECT_EQ(r.room.countdown(), 720000);
    EXPECT_GT(r.block(true, true), 0.0);

    // The room changes away: the send falls silent but the echo rings out for 15 s.
    const int ringOut = 720000 / static_cast<int>(kBlock);
    double ringing = 0.0;
    for (int b = 0; b < ringOut - 1; ++b) {
        const double e = r.block(false, true);
        if (b == 20)
            ringing = e;
        ASSERT_TRUE(r.room.running()) << b;
    }
    EXPECT_GT(ringing, 0.0);
    EXPECT_EQ(r.block(false, true), 0.0); // the countdown has run out
    EXPECT_FALSE(r.room.running());
    EXPECT_EQ(r.block(false, true), 0.0);

    // Clearing wide silences it at once, ringing or not.
    for (int b = 0; b < 50; ++b)
        r.block(true, true);
    r.block(false, true);
    EXPECT_EQ(r.block(false, false), 0.0);
    EXPECT_FALSE(r.room.running());
    EXPECT_EQ(r.block(false, true), 0.0); // and it does not resume without the cavern
}

TEST(WideEcho, AfterItHasDiedAwayItIsExactlySilentAndWakesOnTheNextSend)
{
    EchoRig r;
    for (int b = 0; b < 50; ++b)
        r.block(true, true);
    std::fill(r.gain.begin(), r.gain.end(), 1.0f); // nothing held back: nothing sent
    int quietFrom = -1;
    for (int b = 0; b < 4000 && quietFrom < 0; ++b) {
        if (r.block(true, true) == 0.0)
            quietFrom = b;
    }
    ASSERT_GT(quietFrom, 1000); // it rings for many seconds first
    for (int b = 0; b < 20; ++b)
        ASSERT_EQ(r.block(true, true), 0.0);
    std::fill(r.gain.begin(), r.gain.end(), 0.5f);
    double woke = 0.0;
    for (int b = 0; b < 50; ++b) // past the room's first reflections
        woke += r.block(true, true);
    EXPECT_GT(woke, 0.0);
}

TEST(WideEcho, ABriefSendEchoesThoughTheRoomAnswersOnlyAfterItsDelay)
{
    EchoRig r;
    EXPECT_NEAR(static_cast<double>(r.room.answerFrames()), 1532.0, 50.0); // after the block is over
    r.block(true, true);                                                   // one block sent
    std::fill(r.gain.begin(), r.gain.end(), 1.0f);
    double echo = 0.0;
    for (int b = 0; b < 100; ++b)
        echo += r.block(true, true);
    EXPECT_GT(echo, 1e-6);
    int quiet = 0;
    while (r.block(true, true) > 0.0 && quiet < 4000)
        ++quiet;
    EXPECT_LT(quiet, 4000); // and once it has died away the gate still closes
}

TEST(WideEcho, ItIsFedWhatTheCavernsCompressorHoldsBack)
{
    // The room is linear: three times the complement gives three times the output.
    EchoRig a, b, full;
    std::fill(a.gain.begin(), a.gain.end(), 0.75f);
    std::fill(b.gain.begin(), b.gain.end(), 0.25f);
    std::fill(full.gain.begin(), full.gain.end(), 1.0f);
    double ea = 0.0, eb = 0.0, ef = 0.0;
    for (int k = 0; k < 100; ++k) {
        ea += a.block(true, true);
        eb += b.block(true, true);
        ef += full.block(true, true);
    }
    EXPECT_NEAR(std::sqrt(eb / ea), 3.0, 3e-3);
    EXPECT_EQ(ef, 0.0); // the compressor passes everything to the main cavern
}

// Energy decay rate in dB per second between 1.5 s and 5.5 s after a 0.2 s
// burst; block(b) runs block b (a burst for b < 20) and returns its energy.
double decayDbPerSecond(const std::function<double(int)>& block)
{
    double early = 0.0, late = 0.0;
    for (int b = 0; b < 600; ++b) {
        const double e = block(b);
        if (b >= 150 && b < 200)
            early += e;
        if (b >= 550)
            late += e;
    }
    return 10.0 * std::log10(early / late) / 4.0;
}

TEST(WideEcho, ItDecaysFasterThanTheCavernByTheScale)
{
    EchoRig wide;
    std::fill(wide.gain.begin(), wide.gain.end(), 0.0f);
    dsp::Reverb cavern;
    cavern.prepare(48000.0, dsp::kHauntedCavern);
    EXPECT_NEAR(wide.room.decaySeconds(), cavern.decayTime() * WideEchoRoom::kDecayScale, 1e-9);
    EXPECT_NEAR(wide.room.decaySeconds(), 13.82, 0.01);

    dsp::Lcg noise{11};
    std::vector<float> in(kBlock), l(kBlock), r(kBlock);
    const double cavernRate = decayDbPerSecond([&](int b) {
        for (float& v : in)
            v = b < 20 ? 0.3f * noise.bipolar() : 0.0f;
        cavern.process(in.data(), nullptr, l.data(), r.data(), static_cast<int>(kBlock));
        double e = 0.0;
        for (uint32_t i = 0; i < kBlock; ++i)
            e += static_cast<double>(l[i]) * l[i] + static_cast<double>(r[i]) * r[i];
        return e;
    });
    const double wideRate = decayDbPerSecond([&](int b) { return wide.block(true, true, b < 20); });
    // A 60 dB decay over T seconds: the rates stand in the inverse ratio of the times.
    EXPECT_NEAR(cavernRate / wideRate, WideEchoRoom::kDecayScale, 0.05);
}

TEST(WideEcho, RunningAndStoppingNeverAllocate)
{
    EchoRig r;
    test::AllocationCounter counter;
    for (int b = 0; b < 400; ++b)
        r.block(b % 100 < 60, b % 150 < 140);
    r.room.reset();
    EXPECT_EQ(counter.count(), 0u);
}

// A chain in the cavern with a full send and `wide` set; response: the
// cavern's response file loads, so the cavern is not the procedural one.
void startWideCavern(test::ChainRig& rig, bool response = false)
{
    rig.settings.set(&settings::Settings::effects, 1);
    rig.settings.set(&settings::Settings::amount, 100);
    rig.settings.set(&settings::Settings::preset, 8);
    rig.settings.set(&settings::Settings::wide, 1);
    rig.environments.withCavern = true;
    rig.environments.responseLoads = response;
    rig.start();
}

// Does nothing: a chain with it set runs without its own wide echo.
class NoWideEcho : public WideEcho {
public:
    void process(const WideEchoFeed&, float*, float*, uint32_t, bool, const settings::Snapshot&) noexcept override { }
};

TEST(WideEcho, TheMonitorHearsItAndTheCableNeverDoesEvenWhileItRingsOut)
{
    // Two chains alike but for the wide echo; the voice (a 50 Hz square wave)
    // is loud enough for the cavern's input compressor to hold some of it back.
    test::ChainRig with, without;
    NoWideEcho none;
    for (test::ChainRig* rig : {&with, &without}) {
        startWideCavern(*rig);
    }
    without.chain->setWideEcho(&none);
    double heard = 0.0;
    const auto compare = [&](int blocks) {
        for (int b = 0; b < blocks; ++b) {
            const float mic = b % 2 == 0 ? 0.9f : -0.9f;
            with.block(mic);
            without.block(mic);
            for (uint32_t i = 0; i < 2 * test::ChainRig::kFrames; ++i) {
                ASSERT_EQ(with.cable[i], without.cable[i]) << b << " " << i;
                heard = std::max(heard, static_cast<double>(std::fabs(with.monitor[i] - without.monitor[i])));
            }
        }
    };
    compare(50);
    EXPECT_GT(heard, 1e-3);
    EXPECT_TRUE(with.chain->wideEcho().running());

    // The room changes away: the echo rings on, in the headphones only.
    with.chain->changeEnvironment(0);
    without.chain->changeEnvironment(0);
    heard = 0.0;
    compare(50);
    EXPECT_GT(heard, 1e-4);
    EXPECT_TRUE(with.chain->wideEcho().running());
}

TEST(WideEcho, TheCavernOnItsResponseIsNotTheProceduralCaseAndGetsNone)
{
    for (const bool response : {false, true}) {
        test::ChainRig rig;
        startWideCavern(rig, response);
        for (int b = 0; b < 50; ++b)
            rig.block(b % 2 == 0 ? 0.9f : -0.9f);
        EXPECT_EQ(rig.chain->wideEcho().running(), !response);
    }
}

// A replacement that runs a room of its own on what it is handed.
class OwnRoomWideEcho : public WideEcho {
public:
    OwnRoomWideEcho() { room.prepare(48000.0, test::ChainRig::kFrames); }
    void process(const WideEchoFeed& feed, float* wetL, float* wetR, uint32_t n, bool cavernRunning,
        const settings::Snapshot& settings) noexcept override
    {
        room.process(feed, wetL, wetR, n, cavernRunning, settings.wide != 0);
    }
    WideEchoRoom room;
};

TEST(WideEcho, AReplacementIsHandedTheWholeSendAndCanMakeTheSameEcho)
{
    test::ChainRig builtIn, replaced;
    OwnRoomWideEcho own;
    for (test::ChainRig* rig : {&builtIn, &replaced}) {
        startWideCavern(*rig);
    }
    replaced.chain->setWideEcho(&own);
    for (int b = 0; b < 50; ++b) {
        const float mic = b % 2 == 0 ? 0.9f : -0.9f;
        builtIn.block(mic);
        replaced.block(mic);
        for (uint32_t i = 0; i < 2 * test::ChainRig::kFrames; ++i)
            ASSERT_EQ(builtIn.monitor[i], replaced.monitor[i]) << b << " " << i;
    }
    EXPECT_TRUE(own.room.running());
}

} // namespace
} // namespace engine
