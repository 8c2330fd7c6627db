// The MP4 file in the camera's layout: header boxes, interleaved media data, then the movie box.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>

#include "tools/mkrec/mkrec.h"

namespace vt::mkrec {
namespace {

constexpr uint32_t kMovieTimescale = 1000;
constexpr uint32_t kDataTimescale = 1000;
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
        const uint8_t *q = static_cast<const uint8_t *>(p);
        b.insert(b.end(), q, q + n);
    }
    void Tag(const char *four) { Bytes(four, 4); }
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
    void End(size_t at) {
        uint32_t size = static_cast<uint32_t>(b.size() - at);
        b[at] = static_cast<uint8_t>(size >> 24);
        b[at + 1] = static_cast<uint8_t>(size >> 16);
        b[at + 2] = static_cast<uint8_t>(size >> 8);
        b[at + 3] = static_cast<uint8_t>(size);
    }
    // 14496-1 descriptor: tag, then the payload length in 7-bit groups (high bit = more follow).
    void Descriptor(uint8_t tag, const std::vector<uint8_t> &payload) {
        U8(tag);
        size_t n = payload.size();
        int groups = n < (1u << 7) ? 1 : n < (1u << 14) ? 2 : n < (1u << 21) ? 3 : 4;
        for (int g = groups - 1; g >= 0; --g) U8(((n >> (7 * g)) & 0x7F) | (g ? 0x80 : 0));
        Bytes(payload.data(), payload.size());
    }
    void Matrix() {
        static const uint32_t m[9] = {0x00010000, 0, 0, 0, 0x00010000, 0, 0, 0, 0x40000000};
        for (uint32_t v : m) U32(v);
    }
};

// --- the sample plan ----------------------------------------------------------------------------

struct Chunk {
    uint64_t offset;
    uint32_t count;
};

struct TrackPlan {
    bool present = false;
    uint32_t timescale = 0;
    uint32_t delta = 0;
    uint64_t count = 0;  // samples after looping
    std::vector<Chunk> chunks;
    uint32_t max_size = 0;
    uint64_t total_bytes = 0;
    uint64_t duration_media = 0;  // in the track's timescale
    uint64_t duration_ms = 0;

    // Slot of sample i: its decode time in ms, divided by the record interval.
    uint64_t SlotOf(uint64_t i) const {
        return i * delta * 1000 / (static_cast<uint64_t>(timescale) * kRecordIntervalMs);
    }
};

struct Plan {
    TrackPlan video, audio, data;
    uint64_t header_size = 0;  // ftyp and the three boxes after it
    uint64_t mdat_size = 0;
    uint64_t slots = 0;
};

const std::vector<uint8_t> &VideoData(const Recording &r, uint64_t i) {
    return r.video.samples[i % r.video.samples.size()].data;
}
const std::vector<uint8_t> &AudioData(const Recording &r, uint64_t i) {
    return r.audio.frames[i % r.audio.frames.size()];
}

bool Validate(const Recording &r, std::string *error) {
    if (r.loop < 1) {
        *error = "loop count must be at least 1";
        return false;
    }
    if (!r.video.samples.empty()) {
        if (r.video.timescale == 0 || r.video.frame_delta == 0) {
            *error = "video frame timing is not set";
            return false;
        }
        if (r.video.width <= 0 || r.video.height <= 0 || r.video.width > 0xFFFF ||
            r.video.height > 0xFFFF) {
            *error = "video size is not set";
            return false;
        }
        if (!r.video.samples.front().sync) {
            *error = "the first video sample is not a sync sample";
            return false;
        }
        if (r.video.config.size() > 0x0FFFFFFF) {
            *error = "video configuration too large";
            return false;
        }
    }
    if (!r.audio.frames.empty()) {
        if (r.audio.sample_rate <= 0 || r.audio.channels <= 0 || r.audio.frame_length == 0) {
            *error = "audio rate, channels or frame length is not set";
            return false;
        }
        if (r.audio.config.empty()) {
            *error = "audio configuration (AudioSpecificConfig) is missing";
            return false;
        }
    }
    return true;
}

void PlanTrack(TrackPlan *t, uint64_t base_count, int loop, uint32_t timescale, uint32_t delta) {
    t->present = base_count > 0;
    t->count = base_count * static_cast<uint64_t>(loop);
    t->timescale = timescale;
    t->delta = delta;
    t->duration_media = t->count * delta;
    t->duration_ms = timescale ? (t->duration_media * 1000 + timescale / 2) / timescale : 0;
}

bool MakePlan(const Recording &r, uint64_t header_size, Plan *p, std::string *error) {
    PlanTrack(&p->video, r.video.samples.size(), r.loop, r.video.timescale, r.video.frame_delta);
    PlanTrack(&p->audio, r.audio.frames.size(), r.loop, static_cast<uint32_t>(r.audio.sample_rate),
              r.audio.frame_length);
    PlanTrack(&p->data, r.records.size(), 1, kDataTimescale, kRecordIntervalMs);
    if (p->video.count > 0xFFFFFFFFu || p->audio.count > 0xFFFFFFFFu ||
        p->data.count > 0xFFFFFFFFu) {
        *error = "too many samples for 32-bit sample tables";
        return false;
    }
    for (const TrackPlan *t : {&p->video, &p->audio, &p->data}) {
        if (t->duration_media > 0xFFFFFFFFu) {
            *error = "track too long for a 32-bit media duration";
            return false;
        }
    }
    p->slots = 0;
    for (const TrackPlan *t : {&p->video, &p->audio, &p->data}) {
        if (t->count) p->slots = std::max(p->slots, t->SlotOf(t->count - 1) + 1);
    }

    p->header_size = header_size;
    uint64_t pos = header_size + 8;  // first payload byte in mdat
    uint64_t vi = 0, ai = 0, di = 0;
    for (uint64_t slot = 0; slot < p->slots; ++slot) {
        // Video samples of this slot, then its audio frames, then its record: one chunk each.
        uint64_t start = vi;
        uint64_t chunk_pos = pos;
        while (vi < p->video.count && p->video.SlotOf(vi) == slot) {
            uint64_t n = VideoData(r, vi).size();
            p->video.max_size = std::max<uint64_t>(p->video.max_size, n);
            p->video.total_bytes += n;
            pos += n;
            ++vi;
        }
        if (vi > start) p->video.chunks.push_back({chunk_pos, static_cast<uint32_t>(vi - start)});
        start = ai;
        chunk_pos = pos;
        while (ai < p->audio.count && p->audio.SlotOf(ai) == slot) {
            uint64_t n = AudioData(r, ai).size();
            p->audio.max_size = std::max<uint64_t>(p->audio.max_size, n);
            p->audio.total_bytes += n;
            pos += n;
            ++ai;
        }
        if (ai > start) p->audio.chunks.push_back({chunk_pos, static_cast<uint32_t>(ai - start)});
        if (di < p->data.count && di == slot) {
            p->data.chunks.push_back({pos, 1});
            pos += kRecordSize;
            p->data.total_bytes += kRecordSize;
            ++di;
        }
        if (pos > 0xFFFFFFFFu) {
            *error = "media data passes 4 GiB; 32-bit chunk offsets cannot address it";
            return false;
        }
    }
    p->data.max_size = kRecordSize;
    p->mdat_size = pos - header_size;
    return true;
}

// --- boxes ------------------------------------------------------------------------------------

void HeaderBoxes(const Recording &r, Buf *b) {
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
    std::string model =
        r.records.empty()
            ? std::string(kDefaultModelId)
            : std::string(reinterpret_cast<const char *>(r.records[0].data() + kModelIdOffset),
                          kModelIdSize);
    b->Bytes(model.data(), model.size());
    b->Zeros(22);
    b->End(at);
    at = b->Begin("free");
    b->End(at);
}

void Esds(Buf *b, uint16_t es_id, uint8_t object_type, uint8_t stream_type, uint32_t buffer_size,
          uint32_t max_bitrate, uint32_t avg_bitrate, const std::vector<uint8_t> &config) {
    Buf dcd;
    dcd.U8(object_type);
    dcd.U8(static_cast<uint32_t>(stream_type << 2) | 1);  // upstream 0, reserved 1
    dcd.U24(std::min<uint32_t>(buffer_size, 0xFFFFFF));
    dcd.U32(max_bitrate);
    dcd.U32(avg_bitrate);
    dcd.Descriptor(0x05, config);
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

// Average bit rate over the whole track and the largest bit count of any one-second window.
void Bitrates(const Recording &r, bool video, const TrackPlan &t, uint32_t *max_bps,
              uint32_t *avg_bps) {
    *avg_bps = t.duration_media
                   ? static_cast<uint32_t>(std::min<uint64_t>(
                         0xFFFFFFFFu, t.total_bytes * 8 * t.timescale / t.duration_media))
                   : 0;
    uint64_t window = std::max<uint64_t>(1, t.timescale / t.delta);
    uint64_t base = video ? r.video.samples.size() : r.audio.frames.size();
    uint64_t n = std::min<uint64_t>(t.count, base + window);  // one pass round the loop is enough
    uint64_t sum = 0, best = 0;
    for (uint64_t i = 0; i < n; ++i) {
        sum += (video ? VideoData(r, i) : AudioData(r, i)).size();
        if (i >= window)
            sum -= (video ? VideoData(r, i - window) : AudioData(r, i - window)).size();
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

void Stts(Buf *b, const TrackPlan &t) {
    size_t at = b->BeginFull("stts", 0, 0);
    b->U32(1);
    b->U32(static_cast<uint32_t>(t.count));
    b->U32(t.delta);
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

void Stco(Buf *b, const TrackPlan &t) {
    size_t at = b->BeginFull("stco", 0, 0);
    b->U32(static_cast<uint32_t>(t.chunks.size()));
    for (const Chunk &c : t.chunks) b->U32(static_cast<uint32_t>(c.offset));
    b->End(at);
}

// stsz (one size for all when `fixed` is nonzero, else one entry per sample) and then stco.
void SampleSizesAndOffsets(Buf *b, const TrackPlan &t, uint32_t fixed,
                           const std::function<size_t(uint64_t)> &size_of) {
    size_t stsz = b->BeginFull("stsz", 0, 0);
    b->U32(fixed);
    b->U32(static_cast<uint32_t>(t.count));
    if (fixed == 0)
        for (uint64_t i = 0; i < t.count; ++i) b->U32(static_cast<uint32_t>(size_of(i)));
    b->End(stsz);
    Stco(b, t);
}

void Tkhd(Buf *b, uint32_t id, uint32_t created, uint64_t duration_ms, bool audio, int width,
          int height) {
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
    b->U32(static_cast<uint32_t>(width) << 16);
    b->U32(static_cast<uint32_t>(height) << 16);
    b->End(at);
}

void Mdhd(Buf *b, uint32_t created, const TrackPlan &t) {
    size_t at = b->BeginFull("mdhd", 0, 0);
    b->U32(created);
    b->U32(created);
    b->U32(t.timescale);
    b->U32(static_cast<uint32_t>(t.duration_media));
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

void VideoTrak(const Recording &r, const Plan &p, uint32_t created, Buf *b) {
    const TrackPlan &t = p.video;
    size_t trak = b->Begin("trak");
    Tkhd(b, 1, created, t.duration_ms, false, r.video.width, r.video.height);
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
    bool h263 = r.video.codec == VideoCodec::kH263;
    size_t entry = b->Begin(h263 ? "s263" : "mp4v");
    b->Zeros(6);
    b->U16(1);  // data reference index
    b->Zeros(16);
    b->U16(static_cast<uint32_t>(r.video.width));
    b->U16(static_cast<uint32_t>(r.video.height));
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
        Bitrates(r, true, t, &max_bps, &avg_bps);
        Esds(b, 1, 0x20, 0x04, t.max_size, max_bps, avg_bps, r.video.config);
    }
    b->End(entry);
    b->End(stsd);
    Stts(b, t);
    // stss lists every I-VOP, numbered from 1, repeated for each loop of the input.
    size_t stss = b->BeginFull("stss", 0, 0);
    size_t count_at = b->b.size();
    b->U32(0);
    uint32_t syncs = 0;
    for (uint64_t i = 0; i < t.count; ++i) {
        if (r.video.samples[i % r.video.samples.size()].sync) {
            b->U32(static_cast<uint32_t>(i + 1));
            ++syncs;
        }
    }
    b->b[count_at] = static_cast<uint8_t>(syncs >> 24);
    b->b[count_at + 1] = static_cast<uint8_t>(syncs >> 16);
    b->b[count_at + 2] = static_cast<uint8_t>(syncs >> 8);
    b->b[count_at + 3] = static_cast<uint8_t>(syncs);
    b->End(stss);
    Stsc(b, t);
    SampleSizesAndOffsets(b, t, 0, [&](uint64_t i) { return VideoData(r, i).size(); });
    b->End(stbl);
    b->End(minf);
    b->End(mdia);
    b->End(trak);
}

void AudioTrak(const Recording &r, const Plan &p, uint32_t created, Buf *b) {
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
    b->U16(static_cast<uint32_t>(std::min(r.audio.channels, 2)));
    b->U16(16);
    b->U32(0);
    b->U32(static_cast<uint32_t>(r.audio.sample_rate > 0xFFFF ? 0 : r.audio.sample_rate) << 16);
    uint32_t max_bps, avg_bps;
    Bitrates(r, false, t, &max_bps, &avg_bps);
    Esds(b, 2, 0x40, 0x05, t.max_size, max_bps, avg_bps, r.audio.config);
    b->End(entry);
    b->End(stsd);
    Stts(b, t);
    Stsc(b, t);
    SampleSizesAndOffsets(b, t, 0, [&](uint64_t i) { return AudioData(r, i).size(); });
    b->End(stbl);
    b->End(minf);
    b->End(mdia);
    b->End(trak);
}

// The data track's inner order is fixed: the drive-data reader descends into it by position.
void DataTrak(const Recording &r, const Plan &p, uint32_t created, Buf *b) {
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
    std::vector<uint8_t> model(kModelIdSize, 0);
    if (!r.records.empty())
        std::memcpy(model.data(), r.records[0].data() + kModelIdOffset, kModelIdSize);
    uint32_t bps = static_cast<uint32_t>(kRecordSize * 8 * 1000 / kRecordIntervalMs);
    // Object type 0xD3 (user private) marks the sensor stream; stream type 0x20 is user private.
    Esds(b, 3, 0xD3, 0x20, kRecordSize, bps, bps, model);
    b->End(entry);
    b->End(stsd);
    Stts(b, t);
    Stsc(b, t);
    SampleSizesAndOffsets(b, t, kRecordSize, nullptr);
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

void Moov(const Recording &r, const Plan &p, Buf *b) {
    const uint32_t created = Seconds1904(r.creation_unix);
    uint64_t duration = std::max({p.video.duration_ms, p.audio.duration_ms, p.data.duration_ms});
    size_t moov = b->Begin("moov");
    size_t mvhd = b->BeginFull("mvhd", 0, 0);
    b->U32(created);
    b->U32(created);
    b->U32(kMovieTimescale);
    b->U32(static_cast<uint32_t>(duration));
    b->U32(0x00010000);  // rate 1.0
    b->U16(0x0100);      // volume 1.0
    b->Zeros(10);
    b->Matrix();
    b->Zeros(24);
    b->U32(4);  // next track ID
    b->End(mvhd);

    // Initial object descriptor with the profiles: visual from the VOS header when there is one.
    uint8_t visual = 0xFE;
    if (p.video.present && r.video.codec == VideoCodec::kMpeg4) {
        const auto &c = r.video.config;
        for (size_t i = 0; i + 4 < c.size(); ++i) {
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

    if (p.video.present)
        VideoTrak(r, p, created, b);
    else
        Placeholder(b);
    if (p.audio.present)
        AudioTrak(r, p, created, b);
    else
        Placeholder(b);
    DataTrak(r, p, created, b);
    b->End(moov);
}

// --- output -----------------------------------------------------------------------------------

class Sink {
public:
    virtual ~Sink() = default;
    virtual bool Write(const void *p, size_t n) = 0;
};

class VectorSink final : public Sink {
public:
    explicit VectorSink(std::vector<uint8_t> *out) : m_out(out) {}
    bool Write(const void *p, size_t n) override {
        const uint8_t *q = static_cast<const uint8_t *>(p);
        m_out->insert(m_out->end(), q, q + n);
        return true;
    }

private:
    std::vector<uint8_t> *m_out;
};

class FileSink final : public Sink {
public:
    explicit FileSink(FILE *f) : m_f(f) {}
    bool Write(const void *p, size_t n) override {
        return n == 0 || std::fwrite(p, 1, n, m_f) == n;
    }

private:
    FILE *m_f;
};

bool Emit(const Recording &r, Sink *sink, uint64_t *written, std::string *error) {
    if (!Validate(r, error)) return false;
    Buf head;
    HeaderBoxes(r, &head);
    Plan plan;
    if (!MakePlan(r, head.b.size(), &plan, error)) return false;
    Buf moov;
    Moov(r, plan, &moov);
    if (moov.b.size() > 0xFFFFFFFFu) {
        *error = "movie box too large";
        return false;
    }

    bool ok = sink->Write(head.b.data(), head.b.size());
    Buf mdat_header;
    mdat_header.U32(static_cast<uint32_t>(plan.mdat_size));
    mdat_header.Tag("mdat");
    ok = ok && sink->Write(mdat_header.b.data(), mdat_header.b.size());
    uint64_t vi = 0, ai = 0;
    size_t vc = 0, ac = 0, dc = 0;
    // Replay the plan's order: per slot, the video chunk, the audio chunk, the record.
    for (uint64_t slot = 0; ok && slot < plan.slots; ++slot) {
        if (vc < plan.video.chunks.size() && plan.video.SlotOf(vi) == slot) {
            for (uint32_t k = 0; ok && k < plan.video.chunks[vc].count; ++k, ++vi) {
                const auto &d = VideoData(r, vi);
                ok = sink->Write(d.data(), d.size());
            }
            ++vc;
        }
        if (ac < plan.audio.chunks.size() && plan.audio.SlotOf(ai) == slot) {
            for (uint32_t k = 0; ok && k < plan.audio.chunks[ac].count; ++k, ++ai) {
                const auto &d = AudioData(r, ai);
                ok = sink->Write(d.data(), d.size());
            }
            ++ac;
        }
        if (dc < plan.data.chunks.size() && dc == slot) {
            ok = sink->Write(r.records[dc].data(), kRecordSize);
            ++dc;
        }
    }
    ok = ok && sink->Write(moov.b.data(), moov.b.size());
    if (!ok) {
        *error = "write failed";
        return false;
    }
    *written = plan.header_size + plan.mdat_size + moov.b.size();
    return true;
}

}  // namespace

size_t RecordCountFor(const Recording &rec) {
    uint64_t ms = 0;
    if (!rec.video.samples.empty() && rec.video.timescale) {
        uint64_t n = rec.video.samples.size() * static_cast<uint64_t>(std::max(rec.loop, 1));
        ms = std::max(
            ms, (n * rec.video.frame_delta * 1000 + rec.video.timescale - 1) / rec.video.timescale);
    }
    if (!rec.audio.frames.empty() && rec.audio.sample_rate > 0) {
        uint64_t n = rec.audio.frames.size() * static_cast<uint64_t>(std::max(rec.loop, 1));
        uint64_t rate = static_cast<uint64_t>(rec.audio.sample_rate);
        ms = std::max(ms, (n * rec.audio.frame_length * 1000 + rate - 1) / rate);
    }
    return static_cast<size_t>(
        std::max<uint64_t>(1, (ms + kRecordIntervalMs - 1) / kRecordIntervalMs));
}

bool BuildRecording(const Recording &rec, std::vector<uint8_t> *out, std::string *error) {
    out->clear();
    VectorSink sink(out);
    uint64_t written = 0;
    return Emit(rec, &sink, &written, error);
}

bool WriteRecording(const Recording &rec, const std::string &path, std::string *error) {
    std::vector<char> buffer(1 << 20);  // outlives the stream that uses it
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) {
        *error = "cannot create " + path;
        return false;
    }
    std::unique_ptr<FILE, int (*)(FILE *)> guard(f, std::fclose);
    std::setvbuf(f, buffer.data(), _IOFBF, buffer.size());
    FileSink sink(f);
    uint64_t written = 0;
    if (!Emit(rec, &sink, &written, error)) {
        guard.reset();
        std::remove(path.c_str());
        return false;
    }
    if (std::fclose(guard.release()) != 0) {
        *error = "write failed: " + path;
        std::remove(path.c_str());
        return false;
    }
    return true;
}

}  // namespace vt::mkrec
