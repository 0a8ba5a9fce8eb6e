#include "cable/cable_contract.h"

#include <gtest/gtest.h>

namespace {

TEST(CableContract, TheRenderSideIsFoundByNameOrByAdapterOutsideTheMultiChannelVariant)
{
    EXPECT_TRUE(cable::isCableRender(L"CABLE Input (VB-Audio Virtual Cable)", L"VB-Audio Virtual Cable"));
    EXPECT_TRUE(cable::isCableRender(L"CABLE Input", L""));
    EXPECT_TRUE(cable::isCableRender(L"Speakers", L"VB-Audio Virtual Cable"));
    EXPECT_FALSE(cable::isCableRender(L"CABLE-A 16ch Input", L"VB-Audio Virtual Cable"));
    EXPECT_TRUE(cable::isCableRender(L"CABLE Input 16ch", L"VB-Audio Virtual Cable"))
        << "a name with both CABLE Input and 16ch is still the render side";
    EXPECT_FALSE(cable::isCableRender(L"Headphones (Realtek)", L"Realtek High Definition Audio"));
    EXPECT_FALSE(cable::isCableRender(L"cable input", L"")) << "names are matched as the driver writes them";
}

TEST(CableContract, TheCaptureSideIsFoundByAdapterOrName)
{
    EXPECT_TRUE(cable::isCableCapture(L"CABLE Output (VB-Audio Virtual Cable)", L""));
    EXPECT_TRUE(cable::isCableCapture(L"Omnimix", L"VB-Audio Virtual Cable")) << "after renaming";
    EXPECT_FALSE(cable::isCableCapture(L"Microphone", L"USB Audio"));
}

TEST(CableContract, OnlyTheVendorsSignersAreTrusted)
{
    EXPECT_TRUE(cable::isTrustedSigner(L"VB-Audio Software"));
    EXPECT_TRUE(cable::isTrustedSigner(L"Vincent Burel KARDEL"));
    EXPECT_FALSE(cable::isTrustedSigner(L"VB Audio"));
    EXPECT_FALSE(cable::isTrustedSigner(L""));
}

TEST(CableContract, PackageNamesAndStreamFormat)
{
    EXPECT_EQ(cable::packageFileName(L"45"), L"VBCABLE_Driver_Pack45.zip");
    EXPECT_EQ(cable::kInstallers[0], L"VBCABLE_Setup_x64.exe");
    EXPECT_EQ(cable::kServiceKey, L"SYSTEM\\CurrentControlSet\\Services\\VBAudioVACMME");
    EXPECT_EQ(cable::kStreamSampleRate, 48000u);
    EXPECT_EQ(cable::kStreamChannels, 2);
    EXPECT_EQ(cable::kStreamBitsPerSample, 32);
}

} // namespace
