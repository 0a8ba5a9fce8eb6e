#include "ui/font_names.h"

#include "platform/text.h"

#include <algorithm>
#include <optional>

namespace ui {

namespace {

constexpr uint16_t kFamilyNameId = 1;
constexpr uint16_t kWindowsPlatform = 3;
constexpr uint16_t kUsEnglish = 1033;
constexpr size_t kMaxNameBytes = 512;
constexpr size_t kTableRecordBytes = 16;
constexpr size_t kNameRecordBytes = 12;

// Big-endian reads that give nothing when any byte lies past the end. Offsets
// are 64-bit so that sums of 32-bit file offsets cannot wrap.
class Reader {
public:
    explicit Reader(std::span<const uint8_t> bytes) : bytes_(bytes) { }

    bool holds(uint64_t offset, uint64_t length) const
    {
        return offset <= bytes_.size() && length <= bytes_.size() - offset;
    }
    std::optional<uint16_t> u16(uint64_t offset) const
    {
        if (!holds(offset, 2))
            return std::nullopt;
        return static_cast<uint16_t>(bytes_[offset] << 8 | bytes_[offset + 1]);
    }
    std::optional<uint32_t> u32(uint64_t offset) const
    {
        if (!holds(offset, 4))
            return std::nullopt;
        return static_cast<uint32_t>(bytes_[offset]) << 24 | static_cast<uint32_t>(bytes_[offset + 1]) << 16
            | static_cast<uint32_t>(bytes_[offset + 2]) << 8 | bytes_[offset + 3];
    }
    bool tagIs(uint64_t offset, const char (&tag)[5]) const
    {
        return holds(offset, 4) && std::equal(tag, tag + 4, bytes_.begin() + static_cast<ptrdiff_t>(offset));
    }

private:
    std::span<const uint8_t> bytes_;
};

bool usableEncoding(uint16_t encoding)
{
    // Symbol, Unicode BMP and Unicode full repertoire: all UTF-16BE.
    return encoding == 0 || encoding == 1 || encoding == 10;
}

// The name table's offset in the font at fontOffset, when it has one.
std::optional<uint64_t> nameTable(const Reader& data, uint64_t fontOffset)
{
    const auto tables = data.u16(fontOffset + 4);
    if (!tables)
        return std::nullopt;
    for (uint32_t i = 0; i < *tables; ++i) {
        const uint64_t record = fontOffset + 12 + uint64_t{i} * kTableRecordBytes;
        if (!data.holds(record, kTableRecordBytes))
            return std::nullopt;
        if (data.tagIs(record, "name"))
            return data.u32(record + 8);
    }
    return std::nullopt;
}

// A UTF-16BE string of at most 512 bytes with its zero code units left out;
// nothing when it runs past the end.
std::optional<std::wstring> nameString(const Reader& data, uint64_t offset, uint16_t length)
{
    const size_t bytes = std::min<size_t>(length, kMaxNameBytes);
    if (!data.holds(offset, bytes))
        return std::nullopt;
    std::wstring name;
    for (size_t at = 0; at + 1 < bytes; at += 2) {
        const uint16_t unit = *data.u16(offset + at);
        if (unit != 0)
            name.push_back(static_cast<wchar_t>(unit));
    }
    return name;
}

// The one family name of the font at fontOffset, or empty.
std::wstring familyName(const Reader& data, uint64_t fontOffset)
{
    const auto table = nameTable(data, fontOffset);
    if (!table)
        return {};
    const auto count = data.u16(*table + 2);
    const auto stringOffset = data.u16(*table + 4);
    if (!count || !stringOffset)
        return {};
    std::wstring best;
    int bestRank = 0;
    for (uint32_t i = 0; i < *count; ++i) {
        const uint64_t record = *table + 6 + uint64_t{i} * kNameRecordBytes;
        if (!data.holds(record, kNameRecordBytes))
            break;
        const uint16_t platformId = *data.u16(record);
        const uint16_t encodingId = *data.u16(record + 2);
        const uint16_t languageId = *data.u16(record + 4);
        const uint16_t nameId = *data.u16(record + 6);
        if (nameId != kFamilyNameId || platformId != kWindowsPlatform || !usableEncoding(encodingId))
            continue;
        const int rank = languageId == kUsEnglish ? 2 : 1;
        if (rank <= bestRank)
            continue;
        const auto name = nameString(data, *table + *stringOffset + *data.u16(record + 10), *data.u16(record + 8));
        // An empty string names nothing; a later record may still.
        if (!name || name->empty())
            continue;
        best = *name;
        bestRank = rank;
        if (bestRank == 2)
            break;
    }
    return best;
}

} // namespace

std::vector<std::wstring> readFamilyNames(std::span<const uint8_t> bytes)
{
    std::vector<std::wstring> names;
    if (bytes.size() < kMinFontFileBytes || bytes.size() > kMaxFontFileBytes)
        return names;
    const Reader data(bytes);
    std::vector<uint64_t> fonts;
    if (data.tagIs(0, "ttcf")) {
        const uint32_t count = std::min(*data.u32(8), kMaxCollectionFonts);
        for (uint32_t i = 0; i < count; ++i) {
            const auto offset = data.u32(12 + uint64_t{i} * 4);
            if (!offset)
                break;
            fonts.push_back(*offset);
        }
    } else {
        fonts.push_back(0);
    }
    for (const uint64_t font : fonts) {
        std::wstring name = familyName(data, font);
        if (name.empty())
            continue;
        const bool listed = std::any_of(
            names.begin(), names.end(), [&](const std::wstring& n) { return platform::equalsNoCase(n, name); });
        if (!listed)
            names.push_back(std::move(name));
    }
    return names;
}

} // namespace ui
