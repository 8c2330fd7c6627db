#pragma once
// Operating-system services of the engine: events, semaphores, recursive locks, threads, sleep and
// a millisecond tick. Every other engine layer reaches the OS only through these.
#include <cstdint>

using OsHandle = intptr_t;  // an event or a semaphore, opaque; 0 is "none"
// Locks and threads have handle types of their own, so that one cannot be passed for another.
enum class OsLockHandle : intptr_t {};
enum class OsThreadHandle : intptr_t {};
inline constexpr OsThreadHandle INVALID_THREAD = OsThreadHandle(-1);
inline constexpr OsLockHandle INVALID_LOCK = OsLockHandle(-1);
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

OsLockHandle OsCreateLock();          // recursive; INVALID_LOCK if no memory
int OsDeleteLock(OsLockHandle lock);  // 0 and INVALID_LOCK tolerated; always 1
int OsLock(OsLockHandle lock);
int OsUnlock(OsLockHandle lock);

// RAII holder for an engine lock.
class OsLockGuard {
public:
    explicit OsLockGuard(OsLockHandle lock) : m_lock(lock) { OsLock(m_lock); }
    ~OsLockGuard() { OsUnlock(m_lock); }
    OsLockGuard(const OsLockGuard &) = delete;
    OsLockGuard &operator=(const OsLockGuard &) = delete;

private:
    OsLockHandle m_lock;
};

using OsThreadEntry = void (*)(void *arg);
// Creates and starts a thread (stack sizes below a safe floor are raised to it); INVALID_THREAD on
// failure. The thread runs detached: its owner learns of its end from the task's own handle field.
OsThreadHandle OsCreateThread(const char *name, OsThreadEntry entry, void *arg, int priority,
                              uint32_t stack_size);
void OsCloseThread(
    OsThreadHandle thread);        // frees the handle record; 0 and INVALID_THREAD tolerated
[[noreturn]] void OsExitThread();  // ends the calling thread (exit code 0)
void OsSleep(uint32_t ms);
uint32_t OsTickCount();  // CLOCK_MONOTONIC in ms, wrapping at 2^32
