// The registry adapter against the registry that wine provides.

#include "platform/registry_conformance.h"
#include "platform/win32/win32_platform.h"

#include <windows.h>

namespace {

INSTANTIATE_TEST_SUITE_P(
    Win32, RegistryConformance, ::testing::Values(&win32RegistryEnv), [](const auto&) { return std::string("impl"); });

TEST(Win32Registry, TheLocalMachineHiveReadsTheSystemsOwnKeys)
{
    auto machine = platform::win32::makeRegistry(platform::Hive::LocalMachine);
    EXPECT_TRUE(machine->keyExists(L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion"));
    EXPECT_FALSE(machine->keyExists(L"SYSTEM\\CurrentControlSet\\Services\\NoSuchServiceForOvix"));
}

} // namespace
