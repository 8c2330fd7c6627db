#pragma once
// File object of the engine: a POSIX file or a memory block, with read, write and positioning.
// Paths are UTF-8 byte strings.
#include <cstdint>

// Mode bits 0..1: access (1 read, 2 write, 3 read-write); bit 2: create.
inline constexpr int FILE_READ = 1;
inline constexpr int FILE_WRITE = 2;
inline constexpr int FILE_READ_WRITE = 3;
inline constexpr int FILE_CREATE = 4;

struct FileObj {
    int fd;             // -1 for a memory source
    uint32_t non_file;  // always 0 here
    uint32_t is_memory;
    // Memory source: the block's first 4 bytes hold the payload length, big-endian.
    uint8_t *mem_block;
    uint8_t *mem_start;
    uint8_t *mem_cur;
    uint8_t *mem_end;  // end of valid data
    uint32_t mem_remaining;
    uint32_t mem_capacity;         // payload capacity after the length word
    uint8_t *mem_high;             // high-water mark of writes
    uint32_t written;              // a write happened (memory: store the length on close)
    struct FileFaultState *fault;  // tests only: the read fault of this path (engine/io/fault.h)
};

FileObj *FileOpen(const char *path, int mode);  // null on any failure
FileObj *FileOpenMemory(uint8_t *block, uint32_t capacity);
int32_t FileRead(FileObj *f, void *dst, uint32_t length);                 // bytes read, or -1
int32_t FileReadAt(FileObj *f, int64_t pos, void *dst, uint32_t length);  // no position change
int32_t FileWrite(FileObj *f, const void *src, uint32_t length);          // bytes written, or -1
int FileSeek(FileObj *f, int64_t offset);                                 // from the start; 1/0
int FileSkip(FileObj *f, int64_t distance);  // from the current position; 1/0
int64_t FileTell(FileObj *f);
int64_t FileSize(FileObj *f);
void FileClose(FileObj *f);  // null tolerated
// Free bytes on the file system of the current directory; 0 on failure.
uint64_t FileFreeSpace(const char *path);
