// MP4 (ISO base media file) demultiplexer, including fragmented files. Sample tables stay on disk
// and are read through buffered cursors on each track's own file handle, so a one-hour recording
// opens in the time it takes to walk its boxes.
#include <cstring>

#include "engine/core/mem.h"
#include "engine/reader/reader.h"

namespace {

constexpr uint32_t kMaxTracks = 10;
constexpr uint32_t kTableBuffer = 1024;
constexpr uint32_t kMaxAudioSample = 8192;
constexpr uint32_t kMaxVideoSample = 163840;
constexpr int kMaxDepth = 16;
constexpr uint32_t kMaxRunSamples = 1u << 20;

constexpr uint32_t Fourcc(const char (&s)[5]) {
    return uint32_t(uint8_t(s[0])) << 24 | uint32_t(uint8_t(s[1])) << 16 |
           uint32_t(uint8_t(s[2])) << 8 | uint32_t(uint8_t(s[3]));
}

struct Table {
    uint32_t count;
    int64_t start;
    uint32_t width;  // bytes per entry
    bool present;
};

// Where a track's sample iteration stands; copied whole to save and restore it around a seek.
struct Iter {
    uint32_t sample;      // index of the next sample
    uint32_t stts_entry;  // next stts entry to read
    uint32_t stts_left;   // samples left in the current run
    uint32_t stts_delta;
    uint64_t decode_time;  // media units
    uint32_t stsc_entry;   // next stsc entry to read
    uint32_t samples_per_chunk;
    uint32_t next_boundary;  // chunk index at which the next stsc entry applies
    uint32_t chunk;          // next chunk index
    uint32_t chunk_left;     // samples left in the current chunk
    int64_t byte_pos;        // file position of the next sample
    // Fragments.
    int64_t top_pos;  // next top-level box to look at
    int64_t moof_start, moof_end, traf_end, scan_pos;
    bool in_moof, in_traf, traf_match, frag_started;
    uint32_t trun_flags, trun_left;
    int64_t trun_entry_pos;
    int64_t base_offset;
    uint32_t tfhd_duration, tfhd_size;
    bool tfhd_has_duration, tfhd_has_size;
    uint32_t first_flags;
    bool has_first_flags;
    uint32_t tfhd_flags;
    bool tfhd_has_flags;
    uint32_t trun_index;  // samples of the current trun already taken
    uint64_t frag_time;   // media units accumulated in fragments
};

struct Track {
    uint32_t id;
    int kind;
    uint32_t codec_tag;
    uint32_t timescale;
    uint64_t duration;  // media units (or movie units from tkhd until mdhd)
    uint32_t duration_ms;
    uint32_t channels, sample_size, sample_rate;
    uint32_t width, height;
    uint32_t bitrate, buffer_size;
    uint8_t *config;
    uint32_t config_length;
    uint32_t nal_length_size;
    bool data_track;  // hdlr says this is the camera's data track
    bool have_mdia;
    Table stts, stsc, stsz, stco, stss;
    uint32_t constant_size, sample_count;
    uint32_t trex_duration, trex_size, trex_flags;
    uint32_t trun_count;
    uint64_t stbl_duration;  // media units covered by the sample tables
    Iter it;
    Stream *stream;  // the track's own handle: table cursors and data
    int table_cursor[5];
    int data_cursor;
};

struct Mp4 {
    uint32_t major_brand;
    uint32_t movie_timescale;
    uint64_t movie_duration;
    uint64_t fragment_duration;
    int64_t mdat_start;
    bool have_mdat;
    int64_t first_moof;
    Track tracks[kMaxTracks];
    uint32_t track_count;
    int current[4];       // per kind: track table index, -1 = none
    int described[4][3];  // per kind: the described tracks' table indexes
    uint32_t described_count[4];
    int walk_cursor;
    bool walked;
};

Mp4 *State(Reader *r) { return static_cast<Mp4 *>(r->priv); }

// ---------------------------------------------------------------------------------------------
// Box walking on the main stream.

struct Box {
    int64_t start, end;  // whole box
    int64_t payload;     // first byte after the header
    uint32_t type;
};

// Reads a box header at pos within [pos, limit). False ends the walk of the level: a size of 0,
// a box running past its parent or the file, or a header that cannot be read.
bool ReadBox(Stream *s, int cur, int64_t pos, int64_t limit, Box *box) {
    if (pos + 8 > limit) return false;
    uint32_t size32 = 0, type = 0;
    if (StreamSeek(s, cur, pos) != ME_OK || StreamReadU32(s, cur, &size32) != ME_OK ||
        StreamReadU32(s, cur, &type) != ME_OK)
        return false;
    uint64_t size = size32;
    int64_t header = 8;
    if (size32 == 1) {
        if (StreamReadU64(s, cur, &size) != ME_OK) return false;
        header = 16;
    }
    if (size == 0 || size < uint64_t(header) || size > uint64_t(limit - pos)) return false;
    box->start = pos;
    box->end = pos + static_cast<int64_t>(size);
    box->payload = pos + header;
    box->type = type;
    return true;
}

Track *FindTrack(Mp4 *m, uint32_t id, bool create) {
    for (uint32_t i = 0; i < m->track_count; ++i)
        if (m->tracks[i].id == id) return &m->tracks[i];
    if (!create || m->track_count >= kMaxTracks) return nullptr;
    Track *t = &m->tracks[m->track_count++];
    std::memset(t, 0, sizeof *t);
    t->id = id;
    t->data_cursor = -1;
    for (int &c : t->table_cursor) c = -1;
    return t;
}

struct Walker {
    Reader *r;
    Mp4 *m;
    Stream *s;
    int cur;
    int64_t file_size;
    Track *track;  // the trak being walked
    MeResult error;

    uint32_t U8() { return Read(1); }
    uint32_t U16() { return Read(2); }
    uint32_t U24() { return Read(3); }
    uint32_t U32() { return Read(4); }
    uint64_t U64() {
        uint64_t v = 0;
        if (StreamReadU64(s, cur, &v) != ME_OK) short_read = true;
        return v;
    }
    uint32_t Read(int n) {
        uint32_t v = 0;
        MeResult res = n == 1   ? StreamReadU8(s, cur, &v)
                       : n == 2 ? StreamReadU16(s, cur, &v)
                       : n == 3 ? StreamReadU24(s, cur, &v)
                                : StreamReadU32(s, cur, &v);
        if (res != ME_OK) short_read = true;
        return v;
    }
    void Skip(int64_t n) { StreamSkip(s, cur, n); }
    void Seek(int64_t p) { StreamSeek(s, cur, p); }
    int64_t Tell() { return StreamTell(s, cur); }
    bool short_read = false;
};

void WalkLevel(Walker &w, int64_t start, int64_t end, int depth,
               void (*visit)(Walker &, const Box &, int));

Table TableAt(Walker &w, const Box &box, uint32_t count, int64_t start, uint32_t width) {
    Table t{};
    // A table can never hold more entries than its box has room for.
    int64_t room = (box.end - start) / width;
    if (room < 0) room = 0;
    t.count = count < room ? count : static_cast<uint32_t>(room);
    t.start = start;
    t.width = width;
    t.present = true;
    (void)w;
    return t;
}

void ParseEsds(Track *t, const uint8_t *p, uint32_t n) {
    uint32_t i = 4;  // version and flags
    auto byte = [&](uint32_t &v) {
        if (i >= n) return false;
        v = p[i++];
        return true;
    };
    auto length = [&](uint32_t &len) {
        len = 0;
        for (int k = 0; k < 4; ++k) {
            uint32_t b;
            if (!byte(b)) return false;
            len = (len << 7) | (b & 0x7F);
            if (!(b & 0x80)) break;
        }
        return true;
    };
    uint32_t tag, len;
    if (!byte(tag)) return;
    if (tag == 3) {
        if (!length(len)) return;
        i += 2;  // ES id
        uint32_t flags;
        if (!byte(flags)) return;
        if (flags & 0x80) i += 2;
        if (flags & 0x40) {
            uint32_t url;
            if (!byte(url)) return;
            i += url;
        }
        if (flags & 0x20) i += 2;
        if (!byte(tag)) return;
    } else {
        // No ES descriptor: the decoder configuration descriptor's tag is taken from the third
        // byte after this one.
        i += 2;
        if (!byte(tag)) return;
    }
    if (tag != 4 || !length(len)) return;
    uint32_t object_type, stream_type;
    if (!byte(object_type) || !byte(stream_type)) return;
    if (i + 11 > n) return;
    t->buffer_size = uint32_t(p[i]) << 16 | uint32_t(p[i + 1]) << 8 | p[i + 2];
    i += 3 + 4;  // buffer size, maximum bit rate
    t->bitrate =
        uint32_t(p[i]) << 24 | uint32_t(p[i + 1]) << 16 | uint32_t(p[i + 2]) << 8 | p[i + 3];
    i += 4;
    switch (object_type) {
        case 0xD3: t->codec_tag = TAG_VNTR; break;
        case 0xE1: t->codec_tag = 336; break;
        case 0xE2: t->codec_tag = 146; break;
        case 0xE3: t->codec_tag = 6; break;
        case 0xE4: t->codec_tag = 7; break;
        case 0xE5: t->codec_tag = 291; break;
        case 0xF0: t->codec_tag = TAG_YV12; break;
        case 0xF1: t->codec_tag = TAG_AVC1; break;
        case 0xF2: t->codec_tag = TAG_H263; break;
        default: break;
    }
    if (!byte(tag) || tag != 5 || !length(len)) return;
    if (len > n - i) len = n - i;
    MemFree(t->config);
    t->config = static_cast<uint8_t *>(MemAllocZeroStrict(len));
    t->config_length = t->config ? len : 0;
    if (t->config) std::memcpy(t->config, p + i, len);
}

// Looks through the child boxes of a sample entry for esds or avcC (also inside a QuickTime
// "wave" box).
void ParseEntryChildren(Track *t, const uint8_t *p, uint32_t n, int depth) {
    uint32_t i = 0;
    while (i + 8 <= n && depth < 3) {
        uint32_t size =
            uint32_t(p[i]) << 24 | uint32_t(p[i + 1]) << 16 | uint32_t(p[i + 2]) << 8 | p[i + 3];
        uint32_t type = uint32_t(p[i + 4]) << 24 | uint32_t(p[i + 5]) << 16 |
                        uint32_t(p[i + 6]) << 8 | p[i + 7];
        if (size < 8 || size > n - i) break;
        if (type == Fourcc("esds")) {
            ParseEsds(t, p + i + 8, size - 8);
            return;
        }
        if (type == Fourcc("avcC")) {
            MemFree(t->config);
            t->config = static_cast<uint8_t *>(MemAllocZeroStrict(size - 8));
            t->config_length = t->config ? size - 8 : 0;
            if (t->config) std::memcpy(t->config, p + i + 8, size - 8);
            if (size - 8 > 4) t->nal_length_size = (p[i + 8 + 4] & 3) + 1;
            return;
        }
        if (type == Fourcc("wave")) ParseEntryChildren(t, p + i + 8, size - 8, depth + 1);
        i += size;
    }
}

void ParseStsd(Walker &w, const Box &box) {
    Track *t = w.track;
    w.Seek(box.payload + 4);
    uint32_t entries = w.U32();
    int64_t pos = w.Tell();
    for (uint32_t e = 0; e < entries && pos + 16 <= box.end && !w.short_read; ++e) {
        w.Seek(pos);
        uint32_t size = w.U32();
        uint32_t format = w.U32();
        if (size < 16 || pos + size > box.end) break;
        w.Skip(6);
        w.U16();  // data reference index
        int64_t children = pos + 16;
        enum { kNone, kAudio, kVideo } kind = kNone;
        uint32_t forced_rate = 0;
        switch (format) {
            case Fourcc(".mp3"):
                t->codec_tag = AUDIO_TAG_MP3;
                kind = kAudio;
                break;
            case Fourcc("mp4a"):
                t->codec_tag = AUDIO_TAG_AAC;
                kind = kAudio;
                break;
            case Fourcc("samr"):
                t->codec_tag = 310;
                kind = kAudio;
                forced_rate = 8000;
                break;
            case Fourcc("sawb"):
                t->codec_tag = 41220;
                kind = kAudio;
                forced_rate = 16000;
                break;
            case Fourcc("sevc"):
                t->codec_tag = 337;
                kind = kAudio;
                forced_rate = 8000;
                break;
            case Fourcc("sqcp"):
                t->codec_tag = 336;
                kind = kAudio;
                forced_rate = 8000;
                break;
            case Fourcc("mp4v"):
                t->codec_tag = TAG_MP4V;
                kind = kVideo;
                break;
            case Fourcc("avc1"):
                t->codec_tag = TAG_AVC1;
                kind = kVideo;
                break;
            case Fourcc("s263"):
                t->codec_tag = TAG_H263;
                kind = kVideo;
                break;
            default: break;
        }
        if (kind == kAudio) {
            uint32_t version = w.U16();
            w.Skip(6);
            t->channels = w.U16();
            t->sample_size = w.U16();
            w.Skip(2);
            t->sample_rate = w.U32();
            w.Skip(2);
            if (forced_rate) {
                t->sample_rate = forced_rate;
                t->channels = 1;
            }
            children = w.Tell();
            // QuickTime sound descriptions of version 1 and 2 carry more fields before the boxes.
            if (version == 1) children += 16;
            else if (version == 2) children += 36;
        } else if (kind == kVideo) {
            w.Skip(16);
            t->width = w.U16();
            t->height = w.U16();
            w.Skip(50);
            children = w.Tell();
        }
        // The bytes that remain in the entry: its child boxes (esds, avcC). Entries of other
        // formats are looked at too, since the data track's tag comes from its esds.
        int64_t rest = pos + size - children;
        if (rest >= 8 && rest < (1 << 20)) {
            auto *buf = static_cast<uint8_t *>(MemAlloc(static_cast<size_t>(rest)));
            if (!buf) {
                w.error = ME_ERR_MEMORY;
                return;
            }
            w.Seek(children);
            if (StreamRead(w.s, w.cur, buf, static_cast<uint32_t>(rest)) == rest)
                ParseEntryChildren(t, buf, static_cast<uint32_t>(rest), 0);
            MemFree(buf);
        }
        pos += size;
        break;  // the first sample entry describes the track
    }
}

void VisitStbl(Walker &w, const Box &box, int) {
    Track *t = w.track;
    if (box.type == Fourcc("stsd")) {
        ParseStsd(w, box);
        return;
    }
    w.Seek(box.payload + 4);  // version and flags
    switch (box.type) {
        case Fourcc("stts"): {
            uint32_t n = w.U32();
            t->stts = TableAt(w, box, n, w.Tell(), 8);
            break;
        }
        case Fourcc("stsc"): {
            uint32_t n = w.U32();
            t->stsc = TableAt(w, box, n, w.Tell(), 12);
            break;
        }
        case Fourcc("stsz"): {
            t->constant_size = w.U32();
            uint32_t n = w.U32();
            t->sample_count = n;
            t->stsz = TableAt(w, box, t->constant_size ? 0 : n, w.Tell(), 4);
            if (!t->constant_size && t->stsz.count < n) t->sample_count = t->stsz.count;
            break;
        }
        case Fourcc("stco"): {
            uint32_t n = w.U32();
            t->stco = TableAt(w, box, n, w.Tell(), 4);
            break;
        }
        case Fourcc("co64"): {
            uint32_t n = w.U32();
            t->stco = TableAt(w, box, n, w.Tell(), 8);
            break;
        }
        case Fourcc("stss"): {
            uint32_t n = w.U32();
            t->stss = TableAt(w, box, n, w.Tell(), 4);
            break;
        }
        default: break;  // ctts and the rest: time stamps are decode times
    }
}

void VisitMinf(Walker &w, const Box &box, int depth) {
    Track *t = w.track;
    switch (box.type) {
        case Fourcc("vmhd"): t->kind = TRACK_VIDEO; break;
        case Fourcc("smhd"): t->kind = TRACK_AUDIO; break;
        case Fourcc("nmhd"): t->kind = t->data_track ? TRACK_DATA : 0; break;
        case Fourcc("hmhd"): t->kind = 0; break;
        case Fourcc("stbl"):
            if (t->kind != 0) WalkLevel(w, box.payload, box.end, depth + 1, VisitStbl);
            break;
        default: break;
    }
}

void VisitMdia(Walker &w, const Box &box, int depth) {
    Track *t = w.track;
    if (box.type == Fourcc("hdlr")) {
        w.Seek(box.payload + 8);
        uint32_t handler = w.U32();
        w.Skip(12);
        // The camera marks its data track with handler "sdsm" and a name that starts with the
        // bytes of its tag.
        if (handler == Fourcc("sdsm") && box.end - w.Tell() >= 4) {
            uint32_t name = w.U32();
            uint32_t tag = TAG_VNTR;
            if (name == tag) t->data_track = true;
        }
    } else if (box.type == Fourcc("mdhd")) {
        w.Seek(box.payload);
        uint32_t version = w.U8();
        w.Skip(3);
        if (version == 1) {
            w.Skip(16);
            t->timescale = w.U32();
            t->duration = w.U64();
        } else {
            w.Skip(8);
            t->timescale = w.U32();
            t->duration = w.U32();
        }
    } else if (box.type == Fourcc("minf")) {
        WalkLevel(w, box.payload, box.end, depth + 1, VisitMinf);
    }
}

void VisitTrak(Walker &w, const Box &box, int depth) {
    if (box.type == Fourcc("tkhd")) {
        w.Seek(box.payload);
        uint32_t version = w.U8();
        w.Skip(3);
        w.Skip(version == 1 ? 16 : 8);
        uint32_t id = w.U32();
        w.Skip(4);
        uint64_t duration = version == 1 ? w.U64() : w.U32();
        w.track = FindTrack(w.m, id, true);
        if (w.track) w.track->duration = duration;
    } else if (box.type == Fourcc("mdia")) {
        if (!w.track) {
            w.error = ME_ERR_STREAM_SYNTAX;
            return;
        }
        w.track->have_mdia = true;
        WalkLevel(w, box.payload, box.end, depth + 1, VisitMdia);
    }
}

void VisitMvex(Walker &w, const Box &box, int) {
    if (box.type == Fourcc("mehd")) {
        w.Seek(box.payload);
        uint32_t version = w.U8();
        w.Skip(3);
        w.m->fragment_duration = version ? w.U64() : w.U32();
    } else if (box.type == Fourcc("trex")) {
        w.Seek(box.payload + 4);
        uint32_t id = w.U32();
        w.Skip(4);
        uint32_t duration = w.U32();
        uint32_t size = w.U32();
        uint32_t flags = w.U32();
        if (Track *t = FindTrack(w.m, id, true)) {
            t->trex_duration = duration;
            t->trex_size = size;
            t->trex_flags = flags;
        }
    }
}

void VisitMoov(Walker &w, const Box &box, int depth) {
    if (box.type == Fourcc("mvhd")) {
        w.Seek(box.payload);
        uint32_t version = w.U8();
        w.Skip(3);
        w.Skip(version == 1 ? 16 : 8);
        w.m->movie_timescale = w.U32();
        w.m->movie_duration = version == 1 ? w.U64() : w.U32();
    } else if (box.type == Fourcc("trak")) {
        w.track = nullptr;
        WalkLevel(w, box.payload, box.end, depth + 1, VisitTrak);
        w.track = nullptr;
    } else if (box.type == Fourcc("mvex")) {
        WalkLevel(w, box.payload, box.end, depth + 1, VisitMvex);
    }
}

void VisitTraf(Walker &w, const Box &box, int) {
    if (box.type == Fourcc("tfhd")) {
        w.Seek(box.payload + 4);
        w.track = FindTrack(w.m, w.U32(), true);
    } else if (box.type == Fourcc("trun") && w.track) {
        ++w.track->trun_count;
    }
}

void VisitMoof(Walker &w, const Box &box, int depth) {
    if (box.type == Fourcc("traf")) {
        w.track = nullptr;
        WalkLevel(w, box.payload, box.end, depth + 1, VisitTraf);
        w.track = nullptr;
    }
}

void VisitTop(Walker &w, const Box &box, int depth) {
    switch (box.type) {
        case Fourcc("ftyp"):
            w.Seek(box.payload);
            w.m->major_brand = w.U32();
            break;
        case Fourcc("mdat"):
            if (!w.m->have_mdat && box.end - box.start != 8) {
                w.m->mdat_start = box.start;
                w.m->have_mdat = true;
            }
            break;
        case Fourcc("moov"): WalkLevel(w, box.payload, box.end, depth + 1, VisitMoov); break;
        case Fourcc("moof"):
            if (w.m->first_moof < 0) w.m->first_moof = box.start;
            WalkLevel(w, box.payload, box.end, depth + 1, VisitMoof);
            break;
        default: break;
    }
}

void WalkLevel(Walker &w, int64_t start, int64_t end, int depth,
               void (*visit)(Walker &, const Box &, int)) {
    if (depth > kMaxDepth) return;
    int64_t pos = start;
    Box box;
    while (w.error == ME_OK && ReadBox(w.s, w.cur, pos, end, &box)) {
        w.short_read = false;
        visit(w, box, depth);
        pos = box.end;
    }
}

// ---------------------------------------------------------------------------------------------
// Sample tables, read through the track's own cursors.

enum { kStts, kStsc, kStsz, kStco, kStss };

bool ReadEntry(Track *t, int which, const Table &table, uint32_t index, uint32_t *a,
               uint32_t *b = nullptr, uint32_t *c = nullptr) {
    if (!table.present || index >= table.count) return false;
    int cur = t->table_cursor[which];
    int64_t want = table.start + int64_t(index) * table.width;
    // A skip stays inside the cursor's buffer when it can, so walking a table back and forth by an
    // entry or two costs no file access.
    int64_t at = StreamTell(t->stream, cur);
    if (at != want && StreamSkip(t->stream, cur, want - at) != ME_OK) return false;
    uint32_t v;
    if (table.width == 8 && which == kStco) {
        uint64_t v64;
        if (StreamReadU64(t->stream, cur, &v64) != ME_OK) return false;
        *a = 0;
        if (b) *b = 0;
        // 64-bit chunk offsets are returned through the pair (high, low).
        *a = static_cast<uint32_t>(v64 >> 32);
        if (b) *b = static_cast<uint32_t>(v64);
        return true;
    }
    if (StreamReadU32(t->stream, cur, &v) != ME_OK) return false;
    *a = v;
    if (table.width >= 8) {
        if (StreamReadU32(t->stream, cur, &v) != ME_OK) return false;
        if (b) *b = v;
    }
    if (table.width >= 12) {
        if (StreamReadU32(t->stream, cur, &v) != ME_OK) return false;
        if (c) *c = v;
    }
    return true;
}

bool ChunkOffset(Track *t, uint32_t chunk, int64_t *offset) {
    uint32_t a = 0, b = 0;
    if (!ReadEntry(t, kStco, t->stco, chunk, &a, &b)) return false;
    *offset = t->stco.width == 8 ? static_cast<int64_t>((uint64_t(a) << 32) | b) : a;
    return true;
}

bool SampleSize(Track *t, uint32_t index, uint32_t *size) {
    if (t->constant_size) {
        *size = t->constant_size;
        return true;
    }
    return ReadEntry(t, kStsz, t->stsz, index, size);
}

void ResetIter(Track *t, int64_t data_start) {
    Iter &it = t->it;
    int64_t top = it.top_pos;
    std::memset(&it, 0, sizeof it);
    it.top_pos = top;
    it.byte_pos = data_start;
    uint32_t first = 1;
    if (t->stsc.count) ReadEntry(t, kStsc, t->stsc, 0, &first);
    it.next_boundary = first ? first - 1 : 0;
}

void ResetFragments(Track *t, int64_t first_moof) {
    Iter &it = t->it;
    it.top_pos = first_moof;
    it.in_moof = it.in_traf = it.traf_match = false;
    it.trun_left = 0;
    it.frag_time = 0;
    it.frag_started = false;
}

// Moves the iteration to the next chunk when the current one is used up. False when no chunk is left.
bool EnterChunk(Track *t) {
    Iter &it = t->it;
    while (it.chunk_left == 0) {
        if (it.chunk >= t->stco.count) return false;
        if (it.chunk >= it.next_boundary && it.stsc_entry < t->stsc.count) {
            uint32_t first = 0, per_chunk = 0;
            if (!ReadEntry(t, kStsc, t->stsc, it.stsc_entry, &first, &per_chunk)) return false;
            it.samples_per_chunk = per_chunk;
            ++it.stsc_entry;
            uint32_t next_first = 0;
            if (it.stsc_entry < t->stsc.count &&
                ReadEntry(t, kStsc, t->stsc, it.stsc_entry, &next_first) && next_first > 0)
                it.next_boundary = next_first - 1;
            else it.next_boundary = UINT32_MAX;
        }
        int64_t offset;
        if (!ChunkOffset(t, it.chunk, &offset)) return false;
        it.byte_pos = offset;
        it.chunk_left = it.samples_per_chunk;
        ++it.chunk;
    }
    return true;
}

bool NextRun(Track *t) {
    Iter &it = t->it;
    while (it.stts_left == 0) {
        uint32_t count, delta;
        if (!ReadEntry(t, kStts, t->stts, it.stts_entry, &count, &delta)) return false;
        ++it.stts_entry;
        it.stts_left = count;
        it.stts_delta = delta;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Fragments.

struct FragSample {
    uint32_t duration, size;
    bool sync;
};

bool FragBox(Track *t, int64_t pos, int64_t limit, Box *box) {
    return ReadBox(t->stream, t->table_cursor[kStts], pos, limit, box);
}

uint32_t FragU32(Track *t, int64_t pos, bool *ok) {
    uint32_t v = 0;
    int cur = t->table_cursor[kStts];
    int64_t at = StreamTell(t->stream, cur);
    if ((at != pos && StreamSkip(t->stream, cur, pos - at) != ME_OK) ||
        StreamReadU32(t->stream, cur, &v) != ME_OK)
        *ok = false;
    return v;
}

// Finds the next trun of the track with samples in it.
bool NextTrun(Track *t, int64_t file_size) {
    Iter &it = t->it;
    if (it.top_pos < 0) return false;
    for (int guard = 0; guard < 1000000; ++guard) {
        Box box;
        if (it.in_traf) {
            if (!FragBox(t, it.scan_pos, it.traf_end, &box)) {
                it.in_traf = false;
                it.scan_pos = it.traf_end;
                continue;
            }
            it.scan_pos = box.end;
            bool ok = true;
            if (box.type == Fourcc("tfhd")) {
                uint32_t flags = FragU32(t, box.payload, &ok);
                uint32_t id = FragU32(t, box.payload + 4, &ok);
                if (!ok || id != t->id) {
                    it.in_traf = false;
                    it.scan_pos = it.traf_end;
                    continue;
                }
                it.traf_match = true;
                int64_t p = box.payload + 8;
                it.base_offset = it.moof_start;
                if (flags & 0x1) {
                    uint64_t hi = FragU32(t, p, &ok), lo = FragU32(t, p + 4, &ok);
                    it.base_offset = static_cast<int64_t>((hi << 32) | lo);
                    p += 8;
                }
                if (flags & 0x2) p += 4;
                it.tfhd_has_duration = flags & 0x8;
                if (flags & 0x8) {
                    it.tfhd_duration = FragU32(t, p, &ok);
                    p += 4;
                }
                it.tfhd_has_size = flags & 0x10;
                if (flags & 0x10) {
                    it.tfhd_size = FragU32(t, p, &ok);
                    p += 4;
                }
                it.tfhd_has_flags = flags & 0x20;
                if (flags & 0x20) it.tfhd_flags = FragU32(t, p, &ok);
                it.byte_pos = it.base_offset;
            } else if (box.type == Fourcc("trun") && it.traf_match) {
                uint32_t vf = FragU32(t, box.payload, &ok);
                uint32_t count = FragU32(t, box.payload + 4, &ok);
                int64_t p = box.payload + 8;
                it.trun_flags = vf & 0xFFFFFF;
                if (vf & 0x1) {
                    int32_t offset = static_cast<int32_t>(FragU32(t, p, &ok));
                    it.byte_pos = it.base_offset + offset;
                    p += 4;
                }
                it.has_first_flags = vf & 0x4;
                if (vf & 0x4) {
                    it.first_flags = FragU32(t, p, &ok);
                    p += 4;
                }
                if (!ok) continue;
                // Entries that cannot fit in the box are not there.
                uint32_t entry =
                    4 * (((vf >> 8) & 1) + ((vf >> 9) & 1) + ((vf >> 10) & 1) + ((vf >> 11) & 1));
                if (entry && uint64_t(count) * entry > uint64_t(box.end - p))
                    count = static_cast<uint32_t>((box.end - p) / entry);
                // A run of default-sized samples has no table to bound it; no real run is this long.
                if (count > kMaxRunSamples) count = kMaxRunSamples;
                it.trun_left = count;
                it.trun_index = 0;
                it.trun_entry_pos = p;
                it.frag_started = true;
                if (count) return true;
            }
            continue;
        }
        if (it.in_moof) {
            if (!FragBox(t, it.scan_pos, it.moof_end, &box)) {
                it.in_moof = false;
                continue;
            }
            it.scan_pos = box.end;
            if (box.type == Fourcc("traf")) {
                it.in_traf = true;
                it.traf_match = false;
                it.traf_end = box.end;
                it.scan_pos = box.payload;
            }
            continue;
        }
        if (!FragBox(t, it.top_pos, file_size, &box)) {
            it.top_pos = -1;
            return false;
        }
        it.top_pos = box.end;
        if (box.type == Fourcc("moof")) {
            it.in_moof = true;
            it.moof_start = box.start;
            it.moof_end = box.end;
            it.scan_pos = box.payload;
        }
    }
    return false;
}

// Reads the next trun entry without consuming it.
bool PeekFragSample(Track *t, FragSample *out, int64_t *next_entry) {
    Iter &it = t->it;
    bool ok = true;
    int64_t p = it.trun_entry_pos;
    uint32_t f = it.trun_flags;
    out->duration = it.tfhd_has_duration ? it.tfhd_duration : t->trex_duration;
    out->size = it.tfhd_has_size ? it.tfhd_size : t->trex_size;
    // Sample flags: the sample's own, else the run's first-sample flags for its first sample, else
    // the fragment's default, else the movie's.
    uint32_t flags = it.tfhd_has_flags ? it.tfhd_flags : t->trex_flags;
    if (it.trun_index == 0 && it.has_first_flags) flags = it.first_flags;
    if (f & 0x100) {
        out->duration = FragU32(t, p, &ok);
        p += 4;
    }
    if (f & 0x200) {
        out->size = FragU32(t, p, &ok);
        p += 4;
    }
    if (f & 0x400) {
        flags = FragU32(t, p, &ok);
        p += 4;
    }
    if (f & 0x800) p += 4;
    out->sync = !(flags & 0x10000);  // sample_is_non_sync_sample
    *next_entry = p;
    return ok;
}

// ---------------------------------------------------------------------------------------------
// Reading.

uint64_t MsFromUnits(uint64_t units, uint32_t timescale) {
    return timescale ? units * 1000 / timescale : 0;
}

MeResult CopyPayload(Track *t, int64_t pos, uint32_t size, SampleRequest *req) {
    if (StreamSeek(t->stream, t->data_cursor, pos) != ME_OK) return ME_ERR_END_OF_DATA;
    if (t->nal_length_size >= 1 && t->nal_length_size <= 3) {
        // Short NAL length fields are widened to 4 bytes for the decoder.
        auto *tmp = static_cast<uint8_t *>(MemAlloc(size ? size : 1));
        if (!tmp) return ME_ERR_MEMORY;
        if (StreamRead(t->stream, t->data_cursor, tmp, size) != static_cast<int32_t>(size)) {
            MemFree(tmp);
            return ME_ERR_END_OF_DATA;
        }
        uint32_t L = t->nal_length_size, in = 0;
        uint64_t out = 0;
        while (in + L <= size) {
            uint32_t n = 0;
            for (uint32_t k = 0; k < L; ++k) n = (n << 8) | tmp[in + k];
            in += L;
            if (n > size - in) n = size - in;
            if (out + 4 + n > req->capacity) {
                MemFree(tmp);
                return ME_ERR_BUFFER_TOO_SMALL;
            }
            req->data[out] = uint8_t(n >> 24);
            req->data[out + 1] = uint8_t(n >> 16);
            req->data[out + 2] = uint8_t(n >> 8);
            req->data[out + 3] = uint8_t(n);
            std::memcpy(req->data + out + 4, tmp + in, n);
            out += 4 + n;
            in += n;
        }
        MemFree(tmp);
        req->written = static_cast<uint32_t>(out);
        return ME_OK;
    }
    if (size &&
        StreamRead(t->stream, t->data_cursor, req->data, size) != static_cast<int32_t>(size))
        return ME_ERR_END_OF_DATA;
    req->written = size;
    return ME_OK;
}

uint32_t WidenedSize(uint32_t size, uint32_t nal_length_size) {
    // An upper bound: every NAL unit of at least one byte gains (4 - L) bytes.
    if (nal_length_size < 1 || nal_length_size > 3) return size;
    return size + (size / (nal_length_size + 1) + 1) * (4 - nal_length_size);
}

MeResult ReadFromFragments(Reader *r, Track *t, SampleRequest *req) {
    Iter &it = t->it;
    if (it.trun_left == 0 && !NextTrun(t, StreamSize(r->stream))) return ME_ERR_END_OF_DATA;
    FragSample fs;
    int64_t next_entry;
    if (!PeekFragSample(t, &fs, &next_entry)) return ME_ERR_END_OF_DATA;
    uint32_t need = WidenedSize(fs.size, t->nal_length_size);
    if (need > req->capacity && fs.size > req->capacity) {
        req->capacity = need;
        return ME_ERR_BUFFER_TOO_SMALL;
    }
    MeResult res = CopyPayload(t, it.byte_pos, fs.size, req);
    if (res == ME_ERR_BUFFER_TOO_SMALL) req->capacity = need;
    if (res != ME_OK) return res;
    uint64_t units = t->stbl_duration + it.frag_time;
    req->time_ms = static_cast<int64_t>(MsFromUnits(units, t->timescale));
    req->duration_ms = static_cast<int64_t>(MsFromUnits(fs.duration, t->timescale));
    req->flags = 0;
    it.frag_time += fs.duration;
    it.byte_pos += fs.size;
    it.trun_entry_pos = next_entry;
    --it.trun_left;
    ++it.trun_index;
    return ME_OK;
}

Track *Current(Mp4 *m, int kind) {
    int i = m->current[kind];
    return i >= 0 ? &m->tracks[i] : nullptr;
}

// A read that came up short: the end of the track's data, unless the card failed under it.
MeResult EndOrFault(Track *t) {
    return StreamSourceFailed(t->stream) ? ME_ERR_FILE_IO : ME_ERR_END_OF_DATA;
}

MeResult Mp4ReadSample(Reader *r, SampleRequest *req) {
    Mp4 *m = State(r);
    Track *t = Current(m, req->kind);
    if (!t) return ME_ERR_NO_TRACK;
    Iter &it = t->it;
    if (it.sample >= t->sample_count) return ReadFromFragments(r, t, req);
    uint32_t size;
    if (!SampleSize(t, it.sample, &size)) return EndOrFault(t);
    uint32_t need = WidenedSize(size, t->nal_length_size);
    if (size > req->capacity) {
        req->capacity = need;
        return ME_ERR_BUFFER_TOO_SMALL;
    }
    Iter saved = it;
    if (!EnterChunk(t) || !NextRun(t)) {
        it = saved;
        return EndOrFault(t);
    }
    MeResult res = CopyPayload(t, it.byte_pos, size, req);
    if (res != ME_OK) {
        it = saved;
        if (res == ME_ERR_BUFFER_TOO_SMALL) req->capacity = need;
        return res == ME_ERR_END_OF_DATA ? EndOrFault(t) : res;
    }
    req->time_ms = static_cast<int64_t>(MsFromUnits(it.decode_time, t->timescale));
    req->duration_ms = static_cast<int64_t>(MsFromUnits(it.stts_delta, t->timescale));
    req->flags = 0;
    it.decode_time += it.stts_delta;
    --it.stts_left;
    --it.chunk_left;
    it.byte_pos += size;
    ++it.sample;
    return ME_OK;
}

// ---------------------------------------------------------------------------------------------
// Positioning.

// Byte position of sample `index` from the chunk tables; also leaves the chunk state in `it`.
bool LocateSample(Track *t, uint32_t index, int64_t file_size) {
    Iter &it = t->it;
    // Walk stsc to the chunk holding the sample.
    uint32_t first_sample = 0;  // index of the first sample of the current stsc run's chunk
    uint32_t entry = 0;
    uint32_t chunk = 0, per_chunk = 0;
    uint32_t run_first_chunk = 0;
    if (t->stsc.count == 0) return false;
    for (;;) {
        uint32_t first = 0, spc = 0, next_first = UINT32_MAX;
        if (!ReadEntry(t, kStsc, t->stsc, entry, &first, &spc)) return false;
        run_first_chunk = first ? first - 1 : 0;
        if (entry + 1 < t->stsc.count) {
            uint32_t nf = 0;
            if (!ReadEntry(t, kStsc, t->stsc, entry + 1, &nf)) return false;
            next_first = nf ? nf - 1 : 0;
        }
        uint64_t chunks_in_run =
            next_first == UINT32_MAX ? UINT64_MAX : uint64_t(next_first) - run_first_chunk;
        if (next_first < run_first_chunk) chunks_in_run = 0;
        uint64_t samples_in_run = chunks_in_run == UINT64_MAX ? UINT64_MAX : chunks_in_run * spc;
        if (spc && (samples_in_run == UINT64_MAX || index < first_sample + samples_in_run)) {
            chunk = run_first_chunk + (index - first_sample) / spc;
            per_chunk = spc;
            first_sample += (chunk - run_first_chunk) * spc;
            break;
        }
        if (entry + 1 >= t->stsc.count) return false;
        first_sample += static_cast<uint32_t>(samples_in_run);
        ++entry;
    }
    int64_t offset;
    if (!ChunkOffset(t, chunk, &offset)) return false;
    for (uint32_t s = first_sample; s < index; ++s) {
        uint32_t size;
        if (!SampleSize(t, s, &size)) return false;
        offset += size;
    }
    if (offset < 0 || offset > file_size) return false;
    it.stsc_entry = entry + 1;
    it.samples_per_chunk = per_chunk;
    uint32_t nf = 0;
    if (it.stsc_entry < t->stsc.count && ReadEntry(t, kStsc, t->stsc, it.stsc_entry, &nf) && nf > 0)
        it.next_boundary = nf - 1;
    else it.next_boundary = UINT32_MAX;
    it.chunk = chunk + 1;
    it.chunk_left = per_chunk - (index - first_sample);
    it.byte_pos = offset;
    return true;
}

enum Rule { kExact = 1, kPrevious = 2, kNearest = 3 };

// Peeks the fragment sample the iteration stands at (entering the next trun when needed).
bool FragPeek(Track *t, int64_t file_size, FragSample *fs, int64_t *next_entry) {
    if (t->it.trun_left == 0 && !NextTrun(t, file_size)) return false;
    return PeekFragSample(t, fs, next_entry);
}

void FragAdvance(Track *t, const FragSample &fs, int64_t next_entry) {
    Iter &it = t->it;
    it.frag_time += fs.duration;
    it.byte_pos += fs.size;
    it.trun_entry_pos = next_entry;
    --it.trun_left;
    ++it.trun_index;
}

// Positions within the fragments by the same rules as the sample tables use.
bool PositionInFragments(Reader *r, Track *t, uint64_t target, Rule rule, uint64_t *reached,
                         int64_t first_moof) {
    ResetFragments(t, first_moof);
    Iter &it = t->it;
    it.sample = t->sample_count;
    int64_t size = StreamSize(r->stream);
    bool have_last = false;
    Iter last{};
    uint64_t last_time = 0;
    for (uint32_t guard = 0; guard < (1u << 22); ++guard) {
        FragSample fs;
        int64_t next;
        if (!FragPeek(t, size, &fs, &next)) break;
        uint64_t time = t->stbl_duration + it.frag_time;
        bool past = rule == kExact ? time > target : time >= target;
        if (past) {
            if (rule == kExact || (fs.sync && (rule == kNearest || time == target))) {
                *reached = time;
                return true;
            }
            if (rule == kNearest) {
                Iter here = it;
                uint32_t ahead = 0;
                FragSample f2 = fs;
                int64_t n2 = next;
                bool found = false;
                while (FragPeek(t, size, &f2, &n2)) {
                    if (f2.sync && ahead > 0) {
                        found = true;
                        break;
                    }
                    FragAdvance(t, f2, n2);
                    ++ahead;
                }
                Iter next_iter = it;
                it = here;
                uint32_t back = 0;
                if (have_last) {
                    // Distances are counted in samples, as in the sample tables.
                    Iter probe = it;
                    it = last;
                    FragSample f3;
                    int64_t n3;
                    while (it.frag_time < probe.frag_time && FragPeek(t, size, &f3, &n3)) {
                        FragAdvance(t, f3, n3);
                        ++back;
                    }
                    it = probe;
                }
                if (found && (!have_last || ahead < back)) {
                    it = next_iter;
                    *reached = t->stbl_duration + it.frag_time;
                    return true;
                }
            }
            if (!have_last) return false;
            it = last;
            *reached = last_time;
            return true;
        }
        if (fs.sync) {
            have_last = true;
            last = it;
            last_time = time;
        }
        FragAdvance(t, fs, next);
    }
    return false;
}

// Sets the stts part of the iteration to stand at sample `index`.
bool SttsStateAt(Track *t, uint32_t index) {
    Iter &it = t->it;
    uint32_t base = 0;
    uint64_t time = 0;
    for (uint32_t e = 0; e < t->stts.count; ++e) {
        uint32_t count = 0, delta = 0;
        if (!ReadEntry(t, kStts, t->stts, e, &count, &delta)) return false;
        if (index < base + uint64_t(count)) {
            uint32_t k = index - base;
            it.stts_entry = e + 1;
            it.stts_left = count - k;
            it.stts_delta = delta;
            it.decode_time = time + uint64_t(k) * delta;
            return true;
        }
        base += count;
        time += uint64_t(count) * delta;
    }
    return false;
}

bool SttsTime(Track *t, uint32_t index, uint64_t *time) {
    Iter saved = t->it;
    bool ok = SttsStateAt(t, index);
    *time = t->it.decode_time;
    t->it = saved;
    return ok;
}

// Positions one track at time `time_ms` by a rule; on success returns the chosen sample's time.
bool PositionTrack(Reader *r, Track *t, int64_t time_ms, Rule rule, int64_t *reached_ms) {
    Mp4 *m = State(r);
    Iter saved = t->it;
    uint64_t target = t->timescale ? uint64_t(time_ms < 0 ? 0 : time_ms) * t->timescale / 1000 : 0;
    // Round up so that a time in ms maps to the first unit at or after it.
    if (t->timescale && MsFromUnits(target, t->timescale) < uint64_t(time_ms < 0 ? 0 : time_ms))
        ++target;
    if (target >= t->stbl_duration && m->first_moof >= 0 && t->trun_count) {
        uint64_t reached = 0;
        if (!PositionInFragments(r, t, target, rule, &reached, m->first_moof)) {
            t->it = saved;
            return false;
        }
        *reached_ms = static_cast<int64_t>(MsFromUnits(reached, t->timescale));
        return true;
    }
    ResetIter(t, m->mdat_start);
    ResetFragments(t, m->first_moof);
    // 1. The first sample at or after the target (after it, for the exact rule), from the stts runs.
    uint32_t reached = 0;
    uint32_t base = 0;
    uint64_t run_time = 0;
    bool found = false;
    for (uint32_t e = 0; e < t->stts.count && base < t->sample_count; ++e) {
        uint32_t count = 0, delta = 0;
        if (!ReadEntry(t, kStts, t->stts, e, &count, &delta)) break;
        if (count > t->sample_count - base) count = t->sample_count - base;
        uint64_t k;
        if (delta == 0) {
            k = (rule == kExact ? run_time > target : run_time >= target) ? 0 : count;
        } else if (rule == kExact) {
            k = run_time > target ? 0 : (target - run_time) / delta + 1;
        } else {
            k = run_time >= target ? 0 : (target - run_time + delta - 1) / delta;
        }
        if (k < count) {
            reached = base + static_cast<uint32_t>(k);
            found = true;
            break;
        }
        base += count;
        run_time += uint64_t(count) * delta;
    }
    if (!found) {
        t->it = saved;
        return false;
    }
    // 2. The sync sample the rule asks for.
    uint32_t chosen = reached;
    if (rule != kExact && t->stss.present) {
        // stss holds increasing 1-based sample numbers: find the last one at or before `reached`.
        uint32_t lo = 0, hi = t->stss.count;  // first entry greater than reached + 1
        while (lo < hi) {
            uint32_t mid = lo + (hi - lo) / 2, number = 0;
            if (!ReadEntry(t, kStss, t->stss, mid, &number)) {
                t->it = saved;
                return false;
            }
            if (number <= reached + 1) lo = mid + 1;
            else hi = mid;
        }
        uint32_t at_or_before = UINT32_MAX, after = UINT32_MAX, number = 0;
        if (lo > 0 && ReadEntry(t, kStss, t->stss, lo - 1, &number) && number >= 1)
            at_or_before = number - 1;
        if (lo < t->stss.count && ReadEntry(t, kStss, t->stss, lo, &number) && number >= 1)
            after = number - 1;
        uint64_t reached_time = 0;
        bool is_sync = at_or_before == reached;
        // The sample reached counts as "passed" only when it lies exactly at the time; a sync
        // sample after the time is the next one, not a previous one.
        uint32_t previous = at_or_before;
        if (is_sync) {
            previous = UINT32_MAX;
            if (lo >= 2 && ReadEntry(t, kStss, t->stss, lo - 2, &number) && number >= 1)
                previous = number - 1;
        }
        if (rule == kPrevious) {
            if (is_sync && SttsTime(t, reached, &reached_time) && reached_time == target)
                chosen = reached;
            else chosen = previous;
        } else if (is_sync) {
            chosen = reached;
        } else {
            // Nearest, counted in samples; the earlier one wins ties, and with none after it the
            // earlier one is taken rather than refusing a seek into the last group of pictures.
            chosen = previous;
            if (after != UINT32_MAX && after < t->sample_count &&
                (previous == UINT32_MAX || after - reached < reached - previous))
                chosen = after;
        }
        if (chosen == UINT32_MAX || chosen >= t->sample_count) {
            t->it = saved;
            return false;
        }
    }
    // 3. Time and stts state of the chosen sample, then its chunk and byte position.
    if (!SttsStateAt(t, chosen) || !LocateSample(t, chosen, StreamSize(r->stream))) {
        t->it = saved;
        return false;
    }
    t->it.sample = chosen;
    *reached_ms = static_cast<int64_t>(MsFromUnits(t->it.decode_time, t->timescale));
    return true;
}

struct Placement {
    Track *track;
    Iter saved;
};

// Positions the given kinds in order; each after the first at the time the previous reached (or
// at the first track's time when `follow_first`). Restores everything on any failure.
int PositionKinds(Reader *r, int64_t *time_ms, const int *kinds, const Rule *rules, int n,
                  bool follow_first_only) {
    Mp4 *m = State(r);
    Placement done[3];
    int count = 0;
    int64_t t = *time_ms, first_reached = -1;
    for (int i = 0; i < n; ++i) {
        Track *track = Current(m, kinds[i]);
        if (!track) continue;
        done[count].track = track;
        done[count].saved = track->it;
        int64_t at =
            (follow_first_only && first_reached >= 0 && kinds[i] == TRACK_DATA) ? first_reached : t;
        int64_t reached = 0;
        if (!PositionTrack(r, track, at, rules[i], &reached)) {
            for (int k = count; k >= 0; --k) done[k].track->it = done[k].saved;
            return 0;
        }
        ++count;
        if (first_reached < 0) first_reached = reached;
        t = reached;
    }
    if (first_reached < 0) return 0;
    *time_ms = first_reached;
    return 1;
}

int Mp4Seek(Reader *r, int64_t *time_ms, int mode) {
    static const int kVideoFirst[3] = {TRACK_VIDEO, TRACK_AUDIO, TRACK_DATA};
    static const Rule kVideoRules[3] = {kNearest, kNearest, kPrevious};
    static const int kAudioFirst[3] = {TRACK_AUDIO, TRACK_VIDEO, TRACK_DATA};
    static const Rule kAudioRules[3] = {kPrevious, kPrevious, kPrevious};
    if (mode == SEEK_AUDIO_FIRST)
        return PositionKinds(r, time_ms, kAudioFirst, kAudioRules, 3, true);
    return PositionKinds(r, time_ms, kVideoFirst, kVideoRules, 3, true);
}

int Mp4SeekStep(Reader *r, int64_t *time_ms, int direction) {
    static const int kOrder[3] = {TRACK_VIDEO, TRACK_AUDIO, TRACK_DATA};
    Rule rule = direction == STEP_FORWARD ? kExact : kPrevious;
    const Rule rules[3] = {rule, rule, rule};
    // Step seeking follows video: audio and data go to the time video reached.
    Mp4 *m = State(r);
    int64_t t = *time_ms;
    Placement done[3];
    int count = 0;
    int64_t lead = -1;
    for (int i = 0; i < 3; ++i) {
        Track *track = Current(m, kOrder[i]);
        if (!track) continue;
        done[count].track = track;
        done[count].saved = track->it;
        int64_t reached = 0;
        if (!PositionTrack(r, track, lead >= 0 ? lead : t, rules[i], &reached)) {
            for (int k = count; k >= 0; --k) done[k].track->it = done[k].saved;
            return 0;
        }
        ++count;
        if (lead < 0) lead = reached;
    }
    if (lead < 0) return 0;
    *time_ms = lead;
    return 1;
}

int Mp4SeekDataFirst(Reader *r, int64_t *time_ms, int direction) {
    static const int kOrder[3] = {TRACK_DATA, TRACK_AUDIO, TRACK_VIDEO};
    const Rule rules[3] = {direction == STEP_FORWARD ? kExact : kPrevious, kNearest, kPrevious};
    return PositionKinds(r, time_ms, kOrder, rules, 3, false);
}

int Mp4SeekKind(Reader *r, int kind, int64_t *time_ms) {
    Track *t = (kind >= TRACK_AUDIO && kind <= TRACK_DATA) ? Current(State(r), kind) : nullptr;
    if (!t) return 0;
    int64_t reached = 0;
    if (!PositionTrack(r, t, *time_ms, kExact, &reached)) return 0;
    *time_ms = reached;
    return 1;
}

void Mp4SelectTrack(Reader *r, int number, int kind) {
    Mp4 *m = State(r);
    if (kind < TRACK_AUDIO || kind > TRACK_DATA) return;
    if (number < 0 || uint32_t(number) >= m->described_count[kind]) return;
    int index = m->described[kind][number];
    if (index == m->current[kind]) return;
    Track *t = &m->tracks[index];
    int64_t reached = 0;
    if (PositionTrack(r, t, r->last_time_ms[kind], kPrevious, &reached)) m->current[kind] = index;
}

MeResult Mp4Command(Reader *, int) { return ME_OK; }

// ---------------------------------------------------------------------------------------------
// Open, describe, close.

void FreeTrack(Track *t) {
    MemFree(t->config);
    t->config = nullptr;
    StreamClose(t->stream);
    t->stream = nullptr;
}

MeResult Mp4Open(Reader *r) {
    auto *m = MemNew<Mp4>();
    if (!m) return ME_ERR_MEMORY;
    m->first_moof = -1;
    for (int &c : m->current) c = -1;
    r->priv = m;
    m->walk_cursor = StreamNewCursor(r->stream, kTableBuffer);
    if (m->walk_cursor < 0) return ME_ERR_MEMORY;
    return ME_OK;
}

void Mp4Close(Reader *r) {
    Mp4 *m = State(r);
    if (!m) return;
    for (uint32_t i = 0; i < m->track_count; ++i) FreeTrack(&m->tracks[i]);
    MemFree(m);
    r->priv = nullptr;
}

uint32_t ToMs(uint64_t units, uint32_t timescale) {
    uint64_t ms = MsFromUnits(units, timescale);
    return ms > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(ms);
}

MeResult OpenTrackStream(Reader *r, Track *t, int64_t data_start) {
    t->stream = StreamClone(r->stream);
    if (!t->stream) return ME_ERR_MEMORY;
    for (int i = 0; i < 5; ++i) {
        t->table_cursor[i] = StreamNewCursor(t->stream, kTableBuffer);
        if (t->table_cursor[i] < 0) return ME_ERR_MEMORY;
    }
    t->data_cursor = StreamNewCursor(t->stream, 0);
    if (t->data_cursor < 0) return ME_ERR_MEMORY;
    StreamSeek(t->stream, t->data_cursor, data_start);
    return ME_OK;
}

// Sum of the stts deltas: where the sample tables end and the fragments begin.
uint64_t TableDuration(Track *t) {
    uint64_t total = 0;
    uint32_t samples = 0;
    for (uint32_t e = 0; e < t->stts.count && samples < t->sample_count; ++e) {
        uint32_t count = 0, delta = 0;
        if (!ReadEntry(t, kStts, t->stts, e, &count, &delta)) break;
        if (count > t->sample_count - samples) count = t->sample_count - samples;
        samples += count;
        total += uint64_t(count) * delta;
    }
    return total;
}

MeResult Mp4GetInfo(Reader *r, MediaInfo *info) {
    Mp4 *m = State(r);
    if (m->walked) {
        // Described once per reader; a second call copies the same description.
    }
    for (uint32_t i = 0; i < m->track_count; ++i) FreeTrack(&m->tracks[i]);
    m->track_count = 0;
    m->first_moof = -1;
    m->have_mdat = false;
    Walker w{r, m, r->stream, m->walk_cursor, StreamSize(r->stream), nullptr, ME_OK};
    WalkLevel(w, 0, w.file_size, 0, VisitTop);
    if (w.error != ME_OK) return w.error;
    m->walked = true;

    uint32_t movie_ms = ToMs(m->movie_duration, m->movie_timescale);
    uint32_t longest = movie_ms;
    for (int k = 0; k < 4; ++k) {
        m->current[k] = -1;
        m->described_count[k] = 0;
    }
    static const uint32_t kLimit[4] = {0, kMaxAudioTracks, kMaxVideoTracks, kMaxDataTracks};
    for (uint32_t i = 0; i < m->track_count; ++i) {
        Track *t = &m->tracks[i];
        if (!t->have_mdia || t->kind == 0) continue;
        t->duration_ms = ToMs(t->duration, t->timescale);
        if (m->fragment_duration) t->duration_ms = ToMs(m->fragment_duration, m->movie_timescale);
        if (m->described_count[t->kind] >= kLimit[t->kind]) continue;
        MeResult res = OpenTrackStream(r, t, m->mdat_start);
        if (res != ME_OK) return res;
        if (t->constant_size == 0 && t->stsz.count < t->sample_count)
            t->sample_count = t->stsz.count;
        t->stbl_duration = TableDuration(t);
        ResetIter(t, m->mdat_start);
        ResetFragments(t, m->first_moof);
        m->described[t->kind][m->described_count[t->kind]++] = static_cast<int>(i);
        if (m->current[t->kind] < 0) m->current[t->kind] = static_cast<int>(i);
        if (t->duration_ms > longest) longest = t->duration_ms;
    }
    info->duration_ms = longest;
    for (uint32_t n = 0; n < m->described_count[TRACK_AUDIO]; ++n) {
        Track *t = &m->tracks[m->described[TRACK_AUDIO][n]];
        AudioTrackInfo &a = info->audio[info->audio_count++];
        a.codec_tag = t->codec_tag;
        a.sample_rate = t->sample_rate;
        a.channels = t->channels;
        a.bitrate = t->bitrate;
        a.bits_per_sample = t->sample_size;
        a.duration_ms = t->duration_ms;
        a.max_sample_size = t->buffer_size < kMaxAudioSample ? t->buffer_size : kMaxAudioSample;
        a.config_length =
            t->config_length < kDecoderConfigMax ? t->config_length : kDecoderConfigMax;
        if (a.config_length) std::memcpy(a.config, t->config, a.config_length);
        a.timed_packets = 1;
    }
    for (uint32_t n = 0; n < m->described_count[TRACK_VIDEO]; ++n) {
        Track *t = &m->tracks[m->described[TRACK_VIDEO][n]];
        VideoTrackInfo &v = info->video[info->video_count++];
        v.codec_tag = t->codec_tag;
        v.width = t->width;
        v.height = t->height;
        v.bitrate = t->bitrate;
        v.duration_ms = t->duration_ms;
        v.max_sample_size = t->buffer_size < kMaxVideoSample ? t->buffer_size : kMaxVideoSample;
        uint32_t frame_ms = t->sample_count ? t->duration_ms / t->sample_count : 0;
        if (t->duration_ms && frame_ms) v.frame_rate = 1000000 / frame_ms;
        v.config_length =
            t->config_length < kDecoderConfigMax ? t->config_length : kDecoderConfigMax;
        if (v.config_length) std::memcpy(v.config, t->config, v.config_length);
        // The full configuration (not the 128 bytes kept) is searched for the picture size.
        ReaderPictureSizeFromConfig(v.codec_tag, t->config, t->config_length, &v.width, &v.height,
                                    nullptr, nullptr);
    }
    for (uint32_t n = 0; n < m->described_count[TRACK_DATA]; ++n) {
        Track *t = &m->tracks[m->described[TRACK_DATA][n]];
        DataTrackInfo &d = info->data[info->data_count++];
        d.codec_tag = t->codec_tag;
        d.bitrate = t->bitrate;
        d.max_sample_size = t->buffer_size;
        d.duration_ms = t->duration_ms;
    }
    // Tracks that are neither described nor of a known kind hold no resources past this point.
    for (uint32_t i = 0; i < m->track_count; ++i) {
        Track *t = &m->tracks[i];
        if (!t->stream) {
            MemFree(t->config);
            t->config = nullptr;
            t->config_length = 0;
        }
    }
    return ME_OK;
}

}  // namespace

const ContainerOps kMp4ContainerOps = {
    "mp4",      Mp4Open,     Mp4Close,         Mp4GetInfo,  Mp4ReadSample,
    Mp4Seek,    Mp4SeekStep, Mp4SeekDataFirst, Mp4SeekKind, Mp4SelectTrack,
    nullptr,  // no index is built for MP4
    nullptr,  // start: the generic seek
    Mp4Command,
};
