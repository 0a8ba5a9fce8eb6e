#include "clip/web_fetch.h"

namespace clip {

WebFetch::WebFetch(WebFetchServices services) : services_(std::move(services)) { }

bool WebFetch::fetchPageSound(const std::wstring&, uint32_t, PageDecode&, std::wstring&)
{
    return false;
}

} // namespace clip
