#include "engine/room_builder.h"

#include <chrono>
#include <new>

namespace engine {

namespace {
// How often the builder thread looks for work: a room change waits at most
// this long, plus the build, before the engine can swap it in.
constexpr auto kBuilderPoll = std::chrono::milliseconds(2);
} // namespace

template <class T> bool Reaper::put(T& object, T Slot::*member) noexcept
{
    if (!object)
        return true;
    if (freeAtOnce_) {
        object.reset();
        return true;
    }
    const uint64_t w = written_.load(std::memory_order_relaxed);
    if (w - read_.load(std::memory_order_acquire) >= kSlots)
        return false;
    slots_[w % kSlots].*member = std::move(object);
    written_.store(w + 1, std::memory_order_release);
    return true;
}

bool Reaper::retire(std::unique_ptr<RoomSet>& set) noexcept
{
    return put(set, &Slot::set);
}

bool Reaper::retire(std::unique_ptr<ReverbInstance>& room) noexcept
{
    return put(room, &Slot::room);
}

bool Reaper::retire(clip::SoundRef& sound) noexcept
{
    return put(sound, &Slot::sound);
}

size_t Reaper::freeSlots() const noexcept
{
    return kSlots
        - static_cast<size_t>(written_.load(std::memory_order_relaxed) - read_.load(std::memory_order_acquire));
}

size_t Reaper::reap() noexcept
{
    const uint64_t w = written_.load(std::memory_order_acquire);
    uint64_t r = read_.load(std::memory_order_relaxed);
    const size_t count = static_cast<size_t>(w - r);
    for (; r != w; ++r) {
        Slot& s = slots_[r % kSlots];
        s.set.reset();
        s.room.reset();
        s.sound.reset();
        read_.store(r + 1, std::memory_order_release);
    }
    return count;
}

RoomBuilder::RoomBuilder(EnvironmentFactory& environments) : environments_(environments)
{
    reaper_.setFreeAtOnce(true);
}

RoomBuilder::~RoomBuilder()
{
    stopThread();
    reaper_.reap();
    delete ready_.exchange(nullptr);
}

void RoomBuilder::configure(double sampleRate, bool cavernOnConvolution) noexcept
{
    sampleRate_ = sampleRate;
    cavernOnConvolution_ = cavernOnConvolution;
}

void RoomBuilder::setMode(Mode mode)
{
    stopThread();
    mode_ = mode;
    reaper_.setFreeAtOnce(mode == Mode::Inline);
    if (mode != Mode::Threaded)
        return;
    stopping_ = false;
    thread_ = std::thread([this] {
        for (;;) {
            step();
            std::unique_lock<std::mutex> lock(wakeLock_);
            if (wake_.wait_for(lock, kBuilderPoll, [this] { return stopping_; }))
                return;
        }
    });
}

void RoomBuilder::stopThread()
{
    if (!thread_.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(wakeLock_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void RoomBuilder::request(int preset) noexcept
{
    wanted_.store(preset, std::memory_order_relaxed);
    asked_.fetch_add(1, std::memory_order_release);
    if (mode_ == Mode::Inline)
        step();
}

std::unique_ptr<RoomSet> RoomBuilder::take() noexcept
{
    if (ready_.load(std::memory_order_relaxed) == nullptr)
        return nullptr;
    return std::unique_ptr<RoomSet>(ready_.exchange(nullptr, std::memory_order_acq_rel));
}

std::unique_ptr<RoomSet> RoomBuilder::build(int preset)
{
    auto set = std::make_unique<RoomSet>();
    set->preset = preset;
    const bool onConvolution = cavernOnConvolution_ && preset == kCavernPreset;
    if (!onConvolution)
        set->voice = environments_.makeRoom(sampleRate_, preset);
    set->bus0 = environments_.makeRoom(sampleRate_, preset);
    set->bus1 = environments_.makeRoom(sampleRate_, preset);
    if (preset == kCavernPreset) {
        if (!onConvolution)
            set->voiceCavern = environments_.makeCavern(sampleRate_);
        set->bus0Cavern = environments_.makeCavern(sampleRate_);
        set->bus1Cavern = environments_.makeCavern(sampleRate_);
    }
    return set;
}

bool RoomBuilder::step()
{
    reaper_.reap();
    const uint64_t asked = asked_.load(std::memory_order_acquire);
    if (asked == answered_)
        return false;
    const int preset = wanted_.load(std::memory_order_relaxed);
    // A set still waiting for the engine is kept when it is the one wanted,
    // and freed here when the engine has moved on.
    std::unique_ptr<RoomSet> waiting(ready_.exchange(nullptr, std::memory_order_acq_rel));
    if (waiting && waiting->preset == preset) {
        answered_ = asked;
        ready_.store(waiting.release(), std::memory_order_release);
        return false;
    }
    waiting.reset();
    std::unique_ptr<RoomSet> set;
    try {
        set = build(preset);
    } catch (const std::bad_alloc&) {
        return false; // out of memory: the engine keeps its rooms, and the build is tried again
    }
    answered_ = asked;
    ready_.store(set.release(), std::memory_order_release);
    built_.fetch_add(1, std::memory_order_relaxed);
    return true;
}

} // namespace engine
