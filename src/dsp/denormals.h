#pragma once
// Flush-to-zero and denormals-are-zero for the calling thread while in scope.
// Every audio thread (and offline render worker) holds one: decaying filter
// tails would otherwise fall into denormals and cost hundreds of cycles each.

#if defined(__SSE__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 1)
#include <xmmintrin.h>
#define OVIX_DSP_HAS_MXCSR 1
#endif

namespace dsp {

class ScopedFlushDenormals {
public:
    ScopedFlushDenormals() noexcept
    {
#ifdef OVIX_DSP_HAS_MXCSR
        saved_ = _mm_getcsr();
        _mm_setcsr(saved_ | 0x8040u); // FTZ (bit 15) | DAZ (bit 6)
#endif
    }
    ~ScopedFlushDenormals()
    {
#ifdef OVIX_DSP_HAS_MXCSR
        _mm_setcsr(saved_);
#endif
    }
    ScopedFlushDenormals(const ScopedFlushDenormals&) = delete;
    ScopedFlushDenormals& operator=(const ScopedFlushDenormals&) = delete;

private:
    unsigned int saved_ = 0;
};

} // namespace dsp
