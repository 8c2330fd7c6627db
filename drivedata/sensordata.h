#pragma once
// Sensor records of a recording, read straight from the file without the media engine.
//
// The camera's data track carries one 131-byte record per 100 ms. We find the data track's
// chunk-offset table by position in the box tree (the camera always writes the same layout), copy
// that table and the media-data box into two fixed buffers and answer, for a playback time, where
// its record lies. Everything here runs on the user-interface thread; the window owns one
// SensorData for the open recording and reuses it for the next.
#include <cstdint>
#include <cstdio>
#include <vector>

namespace vt::drivedata {

inline constexpr size_t kChunkBufferSize = 307200;
inline constexpr size_t kMediaImageSize = 0xA00000;  // 10 MiB
inline constexpr size_t kRecordSize = 131;
inline constexpr char kModelId[] = "ZRDMODEL25";

// Field offsets inside a record (MP4 layout); multi-byte fields are big-endian.
inline constexpr size_t kRecTextOffset = 0;
inline constexpr size_t kRecTextSize = 79;  // six zero-padded fields: 20, 17, 2, 12, 10, 18 bytes
inline constexpr size_t kRecLatitudeOffset = 103;
inline constexpr size_t kRecLongitudeOffset = 107;
inline constexpr size_t kRecAccelOffset[3] = {114, 116, 118};  // X, Y, Z
inline constexpr size_t kRecModelIdOffset = 121;
inline constexpr size_t kRecModelIdSize = 10;

// Block layout (files not named *.mp4): one block with 36-byte records, little-endian fields.
inline constexpr size_t kBlockRecordStride = 36;
inline constexpr size_t kBlockSpeedOffset = 101;
inline constexpr size_t kBlockLatitudeOffset = 104;
inline constexpr size_t kBlockLongitudeOffset = 108;
inline constexpr size_t kBlockAccelOffset[3] = {114, 116, 118};
inline constexpr size_t kBlockRecordEnd = 120;  // one past the last field of record 0

enum Axis { kAxisX = 0, kAxisY = 1, kAxisZ = 2 };

// The sensor state of the open recording, with the graph and readout flags that go with it.
// Owned by the main window; UI thread only.
struct SensorData {
    SensorData();

    // Chunk-offset table, copied from its box's type field on: entry k is at 12 + 4k.
    std::vector<uint8_t> chunk_buffer;
    // Size field of the chunk-offset box, kept whole (entries are bounded by it and the buffer).
    uint32_t chunk_box_size = 0;

    // The media-data box from its type field on: byte k is file offset media_offset + 4 + k.
    std::vector<uint8_t> media_image;
    uint32_t media_image_length = 0;  // bytes of media_image holding this recording's data
    uint32_t media_box_size = 0;      // size field of the media-data box
    uint64_t media_offset = 0;        // file offset of the media-data box's size field

    // Records that lie inside the media-data box but past the 10 MiB image, read one by one from
    // the file. far_slot[k] is 1 + the record's index in far_records, 0 when entry k has none.
    std::vector<uint8_t> far_records;
    std::vector<uint32_t> far_slot;

    bool mp4_layout = false;    // path ends in ".mp4" (any case); otherwise the block layout
    uint32_t block_length = 0;  // bytes of the block held in chunk_buffer (block layout)
    bool loaded = false;
    char model_id[21] = {};

    bool graph_cached = false;     // the window's graph image is complete
    bool readouts_frozen = false;  // a readout update ended early; position refreshes skip it
};

// Big-endian and little-endian field reads; the caller guarantees the bytes exist.
inline int16_t ReadBe16(const uint8_t *p) {
    return static_cast<int16_t>(static_cast<uint16_t>((p[0] << 8) | p[1]));
}
inline int32_t ReadBe32(const uint8_t *p) {
    return static_cast<int32_t>((uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) |
                                (uint32_t{p[2]} << 8) | uint32_t{p[3]});
}
inline int16_t ReadLe16(const uint8_t *p) {
    return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
}
inline int32_t ReadLe32(const uint8_t *p) {
    return static_cast<int32_t>(uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) |
                                (uint32_t{p[3]} << 24));
}

// True when the path ends in ".mp4" in any letter case: cards copied through other systems often
// carry "X.MP4", and those are the same recordings.
bool IsMp4LayoutPath(const char *path);

// Reads the chunk-offset table (MP4 layout) or the sensor block (block layout), chosen by the
// path's ending. Returns false for an empty path, an unreadable file or a box tree that is not the
// camera's; sets `loaded` on success.
bool ExtractSensorData(SensorData *sd, const char *path);
// The same over an already open stream, with the layout chosen by the caller (sets mp4_layout,
// not `loaded`).
bool ExtractSensorDataMp4(SensorData *sd, FILE *f);
bool ExtractSensorDataBlock(SensorData *sd, FILE *f);

// MP4 layout only, after ExtractSensorData: loads the media-data box into the image (and the
// records past the image, if the box is larger). Returns false when the box tree is damaged.
bool LoadMediaData(SensorData *sd, const char *path);
// image_limit caps the bytes copied into the image; records beyond it are read one by one.
bool LoadMediaDataFrom(SensorData *sd, FILE *f, size_t image_limit = kMediaImageSize);

// True when the record of entry 0 carries kModelId. Block-layout data never passes: its block has
// no identifier.
bool CheckModelId(SensorData *sd);

enum class Lookup {
    kFound,        // *record points at the record's first byte; kRecordSize bytes are readable
    kPastTable,    // the time slot lies past the end of the chunk-offset table
    kBadOffset,    // the slot's chunk offset is zero or negative
    kOutsideData,  // the chunk offset points outside the loaded media data
};

// Number of chunk-offset entries the lookup can reach.
uint32_t EntryCount(const SensorData *sd);

// Record of playback time t (slot t div 100), MP4 layout.
Lookup FindRecord(const SensorData *sd, uint64_t t_ms, const uint8_t **record);
// Record of entry k directly.
Lookup FindEntry(const SensorData *sd, uint64_t k, const uint8_t **record);

// Block layout: the 36-byte record of slot t div 100, addressed so that the fields are at their
// record-0 offsets (kBlockAccelOffset...) from the returned pointer. False when it lies past the
// block.
bool FindBlockRecord(const SensorData *sd, uint64_t t_ms, const uint8_t **record);

inline int16_t RecordAccel(const uint8_t *record, Axis axis) {
    return ReadBe16(record + kRecAccelOffset[axis]);
}

// What opening a recording in the window does with the sensor data.
enum class OpenResult {
    kOk,
    kInvalid,     // show "Invalid File Format." (or "File Not Found." after a failed listing)
    kSilentFail,  // the media data could not be loaded: the open ends without a message
};

// Clears the loaded flag, the media-data offset and the graph cache before an open.
void BeginOpen(SensorData *sd);
// A failed open clears the layout and loaded flags.
void FailOpen(SensorData *sd);
// The whole sequence of an open: BeginOpen, extraction, media data (MP4 layout), model check,
// and FailOpen on failure.
OpenResult OpenRecording(SensorData *sd, const char *path);
// The same, but the box tree is walked whatever the path's ending (for tools that take any name).
OpenResult OpenRecordingMp4(SensorData *sd, const char *path);
// As OpenRecordingMp4, but only the records are read (one small read each) instead of the whole
// media data: for going through many recordings, where the video bytes are never wanted.
OpenResult OpenRecordingRecords(SensorData *sd, const char *path);

}  // namespace vt::drivedata
