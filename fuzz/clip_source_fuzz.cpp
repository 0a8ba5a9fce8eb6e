// Clip sources are typed or pasted by the user, and links come from web pages
// and setup files. The checks must take any text, agree with each other (a
// source is a link or a path, never both; only links need the helper), give
// the same verdict to a text and to its trimmed form, and explain every refusal.

#include "clip/messages.h"
#include "clip/source_check.h"
#include "platform/text.h"

#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // First byte 0: the rest is UTF-8 text; otherwise 16-bit code units as
    // the platform's wide strings carry them, lone surrogates included.
    std::wstring text;
    if (data[0] == 0) {
        text = platform::wideFromUtf8(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
    } else {
        for (size_t i = 1; i + 1 < size; i += 2)
            text.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
    }

    const std::wstring trimmed = clip::trimSource(text);
    if (clip::trimSource(trimmed) != trimmed)
        std::abort();
    const bool web = clip::isWebLink(trimmed), local = clip::isLocalPath(trimmed);
    if (web && local)
        std::abort();

    const clip::SourceCheck check = clip::validateSource(text);
    if (clip::needsHelper(text) && !(check.ok && check.isWeb))
        std::abort();
    const clip::SourceCheck again = clip::validateSource(trimmed);
    if (check.ok != again.ok || check.isWeb != again.isWeb || check.message != again.message)
        std::abort();
    if (check.ok != check.message.empty())
        std::abort();
    if (check.ok && (check.isWeb ? !web : !local))
        std::abort();
    if (!check.ok && check.message != clip::kEmptySource && check.message != clip::kBadWebLink
        && check.message != clip::kNotLinkOrPath)
        std::abort();
    return 0;
}
