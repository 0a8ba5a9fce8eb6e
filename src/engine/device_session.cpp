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

} // namespace

DeviceSession::DeviceSession(SessionServices services) : s_(services)
{ }

DeviceSession::~DeviceSession()
{
    close();
}

void DeviceSession::ensureScratch(uint32_t frames)
{
    scratchFrames_ = std::max(scratchFrames_, frames);
    if (capture_.size() < size_t{frames} * 2)
        capture_.resize(size_t{frames} * 2);
    reserveRenderScratch(cable_, frames);
    reserveRenderScratch(monitor_, frames);
}

void DeviceSession::restartGapDetection()
{
    havePosition_ = false;
    goodPackets_ = 0;
}

bool DeviceSession::open()
{
    close();
    const std::wstring mic = settings::deviceName(s_.settings, settings::DeviceKind::Mic);
    const std::wstring spk = settings::deviceName(s_.settings, settings::DeviceKind::Spk);
    cableEndpoint_ = findCableEndpoint(s_.devices, platform::kStateActive).id;

    if (mic.empty())
        return false;
    captureClient_
        = openCaptureClient(s_.devices, mic, s_.settings.raw.load() != 0, s_.captureEvent, captureBufferFrames_);
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

    monitorFlags_ = monitorNeeds();
    monitorWanted_.clear();
    if (monitorFlags_ != 0)
        monitorWanted_ = monitorEndpointFor(s_.devices, spk, needOf(monitorFlags_));
    monitorRetries_ = 0;
    monitorRetryAtMillis_ = 0;
    if (!monitorWanted_.empty()) {
        if (openRenderOutput(monitor_, s_.devices, monitorWanted_, (monitorFlags_ & kMonitorLowLatencyNeeds) != 0))
            monitorEndpoint_ = monitorWanted_;
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
    cableStatus_ = cable_.isOpen() ? kCableOpen : (cableEndpoint_.empty() ? kCableMissing : kCableRefused);
    if (cableStatus_ == kCableRefused)
        s_.reports.post({EngineEventKind::CableRefused});
    s_.state.micReopenRequest.store(0);
    restartGapDetection();
    return true;
}

void DeviceSession::close()
{
    // Opens in flight are waited for and their streams closed with the rest.
    micWorker_.wait();
    micWorker_.take();
    for (auto* worker : {&monitorWorker_, &cableWorker_}) {
        worker->wait();
        OutputOpen result = worker->take();
        closeRenderOutput(result.output);
    }
    captureService_.reset();
    closeRenderOutput(monitor_);
    closeRenderOutput(cable_);
    if (captureClient_)
        captureClient_->stop();
    captureClient_.reset();
    monitorEndpoint_.clear();
    cableStatus_ = kCableNotRunning;
}

void DeviceSession::waitForWorkers()
{
    micWorker_.wait();
    monitorWorker_.wait();
    cableWorker_.wait();
}

void DeviceSession::manage()
{
    manageMonitor();
    retryCable();
    reopenMic();
}

uint8_t DeviceSession::monitorNeeds() const
{
    const auto& st = s_.settings;
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

void DeviceSession::startOutputOpen(DeviceWorker<OutputOpen>& worker, const std::wstring& endpoint, bool lowLatency)
{
    worker.start([&devices = s_.devices, endpoint, lowLatency, frames = scratchFrames_] {
        OutputOpen result;
        result.endpoint = endpoint;
        if (openRenderOutput(result.output, devices, endpoint, lowLatency) && ok(result.output.client->start()))
            reserveRenderScratch(result.output, frames);
        else
            closeRenderOutput(result.output);
        return result;
    });
}

void DeviceSession::manageMonitor()
{
    const uint8_t flags = monitorNeeds();
    if (flags != monitorFlags_) {
        monitorFlags_ = flags;
        std::wstring wanted;
        if (flags != 0)
            wanted = monitorEndpointFor(
                s_.devices, settings::deviceName(s_.settings, settings::DeviceKind::Spk), needOf(flags));
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
    takeMonitor();
    const int64_t now = s_.clock.nowMillis();
    if (monitorWanted_.empty() || monitor_.isOpen() || monitorWorker_.active() || now < monitorRetryAtMillis_)
        return;
    monitorAttemptMillis_ = now;
    startOutputOpen(monitorWorker_, monitorWanted_, (flags & kMonitorLowLatencyNeeds) != 0);
}

void DeviceSession::takeMonitor()
{
    if (!monitorWorker_.finished())
        return;
    OutputOpen result = monitorWorker_.take();
    if (!result.output.isOpen()) {
        monitorOpenFailed(monitorAttemptMillis_);
        return;
    }
    if (result.endpoint != monitorWanted_ || monitor_.isOpen()) {
        // The needs changed while it opened: the next packet opens the one wanted now.
        closeRenderOutput(result.output);
        return;
    }
    std::swap(monitor_, result.output);
    monitorEndpoint_ = result.endpoint;
    monitorRetries_ = 0;
}

void DeviceSession::retryCable()
{
    takeCable();
    if (cable_.isOpen() || cableEndpoint_.empty() || cableWorker_.active() || !s_.state.cableRetryRequest.exchange(0))
        return;
    startOutputOpen(cableWorker_, cableEndpoint_, false);
}

void DeviceSession::takeCable()
{
    if (!cableWorker_.finished())
        return;
    OutputOpen result = cableWorker_.take();
    if (result.output.isOpen() && !cable_.isOpen()) {
        std::swap(cable_, result.output);
        cableStatus_ = kCableOpen;
        return;
    }
    closeRenderOutput(result.output);
    if (!cable_.isOpen()) {
        cableStatus_ = kCableRefused;
        s_.reports.post({EngineEventKind::CableRefused});
    }
}

void DeviceSession::reopenMic()
{
    takeMic();
    if (micWorker_.active() || !s_.state.micReopenRequest.exchange(0))
        return;
    const std::wstring mic = settings::deviceName(s_.settings, settings::DeviceKind::Mic);
    const bool raw = s_.settings.raw.load() != 0;
    micWorker_.start([&devices = s_.devices, &event = s_.captureEvent, mic, raw] {
        CaptureOpen result;
        result.client = openCaptureClient(devices, mic, raw, event, result.bufferFrames);
        return result;
    });
}

void DeviceSession::takeMic()
{
    if (!micWorker_.finished())
        return;
    CaptureOpen result = micWorker_.take();
    auto client = std::move(result.client);
    if (!client) {
        s_.reports.post({EngineEventKind::MicReopenFailed});
        return;
    }
    AudioResult r = AudioResult::Failed;
    auto service = client->captureService(r);
    if (!service || !ok(r) || !ok(client->start())) {
        client->stop();
        s_.reports.post({EngineEventKind::MicReopenFailed});
        return; // the old capture stays
    }
    captureService_.reset();
    if (captureClient_)
        captureClient_->stop();
    captureClient_ = std::move(client);
    captureService_ = std::move(service);
    captureEndpoint_ = settings::deviceName(s_.settings, settings::DeviceKind::Mic);
    captureBufferFrames_ = result.bufferFrames;
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
        closeRenderOutput(monitor_);
        monitorEndpoint_.clear();
        monitorRetryAtMillis_ = s_.clock.nowMillis() + kMonitorRetryBaseMillis;
        s_.reports.post({EngineEventKind::MonitorLost});
    }
    return true;
}

} // namespace engine
