#include "clip/loaders.h"

#include "clip/messages.h"
#include "clip/reader.h"
#include "media/format_converter.h"
#include "platform/text.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <string_view>

namespace clip {

namespace {

constexpr double kTicksPerSecond = 1e7; // the readers' 100 ns units
constexpr double kPreRollSeconds = 0.25;
constexpr double kFadeSeconds = 0.005;
constexpr double kLongestSeconds = 1e7; // keeps frame arithmetic far from overflow

// Seconds a caller passes (pad times come from setup files) as a finite, non-negative value.
double saneSeconds(double seconds)
{
    return seconds > 0.0 ? std::min(seconds, kLongestSeconds) : 0.0;
}

// The frame (or tick) nearest to seconds at rate.
int64_t nearest(double seconds, double rate)
{
    return static_cast<int64_t>(std::llrint(seconds * rate));
}

const wchar_t* openFailureText(OpenFailure failure)
{
    return failure == OpenFailure::NoFormat ? kUnplayableFormat : kCannotOpenFile;
}

enum class Pump { Done, Cancelled, Failed };

// One open reader and its converter to 48 kHz stereo float.
struct Decoder {
    OpenedReader opened;
    media::FormatConverter converter;
    std::vector<float> block; // the current sample, converted

    Decoder(platform::Media& media, const std::wstring& path)
        : opened(openReader(media, path, platform::ReaderUse::Loading)), converter(opened.layout)
    { }

    // Reads to the end of the stream, handing each converted sample and its
    // timestamp to take until it returns false. A read error ends the decode
    // as a failure: what came before it is not the whole sound.
    template <typename Take> Pump pump(const std::atomic<uint8_t>* cancel, std::wstring& message, Take&& take)
    {
        for (;;) {
            if (cancel && cancel->load(std::memory_order_acquire))
                return Pump::Cancelled;
            platform::MediaSample sample;
            platform::MediaCode code = platform::kMediaOk;
            switch (opened.reader->read(sample, code)) {
            case platform::ReadStatus::Data:
                block.clear();
                converter.convert(sample.bytes, block);
                if (!take(std::span<const float>(block), sample.timestamp))
                    return Pump::Done;
                break;
            case platform::ReadStatus::NoData:
                break;
            case platform::ReadStatus::EndOfStream:
                return Pump::Done;
            case platform::ReadStatus::Error:
                message = kStoppedHalfway;
                return Pump::Failed;
            }
        }
    }
};

// Short linear fades where the sound was cut out of a longer one, so that a
// pad does not click as it starts or stops.
void fadeEdges(std::vector<int16_t>& samples, uint32_t rate, bool fadeIn, bool fadeOut)
{
    const int64_t frames = static_cast<int64_t>(samples.size() / 2);
    const int64_t fade = std::min<int64_t>(frames / 4, static_cast<int64_t>(rate * kFadeSeconds));
    for (int64_t i = 0; i < fade; ++i) {
        for (int side = 0; side < 2; ++side) {
            if (fadeIn) {
                int16_t& s = samples[static_cast<size_t>(2 * i + side)];
                s = static_cast<int16_t>(s * i / fade);
            }
            if (fadeOut) {
                int16_t& s = samples[static_cast<size_t>(2 * (frames - 1 - i) + side)];
                s = static_cast<int16_t>(s * i / fade);
            }
        }
    }
}

struct RangeLoad {
    SoundRef sound;
    bool redo = false; // the seek landed past the range's start: load again without seeking
};

RangeLoad loadRange(platform::Media& media, const std::wstring& path, uint32_t rate, double maxSeconds,
    double fromSeconds, double toSeconds, bool exactSeek, const std::atomic<uint8_t>* cancel, std::wstring& message)
{
    auto decoder = std::make_unique<Decoder>(media, path);
    if (decoder->opened.failure != OpenFailure::None) {
        message = openFailureText(decoder->opened.failure);
        return {};
    }
    const int64_t startFrame = fromSeconds > 0.0 ? nearest(fromSeconds, rate) : 0;
    const bool hasRange = fromSeconds < toSeconds;
    int64_t endFrame = startFrame + static_cast<int64_t>(rate * maxSeconds);
    if (hasRange)
        endFrame = std::min(endFrame, nearest(toSeconds, rate));

    // Seek a quarter second before the range (decoders may land a little
    // late) and count frames from the timestamps, relative to the stream's
    // first one: some formats do not start at time 0.
    std::optional<int64_t> firstTimestamp;
    bool seeked = false;
    if (startFrame > 0 && exactSeek) {
        const Pump found = decoder->pump(cancel, message, [&](std::span<const float>, int64_t timestamp) {
            firstTimestamp = timestamp;
            return false;
        });
        if (found != Pump::Done)
            return {};
        if (firstTimestamp) {
            const int64_t preRoll = nearest(std::max(fromSeconds - kPreRollSeconds, 0.0), kTicksPerSecond);
            seeked = decoder->opened.reader->setPosition(*firstTimestamp + preRoll);
            if (seeked) {
                decoder->converter.restart();
            } else {
                decoder.reset();
                decoder = std::make_unique<Decoder>(media, path);
                if (decoder->opened.failure != OpenFailure::None) {
                    message = openFailureText(decoder->opened.failure);
                    return {};
                }
            }
        }
    }

    std::vector<int16_t> samples;
    if (const auto duration = decoder->opened.reader->duration(); duration && *duration > 0) {
        // Room for the range as far as the source reaches, so that a pad keeps no spare capacity.
        const int64_t known = nearest(static_cast<double>(*duration) / kTicksPerSecond, rate);
        if (const int64_t expected = std::min(known, endFrame) - startFrame; expected > 0)
            samples.reserve(static_cast<size_t>(2 * expected));
    }
    int64_t frame = 0;
    bool counting = !seeked;
    bool redo = false;
    const Pump pumped = decoder->pump(cancel, message, [&](std::span<const float> block, int64_t timestamp) {
        if (!counting) {
            const double since = static_cast<double>(timestamp) - static_cast<double>(*firstTimestamp);
            frame = nearest(since / kTicksPerSecond, rate);
            counting = true;
            if (frame > startFrame) {
                redo = true;
                return false;
            }
        }
        for (size_t i = 0; i + 1 < block.size(); i += 2, ++frame) {
            if (frame >= endFrame)
                return false;
            if (frame >= startFrame) {
                samples.push_back(storedSample(block[i]));
                samples.push_back(storedSample(block[i + 1]));
            }
        }
        return frame < endFrame;
    });
    if (pumped != Pump::Done)
        return {};
    if (redo)
        return {nullptr, true};
    if (samples.empty()) {
        message = kFileHasNoSound;
        return {};
    }
    const bool reachedEnd = frame >= endFrame;
    fadeEdges(samples, rate, startFrame > 0, reachedEnd);
    auto sound = std::make_shared<Sound>();
    sound->samples = std::move(samples);
    sound->truncated = reachedEnd && (!hasRange || toSeconds - fromSeconds > maxSeconds);
    return {std::move(sound), false};
}

} // namespace

bool isExactSeekFormat(const std::wstring& path)
{
    const size_t dot = path.rfind(L'.');
    if (dot == std::wstring::npos)
        return false;
    const std::wstring_view extension = std::wstring_view(path).substr(dot + 1);
    return std::ranges::any_of(std::array<std::wstring_view, 5>{L"wav", L"wave", L"flac", L"m4a", L"mp4"},
        [&](std::wstring_view exact) { return platform::equalsNoCase(extension, exact); });
}

SoundRef loadSound(platform::Media& media, const std::wstring& path, uint32_t rate, double maxSeconds,
    double fromSeconds, double toSeconds, bool exactSeek, const std::atomic<uint8_t>* cancel, std::wstring& message)
{
    message.clear();
    if (!media.available()) {
        message = kNoMediaFoundation;
        return nullptr;
    }
    maxSeconds = saneSeconds(maxSeconds);
    fromSeconds = saneSeconds(fromSeconds);
    toSeconds = saneSeconds(toSeconds);
    RangeLoad load = loadRange(media, path, rate, maxSeconds, fromSeconds, toSeconds, exactSeek, cancel, message);
    if (load.redo)
        load = loadRange(media, path, rate, maxSeconds, fromSeconds, toSeconds, false, cancel, message);
    return load.sound;
}

OutlineRef buildOutline(platform::Media& media, const std::wstring& path, uint32_t rate, int32_t pointsPerSecond,
    std::atomic<int32_t>* progress, const std::atomic<uint8_t>* cancel, std::wstring& message)
{
    message.clear();
    if (!media.available()) {
        message = kNoMediaFoundation;
        return nullptr;
    }
    Decoder decoder(media, path);
    if (decoder.opened.failure != OpenFailure::None) {
        message = openFailureText(decoder.opened.failure);
        return nullptr;
    }
    double duration = 0.0;
    if (const auto ticks = decoder.opened.reader->duration(); ticks && *ticks > 0)
        duration = static_cast<double>(*ticks) / kTicksPerSecond;
    pointsPerSecond = std::max(1, pointsPerSecond);
    const int64_t framesPerBucket = std::max<int64_t>(1, rate / pointsPerSecond);

    auto outline = std::make_shared<Outline>();
    outline->pointsPerSecond = pointsPerSecond;
    float peak = 0.0f;
    int64_t frames = 0;
    int64_t inBucket = 0;
    // Peaks above full scale are drawn at full scale.
    auto addPeak = [&] {
        outline->peaks.push_back(std::min(peak, 1.0f));
        outline->maxPeak = std::max(outline->maxPeak, outline->peaks.back());
        peak = 0.0f;
        inBucket = 0;
    };
    const Pump pumped = decoder.pump(cancel, message, [&](std::span<const float> block, int64_t) {
        for (size_t i = 0; i + 1 < block.size(); i += 2) {
            peak = std::max({peak, std::fabs(block[i]), std::fabs(block[i + 1])});
            ++frames;
            if (++inBucket == framesPerBucket)
                addPeak();
        }
        if (progress && duration > 0.0) {
            const double perMille = static_cast<double>(frames) / rate / duration * 1000.0;
            progress->store(static_cast<int32_t>(std::min(999.0, perMille)), std::memory_order_relaxed);
        }
        return true;
    });
    if (pumped != Pump::Done)
        return nullptr;
    if (frames == 0) {
        message = kFileHasNoSound;
        return nullptr;
    }
    if (inBucket > 0)
        addPeak();
    outline->seconds = static_cast<double>(frames) / rate;
    return outline;
}

} // namespace clip
