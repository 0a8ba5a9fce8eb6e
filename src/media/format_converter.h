#pragma once
// Turns decoded audio of any layout the decoders deliver (1 to 8 channels,
// 16/24/32-bit integer or 32-bit float, any rate from 8 kHz) into 48 kHz
// stereo float, block by block, keeping its resampling phase across blocks.

#include "platform/sample_rate.h"

#include <cstdint>
#include <span>
#include <vector>

namespace media {


struct SourceLayout {
    uint32_t channels = 2;       // at least 1
    uint32_t bitsPerSample = 16; // 16, 24 or 32
    bool isFloat = false;        // 32-bit IEEE float
    uint32_t sampleRate = platform::kSampleRate;
    uint32_t channelMask = 0;    // speaker positions; 0 = the usual ones for the count
    bool readerConverts = false; // the decoder already delivers 48 kHz stereo float
};

// The speaker positions assumed when a source gives none.
uint32_t defaultChannelMask(uint32_t channels) noexcept;

class FormatConverter {
public:
    explicit FormatConverter(const SourceLayout& layout = {});

    // Appends the 48 kHz interleaved stereo frames of one block of interleaved
    // little-endian source samples.
    void convert(std::span<const uint8_t> block, std::vector<float>& out);
    // The same for a block that is already interleaved stereo float at the
    // source rate (files read whole by the WAV reader).
    void convertStereo(std::span<const float> stereo, std::vector<float>& out);
    // Starts afresh, as after a seek.
    void restart() noexcept;

    double step() const { return step_; }
    float leftGain(uint32_t channel) const { return leftGains_[channel]; }
    float rightGain(uint32_t channel) const { return rightGains_[channel]; }

private:
    void resample(std::vector<float>& out);

    SourceLayout layout_;
    double step_ = 1.0;
    double position_ = 0.0;
    float lastL_ = 0.0f, lastR_ = 0.0f;
    bool haveLastFrame_ = false;
    std::vector<float> leftGains_, rightGains_;
    std::vector<float> scratch_; // the block as stereo frames at the source rate
};

} // namespace media
