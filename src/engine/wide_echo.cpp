#include "engine/wide_echo.h"

#include "dsp/room.h"

#include <algorithm>
#include <cmath>

namespace engine {

void WideEchoRoom::prepare(double sampleRate, uint32_t maxFrames)
{
    sampleRate_ = sampleRate > 0.0 ? sampleRate : 48000.0;
    dsp::RoomParams params = dsp::room(dsp::kHauntedCavern);
    params.decayTime *= kDecayScale;
    room_.prepare(sampleRate_, params);
    ringOut_ = static_cast<int64_t>(std::lround(kRingOutSeconds * sampleRate_));
    const size_t frames = std::max<uint32_t>(maxFrames, 1);
    send_.assign(frames, 0.0f);
    left_.assign(frames, 0.0f);
    right_.assign(frames, 0.0f);
    reset();
}

void WideEchoRoom::reset() noexcept
{
    room_.reset();
    countdown_ = 0;
    running_ = false;
}

void WideEchoRoom::process(
    const WideEchoFeed& feed, float* wetL, float* wetR, uint32_t n, bool cavernRunning, bool wide) noexcept
{
    if (wide && cavernRunning)
        countdown_ = ringOut_;
    else
        countdown_ = wide ? std::max<int64_t>(0, countdown_ - n) : 0;
    if (!wide || (!cavernRunning && countdown_ == 0)) {
        if (running_)
            reset();
        return;
    }
    running_ = true;
    room_.setTapGains(feed.tapSend, feed.tapCompensation);

    const uint32_t capacity = static_cast<uint32_t>(send_.size());
    for (uint32_t done = 0; done < n;) {
        const uint32_t m = std::min(capacity, n - done);
        for (uint32_t i = 0; i < m; ++i) {
            // The complement of the main cavern's share: send × (1 − compressor gain) × voice.
            const bool fed = cavernRunning && feed.highPassed != nullptr && feed.compressorGain != nullptr;
            send_[i] = fed ? feed.send * (1.0f - feed.compressorGain[done + i]) * feed.highPassed[done + i] : 0.0f;
        }
        room_.process(send_.data(), nullptr, left_.data(), right_.data(), static_cast<int>(m));
        for (uint32_t i = 0; i < m; ++i) {
            wetL[done + i] += left_[i];
            wetR[done + i] += right_[i];
        }
        done += m;
    }
}

} // namespace engine
