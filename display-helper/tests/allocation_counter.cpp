#include "allocation_counter.h"

#include <atomic>
#include <cstdlib>
#include <new>

// A translation unit of its own: inlined into a test, the replaced operators draw
// mismatched-allocation warnings from the compiler.

namespace {
std::atomic<long> g_allocations{0};
}

void* operator new(std::size_t size)
{
    ++g_allocations;
    if (void* block = std::malloc(size == 0 ? 1 : size)) {
        return block;
    }
    throw std::bad_alloc();
}

void operator delete(void* block) noexcept
{
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept
{
    std::free(block);
}

namespace tolvek::testing {

long allocations_so_far()
{
    return g_allocations.load();
}

} // namespace tolvek::testing
