#include "engine/output_tap.h"

namespace engine {

OutputTap::OutputTap(platform::Clock& clock, platform::AudioDevices& devices) : clock_(clock), devices_(devices) { }

OutputTap::~OutputTap()
{
    stopTap();
}

void OutputTap::startTap(uint32_t, EndpointSource, RecorderRing&, RecorderRing&) { }
void OutputTap::stopTap() { }
void OutputTap::setThreadHooks(std::function<void()> begin, std::function<void()> end)
{
    beginHook_ = std::move(begin);
    endHook_ = std::move(end);
}
void OutputTap::run() { }

bool tapShouldRun(const TapWish&)
{
    return false;
}
void hearTapSync(OutputTap&, const TapWish&, EndpointSource, RecorderRing&, RecorderRing&) { }

} // namespace engine
