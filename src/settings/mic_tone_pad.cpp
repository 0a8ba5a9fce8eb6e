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

// Writes value into the field; the caller moves the counter once.
bool put(IntField& field, int32_t value)
{
    return field.exchange(value, kRelaxed) != value;
}

IntField& bandField(Settings& s, ToneBand band)
{
    switch (band) {
    case ToneBand::Lo:
        return s.tone_lo;
    case ToneBand::Mid:
        return s.tone_mid;
    case ToneBand::Hi:
        break;
    }
    return s.tone_hi;
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
    bool changed = put(s.tone_lo, e.lo);
    changed |= put(s.tone_mid, e.mid);
    changed |= put(s.tone_hi, e.hi);
    return changed;
}

} // namespace

int32_t tonePadOffset(int32_t v)
{
    return static_cast<int32_t>(std::lround(2.4 * static_cast<double>(v)));
}

void toneMovePad(Settings& s, int32_t x, int32_t y)
{
    put(s.tone_pad_x, std::clamp(x, -100, 100));
    put(s.tone_pad_y, std::clamp(y, -100, 100));
    applyPad(s);
    bump(s, Counter::Tone);
}

void toneResetPad(Settings& s)
{
    put(s.tone_pad_x, 0);
    put(s.tone_pad_y, 0);
    applyPad(s);
    bump(s, Counter::Tone);
}

bool toneRebase(Settings& s)
{
    const Expected e = bandsFromPad(s);
    const int32_t lo = s.tone_lo.load(kRelaxed);
    const int32_t mid = s.tone_mid.load(kRelaxed);
    const int32_t hi = s.tone_hi.load(kRelaxed);
    if (lo == e.lo && mid == e.mid && hi == e.hi)
        return false;
    put(s.tone_base_lo, lo);
    put(s.tone_base_mid, mid);
    put(s.tone_base_hi, hi);
    put(s.tone_pad_x, 0);
    put(s.tone_pad_y, 0);
    return true;
}

void toneSetBand(Settings& s, ToneBand band, int32_t value)
{
    put(bandField(s, band), clampBand(value));
    toneRebase(s);
    bump(s, Counter::Tone);
}

void gateSet(Settings& s, GateControl control, int32_t value)
{
    setField(s, *findField(gateKey(control)), value);
}

void gateResetToDefault(Settings& s, GateControl control)
{
    const FieldInfo& field = *findField(gateKey(control));
    setField(s, field, field.defaultValue);
}

void toneResetAll(Settings& s)
{
    s.tone_on.store(1, kRelaxed);
    for (IntField* f : {&s.tone_pad_x, &s.tone_pad_y, &s.tone_base_lo, &s.tone_base_mid, &s.tone_base_hi, &s.tone_lo,
             &s.tone_mid, &s.tone_hi})
        put(*f, 0);
    bump(s, Counter::Tone);
    for (GateControl c :
        {GateControl::VocalLevel, GateControl::Lo, GateControl::Mid, GateControl::Hi, GateControl::Out}) {
        const FieldInfo& field = *findField(gateKey(c));
        field.store(s, field.defaultValue);
    }
    bump(s, Counter::Isolation);
}

} // namespace settings
