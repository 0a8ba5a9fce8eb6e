#pragma once
// The headless render tool's core: runs the program's real engine and effect
// chain over a WAV file on simulated endpoints and a virtual clock, as fast as
// the processor allows, and writes what reached the cable (and the headphones).

#include "console/sim/sim_console.h"
#include "engine/block_steps.h"
#include "platform/files.h"
#include "settings/settings.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace render {

// A setting changed at a time of the input, as a click at that moment would.
struct TimedSet {
    double seconds = 0;
    std::string key;
    std::string value;
};

// The glitch key held from start to end, seconds of the input.
struct GlitchHold {
    double start = 0;
    double end = 0;
};

struct Timeline {
    std::vector<TimedSet> sets;    // --at, in command-line order
    std::vector<GlitchHold> holds; // --hold-glitch
};

struct Options {
    std::wstring input;
    std::wstring output;
    std::wstring setup;   // empty: the settings record's defaults
    std::wstring monitor; // empty: no headphones output
    std::vector<std::pair<std::string, std::string>> sets; // --set key=value, in order
    Timeline timeline;
    double tailSeconds = 2.0;
    bool floatOutput = false;
    bool quiet = false;
    bool asClip = false; // --as-clip: the input as a take under Apply FX
};

enum class Command { Render, Help, Version, Error };

// Reads the command line (without the program name). On Error, message says why.
Command parseArguments(std::span<const std::wstring> args, Options& options, std::string& message);
std::string usageText();
std::string versionText();

// Applies the setup file, then every --set, to the record. Values out of
// range are clamped as the record clamps them, with a warning (for --at
// values too, which are applied later); an unknown --set key or a value that
// is not a number is an error.
bool applySettings(platform::Files& files, const Options& options, settings::Settings& record,
                   std::vector<std::string>& warnings, std::string& error);

struct Summary {
    uint32_t inputRate = 0;
    uint16_t inputChannels = 0;
    uint64_t inputFrames = 0;  // at the input's own rate
    uint64_t outputFrames = 0; // at 48 kHz, tail included
    float cablePeak = 0.0f;
    float monitorPeak = 0.0f;
};

// fraction of the render done, 0..1; called a hundred times or so.
using Progress = std::function<void(double fraction)>;

// The whole job: read, convert, run the engine, write. Nothing is left at the
// output paths unless every step succeeded. steps, when given, replaces the
// program's effect chain (tests of the tool itself).
bool renderFile(platform::Files& files, const Options& options, engine::BlockSteps* steps, const Progress& progress,
    Summary& summary, std::vector<std::string>& warnings, std::string& error);

// The engine part alone, on a console whose engine has not started yet and
// 48 kHz interleaved stereo: fills cable (and monitor, when not null) with
// exactly input.size() / 2 frames each. glitchHeld holds the glitch button
// down for the whole run. The timeline's changes are made before the first
// 10 ms block that starts at or after their time.
bool runEngine(console::SimConsole& sim, std::span<const float> input, std::vector<float>& cable,
    std::vector<float>* monitor, const Progress& progress, std::string& error, bool glitchHeld = false,
    const Timeline& timeline = {});

} // namespace render
