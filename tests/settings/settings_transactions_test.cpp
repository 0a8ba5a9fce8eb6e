// The one write path: setters, transactions and the engine's snapshot.

#include "dsp/mask_table.h"
#include "settings/eq_presets.h"
#include "settings/fields.h"
#include "engine/mask_choice.h"
#include "settings/settings.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace settings {
namespace {

TEST(SettingsSnapshot, AnEngineReaderNeverSeesOneMasksRatioWithAnothersSizeWhileTheInterfaceSwitchesMasks)
{
    Settings s;
    engine::chooseMask(s, 0);
    std::atomic<bool> done{false};
    int torn = 0;
    int coherent = 0;
    std::thread engineSide([&] {
        Snapshot copy;
        // Keep reading until the writer has finished and some copies were taken.
        while (!done.load(std::memory_order_acquire) || coherent < 100) {
            if (!s.trySnapshot(copy))
                continue;
            const dsp::MaskRow* row = dsp::findMask(copy.voice_mask);
            if (row && (copy.voice_ratio != row->ratio || copy.voice_size != row->size || copy.pitch_hz != 0))
                ++torn;
            else
                ++coherent;
        }
    });
    // Masks whose voices differ in ratio and in size, switched as fast as the interface can.
    for (int i = 0; i < 50000; ++i) {
        engine::chooseMask(s, (i * 7) % dsp::kMaskCount);
        // A slider between choices, as a user would move it.
        s.set(&Settings::pitch_hz, 0);
    }
    done.store(true, std::memory_order_release);
    engineSide.join();
    EXPECT_EQ(torn, 0);
    EXPECT_GE(coherent, 100);
}

TEST(SettingsTransactions, AGroupOfFieldsMovesEachCounterOnceAndTheSnapshotSeesItWhole)
{
    Settings s;
    const Snapshot before = s.snapshot();
    {
        Settings::Transaction transaction(s);
        s.set(&Settings::eq_level, 6);
        s.setEqBand(0, 5);
        s.set(&Settings::tone_lo, 30);
        s.set(&Settings::tone_hi, -30);
        s.touch(Counter::Tone);
        // Inside the transaction nothing has been counted yet.
        EXPECT_EQ(s.eqRevision, before.eqRevision);
        Snapshot unchanged = before;
        EXPECT_FALSE(s.trySnapshot(unchanged)) << "a reader gives up while a transaction is open";
    }
    const Snapshot after = s.snapshot();
    EXPECT_EQ(after.eqRevision, before.eqRevision + 1);
    EXPECT_EQ(after.toneRevision, before.toneRevision + 1);
    EXPECT_EQ(after.isolationRevision, before.isolationRevision);
    EXPECT_EQ(after.eq_level, 6);
    EXPECT_EQ(after.eq_bands[0], 5);
    EXPECT_EQ(after.tone_hi, -30);
}

TEST(SettingsSetters, ClampKeepTheInterfacesOwnValuesAndAskForASaveOfTheirRegistryKey)
{
    Settings s;
    EXPECT_TRUE(s.set(&Settings::voice_size, 500));
    EXPECT_EQ(s.voice_size, 150);
    // "Custom" and an unset row are the interface's to set, never a file's.
    EXPECT_TRUE(s.set(&Settings::eq_preset, Settings::kCustomEqPreset));
    EXPECT_EQ(s.eq_preset, -1);
    EXPECT_TRUE(s.set(&Settings::eq_preset, -7));
    EXPECT_EQ(s.eq_preset, 0);
    EXPECT_TRUE(s.set(&Settings::PresetTop, 3));
    EXPECT_TRUE(s.set(&Settings::PresetTop, Settings::kUnset));
    EXPECT_EQ(s.PresetTop, Settings::kUnset);

    const uint32_t settingsSaves = s.saveRequests(RegistryKey::Settings);
    const uint32_t equalizerSaves = s.saveRequests(RegistryKey::Equalizer);
    s.set(&Settings::preset, 3); // kept only in setups
    EXPECT_EQ(s.saveRequests(RegistryKey::Settings), settingsSaves);
    s.set(&Settings::UiZoom, 150);
    EXPECT_EQ(s.saveRequests(RegistryKey::Settings), settingsSaves + 1);
    EXPECT_TRUE(selectEqPreset(s, 4));
    EXPECT_EQ(s.saveRequests(RegistryKey::Equalizer), equalizerSaves + 1) << "one request for the whole preset";
    {
        Settings::Transaction load(s, false); // what a registry load writes is already stored
        s.set(&Settings::UiZoom, 90);
    }
    EXPECT_EQ(s.saveRequests(RegistryKey::Settings), settingsSaves + 1);
}

} // namespace
} // namespace settings
