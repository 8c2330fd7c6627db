#pragma once
// SampleQueue: a ring of compressed samples between the reader side and a decoder. The arena keeps
// a front margin so that a partly consumed sample ("leftover") can be joined, contiguously, to the
// front of the next one. Every operation holds the queue's recursive lock.
#include <cstdint>

#include "engine/core/os.h"

inline constexpr uint32_t kSampleQueueMargin = 2000;
inline constexpr uint32_t kSampleQueueMinSlots = 20;

struct SampleSlot {
    uint8_t *data;
    uint32_t size;
    int64_t time_ms;
    int64_t duration_ms;
    uint32_t flags;
};

struct SampleQueue {
    OsLockHandle lock;
    uint8_t *arena;
    uint8_t *pending;  // leftover of a released sample that had no successor
    uint32_t pending_size;
    uint32_t arena_size;  // payload + margin
    uint32_t largest;     // guaranteed contiguous room for one write (the capacity)
    uint32_t nominal;
    uint32_t depth;
    uint32_t zero_fill;
    uint32_t slot_count;
    SampleSlot *slots;
    uint32_t used, read_index, write_index;
    // Front margin: 2000 bytes, raised to the largest sample size so that any leftover (never
    // longer than one sample) can always be placed in front of the next sample inside the arena.
    uint32_t margin;
};

// depth: samples the arena is sized for (2 everywhere in the engine); nominal 0 = largest.
SampleQueue *SampleQueueCreate(uint32_t depth, uint32_t largest, uint32_t nominal, bool zero_fill);
void SampleQueueDestroy(SampleQueue *q);  // null tolerated
// Room for the next sample: 1 with the write pointer and capacity, 0 when no slot or room is free.
int SampleQueueReserve(SampleQueue *q, uint8_t **write_ptr, uint32_t *capacity);
void SampleQueueCommit(SampleQueue *q, uint32_t written, int64_t time_ms, int64_t duration_ms,
                       uint32_t flags);
int SampleQueuePeek(SampleQueue *q, SampleSlot *out);  // copy of the oldest slot; 0 if empty
// Rewrites the oldest slot in place (the decoder used part of it and will come back).
void SampleQueueUpdateHead(SampleQueue *q, uint8_t *data, uint32_t size, int64_t time_ms);
// Removes the oldest slot; unconsumed bytes are joined to the front of the next sample, or kept
// pending when no other sample is queued.
void SampleQueueRelease(SampleQueue *q, const uint8_t *leftover, uint32_t leftover_size);
// Raises the largest sample size to `needed` and regrows the arena; 0 if the allocation fails.
int SampleQueueGrow(SampleQueue *q, uint32_t needed);
void SampleQueueClear(SampleQueue *q);
uint32_t SampleQueueCount(SampleQueue *q);
