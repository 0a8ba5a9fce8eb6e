#include "cable/cable_contract.h"
#include "engine/endpoints.h"

#include <gtest/gtest.h>

namespace {

// The cable's endpoints are recognised by one rule, the engine's, whatever the case.
TEST(CableContract, TheRenderSideIsFoundByNameOrByAdapterOutsideTheMultiChannelVariant)
{
    using engine::isCableRender;
    EXPECT_TRUE(isCableRender(L"CABLE Input (VB-Audio Virtual Cable)", L"VB-Audio Virtual Cable"));
    EXPECT_TRUE(isCableRender(L"CABLE Input", L""));
    EXPECT_TRUE(isCableRender(L"Speakers", L"VB-Audio Virtual Cable"));
    EXPECT_FALSE(isCableRender(L"CABLE-A 16ch Input", L"VB-Audio Virtual Cable"));
    EXPECT_TRUE(isCableRender(L"CABLE Input 16ch", L"VB-Audio Virtual Cable"))
        << "a name with both CABLE Input and 16ch is still the render side";
    EXPECT_FALSE(isCableRender(L"Headphones (Realtek)", L"Realtek High Definition Audio"));
    EXPECT_TRUE(isCableRender(L"cable input", L""));
    EXPECT_TRUE(isCableRender(L"Speakers", L"vb-audio virtual cable"));
    EXPECT_FALSE(isCableRender(L"CABLE-A 16CH", L"VB-Audio Virtual Cable"));
}

TEST(CableContract, TheCaptureSideIsFoundByAdapterOrNameAndAfterRenaming)
{
    using engine::isCableCapture;
    EXPECT_TRUE(isCableCapture(L"CABLE Output (VB-Audio Virtual Cable)", L""));
    EXPECT_TRUE(isCableCapture(L"cable output", L""));
    EXPECT_TRUE(isCableCapture(L"Omnimix", L"VB-Audio Virtual Cable"));
    EXPECT_TRUE(isCableCapture(L"Omnimix", L"")) << "renamed, the capture side has no adapter name left";
    EXPECT_TRUE(isCableCapture(L"OMNIMIX", L""));
    EXPECT_FALSE(isCableCapture(L"Omnimix Studio Mic", L"Omni USB")) << "a real microphone with an adapter";
    EXPECT_FALSE(isCableCapture(L"Microphone", L"USB Audio"));
    // The microphone list leaves out exactly what the rule calls the cable.
    EXPECT_FALSE(engine::isListedMicrophone({L"omnimix", L"id", L"", L""}));
    EXPECT_TRUE(engine::isListedMicrophone({L"Microphone", L"id", L"", L"USB Audio"}));
}

TEST(CableContract, OnlyTheVendorsSignersAreTrusted)
{
    EXPECT_TRUE(cable::signerAccepted(L"VB-Audio Software"));
    EXPECT_TRUE(cable::signerAccepted(L"Vincent Burel KARDEL"));
    EXPECT_FALSE(cable::signerAccepted(L"VB Audio"));
    EXPECT_FALSE(cable::signerAccepted(L""));
}

TEST(CableContract, PackageNamesAndStreamFormat)
{
    EXPECT_EQ(cable::packageFileName(L"45"), L"VBCABLE_Driver_Pack45.zip");
    EXPECT_EQ(cable::kInstallers[0], L"VBCABLE_Setup_x64.exe");
    EXPECT_EQ(cable::kServiceKey, L"SYSTEM\\CurrentControlSet\\Services\\VBAudioVACMME");
    EXPECT_EQ(cable::kStreamChannels, 2);
    EXPECT_EQ(cable::kStreamBitsPerSample, 32);
}

} // namespace
