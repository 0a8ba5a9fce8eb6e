#pragma once
// The device thread: one per engine, for the engine's whole life. While the
// voice flows the engine never opens, starts, stops, closes or frees a stream
// and never looks an endpoint up: it posts a job and takes the result at a
// later packet, so an output that is slow to open never stalls the other one
// and the engine thread neither allocates nor frees for a device.
//
// Two single-producer single-consumer rings of preallocated slots carry the
// jobs (engine thread → device thread) and their results (device thread →
// engine thread). A slot carries what its job needs by value: endpoint ids in
// fixed arrays, the streams the engine retires. The engine holds at most one
// open of each kind in flight, so the results never outnumber their ring.

#include "engine/audio_io.h"
#include "platform/audio_endpoints.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace engine {

// An endpoint id held in place, so that the engine thread copies and compares
// ids without allocating. Ids are far shorter than its capacity (a Windows
// endpoint id has 55 characters); a longer one is cut, and a cut id opens
// nothing.
class EndpointId {
public:
    static constexpr size_t kCapacity = 256;

    EndpointId() = default;
    explicit EndpointId(std::wstring_view id) noexcept { assign(id); }
    void assign(std::wstring_view id) noexcept;
    void clear() noexcept { size_ = 0; }
    bool empty() const noexcept { return size_ == 0; }
    std::wstring_view view() const noexcept { return {chars_.data(), size_}; }
    // Device thread (allocates).
    std::wstring str() const { return std::wstring(view()); }
    friend bool operator==(const EndpointId& a, const EndpointId& b) noexcept { return a.view() == b.view(); }

private:
    std::array<wchar_t, kCapacity> chars_{};
    size_t size_ = 0;
};

enum class DeviceJobKind : uint8_t {
    Retire,      // close and free what the slot carries
    OpenMonitor, // find the monitor endpoint for some needs and open it
    OpenCable,   // open the cable output again
    OpenMic,     // open the chosen microphone again
};

// What the monitor job found.
enum class MonitorOutcome : uint8_t {
    NotWanted, // the needs want no monitor
    Kept,      // the open monitor is already on the wanted endpoint
    Waiting,   // a new endpoint is wanted, but its open waits for the back-off
    Opened,    // opened on the wanted endpoint
    Failed,    // the open of the wanted endpoint failed
};

// One job and, on its way back, its result. The engine fills the fields its
// job reads; the device thread fills the results.
struct DeviceJob {
    DeviceJobKind kind = DeviceJobKind::Retire;

    // OpenMonitor: the needs (kMonitorFor... bits), the endpoint the monitor
    // is open on (empty: closed), the endpoint wanted so far, and whether the
    // back-off lets an open be tried (a newly wanted endpoint is always tried).
    uint8_t monitorNeeds = 0;
    EndpointId monitorOpenOn;
    EndpointId monitorWantedSoFar;
    bool mayOpen = true;
    // OpenCable: the cable endpoint. Results: the endpoint opened or wanted.
    EndpointId endpoint;
    bool raw = false;    // OpenMic: ask for the raw capture first
    uint32_t frames = 0; // scratch frames a new output is given

    // Retire: what the engine lets go of. Results: what was opened.
    RenderOutput output;
    std::unique_ptr<platform::AudioClient> captureClient;
    std::unique_ptr<platform::CaptureService> captureService;
    uint32_t captureBufferFrames = 0;
    MonitorOutcome monitorOutcome = MonitorOutcome::NotWanted;

    // Stops and frees every stream the slot holds (device thread, or any
    // thread once the device thread has ended).
    void closeStreams() noexcept;
};

// A fixed ring of slots with one writer and one reader. The writer fills the
// slot writeSlot() gives and publishes it; the reader works on readSlot() in
// place and releases it. Neither waits: a full or empty ring gives null.
template <class T, size_t N> class SlotRing {
public:
    T* writeSlot() noexcept
    {
        const uint64_t w = written_.load(std::memory_order_relaxed);
        return w - read_.load(std::memory_order_acquire) >= N ? nullptr : &slots_[w % N];
    }
    void publish() noexcept { written_.store(written_.load(std::memory_order_relaxed) + 1, std::memory_order_release); }
    T* readSlot() noexcept
    {
        const uint64_t r = read_.load(std::memory_order_relaxed);
        return written_.load(std::memory_order_acquire) == r ? nullptr : &slots_[r % N];
    }
    void release() noexcept { read_.store(read_.load(std::memory_order_relaxed) + 1, std::memory_order_release); }
    // Either side: nothing is waiting to be read.
    bool empty() const noexcept
    {
        return written_.load(std::memory_order_acquire) == read_.load(std::memory_order_acquire);
    }

private:
    std::array<T, N> slots_{};
    std::atomic<uint64_t> written_{0};
    std::atomic<uint64_t> read_{0};
};

class DeviceThread {
public:
    static constexpr size_t kJobSlots = 16;
    static constexpr size_t kResultSlots = 8;
    // Runs one open job on the device thread and fills in its result.
    using Runner = std::function<void(DeviceJob&)>;

    // Starts the thread.
    explicit DeviceThread(Runner runner);
    ~DeviceThread(); // stop()
    DeviceThread(const DeviceThread&) = delete;
    DeviceThread& operator=(const DeviceThread&) = delete;

    // Engine thread: the slot for the next job, null when the ring is full;
    // post() hands it over (and wakes the thread).
    DeviceJob* jobSlot() noexcept { return jobs_.writeSlot(); }
    void post() noexcept;
    // Engine thread: the oldest result, null when none; done() frees its slot.
    // Whatever the engine leaves in the slot is freed on the device thread.
    DeviceJob* result() noexcept { return results_.readSlot(); }
    void done() noexcept { results_.release(); }

    // Blocks until every posted job has been run (tests, and closing the
    // session while the voice does not flow).
    void waitIdle();
    // Runs what is left of the jobs and ends the thread; results stay to be taken.
    void stop();

private:
    void loop();

    Runner runner_;
    SlotRing<DeviceJob, kJobSlots> jobs_;
    SlotRing<DeviceJob, kResultSlots> results_;
    std::mutex lock_;              // held to check or change the waits' conditions only
    std::condition_variable wake_; // the device thread waits for jobs
    std::condition_variable idle_; // waitIdle() waits for the jobs to be run
    bool stopping_ = false;        // guarded by lock_
    std::thread thread_;
};

} // namespace engine
