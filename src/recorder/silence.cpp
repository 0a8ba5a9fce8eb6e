#include "recorder/silence.h"

namespace recorder {

std::vector<Range> findSilences(const clip::Sound&, std::span<const Range>)
{
    return {};
}

clip::SoundRef removeQuiet(const clip::SoundRef& sound)
{
    return sound;
}

} // namespace recorder
