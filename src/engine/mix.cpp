#include "engine/mix.h"

#include "dsp/gain.h"
#include "engine/engine.h"
#include "platform/sample_rate.h"

#include <algorithm>
#include <cmath>

namespace engine {

namespace {
// The dry gain's one-pole glide towards target, a value per frame into out.
// Once a step leaves the gain where it was it always will (the same float in,
// the same float out), so the rest of the run is that value: a settled glide,
// the usual case, costs a fill instead of a dependent step per frame.
void glideDryGain(float& gain, float target, float* out, uint32_t n) noexcept
{
    uint32_t i = 0;
    for (; i < n; ++i) {
        const float next = gain + kDryGainGlide * (target - gain);
        if (next == gain)
            break;
        gain = next;
        out[i] = gain;
    }
    std::fill(out + i, out + n, gain);
}
} // namespace

float levelGain(int32_t level) noexcept
{
    return static_cast<float>(dsp::levelGain(level));
}

uint32_t tailFrames(double decaySeconds) noexcept
{
    const double seconds = std::isfinite(decaySeconds) ? std::clamp(decaySeconds, 0.0, 60.0) : 0.0;
    return kTailBaseFrames + static_cast<uint32_t>(platform::kSampleRate * seconds);
}

void MicDrive::update(int32_t micLevel) noexcept
{
    a = micLevel > 100 ? 1.0f + 6.0f * static_cast<float>(std::min(micLevel, 1000) - 100) / 900.0f : 0.0f;
    const float t = std::tanh(a);
    drive = t > drive ? t : std::max(t, drive - kDriveFallPerBlock);
    makeUp = a > 0.0f ? a / t : 1.0f;
}

Balance balance(int32_t pan) noexcept
{
    const float p = static_cast<float>(std::clamp(pan, -100, 100)) / 100.0f;
    Balance b;
    if (p > 0.0f)
        b.left = 1.0f - p;
    if (p < 0.0f)
        b.right = 1.0f + p;
    return b;
}

float sendLevel(const settings::Snapshot& s, int echoBit, bool convolution) noexcept
{
    const int32_t amount = s.amount;
    if (!s.effects || amount < 1 || ((s.echo_on >> echoBit) & 1) == 0)
        return 0.0f;
    const double level = std::pow(std::min(amount, 100) / 100.0, 0.58);
    return static_cast<float>(convolution ? level : 0.855 * level);
}

double tapCompensation(int32_t amount) noexcept
{
    if (amount < 1)
        return 1.0;
    return std::min(1.45, 0.69 * std::pow(amount / 100.0, -0.245));
}

Route route(const RouteInputs& in) noexcept
{
    Route r;
    r.voiceToMonitor = in.monitor;
    r.clipToMonitor = in.clipHear;
    r.clipToCable = in.clipMic;
    r.appToMonitor = (!in.appHear || in.appOnly) && in.parkRequested;
    r.appToCable = !in.appOnly;
    r.clipDryFromBus1 = in.clipHear && !in.clipMic;
    r.appDryFromBus1 = in.appOnly;
    r.wet0ToMonitor = (in.clipHear && in.clipMic && in.clipLive) || (in.appLive && !in.appHear && !in.appOnly);
    r.wet0ToCable = (in.clipMic && in.clipLive) || (in.appLive && !in.appOnly);
    r.wet1ToMonitor = in.bus1Running;
    r.monoWetCable = in.cavern;
    r.monoWetMonitor = in.cavern && !in.wide;
    r.bus0Clip = in.clipMic;
    r.bus0App = !in.appOnly;
    r.bus1Clip = in.clipHear && !in.clipMic;
    r.bus1App = in.appOnly;
    r.bus1Wanted = (in.clipLive && in.clipHear && !in.clipMic) || (in.appLive && in.appOnly);
    return r;
}

void BusEnvironment::prepare(double sampleRate, uint32_t maxFrames)
{
    for (auto& f : sendFilter_) {
        f.setCoeffs(dsp::designReverbSendHighPass(sampleRate));
        f.reset();
    }
    for (auto* v : {&sendL_, &sendR_, &drySum_, &wetL_, &wetR_, &wetMono_, &dryGains_})
        v->assign(maxFrames, 0.0f);
    dryGain_ = 1.0f;
    if (cavern_)
        cavern_->reset();
}

void BusEnvironment::setRoom(std::unique_ptr<ReverbInstance> room) noexcept
{
    room_ = std::move(room);
}

void BusEnvironment::setCavern(std::unique_ptr<CavernStages> cavern) noexcept
{
    cavern_ = std::move(cavern);
}

void BusEnvironment::process(const BusFeed& f, uint32_t n) noexcept
{
    n = std::min<uint32_t>(n, static_cast<uint32_t>(wetL_.size()));
    const bool clip = f.clipEnabled && f.clipSend > 0.0f;
    const bool app = f.appSend > 0.0f;
    for (uint32_t i = 0; i < n; ++i) {
        float l = 0.0f;
        float r = 0.0f;
        float dry = 0.0f;
        if (app) {
            l += f.appSend * f.appL[i];
            r += f.appSend * f.appR[i];
            dry += f.appL[i] + f.appR[i];
        }
        if (f.clipEnabled) {
            l += f.clipSend * f.clipL[i];
            r += f.clipSend * f.clipR[i];
            if (clip)
                dry += f.clipL[i] + f.clipR[i];
        }
        sendL_[i] = sendFilter_[0].process(l);
        sendR_[i] = sendFilter_[1].process(r);
        drySum_[i] = 0.5f * dry;
    }

    if (room_) {
        if (f.tapGains) {
            const float send = std::max(f.clipEnabled ? f.clipSend : 0.0f, f.appSend);
            room_->setTapGains(send, tapCompensation(f.amount));
        }
        room_->process(sendL_.data(), sendR_.data(), wetL_.data(), wetR_.data(), n);
    } else {
        std::fill_n(wetL_.begin(), n, 0.0f);
        std::fill_n(wetR_.begin(), n, 0.0f);
    }

    float target = 1.0f;
    if (f.cavern && cavern_) {
        cavern_->monoWet(drySum_.data(), clip || app, f.amount, wetMono_.data(), n);
        for (uint32_t i = 0; i < n; ++i) {
            wetL_[i] += wetMono_[i];
            wetR_[i] += wetMono_[i];
        }
    } else {
        std::fill_n(wetMono_.begin(), n, 0.0f);
    }
    if (f.duck && cavern_)
        target = static_cast<float>(std::pow(10.0, -cavern_->duckDb(drySum_.data(), n, f.amount) / 20.0));
    glideDryGain(dryGain_, target, dryGains_.data(), n);
}

void BusEnvironment::idle(uint32_t n) noexcept
{
    n = std::min<uint32_t>(n, static_cast<uint32_t>(wetL_.size()));
    if (cavern_)
        cavern_->idle(n);
    glideDryGain(dryGain_, 1.0f, dryGains_.data(), n);
    std::fill_n(wetL_.begin(), n, 0.0f);
    std::fill_n(wetR_.begin(), n, 0.0f);
    std::fill_n(wetMono_.begin(), n, 0.0f);
}

namespace {
class SilentRoom : public ReverbInstance {
public:
    void process(const float*, const float*, float* left, float* right, uint32_t n) noexcept override
    {
        std::fill_n(left, n, 0.0f);
        std::fill_n(right, n, 0.0f);
    }
    double decaySeconds() const noexcept override { return 0.0; }
};
} // namespace

std::unique_ptr<ReverbInstance> SilentEnvironments::makeRoom(double, int)
{
    return std::make_unique<SilentRoom>();
}

} // namespace engine
