#include "app/datatrack.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace vt::app {
namespace {

uint8_t *Slot(DataTrackTable *t, int i) {
    return t->block + static_cast<size_t>(i) * DataTrackTable::kEntrySize;
}
const uint8_t *Slot(const DataTrackTable *t, int i) {
    return t->block + static_cast<size_t>(i) * DataTrackTable::kEntrySize;
}

// Whether entry c is the one to show at time: its neighbours' stamps bracket the time (the first
// entry has no lower neighbour and starts at its own stamp; the last has no upper neighbour).
enum class Fit { kMatch, kEarlier, kLater };
Fit FitOf(const DataTrackTable *t, int c, int32_t time) {
    const int last = t->count - 1;
    const int32_t low = c == 0 ? DataTrackTime(t, 0) : DataTrackTime(t, c - 1);
    if (time < low) return Fit::kEarlier;
    if (c < last && time > DataTrackTime(t, c + 1)) return Fit::kLater;
    return Fit::kMatch;
}

void Split(int32_t ms, int *h, int *m, int *s) {
    if (ms <= 0) {
        *h = *m = *s = 0;
        return;
    }
    *h = ms / 3600000;
    *m = (ms / 60000) % 60;
    *s = ms / 1000 - (ms / 60000) * 60;
}

}  // namespace

void ClearDataTrack(DataTrackTable *table) {
    table->count = 0;
    table->cursor = -1;
    table->last_time = 0;
}

bool AddDataTrackEntry(DataTrackTable *table, int32_t time_ms, const uint8_t *text,
                       int32_t length) {
    if (table->count >= DataTrackTable::kEntries) return false;
    uint8_t *slot = Slot(table, table->count);
    std::memcpy(slot, &time_ms, 4);
    // A sample that fills the whole 1024-byte read has no terminator of its own.
    const size_t n = std::clamp<int32_t>(length, 0, DataTrackTable::kTextCapacity - 1);
    if (n > 0) std::memcpy(slot + 4, text, n);
    slot[4 + n] = 0;
    ++table->count;
    return true;
}

int32_t DataTrackTime(const DataTrackTable *table, int index) {
    int32_t t;
    std::memcpy(&t, Slot(table, index), 4);
    return t;
}

const char *DataTrackText(const DataTrackTable *table, int index) {
    return reinterpret_cast<const char *>(Slot(table, index) + 4);
}

int LookupDataTrackText(DataTrackTable *table, int32_t time_ms, char *out, int capacity) {
    if (capacity > 0) out[0] = 0;
    const int n = table->count;
    if (n <= 0 || capacity <= 0) return 0;
    if (time_ms < table->last_time) table->cursor = -1;
    table->last_time = time_ms;

    int match = -1;
    if (table->cursor < 0 || table->cursor >= n) {
        // Search: the last entry stamped at or before the time.
        int lo = 0, hi = n;
        while (lo < hi) {
            const int mid = lo + (hi - lo) / 2;
            if (DataTrackTime(table, mid) <= time_ms) lo = mid + 1;
            else hi = mid;
        }
        if (lo > 0) match = table->cursor = lo - 1;
    } else {
        // Step from the cursor; normally it stays or moves by one entry per picture.
        int c = table->cursor;
        for (int guard = 0; guard <= n; ++guard) {
            const Fit fit = FitOf(table, c, time_ms);
            if (fit == Fit::kMatch) {
                match = c;
                break;
            }
            if (fit == Fit::kEarlier) {
                if (c == 0) break;
                --c;
            } else {
                ++c;
            }
        }
        table->cursor = c;
    }
    if (match < 0) return 0;
    const char *text = DataTrackText(table, match);
    const int len =
        static_cast<int>(strnlen(text, std::min(capacity - 1, DataTrackTable::kTextCapacity - 1)));
    std::memcpy(out, text, len);
    out[len] = 0;
    return len;
}

std::string FormatTimeText(int32_t duration_ms, int32_t position_ms) {
    int dh, dm, ds, ph, pm, ps;
    Split(duration_ms, &dh, &dm, &ds);
    Split(position_ms, &ph, &pm, &ps);
    char buf[40];
    if (dh == 0) std::snprintf(buf, sizeof buf, "%02d:%02d/%02d:%02d", pm, ps, dm, ds);
    else std::snprintf(buf, sizeof buf, "%02d:%02d:%02d/%02d:%02d:%02d", ph, pm, ps, dh, dm, ds);
    return buf;
}

uint32_t VolumeWordOfPercent(int percent) {
    // Outside 0..100 the 16-bit level would wrap round to a quiet value.
    const uint32_t p = static_cast<uint32_t>(std::clamp(percent, 0, 100));
    const uint32_t level = (p * 0xFFFFu / 100u) & 0xFFFFu;
    return level * 0x10001u;
}

}  // namespace vt::app
