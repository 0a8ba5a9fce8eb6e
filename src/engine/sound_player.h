#pragma once
// The multi-voice player behind the soundboard pads and the two take preview
// players. Any thread queues commands (play a sound under an id, stop an id,
// stop everything) under the player's lock; the engine thread takes the lock
// only when it is free, so a command queued while the lock is busy waits for
// the next block and is never lost. Stopping fades a voice out over 250
// frames instead of cutting it. A sound the engine thread lets go of goes to
// the reaper, when one is given, so that the last reference to a sound is
// never dropped (and the sound freed) on the engine thread.

#include "engine/mix_sources.h"
#include "engine/room_builder.h"
#include "media/sound.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

namespace engine {

class SoundPlayer : public MixSource {
public:
    static constexpr int kVoices = 8;
    static constexpr int kIds = 32;
    static constexpr float kFadeStep = 0.004f; // per frame: 250 frames from 1.0 to silence

    SoundPlayer();

    // Before the engine runs: where finished sounds go to be freed.
    void setReaper(Reaper* reaper) { reaper_ = reaper; }

    // Any thread. Starts sound under id (0..31), fading out whatever already
    // plays under that id. A null sound only stops the id.
    void play(int id, clip::SoundRef sound);
    void stop(int id) { play(id, nullptr); }
    // Drops every queued command and fades out every voice.
    void stopAll();

    // Engine thread.
    void mixInto(float* left, float* right, uint32_t n) noexcept override;
    bool playing() const noexcept override;

    // Holds the command lock as a queueing thread does; while it is held,
    // mixInto() leaves the queue for a later block.
    std::unique_lock<std::mutex> holdQueue() { return std::unique_lock<std::mutex>(lock_); }

    // Reports for the interface: the ids still playing, and each id's position in frames.
    uint32_t playingMask() const noexcept { return playingMask_.load(std::memory_order_relaxed); }
    uint32_t position(int id) const noexcept;

private:
    struct Command {
        int id = 0;
        clip::SoundRef sound;
    };
    struct Voice {
        clip::SoundRef sound;
        uint32_t position = 0; // frames
        int id = 0;
        float gain = 1.0f;
        bool fading = false;
        int fadeSteps = 0; // frames faded so far
    };

    void takeCommands() noexcept;
    void letGo(clip::SoundRef& sound) noexcept;
    void startVoice(int id, clip::SoundRef&& sound) noexcept;

    // Guarded by lock_.
    std::mutex lock_;
    std::vector<Command> commands_;
    bool stopAllPending_ = false;
    std::atomic<bool> pending_{false};

    // Engine thread.
    std::array<Voice, kVoices> voices_{};
    Reaper* reaper_ = nullptr;

    std::atomic<uint32_t> playingMask_{0};
    std::array<std::atomic<uint32_t>, kIds> positions_{};
};

} // namespace engine
