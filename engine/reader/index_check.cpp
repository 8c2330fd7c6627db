// Top-level box walk that tells a recording cut off by power loss (media data, no movie box)
// from one the reader can play and from files that are not MP4 at all.
#include <sys/stat.h>

#include <cstring>

#include "engine/io/file.h"
#include "engine/reader/reader.h"

const char *const kReaderIndexMissingText =
    "the recording's index is missing: it was cut off; try vantrec-tool repair";

namespace {

uint64_t Be(const uint8_t *p, int n) {
    uint64_t v = 0;
    for (int i = 0; i < n; ++i) v = v << 8 | p[i];
    return v;
}

// Box types are four printable characters; anything else means the walk has left the boxes.
bool PlausibleType(const uint8_t *t) {
    for (int i = 0; i < 4; ++i)
        if (t[i] < 0x20 || t[i] > 0x7E) return false;
    return true;
}

}  // namespace

ReaderIndexState ReaderCheckIndex(const char *path, ReaderTopLevel *out) {
    ReaderTopLevel top{};
    top.mdat_start = top.moov_start = -1;
    FileObj *f = FileOpen(path, FILE_READ);
    if (!f) {
        if (out) *out = top;
        return READER_INDEX_UNREADABLE;
    }
    top.file_size = FileSize(f);
    ReaderIndexState state = READER_INDEX_NOT_MP4;
    bool unreadable = false;
    int64_t pos = 0;
    for (int boxes = 0; pos + 8 <= top.file_size && boxes < 10000; ++boxes) {
        uint8_t h[16];
        int32_t n = FileReadAt(f, pos, h, 16);
        if (n < 8) {
            unreadable = n < 0;
            break;
        }
        if (!PlausibleType(h + 4)) break;
        uint64_t size = Be(h, 4);
        int64_t header = 8;
        bool to_end = false;
        if (size == 1) {
            if (n < 16) break;
            size = Be(h + 8, 8);
            header = 16;
        } else if (size == 0) {
            to_end = true;
            size = static_cast<uint64_t>(top.file_size - pos);
        }
        if (size < static_cast<uint64_t>(header) || size > (uint64_t(1) << 62)) break;
        int64_t end = pos + static_cast<int64_t>(size);
        const uint8_t *type = h + 4;
        if (std::memcmp(type, "mdat", 4) == 0 && top.mdat_start < 0) {
            top.mdat_start = pos;
            top.mdat_payload = pos + header;
            top.mdat_end = end;
            top.mdat_to_end = to_end;
        } else if (std::memcmp(type, "moov", 4) == 0 && top.moov_start < 0) {
            top.moov_start = pos;
            top.moov_end = end;
            top.moov_complete = end <= top.file_size;
        } else if (std::memcmp(type, "moof", 4) == 0 && end <= top.file_size) {
            top.has_fragments = true;
        }
        if (end > top.file_size) break;
        pos = end;
    }
    FileClose(f);
    // A read error says nothing about what lies beyond it: never call such a file cut off.
    if (unreadable) state = READER_INDEX_UNREADABLE;
    else if (top.moov_complete || top.has_fragments) state = READER_INDEX_PRESENT;
    else if (top.mdat_start >= 0) state = READER_INDEX_MISSING;
    if (out) *out = top;
    return state;
}

MeResult ReaderSourceStatus(Reader *r) {
    if (!r || !r->stream) return ME_OK;
    OsLockGuard guard(r->lock);
    Stream *s = r->stream;
    if (StreamSourceFailed(s)) return ME_ERR_FILE_IO;
    struct stat st;
    if (!s->is_memory && s->path && stat(s->path, &st) != 0) return ME_ERR_FILE_IO;
    return ME_OK;
}
