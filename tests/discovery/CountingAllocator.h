#pragma once
// Counts (and on request fails) the program's heap allocations while armed. Linking
// CountingAllocator.cpp into a program replaces the global operator new and delete.
#include <cstddef>

struct AllocationCounts {
    long allocations = 0;
    long releases = 0;
};

// Counts while alive; with failAt > 0 the failAt-th allocation throws std::bad_alloc.
class CountingScope {
public:
    explicit CountingScope(long failAt = 0);
    ~CountingScope();
    CountingScope(const CountingScope&) = delete;
    CountingScope& operator=(const CountingScope&) = delete;

    AllocationCounts Counts() const;
    bool Failed() const;
};
