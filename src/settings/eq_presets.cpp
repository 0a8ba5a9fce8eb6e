#include "settings/eq_presets.h"

#include "platform/text.h"
#include "settings/decimal.h"
#include "settings/fields.h"

#include <algorithm>

namespace settings {

const EqPreset kBuiltInEqPresetTable[10] = {
    {L"Flat", {0, 0, 0, 0, 0, 0, 0}},
    {L"Bass", {8, 6, 3, 0, 0, 0, 0}},
    {L"Treble", {0, 0, 0, 0, 3, 6, 8}},
    {L"Vocal", {-2, -1, 2, 4, 4, 2, 0}},
    {L"Rock", {5, 3, -1, -2, 1, 4, 6}},
    {L"Pop", {-1, 2, 4, 4, 2, 0, -1}},
    {L"Jazz", {4, 3, 1, 2, -1, 2, 4}},
    {L"Classical", {4, 3, 0, 0, 0, 2, 4}},
    {L"Dance", {7, 5, 1, 0, 2, 5, 6}},
    {L"Acoustic", {4, 3, 1, 1, 2, 3, 3}},
};
static_assert(std::size(kBuiltInEqPresetTable) == kBuiltInEqPresets);

namespace {

template <typename Char> EqGains parseGains(std::basic_string_view<Char> text)
{
    EqGains gains{};
    size_t start = 0;
    for (int band = 0; band < kEqBandCount; ++band) {
        const auto rest = text.substr(start);
        gains[band] = static_cast<int32_t>(std::clamp<int64_t>(readDecimal<Char>(rest), -12, 12));
        const size_t comma = rest.find(Char(','));
        if (comma == std::basic_string_view<Char>::npos)
            break;
        start += comma + 1;
    }
    return gains;
}

} // namespace

EqGains parseEqGains(std::wstring_view text)
{
    return parseGains<wchar_t>(text);
}

EqGains parseEqGains(std::string_view text)
{
    return parseGains<char>(text);
}

std::wstring formatEqGains(const EqGains& gains)
{
    std::wstring text;
    for (int band = 0; band < kEqBandCount; ++band) {
        if (band > 0)
            text += L',';
        text += std::to_wstring(gains[band]);
    }
    return text;
}

std::wstring eqPresetName(const Settings& settings, int index)
{
    if (index >= 0 && index < kBuiltInEqPresets)
        return kBuiltInEqPresetTable[index].name;
    const int user = index - kBuiltInEqPresets;
    if (user >= 0 && user < static_cast<int>(settings.userEqPresets().size()))
        return settings.userEqPresets()[user].name;
    return {};
}

int findEqPreset(const Settings& settings, std::wstring_view name)
{
    const int count = kBuiltInEqPresets + static_cast<int>(settings.userEqPresets().size());
    for (int index = 0; index < count; ++index) {
        if (platform::equalsNoCase(eqPresetName(settings, index), name))
            return index;
    }
    return -1;
}

bool selectEqPreset(Settings& settings, int index)
{
    const int user = index - kBuiltInEqPresets;
    if (index < 0 || user >= static_cast<int>(settings.userEqPresets().size()))
        return false;
    const EqGains& gains = user < 0 ? kBuiltInEqPresetTable[index].gains : settings.userEqPresets()[user].gains;
    // One transaction: the engine never builds the equalizer from the new
    // preset's first bands and the old one's last.
    Settings::Transaction transaction(settings);
    settings.set(&Settings::eq_preset, index);
    for (int band = 0; band < kEqBandCount; ++band)
        settings.setEqBand(band, gains[band]);
    settings.touch(Counter::Eq);
    return true;
}

} // namespace settings
