#include "engine/audio/audio_renderer.h"

#include <cstring>
#include <new>

#include "engine/audio/resampler.h"
#include "engine/core/mem.h"

extern const AudioBackendOps kAudioDeviceOps;  // device_sdl.cpp

uint32_t AudioRingSamples(uint32_t rate, uint32_t block_samples) {
    if (block_samples == 0) block_samples = 1024;
    uint32_t n = 2 * block_samples;
    while (uint64_t(n) < uint64_t(rate) * 500 / 1000) n += block_samples;
    return n;
}

uint32_t AudioDeviceChannels(uint32_t channels) {
    if (channels >= 3 && channels <= 6) return 2;
    if (channels == 0) return 1;
    return channels > 2 ? 2 : channels;
}

AudioDeviceGeometry AudioDeviceGeometryFor(uint32_t rate, uint32_t channels, uint32_t ring_bytes) {
    AudioDeviceGeometry g{};
    g.samples_per_block = rate * kAudioBlockMs / 1000;
    if (g.samples_per_block == 0) g.samples_per_block = 1;
    g.bytes_per_block = g.samples_per_block * channels * 2;
    g.block_count = (ring_bytes + g.bytes_per_block / 2) / g.bytes_per_block;
    if (g.block_count < 2) g.block_count = 2;
    g.ring_bytes = g.block_count * g.bytes_per_block;
    return g;
}

MeResult AudioRendererCreate(uint32_t rate, uint32_t channels, uint32_t frame_length,
                             uint32_t block_samples, AudioClockFn clock_fn, void *clock_ctx,
                             int audio_only, AudioRenderer **out) {
    if (!out) return ME_FAIL;
    *out = nullptr;
    if (rate == 0 || channels == 0 || channels > 8) return ME_ERR_AUDIO_OUTPUT_INIT;
    void *mem = MemAllocZero(sizeof(AudioRenderer));
    if (!mem) return ME_ERR_MEMORY;
    AudioRenderer *r = new (mem) AudioRenderer();
    r->lock = OsCreateLock();
    r->wake = OsCreateEvent(nullptr);
    if (r->lock == INVALID_LOCK || !r->wake) {
        AudioRendererDestroy(r);
        return ME_ERR_MEMORY;
    }
    r->stream_rate = r->out_rate = rate;
    r->stream_channels = r->out_channels = channels;
    r->frame_length = frame_length;
    r->block_samples = block_samples;
    r->speed = 100;
    r->clock_fn = clock_fn;
    r->clock_ctx = clock_ctx;
    r->audio_only = audio_only;
    r->volume.store(0xFFFF);
    *out = r;
    return ME_OK;
}

static void WakeWriterLocked(AudioRenderer *r) {
    if (r->writer_waiting) {
        r->writer_waiting = 0;
        OsSetEvent(r->wake);
    }
}

static void CloseBackend(AudioRenderer *r) {
    if (r->ops && r->backend) r->ops->close(r);
    r->backend = nullptr;
}

MeResult AudioRendererInit(AudioRenderer *r, int backend_type) {
    if (!r) return ME_FAIL;
    {
        std::lock_guard<std::mutex> g(r->ring_lock);
        r->resetting = 1;
        WakeWriterLocked(r);
    }
    OsLockGuard guard(r->lock);
    CloseBackend(r);
    if (backend_type != AUDIO_BACKEND_DEVICE) {
        std::lock_guard<std::mutex> g(r->ring_lock);
        r->resetting = 0;
        return ME_ERR_AUDIO_OUTPUT_INIT;
    }
    uint32_t ring_samples = AudioRingSamples(r->out_rate, r->block_samples);
    if (r->resampler) {
        // The converter changes the block size the device sees.
        ring_samples = AudioRingSamples(
            r->out_rate,
            ResamplerMaxOutput(r->resampler, r->block_samples ? r->block_samples : 1024));
    }
    r->ring_bytes = ring_samples * AudioDeviceChannels(r->out_channels) * 2;
    r->backend_type = backend_type;
    r->ops = &kAudioDeviceOps;
    {
        std::lock_guard<std::mutex> g(r->ring_lock);
        std::memset(r->stamps, 0, sizeof(r->stamps));
        r->stamp_write = r->stamp_read = r->stamp_count = 0;
    }
    MeResult res = r->ops->open(r);
    std::lock_guard<std::mutex> g(r->ring_lock);
    r->resetting = 0;
    return res;
}

// Samples of one output block in the renderer's device format.
static uint32_t DeviceChannels(const AudioRenderer *r) {
    return AudioDeviceChannels(r->out_channels);
}

int AudioRendererWrite(AudioRenderer *r, const int16_t *const *planes, uint32_t count,
                       int64_t time_ms) {
    if (!r || !planes || count == 0) return r ? 1 : 0;
    OsLockGuard guard(r->lock);
    if (!r->ops || !r->backend) return 0;

    // Through the converter first when one is in front of the device.
    const int16_t *const *src = planes;
    uint32_t channels_in = r->stream_channels;
    int16_t *conv[2] = {nullptr, nullptr};
    int16_t *conv_block = nullptr;
    const int16_t *conv_planes[2];
    if (r->resampler) {
        uint32_t cap = ResamplerMaxOutput(r->resampler, count);
        uint32_t rch = channels_in > 2 ? 2 : channels_in;
        conv_block = static_cast<int16_t *>(MemAlloc(sizeof(int16_t) * cap * rch));
        if (!conv_block) return 0;
        for (uint32_t c = 0; c < rch; ++c) conv[c] = conv_block + c * cap;
        count = ResamplerRun(r->resampler, planes, count, conv, cap);
        conv_planes[0] = conv[0];
        conv_planes[1] = rch > 1 ? conv[1] : conv[0];
        src = conv_planes;
        channels_in = rch;
        if (count == 0) {
            MemFree(conv_block);
            return 1;
        }
    }

    const uint32_t need = count * DeviceChannels(r) * 2;
    int result = 1;
    for (;;) {
        {
            std::lock_guard<std::mutex> g(r->ring_lock);
            if (r->resetting) break;     // dropped: a reset is under way
            if (need > r->ring_bytes) {  // can never fit: refuse rather than wait forever
                result = 0;
                break;
            }
            if (r->ops->free_space(r) >= need && r->stamp_count < kAudioStampEntries) {
                if (!r->ops->write(r, src, channels_in, count)) {
                    result = 0;
                    break;
                }
                AudioStamp &s = r->stamps[r->stamp_write];
                s.samples = s.original = count;
                s.time_ms = time_ms;
                r->stamp_write = (r->stamp_write + 1) % kAudioStampEntries;
                ++r->stamp_count;
                break;
            }
            r->writer_waiting = 1;
        }
        if (!OsWait(r->wake, OS_WAIT_FOREVER)) {
            result = 0;
            break;
        }
    }
    MemFree(conv_block);
    return result;
}

void AudioRendererBlockDone(AudioRenderer *r, uint32_t bytes) {
    if (!r) return;
    bool stamp = false;
    int64_t t = 0;
    {
        std::lock_guard<std::mutex> g(r->ring_lock);
        uint32_t samples = bytes / (DeviceChannels(r) * 2);
        while (samples > 0 && r->stamp_count > 0) {
            AudioStamp &s = r->stamps[r->stamp_read];
            if (s.samples > samples) {
                s.samples -= samples;
                samples = 0;
            } else {
                samples -= s.samples;
                s = AudioStamp{};
                r->stamp_read = (r->stamp_read + 1) % kAudioStampEntries;
                --r->stamp_count;
            }
        }
        if (r->stamp_count > 0) {
            // The next block may start inside an entry: stamp it with where it really starts.
            const AudioStamp &s = r->stamps[r->stamp_read];
            t = s.time_ms + int64_t(s.original - s.samples) * 1000 / r->out_rate;
            stamp = true;
        }
        WakeWriterLocked(r);
    }
    r->blocks_played.fetch_add(1, std::memory_order_relaxed);
    if (stamp && r->clock_fn) r->clock_fn(r->clock_ctx, t);
}

void AudioRendererPause(AudioRenderer *r) {
    if (r && r->ops && r->backend) r->ops->pause(r);
}

void AudioRendererRestart(AudioRenderer *r) {
    if (r && r->ops && r->backend) r->ops->restart(r);
}

void AudioRendererWakeWriter(AudioRenderer *r) {
    if (!r) return;
    {
        std::lock_guard<std::mutex> g(r->ring_lock);
        r->resetting = 1;
        WakeWriterLocked(r);
    }
    // Once we hold the writer's lock, the writer has left.
    OsLockGuard guard(r->lock);
    std::lock_guard<std::mutex> g(r->ring_lock);
    r->resetting = 0;
}

void AudioRendererReset(AudioRenderer *r) {
    if (!r) return;
    {
        std::lock_guard<std::mutex> g(r->ring_lock);
        r->resetting = 1;
        WakeWriterLocked(r);
    }
    OsLockGuard guard(r->lock);
    std::lock_guard<std::mutex> g(r->ring_lock);
    std::memset(r->stamps, 0, sizeof(r->stamps));
    r->stamp_write = r->stamp_read = r->stamp_count = 0;
    if (r->ops && r->backend) r->ops->reset(r);
    if (r->resampler) ResamplerReset(r->resampler);
    r->end_of_stream.store(0);
    r->resetting = 0;
}

void AudioRendererSetEndOfStream(AudioRenderer *r) {
    if (!r) return;
    OsLockGuard guard(r->lock);
    std::lock_guard<std::mutex> g(r->ring_lock);
    r->end_of_stream.store(1);
    // Submit what is pending as a short block so that it plays out.
    if (r->ops && r->backend) r->ops->write(r, nullptr, 0, 0);
}

int AudioRendererDrained(AudioRenderer *r) {
    if (!r) return 1;
    if (!r->end_of_stream.load()) return 0;
    std::lock_guard<std::mutex> g(r->ring_lock);
    uint64_t left = 0;
    for (uint32_t i = 0, k = r->stamp_read; i < r->stamp_count;
         ++i, k = (k + 1) % kAudioStampEntries)
        left += r->stamps[k].samples;
    return left <= uint64_t(r->out_rate) * kAudioBlockMs / 1000 ? 1 : 0;
}

int AudioRendererPlayedOut(AudioRenderer *r) {
    if (!r) return 1;
    std::lock_guard<std::mutex> g(r->ring_lock);
    return r->stamp_count == 0 ? 1 : 0;
}

int AudioRendererSetSpeed(AudioRenderer *r, int percent) {
    if (!r || percent <= 0 || percent > 1000) return 0;
    if (percent == r->speed) return 1;
    if (!r->ops || !r->backend || !r->ops->set_speed) return 0;
    if (!r->ops->set_speed(r, percent)) return 0;
    r->speed = percent;
    return 1;
}

int AudioRendererSetVolume(AudioRenderer *r, uint32_t volume) {
    if (!r) return 0;
    r->volume.store(volume & 0xFFFF);
    return 1;
}

uint32_t AudioRendererGetVolume(AudioRenderer *r) {
    if (!r) return 0;
    uint32_t v = r->volume.load();
    return v | (v << 16);
}

int AudioRendererSetMute(AudioRenderer *r, int mute) {
    if (!r) return 0;
    r->muted.store(mute ? 1 : 0);
    return 1;
}

int AudioRendererGetMute(AudioRenderer *r) { return r ? r->muted.load() : 0; }

int AudioRendererSetOutputFormat(AudioRenderer *r, uint32_t rate, uint32_t channels) {
    if (!r || rate == 0 || channels == 0 || channels > 2) return 0;
    {
        std::lock_guard<std::mutex> g(r->ring_lock);
        if (rate == r->out_rate && channels == r->out_channels) return 1;
        r->resetting = 1;  // a writer blocked on a paused device must not hold us up
        WakeWriterLocked(r);
    }
    {
        OsLockGuard guard(r->lock);
        {
            std::lock_guard<std::mutex> g(r->ring_lock);
            r->resetting = 0;
        }
        ResamplerDestroy(r->resampler);
        r->resampler = nullptr;
        if (rate != r->stream_rate) {
            r->resampler = ResamplerCreate(r->stream_rate, rate,
                                           r->stream_channels > 2 ? 2 : r->stream_channels);
            if (!r->resampler) return 0;
        }
        std::lock_guard<std::mutex> g(r->ring_lock);
        r->out_rate = rate;
        r->out_channels = channels;
    }
    if (r->ops) return MeFailed(AudioRendererInit(r, r->backend_type)) ? 0 : 1;
    return 1;
}

void AudioRendererDestroy(AudioRenderer *r) {
    if (!r) return;
    if (r->lock != INVALID_LOCK && r->lock != OsLockHandle{}) {
        {
            std::lock_guard<std::mutex> g(r->ring_lock);
            r->resetting = 1;
            WakeWriterLocked(r);
        }
        OsLock(r->lock);
        CloseBackend(r);
        OsUnlock(r->lock);
    }
    ResamplerDestroy(r->resampler);
    OsDeleteLock(r->lock);
    OsCloseHandle(r->wake);
    r->~AudioRenderer();
    MemFree(r);
}
