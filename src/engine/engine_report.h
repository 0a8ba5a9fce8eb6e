#pragma once
// What the engine tells the rest of the program: once per block a snapshot of
// everything the interface shows, published through a seqlock so that any
// number of readers copy it whole without ever holding up the engine; an
// event ring for one-off events, read by one consumer (the interface); and
// the output peak, raised by the engine and read-and-cleared by exactly one
// reader (the meter). Texts are made from the codes where they are shown.

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>
#include <type_traits>

namespace engine {

// cableStatus values.
inline constexpr int32_t kCableNotRunning = 0;
inline constexpr int32_t kCableOpen = 1;
inline constexpr int32_t kCableMissing = 2; // no cable endpoint found
inline constexpr int32_t kCableRefused = 3; // found but could not be opened

enum class EngineStatus : uint8_t {
    Ok,
    MicFailed, // the microphone could not be opened; retried about once a second
};

// One immutable snapshot. Plain values only, so that it is copied as bytes.
struct EngineReport {
    uint64_t blocks = 0; // blocks run since the engine thread started
    EngineStatus status = EngineStatus::Ok;
    bool running = false;     // devices open and blocks flowing
    bool monitorOpen = false; // the monitor output is open
    bool irLoaded = false;    // the cavern's impulse response file was loaded
    int32_t cableStatus = kCableNotRunning;
    int32_t blockPeak = 0; // largest |cable sample| x 10000 of the last block
    int32_t speedLatencyMs = 0;
    int32_t detectedPitchHz = 0; // 0 while the voice changer is off
    int32_t targetPitchHz = 0;
    bool glitching = false;     // the glitch repeater sounds: held, in its tail or ramping out
    bool glitchKeyHeld = false; // the glitch hotkey counts as held
    bool clipLive = false;      // the clip bus (clips and pads) is playing or ringing out
    bool appLive = false;       // application audio is playing or ringing out
};

enum class EngineEventKind : uint8_t {
    DeviceLost,      // capture or cable failed while running; re-opened after a second
    CableRefused,    // a cable endpoint exists but could not be opened
    MonitorLost,     // the monitor output failed and was closed; tried again later
    MicReopened,     // a microphone re-open swapped the capture
    MicReopenFailed, // a microphone re-open failed; the old capture stays
};

struct EngineEvent {
    EngineEventKind kind = EngineEventKind::DeviceLost;
};

// A value written by one thread and copied whole by any number of others. The
// writer never waits; a reader retries while a write is under way. The value
// is kept as atomic words, so a copy that races a write is detected by the
// sequence, never undefined.
template <class T> class Seqlock {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    // Writer thread only.
    void publish(const T& value) noexcept
    {
        uint64_t words[kWords] = {};
        std::memcpy(words, &value, sizeof(T));
        const uint64_t seq = seq_.load(std::memory_order_relaxed);
        seq_.store(seq + 1, std::memory_order_relaxed); // odd: a write is under way
        std::atomic_thread_fence(std::memory_order_release);
        for (size_t i = 0; i < kWords; ++i)
            words_[i].store(words[i], std::memory_order_relaxed);
        seq_.store(seq + 2, std::memory_order_release);
    }

    // Any thread: the last value published, whole.
    T read() const noexcept
    {
        uint64_t words[kWords];
        for (int attempt = 0;; ++attempt) {
            const uint64_t before = seq_.load(std::memory_order_acquire);
            if ((before & 1) == 0) {
                for (size_t i = 0; i < kWords; ++i)
                    words[i] = words_[i].load(std::memory_order_relaxed);
                std::atomic_thread_fence(std::memory_order_acquire);
                if (seq_.load(std::memory_order_relaxed) == before)
                    break;
            }
            if (attempt > 64)
                std::this_thread::yield(); // the writer was preempted mid-copy
        }
        T value;
        std::memcpy(&value, words, sizeof(T));
        return value;
    }

private:
    static constexpr size_t kWords = (sizeof(T) + 7) / 8;
    std::atomic<uint64_t> seq_{0};
    std::array<std::atomic<uint64_t>, kWords> words_{};
};

// A single-producer single-consumer ring of Capacity - 1 entries (a power of
// two). The producer drops an entry that does not fit rather than wait.
template <class T, size_t Capacity> class SpscRing {
    static_assert((Capacity & (Capacity - 1)) == 0 && Capacity >= 2);

public:
    // Producer only. false: the ring was full and the entry was dropped.
    bool push(const T& value) noexcept
    {
        const size_t write = write_.load(std::memory_order_relaxed);
        if (write - read_.load(std::memory_order_acquire) >= Capacity - 1)
            return false;
        slots_[write & (Capacity - 1)] = value;
        write_.store(write + 1, std::memory_order_release);
        return true;
    }
    // Consumer only. false: empty.
    bool pop(T& value) noexcept
    {
        const size_t read = read_.load(std::memory_order_relaxed);
        if (read == write_.load(std::memory_order_acquire))
            return false;
        value = slots_[read & (Capacity - 1)];
        read_.store(read + 1, std::memory_order_release);
        return true;
    }

private:
    std::array<T, Capacity> slots_{};
    std::atomic<size_t> write_{0};
    std::atomic<size_t> read_{0};
};

class EngineReports {
public:
    // Any thread: the last snapshot.
    EngineReport latest() const noexcept { return snapshot_.read(); }
    // The interface only: the next one-off event, oldest first.
    bool nextEvent(EngineEvent& event) noexcept { return events_.pop(event); }
    // The meter only: the output peak since the last call, cleared in the same step.
    int32_t takeOutputPeak() noexcept { return outputPeak_.exchange(0, std::memory_order_relaxed); }

    // Engine thread.
    void publish(const EngineReport& report) noexcept { snapshot_.publish(report); }
    void post(EngineEvent event) noexcept { eventsDropped_ += events_.push(event) ? 0 : 1; }
    // Raises the output peak to peak if it is larger; never lowers it.
    void raiseOutputPeak(int32_t peak) noexcept
    {
        int32_t seen = outputPeak_.load(std::memory_order_relaxed);
        while (peak > seen && !outputPeak_.compare_exchange_weak(seen, peak, std::memory_order_relaxed)) { }
    }
    uint64_t eventsDropped() const noexcept { return eventsDropped_; } // engine thread

private:
    Seqlock<EngineReport> snapshot_;
    SpscRing<EngineEvent, 64> events_;
    std::atomic<int32_t> outputPeak_{0}; // largest |cable sample| x 10000 since the last take
    uint64_t eventsDropped_ = 0;
};

} // namespace engine
