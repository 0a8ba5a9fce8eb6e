#include "clip/player.h"

#include "clip/messages.h"
#include "clip/reader.h"
#include "clip/source_check.h"
#include "media/format_converter.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <thread>

namespace clip {

namespace {

constexpr double kRate = platform::kSampleRate;
constexpr double kTicksPerSecond = 1e7; // the reader's positions are in 100 ns units
constexpr double kMaxRebufferSeconds = 2.0;
constexpr double kSeekEndMargin = 0.5; // a seek lands at least this far before the end

enum : int32_t {
    kStateIdle = static_cast<int32_t>(PlayerState::Idle),
    kStateBuffering = static_cast<int32_t>(PlayerState::Buffering),
    kStatePlaying = static_cast<int32_t>(PlayerState::Playing),
    kStateEnded = static_cast<int32_t>(PlayerState::Ended),
    kStateFailed = static_cast<int32_t>(PlayerState::Failed),
};

size_t stereoFloats(double seconds)
{
    return static_cast<size_t>(seconds * kRate) * 2;
}

} // namespace

Player::Player(platform::Media& media, platform::Clock& clock, ClipLog* log) : media_(media), clock_(clock), log_(log)
{ }

Player::~Player()
{
    stop();
    // Decode threads are detached; each ends at its next generation check
    // (after one read, or at once from a full-ring wait, which stop() cuts short).
    while (activeDecodes_.load() > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void Player::open(const std::wstring& sourceText, double startSeconds)
{
    stop();
    const std::wstring source = trimSource(sourceText);
    const SourceCheck check = validateSource(source);
    if (!check.ok) {
        {
            std::lock_guard lock(lock_);
            statusText_ = check.message;
            state_.store(kStateFailed);
        }
        duration_.store(0.0);
        position_.store(0.0);
        log(L"REJECTED source: " + check.message);
        return;
    }
    if (!(startSeconds > 0.0))
        startSeconds = 0.0; // also NaN
    stopFlag_.store(0);
    decodeFinished_.store(0);
    paused_.store(0);
    pendingSeek_.store(-1.0);

    DecodeJob job;
    job.source = source;
    job.startSeconds = startSeconds;
    job.wake = clock_.createEvent(true);
    job.pageFetch = pageFetch_;
    // Only open() changes the ring's storage, so it is made outside the lock
    // that the engine takes each block, and swapped in.
    std::vector<float> ring;
    if (ring_.empty())
        ring.assign(kRingFloats, 0.0f);
    {
        std::lock_guard lock(lock_);
        if (!ring.empty())
            ring_.swap(ring);
        startThreshold_ = kOpenThreshold;
        rebufferSeconds_ = 0.5;
        fill_ = readIndex_ = writeIndex_ = 0;
        statusText_ = kOpening;
        source_ = source;
        basePosition_ = startSeconds;
        framesPlayed_ = 0;
        seekCount_.fetch_add(1);
        position_.store(startSeconds);
        duration_.store(0.0);
        state_.store(kStateBuffering);
        job.generation = generation_.fetch_add(1) + 1;
        wake_ = job.wake;
    }
    // Counted before the thread exists, so that the destructor never misses one.
    activeDecodes_.fetch_add(1);
    try {
        std::thread([this, job = std::move(job)] { decode(job); }).detach();
    } catch (...) {
        activeDecodes_.fetch_sub(1);
        throw;
    }
}

void Player::stop()
{
    stopFlag_.store(1);
    // A running download helper ends with everything it started.
    if (std::unique_ptr<platform::RunKiller> helper{helperJob_.exchange(nullptr)})
        helper->terminate();
    {
        std::lock_guard lock(lock_);
        generation_.fetch_add(1);
        fill_ = readIndex_ = writeIndex_ = 0;
        state_.store(kStateIdle);
        if (wake_)
            wake_->set();
        wake_.reset();
    }
    seekCount_.fetch_add(1);
    decodeFinished_.store(0);
    paused_.store(0);
    position_.store(0.0);
}

void Player::playPause(const std::wstring& sourceField)
{
    const int32_t state = state_.load();
    if (state == kStateBuffering || state == kStatePlaying)
        paused_.store(paused_.load() ? 0 : 1);
    else
        open(sourceField, 0.0);
}

void Player::seek(double seconds)
{
    const int32_t state = state_.load();
    const double duration = duration_.load();
    if (state < kStateBuffering || state > kStateEnded || !(duration > 0.0))
        return;
    const double last = std::max(0.0, duration - kSeekEndMargin);
    const double target = std::isnan(seconds) ? 0.0 : std::clamp(seconds, 0.0, last);
    logf("seek to %.2f s (at %.2f, state %d)", target, position_.load(), state);
    std::wstring reopen;
    {
        // Under the lock, so that a decode thread reaching the end either
        // sees this seek and carries it out, or has already finished and the
        // seek re-opens.
        std::lock_guard lock(lock_);
        if (state_.load() != kStateEnded && !decodeFinished_.load()) {
            pendingSeek_.store(target);
            position_.store(target);
            return;
        }
        reopen = source_;
    }
    open(reopen, target);
    duration_.store(duration); // the new decode reads it again; until then the page keeps showing it
}

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
    return state == kStateBuffering || state == kStatePlaying;
}

uint32_t Player::read(float* left, float* right, uint32_t n) noexcept
{
    std::lock_guard lock(lock_);
    int32_t state = state_.load();
    const bool finished = decodeFinished_.load() != 0;
    const bool paused = paused_.load() != 0;
    const bool seekPending = pendingSeek_.load() >= 0.0;
    if (state == kStateBuffering && (fill_ >= startThreshold_ || finished))
        state = kStatePlaying;

    uint32_t delivered = 0;
    if (!ring_.empty() && state == kStatePlaying && !paused) {
        // The ring's size is even, so a frame never straddles the wrap.
        const size_t size = ring_.size();
        const uint32_t frames = static_cast<uint32_t>(std::min<size_t>(n, fill_ / 2));
        const float* ring = ring_.data();
        size_t index = readIndex_;
        for (; delivered < frames; ++delivered) {
            left[delivered] = ring[index];
            right[delivered] = ring[index + 1];
            index += 2;
            if (index == size)
                index = 0;
        }
        readIndex_ = index;
        fill_ -= size_t{frames} * 2;
        if (delivered > 0 && !seekPending) {
            framesPlayed_ += delivered;
            position_.store(static_cast<double>(framesPlayed_) / kRate + basePosition_);
        }
    }
    if (delivered < n && state == kStatePlaying && !finished && !paused && !seekPending) {
        state = kStateBuffering;
        startThreshold_ = stereoFloats(rebufferSeconds_);
        rebufferSeconds_ = std::min(kMaxRebufferSeconds, rebufferSeconds_ * 2.0);
    }
    for (uint32_t i = delivered; i < n; ++i)
        left[i] = right[i] = 0.0f;
    if (fill_ < 2 && finished && state == kStatePlaying)
        state = kStateEnded;
    if (state != state_.load())
        state_.store(state);
    return delivered;
}

bool Player::current(uint32_t generation) const
{
    return generation_.load() == generation && !stopFlag_.load();
}

void Player::log(const std::wstring& text)
{
    if (log_)
        log_->line(text);
}

void Player::logf(const char* format, ...)
{
    if (!log_)
        return;
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    log_->line(std::string_view(text));
}

// The page branch's view of one decode.
class Player::PageDecodeOf final : public PageDecode {
public:
    PageDecodeOf(Player& player, const DecodeJob& job) : player_(player), job_(job) { }
    bool cancelled() const override { return !player_.current(job_.generation); }
    void setStatus(const std::wstring& text) override
    {
        std::lock_guard lock(player_.lock_);
        if (player_.current(job_.generation))
            player_.statusText_ = text;
    }
    bool streamFile(const std::wstring& file, std::wstring& message) override
    {
        {
            std::lock_guard lock(player_.lock_);
            if (!player_.current(job_.generation))
                return false;
            player_.source_ = file; // a seek re-opens the file, not the page
        }
        return player_.stream(file, job_, message);
    }
    void markHelperSuspect() override { player_.helperSuspect_.store(1); }
    bool takeHelperSuspect() override { return player_.helperSuspect_.exchange(0) != 0; }
    std::atomic<platform::RunKiller*>& helperJob() override { return player_.helperJob_; }

private:
    Player& player_;
    const DecodeJob& job_;
};

void Player::decode(const DecodeJob& job)
{
    {
        const std::shared_ptr<void> apartment = media_.enterWorkerThread();
        log(L"---- start: " + job.source);
        std::wstring message;
        bool ok = false;
        if (!media_.available()) {
            message = kNoMediaFoundation;
        } else if (const SourceCheck check = validateSource(job.source); !check.ok) {
            message = check.message;
        } else if (check.isWeb && needsHelper(job.source)) {
            // A page: the download helper saves its sound to a file first.
            PageDecodeOf page(*this, job);
            ok = job.pageFetch && job.pageFetch(job.source, job.generation, page, message);
        } else {
            ok = stream(job.source, job, message);
        }
        if (!ok && message.empty())
            message = kNoSoundFromLink;
        bool report = false;
        {
            std::lock_guard lock(lock_);
            report = current(job.generation);
            if (report && !ok) {
                statusText_ = message;
                state_.store(kStateFailed);
            }
        }
        if (report)
            log(ok ? std::wstring(L"done") : L"FAILED: " + message);
    }
    // The last touch of this object: the destructor waits for it.
    activeDecodes_.fetch_sub(1);
}

bool Player::stream(const std::wstring& source, const DecodeJob& job, std::wstring& message)
{
    const uint32_t generation = job.generation;
    log(L"open: " + source);
    OpenedReader opened = openReader(media_, source, platform::ReaderUse::Streaming);
    if (opened.failure == OpenFailure::CannotOpen) {
        logf("MFCreateSourceReaderFromURL failed 0x%08lx", static_cast<unsigned long>(opened.code));
        message = kCannotOpenLink;
        return false;
    }
    if (opened.failure == OpenFailure::NoFormat) {
        log(L"no audio type could be set (no decoder for it)");
        message = kUnplayableFormat;
        return false;
    }
    if (!opened.layout.readerConverts)
        log(L"converting the sound to 48 kHz stereo here");
    platform::MediaReader& reader = *opened.reader;
    media::FormatConverter converter(opened.layout);

    if (const std::optional<int64_t> ticks = reader.duration(); ticks && current(generation))
        duration_.store(static_cast<double>(*ticks) / kTicksPerSecond);
    if (job.startSeconds > 0.0) {
        const bool accepted = reader.setPosition(static_cast<int64_t>(job.startSeconds * kTicksPerSecond));
        applySeek(accepted ? job.startSeconds : 0.0, generation);
    }
    {
        std::lock_guard lock(lock_);
        if (current(generation))
            statusText_ = kPlaying;
    }

    std::vector<float> out;
    bool gotData = false;
    bool failed = false;
    int64_t framesPushed = 0;
    while (current(generation)) {
        if (pendingSeek_.load() >= 0.0) {
            const double target = pendingSeek_.exchange(-1.0);
            if (target >= 0.0) {
                const bool applied = reader.setPosition(static_cast<int64_t>(target * kTicksPerSecond))
                    && applySeek(target, generation);
                if (applied)
                    converter.restart();
                logf("seek %s at %.2f s", applied ? "applied" : "REFUSED", target);
            }
        }
        platform::MediaSample sample;
        platform::MediaCode code = platform::kMediaOk;
        const platform::ReadStatus status = reader.read(sample, code);
        if (status == platform::ReadStatus::Error) {
            logf("ReadSample failed 0x%08lx", static_cast<unsigned long>(code));
            message = kStoppedHalfway;
            failed = true;
            break;
        }
        if (status == platform::ReadStatus::EndOfStream) {
            // Decided under the lock: a seek either arrives before this and is
            // carried out, or sees the decode finished and re-opens.
            std::lock_guard lock(lock_);
            if (pendingSeek_.load() >= 0.0)
                continue;
            if (gotData && current(generation))
                decodeFinished_.store(1);
            break;
        }
        if (status == platform::ReadStatus::NoData || sample.bytes.empty())
            continue;
        gotData = true;
        out.clear();
        converter.convert(sample.bytes, out);
        if (!push(out.data(), out.size(), job))
            break;
        framesPushed += static_cast<int64_t>(out.size() / 2);
    }
    logf("decoded %ld frames (%.1f s)", static_cast<long>(framesPushed), static_cast<double>(framesPushed) / kRate);
    return gotData && !failed;
}

bool Player::push(const float* interleaved, size_t count, const DecodeJob& job)
{
    size_t done = 0;
    while (done < count) {
        if (pendingSeek_.load() >= 0.0)
            return true; // the data belongs to the old position
        bool full = false;
        {
            std::lock_guard lock(lock_);
            if (!current(job.generation))
                return false;
            const size_t size = ring_.size();
            const size_t chunk = std::min({count - done, size - fill_, kPushChunkFloats});
            const size_t first = std::min(chunk, size - writeIndex_);
            std::memcpy(ring_.data() + writeIndex_, interleaved + done, first * sizeof(float));
            std::memcpy(ring_.data(), interleaved + done + first, (chunk - first) * sizeof(float));
            writeIndex_ = (writeIndex_ + chunk) % size;
            fill_ += chunk;
            done += chunk;
            full = fill_ == size;
        }
        if (full)
            clock_.wait(*job.wake, kFullRingWaitMicros);
    }
    return true;
}

bool Player::applySeek(double target, uint32_t generation)
{
    std::lock_guard lock(lock_);
    if (!current(generation))
        return false;
    basePosition_ = target;
    framesPlayed_ = 0;
    fill_ = writeIndex_ = readIndex_ = 0;
    startThreshold_ = kSeekThreshold;
    position_.store(target);
    seekCount_.fetch_add(1);
    // Here rather than after the lock, so that the engine never sees Playing
    // over an emptied ring and takes it for an underrun.
    decodeFinished_.store(0);
    state_.store(kStateBuffering);
    return true;
}

} // namespace clip
