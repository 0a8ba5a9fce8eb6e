#pragma once
// Minimal TrueType images made here for tests and fuzz seeds: a font is a
// table directory with a small "post" table and a "name" table holding the
// given records; a collection is a "ttcf" header followed by such fonts.
// Nothing else of a real font is there.

#include <cstdint>
#include <string>
#include <vector>

namespace test_support {

struct FontNameRecord {
    std::wstring text;
    uint16_t language = 1033;
    uint16_t platform = 3;
    uint16_t encoding = 1;
    uint16_t nameId = 1;
};

inline void putU16(std::vector<uint8_t>& out, uint32_t value)
{
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

inline void putU32(std::vector<uint8_t>& out, uint32_t value)
{
    putU16(out, value >> 16);
    putU16(out, value & 0xFFFF);
}

inline void putTag(std::vector<uint8_t>& out, const char (&tag)[5])
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(tag[i]));
}

inline std::vector<uint8_t> nameTable(const std::vector<FontNameRecord>& records)
{
    std::vector<uint8_t> strings;
    std::vector<uint8_t> table;
    putU16(table, 0);
    putU16(table, static_cast<uint32_t>(records.size()));
    putU16(table, static_cast<uint32_t>(6 + 12 * records.size()));
    for (const FontNameRecord& record : records) {
        putU16(table, record.platform);
        putU16(table, record.encoding);
        putU16(table, record.language);
        putU16(table, record.nameId);
        putU16(table, static_cast<uint32_t>(record.text.size() * 2));
        putU16(table, static_cast<uint32_t>(strings.size()));
        for (const wchar_t unit : record.text)
            putU16(strings, static_cast<uint32_t>(unit));
    }
    table.insert(table.end(), strings.begin(), strings.end());
    return table;
}

// One font whose first byte will sit at base in the file (table offsets count
// from the start of the file).
inline std::vector<uint8_t> fontAt(uint32_t base, const std::vector<FontNameRecord>& records)
{
    const std::vector<uint8_t> post(32, 0);
    const std::vector<uint8_t> name = nameTable(records);
    std::vector<uint8_t> out;
    putU32(out, 0x00010000);
    putU16(out, 2);  // numTables
    putU16(out, 32); // searchRange
    putU16(out, 1);  // entrySelector
    putU16(out, 0);  // rangeShift
    const uint32_t postOffset = base + 12 + 2 * 16;
    const uint32_t nameOffset = postOffset + static_cast<uint32_t>(post.size());
    putTag(out, "post");
    putU32(out, 0);
    putU32(out, postOffset);
    putU32(out, static_cast<uint32_t>(post.size()));
    putTag(out, "name");
    putU32(out, 0);
    putU32(out, nameOffset);
    putU32(out, static_cast<uint32_t>(name.size()));
    out.insert(out.end(), post.begin(), post.end());
    out.insert(out.end(), name.begin(), name.end());
    return out;
}

inline std::vector<uint8_t> fontImage(const std::vector<FontNameRecord>& records)
{
    return fontAt(0, records);
}

// A collection of the given fonts that declares declaredFonts of them
// (0: as many as there are).
inline std::vector<uint8_t> collectionImage(
    const std::vector<std::vector<FontNameRecord>>& fonts, uint32_t declaredFonts = 0)
{
    std::vector<uint8_t> out;
    putTag(out, "ttcf");
    putU32(out, 0x00010000);
    putU32(out, declaredFonts != 0 ? declaredFonts : static_cast<uint32_t>(fonts.size()));
    const size_t directory = out.size();
    out.resize(out.size() + 4 * fonts.size());
    for (size_t i = 0; i < fonts.size(); ++i) {
        const auto base = static_cast<uint32_t>(out.size());
        std::vector<uint8_t> offset;
        putU32(offset, base);
        std::copy(offset.begin(), offset.end(), out.begin() + static_cast<ptrdiff_t>(directory + 4 * i));
        const std::vector<uint8_t> font = fontAt(base, fonts[i]);
        out.insert(out.end(), font.begin(), font.end());
    }
    return out;
}

} // namespace test_support
