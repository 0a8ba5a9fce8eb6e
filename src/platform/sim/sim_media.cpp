#include "platform/sim/sim_media.h"

namespace platform::sim {

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

std::unique_ptr<MediaReader> SimMedia::openReader(const std::wstring&, ReaderUse, MediaCode& code)
{
    code = 0xC00D36C4;
    return nullptr;
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
