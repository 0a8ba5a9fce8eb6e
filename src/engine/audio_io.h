#pragma once
// Opening streams and writing render blocks with drift compensation. The
// engine thread owns every object here.

#include "platform/audio_endpoints.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace engine {

inline constexpr int64_t kCaptureBufferMicros = 100000;
inline constexpr int64_t kRenderBufferMicros = 80000;

// Fill control constants, frames: low latency / normal.
inline constexpr uint32_t kLowLatencyTolerance = 192; // 4 ms
inline constexpr uint32_t kNormalTolerance = 720;     // 15 ms
inline constexpr uint32_t kLowLatencyTarget = 480;    // 10 ms
inline constexpr uint32_t kNormalTarget = 1200;       // 25 ms
inline constexpr uint32_t kTargetStep = 96;           // raised by this each time the queue runs dry
inline constexpr uint32_t kWritesBeforeRaise = 100;
inline constexpr double kFillSmoothing = 0.02;

// A mix format good for the low-latency capture path: 2 channels, 48000 Hz,
// 32-bit IEEE float, plain or in the extensible form.
bool qualifiesForLowLatency(const platform::MixFormat& format);

// Creates, configures and initialises one stream. option is raw for capture
// and low latency for render; captureEvent is attached to capture streams.
// Returns nullptr on any failure, with the client released.
std::unique_ptr<platform::AudioClient> openAudioClient(platform::AudioDevices& devices, const std::wstring& endpoint,
    bool isCapture, bool option, platform::Event* captureEvent, uint32_t& bufferFrames);
// The capture as the engine opens it: raw first when raw is set, then without.
std::unique_ptr<platform::AudioClient> openCaptureClient(platform::AudioDevices& devices, const std::wstring& endpoint,
    bool raw, platform::Event& captureEvent, uint32_t& bufferFrames);

// One render endpoint (cable or monitor output).
struct RenderOutput {
    std::unique_ptr<platform::AudioClient> client;
    std::unique_ptr<platform::RenderService> renderClient; // open while non-null
    uint32_t bufferFrames = 0;
    uint32_t targetFill = 0;          // queued frames aimed for
    uint32_t tolerance = 0;           // dead band around targetFill
    int32_t maxTarget = 1;            // bufferFrames / 2, at least 1
    uint32_t writeCount = 0;          // up to kWritesBeforeRaise, then stays
    uint8_t primed = 0;               // pre-filled once
    double smoothedFill = 0;          // smoothed queued-frame count
    int32_t sinceCorrection = 0;      // writes since the last one-frame correction
    std::vector<float> stretchBuffer; // scratch for a block one frame longer or shorter
    std::vector<float> silenceBuffer; // scratch for pre-fill silence
    bool lowLatency = false;          // the option it was opened with

    bool isOpen() const { return renderClient != nullptr; }
};

// Opens a render output (low latency first when asked, then without) and
// resets its fill control; on failure the output is left closed.
bool openRenderOutput(
    RenderOutput& output, platform::AudioDevices& devices, const std::wstring& endpoint, bool lowLatency);
// Releases the render service and stops and releases the client.
void closeRenderOutput(RenderOutput& output);
// Makes sure the scratch buffers hold a block of frames, so that writes never allocate.
void reserveRenderScratch(RenderOutput& output, uint32_t frames);

// Writes one block of n interleaved stereo frames with drift compensation.
// Returns false when the output is closed or a platform call fails.
bool writeRenderBlock(RenderOutput& output, const float* samples, uint32_t n) noexcept;

// Linear resampling of n stereo frames to m frames: output frame j reads
// input position j (n - 1) / (m - 1), the last input frame held at the end.
void stretchBlock(const float* in, uint32_t n, float* out, uint32_t m) noexcept;

} // namespace engine
