#include "platform/sim/sim_media.h"

#include <limits>

namespace platform::sim {

namespace {

// Like the platform's sink writer, the file exists at its path from creation
// on and grows with every sample, so a writer that fails part way leaves a
// half file for its caller to remove.
class SimWriter final : public MediaWriter {
public:
    SimWriter(std::shared_ptr<SimMedia::Shared> shared, std::wstring path)
        : shared_(std::move(shared)), path_(std::move(path))
    { }

    MediaCode write(const int16_t* interleaved, uint32_t frames, int64_t time, int64_t duration) override
    {
        std::lock_guard lock(shared_->mutex);
        if (index_++ == shared_->failWriteIndex)
            return shared_->failWriteCode;
        const auto* bytes = reinterpret_cast<const uint8_t*>(interleaved);
        if (!shared_->files->appendToLog(path_, {bytes, size_t{frames} * 4}, kNeverEmpty))
            return kMediaFailed;
        shared_->writerTimes.emplace_back(time, duration);
        return kMediaOk;
    }

    MediaCode finalize() override
    {
        std::lock_guard lock(shared_->mutex);
        return shared_->finalizeCode;
    }

private:
    static constexpr uint64_t kNeverEmpty = std::numeric_limits<uint64_t>::max();

    std::shared_ptr<SimMedia::Shared> shared_;
    std::wstring path_;
    int index_ = 0;
};

} // namespace

std::vector<EncoderType> SimMedia::encoderTypes(EncoderFormat format)
{
    std::lock_guard lock(shared_->mutex);
    auto it = shared_->encoderTypes.find(format);
    return it == shared_->encoderTypes.end() ? std::vector<EncoderType>{} : it->second;
}

std::unique_ptr<MediaWriter> SimMedia::createWriter(
    const std::wstring& path, const EncoderType&, uint32_t, MediaCode& code)
{
    std::lock_guard lock(shared_->mutex);
    shared_->writerTimes.clear();
    if (!shared_->files) {
        code = kMediaFailed;
        return nullptr;
    }
    // The file is created before the stream is added, so a refused stream leaves it behind.
    shared_->files->removeFile(path);
    if (!shared_->files->appendToLog(path, {}, 0)) {
        code = kMediaFailed;
        return nullptr;
    }
    if (shared_->writerCreateCode != kMediaOk) {
        code = shared_->writerCreateCode;
        return nullptr;
    }
    code = kMediaOk;
    return std::make_unique<SimWriter>(shared_, path);
}

void SimMedia::offerEncoderTypes(EncoderFormat format, std::vector<EncoderType> types)
{
    std::lock_guard lock(shared_->mutex);
    shared_->encoderTypes[format] = std::move(types);
}

void SimMedia::failWriterCreate(MediaCode code)
{
    std::lock_guard lock(shared_->mutex);
    shared_->writerCreateCode = code;
}

void SimMedia::failWriteAt(int sampleIndex, MediaCode code)
{
    std::lock_guard lock(shared_->mutex);
    shared_->failWriteIndex = sampleIndex;
    shared_->failWriteCode = code;
}

void SimMedia::failFinalize(MediaCode code)
{
    std::lock_guard lock(shared_->mutex);
    shared_->finalizeCode = code;
}

int SimMedia::writerSamples() const
{
    std::lock_guard lock(shared_->mutex);
    return static_cast<int>(shared_->writerTimes.size());
}

std::vector<std::pair<int64_t, int64_t>> SimMedia::writerTimes() const
{
    std::lock_guard lock(shared_->mutex);
    return shared_->writerTimes;
}

} // namespace platform::sim
