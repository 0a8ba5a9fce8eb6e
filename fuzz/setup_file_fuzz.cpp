// Setup files and registry preset strings come from outside the program: any
// bytes. The first byte picks the parser; the rest is its input. A setup file
// may set any field, but every field must stay inside its range, and what the
// program writes back must read back to the same record.

#include "platform/sim/memory_files.h"
#include "platform/sim/memory_registry.h"
#include "settings/eq_presets.h"
#include "settings/fields.h"
#include "settings/setup_files.h"

#include <cstdlib>
#include <string>

namespace {

void checkRanges(const settings::Settings& s)
{
    for (auto table : {settings::recordFields(), settings::registryOnlyFields()}) {
        for (const auto& field : table) {
            const int32_t value = field.load(s);
            const int32_t top
                = field.key == "eq_preset" ? 9 + static_cast<int32_t>(s.userEqPresets().size()) : field.maximum;
            if (field.registryKey != settings::RegistryKey::None && (value < field.minimum || value > top)
                && !(field.registryName == L"PresetTop" && value == settings::Settings::kUnset))
                std::abort();
        }
    }
}

void fuzzSetupFile(std::span<const uint8_t> bytes)
{
    platform::sim::MemoryFiles files;
    platform::sim::MemoryRegistry registry;
    settings::RegistrySettings store(registry);
    settings::Settings s;
    settings::Setups setups(files, store, s, L"C:\\AppData\\VantorOvix");
    const settings::SetupEnvironment environment{{L"{mic}"}, {L"{spk}"}, {L"Tahoma", L"Verdana"}};
    const std::wstring path = setups.setupPath(L"Fuzz");
    files.put(path, {bytes.begin(), bytes.end()});
    if (!setups.applySetupFile(path, environment))
        std::abort();
    checkRanges(s);

    // What the program writes, it reads back unchanged (device names that
    // hold a line break are the exception: they are written as they are).
    if (!setups.saveSetupFile(path))
        std::abort();
    settings::Settings again;
    setDeviceName(again, settings::DeviceKind::Mic, deviceName(s, settings::DeviceKind::Mic));
    setDeviceName(again, settings::DeviceKind::Spk, deviceName(s, settings::DeviceKind::Spk));
    settings::applySetupText(*files.readAll(path), again, environment);
    for (const auto& field : settings::recordFields()) {
        if (field.load(again) != field.load(s) && field.key != "eq_preset")
            std::abort();
    }

    // And the registry round trip keeps every value.
    store.saveRegistrySettings(s);
    store.saveEqualizer(s);
    settings::Settings loaded;
    store.loadEqualizer(loaded);
    store.loadRegistrySettings(loaded, environment.installedFaces);
    checkRanges(loaded);
}

void fuzzEqGains(std::span<const uint8_t> bytes)
{
    const std::string_view narrow(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::wstring wide;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        wide += static_cast<wchar_t>(bytes[i] | (bytes[i + 1] << 8));
    for (const auto& gains : {settings::parseEqGains(narrow), settings::parseEqGains(std::wstring_view(wide))}) {
        for (int32_t gain : gains) {
            if (gain < -12 || gain > 12)
                std::abort();
        }
        if (settings::parseEqGains(std::wstring_view(settings::formatEqGains(gains))) != gains)
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const std::span<const uint8_t> rest(data + 1, size - 1);
    if (data[0] & 1)
        fuzzEqGains(rest);
    else
        fuzzSetupFile(rest);
    return 0;
}
