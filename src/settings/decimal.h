#pragma once
// Numbers as the setup files and registry preset strings spell them: leading
// blanks, an optional sign, then decimal digits up to the first other
// character. Text without digits reads 0. Values beyond 32 bits saturate
// instead of wrapping, so a huge number still lands on the clamp's far end.

#include <cstdint>
#include <limits>
#include <string_view>

namespace settings {

template <typename Char> int64_t readDecimal(std::basic_string_view<Char> text)
{
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    size_t i = 0;
    // The blanks a C library's number reader skips.
    while (i < text.size()
        && (text[i] == Char(' ') || text[i] == Char('\t') || text[i] == Char('\n') || text[i] == Char('\v')
            || text[i] == Char('\f') || text[i] == Char('\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == Char('-') || text[i] == Char('+'))) {
        negative = text[i] == Char('-');
        ++i;
    }
    int64_t value = 0;
    for (; i < text.size() && text[i] >= Char('0') && text[i] <= Char('9'); ++i) {
        if (value < kLimit)
            value = value * 10 + (text[i] - Char('0'));
    }
    if (value > kLimit)
        value = kLimit;
    return negative ? -value : value;
}

inline int64_t readDecimal(std::string_view text)
{
    return readDecimal<char>(text);
}

inline int64_t readDecimal(std::wstring_view text)
{
    return readDecimal<wchar_t>(text);
}

} // namespace settings
