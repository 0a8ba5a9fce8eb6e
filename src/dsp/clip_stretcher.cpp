#include "dsp/clip_stretcher.h"

#include <algorithm>
#include <cmath>

namespace dsp {

void ClipStretcher::prepare(double sampleRate)
{
    core_.prepare(sampleRate, kClipStretchSetup);
    reset();
}

void ClipStretcher::reset() noexcept
{
    core_.reset();
    nominal_ = 0.0;
    segmentStart_ = 0;
    continuation_ = 0;
    crossfade_ = false;
}

void ClipStretcher::setSpeed(double ratio, bool keepPitch) noexcept
{
    speed_ = std::isfinite(ratio) ? std::clamp(ratio, kMinSpeed, kMaxSpeed) : 1.0;
    if (keepPitch == keepPitch_)
        return;
    keepPitch_ = keepPitch;
    if (keepPitch_) {
        // From resampling to splicing: the next segment crossfades out of the
        // point the resampler had reached.
        continuation_ = static_cast<int64_t>(std::floor(core_.readPosition));
        nominal_ = core_.readPosition;
        core_.segmentRemaining = 0;
        crossfade_ = false;
        return;
    }
    // From splicing to resampling: go on from the point being played.
    if (core_.segmentRemaining > 0)
        core_.readPosition = static_cast<double>(segmentStart_ + (core_.segment() - core_.segmentRemaining));
    else
        core_.readPosition = static_cast<double>(continuation_);
}

int64_t ClipStretcher::readEnd(uint32_t n) const noexcept
{
    if (!keepPitch_) {
        const double last = core_.readPosition + speed_ * (n > 0 ? n - 1 : 0);
        return static_cast<int64_t>(std::floor(last)) + 2;
    }
    const int S = core_.segment();
    const int O = core_.overlap();
    const int R = core_.searchRadius();
    int64_t end = core_.segmentRemaining > 0 ? segmentStart_ + S + O : 0;
    double nominal = nominal_;
    int remaining = core_.segmentRemaining;
    uint32_t produced = 0;
    while (produced < n) {
        if (remaining == 0) {
            end = std::max<int64_t>(end, static_cast<int64_t>(std::floor(nominal)) + R + S + O);
            nominal += S * speed_;
            remaining = S;
        }
        const uint32_t take = std::min<uint32_t>(static_cast<uint32_t>(remaining), n - produced);
        produced += take;
        remaining -= static_cast<int>(take);
    }
    return end;
}

uint32_t ClipStretcher::inputNeeded(uint32_t n) const noexcept
{
    const int64_t missing = readEnd(n) - core_.writeCounter();
    return missing > 0 ? static_cast<uint32_t>(missing) : 0;
}

void ClipStretcher::write(const float* left, const float* right, uint32_t n) noexcept
{
    for (uint32_t i = 0; i < n; ++i)
        core_.write(left[i], right[i]);
}

void ClipStretcher::startSegment() noexcept
{
    const int S = core_.segment();
    const int R = core_.searchRadius();
    const auto target = static_cast<int64_t>(std::floor(nominal_));
    int offset = 0;
    crossfade_ = core_.writeCounter() > 0 && continuation_ > 0;
    if (crossfade_) {
        const int start = static_cast<int>(std::max<int64_t>(-R, -target));
        offset = core_.similaritySearch(continuation_, target, start, R);
    }
    segmentStart_ = target + offset;
    nominal_ += S * speed_;
    core_.segmentRemaining = S;
}

void ClipStretcher::process(float* left, float* right, uint32_t n) noexcept
{
    const DelayRing<float>& ringL = core_.ring(0);
    const DelayRing<float>& ringR = core_.ring(1);
    const int64_t written = core_.writeCounter();
    const int64_t oldest = written - static_cast<int64_t>(ringL.length());
    auto sample = [&](const DelayRing<float>& ring, int64_t p) {
        return p >= 0 && p < written && p >= oldest ? ring.at(p) : 0.0f;
    };

    if (!keepPitch_) {
        for (uint32_t i = 0; i < n; ++i) {
            const double t = core_.readPosition;
            const auto p = static_cast<int64_t>(std::floor(t));
            const float f = static_cast<float>(t - static_cast<double>(p));
            left[i] = sample(ringL, p) + f * (sample(ringL, p + 1) - sample(ringL, p));
            right[i] = sample(ringR, p) + f * (sample(ringR, p + 1) - sample(ringR, p));
            core_.readPosition += speed_;
        }
        return;
    }

    const int S = core_.segment();
    const int O = core_.overlap();
    const CrossfadeTable& fade = core_.crossfade();
    for (uint32_t i = 0; i < n; ++i) {
        if (core_.segmentRemaining == 0) {
            startSegment();
        }
        const int k = S - core_.segmentRemaining;
        const int64_t p = segmentStart_ + k;
        float l = sample(ringL, p);
        float r = sample(ringR, p);
        if (crossfade_ && k < O) {
            const auto ki = static_cast<size_t>(k);
            const int64_t q = continuation_ + k;
            l = fade.falling(ki) * sample(ringL, q) + fade.rising(ki) * l;
            r = fade.falling(ki) * sample(ringR, q) + fade.rising(ki) * r;
        }
        left[i] = l;
        right[i] = r;
        if (--core_.segmentRemaining == 0)
            continuation_ = segmentStart_ + S;
    }
}

} // namespace dsp
