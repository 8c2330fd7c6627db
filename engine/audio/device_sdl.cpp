// The audio device backend over SDL2. Our own ring of 50 ms blocks sits in front of the device:
// the writer copies into it and submits whole blocks; SDL's callback pulls the submitted blocks in
// order, and a block is done when the callback has taken its last byte. Volume and mute are
// applied while the callback copies.
#include <SDL.h>

#include <cstring>
#include <mutex>
#include <new>

#include "engine/audio/audio_renderer.h"
#include "engine/core/mem.h"

namespace {

struct BlockHeader {
    uint32_t offset;
    uint32_t length;  // 0: free
};

struct DeviceState {
    std::mutex dev_lock;  // the SDL device handle; never taken by the callback
    SDL_AudioDeviceID dev;
    int paused;
    uint32_t device_rate, channels;
    AudioDeviceGeometry geo;
    uint8_t *ring;
    BlockHeader *headers;
    uint32_t header_count;
    // ring_lock of the renderer guards everything below
    uint32_t next_submit, next_complete, submitted;
    uint32_t read_pos;  // bytes of the completing block already taken
    uint32_t queued, pending, write_offset, submit_offset;
    bool sdl_ready;
};

DeviceState *State(AudioRenderer *r) { return static_cast<DeviceState *>(r->backend); }

void CopyOut(AudioRenderer *r, uint8_t *dst, const uint8_t *src, uint32_t bytes) {
    uint32_t vol = r->volume.load(std::memory_order_relaxed);
    if (r->muted.load(std::memory_order_relaxed) || vol == 0) {
        std::memset(dst, 0, bytes);
    } else if (vol >= 0xFFFF) {
        std::memcpy(dst, src, bytes);
    } else {
        uint32_t n = bytes / 2;
        for (uint32_t i = 0; i < n; ++i) {
            int16_t s;
            std::memcpy(&s, src + 2 * i, 2);
            s = int16_t(int32_t(s) * int32_t(vol) / 65535);
            std::memcpy(dst + 2 * i, &s, 2);
        }
    }
}

void SDLCALL Callback(void *userdata, Uint8 *stream, int len) {
    AudioRenderer *r = static_cast<AudioRenderer *>(userdata);
    uint32_t left = uint32_t(len);
    while (left > 0) {
        uint32_t done_bytes = 0;
        {
            std::lock_guard<std::mutex> g(r->ring_lock);
            DeviceState *d = State(r);
            if (!d || d->submitted == 0) {
                std::memset(stream, 0, left);  // underrun or paused feed: silence
                return;
            }
            BlockHeader &h = d->headers[d->next_complete];
            uint32_t n = h.length - d->read_pos;
            if (n > left) n = left;
            uint32_t at = (h.offset + d->read_pos) % d->geo.ring_bytes;
            uint32_t first = d->geo.ring_bytes - at;
            if (first > n) first = n;
            CopyOut(r, stream, d->ring + at, first);
            if (n > first) CopyOut(r, stream + first, d->ring, n - first);
            stream += n;
            left -= n;
            d->read_pos += n;
            if (d->read_pos == h.length) {
                // Done: clear its bytes so a stale block can never sound twice.
                uint32_t z = d->geo.ring_bytes - h.offset;
                if (z > h.length) z = h.length;
                std::memset(d->ring + h.offset, 0, z);
                if (h.length > z) std::memset(d->ring, 0, h.length - z);
                done_bytes = h.length;
                h.length = 0;
                d->next_complete = (d->next_complete + 1) % d->header_count;
                --d->submitted;
                d->read_pos = 0;
                d->queued = d->queued > done_bytes ? d->queued - done_bytes : 0;
            }
        }
        if (done_bytes) AudioRendererBlockDone(r, done_bytes);
    }
}

// Under ring_lock.
bool Submit(DeviceState *d, uint32_t bytes) {
    if (d->submitted >= d->header_count) return false;
    BlockHeader &h = d->headers[d->next_submit];
    h.offset = d->submit_offset;
    h.length = bytes;
    d->next_submit = (d->next_submit + 1) % d->header_count;
    ++d->submitted;
    d->submit_offset = (d->submit_offset + bytes) % d->geo.ring_bytes;
    d->pending -= bytes;
    return true;
}

SDL_AudioDeviceID OpenDevice(AudioRenderer *r, uint32_t rate, uint32_t channels) {
    SDL_AudioSpec want, have;
    SDL_zero(want);
    want.freq = int(rate);
    want.format = AUDIO_S16SYS;
    want.channels = Uint8(channels);
    // About 10 ms per callback keeps the clock stamps close to what is heard.
    uint32_t samples = 128;
    while (samples < rate / 100) samples *= 2;
    want.samples = Uint16(samples);
    want.callback = Callback;
    want.userdata = r;
    return SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
}

MeResult DevOpen(AudioRenderer *r) {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return ME_ERR_AUDIO_OUTPUT_INIT;
    void *mem = MemAllocZero(sizeof(DeviceState));
    if (!mem) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return ME_ERR_MEMORY;
    }
    DeviceState *d = new (mem) DeviceState();
    d->sdl_ready = true;
    d->channels = AudioDeviceChannels(r->out_channels);
    d->geo = AudioDeviceGeometryFor(r->out_rate, d->channels, r->ring_bytes);
    d->header_count = 2 * d->geo.block_count + 2;
    d->ring = static_cast<uint8_t *>(MemAllocZero(d->geo.ring_bytes));
    d->headers = static_cast<BlockHeader *>(MemAllocZero(sizeof(BlockHeader) * d->header_count));
    d->device_rate = uint32_t(uint64_t(r->out_rate) * uint32_t(r->speed) / 100);
    if (!d->ring || !d->headers) {
        MemFree(d->ring);
        MemFree(d->headers);
        d->~DeviceState();
        MemFree(d);
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return ME_ERR_MEMORY;
    }
    {
        std::lock_guard<std::mutex> g(r->ring_lock);
        r->backend = d;
    }
    d->dev = OpenDevice(r, d->device_rate, d->channels);
    if (d->dev == 0) {
        {
            std::lock_guard<std::mutex> g(r->ring_lock);
            r->backend = nullptr;
        }
        MemFree(d->ring);
        MemFree(d->headers);
        d->~DeviceState();
        MemFree(d);
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return ME_ERR_AUDIO_OUTPUT_INIT;
    }
    SDL_PauseAudioDevice(d->dev, 0);
    return ME_OK;
}

void DevClose(AudioRenderer *r) {
    DeviceState *d = State(r);
    if (!d) return;
    {
        std::lock_guard<std::mutex> dl(d->dev_lock);
        if (d->dev) SDL_CloseAudioDevice(d->dev);  // waits for a running callback
        d->dev = 0;
    }
    {
        std::lock_guard<std::mutex> g(r->ring_lock);
        r->backend = nullptr;
    }
    MemFree(d->ring);
    MemFree(d->headers);
    bool quit = d->sdl_ready;
    d->~DeviceState();
    MemFree(d);
    if (quit) SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

uint32_t DevFreeSpace(AudioRenderer *r) {
    DeviceState *d = State(r);
    return d->geo.ring_bytes > d->queued ? d->geo.ring_bytes - d->queued : 0;
}

int DevWrite(AudioRenderer *r, const int16_t *const *planes, uint32_t channels_in, uint32_t count) {
    DeviceState *d = State(r);
    const uint32_t ch = d->channels;
    for (uint32_t i = 0; i < count; ++i) {
        int16_t frame[2];
        if (ch == 1) {
            int32_t s = planes[0][i];
            if (channels_in >= 2) s = (s + planes[1][i]) / 2;
            frame[0] = int16_t(s);
        } else {
            frame[0] = planes[0][i];
            frame[1] = channels_in >= 2 ? planes[1][i] : planes[0][i];
        }
        uint32_t bytes = ch * 2;
        // The ring holds whole frames (its size is a multiple of the block), so no frame wraps.
        std::memcpy(d->ring + d->write_offset, frame, bytes);
        d->write_offset = (d->write_offset + bytes) % d->geo.ring_bytes;
    }
    const uint32_t total = count * ch * 2;
    d->queued += total;
    d->pending += total;
    while (d->pending >= d->geo.bytes_per_block) {
        if (!Submit(d, d->geo.bytes_per_block)) return 0;
    }
    if (r->end_of_stream.load() && d->pending > 0) {
        if (!Submit(d, d->pending)) return 0;
    }
    return 1;
}

void DevPause(AudioRenderer *r) {
    DeviceState *d = State(r);
    std::lock_guard<std::mutex> dl(d->dev_lock);
    d->paused = 1;
    if (d->dev) SDL_PauseAudioDevice(d->dev, 1);
}

void DevRestart(AudioRenderer *r) {
    DeviceState *d = State(r);
    std::lock_guard<std::mutex> dl(d->dev_lock);
    d->paused = 0;
    if (d->dev) SDL_PauseAudioDevice(d->dev, 0);
}

void DevReset(AudioRenderer *r) {
    DeviceState *d = State(r);
    std::memset(d->ring, 0, d->geo.ring_bytes);
    for (uint32_t i = 0; i < d->header_count; ++i) d->headers[i] = BlockHeader{};
    d->next_submit = d->next_complete = d->submitted = 0;
    d->read_pos = 0;
    d->queued = d->pending = d->write_offset = d->submit_offset = 0;
}

int DevSetSpeed(AudioRenderer *r, int percent) {
    DeviceState *d = State(r);
    std::lock_guard<std::mutex> dl(d->dev_lock);
    uint32_t rate = uint32_t(uint64_t(r->out_rate) * uint32_t(percent) / 100);
    if (rate == 0) return 0;
    // The old device is closed before the new one opens, so two never play at once. Our ring
    // and its submitted blocks stay, so nothing queued is lost.
    if (d->dev) SDL_CloseAudioDevice(d->dev);
    d->dev = OpenDevice(r, rate, d->channels);
    if (d->dev == 0) {
        d->dev = OpenDevice(r, d->device_rate, d->channels);
        if (d->dev) SDL_PauseAudioDevice(d->dev, d->paused);
        return 0;
    }
    d->device_rate = rate;
    SDL_PauseAudioDevice(d->dev, d->paused);
    return 1;
}

}  // namespace

extern const AudioBackendOps kAudioDeviceOps = {
    DevOpen, DevClose, DevFreeSpace, DevWrite, DevPause, DevReset, DevRestart, DevSetSpeed,
};
