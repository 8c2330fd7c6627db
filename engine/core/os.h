#pragma once
// Operating-system services of the engine: events, semaphores, recursive locks, threads, sleep and
// a millisecond tick. Every other engine layer reaches the OS only through these.
#include <cstdint>

using OsHandle = intptr_t;  // opaque; 0 is "none" for events and semaphores
inline constexpr OsHandle INVALID_THREAD = -1;
inline constexpr OsHandle INVALID_LOCK = -1;
inline constexpr uint32_t OS_WAIT_FOREVER = 0x7FFFFFFF;  // the engine's "wait forever"

// Thread priorities the engine passes (best effort here: an unprivileged process keeps its own).
inline constexpr int OS_PRIORITY_NORMAL = 0;
inline constexpr int OS_PRIORITY_HIGHEST = 2;
inline constexpr int OS_PRIORITY_TIME_CRITICAL = 15;

// Auto-reset event, initially not signalled; 0 on failure. The name is diagnostic only.
OsHandle OsCreateEvent(const char *name);
int OsSetEvent(OsHandle event);  // 1 on success
OsHandle OsCreateSemaphore(int initial, int maximum, const char *name);
int OsReleaseSemaphore(OsHandle sem);  // releases one count; 1 on success (0 at the maximum)
// 1 if the event or semaphore was signalled within ms (0 = poll, OS_WAIT_FOREVER = forever).
int OsWait(OsHandle handle, uint32_t ms);
int OsCloseHandle(OsHandle handle);  // 0 (none) is success

OsHandle OsCreateLock();  // recursive; INVALID_LOCK if no memory
int OsDeleteLock(OsHandle lock);  // 0 and INVALID_LOCK tolerated; always 1
int OsLock(OsHandle lock);
int OsUnlock(OsHandle lock);

// RAII holder for an engine lock.
class OsLockGuard {
public:
    explicit OsLockGuard(OsHandle lock) : m_lock(lock) { OsLock(m_lock); }
    ~OsLockGuard() { OsUnlock(m_lock); }
    OsLockGuard(const OsLockGuard &) = delete;
    OsLockGuard &operator=(const OsLockGuard &) = delete;

private:
    OsHandle m_lock;
};

using OsThreadEntry = void (*)(void *arg);
// Creates and starts a thread (stack sizes below a safe floor are raised to it); INVALID_THREAD on
// failure. The thread runs detached: its owner learns of its end from the task's own handle field.
OsHandle OsCreateThread(const char *name, OsThreadEntry entry, void *arg, int priority,
                        uint32_t stack_size);
void OsCloseThread(OsHandle thread);  // frees the handle record; 0 and INVALID_THREAD tolerated
[[noreturn]] void OsExitThread();     // ends the calling thread (exit code 0)
void OsSleep(uint32_t ms);
uint32_t OsTickCount();  // CLOCK_MONOTONIC in ms, wrapping at 2^32
