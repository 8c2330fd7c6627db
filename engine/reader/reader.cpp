#include "engine/reader/reader.h"

#include <cstring>

#include "engine/core/mem.h"

namespace {

constexpr uint32_t kProbeBytes = 4096;

bool At(const uint8_t *head, uint32_t length, uint32_t offset, const char *text) {
    size_t n = std::strlen(text);
    return offset + n <= length && std::memcmp(head + offset, text, n) == 0;
}

MeResult OpenWithStream(Stream *stream, Reader **out) {
    *out = nullptr;
    auto *r = MemNew<Reader>();
    if (!r) {
        StreamClose(stream);
        return ME_ERR_MEMORY;
    }
    r->stream = stream;
    r->index_task = INVALID_THREAD;
    uint8_t head[kProbeBytes];
    StreamRewindProbe(stream);
    int32_t n = StreamProbeRead(stream, head, sizeof head);
    if (n <= 0) {
        ReaderClose(r);
        return n < 0 ? n : ME_ERR_FILE_IO;
    }
    const ContainerOps *ops = nullptr;
    MeResult res = ReaderProbe(head, static_cast<uint32_t>(n), &ops);
    StreamRewindProbe(stream);
    if (res != ME_OK) {
        ReaderClose(r);
        return res;
    }
    if (!ops || !ops->open) {
        ReaderClose(r);
        return ME_ERR_UNSUPPORTED_FUNCTION;
    }
    r->ops = ops;
    res = ops->open(r);
    if (res != ME_OK) {
        ReaderClose(r);
        return res;
    }
    r->lock = OsCreateLock();
    if (r->lock == INVALID_LOCK) {
        ReaderClose(r);
        return ME_ERR_MEMORY;
    }
    *out = r;
    return ME_OK;
}

void ApplyDefaults(MediaInfo *info) {
    if (info->buffering_ms == 0) info->buffering_ms = 1000;
    for (uint32_t i = 0; i < info->audio_count && i < kMaxAudioTracks; ++i) {
        AudioTrackInfo &a = info->audio[i];
        if (a.max_sample_size == 0) {
            if (a.bitrate) a.max_sample_size = a.bitrate / 1000 * 500 / 8;  // 500 ms of data
            else if (a.sample_rate < 32772) a.max_sample_size = a.sample_rate / 4;
            else a.max_sample_size = 8192;
        }
        if (a.duration_ms == 0) a.duration_ms = info->duration_ms;
    }
    for (uint32_t i = 0; i < info->video_count && i < kMaxVideoTracks; ++i) {
        VideoTrackInfo &v = info->video[i];
        if (v.max_sample_size == 0) {
            uint64_t area = uint64_t(v.width) * v.height;
            v.max_sample_size = area < 0x50002 ? static_cast<uint32_t>(area / 2) : 0x28000;
        }
        if (v.duration_ms == 0) v.duration_ms = info->duration_ms;
        // "mp4v" and "MP4V" are the same codec.
        uint32_t tag = 0;
        for (int b = 0; b < 4; ++b) {
            uint8_t c = uint8_t(v.codec_tag >> (8 * b));
            if (c >= 'a' && c <= 'z') c = uint8_t(c - 'a' + 'A');
            tag |= uint32_t(c) << (8 * b);
        }
        v.codec_tag = tag;
    }
    for (uint32_t i = 0; i < info->data_count && i < kMaxDataTracks; ++i)
        if (info->data[i].duration_ms == 0) info->data[i].duration_ms = info->duration_ms;
}

}  // namespace

MeResult ReaderProbe(const uint8_t *head, uint32_t length, const ContainerOps **ops) {
    *ops = nullptr;
    if (At(head, length, 4, "ftyp") || At(head, length, 4, "mdat") || At(head, length, 4, "moov")) {
        *ops = &kMp4ContainerOps;
        return ME_OK;
    }
    static const uint8_t kAsfGuid[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                         0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
    if (length >= 16 && std::memcmp(head, kAsfGuid, 16) == 0) return ME_ERR_UNSUPPORTED_FILE;
    // Recognised, but no container implementation exists for these.
    if ((At(head, length, 0, "RIFF") && At(head, length, 8, "AVI")) || At(head, length, 0, "JCH"))
        return ME_OK;
    return ME_ERR_UNSUPPORTED_FILE;
}

MeResult ReaderOpen(const char *path, Reader **out) {
    *out = nullptr;
    Stream *stream = nullptr;
    MeResult res = StreamOpen(path, &stream);
    if (res != ME_OK) return res;
    return OpenWithStream(stream, out);
}

MeResult ReaderOpenMemory(uint8_t *block, uint32_t capacity, Reader **out) {
    *out = nullptr;
    Stream *stream = nullptr;
    MeResult res = StreamOpenMemory(block, capacity, &stream);
    if (res != ME_OK) return res;
    return OpenWithStream(stream, out);
}

MeResult ReaderGetInfo(Reader *r, MediaInfo *info) {
    if (!r || !info) return ME_FAIL;
    if (!r->ops->get_info) return ME_ERR_UNSUPPORTED_FUNCTION;
    OsLockGuard guard(r->lock);
    std::memset(info, 0, sizeof *info);
    MeResult res = r->ops->get_info(r, info);
    if (res != ME_OK) return res;
    ApplyDefaults(info);
    r->present[TRACK_AUDIO] = info->audio_count > 0;
    r->present[TRACK_VIDEO] = info->video_count > 0;
    r->present[TRACK_DATA] = info->data_count > 0;
    // No container here builds an index in the background; the hook stays for those that do.
    if (r->ops->make_index) r->ops->make_index(r);
    return ME_OK;
}

MeResult ReaderStart(Reader *r, int64_t start_ms) {
    if (!r) return ME_FAIL;
    if (r->ops->start) return r->ops->start(r, start_ms);
    if (start_ms == 0) return ME_OK;
    int64_t t = start_ms;
    return ReaderSeek(r, &t, SEEK_VIDEO_FIRST) ? ME_OK : ME_ERR_RANDOM_ACCESS;
}

MeResult ReaderReadSample(Reader *r, SampleRequest *req) {
    if (!r || !req) return ME_FAIL;
    if (!r->ops->read_sample) return ME_ERR_UNSUPPORTED_FUNCTION;
    OsLockGuard guard(r->lock);
    int kind = req->kind;
    if (kind < TRACK_AUDIO || kind > TRACK_DATA || !r->present[kind]) return ME_ERR_NO_TRACK;
    if (r->end_limit_ms && r->last_time_ms[kind] > r->end_limit_ms) return ME_ERR_END_OF_DATA;
    MeResult res = r->ops->read_sample(r, req);
    if (res != ME_OK) return res;
    req->time_ms += r->time_offset_ms[kind];
    r->last_time_ms[kind] = req->time_ms;
    if (r->end_limit_ms && req->time_ms > r->end_limit_ms) return ME_ERR_END_OF_DATA;
    return ME_OK;
}

int ReaderSeek(Reader *r, int64_t *time_ms, int mode) {
    if (!r || !time_ms || !r->ops->seek) return 0;
    OsLockGuard guard(r->lock);
    if (*time_ms < r->start_limit_ms) *time_ms = r->start_limit_ms;
    if (r->end_limit_ms && *time_ms > r->end_limit_ms) return 0;
    if (!r->ops->seek(r, time_ms, mode)) return 0;
    if (r->end_limit_ms && *time_ms >= r->end_limit_ms) {
        *time_ms = r->start_limit_ms;
        if (!r->ops->seek(r, time_ms, SEEK_AUDIO_FIRST)) return 0;
    }
    for (int k = TRACK_AUDIO; k <= TRACK_DATA; ++k) r->last_time_ms[k] = *time_ms;
    return 1;
}

int ReaderSeekStep(Reader *r, int64_t *time_ms, int direction) {
    if (!r || !time_ms || !r->ops->seek_step) return 0;
    OsLockGuard guard(r->lock);
    if (!r->ops->seek_step(r, time_ms, direction)) return 0;
    for (int k = TRACK_AUDIO; k <= TRACK_DATA; ++k) r->last_time_ms[k] = *time_ms;
    return 1;
}

void ReaderSelectTrack(Reader *r, int number, int kind) {
    if (!r || !r->ops->select_track) return;
    OsLockGuard guard(r->lock);
    r->ops->select_track(r, number, kind);
}

void ReaderBufferStatus(Reader *, int *percent_buffered, int *percent_available) {
    // A local file is always wholly there.
    if (percent_buffered) *percent_buffered = 100;
    if (percent_available) *percent_available = 100;
}

MeResult ReaderCommand(Reader *r, int command) {
    if (!r) return ME_FAIL;
    if (!r->ops->command) return ME_ERR_UNSUPPORTED_FUNCTION;
    OsLockGuard guard(r->lock);
    return r->ops->command(r, command);
}

void ReaderClose(Reader *r) {
    if (!r) return;
    if (r->index_task != INVALID_THREAD && r->index_task != OsThreadHandle{}) {
        r->index_stop = 1;
        while (!r->index_finished) OsSleep(10);
        OsCloseThread(r->index_task);
    }
    if (r->ops && r->ops->close && r->priv) r->ops->close(r);
    OsDeleteLock(r->lock);
    StreamClose(r->stream);
    MemFree(r);
}

MeResult ReaderGetMediaInfo(const char *path, MediaInfo *info) {
    Reader *r = nullptr;
    MeResult res = ReaderOpen(path, &r);
    if (res != ME_OK) return res;
    res = ReaderGetInfo(r, info);
    ReaderClose(r);
    return res;
}
