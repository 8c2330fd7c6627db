#pragma once
// AudioRenderer: takes decoded 16-bit PCM blocks from the player's audio task, queues them to the
// audio device in 50 ms blocks and reports, through the clock callback, the time stamp of each
// block as it starts to sound. Pause, restart, reset, drained, speed, volume and mute.
//
// Threads: the audio task writes (and may block in write until the device has room); the status
// task pauses, restarts, resets and asks for drained; the application thread sets speed, volume
// and mute; the device callback completes blocks on the platform's audio thread. Reset and
// destroy wake a blocked writer, which then returns without writing. Volume, mute and speed never
// wait for a blocked writer.
#include <atomic>
#include <cstdint>
#include <mutex>

#include "engine/core/os.h"
#include "engine/core/result.h"

inline constexpr int AUDIO_BACKEND_DEVICE = 2;
inline constexpr uint32_t kAudioStampEntries = 20;
inline constexpr uint32_t kAudioBlockMs = 50;

// Soft clock update: the block stamped time_ms is starting to sound.
using AudioClockFn = void (*)(void *ctx, int64_t time_ms);

struct AudioRenderer;
struct Resampler;

// Backend operations (the device backend is the only one; a test backend may stand in).
struct AudioBackendOps {
    MeResult (*open)(AudioRenderer *r);
    void (*close)(AudioRenderer *r);
    uint32_t (*free_space)(AudioRenderer *r);  // bytes; called under the ring lock
    int (*write)(AudioRenderer *r, const int16_t *const *planes, uint32_t channels_in,
                 uint32_t count);  // under the ring lock
    void (*pause)(AudioRenderer *r);
    void (*reset)(AudioRenderer *r);  // under the ring lock
    void (*restart)(AudioRenderer *r);
    int (*set_speed)(AudioRenderer *r, int percent);  // null: a converter does it
};

struct AudioStamp {
    uint32_t samples;   // not yet played
    uint32_t original;  // as written, to stamp a block that starts inside the entry
    int64_t time_ms;
};

struct AudioRenderer {
    int backend_type;
    void *backend;
    OsLockHandle lock;  // the writer's lock: held for a whole write
    uint32_t stream_rate, stream_channels;
    uint32_t out_rate, out_channels;
    uint32_t block_samples, frame_length;
    int speed;
    uint32_t ring_bytes;
    // Guarded by ring_lock: the time-stamp ring and the backend's counters, shared with the
    // device callback. Nobody holds it while waiting.
    std::mutex ring_lock;
    AudioStamp stamps[kAudioStampEntries];
    uint32_t stamp_write, stamp_read, stamp_count;
    AudioClockFn clock_fn;
    void *clock_ctx;
    int audio_only;
    int writer_waiting;  // ring_lock
    int resetting;       // ring_lock: a reset or destroy is under way; a waiting writer returns
    std::atomic<int> end_of_stream;
    std::atomic<int> muted;
    std::atomic<uint32_t> volume;  // low 16 bits: level 0..0xFFFF for both channels
    std::atomic<uint32_t> blocks_played;
    OsHandle wake;  // auto-reset: the writer's wake-up
    Resampler *resampler;
    int effects[8];
    const AudioBackendOps *ops;
};

// create: rate, channels and frame length of the stream; block_samples = the decoded-block size
// (samples per channel) the writer hands over. ME_ERR_MEMORY on failure.
MeResult AudioRendererCreate(uint32_t rate, uint32_t channels, uint32_t frame_length,
                             uint32_t block_samples, AudioClockFn clock_fn, void *clock_ctx,
                             int audio_only, AudioRenderer **out);
// Opens the backend of the type (2); closes a previous one first. ME_ERR_AUDIO_OUTPUT_INIT when
// the device cannot be opened.
MeResult AudioRendererInit(AudioRenderer *r, int backend_type);
// Queues count samples per channel (planes[c], c < stream channels). Blocks until the device has
// room. 1 when consumed (also when a reset made it return without writing), 0 on failure.
int AudioRendererWrite(AudioRenderer *r, const int16_t *const *planes, uint32_t count,
                       int64_t time_ms);
void AudioRendererPause(AudioRenderer *r);
void AudioRendererRestart(AudioRenderer *r);
void AudioRendererReset(AudioRenderer *r);
// Makes a writer that is blocked in write return without writing; nothing else changes.
void AudioRendererWakeWriter(AudioRenderer *r);
// Marks the end of the stream: the last short block is submitted, drained becomes meaningful.
void AudioRendererSetEndOfStream(AudioRenderer *r);
// End of stream set and at most one device block still to play.
int AudioRendererDrained(AudioRenderer *r);
// Everything written has finished playing.
int AudioRendererPlayedOut(AudioRenderer *r);
int AudioRendererSetSpeed(AudioRenderer *r, int percent);
int AudioRendererSetVolume(AudioRenderer *r, uint32_t volume);
uint32_t AudioRendererGetVolume(AudioRenderer *r);
int AudioRendererSetMute(AudioRenderer *r, int mute);
int AudioRendererGetMute(AudioRenderer *r);
// Output format other than the stream's: a converter is put in front of the device.
int AudioRendererSetOutputFormat(AudioRenderer *r, uint32_t rate, uint32_t channels);
void AudioRendererDestroy(AudioRenderer *r);  // null tolerated

// Device-level helpers shared with the tests.
// The ring in samples per channel: from 2 blocks, grown by a block until half a second is held.
uint32_t AudioRingSamples(uint32_t rate, uint32_t block_samples);
// Channels the device is opened with: 3 to 6 become 2.
uint32_t AudioDeviceChannels(uint32_t channels);

// Device-backend geometry, as the backend computes it at open.
struct AudioDeviceGeometry {
    uint32_t samples_per_block, bytes_per_block, block_count, ring_bytes;
};
AudioDeviceGeometry AudioDeviceGeometryFor(uint32_t rate, uint32_t channels, uint32_t ring_bytes);

// Completion of one device block of `bytes`, as the device callback runs it (exposed for tests
// of the stamp ring): consumes the ring, then stamps the clock with the block now starting.
void AudioRendererBlockDone(AudioRenderer *r, uint32_t bytes);
