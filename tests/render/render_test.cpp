#include "dsp/gain.h"
#include "dsp/glitch_repeater.h"
#include "dsp/random.h"
#include "engine/block_cycle.h"
#include "engine/block_steps.h"
#include "media/wav_reader.h"
#include "media/wav_writer.h"
#include "platform/sim/memory_files.h"
#include "platform/text.h"
#include "tools/render/render.h"
#include "recorder/fx_apply.h"

#include <algorithm>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <unistd.h>
#include <sys/wait.h>

namespace {

// Settings that leave the voice untouched: every effect off, unity gain.
const std::vector<std::pair<std::string, std::string>> kEverythingOff = {
    {"mic_level", "100"}, {"isolate", "0"}, {"tone_on", "0"}, {"mask_on", "0"}, {"card_mic", "0"},
    {"amount", "0"},      {"eq_on", "0"},   {"ambit", "0"},   {"wide", "0"},    {"pan", "0"},
};

std::vector<float> speechLike(size_t frames, uint32_t rate)
{
    std::vector<float> s(frames * 2);
    dsp::Lcg noise{12345};
    for (size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double env = 0.5 + 0.5 * std::sin(2 * M_PI * 3.0 * t);
        const double v = env * (0.3 * std::sin(2 * M_PI * 140 * t) + 0.1 * std::sin(2 * M_PI * 1100 * t))
            + 0.02 * (noise.uniform() - 0.5);
        s[2 * i] = static_cast<float>(v);
        s[2 * i + 1] = static_cast<float>(0.8 * v);
    }
    return s;
}

struct RenderRun {
    platform::sim::MemoryFiles files;
    render::Options options;
    render::Summary summary;
    std::vector<std::string> warnings;
    std::string error;
    // The pass-through steps: what arrives is what went in, frame for frame.
    engine::BlockSteps passThrough;
    engine::BlockSteps* steps = &passThrough; // null: the program's own chain

    RenderRun()
    {
        options.input = L"C:\\in.wav";
        options.output = L"C:\\out.wav";
        options.floatOutput = true;
        options.tailSeconds = 0.5;
    }
    bool run() { return render::renderFile(files, options, steps, {}, summary, warnings, error); }
    media::WavAudio output(const std::wstring& path = L"C:\\out.wav")
    {
        media::WavAudio a;
        EXPECT_TRUE(media::readWav(files, path, a));
        return a;
    }
};

TEST(RenderTool, TheSameInputAndSetupGiveByteIdenticalFiles)
{
    std::vector<std::vector<uint8_t>> outputs;
    for (int i = 0; i < 2; ++i) {
        RenderRun r;
        r.steps = nullptr;
        ASSERT_TRUE(media::writeWavFloat(r.files, r.options.input, speechLike(24000, 44100), 44100));
        // The default voice chain, with a room, a mask and isolation on top.
        r.options.sets = {{"mic_level", "130"}, {"preset", "3"}, {"amount", "40"}, {"isolate", "1"}, {"pitch_hz", "40"}};
        r.options.monitor = L"C:\\monitor.wav";
        ASSERT_TRUE(r.run()) << r.error;
        outputs.push_back(*r.files.readAll(L"C:\\out.wav"));
        outputs.push_back(*r.files.readAll(L"C:\\monitor.wav"));
    }
    EXPECT_EQ(outputs[0], outputs[2]);
    EXPECT_EQ(outputs[1], outputs[3]);
}

// With nothing in the chain the cable carries the mono voice, (L + R) / 2, on
// both sides, from the first frame of the input, and the tail is silent.
TEST(RenderTool, WithEveryEffectOffTheCableCarriesTheInputSampleForSample)
{
    RenderRun r;
    const std::vector<float> in = speechLike(48000 + 123, 48000);
    ASSERT_TRUE(media::writeWavFloat(r.files, r.options.input, in, 48000));
    r.options.sets = kEverythingOff;
    r.options.monitor = L"C:\\monitor.wav";
    ASSERT_TRUE(r.run()) << r.error;
    const media::WavAudio out = r.output();
    ASSERT_EQ(out.left.size(), in.size() / 2 + 24000);
    EXPECT_EQ(r.summary.outputFrames, out.left.size());
    for (size_t i = 0; i < in.size() / 2; ++i) {
        const float voice = 0.5f * (in[2 * i] + in[2 * i + 1]);
        ASSERT_EQ(out.left[i], voice) << "frame " << i;
        ASSERT_EQ(out.right[i], voice) << "frame " << i;
    }
    for (size_t i = in.size() / 2; i < out.left.size(); ++i)
        ASSERT_EQ(out.left[i], 0.0f) << "tail frame " << i;
    // The headphones hear the same voice, aligned the same way.
    const media::WavAudio heard = r.output(L"C:\\monitor.wav");
    ASSERT_EQ(heard.left.size(), out.left.size());
    EXPECT_EQ(heard.left, out.left);
}

// A timeline change takes effect at the first block at or after its time, as
// a click there would; the glitch key is held over its span and nowhere else.
TEST(RenderTool, TheTimelineChangesASettingAtItsTimeAndHoldsTheGlitchKeyOverItsSpan)
{
    RenderRun r;
    const std::vector<float> in = speechLike(48000, 48000);
    ASSERT_TRUE(media::writeWavFloat(r.files, r.options.input, in, 48000));
    r.options.sets = kEverythingOff;
    r.options.timeline.sets = {{0.5, "mic_level", "200"}, {0.25, "mic_level", "100"}};
    ASSERT_TRUE(r.run()) << r.error;
    const media::WavAudio out = r.output();
    const float gain = engine::levelGain(200);
    for (size_t i = 0; i < in.size() / 2; ++i) {
        const float voice = 0.5f * (in[2 * i] + in[2 * i + 1]);
        ASSERT_EQ(out.left[i], i < 24000 ? voice : voice * gain) << "frame " << i;
    }

    // The program's chain, the glitch style that cuts the voice, held from 0.5 s to 1 s.
    RenderRun g;
    g.steps = nullptr;
    const std::vector<float> tone = speechLike(72000, 48000);
    ASSERT_TRUE(media::writeWavFloat(g.files, g.options.input, tone, 48000));
    g.options.sets = kEverythingOff;
    g.options.sets.insert(g.options.sets.end(), {{"mask_on", "1"}, {"glitch_style", std::to_string(dsp::kGlitchCut)}});
    g.options.timeline.holds = {{0.5, 1.0}};
    ASSERT_TRUE(g.run()) << g.error;
    const media::WavAudio cut = g.output();
    auto loudest = [&](double from, double to) {
        float peak = 0.0f;
        for (size_t i = static_cast<size_t>(from * 48000); i < static_cast<size_t>(to * 48000); ++i)
            peak = std::max(peak, std::fabs(cut.left[i]));
        return peak;
    };
    EXPECT_GT(loudest(0.3, 0.5), 0.05f);
    EXPECT_EQ(loudest(0.52, 1.0), 0.0f);
    EXPECT_GT(loudest(1.2, 1.5), 0.05f);
}

// The program's own chain with every effect off: the cable carries the mono
// voice through the final soft clip, nothing else.
TEST(RenderTool, TheRealChainWithEveryEffectOffPassesTheVoiceThroughTheSoftClip)
{
    RenderRun r;
    r.steps = nullptr;
    const std::vector<float> in = speechLike(48000, 48000);
    ASSERT_TRUE(media::writeWavFloat(r.files, r.options.input, in, 48000));
    r.options.sets = kEverythingOff;
    ASSERT_TRUE(r.run()) << r.error;
    const media::WavAudio out = r.output();
    ASSERT_EQ(out.left.size(), in.size() / 2 + 24000);
    double worst = 0;
    size_t at = 0;
    for (size_t i = 0; i < in.size() / 2; ++i) {
        const float expected = dsp::softClip(0.5f * (in[2 * i] + in[2 * i + 1]));
        const double e = std::max(std::fabs(out.left[i] - expected), std::fabs(out.right[i] - expected));
        if (e > worst) {
            worst = e;
            at = i;
        }
    }
    EXPECT_EQ(worst, 0.0) << "at frame " << at;
}

// A room with some send leaves a tail after the voice stops; without send the
// output ends with the voice.
TEST(RenderTool, ARoomWithSendRingsOnAfterTheVoiceStops)
{
    auto tailLevelsDb = [](const char* amount) {
        RenderRun r;
        r.steps = nullptr;
        const std::vector<float> in = speechLike(24000, 48000);
        EXPECT_TRUE(media::writeWavFloat(r.files, r.options.input, in, 48000));
        r.options.tailSeconds = 1.0;
        r.options.sets = kEverythingOff;
        r.options.sets.insert(r.options.sets.end(), {{"preset", "3"}, {"amount", amount}});
        EXPECT_TRUE(r.run()) << r.error;
        const media::WavAudio out = r.output();
        // RMS of 100 ms windows from the end of the voice on, in dB.
        std::vector<double> levels;
        for (size_t w = 0; w < 8; ++w) {
            double sum = 1e-20;
            for (size_t i = 24000 + w * 4800; i < 24000 + (w + 1) * 4800; ++i)
                sum += out.left[i] * out.left[i] + out.right[i] * out.right[i];
            levels.push_back(10 * std::log10(sum / 9600));
        }
        return levels;
    };
    const std::vector<double> dry = tailLevelsDb("0");
    const std::vector<double> room = tailLevelsDb("50");
    EXPECT_LT(dry[1], -100.0) << "no send: silence after the voice";
    EXPECT_GT(room[1], -45.0) << "the room still rings 100-200 ms after the voice";
    EXPECT_LT(room[7], room[1] - 3.0) << "and decays";
}

TEST(RenderTool, OtherRatesAreConvertedAndSixteenBitOutputIsTheDefault)
{
    RenderRun r;
    std::vector<int16_t> pcm(2 * 22050);
    for (size_t i = 0; i < pcm.size() / 2; ++i)
        pcm[2 * i] = pcm[2 * i + 1] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 440 * i / 22050.0));
    ASSERT_TRUE(media::writeWav(r.files, r.options.input, pcm, 22050));
    r.options.floatOutput = false;
    r.options.tailSeconds = 0;
    r.options.sets = kEverythingOff;
    ASSERT_TRUE(r.run()) << r.error;
    const media::WavAudio out = r.output();
    EXPECT_FALSE(out.isFloat);
    EXPECT_EQ(out.sampleRate, 48000u);
    EXPECT_NEAR(static_cast<double>(out.left.size()), 48000.0, 3.0);
    EXPECT_NEAR(r.summary.cablePeak, 8000.0 / 32768.0, 0.01);
}

TEST(RenderTool, BadInputGivesAMessageAndNoOutput)
{
    struct Case {
        const char* what;
        std::function<void(RenderRun&)> arrange;
        const char* message;
    };
    // A valid input, then what makes the run fail.
    auto withInput = [](std::function<void(RenderRun&)> spoil) {
        return [spoil](RenderRun& r) {
            media::writeWav(r.files, L"C:\\in.wav", std::vector<int16_t>(800), 48000);
            spoil(r);
        };
    };
    const std::vector<Case> cases = {
        {"missing input", [](RenderRun&) {}, "cannot read C:\\in.wav"},
        {"not a WAV", [](RenderRun& r) { r.files.put(L"C:\\in.wav", {'O', 'g', 'g', 'S', 0, 0, 0, 0}); },
         "is not a WAV file"},
        {"three channels",
         [](RenderRun& r) {
             std::vector<uint8_t> b = *[] {
                 platform::sim::MemoryFiles f;
                 media::writeWav(f, L"x", std::vector<int16_t>(8), 48000);
                 return f.readAll(L"x");
             }();
             b[22] = 3;
             r.files.put(L"C:\\in.wav", b);
         },
         "is not a WAV file"},
        {"rate too low",
         [](RenderRun& r) { media::writeWav(r.files, L"C:\\in.wav", std::vector<int16_t>(800), 4000); },
         "4000 Hz"},
        {"no such output folder",
         withInput([](RenderRun& r) { r.options.output = L"C:\\nowhere\\out.wav"; }),
         "folder does not exist"},
        {"unknown --set key",
         withInput([](RenderRun& r) { r.options.sets = {{"reverb_size", "3"}}; }),
         "unknown setup key \"reverb_size\""},
        {"--set value not a number",
         withInput([](RenderRun& r) { r.options.sets = {{"amount", "lots"}}; }),
         "needs a whole number"},
        {"missing setup file",
         withInput([](RenderRun& r) { r.options.setup = L"C:\\Night.ini"; }),
         "cannot read the setup file"},
        {"output cannot be written",
         withInput([](RenderRun& r) { r.files.failMoves(true); }),
         "cannot write C:\\out.wav"},
    };
    for (const Case& c : cases) {
        RenderRun r;
        r.files.createFolders(L"C:\\");
        c.arrange(r);
        EXPECT_FALSE(r.run()) << c.what;
        EXPECT_NE(r.error.find(c.message), std::string::npos) << c.what << ": " << r.error;
        EXPECT_FALSE(r.files.exists(L"C:\\out.wav")) << c.what;
        EXPECT_FALSE(r.files.exists(L"C:\\out.wav.part")) << c.what;
    }
}

TEST(RenderTool, SettingsComeFromTheSetupThenEachSetAndOutOfRangeValuesAreClampedWithAWarning)
{
    platform::sim::MemoryFiles files;
    const std::string setup = "# Vantor Ovix Settings\namount=20\npreset=5\nno_such_key=1\n";
    files.put(L"C:\\Night.ini", std::vector<uint8_t>(setup.begin(), setup.end()));
    render::Options options;
    options.setup = L"C:\\Night.ini";
    options.sets = {{"amount", "35"}, {"mic_level", "99999"}, {"eq_bands", "1,2,3,4,5,6,7"}};
    settings::Settings record;
    std::vector<std::string> warnings;
    std::string error;
    ASSERT_TRUE(render::applySettings(files, options, record, warnings, error)) << error;
    EXPECT_EQ(record.amount.load(), 35);
    EXPECT_EQ(record.preset.load(), 5);
    EXPECT_EQ(record.eq_bands[6].load(), 7);
    EXPECT_LT(record.mic_level.load(), 99999);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("mic_level=99999 is out of range"), std::string::npos);
}

TEST(RenderTool, CommandLine)
{
    auto parse = [](std::vector<std::wstring> args, render::Options& o, std::string& m) {
        return render::parseArguments(args, o, m);
    };
    render::Options o;
    std::string m;
    EXPECT_EQ(parse({L"--set", L"preset=3", L"--tail", L"0.5", L"--float", L"a.wav", L"b.wav"}, o, m),
              render::Command::Render);
    EXPECT_EQ(o.sets.at(0), (std::pair<std::string, std::string>{"preset", "3"}));
    EXPECT_EQ(o.tailSeconds, 0.5);
    EXPECT_TRUE(o.floatOutput);
    EXPECT_EQ(parse({L"--help"}, o, m), render::Command::Help);
    EXPECT_EQ(parse({L"--version"}, o, m), render::Command::Version);
    for (const auto& bad : std::vector<std::vector<std::wstring>>{{L"--loud", L"a.wav", L"b.wav"}, {L"a.wav"},
             {L"a.wav", L"b.wav", L"c.wav"}, {L"--tail", L"-1", L"a", L"b"}, {L"--set", L"novalue", L"a", L"b"},
             {L"a.wav", L"a.wav"}, {L"a.wav", L"b.wav", L"--setup"}, {L"--at", L"-1", L"preset=3", L"a", L"b"},
             {L"--at", L"soon", L"preset=3", L"a", L"b"}, {L"--at", L"1", L"nokey=3", L"a", L"b"},
             {L"--at", L"1", L"preset=x", L"a", L"b"}, {L"--at", L"1", L"a", L"b"},
             {L"--hold-glitch", L"2:1", L"a", L"b"}, {L"--hold-glitch", L"1", L"a", L"b"}}) {
        m.clear();
        EXPECT_EQ(parse(bad, o, m), render::Command::Error) << platform::utf8FromWide(bad[0]);
        EXPECT_FALSE(m.empty());
        EXPECT_EQ(m.find('\n'), std::string::npos) << "one line: " << m;
    }
    render::Options t;
    ASSERT_EQ(parse({L"--at", L"1.5", L"preset=3", L"--hold-glitch", L"0.5:1", L"--at", L"0", L"eq_bands=1,2,3,4,5,6,7",
                        L"a.wav", L"b.wav"},
                  t, m),
        render::Command::Render);
    ASSERT_EQ(t.timeline.sets.size(), 2u);
    EXPECT_EQ(t.timeline.sets[0].seconds, 1.5);
    EXPECT_EQ(t.timeline.sets[0].key + "=" + t.timeline.sets[0].value, "preset=3");
    EXPECT_EQ(t.timeline.sets[1].key, "eq_bands");
    ASSERT_EQ(t.timeline.holds.size(), 1u);
    EXPECT_EQ(t.timeline.holds[0].start, 0.5);
    EXPECT_EQ(t.timeline.holds[0].end, 1.0);
}

// Apply FX in the program and the tool's clip mode run the same render: the
// take the console's renderer makes is the tool's output, sample for sample,
// under a room, a mask, a speed change, the equalizer and the width at once.
TEST(RenderTool, AsClipGivesWhatApplyFxWritesIntoTheTake)
{
    RenderRun r;
    r.steps = nullptr;
    const std::vector<float> speech = speechLike(36000, 48000);
    auto take = std::make_shared<clip::Sound>();
    take->samples.resize(speech.size());
    std::transform(speech.begin(), speech.end(), take->samples.begin(), media::toPcm16);
    ASSERT_TRUE(media::writeWav(r.files, r.options.input, take->samples, 48000));
    r.options.asClip = true;
    r.options.floatOutput = false;
    r.options.sets = {{"preset", "3"}, {"amount", "60"}, {"echo_on", "2"}, {"mask_on", "2"}, {"voice_mask", "0"},
        {"clip_speed", "80"}, {"eq_on", "1"}, {"eq_level", "4"}, {"ambit", "1"}, {"mic_level", "130"}};
    ASSERT_TRUE(r.run()) << r.error;
    const auto bytes = r.files.readAll(r.options.output);
    ASSERT_TRUE(bytes);
    media::WavAudio tool;
    ASSERT_TRUE(media::parseWav(*bytes, tool));

    console::SimConsole sim;
    std::vector<std::string> warnings;
    std::string error;
    ASSERT_TRUE(render::applySettings(r.files, r.options, sim.console().settings(), warnings, error)) << error;
    const recorder::EffectSnapshot snapshot = sim.console().fxSnapshot();
    ASSERT_TRUE(recorder::snapshotChangesSound(snapshot));
    recorder::TakeFxJob job;
    job.input = take;
    recorder::runFxJob(job, snapshot, sim.console().fxRenderer());
    ASSERT_TRUE(job.done.load());
    ASSERT_TRUE(job.result);
    EXPECT_EQ(job.progress.load(), 1000);
    const clip::Sound& applied = *job.result;
    // 80 % speed makes 45000 frames of content, and the room rings on after it.
    ASSERT_GT(applied.frames(), 45000u);
    ASSERT_EQ(tool.left.size(), applied.frames());
    for (uint32_t i = 0; i < applied.frames(); ++i) {
        ASSERT_EQ(media::toPcm16(tool.left[i]), applied.samples[2 * i]) << "frame " << i;
        ASSERT_EQ(media::toPcm16(tool.right[i]), applied.samples[2 * i + 1]) << "frame " << i;
    }
}

// The program itself: exit codes, and no file left behind on a failure.
TEST(RenderTool, TheProgramExitsNonZeroOnBadInputAndZeroOnSuccess)
{
    const auto dir = std::filesystem::temp_directory_path() / ("ovix_render_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string exe = OVIX_RENDER_EXE;
    auto sh = [&](const std::string& args) {
        const std::string command = exe + " --quiet " + args + " 2>" + (dir / "err.txt").string();
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    const std::string in = (dir / "in.wav").string(), out = (dir / "out.wav").string();
    std::ofstream(in) << "not audio";
    EXPECT_EQ(sh(in + " " + out), 1);
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_EQ(sh("--bogus " + in + " " + out), 2);

    platform::sim::StdFiles disk;
    ASSERT_TRUE(media::writeWav(disk, platform::wideFromUtf8(in), std::vector<int16_t>(2 * 4800, 100), 48000));
    EXPECT_EQ(sh("--tail 0 " + in + " " + out), 0);
    EXPECT_TRUE(std::filesystem::exists(out));
    EXPECT_FALSE(std::filesystem::exists(out + ".part"));
    std::filesystem::remove_all(dir);
}

} // namespace
