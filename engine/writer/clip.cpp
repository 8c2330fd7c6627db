// Clip export over the sample tables of the sources and the camera-layout writer.
#include "engine/writer/clip.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/core/sha256.h"
#include "engine/writer/mp4_index.h"
#include "engine/writer/mp4_writer.h"

namespace {

std::string BaseName(const std::string &path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DirName(const std::string &path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The folder of a path, absolute and without links ("" when it does not exist).
std::string RealDir(const std::string &path) {
    char buf[PATH_MAX];
    return ::realpath(DirName(path).c_str(), buf) ? std::string(buf) : std::string();
}

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// Seconds of the YYYYMMDD_HHMMSS at the start of a file name, read as UTC (only differences count).
bool NameSeconds(const std::string &path, int64_t *seconds) {
    const std::string name = BaseName(path);
    if (name.size() < 15 || name[8] != '_') return false;
    int v[14];
    for (int i = 0, k = 0; i < 15; ++i) {
        if (i == 8) continue;
        if (name[i] < '0' || name[i] > '9') return false;
        v[k++] = name[i] - '0';
    }
    auto num = [&](int at, int len) {
        int n = 0;
        for (int i = 0; i < len; ++i) n = n * 10 + v[at + i];
        return n;
    };
    int year = num(0, 4), month = num(4, 2), day = num(6, 2);
    int hour = num(8, 2), minute = num(10, 2), second = num(12, 2);
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59)
        return false;
    *seconds = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    return true;
}

int64_t UnitsToMs(uint64_t units, uint32_t timescale) {
    return static_cast<int64_t>(units * 1000 / timescale);
}

int64_t TrackDurationMs(const IndexTrack &t) {
    if (!t.kind) return 0;
    uint64_t sum = 0;
    for (uint32_t d : t.durations) sum += d;
    return UnitsToMs(sum, t.timescale);
}

const IndexTrack &TrackOf(const Mp4Index &x, int kind) {
    return kind == WRITER_VIDEO ? x.video : kind == WRITER_AUDIO ? x.audio : x.data;
}

const char *KindName(int kind) {
    return kind == WRITER_VIDEO ? "video" : kind == WRITER_AUDIO ? "audio" : "data";
}

// Why two tracks of one kind cannot be joined, or null when they can.
const char *SetupDifference(const IndexTrack &a, const IndexTrack &b) {
    if (!a.kind != !b.kind) return "track present in one only";
    if (!a.kind) return nullptr;
    if (std::strcmp(a.format, b.format) != 0) return "codec";
    if (a.timescale != b.timescale) return "time scale";
    if (a.width != b.width || a.height != b.height) return "picture size";
    if (a.sample_rate != b.sample_rate || a.channels != b.channels)
        return "sample rate or channels";
    if (a.config != b.config) return "decoder configuration";
    return nullptr;
}

// One output sample: where its bytes are.
struct Pick {
    uint32_t source;
    uint64_t offset;
};

struct OutTrack {
    std::vector<Pick> picks;
    std::vector<uint32_t> sizes, durations;
    std::vector<uint8_t> sync;
    int64_t first_ms = 0, end_ms = 0;
};

struct Sources {
    std::vector<int> fds;
    const OutTrack *tracks[4] = {};
};

MeResult ReadPick(void *ctx, int kind, uint32_t index, uint8_t *dst, uint32_t size) {
    auto *s = static_cast<Sources *>(ctx);
    const Pick &p = s->tracks[kind]->picks[index];
    uint32_t done = 0;
    while (done < size) {
        ssize_t n =
            ::pread(s->fds[p.source], dst + done, size - done, static_cast<off_t>(p.offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return ME_ERR_FILE_IO;
        done += static_cast<uint32_t>(n);
    }
    return ME_OK;
}

struct Progress {
    int (*fn)(void *, uint64_t, uint64_t);
    void *ctx;
    Sources *sources;
};

MeResult ReadVia(void *ctx, int kind, uint32_t index, uint8_t *dst, uint32_t size) {
    return ReadPick(static_cast<Progress *>(ctx)->sources, kind, index, dst, size);
}
int ProgressVia(void *ctx, uint64_t done, uint64_t total) {
    auto *p = static_cast<Progress *>(ctx);
    return p->fn ? p->fn(p->ctx, done, total) : 0;
}

MeResult Failed(ClipResult *result, MeResult code, const std::string &why) {
    result->error = why;
    return code;
}

bool SameFile(const std::string &a, const struct stat &b) {
    struct stat sa;
    return ::stat(a.c_str(), &sa) == 0 && sa.st_dev == b.st_dev && sa.st_ino == b.st_ino;
}

}  // namespace

std::vector<int64_t> ClipOffsetsFromNames(const std::vector<std::string> &sources,
                                          const std::vector<int64_t> &durations_ms) {
    std::vector<int64_t> offsets(sources.size(), 0);
    std::vector<int64_t> secs(sources.size());
    bool named = true;
    for (size_t i = 0; i < sources.size() && named; ++i) named = NameSeconds(sources[i], &secs[i]);
    if (named) {
        const int64_t first = *std::min_element(secs.begin(), secs.end());
        for (size_t i = 0; i < sources.size(); ++i) offsets[i] = (secs[i] - first) * 1000;
        return offsets;
    }
    for (size_t i = 1; i < sources.size(); ++i)
        offsets[i] = offsets[i - 1] + (i - 1 < durations_ms.size() ? durations_ms[i - 1] : 0);
    return offsets;
}

MeResult ClipExport(const ClipRequest &req, ClipResult *result) {
    *result = ClipResult{};
    if (req.sources.empty()) return Failed(result, ME_ERR_INVALID_REQUEST, "no source recording");
    if (req.to_ms <= req.from_ms)
        return Failed(result, ME_ERR_INVALID_REQUEST, "the end of the clip is not after its start");
    if (!req.offsets_ms.empty() && req.offsets_ms.size() != req.sources.size())
        return Failed(result, ME_ERR_INVALID_REQUEST, "one start time per recording is needed");

    const size_t n = req.sources.size();
    std::vector<Mp4Index> idx(n);
    std::vector<int64_t> durations(n);
    for (size_t i = 0; i < n; ++i) {
        const char *detail = nullptr;
        MeResult r = Mp4IndexRead(req.sources[i].c_str(), &idx[i], &detail);
        if (MeFailed(r))
            return Failed(result, r, req.sources[i] + ": " + (detail ? detail : "unreadable"));
        durations[i] = std::max({TrackDurationMs(idx[i].video), TrackDurationMs(idx[i].audio),
                                 TrackDurationMs(idx[i].data)});
    }
    const std::vector<int64_t> offsets =
        req.offsets_ms.empty() ? ClipOffsetsFromNames(req.sources, durations) : req.offsets_ms;
    // Recordings are taken in trip-time order, whatever order they were named in.
    std::vector<size_t> order(n);
    for (size_t i = 0; i < n; ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return offsets[a] < offsets[b]; });

    // A start past the last recording's end would otherwise reach back to its last key frame.
    int64_t trip_end = 0;
    for (size_t i = 0; i < n; ++i) trip_end = std::max(trip_end, offsets[i] + durations[i]);
    if (req.from_ms >= trip_end)
        return Failed(result, ME_ERR_INVALID_REQUEST,
                      "the recordings have no samples in that range (they end at " +
                          std::to_string(trip_end) + " ms)");

    // The clip starts at the last key frame at or before `from` (the first one when `from` lies
    // before every key frame); without video, at `from` itself.
    bool have_key = false, have_video = false;
    int64_t key_ms = 0, first_key_ms = 0;
    for (size_t i : order) {
        const IndexTrack &v = idx[i].video;
        if (!v.kind) continue;
        uint64_t dts = 0;
        for (size_t k = 0; k < v.sizes.size(); dts += v.durations[k], ++k) {
            if (!v.sync[k]) continue;
            int64_t t = offsets[i] + UnitsToMs(dts, v.timescale);
            if (!have_video) first_key_ms = t, have_video = true;
            first_key_ms = std::min(first_key_ms, t);
            if (t <= req.from_ms && (!have_key || t > key_ms)) key_ms = t, have_key = true;
        }
    }
    const int64_t start_ms = have_key ? key_ms : have_video ? first_key_ms : req.from_ms;
    if (start_ms >= req.to_ms)
        return Failed(result, ME_ERR_INVALID_REQUEST, "no key frame before the end of the clip");

    OutTrack out[4];
    std::vector<bool> used(n, false);
    for (int kind : {WRITER_VIDEO, WRITER_AUDIO, WRITER_DATA}) {
        OutTrack &o = out[kind];
        bool any = false;
        for (size_t i : order) {
            const IndexTrack &t = TrackOf(idx[i], kind);
            if (!t.kind) continue;
            // Recordings that overlap in trip time give each moment once: a later recording
            // continues where the samples taken so far end.
            const bool after_earlier = any;
            const int64_t boundary = o.end_ms;
            uint64_t dts = 0;
            for (size_t k = 0; k < t.sizes.size(); dts += t.durations[k], ++k) {
                const int64_t at = offsets[i] + UnitsToMs(dts, t.timescale);
                const int64_t dur = UnitsToMs(t.durations[k], t.timescale);
                // Video from the key frame; sound and records from the sample nearest it.
                const int64_t lower = kind == WRITER_VIDEO ? start_ms : start_ms - dur / 2;
                if (at < lower || at >= req.to_ms) continue;
                if (kind == WRITER_VIDEO && o.picks.empty() && !t.sync[k]) continue;
                if (after_earlier && at < boundary) continue;
                if (!any) o.first_ms = at;
                any = true;
                o.end_ms = at + dur;
                o.picks.push_back({static_cast<uint32_t>(i), t.offsets[k]});
                o.sizes.push_back(t.sizes[k]);
                o.durations.push_back(t.durations[k]);
                o.sync.push_back(t.sync[k]);
                used[i] = true;
            }
        }
    }
    if (out[WRITER_VIDEO].picks.empty() && out[WRITER_AUDIO].picks.empty() &&
        out[WRITER_DATA].picks.empty())
        return Failed(result, ME_ERR_INVALID_REQUEST,
                      "the recordings have no samples in that range");

    // Every recording that gives samples must have been made with the same set-up as the first.
    size_t first_used = n;
    for (size_t i : order) {
        if (!used[i]) continue;
        if (first_used == n) {
            first_used = i;
            continue;
        }
        for (int kind : {WRITER_VIDEO, WRITER_AUDIO, WRITER_DATA}) {
            const char *why =
                SetupDifference(TrackOf(idx[first_used], kind), TrackOf(idx[i], kind));
            if (why)
                return Failed(result, ME_ERR_INVALID_REQUEST,
                              "the recordings differ in their " + std::string(KindName(kind)) +
                                  " set-up (" + why + "): " + BaseName(req.sources[first_used]) +
                                  " and " + BaseName(req.sources[i]));
        }
    }
    const Mp4Index &model = idx[first_used];

    // Never write over a recording: the output may be given as one of the sources' paths.
    struct stat out_stat;
    if (::stat(req.output.c_str(), &out_stat) == 0) {
        for (const std::string &s : req.sources)
            if (SameFile(s, out_stat))
                return Failed(result, ME_ERR_INVALID_REQUEST,
                              "the output would replace the source " + s);
    }

    WriterMovie m{};
    const int kinds[3] = {WRITER_VIDEO, WRITER_AUDIO, WRITER_DATA};
    WriterTrack *tracks[4] = {nullptr, &m.audio, &m.video, &m.data};
    for (int kind : kinds) {
        const OutTrack &o = out[kind];
        *tracks[kind] = {static_cast<uint32_t>(o.picks.size()), TrackOf(model, kind).timescale,
                         o.sizes.data(), o.durations.data(),
                         kind == WRITER_VIDEO ? o.sync.data() : nullptr};
    }
    if (m.video.count) {
        const IndexTrack &v = model.video;
        if (std::strcmp(v.format, "mp4v") == 0) m.video_codec = WRITER_VIDEO_MPEG4;
        else if (std::strcmp(v.format, "s263") == 0) m.video_codec = WRITER_VIDEO_H263;
        else
            return Failed(result, ME_ERR_INVALID_REQUEST,
                          std::string("video format '") + v.format + "' cannot be exported");
        m.width = v.width, m.height = v.height;
        m.video_config = v.config.data();
        m.video_config_length = static_cast<uint32_t>(v.config.size());
    }
    if (m.audio.count) {
        const IndexTrack &a = model.audio;
        if (std::strcmp(a.format, "mp4a") != 0)
            return Failed(result, ME_ERR_INVALID_REQUEST,
                          std::string("audio format '") + a.format + "' cannot be exported");
        m.sample_rate = a.sample_rate, m.channels = a.channels;
        m.audio_config = a.config.data();
        m.audio_config_length = static_cast<uint32_t>(a.config.size());
    }

    Sources src;
    src.fds.assign(n, -1);
    for (int kind : kinds) src.tracks[kind] = &out[kind];
    auto close_all = [&] {
        for (int fd : src.fds)
            if (fd >= 0) ::close(fd);
    };
    for (size_t i = 0; i < n; ++i) {
        if (!used[i]) continue;
        src.fds[i] = ::open(req.sources[i].c_str(), O_RDONLY | O_CLOEXEC);
        if (src.fds[i] < 0) {
            close_all();
            return Failed(result, ME_ERR_FILE_NOT_FOUND, "cannot open " + req.sources[i]);
        }
    }

    // The camera's model as the first record names it, for the file's signature.
    uint8_t model_id[kWriterModelIdSize];
    if (m.data.count && out[WRITER_DATA].sizes[0] >= kWriterRecordSize) {
        std::vector<uint8_t> rec(out[WRITER_DATA].sizes[0]);
        if (!MeFailed(
                ReadPick(&src, WRITER_DATA, 0, rec.data(), static_cast<uint32_t>(rec.size())))) {
            std::memcpy(model_id, rec.data() + 121, kWriterModelIdSize);
            m.model_id = model_id;
        }
    }
    const int64_t first_ms =
        out[WRITER_VIDEO].picks.empty() ? start_ms : out[WRITER_VIDEO].first_ms;
    if (model.creation_unix > 0)
        m.creation_unix = model.creation_unix + (first_ms - offsets[first_used]) / 1000;

    Progress progress{req.progress, req.progress_ctx, &src};
    const WriterSourceOps ops{ReadVia, ProgressVia};
    const char *detail = nullptr;
    MeResult r = WriterWriteFile(&m, &ops, &progress, req.output.c_str(), &detail);
    close_all();
    if (MeFailed(r))
        return Failed(result, r, std::string(detail ? detail : "write failed") + ": " + req.output);

    result->start_ms = first_ms;
    for (int kind : kinds)
        if (!out[kind].picks.empty()) result->end_ms = std::max(result->end_ms, out[kind].end_ms);
    for (int kind : kinds) {
        uint64_t sum = 0;
        for (uint32_t d : out[kind].durations) sum += d;
        if (tracks[kind]->count)
            result->duration_ms =
                std::max(result->duration_ms, UnitsToMs(sum, tracks[kind]->timescale));
    }
    result->video = m.video.count, result->audio = m.audio.count, result->data = m.data.count;
    struct stat st;
    if (::stat(req.output.c_str(), &st) == 0) result->bytes = static_cast<uint64_t>(st.st_size);
    for (size_t i = 0; i < n; ++i)
        if (used[i]) result->used.push_back(i);
    return ME_OK;
}

MeResult WriteSha256Manifest(const std::string &manifest, const std::vector<std::string> &files,
                             std::string *error) {
    const std::string folder = RealDir(manifest);
    std::string text;
    for (const std::string &f : files) {
        char hex[kSha256HexSize];
        if (!Sha256File(f.c_str(), hex)) {
            *error = "cannot read " + f;
            return ME_ERR_FILE_NOT_FOUND;
        }
        const std::string dir = RealDir(f);
        std::string name = dir == folder ? BaseName(f) : dir + "/" + BaseName(f);
        // sha256sum's escaping: a name with a backslash or a line break starts the line with '\'.
        std::string escaped;
        bool escape = false;
        for (char c : name) {
            if (c == '\\') escaped += "\\\\", escape = true;
            else if (c == '\n') escaped += "\\n", escape = true;
            else escaped += c;
        }
        text += (escape ? "\\" : "") + std::string(hex) + "  " + escaped + "\n";
    }
    const std::string temp = manifest + ".part-" + std::to_string(static_cast<long>(::getpid()));
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        *error = "cannot create " + manifest;
        return ME_ERR_FILE_CREATE;
    }
    size_t done = 0;
    bool ok = true;
    while (ok && done < text.size()) {
        ssize_t k = ::write(fd, text.data() + done, text.size() - done);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) ok = false;
        else done += static_cast<size_t>(k);
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && std::rename(temp.c_str(), manifest.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        *error = "write failed: " + manifest;
        return ME_ERR_FILE_IO;
    }
    return ME_OK;
}
