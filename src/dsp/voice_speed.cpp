#include "dsp/voice_speed.h"

#include <algorithm>
#include <cmath>

namespace dsp {

namespace {
constexpr double kCatchUpSpeed = 1.5;
constexpr double kReplaySeconds = 0.5;
constexpr double kQuietWaitSeconds = 0.5;
// Frames the tape mode keeps between its read head and the newest input.
constexpr int kTapeStart = 6;
} // namespace

void VoiceSpeed::prepare(double sampleRate)
{
    fs_ = sampleRate > 0.0 ? sampleRate : 48000.0;
    core_.prepare(fs_, kVoiceSpeedStretchSetup);
    switch_.prepare(0.015, fs_);
    hop_ = core_.segment() - core_.overlap();
    keepPitchStart_ = core_.overlap() + core_.searchRadius() + 8;
    block_ = std::max(32, static_cast<int>(0.005 * fs_));
    jump_ = static_cast<int>(kReplaySeconds * fs_);
    maxLag_ = static_cast<int>(kVoiceSpeedStretchSetup.historySeconds * fs_);
    quietWait_ = static_cast<int>(kQuietWaitSeconds * fs_);
    // The catch-up splices segments in both modes (the pitch stays natural
    // while the backlog plays faster), so it ends at the keep-pitch offset.
    stopLag_ = core_.searchRadius() + block_ + keepPitchStart_;
    fastCoeff_ = 1.0 - std::exp(-block_ / (0.01 * fs_));
    slowCoeff_ = 1.0 - std::exp(-block_ / (0.06 * fs_));
    reset();
}

void VoiceSpeed::reset() noexcept
{
    core_.reset();
    switch_.snap(false);
    active_ = false;
    stopping_ = false;
    firstSegment_ = true;
    nominal_ = 0.0;
    fadingPosition_ = 0.0;
    fadeIndex_ = -1;
    waited_ = 0;
    fastLevel_ = 0.0;
    slowLevel_ = 0.0;
    blockSum_ = 0.0;
    blockFill_ = 0;
}

double VoiceSpeed::lagFrames() const noexcept
{
    return active_ ? static_cast<double>(core_.writeCounter()) - core_.readPosition : 0.0;
}

int VoiceSpeed::latencyMs() const noexcept
{
    return static_cast<int>(std::lround(lagFrames() * 1000.0 / fs_));
}

void VoiceSpeed::start(bool keepPitch) noexcept
{
    active_ = true;
    stopping_ = false;
    firstSegment_ = true;
    fadeIndex_ = -1;
    waited_ = 0;
    core_.segmentRemaining = 0;
    core_.readPosition = static_cast<double>(core_.writeCounter() - (keepPitch ? keepPitchStart_ : kTapeStart));
    switch_.snap(false);
    switch_.setTarget(true);
}

void VoiceSpeed::process(float* samples, int count, int speedPercent, bool keepPitch) noexcept
{
    const int percent = std::clamp(speedPercent, 50, 200);
    const double speed = percent / 100.0;
    for (int i = 0; i < count; ++i) {
        float x = samples[i];
        x = x == x ? std::clamp(x, -8.0f, 8.0f) : 0.0f;
        core_.write(x);
        measureBlock(x);
        if (!active_) {
            if (percent == 100)
                continue; // untouched
            start(keepPitch);
        }

        const bool catchingUp = percent == 100;
        if (!catchingUp) {
            stopping_ = false;
            waited_ = 0;
            switch_.setTarget(true);
        } else if (!stopping_ && lagFrames() <= stopLag_) {
            waited_ += 1;
            // Checked at block rate: skip the backlog only where it is quiet,
            // or after waiting long enough for a pause that never came.
            if (blockFill_ == 0 && (lagIsQuiet() || waited_ >= quietWait_)) {
                stopping_ = true;
                switch_.setTarget(false);
            }
        }

        const float wet = render(catchingUp ? kCatchUpSpeed : speed, keepPitch, catchingUp);
        samples[i] = switch_.mix(x, wet);
        if (stopping_ && switch_.settled()) {
            active_ = false;
            stopping_ = false;
            fadeIndex_ = -1;
        }
    }
}

float VoiceSpeed::render(double speed, bool keepPitch, bool catchingUp) noexcept
{
    const auto write = static_cast<double>(core_.writeCounter());
    double& position = core_.readPosition;
    double rate = 1.0;
    if (keepPitch || catchingUp) {
        if (catchingUp && write - position <= stopLag_) {
            // Nearly live: play on without splicing until the switch has faded.
            core_.segmentRemaining = 0;
            firstSegment_ = true;
        } else {
            if (core_.segmentRemaining <= 0)
                newSegment(speed, catchingUp);
            --core_.segmentRemaining;
        }
    } else {
        rate = speed;
        firstSegment_ = true;
        if (fadeIndex_ < 0) {
            const double lag = write - position;
            const int overlap = core_.overlap();
            // Faster than live: replay the last stretch, leaving the fading
            // head room for the whole crossfade.
            if (speed > 1.0 && lag < kTapeStart + overlap * (speed - 1.0) + 1.0)
                splice(position - jump_);
            else if (lag > maxLag_)
                splice(write - keepPitchStart_);
        }
    }

    const double newest = write - 1.0;
    const DelayRing<float>& ring = core_.ring(0);
    const auto read = [&](double t) -> double {
        t = std::min(t, newest - 2.0);
        const double whole = std::floor(t);
        // Segments play at the input's own rate from whole frames: no interpolation needed.
        return t == whole ? ring.at(static_cast<int64_t>(whole)) : ring.readCubic(t);
    };
    double y = read(position);
    if (fadeIndex_ >= 0) {
        const auto i = static_cast<size_t>(fadeIndex_);
        y = y * core_.crossfade().rising(i) + read(fadingPosition_) * core_.crossfade().falling(i);
        fadingPosition_ += rate;
        if (++fadeIndex_ >= core_.overlap())
            fadeIndex_ = -1;
    }
    position += rate;
    return static_cast<float>(y);
}

void VoiceSpeed::newSegment(double speed, bool catchingUp) noexcept
{
    const auto write = static_cast<double>(core_.writeCounter());
    double& position = core_.readPosition;
    core_.segmentRemaining = hop_;
    if (firstSegment_) {
        firstSegment_ = false;
        nominal_ = position;
        return;
    }
    nominal_ += speed * hop_;
    if (write - nominal_ < keepPitchStart_) {
        if (catchingUp) {
            // Never replay while catching up: play on from where we are.
            nominal_ = position;
            return;
        }
        if (speed > 1.0)
            nominal_ -= jump_;
        nominal_ = std::min(nominal_, write - keepPitchStart_);
    }
    if (write - nominal_ > maxLag_)
        nominal_ = write - keepPitchStart_;
    splice(nominal_);
}

// Starts a crossfade from the playing head to a new one near `to`, placed
// within ±search where its waveform best continues the playing one. With
// enough input ahead of the playing head the match looks forward (what is
// about to play against what the new head will play); close to live it looks
// back (what has just played against what precedes the new head).
void VoiceSpeed::splice(double to) noexcept
{
    double& position = core_.readPosition;
    const int overlap = core_.overlap();
    const int search = core_.searchRadius();
    const int64_t write = core_.writeCounter();
    const auto from = static_cast<int64_t>(std::floor(position));
    const int back = write - from < overlap + 8 ? overlap : 0;
    const int64_t base = static_cast<int64_t>(std::floor(to)) - search - back;
    const int offset = core_.similaritySearch(from - back, base, 0, 2 * search);
    fadingPosition_ = position;
    fadeIndex_ = 0;
    position = static_cast<double>(base + offset + back) + (position - std::floor(position));
}

void VoiceSpeed::measureBlock(float x) noexcept
{
    blockSum_ += static_cast<double>(x) * x;
    if (++blockFill_ < block_)
        return;
    const double meanSquare = blockSum_ / block_;
    fastLevel_ += fastCoeff_ * (meanSquare - fastLevel_);
    slowLevel_ += slowCoeff_ * (meanSquare - slowLevel_);
    blockSum_ = 0.0;
    blockFill_ = 0;
}

// The stretch that stopping would skip (between the read head and the newest
// input) is quiet against the recent voice, or the voice has just paused.
bool VoiceSpeed::lagIsQuiet() const noexcept
{
    const auto write = core_.writeCounter();
    const auto from = static_cast<int64_t>(std::floor(core_.readPosition));
    double sum = 0.0;
    for (int64_t p = from; p < write; ++p)
        sum += static_cast<double>(core_.ring(0).at(p)) * core_.ring(0).at(p);
    const double meanSquare = write > from ? sum / static_cast<double>(write - from) : 0.0;
    return meanSquare < 1e-8 || meanSquare < 0.1 * slowLevel_ || fastLevel_ < 0.1 * slowLevel_;
}

} // namespace dsp
