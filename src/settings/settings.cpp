#include "settings/settings.h"

#include "settings/fields.h"

#include <algorithm>

namespace settings {
namespace {

// The table row of a member of the record; null for WinSet, which has none.
const FieldInfo* rowOf(Settings& settings, const void* member)
{
    for (auto table : {recordFields(), registryOnlyFields()}) {
        for (const auto& row : table) {
            const void* slot = row.kind == FieldKind::Flag ? static_cast<const void*>(row.flagSlot(settings))
                                                           : static_cast<const void*>(row.intSlot(settings));
            if (slot == member)
                return &row;
        }
    }
    return nullptr;
}

} // namespace

Settings::Settings()
{
    // No other thread can see the record yet: plain writes, no counters.
    for (auto table : {recordFields(), registryOnlyFields()}) {
        for (const auto& field : table)
            write(field, field.defaultValue);
    }
}

void Settings::write(const FieldInfo& field, int32_t value) noexcept
{
    if (field.kind == FieldKind::Flag)
        field.flagSlot(*this)->store(static_cast<uint8_t>(value != 0));
    else
        field.intSlot(*this)->store(value);
}

bool Settings::set(const FieldInfo& field, int64_t value)
{
    int32_t clamped = clampField(field, value, static_cast<int>(userEqPresets_.size()));
    // The two values no file or store may load, but the interface may set.
    if ((&field == findField("eq_preset") && value == kCustomEqPreset)
        || (&field == findRegistryField(L"PresetTop") && value == kUnset))
        clamped = static_cast<int32_t>(value);
    if (field.load(*this) == clamped)
        return false;
    Transaction transaction(*this);
    write(field, clamped);
    countersMoved_[static_cast<size_t>(field.counter)] = true;
    keysChanged_[static_cast<size_t>(field.registryKey)] = true;
    return true;
}

bool Settings::set(IntField Settings::*field, int64_t value)
{
    const FieldInfo* row = rowOf(*this, &(this->*field));
    return row && set(*row, value);
}

bool Settings::set(FlagField Settings::*field, int64_t value)
{
    const FieldInfo* row = rowOf(*this, &(this->*field));
    return row && set(*row, value);
}

bool Settings::setEqBand(int band, int64_t gainDb)
{
    if (band < 0 || band >= kEqBandCount)
        return false;
    return set(recordFields()[recordFields().size() - kEqBandCount + static_cast<size_t>(band)], gainDb);
}

bool Settings::setHotkey(int index, int64_t code)
{
    if (index < 0 || index >= kHotkeyCount)
        return false;
    return set(*findRegistryField(kHotkeyNames[index]), code);
}

void Settings::setWindowPosition(bool isSet, int32_t x, int32_t y)
{
    Transaction transaction(*this);
    set(&Settings::WinX, isSet ? x : 0);
    set(&Settings::WinY, isSet ? y : 0);
    if (WinSet.load() != (isSet ? 1 : 0)) {
        WinSet.store(isSet ? 1 : 0);
        keysChanged_[static_cast<size_t>(RegistryKey::Settings)] = true;
    }
}

void Settings::touch(Counter counter)
{
    Transaction transaction(*this);
    countersMoved_[static_cast<size_t>(counter)] = true;
}

Settings::Transaction::Transaction(Settings& settings, bool requestSave)
    : settings_(settings), outerRequestSave_(settings.requestSave_)
{
    settings_.begin(requestSave);
}

Settings::Transaction::~Transaction()
{
    settings_.commit();
    settings_.requestSave_ = outerRequestSave_;
}

void Settings::begin(bool requestSave) noexcept
{
    if (depth_++ == 0) {
        // Odd: a reader that overlaps the writes below tries again.
        sequence_.store(sequence_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
        requestSave_ = requestSave;
    } else {
        requestSave_ = requestSave_ && requestSave;
    }
}

void Settings::commit() noexcept
{
    if (--depth_ > 0)
        return;
    // Counters last, inside the sequence: a block that sees a moved counter
    // also sees every field written before it.
    Revision* counters[] = {nullptr, &eqRevision, &toneRevision, &isolationRevision};
    for (size_t i = 0; i < countersMoved_.size(); ++i) {
        if (countersMoved_[i] && counters[i])
            counters[i]->store(counters[i]->load() + 1);
        countersMoved_[i] = false;
    }
    sequence_.store(sequence_.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    for (size_t i = 0; i < keysChanged_.size(); ++i) {
        if (keysChanged_[i] && requestSave_ && i != static_cast<size_t>(RegistryKey::None))
            saveRequests_[i].fetch_add(1, std::memory_order_relaxed);
        keysChanged_[i] = false;
    }
}

bool Settings::trySnapshot(Snapshot& into) const noexcept
{
    for (int attempt = 0; attempt < kSnapshotTries; ++attempt) {
        const uint32_t before = sequence_.load(std::memory_order_acquire);
        if (before & 1u)
            continue;
        Snapshot copy;
#define OVIX_COPY_FIELD(kind, name) copy.name = name.load();
        OVIX_SETTINGS_FIELDS(OVIX_COPY_FIELD)
#undef OVIX_COPY_FIELD
        for (size_t band = 0; band < eq_bands.size(); ++band)
            copy.eq_bands[band] = eq_bands[band].load();
        for (size_t key = 0; key < hotkeys.size(); ++key)
            copy.hotkeys[key] = hotkeys[key].load();
        copy.eqRevision = eqRevision.load();
        copy.toneRevision = toneRevision.load();
        copy.isolationRevision = isolationRevision.load();
        // The copy's loads stay before the second look at the sequence.
        std::atomic_thread_fence(std::memory_order_acquire);
        if (sequence_.load(std::memory_order_relaxed) == before) {
            into = copy;
            return true;
        }
    }
    return false;
}

Snapshot Settings::snapshot() const
{
    Snapshot copy;
    while (!trySnapshot(copy)) { }
    return copy;
}

uint32_t Settings::saveRequests(RegistryKey key) const
{
    return saveRequests_[static_cast<size_t>(key)].load(std::memory_order_relaxed);
}

void Settings::textChanged(RegistryKey key)
{
    Transaction transaction(*this);
    keysChanged_[static_cast<size_t>(key)] = true;
}

void Settings::setFont(std::wstring face)
{
    if (face == font_)
        return;
    font_ = std::move(face);
    textChanged(RegistryKey::Settings);
}

void Settings::setClipsFolder(std::wstring folder)
{
    if (folder == clipsFolder_)
        return;
    clipsFolder_ = std::move(folder);
    textChanged(RegistryKey::Settings);
}

void Settings::setLastSetup(std::wstring name)
{
    lastSetup_ = std::move(name);
}

void Settings::setCopyFolders(std::vector<std::wstring> folders)
{
    copyFolders_ = std::move(folders);
}

void Settings::setUserEqPresets(std::vector<EqPreset> presets)
{
    userEqPresets_ = std::move(presets);
}

std::wstring Settings::deviceName(DeviceKind kind) const
{
    std::lock_guard lock(deviceNameLock_);
    return kind == DeviceKind::Mic ? mic_ : spk_;
}

void Settings::setDeviceName(DeviceKind kind, const std::wstring& identifier)
{
    std::lock_guard lock(deviceNameLock_);
    (kind == DeviceKind::Mic ? mic_ : spk_) = identifier;
}

std::wstring Settings::cableText(CableText text) const
{
    std::lock_guard lock(deviceNameLock_);
    return text == CableText::Problem ? cableProblem_ : cableEndpointName_;
}

void Settings::setCableText(CableText text, const std::wstring& value)
{
    std::lock_guard lock(deviceNameLock_);
    (text == CableText::Problem ? cableProblem_ : cableEndpointName_) = value.substr(0, kTextCapacity - 1);
}

} // namespace settings
