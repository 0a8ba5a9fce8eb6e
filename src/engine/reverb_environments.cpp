#include "engine/reverb_environments.h"

#include "dsp/convolution.h"
#include "dsp/haunted_cavern.h"
#include "dsp/reverb.h"
#include "dsp/reverb_send.h"
#include "media/cavern_response.h"
#include "platform/sample_rate.h"

#include <algorithm>
#include <array>

namespace engine {

namespace {

class RoomReverb : public ReverbInstance {
public:
    explicit RoomReverb(std::unique_ptr<dsp::Reverb> room) : room_(std::move(room)) { }
    void process(const float* a, const float* b, float* left, float* right, uint32_t n) noexcept override
    {
        room_->process(a, b, left, right, static_cast<int>(n));
    }
    void setTapGains(double send, double compensation) noexcept override
    {
        room_->setTapGains(static_cast<float>(send), static_cast<float>(compensation));
    }
    void clear() noexcept override { room_->reset(); }
    double decaySeconds() const noexcept override { return room_->decayTime(); }

private:
    std::unique_ptr<dsp::Reverb> room_;
};

class ConvolutionRoom : public ReverbInstance {
public:
    explicit ConvolutionRoom(std::unique_ptr<dsp::ConvolutionReverb> response) : response_(std::move(response)) { }
    // The voice is the only thing sent to the response, so the second input is never given.
    void process(const float* a, const float*, float* left, float* right, uint32_t n) noexcept override
    {
        response_->process(a, left, right, static_cast<int>(n));
    }
    void clear() noexcept override { response_->reset(); }
    double decaySeconds() const noexcept override
    {
        return static_cast<double>(response_->responseLength() + dsp::ConvolutionReverb::kLatency)
            / platform::kSampleRate;
    }

private:
    std::unique_ptr<dsp::ConvolutionReverb> response_;
};

// The cavern's slap echo, plates and dry duck, run in chunks through fixed scratch.
class Cavern : public CavernStages {
public:
    explicit Cavern(double sampleRate) { cavern_.prepare(sampleRate); }
    void reset() noexcept override { cavern_.reset(); }
    float duckDb(const float* dry, uint32_t n, int32_t amount) noexcept override
    {
        return cavern_.dryDuckDb(dry, static_cast<int>(n), amount);
    }
    void addVoice(const float* highPassed, const float* compressorGain, float send, int32_t amount, float* monL,
        float* monR, float* cabL, float* cabR, uint32_t n) noexcept override
    {
        for (uint32_t done = 0; done < n;) {
            const uint32_t k = std::min<uint32_t>(kChunk, n - done);
            left_.fill(0.0f);
            right_.fill(0.0f);
            cavern_.process(highPassed + done, compressorGain + done, send, amount, left_.data(), right_.data(),
                static_cast<int>(k));
            for (uint32_t i = 0; i < k; ++i) {
                monL[done + i] += left_[i];
                monR[done + i] += right_[i];
                cabL[done + i] += left_[i];
                cabR[done + i] += right_[i];
            }
            done += k;
        }
    }
    // A bus: the stages fed with the bus's mono dry sum at the cavern's send
    // level while any send is open; the mono wet is the middle of their pair.
    void monoWet(const float* dry, bool sending, int32_t amount, float* out, uint32_t n) noexcept override
    {
        const float level = sending ? dsp::reverbSendLevel(amount, false) : 0.0f;
        for (uint32_t done = 0; done < n;) {
            const uint32_t k = std::min<uint32_t>(kChunk, n - done);
            left_.fill(0.0f);
            right_.fill(0.0f);
            cavern_.process(dry + done, ones_.data(), level, amount, left_.data(), right_.data(), static_cast<int>(k));
            for (uint32_t i = 0; i < k; ++i)
                out[done + i] = 0.5f * (left_[i] + right_[i]);
            done += k;
        }
    }
    void idle(uint32_t n) noexcept override
    {
        for (uint32_t done = 0; done < n; done += kChunk)
            cavern_.dryDuckDb(zeros_.data(), static_cast<int>(std::min<uint32_t>(kChunk, n - done)), 0);
    }

private:
    static constexpr uint32_t kChunk = 256;
    dsp::HauntedCavern cavern_;
    std::array<float, kChunk> left_{}, right_{}, zeros_{};
    std::array<float, kChunk> ones_ = [] {
        std::array<float, kChunk> a{};
        a.fill(1.0f);
        return a;
    }();
};

} // namespace

ReverbEnvironments::ReverbEnvironments(platform::Files* files, std::wstring folder)
    : files_(files), folder_(std::move(folder))
{ }

ReverbEnvironments::~ReverbEnvironments() = default;

bool ReverbEnvironments::loadImpulseResponse()
{
    if (!files_)
        return false;
    auto response = std::make_unique<dsp::ConvolutionReverb>();
    if (!media::loadCavernResponse(*files_, folder_, *response))
        return false;
    response_ = std::move(response);
    return true;
}

std::unique_ptr<ReverbInstance> ReverbEnvironments::makeRoom(double sampleRate, int preset)
{
    return std::make_unique<RoomReverb>(dsp::Reverb::create(sampleRate, preset));
}

std::unique_ptr<ReverbInstance> ReverbEnvironments::makeConvolution(double)
{
    if (!response_)
        return nullptr;
    return std::make_unique<ConvolutionRoom>(std::move(response_));
}

std::unique_ptr<CavernStages> ReverbEnvironments::makeCavern(double sampleRate)
{
    return std::make_unique<Cavern>(sampleRate);
}

} // namespace engine
