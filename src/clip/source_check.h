#pragma once
// What a clip source is: a web link (direct audio, or a page that needs the
// download helper) or a local drive path, and the message when it is neither.

#include <string>

namespace clip {

struct SourceCheck {
    bool ok = false;
    bool isWeb = false;
    std::wstring message; // the failure text when not ok
};

// The source as typed, white space trimmed by the caller.
SourceCheck validateSource(const std::wstring& text);
bool isWebLink(const std::wstring& text);
bool isLocalPath(const std::wstring& text);
// A valid web link that is not a direct audio file: it goes through the download helper.
bool needsHelper(const std::wstring& link);
// White space trimmed from both ends.
std::wstring trimSource(const std::wstring& text);

} // namespace clip
