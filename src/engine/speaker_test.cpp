#include "engine/speaker_test.h"

#include "engine/endpoints.h"
#include "platform/sample_rate.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace engine {

using platform::AudioResult;

namespace {

// The generator runs at the stream's rate, so that the signals keep their
// pitch and length on any endpoint, 8 kHz hands-free headsets included; a
// rate below any endpoint's is taken for a misreported one and replaced by
// the program's own.
constexpr uint32_t kLowestStreamRate = 8000;
constexpr uint32_t kChunksPerSecond = 50; // 20 ms chunks

bool ok(AudioResult r)
{
    return r == AudioResult::Ok;
}

// A mix format the test can write itself: any channels, 32-bit float or 16-bit.
bool writable(const platform::MixFormat& f)
{
    if (f.channels < 1 || f.sampleRate == 0)
        return false;
    return (f.format == platform::SampleFormat::Float && f.bitsPerSample == 32)
        || (f.format == platform::SampleFormat::Pcm && f.bitsPerSample == 16);
}

// The chosen speaker when the platform lists it, else the default render endpoint.
std::wstring resolveEndpoint(platform::AudioDevices& devices, const std::wstring& chosen)
{
    if (!chosen.empty() && indexOfId(devices.enumerate(platform::Flow::Render, platform::kStateAll), chosen) >= 0)
        return chosen;
    return devices.defaultEndpointId(platform::Flow::Render);
}

} // namespace

void convertTestFrames(const float* stereo, uint32_t frames, const TestStreamFormat& format, uint8_t* out) noexcept
{
    const auto limit = static_cast<float>(TestGenerator::kOutputLimit);
    for (uint32_t i = 0; i < frames; ++i) {
        const float left = stereo[2 * i], right = stereo[2 * i + 1];
        for (uint16_t c = 0; c < format.channels; ++c) {
            float v = 0.0f;
            if (format.channels == 1)
                v = std::clamp(left + right, -limit, limit);
            else if (c < 2)
                v = c == 0 ? left : right;
            if (format.pcm16) {
                const auto s = static_cast<int16_t>(std::lround(v * 32767.0f));
                std::memcpy(out, &s, sizeof s);
                out += sizeof s;
            } else {
                std::memcpy(out, &v, sizeof v);
                out += sizeof v;
            }
        }
    }
}

SpeakerTestRun::SpeakerTestRun(
    platform::AudioDevices& devices, std::wstring endpoint, const TestSignal& signal, SpeakerTestControls& controls)
    : devices_(devices), endpoint_(std::move(endpoint)), signal_(signal), controls_(controls)
{ }

SpeakerTestRun::~SpeakerTestRun()
{
    render_.reset();
    if (client_ && !ended_)
        client_->stop();
}

bool SpeakerTestRun::open()
{
    const std::wstring id = resolveEndpoint(devices_, endpoint_);
    if (id.empty())
        return false;
    AudioResult r = AudioResult::Failed;
    auto client = devices_.activate(id, platform::Flow::Render, r);
    if (!client || !ok(r))
        return false;

    platform::SharedStreamParams params;
    params.autoConvertPcm = true;
    params.srcDefaultQuality = true;
    params.bufferDurationMicros = kSpeakerTestBufferMicros;
    format_ = {};
    if (!ok(client->initializeShared(params))) {
        // A client whose initialisation failed cannot be initialised again.
        client = devices_.activate(id, platform::Flow::Render, r);
        platform::MixFormat mix;
        if (!client || !ok(r) || !ok(client->mixFormat(mix)) || !writable(mix))
            return false;
        platform::SharedStreamParams own;
        own.autoConvertPcm = false;
        own.useMixFormat = true;
        own.bufferDurationMicros = kSpeakerTestBufferMicros;
        if (!ok(client->initializeShared(own)))
            return false;
        format_ = {mix.channels, mix.sampleRate, mix.bitsPerSample == 16};
    }
    if (!ok(client->bufferSize(bufferFrames_)) || bufferFrames_ == 0)
        return false;
    auto render = client->renderService(r);
    if (!render || !ok(r) || !ok(client->start()))
        return false;

    const uint32_t rate = format_.rate < kLowestStreamRate ? platform::kSampleRate : format_.rate;
    generator_ = std::make_unique<TestGenerator>(rate, signal_);
    chunkFrames_ = std::max(1u, rate / kChunksPerSecond);
    chunk_.assign(size_t{chunkFrames_} * 2, 0.0f);
    bytes_.assign(size_t{chunkFrames_} * format_.frameBytes(), 0);
    client_ = std::move(client);
    render_ = std::move(render);
    return true;
}

bool SpeakerTestRun::step()
{
    if (ended_ || !render_)
        return false;
    uint32_t queued = 0;
    if (draining_) {
        // The signal is written; let the buffer play out unless asked to stop.
        if (controls_.stopFlag.load() != 0 || !ok(render_->padding(queued)) || queued == 0
            || drainWaits_ >= kSpeakerTestDrainWaits)
            return finish();
        ++drainWaits_;
        return true;
    }
    if (!stopSeen_ && controls_.stopFlag.load() != 0) {
        stopSeen_ = true;
        generator_->beginStop();
    }
    if (!ok(render_->padding(queued)))
        return finish();
    const uint32_t free = bufferFrames_ > queued ? bufferFrames_ - queued : 0;
    if (free > 0) {
        const uint32_t n = std::min(chunkFrames_, free);
        const uint32_t made = generator_->generate(chunk_.data(), n, controls_.level.load());
        controls_.activeChannel.store(static_cast<int32_t>(generator_->activeChannel()));
        convertTestFrames(chunk_.data(), made, format_, bytes_.data());
        if (made > 0 && !ok(render_->writeFrames(bytes_.data(), made)))
            return finish(); // a failing write ends the test quietly
    }
    draining_ = generator_->ended();
    return true;
}

bool SpeakerTestRun::finish()
{
    controls_.activeChannel.store(static_cast<int32_t>(TestChannel::Silent));
    if (client_)
        client_->stop();
    ended_ = true;
    return false;
}

SpeakerTest::SpeakerTest(platform::Clock& clock, platform::AudioDevices& devices, settings::Settings& settings)
    : clock_(clock), devices_(devices), settings_(settings), stopEvent_(clock.createEvent(false))
{ }

SpeakerTest::~SpeakerTest()
{
    stopSpeakerTest();
}

void SpeakerTest::startSpeakerTest(TestMode mode)
{
    setLevel(static_cast<float>(settings_.SpkTestVol.load()) / 100.0f);
    if (running() && this->mode() == mode) {
        stopSpeakerTest();
        return;
    }
    stopSpeakerTest();
    {
        std::lock_guard lock(textLock_);
        statusText_.clear();
    }
    controls_.stopFlag.store(0);
    controls_.activeChannel.store(static_cast<int32_t>(TestChannel::Silent));
    stopEvent_->reset();
    mode_.store(static_cast<int32_t>(mode));
    running_.store(1);
    const TestSignal signal = mode == TestMode::PinkNoise ? pinkNoiseSignal() : chimeSignal();
    thread_ = std::thread(
        [this, endpoint = settings_.deviceName(settings::DeviceKind::Spk), signal] { run(endpoint, signal); });
}

void SpeakerTest::stopSpeakerTest()
{
    if (!thread_.joinable())
        return;
    controls_.stopFlag.store(1);
    stopEvent_->set();
    thread_.join();
}

void SpeakerTest::setLevel(float level)
{
    controls_.level.store(std::clamp(level, 0.0f, 1.0f));
}

std::wstring SpeakerTest::statusText() const
{
    std::lock_guard lock(textLock_);
    return statusText_;
}

void SpeakerTest::run(std::wstring endpoint, TestSignal signal)
{
    {
        SpeakerTestRun test(devices_, std::move(endpoint), signal, controls_);
        if (test.open()) {
            while (test.step())
                clock_.wait(*stopEvent_, kSpeakerTestWaitMicros);
        } else {
            std::lock_guard lock(textLock_);
            statusText_ = kSpeakerOpenFailedText;
        }
    }
    controls_.activeChannel.store(static_cast<int32_t>(TestChannel::Silent));
    running_.store(0);
}

} // namespace engine
