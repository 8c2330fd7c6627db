#include "engine/io/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/core/mem.h"
#include "engine/io/fault.h"

namespace {

uint32_t ReadBe32(const uint8_t *p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

}  // namespace

FileObj *FileOpen(const char *path, int mode) {
    if (!path || !*path) return nullptr;
    int access = mode & 3;
    bool create = (mode & FILE_CREATE) != 0;
    int flags = 0;
    switch (access) {
        case FILE_READ:
            if (create) return nullptr;
            flags = O_RDONLY;
            break;
        case FILE_WRITE: flags = O_WRONLY | O_TRUNC; break;
        case FILE_READ_WRITE: flags = O_RDWR | O_TRUNC; break;
        default: return nullptr;
    }
    if (create) flags |= O_CREAT;
    bool refuse = false;
    FileFaultState *fault = FileFaultFor(path, &refuse);
    if (refuse) return nullptr;
    int fd = ::open(path, flags | O_CLOEXEC, 0644);
    if (fd < 0) return nullptr;
    struct stat st;
    // A directory opens read-only on POSIX; it is not a file the engine can read.
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    auto *f = MemNew<FileObj>();
    if (!f) {
        ::close(fd);
        return nullptr;
    }
    f->fd = fd;
    f->fault = fault;
    return f;
}

FileObj *FileOpenMemory(uint8_t *block, uint32_t capacity) {
    if (!block || capacity < 4) return nullptr;
    auto *f = MemNew<FileObj>();
    if (!f) return nullptr;
    f->fd = -1;
    f->is_memory = 1;
    f->mem_block = block;
    f->mem_start = block + 4;
    f->mem_cur = f->mem_start;
    f->mem_capacity = capacity - 4;
    uint32_t length = ReadBe32(block);
    if (length > f->mem_capacity) length = f->mem_capacity;
    f->mem_end = f->mem_start + length;
    f->mem_remaining = length;
    f->mem_high = f->mem_end;
    return f;
}

int32_t FileRead(FileObj *f, void *dst, uint32_t length) {
    if (!f || (!dst && length)) return -1;
    if (length > 0x7FFFFFFF) length = 0x7FFFFFFF;
    if (f->is_memory) {
        uint32_t n = length < f->mem_remaining ? length : f->mem_remaining;
        std::memcpy(dst, f->mem_cur, n);
        f->mem_cur += n;
        f->mem_remaining -= n;
        return static_cast<int32_t>(n);
    }
    if (f->fault) {
        int64_t pos = ::lseek(f->fd, 0, SEEK_CUR);
        if (!FileFaultBeforeRead(f->fault, pos, &length)) return -1;
    }
    ssize_t n;
    do {
        n = ::read(f->fd, dst, length);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : static_cast<int32_t>(n);
}

int32_t FileReadAt(FileObj *f, int64_t pos, void *dst, uint32_t length) {
    if (!f || pos < 0 || (!dst && length)) return -1;
    if (length > 0x7FFFFFFF) length = 0x7FFFFFFF;
    if (f->is_memory) {
        int64_t avail = (f->mem_end - f->mem_start) - pos;
        if (avail <= 0) return 0;
        uint32_t n = avail < length ? static_cast<uint32_t>(avail) : length;
        std::memcpy(dst, f->mem_start + pos, n);
        return static_cast<int32_t>(n);
    }
    uint32_t done = 0;
    while (done < length) {
        uint32_t want = length - done;
        if (f->fault) {
            if (!FileFaultBeforeRead(f->fault, pos + done, &want))
                return done ? static_cast<int32_t>(done) : -1;
            if (want == 0) break;
        }
        ssize_t n = ::pread(f->fd, static_cast<uint8_t *>(dst) + done, want, pos + done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return done ? static_cast<int32_t>(done) : -1;
        if (n == 0) break;
        done += static_cast<uint32_t>(n);
    }
    return static_cast<int32_t>(done);
}

int32_t FileWrite(FileObj *f, const void *src, uint32_t length) {
    if (!f || (!src && length)) return -1;
    if (length > 0x7FFFFFFF) length = 0x7FFFFFFF;
    f->written = 1;
    if (f->is_memory) {
        uint32_t room = static_cast<uint32_t>(f->mem_start + f->mem_capacity - f->mem_cur);
        uint32_t n = length < room ? length : room;
        std::memcpy(f->mem_cur, src, n);
        f->mem_cur += n;
        if (f->mem_cur > f->mem_high) f->mem_high = f->mem_cur;
        if (f->mem_cur > f->mem_end) f->mem_end = f->mem_cur;
        f->mem_remaining = static_cast<uint32_t>(f->mem_end - f->mem_cur);
        return static_cast<int32_t>(n);
    }
    uint32_t done = 0;
    while (done < length) {
        ssize_t n = ::write(f->fd, static_cast<const uint8_t *>(src) + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return done ? static_cast<int32_t>(done) : -1;
        done += static_cast<uint32_t>(n);
    }
    // Written through, as the camera's card may be pulled at any moment.
    ::fdatasync(f->fd);
    return static_cast<int32_t>(done);
}

int FileSeek(FileObj *f, int64_t offset) {
    if (!f || offset < 0) return 0;
    if (f->is_memory) {
        if (offset > f->mem_end - f->mem_start) return 0;
        f->mem_cur = f->mem_start + offset;
        f->mem_remaining = static_cast<uint32_t>(f->mem_end - f->mem_cur);
        return 1;
    }
    return ::lseek(f->fd, offset, SEEK_SET) >= 0 ? 1 : 0;
}

int FileSkip(FileObj *f, int64_t distance) {
    if (!f) return 0;
    if (f->is_memory) {
        int64_t pos = (f->mem_cur - f->mem_start) + distance;
        if (pos < 0 || pos > f->mem_end - f->mem_start) return 0;
        f->mem_cur = f->mem_start + pos;
        f->mem_remaining = static_cast<uint32_t>(f->mem_end - f->mem_cur);
        return 1;
    }
    return ::lseek(f->fd, distance, SEEK_CUR) >= 0 ? 1 : 0;
}

int64_t FileTell(FileObj *f) {
    if (!f) return -1;
    if (f->is_memory) return f->mem_cur - f->mem_start;
    return ::lseek(f->fd, 0, SEEK_CUR);
}

int64_t FileSize(FileObj *f) {
    if (!f) return 0;
    if (f->is_memory) return f->mem_end - f->mem_start;
    struct stat st;
    int64_t size = fstat(f->fd, &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
    return f->fault ? FileFaultSize(f->fault, size) : size;
}

void FileClose(FileObj *f) {
    if (!f) return;
    if (f->is_memory) {
        if (f->written) {
            uint32_t len = static_cast<uint32_t>(f->mem_high - f->mem_start);
            f->mem_block[0] = uint8_t(len >> 24);
            f->mem_block[1] = uint8_t(len >> 16);
            f->mem_block[2] = uint8_t(len >> 8);
            f->mem_block[3] = uint8_t(len);
        }
    } else if (f->fd >= 0) {
        ::close(f->fd);
    }
    MemFree(f);
}

uint64_t FileFreeSpace(const char *) {
    struct statvfs vfs;
    if (statvfs(".", &vfs) != 0) return 0;
    return static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
}
