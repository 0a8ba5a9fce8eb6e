#include "win32/media_test_support.h"

#include "clip/reader.h"
#include "media/format_converter.h"
#include "platform/win32/win32_platform.h"

#include <windows.h>

#include <mfapi.h>

#include <cstdio>
#include <cstdlib>

namespace ovix_media_test {

MediaSession::MediaSession() : media(platform::win32::makeMedia())
{
    com = media->enterWorkerThread();
    started = SUCCEEDED(MFStartup(MF_VERSION, MFSTARTUP_FULL));
}

MediaSession::~MediaSession()
{
    if (started)
        MFShutdown();
}

void endProcess(int code)
{
    std::fflush(stdout);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
    std::_Exit(code); // not reached
}

Decoded decode(platform::Media& media, const std::wstring& path, platform::ReaderUse use, std::optional<int64_t> seekTo)
{
    Decoded decoded;
    clip::OpenedReader opened = clip::openReader(media, path, use);
    if (!opened.reader) {
        char text[64];
        std::snprintf(text, sizeof text, "cannot open (failure %d, code 0x%08lx)", static_cast<int>(opened.failure),
            static_cast<unsigned long>(opened.code));
        decoded.failure = text;
        return decoded;
    }
    decoded.readerConverts = opened.layout.readerConverts;
    decoded.duration = opened.reader->duration();
    if (seekTo && !opened.reader->setPosition(*seekTo)) {
        decoded.failure = "seek refused";
        return decoded;
    }
    media::FormatConverter converter(opened.layout);
    constexpr size_t kMaxFloats = 2 * 48000 * 200; // a runaway reader stops here
    while (decoded.stereo.size() < kMaxFloats) {
        platform::MediaSample sample;
        platform::MediaCode code = platform::kMediaOk;
        const platform::ReadStatus status = opened.reader->read(sample, code);
        if (status == platform::ReadStatus::EndOfStream) {
            decoded.ok = true;
            break;
        }
        if (status == platform::ReadStatus::Error) {
            char text[48];
            std::snprintf(text, sizeof text, "read failed 0x%08lx", static_cast<unsigned long>(code));
            decoded.failure = text;
            break;
        }
        if (status != platform::ReadStatus::Data)
            continue;
        if (decoded.firstTimestamp < 0)
            decoded.firstTimestamp = sample.timestamp;
        converter.convert(sample.bytes, decoded.stereo);
    }
    if (decoded.ok && decoded.stereo.empty()) {
        decoded.ok = false;
        decoded.failure = "no sound";
    }
    return decoded;
}

std::wstring audioPath(const std::wstring& name)
{
    const char* folder = std::getenv("OVIX_MEDIA_AUDIO");
    std::wstring path;
    for (const char* c = folder ? folder : "."; *c; ++c)
        path += *c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(*c));
    if (!path.empty() && path[0] == L'\\')
        path = L"Z:" + path;
    return path + L"\\" + name;
}

std::string narrow(const std::wstring& text)
{
    std::string out;
    for (const wchar_t c : text)
        out += c < 128 ? static_cast<char>(c) : '?';
    return out;
}

bool underWine()
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

} // namespace ovix_media_test
