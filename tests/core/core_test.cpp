#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>

#include "engine/core/mem.h"
#include "engine/core/os.h"
#include "engine/core/result.h"

namespace {

TEST(ResultText, KnownCodesHaveTheirMessagesAndOthersAreUnknown) {
    struct Case {
        MeResult code;
        const char *text;
    };
    const Case cases[] = {
        {ME_ERR_MEMORY, "Memory allocation failed."},
        {ME_ERR_FILE_NOT_FOUND, "File not found"},
        {ME_ERR_UNSUPPORTED_FILE, "Unsupported file"},
        {ME_ERR_TIMEOUT, "Time out is occurerd"},
        {ME_ERR_DISCONNECTED_SERVER, "Disconnected from sever"},
        {ME_ERR_NO_DATA, "No data is received from server"},
        {ME_ERR_URL_MOVED, "Requested URL is moved."},
        // Internal codes and anything else have no message of their own.
        {MeCode(0x80000005u), "Unknown error"},
        {ME_ERR_END_OF_DATA, "Unknown error"},
        {ME_FAIL, "Unknown error"},
        {ME_OK, "Unknown error"},
        {12345, "Unknown error"},
    };
    for (const Case &c : cases) EXPECT_STREQ(MeErrorText(c.code), c.text) << std::hex << c.code;
    EXPECT_TRUE(MeFailed(ME_ERR_LATE));
    EXPECT_FALSE(MeFailed(ME_OK));
}

TEST(Memory, ReallocOfZeroKeepsTheBlockAndRegrowCopiesAndClears) {
    auto *block = static_cast<uint8_t *>(MemAllocZero(16));
    ASSERT_NE(block, nullptr);
    std::memset(block, 0xAB, 16);
    EXPECT_EQ(MemRealloc(block, 0), block);
    EXPECT_EQ(block[15], 0xAB);  // still ours, still intact

    auto *grown = static_cast<uint8_t *>(MemRegrow(block, 64, 8));
    ASSERT_NE(grown, nullptr);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(grown[i], 0xAB);
    for (int i = 8; i < 64; ++i) EXPECT_EQ(grown[i], 0);
    MemFree(grown);

    EXPECT_EQ(MemAllocZeroStrict(0), nullptr);
    void *one = MemAllocZero(0);
    EXPECT_NE(one, nullptr);
    MemFree(one);
    MemFree(nullptr);
}

TEST(Events, AutoResetAndTimeouts) {
    OsHandle e = OsCreateEvent(nullptr);
    ASSERT_NE(e, 0);
    EXPECT_EQ(OsWait(e, 0), 0);  // created unsignalled
    EXPECT_EQ(OsSetEvent(e), 1);
    EXPECT_EQ(OsWait(e, 0), 1);
    EXPECT_EQ(OsWait(e, 0), 0);  // reset by the wait
    uint32_t before = OsTickCount();
    EXPECT_EQ(OsWait(e, 30), 0);
    EXPECT_GE(OsTickCount() - before, 25u);
    EXPECT_EQ(OsCloseHandle(e), 1);
    EXPECT_EQ(OsCloseHandle(0), 1);
}

TEST(Semaphores, CountUpToTheMaximum) {
    OsHandle s = OsCreateSemaphore(1, 2, nullptr);
    ASSERT_NE(s, 0);
    EXPECT_EQ(OsReleaseSemaphore(s), 1);
    EXPECT_EQ(OsReleaseSemaphore(s), 0);  // already at the maximum
    EXPECT_EQ(OsWait(s, 0), 1);
    EXPECT_EQ(OsWait(s, 0), 1);
    EXPECT_EQ(OsWait(s, 0), 0);
    OsCloseHandle(s);
}

struct TaskArgs {
    OsLockHandle lock;
    OsHandle done;
    std::atomic<int> counter{0};
    std::atomic<OsThreadHandle> handle{OsThreadHandle{}};
};

void Task(void *p) {
    auto *a = static_cast<TaskArgs *>(p);
    char big[64 * 1024];  // more than the 4096-byte stack asked for
    std::memset(big, 1, sizeof big);
    for (int i = 0; i < 1000; ++i) {
        OsLock(a->lock);
        OsLock(a->lock);  // recursive
        a->counter.fetch_add(big[i % sizeof big], std::memory_order_relaxed);
        OsUnlock(a->lock);
        OsUnlock(a->lock);
    }
    OsSetEvent(a->done);
    // The engine's tasks publish -1 as their last act, after their creator has stored the handle;
    // a task that ran to its end before that store would otherwise see its -1 overwritten.
    while (a->handle.load() == OsThreadHandle{}) OsSleep(1);
    a->handle.store(INVALID_THREAD);
    OsExitThread();
}

TEST(Threads, SmallStacksAreRaisedAndTasksPublishTheirEnd) {
    TaskArgs args;
    args.lock = OsCreateLock();
    args.done = OsCreateEvent(nullptr);
    ASSERT_NE(args.lock, INVALID_LOCK);
    OsThreadHandle t = OsCreateThread("test task", Task, &args, OS_PRIORITY_TIME_CRITICAL, 4096);
    ASSERT_NE(t, INVALID_THREAD);
    ASSERT_NE(t, OsThreadHandle{});
    args.handle.store(t);
    EXPECT_EQ(OsWait(args.done, 5000), 1);
    for (int i = 0; i < 500 && args.handle.load() != INVALID_THREAD; ++i) OsSleep(10);
    EXPECT_EQ(args.handle.load(), INVALID_THREAD);
    EXPECT_EQ(args.counter.load(), 1000);
    OsCloseThread(t);
    OsDeleteLock(args.lock);
    OsCloseHandle(args.done);
    EXPECT_EQ(OsCreateThread("none", nullptr, nullptr, 0, 0), INVALID_THREAD);
}

}  // namespace
