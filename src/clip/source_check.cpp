#include "clip/source_check.h"

#include "clip/messages.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace clip {

namespace {

constexpr size_t kMaxLinkLength = 2048;
constexpr size_t kMinPathLength = 4; // "C:\a"
constexpr size_t kMaxPathLength = 1039;
constexpr unsigned kMaxPort = 65535;

constexpr std::wstring_view kHttp = L"http://";
constexpr std::wstring_view kHttps = L"https://";

// Links whose path names one of these go straight to the reader.
constexpr std::array<std::wstring_view, 13> kAudioExtensions{L".mp3", L".m4a", L".aac", L".wav", L".wma", L".flac",
    L".ogg", L".opus", L".mp4", L".webm", L".m4b", L".aif", L".aiff"};

// Unicode white space, so that a link pasted with a no-break space around it
// is trimmed the same way on every platform (iswspace differs between C libraries).
bool isSpace(wchar_t c)
{
    const auto u = static_cast<uint32_t>(c);
    return (u >= 0x09 && u <= 0x0D) || u == 0x20 || u == 0x85 || u == 0xA0 || u == 0x1680
        || (u >= 0x2000 && u <= 0x200A) || u == 0x2028 || u == 0x2029 || u == 0x202F || u == 0x205F || u == 0x3000;
}

bool isControl(wchar_t c)
{
    return static_cast<uint32_t>(c) <= 31 || c == 127;
}

bool isAsciiLetter(wchar_t c)
{
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}

// Only ASCII letters are folded: the texts compared (schemes, extensions) are ASCII.
std::wstring asciiLower(std::wstring_view text)
{
    std::wstring lower(text);
    for (wchar_t& c : lower)
        if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c - L'A' + L'a');
    return lower;
}

bool startsWithScheme(const std::wstring& lower)
{
    return lower.starts_with(kHttp) || lower.starts_with(kHttps);
}

bool isDigits(std::wstring_view text)
{
    return std::all_of(text.begin(), text.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

// What the platform's URL parser demands of the part after "scheme://":
// [user[:password]@]host[:port], the host not empty and the port a number
// the protocol can carry. The authority ends at the first "/", "?" or "#".
bool hasHost(std::wstring_view rest)
{
    std::wstring_view authority = rest.substr(0, rest.find_first_of(L"/?#"));
    if (const size_t at = authority.rfind(L'@'); at != std::wstring_view::npos)
        authority.remove_prefix(at + 1);
    std::wstring_view host = authority, port;
    if (authority.starts_with(L'[')) {
        // An IPv6 literal: its colons are not the port's.
        const size_t close = authority.find(L']');
        if (close == std::wstring_view::npos)
            return false;
        host = authority.substr(0, close + 1);
        std::wstring_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != L':')
                return false;
            port = after.substr(1);
        }
        if (host.size() <= 2)
            return false;
    } else if (const size_t colon = authority.rfind(L':'); colon != std::wstring_view::npos) {
        host = authority.substr(0, colon);
        port = authority.substr(colon + 1);
    }
    if (host.empty() || !isDigits(port) || port.size() > 5)
        return false;
    unsigned number = 0;
    for (wchar_t c : port)
        number = number * 10 + static_cast<unsigned>(c - L'0');
    return number <= kMaxPort;
}

} // namespace

std::wstring trimSource(const std::wstring& text)
{
    const auto first = std::find_if_not(text.begin(), text.end(), isSpace);
    const auto last = std::find_if_not(text.rbegin(), std::make_reverse_iterator(first), isSpace).base();
    return std::wstring(first, last);
}

bool isWebLink(const std::wstring& text)
{
    if (text.empty() || text.size() > kMaxLinkLength)
        return false;
    for (wchar_t c : text)
        if (isControl(c) || isSpace(c) || c == L'"' || c == L'<' || c == L'>' || c == L'\\')
            return false;
    const std::wstring lower = asciiLower(text);
    if (!startsWithScheme(lower))
        return false;
    const size_t schemeLength = lower.starts_with(kHttps) ? kHttps.size() : kHttp.size();
    return hasHost(std::wstring_view(text).substr(schemeLength));
}

bool isLocalPath(const std::wstring& text)
{
    if (text.size() < kMinPathLength || text.size() > kMaxPathLength)
        return false;
    for (wchar_t c : text)
        if (isControl(c) || c == L'"' || c == L'<' || c == L'>' || c == L'|')
            return false;
    if (text.starts_with(L"\\\\") || text.starts_with(L"//") || text.find(L"://") != std::wstring::npos)
        return false;
    return isAsciiLetter(text[0]) && text[1] == L':' && (text[2] == L'\\' || text[2] == L'/');
}

bool needsHelper(const std::wstring& link)
{
    if (!isWebLink(link))
        return false;
    std::wstring lower = asciiLower(link);
    lower.resize(std::min(lower.size(), lower.find_first_of(L"?#")));
    return std::none_of(kAudioExtensions.begin(), kAudioExtensions.end(),
        [&](std::wstring_view extension) { return lower.ends_with(extension); });
}

SourceCheck validateSource(const std::wstring& text)
{
    const std::wstring source = trimSource(text);
    SourceCheck check;
    if (source.empty()) {
        check.message = kEmptySource;
        return check;
    }
    if (startsWithScheme(asciiLower(source))) {
        check.isWeb = true;
        check.ok = isWebLink(source);
        if (!check.ok)
            check.message = kBadWebLink;
        return check;
    }
    check.ok = isLocalPath(source);
    if (!check.ok)
        check.message = kNotLinkOrPath;
    return check;
}

} // namespace clip
