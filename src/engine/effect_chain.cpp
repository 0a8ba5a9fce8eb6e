#include "engine/effect_chain.h"

#include "dsp/mask_table.h"
#include "engine/reverb_environments.h"
#include "platform/sample_rate.h"

#include <algorithm>
#include <cmath>

namespace engine {

namespace {
constexpr int kRoomCount = 15;
} // namespace

EffectChain::EffectChain(EnvironmentFactory& environments, const settings::Settings& settings)
    : environments_(environments), settings_(settings), environment_(environments), rooms_(environments)
{
    buses_.setMasks(clipMask_, appMask_);
}

EffectChain::~EffectChain() = default;

bool EffectChain::loadImpulseResponse()
{
    return environment_.loadImpulseResponse();
}

void EffectChain::prepare(double sampleRate, uint32_t maxFrames, int preset)
{
    sampleRate = sampleRate > 0.0 ? sampleRate : platform::kSampleRate;
    capacity_ = std::max<uint32_t>(maxFrames, 480);
    preset = std::clamp(preset, 0, kRoomCount - 1);
    wantedPreset_ = preset;

    cleanup_.prepare(sampleRate, capacity_);
    voiceStage_.prepare(sampleRate, capacity_);
    masks_.prepare(sampleRate, capacity_);
    glitchStage_.prepare(sampleRate, capacity_);
    clipStageMask_.prepare(capacity_);
    appStageMask_.prepare(capacity_);
    output_.prepare(sampleRate, capacity_);
    environment_.prepare(sampleRate, capacity_, preset);
    buses_.prepare(sampleRate, capacity_, environments_, preset);
    // Thread start, before the first block: waiting out a transaction is fine here.
    reloadEq(settings_.snapshot());
    rooms_.configure(sampleRate, environment_.cavernOnConvolution());
}

void EffectChain::changeEnvironment(int preset) noexcept
{
    preset = std::clamp(preset, 0, kRoomCount - 1);
    if (preset == wantedPreset_)
        return;
    wantedPreset_ = preset;
    if (preset != environment_.preset())
        rooms_.request(preset);
    adoptRooms();
}

void EffectChain::adoptRooms() noexcept
{
    // A set carries back what the swap displaces: room for it in the reaper first.
    if (rooms_.reaper().freeSlots() == 0)
        return;
    std::unique_ptr<RoomSet> set = rooms_.take();
    if (set && set->preset == wantedPreset_ && set->preset != environment_.preset()) {
        environment_.adopt(*set);
        buses_.adopt(*set);
    }
    rooms_.reaper().retire(set);
}

void EffectChain::reloadEq(const settings::Snapshot& settings) noexcept
{
    output_.setBands(settings.eq_bands, settings.eq_level);
    buses_.setBands(settings.eq_bands, settings.eq_level);
}

void EffectChain::setBassBoost(float micGain) noexcept
{
    const double db = micGain > 1.0f ? 0.5 * 20.0 * std::log10(static_cast<double>(micGain)) : 0.0;
    output_.setBassBoost(db);
    buses_.setBassBoost(db);
}

void EffectChain::isolation(Block& block) noexcept
{
    cleanup_.isolation(block);
}

void EffectChain::micTone(Block& block) noexcept
{
    cleanup_.micTone(block);
}

void EffectChain::voiceSpeed(Block& block, int speedPercent, bool keepPitch) noexcept
{
    voiceStage_.voiceSpeed(block, speedPercent, keepPitch);
}

void EffectChain::voiceChangerAndMask(Block& block) noexcept
{
    voiceStage_.voiceChanger(block, dsp::maskVoiceValues(block.settings->voice_mask));
    masks_.voiceMask(block);
    voiceMaskRan_ = true;
}

void EffectChain::glitch(Block& block, bool active) noexcept
{
    // The changer step runs only while bit 0 of mask_on is set, but the mask
    // must see every block to fade itself out: here, at the same place.
    if (!voiceMaskRan_)
        masks_.voiceMask(block);
    voiceMaskRan_ = false;
    glitchStage_.glitch(block, active);
}

void EffectChain::cardMicVoicing(Block& block) noexcept
{
    cleanup_.cardMicVoicing(block);
}

template <class Step> void EffectChain::inChunks(Block& block, Step step) noexcept
{
    if (capacity_ == 0 || block.settings == nullptr)
        return;
    if (block.frames <= capacity_) {
        step(block);
        return;
    }
    for (uint32_t offset = 0; offset < block.frames; offset += capacity_) {
        Block part = block;
        part.frames = std::min(capacity_, block.frames - offset);
        part.voice += offset;
        part.wetCable += offset;
        part.wetMonitor += offset;
        part.cable += size_t{offset} * 2;
        part.monitor += size_t{offset} * 2;
        step(part);
    }
}

void EffectChain::driveAndBass(Block& block) noexcept
{
    if (block.settings != nullptr)
        output_.driveAndBass(block);
}

void EffectChain::environment(Block& block) noexcept
{
    adoptRooms();
    inChunks(block, [this](Block& b) { environment_.process(b, rooms_.reaper()); });
}

void EffectChain::voiceOutput(Block& block) noexcept
{
    inChunks(block, [this](Block& b) {
        const float target = environment_.dryGainTarget(b);
        const bool wide = b.settings->wide != 0;
        output_.process(b, target, wide ? environment_.monitorLeft() : environment_.cableLeft(),
            wide ? environment_.monitorRight() : environment_.cableRight(), environment_.cableLeft(),
            environment_.cableRight());
    });
}

void EffectChain::voicePan(Block& block) noexcept
{
    if (block.settings != nullptr)
        output_.pan(block);
}

void EffectChain::mixBuses(Block& block) noexcept
{
    const BusEnvironmentState environment{environment_.preset(), environment_.convolutionActive()};
    inChunks(block, [this, &environment](Block& b) { buses_.mix(b, environment); });
}

void EffectChain::mixPreviews(Block& block) noexcept
{
    inChunks(block, [this](Block& b) { buses_.mixPreviews(b); });
}

void EffectChain::report(EngineReport& report) const noexcept
{
    report.speedLatencyMs = voiceStage_.speedLatencyMs();
    report.detectedPitchHz = voiceStage_.detectedPitchHz();
    report.targetPitchHz = voiceStage_.targetPitchHz();
    report.glitching = glitchStage_.glitching();
    report.clipLive = clipLive();
    report.appLive = appLive();
}

} // namespace engine
