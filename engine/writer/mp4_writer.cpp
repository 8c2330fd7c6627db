// The MP4 file in the camera's layout: header boxes, interleaved media data, then the movie box.
#include "engine/writer/mp4_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kMovieTimescale = 1000;
constexpr int64_t kSecondsFrom1904To1970 = 2082844800;

// --- box building -----------------------------------------------------------------------------

class Buf {
public:
    std::vector<uint8_t> b;
    void U8(uint32_t v) { b.push_back(static_cast<uint8_t>(v)); }
    void U16(uint32_t v) { U8(v >> 8), U8(v); }
    void U24(uint32_t v) { U8(v >> 16), U16(v); }
    void U32(uint32_t v) { U16(v >> 16), U16(v); }
    void Zeros(size_t n) { b.insert(b.end(), n, 0); }
    void Bytes(const void *p, size_t n) {
        if (n == 0) return;
        const uint8_t *q = static_cast<const uint8_t *>(p);
        b.insert(b.end(), q, q + n);
    }
    void Tag(const char *four) { Bytes(four, 4); }
    void Put32(size_t at, uint32_t v) {
        b[at] = static_cast<uint8_t>(v >> 24);
        b[at + 1] = static_cast<uint8_t>(v >> 16);
        b[at + 2] = static_cast<uint8_t>(v >> 8);
        b[at + 3] = static_cast<uint8_t>(v);
    }
    size_t Begin(const char *type) {
        size_t at = b.size();
        U32(0);
        Tag(type);
        return at;
    }
    size_t BeginFull(const char *type, uint32_t version, uint32_t flags) {
        size_t at = Begin(type);
        U8(version);
        U24(flags);
        return at;
    }
    void End(size_t at) { Put32(at, static_cast<uint32_t>(b.size() - at)); }
    // 14496-1 descriptor: tag, then the payload length in 7-bit groups (high bit = more follow).
    void Descriptor(uint8_t tag, const uint8_t *payload, size_t n) {
        U8(tag);
        int groups = n < (1u << 7) ? 1 : n < (1u << 14) ? 2 : n < (1u << 21) ? 3 : 4;
        for (int g = groups - 1; g >= 0; --g) U8(((n >> (7 * g)) & 0x7F) | (g ? 0x80 : 0));
        Bytes(payload, n);
    }
    void Descriptor(uint8_t tag, const std::vector<uint8_t> &payload) {
        Descriptor(tag, payload.data(), payload.size());
    }
    void Matrix() {
        static const uint32_t m[9] = {0x00010000, 0, 0, 0, 0x00010000, 0, 0, 0, 0x40000000};
        for (uint32_t v : m) U32(v);
    }
};

// --- the sample plan ----------------------------------------------------------------------------

struct Chunk {
    uint64_t offset;
    uint32_t first;  // index of its first sample
    uint32_t count;
};

struct TrackPlan {
    const WriterTrack *t = nullptr;
    bool present = false;
    std::vector<Chunk> chunks;
    uint32_t max_size = 0;
    uint64_t total_bytes = 0;
    uint64_t duration_media = 0;  // in the track's timescale
    uint64_t duration_ms = 0;
};

// A chunk in file order: which track, which of its chunks.
struct Placed {
    int kind;
    uint32_t chunk;
};

struct Plan {
    TrackPlan video, audio, data;
    std::vector<Placed> order;
    uint64_t header_size = 0;  // ftyp and the three boxes after it
    uint64_t mdat_size = 0;
};

bool Fail(const char **detail, const char *why) {
    if (detail) *detail = why;
    return false;
}

bool ValidTrack(const WriterTrack &t, const char *what, const char **detail) {
    if (t.count == 0) return true;
    if (!t.sizes || !t.durations) return Fail(detail, "a track has no sample table");
    if (t.timescale == 0) return Fail(detail, what);
    return true;
}

bool Validate(const WriterMovie &m, const char **detail) {
    if (m.video.count) {
        if (!ValidTrack(m.video, "video frame timing is not set", detail)) return false;
        if (m.width == 0 || m.height == 0 || m.width > 0xFFFF || m.height > 0xFFFF)
            return Fail(detail, "video size is not set");
        if (m.video.sync && !m.video.sync[0])
            return Fail(detail, "the first video sample is not a sync sample");
        if (m.video_codec != WRITER_VIDEO_MPEG4 && m.video_codec != WRITER_VIDEO_H263)
            return Fail(detail, "unknown video codec");
        if (m.video_config_length > 0x0FFFFFFF || (m.video_config_length && !m.video_config))
            return Fail(detail, "video configuration too large");
    }
    if (m.audio.count) {
        if (!ValidTrack(m.audio, "audio rate, channels or frame length is not set", detail))
            return false;
        if (m.sample_rate == 0 || m.channels == 0)
            return Fail(detail, "audio rate, channels or frame length is not set");
        if (m.audio_config_length == 0 || !m.audio_config)
            return Fail(detail, "audio configuration (AudioSpecificConfig) is missing");
        if (m.audio_config_length > 0x0FFFFFFF)
            return Fail(detail, "audio configuration too large");
    }
    if (m.data.count && !ValidTrack(m.data, "data track timing is not set", detail)) return false;
    return true;
}

bool PlanDurations(TrackPlan *p, const WriterTrack *t, const char **detail) {
    p->t = t;
    p->present = t->count > 0;
    uint64_t sum = 0;
    for (uint32_t i = 0; i < t->count; ++i) sum += t->durations[i];
    if (sum > 0xFFFFFFFFu) return Fail(detail, "track too long for a 32-bit media duration");
    p->duration_media = sum;
    p->duration_ms = t->timescale ? (sum * 1000 + t->timescale / 2) / t->timescale : 0;
    return true;
}

// Walks one track through the slots: `next` is its next sample, `dts` that sample's decode time.
struct Cursor {
    TrackPlan *p;
    uint32_t next = 0;
    uint64_t dts = 0;
    uint64_t Slot() const {
        return dts * 1000 / (static_cast<uint64_t>(p->t->timescale) * kWriterRecordIntervalMs);
    }
    bool Done() const { return next >= p->t->count; }
};

bool MakePlan(const WriterMovie &m, uint64_t header_size, Plan *p, const char **detail) {
    if (!PlanDurations(&p->video, &m.video, detail) ||
        !PlanDurations(&p->audio, &m.audio, detail) || !PlanDurations(&p->data, &m.data, detail))
        return false;
    p->header_size = header_size;
    uint64_t pos = header_size + 8;  // first payload byte in mdat
    Cursor cursors[3] = {{&p->video}, {&p->audio}, {&p->data}};
    const int kinds[3] = {WRITER_VIDEO, WRITER_AUDIO, WRITER_DATA};
    for (;;) {
        // The earliest slot any track still has samples in; each track contributes one chunk.
        uint64_t slot = UINT64_MAX;
        for (const Cursor &c : cursors)
            if (!c.Done()) slot = std::min(slot, c.Slot());
        if (slot == UINT64_MAX) break;
        for (int k = 0; k < 3; ++k) {
            Cursor &c = cursors[k];
            if (c.Done() || c.Slot() != slot) continue;
            TrackPlan *tp = c.p;
            Chunk chunk{pos, c.next, 0};
            while (!c.Done() && c.Slot() == slot) {
                uint32_t n = tp->t->sizes[c.next];
                tp->max_size = std::max(tp->max_size, n);
                tp->total_bytes += n;
                pos += n;
                c.dts += tp->t->durations[c.next];
                ++c.next;
                ++chunk.count;
            }
            p->order.push_back({kinds[k], static_cast<uint32_t>(tp->chunks.size())});
            tp->chunks.push_back(chunk);
        }
        if (pos > 0xFFFFFFFFu)
            return Fail(detail, "media data passes 4 GiB; 32-bit chunk offsets cannot address it");
    }
    p->mdat_size = pos - header_size;
    return true;
}

// --- boxes ------------------------------------------------------------------------------------

void ModelBytes(const WriterMovie &m, uint8_t *out, bool for_signature) {
    if (m.model_id) std::memcpy(out, m.model_id, kWriterModelIdSize);
    else if (for_signature) std::memcpy(out, kWriterDefaultModelId, kWriterModelIdSize);
    else std::memset(out, 0, kWriterModelIdSize);
}

void HeaderBoxes(const WriterMovie &m, Buf *b) {
    size_t at = b->Begin("ftyp");
    b->Tag("mp42");
    b->U32(1);
    b->Tag("mp42");
    b->Tag("isom");
    b->End(at);
    // Space the camera reserves in front of the media data, then its own signature block.
    at = b->Begin("free");
    b->Zeros(24);
    b->End(at);
    at = b->Begin("skip");
    uint8_t model[kWriterModelIdSize];
    ModelBytes(m, model, true);
    b->Bytes(model, sizeof model);
    b->Zeros(22);
    b->End(at);
    at = b->Begin("free");
    b->End(at);
}

void Esds(Buf *b, uint16_t es_id, uint8_t object_type, uint8_t stream_type, uint32_t buffer_size,
          uint32_t max_bitrate, uint32_t avg_bitrate, const uint8_t *config, size_t config_length) {
    Buf dcd;
    dcd.U8(object_type);
    dcd.U8(static_cast<uint32_t>(stream_type << 2) | 1);  // upstream 0, reserved 1
    dcd.U24(std::min<uint32_t>(buffer_size, 0xFFFFFF));
    dcd.U32(max_bitrate);
    dcd.U32(avg_bitrate);
    dcd.Descriptor(0x05, config, config_length);
    Buf es;
    es.U16(es_id);
    es.U8(0);  // no dependency, URL or OCR stream
    es.Descriptor(0x04, dcd.b);
    es.Descriptor(0x06, {0x02});  // SL config: predefined for MP4 files
    size_t at = b->BeginFull("esds", 0, 0);
    b->Descriptor(0x03, es.b);
    b->End(at);
}

uint32_t Seconds1904(int64_t unix_seconds) {
    return unix_seconds > 0 ? static_cast<uint32_t>(unix_seconds + kSecondsFrom1904To1970) : 0;
}

// Average bit rate over the whole track and the largest bit count of any window of one second's
// worth of samples (counted at the first sample's duration).
void Bitrates(const TrackPlan &p, uint32_t *max_bps, uint32_t *avg_bps) {
    const WriterTrack &t = *p.t;
    *avg_bps = p.duration_media
                   ? static_cast<uint32_t>(std::min<uint64_t>(
                         0xFFFFFFFFu, p.total_bytes * 8 * t.timescale / p.duration_media))
                   : 0;
    uint64_t window =
        t.count && t.durations[0] ? std::max<uint64_t>(1, t.timescale / t.durations[0]) : 1;
    uint64_t sum = 0, best = 0;
    for (uint64_t i = 0; i < t.count; ++i) {
        sum += t.sizes[i];
        if (i >= window) sum -= t.sizes[i - window];
        best = std::max(best, sum);
    }
    *max_bps = static_cast<uint32_t>(std::min<uint64_t>(0xFFFFFFFFu, best * 8));
}

void Dinf(Buf *b) {
    size_t dinf = b->Begin("dinf");
    size_t dref = b->BeginFull("dref", 0, 0);
    b->U32(1);
    size_t url = b->BeginFull("url ", 0, 1);  // media in this file
    b->End(url);
    b->End(dref);
    b->End(dinf);
}

// Runs of equal durations.
void Stts(Buf *b, const WriterTrack &t) {
    size_t at = b->BeginFull("stts", 0, 0);
    size_t count_at = b->b.size();
    b->U32(0);
    uint32_t runs = 0;
    for (uint32_t i = 0; i < t.count;) {
        uint32_t j = i + 1;
        while (j < t.count && t.durations[j] == t.durations[i]) ++j;
        b->U32(j - i);
        b->U32(t.durations[i]);
        ++runs;
        i = j;
    }
    b->Put32(count_at, runs);
    b->End(at);
}

void Stsc(Buf *b, const TrackPlan &t) {
    Buf entries;
    uint32_t n = 0, last = 0;
    for (size_t i = 0; i < t.chunks.size(); ++i) {
        if (i == 0 || t.chunks[i].count != last) {
            entries.U32(static_cast<uint32_t>(i + 1));
            entries.U32(t.chunks[i].count);
            entries.U32(1);
            last = t.chunks[i].count;
            ++n;
        }
    }
    size_t at = b->BeginFull("stsc", 0, 0);
    b->U32(n);
    b->Bytes(entries.b.data(), entries.b.size());
    b->End(at);
}

// stsz (one size for all when `fixed` is nonzero, else one entry per sample) and then stco.
void SampleSizesAndOffsets(Buf *b, const TrackPlan &p, uint32_t fixed) {
    size_t stsz = b->BeginFull("stsz", 0, 0);
    b->U32(fixed);
    b->U32(p.t->count);
    if (fixed == 0)
        for (uint32_t i = 0; i < p.t->count; ++i) b->U32(p.t->sizes[i]);
    b->End(stsz);
    size_t stco = b->BeginFull("stco", 0, 0);
    b->U32(static_cast<uint32_t>(p.chunks.size()));
    for (const Chunk &c : p.chunks) b->U32(static_cast<uint32_t>(c.offset));
    b->End(stco);
}

void Tkhd(Buf *b, uint32_t id, uint32_t created, uint64_t duration_ms, bool audio, uint32_t width,
          uint32_t height) {
    size_t at = b->BeginFull("tkhd", 0, 3);  // enabled, in movie
    b->U32(created);
    b->U32(created);
    b->U32(id);
    b->U32(0);
    b->U32(static_cast<uint32_t>(duration_ms));
    b->Zeros(8);
    b->U16(0);  // layer
    b->U16(0);  // alternate group
    b->U16(audio ? 0x0100 : 0);
    b->U16(0);
    b->Matrix();
    b->U32(width << 16);
    b->U32(height << 16);
    b->End(at);
}

void Mdhd(Buf *b, uint32_t created, const TrackPlan &p) {
    size_t at = b->BeginFull("mdhd", 0, 0);
    b->U32(created);
    b->U32(created);
    b->U32(p.t->timescale);
    b->U32(static_cast<uint32_t>(p.duration_media));
    b->U16(0x55C4);  // "und"
    b->U16(0);
    b->End(at);
}

void Hdlr(Buf *b, const char *type, const char *name, size_t name_len) {
    size_t at = b->BeginFull("hdlr", 0, 0);
    b->U32(0);
    b->Tag(type);
    b->Zeros(12);
    b->Bytes(name, name_len);
    b->U8(0);
    b->End(at);
}

void VideoTrak(const WriterMovie &m, const Plan &p, uint32_t created, Buf *b) {
    const TrackPlan &t = p.video;
    size_t trak = b->Begin("trak");
    Tkhd(b, 1, created, t.duration_ms, false, m.width, m.height);
    size_t mdia = b->Begin("mdia");
    Mdhd(b, created, t);
    Hdlr(b, "vide", "Video Handler", 13);
    size_t minf = b->Begin("minf");
    size_t vmhd = b->BeginFull("vmhd", 0, 1);
    b->Zeros(8);
    b->End(vmhd);
    Dinf(b);
    size_t stbl = b->Begin("stbl");
    size_t stsd = b->BeginFull("stsd", 0, 0);
    b->U32(1);
    bool h263 = m.video_codec == WRITER_VIDEO_H263;
    size_t entry = b->Begin(h263 ? "s263" : "mp4v");
    b->Zeros(6);
    b->U16(1);  // data reference index
    b->Zeros(16);
    b->U16(m.width);
    b->U16(m.height);
    b->U32(0x00480000);  // 72 dpi
    b->U32(0x00480000);
    b->U32(0);
    b->U16(1);     // frames per sample
    b->Zeros(32);  // compressor name
    b->U16(0x18);
    b->U16(0xFFFF);
    if (h263) {
        // 3GPP H263SpecificBox: vendor, decoder version, level 10, baseline profile 0.
        size_t d263 = b->Begin("d263");
        b->Tag("vntr");
        b->U8(0);
        b->U8(10);
        b->U8(0);
        b->End(d263);
    } else {
        uint32_t max_bps, avg_bps;
        Bitrates(t, &max_bps, &avg_bps);
        Esds(b, 1, 0x20, 0x04, t.max_size, max_bps, avg_bps, m.video_config, m.video_config_length);
    }
    b->End(entry);
    b->End(stsd);
    Stts(b, *t.t);
    // stss lists every key frame, numbered from 1.
    size_t stss = b->BeginFull("stss", 0, 0);
    size_t count_at = b->b.size();
    b->U32(0);
    uint32_t syncs = 0;
    for (uint32_t i = 0; i < t.t->count; ++i) {
        if (!t.t->sync || t.t->sync[i]) {
            b->U32(i + 1);
            ++syncs;
        }
    }
    b->Put32(count_at, syncs);
    b->End(stss);
    Stsc(b, t);
    SampleSizesAndOffsets(b, t, 0);
    b->End(stbl);
    b->End(minf);
    b->End(mdia);
    b->End(trak);
}

void AudioTrak(const WriterMovie &m, const Plan &p, uint32_t created, Buf *b) {
    const TrackPlan &t = p.audio;
    size_t trak = b->Begin("trak");
    Tkhd(b, 2, created, t.duration_ms, true, 0, 0);
    size_t mdia = b->Begin("mdia");
    Mdhd(b, created, t);
    Hdlr(b, "soun", "Sound Handler", 13);
    size_t minf = b->Begin("minf");
    size_t smhd = b->BeginFull("smhd", 0, 0);
    b->U32(0);
    b->End(smhd);
    Dinf(b);
    size_t stbl = b->Begin("stbl");
    size_t stsd = b->BeginFull("stsd", 0, 0);
    b->U32(1);
    size_t entry = b->Begin("mp4a");
    b->Zeros(6);
    b->U16(1);
    b->Zeros(8);
    b->U16(std::min<uint32_t>(m.channels, 2));
    b->U16(16);
    b->U32(0);
    b->U32((m.sample_rate > 0xFFFF ? 0 : m.sample_rate) << 16);
    uint32_t max_bps, avg_bps;
    Bitrates(t, &max_bps, &avg_bps);
    Esds(b, 2, 0x40, 0x05, t.max_size, max_bps, avg_bps, m.audio_config, m.audio_config_length);
    b->End(entry);
    b->End(stsd);
    Stts(b, *t.t);
    Stsc(b, t);
    SampleSizesAndOffsets(b, t, 0);
    b->End(stbl);
    b->End(minf);
    b->End(mdia);
    b->End(trak);
}

// The data track's inner order is fixed: the drive-data reader descends into it by position.
void DataTrak(const WriterMovie &m, const Plan &p, uint32_t created, Buf *b) {
    const TrackPlan &t = p.data;
    size_t trak = b->Begin("trak");
    Tkhd(b, 3, created, t.duration_ms, false, 0, 0);
    size_t mdia = b->Begin("mdia");
    Mdhd(b, created, t);
    // The name starts with the bytes of the little-endian 32-bit tag the camera stores there.
    Hdlr(b, "sdsm", "RTNV", 4);
    size_t minf = b->Begin("minf");
    size_t nmhd = b->BeginFull("nmhd", 0, 0);
    b->End(nmhd);
    Dinf(b);
    size_t stbl = b->Begin("stbl");
    size_t stsd = b->BeginFull("stsd", 0, 0);
    b->U32(1);
    size_t entry = b->Begin("mp4s");
    b->Zeros(6);
    b->U16(1);
    uint8_t model[kWriterModelIdSize];
    ModelBytes(m, model, false);
    uint32_t bps = kWriterRecordSize * 8 * 1000 / kWriterRecordIntervalMs;
    // Object type 0xD3 (user private) marks the sensor stream; stream type 0x20 is user private.
    Esds(b, 3, 0xD3, 0x20, kWriterRecordSize, bps, bps, model, sizeof model);
    b->End(entry);
    b->End(stsd);
    Stts(b, *t.t);
    Stsc(b, t);
    // Records all have one size; the table form is only for a stream that breaks that rule.
    uint32_t fixed = kWriterRecordSize;
    for (uint32_t i = 0; i < t.t->count; ++i)
        if (t.t->sizes[i] != kWriterRecordSize) fixed = 0;
    SampleSizesAndOffsets(b, t, fixed);
    b->End(stbl);
    b->End(minf);
    b->End(mdia);
    b->End(trak);
}

// A missing media track leaves a `free` box in its place so the data track stays fifth in moov.
void Placeholder(Buf *b) {
    size_t at = b->Begin("free");
    b->End(at);
}

void Moov(const WriterMovie &m, const Plan &p, Buf *b) {
    const uint32_t created = Seconds1904(m.creation_unix);
    uint64_t duration = std::max({p.video.duration_ms, p.audio.duration_ms, p.data.duration_ms});
    size_t moov = b->Begin("moov");
    size_t mvhd = b->BeginFull("mvhd", 0, 0);
    b->U32(created);
    b->U32(created);
    b->U32(kMovieTimescale);
    b->U32(static_cast<uint32_t>(std::min<uint64_t>(duration, 0xFFFFFFFFu)));
    b->U32(0x00010000);  // rate 1.0
    b->U16(0x0100);      // volume 1.0
    b->Zeros(10);
    b->Matrix();
    b->Zeros(24);
    b->U32(4);  // next track ID
    b->End(mvhd);

    // Initial object descriptor with the profiles: visual from the VOS header when there is one.
    uint8_t visual = 0xFE;
    if (p.video.present && m.video_codec == WRITER_VIDEO_MPEG4) {
        const uint8_t *c = m.video_config;
        for (size_t i = 0; i + 4 < m.video_config_length; ++i) {
            if (c[i] == 0 && c[i + 1] == 0 && c[i + 2] == 1 && c[i + 3] == 0xB0) {
                visual = c[i + 4];
                break;
            }
        }
    } else if (!p.video.present) {
        visual = 0xFF;
    }
    uint8_t audio = p.audio.present ? 0x29 : 0xFF;  // AAC profile, level 2
    size_t iods = b->BeginFull("iods", 0, 0);
    b->Descriptor(0x10, {0x00, 0x4F, 0xFF, 0xFF, audio, visual, 0xFF});
    b->End(iods);

    if (p.video.present) VideoTrak(m, p, created, b);
    else Placeholder(b);
    if (p.audio.present) AudioTrak(m, p, created, b);
    else Placeholder(b);
    DataTrak(m, p, created, b);
    b->End(moov);
}

// Header, plan and movie box of a movie; false with *detail set when it cannot be written.
bool Prepare(const WriterMovie *m, Buf *head, Plan *plan, Buf *moov, const char **detail) {
    if (!m) return Fail(detail, "no movie");
    if (!Validate(*m, detail)) return false;
    HeaderBoxes(*m, head);
    if (!MakePlan(*m, head->b.size(), plan, detail)) return false;
    Moov(*m, *plan, moov);
    if (moov->b.size() > 0xFFFFFFFFu) return Fail(detail, "movie box too large");
    return true;
}

const WriterTrack *TrackOf(const WriterMovie &m, int kind) {
    return kind == WRITER_VIDEO ? &m.video : kind == WRITER_AUDIO ? &m.audio : &m.data;
}

// --- the file ---------------------------------------------------------------------------------

// Buffered file output over a descriptor; remembers the first failure.
struct FileSink {
    int fd = -1;
    std::vector<uint8_t> buf;
    size_t used = 0;
    bool failed = false;

    bool Flush() {
        size_t done = 0;
        while (!failed && done < used) {
            ssize_t n = ::write(fd, buf.data() + done, used - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) failed = true;
            else done += static_cast<size_t>(n);
        }
        used = 0;
        return !failed;
    }
    static int Write(void *ctx, const void *data, uint32_t length) {
        auto *s = static_cast<FileSink *>(ctx);
        const uint8_t *p = static_cast<const uint8_t *>(data);
        while (length && !s->failed) {
            if (s->used == s->buf.size() && !s->Flush()) break;
            size_t n = std::min<size_t>(length, s->buf.size() - s->used);
            std::memcpy(s->buf.data() + s->used, p, n);
            s->used += n;
            p += n;
            length -= static_cast<uint32_t>(n);
        }
        return s->failed ? 0 : 1;
    }
};

}  // namespace

uint64_t WriterFileSize(const WriterMovie *movie, const char **detail) {
    Buf head, moov;
    Plan plan;
    if (!Prepare(movie, &head, &plan, &moov, detail)) return 0;
    return plan.header_size + plan.mdat_size + moov.b.size();
}

MeResult WriterWrite(const WriterMovie *movie, const WriterSourceOps *source, void *source_ctx,
                     const WriterSinkOps *sink, void *sink_ctx, const char **detail) {
    if (!source || !source->read || !sink || !sink->write) {
        Fail(detail, "no source or sink");
        return ME_ERR_INVALID_REQUEST;
    }
    Buf head, moov;
    Plan plan;
    if (!Prepare(movie, &head, &plan, &moov, detail)) return ME_ERR_INVALID_REQUEST;
    const WriterMovie &m = *movie;
    const uint64_t total = plan.header_size + plan.mdat_size + moov.b.size();

    auto put = [&](const void *p, size_t n) {
        if (n == 0 || sink->write(sink_ctx, p, static_cast<uint32_t>(n))) return true;
        Fail(detail, "write failed");
        return false;
    };
    if (!put(head.b.data(), head.b.size())) return ME_ERR_FILE_IO;
    Buf mdat_header;
    mdat_header.U32(static_cast<uint32_t>(plan.mdat_size));
    mdat_header.Tag("mdat");
    if (!put(mdat_header.b.data(), mdat_header.b.size())) return ME_ERR_FILE_IO;
    uint64_t done = plan.header_size + 8;

    std::vector<uint8_t> sample;
    for (const Placed &at : plan.order) {
        const WriterTrack &t = *TrackOf(m, at.kind);
        const TrackPlan &tp = at.kind == WRITER_VIDEO   ? plan.video
                              : at.kind == WRITER_AUDIO ? plan.audio
                                                        : plan.data;
        const Chunk &c = tp.chunks[at.chunk];
        for (uint32_t i = c.first; i < c.first + c.count; ++i) {
            uint32_t size = t.sizes[i];
            if (sample.size() < size) sample.resize(size);
            MeResult r = source->read(source_ctx, at.kind, i, sample.data(), size);
            if (MeFailed(r)) {
                Fail(detail, "a sample could not be read");
                return r;
            }
            if (!put(sample.data(), size)) return ME_ERR_FILE_IO;
            done += size;
        }
        if (source->progress && source->progress(source_ctx, done, total)) {
            Fail(detail, "cancelled");
            return ME_FAIL;
        }
    }
    if (!put(moov.b.data(), moov.b.size())) return ME_ERR_FILE_IO;
    if (source->progress && source->progress(source_ctx, total, total)) {
        Fail(detail, "cancelled");
        return ME_FAIL;
    }
    return ME_OK;
}

MeResult WriterWriteFile(const WriterMovie *movie, const WriterSourceOps *source, void *source_ctx,
                         const char *path, const char **detail) {
    if (!path || !*path) {
        Fail(detail, "no output path");
        return ME_ERR_INVALID_REQUEST;
    }
    // The temporary sits beside the target so the final rename stays on one file system.
    FileSink fs;
    std::string temp;
    for (int attempt = 0; attempt < 100 && fs.fd < 0; ++attempt) {
        char suffix[48];
        std::snprintf(suffix, sizeof suffix, ".part-%ld-%d", static_cast<long>(getpid()), attempt);
        temp = std::string(path) + suffix;
        fs.fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fs.fd < 0 && errno != EEXIST) break;
    }
    if (fs.fd < 0) {
        Fail(detail, "cannot create the output file");
        return ME_ERR_FILE_CREATE;
    }
    fs.buf.resize(1 << 20);
    WriterSinkOps ops{&FileSink::Write};
    MeResult r = WriterWrite(movie, source, source_ctx, &ops, &fs, detail);
    if (!MeFailed(r) && (!fs.Flush() || ::fsync(fs.fd) != 0)) {
        Fail(detail, "write failed");
        r = ME_ERR_FILE_IO;
    }
    if (::close(fs.fd) != 0 && !MeFailed(r)) {
        Fail(detail, "write failed");
        r = ME_ERR_FILE_IO;
    }
    if (!MeFailed(r) && std::rename(temp.c_str(), path) != 0) {
        Fail(detail, "cannot rename the finished file into place");
        r = ME_ERR_FILE_CREATE;
    }
    if (MeFailed(r)) ::unlink(temp.c_str());
    return r;
}
