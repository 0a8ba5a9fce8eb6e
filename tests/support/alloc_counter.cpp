#include "support/alloc_counter.h"

#include <cstdlib>
#include <new>

// ThreadSanitizer's runtime defines operator new and delete itself; there the
// allocations are counted through its allocation hook instead.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define OVIX_COUNT_WITH_SANITIZER_HOOK 1
#include <sanitizer/allocator_interface.h>
#endif
#endif

namespace {

thread_local size_t tAllocations = 0; // on this thread, counted while armed
thread_local size_t tFrees = 0;
thread_local int tArmed = 0;  // live guards on this thread
thread_local int tPaused = 0; // live pauses on this thread

bool counting() noexcept
{
    return tArmed > 0 && tPaused == 0;
}

#ifdef OVIX_COUNT_WITH_SANITIZER_HOOK
void countAllocation(const volatile void*, std::size_t)
{
    if (counting())
        ++tAllocations;
}
void countRelease(const volatile void* p)
{
    if (p != nullptr && counting())
        ++tFrees;
}
[[maybe_unused]] const int kHookInstalled = __sanitizer_install_malloc_and_free_hooks(countAllocation, countRelease);
#else

void release(void* p) noexcept
{
    if (p != nullptr && counting())
        ++tFrees;
    std::free(p);
}

void* allocate(std::size_t size) noexcept
{
    if (counting())
        ++tAllocations;
    return std::malloc(size == 0 ? 1 : size);
}

void* allocateAligned(std::size_t size, std::align_val_t align) noexcept
{
    if (counting())
        ++tAllocations;
    const auto alignment = static_cast<std::size_t>(align);
    const std::size_t rounded = ((size == 0 ? 1 : size) + alignment - 1) / alignment * alignment;
#ifdef _WIN32
    return _aligned_malloc(rounded, alignment);
#else
    return std::aligned_alloc(alignment, rounded);
#endif
}

void releaseAligned(void* p) noexcept
{
    if (p != nullptr && counting())
        ++tFrees;
#ifdef _WIN32
    _aligned_free(p);
#else
    std::free(p);
#endif
}

void* allocateOrThrow(std::size_t size)
{
    if (void* p = allocate(size))
        return p;
    throw std::bad_alloc();
}

void* allocateAlignedOrThrow(std::size_t size, std::align_val_t align)
{
    if (void* p = allocateAligned(size, align))
        return p;
    throw std::bad_alloc();
}
#endif

} // namespace

namespace test {

AllocationCounter::AllocationCounter() noexcept : start_(tAllocations), startFrees_(tFrees)
{
    ++tArmed;
}

AllocationCounter::~AllocationCounter()
{
    --tArmed;
}

size_t AllocationCounter::count() const noexcept
{
    return tAllocations - start_;
}

size_t AllocationCounter::frees() const noexcept
{
    return tFrees - startFrees_;
}

AllocationCounter::Pause::Pause() noexcept
{
    ++tPaused;
}

AllocationCounter::Pause::~Pause()
{
    --tPaused;
}

} // namespace test

#ifndef OVIX_COUNT_WITH_SANITIZER_HOOK
void* operator new(std::size_t size)
{
    return allocateOrThrow(size);
}
void* operator new[](std::size_t size)
{
    return allocateOrThrow(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return allocate(size);
}
void* operator new(std::size_t size, std::align_val_t align)
{
    return allocateAlignedOrThrow(size, align);
}
void* operator new[](std::size_t size, std::align_val_t align)
{
    return allocateAlignedOrThrow(size, align);
}
void* operator new(std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept
{
    return allocateAligned(size, align);
}
void* operator new[](std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept
{
    return allocateAligned(size, align);
}

void operator delete(void* p) noexcept
{
    release(p);
}
void operator delete[](void* p) noexcept
{
    release(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    release(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
    release(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept
{
    release(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept
{
    release(p);
}
void operator delete(void* p, std::align_val_t) noexcept
{
    releaseAligned(p);
}
void operator delete[](void* p, std::align_val_t) noexcept
{
    releaseAligned(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept
{
    releaseAligned(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept
{
    releaseAligned(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept
{
    releaseAligned(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept
{
    releaseAligned(p);
}
#endif
