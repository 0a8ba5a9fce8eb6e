#include "clip/player.h"

namespace clip {

Player::Player(platform::Media& media, platform::Clock& clock, ClipLog* log) : media_(media), clock_(clock), log_(log)
{
}

Player::~Player()
{
    stop();
}

void Player::open(const std::wstring&, double) { }
void Player::stop() { }
void Player::playPause(const std::wstring&) { }
void Player::seek(double) { }
void Player::setPageFetch(PageFetch fetch)
{
    pageFetch_ = std::move(fetch);
}

std::wstring Player::statusText() const
{
    std::lock_guard lock(lock_);
    return statusText_;
}

std::wstring Player::source() const
{
    std::lock_guard lock(lock_);
    return source_;
}

bool Player::active() const noexcept
{
    const int32_t state = state_.load();
    return state == 1 || state == 2;
}

uint32_t Player::read(float* left, float* right, uint32_t n) noexcept
{
    for (uint32_t i = 0; i < n; ++i)
        left[i] = right[i] = 0.0f;
    return 0;
}

} // namespace clip
