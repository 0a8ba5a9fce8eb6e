#include "tools/render/render.h"

#include "console/offline_fx.h"
#include "media/format_converter.h"
#include "media/wav_reader.h"
#include "media/wav_writer.h"
#include "platform/sample_rate.h"
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
constexpr double kMaxTimelineSeconds = 86400.0;

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

platform::sim::SimEndpointSetup endpoint(platform::Flow flow, const std::wstring& id, const wchar_t* name,
                                        const wchar_t* adapter)
{
    platform::sim::SimEndpointSetup s;
    s.flow = flow;
    s.id = id;
    s.name = name;
    s.interfaceName = adapter;
    s.packetFrames = kPacketFrames;
    return s;
}

bool validTime(const std::string& text, double& seconds)
{
    return parseSeconds(text, seconds) && seconds >= 0 && seconds <= kMaxTimelineSeconds;
}

// A setup key the tool sets by hand: a field, or the equalizer's list of bands.
bool knownKey(const std::string& key)
{
    return key == "eq_bands" || settings::findField(key) != nullptr;
}

// Checks one key=value of --set or --at (label) and warns when its value
// will be clamped; false with error when the value is not a whole number.
bool checkValue(const std::string& label, const std::string& key, const std::string& value,
    const settings::Settings& record, std::vector<std::string>& warnings, std::string& error)
{
    const settings::FieldInfo* field = settings::findField(key);
    if (key == "eq_bands" || !field)
        return true; // a list of seven gains, read as a setup file reads it
    int64_t number = 0;
    if (!parseInteger(value, number)) {
        error = label + " " + key + " needs a whole number, got \"" + value + "\"";
        return false;
    }
    const int32_t clamped = settings::clampField(*field, number, static_cast<int>(record.userEqPresets().size()));
    if (clamped != number)
        warnings.push_back(key + "=" + value + " is out of range; using " + std::to_string(clamped));
    return true;
}

// One key=value through the path a setup file takes: clamped, stored, its change counter moved.
void applyValue(settings::Settings& record, const std::string& key, const std::string& value)
{
    const settings::SetupEnvironment environment;
    const std::string line = key + "=" + value + "\n";
    settings::applySetupText(
        std::span(reinterpret_cast<const uint8_t*>(line.data()), line.size()), record, environment);
}

// Presses (or releases) the keys a hotkey code needs: its key and its modifiers.
void holdKeyCode(platform::sim::SimKeys& keys, uint32_t code, bool down)
{
    const auto set = [&](uint16_t vk) { down ? keys.press(vk) : keys.release(vk); };
    set(static_cast<uint16_t>(code & 0xFFFFu));
    if (code & platform::kKeyAlt)
        set(platform::kVkAlt);
    if (code & platform::kKeyControl)
        set(platform::kVkControl);
    if (code & platform::kKeyShift)
        set(platform::kVkShift);
    if (code & platform::kKeyWin)
        set(platform::kVkLeftWin);
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

// --as-clip: the input made a 16-bit take and rendered as Apply FX renders it
// (the tool runs the cavern procedurally, as it does for the voice).
bool renderClip(platform::Files& files, const Options& options, const settings::Settings& record,
    const std::vector<float>& input, const Progress& progress, Summary& summary, std::string& error)
{
    auto take = std::make_shared<clip::Sound>();
    take->samples.resize(input.size());
    std::transform(input.begin(), input.end(), take->samples.begin(), media::toPcm16);
    const recorder::EffectSnapshot snapshot = recorder::takeEffectSnapshot(record.snapshot(), false);
    std::atomic<int32_t> done{0};
    const clip::SoundRef out = console::renderOfflineFx(*take, snapshot, done, {});
    if (!out) {
        error = "not enough memory to render the clip";
        return false;
    }
    if (progress)
        progress(1.0);
    summary.outputFrames = out->frames();
    for (const int16_t s : out->samples)
        summary.cablePeak = std::max(summary.cablePeak, std::abs(s) / 32768.0f);
    if (!media::writeWav(files, options.output, out->samples, kRate)) {
        error = "cannot write " + narrow(options.output);
        return false;
    }
    return true;
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
           "  --at SECONDS KEY=VALUE\n"
           "                     set a key at that time of the input, as a click would; repeatable\n"
           "  --hold-glitch START:END\n"
           "                     hold the glitch key from START to END seconds (with mask_on=1);\n"
           "                     repeatable\n"
           "  --tail SECONDS     silence added after the input so effects ring out (default 2)\n"
           "  --monitor FILE     also write what the headphones hear (turns monitoring on)\n"
           "  --float            write 32-bit float WAV instead of 16-bit\n"
           "  --as-clip          render INPUT as the take editor's Apply FX does: played as a\n"
           "                     clip through the clip effects, its tail added, 16-bit output\n"
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
        const bool takesValue
            = a == L"--setup" || a == L"--set" || a == L"--tail" || a == L"--monitor" || a == L"--hold-glitch";
        if (takesValue && i + 1 >= args.size()) {
            message = narrow(a) + " needs a value";
            return Command::Error;
        }
        if (a == L"--at" && i + 2 >= args.size()) {
            message = "--at needs SECONDS KEY=VALUE";
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
        } else if (a == L"--at") {
            TimedSet set;
            const std::string time = narrow(args[++i]);
            const std::string pair = narrow(args[++i]);
            const size_t equals = pair.find('=');
            if (!validTime(time, set.seconds)) {
                message = "--at takes seconds from 0 to 86400, got \"" + time + "\"";
                return Command::Error;
            }
            if (equals == std::string::npos || equals == 0) {
                message = "--at " + time + " needs KEY=VALUE, got \"" + pair + "\"";
                return Command::Error;
            }
            set.key = pair.substr(0, equals);
            set.value = pair.substr(equals + 1);
            int64_t number = 0;
            if (!knownKey(set.key)) {
                message = "--at " + time + ": unknown setup key \"" + set.key + "\"";
                return Command::Error;
            }
            if (set.key != "eq_bands" && !parseInteger(set.value, number)) {
                message = "--at " + time + " " + set.key + " needs a whole number, got \"" + set.value + "\"";
                return Command::Error;
            }
            options.timeline.sets.push_back(std::move(set));
        } else if (a == L"--hold-glitch") {
            const std::string span = narrow(args[++i]);
            const size_t colon = span.find(':');
            GlitchHold hold;
            if (colon == std::string::npos || !validTime(span.substr(0, colon), hold.start)
                || !validTime(span.substr(colon + 1), hold.end) || hold.end <= hold.start) {
                message = "--hold-glitch takes START:END in seconds, START before END, got \"" + span + "\"";
                return Command::Error;
            }
            options.timeline.holds.push_back(hold);
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
        } else if (a == L"--as-clip") {
            options.asClip = true;
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
    if (options.asClip
        && (!options.monitor.empty() || options.floatOutput || !options.timeline.sets.empty()
            || !options.timeline.holds.empty())) {
        message = "--as-clip writes the take alone: no --monitor, --float, --at or --hold-glitch";
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
        if (!knownKey(key)) {
            error = "unknown setup key \"" + key + "\"";
            return false;
        }
        if (!checkValue("--set", key, value, record, warnings, error))
            return false;
        applyValue(record, key, value);
    }
    for (const TimedSet& set : options.timeline.sets) {
        if (!checkValue("--at", set.key, set.value, record, warnings, error))
            return false;
    }
    return true;
}

// The timeline as the render loop plays it: changes and key moves in time
// order (command-line order among equal times), in frames of the input.
class TimelinePlayer {
public:
    TimelinePlayer(const Timeline& timeline, settings::Settings& record, platform::sim::SimKeys& keys)
        : record_(record), keys_(keys)
    {
        for (const TimedSet& set : timeline.sets)
            changes_.push_back({frameOf(set.seconds), &set});
        std::stable_sort(changes_.begin(), changes_.end(), [](auto& a, auto& b) { return a.frame < b.frame; });
        for (const GlitchHold& hold : timeline.holds) {
            moves_.push_back({frameOf(hold.start), +1});
            moves_.push_back({frameOf(hold.end), -1});
        }
        std::stable_sort(moves_.begin(), moves_.end(), [](auto& a, auto& b) { return a.frame < b.frame; });
        if (!moves_.empty() && (record_.GlitchKey.load() & 0xFFFF) == 0)
            record_.set(&settings::Settings::GlitchKey, kRenderGlitchKey);
    }

    // Everything due by frame (the first frame of the next block).
    void playUntil(uint64_t frame)
    {
        for (; nextChange_ < changes_.size() && changes_[nextChange_].frame <= frame; ++nextChange_)
            applyValue(record_, changes_[nextChange_].set->key, changes_[nextChange_].set->value);
        const int before = holds_;
        for (; nextMove_ < moves_.size() && moves_[nextMove_].frame <= frame; ++nextMove_)
            holds_ += moves_[nextMove_].step;
        if ((before > 0) != (holds_ > 0))
            holdKeyCode(keys_, static_cast<uint32_t>(record_.GlitchKey.load()), holds_ > 0);
    }

private:
    static constexpr int32_t kRenderGlitchKey = 0x87; // F24, when no glitch key is set
    struct Change {
        uint64_t frame;
        const TimedSet* set;
    };
    struct Move {
        uint64_t frame;
        int step; // +1 a hold starts, -1 it ends
    };
    static uint64_t frameOf(double seconds) { return static_cast<uint64_t>(std::llround(seconds * kRate)); }

    settings::Settings& record_;
    platform::sim::SimKeys& keys_;
    std::vector<Change> changes_;
    std::vector<Move> moves_;
    size_t nextChange_ = 0, nextMove_ = 0;
    int holds_ = 0; // spans holding the key now
};

bool runEngine(console::SimConsole& sim, std::span<const float> input, std::vector<float>& cable,
    std::vector<float>* monitor, const Progress& progress, std::string& error, bool glitchHeld,
    const Timeline& timeline)
{
    const uint64_t total = input.size() / 2;
    platform::sim::SimAudio& audio = sim.audio;
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
    console::Console& console = sim.console();
    settings::Settings& record = console.settings();
    settings::setDeviceName(record, settings::DeviceKind::Mic, kMicId);
    settings::setDeviceName(record, settings::DeviceKind::Spk, kPhonesId);
    if (monitor)
        record.set(&settings::Settings::monitor, 1);

    console.state().glitchButtonHeld.store(glitchHeld ? 1 : 0);
    TimelinePlayer player(timeline, record, sim.keys);
    engine::Engine& eng = console.engine();
    eng.start();
    engine::requestOpen(console.state());

    // The outputs start with the pre-fill silence their first write queued;
    // the voice begins after it. The monitor may open a little later than the
    // cable, and hears silence until then.
    int64_t cablePrefill = -1, monitorPrefill = -1;
    uint64_t monitorStartsAt = 0;
    uint64_t done = 0, lastWritten = 0;
    int reported = -1;
    while (done < total) {
        player.playUntil(done);
        const engine::StepWait w = sim.step();
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
        sim.advance(w);
    }
    engine::requestStop(console.state());
    while (eng.phase() != engine::EnginePhase::Ended)
        sim.step();

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

bool renderFile(platform::Files& files, const Options& options, engine::BlockSteps* steps, const Progress& progress,
    Summary& summary, std::vector<std::string>& warnings, std::string& error)
{
    console::SimOptions simOptions;
    simOptions.steps = steps;
    console::SimConsole sim(simOptions);
    if (!applySettings(files, options, sim.console().settings(), warnings, error))
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
    if (options.asClip)
        return renderClip(files, options, sim.console().settings(), input, progress, summary, error);
    input.resize(input.size() + 2 * static_cast<size_t>(std::llround(options.tailSeconds * kRate)), 0.0f);
    const double seconds = static_cast<double>(input.size() / 2) / kRate;
    for (const TimedSet& set : options.timeline.sets) {
        if (set.seconds >= seconds)
            warnings.push_back("--at " + set.key + "=" + set.value + " comes after the end of the output; not applied");
    }
    for (const GlitchHold& hold : options.timeline.holds) {
        if (hold.start >= seconds)
            warnings.push_back("--hold-glitch starts after the end of the output; not applied");
    }

    std::vector<float> cable, monitor;
    if (!runEngine(
            sim, input, cable, options.monitor.empty() ? nullptr : &monitor, progress, error, false, options.timeline))
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
