#include "engine/voice_environment.h"

#include "engine/mix.h"

#include <algorithm>
#include <cmath>

namespace engine {

namespace {

// The engine's factor on the send that drives the cavern room's explicit taps.
constexpr double kCavernTapSendFactor = 1.0;

void zero(std::vector<float>& v, uint32_t n)
{
    std::fill_n(v.begin(), n, 0.0f);
}

} // namespace

bool VoiceEnvironment::loadImpulseResponse()
{
    irLoaded_ = environments_.loadImpulseResponse();
    return irLoaded_;
}

bool VoiceEnvironment::convolutionActive(int preset) const noexcept
{
    return irLoaded_ && convolution_ && preset == kCavernPreset;
}

void VoiceEnvironment::prepare(double sampleRate, uint32_t maxFrames, int preset)
{
    sampleRate_ = sampleRate;
    preset_ = preset;
    wideRoom_.prepare(sampleRate_, maxFrames);
    sendHighPass_.setCoeffs(dsp::designReverbSendHighPass(sampleRate_));
    sendHighPass_.reset();
    sendCompressor_.prepare(sampleRate_);
    convolution_ = irLoaded_ ? environments_.makeConvolution(sampleRate_) : nullptr;
    room_ = convolutionActive(preset_) ? nullptr : environments_.makeRoom(sampleRate_, preset_);
    cavern_ = environments_.makeCavern(sampleRate_);
    oldRoom_.reset();
    oldIsConvolution_ = false;
    for (auto* v : {&send_, &highPassed_, &compressorGain_, &silence_, &wetMonL_, &wetMonR_, &wetCabL_, &wetCabR_,
             &tailL_, &tailR_})
        v->assign(maxFrames, 0.0f);
}

void VoiceEnvironment::adopt(RoomSet& set) noexcept
{
    // The old environment rings out while the new one starts.
    const bool wasConvolution = convolutionActive(preset_);
    const bool responseRinging = oldIsConvolution_ && oldTail_ > 0;
    oldFromCavern_ = preset_ == kCavernPreset && !wasConvolution;
    set.retiredTail = std::move(oldRoom_);
    if (wasConvolution) {
        oldIsConvolution_ = true;
        oldTail_ = tailFrames(convolution_->decaySeconds());
    } else {
        oldRoom_ = std::move(room_);
        oldIsConvolution_ = false;
        oldTail_ = oldRoom_ ? tailFrames(oldRoom_->decaySeconds()) : 0;
    }
    preset_ = set.preset;
    room_ = std::move(set.voice);
    resumeResponse_ = convolutionActive(preset_) && responseRinging;
    // The cavern's slap echo and plates start clear: after a quick hop away
    // and back they would otherwise replay the voice they held when they stopped.
    if (set.voiceCavern)
        cavern_.swap(set.voiceCavern);
}

float VoiceEnvironment::dryGainTarget(const Block& block) noexcept
{
    const auto& st = *block.settings;
    const int32_t amount = st.amount;
    if (cavern_ && st.effects && preset_ == kCavernPreset && (st.echo_on & 1) != 0 && amount > 10) {
        return static_cast<float>(std::pow(10.0, -cavern_->duckDb(block.voice, block.frames, amount) / 20.0));
    }
    return 1.0f;
}

void VoiceEnvironment::process(Block& block, Reaper& reaper) noexcept
{
    const auto& st = *block.settings;
    const uint32_t n = block.frames;
    const int32_t amount = st.amount;
    const bool convolution = convolutionActive(preset_);
    if (convolution && !convolutionWasActive_) {
        // Back to the response while its tail still rings: it goes on
        // decaying from where it is. Otherwise it starts clear, since a tail
        // cut short by a later change left it frozen mid-ring.
        if (!resumeResponse_)
            convolution_->clear();
        resumeResponse_ = false;
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
        if (cavern_) {
            cavern_->addVoice(highPassed_.data(), compressorGain_.data(), s, amount, wetMonL_.data(), wetMonR_.data(),
                wetCabL_.data(), wetCabR_.data(), n);
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
        wideRoom_.process(feed, wetMonL_.data(), wetMonR_.data(), n, cavern, st.wide != 0);
    }

    addOldTail(amount, cavern, n, reaper);
    for (uint32_t i = 0; i < n; ++i) {
        block.wetMonitor[i] = 0.5f * (wetMonL_[i] + wetMonR_[i]);
        block.wetCable[i] = 0.5f * (wetCabL_[i] + wetCabR_[i]);
    }
}

void VoiceEnvironment::addOldTail(int32_t amount, bool cavern, uint32_t n, Reaper& reaper) noexcept
{
    if (oldTail_ <= 0) {
        reaper.retire(oldRoom_); // when the reaper was full as the tail ended
        return;
    }
    ReverbInstance* old = oldIsConvolution_ ? convolution_.get() : oldRoom_.get();
    if (!old)
        return;
    if (oldFromCavern_ && cavern_ && !cavern) {
        // The cavern's own stages ring out with its room, in the headphones only.
        zero(tailL_, n);
        zero(tailR_, n);
        cavern_->addVoice(silence_.data(), silence_.data(), 0.0f, amount, wetMonL_.data(), wetMonR_.data(),
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
        oldIsConvolution_ = false;
        reaper.retire(oldRoom_);
    }
}

} // namespace engine
