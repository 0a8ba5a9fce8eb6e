#pragma once
// Audio endpoints as the program needs them: enumeration by flow and state,
// the four names of an endpoint, the default endpoint of a flow, and
// activation of an audio client on an endpoint. Windows implements this on
// the multimedia device enumerator; the simulated platform on a virtual clock.

#include "platform/audio_stream.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

enum class Flow { Render, Capture };

// Endpoint state bits; a state mask is any combination of them.
inline constexpr uint32_t kStateActive = 0x1;
inline constexpr uint32_t kStateDisabled = 0x2;
inline constexpr uint32_t kStateNotPresent = 0x4;
inline constexpr uint32_t kStateUnplugged = 0x8;
inline constexpr uint32_t kStateAll = 0xF;

// One listed endpoint. A name the platform does not give reads "?".
struct EndpointInfo {
    std::wstring name;          // device friendly name, shown in the lists
    std::wstring id;            // endpoint identifier: what is stored and opened
    std::wstring description;   // device description, kept, not shown
    std::wstring interfaceName; // adapter (device interface) friendly name

    bool operator==(const EndpointInfo&) const = default;
};

inline constexpr wchar_t kMissingName[] = L"?";

// The registration of an audio thread with the platform's scheduler.
enum class ThreadPriority {
    ProAudio,     // registered under "Pro Audio" at critical priority
    TimeCritical, // the registration failed; plain time-critical priority instead
    Unchanged,    // neither was possible
};

// Keeps an audio thread's scheduling registration; leaving it ends the registration.
class AudioThreadRegistration {
public:
    virtual ~AudioThreadRegistration() = default;
    virtual ThreadPriority priority() const = 0;
};

class AudioDevices {
public:
    virtual ~AudioDevices() = default;

    // Every endpoint of the flow whose state is in stateMask, in the platform's
    // order. Endpoints whose id cannot be read are left out; a failed
    // enumeration gives an empty list.
    virtual std::vector<EndpointInfo> enumerate(Flow flow, uint32_t stateMask) = 0;
    // The id of the flow's default endpoint for the console role, or empty.
    virtual std::wstring defaultEndpointId(Flow flow) = 0;
    // An inactive audio client on the endpoint with this id (nullptr with the
    // reason in result when the endpoint is unknown or refuses activation).
    virtual std::unique_ptr<AudioClient> activate(const std::wstring& id, Flow flow, AudioResult& result) = 0;

    // Registers the calling thread as a "Pro Audio" thread at critical
    // priority, falling back to time-critical thread priority. The returned
    // object must be destroyed on the same thread.
    virtual std::unique_ptr<AudioThreadRegistration> registerAudioThread() = 0;
};

} // namespace platform
