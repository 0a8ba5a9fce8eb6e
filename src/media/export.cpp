#include "media/export.h"

namespace media {

const TakeFormatEntry& takeFormat(int32_t)
{
    static const TakeFormatEntry kWav{L"WAV sound (*.wav)", L"wav", true, platform::EncoderFormat::Mp3, 0};
    return kWav;
}
int formatFromPath(const std::wstring&)
{
    return -1;
}
std::wstring displayName(const std::wstring& path)
{
    return path;
}
std::wstring recordingsFolder(platform::Files&, const std::wstring& clipsFolder, platform::KnownFolders*,
    const std::wstring*, const std::wstring&)
{
    return clipsFolder;
}
LocalTime localTimeNow()
{
    return {};
}
std::wstring makeFileName(const std::wstring&, const std::wstring&, const LocalTime&, const TakeFormatEntry&)
{
    return {};
}
std::wstring savingName(const std::wstring& target)
{
    return target + L".saving";
}
bool encodeFile(platform::Files&, platform::Media*, const std::wstring&, const clip::Sound&, uint32_t,
    const TakeFormatEntry&, std::wstring& message)
{
    message = L"The file could not be written there";
    return false;
}

} // namespace media
