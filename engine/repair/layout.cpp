// Learning the camera's layout from a recording whose index is intact: the track set-ups from
// its movie box, the interleave from the order of its chunks.
#include <dirent.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine/io/file.h"
#include "engine/reader/reader.h"
#include "engine/repair/repair.h"

namespace {

constexpr size_t kMaxMovieBox = 64u << 20;
constexpr size_t kOrderChunks = 256;  // chunks of each track looked at for the interleave

uint32_t Be32(const uint8_t *p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
uint16_t Be16(const uint8_t *p) { return uint16_t(p[0] << 8 | p[1]); }

struct Span {
    const uint8_t *p;
    size_t n;
};

// Calls visit(type, payload) for every well-formed child box in `s`; stops at a malformed one.
template <typename F>
void Children(Span s, F visit) {
    size_t pos = 0;
    while (pos + 8 <= s.n) {
        uint32_t size = Be32(s.p + pos);
        if (size < 8 || size > s.n - pos) return;
        visit(Be32(s.p + pos + 4), Span{s.p + pos + 8, size - 8});
        pos += size;
    }
}

constexpr uint32_t Four(const char (&t)[5]) {
    return uint32_t(uint8_t(t[0])) << 24 | uint32_t(uint8_t(t[1])) << 16 |
           uint32_t(uint8_t(t[2])) << 8 | uint8_t(t[3]);
}

struct TrackFacts {
    int kind = -1;  // REPAIR_*
    uint32_t handler = 0;
    uint32_t timescale = 0;
    uint32_t delta = 0;
    uint32_t format = 0;
    int width = 0, height = 0, channels = 0;
    uint32_t rate = 0;
    std::vector<uint8_t> config;
    std::vector<uint64_t> chunks;  // the first chunk offsets
    uint64_t furthest = 0;         // the largest chunk offset of all
};

// Reads an ES descriptor's decoder-specific information (the codec configuration).
bool EsdsConfig(Span s, std::vector<uint8_t> *out) {
    size_t i = 4;  // version and flags
    auto length = [&](size_t *len) {
        *len = 0;
        for (int k = 0; k < 4; ++k) {
            if (i >= s.n) return false;
            uint8_t b = s.p[i++];
            *len = *len << 7 | (b & 0x7F);
            if (!(b & 0x80)) return true;
        }
        return true;
    };
    while (i < s.n) {
        uint8_t tag = s.p[i++];
        size_t len;
        if (!length(&len)) return false;
        if (tag == 0x03) {
            if (i + 3 > s.n) return false;
            uint8_t flags = s.p[i + 2];
            i += 3;
            if (flags & 0x80) i += 2;
            if (flags & 0x40) {
                if (i >= s.n) return false;
                i += 1 + s.p[i];
            }
            if (flags & 0x20) i += 2;
        } else if (tag == 0x04) {
            i += 13;
        } else if (tag == 0x05) {
            if (len > s.n - std::min(i, s.n)) return false;
            out->assign(s.p + i, s.p + i + len);
            return true;
        } else {
            i += len;
        }
    }
    return false;
}

void SampleEntry(Span s, TrackFacts *t) {
    if (s.n < 8) return;
    Children(Span{s.p + 8, s.n - 8}, [&](uint32_t type, Span e) {
        if (t->format) return;  // the first entry describes the track
        t->format = type;
        size_t fixed = 0;
        if (type == Four("mp4v") || type == Four("s263")) {
            if (e.n < 78) return;
            t->width = Be16(e.p + 24);
            t->height = Be16(e.p + 26);
            fixed = 78;
        } else if (type == Four("mp4a")) {
            if (e.n < 28) return;
            t->channels = Be16(e.p + 16);
            t->rate = Be16(e.p + 24);
            fixed = 28;
        } else if (type == Four("mp4s")) {
            fixed = 8;
        } else {
            return;
        }
        Children(Span{e.p + fixed, e.n - fixed}, [&](uint32_t child, Span c) {
            if (child == Four("esds")) EsdsConfig(c, &t->config);
        });
    });
}

void Stbl(Span s, TrackFacts *t) {
    Children(s, [&](uint32_t type, Span b) {
        if (type == Four("stsd")) {
            SampleEntry(b, t);
        } else if (type == Four("stts") && b.n >= 16 && Be32(b.p + 4) > 0) {
            t->delta = Be32(b.p + 12);
        } else if (type == Four("stco") && b.n >= 8) {
            uint32_t count = std::min<uint32_t>(Be32(b.p + 4), uint32_t((b.n - 8) / 4));
            for (uint32_t k = 0; k < count; ++k) {
                uint64_t at = Be32(b.p + 8 + 4 * k);
                if (k < kOrderChunks) t->chunks.push_back(at);
                t->furthest = std::max(t->furthest, at);
            }
        } else if (type == Four("co64") && b.n >= 8) {
            uint32_t count = std::min<uint32_t>(Be32(b.p + 4), uint32_t((b.n - 8) / 8));
            for (uint32_t k = 0; k < count; ++k) {
                uint64_t at = uint64_t(Be32(b.p + 8 + 8 * k)) << 32 | Be32(b.p + 12 + 8 * k);
                if (k < kOrderChunks) t->chunks.push_back(at);
                t->furthest = std::max(t->furthest, at);
            }
        }
    });
}

void Trak(Span s, TrackFacts *t) {
    Children(s, [&](uint32_t type, Span mdia) {
        if (type != Four("mdia")) return;
        Children(mdia, [&](uint32_t mt, Span b) {
            if (mt == Four("mdhd") && b.n >= 20 && b.p[0] == 0) {
                t->timescale = Be32(b.p + 12);
            } else if (mt == Four("hdlr") && b.n >= 12) {
                t->handler = Be32(b.p + 8);
            } else if (mt == Four("minf")) {
                Children(b, [&](uint32_t it, Span stbl) {
                    if (it == Four("stbl")) Stbl(stbl, t);
                });
            }
        });
    });
    if (t->handler == Four("vide")) t->kind = REPAIR_VIDEO;
    else if (t->handler == Four("soun")) t->kind = REPAIR_AUDIO;
    else if (t->handler == Four("sdsm")) t->kind = REPAIR_DATA;
}

// Between two sensor records the camera writes the pictures first, then the sound: anything else
// is an interleave the scanner does not follow.
bool InterleaveKnown(const TrackFacts *tracks[3]) {
    struct Chunk {
        uint64_t offset;
        int kind;
    };
    std::vector<Chunk> all;
    for (int k = 0; k < 3; ++k)
        if (tracks[k])
            for (uint64_t o : tracks[k]->chunks) all.push_back({o, k});
    std::sort(all.begin(), all.end(),
              [](const Chunk &a, const Chunk &b) { return a.offset < b.offset; });
    // Only the stretch every track still covers tells the order.
    uint64_t covered = UINT64_MAX;
    for (int k = 0; k < 3; ++k)
        if (tracks[k] && tracks[k]->chunks.size() == kOrderChunks)
            covered = std::min(covered, tracks[k]->chunks.back());
    bool audio_seen = false;
    for (const Chunk &c : all) {
        if (c.offset > covered) break;
        if (c.kind == REPAIR_DATA) audio_seen = false;
        else if (c.kind == REPAIR_AUDIO) audio_seen = true;
        else if (audio_seen) return false;
    }
    return true;
}

MeResult LearnFromMovie(Span moov, RepairLayout *out, uint64_t *first_record) {
    *out = RepairLayout{};
    std::vector<TrackFacts> tracks;
    Children(moov, [&](uint32_t type, Span b) {
        if (type != Four("trak")) return;
        tracks.emplace_back();
        Trak(b, &tracks.back());
    });
    const TrackFacts *by_kind[3] = {};
    for (const TrackFacts &t : tracks)
        if (t.kind >= 0 && !by_kind[t.kind] && !t.chunks.empty()) by_kind[t.kind] = &t;
    // Without its sensor records the scanner has nothing to find the 100 ms stretches by.
    const TrackFacts *v = by_kind[REPAIR_VIDEO], *a = by_kind[REPAIR_AUDIO],
                     *d = by_kind[REPAIR_DATA];
    if (!d || d->timescale == 0 || d->delta == 0) return ME_ERR_UNSUPPORTED_FILE;
    if (!InterleaveKnown(by_kind)) return ME_ERR_UNSUPPORTED_FILE;
    for (const TrackFacts &t : tracks) out->index_reach = std::max(out->index_reach, t.furthest);
    out->have_data = true;
    out->data_timescale = d->timescale;
    out->data_delta = d->delta;
    *first_record = d->chunks.front();
    if (v && v->timescale && v->delta && (v->format == Four("mp4v") || v->format == Four("s263"))) {
        out->have_video = true;
        out->video_short_header = v->format == Four("s263");
        out->video_timescale = v->timescale;
        out->video_delta = v->delta;
        out->width = v->width;
        out->height = v->height;
        out->video_config = v->config;
    }
    if (a && a->timescale && a->delta && a->format == Four("mp4a") && !a->config.empty()) {
        out->have_audio = true;
        out->audio_rate = a->timescale;
        out->audio_frame_length = a->delta;
        out->audio_channels = a->channels;
        out->audio_config = a->config;
    }
    return ME_OK;
}

bool PlausibleModel(const uint8_t *p) {
    for (uint32_t i = 0; i < kRepairModelIdSize; ++i)
        if (p[i] < 0x20 || p[i] > 0x7E) return false;
    return true;
}

}  // namespace

MeResult RepairLearnLayoutFromBytes(const uint8_t *file, size_t size, RepairLayout *out) {
    size_t pos = 0;
    while (pos + 8 <= size) {
        uint32_t box = Be32(file + pos);
        if (box < 8 || box > size - pos) break;
        if (Be32(file + pos + 4) == Four("moov")) {
            uint64_t record = 0;
            MeResult r = LearnFromMovie(Span{file + pos + 8, box - 8u}, out, &record);
            if (r != ME_OK) return r;
            if (record + kRepairModelIdOffset + kRepairModelIdSize > size)
                return ME_ERR_UNSUPPORTED_FILE;
            const uint8_t *model = file + record + kRepairModelIdOffset;
            if (!PlausibleModel(model)) return ME_ERR_UNSUPPORTED_FILE;
            out->model_id.assign(reinterpret_cast<const char *>(model), kRepairModelIdSize);
            return ME_OK;
        }
        pos += box;
    }
    return ME_ERR_UNSUPPORTED_FILE;
}

MeResult RepairLearnLayout(const char *reference_path, RepairLayout *out) {
    ReaderTopLevel top;
    ReaderIndexState state = ReaderCheckIndex(reference_path, &top);
    if (state == READER_INDEX_UNREADABLE)
        return top.file_size ? ME_ERR_FILE_IO : ME_ERR_FILE_NOT_FOUND;
    if (state != READER_INDEX_PRESENT || top.moov_start < 0) return ME_ERR_UNSUPPORTED_FILE;
    int64_t length = top.moov_end - top.moov_start;
    if (length < 8 || size_t(length) > kMaxMovieBox) return ME_ERR_UNSUPPORTED_FILE;
    FileObj *f = FileOpen(reference_path, FILE_READ);
    if (!f) return ME_ERR_FILE_NOT_FOUND;
    std::vector<uint8_t> moov(size_t(length) - 8);
    MeResult result = ME_OK;
    uint64_t record = 0;
    uint8_t model[kRepairModelIdSize];
    if (FileReadAt(f, top.moov_start + 8, moov.data(), uint32_t(moov.size())) !=
        int32_t(moov.size())) {
        result = ME_ERR_FILE_IO;
    } else {
        result = LearnFromMovie(Span{moov.data(), moov.size()}, out, &record);
        if (result == ME_OK && (FileReadAt(f, int64_t(record) + kRepairModelIdOffset, model,
                                           kRepairModelIdSize) != int32_t(kRepairModelIdSize) ||
                                !PlausibleModel(model)))
            result = ME_ERR_UNSUPPORTED_FILE;
    }
    FileClose(f);
    if (result == ME_OK)
        out->model_id.assign(reinterpret_cast<const char *>(model), kRepairModelIdSize);
    return result;
}

std::string RepairFindReference(const char *broken_path) {
    std::string path = broken_path ? broken_path : "";
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    DIR *d = opendir(dir.c_str());
    if (!d) return {};
    std::vector<std::string> names;
    while (dirent *e = readdir(d)) {
        std::string n = e->d_name;
        if (n == name || n.size() < 5) continue;
        std::string ext = n.substr(n.size() - 4);
        for (char &c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
        if (ext == ".mp4") names.push_back(n);
    }
    closedir(d);
    // The recordings just before the broken one were made by the same camera with the same set-up.
    std::sort(names.begin(), names.end(), [&](const std::string &a, const std::string &b) {
        bool a_before = a < name, b_before = b < name;
        if (a_before != b_before) return a_before;
        return a_before ? a > b : a < b;
    });
    for (const std::string &n : names) {
        std::string candidate = dir + "/" + n;
        RepairLayout layout;
        if (RepairLearnLayout(candidate.c_str(), &layout) == ME_OK) return candidate;
    }
    return {};
}
