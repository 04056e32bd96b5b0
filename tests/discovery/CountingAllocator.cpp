#include "CountingAllocator.h"

#include <cstdlib>
#include <new>

namespace {

bool g_armed = false;
long g_failAt = 0;
bool g_failed = false;
AllocationCounts g_counts;

void* Allocate(std::size_t size)
{
    if (g_armed) {
        ++g_counts.allocations;
        if (g_failAt != 0 && g_counts.allocations == g_failAt) {
            g_failed = true;
            --g_counts.allocations; // nothing was handed out
            throw std::bad_alloc();
        }
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}

void Release(void* memory)
{
    if (memory && g_armed) {
        ++g_counts.releases;
    }
    std::free(memory);
}

} // namespace

CountingScope::CountingScope(long failAt)
{
    g_counts = {};
    g_failAt = failAt;
    g_failed = false;
    g_armed = true;
}

CountingScope::~CountingScope()
{
    g_armed = false;
}

AllocationCounts CountingScope::Counts() const
{
    return g_counts;
}

bool CountingScope::Failed() const
{
    return g_failed;
}

void* operator new(std::size_t size)
{
    return Allocate(size);
}

void* operator new[](std::size_t size)
{
    return Allocate(size);
}

void operator delete(void* memory) noexcept
{
    Release(memory);
}

void operator delete[](void* memory) noexcept
{
    Release(memory);
}

void operator delete(void* memory, std::size_t) noexcept
{
    Release(memory);
}

void operator delete[](void* memory, std::size_t) noexcept
{
    Release(memory);
}
