#pragma once
// The offline effects render of "Apply FX" and of the render tool's clip
// mode: a sound played as a clip through a private copy of the program's
// effect chain, with the voice silent, and what reaches the cable kept. One
// path for both, so the tool hears exactly what the program writes into the
// take. Runs on the calling (worker) thread.

#include "media/sound.h"
#include "recorder/fx_apply.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace platform {
class Files;
}

namespace console {

// Where the cavern's impulse response file is looked for; no files: never.
struct ResponseSource {
    platform::Files* files = nullptr;
    std::wstring folder;
};

// Frames of output for an input: the content at the snapshot's speed plus
// the environment's tail (8 s at most) when the clips' reverb is on.
struct OfflineFxLength {
    int64_t content = 0;
    int64_t tail = 0;
};
OfflineFxLength offlineFxLength(int64_t inputFrames, const recorder::EffectSnapshot& snapshot, double decaySeconds);

// The render; none when memory runs out. progress goes 0..1000.
clip::SoundRef renderOfflineFx(const clip::Sound& input, const recorder::EffectSnapshot& snapshot,
    std::atomic<int32_t>& progress, const ResponseSource& response);

// The renderer Apply FX runs, bound to where the response is.
recorder::FxRenderer offlineFxRenderer(ResponseSource response);

} // namespace console
