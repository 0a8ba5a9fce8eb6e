#pragma once
// Counts heap allocations and frees made on the calling thread while a guard
// is alive. Linking alloc_counter.cpp into a test binary replaces the global
// operator new and delete (every form) with versions that count and then use
// malloc and free.
//
//     test::AllocationCounter counter;
//     for (int b = 0; b < 100; ++b) effect.process(block, frames);
//     EXPECT_EQ(counter.count(), 0u);
//
// Only the thread that made the guard is counted, so gtest's own bookkeeping
// on other threads never shows up. Guards nest; each sees its own span. A
// Pause stops the counting on its thread while it lives: for work that a
// test does on the engine's thread in place of another thread.

#include <cstddef>

namespace test {

class AllocationCounter {
public:
    AllocationCounter() noexcept;
    ~AllocationCounter();
    AllocationCounter(const AllocationCounter&) = delete;
    AllocationCounter& operator=(const AllocationCounter&) = delete;

    // Allocations on this thread since the guard was made.
    size_t count() const noexcept;
    // Frees (of memory, not of null) on this thread since the guard was made.
    size_t frees() const noexcept;

    class Pause {
    public:
        Pause() noexcept;
        ~Pause();
        Pause(const Pause&) = delete;
        Pause& operator=(const Pause&) = delete;
    };

private:
    size_t start_ = 0;
    size_t startFrees_ = 0;
};

} // namespace test
