#include "engine/core/sample_queue.h"

#include <cstring>

#include "engine/core/mem.h"

namespace {

uint64_t PayloadSize(uint32_t depth, uint32_t largest, uint32_t nominal) {
    if (depth > 2) {
        uint64_t p = uint64_t(depth) * nominal;
        return p < 2ull * largest ? 2ull * largest : p;
    }
    return uint64_t(depth) * largest;
}

uint32_t MarginFor(uint32_t largest) {
    return largest > kSampleQueueMargin ? largest : kSampleQueueMargin;
}

SampleSlot &Oldest(SampleQueue *q) { return q->slots[q->read_index]; }
SampleSlot &Newest(SampleQueue *q) {
    return q->slots[(q->write_index + q->slot_count - 1) % q->slot_count];
}

}  // namespace

SampleQueue *SampleQueueCreate(uint32_t depth, uint32_t largest, uint32_t nominal, bool zero_fill) {
    if (largest == 0 || depth == 0) return nullptr;
    auto *q = MemNew<SampleQueue>();
    if (!q) return nullptr;
    q->depth = depth;
    q->largest = largest;
    q->nominal = nominal ? nominal : largest;
    q->zero_fill = zero_fill ? 1 : 0;
    q->margin = MarginFor(largest);
    uint64_t arena = PayloadSize(depth, largest, q->nominal) + q->margin;
    q->slot_count = depth > kSampleQueueMinSlots ? depth : kSampleQueueMinSlots;
    q->lock = OsCreateLock();
    if (arena > 0x7FFFFFFF || q->lock == INVALID_LOCK) {
        SampleQueueDestroy(q);
        return nullptr;
    }
    q->arena_size = static_cast<uint32_t>(arena);
    q->arena = static_cast<uint8_t *>(zero_fill ? MemAllocZeroStrict(arena) : MemAlloc(arena));
    q->slots = static_cast<SampleSlot *>(MemAllocZero(sizeof(SampleSlot) * q->slot_count));
    if (!q->arena || !q->slots) {
        SampleQueueDestroy(q);
        return nullptr;
    }
    return q;
}

void SampleQueueDestroy(SampleQueue *q) {
    if (!q) return;
    MemFree(q->arena);
    MemFree(q->slots);
    OsDeleteLock(q->lock);
    MemFree(q);
}

int SampleQueueReserve(SampleQueue *q, uint8_t **write_ptr, uint32_t *capacity) {
    OsLockGuard guard(q->lock);
    if (q->used >= q->slot_count) return 0;
    uint8_t *base = q->arena + q->margin;
    uint8_t *arena_end = q->arena + q->arena_size;
    uint8_t *write = nullptr;
    if (q->used == 0) {
        write = base;
        if (q->pending && q->pending_size > q->margin) {
            // Longer than any sample should leave; keep its newest bytes inside the arena.
            q->pending += q->pending_size - q->margin;
            q->pending_size = q->margin;
        }
        if (q->pending && q->pending_size) {
            // The leftover moves to end exactly at the write position, so that it and the next
            // sample form one contiguous run.
            std::memmove(base - q->pending_size, q->pending, q->pending_size);
            q->pending = base - q->pending_size;
        }
    } else {
        uint8_t *head = Oldest(q).data;
        SampleSlot &n = Newest(q);
        uint8_t *end = n.data + n.size;
        if (end < head) {
            if (uint32_t(head - end) < q->largest) return 0;
            write = end;
        } else if (uint32_t(arena_end - end) >= q->largest) {
            write = end;
        } else {
            if (head < base || uint32_t(head - base) < q->largest) return 0;
            write = base;
        }
    }
    *write_ptr = write;
    *capacity = q->largest;
    return 1;
}

void SampleQueueCommit(SampleQueue *q, uint32_t written, int64_t time_ms, int64_t duration_ms,
                       uint32_t flags) {
    OsLockGuard guard(q->lock);
    if (q->used >= q->slot_count) return;
    uint8_t *base = q->arena + q->margin;
    SampleSlot &s = q->slots[q->write_index];
    if (q->used == 0) {
        s.data = base;
        s.size = written;
        if (q->pending && q->pending_size) {
            s.data = q->pending;
            s.size += q->pending_size;
            q->pending = nullptr;
            q->pending_size = 0;
        }
    } else {
        // Same placement rule as reserve: directly after the newest sample unless that ran out.
        SampleSlot &n = Newest(q);
        uint8_t *end = n.data + n.size;
        uint8_t *head = Oldest(q).data;
        uint8_t *arena_end = q->arena + q->arena_size;
        s.data = (end < head || uint32_t(arena_end - end) >= q->largest) ? end : base;
        s.size = written;
    }
    s.time_ms = time_ms;
    s.duration_ms = duration_ms;
    s.flags = flags;
    q->write_index = (q->write_index + 1) % q->slot_count;
    ++q->used;
}

int SampleQueuePeek(SampleQueue *q, SampleSlot *out) {
    OsLockGuard guard(q->lock);
    if (q->used == 0) return 0;
    *out = Oldest(q);
    return 1;
}

void SampleQueueUpdateHead(SampleQueue *q, uint8_t *data, uint32_t size, int64_t time_ms) {
    OsLockGuard guard(q->lock);
    if (q->used == 0) return;
    SampleSlot &s = Oldest(q);
    s.data = data;
    s.size = size;
    s.time_ms = time_ms;
}

void SampleQueueRelease(SampleQueue *q, const uint8_t *leftover, uint32_t leftover_size) {
    OsLockGuard guard(q->lock);
    if (q->used == 0) return;
    q->read_index = (q->read_index + 1) % q->slot_count;
    --q->used;
    if (!leftover || leftover_size == 0) return;
    // Only bytes that lie inside the arena can be kept.
    if (leftover < q->arena || leftover + leftover_size > q->arena + q->arena_size) return;
    if (q->used == 0) {
        q->pending = const_cast<uint8_t *>(leftover);
        q->pending_size = leftover_size;
        return;
    }
    SampleSlot &next = Oldest(q);
    if (leftover + leftover_size == next.data) {
        next.data = const_cast<uint8_t *>(leftover);
        next.size += leftover_size;
        return;
    }
    uint32_t room = uint32_t(next.data - q->arena);
    if (leftover_size > room) {
        // Cannot happen while every sample fits the margin; keep the newest bytes rather than
        // write in front of the arena.
        leftover += leftover_size - room;
        leftover_size = room;
    }
    std::memmove(next.data - leftover_size, leftover, leftover_size);
    next.data -= leftover_size;
    next.size += leftover_size;
}

int SampleQueueGrow(SampleQueue *q, uint32_t needed) {
    OsLockGuard guard(q->lock);
    if (needed < q->largest) return 1;
    uint64_t payload;
    if (q->depth > 2) {
        payload = 2ull * needed;
        if (payload + q->margin <= q->arena_size) {
            q->largest = needed;
            return 1;
        }
    } else {
        payload = uint64_t(q->depth) * needed;
    }
    uint32_t new_margin = MarginFor(needed);
    uint64_t size = payload + new_margin;
    if (size > 0x7FFFFFFF) return 0;
    auto *fresh = static_cast<uint8_t *>(MemAllocZeroStrict(size));
    if (!fresh) return 0;
    // The old arena moves as a whole, shifted by the growth of the margin, so every queued sample
    // keeps its bytes and its place relative to the others.
    uint32_t shift = new_margin - q->margin;
    std::memcpy(fresh + shift, q->arena, q->arena_size);
    ptrdiff_t delta = (fresh + shift) - q->arena;
    for (uint32_t i = 0, k = q->read_index; i < q->used; ++i, k = (k + 1) % q->slot_count)
        q->slots[k].data += delta;
    if (q->pending) q->pending += delta;
    MemFree(q->arena);
    q->arena = fresh;
    q->arena_size = static_cast<uint32_t>(size);
    q->margin = new_margin;
    q->largest = needed;
    return 1;
}

void SampleQueueClear(SampleQueue *q) {
    OsLockGuard guard(q->lock);
    q->used = q->read_index = q->write_index = 0;
    q->pending = nullptr;
    q->pending_size = 0;
}

uint32_t SampleQueueCount(SampleQueue *q) {
    OsLockGuard guard(q->lock);
    return q->used;
}
