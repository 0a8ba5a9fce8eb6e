#include "platform/sim/sim_media.h"

#include "platform/sample_rate.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace platform::sim {

namespace {

constexpr MediaCode kUnknownSource = 0xC00D36C4; // the platform's "unsupported byte stream" code
constexpr int64_t kTicksPerSecond = 10'000'000;

float defaultSignal(uint64_t frame, uint32_t, uint32_t rate)
{
    return 0.5f * static_cast<float>(std::sin(2.0 * std::numbers::pi * 440.0 * static_cast<double>(frame) / rate));
}

// Reads one scripted source. The source is copied at open, so a test may
// script others (or remove this one) while the reader runs; the stats go
// back to the shared record under its mutex.
class SimReader final : public MediaReader {
public:
    SimReader(std::shared_ptr<SimMedia::Shared> shared, std::wstring key, SimMediaSource source)
        : shared_(std::move(shared)),
          key_(std::move(key)),
          source_(std::move(source)),
          noDataLeft_(source_.noDataSamplesFirst)
    { }
    ~SimReader() override
    {
        std::lock_guard lock(shared_->mutex);
        --shared_->stats[key_].openReaders;
    }

    bool selectFirstAudioStream() override { return source_.native.channels > 0; }

    bool requestOutput(const AudioType& type) override
    {
        const AudioType& native = source_.native;
        const bool converted
            = type.isFloat && type.bitsPerSample == 32 && type.channels == 2 && type.sampleRate == kSampleRate;
        if (converted && source_.readerConverts) {
            output_ = type;
            converting_ = native.sampleRate != kSampleRate || native.channels != 2;
            return true;
        }
        if (type.sampleRate != native.sampleRate || type.channels != native.channels)
            return false;
        const bool ok = type.isFloat ? (type.bitsPerSample == 32 && source_.acceptsFloat)
                                     : (type.bitsPerSample == 16 && source_.acceptsPcm16);
        if (ok) {
            output_ = type;
            converting_ = false;
        }
        return ok;
    }

    bool nativeType(AudioType& type) override
    {
        type = source_.native;
        return true;
    }

    std::optional<int64_t> duration() override
    {
        if (!source_.hasDuration || source_.native.sampleRate == 0)
            return std::nullopt;
        return static_cast<int64_t>(source_.frames * kTicksPerSecond / source_.native.sampleRate);
    }

    bool setPosition(int64_t position) override
    {
        {
            std::lock_guard lock(shared_->mutex);
            SimMediaStats& stats = shared_->stats[key_];
            ++stats.seeks;
            stats.lastSeek = position;
        }
        if (!source_.seekable)
            return false;
        const int64_t ticks = std::max<int64_t>(0, position - source_.firstTimestamp);
        const uint64_t rate = outputRate();
        position_ = std::min(static_cast<uint64_t>(ticks) * rate / kTicksPerSecond, outputFrames());
        return true;
    }

    ReadStatus read(MediaSample& sample, MediaCode& code) override
    {
        {
            std::lock_guard lock(shared_->mutex);
            ++shared_->stats[key_].reads;
        }
        code = kMediaOk;
        waitDelay();
        if (!output_) {
            code = kMediaFailed;
            return ReadStatus::Error;
        }
        if (noDataLeft_ > 0) {
            --noDataLeft_;
            return ReadStatus::NoData;
        }
        const uint64_t total = outputFrames();
        if (position_ >= total)
            return ReadStatus::EndOfStream;
        if (source_.failAtFrame && nativeFrame(position_) >= *source_.failAtFrame) {
            code = source_.failCode;
            return ReadStatus::Error;
        }
        const uint64_t frames = std::min<uint64_t>(std::max<uint32_t>(1, source_.framesPerSample), total - position_);
        encode(position_, frames);
        sample.bytes = bytes_;
        sample.timestamp = source_.firstTimestamp + static_cast<int64_t>(position_ * kTicksPerSecond / outputRate());
        position_ += frames;
        return ReadStatus::Data;
    }

private:
    bool converting() const { return converting_; }
    uint64_t outputRate() const { return converting() ? kSampleRate : source_.native.sampleRate; }
    uint64_t outputFrames() const
    {
        return converting() ? source_.frames * kSampleRate / source_.native.sampleRate : source_.frames;
    }
    uint64_t nativeFrame(uint64_t frame) const
    {
        return converting() ? frame * source_.native.sampleRate / kSampleRate : frame;
    }

    float value(uint64_t frame, uint32_t channel) const
    {
        return source_.signal ? source_.signal(frame, channel)
                              : defaultSignal(frame, channel, source_.native.sampleRate);
    }

    // frames output frames from first, in the accepted type. A converting
    // reader takes the nearest earlier native frame and the first two
    // channels (a mono source on both sides).
    void encode(uint64_t first, uint64_t frames)
    {
        const uint32_t channels = output_->channels;
        const bool pcm16 = !output_->isFloat;
        bytes_.resize(frames * channels * (pcm16 ? 2 : 4));
        uint8_t* out = bytes_.data();
        for (uint64_t f = 0; f < frames; ++f) {
            const uint64_t native = nativeFrame(first + f);
            for (uint32_t c = 0; c < channels; ++c) {
                const uint32_t from = converting() ? std::min(c, source_.native.channels - 1) : c;
                const float v = value(native, from);
                if (pcm16) {
                    const auto s = static_cast<int16_t>(std::lrint(std::clamp(v, -1.0f, 1.0f) * 32767.0f));
                    std::memcpy(out, &s, 2);
                    out += 2;
                } else {
                    std::memcpy(out, &v, 4);
                    out += 4;
                }
            }
        }
    }

    void waitDelay()
    {
        if (source_.readDelayMicros <= 0)
            return;
        Clock* clock = nullptr;
        {
            std::lock_guard lock(shared_->mutex);
            clock = shared_->clock;
        }
        if (!clock)
            return;
        if (!delay_)
            delay_ = clock->createEvent(false);
        clock->wait(*delay_, source_.readDelayMicros); // nobody sets it: a timed wait the clock can step
    }

    std::shared_ptr<SimMedia::Shared> shared_;
    const std::wstring key_;
    const SimMediaSource source_;
    std::optional<AudioType> output_;
    bool converting_ = false; // the reader turns the native layout into 48 kHz stereo float
    uint64_t position_ = 0;   // output frames
    int noDataLeft_ = 0;
    std::vector<uint8_t> bytes_;
    std::unique_ptr<Event> delay_;
};

} // namespace

SimMedia::SimMedia(Clock* clock, Files* files) : shared_(std::make_shared<Shared>())
{
    shared_->clock = clock;
    shared_->files = files;
}

SimMedia::~SimMedia() = default;

bool SimMedia::available()
{
    std::lock_guard lock(shared_->mutex);
    return shared_->available;
}

std::unique_ptr<MediaReader> SimMedia::openReader(const std::wstring& pathOrLink, ReaderUse use, MediaCode& code)
{
    std::lock_guard lock(shared_->mutex);
    shared_->lastUse = use;
    auto it = shared_->sources.find(pathOrLink);
    if (it == shared_->sources.end()) {
        code = kUnknownSource;
        return nullptr;
    }
    code = kMediaOk;
    SimMediaStats& stats = shared_->stats[pathOrLink];
    ++stats.opens;
    ++stats.openReaders;
    return std::make_unique<SimReader>(shared_, pathOrLink, it->second);
}

void SimMedia::addSource(const std::wstring& pathOrLink, SimMediaSource source)
{
    std::lock_guard lock(shared_->mutex);
    shared_->sources[pathOrLink] = std::move(source);
}

void SimMedia::removeSource(const std::wstring& pathOrLink)
{
    std::lock_guard lock(shared_->mutex);
    shared_->sources.erase(pathOrLink);
}

void SimMedia::setAvailable(bool available)
{
    std::lock_guard lock(shared_->mutex);
    shared_->available = available;
}

SimMediaStats SimMedia::stats(const std::wstring& pathOrLink) const
{
    std::lock_guard lock(shared_->mutex);
    auto it = shared_->stats.find(pathOrLink);
    return it == shared_->stats.end() ? SimMediaStats{} : it->second;
}

ReaderUse SimMedia::lastUse() const
{
    std::lock_guard lock(shared_->mutex);
    return shared_->lastUse;
}

} // namespace platform::sim
