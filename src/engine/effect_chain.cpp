#include "engine/effect_chain.h"

#include "dsp/mask_table.h"
#include "engine/reverb_environments.h"

#include <algorithm>
#include <cmath>

namespace engine {

namespace {

constexpr int kRoomCount = 15;
// The engine's factor on the send that drives the cavern room's explicit taps.
constexpr double kCavernTapSendFactor = 1.0;
constexpr uint32_t kClipPullFrames = 1024;
constexpr float kAppInputLimit = 4.0f;

void zero(std::vector<float>& v, uint32_t n)
{
    std::fill_n(v.begin(), n, 0.0f);
}

bool bit(int32_t value, int b)
{
    return ((value >> b) & 1) != 0;
}

} // namespace

EffectChain::EffectChain(EnvironmentFactory& environments, const settings::Settings& settings, EngineState& state)
    : environments_(environments), settings_(settings), state_(state), voiceStage_(state)
{ }

EffectChain::~EffectChain() = default;

bool EffectChain::loadImpulseResponse()
{
    irLoaded_ = environments_.loadImpulseResponse();
    return irLoaded_;
}

std::unique_ptr<ReverbInstance> EffectChain::makeRoom(int preset) noexcept
{
    try {
        return environments_.makeRoom(sampleRate_, preset);
    } catch (...) {
        return nullptr; // out of memory: that bus stays dry rather than the engine ending
    }
}

bool EffectChain::convolutionActive(int preset) const noexcept
{
    return irLoaded_ && convolution_ && preset == kCavernPreset;
}

void EffectChain::prepare(double sampleRate, uint32_t maxFrames, int preset)
{
    sampleRate_ = sampleRate > 0.0 ? sampleRate : platform::kSampleRate;
    capacity_ = std::max<uint32_t>(maxFrames, 480);
    preset_ = std::clamp(preset, 0, kRoomCount - 1);

    cleanup_.prepare(sampleRate_, capacity_);
    voiceStage_.prepare(sampleRate_, capacity_);
    masks_.prepare(sampleRate_, capacity_);
    glitchStage_.prepare(sampleRate_, capacity_);
    wideRoom_.prepare(sampleRate_, capacity_);
    clipStageMask_.prepare(capacity_);
    appStageMask_.prepare(capacity_);
    for (dsp::BassBoost* b : {&voiceBass_, &clipBass_, &appBass_})
        b->prepare(sampleRate_);
    sendHighPass_.setCoeffs(dsp::designReverbSendHighPass(sampleRate_));
    sendHighPass_.reset();
    sendCompressor_.prepare(sampleRate_);
    for (dsp::Equalizer* eq : {&eqVoiceMonitor_, &eqVoiceCable_, &eqClipsMonitor_, &eqClipsCable_})
        eq->prepare(sampleRate_);
    reloadEq();
    stretcher_.prepare(sampleRate_);

    convolution_ = irLoaded_ ? environments_.makeConvolution(sampleRate_) : nullptr;
    room_ = convolutionActive(preset_) ? nullptr : environments_.makeRoom(sampleRate_, preset_);
    voiceCavern_ = environments_.makeCavern(sampleRate_);
    bus0_.setRoom(environments_.makeRoom(sampleRate_, preset_));
    bus1_.setRoom(environments_.makeRoom(sampleRate_, preset_));
    bus0_.setCavern(environments_.makeCavern(sampleRate_));
    bus1_.setCavern(environments_.makeCavern(sampleRate_));
    bus0_.prepare(sampleRate_, capacity_);
    bus1_.prepare(sampleRate_, capacity_);
    oldRoom_.reset();
    oldIsConvolution_ = false;

    for (auto* v : {&send_, &highPassed_, &compressorGain_, &silence_, &wetMonL_, &wetMonR_, &wetCabL_, &wetCabR_,
             &tailL_, &tailR_, &clipL_, &clipR_, &appL_, &appR_, &previewAL_, &previewAR_, &previewHL_, &previewHR_,
             &outMonL_, &outMonR_, &outCabL_, &outCabR_})
        v->assign(capacity_, 0.0f);
    pullL_.assign(kClipPullFrames, 0.0f);
    pullR_.assign(kClipPullFrames, 0.0f);
}

void EffectChain::changeEnvironment(int preset) noexcept
{
    preset = std::clamp(preset, 0, kRoomCount - 1);
    if (preset == preset_)
        return;
    // The old environment rings out while the new one starts.
    const bool wasConvolution = convolutionActive(preset_);
    oldFromCavern_ = preset_ == kCavernPreset && !wasConvolution;
    if (wasConvolution) {
        oldRoom_.reset();
        oldIsConvolution_ = true;
        oldTail_ = tailFrames(convolution_->decaySeconds());
    } else {
        oldRoom_ = std::move(room_);
        oldIsConvolution_ = false;
        oldTail_ = oldRoom_ ? tailFrames(oldRoom_->decaySeconds()) : 0;
    }
    preset_ = preset;
    room_ = convolutionActive(preset_) ? nullptr : makeRoom(preset_);
    bus0_.setRoom(makeRoom(preset_));
    bus1_.setRoom(makeRoom(preset_));
}

void EffectChain::reloadEq() noexcept
{
    dsp::EqGains gains{};
    for (int b = 0; b < dsp::kEqBands; ++b)
        gains[static_cast<size_t>(b)] = settings_.eq_bands[static_cast<size_t>(b)].load(std::memory_order_relaxed);
    const int level = settings_.eq_level.load(std::memory_order_relaxed);
    for (dsp::Equalizer* eq : {&eqVoiceMonitor_, &eqVoiceCable_, &eqClipsMonitor_, &eqClipsCable_})
        eq->setBandsAndLevel(gains, level);
}

void EffectChain::setBassBoost(float micGain) noexcept
{
    const double db = micGain > 1.0f ? 0.5 * 20.0 * std::log10(static_cast<double>(micGain)) : 0.0;
    for (dsp::BassBoost* b : {&voiceBass_, &clipBass_, &appBass_})
        b->setBoost(db);
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
    voiceStage_.voiceChanger(block, dsp::maskVoiceValues(block.settings->voice_mask.load(std::memory_order_relaxed)));
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

void StageBusMask::reset() noexcept
{
    stage_.processor(stream_).reset();
}

void StageBusMask::process(
    float* left, float* right, uint32_t n, bool, bool glitchHeld, const settings::Settings& settings) noexcept
{
    n = std::min<uint32_t>(n, static_cast<uint32_t>(frames_.size() / 2));
    for (uint32_t i = 0; i < n; ++i) {
        frames_[2 * i] = left[i];
        frames_[2 * i + 1] = right[i];
    }
    stage_.streamMask(stream_, frames_.data(), n, settings, glitchHeld);
    for (uint32_t i = 0; i < n; ++i) {
        left[i] = frames_[2 * i];
        right[i] = frames_[2 * i + 1];
    }
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
    if (block.settings == nullptr)
        return;
    drive_.update(block.settings->mic_level.load(std::memory_order_relaxed));
    for (uint32_t i = 0; i < block.frames; ++i) {
        float v = block.voice[i] * drive_.makeUp;
        float unused = 0.0f;
        voiceBass_.process(v, unused);
        block.voice[i] = v;
    }
}

void EffectChain::environment(Block& block) noexcept
{
    inChunks(block, [this](Block& b) { environmentChunk(b); });
}

void EffectChain::environmentChunk(Block& block) noexcept
{
    const settings::Settings& st = *block.settings;
    const uint32_t n = block.frames;
    const int32_t amount = st.amount.load(std::memory_order_relaxed);
    const bool convolution = convolutionActive(preset_);
    if (convolution && !convolutionWasActive_) {
        convolution_->clear();
        oldIsConvolution_ = false; // back to the response before its tail ended: it simply goes on
    }
    convolutionWasActive_ = convolution;
    const bool cavern = preset_ == kCavernPreset && !convolution;
    const bool cavernRow = preset_ == kCavernPreset;
    const float s = sendLevel(st, 0, convolution);

    for (uint32_t i = 0; i < n; ++i) {
        const float hp = sendHighPass_.process(block.voice[i]);
        highPassed_[i] = hp;
        compressorGain_[i] = cavernRow ? sendCompressor_.process(hp) : 1.0f;
        send_[i] = hp * compressorGain_[i] * s;
    }
    ReverbInstance* current = convolution ? convolution_.get() : room_.get();
    if (current) {
        if (cavernRow)
            current->setTapGains(s * kCavernTapSendFactor, tapCompensation(amount));
        current->process(send_.data(), nullptr, wetMonL_.data(), wetMonR_.data(), n);
    } else {
        zero(wetMonL_, n);
        zero(wetMonR_, n);
    }
    if (cavern) {
        zero(wetCabL_, n);
        zero(wetCabR_, n);
        if (voiceCavern_) {
            voiceCavern_->addVoice(highPassed_.data(), compressorGain_.data(), s, amount, wetMonL_.data(),
                wetMonR_.data(), wetCabL_.data(), wetCabR_.data(), n);
        }
    } else {
        std::copy_n(wetMonL_.begin(), n, wetCabL_.begin());
        std::copy_n(wetMonR_.begin(), n, wetCabR_.begin());
    }
    // The wide echo goes into the headphone wet only after the cable has
    // taken its copy: it also rings out after the room has changed away.
    WideEchoFeed feed;
    feed.highPassed = highPassed_.data();
    feed.compressorGain = compressorGain_.data();
    feed.send = s;
    feed.tapSend = static_cast<float>(s * kCavernTapSendFactor);
    feed.tapCompensation = static_cast<float>(tapCompensation(amount));
    if (wideEcho_) {
        wideEcho_->process(feed, wetMonL_.data(), wetMonR_.data(), n, cavern, st);
    } else {
        wideRoom_.process(
            feed, wetMonL_.data(), wetMonR_.data(), n, cavern, st.wide.load(std::memory_order_relaxed) != 0);
    }

    ReverbInstance* old = oldIsConvolution_ ? convolution_.get() : oldRoom_.get();
    if (old) {
        if (oldFromCavern_ && voiceCavern_ && !cavern) {
            // The cavern's own stages ring out with its room, in the headphones only.
            zero(tailL_, n);
            zero(tailR_, n);
            voiceCavern_->addVoice(silence_.data(), silence_.data(), 0.0f, amount, wetMonL_.data(), wetMonR_.data(),
                tailL_.data(), tailR_.data(), n);
        }
        old->process(silence_.data(), nullptr, tailL_.data(), tailR_.data(), n);
        for (uint32_t i = 0; i < n; ++i) {
            wetMonL_[i] += tailL_[i];
            wetMonR_[i] += tailR_[i];
        }
        if (!oldFromCavern_) {
            for (uint32_t i = 0; i < n; ++i) {
                wetCabL_[i] += tailL_[i];
                wetCabR_[i] += tailR_[i];
            }
        }
        oldTail_ -= n;
        if (oldTail_ <= 0) {
            oldRoom_.reset();
            oldIsConvolution_ = false;
        }
    }
    for (uint32_t i = 0; i < n; ++i) {
        block.wetMonitor[i] = 0.5f * (wetMonL_[i] + wetMonR_[i]);
        block.wetCable[i] = 0.5f * (wetCabL_[i] + wetCabR_[i]);
    }
}

void EffectChain::voiceOutput(Block& block) noexcept
{
    inChunks(block, [this](Block& b) { voiceOutputChunk(b); });
}

void EffectChain::voiceOutputChunk(Block& block) noexcept
{
    const settings::Settings& st = *block.settings;
    const uint32_t n = block.frames;
    const int32_t amount = st.amount.load(std::memory_order_relaxed);
    float target = 1.0f;
    if (voiceCavern_ && st.effects.load(std::memory_order_relaxed) && preset_ == kCavernPreset
        && bit(st.echo_on.load(std::memory_order_relaxed), 0) && amount > 10) {
        target = static_cast<float>(std::pow(10.0, -voiceCavern_->duckDb(block.voice, n, amount) / 20.0));
    }
    const float d = drive_.drive;
    const bool wide = st.wide.load(std::memory_order_relaxed) != 0;
    const bool eq = st.eq_on.load(std::memory_order_relaxed) != 0;
    const bool ambit = st.ambit.load(std::memory_order_relaxed) != 0;
    const float* monWetL = wide ? wetMonL_.data() : wetCabL_.data();
    const float* monWetR = wide ? wetMonR_.data() : wetCabR_.data();

    for (uint32_t i = 0; i < n; ++i) {
        voiceDryGain_ += kDryGainGlide * (target - voiceDryGain_);
        const float dry = voiceDryGain_ * block.voice[i];
        float ml = dry + monWetL[i];
        float mr = dry + monWetR[i];
        float cl = dry + wetCabL_[i];
        float cr = dry + wetCabR_[i];
        if (d > 0.0f) {
            ml = dsp::driveClip(ml, d);
            mr = dsp::driveClip(mr, d);
            cl = dsp::driveClip(cl, d);
            cr = dsp::driveClip(cr, d);
        }
        outMonL_[i] = ml;
        outMonR_[i] = mr;
        outCabL_[i] = cl;
        outCabR_[i] = cr;
    }
    // The equalizers over the whole run, which lets their bands work side by side.
    if (eq) {
        eqVoiceMonitor_.process(outMonL_.data(), outMonR_.data(), static_cast<int>(n));
        eqVoiceCable_.process(outCabL_.data(), outCabR_.data(), static_cast<int>(n));
    }
    for (uint32_t i = 0; i < n; ++i) {
        float ml = outMonL_[i];
        float mr = outMonR_[i];
        float cl = outCabL_[i];
        float cr = outCabR_[i];
        if (ambit) {
            eqVoiceMonitor_.processAmbit(ml, mr);
            eqVoiceCable_.processAmbit(cl, cr);
        }
        block.monitor[2 * i] = dsp::softClip(ml);
        block.monitor[2 * i + 1] = dsp::softClip(mr);
        block.cable[2 * i] = dsp::softClip(cl);
        block.cable[2 * i + 1] = dsp::softClip(cr);
    }
}

void EffectChain::voicePan(Block& block) noexcept
{
    if (block.settings == nullptr)
        return;
    const settings::Settings& st = *block.settings;
    const int32_t pan = st.pan.load(std::memory_order_relaxed);
    if (pan == 0)
        return;
    const Balance b = balance(pan);
    auto apply = [&](float* out) {
        for (uint32_t i = 0; i < block.frames; ++i) {
            out[2 * i] *= b.left;
            out[2 * i + 1] *= b.right;
        }
    };
    if (st.pan_cable.load(std::memory_order_relaxed))
        apply(block.cable);
    if (st.pan_mon.load(std::memory_order_relaxed))
        apply(block.monitor);
}

void EffectChain::mixBuses(Block& block) noexcept
{
    inChunks(block, [this](Block& b) { mixBusesChunk(b); });
}

void EffectChain::fillClip(const settings::Settings& st, uint32_t n) noexcept
{
    zero(clipL_, n);
    zero(clipR_, n);
    ClipSource* clip = sources_.clip;
    if (clip && clip->active() && !clip->paused()) {
        const uint32_t generation = clip->clipGeneration();
        if (!clipGenerationSeen_ || generation != clipGeneration_) {
            clipGeneration_ = generation;
            clipGenerationSeen_ = true;
            stretcherEngaged_ = false; // a new clip starts straight, and the stretcher clean
        }
        const int64_t clipSpeed = st.clip_speed.load(std::memory_order_relaxed);
        int64_t speed = clipSpeed;
        if (st.clip_follow_voice.load(std::memory_order_relaxed) && bit(st.mask_on.load(std::memory_order_relaxed), 0))
            speed = clipSpeed * st.voice_speed.load(std::memory_order_relaxed) / 100;
        speed = std::clamp<int64_t>(speed, 25, 400);
        if (speed == 100 && !stretcherEngaged_) {
            clip->read(clipL_.data(), clipR_.data(), n);
        } else {
            if (!stretcherEngaged_) {
                stretcher_.reset();
                stretcherEngaged_ = true;
            }
            stretcher_.setSpeed(
                static_cast<double>(speed) / 100.0, st.clip_keep_pitch.load(std::memory_order_relaxed) != 0);
            // Fed in pulls of at most 1024 frames; a short read (underrun) is
            // padded with silence so the clip's timeline keeps moving.
            for (uint32_t need = stretcher_.inputNeeded(n); need > 0; need = stretcher_.inputNeeded(n)) {
                const uint32_t pull = std::min(need, kClipPullFrames);
                const uint32_t got = std::min(clip->read(pullL_.data(), pullR_.data(), pull), pull);
                std::fill(pullL_.begin() + got, pullL_.begin() + pull, 0.0f);
                std::fill(pullR_.begin() + got, pullR_.begin() + pull, 0.0f);
                stretcher_.write(pullL_.data(), pullR_.data(), pull);
            }
            stretcher_.process(clipL_.data(), clipR_.data(), n);
        }
    }
    if (sources_.pads && sources_.pads->playing())
        sources_.pads->mixInto(clipL_.data(), clipR_.data(), n);
}

void EffectChain::fillApp(uint32_t n) noexcept
{
    zero(appL_, n);
    zero(appR_, n);
    if (!sources_.app || !sources_.app->running())
        return;
    const uint32_t got = std::min(sources_.app->read(appL_.data(), appR_.data(), n), n);
    for (uint32_t i = 0; i < got; ++i) {
        if (!(appL_[i] > -kAppInputLimit && appL_[i] < kAppInputLimit))
            appL_[i] = 0.0f;
        if (!(appR_[i] > -kAppInputLimit && appR_[i] < kAppInputLimit))
            appR_[i] = 0.0f;
    }
}

void EffectChain::mixBusesChunk(Block& block) noexcept
{
    const settings::Settings& st = *block.settings;
    const uint32_t n = block.frames;
    const bool monitor = st.monitor.load(std::memory_order_relaxed) != 0;

    clipActive_ = (sources_.clip && sources_.clip->active()) || (sources_.pads && sources_.pads->playing());
    appActive_ = sources_.app && sources_.app->running();
    const int64_t tail = tailFrames(bus0_.decaySeconds());
    clipTail_ = clipActive_ ? tail : std::max<int64_t>(0, clipTail_ - n);
    appTail_ = appActive_ ? tail : std::max<int64_t>(0, appTail_ - n);
    const bool clipLive = clipActive_ || clipTail_ >= 1;
    const bool appLive = appActive_ || appTail_ >= 1;

    if (!clipLive && !appLive) {
        // Idle buses cost nothing but the decay of their environments.
        bus0_.idle(n);
        bus1_.idle(n);
        bus1Tail_ = std::max<int64_t>(0, bus1Tail_ - n);
        bus1Running_ = false;
        busesWereLive_ = false;
        if (!monitor)
            std::fill_n(block.monitor, size_t{n} * 2, 0.0f);
        return;
    }
    if (!busesWereLive_) {
        busesWereLive_ = true;
        if (clipMask_)
            clipMask_->reset();
        if (appMask_)
            appMask_->reset();
    }

    fillClip(st, n);
    fillApp(n);
    const float clipGain = levelGain(st.clip_level.load(std::memory_order_relaxed));
    const float appGain = levelGain(st.app_gain.load(std::memory_order_relaxed));
    const bool clipShelf = clipBass_.boost() != 0.0;
    const bool appShelf = appBass_.boost() != 0.0;
    for (uint32_t i = 0; i < n; ++i) {
        clipL_[i] *= clipGain;
        clipR_[i] *= clipGain;
        appL_[i] *= appGain;
        appR_[i] *= appGain;
        if (clipShelf)
            clipBass_.process(clipL_[i], clipR_[i]);
        if (appShelf)
            appBass_.process(appL_[i], appR_[i]);
    }
    const int32_t maskOn = st.mask_on.load(std::memory_order_relaxed);
    const bool glitchHeld = state_.glitchButtonHeld.load(std::memory_order_relaxed) != 0
        || state_.glitchKeyHeld.load(std::memory_order_relaxed) != 0;
    if (clipMask_)
        clipMask_->process(clipL_.data(), clipR_.data(), n, bit(maskOn, 1), glitchHeld, st);
    if (appMask_)
        appMask_->process(appL_.data(), appR_.data(), n, bit(maskOn, 2), glitchHeld, st);

    // The two environments.
    const bool convolution = convolutionActive(preset_);
    const int32_t amount = st.amount.load(std::memory_order_relaxed);
    const int32_t echoOn = st.echo_on.load(std::memory_order_relaxed);
    RouteInputs in;
    in.clipMic = st.clip_mic.load(std::memory_order_relaxed) != 0;
    in.clipHear = st.clip_hear.load(std::memory_order_relaxed) != 0;
    in.appHear = st.app_hear.load(std::memory_order_relaxed) != 0;
    in.appOnly = st.app_only.load(std::memory_order_relaxed) != 0;
    in.monitor = monitor;
    in.parkRequested = sources_.app && sources_.app->parkRequested();
    in.clipLive = clipLive;
    in.appLive = appLive;
    in.cavern = preset_ == kCavernPreset && !convolution;
    in.wide = st.wide.load(std::memory_order_relaxed) != 0;
    const bool bus1Wanted = route(in).bus1Wanted;
    bus1Tail_ = bus1Wanted ? tail : std::max<int64_t>(0, bus1Tail_ - n);
    bus1Running_ = bus1Wanted || bus1Tail_ >= 1;
    in.bus1Running = bus1Running_;
    const Route r = route(in);

    BusFeed feed;
    feed.clipL = clipL_.data();
    feed.clipR = clipR_.data();
    feed.clipSend = sendLevel(st, 1, convolution);
    feed.appL = appL_.data();
    feed.appR = appR_.data();
    feed.cavern = in.cavern;
    feed.duck = st.effects.load(std::memory_order_relaxed) && preset_ == kCavernPreset && amount > 10
        && (bit(echoOn, 1) || bit(echoOn, 2));
    feed.tapGains = preset_ == kCavernPreset;
    feed.amount = amount;
    const float appSend = sendLevel(st, 2, convolution);
    BusFeed feed0 = feed;
    feed0.clipEnabled = r.bus0Clip;
    feed0.appSend = r.bus0App ? appSend : 0.0f;
    bus0_.process(feed0, n);
    if (bus1Running_) {
        BusFeed feed1 = feed;
        feed1.clipEnabled = r.bus1Clip;
        feed1.appSend = r.bus1App ? appSend : 0.0f;
        bus1_.process(feed1, n);
    } else {
        bus1_.idle(n);
    }

    // The routing matrix, then equalizer, width and soft clip of each bus pair.
    const Balance appPan = balance(st.app_pan.load(std::memory_order_relaxed));
    const bool eq = st.eq_on.load(std::memory_order_relaxed) != 0;
    const bool ambit = st.ambit.load(std::memory_order_relaxed) != 0;
    const float* dry0 = bus0_.dryGains();
    const float* dry1 = bus1_.dryGains();
    for (uint32_t i = 0; i < n; ++i) {
        BusFrame f;
        f.clipL = clipL_[i];
        f.clipR = clipR_[i];
        f.appL = appL_[i];
        f.appR = appR_[i];
        f.dry0 = dry0[i];
        f.dry1 = dry1[i];
        f.wet0L = bus0_.wetL()[i];
        f.wet0R = bus0_.wetR()[i];
        f.wet0Mono = bus0_.wetMono()[i];
        f.wet1L = bus1_.wetL()[i];
        f.wet1R = bus1_.wetR()[i];
        f.wet1Mono = bus1_.wetMono()[i];
        float ml, mr, cl, cr;
        routeFrame(r, appPan, f, ml, mr, cl, cr);
        if (eq) {
            eqClipsMonitor_.process(ml, mr);
            eqClipsCable_.process(cl, cr);
        }
        if (ambit) {
            eqClipsMonitor_.processAmbit(ml, mr);
            eqClipsCable_.processAmbit(cl, cr);
        }
        float* mon = block.monitor + 2 * i;
        float* cab = block.cable + 2 * i;
        mon[0] = dsp::softClip(dsp::softClip(ml) + (monitor ? mon[0] : 0.0f));
        mon[1] = dsp::softClip(dsp::softClip(mr) + (monitor ? mon[1] : 0.0f));
        cab[0] = dsp::softClip(cab[0] + dsp::softClip(cl));
        cab[1] = dsp::softClip(cab[1] + dsp::softClip(cr));
    }
}

void EffectChain::mixPreviews(Block& block) noexcept
{
    inChunks(block, [this](Block& b) { mixPreviewsChunk(b); });
}

void EffectChain::mixPreviewsChunk(Block& block) noexcept
{
    MixSource* toMic = sources_.previewToMic;
    MixSource* phones = sources_.previewPhones;
    const bool a = toMic && toMic->playing();
    const bool h = phones && phones->playing();
    if (!a && !h)
        return;
    const uint32_t n = block.frames;
    for (auto* v : {&previewAL_, &previewAR_, &previewHL_, &previewHR_})
        zero(*v, n);
    if (a)
        toMic->mixInto(previewAL_.data(), previewAR_.data(), n);
    if (h)
        phones->mixInto(previewHL_.data(), previewHR_.data(), n);
    for (uint32_t i = 0; i < n; ++i) {
        float* mon = block.monitor + 2 * i;
        float* cab = block.cable + 2 * i;
        cab[0] = dsp::softClip(previewAL_[i] + cab[0]);
        cab[1] = dsp::softClip(previewAR_[i] + cab[1]);
        mon[0] = dsp::softClip(previewAL_[i] + mon[0] + previewHL_[i]);
        mon[1] = dsp::softClip(previewAR_[i] + mon[1] + previewHR_[i]);
    }
}

namespace {
// Owns the environments its chain makes rooms from; they are built first.
struct EnvironmentsHolder {
    ReverbEnvironments environments;
};
class OwnedEffectChain : private EnvironmentsHolder, public EffectChain {
public:
    OwnedEffectChain(
        const settings::Settings& settings, EngineState& state, platform::Files* files, std::wstring folder)
        : EnvironmentsHolder{ReverbEnvironments(files, std::move(folder))}, EffectChain(environments, settings, state)
    { }
};
} // namespace

std::unique_ptr<BlockSteps> makeEffectChain(const settings::Settings& settings, EngineState& state)
{
    return std::make_unique<OwnedEffectChain>(settings, state, nullptr, std::wstring());
}

std::unique_ptr<BlockSteps> makeEffectChainWithResponse(
    const settings::Settings& settings, EngineState& state, platform::Files& files, std::wstring folder)
{
    return std::make_unique<OwnedEffectChain>(settings, state, &files, std::move(folder));
}

} // namespace engine
