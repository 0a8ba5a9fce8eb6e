#pragma once
// The voice's environment (block step 11): the send's 20 Hz high-pass and
// the cavern's input compressor, the room or the convolution response the
// send feeds, the procedural cavern's own stages, the wide echo in the
// headphones, and the old environment's tail after a room change. It fills
// the monitor's and the cable's wet pairs that the voice output adds to the
// dry voice. Rooms are swapped in from a RoomSet built elsewhere; the rooms
// it lets go of go back in the same set. Engine thread only; allocates only
// in prepare().

#include "dsp/biquad.h"
#include "dsp/gain.h"
#include "engine/block_steps.h"
#include "engine/environment.h"
#include "engine/room_builder.h"
#include "engine/wide_echo.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace engine {

// A replacement for the chain's own wide echo room on the headphone path:
// adds into the voice's headphone wet pair.
class WideEcho {
public:
    virtual ~WideEcho() = default;
    // feed: the voice send of this block as the built-in room gets it (the
    // high-passed voice, the send level and the cavern send compressor's
    // gain per frame, 1 on other rooms: the part the cavern takes, so the
    // wide echo's part is 1 minus it); cavernRunning: the procedural cavern runs now.
    virtual void process(const WideEchoFeed& feed, float* wetL, float* wetR, uint32_t n, bool cavernRunning,
        const settings::Snapshot& settings) noexcept = 0;
};

class VoiceEnvironment {
public:
    explicit VoiceEnvironment(EnvironmentFactory& environments) : environments_(environments) { }

    // Engine start: loads the convolution response; true when it loaded.
    bool loadImpulseResponse();
    // Builds the rooms of preset and the scratch for maxFrames. Allocates.
    void prepare(double sampleRate, uint32_t maxFrames, int preset);
    void setWideEcho(WideEcho* wide) { wideEcho_ = wide; }

    // Swaps in the voice room of set, which takes back the room displaced
    // from the tail; the room in use starts ringing out as the tail.
    void adopt(RoomSet& set) noexcept;
    // One chunk (at most maxFrames): fills the wet pairs below and the
    // block's mono wet sends. Retires a tail that has rung out into reaper.
    void process(Block& block, Reaper& reaper) noexcept;
    // The dry voice's gain target for this chunk: the cavern's duck, or 1.
    float dryGainTarget(const Block& block) noexcept;

    int preset() const noexcept { return preset_; }
    // The cavern's response loaded and is in hand: preset 8 runs on it.
    bool cavernOnConvolution() const noexcept { return irLoaded_ && convolution_ != nullptr; }
    // The voice runs on the convolution response now (the cavern with its response loaded).
    bool convolutionActive() const noexcept { return convolutionActive(preset_); }
    // The procedural cavern is the environment now.
    bool cavernRunning() const noexcept { return preset_ == kCavernPreset && !convolutionActive(); }
    bool oldRinging() const noexcept { return oldTail_ > 0 && (oldRoom_ != nullptr || oldIsConvolution_); }
    const WideEchoRoom& wideEcho() const { return wideRoom_; }

    // The wet pairs of the last chunk.
    const float* monitorLeft() const { return wetMonL_.data(); }
    const float* monitorRight() const { return wetMonR_.data(); }
    const float* cableLeft() const { return wetCabL_.data(); }
    const float* cableRight() const { return wetCabR_.data(); }

private:
    bool convolutionActive(int preset) const noexcept;
    void addOldTail(int32_t amount, bool cavern, uint32_t n, Reaper& reaper) noexcept;

    EnvironmentFactory& environments_;
    WideEcho* wideEcho_ = nullptr;
    double sampleRate_ = 48000.0;
    bool irLoaded_ = false;
    int preset_ = kCavernPreset;

    dsp::Biquad sendHighPass_;
    dsp::InputCompressor sendCompressor_;
    std::unique_ptr<ReverbInstance> room_;
    std::unique_ptr<ReverbInstance> convolution_;
    std::unique_ptr<CavernStages> cavern_;
    bool convolutionWasActive_ = false;
    std::unique_ptr<ReverbInstance> oldRoom_;
    bool oldIsConvolution_ = false; // the tail comes from the convolution, which is kept
    bool oldFromCavern_ = false;
    bool resumeResponse_ = false; // back on the response while its tail rang: not cleared
    int64_t oldTail_ = 0;
    WideEchoRoom wideRoom_; // the headphones' wide echo, unless a hook replaces it

    std::vector<float> send_, highPassed_, compressorGain_, silence_;
    std::vector<float> wetMonL_, wetMonR_, wetCabL_, wetCabR_, tailL_, tailR_;
};

} // namespace engine
