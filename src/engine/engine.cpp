#include "engine/engine.h"

#include "engine/endpoints.h"
#include "engine/mix.h"
#include "platform/audio_thread.h"
#include "platform/sample_rate.h"

#include <algorithm>
#include <cmath>

namespace engine {

using platform::AudioResult;

namespace {

constexpr uint32_t kInitialScratchFrames = 4800; // the normal capture buffer, 100 ms
constexpr float kInputLimit = 4.0f;

bool ok(AudioResult r)
{
    return r == AudioResult::Ok;
}

template <class T> void growTo(std::vector<T>& v, size_t size)
{
    if (v.size() < size)
        v.resize(size);
}

} // namespace

Engine::Engine(EngineServices services) : s_(std::move(services))
{
    captureEvent_ = s_.clock.createEvent(false);
    ensureScratch(kInitialScratchFrames);
}

Engine::~Engine()
{
    closeEverything();
}

platform::ThreadPriority Engine::priority() const
{
    return registration_ ? registration_->priority() : platform::ThreadPriority::Unchanged;
}

void Engine::start()
{
    platform::flushDenormals();
    registration_ = s_.devices.registerAudioThread();
    s_.state.irLoaded.store(s_.steps.loadImpulseResponse() ? 1 : 0);
    presetInUse_ = s_.settings.preset.load();
    s_.steps.prepare(platform::kSampleRate, kInitialScratchFrames, presetInUse_);
    eqRevisionSeen_ = s_.settings.eqRevision.load();
    phase_ = EnginePhase::Idle;
}

StepWait Engine::step()
{
    switch (phase_) {
    case EnginePhase::Starting:
        start();
        return {};
    case EnginePhase::Idle:
    case EnginePhase::Opening:
        return idleStep();
    case EnginePhase::RetryWait:
        return retryStep();
    case EnginePhase::Running:
        return runningStep();
    case EnginePhase::Ended:
        break;
    }
    return {};
}

StepWait Engine::idleStep()
{
    if (s_.state.stopRequest.load()) {
        shutdown();
        return {};
    }
    if (!s_.state.engineReopenRequest.exchange(0))
        return {nullptr, kIdlePollMicros};
    phase_ = EnginePhase::Opening;
    if (openSequence()) {
        phase_ = EnginePhase::Running;
        return {};
    }
    fail(false);
    return {nullptr, kRetryPollMicros};
}

StepWait Engine::retryStep()
{
    if (s_.state.stopRequest.load()) {
        shutdown();
        return {};
    }
    const int64_t now = s_.clock.nowMicros();
    if (now >= retryAt_) {
        s_.state.engineReopenRequest.store(1);
        phase_ = EnginePhase::Idle;
        return {};
    }
    return {nullptr, std::min(kRetryPollMicros, retryAt_ - now)};
}

bool Engine::openSequence()
{
    ++openAttempts_;
    closeEverything();
    const std::wstring mic = settings::deviceName(s_.settings, settings::DeviceKind::Mic);
    const std::wstring spk = settings::deviceName(s_.settings, settings::DeviceKind::Spk);
    cableEndpoint_ = findCableEndpoint(s_.devices, platform::kStateActive).id;

    if (mic.empty())
        return false;
    captureClient_
        = openCaptureClient(s_.devices, mic, s_.settings.raw.load() != 0, *captureEvent_, captureBufferFrames_);
    if (!captureClient_)
        return false;
    AudioResult r = AudioResult::Failed;
    captureService_ = captureClient_->captureService(r);
    if (!captureService_ || !ok(r))
        return false;
    captureEndpoint_ = mic;
    ensureScratch(captureBufferFrames_);

    if (!cableEndpoint_.empty())
        openRenderOutput(cable_, s_.devices, cableEndpoint_, false);

    monitorFlags_ = monitorNeedFlags();
    monitorWanted_.clear();
    if (monitorFlags_ != 0) {
        monitorWanted_ = monitorEndpointFor(s_.devices, spk, {(monitorFlags_ & 0xB) != 0, (monitorFlags_ & 0x4) != 0});
    }
    monitorRetries_ = 0;
    monitorRetryAtMillis_ = 0;
    if (!monitorWanted_.empty()) {
        if (openRenderOutput(monitor_, s_.devices, monitorWanted_, (monitorFlags_ & 0x3) != 0))
            monitorEndpoint_ = monitorWanted_;
        else
            monitorOpenFailed();
    }

    if (!ok(captureClient_->start()))
        return false;
    if (cable_.isOpen() && !ok(cable_.client->start()))
        closeRenderOutput(cable_);
    if (monitor_.isOpen() && !ok(monitor_.client->start())) {
        closeRenderOutput(monitor_);
        monitorEndpoint_.clear();
        monitorOpenFailed();
    }
    s_.state.cableStatus.store(cable_.isOpen() ? kCableOpen : (cableEndpoint_.empty() ? kCableMissing : kCableRefused));
    settings::setLockedText(s_.settings, &settings::Settings::engineStatusText, L"");
    s_.state.engineRunning.store(1);
    s_.state.micReopenRequest.store(0);
    havePosition_ = false;
    goodPackets_ = 0;
    return true;
}

void Engine::fail(bool running)
{
    if (!running)
        settings::setLockedText(s_.settings, &settings::Settings::engineStatusText, kMicFailedText);
    closeEverything();
    if (running && s_.state.engineReopenRequest.load()) {
        phase_ = EnginePhase::Idle; // re-open at once
        return;
    }
    retryAt_ = s_.clock.nowMicros() + kRetryDelayMicros;
    phase_ = EnginePhase::RetryWait;
}

void Engine::closeEverything()
{
    if (worker_.joinable())
        worker_.join();
    workerClient_.reset();
    workerDone_.store(false);
    captureService_.reset();
    closeRenderOutput(monitor_);
    closeRenderOutput(cable_);
    if (captureClient_)
        captureClient_->stop();
    captureClient_.reset();
    monitorEndpoint_.clear();
    s_.state.engineRunning.store(0);
    s_.state.cableStatus.store(kCableNotRunning);
}

void Engine::shutdown()
{
    closeEverything();
    registration_.reset();
    phase_ = EnginePhase::Ended;
}

void Engine::waitForMicReopenWorker()
{
    if (worker_.joinable())
        worker_.join();
}

StepWait Engine::runningStep()
{
    if (s_.state.stopRequest.load()) {
        shutdown();
        return {};
    }
    if (s_.state.engineReopenRequest.load()) {
        closeEverything();
        phase_ = EnginePhase::Idle;
        return {};
    }
    manageMonitor();
    retryCable();
    checkMicReopen();

    const int preset = s_.settings.preset.load();
    if (preset != presetInUse_) {
        presetInUse_ = preset;
        s_.steps.changeEnvironment(preset);
    }

    uint32_t size = 0;
    if (!ok(captureService_->nextPacketSize(size))) {
        fail(true);
        return {};
    }
    if (size == 0)
        return {captureEvent_.get(), kCaptureWaitMicros};

    platform::CapturePacket packet;
    if (!ok(captureService_->getPacket(packet))) {
        fail(true);
        return {};
    }
    const uint32_t n = packet.frames;
    ensureScratch(n);
    const bool silent = (packet.flags & platform::kPacketSilent) != 0 || packet.data == nullptr;
    if (silent)
        std::fill_n(capture_.begin(), size_t{n} * 2, 0.0f);
    else
        std::copy_n(packet.data, size_t{n} * 2, capture_.begin());
    if (!ok(captureService_->releasePacket(n))) {
        fail(true);
        return {};
    }
    if (n == 0)
        return {};

    // Gap detection: lost frames are replaced by silence of the same length
    // so that the outputs keep their timing, but only when the device has
    // been punctual and the jump is small enough to be a real gap.
    uint32_t gap = 0;
    if (havePosition_ && packet.devicePosition == expectedPosition_) {
        goodPackets_ = std::min(goodPackets_ + 1, kGoodPacketsForGapFill);
    } else if (havePosition_ && goodPackets_ >= kGoodPacketsForGapFill && captureBufferFrames_ < kGapLimitFrames
        && packet.devicePosition > expectedPosition_ && packet.devicePosition - expectedPosition_ <= kGapLimitFrames) {
        gap = static_cast<uint32_t>(packet.devicePosition - expectedPosition_);
    } else {
        goodPackets_ = 0;
    }
    expectedPosition_ = packet.devicePosition + n;
    havePosition_ = true;

    if (gap > 0) {
        ensureScratch(gap);
        if (!blockCycle(nullptr, gap, 0)) {
            fail(true);
            return {};
        }
    }
    if (!blockCycle(capture_.data(), n, 1)) {
        fail(true);
        return {};
    }
    return {};
}

uint8_t Engine::monitorNeedFlags() const
{
    const auto& st = s_.settings;
    uint8_t flags = 0;
    if (st.monitor.load())
        flags |= 1;
    if (st.clip_hear.load())
        flags |= 2;
    if (s_.state.appCaptureActive.load() && (!st.app_hear.load() || st.app_only.load()))
        flags |= 4;
    if (s_.state.previewNeedsMonitor.load())
        flags |= 8;
    return flags;
}

void Engine::monitorOpenFailed()
{
    const int shift = std::min(monitorRetries_, 4);
    monitorRetryAtMillis_ = s_.clock.nowMillis() + (kMonitorRetryBaseMillis << shift);
    ++monitorRetries_;
}

void Engine::manageMonitor()
{
    const uint8_t flags = monitorNeedFlags();
    if (flags != monitorFlags_) {
        monitorFlags_ = flags;
        std::wstring wanted;
        if (flags != 0) {
            wanted = monitorEndpointFor(s_.devices, settings::deviceName(s_.settings, settings::DeviceKind::Spk),
                {(flags & 0xB) != 0, (flags & 0x4) != 0});
        }
        if (!(monitor_.isOpen() && wanted == monitorEndpoint_)) {
            if (monitor_.isOpen()) {
                closeRenderOutput(monitor_);
                monitorEndpoint_.clear();
            }
            if (wanted != monitorWanted_) {
                monitorRetries_ = 0;
                monitorRetryAtMillis_ = 0;
            }
        }
        monitorWanted_ = std::move(wanted);
    }
    if (monitorWanted_.empty() || monitor_.isOpen() || s_.clock.nowMillis() < monitorRetryAtMillis_)
        return;
    if (openRenderOutput(monitor_, s_.devices, monitorWanted_, (flags & 0x3) != 0) && ok(monitor_.client->start())) {
        monitorEndpoint_ = monitorWanted_;
        monitorRetries_ = 0;
        return;
    }
    closeRenderOutput(monitor_);
    monitorOpenFailed();
}

void Engine::retryCable()
{
    if (cable_.isOpen() || cableEndpoint_.empty() || !s_.state.cableRetryRequest.exchange(0))
        return;
    if (openRenderOutput(cable_, s_.devices, cableEndpoint_, false) && !ok(cable_.client->start()))
        closeRenderOutput(cable_);
    s_.state.cableStatus.store(cable_.isOpen() ? kCableOpen : kCableRefused);
}

void Engine::checkMicReopen()
{
    if (!worker_.joinable() && !workerDone_.load() && s_.state.micReopenRequest.exchange(0)) {
        const std::wstring mic = settings::deviceName(s_.settings, settings::DeviceKind::Mic);
        const bool raw = s_.settings.raw.load() != 0;
        workerDone_.store(false);
        worker_ = std::thread([this, mic, raw] {
            uint32_t frames = 0;
            auto client = openCaptureClient(s_.devices, mic, raw, *captureEvent_, frames);
            workerClient_ = std::move(client);
            workerBufferFrames_ = frames;
            workerDone_.store(true);
        });
        return;
    }
    if (!workerDone_.load())
        return;
    if (worker_.joinable())
        worker_.join();
    workerDone_.store(false);
    auto client = std::move(workerClient_);
    if (!client)
        return;
    AudioResult r = AudioResult::Failed;
    auto service = client->captureService(r);
    if (!service || !ok(r) || !ok(client->start())) {
        if (client)
            client->stop();
        return; // the old capture stays
    }
    captureService_.reset();
    if (captureClient_)
        captureClient_->stop();
    captureClient_ = std::move(client);
    captureService_ = std::move(service);
    captureEndpoint_ = settings::deviceName(s_.settings, settings::DeviceKind::Mic);
    captureBufferFrames_ = workerBufferFrames_;
    ensureScratch(captureBufferFrames_);
    havePosition_ = false;
    goodPackets_ = 0;
}

void Engine::ensureScratch(uint32_t frames)
{
    const size_t mono = frames;
    const size_t stereo = size_t{frames} * 2;
    growTo(capture_, stereo);
    growTo(voice_, mono);
    growTo(wetCable_, mono);
    growTo(wetMonitor_, mono);
    growTo(cableBus_, stereo);
    growTo(monitorBus_, stereo);
    reserveRenderScratch(cable_, frames);
    reserveRenderScratch(monitor_, frames);
}

void Engine::pollGlitchKey() noexcept
{
    const auto code = static_cast<uint32_t>(s_.settings.GlitchKey.load());
    const bool held = s_.keys != nullptr && platform::keyCodeHeld(*s_.keys, code);
    if (held) {
        s_.state.glitchKeyHeld.store(s_.state.glitchKeyArmed.load());
    } else {
        s_.state.glitchKeyArmed.store(1);
        s_.state.glitchKeyHeld.store(0);
    }
}

bool Engine::blockCycle(const float* interleaved, uint32_t n, int pass) noexcept
{
    const auto& st = s_.settings;
    const int32_t level = st.mic_level.load();
    if (level != micLevelSeen_) {
        micLevelSeen_ = level;
        micGain_ = levelGain(level);
    }
    Block block;
    block.frames = n;
    block.pass = pass;
    block.micGain = micGain_;
    block.settings = &st;
    block.voice = voice_.data();
    block.wetCable = wetCable_.data();
    block.wetMonitor = wetMonitor_.data();
    block.cable = cableBus_.data();
    block.monitor = monitorBus_.data();

    // 1. Voice input: mono, out-of-range and NaN samples silenced, microphone gain.
    if (interleaved) {
        for (uint32_t i = 0; i < n; ++i) {
            const float v = 0.5f * (interleaved[2 * i] + interleaved[2 * i + 1]);
            voice_[i] = (v > -kInputLimit && v < kInputLimit ? v : 0.0f) * micGain_;
        }
    } else {
        std::fill_n(voice_.begin(), n, 0.0f);
    }

    // 2-3. Equalizer bands and bass boost.
    const uint32_t eqRevision = st.eqRevision.load();
    if (eqRevision != eqRevisionSeen_) {
        eqRevisionSeen_ = eqRevision;
        s_.steps.reloadEq();
    }
    s_.steps.setBassBoost(micGain_);

    // 4-10. The voice chain.
    if (st.isolate.load())
        s_.steps.isolation(block);
    s_.steps.micTone(block);
    const bool masked = (st.mask_on.load() & 1) != 0;
    s_.steps.voiceSpeed(block, masked ? st.voice_speed.load() : 100, st.voice_keep_pitch.load() != 0);
    if (masked)
        s_.steps.voiceChangerAndMask(block);
    if (pass == 1)
        pollGlitchKey();
    s_.steps.glitch(block, masked && (s_.state.glitchButtonHeld.load() || s_.state.glitchKeyHeld.load()));
    if (st.card_mic.load() && !st.raw.load())
        s_.steps.cardMicVoicing(block);
    s_.steps.driveAndBass(block);

    // 11-12. Environment and the two voice outputs.
    s_.steps.environment(block);
    s_.steps.voiceOutput(block);

    // 13. The recorder hears the cable voice before pan and the other sources.
    for (RecorderRing* ring : {&s_.rings.take, &s_.rings.last}) {
        if (ring->armed.load(std::memory_order_acquire))
            ring->push(cableBus_.data(), 2 * n);
    }

    // 14-16. Pan, then the other sources into both outputs.
    s_.steps.voicePan(block);
    s_.steps.mixBuses(block);
    s_.steps.mixPreviews(block);

    // 17. Peak meter of the cable output.
    float peak = 0.0f;
    for (uint32_t i = 0; i < 2 * n; ++i)
        peak = std::max(peak, std::fabs(cableBus_[i]));
    const double scaled = std::min(static_cast<double>(peak) * 10000.0, 2147483647.0);
    raiseOutputPeak(s_.state, static_cast<int32_t>(scaled));

    // 18. Outputs: a failing cable ends the running state; a failing monitor
    // only closes the monitor, which is tried again later.
    if (cable_.isOpen() && !writeRenderBlock(cable_, cableBus_.data(), n))
        return false;
    if (monitor_.isOpen() && !writeRenderBlock(monitor_, monitorBus_.data(), n)) {
        closeRenderOutput(monitor_);
        monitorEndpoint_.clear();
        monitorRetryAtMillis_ = s_.clock.nowMillis() + kMonitorRetryBaseMillis;
    }
    return true;
}

} // namespace engine
