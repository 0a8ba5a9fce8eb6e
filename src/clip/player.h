#pragma once
// The streaming clip player: one clip at a time (a local file, a direct audio
// link, or a page fetched by the download helper) decoded on a detached
// worker thread through the platform reader, converted to 48 kHz stereo
// float and streamed through a 6 s ring that the engine pulls once per block.
// The engine holds the ring's lock for one copy and never waits for the
// decoder; a superseded decode thread notices the generation change and ends
// without touching anything but its own reader.

#include "clip/clip_log.h"
#include "engine/mix_sources.h"
#include "platform/clock.h"
#include "platform/media.h"
#include "platform/processes.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace clip {

enum class PlayerState : int32_t { Idle = 0, Buffering = 1, Playing = 2, Ended = 3, Failed = 4 };

inline constexpr size_t kRingFloats = 576000;    // 6 s of stereo at 48 kHz
inline constexpr size_t kOpenThreshold = 96000;  // 1 s of stereo floats
inline constexpr size_t kSeekThreshold = 28800;  // 0.3 s
inline constexpr size_t kPushChunkFloats = 4096; // most floats copied per lock
inline constexpr int64_t kFullRingWaitMicros = 5000;

// What the page branch of a decode may ask of the player while the download
// helper fetches a page's sound (on the decode thread).
class PageDecode {
public:
    virtual ~PageDecode() = default;
    // The decode was stopped or superseded.
    virtual bool cancelled() const = 0;
    // The Sound Clip tab's status text, while the decode is current.
    virtual void setStatus(const std::wstring& text) = 0;
    // Makes file the player's source (so that a seek re-opens the file, not
    // the page) and streams it; false with message when it has no playable
    // sound or the decode was cancelled.
    virtual bool streamFile(const std::wstring& file, std::wstring& message) = 0;
    // The helper's unpacking failed (its output named its packer): set by
    // the run, taken (and cleared) by the repair.
    virtual void markHelperSuspect() = 0;
    virtual bool takeHelperSuspect() = 0;
    // The running helper's killer, claimed and released by compare-and-swap:
    // whoever takes it out owns it. stop() takes what it finds and ends it.
    virtual std::atomic<platform::RunKiller*>& helperJob() = 0;
};

// The download helper's half of a page link (the web clip fetch): gets the
// page's sound for the decode of generation and streams it through decode.
// True when it played; false with message (empty: the player's own text).
using PageFetch
    = std::function<bool(const std::wstring& link, uint32_t generation, PageDecode& decode, std::wstring& message)>;

class Player final : public engine::ClipSource {
public:
    // log may be null. The clock paces the decoder's waits on a full ring.
    Player(platform::Media& media, platform::Clock& clock, ClipLog* log);
    // Stops, then waits for running decode threads to notice (at their next
    // check), since they use this object until they end.
    ~Player() override;
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    // Interface thread.
    void open(const std::wstring& source, double startSeconds);
    void stop();
    // The Play/Pause button: pauses or resumes a running clip; in any other
    // state opens sourceField at 0 s.
    void playPause(const std::wstring& sourceField);
    void seek(double seconds);
    void setPageFetch(PageFetch fetch);

    // What the page shows.
    PlayerState state() const { return static_cast<PlayerState>(state_.load()); }
    bool isPaused() const { return paused_.load() != 0; }
    double duration() const { return duration_.load(); }
    double position() const { return position_.load(); }
    std::wstring statusText() const;
    std::wstring source() const;
    uint32_t seekCount() const { return seekCount_.load(); }
    int32_t activeDecodes() const { return activeDecodes_.load(); }
    bool decodeFinished() const { return decodeFinished_.load() != 0; }

    // engine::ClipSource, engine thread. read() fills all n frames (silence
    // where nothing was delivered) and returns the frames delivered.
    bool active() const noexcept override;
    bool paused() const noexcept override { return paused_.load() != 0; }
    uint32_t clipGeneration() const noexcept override { return generation_.load(); }
    uint32_t read(float* left, float* right, uint32_t n) noexcept override;

private:
    // One decode thread's own: its generation and the event that stop() and
    // the next open() set to cut its waits on a full ring short.
    struct DecodeJob {
        std::wstring source;
        uint32_t generation = 0;
        double startSeconds = 0.0;
        std::shared_ptr<platform::Event> wake;
        PageFetch pageFetch;
    };

    class PageDecodeOf;
    void decode(const DecodeJob& job);
    bool stream(const std::wstring& source, const DecodeJob& job, std::wstring& message);
    bool push(const float* interleaved, size_t count, const DecodeJob& job);
    bool applySeek(double target, uint32_t generation);
    bool current(uint32_t generation) const;
    void log(const std::wstring& text);
    void logf(const char* format, ...);

    platform::Media& media_;
    platform::Clock& clock_;
    ClipLog* log_;
    PageFetch pageFetch_;

    std::atomic<int32_t> state_{0};
    std::atomic<uint8_t> stopFlag_{0};
    std::atomic<uint32_t> generation_{0};
    std::atomic<uint8_t> decodeFinished_{0};
    std::atomic<uint8_t> paused_{0};
    std::atomic<uint8_t> helperSuspect_{0};
    std::atomic<platform::RunKiller*> helperJob_{nullptr}; // owned by whoever takes it out
    std::atomic<double> duration_{0.0};
    std::atomic<double> position_{0.0};
    std::atomic<double> pendingSeek_{-1.0};
    std::atomic<uint32_t> seekCount_{0};
    std::atomic<int32_t> activeDecodes_{0};

    // Guards the ring, its indices and fill, the status text, the source and
    // the current wake event; every change of state and generation is made
    // under it too, so a decode thread's check-then-report cannot interleave
    // with open() or stop().
    mutable std::mutex lock_;
    std::shared_ptr<platform::Event> wake_;
    std::wstring statusText_;
    std::wstring source_;
    std::vector<float> ring_;
    size_t readIndex_ = 0, writeIndex_ = 0, fill_ = 0;
    double basePosition_ = 0.0;
    int64_t framesPlayed_ = 0;
    size_t startThreshold_ = kOpenThreshold;
    double rebufferSeconds_ = 0.5;
};

} // namespace clip
