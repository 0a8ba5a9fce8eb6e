#include "platform/sim/sim_audio.h"

#include "platform/sample_rate.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace platform::sim {

namespace {
constexpr double kRate = kSampleRate;

int64_t framesFor(int64_t micros, uint32_t rate)
{
    return micros * rate / 1000000;
}

// The two float channels of frame i of a stream in format f (mono twice).
void stereoOf(const MixFormat& f, const uint8_t* bytes, uint32_t i, float& left, float& right)
{
    auto sample = [&](uint32_t channel) {
        const size_t at = (size_t{i} * f.channels + channel) * (f.bitsPerSample / 8);
        if (f.bitsPerSample == 16) {
            int16_t v = 0;
            std::memcpy(&v, bytes + at, sizeof v);
            return static_cast<float>(v) / 32768.0f;
        }
        float v = 0;
        std::memcpy(&v, bytes + at, sizeof v);
        return v;
    };
    left = sample(0);
    right = sample(f.channels > 1 ? 1 : 0);
}

// Frames of interleaved stereo as a stream in format f carries them: left and
// right on the first two channels (one channel: left), silence on the rest.
void encodeFrames(const MixFormat& f, const float* stereo, uint32_t frames, std::vector<uint8_t>& out)
{
    const uint32_t bytes = f.bitsPerSample / 8;
    out.assign(size_t{frames} * f.channels * bytes, 0);
    for (uint32_t i = 0; i < frames; ++i) {
        for (uint32_t c = 0; c < f.channels && c < 2; ++c) {
            const double v = std::clamp(stereo[2 * i + c], -1.0f, 1.0f);
            uint8_t* at = out.data() + (size_t{i} * f.channels + c) * bytes;
            if (f.format == SampleFormat::Float && bytes == 4) {
                const auto x = static_cast<float>(v);
                std::memcpy(at, &x, 4);
            } else {
                // Little-endian integer of the sample's width, full scale one step below the top.
                const auto x = static_cast<int64_t>(v * static_cast<double>((int64_t{1} << (f.bitsPerSample - 1)) - 1));
                for (uint32_t k = 0; k < bytes; ++k)
                    at[k] = static_cast<uint8_t>(static_cast<uint64_t>(x) >> (8 * k));
            }
        }
    }
}
} // namespace

struct StreamState {
    bool capture = true;
    bool initialized = false;
    bool started = false;
    bool closed = false;
    bool loopback = false; // a render endpoint's stream that captures what it plays
    uint32_t bufferFrames = 0;
    // The stream's format and rate: the fixed ones unless opened with the mix format.
    MixFormat format{};
    bool mixFormat = false;
    Event* event = nullptr;
    // Capture: frames produced since start are counted from startMicros; the
    // device position of the next packet is consumed.
    int64_t startMicros = 0;
    uint64_t consumed = 0;
    bool packetOut = false;
    std::vector<float> packet;
    std::vector<uint8_t> packetBytes; // the packet in the mix format, for a stream opened with it
    // Render: frames queued, the time they were last counted down, the
    // fraction of a frame already played.
    uint64_t queued = 0;
    int64_t lastMicros = 0;
    double fraction = 0;
};

struct SimAudio::EndpointState {
    SimEndpointSetup setup;
    bool removed = false;
    bool refuseOpen = false;
    int64_t openDelayMicros = 0;
    bool callsFail = false;
    double driftPpm = 0;
    int silentPackets = 0;
    uint32_t pendingSkip = 0;
    bool renderIdle = false; // loopback: the endpoint plays nothing, so no packets come
    int64_t stampOffset = 0; // loopback: added to every packet's time stamp, 100 ns
    bool stampsMissing = false;
    CaptureSource source = sineSource(440.0, 0.25f);
    bool record = false;
    std::vector<float> rendered;
    SimEndpointStats stats;
    std::vector<std::weak_ptr<StreamState>> streams;

    double rate(const StreamState& s) const { return s.format.sampleRate * (1.0 + driftPpm / 1e6); }
};

struct SimAudio::Shared {
    explicit Shared(Clock& c) : clock(c) { }
    Clock& clock;
    mutable std::mutex mutex;
    std::vector<std::shared_ptr<EndpointState>> endpoints;
    std::wstring defaultCapture;
    std::wstring defaultRender;
    bool registrationFails = false;

    std::shared_ptr<EndpointState> find(const std::wstring& id) const
    {
        for (const auto& e : endpoints)
            if (e->setup.id == id && !e->removed)
                return e;
        return nullptr;
    }

    // Frames of a started capture stream waiting to be read, after overflow
    // beyond the buffer has been dropped. Called with the mutex held.
    uint64_t captureAvailable(EndpointState& ep, StreamState& s)
    {
        if (!s.started)
            return 0;
        if (ep.pendingSkip > 0 && !s.packetOut) {
            s.consumed += ep.pendingSkip;
            ep.stats.framesDropped += ep.pendingSkip;
            ep.pendingSkip = 0;
        }
        const auto produced
            = static_cast<uint64_t>(static_cast<double>(clock.nowMicros() - s.startMicros) * ep.rate(s) / 1e6);
        if (s.loopback && ep.renderIdle && !s.packetOut) {
            s.consumed = std::max(s.consumed, produced); // nothing played, nothing to capture
            return 0;
        }
        if (produced <= s.consumed)
            return 0;
        uint64_t available = produced - s.consumed;
        const uint32_t packet = ep.setup.packetFrames;
        if (available > s.bufferFrames && !s.packetOut) {
            const uint64_t excess = available - s.bufferFrames;
            const uint64_t drop = (excess + packet - 1) / packet * packet;
            s.consumed += drop;
            ep.stats.framesDropped += drop;
            available -= std::min(drop, available);
        }
        return available;
    }

    // Plays a render stream's queue up to now. Called with the mutex held.
    void renderCatchUp(EndpointState& ep, StreamState& s)
    {
        const int64_t now = clock.nowMicros();
        if (s.started) {
            const double elapsed = static_cast<double>(now - s.lastMicros) * ep.rate(s) / 1e6 + s.fraction;
            const auto whole = static_cast<uint64_t>(elapsed);
            if (whole >= s.queued) {
                if (s.queued > 0)
                    ++ep.stats.underruns;
                s.queued = 0;
                s.fraction = 0;
            } else {
                s.queued -= whole;
                s.fraction = elapsed - static_cast<double>(whole);
            }
        }
        s.lastMicros = now;
    }
};

namespace {

// What a capture or render service shares: the stream it serves and the
// failure rules of its endpoint.
class SimService {
public:
    SimService(std::shared_ptr<SimAudio::Shared> shared, std::shared_ptr<SimAudio::EndpointState> ep,
        std::shared_ptr<StreamState> s)
        : shared_(std::move(shared)), ep_(std::move(ep)), s_(std::move(s))
    { }

protected:
    AudioResult check() const
    {
        if (ep_->removed || (ep_->setup.state & kStateActive) == 0)
            return AudioResult::DeviceGone;
        if (ep_->callsFail)
            return AudioResult::Failed;
        if (s_->closed || !s_->initialized)
            return AudioResult::WrongState;
        return AudioResult::Ok;
    }

    std::shared_ptr<SimAudio::Shared> shared_;
    std::shared_ptr<SimAudio::EndpointState> ep_;
    std::shared_ptr<StreamState> s_;
};

class SimCapture final : public CaptureService, SimService {
public:
    using SimService::SimService;

    AudioResult nextPacketSize(uint32_t& frames) override
    {
        std::lock_guard lock(shared_->mutex);
        frames = 0;
        if (auto r = check(); r != AudioResult::Ok)
            return r;
        if (shared_->captureAvailable(*ep_, *s_) >= ep_->setup.packetFrames)
            frames = ep_->setup.packetFrames;
        return AudioResult::Ok;
    }

    AudioResult getPacket(CapturePacket& packet) override
    {
        std::lock_guard lock(shared_->mutex);
        packet = {};
        if (auto r = check(); r != AudioResult::Ok)
            return r;
        if (s_->packetOut)
            return AudioResult::WrongState;
        const uint32_t frames = ep_->setup.packetFrames;
        if (shared_->captureAvailable(*ep_, *s_) < frames)
            return AudioResult::Ok; // empty packet, as the platform gives one
        if (ep_->silentPackets > 0) {
            --ep_->silentPackets;
            packet.flags |= kPacketSilent;
        }
        ep_->source(s_->consumed, s_->packet.data(), frames);
        packet.data = s_->packet.data();
        packet.bytes = reinterpret_cast<const uint8_t*>(packet.data);
        if (s_->mixFormat) {
            encodeFrames(s_->format, packet.data, frames, s_->packetBytes);
            packet.bytes = s_->packetBytes.data();
        }
        packet.frames = frames;
        packet.devicePosition = s_->consumed;
        if (s_->loopback && !ep_->stampsMissing) {
            // The first frame's time on the clock, from the frames before it at the stream's rate.
            const auto at = static_cast<int64_t>(static_cast<double>(s_->consumed) * 1e7 / ep_->rate(*s_));
            packet.qpcPosition = static_cast<uint64_t>(s_->startMicros * 10 + at + ep_->stampOffset);
        }
        s_->packetOut = true;
        return AudioResult::Ok;
    }

    AudioResult releasePacket(uint32_t frames) override
    {
        std::lock_guard lock(shared_->mutex);
        if (auto r = check(); r != AudioResult::Ok)
            return r;
        if (!s_->packetOut)
            return frames == 0 ? AudioResult::Ok : AudioResult::WrongState;
        s_->packetOut = false;
        s_->consumed += frames;
        return AudioResult::Ok;
    }
};

class SimRender final : public RenderService, SimService {
public:
    using SimService::SimService;

    AudioResult padding(uint32_t& frames) override
    {
        std::lock_guard lock(shared_->mutex);
        frames = 0;
        if (auto r = check(); r != AudioResult::Ok)
            return r;
        shared_->renderCatchUp(*ep_, *s_);
        frames = static_cast<uint32_t>(s_->queued);
        return AudioResult::Ok;
    }

    AudioResult write(const float* interleaved, uint32_t frames) override
    {
        std::lock_guard lock(shared_->mutex);
        if (auto r = check(); r != AudioResult::Ok)
            return r;
        shared_->renderCatchUp(*ep_, *s_);
        if (frames > s_->bufferFrames - s_->queued)
            return AudioResult::BufferError;
        s_->queued += frames;
        ep_->stats.framesWritten += frames;
        if (ep_->record)
            ep_->rendered.insert(ep_->rendered.end(), interleaved, interleaved + size_t{frames} * 2);
        return AudioResult::Ok;
    }

    AudioResult writeFrames(const void* data, uint32_t frames) override
    {
        std::lock_guard lock(shared_->mutex);
        if (auto r = check(); r != AudioResult::Ok)
            return r;
        const MixFormat& f = s_->format;
        if (f.bitsPerSample != 16 && !(f.bitsPerSample == 32 && f.format == SampleFormat::Float))
            return AudioResult::Unsupported;
        shared_->renderCatchUp(*ep_, *s_);
        if (frames > s_->bufferFrames - s_->queued)
            return AudioResult::BufferError;
        s_->queued += frames;
        ep_->stats.framesWritten += frames;
        if (ep_->record) {
            const auto* bytes = static_cast<const uint8_t*>(data);
            for (uint32_t i = 0; i < frames; ++i) {
                float left = 0, right = 0;
                stereoOf(f, bytes, i, left, right);
                ep_->rendered.push_back(left);
                ep_->rendered.push_back(right);
            }
        }
        return AudioResult::Ok;
    }
};

class SimClient final : public AudioClient {
public:
    SimClient(std::shared_ptr<SimAudio::Shared> shared, std::shared_ptr<SimAudio::EndpointState> ep)
        : shared_(std::move(shared)), ep_(std::move(ep)), s_(std::make_shared<StreamState>())
    {
        s_->capture = ep_->setup.flow == Flow::Capture;
        ep_->streams.push_back(s_);
        ++ep_->stats.openStreams;
    }

    ~SimClient() override
    {
        std::lock_guard lock(shared_->mutex);
        s_->closed = true;
        --ep_->stats.openStreams;
        std::erase_if(ep_->streams, [](const auto& w) { return w.expired(); });
    }

    AudioResult setProperties(const ClientProperties& properties) override
    {
        std::lock_guard lock(shared_->mutex);
        if (auto r = check(); r != AudioResult::Ok)
            return r;
        if (s_->initialized)
            return AudioResult::WrongState;
        ep_->stats.lastRaw = properties.raw;
        return AudioResult::Ok;
    }

    AudioResult mixFormat(MixFormat& format) override
    {
        std::lock_guard lock(shared_->mutex);
        if (auto r = check(); r != AudioResult::Ok)
            return r;
        format = ep_->setup.mixFormat;
        return AudioResult::Ok;
    }

    AudioResult enginePeriod(EnginePeriod& period) override
    {
        std::lock_guard lock(shared_->mutex);
        if (auto r = check(); r != AudioResult::Ok)
            return r;
        if (ep_->setup.minPeriodFrames == 0)
            return AudioResult::Unsupported;
        period = {ep_->setup.minPeriodFrames, ep_->setup.minPeriodFrames, ep_->setup.minPeriodFrames,
            ep_->setup.minPeriodFrames * 4};
        return AudioResult::Ok;
    }

    AudioResult initializeLowLatency(uint32_t periodFrames) override
    {
        std::lock_guard lock(shared_->mutex);
        if (auto r = check(); r != AudioResult::Ok)
            return r;
        if (s_->initialized)
            return AudioResult::WrongState;
        if (ep_->setup.minPeriodFrames == 0 || periodFrames < ep_->setup.minPeriodFrames)
            return AudioResult::Unsupported;
        init(periodFrames * 2);
        ++ep_->stats.lowLatencyInits;
        return AudioResult::Ok;
    }

    AudioResult initializeShared(const SharedStreamParams& params) override
    {
        std::lock_guard lock(shared_->mutex);
        if (auto r = check(); r != AudioResult::Ok)
            return r;
        if (s_->initialized)
            return AudioResult::WrongState;
        if (params.loopback) {
            // Polled capture of what a render endpoint plays.
            if (ep_->setup.flow != Flow::Render || params.eventCallback)
                return AudioResult::Unsupported;
            s_->capture = true;
            s_->loopback = true;
        }
        if (params.bufferDurationMicros <= 0 || (!params.loopback && params.eventCallback != s_->capture))
            return AudioResult::Unsupported;
        if (params.useMixFormat) {
            const MixFormat& f = ep_->setup.mixFormat;
            if (f.channels == 0 || f.sampleRate == 0 || f.format == SampleFormat::Other)
                return AudioResult::Unsupported;
            s_->format = f;
        } else if (!ep_->setup.acceptsFixedFormat) {
            return AudioResult::Unsupported;
        }
        s_->mixFormat = params.useMixFormat;
        ep_->stats.lastMixFormat = params.useMixFormat;
        init(static_cast<uint32_t>(
            std::max<int64_t>(framesFor(params.bufferDurationMicros, s_->format.sampleRate), ep_->setup.packetFrames)));
        return AudioResult::Ok;
    }

    AudioResult setEvent(Event& event) override
    {
        std::lock_guard lock(shared_->mutex);
        if (auto r = check(); r != AudioResult::Ok)
            return r;
        if (!s_->initialized)
            return AudioResult::WrongState;
        s_->event = &event;
        return AudioResult::Ok;
    }

    AudioResult bufferSize(uint32_t& frames) override
    {
        std::lock_guard lock(shared_->mutex);
        frames = 0;
        if (auto r = check(); r != AudioResult::Ok)
            return r;
        if (!s_->initialized)
            return AudioResult::WrongState;
        frames = s_->bufferFrames;
        return AudioResult::Ok;
    }

    AudioResult start() override
    {
        std::lock_guard lock(shared_->mutex);
        if (auto r = check(); r != AudioResult::Ok)
            return r;
        if (!s_->initialized || s_->started)
            return AudioResult::WrongState;
        s_->started = true;
        s_->startMicros = shared_->clock.nowMicros();
        s_->lastMicros = s_->startMicros;
        s_->consumed = 0;
        ++ep_->stats.starts;
        return AudioResult::Ok;
    }

    AudioResult stop() override
    {
        std::lock_guard lock(shared_->mutex);
        if (!s_->capture)
            shared_->renderCatchUp(*ep_, *s_);
        s_->started = false;
        return ep_->removed ? AudioResult::DeviceGone : AudioResult::Ok;
    }

    std::unique_ptr<RenderService> renderService(AudioResult& result) override
    {
        std::lock_guard lock(shared_->mutex);
        result = check();
        if (result == AudioResult::Ok && (s_->capture || !s_->initialized))
            result = AudioResult::WrongState;
        if (result != AudioResult::Ok)
            return nullptr;
        return std::make_unique<SimRender>(shared_, ep_, s_);
    }

    std::unique_ptr<CaptureService> captureService(AudioResult& result) override
    {
        std::lock_guard lock(shared_->mutex);
        result = check();
        if (result == AudioResult::Ok && (!s_->capture || !s_->initialized))
            result = AudioResult::WrongState;
        if (result != AudioResult::Ok)
            return nullptr;
        return std::make_unique<SimCapture>(shared_, ep_, s_);
    }

private:
    AudioResult check() const
    {
        if (ep_->removed || (ep_->setup.state & kStateActive) == 0)
            return AudioResult::DeviceGone;
        if (ep_->callsFail)
            return AudioResult::Failed;
        return AudioResult::Ok;
    }

    void init(uint32_t bufferFrames)
    {
        s_->initialized = true;
        s_->bufferFrames = bufferFrames;
        s_->packet.assign(size_t{bufferFrames} * 2, 0.0f);
        if (s_->mixFormat) // room for the mix-format copy of a packet, so that reads do not allocate
            s_->packetBytes.reserve(size_t{bufferFrames} * s_->format.channels * (s_->format.bitsPerSample / 8u));
        ++ep_->stats.initializations;
    }

    std::shared_ptr<SimAudio::Shared> shared_;
    std::shared_ptr<SimAudio::EndpointState> ep_;
    std::shared_ptr<StreamState> s_;
};

class SimRegistration final : public AudioThreadRegistration {
public:
    explicit SimRegistration(ThreadPriority p) : priority_(p) { }
    ThreadPriority priority() const override { return priority_; }

private:
    ThreadPriority priority_ = ThreadPriority::Unchanged;
};

} // namespace

namespace {
template <class F> void withEndpoint(SimAudio::Shared& shared, const std::wstring& id, F&& change)
{
    std::lock_guard lock(shared.mutex);
    if (auto ep = shared.find(id))
        change(*ep);
}
} // namespace

SimAudio::SimAudio(Clock& clock) : shared_(std::make_shared<Shared>(clock))
{ }
SimAudio::~SimAudio() = default;

void SimAudio::addEndpoint(const SimEndpointSetup& setup)
{
    std::lock_guard lock(shared_->mutex);
    if (auto existing = shared_->find(setup.id)) {
        existing->setup = setup;
        return;
    }
    auto ep = std::make_shared<EndpointState>();
    ep->setup = setup;
    shared_->endpoints.push_back(std::move(ep));
}

void SimAudio::removeEndpoint(const std::wstring& id)
{
    std::lock_guard lock(shared_->mutex);
    if (auto ep = shared_->find(id)) {
        ep->removed = true;
        std::erase(shared_->endpoints, ep);
    }
}

void SimAudio::setState(const std::wstring& id, uint32_t state)
{
    withEndpoint(*shared_, id, [&](EndpointState& e) { e.setup.state = state; });
}

void SimAudio::setDefault(Flow flow, const std::wstring& id)
{
    std::lock_guard lock(shared_->mutex);
    (flow == Flow::Capture ? shared_->defaultCapture : shared_->defaultRender) = id;
}

void SimAudio::setRefuseOpen(const std::wstring& id, bool refuse)
{
    withEndpoint(*shared_, id, [&](EndpointState& e) { e.refuseOpen = refuse; });
}

void SimAudio::setOpenDelay(const std::wstring& id, int64_t micros)
{
    withEndpoint(*shared_, id, [&](EndpointState& e) { e.openDelayMicros = micros; });
}

void SimAudio::setCallsFail(const std::wstring& id, bool fail)
{
    withEndpoint(*shared_, id, [&](EndpointState& e) { e.callsFail = fail; });
}

void SimAudio::setDriftPpm(const std::wstring& id, double ppm)
{
    withEndpoint(*shared_, id, [&](EndpointState& e) { e.driftPpm = ppm; });
}

void SimAudio::markNextPacketsSilent(const std::wstring& id, int count)
{
    withEndpoint(*shared_, id, [&](EndpointState& e) { e.silentPackets = count; });
}

void SimAudio::skipFrames(const std::wstring& id, uint32_t frames)
{
    withEndpoint(*shared_, id, [&](EndpointState& e) { e.pendingSkip += frames; });
}

void SimAudio::setRenderIdle(const std::wstring& id, bool idle)
{
    withEndpoint(*shared_, id, [&](EndpointState& e) { e.renderIdle = idle; });
}

void SimAudio::setStampOffset(const std::wstring& id, int64_t hundredNanos)
{
    withEndpoint(*shared_, id, [&](EndpointState& e) { e.stampOffset = hundredNanos; });
}

void SimAudio::setStampsMissing(const std::wstring& id, bool missing)
{
    withEndpoint(*shared_, id, [&](EndpointState& e) { e.stampsMissing = missing; });
}

void SimAudio::setCaptureSource(const std::wstring& id, CaptureSource source)
{
    withEndpoint(*shared_, id, [&](EndpointState& e) { e.source = std::move(source); });
}

void SimAudio::recordRender(const std::wstring& id, bool keep, size_t reserveFrames)
{
    withEndpoint(*shared_, id, [&](EndpointState& e) {
        e.record = keep;
        e.rendered.reserve(keep ? reserveFrames * 2 : 0);
    });
}

void SimAudio::setRegistrationFails(bool fails)
{
    std::lock_guard lock(shared_->mutex);
    shared_->registrationFails = fails;
}

std::vector<float> SimAudio::rendered(const std::wstring& id) const
{
    std::lock_guard lock(shared_->mutex);
    auto ep = shared_->find(id);
    return ep ? ep->rendered : std::vector<float>{};
}

SimEndpointStats SimAudio::stats(const std::wstring& id) const
{
    std::lock_guard lock(shared_->mutex);
    auto ep = shared_->find(id);
    return ep ? ep->stats : SimEndpointStats{};
}

void SimAudio::tick()
{
    std::lock_guard lock(shared_->mutex);
    for (const auto& ep : shared_->endpoints) {
        for (const auto& weak : ep->streams) {
            auto s = weak.lock();
            if (s && s->capture && s->event && !s->closed && !s->packetOut
                && shared_->captureAvailable(*ep, *s) >= ep->setup.packetFrames)
                s->event->set();
        }
    }
}

std::vector<EndpointInfo> SimAudio::enumerate(Flow flow, uint32_t stateMask)
{
    std::lock_guard lock(shared_->mutex);
    std::vector<EndpointInfo> list;
    for (const auto& ep : shared_->endpoints) {
        const auto& s = ep->setup;
        if (s.flow != flow || (s.state & stateMask) == 0 || s.id.empty())
            continue;
        list.push_back({s.hasName ? s.name : std::wstring(kMissingName), s.id, s.description, s.interfaceName});
    }
    return list;
}

std::wstring SimAudio::defaultEndpointId(Flow flow)
{
    std::lock_guard lock(shared_->mutex);
    const std::wstring& id = flow == Flow::Capture ? shared_->defaultCapture : shared_->defaultRender;
    auto ep = shared_->find(id);
    return ep && ep->setup.flow == flow && (ep->setup.state & kStateActive) ? id : std::wstring{};
}

std::unique_ptr<AudioClient> SimAudio::activate(const std::wstring& id, Flow flow, AudioResult& result)
{
    int64_t delay = 0;
    {
        std::lock_guard lock(shared_->mutex);
        if (auto ep = shared_->find(id))
            delay = ep->openDelayMicros;
    }
    if (delay > 0)
        shared_->clock.sleepMicros(delay); // on the clock's time, without the lock
    std::lock_guard lock(shared_->mutex);
    auto ep = shared_->find(id);
    if (ep)
        ++ep->stats.activationAttempts;
    if (!ep || ep->setup.flow != flow) {
        result = AudioResult::NotFound;
        return nullptr;
    }
    if ((ep->setup.state & kStateActive) == 0) {
        result = AudioResult::DeviceGone;
        return nullptr;
    }
    if (ep->refuseOpen) {
        result = AudioResult::Refused;
        return nullptr;
    }
    result = AudioResult::Ok;
    ++ep->stats.activations;
    return std::make_unique<SimClient>(shared_, ep);
}

std::unique_ptr<AudioThreadRegistration> SimAudio::registerAudioThread()
{
    std::lock_guard lock(shared_->mutex);
    return std::make_unique<SimRegistration>(
        shared_->registrationFails ? ThreadPriority::TimeCritical : ThreadPriority::ProAudio);
}

CaptureSource sineSource(double hz, float amplitude)
{
    return [hz, amplitude](uint64_t first, float* out, uint32_t frames) {
        for (uint32_t i = 0; i < frames; ++i) {
            // The phase is reduced to one period before scaling so that long runs keep precision.
            const double cycles = std::fmod(static_cast<double>(first + i) * hz / kRate, 1.0);
            const auto v = static_cast<float>(amplitude * std::sin(cycles * 2.0 * std::numbers::pi));
            out[2 * i] = v;
            out[2 * i + 1] = v;
        }
    };
}

} // namespace platform::sim
