// The registry adapter against the registry that wine provides.

#include "platform/registry_conformance.h"
#include "platform/win32/win32_platform.h"

#include <windows.h>

namespace {

RegistryEnv makeWin32Env()
{
    RegistryEnv env;
    env.store = platform::win32::makeRegistry(platform::Hive::CurrentUser);
    env.plant = [](const std::wstring& key, const std::wstring& name, platform::ValueType type,
                    std::span<const uint8_t> data) {
        RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), name.c_str(), static_cast<DWORD>(type), data.data(),
            static_cast<DWORD>(data.size()));
    };
    env.root = L"Software\\VantorOvixTest\\" + std::to_wstring(GetCurrentProcessId());
    return env;
}

INSTANTIATE_TEST_SUITE_P(
    Win32, RegistryConformance, ::testing::Values(&makeWin32Env), [](const auto&) { return std::string("impl"); });

TEST(Win32Registry, TheLocalMachineHiveReadsTheSystemsOwnKeys)
{
    auto machine = platform::win32::makeRegistry(platform::Hive::LocalMachine);
    EXPECT_TRUE(machine->keyExists(L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion"));
    EXPECT_FALSE(machine->keyExists(L"SYSTEM\\CurrentControlSet\\Services\\NoSuchServiceForOvix"));
}

} // namespace
