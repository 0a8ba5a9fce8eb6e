#include "dsp/convolution.h"

#include "platform/sample_rate.h"

#include <algorithm>
#include <cmath>

namespace dsp {

void PartitionedConvolver::prepare(size_t blockSize, const float* left, const float* right, size_t length)
{
    block_ = blockSize;
    const size_t n = 2 * blockSize;
    fft_.prepare(n);
    bins_ = fft_.bins();
    partitions_ = (length + blockSize - 1) / blockSize;
    input_.assign(n, 0.0f);
    time_.assign(n, 0.0f);
    sum_.assign(bins_, {});
    outLeft_.assign(blockSize, 0.0f);
    outRight_.assign(blockSize, 0.0f);
    history_.assign(partitions_ * bins_, {});
    // Each partition is zero-padded to the transform size; the inverse
    // transform's factor N is folded into the stored spectra.
    const float scale = 1.0f / static_cast<float>(n);
    const float* channels[2] = {left, right};
    for (int c = 0; c < 2; ++c) {
        response_[c].assign(partitions_ * bins_, {});
        for (size_t p = 0; p < partitions_; ++p) {
            std::fill(time_.begin(), time_.end(), 0.0f);
            const size_t from = p * blockSize;
            const size_t count = std::min(blockSize, length - from);
            for (size_t i = 0; i < count; ++i)
                time_[i] = channels[c][from + i] * scale;
            fft_.forward(time_.data(), response_[c].data() + p * bins_);
        }
    }
    reset();
}

void PartitionedConvolver::reset() noexcept
{
    std::fill(input_.begin(), input_.end(), 0.0f);
    std::fill(history_.begin(), history_.end(), std::complex<float>{});
    std::fill(outLeft_.begin(), outLeft_.end(), 0.0f);
    std::fill(outRight_.begin(), outRight_.end(), 0.0f);
    position_ = 0;
    newest_ = 0;
}

void PartitionedConvolver::runBlock() noexcept
{
    position_ = 0;
    if (partitions_ == 0)
        return;
    newest_ = newest_ == 0 ? partitions_ - 1 : newest_ - 1;
    std::complex<float>* spectrum = history_.data() + newest_ * bins_;
    fft_.forward(input_.data(), spectrum);
    // The current block becomes the previous one of the next frame.
    std::copy(input_.begin() + static_cast<std::ptrdiff_t>(block_), input_.end(), input_.begin());

    std::vector<float>* outputs[2] = {&outLeft_, &outRight_};
    for (int c = 0; c < 2; ++c) {
        std::fill(sum_.begin(), sum_.end(), std::complex<float>{});
        // Partition p meets the input spectrum of p blocks ago.
        for (size_t p = 0; p < partitions_; ++p) {
            size_t slot = newest_ + p;
            if (slot >= partitions_)
                slot -= partitions_;
            const float* h = reinterpret_cast<const float*>(response_[c].data() + p * bins_);
            const float* x = reinterpret_cast<const float*>(history_.data() + slot * bins_);
            float* acc = reinterpret_cast<float*>(sum_.data());
            for (size_t k = 0; k < 2 * bins_; k += 2) {
                acc[k] += h[k] * x[k] - h[k + 1] * x[k + 1];
                acc[k + 1] += h[k] * x[k + 1] + h[k + 1] * x[k];
            }
        }
        fft_.inverse(sum_.data(), time_.data());
        // Overlap-save: the second half holds the valid outputs of this block.
        std::copy(time_.begin() + static_cast<std::ptrdiff_t>(block_), time_.end(), outputs[c]->begin());
    }
}

bool ConvolutionReverb::load(const std::vector<float>& left, const std::vector<float>& right, uint32_t sampleRate)
{
    unload();
    const size_t frames = std::min(left.size(), right.size());
    if (sampleRate != platform::kSampleRate || frames <= kDroppedFrames)
        return false;

    std::vector<float> l(left.begin() + kDroppedFrames, left.begin() + static_cast<std::ptrdiff_t>(frames));
    std::vector<float> r(right.begin() + kDroppedFrames, right.begin() + static_cast<std::ptrdiff_t>(frames));
    for (size_t i = 0; i < l.size(); ++i) {
        l[i] = std::isfinite(l[i]) ? l[i] : 0.0f;
        r[i] = std::isfinite(r[i]) ? r[i] : 0.0f;
    }
    size_t length = l.size();
    while (length > 0 && std::fabs(l[length - 1]) < kSilence && std::fabs(r[length - 1]) < kSilence)
        --length;

    const size_t headLength = std::min(length, kHeadLength);
    head_.prepare(kHeadBlock, l.data(), r.data(), headLength);
    hasTail_ = length > kHeadLength;
    if (hasTail_) {
        tail_.prepare(kTailBlock, l.data() + kHeadLength, r.data() + kHeadLength, length - kHeadLength);
        for (auto& d : tailDelay_)
            d.prepare(kTailDelay + 1);
    } else {
        tail_ = {};
        for (auto& d : tailDelay_)
            d = {};
    }
    length_ = length;
    loaded_ = true;
    reset();
    return true;
}

void ConvolutionReverb::unload()
{
    loaded_ = false;
    hasTail_ = false;
    length_ = 0;
}

void ConvolutionReverb::reset() noexcept
{
    head_.reset();
    tail_.reset();
    for (auto& d : tailDelay_)
        d.reset();
}

void ConvolutionReverb::process(const float* send, float* left, float* right, int frames) noexcept
{
    if (!loaded_) {
        std::fill(left, left + frames, 0.0f);
        std::fill(right, right + frames, 0.0f);
        return;
    }
    for (int i = 0; i < frames; ++i) {
        const float x = std::isfinite(send[i]) ? send[i] : 0.0f;
        float l, r;
        head_.process(x, l, r);
        if (hasTail_) {
            // The tail stage is 4096 frames late and its response starts 8192
            // frames in; 4608 more frames put it 512 frames late like the head.
            float tl, tr;
            tail_.process(x, tl, tr);
            tailDelay_[0].write(tl);
            tailDelay_[1].write(tr);
            l += tailDelay_[0].delayed(kTailDelay);
            r += tailDelay_[1].delayed(kTailDelay);
        }
        left[i] = l;
        right[i] = r;
    }
}

} // namespace dsp
