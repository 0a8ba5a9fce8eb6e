#include "engine/bus_mix.h"

#include "dsp/gain.h"

#include <algorithm>

namespace engine {

namespace {

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

void StageBusMask::reset() noexcept
{
    stage_.processor(stream_).reset();
}

void StageBusMask::process(
    float* left, float* right, uint32_t n, bool, bool glitchHeld, const settings::Snapshot& settings) noexcept
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

void BusMix::prepare(double sampleRate, uint32_t maxFrames, EnvironmentFactory& environments, int preset)
{
    clipBass_.prepare(sampleRate);
    appBass_.prepare(sampleRate);
    eqMonitor_.prepare(sampleRate);
    eqCable_.prepare(sampleRate);
    stretcher_.prepare(sampleRate);
    bus0_.setRoom(environments.makeRoom(sampleRate, preset));
    bus1_.setRoom(environments.makeRoom(sampleRate, preset));
    bus0_.setCavern(environments.makeCavern(sampleRate));
    bus1_.setCavern(environments.makeCavern(sampleRate));
    bus0_.prepare(sampleRate, maxFrames);
    bus1_.prepare(sampleRate, maxFrames);
    for (auto* v : {&clipL_, &clipR_, &appL_, &appR_, &previewAL_, &previewAR_, &previewHL_, &previewHR_})
        v->assign(maxFrames, 0.0f);
    pullL_.assign(kClipPullFrames, 0.0f);
    pullR_.assign(kClipPullFrames, 0.0f);
}

void BusMix::setBands(const settings::EqGains& gains, int level) noexcept
{
    eqMonitor_.setBandsAndLevel(gains, level);
    eqCable_.setBandsAndLevel(gains, level);
}

void BusMix::setBassBoost(double db) noexcept
{
    clipBass_.setBoost(db);
    appBass_.setBoost(db);
}

void BusMix::adopt(RoomSet& set) noexcept
{
    bus0_.swapRoom(set.bus0);
    bus1_.swapRoom(set.bus1);
    // Fresh cavern stages, as for the voice: none replays what it held.
    if (set.bus0Cavern)
        bus0_.swapCavern(set.bus0Cavern);
    if (set.bus1Cavern)
        bus1_.swapCavern(set.bus1Cavern);
}

void BusMix::fillClip(const settings::Snapshot& st, uint32_t n) noexcept
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
        const int64_t clipSpeed = st.clip_speed;
        int64_t speed = clipSpeed;
        if (st.clip_follow_voice && bit(st.mask_on, 0))
            speed = clipSpeed * st.voice_speed / 100;
        speed = std::clamp<int64_t>(speed, 25, 400);
        if (speed == 100 && !stretcherEngaged_) {
            clip->read(clipL_.data(), clipR_.data(), n);
        } else {
            if (!stretcherEngaged_) {
                stretcher_.reset();
                stretcherEngaged_ = true;
            }
            stretcher_.setSpeed(static_cast<double>(speed) / 100.0, st.clip_keep_pitch != 0);
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

void BusMix::fillApp(uint32_t n) noexcept
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

void BusMix::mix(Block& block, const BusEnvironmentState& environment) noexcept
{
    const auto& st = *block.settings;
    const uint32_t n = block.frames;
    const bool monitor = st.monitor != 0;

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
    const float clipGain = levelGain(st.clip_level);
    const float appGain = levelGain(st.app_gain);
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
    const int32_t maskOn = st.mask_on;
    const bool glitchHeld = block.glitchHeld;
    if (clipMask_)
        clipMask_->process(clipL_.data(), clipR_.data(), n, bit(maskOn, 1), glitchHeld, st);
    if (appMask_)
        appMask_->process(appL_.data(), appR_.data(), n, bit(maskOn, 2), glitchHeld, st);

    // The two environments.
    const int preset = environment.preset;
    const bool convolution = environment.convolution;
    const int32_t amount = st.amount;
    const int32_t echoOn = st.echo_on;
    RouteInputs in;
    in.clipMic = st.clip_mic != 0;
    in.clipHear = st.clip_hear != 0;
    in.appHear = st.app_hear != 0;
    in.appOnly = st.app_only != 0;
    in.monitor = monitor;
    in.parkRequested = sources_.app && sources_.app->parkRequested();
    in.clipLive = clipLive;
    in.appLive = appLive;
    in.cavern = preset == kCavernPreset && !convolution;
    in.wide = st.wide != 0;
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
    feed.duck = st.effects && preset == kCavernPreset && amount > 10 && (bit(echoOn, 1) || bit(echoOn, 2));
    feed.tapGains = preset == kCavernPreset;
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
    const Balance appPan = balance(st.app_pan);
    const bool eq = st.eq_on != 0;
    const bool ambit = st.ambit != 0;
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
            eqMonitor_.process(ml, mr);
            eqCable_.process(cl, cr);
        }
        if (ambit) {
            eqMonitor_.processAmbit(ml, mr);
            eqCable_.processAmbit(cl, cr);
        }
        float* mon = block.monitor + 2 * i;
        float* cab = block.cable + 2 * i;
        mon[0] = dsp::softClip(dsp::softClip(ml) + (monitor ? mon[0] : 0.0f));
        mon[1] = dsp::softClip(dsp::softClip(mr) + (monitor ? mon[1] : 0.0f));
        cab[0] = dsp::softClip(cab[0] + dsp::softClip(cl));
        cab[1] = dsp::softClip(cab[1] + dsp::softClip(cr));
    }
}

void BusMix::mixPreviews(Block& block) noexcept
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

} // namespace engine
