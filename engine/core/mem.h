#pragma once
// Memory helpers of the engine. Every engine object is allocated with MemAllocZero.
#include <cstddef>

void *MemAlloc(size_t size);                                 // uninitialised
void *MemAllocZero(size_t size);                             // cleared; size 0 still yields a block
void *MemAllocZeroStrict(size_t size);                       // cleared; size 0 yields null
void *MemRealloc(void *block, size_t size);                  // size 0 returns the block unchanged
void *MemRegrow(void *block, size_t new_size, size_t keep);  // new cleared block + keep bytes
void MemFree(void *block);                                   // null tolerated

// Typed zero-filled allocation of one engine record.
template <typename T>
T *MemNew() {
    return static_cast<T *>(MemAllocZero(sizeof(T)));
}
