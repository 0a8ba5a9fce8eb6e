// The checksum list comes from the web, the link from the user or a page and
// the helper's output from an outside program. Whatever they hold, a checksum
// found is 64 lower-case hex digits that the list contains, the link never
// leaves its quoted argument, and the failure text is one short line.

#include "clip/web_fetch.h"
#include "platform/text.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

bool unsafeInArgument(wchar_t c)
{
    return c < 33 || c == L'"' || c == L'<' || c == L'>' || c == L'\\' || c == 127;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

    if (const auto sum = clip::parseChecksumList(bytes)) {
        if (!clip::isSha256Hex(*sum)
            || std::any_of(sum->begin(), sum->end(), [](char c) { return c >= 'A' && c <= 'F'; }))
            std::abort();
        std::string lower(bytes);
        std::transform(lower.begin(), lower.end(), lower.begin(),
            [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
        if (lower.find(*sum) == std::string::npos)
            std::abort();
    }

    // Odd first byte: 16-bit code units as the platform's wide strings carry
    // them, lone surrogates included; even: UTF-8.
    std::wstring link;
    if (data[0] & 1) {
        for (size_t i = 0; i + 1 < bytes.size(); i += 2)
            link.push_back(
                static_cast<wchar_t>(static_cast<uint8_t>(bytes[i]) | (static_cast<uint8_t>(bytes[i + 1]) << 8)));
    } else {
        link = platform::wideFromUtf8(bytes);
    }
    const std::wstring encoded = clip::encodeHelperLink(link);
    if (std::any_of(encoded.begin(), encoded.end(), unsafeInArgument))
        std::abort();
    const size_t escaped = static_cast<size_t>(std::count_if(link.begin(), link.end(), unsafeInArgument));
    if (encoded.size() != link.size() + 2 * escaped)
        std::abort();

    const std::wstring_view selector = clip::kFormatSelectors[(data[0] >> 1) % clip::kFormatSelectors.size()];
    const std::wstring arguments
        = clip::helperArguments(selector, L"C:\\ProgramData\\VantorOvix\\tools", L"clip_7_1", link);
    if (std::count(arguments.begin(), arguments.end(), L'"') != 6 || !arguments.ends_with(L" -- \"" + encoded + L"\""))
        std::abort();

    const std::wstring message = clip::helperFailureMessage(bytes);
    if (message.empty() || message.size() > 120 || message.find(L'\n') != std::wstring::npos)
        std::abort();
    if (message.back() == L' ' || message.back() == L'\r')
        std::abort();
    return 0;
}
