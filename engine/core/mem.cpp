#include "engine/core/mem.h"

#include <cstdlib>
#include <cstring>

void *MemAlloc(size_t size) { return std::malloc(size ? size : 1); }

void *MemAllocZero(size_t size) { return std::calloc(1, size ? size : 1); }

void *MemAllocZeroStrict(size_t size) { return size ? std::calloc(1, size) : nullptr; }

void *MemRealloc(void *block, size_t size) {
    if (size == 0) return block;
    return std::realloc(block, size);
}

void *MemRegrow(void *block, size_t new_size, size_t keep) {
    void *fresh = MemAllocZeroStrict(new_size);
    if (!fresh) return nullptr;
    if (block && keep) std::memcpy(fresh, block, keep < new_size ? keep : new_size);
    std::free(block);
    return fresh;
}

void MemFree(void *block) { std::free(block); }
