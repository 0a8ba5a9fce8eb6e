#include "clip/source_check.h"

namespace clip {

SourceCheck validateSource(const std::wstring&)
{
    return {};
}
bool isWebLink(const std::wstring&)
{
    return false;
}
bool isLocalPath(const std::wstring&)
{
    return false;
}
bool needsHelper(const std::wstring&)
{
    return false;
}
std::wstring trimSource(const std::wstring& text)
{
    return text;
}

} // namespace clip
