#include "Allocation.h"

#include <cstdlib>

#include "DbgDev.h"

namespace dravik {

namespace {
AllocatorFn g_allocator = std::calloc;
}  // namespace

void* Allocate(size_t count, size_t size) {
    return g_allocator(count, size);
}

AllocatorFn SetAllocator(AllocatorFn allocator) {
    const AllocatorFn before = g_allocator;
    g_allocator = allocator != nullptr ? allocator : std::calloc;
    return before;
}

}  // namespace dravik

DbgDev::AllocatorT DbgDev::SwapAllocator(AllocatorT allocator) {
    return dravik::SetAllocator(allocator);
}
