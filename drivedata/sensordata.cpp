#include "drivedata/sensordata.h"

#include <strings.h>
#include <sys/types.h>
#include <algorithm>
#include <cstring>

namespace vt::drivedata {
namespace {

// A box header smaller than its own size and type fields cannot be walked past.
constexpr uint32_t kMinBoxSize = 8;
// The deepest chunk-offset entry the buffer can hold, plus one.
constexpr uint64_t kMaxEntries = (kChunkBufferSize - 12) / 4;

bool ReadU32Be(FILE *f, uint32_t *v) {
    uint8_t b[4];
    if (std::fread(b, 1, 4, f) != 4) return false;
    *v = static_cast<uint32_t>(ReadBe32(b));
    return true;
}

bool ReadU32Le(FILE *f, uint32_t *v) {
    uint8_t b[4];
    if (std::fread(b, 1, 4, f) != 4) return false;
    *v = static_cast<uint32_t>(ReadLe32(b));
    return true;
}

bool SeekForward(FILE *f, uint64_t n) {
    if (n > static_cast<uint64_t>(INT64_MAX)) return false;
    return fseeko(f, static_cast<off_t>(n), SEEK_CUR) == 0;
}

// Reads up to `want` bytes; whatever the file does not have stays zero.
void ReadZeroFilled(FILE *f, uint8_t *dst, size_t want) {
    size_t got = std::fread(dst, 1, want, f);
    if (got < want) std::memset(dst + got, 0, want - got);
}

// Skips `count` sibling boxes; each must be a walkable box no larger than the media-data box,
// which bounds everything inside the movie box of the camera's files.
bool SkipBounded(FILE *f, int count, uint32_t bound) {
    for (int i = 0; i < count; ++i) {
        uint32_t size;
        if (!ReadU32Be(f, &size)) return false;
        if (size < kMinBoxSize || size > bound) return false;
        if (!SeekForward(f, size - 4)) return false;
    }
    return true;
}

// Reads size and type, leaving the stream at the box's first child.
bool Enter(FILE *f) {
    uint32_t size, type;
    return ReadU32Be(f, &size) && ReadU32Be(f, &type);
}

void ResetBuffers(SensorData *sd) {
    sd->chunk_box_size = 0;
    sd->block_length = 0;
    sd->media_image_length = 0;
    sd->media_box_size = 0;
    sd->far_records.clear();
    sd->far_slot.clear();
}

}  // namespace

SensorData::SensorData() : chunk_buffer(kChunkBufferSize), media_image(kMediaImageSize) {}

bool IsMp4LayoutPath(const char *path) {
    if (!path) return false;
    size_t n = std::strlen(path);
    return n >= 4 && strncasecmp(path + n - 4, ".mp4", 4) == 0;
}

bool ExtractSensorDataMp4(SensorData *sd, FILE *f) {
    ResetBuffers(sd);
    sd->mp4_layout = true;
    // Top level: ftyp, three further boxes, then the media-data box; its size bounds the rest.
    uint32_t media_size = 0;
    for (int i = 0; i < 5; ++i) {
        uint32_t size;
        if (!ReadU32Be(f, &size) || size < kMinBoxSize) return false;
        if (!SeekForward(f, size - 4)) return false;
        media_size = size;
    }
    // moov -> fifth child (data trak) -> mdia -> minf -> stbl -> fifth child (stco).
    if (!Enter(f)) return false;
    if (!SkipBounded(f, 4, media_size) || !Enter(f)) return false;
    if (!SkipBounded(f, 1, media_size) || !Enter(f)) return false;
    if (!SkipBounded(f, 2, media_size) || !Enter(f)) return false;
    if (!SkipBounded(f, 2, media_size) || !Enter(f)) return false;
    if (!SkipBounded(f, 4, media_size)) return false;
    uint32_t size;
    if (!ReadU32Be(f, &size) || size < kMinBoxSize || size > media_size) return false;

    sd->chunk_box_size = size;
    std::fill(sd->chunk_buffer.begin(), sd->chunk_buffer.end(), 0);
    ReadZeroFilled(f, sd->chunk_buffer.data(), std::min<size_t>(size, kChunkBufferSize));
    return true;
}

bool ExtractSensorDataBlock(SensorData *sd, FILE *f) {
    ResetBuffers(sd);
    sd->mp4_layout = false;
    uint32_t word, skip, length;
    if (!ReadU32Be(f, &word) || word == 0) return false;
    if (!ReadU32Le(f, &skip) || skip == 0) return false;
    if (!SeekForward(f, uint64_t{skip} + 4)) return false;
    if (!ReadU32Le(f, &length)) return false;

    uint32_t held = static_cast<uint32_t>(std::min<size_t>(length, kChunkBufferSize));
    std::fill(sd->chunk_buffer.begin(), sd->chunk_buffer.end(), 0);
    ReadZeroFilled(f, sd->chunk_buffer.data(), held);
    sd->block_length = held;
    return true;
}

namespace {
bool ExtractAs(SensorData *sd, const char *path, bool mp4_layout) {
    ResetBuffers(sd);
    sd->mp4_layout = mp4_layout;
    if (!path || !*path) return false;
    FILE *f = std::fopen(path, "rb");
    if (!f) return false;
    bool ok = mp4_layout ? ExtractSensorDataMp4(sd, f) : ExtractSensorDataBlock(sd, f);
    std::fclose(f);
    if (ok) sd->loaded = true;
    return ok;
}
}  // namespace

bool ExtractSensorData(SensorData *sd, const char *path) {
    return ExtractAs(sd, path, IsMp4LayoutPath(path));
}

bool LoadMediaDataFrom(SensorData *sd, FILE *f, size_t image_limit) {
    sd->media_image_length = 0;
    sd->media_box_size = 0;
    sd->far_records.clear();
    sd->far_slot.clear();

    uint64_t offset = 0;
    for (int i = 0; i < 4; ++i) {
        uint32_t size;
        if (fseeko(f, static_cast<off_t>(offset), SEEK_SET) != 0) return false;
        if (!ReadU32Be(f, &size) || size < kMinBoxSize) return false;
        offset += size;
    }
    uint32_t media_size;
    if (fseeko(f, static_cast<off_t>(offset), SEEK_SET) != 0) return false;
    if (!ReadU32Be(f, &media_size) || media_size < kMinBoxSize) return false;

    sd->media_offset = offset;
    sd->media_box_size = media_size;
    uint32_t held =
        static_cast<uint32_t>(std::min<size_t>(media_size, std::min(image_limit, kMediaImageSize)));
    ReadZeroFilled(f, sd->media_image.data(), held);
    sd->media_image_length = held;

    if (media_size > held) {
        // The box does not fit the image: fetch each record the table points at beyond it.
        uint32_t entries = EntryCount(sd);
        sd->far_slot.assign(entries, 0);
        for (uint32_t k = 0; k < entries; ++k) {
            int32_t chunk = ReadBe32(sd->chunk_buffer.data() + 12 + 4 * size_t{k});
            if (chunk <= 0) continue;
            int64_t index = int64_t{chunk} - static_cast<int64_t>(offset) - 4;
            if (index < 0 || index + static_cast<int64_t>(kRecordSize) <= int64_t{held}) continue;
            if (index + static_cast<int64_t>(kRecordSize) > int64_t{media_size}) continue;
            if (fseeko(f, static_cast<off_t>(chunk), SEEK_SET) != 0) continue;
            size_t at = sd->far_records.size();
            sd->far_records.resize(at + kRecordSize);
            ReadZeroFilled(f, sd->far_records.data() + at, kRecordSize);
            sd->far_slot[k] = static_cast<uint32_t>(at / kRecordSize + 1);
        }
    }
    return true;
}

namespace {
bool LoadMediaDataLimited(SensorData *sd, const char *path, size_t image_limit) {
    sd->media_image_length = 0;
    if (!path || !*path) return false;
    FILE *f = std::fopen(path, "rb");
    if (!f) return false;
    // Reading records one by one: a small buffer keeps each read near the record's 131 bytes.
    if (image_limit < kMediaImageSize) std::setvbuf(f, nullptr, _IOFBF, 512);
    bool ok = LoadMediaDataFrom(sd, f, image_limit);
    std::fclose(f);
    if (ok) sd->loaded = true;
    return ok;
}
}  // namespace

bool LoadMediaData(SensorData *sd, const char *path) {
    return LoadMediaDataLimited(sd, path, kMediaImageSize);
}

uint32_t EntryCount(const SensorData *sd) {
    // Entry k exists while 4k + 16 < box size, and while the buffer holds it.
    uint64_t by_box = sd->chunk_box_size > 16 ? (uint64_t{sd->chunk_box_size} - 16 + 3) / 4 : 0;
    return static_cast<uint32_t>(std::min(by_box, kMaxEntries));
}

Lookup FindEntry(const SensorData *sd, uint64_t k, const uint8_t **record) {
    *record = nullptr;
    if (k >= EntryCount(sd)) return Lookup::kPastTable;
    int32_t chunk = ReadBe32(sd->chunk_buffer.data() + 12 + 4 * k);
    if (chunk <= 0) return Lookup::kBadOffset;
    int64_t index = int64_t{chunk} - static_cast<int64_t>(sd->media_offset) - 4;
    if (index >= 0 &&
        index + static_cast<int64_t>(kRecordSize) <= int64_t{sd->media_image_length}) {
        *record = sd->media_image.data() + index;
        return Lookup::kFound;
    }
    if (k < sd->far_slot.size() && sd->far_slot[k] != 0) {
        *record = sd->far_records.data() + (size_t{sd->far_slot[k]} - 1) * kRecordSize;
        return Lookup::kFound;
    }
    return Lookup::kOutsideData;
}

Lookup FindRecord(const SensorData *sd, uint64_t t_ms, const uint8_t **record) {
    return FindEntry(sd, t_ms / 100, record);
}

bool FindBlockRecord(const SensorData *sd, uint64_t t_ms, const uint8_t **record) {
    *record = nullptr;
    uint64_t j = t_ms / 100;
    if (j >= kChunkBufferSize / kBlockRecordStride) return false;
    if (kBlockRecordEnd + kBlockRecordStride * j > sd->block_length) return false;
    *record = sd->chunk_buffer.data() + kBlockRecordStride * j;
    return true;
}

bool CheckModelId(SensorData *sd) {
    std::memset(sd->model_id, 0, sizeof sd->model_id);
    const uint8_t *record;
    if (FindEntry(sd, 0, &record) != Lookup::kFound) return false;
    std::memcpy(sd->model_id, record + kRecModelIdOffset, kRecModelIdSize);
    return std::strcmp(sd->model_id, kModelId) == 0;
}

void BeginOpen(SensorData *sd) {
    sd->loaded = false;
    sd->media_offset = 0;
    sd->graph_cached = false;
}

void FailOpen(SensorData *sd) {
    sd->mp4_layout = false;
    sd->loaded = false;
}

namespace {
OpenResult OpenAs(SensorData *sd, const char *path, bool mp4_layout,
                  size_t image_limit = kMediaImageSize) {
    BeginOpen(sd);
    if (!ExtractAs(sd, path, mp4_layout)) {
        FailOpen(sd);
        return OpenResult::kInvalid;
    }
    if (sd->mp4_layout && !LoadMediaDataLimited(sd, path, image_limit)) {
        FailOpen(sd);
        return OpenResult::kSilentFail;
    }
    if (!CheckModelId(sd)) {
        FailOpen(sd);
        return OpenResult::kInvalid;
    }
    return OpenResult::kOk;
}
}  // namespace

OpenResult OpenRecording(SensorData *sd, const char *path) {
    return OpenAs(sd, path, IsMp4LayoutPath(path));
}

OpenResult OpenRecordingMp4(SensorData *sd, const char *path) { return OpenAs(sd, path, true); }

OpenResult OpenRecordingRecords(SensorData *sd, const char *path) {
    return OpenAs(sd, path, true, 0);
}

}  // namespace vt::drivedata
