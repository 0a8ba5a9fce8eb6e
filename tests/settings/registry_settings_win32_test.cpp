// The registry store's cases on the registry that wine provides.

#include "platform/win32/win32_platform.h"
#include "settings/registry_settings_cases.h"

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
    env.root = L"Software\\VantorOvixSettingsTest\\" + std::to_wstring(GetCurrentProcessId());
    return env;
}

INSTANTIATE_TEST_SUITE_P(
    Win32, RegistrySettingsCases, ::testing::Values(&makeWin32Env), [](const auto&) { return std::string("impl"); });

} // namespace
