// The WAV reader takes files from anywhere: the impulse response folder and
// the render tool's command line.
#include "media/format_converter.h"
#include "media/wav_reader.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    media::WavAudio audio;
    if (media::parseWav({data, size}, audio) && audio.sampleRate >= 8000 && audio.sampleRate <= 192000
        && audio.left.size() < 100000) {
        std::vector<float> stereo(audio.left.size() * 2);
        for (size_t i = 0; i < audio.left.size(); ++i) {
            stereo[2 * i] = audio.left[i];
            stereo[2 * i + 1] = audio.right[i];
        }
        media::FormatConverter converter({2, 32, true, audio.sampleRate, 0});
        std::vector<float> out;
        converter.convertStereo(stereo, out);
    }
    return 0;
}
