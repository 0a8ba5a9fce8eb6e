#include "platform/registry_conformance.h"
#include "platform/win32/win32_platform.h"

#include <windows.h>

RegistryEnv win32RegistryEnv()
{
    RegistryEnv env;
    env.store = platform::win32::makeRegistry(platform::Hive::CurrentUser);
    env.plant = [](const std::wstring& key, const std::wstring& name, platform::ValueType type,
                    std::span<const uint8_t> data) {
        RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), name.c_str(), static_cast<DWORD>(type), data.data(),
            static_cast<DWORD>(data.size()));
    };
    // Tests run in parallel processes: each uses a key of its own.
    env.root = L"Software\\VantorOvixTest\\" + std::to_wstring(GetCurrentProcessId());
    return env;
}
