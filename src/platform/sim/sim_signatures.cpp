#include "platform/sim/sim_signatures.h"

namespace platform::sim {

class SimSignatures::Held final : public HeldFile {
public:
    explicit Held(std::shared_ptr<Counts> counts) : counts_(std::move(counts))
    {
        std::lock_guard lock(counts_->mutex);
        ++counts_->now;
        ++counts_->ever;
    }
    ~Held() override
    {
        std::lock_guard lock(counts_->mutex);
        --counts_->now;
    }

private:
    std::shared_ptr<Counts> counts_;
};

std::unique_ptr<HeldFile> SimSignatures::hold(const std::wstring& path)
{
    {
        std::lock_guard lock(mutex_);
        if (unopenable_.count(path))
            return nullptr;
    }
    return std::make_unique<Held>(counts_);
}

std::optional<std::wstring> SimSignatures::verifiedSigner(HeldFile&, const std::wstring& path)
{
    std::lock_guard lock(mutex_);
    auto it = signers_.find(path);
    if (it == signers_.end())
        return std::nullopt;
    return it->second;
}

void SimSignatures::sign(const std::wstring& path, std::wstring signer)
{
    std::lock_guard lock(mutex_);
    signers_[path] = std::move(signer);
}

void SimSignatures::failHold(const std::wstring& path)
{
    std::lock_guard lock(mutex_);
    unopenable_.insert(path);
}

int SimSignatures::heldNow() const
{
    std::lock_guard lock(counts_->mutex);
    return counts_->now;
}

int SimSignatures::heldEver() const
{
    std::lock_guard lock(counts_->mutex);
    return counts_->ever;
}

} // namespace platform::sim
