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
    answerFrames_ = firstAnswer();
    reset();
}

int64_t WideEchoRoom::firstAnswer() noexcept
{
    // An impulse into the fresh room: how long until anything comes out.
    room_.reset();
    const auto m = static_cast<uint32_t>(send_.size());
    const auto limit = static_cast<int64_t>(sampleRate_); // a room answers well within a second
    for (int64_t done = 0; done < limit; done += m) {
        std::fill(send_.begin(), send_.end(), 0.0f);
        if (done == 0)
            send_[0] = 1.0f;
        room_.process(send_.data(), nullptr, left_.data(), right_.data(), static_cast<int>(m));
        for (uint32_t i = 0; i < m; ++i) {
            if (left_[i] != 0.0f || right_[i] != 0.0f)
                return done + i;
        }
    }
    return limit;
}

void WideEchoRoom::reset() noexcept
{
    room_.reset();
    countdown_ = 0;
    running_ = false;
    silent_ = true;
    sinceSend_ = answerFrames_;
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

    const bool fed = cavernRunning && feed.highPassed != nullptr && feed.compressorGain != nullptr;
    const uint32_t capacity = static_cast<uint32_t>(send_.size());
    for (uint32_t done = 0; done < n;) {
        const uint32_t m = std::min(capacity, n - done);
        bool sending = false;
        for (uint32_t i = 0; i < m; ++i) {
            // The complement of the main cavern's share: send × (1 − compressor gain) × voice.
            send_[i] = fed ? feed.send * (1.0f - feed.compressorGain[done + i]) * feed.highPassed[done + i] : 0.0f;
            if (send_[i] != 0.0f) {
                sending = true;
                sinceSend_ = m - 1 - i;
            }
        }
        if (!sending)
            sinceSend_ += m;
        // Below the compressor's threshold the send is exactly silent, which
        // is most of the time on speech: once the room has also died away
        // below −140 dB it is cleared and skipped until something is sent.
        // Silence is judged only after the room has had time to answer the
        // last send, or a brief send would be cleared before it echoes.
        if (!sending && silent_) {
            done += m;
            continue;
        }
        room_.process(send_.data(), nullptr, left_.data(), right_.data(), static_cast<int>(m));
        float peak = 0.0f;
        for (uint32_t i = 0; i < m; ++i) {
            wetL[done + i] += left_[i];
            wetR[done + i] += right_[i];
            peak = std::max(peak, std::max(std::fabs(left_[i]), std::fabs(right_[i])));
        }
        silent_ = !sending && sinceSend_ > answerFrames_ && peak < 1e-7f;
        if (silent_)
            room_.reset();
        done += m;
    }
}

} // namespace engine
