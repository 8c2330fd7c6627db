#include "engine/io/fault.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct FileFaultState {
    std::string path;
    // The fault's fields are single atomics so that a test may change them while reads go on.
    std::atomic<bool> active{false};
    std::atomic<int> kind{0};
    std::atomic<int64_t> at{0};
    std::atomic<int64_t> length{0};
    std::atomic<bool> tripped{false};
    std::atomic<int> hits{0};
};

namespace {

std::atomic<int> g_watched{0};

// Entries are never freed: an open file keeps pointing at its entry.
struct Registry {
    std::mutex lock;
    std::vector<std::unique_ptr<FileFaultState>> entries;

    FileFaultState *Get(const char *path, bool create) {
        for (auto &e : entries)
            if (e->path == path) return e.get();
        if (!create) return nullptr;
        entries.push_back(std::make_unique<FileFaultState>());
        entries.back()->path = path;
        g_watched.fetch_add(1);
        return entries.back().get();
    }
};

Registry &Reg() {
    static Registry r;
    return r;
}

FileFaultKind Kind(const FileFaultState *st) { return static_cast<FileFaultKind>(st->kind.load()); }

}  // namespace

void FileFaultWatch(const char *path) {
    if (!path) return;
    std::lock_guard<std::mutex> g(Reg().lock);
    Reg().Get(path, true);
}

void FileFaultSet(const char *path, const FileFault &fault) {
    if (!path) return;
    std::lock_guard<std::mutex> g(Reg().lock);
    FileFaultState *st = Reg().Get(path, true);
    st->active = false;
    st->kind = static_cast<int>(fault.kind);
    st->at = fault.at;
    st->length = fault.length;
    st->tripped = false;
    st->hits = 0;
    st->active = true;
}

void FileFaultClear(const char *path) {
    if (!path) return;
    std::lock_guard<std::mutex> g(Reg().lock);
    if (FileFaultState *st = Reg().Get(path, false)) st->active = false;
}

int FileFaultHits(const char *path) {
    if (!path) return 0;
    std::lock_guard<std::mutex> g(Reg().lock);
    FileFaultState *st = Reg().Get(path, false);
    return st ? st->hits.load() : 0;
}

FileFaultState *FileFaultFor(const char *path, bool *refuse_open) {
    *refuse_open = false;
    if (g_watched.load(std::memory_order_relaxed) == 0 || !path) return nullptr;
    std::lock_guard<std::mutex> g(Reg().lock);
    FileFaultState *st = Reg().Get(path, false);
    if (!st) return nullptr;
    if (st->active && Kind(st) == FileFaultKind::kVanish && (st->tripped || st->at <= 0)) {
        st->tripped = true;
        ++st->hits;
        *refuse_open = true;
    }
    return st;
}

bool FileFaultBeforeRead(FileFaultState *st, int64_t pos, uint32_t *length) {
    if (!st->active) return true;
    const int64_t at = st->at, len = st->length;
    const int64_t end = pos + *length;
    switch (Kind(st)) {
        case FileFaultKind::kEio: {
            int64_t bad_end = len > 0 ? at + len : INT64_MAX;
            if (end <= at || pos >= bad_end) return true;
            ++st->hits;
            if (pos < at) {  // the readable part in front of the bad sector
                *length = static_cast<uint32_t>(at - pos);
                return true;
            }
            errno = EIO;
            return false;
        }
        case FileFaultKind::kShortReads: {
            uint32_t most = len > 1 ? static_cast<uint32_t>(len) : 1;
            if (end > at && *length > most) {
                *length = most;
                ++st->hits;
            }
            return true;
        }
        case FileFaultKind::kShrink:
            if (end > at) st->tripped = true;
            if (st->tripped && end > len) {
                *length = len > pos ? static_cast<uint32_t>(len - pos) : 0;
                ++st->hits;
            }
            return true;
        case FileFaultKind::kVanish:
            if (end > at) st->tripped = true;
            if (!st->tripped) return true;
            ++st->hits;
            errno = EIO;
            return false;
    }
    return true;
}

int64_t FileFaultSize(FileFaultState *st, int64_t real_size) {
    if (!st->active) return real_size;
    // A card pulled "now" (at 0) is gone before anything is read from it.
    if (Kind(st) == FileFaultKind::kVanish && (st->tripped || st->at <= 0)) return 0;
    if (!st->tripped) return real_size;
    if (Kind(st) == FileFaultKind::kShrink && st->length < real_size) return st->length;
    return real_size;
}
