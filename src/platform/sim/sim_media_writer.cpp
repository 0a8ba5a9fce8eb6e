#include "platform/sim/sim_media.h"

namespace platform::sim {

std::vector<EncoderType> SimMedia::encoderTypes(EncoderFormat format)
{
    std::lock_guard lock(shared_->mutex);
    auto it = shared_->encoderTypes.find(format);
    return it == shared_->encoderTypes.end() ? std::vector<EncoderType>{} : it->second;
}

std::unique_ptr<MediaWriter> SimMedia::createWriter(const std::wstring&, const EncoderType&, uint32_t, MediaCode& code)
{
    code = kMediaFailed;
    return nullptr;
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
