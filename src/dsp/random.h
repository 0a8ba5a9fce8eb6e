#pragma once
// The linear-congruential generator (Numerical Recipes constants): every user
// seeds and owns its own state, so runs are reproducible and thread-free.

#include <cstdint>

namespace dsp {

struct Lcg {
    uint32_t state = 0;

    // state ← state·1664525 + 1013904223 (mod 2^32); returns the new state.
    uint32_t next() noexcept { return state = state * 1664525u + 1013904223u; }
    // Two steps at once: the step composed with itself.
    uint32_t next2() noexcept { return state = state * 389569705u + 1196435762u; }
    // Uniform in [0, 1): the top 24 bits of the next state.
    float uniform() noexcept { return static_cast<float>(next() >> 8) * (1.0f / 16777216.0f); }
    // Uniform in [−1, 1).
    float bipolar() noexcept { return 2.0f * uniform() - 1.0f; }
};

} // namespace dsp
