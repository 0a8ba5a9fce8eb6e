#pragma once
// Audio streams in the platform's own terms: an audio client is initialised
// for a format and a buffer, then gives a render service (buffer size,
// padding, write) or a capture service (packets with a frame count, flags and
// a device position). Every call reports an AudioResult; failures of the
// platform are mapped to these at the adapter boundary.

#include "platform/clock.h"
#include "platform/sample_rate.h"

#include <cstdint>
#include <memory>

namespace platform {

enum class AudioResult : uint8_t {
    Ok,
    NotFound,    // no endpoint with that id, or not in the right flow
    DeviceGone,  // the endpoint was removed or disabled while in use
    Refused,     // the endpoint or the platform refused the request
    Unsupported, // the format, option or interface is not available
    WrongState,  // a call made before initialisation, or twice
    BufferError, // a buffer request was too large or out of order
    Failed,      // any other failure
};

// A short English name for the log ("device gone", ...).
const char* describe(AudioResult result);

// The formats the program sees; sample formats other than these read as Other.
enum class SampleFormat : uint8_t { Other, Pcm, Float };

// An endpoint's shared-mode mix format as the platform describes it.
struct MixFormat {
    uint16_t channels = 2;
    uint32_t sampleRate = kSampleRate;
    uint16_t bitsPerSample = 32;
    SampleFormat format = SampleFormat::Float;
    bool extensible = false; // the extensible form: extraSize and format come from its sub-format
    uint16_t extraSize = 0;
};

// The shared-mode engine periods of an endpoint, frames.
struct EnginePeriod {
    uint32_t defaultFrames = 0;
    uint32_t fundamentalFrames = 0;
    uint32_t minFrames = 0;
    uint32_t maxFrames = 0;
};

// Client properties set before initialisation (size 16, not offloaded,
// category Other; raw switches off the platform's own signal processing).
struct ClientProperties {
    bool raw = false;
};

// A shared-mode initialisation with the program's fixed format: IEEE float,
// 2 channels, 48000 Hz; or, with useMixFormat, with the endpoint's own mix
// format, for a stream that writes its frames in that format (writeFrames).
// With loopback, a client on a render endpoint captures what the endpoint
// plays (polled, without an event): its capture service gives the packets.
struct SharedStreamParams {
    bool autoConvertPcm = true;
    bool srcDefaultQuality = false; // the platform's default-quality rate conversion
    bool eventCallback = false;
    bool useMixFormat = false;
    bool loopback = false;
    int64_t bufferDurationMicros = 0;
};

inline constexpr uint32_t kPacketSilent = 0x2;        // the packet is to be taken as zeros
inline constexpr uint32_t kPacketDiscontinuity = 0x1; // the platform saw a glitch before it

// One capture packet, valid until releasePacket.
struct CapturePacket {
    const float* data = nullptr; // interleaved stereo; meaningless when silent
    // The same frames in the stream's own format: the mix format's when the
    // stream was initialised with it (channels samples per frame).
    const uint8_t* bytes = nullptr;
    uint32_t frames = 0;
    uint32_t flags = 0;
    uint64_t devicePosition = 0; // frames since the stream started
    // When the first frame was captured, on the performance-counter clock in
    // 100 ns units (the Clock's microseconds × 10); 0 when the platform gives none.
    uint64_t qpcPosition = 0;
};

class RenderService {
public:
    virtual ~RenderService() = default;
    // Frames queued and not yet played.
    virtual AudioResult padding(uint32_t& frames) = 0;
    // Gets a buffer of frames, copies frames * 2 floats in, releases it.
    // Fails with BufferError when frames exceed the free space.
    virtual AudioResult write(const float* interleaved, uint32_t frames) = 0;
    // The same with frames in the stream's own format: the fixed format's, or
    // the mix format's when the stream was initialised with it (channels
    // samples per frame, of its sample type and size).
    virtual AudioResult writeFrames(const void* frames, uint32_t count)
    {
        (void)frames;
        (void)count;
        return AudioResult::Unsupported;
    }
};

class CaptureService {
public:
    virtual ~CaptureService() = default;
    // Frames in the next packet; 0 when none is ready.
    virtual AudioResult nextPacketSize(uint32_t& frames) = 0;
    virtual AudioResult getPacket(CapturePacket& packet) = 0;
    virtual AudioResult releasePacket(uint32_t frames) = 0;
};

class AudioClient {
public:
    virtual ~AudioClient() = default;

    virtual AudioResult setProperties(const ClientProperties& properties) = 0;
    virtual AudioResult mixFormat(MixFormat& format) = 0;
    // Unsupported when the platform has no low-latency shared-mode interface.
    virtual AudioResult enginePeriod(EnginePeriod& period) = 0;
    // Shared mode at periodFrames with the mix format and event callback.
    virtual AudioResult initializeLowLatency(uint32_t periodFrames) = 0;
    virtual AudioResult initializeShared(const SharedStreamParams& params) = 0;
    // The event the client sets when a capture packet is ready. The event
    // must outlive the client.
    virtual AudioResult setEvent(Event& event) = 0;
    virtual AudioResult bufferSize(uint32_t& frames) = 0;
    virtual AudioResult start() = 0;
    virtual AudioResult stop() = 0;

    virtual std::unique_ptr<RenderService> renderService(AudioResult& result) = 0;
    virtual std::unique_ptr<CaptureService> captureService(AudioResult& result) = 0;
};

} // namespace platform
