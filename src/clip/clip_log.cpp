#include "clip/clip_log.h"

namespace clip {

std::wstring toolsFolderFor(const std::wstring*)
{
    return L"C:\\ProgramData\\VantorOvix\\tools";
}

ClipLog::ClipLog(platform::Files* files, std::wstring toolsFolder) : files_(files), folder_(std::move(toolsFolder))
{
    path_ = folder_ + L"\\clip.log";
}

void ClipLog::line(std::string_view) { }
void ClipLog::line(const std::wstring&) { }

} // namespace clip
