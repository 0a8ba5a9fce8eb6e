#include "recorder/recorder.h"

#include "recorder/silence.h"
#include "settings/fields.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace recorder {

namespace {

constexpr int64_t kRate = 48000;
// How far one Last source may run ahead of the other before its surplus is
// written against silence: the loopback tap delivers in its own rhythm and
// fills its gaps late, so a pump often finds it a little behind the voice.
constexpr size_t kMaxLeadSamples = 48000; // 0.5 s

enum : int32_t { kVoice = 1, kLoopback = 2 };

// Appends what waits in ring to into, up to limit samples in all, in whole frames.
void drain(engine::RecorderRing& ring, std::vector<int16_t>& into, size_t limit)
{
    const size_t room = limit > into.size() ? limit - into.size() : 0;
    const uint64_t waiting = ring.writePosition() - ring.readPosition();
    const size_t n = static_cast<size_t>(std::min<uint64_t>(room, waiting)) & ~size_t{1};
    if (n == 0)
        return;
    const size_t old = into.size();
    into.resize(old + n);
    into.resize(old + ring.read(into.data() + old, n));
}

void arm(engine::RecorderRing& ring, bool on)
{
    if (on && !ring.armed.load()) {
        ring.skipToWrite();
        ring.armed.store(1);
    } else if (!on) {
        ring.armed.store(0);
    }
}

int32_t clampSources(int32_t mask)
{
    return std::clamp(mask, 1, 3);
}

// The first n samples of a + b, saturated; a missing sample counts as 0.
void mixFirst(const std::vector<int16_t>& a, const std::vector<int16_t>& b, size_t n, std::vector<int16_t>& out)
{
    out.resize(n);
    for (size_t i = 0; i < n; ++i) {
        const int32_t sum = (i < a.size() ? a[i] : 0) + (i < b.size() ? b[i] : 0);
        out[i] = static_cast<int16_t>(std::clamp(sum, -32768, 32767));
    }
}

// Copies the newest n frames of a ring of capacity frames written up to
// write (exclusive) into out, oldest first.
void copyNewest(const std::vector<int16_t>& ring, int64_t capacity, int64_t write, int64_t n, int16_t* out)
{
    if (n <= 0)
        return;
    const int64_t start = (write + capacity - n) % capacity;
    const int64_t first = std::min(n, capacity - start);
    std::copy(ring.begin() + start * 2, ring.begin() + (start + first) * 2, out);
    std::copy(ring.begin(), ring.begin() + (n - first) * 2, out + first * 2);
}

void eraseFront(std::vector<int16_t>& v, size_t n)
{
    v.erase(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(std::min(n, v.size())));
}

} // namespace

std::wstring lastLabel(int32_t keepLast)
{
    if (keepLast <= 0)
        return L"Last: Off";
    if (keepLast < 60)
        return L"Last " + std::to_wstring(keepLast) + L" s";
    if (keepLast % 60 == 0)
        return L"Last " + std::to_wstring(keepLast / 60) + (keepLast == 60 ? L" min" : L" mins");
    wchar_t text[32];
    std::swprintf(text, std::size(text), L"Last %d:%02d", keepLast / 60, keepLast % 60);
    return text;
}

void mixSources(const std::vector<int16_t>& a, const std::vector<int16_t>& b, std::vector<int16_t>& out)
{
    mixFirst(a, b, std::max(a.size(), b.size()), out);
}

Recorder::Recorder(settings::Settings& settings, engine::RecorderRings& rings, engine::OutputTap& tap,
    engine::EndpointSource speaker, BusyFlags& flags, TakeEditor& editor, StatusSink status)
    : settings_(settings), rings_(rings), tap_(tap), speaker_(std::move(speaker)), flags_(flags), editor_(editor),
      status_(std::move(status))
{
}

Recorder::~Recorder()
{
    for (engine::RecorderRing* ring : {&rings_.take, &rings_.last, &rings_.loopTake, &rings_.loopLast})
        ring->armed.store(0);
    tap_.stopTap();
}

void Recorder::toggleRecording()
{
    if (flags_.recording)
        stopRecording();
    else
        startRecording();
}

bool Recorder::startRecording()
{
    if (flags_.busy())
        return false;
    editor_.stopPlayback();
    flags_.recording = true;
    captureMask_ = clampSources(settings_.RecSources.load());
    takeVoice_.clear();
    takeLoop_.clear();
    levels_.clear();
    levelPeak_ = 0.0f;
    levelFrames_ = 0;
    levelSource_ = 0;
    rings_.take.armed.store(0);
    rings_.loopTake.armed.store(0);
    arm(rings_.take, (captureMask_ & kVoice) != 0);
    arm(rings_.loopTake, (captureMask_ & kLoopback) != 0);
    syncTap();
    status_(L"Recording...");
    return true;
}

void Recorder::drainTakeRings()
{
    if (captureMask_ & kVoice)
        drain(rings_.take, takeVoice_, kTakeLimitSamples);
    if (captureMask_ & kLoopback)
        drain(rings_.loopTake, takeLoop_, kTakeLimitSamples);
}

void Recorder::drainTake()
{
    if (!flags_.recording)
        return;
    drainTakeRings();

    const std::vector<int16_t>& first = (captureMask_ & kVoice) ? takeVoice_ : takeLoop_;
    for (; levelSource_ + 1 < first.size(); levelSource_ += 2) {
        const int l = std::abs(static_cast<int>(first[levelSource_]));
        const int r = std::abs(static_cast<int>(first[levelSource_ + 1]));
        levelPeak_ = std::max(levelPeak_, static_cast<float>(std::max(l, r)) / 32768.0f);
        if (++levelFrames_ == kLevelBucket) {
            levels_.push_back(levelPeak_);
            levelPeak_ = 0.0f;
            levelFrames_ = 0;
        }
    }
    if (takeVoice_.size() >= kTakeLimitSamples || takeLoop_.size() >= kTakeLimitSamples)
        stopRecording();
}

void Recorder::stopRecording()
{
    if (!flags_.recording)
        return;
    drainTakeRings();
    rings_.take.armed.store(0);
    rings_.loopTake.armed.store(0);
    flags_.recording = false;
    syncTap();

    const int64_t frames = static_cast<int64_t>(std::max(takeVoice_.size(), takeLoop_.size()) / 2);
    if (frames < kShortestTake) {
        std::vector<int16_t>().swap(takeVoice_);
        std::vector<int16_t>().swap(takeLoop_);
        status_(L"Recording was shorter than 0.2 s");
        return;
    }
    auto sound = std::make_shared<clip::Sound>();
    mixSources(takeVoice_, takeLoop_, sound->samples);
    std::vector<int16_t>().swap(takeVoice_);
    std::vector<int16_t>().swap(takeLoop_);
    editor_.setTake(std::move(sound), true);
}

double Recorder::recordedSeconds() const
{
    return static_cast<double>(std::max(takeVoice_.size(), takeLoop_.size()) / 2) / kRate;
}

void Recorder::reconfigureLast()
{
    const int32_t keep = std::max(0, settings_.KeepLast.load());
    if (keep != lastKeep_) {
        const int64_t oldCapacity = lastCapacity();
        const int64_t capacity = keep * kRate;
        const int64_t kept = std::min(lastFill_.load(), capacity);
        std::vector<int16_t> ring(static_cast<size_t>(capacity) * 2);
        copyNewest(lastRing_, oldCapacity, lastWrite_, kept, ring.data());
        lastRing_ = std::move(ring);
        lastWrite_ = capacity > 0 ? kept % capacity : 0;
        lastFill_ = kept;
        lastKeep_ = keep;
    }
    if (keep == 0) {
        rings_.last.armed.store(0);
        rings_.loopLast.armed.store(0);
        scratchVoice_.clear();
        scratchLoop_.clear();
        lastFill_ = 0;
        lastWrite_ = 0;
    } else {
        const bool loopback = (clampSources(settings_.RecSources.load()) & kLoopback) != 0;
        if (loopback && !rings_.loopLast.armed.load() && rings_.last.armed.load()) {
            // The voice that waits belongs before the playback's first sample:
            // take it in now so that both start on the same frame.
            drain(rings_.last, scratchVoice_, scratchVoice_.size() + kLastPumpLimit);
            appendLast(scratchVoice_.size() / 2);
        }
        arm(rings_.last, true);
        arm(rings_.loopLast, loopback);
        if (!loopback)
            scratchLoop_.clear();
    }
    syncTap();
}

void Recorder::pumpLast()
{
    reconfigureLast();
    if (lastKeep_ <= 0)
        return;
    drain(rings_.last, scratchVoice_, scratchVoice_.size() + kLastPumpLimit);
    if (rings_.loopLast.armed.load())
        drain(rings_.loopLast, scratchLoop_, scratchLoop_.size() + kLastPumpLimit);

    // With both sources on, only the frames both have are written; the one
    // ahead keeps its surplus for the next pump, up to half a second.
    const size_t voice = scratchVoice_.size(), loop = scratchLoop_.size();
    size_t n = std::max(voice, loop);
    if (rings_.loopLast.armed.load()) {
        const size_t larger = n;
        n = std::min(voice, loop);
        if (larger - n > kMaxLeadSamples)
            n = larger - kMaxLeadSamples;
    }
    appendLast(n / 2);
}

void Recorder::appendLast(size_t frames)
{
    const size_t samples = frames * 2;
    mixFirst(scratchVoice_, scratchLoop_, samples, scratchMix_);
    eraseFront(scratchVoice_, samples);
    eraseFront(scratchLoop_, samples);

    const int64_t capacity = lastCapacity();
    if (capacity <= 0 || frames == 0)
        return;
    auto n = static_cast<int64_t>(frames);
    const int16_t* from = scratchMix_.data();
    if (n > capacity) {
        from += (n - capacity) * 2;
        n = capacity;
    }
    const int64_t first = std::min(n, capacity - lastWrite_);
    std::copy(from, from + first * 2, lastRing_.begin() + lastWrite_ * 2);
    std::copy(from + first * 2, from + n * 2, lastRing_.begin());
    lastWrite_ = (lastWrite_ + n) % capacity;
    lastFill_ = std::min(lastFill_.load() + n, capacity);
}

clip::SoundRef Recorder::lastExcerpt() const
{
    const int64_t capacity = lastCapacity();
    const int64_t n = std::min(lastFill_.load(), std::max(0, settings_.KeepLast.load()) * kRate);
    auto sound = std::make_shared<clip::Sound>();
    sound->samples.resize(static_cast<size_t>(std::max<int64_t>(n, 0)) * 2);
    copyNewest(lastRing_, capacity, lastWrite_, n, sound->samples.data());
    if (settings_.LastQuiet.load())
        return removeQuiet(sound);
    return sound;
}

void Recorder::grabLast()
{
    if (flags_.busy())
        return;
    pumpLast();
    if (settings_.KeepLast.load() < 1) {
        status_(L"Last rolling buffer is Off");
        return;
    }
    if (lastFill_.load() < kShortestTake) {
        status_(L"Nothing recorded in Last buffer yet");
        return;
    }
    clip::SoundRef excerpt = lastExcerpt();
    if (excerpt->frames() < kShortestTake) {
        status_(L"Rolling buffer was silent");
        return;
    }
    editor_.setTake(std::move(excerpt), false);
    status_(L"Grabbed " + lastLabel(settings_.KeepLast.load()));
}

std::optional<SaveRequest> Recorder::saveLast(const std::wstring& folder, const media::LocalTime& now)
{
    pumpLast();
    if (settings_.KeepLast.load() < 1 || lastFill_.load() < kShortestTake) {
        status_(L"Nothing in Last buffer to save");
        return std::nullopt;
    }
    clip::SoundRef excerpt = lastExcerpt();
    if (excerpt->frames() < kShortestTake) {
        status_(L"Last buffer had only silence");
        return std::nullopt;
    }
    const int32_t format = settings_.TakeFormat.load();
    SaveRequest request;
    request.sound = std::move(excerpt);
    request.path = media::makeFileName(folder, L"VantorOvix_Last", now, media::takeFormat(format));
    request.format = format;
    request.successPrefix = L"Saved Last: ";
    status_(L"Saving rolling Last clip...");
    return request;
}

void Recorder::stepKeepLast(int direction)
{
    const int32_t now = settings_.KeepLast.load();
    const auto* begin = std::begin(settings::kKeepLastLengths);
    const auto* end = std::end(settings::kKeepLastLengths);
    // The step starts from the listed length at or below the current one.
    auto index = std::upper_bound(begin, end, now) - begin - 1;
    index = std::clamp<std::ptrdiff_t>(index + (direction > 0 ? 1 : (direction < 0 ? -1 : 0)), 0, end - begin - 1);
    settings_.set(&settings::Settings::KeepLast, begin[index]);
    reconfigureLast();
}

void Recorder::toggleSource(int32_t value)
{
    if (flags_.recording || (value != kVoice && value != kLoopback))
        return;
    const int32_t mask = clampSources(settings_.RecSources.load());
    if (mask == value)
        return;
    settings_.set(&settings::Settings::RecSources, mask ^ value);
    reconfigureLast();
}

void Recorder::toggleQuiet()
{
    settings_.set(&settings::Settings::LastQuiet, settings_.LastQuiet.load() ? 0 : 1);
}

void Recorder::syncTap()
{
    engine::TapWish wish;
    wish.recSources = clampSources(settings_.RecSources.load());
    wish.recording = flags_.recording;
    wish.recordingStartedWithLoopback = flags_.recording && (captureMask_ & kLoopback) != 0;
    wish.keepLast = std::max(0, settings_.KeepLast.load());
    engine::hearTapSync(tap_, wish, speaker_, rings_.loopTake, rings_.loopLast);
}

} // namespace recorder
