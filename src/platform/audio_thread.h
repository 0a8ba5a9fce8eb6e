#pragma once
// Floating-point set-up of an audio thread.

namespace platform {

// Makes denormal results flush to zero and denormal inputs read as zero on
// the calling thread, so that decaying filters never fall onto the slow path.
void flushDenormals() noexcept;
// Whether the calling thread flushes denormals (for tests).
bool denormalsFlushed() noexcept;

} // namespace platform
