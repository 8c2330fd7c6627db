#pragma once
// Buffered stream: one file opened once, read through up to 20 independent cursors, each with a
// private read-ahead buffer, plus a probe position for the container probe. One thread at a time;
// readers of different tracks use clones (each with its own file handle).
#include <cstdint>

#include "engine/core/result.h"
#include "engine/io/file.h"

inline constexpr int kStreamMaxCursors = 20;

struct StreamCursor {
    int64_t position;  // file offset just after the bytes held in the buffer
    uint8_t *buffer;
    uint32_t buffer_size;  // 0 = unbuffered
    uint8_t *current;
    uint32_t left;
};

struct Stream {
    FileObj *file;
    char *path;
    uint32_t is_memory;
    uint8_t *mem_block;
    uint32_t mem_length;
    int64_t size;
    StreamCursor *cursors[kStreamMaxCursors];
    uint32_t cursor_count;
    int64_t handle_position;
    int64_t probe_position;
    uint32_t read_failed;  // the last platform read failed (not merely ended at the file's end)
};

// ME_OK with *out set, ME_ERR_FILE_NOT_FOUND (the file did not open, whatever the cause) or
// ME_ERR_MEMORY.
MeResult StreamOpen(const char *path, Stream **out);
MeResult StreamOpenMemory(uint8_t *block, uint32_t capacity, Stream **out);
Stream *StreamClone(Stream *s);  // new handle on the same file; null on failure
void StreamClose(Stream *s);     // null tolerated

// Slot 0..19, or ME_ERR_MEMORY when every slot is taken.
int StreamNewCursor(Stream *s, uint32_t buffer_size);
void StreamCloseCursor(Stream *s, int cursor);

// Bytes read (fewer at the end of the file), or a value <= 0 on failure.
int32_t StreamRead(Stream *s, int cursor, void *dst, uint32_t length);
// Big-endian integers; ME_OK, or ME_ERR_FILE_IO when the bytes are not all there.
MeResult StreamReadU8(Stream *s, int cursor, uint32_t *v);
MeResult StreamReadU16(Stream *s, int cursor, uint32_t *v);
MeResult StreamReadU24(Stream *s, int cursor, uint32_t *v);
MeResult StreamReadU32(Stream *s, int cursor, uint32_t *v);
MeResult StreamReadU64(Stream *s, int cursor, uint64_t *v);
MeResult StreamSkip(Stream *s, int cursor, int64_t distance);
MeResult StreamSeek(Stream *s, int cursor, int64_t position);
int64_t StreamTell(Stream *s, int cursor);
int64_t StreamSize(Stream *s);

// 1 when the card let the stream down: its last read failed, or the file is now shorter than when
// it was opened (it shrank, or vanished with the card). A read that ends at the end of an
// unchanged file is not a fault. Costs one fstat.
int StreamSourceFailed(Stream *s);

// Sequential reads from the start of the file for the probe; ME_ERR_FILE_IO if nothing was read.
int32_t StreamProbeRead(Stream *s, void *dst, uint32_t length);
void StreamRewindProbe(Stream *s);
