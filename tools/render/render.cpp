#include "tools/render/render.h"

#include "engine/engine.h"
#include "media/format_converter.h"
#include "media/wav_reader.h"
#include "media/wav_writer.h"
#include "platform/sample_rate.h"
#include "platform/sim/manual_clock.h"
#include "platform/sim/sim_audio.h"
#include "platform/text.h"
#include "settings/fields.h"
#include "settings/setup_files.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <memory>

namespace render {

namespace {

constexpr uint32_t kRate = platform::kSampleRate;
constexpr uint32_t kPacketFrames = 480;
constexpr uint32_t kMinInputRate = 8000;
constexpr uint32_t kMaxInputRate = 192000;
constexpr double kMaxTailSeconds = 600.0;

const std::wstring kMicId = L"{render-microphone}";
const std::wstring kCableId = L"{render-cable}";
const std::wstring kPhonesId = L"{render-headphones}";

std::string narrow(const std::wstring& text)
{
    return platform::utf8FromWide(text);
}

bool parseInteger(std::string_view text, int64_t& value)
{
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

bool parseSeconds(const std::string& text, double& value)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty() && std::isfinite(value);
}

platform::sim::SimEndpointSpec endpoint(platform::Flow flow, const std::wstring& id, const wchar_t* name,
                                        const wchar_t* adapter)
{
    platform::sim::SimEndpointSpec s;
    s.flow = flow;
    s.id = id;
    s.name = name;
    s.interfaceName = adapter;
    s.packetFrames = kPacketFrames;
    return s;
}

std::wstring folderOf(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"/\\");
    if (slash == std::wstring::npos)
        return L".";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

float peakOf(std::span<const float> samples)
{
    float peak = 0.0f;
    for (const float s : samples)
        peak = std::max(peak, std::fabs(s));
    return peak;
}

bool writeOutput(platform::Files& files, const std::wstring& path, const std::vector<float>& stereo, bool asFloat)
{
    if (asFloat)
        return media::writeWavFloat(files, path, stereo, kRate);
    std::vector<int16_t> pcm(stereo.size());
    std::transform(stereo.begin(), stereo.end(), pcm.begin(), media::toPcm16);
    return media::writeWav(files, path, pcm, kRate);
}

} // namespace

std::string usageText()
{
    return "usage: vantorovix-render [options] INPUT OUTPUT\n"
           "Runs the voice chain over INPUT (a WAV file: 8 to 192 kHz, mono or stereo,\n"
           "16/24/32-bit integer or float) and writes what reaches the cable to OUTPUT.\n"
           "\n"
           "  --setup FILE       apply a saved setup (default: the program's defaults)\n"
           "  --set KEY=VALUE    set one setup key after the setup; repeatable\n"
           "  --tail SECONDS     silence added after the input so effects ring out (default 2)\n"
           "  --monitor FILE     also write what the headphones hear (turns monitoring on)\n"
           "  --float            write 32-bit float WAV instead of 16-bit\n"
           "  --quiet            no progress and no summary\n"
           "  --help, --version\n"
           "\n"
           "example: vantorovix-render --setup Night.ini --set preset=3 take.wav take-night.wav\n";
}

std::string versionText()
{
    return "vantorovix-render 0.1.0";
}

Command parseArguments(std::span<const std::wstring> args, Options& options, std::string& message)
{
    std::vector<std::wstring> files;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring& a = args[i];
        const bool takesValue = a == L"--setup" || a == L"--set" || a == L"--tail" || a == L"--monitor";
        if (takesValue && i + 1 >= args.size()) {
            message = narrow(a) + " needs a value";
            return Command::Error;
        }
        if (a == L"--help" || a == L"-h") {
            return Command::Help;
        } else if (a == L"--version") {
            return Command::Version;
        } else if (a == L"--setup") {
            options.setup = args[++i];
        } else if (a == L"--monitor") {
            options.monitor = args[++i];
        } else if (a == L"--set") {
            const std::string pair = narrow(args[++i]);
            const size_t equals = pair.find('=');
            if (equals == std::string::npos || equals == 0) {
                message = "--set needs KEY=VALUE, got \"" + pair + "\"";
                return Command::Error;
            }
            options.sets.emplace_back(pair.substr(0, equals), pair.substr(equals + 1));
        } else if (a == L"--tail") {
            const std::string text = narrow(args[++i]);
            if (!parseSeconds(text, options.tailSeconds) || options.tailSeconds < 0
                || options.tailSeconds > kMaxTailSeconds) {
                message = "--tail takes seconds from 0 to 600, got \"" + text + "\"";
                return Command::Error;
            }
        } else if (a == L"--float") {
            options.floatOutput = true;
        } else if (a == L"--quiet") {
            options.quiet = true;
        } else if (a.size() > 1 && a[0] == L'-') {
            message = "unknown option " + narrow(a) + " (see --help)";
            return Command::Error;
        } else {
            files.push_back(a);
        }
    }
    if (files.size() != 2) {
        message = files.size() < 2 ? "give an INPUT and an OUTPUT file (see --help)"
                                   : "too many file names: give one INPUT and one OUTPUT";
        return Command::Error;
    }
    options.input = files[0];
    options.output = files[1];
    if (options.output == options.input || (!options.monitor.empty() && options.monitor == options.output)) {
        message = "the output must not overwrite the input or the other output";
        return Command::Error;
    }
    return Command::Render;
}

bool applySettings(platform::Files& files, const Options& options, settings::Settings& record,
                   std::vector<std::string>& warnings, std::string& error)
{
    const settings::SetupEnvironment environment;
    if (!options.setup.empty()) {
        const auto bytes = files.readAll(options.setup);
        if (!bytes) {
            error = "cannot read the setup file " + narrow(options.setup);
            return false;
        }
        // Unknown keys in a file are skipped, as the program skips them.
        settings::applySetupText(*bytes, record, environment);
    }
    for (const auto& [key, value] : options.sets) {
        const settings::FieldInfo* field = settings::findField(key);
        if (key == "eq_bands") {
            // A list of seven gains, read as a setup file reads it.
        } else if (!field) {
            error = "unknown setup key \"" + key + "\"";
            return false;
        } else {
            int64_t number = 0;
            if (!parseInteger(value, number)) {
                error = "--set " + key + " needs a whole number, got \"" + value + "\"";
                return false;
            }
            const int32_t clamped
                = settings::clampField(*field, number, static_cast<int>(record.userEqPresets.size()));
            if (clamped != number)
                warnings.push_back(key + "=" + value + " is out of range; using " + std::to_string(clamped));
        }
        const std::string line = key + "=" + value + "\n";
        settings::applySetupText(
            std::span(reinterpret_cast<const uint8_t*>(line.data()), line.size()), record, environment);
    }
    return true;
}

bool runEngine(settings::Settings& record, const StepsMaker& makeSteps, std::span<const float> input,
               std::vector<float>& cable, std::vector<float>* monitor, const Progress& progress, std::string& error,
               bool glitchHeld)
{
    const uint64_t total = input.size() / 2;
    platform::sim::ManualClock clock;
    platform::sim::SimAudio audio(clock);
    audio.addEndpoint(endpoint(platform::Flow::Capture, kMicId, L"Microphone (render input)", L"Render"));
    audio.addEndpoint(endpoint(
        platform::Flow::Render, kCableId, L"CABLE Input (VB-Audio Virtual Cable)", L"VB-Audio Virtual Cable"));
    audio.addEndpoint(endpoint(platform::Flow::Render, kPhonesId, L"Headphones (render monitor)", L"Render"));
    audio.setCaptureSource(kMicId, [input, total](uint64_t first, float* out, uint32_t frames) {
        for (uint32_t i = 0; i < frames; ++i) {
            const uint64_t at = first + i;
            out[2 * i] = at < total ? input[2 * at] : 0.0f;
            out[2 * i + 1] = at < total ? input[2 * at + 1] : 0.0f;
        }
    });
    // Room for the output and its pre-fill, which is at most the buffer.
    const size_t room = total + 48000;
    audio.recordRender(kCableId, true, room);
    audio.recordRender(kPhonesId, monitor != nullptr, room);
    settings::setDeviceName(record, settings::DeviceKind::Mic, kMicId);
    settings::setDeviceName(record, settings::DeviceKind::Spk, kPhonesId);
    if (monitor)
        record.monitor.store(1);

    engine::EngineState state;
    state.glitchButtonHeld.store(glitchHeld ? 1 : 0);
    engine::RecorderRings rings;
    const std::unique_ptr<engine::BlockSteps> steps = makeSteps(record, state);
    engine::Engine eng(engine::EngineServices{clock, audio, record, state, rings, *steps, {}});
    eng.start();
    engine::requestOpen(state);

    // The outputs start with the pre-fill silence their first write queued;
    // the voice begins after it. The monitor may open a little later than the
    // cable, and hears silence until then.
    int64_t cablePrefill = -1, monitorPrefill = -1;
    uint64_t monitorStartsAt = 0;
    uint64_t done = 0, lastWritten = 0;
    int reported = -1;
    while (done < total) {
        const engine::StepWait w = eng.step();
        if (eng.phase() == engine::EnginePhase::Ended || eng.phase() == engine::EnginePhase::RetryWait) {
            error = "the engine could not run on the simulated devices";
            return false;
        }
        const uint64_t written = audio.stats(kCableId).framesWritten;
        if (written != lastWritten) {
            const uint64_t block = cablePrefill < 0 ? kPacketFrames : written - lastWritten;
            if (cablePrefill < 0)
                cablePrefill = static_cast<int64_t>(written - kPacketFrames);
            lastWritten = written;
            done = written - static_cast<uint64_t>(cablePrefill);
            if (monitor && monitorPrefill < 0) {
                const uint64_t heard = audio.stats(kPhonesId).framesWritten;
                if (heard > 0) {
                    monitorPrefill = static_cast<int64_t>(heard - block);
                    monitorStartsAt = done - block;
                }
            }
            const int percent = static_cast<int>(100 * done / std::max<uint64_t>(total, 1));
            if (progress && percent != reported) {
                reported = percent;
                progress(std::min(1.0, static_cast<double>(done) / static_cast<double>(total)));
            }
        }
        if (w.micros > 0) {
            clock.advance(w.event ? std::min<int64_t>(w.micros, 1000) : w.micros);
            audio.tick();
        }
    }
    engine::requestStop(state);
    while (eng.phase() != engine::EnginePhase::Ended)
        eng.step();

    if (audio.stats(kCableId).underruns > 0) {
        error = "the simulated cable ran dry; the render would not be exact";
        return false;
    }
    const std::vector<float> rendered = audio.rendered(kCableId);
    const size_t from = static_cast<size_t>(cablePrefill) * 2;
    cable.assign(rendered.begin() + static_cast<std::ptrdiff_t>(from),
                 rendered.begin() + static_cast<std::ptrdiff_t>(from + total * 2));
    if (monitor) {
        monitor->assign(total * 2, 0.0f);
        if (monitorPrefill >= 0) {
            const std::vector<float> heard = audio.rendered(kPhonesId);
            const size_t start = static_cast<size_t>(monitorPrefill) * 2;
            const size_t count = std::min<size_t>(heard.size() - start, (total - monitorStartsAt) * 2);
            std::copy_n(heard.begin() + static_cast<std::ptrdiff_t>(start), count,
                        monitor->begin() + static_cast<std::ptrdiff_t>(monitorStartsAt * 2));
        }
    }
    return true;
}

bool renderFile(platform::Files& files, const Options& options, const StepsMaker& makeSteps, const Progress& progress,
                Summary& summary, std::vector<std::string>& warnings, std::string& error)
{
    settings::Settings record;
    if (!applySettings(files, options, record, warnings, error))
        return false;

    const auto bytes = files.readAll(options.input);
    if (!bytes) {
        error = "cannot read " + narrow(options.input);
        return false;
    }
    media::WavAudio wav;
    if (!media::parseWav(*bytes, wav)) {
        error = narrow(options.input)
            + " is not a WAV file this tool reads (mono or stereo, 16/24/32-bit integer or float)";
        return false;
    }
    if (wav.sampleRate < kMinInputRate || wav.sampleRate > kMaxInputRate) {
        error = narrow(options.input) + " is at " + std::to_string(wav.sampleRate)
            + " Hz; the tool reads 8000 to 192000 Hz";
        return false;
    }
    for (const std::wstring* out : {&options.output, &options.monitor}) {
        if (!out->empty() && !files.isFolder(folderOf(*out))) {
            error = "cannot write " + narrow(*out) + ": its folder does not exist";
            return false;
        }
    }
    summary.inputRate = wav.sampleRate;
    summary.inputChannels = wav.channels;
    summary.inputFrames = wav.left.size();

    std::vector<float> stereo(wav.left.size() * 2);
    for (size_t i = 0; i < wav.left.size(); ++i) {
        stereo[2 * i] = wav.left[i];
        stereo[2 * i + 1] = wav.right[i];
    }
    wav = {};
    media::FormatConverter converter({2, 32, true, summary.inputRate, 0});
    std::vector<float> input;
    converter.convertStereo(stereo, input);
    stereo = {};
    input.resize(input.size() + 2 * static_cast<size_t>(std::llround(options.tailSeconds * kRate)), 0.0f);

    std::vector<float> cable, monitor;
    if (!runEngine(record, makeSteps, input, cable, options.monitor.empty() ? nullptr : &monitor, progress, error))
        return false;
    summary.outputFrames = cable.size() / 2;
    summary.cablePeak = peakOf(cable);
    summary.monitorPeak = peakOf(monitor);

    if (!writeOutput(files, options.output, cable, options.floatOutput)) {
        error = "cannot write " + narrow(options.output);
        return false;
    }
    if (!options.monitor.empty() && !writeOutput(files, options.monitor, monitor, options.floatOutput)) {
        files.removeFile(options.output); // both outputs or neither
        error = "cannot write " + narrow(options.monitor);
        return false;
    }
    return true;
}

} // namespace render
