#include "alloc_counter.h"

#include <cstdlib>
#include <new>

namespace {

thread_local size_t tCount = 0;
thread_local int tArmed = 0;

void* allocate(std::size_t size, std::size_t align)
{
    if (tArmed > 0)
        ++tCount;
    if (size == 0)
        size = 1;
    void* p = nullptr;
    if (align > alignof(std::max_align_t)) {
        size = (size + align - 1) / align * align;
        p = std::aligned_alloc(align, size);
    } else {
        p = std::malloc(size);
    }
    if (!p)
        throw std::bad_alloc();
    return p;
}

} // namespace

namespace test {

AllocationCounter::AllocationCounter() : start_(tCount)
{
    ++tArmed;
}

AllocationCounter::~AllocationCounter()
{
    --tArmed;
}

size_t AllocationCounter::count() const
{
    return tCount - start_;
}

} // namespace test

void* operator new(std::size_t size)
{
    return allocate(size, 0);
}
void* operator new[](std::size_t size)
{
    return allocate(size, 0);
}
void* operator new(std::size_t size, std::align_val_t align)
{
    return allocate(size, static_cast<std::size_t>(align));
}
void* operator new[](std::size_t size, std::align_val_t align)
{
    return allocate(size, static_cast<std::size_t>(align));
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return allocate(size, 0);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return allocate(size, 0);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete[](void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept
{
    std::free(p);
}
