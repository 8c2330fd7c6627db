#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <random>
#include <vector>

#include "engine/core/sample_queue.h"

namespace {

struct QueueDeleter {
    void operator()(SampleQueue *q) const { SampleQueueDestroy(q); }
};
using QueuePtr = std::unique_ptr<SampleQueue, QueueDeleter>;

uint32_t Push(SampleQueue *q, uint32_t size, uint8_t fill, int64_t ts = 0) {
    uint8_t *w = nullptr;
    uint32_t cap = 0;
    if (!SampleQueueReserve(q, &w, &cap)) return 0;
    EXPECT_GE(cap, size);
    std::memset(w, fill, size);
    SampleQueueCommit(q, size, ts, 33, 0);
    return 1;
}

TEST(SampleQueue, ArenaAndSlotsAreSizedForTwoLargestSamples) {
    QueuePtr q(SampleQueueCreate(2, 1000, 0, true));
    ASSERT_TRUE(q);
    EXPECT_EQ(q->arena_size, 2u * 1000 + 2000);
    EXPECT_EQ(q->slot_count, 20u);
    EXPECT_EQ(q->nominal, 1000u);
    QueuePtr deep(SampleQueueCreate(4, 1000, 100, false));
    ASSERT_TRUE(deep);
    EXPECT_EQ(deep->arena_size, 2u * 1000 + 2000);  // 4 x 100 is below two largest samples
}

TEST(SampleQueue, ReserveIsRefusedWithoutAFreeSlotOrContiguousRoom) {
    // Twenty tiny samples fill every slot while bytes remain.
    QueuePtr q(SampleQueueCreate(2, 100, 0, true));
    for (int i = 0; i < 20; ++i) ASSERT_EQ(Push(q.get(), 1, uint8_t(i)), 1u) << i;
    uint8_t *w;
    uint32_t cap;
    EXPECT_EQ(SampleQueueReserve(q.get(), &w, &cap), 0);

    // Slots are free but the arena holds two largest samples; a third cannot fit.
    QueuePtr r(SampleQueueCreate(2, 1000, 0, true));
    ASSERT_EQ(Push(r.get(), 1000, 1), 1u);
    ASSERT_EQ(Push(r.get(), 1000, 2), 1u);
    EXPECT_EQ(SampleQueueReserve(r.get(), &w, &cap), 0);
    SampleQueueRelease(r.get(), nullptr, 0);
    EXPECT_EQ(SampleQueueReserve(r.get(), &w, &cap), 1);  // wraps to the front again
}

TEST(SampleQueue, LeftoverOfTheOnlySampleIsJoinedToTheNextOne) {
    QueuePtr q(SampleQueueCreate(2, 1000, 0, true));
    ASSERT_EQ(Push(q.get(), 1000, 7), 1u);
    SampleSlot s;
    ASSERT_EQ(SampleQueuePeek(q.get(), &s), 1);
    std::memset(s.data + 700, 9, 300);
    SampleQueueRelease(q.get(), s.data + 700, 300);  // 300 bytes unconsumed, nothing after
    EXPECT_EQ(SampleQueueCount(q.get()), 0u);

    uint8_t *w;
    uint32_t cap;
    ASSERT_EQ(SampleQueueReserve(q.get(), &w, &cap), 1);
    EXPECT_EQ(w, q->arena + 2000);
    EXPECT_EQ(q->pending, q->arena + 1700);
    std::memset(w, 5, 1000);
    SampleQueueCommit(q.get(), 1000, 40, 20, 0);
    ASSERT_EQ(SampleQueuePeek(q.get(), &s), 1);
    EXPECT_EQ(s.data, q->arena + 1700);
    EXPECT_EQ(s.size, 1300u);
    for (int i = 0; i < 300; ++i) ASSERT_EQ(s.data[i], 9);
    for (int i = 300; i < 1300; ++i) ASSERT_EQ(s.data[i], 5);
}

TEST(SampleQueue, LeftoverJoinsAQueuedSuccessorWhereverItLies) {
    QueuePtr q(SampleQueueCreate(2, 1000, 0, true));
    ASSERT_EQ(Push(q.get(), 600, 1), 1u);
    ASSERT_EQ(Push(q.get(), 400, 2), 1u);
    SampleSlot s;
    SampleQueuePeek(q.get(), &s);
    // Contiguous: the last 100 bytes of the first sample end where the second starts.
    SampleQueueRelease(q.get(), s.data + 500, 100);
    SampleQueuePeek(q.get(), &s);
    EXPECT_EQ(s.size, 500u);
    EXPECT_EQ(s.data[0], 1);
    EXPECT_EQ(s.data[100], 2);
    // Not contiguous: a leftover from the middle is moved in front of the next sample.
    ASSERT_EQ(Push(q.get(), 300, 3), 1u);
    SampleQueuePeek(q.get(), &s);
    SampleQueueRelease(q.get(), s.data + 10, 50);
    SampleQueuePeek(q.get(), &s);
    EXPECT_EQ(s.size, 350u);
    EXPECT_EQ(s.data[0], 1);
    EXPECT_EQ(s.data[49], 1);
    EXPECT_EQ(s.data[50], 3);
}

TEST(SampleQueue, GrowKeepsQueuedSamplesAndTheirOrder) {
    QueuePtr q(SampleQueueCreate(2, 500, 0, true));
    ASSERT_EQ(Push(q.get(), 500, 1, 0), 1u);
    ASSERT_EQ(Push(q.get(), 200, 2, 33), 1u);
    SampleSlot s;
    SampleQueuePeek(q.get(), &s);
    SampleQueueRelease(q.get(), s.data + 450, 50);  // joined to the second sample
    ASSERT_EQ(SampleQueueGrow(q.get(), 5000), 1);
    EXPECT_EQ(q->largest, 5000u);
    ASSERT_EQ(Push(q.get(), 5000, 3, 66), 1u);
    ASSERT_EQ(SampleQueuePeek(q.get(), &s), 1);
    EXPECT_EQ(s.size, 250u);
    EXPECT_EQ(s.time_ms, 33);
    EXPECT_EQ(s.data[0], 1);
    EXPECT_EQ(s.data[249], 2);
    SampleQueueRelease(q.get(), nullptr, 0);
    ASSERT_EQ(SampleQueuePeek(q.get(), &s), 1);
    EXPECT_EQ(s.size, 5000u);
    EXPECT_EQ(s.data[4999], 3);
}

// A decoder that consumes arbitrary parts of each sample and leaves the rest: the byte stream it
// sees must be exactly the bytes written, in order, whatever the sizes (ASan watches the arena).
TEST(SampleQueue, PartialConsumptionPreservesTheByteStream) {
    std::mt19937 rng(1234);
    for (uint32_t largest : {64u, 1500u, 2500u, 9000u}) {
        QueuePtr q(SampleQueueCreate(2, largest, 0, false));
        ASSERT_TRUE(q);
        std::deque<uint8_t> expected;
        uint8_t next_byte = 0;
        uint64_t consumed = 0;
        for (int step = 0; step < 4000; ++step) {
            if (rng() % 2) {
                uint8_t *w;
                uint32_t cap;
                if (SampleQueueReserve(q.get(), &w, &cap)) {
                    uint32_t n = 1 + rng() % largest;
                    for (uint32_t i = 0; i < n; ++i) {
                        w[i] = next_byte;
                        expected.push_back(next_byte++);
                    }
                    SampleQueueCommit(q.get(), n, step, 0, 0);
                }
            } else {
                SampleSlot s;
                if (!SampleQueuePeek(q.get(), &s)) continue;
                // Consume a whole sample, or most of it and leave a tail (never more than a sample).
                uint32_t use = (rng() % 3 == 0) ? s.size : 1 + rng() % s.size;
                for (uint32_t i = 0; i < use; ++i) {
                    ASSERT_EQ(s.data[i], expected.front()) << "byte " << consumed;
                    expected.pop_front();
                    ++consumed;
                }
                uint32_t left = s.size - use;
                if (left > largest) left = largest;  // a decoder never holds back more than a frame
                for (uint32_t i = 0; i < s.size - use - left; ++i) {
                    expected.pop_front();
                    ++consumed;
                }
                SampleQueueRelease(q.get(), left ? s.data + s.size - left : nullptr, left);
            }
        }
        EXPECT_GT(consumed, 1000u);
    }
}

}  // namespace
