// Endpoint lists, the cable and monitor choices, the initial population and
// the refresh reports, on simulated endpoints.

#include "engine/endpoints.h"
#include "platform/sim/manual_clock.h"
#include "platform/sim/sim_audio.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

using platform::Flow;
using platform::sim::SimEndpointSetup;

SimEndpointSetup render(std::wstring id, std::wstring name, std::wstring adapter = L"Realtek Audio")
{
    SimEndpointSetup s;
    s.flow = Flow::Render;
    s.id = std::move(id);
    s.name = std::move(name);
    s.interfaceName = std::move(adapter);
    return s;
}

SimEndpointSetup capture(std::wstring id, std::wstring name, std::wstring adapter = L"Realtek Audio")
{
    SimEndpointSetup s = render(std::move(id), std::move(name), std::move(adapter));
    s.flow = Flow::Capture;
    return s;
}

class EndpointsTest : public ::testing::Test {
protected:
    platform::sim::ManualClock clock;
    std::shared_ptr<platform::sim::SimAudio> audio = std::make_shared<platform::sim::SimAudio>(clock);
    settings::Settings settings;
};

TEST_F(EndpointsTest, CableInputIsChosenEvenWhenAnotherCandidateComesFirst)
{
    audio->addEndpoint(render(L"a", L"Speakers (VB-Audio Virtual Cable)", L"VB-Audio Virtual Cable"));
    audio->addEndpoint(render(L"b", L"CABLE Input (VB-Audio Virtual Cable)", L"VB-Audio Virtual Cable"));
    EXPECT_EQ(engine::findCableEndpoint(*audio).id, L"b");

    audio->removeEndpoint(L"b");
    EXPECT_EQ(engine::findCableEndpoint(*audio).id, L"a") << "the first candidate when none is named CABLE Input";
}

TEST_F(EndpointsTest, SixteenChannelAdapterEndpointIsOnlyACandidateWhenNamedCableInput)
{
    audio->addEndpoint(render(L"16", L"CABLE-A 16ch", L"VB-Audio Virtual Cable"));
    audio->addEndpoint(render(L"spk", L"Speakers", L"Realtek Audio"));
    EXPECT_TRUE(engine::findCableEndpoint(*audio).id.empty());

    audio->addEndpoint(render(L"16in", L"CABLE Input 16ch", L"VB-Audio Virtual Cable"));
    EXPECT_EQ(engine::findCableEndpoint(*audio).id, L"16in");
}

TEST_F(EndpointsTest, CableIsLookedUpInTheAskedStates)
{
    auto off = render(L"c", L"CABLE Input", L"VB-Audio Virtual Cable");
    off.state = platform::kStateDisabled;
    audio->addEndpoint(off);
    EXPECT_TRUE(engine::findCableEndpoint(*audio, platform::kStateActive).id.empty());
    EXPECT_EQ(engine::findCableEndpoint(*audio, platform::kStateDisabled | platform::kStateUnplugged).id, L"c");
}

TEST_F(EndpointsTest, ListsLeaveOutTheCableAndAMissingNameReadsQuestionMark)
{
    audio->addEndpoint(capture(L"m1", L"Microphone (USB)"));
    audio->addEndpoint(capture(L"c1", L"CABLE Output (VB-Audio Virtual Cable)", L"VB-Audio Virtual Cable"));
    audio->addEndpoint(capture(L"c2", L"Omnimix", L""));
    audio->addEndpoint(capture(L"m2", L"Omnimix Studio Mic", L"Omni USB")); // has an adapter: a real microphone
    auto unnamed = capture(L"m3", L"");
    unnamed.hasName = false;
    audio->addEndpoint(unnamed);
    auto off = capture(L"m4", L"Line In");
    off.state = platform::kStateUnplugged;
    audio->addEndpoint(off);
    audio->addEndpoint(render(L"s1", L"Headphones"));
    audio->addEndpoint(render(L"s2", L"CABLE In 16ch"));
    audio->addEndpoint(render(L"s3", L"Output", L"VB-Audio Virtual Cable"));

    const auto mics = engine::microphoneList(*audio);
    ASSERT_EQ(mics.size(), 3u);
    EXPECT_EQ(mics[0].id, L"m1");
    EXPECT_EQ(mics[1].id, L"m2");
    EXPECT_EQ(mics[2].name, L"?");

    const auto speakers = engine::speakerList(*audio);
    ASSERT_EQ(speakers.size(), 1u);
    EXPECT_EQ(speakers[0].id, L"s1");
}

TEST_F(EndpointsTest, HeadphoneFlagFollowsTheSpeakerNameIgnoringCase)
{
    engine::chooseSpeaker(settings, {L"Gaming HEADSET", L"h", L"", L""});
    EXPECT_EQ(settings.SpkHeadphone.load(), 1);
    EXPECT_EQ(settings::deviceName(settings, settings::DeviceKind::Spk), L"h");
    engine::chooseSpeaker(settings, {L"Speakers (Realtek)", L"s", L"", L""});
    EXPECT_EQ(settings.SpkHeadphone.load(), 0);
    engine::chooseSpeaker(settings, {L"Headphones", L"p", L"", L""});
    EXPECT_EQ(settings.SpkHeadphone.load(), 1);
}

TEST_F(EndpointsTest, ApplicationAudioAloneIsNeverSentToAMixerInput)
{
    audio->addEndpoint(render(L"vm", L"Voicemeeter Input", L"VB-Audio VoiceMeeter VAIO"));
    audio->addEndpoint(render(L"hp", L"Headphones"));

    EXPECT_EQ(engine::monitorEndpointFor(*audio, L"vm", {false, true}), L"");
    EXPECT_EQ(engine::monitorEndpointFor(*audio, L"vm", {true, true}), L"vm");
    EXPECT_EQ(engine::monitorEndpointFor(*audio, L"vm", {true, false}), L"vm");
    EXPECT_EQ(engine::monitorEndpointFor(*audio, L"hp", {false, true}), L"hp");
    EXPECT_EQ(engine::monitorEndpointFor(*audio, L"hp", {false, false}), L"");
    EXPECT_EQ(engine::monitorEndpointFor(*audio, L"", {true, true}), L"");
}

TEST_F(EndpointsTest, InitialPopulationPicksTheDefaultsElseTheFirstEntries)
{
    audio->addEndpoint(capture(L"m1", L"Mic one"));
    audio->addEndpoint(capture(L"m2", L"Mic two"));
    audio->addEndpoint(render(L"s1", L"Speakers"));
    audio->addEndpoint(render(L"s2", L"Headset Earphone"));
    audio->setDefault(Flow::Capture, L"m2");
    audio->setDefault(Flow::Render, L"s2");

    auto lists = engine::populateDeviceLists(*audio, settings);
    EXPECT_EQ(lists.micIndex, 1);
    EXPECT_EQ(lists.spkIndex, 1);
    EXPECT_EQ(settings::deviceName(settings, settings::DeviceKind::Mic), L"m2");
    EXPECT_EQ(settings::deviceName(settings, settings::DeviceKind::Spk), L"s2");
    EXPECT_EQ(settings.SpkHeadphone.load(), 1);

    audio->setDefault(Flow::Capture, L"gone");
    audio->setDefault(Flow::Render, L"");
    lists = engine::populateDeviceLists(*audio, settings);
    EXPECT_EQ(lists.micIndex, 0);
    EXPECT_EQ(settings::deviceName(settings, settings::DeviceKind::Mic), L"m1");
    EXPECT_EQ(settings::deviceName(settings, settings::DeviceKind::Spk), L"s1");
    EXPECT_EQ(settings.SpkHeadphone.load(), 0);
}

TEST_F(EndpointsTest, EmptyMicrophoneListLeavesTheStoredChoice)
{
    settings::setDeviceName(settings, settings::DeviceKind::Mic, L"old");
    const auto lists = engine::populateDeviceLists(*audio, settings);
    EXPECT_EQ(lists.micIndex, -1);
    EXPECT_EQ(settings::deviceName(settings, settings::DeviceKind::Mic), L"old");
}

// The worker runs when the test says so, and hands its result back here.
class RefreshTest : public EndpointsTest {
protected:
    std::vector<std::function<void()>> pending;
    std::vector<engine::DeviceRefresher::Result> delivered;
    engine::DeviceRefresher refresher{audio, [this](engine::DeviceRefresher::Result r) { delivered.push_back(r); },
        [this](std::function<void()> work) { pending.push_back(std::move(work)); }};
    engine::DeviceLists lists;

    void SetUp() override
    {
        audio->addEndpoint(capture(L"m1", L"Mic one"));
        audio->addEndpoint(render(L"s1", L"Speakers"));
        lists = engine::populateDeviceLists(*audio, settings);
    }

    std::wstring runWorker()
    {
        EXPECT_EQ(pending.size(), 1u);
        auto work = std::move(pending.front());
        pending.clear();
        work();
        EXPECT_EQ(delivered.size(), 1u);
        auto result = std::move(delivered.front());
        delivered.clear();
        return refresher.finish(lists, std::move(result), settings);
    }
};

TEST_F(RefreshTest, ReportsNothingNewWhenNothingChanged)
{
    refresher.refresh(true);
    EXPECT_EQ(runWorker(), L"No new audio devices found");
}

TEST_F(RefreshTest, ReportsTheNamesOfNewDevicesMicrophonesFirst)
{
    audio->addEndpoint(render(L"s2", L"USB Headphones"));
    audio->addEndpoint(capture(L"m2", L"USB Mic"));
    refresher.refresh(true);
    EXPECT_EQ(runWorker(), L"Found USB Mic, USB Headphones");
    EXPECT_EQ(lists.captureList.size(), 2u);
    EXPECT_EQ(lists.micIndex, 0) << "the selection follows the stored mic";
}

TEST_F(RefreshTest, ReportsRefreshedWhenADeviceWentAwayAndKeepsTheStoredChoice)
{
    audio->removeEndpoint(L"s1");
    refresher.refresh(true);
    EXPECT_EQ(runWorker(), L"Audio devices refreshed");
    EXPECT_TRUE(lists.renderList.empty());
    EXPECT_EQ(lists.spkIndex, -1);
    EXPECT_EQ(settings::deviceName(settings, settings::DeviceKind::Spk), L"s1");
}

TEST_F(RefreshTest, AutomaticRefreshIsSilentAndARefreshAskedWhileRunningIsAbsorbed)
{
    audio->addEndpoint(capture(L"m2", L"USB Mic"));
    refresher.refresh(false);
    refresher.refresh(true); // while the first runs: no second worker, but a report
    EXPECT_EQ(runWorker(), L"Found USB Mic");
    EXPECT_FALSE(refresher.running());

    refresher.refresh(false);
    EXPECT_EQ(runWorker(), L"");
}

} // namespace
