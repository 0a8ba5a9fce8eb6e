#include "media/cavern_response.h"

#include "media/wav_reader.h"

#include <vector>

namespace media {

bool loadCavernResponse(platform::Files& files, const std::wstring& folder, dsp::ConvolutionReverb& into)
{
    std::wstring path = folder;
    if (!path.empty() && path.back() != L'\\' && path.back() != L'/')
        path += L'\\';
    path += kCavernResponseFile;
    std::vector<float> left, right;
    uint32_t rate = 0;
    if (!readWav(files, path, left, right, rate)) {
        into.unload();
        return false;
    }
    return into.load(left, right, rate);
}

} // namespace media
