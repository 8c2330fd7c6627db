#include "engine/player/media_clock.h"

#include "engine/core/mem.h"

namespace {

int64_t Running(const MediaClock *c, uint32_t now) {
    uint32_t elapsed = now - c->base_tick;  // wraps correctly across the 32-bit tick
    return c->base + int64_t(elapsed) * c->rate / 100;
}

}  // namespace

MediaClock *MediaClockCreate(int64_t start_ms, int rate) {
    MediaClock *c = MemNew<MediaClock>();
    if (!c) return nullptr;
    c->lock = OsCreateLock();
    if (c->lock == INVALID_LOCK) {
        MemFree(c);
        return nullptr;
    }
    c->rate = rate > 0 ? rate : 100;
    c->last_set = c->last_reported = c->base = start_ms;
    c->tick = OsTickCount;
    c->base_tick = c->tick();
    return c;
}

void MediaClockDestroy(MediaClock *c) {
    if (!c) return;
    OsDeleteLock(c->lock);
    MemFree(c);
}

void MediaClockStart(MediaClock *c, int immediately) {
    if (!c) return;
    OsLockGuard g(c->lock);
    if (!c->running && immediately) {
        c->base_tick = c->tick();
        c->running = 1;
    }
    c->enabled = 1;
}

void MediaClockStop(MediaClock *c) {
    if (!c) return;
    OsLockGuard g(c->lock);
    if (c->running) {
        uint32_t now = c->tick();
        c->base = Running(c, now);
        c->base_tick = now;
        c->running = 0;
    }
    c->enabled = 0;
}

void MediaClockSetRate(MediaClock *c, int percent) {
    if (!c || percent <= 0) return;
    OsLockGuard g(c->lock);
    if (c->running) {
        uint32_t now = c->tick();
        c->base = Running(c, now);
        c->base_tick = now;
    }
    c->rate = percent;
}

void MediaClockSetPosition(MediaClock *c, int64_t ms) {
    if (!c) return;
    OsLockGuard g(c->lock);
    c->last_set = c->last_reported = c->base = ms;
    c->base_tick = c->tick();
}

void MediaClockUpdatePosition(MediaClock *c, int64_t ms) {
    if (!c) return;
    OsLockGuard g(c->lock);
    uint32_t now = c->tick();
    if (c->enabled && !c->running) {
        c->running = 1;
        c->base = ms;
        c->base_tick = now;
    }
    c->last_set = ms;
    // A stamp behind what was already reported must not make the clock go back: the next reads
    // then creep by 1 ms until the real position catches up.
    if (ms > c->last_reported) c->last_reported = ms;
    int64_t pos = Running(c, now);
    if (pos - ms > 10 || ms - pos > 10) {
        c->base = ms;
        c->base_tick = now;
    }
}

int64_t MediaClockRead(MediaClock *c) {
    if (!c) return 0;
    OsLockGuard g(c->lock);
    if (!c->running) return c->last_set > c->last_reported ? c->last_set : c->last_reported;
    int64_t v = Running(c, c->tick());
    if (v < c->last_reported) v = c->last_reported + 1;
    c->last_reported = v;
    return v;
}

int MediaClockIsRunning(MediaClock *c) {
    if (!c) return 0;
    OsLockGuard g(c->lock);
    return c->running;
}
