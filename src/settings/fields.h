#pragma once
// The field tables: for each numeric field of the settings record its
// setup-file key, registry value name, kind, the range every load clamps it to,
// its default and the change counter it belongs to. Loaders, savers, resets and
// tests all work from these rows.

#include "settings/settings.h"

#include <optional>
#include <span>
#include <string_view>

namespace settings {

enum class FieldKind { Int, Flag };

struct FieldInfo {
    std::string_view key;           // setup-file key; empty for registry-only fields
    std::wstring_view registryName; // empty when not in the registry
    RegistryKey registryKey = RegistryKey::None;
    FieldKind kind = FieldKind::Int;
    int32_t minimum = 0;
    int32_t maximum = 0;
    int32_t defaultValue = 0;
    Counter counter = Counter::None;
    IntField* (*intSlot)(Settings&) = nullptr;
    FlagField* (*flagSlot)(Settings&) = nullptr;

    int32_t load(const Settings& settings) const;
};

// Audio, routing, interface and equalizer fields, in setup-file order; the
// seven eq_bands entries (key "eq_bands", registry Band0..Band6) come last.
std::span<const FieldInfo> recordFields();
// Fields kept only in the registry, with their record ranges.
std::span<const FieldInfo> registryOnlyFields();
const FieldInfo* findField(std::string_view key);
const FieldInfo* findRegistryField(std::wstring_view registryName);

// The clamp every loader applies: flags read any non-zero number as 1; eq_preset
// tops out at 9 + userEqPresets and never loads "Custom"; the rest are ranges.
int32_t clampField(const FieldInfo& field, int64_t value, int userEqPresets = 0);

// Allowed lengths of the rolling Last buffer, seconds.
inline constexpr int32_t kKeepLastLengths[]
    = {0, 5, 10, 15, 20, 30, 45, 60, 90, 120, 180, 240, 300, 360, 420, 480, 540, 600};
bool isAllowedKeepLast(int32_t seconds);

// Registry names of the ten action hotkeys, in table order.
extern const std::wstring_view kHotkeyNames[kHotkeyCount];
inline constexpr int kBuiltInEqPresets = 10;

} // namespace settings
