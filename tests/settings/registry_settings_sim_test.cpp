// The registry store's cases on the in-memory store, and the throttled save on
// a manual clock.

#include "platform/sim/manual_clock.h"
#include "platform/sim/memory_registry.h"
#include "settings/registry_settings_cases.h"

namespace {

INSTANTIATE_TEST_SUITE_P(
    Memory, RegistrySettingsCases, ::testing::Values(&memoryRegistryEnv), [](const auto&) { return std::string("impl"); });

TEST(RegistrySettings, AKeyThatCannotBeWrittenMakesTheSaveANoOp)
{
    platform::sim::MemoryRegistry registry;
    settings::RegistrySettings store(registry);
    registry.setWritesFail(true);
    settings::Settings s;
    store.saveRegistrySettings(s);
    store.saveEqualizer(s);
    EXPECT_EQ(registry.valueCount(), 0u);
}

class Throttle : public ::testing::Test {
protected:
    // Saves are counted through a value that only a save writes.
    int saves()
    {
        const auto zoom = registry.readDword(store.settingsKey(), L"UiZoom");
        if (!zoom)
            return 0;
        registry.deleteValue(store.settingsKey(), L"UiZoom");
        return 1;
    }

    platform::sim::MemoryRegistry registry;
    platform::sim::ManualClock clock{1'000'000};
    settings::RegistrySettings store{registry};
    settings::Settings s;
    settings::RegistrySaveThrottle throttle{store, s, clock};
};

TEST_F(Throttle, ACallOutsideADragAndTheGapSavesAtOnce)
{
    throttle.saveRegistrySettingsSoon(false);
    EXPECT_EQ(saves(), 1);
    EXPECT_FALSE(throttle.pending());
    clock.advanceMillis(250);
    throttle.saveRegistrySettingsSoon(false);
    EXPECT_EQ(saves(), 1);
}

TEST_F(Throttle, ACallDuringADragOrWithin250msOnlyMarksASave)
{
    throttle.saveRegistrySettingsSoon(true);
    EXPECT_EQ(saves(), 0);
    EXPECT_TRUE(throttle.pending());

    settings::RegistrySaveThrottle other(store, s, clock);
    other.saveRegistrySettingsSoon(false);
    EXPECT_EQ(saves(), 1);
    clock.advanceMillis(249);
    other.saveRegistrySettingsSoon(false);
    EXPECT_EQ(saves(), 0);
    EXPECT_TRUE(other.pending());
}

TEST_F(Throttle, TheTickSavesAPendingSaveWithin501msAndAtMostThatOften)
{
    throttle.tick();
    EXPECT_EQ(saves(), 0) << "nothing pending";
    throttle.saveRegistrySettingsSoon(true);
    int64_t waited = 0;
    while (saves() == 0 && waited <= 501) {
        throttle.tick();
        if (!throttle.pending())
            break;
        clock.advanceMillis(16);
        waited += 16;
    }
    EXPECT_FALSE(throttle.pending());
    EXPECT_LE(waited, 501);

    // The next pending save waits out the 501 ms since that save.
    clock.advanceMillis(16);
    throttle.saveRegistrySettingsSoon(true);
    (void)saves();
    throttle.tick();
    EXPECT_TRUE(throttle.pending());
    clock.advanceMillis(485);
    throttle.tick();
    EXPECT_FALSE(throttle.pending());
}

TEST_F(Throttle, ClosingSavesUnconditionally)
{
    throttle.saveRegistrySettingsSoon(false);
    (void)saves();
    throttle.saveRegistrySettingsSoon(true);
    throttle.saveNow();
    EXPECT_EQ(saves(), 1);
    EXPECT_FALSE(throttle.pending());
    throttle.saveNow();
    EXPECT_EQ(saves(), 1);
}

} // namespace
