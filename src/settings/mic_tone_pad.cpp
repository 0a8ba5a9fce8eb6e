#include "settings/mic_tone_pad.h"

#include "settings/fields.h"

#include <algorithm>
#include <cmath>

namespace settings {
namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

int32_t clampBand(int64_t v)
{
    return static_cast<int32_t>(std::clamp<int64_t>(v, -kToneBandLimit, kToneBandLimit));
}

IntField Settings::*bandField(ToneBand band)
{
    switch (band) {
    case ToneBand::Lo:
        return &Settings::tone_lo;
    case ToneBand::Mid:
        return &Settings::tone_mid;
    case ToneBand::Hi:
        break;
    }
    return &Settings::tone_hi;
}

const char* gateKey(GateControl control)
{
    switch (control) {
    case GateControl::VocalLevel:
        return "vocal_level";
    case GateControl::Lo:
        return "gate_lo";
    case GateControl::Mid:
        return "gate_mid";
    case GateControl::Hi:
        return "gate_hi";
    case GateControl::Out:
        break;
    }
    return "gate_out";
}

struct Expected {
    int32_t lo, mid, hi;
};

Expected bandsFromPad(const Settings& s)
{
    const int32_t dx = tonePadOffset(s.tone_pad_x.load(kRelaxed));
    const int32_t dy = tonePadOffset(s.tone_pad_y.load(kRelaxed));
    return {clampBand(int64_t{s.tone_base_lo.load(kRelaxed)} - dx),
        clampBand(int64_t{s.tone_base_mid.load(kRelaxed)} + dy),
        clampBand(int64_t{s.tone_base_hi.load(kRelaxed)} + dx)};
}

bool applyPad(Settings& s)
{
    const Expected e = bandsFromPad(s);
    bool changed = s.set(&Settings::tone_lo, e.lo);
    changed |= s.set(&Settings::tone_mid, e.mid);
    changed |= s.set(&Settings::tone_hi, e.hi);
    return changed;
}

} // namespace

int32_t tonePadOffset(int32_t v)
{
    return static_cast<int32_t>(std::lround(2.4 * static_cast<double>(v)));
}

void toneMovePad(Settings& s, int32_t x, int32_t y)
{
    Settings::Transaction transaction(s);
    s.set(&Settings::tone_pad_x, std::clamp(x, -100, 100));
    s.set(&Settings::tone_pad_y, std::clamp(y, -100, 100));
    applyPad(s);
    s.touch(Counter::Tone);
}

void toneResetPad(Settings& s)
{
    Settings::Transaction transaction(s);
    s.set(&Settings::tone_pad_x, 0);
    s.set(&Settings::tone_pad_y, 0);
    applyPad(s);
    s.touch(Counter::Tone);
}

bool toneRebase(Settings& s)
{
    const Expected e = bandsFromPad(s);
    const int32_t lo = s.tone_lo.load(kRelaxed);
    const int32_t mid = s.tone_mid.load(kRelaxed);
    const int32_t hi = s.tone_hi.load(kRelaxed);
    if (lo == e.lo && mid == e.mid && hi == e.hi)
        return false;
    Settings::Transaction transaction(s);
    s.set(&Settings::tone_base_lo, lo);
    s.set(&Settings::tone_base_mid, mid);
    s.set(&Settings::tone_base_hi, hi);
    s.set(&Settings::tone_pad_x, 0);
    s.set(&Settings::tone_pad_y, 0);
    return true;
}

void toneSetBand(Settings& s, ToneBand band, int32_t value)
{
    Settings::Transaction transaction(s);
    s.set(bandField(band), clampBand(value));
    toneRebase(s);
    s.touch(Counter::Tone);
}

void gateSet(Settings& s, GateControl control, int32_t value)
{
    s.set(*findField(gateKey(control)), value);
}

void gateResetToDefault(Settings& s, GateControl control)
{
    const FieldInfo& field = *findField(gateKey(control));
    s.set(field, field.defaultValue);
}

void toneResetAll(Settings& s)
{
    Settings::Transaction transaction(s);
    s.set(&Settings::tone_on, 1);
    for (IntField Settings::*f :
        {&Settings::tone_pad_x, &Settings::tone_pad_y, &Settings::tone_base_lo, &Settings::tone_base_mid,
            &Settings::tone_base_hi, &Settings::tone_lo, &Settings::tone_mid, &Settings::tone_hi})
        s.set(f, 0);
    s.touch(Counter::Tone);
    for (GateControl c :
        {GateControl::VocalLevel, GateControl::Lo, GateControl::Mid, GateControl::Hi, GateControl::Out}) {
        const FieldInfo& field = *findField(gateKey(c));
        s.set(field, field.defaultValue);
    }
    s.touch(Counter::Isolation);
}

} // namespace settings
