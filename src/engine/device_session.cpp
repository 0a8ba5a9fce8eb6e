#include "engine/device_session.h"

#include "engine/endpoints.h"

#include <algorithm>

namespace engine {

using platform::AudioResult;

namespace {

bool ok(AudioResult r)
{
    return r == AudioResult::Ok;
}

MonitorNeed needOf(uint8_t flags)
{
    return {(flags & (kMonitorForVoice | kMonitorForClips | kMonitorForPreview)) != 0, (flags & kMonitorForApp) != 0};
}

bool lowLatencyFor(uint8_t flags)
{
    return (flags & kMonitorLowLatencyNeeds) != 0;
}

// Device thread: opens and starts an output with its scratch for frames;
// false, and the output closed, when either fails.
bool openStartedOutput(RenderOutput& output, platform::AudioDevices& devices, const std::wstring& endpoint,
    bool lowLatency, uint32_t frames)
{
    if (openRenderOutput(output, devices, endpoint, lowLatency) && ok(output.client->start())) {
        reserveRenderScratch(output, frames);
        return true;
    }
    closeRenderOutput(output);
    output = RenderOutput{};
    return false;
}

} // namespace

DeviceSession::DeviceSession(SessionServices services) : s_(services), devices_([this](DeviceJob& job) { runJob(job); })
{ }

DeviceSession::~DeviceSession()
{
    stop();
}

void DeviceSession::ensureScratch(uint32_t frames)
{
    scratchFrames_ = std::max(scratchFrames_, frames);
    if (capture_.size() < size_t{frames} * 2)
        capture_.resize(size_t{frames} * 2);
    // A closed output holds no scratch: it went to the device thread whole.
    for (RenderOutput* output : {&cable_, &monitor_}) {
        if (output->isOpen())
            reserveRenderScratch(*output, frames);
    }
}

void DeviceSession::restartGapDetection()
{
    havePosition_ = false;
    goodPackets_ = 0;
}

bool DeviceSession::open(const settings::Snapshot& st)
{
    close();
    // The voice does not flow yet: the opens run here, one after the other.
    const std::wstring mic = settings::deviceName(s_.settings, settings::DeviceKind::Mic);
    const std::wstring spk = settings::deviceName(s_.settings, settings::DeviceKind::Spk);
    const std::wstring cable = findCableEndpoint(s_.devices, platform::kStateActive).id;
    cableEndpoint_.assign(cable);

    if (mic.empty())
        return false;
    captureClient_ = openCaptureClient(s_.devices, mic, st.raw != 0, s_.captureEvent, captureBufferFrames_);
    if (!captureClient_)
        return false;
    AudioResult r = AudioResult::Failed;
    captureService_ = captureClient_->captureService(r);
    if (!captureService_ || !ok(r))
        return false;
    captureEndpoint_.assign(mic);
    ensureScratch(captureBufferFrames_);

    if (!cable.empty())
        openRenderOutput(cable_, s_.devices, cable, false);

    monitorFlags_ = monitorNeeds(st);
    std::wstring wanted;
    if (monitorFlags_ != 0)
        wanted = monitorEndpointFor(s_.devices, spk, needOf(monitorFlags_));
    monitorWanted_.assign(wanted);
    monitorRetries_ = 0;
    monitorRetryAtMillis_ = 0;
    if (!wanted.empty()) {
        if (openRenderOutput(monitor_, s_.devices, wanted, lowLatencyFor(monitorFlags_)))
            monitorEndpoint_.assign(wanted);
        else
            monitorOpenFailed(s_.clock.nowMillis());
    }

    if (!ok(captureClient_->start()))
        return false;
    if (cable_.isOpen() && !ok(cable_.client->start()))
        closeRenderOutput(cable_);
    if (monitor_.isOpen() && !ok(monitor_.client->start())) {
        closeRenderOutput(monitor_);
        monitorEndpoint_.clear();
        monitorOpenFailed(s_.clock.nowMillis());
    }
    cableStatus_ = cable_.isOpen() ? kCableOpen : (cable.empty() ? kCableMissing : kCableRefused);
    if (cableStatus_ == kCableRefused)
        s_.reports.post({EngineEventKind::CableRefused});
    s_.state.micReopenRequest.store(0);
    restartGapDetection();
    return true;
}

void DeviceSession::close()
{
    // Jobs in flight are waited for and their streams closed with the rest.
    devices_.waitIdle();
    while (DeviceJob* left = devices_.result()) {
        left->closeStreams();
        devices_.done();
    }
    monitorInFlight_ = cableInFlight_ = micInFlight_ = false;
    captureService_.reset();
    closeRenderOutput(monitor_);
    closeRenderOutput(cable_);
    if (captureClient_)
        captureClient_->stop();
    captureClient_.reset();
    monitorEndpoint_.clear();
    cableStatus_ = kCableNotRunning;
}

void DeviceSession::stop()
{
    close();
    devices_.stop();
}

DeviceJob* DeviceSession::newJob(DeviceJobKind kind) noexcept
{
    DeviceJob* job = devices_.jobSlot();
    if (job)
        job->kind = kind;
    return job;
}

void DeviceSession::retire(RenderOutput& output) noexcept
{
    if (!output.client && !output.renderClient)
        return;
    if (DeviceJob* job = newJob(DeviceJobKind::Retire)) {
        job->output = std::move(output);
        output = RenderOutput{};
        devices_.post();
        return;
    }
    closeRenderOutput(output);
}

void DeviceSession::retireCapture() noexcept
{
    if (DeviceJob* job = newJob(DeviceJobKind::Retire)) {
        job->captureService = std::move(captureService_);
        job->captureClient = std::move(captureClient_);
        devices_.post();
        return;
    }
    captureService_.reset();
    if (captureClient_)
        captureClient_->stop();
    captureClient_.reset();
}

void DeviceSession::manage(const settings::Snapshot& st)
{
    takeResults();
    manageMonitor(st);
    retryCable();
    reopenMic(st);
}

void DeviceSession::runJob(DeviceJob& job) const
{
    switch (job.kind) {
    case DeviceJobKind::OpenMonitor: {
        std::wstring wanted;
        if (job.monitorNeeds != 0)
            wanted = monitorEndpointFor(
                s_.devices, settings::deviceName(s_.settings, settings::DeviceKind::Spk), needOf(job.monitorNeeds));
        job.endpoint.assign(wanted);
        if (wanted.empty())
            job.monitorOutcome = MonitorOutcome::NotWanted;
        else if (job.endpoint == job.monitorOpenOn)
            job.monitorOutcome = MonitorOutcome::Kept;
        else if (!job.mayOpen && job.endpoint == job.monitorWantedSoFar)
            job.monitorOutcome = MonitorOutcome::Waiting;
        else if (openStartedOutput(job.output, s_.devices, wanted, lowLatencyFor(job.monitorNeeds), job.frames))
            job.monitorOutcome = MonitorOutcome::Opened;
        else
            job.monitorOutcome = MonitorOutcome::Failed;
        break;
    }
    case DeviceJobKind::OpenCable:
        openStartedOutput(job.output, s_.devices, job.endpoint.str(), false, job.frames);
        break;
    case DeviceJobKind::OpenMic: {
        const std::wstring mic = settings::deviceName(s_.settings, settings::DeviceKind::Mic);
        job.endpoint.assign(mic);
        auto client = openCaptureClient(s_.devices, mic, job.raw, s_.captureEvent, job.captureBufferFrames);
        if (!client)
            break;
        AudioResult r = AudioResult::Failed;
        auto service = client->captureService(r);
        if (!service || !ok(r) || !ok(client->start())) {
            service.reset();
            client->stop();
            break;
        }
        job.captureClient = std::move(client);
        job.captureService = std::move(service);
        break;
    }
    case DeviceJobKind::Retire:
        break;
    }
}

void DeviceSession::takeResults() noexcept
{
    while (DeviceJob* result = devices_.result()) {
        switch (result->kind) {
        case DeviceJobKind::OpenMonitor:
            takeMonitor(*result);
            break;
        case DeviceJobKind::OpenCable:
            takeCable(*result);
            break;
        case DeviceJobKind::OpenMic:
            takeMic(*result);
            break;
        case DeviceJobKind::Retire:
            break;
        }
        devices_.done();
    }
}

uint8_t DeviceSession::monitorNeeds(const settings::Snapshot& st) const
{
    uint8_t flags = 0;
    if (st.monitor)
        flags |= kMonitorForVoice;
    if (st.clip_hear)
        flags |= kMonitorForClips;
    if (s_.state.appCaptureActive.load() && (!st.app_hear || st.app_only))
        flags |= kMonitorForApp;
    if (s_.state.previewNeedsMonitor.load())
        flags |= kMonitorForPreview;
    return flags;
}

// Back-off from the attempt's start: 2, 4, 8, 16, then 32 s.
void DeviceSession::monitorOpenFailed(int64_t attemptMillis)
{
    const int shift = std::min(monitorRetries_, 4);
    monitorRetryAtMillis_ = attemptMillis + (kMonitorRetryBaseMillis << shift);
    ++monitorRetries_;
}

// A change of needs asks the device thread which endpoint they want and has
// it opened there; the open monitor keeps playing until the new one is in.
// Needs that want no monitor close it at once.
void DeviceSession::manageMonitor(const settings::Snapshot& st)
{
    if (monitorInFlight_)
        return;
    const uint8_t flags = monitorNeeds(st);
    const int64_t now = s_.clock.nowMillis();
    const bool changed = flags != monitorFlags_;
    if (flags == 0) {
        monitorFlags_ = 0;
        if (!monitorWanted_.empty()) {
            monitorRetries_ = 0;
            monitorRetryAtMillis_ = 0;
        }
        monitorWanted_.clear();
        retire(monitor_);
        monitorEndpoint_.clear();
        return;
    }
    const bool retryDue = !monitorWanted_.empty() && !monitor_.isOpen() && now >= monitorRetryAtMillis_;
    if (!changed && !retryDue)
        return;
    DeviceJob* job = newJob(DeviceJobKind::OpenMonitor);
    if (!job)
        return;
    job->monitorNeeds = flags;
    if (monitor_.isOpen())
        job->monitorOpenOn = monitorEndpoint_;
    else
        job->monitorOpenOn.clear();
    job->monitorWantedSoFar = monitorWanted_;
    job->mayOpen = now >= monitorRetryAtMillis_;
    job->frames = scratchFrames_;
    devices_.post();
    monitorFlags_ = flags;
    monitorInFlight_ = true;
    monitorAttemptMillis_ = now;
}

void DeviceSession::takeMonitor(DeviceJob& result) noexcept
{
    monitorInFlight_ = false;
    if (!(result.endpoint == monitorWanted_)) {
        monitorRetries_ = 0;
        monitorRetryAtMillis_ = 0;
    }
    monitorWanted_ = result.endpoint;
    switch (result.monitorOutcome) {
    case MonitorOutcome::Kept:
        return;
    case MonitorOutcome::Opened:
        retire(monitor_);
        std::swap(monitor_, result.output);
        monitorEndpoint_ = result.endpoint;
        monitorRetries_ = 0;
        return;
    case MonitorOutcome::Failed:
        monitorOpenFailed(monitorAttemptMillis_);
        break;
    case MonitorOutcome::NotWanted:
    case MonitorOutcome::Waiting:
        break;
    }
    // The open monitor is on an endpoint no longer wanted.
    retire(monitor_);
    monitorEndpoint_.clear();
}

void DeviceSession::retryCable()
{
    if (cable_.isOpen() || cableEndpoint_.empty() || cableInFlight_ || !s_.state.cableRetryRequest.exchange(0))
        return;
    DeviceJob* job = newJob(DeviceJobKind::OpenCable);
    if (!job)
        return;
    job->endpoint = cableEndpoint_;
    job->frames = scratchFrames_;
    devices_.post();
    cableInFlight_ = true;
}

void DeviceSession::takeCable(DeviceJob& result) noexcept
{
    cableInFlight_ = false;
    if (result.output.isOpen() && !cable_.isOpen()) {
        std::swap(cable_, result.output);
        cableStatus_ = kCableOpen;
        return;
    }
    retire(result.output);
    if (!cable_.isOpen()) {
        cableStatus_ = kCableRefused;
        s_.reports.post({EngineEventKind::CableRefused});
    }
}

void DeviceSession::reopenMic(const settings::Snapshot& st)
{
    if (micInFlight_ || !s_.state.micReopenRequest.exchange(0))
        return;
    DeviceJob* job = newJob(DeviceJobKind::OpenMic);
    if (!job)
        return;
    job->raw = st.raw != 0;
    devices_.post();
    micInFlight_ = true;
}

void DeviceSession::takeMic(DeviceJob& result) noexcept
{
    micInFlight_ = false;
    if (!result.captureClient) {
        s_.reports.post({EngineEventKind::MicReopenFailed});
        return; // the old capture stays
    }
    retireCapture();
    captureClient_ = std::move(result.captureClient);
    captureService_ = std::move(result.captureService);
    captureEndpoint_ = result.endpoint;
    captureBufferFrames_ = result.captureBufferFrames;
    ensureScratch(captureBufferFrames_);
    restartGapDetection();
    s_.reports.post({EngineEventKind::MicReopened});
}

CaptureResult DeviceSession::nextPacket(CapturedPacket& packet)
{
    uint32_t size = 0;
    if (!ok(captureService_->nextPacketSize(size)))
        return CaptureResult::Failed;
    if (size == 0)
        return CaptureResult::Empty;

    platform::CapturePacket raw;
    if (!ok(captureService_->getPacket(raw)))
        return CaptureResult::Failed;
    const uint32_t n = raw.frames;
    ensureScratch(n);
    const bool silent = (raw.flags & platform::kPacketSilent) != 0 || raw.data == nullptr;
    if (silent)
        std::fill_n(capture_.begin(), size_t{n} * 2, 0.0f);
    else
        std::copy_n(raw.data, size_t{n} * 2, capture_.begin());
    if (!ok(captureService_->releasePacket(n)))
        return CaptureResult::Failed;
    packet = {capture_.data(), n, 0};
    if (n == 0)
        return CaptureResult::Packet;

    // Gap detection: lost frames are replaced by silence of the same length
    // so that the outputs keep their timing, but only when the device has
    // been punctual and the jump is small enough to be a real gap.
    if (havePosition_ && raw.devicePosition == expectedPosition_) {
        goodPackets_ = std::min(goodPackets_ + 1, kGoodPacketsForGapFill);
    } else if (havePosition_ && goodPackets_ >= kGoodPacketsForGapFill && captureBufferFrames_ < kGapLimitFrames
        && raw.devicePosition > expectedPosition_ && raw.devicePosition - expectedPosition_ <= kGapLimitFrames) {
        packet.gap = static_cast<uint32_t>(raw.devicePosition - expectedPosition_);
    } else {
        goodPackets_ = 0;
    }
    expectedPosition_ = raw.devicePosition + n;
    havePosition_ = true;
    if (packet.gap > 0) {
        ensureScratch(packet.gap); // keeps the packet, which may move
        packet.samples = capture_.data();
    }
    return CaptureResult::Packet;
}

bool DeviceSession::writeOutputs(const float* cable, const float* monitor, uint32_t n) noexcept
{
    if (cable_.isOpen() && !writeRenderBlock(cable_, cable, n))
        return false;
    if (monitor_.isOpen() && !writeRenderBlock(monitor_, monitor, n)) {
        retire(monitor_);
        monitorEndpoint_.clear();
        monitorRetryAtMillis_ = s_.clock.nowMillis() + kMonitorRetryBaseMillis;
        s_.reports.post({EngineEventKind::MonitorLost});
    }
    return true;
}

} // namespace engine
