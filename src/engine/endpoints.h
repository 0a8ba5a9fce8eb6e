#pragma once
// Finding and naming audio endpoints: the microphone and speaker lists, the
// defaults chosen when nothing has been chosen, the virtual cable's playback
// endpoint, the monitor endpoint, and the background refresh of the lists.
// Every routine asks the platform afresh, so any thread may call it.

#include "platform/audio_endpoints.h"
#include "settings/settings.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace engine {

using platform::EndpointInfo;
using EndpointList = std::vector<EndpointInfo>;

// Case-insensitive containment; an empty pattern matches.
bool containsNoCase(std::wstring_view text, std::wstring_view pattern);

// The virtual cable's endpoints as its driver (VB-CABLE by VB-Audio) names them.
// Render side: where the engine writes the processed voice.
inline constexpr std::wstring_view kCableRenderName = L"CABLE Input";
inline constexpr std::wstring_view kCableAdapter = L"VB-Audio Virtual Cable";
// The multi-channel variant's endpoints are not the voice cable, unless their
// name says "CABLE Input" outright.
inline constexpr std::wstring_view kCableExcludedName = L"16ch";
// Capture side: what other programs pick as their microphone; renamed, it
// carries the new name and no adapter name.
inline constexpr std::wstring_view kCableCaptureName = L"CABLE Output";
inline constexpr std::wstring_view kCableRenamedCapture = L"Omnimix";

// The one rule for each side of the cable, on an endpoint's name and adapter
// (interface) name, case-insensitive like every endpoint name test; the lists,
// the engine's cable lookup and the cable subsystem all use these.
bool isCableRender(std::wstring_view name, std::wstring_view adapter);
bool isCableCapture(std::wstring_view name, std::wstring_view adapter);

EndpointList enumerateEndpoints(platform::AudioDevices& devices, platform::Flow flow, uint32_t stateMask);
std::wstring defaultEndpointId(platform::AudioDevices& devices, platform::Flow flow);

// Active capture endpoints without the cable's own capture side.
EndpointList microphoneList(platform::AudioDevices& devices);
// Active render endpoints without the cable's render side.
EndpointList speakerList(platform::AudioDevices& devices);
bool isListedMicrophone(const EndpointInfo& endpoint);
bool isListedSpeaker(const EndpointInfo& endpoint);

// The cable's playback endpoint among the render endpoints in stateMask; an
// empty EndpointInfo when there is none.
EndpointInfo findCableEndpoint(platform::AudioDevices& devices, uint32_t stateMask = platform::kStateActive);

// Who wants the monitor output.
struct MonitorNeed {
    bool voice = false; // monitor, clip_hear or a take preview
    bool app = false;   // application audio is starting or running and must be heard privately
};
// A speaker that is a mixer's virtual input: application audio alone is never sent there.
bool isMixerInput(const EndpointInfo& endpoint);
// The endpoint id to open as the monitor output for speaker spk, or empty.
std::wstring monitorEndpointFor(platform::AudioDevices& devices, const std::wstring& spk, MonitorNeed need);

// Whether a speaker name is a headset or headphones ("headphone", "headset").
bool isHeadphoneName(std::wstring_view name);

// The two lists and the entries chosen from them, as the main window holds them.
struct DeviceLists {
    EndpointList captureList;
    EndpointList renderList;
    int micIndex = -1; // selected entry, -1 for none
    int spkIndex = -1;
};

// Builds both lists, selects the default endpoints (else the first entries),
// and stores their ids in mic and spk and the headphone flag in SpkHeadphone.
// An empty list leaves its stored choice unchanged.
DeviceLists populateDeviceLists(platform::AudioDevices& devices, settings::Settings& settings);

// Stores a chosen speaker: spk and SpkHeadphone.
void chooseSpeaker(settings::Settings& settings, const EndpointInfo& speaker);

// Index of the entry with this id, or -1.
int indexOfId(const EndpointList& list, const std::wstring& id);

inline constexpr wchar_t kFoundPrefix[] = L"Found ";
inline constexpr wchar_t kRefreshedText[] = L"Audio devices refreshed";
inline constexpr wchar_t kNothingNewText[] = L"No new audio devices found";

// Merges freshly built lists into the current ones (interface thread): lists
// that differ are replaced and their selection follows the stored mic and spk;
// the stored choices never change. Returns the report text, empty when no
// report was wanted.
std::wstring applyRefresh(DeviceLists& current, EndpointList newMics, EndpointList newSpeakers,
    const settings::Settings& settings, bool reportWanted);

// The background refresh: at most one worker at a time; a refresh asked for
// while one runs is absorbed by it, and its report flag still counts.
class DeviceRefresher {
public:
    // The worker's result, handed over on the worker's thread; the receiver
    // passes it to finish() on the interface thread.
    struct Result {
        EndpointList microphones;
        EndpointList speakers;
    };
    using Deliver = std::function<void(Result)>;
    // Runs a worker; the default starts a detached thread.
    using Launch = std::function<void(std::function<void()>)>;

    DeviceRefresher(std::shared_ptr<platform::AudioDevices> devices, Deliver deliver, Launch launch = {});

    // Starts a refresh unless one is running. userAsked asks for a report.
    void refresh(bool userAsked);
    // Interface thread: merges the worker's result and returns the report text
    // (empty when no report was wanted).
    std::wstring finish(DeviceLists& current, Result result, const settings::Settings& settings);
    bool running() const { return running_.load(); }

private:
    std::shared_ptr<platform::AudioDevices> devices_;
    Deliver deliver_;
    Launch launch_;
    std::atomic<bool> running_{false};
    std::atomic<bool> reportWanted_{false};
};

} // namespace engine
