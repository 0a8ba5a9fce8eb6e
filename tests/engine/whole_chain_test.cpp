// The whole voice chain in the running engine: every effect on, a minute of
// speech, and the settings changed at random every 100 ms, the room among
// them and the fields that open and close the monitor output, with the glitch
// key pressed and released. Nothing may go non-finite, no sample may reach ±1
// on either output, the cable never runs dry while the monitor is re-opened,
// and the engine thread may neither allocate nor free after the warm-up: new
// rooms are built, and the old ones freed, by the room builder, which the
// test steps between slices of the engine's time with the counting paused,
// as its own thread would run; outputs are opened and closed on the engine's
// device thread.

#include "engine_rig.h"

#include "../dsp/voice_signals.h"
#include "dsp/random.h"
#include "engine/effect_chain.h"
#include "engine/reverb_environments.h"
#include "platform/sim/sim_keys.h"
#include "settings/fields.h"
#include "support/alloc_counter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string_view>
#include <vector>

namespace {

using test::kCable;
using test::kMic;
using test::kPhones;

constexpr int kSeconds = 60;
constexpr uint16_t kF5 = 116;

// The console's engine and chain on the rig's endpoints, speech on the microphone.
struct ChainRig : test::EngineRig {
    engine::EffectChain& chain = console.chain();

    explicit ChainRig(std::vector<float> speech) : test::EngineRig(console::SimOptions{})
    {
        audio.setCaptureSource(kMic, [voice = std::move(speech)](uint64_t first, float* out, uint32_t frames) {
            for (uint32_t i = 0; i < frames; ++i)
                out[2 * i] = out[2 * i + 1] = voice[(first + i) % voice.size()];
        });
        const size_t room = static_cast<size_t>(kSeconds + 10) * 48000;
        audio.recordRender(kCable, true, room);
        audio.recordRender(kPhones, true, room);
        chain.setRoomBuilding(engine::RoomBuilder::Mode::Stepped);
    }

    // The engine for micros, the room builder's turn every 10 ms.
    void run(int64_t micros)
    {
        for (int64_t done = 0; done < micros; done += kBuilderSlice) {
            test::EngineRig::run(std::min(kBuilderSlice, micros - done));
            test::AllocationCounter::Pause builderThread;
            chain.rooms().step();
        }
    }
    static constexpr int64_t kBuilderSlice = 10000;
};

// The one field the random changes leave alone: the glitch key, which the
// test presses.
bool randomised(const settings::FieldInfo& field)
{
    return field.registryName != L"GlitchKey";
}

void everyEffectOn(settings::Settings& st)
{
    for (const auto& [key, value] : std::initializer_list<std::pair<std::string_view, int>>{{"isolate", 1},
             {"iso_mode", 2}, {"tone_on", 1}, {"tone_lo", 60}, {"tone_hi", 80}, {"mask_on", 7}, {"voice_speed", 150},
             {"voice_keep_pitch", 1}, {"pitch_hz", 60}, {"voice_size", 120}, {"voice_mask", 41}, {"preset", 8},
             {"amount", 60}, {"effects", 1}, {"wide", 1}, {"eq_on", 1}, {"eq_preset", 3}, {"ambit", 1}, {"monitor", 1},
             {"card_mic", 1}, {"mic_level", 300}}) {
        st.set(*settings::findField(key), value);
    }
}

TEST(WholeChain, EveryEffectOnWithRandomChangesAndRoomsStaysFiniteBelowFullScaleAndNeitherAllocatesNorFrees)
{
    std::vector<float> speech = voicetest::speechOrSyllables(
        "Every voice in the room rises and falls with the music while the band plays on and on", 6.0);
    float loudest = 0.0f;
    for (float v : speech)
        loudest = std::max(loudest, std::fabs(v));
    for (float& v : speech)
        v *= 0.8f / loudest;

    ChainRig rig(std::move(speech));
    everyEffectOn(rig.settings);
    rig.settings.set(&settings::Settings::GlitchKey, kF5);
    engine::requestOpen(rig.state);
    rig.run(1000);
    ASSERT_EQ(rig.engine->phase(), engine::EnginePhase::Running);
    rig.run(3000000); // warm-up: every stage has run, every scratch has grown

    const auto fields = settings::recordFields();
    dsp::Lcg random{2024};
    // The generator's low bits run in short cycles: choices come from its top bits.
    const auto pick = [&random](uint32_t n) { return (random.next() >> 8) % n; };
    const settings::FieldInfo& preset = *settings::findField("preset");
    const auto cableBefore = rig.audio.stats(kCable);
    const int monitorStartsBefore = rig.audio.stats(kPhones).starts;
    size_t allocations = 0, frees = 0;
    int glitched = 0, wideEchoed = 0, roomChanges = 0;
    {
        test::AllocationCounter counter;
        for (int step = 0; step < kSeconds * 10; ++step) {
            for (int k = 0; k < 3; ++k) {
                const settings::FieldInfo& field = fields[pick(static_cast<uint32_t>(fields.size()))];
                if (!randomised(field))
                    continue;
                const auto span = static_cast<uint32_t>(field.maximum - field.minimum + 1);
                rig.settings.set(field, field.minimum + static_cast<int32_t>(pick(span)));
            }
            // A user clicking through the rooms, besides the field picks above.
            if (pick(3) == 0)
                rig.settings.set(preset, static_cast<int32_t>(pick(15)));
            if (pick(4) == 0)
                (pick(2) ? rig.keys.press(kF5) : rig.keys.release(kF5));
            if (pick(8) == 0)
                rig.state.glitchButtonHeld.store(rig.state.glitchButtonHeld.load() ? 0 : 1);
            const int roomBefore = rig.chain.presetInUse();
            rig.run(100000);
            roomChanges += rig.chain.presetInUse() != roomBefore ? 1 : 0;
            glitched += rig.chain.glitchStage().glitching() ? 1 : 0;
            wideEchoed += rig.chain.wideEcho().running() ? 1 : 0;
        }
        allocations = counter.count();
        frees = counter.frees();
    }
    EXPECT_EQ(allocations, 0u);
    EXPECT_EQ(frees, 0u);
    EXPECT_GT(roomChanges, kSeconds); // the rooms did change, and were swapped in
    // The glitch repeater and the wide echo were among the effects that ran.
    EXPECT_GT(glitched, kSeconds);
    EXPECT_GT(wideEchoed, kSeconds);
    ASSERT_EQ(rig.engine->phase(), engine::EnginePhase::Running);
    // The monitor was closed and opened again many times; the cable kept
    // every block meanwhile.
    EXPECT_GT(rig.audio.stats(kPhones).starts - monitorStartsBefore, 4);
    const auto cable = rig.audio.stats(kCable);
    EXPECT_EQ(cable.starts, cableBefore.starts);
    EXPECT_EQ(cable.underruns, cableBefore.underruns);
    EXPECT_GE(cable.framesWritten - cableBefore.framesWritten, 48000u * (kSeconds - 1));

    for (const auto& id : {kCable, kPhones}) {
        const std::vector<float> out = rig.audio.rendered(id);
        ASSERT_GT(out.size(), static_cast<size_t>(2 * 48000 * (id == kCable ? kSeconds : kSeconds / 10)));
        float peak = 0.0f;
        for (float v : out) {
            ASSERT_TRUE(std::isfinite(v));
            peak = std::max(peak, std::fabs(v));
        }
        EXPECT_LT(peak, 1.0f);
        EXPECT_GT(peak, 0.01f); // the voice got through
    }
}

} // namespace
