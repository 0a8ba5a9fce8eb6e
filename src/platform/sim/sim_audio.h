#pragma once
// Simulated audio endpoints on a clock. A test sets the endpoints' names,
// states, formats and defaults, and injects faults: silent packets, gaps in
// the device position, drift between capture and render clocks, refused
// opens, calls failing mid-stream, endpoints that appear and disappear.
//
// A capture stream, or a loopback stream on a render endpoint (its packets
// stamped with their first frame's time on the clock), produces packets of
// packetFrames frames at its rate (48000 Hz unless opened with the mix
// format) times (1 + driftPpm / 1e6) of clock time after start; frames beyond its buffer
// are lost, which shows as a jump of the device position. A render stream
// plays its queue at its own drifted rate and underruns when it runs dry.
// After advancing a ManualClock, call tick() so that capture streams with a
// packet ready set their events. All members are safe to call from any thread.

#include "platform/audio_endpoints.h"

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace platform::sim {

// Fills frames interleaved stereo samples of a capture stream, starting at
// the stream's frame index firstFrame. Called with the simulation's lock held.
using CaptureSource = std::function<void(uint64_t firstFrame, float* interleaved, uint32_t frames)>;

struct SimEndpointSetup {
    Flow flow = Flow::Capture;
    std::wstring id;
    std::wstring name = L"Simulated endpoint";
    std::wstring description = L"Simulated";
    std::wstring interfaceName = L"Simulated Audio Adapter";
    uint32_t state = kStateActive;
    bool hasName = true; // false: the platform gives no friendly name
    MixFormat mixFormat{};
    uint32_t minPeriodFrames = 480; // low-latency shared-mode period; 0 = not offered
    uint32_t packetFrames = 480;    // capture packet size
    // false: a shared-mode stream opens only with the endpoint's mix format,
    // as on an endpoint that refuses the fixed float format.
    bool acceptsFixedFormat = true;
};

// What a test can see of an endpoint and its most recent stream.
struct SimEndpointStats {
    int activationAttempts = 0; // activations asked for, refused or not
    int activations = 0;        // successful activations
    int initializations = 0;    // successful initialisations
    int lowLatencyInits = 0;    // of which on the low-latency path
    int starts = 0;
    int openStreams = 0;        // clients alive on this endpoint
    bool lastRaw = false;       // the raw option of the last setProperties
    uint64_t framesWritten = 0; // render: frames accepted over the endpoint's life
    uint64_t framesDropped = 0; // capture: frames lost to overflow or injected gaps
    uint32_t underruns = 0;     // render: times the queue ran dry while playing
    bool lastMixFormat = false; // the last initialisation used the mix format
};

class SimAudio final : public AudioDevices {
public:
    explicit SimAudio(Clock& clock);
    ~SimAudio() override;

    // Endpoint set-up. Adding an id that exists replaces its set-up.
    void addEndpoint(const SimEndpointSetup& setup);
    // The endpoint disappears: its streams fail with DeviceGone from now on,
    // and it is no longer enumerated or activated.
    void removeEndpoint(const std::wstring& id);
    void setState(const std::wstring& id, uint32_t state);
    void setDefault(Flow flow, const std::wstring& id);

    // Faults.
    void setRefuseOpen(const std::wstring& id, bool refuse); // activation refused
    // Activation takes micros of the clock's time (the calling thread waits).
    void setOpenDelay(const std::wstring& id, int64_t micros);
    void setCallsFail(const std::wstring& id, bool fail);    // every stream call fails
    void setDriftPpm(const std::wstring& id, double ppm);
    void markNextPacketsSilent(const std::wstring& id, int count);
    // The device position of the stream's next packet jumps ahead by frames
    // (the frames are lost), as after a glitch of the device.
    void skipFrames(const std::wstring& id, uint32_t frames);
    // A render endpoint's capture source gives what it plays, which a
    // loopback stream on it captures.
    void setCaptureSource(const std::wstring& id, CaptureSource source);
    // Loopback: while idle the endpoint plays nothing and its loopback
    // streams deliver no packets (the frames of that time never come).
    void setRenderIdle(const std::wstring& id, bool idle);
    // Loopback: packets' time stamps are moved by this much (100 ns units),
    // or are missing (0), from now on.
    void setStampOffset(const std::wstring& id, int64_t hundredNanos);
    void setStampsMissing(const std::wstring& id, bool missing);
    void setRegistrationFails(bool fails);

    // Keeps every frame written to a render endpoint, for inspection, as
    // stereo floats (a mix-format stream's first two channels, mono twice,
    // 16-bit samples over 32768). Room for
    // reserveFrames is made at once, so that recording does not allocate.
    void recordRender(const std::wstring& id, bool keep, size_t reserveFrames = 0);
    std::vector<float> rendered(const std::wstring& id) const;
    SimEndpointStats stats(const std::wstring& id) const;

    // Sets the events of capture streams that hold a packet.
    void tick();

    std::vector<EndpointInfo> enumerate(Flow flow, uint32_t stateMask) override;
    std::wstring defaultEndpointId(Flow flow) override;
    std::unique_ptr<AudioClient> activate(const std::wstring& id, Flow flow, AudioResult& result) override;
    std::unique_ptr<AudioThreadRegistration> registerAudioThread() override;

    struct EndpointState;
    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
};

// A sine of the given frequency and amplitude on both channels.
CaptureSource sineSource(double hz, float amplitude);

} // namespace platform::sim
