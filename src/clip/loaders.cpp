#include "clip/loaders.h"

namespace clip {

bool isExactSeekFormat(const std::wstring&)
{
    return false;
}

SoundRef loadSound(platform::Media&, const std::wstring&, uint32_t, double, double, double, bool,
    const std::atomic<uint8_t>*, std::wstring&)
{
    return nullptr;
}

OutlineRef buildOutline(platform::Media&, const std::wstring&, uint32_t, int32_t, std::atomic<int32_t>*,
    const std::atomic<uint8_t>*, std::wstring&)
{
    return nullptr;
}

} // namespace clip
