#pragma once
// Rooms are built and freed away from the engine thread. On a preset change
// the engine asks the builder for the new room set (the voice's room and the
// two bus rooms) and goes on with the old one; the builder makes it on its
// own thread and hands it over through one atomic pointer, and the engine
// swaps it in at the start of a block. Whatever the engine lets go of (the
// displaced rooms, a tail that has rung out, a sound a player has finished)
// goes into the reaper, a single-producer ring that the builder empties and
// frees. The engine thread thus neither allocates nor frees on a room change.
//
// Three ways to run the builder: Inline builds and frees on the asking thread
// at once (the render tool and unit tests: deterministic, the same block as
// before); Stepped waits for step() (tests that count the engine thread's
// allocations step it between blocks); Threaded runs step() on a thread of its
// own (the program).

#include "engine/environment.h"
#include "media/sound.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

namespace engine {

// The rooms of one preset: the voice's (none while the convolution takes the
// voice) and the two clip/application buses'; for the cavern also fresh,
// clear procedural stages for each, so that the engine need not clear the
// old ones. After a swap the engine sends the same object back holding what
// it displaced.
struct RoomSet {
    int preset = 0;
    std::unique_ptr<ReverbInstance> voice;
    std::unique_ptr<ReverbInstance> bus0;
    std::unique_ptr<ReverbInstance> bus1;
    std::unique_ptr<CavernStages> voiceCavern;
    std::unique_ptr<CavernStages> bus0Cavern;
    std::unique_ptr<CavernStages> bus1Cavern;
    std::unique_ptr<ReverbInstance> retiredTail; // a tail the swap cut short, on its way back
};

// Objects the engine thread lets go of, freed on another thread. One
// producer (the engine thread), one consumer (whoever calls reap()).
class Reaper {
public:
    static constexpr size_t kSlots = 64;

    // Engine thread. Takes the object and leaves the argument empty; false
    // (and the object left with the caller) when the ring is full. With
    // freeAtOnce the object is freed here instead.
    bool retire(std::unique_ptr<RoomSet>& set) noexcept;
    bool retire(std::unique_ptr<ReverbInstance>& room) noexcept;
    bool retire(clip::SoundRef& sound) noexcept;
    size_t freeSlots() const noexcept;

    // The consumer: frees everything retired so far; returns how many.
    size_t reap() noexcept;

    // Free on the retiring thread (inline building).
    void setFreeAtOnce(bool atOnce) noexcept { freeAtOnce_ = atOnce; }

private:
    struct Slot {
        std::unique_ptr<RoomSet> set;
        std::unique_ptr<ReverbInstance> room;
        clip::SoundRef sound;
    };
    template <class T> bool put(T& object, T Slot::*member) noexcept;

    std::array<Slot, kSlots> slots_{};
    std::atomic<uint64_t> written_{0}; // advanced by the engine thread after filling a slot
    std::atomic<uint64_t> read_{0};    // advanced by the consumer after emptying one
    bool freeAtOnce_ = false;
};

class RoomBuilder {
public:
    enum class Mode { Inline, Stepped, Threaded };

    explicit RoomBuilder(EnvironmentFactory& environments);
    ~RoomBuilder(); // stops the thread, frees what is left
    RoomBuilder(const RoomBuilder&) = delete;
    RoomBuilder& operator=(const RoomBuilder&) = delete;

    // Before the engine runs: the rate to build at, and whether the cavern's
    // voice runs on the convolution (then its set has no voice room).
    void configure(double sampleRate, bool cavernOnConvolution) noexcept;
    // Before the engine runs. Threaded starts the thread; any other mode stops it.
    void setMode(Mode mode);
    Mode mode() const noexcept { return mode_; }

    // Engine thread: asks for the set of preset (the latest ask wins), and
    // takes a finished set, when there is one.
    void request(int preset) noexcept;
    std::unique_ptr<RoomSet> take() noexcept;
    Reaper& reaper() noexcept { return reaper_; }

    // The builder's work: frees what was retired, then builds the latest
    // asked-for set unless it is already waiting. Returns whether it built.
    bool step();
    // The sets built so far (for tests and benchmarks).
    uint64_t built() const noexcept { return built_.load(std::memory_order_relaxed); }

private:
    std::unique_ptr<RoomSet> build(int preset);
    void stopThread();

    EnvironmentFactory& environments_;
    double sampleRate_ = 48000.0;
    bool cavernOnConvolution_ = false;
    Mode mode_ = Mode::Inline;
    Reaper reaper_;

    // Engine thread writes, builder reads: the preset asked for and a count of asks.
    std::atomic<int> wanted_{0};
    std::atomic<uint64_t> asked_{0};
    uint64_t answered_ = 0; // builder side: the ask the last set was built for
    // Builder writes a finished set; the engine takes it (or the builder
    // takes back a stale one) by exchange.
    std::atomic<RoomSet*> ready_{nullptr};
    std::atomic<uint64_t> built_{0};

    std::thread thread_;
    std::mutex wakeLock_;
    std::condition_variable wake_;
    bool stopping_ = false; // guarded by wakeLock_
};

} // namespace engine
