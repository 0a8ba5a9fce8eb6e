#include "media/export.h"

#include "media/wav_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <cwchar>
#include <cwctype>

namespace media {

namespace {

using platform::EncoderFormat;

constexpr TakeFormatEntry kFormats[kTakeFormats] = {
    {L"MP3 sound (*.mp3)", L"mp3", false, EncoderFormat::Mp3, 24000},
    {L"WAV sound (*.wav)", L"wav", true, EncoderFormat::Mp3, 0},
    {L"M4A sound, AAC (*.m4a)", L"m4a", false, EncoderFormat::Aac, 24000},
    {L"WMA sound (*.wma)", L"wma", false, EncoderFormat::WmaV8, 24000},
    {L"FLAC sound (*.flac)", L"flac", false, EncoderFormat::Flac, 0},
};

constexpr wchar_t kAppFolder[] = L"\\VantorOvix";
// Longest APPDATA value that still leaves room in a classic 260-character path.
constexpr size_t kMaxAppDataChars = 259;
// Scores above any byte-rate difference, so that a 16-bit type always wins.
constexpr double kNot16BitPenalty = 1e9;

bool sameIgnoringCase(const std::wstring& a, const wchar_t* b)
{
    const size_t n = std::wcslen(b);
    if (a.size() != n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        if (std::towlower(a[i]) != std::towlower(b[i]))
            return false;
    }
    return true;
}

size_t lastSeparator(const std::wstring& path)
{
    return path.find_last_of(L"\\/");
}

// HRESULT_FROM_WIN32: Win32 error numbers in the failure range of facility 7.
platform::MediaCode codeFromSystemError(uint32_t error)
{
    if (error == 0)
        return platform::kMediaFailed; // a failed move must never read as success
    return 0x80070000u | (error & 0xFFFFu);
}

std::wstring writeFailedMessage(platform::MediaCode code)
{
    wchar_t text[80];
    std::swprintf(
        text, std::size(text), L"Windows could not write that format (error %08X)", static_cast<unsigned>(code));
    return text;
}

} // namespace

const TakeFormatEntry& takeFormat(int32_t index)
{
    return kFormats[std::clamp(index, 0, kTakeFormats - 1)];
}

int formatFromPath(const std::wstring& path)
{
    const size_t dot = path.rfind(L'.');
    if (dot == std::wstring::npos)
        return -1;
    const std::wstring extension = path.substr(dot + 1);
    for (int i = 0; i < kTakeFormats; ++i) {
        if (sameIgnoringCase(extension, kFormats[i].extension))
            return i;
    }
    return -1;
}

std::wstring displayName(const std::wstring& path)
{
    const size_t separator = lastSeparator(path);
    std::wstring name = separator == std::wstring::npos ? path : path.substr(separator + 1);
    const size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos)
        name.resize(dot);
    return name;
}

std::wstring recordingsFolder(platform::Files& files, const std::wstring& clipsFolder,
    platform::KnownFolders* knownFolders, const std::wstring* appData, const std::wstring& programFolder)
{
    if (!clipsFolder.empty())
        return clipsFolder;
    std::optional<std::wstring> music;
    if (knownFolders)
        music = knownFolders->path(platform::KnownFolder::Music);
    std::wstring folder;
    if (music && !music->empty()) {
        folder = *music + kAppFolder;
    } else {
        std::wstring base = programFolder;
        if (appData && !appData->empty() && appData->size() <= kMaxAppDataChars) {
            base = *appData + kAppFolder;
            files.createFolders(base);
        }
        folder = base + kAppFolder;
    }
    files.createFolders(folder);
    return folder;
}

LocalTime localTimeNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    return {static_cast<uint32_t>(local.tm_year + 1900), static_cast<uint32_t>(local.tm_mon + 1),
        static_cast<uint32_t>(local.tm_mday), static_cast<uint32_t>(local.tm_hour), static_cast<uint32_t>(local.tm_min),
        static_cast<uint32_t>(local.tm_sec)};
}

std::wstring makeFileName(
    const std::wstring& folder, const std::wstring& prefix, const LocalTime& time, const TakeFormatEntry& format)
{
    // The stamp alone is formatted into a fixed buffer; the folder and prefix
    // are appended whole, so a long folder never truncates the name.
    wchar_t stamp[48];
    std::swprintf(stamp, std::size(stamp), L"_%04u%02u%02u_%02u%02u%02u.", time.year, time.month, time.day, time.hour,
        time.minute, time.second);
    return folder + L"\\" + prefix + stamp + format.extension;
}

std::wstring savingName(const std::wstring& target)
{
    const size_t separator = lastSeparator(target);
    const size_t dot = target.rfind(L'.');
    if (dot == std::wstring::npos || (separator != std::wstring::npos && dot < separator))
        return target + L".saving";
    return target.substr(0, dot) + L".saving" + target.substr(dot);
}

int chooseEncoderType(
    const std::vector<platform::EncoderType>& types, uint32_t sampleRate, uint32_t targetBytesPerSecond)
{
    int best = -1;
    double bestScore = 0;
    for (size_t i = 0; i < types.size(); ++i) {
        const platform::EncoderType& t = types[i];
        if (t.sampleRate != sampleRate || t.channels != 2)
            continue;
        const uint32_t bits = t.bitsPerSample == 0 ? 16 : t.bitsPerSample;
        double score = targetBytesPerSecond == 0
            ? 0.0
            : std::abs(static_cast<double>(t.averageBytesPerSecond) - static_cast<double>(targetBytesPerSecond));
        if (bits != 16)
            score += kNot16BitPenalty;
        if (best < 0 || score < bestScore) {
            best = static_cast<int>(i);
            bestScore = score;
        }
    }
    return best;
}

bool encodeFile(platform::Files& files, platform::Media* media, const std::wstring& target, const clip::Sound& sound,
    uint32_t sampleRate, const TakeFormatEntry& format, std::wstring& message)
{
    if (format.ownWriter) {
        if (writeWav(files, target, sound.samples, sampleRate))
            return true;
        message = L"The file could not be written there";
        return false;
    }
    if (!media || !media->available()) {
        message = L"Windows is missing its Media Feature Pack, install it to play sounds";
        return false;
    }
    const std::vector<platform::EncoderType> types = media->encoderTypes(format.encoder);
    const int chosen = chooseEncoderType(types, sampleRate, format.targetBytesPerSecond);
    if (chosen < 0) {
        message = L"Windows has no encoder for that format, pick WAV";
        return false;
    }

    const std::wstring saving = savingName(target);
    platform::MediaCode code = platform::kMediaOk;
    std::unique_ptr<platform::MediaWriter> writer = media->createWriter(saving, types[chosen], sampleRate, code);
    if (!writer && code == platform::kMediaOk)
        code = platform::kMediaFailed;
    if (writer) {
        // 100 ms per sample; times and durations in 100 ns units from whole frame counts.
        const uint32_t piece = std::max(1u, sampleRate / 10);
        const uint64_t total = sound.frames();
        for (uint64_t done = 0; done < total && code == platform::kMediaOk;) {
            const auto frames = static_cast<uint32_t>(std::min<uint64_t>(piece, total - done));
            const auto time = static_cast<int64_t>(done * 10000000 / sampleRate);
            const auto end = static_cast<int64_t>((done + frames) * 10000000 / sampleRate);
            code = writer->write(sound.samples.data() + done * 2, frames, time, end - time);
            done += frames;
        }
        if (code == platform::kMediaOk)
            code = writer->finalize();
        writer.reset(); // the platform holds the file open until its writer goes
    }
    if (code == platform::kMediaOk) {
        uint32_t systemError = 0;
        if (files.moveReplace(saving, target, systemError))
            return true;
        code = codeFromSystemError(systemError);
    }
    files.removeFile(saving);
    message = writeFailedMessage(code);
    return false;
}

} // namespace media
