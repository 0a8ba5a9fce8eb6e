// WAV files come from outside the program (the cavern's impulse response sits
// beside the executable, where anyone can drop a file). The reader must take
// any bytes without reading past them, give equal channels, never more frames
// than the bytes can hold, and a response it accepts must load and run.

#include "dsp/convolution.h"
#include "media/wav_reader.h"

#include <cmath>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<float> left, right;
    uint32_t rate = 0;
    if (!media::readWav(std::span<const uint8_t>(data, size), left, right, rate)) {
        if (!left.empty() || !right.empty())
            std::abort();
        return 0;
    }
    if (left.size() != right.size() || left.size() * 2 > size)
        std::abort();
    // Short responses only: the point is the loader's rules, not the cost of long ones.
    if (left.size() <= 20000) {
        dsp::ConvolutionReverb conv;
        if (conv.load(left, right, rate)) {
            std::vector<float> send(1024, 0.5f), l(1024), r(1024);
            conv.process(send.data(), l.data(), r.data(), 1024);
            for (size_t i = 0; i < l.size(); ++i)
                if (!std::isfinite(l[i]) || !std::isfinite(r[i]))
                    std::abort();
        }
    }
    return 0;
}
