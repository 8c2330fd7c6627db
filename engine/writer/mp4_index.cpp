// Sample tables from the movie box. Every read is bounded by its box; a table that points outside
// the file or disagrees with another is refused rather than trusted.
#include "engine/writer/mp4_index.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/writer/mp4_writer.h"

namespace {

// More samples than a day of 60 fps video plus its sound and records is not a recording.
constexpr uint64_t kMaxSamples = 32u << 20;
constexpr uint64_t kMaxMovieBox = 256u << 20;
constexpr int64_t kSecondsFrom1904To1970 = 2082844800;
constexpr int64_t kLastUnixSecond = 253402300799;  // 9999-12-31 23:59:59 UTC

constexpr uint32_t Fourcc(const char (&s)[5]) {
    return uint32_t(uint8_t(s[0])) << 24 | uint32_t(uint8_t(s[1])) << 16 |
           uint32_t(uint8_t(s[2])) << 8 | uint32_t(uint8_t(s[3]));
}

uint32_t Be32(const uint8_t *p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
uint64_t Be64(const uint8_t *p) { return uint64_t(Be32(p)) << 32 | Be32(p + 4); }
uint32_t Be16(const uint8_t *p) { return uint32_t(p[0]) << 8 | p[1]; }

// A span of bytes with bounds-checked reads; a read past the end sets `bad` and yields zeros.
struct Span {
    const uint8_t *p = nullptr;
    uint64_t n = 0;
    uint64_t at = 0;
    bool bad = false;

    bool Has(uint64_t k) const { return !bad && at <= n && n - at >= k; }
    uint32_t U32() {
        if (!Has(4)) return bad = true, 0;
        at += 4;
        return Be32(p + at - 4);
    }
    uint64_t U64() {
        if (!Has(8)) return bad = true, 0;
        at += 8;
        return Be64(p + at - 8);
    }
    void Skip(uint64_t k) {
        if (!Has(k)) bad = true;
        else at += k;
    }
};

struct Box {
    uint32_t type = 0;
    Span body;  // the payload, from after the header to the box's end
};

// Next child box of `s`; false at the end or on a malformed header.
bool NextBox(Span *s, Box *box) {
    if (!s->Has(8)) return false;
    uint64_t start = s->at;
    uint64_t size = s->U32();
    box->type = s->U32();
    if (size == 1) {
        size = s->U64();
        if (s->bad) return false;
    } else if (size == 0) {
        size = s->n - start;  // to the end of the enclosing span
    }
    uint64_t header = s->at - start;
    if (size < header || size > s->n - start) return false;
    box->body = Span{s->p + s->at, size - header, 0, false};
    s->at = start + size;
    return true;
}

bool FindChild(Span s, uint32_t type, Box *out) {
    Box b;
    while (NextBox(&s, &b))
        if (b.type == type) return *out = b, true;
    return false;
}

// 14496-1 expandable length: up to four 7-bit groups.
bool DescriptorHeader(Span *s, uint8_t *tag, uint64_t *length) {
    if (!s->Has(2)) return false;
    *tag = s->p[s->at++];
    uint64_t len = 0;
    for (int i = 0; i < 4; ++i) {
        if (!s->Has(1)) return false;
        uint8_t b = s->p[s->at++];
        len = len << 7 | (b & 0x7F);
        if (!(b & 0x80)) break;
    }
    if (!s->Has(len)) return false;
    *length = len;
    return true;
}

// The DecoderSpecificInfo inside an esds payload (after its version and flags).
void ParseEsds(Span s, std::vector<uint8_t> *config) {
    uint8_t tag;
    uint64_t len;
    s.Skip(4);
    if (!DescriptorHeader(&s, &tag, &len) || tag != 0x03) return;
    Span es{s.p + s.at, len, 0, false};
    es.Skip(2);  // ES_ID
    if (!es.Has(1)) return;
    uint8_t flags = es.p[es.at++];
    if (flags & 0x80) es.Skip(2);
    if (flags & 0x40) {
        if (!es.Has(1)) return;
        es.Skip(1 + uint64_t(es.p[es.at]));
    }
    if (flags & 0x20) es.Skip(2);
    if (es.bad || !DescriptorHeader(&es, &tag, &len) || tag != 0x04) return;
    Span dcd{es.p + es.at, len, 0, false};
    dcd.Skip(13);
    if (dcd.bad || !DescriptorHeader(&dcd, &tag, &len) || tag != 0x05) return;
    config->assign(dcd.p + dcd.at, dcd.p + dcd.at + len);
}

void ParseStsd(Span s, IndexTrack *t) {
    s.Skip(8);  // version, flags, entry count
    Box entry;
    if (!NextBox(&s, &entry)) return;
    for (int i = 0; i < 4; ++i) t->format[i] = static_cast<char>(entry.type >> (24 - 8 * i));
    Span e = entry.body;
    e.Skip(8);  // reserved, data reference index
    uint64_t children = 0;
    if (entry.type == Fourcc("mp4v") || entry.type == Fourcc("s263")) {
        e.Skip(16);
        if (e.Has(4)) {
            t->width = Be16(e.p + e.at);
            t->height = Be16(e.p + e.at + 2);
        }
        children = 8 + 70;
    } else if (entry.type == Fourcc("mp4a")) {
        e.Skip(8);
        if (e.Has(12)) {
            t->channels = Be16(e.p + e.at);
            t->sample_rate = Be32(e.p + e.at + 8) >> 16;
        }
        children = 8 + 20;
    } else if (entry.type == Fourcc("mp4s")) {
        children = 8;
    }
    if (!children || children > entry.body.n) return;
    Span kids{entry.body.p + children, entry.body.n - children, 0, false};
    Box esds;
    if (FindChild(kids, Fourcc("esds"), &esds)) ParseEsds(esds.body, &t->config);
}

bool Fail(const char **detail, const char *why) {
    if (detail) *detail = why;
    return false;
}

// Sample sizes, durations, key frames and offsets from the stbl.
bool ParseTables(Span stbl, uint64_t file_size, IndexTrack *t, const char **detail) {
    Box stsz, stts, stsc, stco, stss;
    bool co64 = false;
    if (!FindChild(stbl, Fourcc("stsz"), &stsz) || !FindChild(stbl, Fourcc("stts"), &stts) ||
        !FindChild(stbl, Fourcc("stsc"), &stsc))
        return Fail(detail, "a track lacks its sample tables");
    if (!FindChild(stbl, Fourcc("stco"), &stco)) {
        if (!FindChild(stbl, Fourcc("co64"), &stco))
            return Fail(detail, "a track lacks chunk offsets");
        co64 = true;
    }

    Span s = stsz.body;
    s.Skip(4);
    uint32_t fixed = s.U32();
    uint64_t count = s.U32();
    if (s.bad || count > kMaxSamples) return Fail(detail, "sample size table damaged");
    if (fixed == 0 && !s.Has(count * 4)) return Fail(detail, "sample size table damaged");
    if (fixed && count * fixed > file_size) return Fail(detail, "samples pass the end of the file");
    t->sizes.resize(count);
    for (uint64_t i = 0; i < count; ++i) t->sizes[i] = fixed ? fixed : s.U32();

    s = stts.body;
    s.Skip(4);
    uint32_t runs = s.U32();
    t->durations.clear();
    t->durations.reserve(count);
    for (uint32_t r = 0; r < runs && !s.bad; ++r) {
        uint32_t n = s.U32(), delta = s.U32();
        if (s.bad || n > count - t->durations.size())
            return Fail(detail, "time-to-sample table disagrees with the sample count");
        t->durations.insert(t->durations.end(), n, delta);
    }
    if (s.bad || t->durations.size() != count)
        return Fail(detail, "time-to-sample table disagrees with the sample count");

    t->sync.assign(count, 1);
    if (FindChild(stbl, Fourcc("stss"), &stss)) {
        std::fill(t->sync.begin(), t->sync.end(), 0);
        s = stss.body;
        s.Skip(4);
        uint32_t n = s.U32();
        for (uint32_t k = 0; k < n && !s.bad; ++k) {
            uint32_t i = s.U32();
            if (!s.bad && i >= 1 && i <= count) t->sync[i - 1] = 1;
        }
        if (s.bad) return Fail(detail, "key frame table damaged");
    }

    s = stco.body;
    s.Skip(4);
    uint64_t chunks = s.U32();
    if (s.bad || !s.Has(chunks * (co64 ? 8 : 4))) return Fail(detail, "chunk offset table damaged");
    std::vector<uint64_t> chunk_offsets(chunks);
    for (auto &o : chunk_offsets) o = co64 ? s.U64() : s.U32();

    Span c = stsc.body;
    c.Skip(4);
    uint32_t entries = c.U32();
    if (c.bad || !c.Has(uint64_t(entries) * 12))
        return Fail(detail, "sample-to-chunk table damaged");
    t->offsets.resize(count);
    uint64_t sample = 0;
    for (uint32_t e = 0; e < entries && sample < count; ++e) {
        uint64_t first = Be32(c.p + c.at + 12 * e);
        uint64_t per_chunk = Be32(c.p + c.at + 12 * e + 4);
        uint64_t next = e + 1 < entries ? Be32(c.p + c.at + 12 * (e + 1)) : chunks + 1;
        if (first < 1 || next <= first || next > chunks + 1)
            return Fail(detail, "sample-to-chunk table damaged");
        for (uint64_t ch = first; ch < next && sample < count; ++ch) {
            uint64_t pos = chunk_offsets[ch - 1];
            for (uint64_t k = 0; k < per_chunk && sample < count; ++k, ++sample) {
                if (pos > file_size || t->sizes[sample] > file_size - pos)
                    return Fail(detail, "samples pass the end of the file");
                t->offsets[sample] = pos;
                pos += t->sizes[sample];
            }
        }
    }
    if (sample != count) return Fail(detail, "chunks hold fewer samples than the size table");
    return true;
}

bool ParseTrak(Span trak, uint64_t file_size, Mp4Index *out, const char **detail) {
    Box mdia, mdhd, hdlr, minf, stbl, stsd;
    if (!FindChild(trak, Fourcc("mdia"), &mdia) || !FindChild(mdia.body, Fourcc("mdhd"), &mdhd) ||
        !FindChild(mdia.body, Fourcc("hdlr"), &hdlr) ||
        !FindChild(mdia.body, Fourcc("minf"), &minf) ||
        !FindChild(minf.body, Fourcc("stbl"), &stbl) ||
        !FindChild(stbl.body, Fourcc("stsd"), &stsd))
        return true;  // not a media track we copy
    Span h = hdlr.body;
    h.Skip(8);
    uint32_t handler = h.U32();
    IndexTrack *t = handler == Fourcc("vide")   ? &out->video
                    : handler == Fourcc("soun") ? &out->audio
                    : handler == Fourcc("sdsm") ? &out->data
                                                : nullptr;
    if (!t || t->kind) return true;  // another kind, or a second track of a kind
    Span m = mdhd.body;
    uint8_t version = m.Has(1) ? m.p[0] : 0;
    m.Skip(version == 1 ? 4 + 16 : 4 + 8);
    t->timescale = m.U32();
    if (m.bad || t->timescale == 0) return Fail(detail, "a track has no time scale");
    ParseStsd(stsd.body, t);
    if (!ParseTables(stbl.body, file_size, t, detail)) return false;
    t->kind = t == &out->video ? WRITER_VIDEO : t == &out->audio ? WRITER_AUDIO : WRITER_DATA;
    return true;
}

MeResult ParseMoov(Span moov, uint64_t file_size, Mp4Index *out, const char **detail) {
    Box b;
    Span s = moov;
    while (NextBox(&s, &b)) {
        if (b.type == Fourcc("mvhd")) {
            Span m = b.body;
            uint8_t version = m.Has(1) ? m.p[0] : 0;
            m.Skip(4);
            uint64_t created = version == 1 ? m.U64() : m.U32();
            // Times before 1970 or past the year 9999 (a 64-bit field can hold anything) are
            // taken as unset rather than carried into dates and clip headers.
            if (!m.bad && created > uint64_t(kSecondsFrom1904To1970) &&
                created - uint64_t(kSecondsFrom1904To1970) <= uint64_t(kLastUnixSecond))
                out->creation_unix =
                    static_cast<int64_t>(created - uint64_t(kSecondsFrom1904To1970));
        } else if (b.type == Fourcc("trak")) {
            if (!ParseTrak(b.body, file_size, out, detail)) return ME_ERR_STREAM_SYNTAX;
        } else if (b.type == Fourcc("mvex")) {
            Fail(detail, "fragmented files are not supported");
            return ME_ERR_UNSUPPORTED_FILE;
        }
    }
    if (!out->video.kind && !out->audio.kind && !out->data.kind) {
        Fail(detail, "the file has no video, audio or data track");
        return ME_ERR_UNSUPPORTED_FILE;
    }
    return ME_OK;
}

}  // namespace

MeResult Mp4IndexParse(const uint8_t *file, uint64_t size, Mp4Index *out, const char **detail) {
    *out = Mp4Index{};
    out->file_size = size;
    Span s{file, size, 0, false};
    Box b;
    while (NextBox(&s, &b))
        if (b.type == Fourcc("moov")) return ParseMoov(b.body, size, out, detail);
    Fail(detail, "no movie box (not an MP4 file, or one cut off before its index)");
    return ME_ERR_UNSUPPORTED_FILE;
}

MeResult Mp4IndexRead(const char *path, Mp4Index *out, const char **detail) {
    *out = Mp4Index{};
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        Fail(detail, "cannot open the file");
        return ME_ERR_FILE_NOT_FOUND;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        Fail(detail, "not a regular file");
        return ME_ERR_FILE_NOT_FOUND;
    }
    const uint64_t file_size = static_cast<uint64_t>(st.st_size);
    auto read_at = [&](uint64_t pos, void *dst, size_t n) {
        size_t done = 0;
        while (done < n) {
            ssize_t k = ::pread(fd, static_cast<uint8_t *>(dst) + done, n - done,
                                static_cast<off_t>(pos + done));
            if (k < 0 && errno == EINTR) continue;
            if (k <= 0) return false;
            done += static_cast<size_t>(k);
        }
        return true;
    };
    // Walk the top-level boxes by their headers only; the media data is never read here.
    MeResult r = ME_ERR_UNSUPPORTED_FILE;
    Fail(detail, "no movie box (not an MP4 file, or one cut off before its index)");
    uint64_t pos = 0;
    uint8_t h[16];
    while (pos + 8 <= file_size && read_at(pos, h, 8)) {
        uint64_t size = Be32(h), header = 8;
        if (size == 1) {
            if (pos + 16 > file_size || !read_at(pos + 8, h + 8, 8)) break;
            size = Be64(h + 8), header = 16;
        } else if (size == 0) {
            size = file_size - pos;
        }
        if (size < header || size > file_size - pos) break;
        if (Be32(h + 4) == Fourcc("moov")) {
            if (size > kMaxMovieBox) {
                Fail(detail, "movie box too large");
                r = ME_ERR_STREAM_SYNTAX;
                break;
            }
            std::vector<uint8_t> moov(size - header);
            if (!read_at(pos + header, moov.data(), moov.size())) {
                Fail(detail, "read error");
                r = ME_ERR_FILE_IO;
                break;
            }
            out->file_size = file_size;
            r = ParseMoov(Span{moov.data(), moov.size(), 0, false}, file_size, out, detail);
            break;
        }
        pos += size;
    }
    ::close(fd);
    return r;
}
