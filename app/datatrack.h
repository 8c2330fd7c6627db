#pragma once
// The recording's data-track texts as the player control layer keeps them, the time string of the
// status display and the volume word. Plain data and functions, no Qt.
#include <cstdint>
#include <string>

namespace vt::app {

// Up to 1024 samples of the data track in recording order, each a time stamp and up to 1023 bytes
// of text (a 1028-byte slot: 4-byte stamp, 1024 bytes of NUL-terminated text). One fixed block:
// nothing is allocated per sample.
struct DataTrackTable {
    static constexpr int kEntries = 1024;
    static constexpr int kEntrySize = 1028;
    static constexpr int kTextCapacity = kEntrySize - 4;

    uint8_t block[kEntries * kEntrySize];
    int count = 0;
    // Lookup state: touched only by the thread that presents pictures.
    int cursor = -1;
    int32_t last_time = 0;
};

void ClearDataTrack(DataTrackTable *table);
// Appends one sample; false when the table is full. Text beyond 1023 bytes is cut off.
bool AddDataTrackEntry(DataTrackTable *table, int32_t time_ms, const uint8_t *text, int32_t length);
int32_t DataTrackTime(const DataTrackTable *table, int index);
const char *DataTrackText(const DataTrackTable *table, int index);

// The text for a picture at time_ms: copied into out (NUL-terminated, at most capacity - 1 bytes)
// with its length returned; 0 and an empty string when no entry covers the time. During playback
// the cursor moves entry by entry; going back in time searches again.
int LookupDataTrackText(DataTrackTable *table, int32_t time_ms, char *out, int capacity);

// "mm:ss/mm:ss", or "hh:mm:ss/hh:mm:ss" once the duration reaches an hour.
std::string FormatTimeText(int32_t duration_ms, int32_t position_ms);

// Volume in percent to the output's word: the 16-bit level in both halves.
uint32_t VolumeWordOfPercent(int percent);

}  // namespace vt::app
