#include "engine/endpoints.h"

#include <algorithm>
#include <cwctype>
#include <thread>

namespace engine {

namespace {

wchar_t lower(wchar_t c)
{
    return static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
}

bool sameIds(const EndpointList& a, const EndpointList& b)
{
    return a == b;
}

} // namespace

bool containsNoCase(std::wstring_view text, std::wstring_view pattern)
{
    if (pattern.empty())
        return true;
    const auto it = std::search(text.begin(), text.end(), pattern.begin(), pattern.end(),
        [](wchar_t a, wchar_t b) { return lower(a) == lower(b); });
    return it != text.end();
}

EndpointList enumerateEndpoints(platform::AudioDevices& devices, platform::Flow flow, uint32_t stateMask)
{
    return devices.enumerate(flow, stateMask);
}

std::wstring defaultEndpointId(platform::AudioDevices& devices, platform::Flow flow)
{
    return devices.defaultEndpointId(flow);
}

bool isCableRender(std::wstring_view name, std::wstring_view adapter)
{
    if (containsNoCase(name, kCableRenderName))
        return true;
    return containsNoCase(adapter, kCableAdapter) && !containsNoCase(name, kCableExcludedName);
}

bool isCableCapture(std::wstring_view name, std::wstring_view adapter)
{
    if (containsNoCase(adapter, kCableAdapter) || containsNoCase(name, kCableCaptureName))
        return true;
    // The capture side after it was renamed has no adapter name left to go by.
    return adapter.empty() && containsNoCase(name, kCableRenamedCapture);
}

bool isListedMicrophone(const EndpointInfo& e)
{
    return !isCableCapture(e.name, e.interfaceName);
}

bool isListedSpeaker(const EndpointInfo& e)
{
    return !containsNoCase(e.name, L"CABLE") && !containsNoCase(e.interfaceName, kCableAdapter);
}

EndpointList microphoneList(platform::AudioDevices& devices)
{
    auto list = enumerateEndpoints(devices, platform::Flow::Capture, platform::kStateActive);
    std::erase_if(list, [](const EndpointInfo& e) { return !isListedMicrophone(e); });
    return list;
}

EndpointList speakerList(platform::AudioDevices& devices)
{
    auto list = enumerateEndpoints(devices, platform::Flow::Render, platform::kStateActive);
    std::erase_if(list, [](const EndpointInfo& e) { return !isListedSpeaker(e); });
    return list;
}

EndpointInfo findCableEndpoint(platform::AudioDevices& devices, uint32_t stateMask)
{
    const auto list = enumerateEndpoints(devices, platform::Flow::Render, stateMask);
    const EndpointInfo* first = nullptr;
    for (const auto& e : list) {
        if (!isCableRender(e.name, e.interfaceName))
            continue;
        if (containsNoCase(e.name, kCableRenderName))
            return e;
        if (!first)
            first = &e;
    }
    return first ? *first : EndpointInfo{};
}

bool isMixerInput(const EndpointInfo& e)
{
    return containsNoCase(e.name, L"Voicemeeter") || containsNoCase(e.interfaceName, L"VB-Audio VoiceMeeter")
        || containsNoCase(e.name, L"VAIO");
}

std::wstring monitorEndpointFor(platform::AudioDevices& devices, const std::wstring& spk, MonitorNeed need)
{
    if (need.app && !spk.empty()) {
        for (const auto& e : enumerateEndpoints(devices, platform::Flow::Render, platform::kStateActive)) {
            if (e.id == spk && isMixerInput(e))
                return need.voice ? spk : std::wstring{};
        }
    }
    return need.voice || need.app ? spk : std::wstring{};
}

bool isHeadphoneName(std::wstring_view name)
{
    return containsNoCase(name, L"headphone") || containsNoCase(name, L"headset");
}

int indexOfId(const EndpointList& list, const std::wstring& id)
{
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i].id == id)
            return static_cast<int>(i);
    return -1;
}

void chooseSpeaker(settings::Settings& settings, const EndpointInfo& speaker)
{
    settings::setDeviceName(settings, settings::DeviceKind::Spk, speaker.id);
    settings.set(&settings::Settings::SpkHeadphone, isHeadphoneName(speaker.name) ? 1 : 0);
}

DeviceLists populateDeviceLists(platform::AudioDevices& devices, settings::Settings& settings)
{
    DeviceLists lists;
    lists.captureList = microphoneList(devices);
    lists.renderList = speakerList(devices);
    if (!lists.captureList.empty()) {
        lists.micIndex = std::max(0, indexOfId(lists.captureList, defaultEndpointId(devices, platform::Flow::Capture)));
        settings::setDeviceName(settings, settings::DeviceKind::Mic, lists.captureList[lists.micIndex].id);
    }
    if (!lists.renderList.empty()) {
        lists.spkIndex = std::max(0, indexOfId(lists.renderList, defaultEndpointId(devices, platform::Flow::Render)));
        chooseSpeaker(settings, lists.renderList[lists.spkIndex]);
    }
    return lists;
}

std::wstring applyRefresh(DeviceLists& current, EndpointList newMics, EndpointList newSpeakers,
    const settings::Settings& settings, bool reportWanted)
{
    std::wstring found;
    auto collect = [&found](const EndpointList& fresh, const EndpointList& old) {
        for (const auto& e : fresh) {
            if (indexOfId(old, e.id) >= 0)
                continue;
            if (!found.empty())
                found += L", ";
            found += e.name;
        }
    };
    collect(newMics, current.captureList);
    collect(newSpeakers, current.renderList);

    bool changed = false;
    if (!sameIds(newMics, current.captureList)) {
        changed = true;
        current.captureList = std::move(newMics);
        current.micIndex = indexOfId(current.captureList, settings::deviceName(settings, settings::DeviceKind::Mic));
    }
    if (!sameIds(newSpeakers, current.renderList)) {
        changed = true;
        current.renderList = std::move(newSpeakers);
        current.spkIndex = indexOfId(current.renderList, settings::deviceName(settings, settings::DeviceKind::Spk));
    }
    if (!reportWanted)
        return {};
    if (!found.empty())
        return kFoundPrefix + found;
    return changed ? kRefreshedText : kNothingNewText;
}

DeviceRefresher::DeviceRefresher(std::shared_ptr<platform::AudioDevices> devices, Deliver deliver, Launch launch)
    : devices_(std::move(devices)), deliver_(std::move(deliver)), launch_(std::move(launch))
{
    if (!launch_)
        launch_ = [](std::function<void()> work) { std::thread(std::move(work)).detach(); };
}

void DeviceRefresher::refresh(bool userAsked)
{
    if (userAsked)
        reportWanted_.store(true);
    if (running_.exchange(true))
        return; // the running worker reports for this request too
    // The worker holds its own references only, so it may outlive this object.
    launch_([devices = devices_, deliver = deliver_] {
        Result result;
        result.microphones = microphoneList(*devices);
        result.speakers = speakerList(*devices);
        deliver(std::move(result));
    });
}

std::wstring DeviceRefresher::finish(DeviceLists& current, Result result, const settings::Settings& settings)
{
    running_.store(false);
    return applyRefresh(
        current, std::move(result.microphones), std::move(result.speakers), settings, reportWanted_.exchange(false));
}

} // namespace engine
