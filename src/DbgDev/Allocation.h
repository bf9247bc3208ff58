// The library's heap allocations (command records, the recorded serial number) go through one
// calloc-like function, so that a test can make them fail.
#ifndef DRAVIK_ALLOCATION_H
#define DRAVIK_ALLOCATION_H

#include <cstddef>

namespace dravik {

using AllocatorFn = void* (*)(size_t count, size_t size);

// Zero-filled memory for `count` objects of `size` bytes, freed with free(); null on failure.
void* Allocate(size_t count, size_t size);
// Replaces the allocator (null restores calloc) and returns the one it replaced.
AllocatorFn SetAllocator(AllocatorFn allocator);

}  // namespace dravik

#endif
