#include "platform/registry_values.h"

namespace platform {
namespace {

void appendUnits(std::vector<uint8_t>& out, const std::wstring& text)
{
    for (wchar_t wc : text) {
        auto c = static_cast<uint32_t>(wc);
        if (sizeof(wchar_t) > 2 && c >= 0x10000) {
            c -= 0x10000;
            const uint32_t hi = 0xD800 + (c >> 10), lo = 0xDC00 + (c & 0x3FF);
            out.insert(out.end(),
                {static_cast<uint8_t>(hi), static_cast<uint8_t>(hi >> 8), static_cast<uint8_t>(lo),
                    static_cast<uint8_t>(lo >> 8)});
        } else {
            out.push_back(static_cast<uint8_t>(c));
            out.push_back(static_cast<uint8_t>(c >> 8));
        }
    }
    out.push_back(0);
    out.push_back(0);
}

std::vector<uint16_t> unitsOf(std::span<const uint8_t> bytes)
{
    std::vector<uint16_t> units(bytes.size() / 2);
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return units;
}

std::wstring wideOf(const uint16_t* units, size_t count)
{
    std::wstring out;
    out.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        uint32_t c = units[i];
        if (sizeof(wchar_t) > 2 && c >= 0xD800 && c <= 0xDBFF && i + 1 < count && units[i + 1] >= 0xDC00
            && units[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00u);
            ++i;
        }
        out += static_cast<wchar_t>(c);
    }
    return out;
}

} // namespace

std::vector<uint8_t> dwordBytes(uint32_t value)
{
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
        static_cast<uint8_t>(value >> 24)};
}

std::vector<uint8_t> stringBytes(const std::wstring& text)
{
    std::vector<uint8_t> out;
    appendUnits(out, text);
    return out;
}

std::vector<uint8_t> multiStringBytes(const std::vector<std::wstring>& values)
{
    std::vector<uint8_t> out;
    for (const auto& value : values)
        appendUnits(out, value);
    out.push_back(0);
    out.push_back(0);
    return out;
}

std::optional<std::wstring> stringFromBytes(std::span<const uint8_t> bytes, size_t maxChars)
{
    if (bytes.size() > (maxChars + 1) * 2)
        return std::nullopt;
    const auto units = unitsOf(bytes);
    size_t length = 0;
    while (length < units.size() && units[length] != 0)
        ++length;
    if (length > maxChars)
        return std::nullopt;
    return wideOf(units.data(), length);
}

std::vector<std::wstring> multiStringFromBytes(std::span<const uint8_t> bytes)
{
    const auto units = unitsOf(bytes);
    std::vector<std::wstring> out;
    size_t start = 0;
    while (start < units.size()) {
        size_t end = start;
        while (end < units.size() && units[end] != 0)
            ++end;
        if (end == start)
            break;
        out.push_back(wideOf(units.data() + start, end - start));
        start = end + 1;
    }
    return out;
}

} // namespace platform
