#include "platform/audio_thread.h"

#include "platform/audio_stream.h"

#include <cstdint>

#if defined(__SSE__) || defined(_M_X64) || defined(_M_IX86_FP)
#include <xmmintrin.h>
#define OVIX_HAVE_MXCSR 1
#endif

namespace platform {

namespace {
#if defined(OVIX_HAVE_MXCSR)
constexpr unsigned kFlushToZero = 0x8000;    // MXCSR FTZ
constexpr unsigned kDenormalsAreZero = 0x40; // MXCSR DAZ
#endif
} // namespace

void flushDenormals() noexcept
{
#if defined(OVIX_HAVE_MXCSR)
    _mm_setcsr(_mm_getcsr() | kFlushToZero | kDenormalsAreZero);
#elif defined(__aarch64__)
    uint64_t fpcr = 0;
    __asm__ volatile("mrs %0, fpcr" : "=r"(fpcr));
    fpcr |= (uint64_t{1} << 24); // FZ
    __asm__ volatile("msr fpcr, %0" : : "r"(fpcr));
#endif
}

bool denormalsFlushed() noexcept
{
#if defined(OVIX_HAVE_MXCSR)
    return (_mm_getcsr() & (kFlushToZero | kDenormalsAreZero)) == (kFlushToZero | kDenormalsAreZero);
#else
    return false;
#endif
}

const char* describe(AudioResult result)
{
    switch (result) {
    case AudioResult::Ok:
        return "ok";
    case AudioResult::NotFound:
        return "endpoint not found";
    case AudioResult::DeviceGone:
        return "device gone";
    case AudioResult::Refused:
        return "refused";
    case AudioResult::Unsupported:
        return "unsupported";
    case AudioResult::WrongState:
        return "wrong state";
    case AudioResult::BufferError:
        return "buffer error";
    case AudioResult::Failed:
        break;
    }
    return "failed";
}

} // namespace platform
