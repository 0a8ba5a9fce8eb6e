#include "engine/audio_io.h"

#include "platform/sample_rate.h"

#include <algorithm>

namespace engine {

using platform::AudioResult;

namespace {

constexpr uint16_t kExtensibleFloatMinExtra = 22;

bool ok(AudioResult r)
{
    return r == AudioResult::Ok;
}

std::unique_ptr<platform::AudioClient> activateWithProperties(
    platform::AudioDevices& devices, const std::wstring& endpoint, bool isCapture, bool option)
{
    AudioResult r = AudioResult::Failed;
    auto client = devices.activate(endpoint, isCapture ? platform::Flow::Capture : platform::Flow::Render, r);
    if (!client || !ok(r))
        return nullptr;
    if (!ok(client->setProperties({option})))
        return nullptr;
    return client;
}

} // namespace

bool qualifiesForLowLatency(const platform::MixFormat& f)
{
    if (f.channels != 2 || f.sampleRate != platform::kSampleRate || f.bitsPerSample != 32)
        return false;
    if (f.format != platform::SampleFormat::Float)
        return false;
    return !f.extensible || f.extraSize >= kExtensibleFloatMinExtra;
}

std::unique_ptr<platform::AudioClient> openAudioClient(platform::AudioDevices& devices, const std::wstring& endpoint,
    bool isCapture, bool option, platform::Event* captureEvent, uint32_t& bufferFrames)
{
    bufferFrames = 0;
    auto client = activateWithProperties(devices, endpoint, isCapture, option);
    if (!client)
        return nullptr;

    if (isCapture && option) {
        platform::MixFormat format;
        platform::EnginePeriod period;
        const bool lowLatency = ok(client->mixFormat(format)) && qualifiesForLowLatency(format)
            && ok(client->enginePeriod(period)) && period.minFrames != 0
            && ok(client->initializeLowLatency(period.minFrames))
            && (!captureEvent || ok(client->setEvent(*captureEvent)));
        if (lowLatency && ok(client->bufferSize(bufferFrames)))
            return client;
        // A client that failed half-way cannot be initialised again: start afresh.
        client = activateWithProperties(devices, endpoint, isCapture, option);
        if (!client)
            return nullptr;
    }

    platform::SharedStreamParams params;
    params.autoConvertPcm = true;
    params.eventCallback = isCapture;
    params.bufferDurationMicros = isCapture ? kCaptureBufferMicros : kRenderBufferMicros;
    if (!ok(client->initializeShared(params)))
        return nullptr;
    if (isCapture && (!captureEvent || !ok(client->setEvent(*captureEvent))))
        return nullptr;
    if (!ok(client->bufferSize(bufferFrames)) || bufferFrames == 0)
        return nullptr;
    return client;
}

std::unique_ptr<platform::AudioClient> openCaptureClient(platform::AudioDevices& devices, const std::wstring& endpoint,
    bool raw, platform::Event& captureEvent, uint32_t& bufferFrames)
{
    auto client = openAudioClient(devices, endpoint, true, raw, &captureEvent, bufferFrames);
    if (!client && raw)
        client = openAudioClient(devices, endpoint, true, false, &captureEvent, bufferFrames);
    return client;
}

void reserveRenderScratch(RenderOutput& output, uint32_t frames)
{
    const size_t stretch = (size_t{frames} + 1) * 2;
    if (output.stretchBuffer.size() < stretch)
        output.stretchBuffer.resize(stretch, 0.0f);
}

bool openRenderOutput(
    RenderOutput& output, platform::AudioDevices& devices, const std::wstring& endpoint, bool lowLatency)
{
    closeRenderOutput(output);
    uint32_t frames = 0;
    auto client = openAudioClient(devices, endpoint, false, lowLatency, nullptr, frames);
    bool usedLowLatency = lowLatency;
    if (!client && lowLatency) {
        client = openAudioClient(devices, endpoint, false, false, nullptr, frames);
        usedLowLatency = false;
    }
    if (!client)
        return false;
    AudioResult r = AudioResult::Failed;
    auto service = client->renderService(r);
    if (!service || !ok(r))
        return false;

    output.bufferFrames = frames;
    output.maxTarget = std::max<int32_t>(1, static_cast<int32_t>(frames / 2));
    const auto maxTarget = static_cast<uint32_t>(output.maxTarget);
    output.tolerance = usedLowLatency ? kLowLatencyTolerance : kNormalTolerance;
    output.targetFill = std::min(usedLowLatency ? kLowLatencyTarget : kNormalTarget, maxTarget);
    output.writeCount = 0;
    output.primed = 0;
    output.smoothedFill = 0;
    output.sinceCorrection = 0;
    output.lowLatency = usedLowLatency;
    if (output.silenceBuffer.size() < size_t{frames} * 2)
        output.silenceBuffer.resize(size_t{frames} * 2, 0.0f);
    reserveRenderScratch(output, frames);
    output.client = std::move(client);
    output.renderClient = std::move(service);
    return true;
}

void closeRenderOutput(RenderOutput& output)
{
    output.renderClient.reset();
    if (output.client)
        output.client->stop();
    output.client.reset();
}

namespace {

// Writes k frames, dropping what does not fit in the buffer.
bool writeFrames(RenderOutput& output, const float* samples, uint32_t k) noexcept
{
    if (k == 0)
        return true;
    uint32_t padding = 0;
    if (!ok(output.renderClient->padding(padding)))
        return false;
    const uint32_t space = padding < output.bufferFrames ? output.bufferFrames - padding : 0;
    const uint32_t frames = std::min(k, space);
    if (frames == 0)
        return true;
    return ok(output.renderClient->write(samples, frames));
}

} // namespace

void stretchBlock(const float* in, uint32_t n, float* out, uint32_t m) noexcept
{
    if (m == 0 || n == 0)
        return;
    if (m == 1 || n == 1) {
        for (uint32_t j = 0; j < m; ++j) {
            out[2 * j] = in[0];
            out[2 * j + 1] = in[1];
        }
        return;
    }
    const double step = static_cast<double>(n - 1) / static_cast<double>(m - 1);
    for (uint32_t j = 0; j < m; ++j) {
        const double pos = j * step;
        auto i = static_cast<uint32_t>(pos);
        if (i >= n - 1) {
            out[2 * j] = in[2 * (n - 1)];
            out[2 * j + 1] = in[2 * (n - 1) + 1];
            continue;
        }
        const auto t = static_cast<float>(pos - i);
        out[2 * j] = in[2 * i] + t * (in[2 * i + 2] - in[2 * i]);
        out[2 * j + 1] = in[2 * i + 1] + t * (in[2 * i + 3] - in[2 * i + 1]);
    }
}

bool writeRenderBlock(RenderOutput& output, const float* samples, uint32_t n) noexcept
{
    if (!output.isOpen())
        return false;
    if (n == 0)
        return true;
    if (n <= 3)
        return writeFrames(output, samples, n);

    uint32_t padding = 0;
    if (!ok(output.renderClient->padding(padding)))
        return false;
    output.writeCount = std::min(output.writeCount + 1, kWritesBeforeRaise);

    if (!output.primed || padding == 0) {
        // First write, or the queue ran dry: pre-fill with silence up to the
        // target, and after a settling period aim a little higher.
        if (output.primed && output.writeCount >= kWritesBeforeRaise)
            output.targetFill = std::min(output.targetFill + kTargetStep, static_cast<uint32_t>(output.maxTarget));
        if (padding < output.targetFill) {
            const uint32_t fill = std::min<uint32_t>(
                output.targetFill - padding, static_cast<uint32_t>(output.silenceBuffer.size() / 2));
            if (!writeFrames(output, output.silenceBuffer.data(), fill))
                return false;
        }
        output.primed = 1;
        padding = output.targetFill;
        output.smoothedFill = output.targetFill;
    }

    output.sinceCorrection += 1;
    output.smoothedFill += kFillSmoothing * (static_cast<double>(padding) - output.smoothedFill);

    int change = 0;
    if (output.sinceCorrection >= 2) {
        const double target = output.targetFill;
        const double tolerance = output.tolerance;
        if (output.smoothedFill > target + tolerance)
            change = -1;
        else if (target > output.smoothedFill + tolerance)
            change = 1;
    }
    const auto m = static_cast<uint32_t>(static_cast<int64_t>(n) + change); // n > 3, so m > 0
    if (change == 0 || output.stretchBuffer.size() < size_t{m} * 2)
        return writeFrames(output, samples, n);

    output.sinceCorrection = 0;
    output.smoothedFill += change;
    stretchBlock(samples, n, output.stretchBuffer.data(), m);
    return writeFrames(output, output.stretchBuffer.data(), m);
}

} // namespace engine
