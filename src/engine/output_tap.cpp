#include "engine/output_tap.h"

#include "dsp/denormals.h"

#include <algorithm>

namespace engine {

namespace {

constexpr int64_t kBufferMicros = 200000;       // the loopback stream's buffer
constexpr int64_t kPassMicros = 10000;          // between passes
constexpr int64_t kOpenRetryMicros = 200000;    // after an open that failed
constexpr int64_t kBrokenRetryMicros = 1000000; // after a capture call failed (20 × 50 ms)
constexpr uint32_t kMinMixRate = 8000;
constexpr int32_t kLoopbackSource = 2; // the RecSources bit of computer playback

bool usableMixFormat(const platform::MixFormat& f)
{
    if (f.sampleRate < kMinMixRate || f.channels == 0 || f.channels > 8)
        return false;
    if (f.format == platform::SampleFormat::Float)
        return f.bitsPerSample == 32;
    return f.format == platform::SampleFormat::Pcm
        && (f.bitsPerSample == 16 || f.bitsPerSample == 24 || f.bitsPerSample == 32);
}

} // namespace

TapStream::TapStream(platform::Clock& clock, platform::AudioDevices& devices, uint32_t sampleRate,
    EndpointSource endpointSource, RecorderRing& takeSink, RecorderRing& lastSink)
    : clock_(clock),
      devices_(devices),
      sampleRate_(std::max(sampleRate, 10u)),
      endpointSource_(std::move(endpointSource)),
      takeSink_(takeSink),
      lastSink_(lastSink),
      silence_(size_t{sampleRate_ / 10} * 2, 0.0f)
{ }

TapStream::~TapStream()
{
    close();
}

int64_t TapStream::framesToTicks(uint64_t frames) const
{
    return static_cast<int64_t>(frames * kTicksPerSecond / sampleRate_);
}

uint64_t TapStream::ticksToFrames(int64_t ticks) const
{
    // Rounded, so that the rounding of many gaps does not add up to a drift.
    return ticks <= 0 ? 0 : (static_cast<uint64_t>(ticks) * sampleRate_ + kTicksPerSecond / 2) / kTicksPerSecond;
}

bool TapStream::open()
{
    close();
    endpointInUse_ = endpointSource_ ? endpointSource_() : std::wstring{};
    using platform::AudioResult;
    using platform::Flow;
    std::wstring id = endpointInUse_;
    AudioResult result = AudioResult::NotFound;
    if (!id.empty())
        client_ = devices_.activate(id, Flow::Render, result);
    if (!client_ && result == AudioResult::NotFound) {
        id = devices_.defaultEndpointId(Flow::Render);
        if (!id.empty())
            client_ = devices_.activate(id, Flow::Render, result);
    }
    if (!client_)
        return false;

    platform::SharedStreamParams params;
    params.loopback = true;
    params.autoConvertPcm = true;
    params.srcDefaultQuality = true;
    params.bufferDurationMicros = kBufferMicros;
    if (client_->initializeShared(params) != AudioResult::Ok) {
        // Some endpoints take only their own format: a fresh client in it, converted here.
        client_ = devices_.activate(id, Flow::Render, result);
        platform::MixFormat mix;
        if (!client_ || client_->mixFormat(mix) != AudioResult::Ok || !usableMixFormat(mix)) {
            close();
            return false;
        }
        params = {};
        params.loopback = true;
        params.autoConvertPcm = false;
        params.useMixFormat = true;
        params.bufferDurationMicros = kBufferMicros;
        if (client_->initializeShared(params) != AudioResult::Ok) {
            close();
            return false;
        }
        media::SourceLayout layout;
        layout.channels = mix.channels;
        layout.bitsPerSample = mix.bitsPerSample;
        layout.isFloat = mix.format == platform::SampleFormat::Float;
        layout.sampleRate = mix.sampleRate;
        converter_.emplace(layout);
        mixFrameBytes_ = uint32_t{mix.channels} * (mix.bitsPerSample / 8u);
    }
    capture_ = client_->captureService(result);
    if (!capture_ || client_->start() != AudioResult::Ok) {
        close();
        return false;
    }

    // The timeline goes on where it was, so that a re-open after a short
    // break is filled with silence; but a long break is not made up.
    const int64_t t = now();
    expected_ = timelineStarted_ ? std::max(expected_, t - kMaxGap) : t;
    timelineStarted_ = true;
    lastEndpointCheck_ = t;
    return true;
}

void TapStream::close()
{
    if (client_ && capture_)
        client_->stop();
    capture_.reset();
    client_.reset();
    converter_.reset();
}

void TapStream::pushFrames(const float* interleaved, uint64_t frames)
{
    for (RecorderRing* ring : {&takeSink_, &lastSink_}) {
        if (ring->armed.load(std::memory_order_acquire))
            ring->push(interleaved, static_cast<uint32_t>(frames * 2));
    }
}

void TapStream::pushSilence(uint64_t frames)
{
    const uint64_t piece = silence_.size() / 2;
    while (frames > 0) {
        const uint64_t n = std::min(frames, piece);
        pushFrames(silence_.data(), n);
        frames -= n;
    }
}

void TapStream::takePacket(const platform::CapturePacket& packet)
{
    const bool silent = (packet.flags & platform::kPacketSilent) != 0;
    const float* frames = packet.data;
    uint64_t count = packet.frames;
    if (converter_) {
        const size_t bytes = size_t{packet.frames} * mixFrameBytes_;
        const uint8_t* source = packet.bytes;
        if (silent || !source) {
            zeroBytes_.assign(bytes, 0); // the converter keeps its phase through silence too
            source = zeroBytes_.data();
        }
        converted_.clear();
        converter_->convert({source, bytes}, converted_);
        frames = converted_.data();
        count = converted_.size() / 2;
    }

    const int64_t stamp = packet.qpcPosition != 0 ? static_cast<int64_t>(packet.qpcPosition) : expected_;
    if (stamp - expected_ > kLateOrEarly)
        pushSilence(ticksToFrames(std::min(stamp - expected_, kMaxGap)));
    uint64_t skip = 0;
    if (expected_ - stamp > kLateOrEarly)
        skip = std::min(count, ticksToFrames(expected_ - stamp)); // already on the timeline
    if (silent && !converter_)
        pushSilence(count - skip);
    else if (count > skip)
        pushFrames(frames + skip * 2, count - skip);
    expected_ = std::max(expected_, stamp + framesToTicks(count));
}

TapStream::Pass TapStream::pass()
{
    using platform::AudioResult;
    if (!capture_)
        return Pass::Failed;
    bool anyPacket = false;
    for (;;) {
        uint32_t next = 0;
        if (capture_->nextPacketSize(next) != AudioResult::Ok) {
            close();
            return Pass::Failed;
        }
        if (next == 0)
            break;
        platform::CapturePacket packet;
        if (capture_->getPacket(packet) != AudioResult::Ok) {
            close();
            return Pass::Failed;
        }
        if (packet.frames == 0)
            break;
        takePacket(packet);
        anyPacket = true;
        if (capture_->releasePacket(packet.frames) != AudioResult::Ok) {
            close();
            return Pass::Failed;
        }
    }

    const int64_t t = now();
    if (!anyPacket && t - expected_ > kQuietAfter) {
        // The endpoint plays nothing, so nothing comes: the quiet is recorded as silence.
        const int64_t upTo = t - kQuietLag;
        pushSilence(ticksToFrames(std::min(upTo - expected_, kMaxGap)));
        expected_ = upTo;
    }

    if (t - lastEndpointCheck_ >= kEndpointCheck) {
        lastEndpointCheck_ = t;
        if (endpointSource_ && endpointSource_() != endpointInUse_)
            return Pass::EndpointChanged;
    }
    return Pass::Ok;
}

OutputTap::OutputTap(platform::Clock& clock, platform::AudioDevices& devices)
    : clock_(clock), devices_(devices), stopEvent_(clock.createEvent(true))
{ }

OutputTap::~OutputTap()
{
    stopTap();
}

void OutputTap::startTap(
    uint32_t sampleRate, EndpointSource endpointSource, RecorderRing& takeSink, RecorderRing& lastSink)
{
    if (thread_.joinable())
        return;
    stopFlag_.store(0);
    stopEvent_->reset();
    sampleRate_ = sampleRate;
    endpointSource_ = std::move(endpointSource);
    takeSink_ = &takeSink;
    lastSink_ = &lastSink;
    thread_ = std::thread([this] { run(); });
}

void OutputTap::stopTap()
{
    if (!thread_.joinable())
        return;
    stopFlag_.store(1);
    stopEvent_->set();
    thread_.join();
}

void OutputTap::setThreadHooks(std::function<void()> begin, std::function<void()> end)
{
    beginHook_ = std::move(begin);
    endHook_ = std::move(end);
}

bool OutputTap::waitStop(int64_t micros)
{
    if (stopFlag_.load())
        return true;
    clock_.wait(*stopEvent_, micros);
    return stopFlag_.load() != 0;
}

void OutputTap::run()
{
    if (beginHook_)
        beginHook_();
    {
        const dsp::ScopedFlushDenormals flush;
        TapStream stream(clock_, devices_, sampleRate_, endpointSource_, *takeSink_, *lastSink_);
        while (!stopFlag_.load()) {
            if (!stream.open()) {
                // Not there or refused (and under wine loopback may never
                // work): try again quietly while the tap should run.
                waitStop(kOpenRetryMicros);
                continue;
            }
            running_.store(1);
            TapStream::Pass result = TapStream::Pass::Ok;
            while (result == TapStream::Pass::Ok && !waitStop(kPassMicros))
                result = stream.pass();
            stream.close();
            running_.store(0);
            if (result == TapStream::Pass::Failed)
                waitStop(kBrokenRetryMicros);
        }
    }
    if (endHook_)
        endHook_();
}

bool tapShouldRun(const TapWish& wish)
{
    const bool loopbackChosen = (wish.recSources & kLoopbackSource) != 0;
    return (loopbackChosen && (wish.recording || wish.keepLast > 0))
        || (wish.recording && wish.recordingStartedWithLoopback);
}

void hearTapSync(
    OutputTap& tap, const TapWish& wish, EndpointSource endpointSource, RecorderRing& takeSink, RecorderRing& lastSink)
{
    const bool should = tapShouldRun(wish);
    if (should && !tap.threadRunning())
        tap.startTap(platform::kSampleRate, std::move(endpointSource), takeSink, lastSink);
    else if (!should && tap.threadRunning())
        tap.stopTap();
}

} // namespace engine
