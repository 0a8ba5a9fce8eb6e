#pragma once
// The family names inside a TrueType or OpenType font file or collection,
// read from the file's name table. Font files come from the user, so every
// read is checked against the data: a record that points past the end gives
// nothing, never a read beyond the bytes.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace ui {

inline constexpr size_t kMinFontFileBytes = 12;
inline constexpr size_t kMaxFontFileBytes = 0x3FFFFFF; // 64 MiB less one byte
// A collection is read for at most this many fonts, whatever it declares.
inline constexpr uint32_t kMaxCollectionFonts = 64;

// The family names of a whole font file, at most one per font of a
// collection, each listed once (ignoring case), in the order of the fonts.
// Only Windows-platform family records (Unicode encodings 0, 1 and 10) count;
// US English wins over any other language. Data outside 12 bytes to 64 MiB
// gives no names.
std::vector<std::wstring> readFamilyNames(std::span<const uint8_t> bytes);

} // namespace ui
