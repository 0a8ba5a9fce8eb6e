#pragma once
// Counts heap allocations made on the calling thread while a guard is alive.
// The global operator new of the test executable is replaced to do it.

#include <cstddef>

namespace test {

class AllocationCounter {
public:
    AllocationCounter();
    ~AllocationCounter();
    AllocationCounter(const AllocationCounter&) = delete;
    AllocationCounter& operator=(const AllocationCounter&) = delete;

    // Allocations on this thread since the guard was made.
    size_t count() const;

private:
    size_t start_ = 0;
};

} // namespace test
