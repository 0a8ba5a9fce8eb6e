#include "settings/settings.h"

#include "settings/fields.h"

namespace settings {

Settings::Settings() : font(L"Tahoma")
{
    for (const auto& field : recordFields())
        field.store(*this, field.defaultValue);
    for (const auto& field : registryOnlyFields())
        field.store(*this, field.defaultValue);
}

void setDeviceName(Settings& settings, DeviceKind kind, const std::wstring& identifier)
{
    std::lock_guard lock(settings.deviceNameLock);
    (kind == DeviceKind::Mic ? settings.mic : settings.spk) = identifier;
}

std::wstring deviceName(const Settings& settings, DeviceKind kind)
{
    std::lock_guard lock(settings.deviceNameLock);
    return kind == DeviceKind::Mic ? settings.mic : settings.spk;
}

void setLockedText(Settings& settings, std::wstring Settings::*text, const std::wstring& value)
{
    std::lock_guard lock(settings.deviceNameLock);
    settings.*text = value.substr(0, kTextCapacity - 1);
}

std::wstring lockedText(const Settings& settings, std::wstring Settings::*text)
{
    std::lock_guard lock(settings.deviceNameLock);
    return settings.*text;
}

} // namespace settings
