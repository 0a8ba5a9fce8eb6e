#include "engine/texts.h"

#include "dsp/noise_isolation.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace engine {

const std::array<const char*, dsp::kRoomCount> kRoomNames{"Auditorium", "Ball Park", "Bathroom", "Cathedral",
    "Chapel", "Church", "Concert Hall", "Garage", "Haunted Cavern", "Indoor Arena", "Jazz Club", "Living Room",
    "Opera House", "Small Room", "Theater"};

std::string roomDisplayText(const dsp::RoomParams& params)
{
    char text[96];
    std::snprintf(text, sizeof text, "Decay: %.2f s   Room: %.0f dB", params.decayTime,
        20.0 * std::log10(std::max(params.gain, 1e-6)));
    return text;
}

const char* convolutionStatusText(bool loaded)
{
    return loaded ? "haunted_cavern_ir.wav Loaded" : "Procedural Ovix Core";
}

const std::array<const char*, dsp::kMaskCount> kMaskNames{"Alien Brute", "Alien Infiltrator", "Deep Voice", "Demon",
    "Dwarf", "Elderly", "Elf", "Emo", "Female to Male", "From Up North", "Male to Female", "Marine", "Munchkin",
    "Neutral", "Orc", "Robot", "Scrappy Kid", "Unstable", "Anonymous", "Alien", "Astronaut", "Drunk", "Duck",
    "Ghost", "Glitch", "Monster", "Three of Me", "Underwater", "Mickey Mouse", "Chipmunk", "Helium", "Baby",
    "Goblin", "Giant", "Zombie", "Dark Lord", "Cyborg", "Megaphone", "Phone Call", "Bumblebee", "Whisper",
    "Stranger"};

const std::array<GlitchStyleText, dsp::kGlitchStyleCount> kGlitchStyleTexts{{
    {"Repeat", "Hold to repeat", "Repeating"},
    {"Beep", "Hold to beep", "Beeping"},
    {"Stutter", "Hold to stutter", "Stuttering"},
    {"Reverse", "Hold to reverse", "Reversing"},
    {"Tape stop", "End with tape stop", "Stopping"},
    {"Scratch", "Hold to scratch", "Scratching"},
    {"Robot", "End with robot", "Shutting down"},
    {"Crush", "End with crush", "Breaking up"},
    {"Chipmunk", "End with chipmunk", "Speeding up"},
    {"Deep", "End with deep", "Going deep"},
    {"Echo", "End with echo", "Echoing out"},
    {"Cut", "Hold to cut", "Cut"},
    {"Glitch", "Hold to glitch", "Glitching"},
}};

const char* isolationModeName(int32_t stored) noexcept
{
    static const char* const kModeNames[] = {"Gate", "Clean", "Studio", "Broadcast", "Vocal"};
    return kModeNames[dsp::isolationModeOf(stored)];
}

int formatGateLine(
    char* out, size_t size, int32_t vocalLevel, int32_t gateLo, int32_t gateMid, int32_t gateHi, int32_t gateOut)
{
    return std::snprintf(out, size, "Gate %d   Out %+.1f dB   Tone Lo %+.1f  Mid %+.1f  Hi %+.1f",
        static_cast<int>(vocalLevel), gateOut / 10.0, gateLo / 10.0, gateMid / 10.0, gateHi / 10.0);
}

} // namespace engine
