#pragma once
// How typed registry data is laid out in bytes (UTF-16 text, little-endian
// numbers), shared by the in-memory store and the size rules of every store.

#include "platform/registry_store.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace platform {

std::vector<uint8_t> dwordBytes(uint32_t value);
// The text's UTF-16 code units followed by one terminator.
std::vector<uint8_t> stringBytes(const std::wstring& text);
// Each entry followed by its terminator, then the terminator of the list.
std::vector<uint8_t> multiStringBytes(const std::vector<std::wstring>& values);

// The text before the first terminator, when the data fits maxChars characters
// plus the terminator; nullopt otherwise.
std::optional<std::wstring> stringFromBytes(std::span<const uint8_t> bytes, size_t maxChars);
// Entries up to the empty one that ends the list (or the end of the data).
std::vector<std::wstring> multiStringFromBytes(std::span<const uint8_t> bytes);

} // namespace platform
