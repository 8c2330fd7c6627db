#include "engine/io/stream.h"

#include <cstring>

#include "engine/core/mem.h"

namespace {

StreamCursor *Cursor(Stream *s, int c) {
    if (!s || c < 0 || c >= kStreamMaxCursors) return nullptr;
    return s->cursors[c];
}

char *CopyPath(const char *path) {
    size_t n = std::strlen(path);
    auto *p = static_cast<char *>(MemAlloc(n + 1));
    if (p) std::memcpy(p, path, n + 1);
    return p;
}

}  // namespace

MeResult StreamOpen(const char *path, Stream **out) {
    *out = nullptr;
    if (!path) return ME_ERR_FILE_NOT_FOUND;
    auto *s = MemNew<Stream>();
    if (!s) return ME_ERR_MEMORY;
    s->path = CopyPath(path);
    if (!s->path) {
        MemFree(s);
        return ME_ERR_MEMORY;
    }
    s->file = FileOpen(path, FILE_READ);
    if (!s->file) {
        StreamClose(s);
        return ME_ERR_FILE_NOT_FOUND;
    }
    s->size = FileSize(s->file);
    *out = s;
    return ME_OK;
}

MeResult StreamOpenMemory(uint8_t *block, uint32_t capacity, Stream **out) {
    *out = nullptr;
    auto *s = MemNew<Stream>();
    if (!s) return ME_ERR_MEMORY;
    s->file = FileOpenMemory(block, capacity);
    if (!s->file) {
        StreamClose(s);
        return ME_ERR_FILE_NOT_FOUND;
    }
    s->is_memory = 1;
    s->mem_block = block;
    s->mem_length = capacity;
    s->size = FileSize(s->file);
    *out = s;
    return ME_OK;
}

Stream *StreamClone(Stream *s) {
    if (!s) return nullptr;
    Stream *c = nullptr;
    if (s->is_memory) StreamOpenMemory(s->mem_block, s->mem_length, &c);
    else StreamOpen(s->path, &c);
    return c;
}

void StreamClose(Stream *s) {
    if (!s) return;
    for (int i = 0; i < kStreamMaxCursors; ++i) StreamCloseCursor(s, i);
    FileClose(s->file);
    MemFree(s->path);
    MemFree(s);
}

int StreamNewCursor(Stream *s, uint32_t buffer_size) {
    if (!s) return ME_FAIL;
    for (int i = 0; i < kStreamMaxCursors; ++i) {
        if (s->cursors[i]) continue;
        auto *c = MemNew<StreamCursor>();
        if (!c) return ME_ERR_MEMORY;
        if (buffer_size) {
            c->buffer = static_cast<uint8_t *>(MemAlloc(buffer_size));
            if (!c->buffer) {
                MemFree(c);
                return ME_ERR_MEMORY;
            }
            c->buffer_size = buffer_size;
            c->current = c->buffer;
        }
        s->cursors[i] = c;
        ++s->cursor_count;
        return i;
    }
    return ME_ERR_MEMORY;
}

void StreamCloseCursor(Stream *s, int cursor) {
    StreamCursor *c = Cursor(s, cursor);
    if (!c) return;
    MemFree(c->buffer);
    MemFree(c);
    s->cursors[cursor] = nullptr;
    --s->cursor_count;
}

int32_t StreamRead(Stream *s, int cursor, void *dst, uint32_t length) {
    StreamCursor *c = Cursor(s, cursor);
    if (!c || (!dst && length)) return ME_FAIL;
    auto *out = static_cast<uint8_t *>(dst);
    if (c->left >= length) {
        std::memcpy(out, c->current, length);
        c->current += length;
        c->left -= length;
        return static_cast<int32_t>(length);
    }
    uint32_t k = c->left;
    if (k) std::memcpy(out, c->current, k);
    c->left = 0;
    c->current = c->buffer;
    int32_t n = FileReadAt(s->file, c->position, out + k, length - k);
    s->read_failed = n < 0;
    if (n <= 0) return k ? static_cast<int32_t>(k) : n;
    c->position += n;
    s->handle_position = c->position;
    if (c->buffer_size) {
        int32_t r = FileReadAt(s->file, c->position, c->buffer, c->buffer_size);
        if (r < 0) s->read_failed = 1;
        if (r > 0) {
            c->left = static_cast<uint32_t>(r);
            c->position += r;
            s->handle_position = c->position;
        }
    }
    return static_cast<int32_t>(k + static_cast<uint32_t>(n));
}

namespace {
MeResult ReadBe(Stream *s, int cursor, int bytes, uint64_t *v) {
    uint8_t b[8];
    if (StreamRead(s, cursor, b, static_cast<uint32_t>(bytes)) != bytes) return ME_ERR_FILE_IO;
    uint64_t x = 0;
    for (int i = 0; i < bytes; ++i) x = (x << 8) | b[i];
    *v = x;
    return ME_OK;
}
MeResult ReadBe32(Stream *s, int cursor, int bytes, uint32_t *v) {
    uint64_t x = 0;
    MeResult r = ReadBe(s, cursor, bytes, &x);
    *v = static_cast<uint32_t>(x);
    return r;
}
}  // namespace

MeResult StreamReadU8(Stream *s, int c, uint32_t *v) { return ReadBe32(s, c, 1, v); }
MeResult StreamReadU16(Stream *s, int c, uint32_t *v) { return ReadBe32(s, c, 2, v); }
MeResult StreamReadU24(Stream *s, int c, uint32_t *v) { return ReadBe32(s, c, 3, v); }
MeResult StreamReadU32(Stream *s, int c, uint32_t *v) { return ReadBe32(s, c, 4, v); }
MeResult StreamReadU64(Stream *s, int c, uint64_t *v) { return ReadBe(s, c, 8, v); }

MeResult StreamSkip(Stream *s, int cursor, int64_t distance) {
    StreamCursor *c = Cursor(s, cursor);
    if (!c) return ME_ERR_FILE_IO;
    uint32_t consumed = c->buffer_size ? static_cast<uint32_t>(c->current - c->buffer) : 0;
    if ((distance >= 0 && distance < c->left) || (distance < 0 && -distance <= consumed)) {
        c->current += distance;
        c->left = static_cast<uint32_t>(c->left - distance);
        return ME_OK;
    }
    int64_t logical = c->position - c->left + distance;
    if (logical < 0) return ME_ERR_FILE_IO;
    c->position = logical;
    c->left = 0;
    c->current = c->buffer;
    return ME_OK;
}

MeResult StreamSeek(Stream *s, int cursor, int64_t position) {
    StreamCursor *c = Cursor(s, cursor);
    if (!c || position < 0) return ME_ERR_FILE_IO;
    c->position = position;
    c->left = 0;
    c->current = c->buffer;
    s->handle_position = position;
    return ME_OK;
}

int64_t StreamTell(Stream *s, int cursor) {
    StreamCursor *c = Cursor(s, cursor);
    return c ? c->position - c->left : -1;
}

int64_t StreamSize(Stream *s) { return s ? s->size : 0; }

int32_t StreamProbeRead(Stream *s, void *dst, uint32_t length) {
    if (!s) return ME_ERR_FILE_IO;
    int32_t n = FileReadAt(s->file, s->probe_position, dst, length);
    if (n <= 0) return ME_ERR_FILE_IO;
    s->probe_position += n;
    return n;
}

int StreamSourceFailed(Stream *s) {
    if (!s) return 0;
    if (s->read_failed) return 1;
    return !s->is_memory && FileSize(s->file) < s->size ? 1 : 0;
}

void StreamRewindProbe(Stream *s) {
    if (s) s->probe_position = 0;
}
