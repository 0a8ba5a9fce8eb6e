#include "engine/engine.h"

#include "platform/audio_thread.h"
#include "platform/sample_rate.h"

namespace engine {

namespace {

constexpr uint32_t kInitialScratchFrames = 4800; // the normal capture buffer, 100 ms

} // namespace

Engine::Engine(EngineServices services)
    : s_(services),
      captureEvent_(s_.clock.createEvent(false)),
      session_({s_.clock, s_.devices, s_.settings, s_.state, s_.reports, *captureEvent_}),
      cycle_({s_.settings, s_.state, s_.reports, s_.rings, s_.steps, s_.keys})
{
    ensureScratch(kInitialScratchFrames);
}

Engine::~Engine()
{
    session_.close();
}

platform::ThreadPriority Engine::priority() const
{
    return registration_ ? registration_->priority() : platform::ThreadPriority::Unchanged;
}

void Engine::ensureScratch(uint32_t frames)
{
    session_.ensureScratch(frames);
    cycle_.ensureScratch(frames);
}

void Engine::publish() noexcept
{
    EngineReport r;
    r.blocks = blocks_;
    r.status = status_;
    r.running = running_;
    r.monitorOpen = session_.monitorOpen();
    r.irLoaded = irLoaded_;
    r.cableStatus = session_.cableStatus();
    r.blockPeak = cycle_.blockPeak();
    r.glitchKeyHeld = cycle_.glitchKeyHeld();
    s_.steps.report(r);
    s_.reports.publish(r);
}

void Engine::start()
{
    platform::flushDenormals();
    registration_ = s_.devices.registerAudioThread();
    irLoaded_ = s_.steps.loadImpulseResponse();
    cycle_.start();
    presetInUse_ = cycle_.settings().preset;
    s_.steps.prepare(platform::kSampleRate, kInitialScratchFrames, presetInUse_);
    phase_ = EnginePhase::Idle;
    publish();
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
    ++openAttempts_;
    cycle_.readSettings();
    if (session_.open(cycle_.settings())) {
        ensureScratch(session_.captureBufferFrames());
        status_ = EngineStatus::Ok;
        running_ = true;
        phase_ = EnginePhase::Running;
        publish();
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

void Engine::fail(bool running)
{
    if (running)
        s_.reports.post({EngineEventKind::DeviceLost});
    else
        status_ = EngineStatus::MicFailed;
    close();
    if (running && s_.state.engineReopenRequest.load()) {
        phase_ = EnginePhase::Idle; // re-open at once
        return;
    }
    retryAt_ = s_.clock.nowMicros() + kRetryDelayMicros;
    phase_ = EnginePhase::RetryWait;
}

void Engine::close()
{
    session_.close();
    running_ = false;
    publish();
}

void Engine::shutdown()
{
    close();
    session_.stop();
    registration_.reset();
    phase_ = EnginePhase::Ended;
}

StepWait Engine::runningStep()
{
    if (s_.state.stopRequest.load()) {
        shutdown();
        return {};
    }
    if (s_.state.engineReopenRequest.load()) {
        close();
        phase_ = EnginePhase::Idle;
        return {};
    }
    cycle_.readSettings();
    const settings::Snapshot& st = cycle_.settings();
    session_.manage(st);
    ensureScratch(session_.captureBufferFrames());

    const int preset = st.preset;
    if (preset != presetInUse_) {
        presetInUse_ = preset;
        s_.steps.changeEnvironment(preset);
    }

    CapturedPacket packet;
    switch (session_.nextPacket(packet)) {
    case CaptureResult::Failed:
        fail(true);
        return {};
    case CaptureResult::Empty:
        return {captureEvent_.get(), kCaptureWaitMicros};
    case CaptureResult::Packet:
        break;
    }
    const uint32_t n = packet.frames;
    if (n == 0)
        return {};
    ensureScratch(std::max(n, packet.gap));

    if (packet.gap > 0) {
        cycle_.run(nullptr, packet.gap, 0);
        if (!session_.writeOutputs(cycle_.cableBus(), cycle_.monitorBus(), packet.gap)) {
            fail(true);
            return {};
        }
    }
    cycle_.run(packet.samples, n, 1);
    if (!session_.writeOutputs(cycle_.cableBus(), cycle_.monitorBus(), n)) {
        fail(true);
        return {};
    }
    ++blocks_;
    publish();
    return {};
}

} // namespace engine
