// The mix's laws on their own: level law, drive, balance, send level, and
// the routing matrix, row by row.

#include "engine/mix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

using engine::Route;
using engine::RouteInputs;

TEST(MixLaws, LevelLawIsUnityAt100AboutTwentyAt1000AndSilentAtZero)
{
    EXPECT_FLOAT_EQ(engine::levelGain(100), 1.0f);
    EXPECT_NEAR(engine::levelGain(1000), 20.0, 0.02);
    EXPECT_EQ(engine::levelGain(0), 0.0f);
    EXPECT_EQ(engine::levelGain(-5), 0.0f);
}

TEST(MixLaws, DriveIsOffUpTo100AndSevenBeforeItsTanhAt1000)
{
    engine::MicDrive d;
    d.update(100);
    EXPECT_EQ(d.a, 0.0f);
    EXPECT_EQ(d.drive, 0.0f);
    EXPECT_EQ(d.makeUp, 1.0f);
    d.update(1000);
    EXPECT_FLOAT_EQ(d.a, 7.0f);
    EXPECT_FLOAT_EQ(d.drive, std::tanh(7.0f));
    EXPECT_FLOAT_EQ(d.makeUp, 7.0f / std::tanh(7.0f));
}

TEST(MixLaws, DriveRisesAtOnceAndFallsByAtMostTwoThousandthsABlock)
{
    engine::MicDrive d;
    d.update(1000);
    const float high = d.drive;
    d.update(100); // a = 0: the target is 0
    EXPECT_FLOAT_EQ(d.drive, high - 0.002f);
    for (int i = 0; i < 1000; ++i)
        d.update(100);
    EXPECT_EQ(d.drive, 0.0f);
    d.update(280); // a = 2.2
    EXPECT_FLOAT_EQ(d.drive, std::tanh(2.2f));
}

TEST(MixLaws, BalanceTurnsDownTheFarSideOnly)
{
    const engine::Balance right40 = engine::balance(40);
    EXPECT_FLOAT_EQ(right40.left, 0.6f);
    EXPECT_FLOAT_EQ(right40.right, 1.0f);
    const engine::Balance left25 = engine::balance(-25);
    EXPECT_FLOAT_EQ(left25.left, 1.0f);
    EXPECT_FLOAT_EQ(left25.right, 0.75f);
    const engine::Balance beyond = engine::balance(250); // clamped, never negative
    EXPECT_FLOAT_EQ(beyond.left, 0.0f);
}

TEST(MixLaws, SendLevelIsGatedByEffectsAmountAndTheSourcesEchoBit)
{
    settings::Settings s;
    s.set(&settings::Settings::effects, 1);
    s.set(&settings::Settings::amount, 100);
    s.set(&settings::Settings::echo_on, 0b101); // voice and application, not clips
    EXPECT_FLOAT_EQ(engine::sendLevel(s.snapshot(), 0, false), 0.855f);
    EXPECT_FLOAT_EQ(engine::sendLevel(s.snapshot(), 0, true), 1.0f);
    EXPECT_EQ(engine::sendLevel(s.snapshot(), 1, false), 0.0f);
    EXPECT_FLOAT_EQ(engine::sendLevel(s.snapshot(), 2, false), 0.855f);
    s.set(&settings::Settings::amount, 25);
    EXPECT_NEAR(engine::sendLevel(s.snapshot(), 0, false), 0.855 * std::pow(0.25, 0.58), 1e-6);
    s.set(&settings::Settings::amount, 0);
    EXPECT_EQ(engine::sendLevel(s.snapshot(), 0, false), 0.0f);
    s.set(&settings::Settings::amount, 50);
    s.set(&settings::Settings::effects, 0);
    EXPECT_EQ(engine::sendLevel(s.snapshot(), 0, false), 0.0f);
    EXPECT_EQ(engine::tapCompensation(0), 1.0);
    EXPECT_DOUBLE_EQ(engine::tapCompensation(100), 0.69);
    EXPECT_DOUBLE_EQ(engine::tapCompensation(1), 1.45); // 0.69 × 0.01^−0.245 is above the cap
}

TEST(MixLaws, TailsRingHalfASecondPlusTheDecay)
{
    EXPECT_EQ(engine::tailFrames(0.0), 24000u);
    EXPECT_EQ(engine::tailFrames(1.5), 24000u + 72000u);
}

// Each contribution gets its own bit, so an output value names exactly the
// contributions it holds.
constexpr float kClip = 1, kApp = 4, kWet0 = 16, kWet1 = 64, kWet0Mono = 256, kWet1Mono = 512;

std::string decode(float value)
{
    const int v = static_cast<int>(value);
    std::string names;
    auto add = [&](int bit, const char* name) {
        if (v & bit)
            names += names.empty() ? name : std::string(" ") + name;
    };
    add(static_cast<int>(kClip), "clip");
    add(static_cast<int>(kApp), "app");
    add(static_cast<int>(kWet0), "wet0");
    add(static_cast<int>(kWet1), "wet1");
    add(static_cast<int>(kWet0Mono), "mono0");
    add(static_cast<int>(kWet1Mono), "mono1");
    return names;
}

engine::BusFrame markers()
{
    engine::BusFrame f;
    f.clipL = f.clipR = kClip;
    f.appL = f.appR = kApp;
    f.wet0L = f.wet0R = kWet0;
    f.wet1L = f.wet1R = kWet1;
    f.wet0Mono = kWet0Mono;
    f.wet1Mono = kWet1Mono;
    return f;
}

// What the chain does: bus 1 runs while a source wants it (tails aside).
Route routeOf(RouteInputs in)
{
    in.bus1Running = engine::route(in).bus1Wanted;
    return engine::route(in);
}

struct MatrixRow {
    const char* what;
    bool clipMic, clipHear, appHear, appOnly, monitor, clipLive, appLive, park, cavern, wide;
    const char* monitorGets;
    const char* cableGets;
    bool voiceInMonitor;
};

// The application's dry term reaches the cable whenever app_only is clear:
// a bus that is not live simply carries silence there.
const MatrixRow kMatrix[] = {
    {"clip to both", 1, 1, 0, 0, 1, 1, 0, 0, 0, 0, "clip wet0", "clip app wet0", true},
    {"clip to the headphones alone uses bus 1", 0, 1, 0, 0, 1, 1, 0, 0, 0, 0, "clip wet1", "app", true},
    {"clip to the microphone alone", 1, 0, 0, 0, 1, 1, 0, 0, 0, 0, "", "clip app wet0", true},
    {"clip routed nowhere", 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, "", "app", false},
    {"clip buses idle: no wet anywhere", 1, 1, 0, 0, 1, 0, 0, 0, 0, 0, "clip", "clip app", true},
    {"application parked, app_hear clear", 0, 0, 0, 0, 1, 0, 1, 1, 0, 0, "app wet0", "app wet0", true},
    {"application not parked", 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, "wet0", "app wet0", true},
    {"application heard at its own device", 0, 0, 1, 0, 1, 0, 1, 1, 0, 0, "", "app wet0", true},
    {"application only in the headphones", 0, 0, 0, 1, 1, 0, 1, 1, 0, 0, "app wet1", "", true},
    {"app_only wins over app_hear", 0, 0, 1, 1, 0, 0, 1, 1, 0, 0, "app wet1", "", false},
    {"app_only without parking", 0, 0, 0, 1, 1, 0, 1, 0, 0, 0, "wet1", "", true},
    {"both buses, clip shared, app monitor-only", 1, 1, 0, 1, 1, 1, 1, 1, 0, 0, "clip app wet0 wet1", "clip wet0",
        true},
    {"both buses, clip monitor-only", 0, 1, 1, 0, 1, 1, 1, 0, 0, 0, "clip wet1", "app wet0", true},
    {"cavern: mono wet on both outputs", 1, 1, 0, 0, 1, 1, 0, 0, 1, 0, "clip mono0", "clip app mono0", true},
    {"cavern with wide: stereo wet in the headphones", 1, 1, 0, 0, 1, 1, 0, 0, 1, 1, "clip wet0", "clip app mono0",
        true},
    {"cavern, clip monitor-only", 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, "clip mono1", "app", true},
    {"cavern with wide, application only", 0, 0, 0, 1, 1, 0, 1, 1, 1, 1, "app wet1", "", true},
};

TEST(RoutingMatrix, EveryRowSendsEachSourceAndWetSignalWhereTheMatrixSays)
{
    for (const MatrixRow& row : kMatrix) {
        SCOPED_TRACE(row.what);
        RouteInputs in;
        in.clipMic = row.clipMic;
        in.clipHear = row.clipHear;
        in.appHear = row.appHear;
        in.appOnly = row.appOnly;
        in.monitor = row.monitor;
        in.clipLive = row.clipLive;
        in.appLive = row.appLive;
        in.parkRequested = row.park;
        in.cavern = row.cavern;
        in.wide = row.wide;
        const Route r = routeOf(in);
        float monL, monR, cabL, cabR;
        engine::routeFrame(r, {}, markers(), monL, monR, cabL, cabR);
        EXPECT_EQ(decode(monL), row.monitorGets);
        EXPECT_EQ(decode(monR), row.monitorGets);
        EXPECT_EQ(decode(cabL), row.cableGets);
        EXPECT_EQ(decode(cabR), row.cableGets);
        EXPECT_EQ(r.voiceToMonitor, row.voiceInMonitor);
    }
}

// Every combination of the five switches, the two bus activities and parking.
template <class Check> void forEveryCombination(Check check)
{
    for (int bits = 0; bits < 256; ++bits) {
        RouteInputs in;
        in.clipMic = bits & 1;
        in.clipHear = bits & 2;
        in.appHear = bits & 4;
        in.appOnly = bits & 8;
        in.monitor = bits & 16;
        in.clipLive = bits & 32;
        in.appLive = bits & 64;
        in.parkRequested = bits & 128;
        SCOPED_TRACE("combination " + std::to_string(bits));
        check(in, routeOf(in));
    }
}

TEST(RoutingMatrix, NoCombinationLetsBus1OrAppOnlyAudioReachTheCable)
{
    forEveryCombination([](const RouteInputs& in, const Route& r) {
        float monL, monR, cabL, cabR;
        engine::routeFrame(r, {}, markers(), monL, monR, cabL, cabR);
        EXPECT_EQ(decode(cabL).find("wet1"), std::string::npos);
        if (in.appOnly) {
            EXPECT_EQ(decode(cabL).find("app"), std::string::npos);
        }
        // Clips reach an output exactly when their switch says so.
        EXPECT_EQ(decode(cabL).find("clip") != std::string::npos, in.clipMic);
        EXPECT_EQ(decode(monL).find("clip") != std::string::npos, in.clipHear);
        // The monitor-only bus runs exactly when a source is routed to the monitor alone.
        EXPECT_EQ(r.bus1Wanted, (in.clipLive && in.clipHear && !in.clipMic) || (in.appLive && in.appOnly));
    });
}

TEST(RoutingMatrix, EachSourceTakesTheDryGainOfTheBusItReverbsIn)
{
    forEveryCombination([](const RouteInputs& in, const Route& r) {
        engine::BusFrame f;
        f.clipL = f.clipR = 1.0f;
        f.dry0 = 0.5f;
        f.dry1 = 0.25f;
        float monL, monR, cabL, cabR;
        engine::routeFrame(r, {}, f, monL, monR, cabL, cabR);
        const float clipGain = in.clipHear && !in.clipMic ? 0.25f : 0.5f;
        EXPECT_EQ(monL, in.clipHear ? clipGain : 0.0f);
        EXPECT_EQ(cabL, in.clipMic ? clipGain : 0.0f);
        // Each bus's feed matches where its wet signal may go.
        EXPECT_EQ(r.bus0Clip, in.clipMic);
        EXPECT_EQ(r.bus1Clip, in.clipHear && !in.clipMic);
        EXPECT_EQ(r.bus0App, !in.appOnly);
        EXPECT_EQ(r.bus1App, in.appOnly);
        EXPECT_EQ(r.appDryFromBus1, in.appOnly);
    });
}

TEST(RoutingMatrix, AppPanTurnsDownOneSideOfTheMonitorOnly)
{
    RouteInputs in;
    in.appLive = true;
    in.parkRequested = true;
    const Route r = routeOf(in);
    engine::BusFrame f;
    f.appL = f.appR = 1.0f;
    float monL, monR, cabL, cabR;
    engine::routeFrame(r, engine::balance(-50), f, monL, monR, cabL, cabR);
    EXPECT_FLOAT_EQ(monL, 1.0f);
    EXPECT_FLOAT_EQ(monR, 0.5f);
    EXPECT_FLOAT_EQ(cabL, 1.0f);
    EXPECT_FLOAT_EQ(cabR, 1.0f);
}

} // namespace
