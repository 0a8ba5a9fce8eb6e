// The cable's endpoints as wine shows the rig's PulseAudio daemon
// (e2e/pulse_rig.sh): "CABLE Input" and its monitor "CABLE Output", the
// rename's registry path, and the cost of one status pass's system calls.
// Without an audio server there are no endpoints and every test skips.

#include "cable/cable_contract.h"
#include "engine/endpoints.h"
#include "platform/win32/win32_audio.h"
#include "platform/win32/win32_platform.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>

namespace {

using platform::Flow;

constexpr wchar_t kCaptureKeys[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\MMDevices\\Audio\\Capture\\";
constexpr wchar_t kDescription[] = L"{a45c254e-df1c-4efd-8020-67d146a850e0},2";
constexpr uint32_t kPresentStates = platform::kStateActive | platform::kStateDisabled | platform::kStateUnplugged;

class Win32Cable : public ::testing::Test {
protected:
    std::unique_ptr<platform::AudioDevices> devices = platform::win32::makeAudioDevices();
    std::unique_ptr<platform::RegistryStore> machine = platform::win32::makeRegistry(platform::Hive::LocalMachine);

    void SetUp() override
    {
        if (devices->enumerate(Flow::Render, platform::kStateActive).empty())
            GTEST_SKIP() << "no active audio endpoint: start the rig's PulseAudio daemon (e2e/pulse_rig.sh)";
    }

    platform::EndpointInfo cableCapture()
    {
        for (auto& e : devices->enumerate(Flow::Capture, platform::kStateActive))
            if (engine::containsNoCase(e.name, L"CABLE Output"))
                return e;
        return {};
    }

    // The endpoint's properties key: its id from the last "{" on.
    static std::wstring propertiesKey(const std::wstring& id)
    {
        return std::wstring(kCaptureKeys) + id.substr(id.find_last_of(L'{')) + L"\\Properties";
    }
};

double processCpuMillis()
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ticks = [](FILETIME t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 1e4;
}

TEST_F(Win32Cable, TheRigsCableCaptureSideIsAnEndpointWhosePropertiesLiveWhereTheRenameWrites)
{
    const auto capture = cableCapture();
    ASSERT_FALSE(capture.id.empty()) << "no \"CABLE Output\" capture endpoint";
    // No other capture endpoint (a sink's monitor) passes for the cable's capture side.
    for (auto& e : devices->enumerate(Flow::Capture, platform::kStateActive)) {
        const bool looksLikeCable = engine::containsNoCase(e.interfaceName, L"VB-Audio Virtual Cable")
            || engine::containsNoCase(e.name, L"CABLE Output");
        EXPECT_TRUE(e.id == capture.id || !looksLikeCable)
            << "\"" << std::string(e.name.begin(), e.name.end()) << "\" looks like the cable's capture side";
    }
    ASSERT_NE(capture.id.find(L'{'), std::wstring::npos) << "an endpoint id without its GUID";
    const std::wstring key = propertiesKey(capture.id);
    EXPECT_TRUE(machine->keyExists(key));
    const auto stored = machine->readString(key, kDescription, 255);
    ASSERT_TRUE(stored.has_value()) << "the description property is not a string under the key";
    EXPECT_EQ(*stored, capture.description);
}

TEST_F(Win32Cable, AWrittenDescriptionIsWhatEnumerationReportsWhileTheListedNameStays)
{
    const auto capture = cableCapture();
    ASSERT_FALSE(capture.id.empty());
    const std::wstring key = propertiesKey(capture.id);
    const auto original = machine->readString(key, kDescription, 255);
    ASSERT_TRUE(original.has_value());

    ASSERT_TRUE(machine->writeString(key, kDescription, L"Omnimix"));
    platform::EndpointInfo after;
    for (auto& e : devices->enumerate(Flow::Capture, platform::kStateActive))
        if (e.id == capture.id)
            after = e;
    std::printf("before: name \"%ls\", description \"%ls\"\nafter:  name \"%ls\", description \"%ls\"\n",
        capture.name.c_str(), capture.description.c_str(), after.name.c_str(), after.description.c_str());
    EXPECT_EQ(after.description, L"Omnimix");
    // Wine keeps the friendly name (the name the lists show) as a property of
    // its own, and writes both anew from the audio server when a process
    // first enumerates: the rename never shows in a list under wine.
    EXPECT_EQ(after.name, capture.name);
    EXPECT_TRUE(machine->writeString(key, kDescription, *original));
}

TEST_F(Win32Cable, OneStatusPassOfSystemCallsFindsBothSidesAndPrintsItsCost)
{
    // What a status pass asks of the system: the endpoints of both flows in
    // every present state, and the driver's service key.
    constexpr int kPasses = 100;
    bool render = false;
    bool capture = false;
    const double before = processCpuMillis();
    for (int pass = 0; pass < kPasses; ++pass) {
        render = !engine::findCableEndpoint(*devices, kPresentStates).id.empty();
        capture = false;
        for (auto& e : devices->enumerate(Flow::Capture, kPresentStates))
            capture = capture || engine::containsNoCase(e.name, L"CABLE Output");
        machine->keyExists(std::wstring(cable::kServiceKey));
    }
    const double millis = (processCpuMillis() - before) / kPasses;
    EXPECT_TRUE(render);
    EXPECT_TRUE(capture);
    std::printf("figure cable_status_pass_cpu_ms %.3f\n", millis);
}

} // namespace
