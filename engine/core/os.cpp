#include "engine/core/os.h"

#include <pthread.h>
#include <time.h>

#include <condition_variable>
#include <mutex>
#include <new>

namespace {

constexpr uint32_t kMinStack = 256 * 1024;

enum class Kind : uint32_t { Event = 0x45564E54, Semaphore = 0x53454D41 };

// Events and semaphores share one record so OsWait and OsCloseHandle can take either.
struct WaitObject {
    Kind kind;
    std::mutex mutex;
    std::condition_variable cv;
    int count = 0;  // event: 0/1 signalled; semaphore: current count
    int maximum = 1;
};

struct ThreadRecord {
    pthread_t thread;
};

struct ThreadStart {
    OsThreadEntry entry;
    void *arg;
};

void *ThreadMain(void *p) {
    ThreadStart start = *static_cast<ThreadStart *>(p);
    delete static_cast<ThreadStart *>(p);
    start.entry(start.arg);
    return nullptr;
}

WaitObject *AsWaitObject(OsHandle h) {
    if (h == 0 || h == -1) return nullptr;
    return reinterpret_cast<WaitObject *>(h);
}

}  // namespace

OsHandle OsCreateEvent(const char *) {
    auto *w = new (std::nothrow) WaitObject;
    if (!w) return 0;
    w->kind = Kind::Event;
    return reinterpret_cast<OsHandle>(w);
}

int OsSetEvent(OsHandle event) {
    WaitObject *w = AsWaitObject(event);
    if (!w || w->kind != Kind::Event) return 0;
    {
        std::lock_guard<std::mutex> lock(w->mutex);
        w->count = 1;
    }
    w->cv.notify_one();
    return 1;
}

OsHandle OsCreateSemaphore(int initial, int maximum, const char *) {
    if (maximum <= 0 || initial < 0 || initial > maximum) return 0;
    auto *w = new (std::nothrow) WaitObject;
    if (!w) return 0;
    w->kind = Kind::Semaphore;
    w->count = initial;
    w->maximum = maximum;
    return reinterpret_cast<OsHandle>(w);
}

int OsReleaseSemaphore(OsHandle sem) {
    WaitObject *w = AsWaitObject(sem);
    if (!w || w->kind != Kind::Semaphore) return 0;
    {
        std::lock_guard<std::mutex> lock(w->mutex);
        if (w->count >= w->maximum) return 0;
        ++w->count;
    }
    w->cv.notify_one();
    return 1;
}

int OsWait(OsHandle handle, uint32_t ms) {
    WaitObject *w = AsWaitObject(handle);
    if (!w) return 0;
    std::unique_lock<std::mutex> lock(w->mutex);
    auto ready = [w] { return w->count > 0; };
    if (ms >= OS_WAIT_FOREVER) {
        w->cv.wait(lock, ready);
    } else if (!w->cv.wait_for(lock, std::chrono::milliseconds(ms), ready)) {
        return 0;
    }
    // Both kinds consume what they were woken by: an auto-reset event resets itself.
    --w->count;
    return 1;
}

int OsCloseHandle(OsHandle handle) {
    WaitObject *w = AsWaitObject(handle);
    if (!w) return 1;
    delete w;
    return 1;
}

namespace {
bool Usable(OsLockHandle lock) { return lock != OsLockHandle{} && lock != INVALID_LOCK; }
std::recursive_mutex *AsMutex(OsLockHandle lock) {
    return reinterpret_cast<std::recursive_mutex *>(static_cast<intptr_t>(lock));
}
}  // namespace

OsLockHandle OsCreateLock() {
    auto *m = new (std::nothrow) std::recursive_mutex;
    return m ? OsLockHandle(reinterpret_cast<intptr_t>(m)) : INVALID_LOCK;
}

int OsDeleteLock(OsLockHandle lock) {
    if (Usable(lock)) delete AsMutex(lock);
    return 1;
}

int OsLock(OsLockHandle lock) {
    if (Usable(lock)) AsMutex(lock)->lock();
    return 1;
}

int OsUnlock(OsLockHandle lock) {
    if (Usable(lock)) AsMutex(lock)->unlock();
    return 1;
}

OsThreadHandle OsCreateThread(const char *, OsThreadEntry entry, void *arg, int,
                              uint32_t stack_size) {
    if (!entry) return INVALID_THREAD;
    auto *rec = new (std::nothrow) ThreadRecord;
    auto *start = new (std::nothrow) ThreadStart{entry, arg};
    if (!rec || !start) {
        delete rec;
        delete start;
        return INVALID_THREAD;
    }
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    // The engine's task stacks are sized for another platform; below a safe floor they are raised.
    pthread_attr_setstacksize(&attr, stack_size < kMinStack ? kMinStack : stack_size);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    int rc = pthread_create(&rec->thread, &attr, ThreadMain, start);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        delete rec;
        delete start;
        return INVALID_THREAD;
    }
    return OsThreadHandle(reinterpret_cast<intptr_t>(rec));
}

void OsCloseThread(OsThreadHandle thread) {
    if (thread != OsThreadHandle{} && thread != INVALID_THREAD)
        delete reinterpret_cast<ThreadRecord *>(static_cast<intptr_t>(thread));
}

void OsExitThread() { pthread_exit(nullptr); }

void OsSleep(uint32_t ms) {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0) {
    }
}

uint32_t OsTickCount() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                                 static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}
