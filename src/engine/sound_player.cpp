#include "engine/sound_player.h"

#include <utility>

namespace engine {

namespace {
constexpr int kFadeFrames = 250; // 1.0 / kFadeStep
constexpr float kSampleScale = 1.0f / 32768.0f;
} // namespace

SoundPlayer::SoundPlayer()
{
    commands_.reserve(64);
}

void SoundPlayer::play(int id, clip::SoundRef sound)
{
    if (id < 0 || id >= kIds)
        return;
    std::lock_guard<std::mutex> guard(lock_);
    commands_.push_back({id, std::move(sound)});
    pending_.store(true, std::memory_order_release);
}

void SoundPlayer::stopAll()
{
    std::lock_guard<std::mutex> guard(lock_);
    // A start queued before the stop-all must not begin after it; its sound
    // is freed here, on the queueing thread, never on the engine thread.
    commands_.clear();
    stopAllPending_ = true;
    pending_.store(true, std::memory_order_release);
}

bool SoundPlayer::playing() const noexcept
{
    return playingMask_.load(std::memory_order_relaxed) != 0 || pending_.load(std::memory_order_acquire);
}

uint32_t SoundPlayer::position(int id) const noexcept
{
    return id >= 0 && id < kIds ? positions_[static_cast<size_t>(id)].load(std::memory_order_relaxed) : 0;
}

void SoundPlayer::letGo(clip::SoundRef& sound) noexcept
{
    if (sound && reaper_ && reaper_->retire(sound))
        return;
    sound.reset(); // no reaper, or it is full: dropped here
}

void SoundPlayer::startVoice(int id, clip::SoundRef&& sound) noexcept
{
    Voice* chosen = nullptr;
    for (Voice& v : voices_) {
        if (!v.sound) {
            chosen = &v;
            break;
        }
    }
    if (!chosen) {
        // All busy: the voice that has played longest makes room.
        chosen = &voices_[0];
        for (Voice& v : voices_) {
            if (v.position > chosen->position)
                chosen = &v;
        }
    }
    letGo(chosen->sound);
    chosen->sound = std::move(sound);
    chosen->position = 0;
    chosen->id = id;
    chosen->gain = 1.0f;
    chosen->fading = false;
    chosen->fadeSteps = 0;
}

void SoundPlayer::takeCommands() noexcept
{
    if (!pending_.load(std::memory_order_acquire))
        return;
    std::unique_lock<std::mutex> guard(lock_, std::try_to_lock);
    if (!guard.owns_lock())
        return; // the queue stays for the next block
    if (stopAllPending_) {
        for (Voice& v : voices_)
            v.fading = v.fading || v.sound != nullptr;
        stopAllPending_ = false;
    }
    for (Command& c : commands_) {
        for (Voice& v : voices_) {
            if (v.sound && v.id == c.id)
                v.fading = true;
        }
        if (c.sound && c.sound->frames() > 0)
            startVoice(c.id, std::move(c.sound));
        letGo(c.sound); // an empty sound that was not started
    }
    commands_.clear(); // keeps its capacity
    pending_.store(false, std::memory_order_release);
}

void SoundPlayer::mixInto(float* left, float* right, uint32_t n) noexcept
{
    takeCommands();
    uint32_t mask = 0;
    for (Voice& v : voices_) {
        if (!v.sound)
            continue;
        const int16_t* samples = v.sound->samples.data();
        const uint32_t length = v.sound->frames();
        bool ended = false;
        for (uint32_t i = 0; i < n; ++i) {
            if (v.position >= length) {
                ended = true;
                break;
            }
            if (v.fading) {
                // Counted in whole steps, so float rounding cannot add a 251st frame.
                ++v.fadeSteps;
                v.gain = 1.0f - kFadeStep * static_cast<float>(v.fadeSteps);
                if (v.fadeSteps >= kFadeFrames || v.gain <= 0.0f) {
                    ended = true;
                    break;
                }
            }
            const size_t s = size_t{v.position} * 2;
            left[i] += v.gain * samples[s] * kSampleScale;
            right[i] += v.gain * samples[s + 1] * kSampleScale;
            ++v.position;
        }
        if (ended || v.position >= length) {
            letGo(v.sound);
            continue;
        }
        mask |= 1u << v.id;
        if (!v.fading)
            positions_[static_cast<size_t>(v.id)].store(v.position, std::memory_order_relaxed);
    }
    playingMask_.store(mask, std::memory_order_relaxed);
}

} // namespace engine
