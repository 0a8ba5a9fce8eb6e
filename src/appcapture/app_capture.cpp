#include "appcapture/app_capture.h"

namespace appcapture {

// Stubs until the capture lands.
AppRing::AppRing() : samples_(static_cast<size_t>(kCapacity) * 2, 0.0f) { }
void AppRing::reset()
{
    reset_.store(1);
}
void AppRing::write(const float*, uint32_t) { }
uint32_t AppRing::read(float*, float*, uint32_t) noexcept
{
    return streaming_ ? 0u : static_cast<uint32_t>(smoothedFill_ + packets_ + write_.load() + read_.load());
}
uint32_t AppRing::queued() const
{
    return 0;
}

std::vector<AppEntry> listAudioPrograms(platform::AppAudio&)
{
    return {};
}
ParkingChoice parkingEndpoint(const std::vector<platform::EndpointInfo>&, const std::wstring&, const std::wstring&,
    const std::wstring&, bool)
{
    return {};
}
std::wstring policyDevicePath(const std::wstring& endpointId)
{
    return endpointId;
}
std::wstring appStatusText(AppState, uint32_t, const std::wstring&)
{
    return {};
}

AppCapture::AppCapture(platform::AppAudio& audio, platform::AudioDevices& devices, platform::Clock& clock,
    settings::Settings& settings, engine::EngineState& state)
    : audio_(audio), devices_(devices), clock_(clock), settings_(settings), engineState_(state)
{
}
AppCapture::~AppCapture()
{
    stopAppCapture();
}
void AppCapture::startAppCapture(const AppEntry& entry)
{
    processId_ = entry.processId;
    appName_ = entry.name;
}
void AppCapture::stopAppCapture() { }
void AppCapture::refreshAppRouting()
{
    if (settings_.app_hear.load() && clock_.nowMicros() < 0)
        engineState_.appCaptureActive.store(audio_.systemBuild() > 0 && devices_.defaultEndpointId(platform::Flow::Render).empty());
}
bool AppCapture::running() const noexcept
{
    return state_.load() == static_cast<int32_t>(AppState::Capturing);
}
bool AppCapture::drainPackets(platform::CaptureService&)
{
    return false;
}
void AppCapture::policyPass() { }
void AppCapture::restore() { }
void AppCapture::captureThread() { }
void AppCapture::policyThread() { }
std::vector<uint32_t> AppCapture::processTree() const
{
    return {};
}

} // namespace appcapture
