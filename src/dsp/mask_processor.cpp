#include "dsp/mask_processor.h"

#include "dsp/mask_table.h"

#include <algorithm>
#include <cmath>

namespace dsp {

void MaskProcessor::prepare(double sampleRate)
{
    const double fs = sampleRate > 0.0 ? sampleRate : 48000.0;
    shifter_.prepare(fs);
    channels_[0].prepare(fs, true, kBlock);
    channels_[1].prepare(fs, false, kBlock);
    if (glitch_)
        glitch_->prepare(fs);
    shifterFade_.prepare(0.04, fs);
    mix_.prepare(0.04, fs);
    for (auto* v : {&dryLeft_, &dryRight_, &mid_, &left_, &right_})
        v->assign(kBlock, 0.0f);
    shifter_.clear();
    reset();
}

void MaskProcessor::reset() noexcept
{
    shifter_.restart(ratio_);
    shifterFade_.snap(false);
    channels_[0].reset();
    channels_[1].reset();
    if (glitch_)
        glitch_->reset();
    mix_.snap(false);
}

void MaskProcessor::setPitchAndMask(int pitchHz, int voiceRatio, int voiceMask) noexcept
{
    ratio_ = std::clamp(requestedRatio(pitchHz, voiceRatio), kMinRatio, kMaxRatio);
    mask_ = findMask(voiceMask) ? voiceMask : -1;
}

void MaskProcessor::setGlitch(bool held, int style) noexcept
{
    if (glitch_)
        glitch_->setGlitch(held, std::clamp(style, 0, 12));
}

void MaskProcessor::process(float* left, float* right, int frames, bool on) noexcept
{
    mix_.setTarget(on);
    for (int done = 0; done < frames;) {
        const int n = std::min(kBlock, frames - done);
        processBlock(left + done, right + done, n);
        done += n;
    }
}

void MaskProcessor::processInterleaved(float* frames2, int frames, bool on) noexcept
{
    mix_.setTarget(on);
    for (int done = 0; done < frames;) {
        const int n = std::min(kBlock, frames - done);
        float* block = frames2 + 2 * done;
        for (int i = 0; i < n; ++i) {
            left_[static_cast<size_t>(i)] = block[2 * i];
            right_[static_cast<size_t>(i)] = block[2 * i + 1];
        }
        processBlock(left_.data(), right_.data(), n);
        for (int i = 0; i < n; ++i) {
            block[2 * i] = left_[static_cast<size_t>(i)];
            block[2 * i + 1] = right_[static_cast<size_t>(i)];
        }
        done += n;
    }
}

void MaskProcessor::feedBypass(const float* left, const float* right, int frames) noexcept
{
    for (int i = 0; i < frames; ++i)
        shifter_.write(left[i], right[i]);
}

void MaskProcessor::feedBypassInterleaved(const float* frames2, int frames) noexcept
{
    for (int i = 0; i < frames; ++i)
        shifter_.write(frames2[2 * i], frames2[2 * i + 1]);
}

void MaskProcessor::processBlock(float* left, float* right, int frames) noexcept
{
    std::copy(left, left + frames, dryLeft_.begin());
    std::copy(right, right + frames, dryRight_.begin());

    // 1. The shifter, faded in and out on its own.
    const bool shifting = shifterActive();
    if (shifting || shifterFade_.value() > 0.0f) {
        if (shifterFade_.value() == 0.0f)
            shifter_.restart(ratio_);
        shifterFade_.setTarget(shifting);
        for (int i = 0; i < frames; ++i) {
            float l = left[i];
            float r = right[i];
            shifter_.process(l, r, ratio_);
            const float s = shifterFade_.next();
            left[i] += (l - left[i]) * s;
            right[i] += (r - right[i]) * s;
        }
    } else {
        feedBypass(left, right, frames);
    }

    // 2. The mask.
    const MaskRow* row = findMask(mask_);
    const MaskKind kind = row ? row->kind : MaskKind::None;
    channels_[0].configure(kind, row ? row->p1 : 0.0, row ? row->p2 : 0.0);
    channels_[1].configure(isExtended(kind) ? MaskKind::None : kind, row ? row->p1 : 0.0, row ? row->p2 : 0.0);
    if (isExtended(kind)) {
        for (int i = 0; i < frames; ++i)
            mid_[static_cast<size_t>(i)] = (left[i] + right[i]) * 0.5f;
        channels_[0].process(mid_.data(), frames);
        std::copy(mid_.begin(), mid_.begin() + frames, left);
        std::copy(mid_.begin(), mid_.begin() + frames, right);
    } else if (kind != MaskKind::None) {
        channels_[0].process(left, frames);
        channels_[1].process(right, frames);
    }

    // 3. The glitch repeater.
    if (glitch_)
        glitch_->process(left, right, frames);

    // 4. The wet/dry fade.
    for (int i = 0; i < frames; ++i) {
        const float m = mix_.next();
        const float dl = dryLeft_[static_cast<size_t>(i)];
        const float dr = dryRight_[static_cast<size_t>(i)];
        left[i] = dl + (left[i] - dl) * m;
        right[i] = dr + (right[i] - dr) * m;
    }
}

} // namespace dsp
