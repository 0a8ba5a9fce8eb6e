#pragma once
// The cavern's recorded form: a stereo impulse response convolved with the
// mono send. A short head (512-frame partitions, 1024-point transforms) keeps
// the latency at 512 frames; the long tail (4096-frame partitions, 8192-point
// transforms) is cheap per frame and is delayed by 4608 frames so that it lines
// up with the head. Loading allocates; process() neither allocates nor locks.

#include "dsp/delay_ring.h"
#include "dsp/fft.h"

#include <complex>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace dsp {

// Uniformly partitioned overlap-save convolution of one mono input with a
// two-channel response; the output comes `blockSize` frames late.
class PartitionedConvolver {
public:
    // blockSize is a power of two; the response may be empty (silence out). Allocates.
    void prepare(size_t blockSize, const float* left, const float* right, size_t length);
    void reset() noexcept;
    size_t partitions() const { return partitions_; }

    void process(float x, float& left, float& right) noexcept
    {
        input_[block_ + position_] = x;
        left = outLeft_[position_];
        right = outRight_[position_];
        if (++position_ == block_)
            runBlock();
    }

private:
    void runBlock() noexcept;

    size_t block_ = 0;
    size_t bins_ = 0;
    size_t partitions_ = 0;
    size_t position_ = 0;
    size_t newest_ = 0; // slot of the newest input spectrum in history_
    RealFft fft_;
    std::vector<float> input_;                     // previous block, then the current one
    std::vector<std::complex<float>> response_[2]; // partitions × bins, per channel, scaled by 1/N
    std::vector<std::complex<float>> history_;     // the last `partitions_` input spectra
    std::vector<std::complex<float>> sum_;
    std::vector<float> time_;
    std::vector<float> outLeft_, outRight_;
};

class ConvolutionReverb {
public:
    static constexpr size_t kDroppedFrames = 512;
    static constexpr size_t kHeadBlock = 512;
    static constexpr size_t kHeadLength = 8192;
    static constexpr size_t kTailBlock = 4096;
    static constexpr size_t kTailDelay = kTailBlock + kHeadBlock;
    // Frames between a send sample and the first response frame in the output.
    static constexpr size_t kLatency = kHeadBlock;
    // Trailing frames with both channels below this are cut.
    static constexpr float kSilence = 1e-5f;

    // Takes a response as read from its file. Accepted only at exactly 48000 Hz
    // and longer than 512 frames; then the first 512 frames are dropped, the
    // silent end trimmed and both stages prepared. Non-finite samples count as
    // silence. Returns whether it was accepted; a rejected response leaves the
    // instance unloaded.
    bool load(const std::vector<float>& left, const std::vector<float>& right, uint32_t sampleRate);
    void unload();
    bool loaded() const { return loaded_; }
    // Frames of the response in use (after dropping and trimming).
    size_t responseLength() const { return length_; }
    bool hasTail() const { return hasTail_; }

    // Clears every stage (done on the first block in which the convolution becomes active).
    void reset() noexcept;
    // Mono send in, stereo out (overwritten); silence when nothing is loaded.
    void process(const float* send, float* left, float* right, int frames) noexcept;

private:
    bool loaded_ = false;
    bool hasTail_ = false;
    size_t length_ = 0;
    PartitionedConvolver head_;
    PartitionedConvolver tail_;
    DelayRing<float> tailDelay_[2];
};

} // namespace dsp
