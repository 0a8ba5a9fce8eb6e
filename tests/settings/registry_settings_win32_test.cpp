// The registry store's cases on the registry that wine provides.

#include "platform/win32/win32_platform.h"
#include "settings/registry_settings_cases.h"

#include <windows.h>

namespace {

INSTANTIATE_TEST_SUITE_P(
    Win32, RegistrySettingsCases, ::testing::Values(&win32RegistryEnv), [](const auto&) { return std::string("impl"); });

} // namespace
