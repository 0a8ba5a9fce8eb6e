#include "platform/registry_conformance.h"
#include "platform/sim/memory_registry.h"

namespace {

INSTANTIATE_TEST_SUITE_P(
    Memory, RegistryConformance, ::testing::Values(&memoryRegistryEnv), [](const auto&) { return std::string("impl"); });

TEST(MemoryRegistry, FailingWritesChangeNothing)
{
    platform::sim::MemoryRegistry store;
    ASSERT_TRUE(store.writeDword(L"Software\\VantorOvix\\Settings", L"UiZoom", 100));
    store.setWritesFail(true);
    EXPECT_FALSE(store.writeDword(L"Software\\VantorOvix\\Settings", L"UiZoom", 200));
    EXPECT_FALSE(store.writeString(L"Software\\VantorOvix\\Settings", L"UiFont", L"Arial"));
    EXPECT_EQ(store.deleteKey(L"Software\\VantorOvix"), platform::DeleteResult::Failed);
    EXPECT_EQ(store.readDword(L"Software\\VantorOvix\\Settings", L"UiZoom"), 100u);
    EXPECT_EQ(store.valueCount(), 1u);
}

TEST(MemoryRegistry, ValuesAreListedInCreationOrderAsOnWindows)
{
    platform::sim::MemoryRegistry store;
    const std::wstring key = L"Software\\VantorOvix\\Equalizer\\Presets";
    ASSERT_TRUE(store.writeString(key, L"Bright", L"1"));
    ASSERT_TRUE(store.writeString(key, L"Alpha", L"2"));
    ASSERT_TRUE(store.writeString(key, L"bright", L"3")); // a rewrite keeps its place and first spelling
    const auto values = store.listValues(key);
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[0].name, L"Bright");
    EXPECT_EQ(values[1].name, L"Alpha");
}

TEST(MemoryRegistry, KeyPathsIgnoreCaseAndStraySeparators)
{
    platform::sim::MemoryRegistry store;
    ASSERT_TRUE(store.writeDword(L"Software\\VantorOvix\\Settings", L"UiTop", 1));
    EXPECT_EQ(store.readDword(L"software\\\\vantorovix\\SETTINGS\\", L"UiTop"), 1u);
    EXPECT_TRUE(store.keyExists(L"Software"));
    EXPECT_FALSE(store.keyExists(L"Soft"));
    EXPECT_EQ(store.deleteKey(L"SOFTWARE\\VantorOvix"), platform::DeleteResult::Deleted);
    EXPECT_TRUE(store.keyExists(L"Software"));
    EXPECT_EQ(store.valueCount(), 0u);
}

} // namespace
