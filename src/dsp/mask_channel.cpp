#include "dsp/mask_channel.h"

#include "dsp/voice_changer.h"

#include <algorithm>
#include <cmath>

namespace dsp {

namespace {
constexpr double kTwoPi = 2.0 * kPi;
constexpr double kClockWrap = 1000.0; // seconds
constexpr double kGlitchHistorySeconds = 0.4;

// Onset detector: a 2 ms and a 150 ms follower of |x|; an onset is the fast
// one above −40 dBFS and 2.2 × the slow one, then 250 ms without another.
constexpr double kOnsetFloor = 0.01;
constexpr double kOnsetRatio = 2.2;

// Talk detection of the radio and breathing stages (RMS, −38 dBFS).
constexpr double kTalkThreshold = 0.0126;

// Everything the extended kinds produce stays well inside this; anything
// beyond (or NaN) means a fault upstream, and silence is the safe answer.
constexpr float kSampleGuard = 8.0f;

float tanhDrive(double v, double drive)
{
    return static_cast<float>(std::tanh(drive * v) / drive);
}
} // namespace

// The two extra voices of "Three of Me": voice changers a little higher and
// smaller (ratio 1.335, size 92 %) and lower and larger (0.749, 118 %) on the
// same block; both are 2600 frames late. They are prepared, reset and fed
// together, so the second follows the first's pitch analysis instead of
// repeating it.
class ThreeOfMeVoices {
public:
    static constexpr int kLatency = VoiceChanger::kLatencyFrames;

    void prepare(double sampleRate, int maxChunk)
    {
        for (auto& v : voices_)
            v.prepare(sampleRate);
        first.assign(static_cast<size_t>(maxChunk), 0.0f);
        second.assign(static_cast<size_t>(maxChunk), 0.0f);
        reset();
    }
    void reset() noexcept
    {
        for (auto& v : voices_) {
            v.reset();
            v.setMaskValues(VoiceMaskValues{});
        }
        voices_[0].setVoice(0.0, 92.0, 1.335);
        voices_[1].setVoice(0.0, 118.0, 0.749);
    }
    void process(const float* input, int frames) noexcept
    {
        VoiceChanger::processPair(input, voices_[0], first.data(), voices_[1], second.data(), frames);
    }

    std::vector<float> first;
    std::vector<float> second;

private:
    VoiceChanger voices_[2];
};

MaskChannel::MaskChannel() = default;
MaskChannel::~MaskChannel() = default;

void MaskChannel::prepare(double sampleRate, bool extendedKinds, int maxChunk)
{
    fs_ = sampleRate > 0.0 ? sampleRate : 48000.0;
    extended_ = extendedKinds;
    maxChunk_ = std::clamp(maxChunk, 1, kMaxChunk);
    ring4_.prepare(4096);
    onsetFast_.prepare(0.002, fs_);
    onsetSlow_.prepare(0.15, fs_);
    level_.prepare(1.0, fs_);
    talkLevel_.prepare(0.05, fs_);
    bubbleAttack_ = decayFactor(0.001, fs_);
    bubbleDecay_ = decayFactor(0.015, fs_);
    if (extended_) {
        vibratoRing_.prepare(8192);
        // The longest echo is 0.17 s; the glitch events' history is 0.4 s, as
        // long as their event buffer, so a reversal of up to 0.25 s never wraps.
        echo_.prepare(static_cast<size_t>(std::max(0.17, kGlitchHistorySeconds) * fs_) + 4);
        dryRing_.prepare(ThreeOfMeVoices::kLatency + 4);
        eventBuffer_.assign(static_cast<size_t>(kGlitchHistorySeconds * fs_), 0.0f);
        voices_ = std::make_unique<ThreeOfMeVoices>();
        voices_->prepare(fs_, maxChunk_);
        spectral_.prepare(fs_);
        matcher_.prepare(fs_);
        limiter_.prepare(fs_);
        dry_.assign(static_cast<size_t>(maxChunk_), 0.0f);
        overlay_.assign(static_cast<size_t>(maxChunk_), 0.0f);
    }
    reset();
}

void MaskChannel::reset() noexcept
{
    kind_ = MaskKind::None;
    p1_ = p2_ = 0.0;
    configured_ = false;
    phase_ = 0.0;
    clock_ = 0.0;
    random_ = Lcg{0x9E3779B9u};
    setUpKind();
}

void MaskChannel::configure(MaskKind kind, double p1, double p2) noexcept
{
    if (!extended_ && isExtended(kind))
        kind = MaskKind::None;
    p1_ = std::isfinite(p1) ? p1 : 0.0;
    p2_ = std::isfinite(p2) ? p2 : 0.0;
    if (configured_ && kind == kind_)
        return;
    kind_ = kind;
    configured_ = true;
    setUpKind();
}

// Clears every filter, delay and sub-processor, then sets up the kind's own.
void MaskChannel::setUpKind() noexcept
{
    for (auto& f : filters_)
        f = Biquad{};
    ring4_.reset();
    phaseA_ = phaseB_ = 0.0;
    rateA_ = rateB_ = RandomRate{};
    onsetFast_.reset();
    onsetSlow_.reset();
    refractory_ = cooldown_ = 0;
    level_.reset();
    talkLevel_.reset();
    stumblePosition_ = -1;
    blipPosition_ = -1;
    eventPosition_ = -1;
    talk_ = false;
    quietFrames_ = 0;
    talkSmooth_ = 0.0;
    beepPosition_ = burstPosition_ = -1;
    burstPending_ = false;
    talkTimer_ = pauseTimer_ = breathGate_ = 0.0;
    for (auto& b : bubbles_)
        b = Bubble{};
    phoneCount_ = 0;
    phoneHeld_ = 0.0f;
    if (!extended_) {
        if (kind_ == MaskKind::RadioDrive) {
            filters_[0].setCoeffs(designHighPass(500, kQ07072, fs_));
            filters_[1].setCoeffs(designLowPass(2700, kQ07072, fs_));
        }
        return;
    }
    vibratoRing_.reset();
    echo_.reset();
    dryRing_.reset();
    if (kind_ == MaskKind::ThreeOfMe) // their rings are large; cleared only when they are about to be heard
        voices_->reset();
    spectral_.reset();
    matcher_.reset();
    limiter_.reset();

    const double fs = fs_;
    auto startRate = [this](RandomRate& rate, double low, double high) {
        rate = {low, high, 0.0};
        rate.draw(random_);
    };
    auto set = [this](int slot, const BiquadCoeffs& c) { filters_[static_cast<size_t>(slot)].setCoeffs(c); };
    auto vibratoSetup = [this, &startRate](double deviation, double baseRate, double low, double high) {
        vibratoDeviation_ = deviation;
        vibratoBase_ = fs_ * deviation / (kTwoPi * baseRate) + 4.0;
        startRate(rateA_, low, high);
    };
    // A and B high-pass, C and D low-pass: the steep band of a radio or a phone line.
    auto narrowBand = [&set, fs](double low, double high) {
        set(0, designHighPass(low, kQ07072, fs));
        set(1, designHighPass(low, kQ07072, fs));
        set(2, designLowPass(high, kQ07072, fs));
        set(3, designLowPass(high, kQ07072, fs));
    };
    switch (kind_) {
    case MaskKind::RadioDrive:
        set(0, designHighPass(500, kQ07072, fs));
        set(1, designLowPass(2700, kQ07072, fs));
        break;
    case MaskKind::Anonymous:
        spectral_.setup({false, 1.12, 0.04, 96, 0.025});
        break;
    case MaskKind::Alien:
        vibratoSetup(0.0533, 6.0, 6.0, 10.0);
        startRate(rateB_, 10.0, 14.0);
        break;
    case MaskKind::Astronaut:
        narrowBand(320, 3200);
        break;
    case MaskKind::Drunk:
        startRate(rateA_, 0.35, 0.8);
        drunkDepth_ = 0.0413 + 0.0243 * random_.uniform();
        vibratoBase_ = fs * 0.0656 / (kTwoPi * 0.35) + 408.0;
        set(0, designLowPass(3200, kQ07072, fs));
        break;
    case MaskKind::Duck:
        set(0, designHighPass(380, kQ07072, fs));
        set(1, designPeaking(1300, 3.0, 12.0, fs));
        set(2, designPeaking(2600, 4.0, 7.0, fs));
        break;
    case MaskKind::Ghost:
        spectral_.setup({true, 0.95, 0.02, 100, 0});
        break;
    case MaskKind::Monster:
        startRate(rateA_, 38.0, 46.0);
        set(0, designLowShelf(160, 4.0, fs));
        break;
    case MaskKind::Underwater:
        vibratoSetup(0.0293, 8.0, 8.0, 14.0);
        startRate(rateB_, 4.0, 8.0);
        set(0, designLowPass(800, 0.9, fs));
        set(1, designLowPass(1300, kQ07072, fs));
        set(2, designPeaking(350, 1.0, 4.0, fs));
        break;
    case MaskKind::MickeyMouse:
        set(0, designHighPass(260, kQ07072, fs));
        set(1, designPeaking(1500, 1.4, 6.0, fs));
        set(2, designPeaking(3200, 1.0, 3.0, fs));
        break;
    case MaskKind::Baby:
        vibratoSetup(0.012, 6.0, 6.0, 8.0);
        set(0, designPeaking(2600, 1.0, 3.0, fs));
        break;
    case MaskKind::Goblin:
        set(0, designHighPass(180, kQ07072, fs));
        set(1, designPeaking(900, 1.2, 5.0, fs));
        break;
    case MaskKind::Giant:
        set(0, designLowShelf(120, 5.0, fs));
        set(1, designLowPass(4200, kQ07072, fs));
        break;
    case MaskKind::Zombie:
        vibratoSetup(0.03, 2.0, 2.0, 3.0);
        startRate(rateB_, 26.0, 34.0);
        set(0, designLowPass(2800, kQ07072, fs));
        set(1, designLowShelf(200, 3.0, fs));
        break;
    case MaskKind::DarkLord:
        set(0, designLowPass(3200, kQ07072, fs));
        set(1, designPeaking(420, 1.0, 4.0, fs));
        set(2, designLowPass(1400, 1.2, fs));
        set(3, designHighPass(500, 0.9, fs));
        break;
    case MaskKind::Cyborg:
        set(0, designHighPass(220, kQ07072, fs));
        set(1, designLowPass(5500, kQ07072, fs));
        break;
    case MaskKind::Megaphone:
        set(0, designHighPass(550, 0.8, fs));
        set(1, designLowPass(3600, 0.8, fs));
        set(2, designPeaking(1800, 1.2, 6.0, fs));
        break;
    case MaskKind::PhoneCall:
        narrowBand(320, 3300);
        break;
    case MaskKind::Whisper:
        spectral_.setup({true, 1.0, 0.0, 100, 0});
        set(0, designHighPass(240, kQ07072, fs));
        break;
    case MaskKind::Stranger:
        set(0, designLowShelf(160, 3.0, fs));
        set(1, designLowPass(6500, kQ07072, fs));
        set(2, designHighPass(1500, kQ07072, fs));
        set(3, designLowPass(6000, kQ07072, fs));
        break;
    default:
        break;
    }
}

void MaskChannel::process(float* samples, int frames) noexcept
{
    if (frames <= 0 || kind_ == MaskKind::None)
        return;
    if (!isExtended(kind_)) {
        processBasic(samples, frames);
        return;
    }
    for (int done = 0; done < frames;) {
        const int n = std::min(frames - done, maxChunk_);
        processExtended(samples + done, n);
        done += n;
    }
}

void MaskChannel::advanceClocks() noexcept
{
    clock_ += 1.0 / fs_;
    if (clock_ >= kClockWrap)
        clock_ -= kClockWrap;
}

void MaskChannel::processBasic(float* samples, int frames) noexcept
{
    const double step = kTwoPi * p1_ / fs_;
    for (int i = 0; i < frames; ++i) {
        const double x = samples[i];
        double y = x;
        switch (kind_) {
        case MaskKind::RingModulation:
            y = x * (p2_ * std::cos(phase_) + (1.0 - p2_));
            break;
        case MaskKind::Tremolo:
            y = x * (1.0 - (0.5 - 0.5 * std::cos(phase_)) * p2_);
            break;
        case MaskKind::RadioDrive:
            y = 0.9 * std::tanh(p1_ * filters_[1].process(filters_[0].process(x)));
            break;
        case MaskKind::Vibrato: {
            ring4_.write(x);
            const double delay = 0.007 * fs_ + std::sin(phase_) * (0.0045 * fs_ * p2_);
            y = ring4_.delayedLinear(std::clamp(delay, 0.0, static_cast<double>(ring4_.length() - 2)));
            break;
        }
        default:
            break;
        }
        samples[i] = static_cast<float>(y);
        phase_ += step;
        if (phase_ >= kTwoPi || phase_ < 0.0)
            phase_ -= kTwoPi * std::floor(phase_ / kTwoPi);
        advanceClocks();
    }
}

void MaskChannel::processExtended(float* samples, int frames) noexcept
{
    std::copy(samples, samples + frames, dry_.begin());
    std::fill(overlay_.begin(), overlay_.begin() + frames, 0.0f);
    if (usesSpectralEngine(kind_))
        spectral_.process(samples, frames);
    if (kind_ == MaskKind::ThreeOfMe)
        voices_->process(dry_.data(), frames);

    for (int i = 0; i < frames; ++i)
        samples[i] = extendedFrame(samples[i], dry_[static_cast<size_t>(i)], i);

    matcher_.process(dry_.data(), samples, frames);
    limiter_.process(dry_.data(), samples, frames);
    for (int i = 0; i < frames; ++i) {
        const float y = samples[i] + overlay_[static_cast<size_t>(i)];
        samples[i] = std::fabs(y) < kSampleGuard ? y : 0.0f;
    }
}

bool MaskChannel::detectOnset(float dry) noexcept
{
    const double a = std::fabs(dry);
    const double fast = onsetFast_.process(a);
    const double slow = onsetSlow_.process(a);
    if (refractory_ > 0) {
        --refractory_;
        return false;
    }
    if (fast > kOnsetFloor && fast > kOnsetRatio * slow) {
        refractory_ = static_cast<int>(0.25 * fs_);
        return true;
    }
    return false;
}

// The vibrato delay: a lag of fs·D/(2π·r0) + 4 + fs·D/(2π·rate)·sin 2πp, the
// excursion scaled by 1/rate so the pitch deviation stays ±D at any rate.
float MaskChannel::vibrato(float v) noexcept
{
    vibratoRing_.write(v);
    const double lag = vibratoBase_ + fs_ * vibratoDeviation_ / (kTwoPi * rateA_.value) * std::sin(kTwoPi * phaseA_);
    phaseA_ += rateA_.value / fs_;
    if (phaseA_ >= 1.0) {
        phaseA_ -= 1.0;
        rateA_.draw(random_);
    }
    return static_cast<float>(vibratoRing_.delayedLinear(lag));
}

double MaskChannel::secondPhaseStep() noexcept
{
    const double q = phaseB_;
    phaseB_ += rateB_.value / fs_;
    if (phaseB_ >= 1.0) {
        phaseB_ -= 1.0;
        rateB_.draw(random_);
    }
    return std::sin(kTwoPi * q);
}

// Pitch blips of "Alien": for the blip's length the voice is crossfaded
// (sin² envelope) into a read of its own recent past whose lag shrinks (mode 1,
// the pitch glides up to 1.7×) or grows (mode 2, it sinks to 0.6×) along a
// parabola: a short sci-fi "bwip" on the start of a word.
float MaskChannel::blip(float v, bool onset) noexcept
{
    ring4_.write(v);
    if (cooldown_ > 0)
        --cooldown_;
    if (onset && blipPosition_ < 0 && cooldown_ == 0 && random_.uniform() < 0.4f) {
        const int length = static_cast<int>((0.07 + 0.04 * random_.uniform()) * fs_);
        if (length >= 480) {
            blipLength_ = length;
            blipPosition_ = 0;
            blipMode_ = random_.uniform() < 0.3f ? 2 : 1;
            cooldown_ = length + static_cast<int>(1.2 * fs_);
        }
    }
    if (blipPosition_ < 0)
        return v;
    const double t = static_cast<double>(blipPosition_) / blipLength_;
    const double lag = blipMode_ == 1 ? 0.35 * blipLength_ * (1.0 - t * t) : 0.2 * blipLength_ * t * t;
    const double s = std::sin(kPi * t);
    const double shifted = ring4_.delayedLinear(lag);
    if (++blipPosition_ >= blipLength_)
        blipPosition_ = -1;
    return static_cast<float>(v + (shifted - v) * s * s);
}

// Glitch events of "Glitch": each event, 0.25..0.7 s long and faded in and out
// over 3 ms, is one of three digital faults: a stutter (the last 40..120 ms
// looped), a reversal (the last 120..250 ms played backwards, looped) or a
// crush (sample-and-hold every 6..16 frames on a 16-step grid). The loops
// have 64-frame edges so that their seams do not click.
float MaskChannel::glitchEvent(float v, bool onset, double level) noexcept
{
    echo_.write(v); // history
    if (eventPosition_ < 0) {
        if (level > 0.006 && ((onset && random_.uniform() < 0.2f) || random_.uniform() < 1.5 / fs_)) {
            eventLength_ = static_cast<int>((0.25 + 0.45 * random_.uniform()) * fs_);
            eventPosition_ = 0;
            eventType_ = std::min(2, static_cast<int>(3.0f * random_.uniform()));
            if (eventType_ == 2) {
                holdEvery_ = 6 + static_cast<int>(10.0f * random_.uniform());
            } else {
                const double seconds = eventType_ == 0 ? 0.04 + 0.08 * random_.uniform() : 0.12 + 0.13 * random_.uniform();
                sliceLength_ = std::min(static_cast<int>(seconds * fs_), static_cast<int>(eventBuffer_.size()));
                for (int j = 0; j < sliceLength_; ++j)
                    eventBuffer_[static_cast<size_t>(j)] = echo_.delayed(sliceLength_ - 1 - j);
            }
        }
        if (eventPosition_ < 0)
            return v;
    }
    const int p = eventPosition_;
    double g = v;
    if (eventType_ == 2) {
        if (p % holdEvery_ == 0)
            held_ = std::round(v * 8.0f) / 8.0f;
        g = held_;
    } else if (sliceLength_ > 0) {
        const int loop = p % sliceLength_;
        const int index = eventType_ == 0 ? loop : sliceLength_ - 1 - loop;
        const double edge = std::min({1.0, loop / 64.0, (sliceLength_ - loop) / 64.0});
        g = eventBuffer_[static_cast<size_t>(index)] * edge;
    }
    const double fade = static_cast<double>(0.003 * fs_);
    const double e = std::min({1.0, p / fade, (eventLength_ - p) / fade});
    if (++eventPosition_ >= eventLength_)
        eventPosition_ = -1;
    return static_cast<float>(v + (g - v) * e);
}

// The walkie-talkie of "Astronaut": a 2525 Hz beep when talk starts, a 2475 Hz
// beep when it has stopped for 0.35 s followed by a squelch burst, and hiss
// while the channel is open.
float MaskChannel::radioStage(double talkLevel) noexcept
{
    const int beepLength = static_cast<int>(0.25 * fs_);
    const double beepFade = 0.005 * fs_;
    const int burstLength = static_cast<int>(0.12 * fs_);
    if (talkLevel > kTalkThreshold) {
        quietFrames_ = 0;
        if (!talk_) {
            talk_ = true;
            beepFrequency_ = 2525.0;
            beepPosition_ = 0;
        }
    } else if (talk_ && ++quietFrames_ >= static_cast<int>(0.35 * fs_)) {
        talk_ = false;
        beepFrequency_ = 2475.0;
        beepPosition_ = 0;
        burstPending_ = true;
    }
    double out = 0.0;
    if (beepPosition_ >= 0) {
        const double p = beepPosition_;
        const double env = std::min({1.0, p / beepFade, (beepLength - p) / beepFade});
        out += 0.1 * env * std::sin(kTwoPi * beepFrequency_ * p / fs_);
        if (++beepPosition_ >= beepLength) {
            beepPosition_ = -1;
            if (burstPending_) {
                burstPending_ = false;
                burstPosition_ = 0;
            }
        }
    }
    if (burstPosition_ >= 0) {
        out += 0.05 * (1.0 - static_cast<double>(burstPosition_) / burstLength) * random_.bipolar();
        if (++burstPosition_ >= burstLength)
            burstPosition_ = -1;
    }
    talkSmooth_ += ((talk_ ? 1.0 : 0.0) - talkSmooth_) * (1.0 / (0.01 * fs_));
    out += 0.0035 * random_.bipolar() * talkSmooth_;
    return static_cast<float>(out);
}

// The breaths of "Dark Lord": after 0.8 s of pause a 4.4 s cycle of a slow
// inhale and a longer exhale, noise through slots C and D, gated in and out
// over 30 ms.
float MaskChannel::breathingStage(double talkLevel) noexcept
{
    const double dt = 1.0 / fs_;
    talkTimer_ = talkLevel > kTalkThreshold ? talkTimer_ + dt : 0.0;
    pauseTimer_ = talkTimer_ <= 0.05 ? pauseTimer_ + dt : 0.0;
    double weight = 0.0;
    const bool breathing = pauseTimer_ >= 0.8;
    if (breathing) {
        const double t = std::fmod(pauseTimer_ - 0.8, 4.4);
        if (t < 1.3) {
            const double s = std::sin(kPi * t / 1.3);
            weight = 0.8 * s * s;
        } else if (t >= 1.7 && t < 3.5) {
            const double s = std::sin(kPi * (t - 1.7) / 1.8);
            weight = s * s;
        }
    }
    const double step = 1.0 / (0.03 * fs_);
    breathGate_ = breathing ? std::min(1.0, breathGate_ + step) : std::max(0.0, breathGate_ - step);
    const double noise = filters_[3].process(filters_[2].process(static_cast<double>(random_.bipolar())));
    if (breathGate_ <= 0.0)
        return 0.0f;
    return static_cast<float>(noise * 0.12 * weight * breathGate_);
}

// Bubbles of "Underwater": short rising sine chirps, up to four at once.
float MaskChannel::bubbles(double level) noexcept
{
    if (level > 0.008 && random_.uniform() < 5.0 / fs_) {
        for (auto& b : bubbles_) {
            if (b.position >= 0)
                continue;
            const double seconds = 0.025 + 0.025 * random_.uniform();
            b.length = std::max(1, static_cast<int>(seconds * fs_));
            b.frequency = 300.0 + 400.0 * random_.uniform();
            b.rise = std::pow(2.0 + random_.uniform(), 1.0 / b.length);
            b.amplitude = 0.6 * level;
            b.phase = 0.0;
            b.attack = 1.0;
            b.decay = 1.0;
            b.position = 0;
            break;
        }
    }
    double out = 0.0;
    for (auto& b : bubbles_) {
        if (b.position < 0)
            continue;
        // (1 − e^(−t/1 ms))·e^(−t/15 ms), both exponentials kept as running products.
        out += b.amplitude * (1.0 - b.attack) * b.decay * std::sin(b.phase);
        b.attack *= bubbleAttack_;
        b.decay *= bubbleDecay_;
        b.phase += kTwoPi * b.frequency / fs_;
        b.frequency *= b.rise;
        if (++b.position >= b.length)
            b.position = -1;
    }
    return static_cast<float>(out);
}

// "Phone Call": a new value every third frame (16 kHz), companded to 64
// logarithmic steps of an 8-bit scale, held in between.
float MaskChannel::phone(float v) noexcept
{
    const double w = std::tanh(1.6 * v) / 1.6;
    if (phoneCount_ == 0) {
        const double m = std::min(1.0, std::fabs(w)) * 255.0;
        double out = 0.0;
        if (m >= 1.0) {
            const double step = std::round(std::log(m) / std::log(255.0) * 63.0);
            out = step > 0.0 ? std::pow(255.0, step / 63.0) / 255.0 : 0.0;
        }
        phoneHeld_ = static_cast<float>(w < 0.0 ? -out : out);
    }
    phoneCount_ = (phoneCount_ + 1) % 3;
    return phoneHeld_;
}

float MaskChannel::extendedFrame(float x, float dry, int index) noexcept
{
    const double power = level_.process(dry);
    const double level = std::sqrt(power);
    const bool onset = usesOnsets(kind_) && detectOnset(dry);
    const double t = clock_;
    auto& A = filters_[0];
    auto& B = filters_[1];
    auto& C = filters_[2];
    auto& D = filters_[3];
    double v = x;
    double y = x;
    switch (kind_) {
    case MaskKind::Anonymous:
        break;
    case MaskKind::Alien:
        v = vibrato(blip(x, onset));
        y = v * (1.0 - (0.5 + 0.5 * secondPhaseStep()) * 0.28);
        break;
    case MaskKind::Astronaut:
        v = D.process(C.process(B.process(A.process(v))));
        y = tanhDrive(v, 1.8);
        overlay_[static_cast<size_t>(index)] += radioStage(std::sqrt(talkLevel_.process(dry)));
        break;
    case MaskKind::Drunk: {
        vibratoRing_.write(x);
        double stumble = 0.0;
        if (cooldown_ > 0)
            --cooldown_;
        if (onset && stumblePosition_ < 0 && cooldown_ == 0 && random_.uniform() < 0.15f) {
            stumbleAmount_ = 200.0 + 200.0 * random_.uniform();
            stumblePosition_ = 0;
            cooldown_ = static_cast<int>(3.0 * fs_);
        }
        if (stumblePosition_ >= 0) {
            const double in = 0.04 * fs_;
            const double out = 0.25 * fs_;
            const double p = stumblePosition_;
            stumble = stumbleAmount_ * (p < in ? p / in : std::max(0.0, 1.0 - (p - in) / out));
            if (++stumblePosition_ >= static_cast<int>(in + out))
                stumblePosition_ = -1;
        }
        const double excursion = fs_ * drunkDepth_ / (kTwoPi * rateA_.value) * std::sin(kTwoPi * phaseA_);
        phaseA_ += rateA_.value / fs_;
        if (phaseA_ >= 1.0) {
            phaseA_ -= 1.0;
            rateA_.draw(random_);
            drunkDepth_ = 0.0413 + 0.0243 * random_.uniform();
        }
        y = A.process(vibratoRing_.delayedLinear(std::max(4.0, vibratoBase_ + excursion - stumble)));
        break;
    }
    case MaskKind::Duck:
        v = C.process(B.process(A.process(v)));
        y = v * (1.0 - (0.5 + 0.5 * std::sin(kTwoPi * 95.0 * t)) * 0.25);
        break;
    case MaskKind::Ghost: {
        echo_.write(x);
        const double tap1 = echo_.delayedLinear((0.027 + 0.005 * std::sin(kTwoPi * 0.33 * t + 1.0)) * fs_);
        const double tap2 = echo_.delayedLinear((0.018 + 0.004 * std::sin(kTwoPi * 0.21 * t)) * fs_);
        y = (0.7 * v + 0.45 * tap1 + 0.5 * tap2) * (1.0 - (0.5 + 0.5 * std::sin(kTwoPi * 0.45 * t)) * 0.25);
        break;
    }
    case MaskKind::Glitch:
        y = glitchEvent(x, onset, level);
        break;
    case MaskKind::Monster: {
        v = A.process(v);
        const double p = phaseA_;
        phaseA_ += rateA_.value / fs_;
        if (phaseA_ >= 1.0) {
            phaseA_ -= 1.0;
            rateA_.draw(random_);
        }
        y = tanhDrive((0.28 * std::sin(kTwoPi * p) + 0.72) * v, 2.2);
        break;
    }
    case MaskKind::ThreeOfMe: {
        dryRing_.write(x);
        const double delayed = dryRing_.delayedLinear(ThreeOfMeVoices::kLatency);
        y = 0.62 * delayed + 0.5 * voices_->first[static_cast<size_t>(index)]
            + 0.5 * voices_->second[static_cast<size_t>(index)];
        break;
    }
    case MaskKind::Underwater:
        v = vibrato(x);
        v *= 1.0 - (0.5 + 0.5 * secondPhaseStep()) * 0.4;
        y = C.process(B.process(A.process(v)));
        overlay_[static_cast<size_t>(index)] += bubbles(level);
        break;
    case MaskKind::MickeyMouse:
        y = C.process(B.process(A.process(v)));
        break;
    case MaskKind::Baby:
        y = A.process(static_cast<double>(vibrato(x)));
        break;
    case MaskKind::Goblin:
        y = tanhDrive(B.process(A.process(v)), 1.8);
        break;
    case MaskKind::Giant: {
        v = B.process(A.process(v));
        const double echo = echoRead(0.11 * fs_);
        echo_.write(static_cast<float>(v + 0.3 * echo));
        y = v + 0.35 * echo;
        break;
    }
    case MaskKind::Zombie:
        v = vibrato(x);
        y = tanhDrive((0.25 * secondPhaseStep() + 0.75) * v, 2.4);
        y = B.process(A.process(y));
        break;
    case MaskKind::DarkLord: {
        v = B.process(A.process(v));
        const double comb = echoRead(0.0016 * fs_);
        echo_.write(static_cast<float>(v + 0.35 * comb));
        y = 0.8 * v + 0.4 * comb;
        overlay_[static_cast<size_t>(index)] += breathingStage(std::sqrt(talkLevel_.process(dry)));
        break;
    }
    case MaskKind::Cyborg: {
        v = B.process(A.process(v));
        const double comb = echoRead(0.0053 * fs_);
        echo_.write(static_cast<float>(v + 0.62 * comb));
        y = 0.55 * (v + comb) * (0.7 + 0.3 * std::cos(phase_));
        phase_ += kTwoPi * 38.0 / fs_;
        if (phase_ >= kTwoPi)
            phase_ -= kTwoPi;
        break;
    }
    case MaskKind::Megaphone: {
        v = C.process(B.process(A.process(v)));
        const double r = 0.5 * std::tanh(3.5 * v);
        const double echo = echoRead(0.17 * fs_);
        echo_.write(static_cast<float>(r + 0.32 * echo));
        y = r + 0.3 * echo;
        break;
    }
    case MaskKind::PhoneCall:
        y = phone(static_cast<float>(D.process(C.process(B.process(A.process(v))))));
        break;
    case MaskKind::Bumblebee:
        y = x * (1.0 - (0.5 + 0.5 * std::sin(kTwoPi * 34.0 * t)) * 0.55) * (0.2 * std::cos(kTwoPi * 190.0 * t) + 0.8);
        break;
    case MaskKind::Whisper:
        y = A.process(v);
        break;
    case MaskKind::Stranger: {
        // No pre-stage: the voice changer's macro values already give the
        // stranger's voice; here a breath band (1.5..6 kHz noise shaped by the
        // voice) is added, then the low shelf and the top cut.
        const double n = D.process(C.process(static_cast<double>(random_.bipolar()) * x));
        y = B.process(A.process(x + 0.2 * n));
        break;
    }
    default:
        break;
    }
    advanceClocks();
    return static_cast<float>(y);
}

} // namespace dsp
