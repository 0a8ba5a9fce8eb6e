// vantorovix-render: the voice chain over audio files, faster than real time.
#include "platform/sim/memory_files.h"
#include "platform/text.h"
#include "tools/render/render.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#define OVIX_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define OVIX_ISATTY(fd) isatty(fd)
#endif

namespace {

void line(const std::string& text)
{
    std::fprintf(stderr, "%s\n", text.c_str());
}

int run(const std::vector<std::wstring>& args)
{
    render::Options options;
    std::string message;
    switch (render::parseArguments(args, options, message)) {
    case render::Command::Help:
        std::fputs(render::usageText().c_str(), stdout);
        return 0;
    case render::Command::Version:
        std::printf("%s\n", render::versionText().c_str());
        return 0;
    case render::Command::Error:
        line("vantorovix-render: " + message);
        return 2;
    case render::Command::Render:
        break;
    }

    const bool bar = !options.quiet && OVIX_ISATTY(2);
    render::Progress progress;
    if (bar) {
        progress = [](double fraction) {
            const int filled = static_cast<int>(fraction * 40);
            std::fprintf(stderr, "\r[%-40s] %3d%%", std::string(static_cast<size_t>(filled), '#').c_str(),
                         static_cast<int>(fraction * 100));
            std::fflush(stderr);
        };
    }

    platform::sim::StdFiles files;
    render::Summary summary;
    std::vector<std::string> warnings;
    const auto start = std::chrono::steady_clock::now();
    const bool ok = render::renderFile(files, options, nullptr, progress, summary, warnings, message);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (bar)
        std::fputs("\n", stderr);
    for (const auto& warning : warnings)
        line("warning: " + warning);
    if (!ok) {
        line("vantorovix-render: " + message);
        return 1;
    }
    if (!options.quiet) {
        const double inSeconds = static_cast<double>(summary.inputFrames) / summary.inputRate;
        const double outSeconds = static_cast<double>(summary.outputFrames) / 48000.0;
        char text[320];
        std::snprintf(text, sizeof text,
                      "input  %.2f s (%u Hz, %s)\noutput %.2f s at 48000 Hz, peak %.1f dBFS\nspeed  %.1fx real time",
                      inSeconds, summary.inputRate, summary.inputChannels == 1 ? "mono" : "stereo", outSeconds,
                      summary.cablePeak > 0 ? 20.0 * std::log10(summary.cablePeak) : -999.0,
                      seconds > 0 ? outSeconds / seconds : 0.0);
        line(text);
    }
    return 0;
}

} // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv)
{
    return run(std::vector<std::wstring>(argv + 1, argv + argc));
}
#else
int main(int argc, char** argv)
{
    std::vector<std::wstring> args;
    for (int i = 1; i < argc; ++i)
        args.push_back(platform::wideFromUtf8(argv[i]));
    return run(args);
}
#endif
