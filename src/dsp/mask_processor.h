#pragma once
// The stereo mask processor, one per stereo stream that can be routed through
// the masks (sound clips, application audio). Per 256-frame block: the
// resampling pitch shifter (with its own 40 ms fade, so that reaching ratio 1
// bypasses it without a click), the mask through two channel engines (the
// extended kinds on the mid signal through the left engine only), the glitch
// repeater, and a 40 ms wet/dry fade for switching the whole path on and off.

#include "dsp/crossfade.h"
#include "dsp/mask_channel.h"
#include "dsp/mask_shifter.h"

#include <memory>
#include <vector>

namespace dsp {

// Where the stereo glitch repeater plugs in: it runs after the mask, on the
// shifted and masked block. The processor owns the installed one; without
// one the step passes the block through.
class MaskGlitchHook {
public:
    virtual ~MaskGlitchHook() = default;
    virtual void prepare(double sampleRate) = 0;
    virtual void reset() noexcept = 0;
    // held: the glitch button or key is down; style 0..12.
    virtual void setGlitch(bool held, int style) noexcept = 0;
    virtual void process(float* left, float* right, int frames) noexcept = 0;
};

class MaskProcessor {
public:
    static constexpr int kBlock = 256;
    static constexpr double kMinRatio = 0.4;
    static constexpr double kMaxRatio = 2.5;

    // The glitch repeater; install before prepare(), which prepares it.
    void installGlitch(std::unique_ptr<MaskGlitchHook> glitch) { glitch_ = std::move(glitch); }
    MaskGlitchHook* glitch() const { return glitch_.get(); }

    // Sizes the rings, builds the crossfade table, prepares both channel
    // engines and the glitch repeater, clears everything.
    void prepare(double sampleRate);
    // Restarts the shifter at a grain boundary (its rings are kept, so it
    // starts from current audio), resets the channel engines and the glitch
    // repeater, and puts the fade mix at 0.
    void reset() noexcept;

    // ((pitch_hz + 300)·(voice_ratio/1000))/300, before clamping.
    static double requestedRatio(int pitchHz, int voiceRatio)
    {
        return ((pitchHz + 300.0) * (voiceRatio / 1000.0)) / 300.0;
    }
    // The ratio clamped to 0.4..2.5, and the mask index (outside 0..41: no mask).
    void setPitchAndMask(int pitchHz, int voiceRatio, int voiceMask) noexcept;
    void setGlitch(bool held, int style) noexcept;

    // The fade target becomes `on`; then the frames run in 256-frame blocks.
    void process(float* left, float* right, int frames, bool on) noexcept;
    // The same on an interleaved stereo buffer.
    void processInterleaved(float* frames2, int frames, bool on) noexcept;
    // While the path is off: only fills the shifter's rings.
    void feedBypass(const float* left, const float* right, int frames) noexcept;
    void feedBypassInterleaved(const float* frames2, int frames) noexcept;

    double ratio() const { return ratio_; }
    int maskIndex() const { return mask_; }
    float mix() const { return mix_.value(); }
    float shifterFade() const { return shifterFade_.value(); }
    // Off and fully faded out: the owner may switch to the bypass.
    bool faded() const { return mix_.value() == 0.0f && mix_.target() == 0.0f; }
    const MaskChannel& channel(int index) const { return channels_[index]; }

private:
    void processBlock(float* left, float* right, int frames) noexcept;
    bool shifterActive() const { return std::fabs(ratio_ - 1.0) >= 0.0001; }

    ResamplingShifter shifter_;
    MaskChannel channels_[2];
    std::unique_ptr<MaskGlitchHook> glitch_;
    SmoothedSwitch shifterFade_;
    SmoothedSwitch mix_;
    double ratio_ = 1.0;
    int mask_ = -1;
    std::vector<float> dryLeft_, dryRight_, mid_, left_, right_;
};

} // namespace dsp
