#pragma once
// MediaClock: the playback position in ms. It runs on the millisecond tick at a rate in percent;
// the audio device's completions steer it softly towards what is sounding. While running, a read
// never returns less than the read before it.
#include <cstdint>

#include "engine/core/os.h"

struct MediaClock {
    int running;
    int enabled;  // playback wants the clock to run: the first audio stamp starts it
    int rate;     // percent
    int64_t last_set;
    int64_t last_reported;
    int64_t base;
    uint32_t base_tick;
    OsLockHandle lock;
    uint32_t (*tick)();  // OsTickCount, replaceable in tests
};

MediaClock *MediaClockCreate(int64_t start_ms, int rate);
void MediaClockDestroy(MediaClock *c);  // null tolerated
void MediaClockStart(MediaClock *c, int immediately);
void MediaClockStop(MediaClock *c);
void MediaClockSetRate(MediaClock *c, int percent);
void MediaClockSetPosition(MediaClock *c, int64_t ms);     // hard: may go back (a seek)
void MediaClockUpdatePosition(MediaClock *c, int64_t ms);  // soft, from the audio device
int64_t MediaClockRead(MediaClock *c);
int MediaClockIsRunning(MediaClock *c);
