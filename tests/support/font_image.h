#pragma once
// Minimal TrueType images made here for tests and fuzz seeds: a font is a
// table directory with a small "post" table and a "name" table holding the
// given records; a collection is a "ttcf" header followed by such fonts.
// Nothing else of a real font is there, so no system will load them; for
// that, completeFontImage builds a whole font with two empty glyphs.

#include <cstdint>
#include <algorithm>
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

inline void pad4(std::vector<uint8_t>& out)
{
    while (out.size() % 4 != 0)
        out.push_back(0);
}

inline uint32_t tableChecksum(const std::vector<uint8_t>& bytes, size_t from, size_t length)
{
    uint32_t sum = 0;
    for (size_t i = 0; i < length; i += 4) {
        uint32_t word = 0;
        for (size_t k = 0; k < 4; ++k)
            word = (word << 8) | (i + k < length ? bytes[from + i + k] : 0u);
        sum += word;
    }
    return sum;
}

// A whole TrueType font that a system font loader takes: every required
// table, glyph 0 (.notdef) and glyph 1 (space, mapped from U+0020), both
// without outlines, the family and its regular style named in English for
// Windows, and correct checksums.
inline std::vector<uint8_t> completeFontImage(const std::wstring& family)
{
    struct Table {
        char tag[5];
        std::vector<uint8_t> bytes;
    };
    constexpr int kUnitsPerEm = 1000;
    constexpr int kAdvance = 500;
    constexpr int kAscent = 800;
    constexpr int kDescent = -200;
    // Signed 16-bit fields in two's complement.
    const auto s16 = [](int value) { return static_cast<uint32_t>(value) & 0xFFFFu; };

    std::vector<uint8_t> os2;
    putU16(os2, 4);        // version
    putU16(os2, kAdvance); // xAvgCharWidth
    putU16(os2, 400);      // usWeightClass
    putU16(os2, 5);        // usWidthClass
    putU16(os2, 0);        // fsType: installable
    for (const int value : {650, 600, 0, 75, 650, 600, 0, 350, 50, 300}) // sub/superscript, strikeout
        putU16(os2, s16(value));
    putU16(os2, 0);               // sFamilyClass
    os2.resize(os2.size() + 10);  // panose
    putU32(os2, 1);               // ulUnicodeRange1: Basic Latin
    putU32(os2, 0);
    putU32(os2, 0);
    putU32(os2, 0);
    putTag(os2, "NONE");          // achVendID
    putU16(os2, 0x0040);          // fsSelection: regular
    putU16(os2, 0x20);            // usFirstCharIndex
    putU16(os2, 0x20);            // usLastCharIndex
    putU16(os2, s16(kAscent));    // sTypoAscender
    putU16(os2, s16(kDescent));   // sTypoDescender
    putU16(os2, 0);               // sTypoLineGap
    putU16(os2, s16(kAscent));    // usWinAscent
    putU16(os2, s16(-kDescent));  // usWinDescent
    putU32(os2, 1);               // ulCodePageRange1: Latin 1
    putU32(os2, 0);
    putU16(os2, 500);             // sxHeight
    putU16(os2, 700);             // sCapHeight
    putU16(os2, 0);               // usDefaultChar
    putU16(os2, 0x20);            // usBreakChar
    putU16(os2, 0);               // usMaxContext

    // Format 4: U+0020 to glyph 1, then the closing segment.
    std::vector<uint8_t> cmap;
    putU16(cmap, 0);
    putU16(cmap, 1);
    putU16(cmap, 3);
    putU16(cmap, 1);
    putU32(cmap, 12);
    for (const uint32_t value : {4u, 32u, 0u, 4u, 4u, 1u, 0u, 0x20u, 0xFFFFu, 0u, 0x20u, 0xFFFFu,
             s16(1 - 0x20), 1u, 0u, 0u})
        putU16(cmap, value);

    const std::vector<uint8_t> glyf(4, 0); // both glyphs empty: loca gives them no bytes
    std::vector<uint8_t> loca;
    for (int i = 0; i < 3; ++i)
        putU16(loca, 0);

    std::vector<uint8_t> head;
    putU32(head, 0x00010000);
    putU32(head, 0x00010000); // fontRevision
    putU32(head, 0);          // checkSumAdjustment, set last
    putU32(head, 0x5F0F3CF5);
    putU16(head, 0x000B);
    putU16(head, kUnitsPerEm);
    head.resize(head.size() + 16); // created, modified
    for (const int value : {0, kDescent, kAdvance, kAscent}) // xMin yMin xMax yMax
        putU16(head, s16(value));
    putU16(head, 0); // macStyle
    putU16(head, 8); // lowestRecPPEM
    putU16(head, 2); // fontDirectionHint
    putU16(head, 0); // indexToLocFormat: short
    putU16(head, 0); // glyphDataFormat

    std::vector<uint8_t> hhea;
    putU32(hhea, 0x00010000);
    // ascender, descender, lineGap, advanceWidthMax, min bearings, xMaxExtent,
    // caret slope and offset, reserved, metricDataFormat
    for (const int value : {kAscent, kDescent, 0, kAdvance, 0, 0, kAdvance, 1, 0, 0, 0, 0, 0, 0, 0})
        putU16(hhea, s16(value));
    putU16(hhea, 2); // numberOfHMetrics

    std::vector<uint8_t> hmtx;
    for (int i = 0; i < 2; ++i) {
        putU16(hmtx, kAdvance);
        putU16(hmtx, 0);
    }

    std::vector<uint8_t> maxp;
    putU32(maxp, 0x00010000);
    putU16(maxp, 2); // numGlyphs
    for (const uint32_t value : {0u, 0u, 0u, 0u, 2u, 0u, 0u, 0u, 0u, 0u, 0u, 0u, 0u})
        putU16(maxp, value);

    const std::wstring style = L"Regular";
    const std::vector<uint8_t> name = nameTable({{family, 1033, 3, 1, 1}, {style, 1033, 3, 1, 2},
        {family + L" " + style, 1033, 3, 1, 3}, {family, 1033, 3, 1, 4}, {L"OvixTestFace-Regular", 1033, 3, 1, 6}});

    std::vector<uint8_t> post;
    putU32(post, 0x00030000); // no glyph names
    putU32(post, 0);          // italicAngle
    putU16(post, s16(-100));  // underlinePosition
    putU16(post, 50);         // underlineThickness
    post.resize(32);

    // In tag order, as the directory's binary search wants.
    std::vector<Table> tables = {{"OS/2", os2}, {"cmap", cmap}, {"glyf", glyf}, {"head", head}, {"hhea", hhea},
        {"hmtx", hmtx}, {"loca", loca}, {"maxp", maxp}, {"name", name}, {"post", post}};
    std::vector<uint8_t> out;
    putU32(out, 0x00010000);
    putU16(out, static_cast<uint32_t>(tables.size()));
    putU16(out, 128); // searchRange: 16 * 8
    putU16(out, 3);   // entrySelector
    putU16(out, static_cast<uint32_t>(tables.size() * 16 - 128));
    const size_t directory = out.size();
    out.resize(directory + 16 * tables.size());
    size_t headOffset = 0;
    for (size_t i = 0; i < tables.size(); ++i) {
        const size_t offset = out.size();
        if (std::string(tables[i].tag) == "head")
            headOffset = offset;
        out.insert(out.end(), tables[i].bytes.begin(), tables[i].bytes.end());
        pad4(out);
        std::vector<uint8_t> entry;
        putTag(entry, tables[i].tag);
        putU32(entry, tableChecksum(out, offset, tables[i].bytes.size()));
        putU32(entry, static_cast<uint32_t>(offset));
        putU32(entry, static_cast<uint32_t>(tables[i].bytes.size()));
        std::copy(entry.begin(), entry.end(), out.begin() + static_cast<ptrdiff_t>(directory + 16 * i));
    }
    std::vector<uint8_t> adjustment;
    putU32(adjustment, 0xB1B0AFBA - tableChecksum(out, 0, out.size()));
    std::copy(adjustment.begin(), adjustment.end(), out.begin() + static_cast<ptrdiff_t>(headOffset + 8));
    return out;
}

} // namespace test_support
