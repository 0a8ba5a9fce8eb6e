// The texts the interface shows for the effects, made from their numbers.

#include "dsp/noise_isolation.h"
#include "engine/texts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

namespace engine {
namespace {

TEST(Texts, StatusLinesAreMadeFromTheEffectsNumbers)
{
    EXPECT_EQ(roomDisplayText(dsp::room(0)), "Decay: 4.32 s   Room: -8 dB");
    EXPECT_EQ(roomDisplayText(dsp::room(dsp::kHauntedCavern)), "Decay: 15.67 s   Room: 0 dB");
    dsp::RoomParams silent = dsp::room(1);
    silent.gain = 0.0;
    EXPECT_EQ(roomDisplayText(silent), "Decay: 14.69 s   Room: -120 dB");

    EXPECT_STREQ(convolutionStatusText(false), "Procedural Ovix Core");
    EXPECT_STREQ(convolutionStatusText(true), "haunted_cavern_ir.wav Loaded");

    char line[128];
    formatGateLine(line, sizeof line, 50, 120, -35, 0, -50);
    EXPECT_STREQ(line, "Gate 50   Out -5.0 dB   Tone Lo +12.0  Mid -3.5  Hi +0.0");

    EXPECT_STREQ(isolationModeName(4), "Vocal");
    EXPECT_STREQ(isolationModeName(9), "Broadcast");
    EXPECT_STREQ(isolationModeName(-1), "Gate");
}

TEST(Texts, NamesRunRowForRowWithTheEffectsTables)
{
    EXPECT_STREQ(kRoomNames[static_cast<size_t>(dsp::kHauntedCavern)], "Haunted Cavern");
    EXPECT_STREQ(kRoomNames[14], "Theater");

    std::set<std::string> names(kMaskNames.begin(), kMaskNames.end());
    EXPECT_EQ(names.size(), kMaskNames.size());
    EXPECT_STREQ(kMaskNames[29], "Chipmunk");
    EXPECT_STREQ(kMaskNames[41], "Stranger");
    EXPECT_STREQ(kMaskListHeading, "Voice Changer & 42 Masks (18 Zephra + 24 Extended)");
    EXPECT_STREQ(kZephraMaskGroup, "Zephra Masks (18):");

    EXPECT_STREQ(kGlitchStyleTexts[12].name, "Glitch");
    EXPECT_STREQ(kGlitchStyleTexts[4].hint, "End with tape stop");
    EXPECT_STREQ(kGlitchStyleTexts[11].status, "Cut");
    // A closing style's button says how it ends; the others say what holding does.
    for (int style = 0; style < dsp::kGlitchStyleCount; ++style) {
        const char* hint = kGlitchStyleTexts[static_cast<size_t>(style)].hint;
        EXPECT_EQ(std::strncmp(hint, "End with", 8) == 0, dsp::kGlitchStyleEnds[static_cast<size_t>(style)]) << hint;
    }
}

} // namespace
} // namespace engine
