#include "clip/clip_log.h"

#include "media/export.h"
#include "platform/text.h"

#include <cstdio>

namespace clip {

namespace {

constexpr size_t kMaxProgramDataLength = 259; // shorter than the classic path limit of 260

} // namespace

std::wstring toolsFolderFor(const std::wstring* programData)
{
    // An empty variable counts as unset: it would make the folder relative to the drive's root.
    const bool usable = programData && !programData->empty() && programData->size() <= kMaxProgramDataLength;
    return (usable ? *programData : std::wstring(L"C:\\ProgramData")) + L"\\VantorOvix\\tools";
}

ClipLog::ClipLog(platform::Files* files, std::wstring toolsFolder) : files_(files), folder_(std::move(toolsFolder))
{
    path_ = folder_ + L"\\clip.log";
}

void ClipLog::line(std::string_view text)
{
    if (!files_)
        return;
    const media::LocalTime now = media::localTimeNow();
    char stamp[16];
    std::snprintf(stamp, sizeof stamp, "%02u:%02u:%02u  ", now.hour % 100, now.minute % 100, now.second % 100);
    std::string entry = stamp;
    entry.append(text);
    entry.push_back('\n');
    if (!files_->isFolder(folder_))
        files_->createFolders(folder_);
    const auto* bytes = reinterpret_cast<const uint8_t*>(entry.data());
    files_->appendToLog(path_, {bytes, entry.size()}, kClipLogLimit);
}

void ClipLog::line(const std::wstring& text)
{
    line(platform::utf8FromWide(text));
}

} // namespace clip
