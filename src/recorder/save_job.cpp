#include "recorder/save_job.h"

#include "platform/sample_rate.h"

namespace recorder {

SaveResult runSave(const SaveRequest& request, platform::Files& files, platform::Media* media)
{
    if (!request.sound)
        return {false, L"Save failed"};
    const media::TakeFormatEntry& format = media::takeFormat(request.format);
    std::wstring message;
    if (!media::encodeFile(files, media, request.path, *request.sound, platform::kSampleRate, format, message))
        return {false, message.empty() ? L"Save failed" : message};
    std::wstring text = request.successPrefix + media::displayName(request.path);
    if (request.withExtension)
        text += std::wstring(L".") + format.extension;
    return {true, std::move(text)};
}

} // namespace recorder
