#pragma once
// The mix's arithmetic, kept apart from the chain so that each law can be
// pinned down on its own: the level law, the microphone drive, the balance
// pan, the reverb send level, and the routing matrix that decides which
// source and which wet signal reaches the monitor and the cable.

#include "dsp/biquad.h"
#include "engine/environment.h"
#include "settings/settings.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace engine {

// Tails ring for half a second plus the room's decay time.
inline constexpr uint32_t kTailBaseFrames = 24000;
// Per-frame glide of the smoothed dry gains towards their targets.
inline constexpr float kDryGainGlide = 0.002f;
// Per-block fall of the drive amount (its rise is immediate).
inline constexpr float kDriveFallPerBlock = 0.002f;

// The level law (dsp::levelGain) in the mix's single precision.
float levelGain(int32_t level) noexcept;

// Frames a tail rings for a room of decaySeconds.
uint32_t tailFrames(double decaySeconds) noexcept;

// The microphone drive: a = 1 + 6·(level − 100)/900 above 100, else 0. The
// voice is made up by a/tanh(a) and its sums saturated as tanh(d·x)/d, where
// d follows tanh(a): up at once, down by at most 0.002 a block.
struct MicDrive {
    float a = 0.0f;
    float drive = 0.0f;  // d
    float makeUp = 1.0f; // a / tanh(a), 1 when a = 0

    void update(int32_t micLevel) noexcept; // once per block
};

// Balance factors of a pan in percent (clamped to ±100): the far side is
// turned down, the near side never up.
struct Balance {
    float left = 1.0f;
    float right = 1.0f;
};
Balance balance(int32_t pan) noexcept;

// The reverb send level for one source: 0 when effects is off, amount < 1 or
// the source's echo_on bit is clear; else 0.855·(amount/100)^0.58, or without
// the 0.855 when the convolution response is active.
float sendLevel(const settings::Snapshot& s, int echoBit, bool convolution) noexcept;

// The compensation gain of the cavern's explicit taps: min(1.45, 0.69·x^−0.245), 1 below amount 1.
double tapCompensation(int32_t amount) noexcept;

// Everything the routing matrix looks at, read once per block.
struct RouteInputs {
    bool clipMic = false;
    bool clipHear = false;
    bool appHear = false;
    bool appOnly = false;
    bool monitor = false;
    bool parkRequested = false;
    bool clipLive = false;
    bool appLive = false;
    bool bus1Running = false;
    bool cavern = false; // the procedural cavern runs
    bool wide = false;
};

// Which source and which wet signal goes where, and what feeds the two bus
// environments (bus 0 shared, bus 1 monitor-only).
struct Route {
    bool voiceToMonitor = false;
    bool clipToMonitor = false;
    bool clipToCable = false;
    bool appToMonitor = false;
    bool appToCable = false;
    bool wet0ToMonitor = false;
    bool wet0ToCable = false;
    bool wet1ToMonitor = false;
    // Dry gain of each source: bus 1's when the source is routed to the monitor alone.
    bool clipDryFromBus1 = false;
    bool appDryFromBus1 = false;
    // Take the buses' mono wet on both sides instead of the stereo pair.
    bool monoWetCable = false;
    bool monoWetMonitor = false;
    // Bus feeds.
    bool bus0Clip = false;
    bool bus0App = false;
    bool bus1Clip = false;
    bool bus1App = false;
    bool bus1Wanted = false; // a source wants the monitor-only bus this block
};
Route route(const RouteInputs& in) noexcept;

// One frame of the two buses' sources and wet signals.
struct BusFrame {
    float clipL = 0.0f, clipR = 0.0f;
    float appL = 0.0f, appR = 0.0f;
    float dry0 = 1.0f, dry1 = 1.0f; // smoothed dry gains of bus 0 and bus 1
    float wet0L = 0.0f, wet0R = 0.0f, wet0Mono = 0.0f;
    float wet1L = 0.0f, wet1R = 0.0f, wet1Mono = 0.0f;
};

// The clip/application pairs of one frame for the monitor and the cable,
// before equalizer and soft clip. appPan is the monitor's application balance.
inline void routeFrame(const Route& r, const Balance& appPan, const BusFrame& f, float& monL, float& monR, float& cabL,
    float& cabR) noexcept
{
    const float clipGain = r.clipDryFromBus1 ? f.dry1 : f.dry0;
    const float appGain = r.appDryFromBus1 ? f.dry1 : f.dry0;
    const float clipL = f.clipL * clipGain;
    const float clipR = f.clipR * clipGain;
    const float appL = f.appL * appGain;
    const float appR = f.appR * appGain;
    monL = monR = cabL = cabR = 0.0f;
    if (r.clipToMonitor) {
        monL += clipL;
        monR += clipR;
    }
    if (r.clipToCable) {
        cabL += clipL;
        cabR += clipR;
    }
    if (r.appToMonitor) {
        monL += appL * appPan.left;
        monR += appR * appPan.right;
    }
    if (r.appToCable) {
        cabL += appL;
        cabR += appR;
    }
    if (r.wet0ToMonitor) {
        monL += r.monoWetMonitor ? f.wet0Mono : f.wet0L;
        monR += r.monoWetMonitor ? f.wet0Mono : f.wet0R;
    }
    if (r.wet1ToMonitor) {
        monL += r.monoWetMonitor ? f.wet1Mono : f.wet1L;
        monR += r.monoWetMonitor ? f.wet1Mono : f.wet1R;
    }
    if (r.wet0ToCable) {
        cabL += r.monoWetCable ? f.wet0Mono : f.wet0L;
        cabR += r.monoWetCable ? f.wet0Mono : f.wet0R;
    }
}

// What one bus environment is given per block.
struct BusFeed {
    const float* clipL = nullptr;
    const float* clipR = nullptr;
    bool clipEnabled = false;
    float clipSend = 0.0f;
    const float* appL = nullptr;
    const float* appR = nullptr;
    float appSend = 0.0f;  // 0 when the application does not feed this bus
    bool cavern = false;   // the procedural cavern runs
    bool duck = false;     // the cavern's dry duck applies
    bool tapGains = false; // the room is the cavern's: set its tap gains
    int32_t amount = 0;
};

// One clip/application environment instance: a stereo send through its own
// high-pass pair into its room, a mono dry sum for the cavern's stages, and
// the smoothed dry gain that the cavern's duck pulls down.
class BusEnvironment {
public:
    void prepare(double sampleRate, uint32_t maxFrames);
    // Takes a room built for the current preset (none: silent), and the cavern's stages.
    void setRoom(std::unique_ptr<ReverbInstance> room) noexcept;
    // Exchanges the room in use with room (a preset change: room goes back to be freed elsewhere).
    void swapRoom(std::unique_ptr<ReverbInstance>& room) noexcept { room_.swap(room); }
    void setCavern(std::unique_ptr<CavernStages> cavern) noexcept;
    // Exchanges the cavern's stages with cavern (fresh ones when the cavern is switched in).
    void swapCavern(std::unique_ptr<CavernStages>& cavern) noexcept { cavern_.swap(cavern); }
    // Runs one block (n at most maxFrames).
    void process(const BusFeed& feed, uint32_t n) noexcept;
    // A block in which the bus is not running: the dry gain glides back to 1,
    // the cavern's levels decay, and the wet outputs are silent.
    void idle(uint32_t n) noexcept;

    double decaySeconds() const noexcept { return room_ ? room_->decaySeconds() : 0.0; }
    const float* wetL() const { return wetL_.data(); }
    const float* wetR() const { return wetR_.data(); }
    const float* wetMono() const { return wetMono_.data(); }
    // The smoothed dry gain of each frame of the last block.
    const float* dryGains() const { return dryGains_.data(); }
    float dryGain() const { return dryGain_; }

private:
    std::unique_ptr<ReverbInstance> room_;
    std::unique_ptr<CavernStages> cavern_;
    dsp::Biquad sendFilter_[2];
    float dryGain_ = 1.0f;
    std::vector<float> sendL_, sendR_, drySum_, wetL_, wetR_, wetMono_, dryGains_;
};

} // namespace engine
