#include "media/format_converter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace media {

namespace {

constexpr float kSide = 0.70710677f;

constexpr uint32_t kFrontLeft = 0x1, kFrontRight = 0x2, kLowFrequency = 0x8;
constexpr uint32_t kLeftish = 0x10 | 0x40 | 0x200 | 0x1000 | 0x8000;
constexpr uint32_t kRightish = 0x20 | 0x80 | 0x400 | 0x4000 | 0x20000;

float sampleAt(const uint8_t* p, const SourceLayout& layout) noexcept
{
    switch (layout.bitsPerSample) {
    case 16: {
        const int16_t v = static_cast<int16_t>(p[0] | (p[1] << 8));
        return static_cast<float>(v) * (1.0f / 32768.0f);
    }
    case 24: {
        // The three bytes go to the top of a 32-bit integer, which keeps the sign.
        const uint32_t u = (uint32_t{p[0]} << 8) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 24);
        return static_cast<float>(static_cast<int32_t>(u) * (1.0 / 2147483648.0));
    }
    case 32: {
        const uint32_t u = uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
        if (layout.isFloat) {
            float f;
            std::memcpy(&f, &u, 4);
            return f;
        }
        return static_cast<float>(static_cast<int32_t>(u) * (1.0 / 2147483648.0));
    }
    default:
        return 0.0f;
    }
}

} // namespace

uint32_t defaultChannelMask(uint32_t channels) noexcept
{
    switch (channels) {
    case 1: return 0x4;
    case 3: return 0x7;
    case 4: return 0x33;
    case 5: return 0x37;
    case 6: return 0x3F;
    case 8: return 0x63F;
    default: return 0x3;
    }
}

FormatConverter::FormatConverter(const SourceLayout& layout) : layout_(layout)
{
    layout_.channels = std::max<uint32_t>(1, layout_.channels);
    step_ = static_cast<double>(layout_.sampleRate) / platform::kSampleRate;
    leftGains_.assign(layout_.channels, 0.0f);
    rightGains_.assign(layout_.channels, 0.0f);
    if (layout_.channels == 1) {
        leftGains_[0] = rightGains_[0] = 1.0f;
        return;
    }
    uint32_t mask = layout_.channelMask != 0 ? layout_.channelMask : defaultChannelMask(layout_.channels);
    bool nextLeft = true; // once the mask is used up, channels alternate left and right
    for (uint32_t c = 0; c < layout_.channels; ++c) {
        uint32_t bit;
        if (mask != 0) {
            bit = mask & (~mask + 1);
            mask &= ~bit;
        } else {
            bit = nextLeft ? kFrontLeft : kFrontRight;
            nextLeft = !nextLeft;
        }
        if (bit == kFrontLeft)
            leftGains_[c] = 1.0f;
        else if (bit == kFrontRight)
            rightGains_[c] = 1.0f;
        else if (bit & kLeftish)
            leftGains_[c] = kSide;
        else if (bit & kRightish)
            rightGains_[c] = kSide;
        else if (bit != kLowFrequency)
            leftGains_[c] = rightGains_[c] = kSide;
    }
}

void FormatConverter::restart() noexcept
{
    position_ = 0.0;
    haveLastFrame_ = false;
}

void FormatConverter::convert(std::span<const uint8_t> block, std::vector<float>& out)
{
    if (layout_.readerConverts) {
        const size_t floats = block.size() / 4;
        const size_t base = out.size();
        out.resize(base + floats);
        std::memcpy(out.data() + base, block.data(), floats * 4);
        return;
    }
    const uint32_t bytesPerSample = layout_.bitsPerSample / 8;
    const size_t frameBytes = size_t{bytesPerSample} * layout_.channels;
    if (frameBytes == 0)
        return;
    const size_t frames = block.size() / frameBytes;
    scratch_.assign(frames * 2, 0.0f);
    for (size_t f = 0; f < frames; ++f) {
        float l = 0.0f, r = 0.0f;
        for (uint32_t c = 0; c < layout_.channels; ++c) {
            const float s = sampleAt(block.data() + f * frameBytes + size_t{c} * bytesPerSample, layout_);
            l += s * leftGains_[c];
            r += s * rightGains_[c];
        }
        scratch_[2 * f] = l;
        scratch_[2 * f + 1] = r;
    }
    resample(out);
}

void FormatConverter::convertStereo(std::span<const float> stereo, std::vector<float>& out)
{
    scratch_.assign(stereo.begin(), stereo.begin() + static_cast<std::ptrdiff_t>(stereo.size() & ~size_t{1}));
    resample(out);
}

void FormatConverter::resample(std::vector<float>& out)
{
    const size_t frames = scratch_.size() / 2;
    if (frames == 0)
        return;
    if (step_ == 1.0) {
        out.insert(out.end(), scratch_.begin(), scratch_.end());
        return;
    }
    if (!haveLastFrame_) {
        lastL_ = scratch_[0];
        lastR_ = scratch_[1];
        haveLastFrame_ = true;
    }
    // Linear interpolation; a position just before the block reads the
    // previous block's last frame, so blocks join without a seam.
    while (std::floor(position_) + 1 <= static_cast<double>(frames) - 1) {
        const double k = std::floor(position_);
        const float fraction = static_cast<float>(position_ - k);
        const ptrdiff_t i = static_cast<ptrdiff_t>(k);
        const float pl = i < 0 ? lastL_ : scratch_[2 * i];
        const float pr = i < 0 ? lastR_ : scratch_[2 * i + 1];
        const float nl = scratch_[2 * (i + 1)];
        const float nr = scratch_[2 * (i + 1) + 1];
        out.push_back(pl + (nl - pl) * fraction);
        out.push_back(pr + (nr - pr) * fraction);
        position_ += step_;
    }
    position_ -= static_cast<double>(frames);
    lastL_ = scratch_[2 * (frames - 1)];
    lastR_ = scratch_[2 * (frames - 1) + 1];
}

} // namespace media
