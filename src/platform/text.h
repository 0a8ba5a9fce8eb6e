#pragma once
// Conversions between the platform's wide strings (UTF-16 on Windows, UTF-32
// elsewhere) and UTF-8, the encoding of the files the program writes itself.
// Invalid input becomes U+FFFD rather than failing.

#include <string>
#include <string_view>

namespace platform {

std::string utf8FromWide(std::wstring_view wide);
std::wstring wideFromUtf8(std::string_view utf8);
// Case-insensitive comparison (letters folded by towlower), as face, preset and
// path names are compared.
bool equalsNoCase(std::wstring_view a, std::wstring_view b);

} // namespace platform
