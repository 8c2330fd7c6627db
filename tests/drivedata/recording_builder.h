#pragma once
// Crafts recordings in the camera's box layout (and damaged variants) for the drive-data tests:
// ftyp, three further top-level boxes, mdat, moov; moov: mvhd, iods, video trak, audio trak, data
// trak; the data trak's sample table ends in the chunk-offset box.
#include <cstdint>
#include <string>
#include <vector>

namespace vt::test {

struct SensorRecord {
    std::string text = "2010/03/07 09:05:00";  // first field of the car-information block
    std::string second_field;                  // optional text of the second field
    int32_t latitude = 0, longitude = 0;       // packed
    int16_t accel[3] = {0, 0, 0};
    std::string model = "ZRDMODEL25";
};

// The 131-byte record, big-endian fields.
std::vector<uint8_t> EncodeRecord(const SensorRecord &r);

struct RecordingPlan {
    std::vector<SensorRecord> records;
    size_t filler_before = 512;  // bytes of the mdat before the first record
    size_t filler_between = 0;   // bytes between consecutive records
    // When set, the chunk-offset entries as written (otherwise each record's file offset).
    std::vector<int32_t> chunk_offsets;
    bool override_offsets = false;
    size_t extra_top_level = 0;  // payload bytes of each of the three boxes after ftyp
};

struct RecordingLayout {
    std::vector<uint8_t> bytes;
    uint64_t mdat_offset = 0;
    uint64_t moov_offset = 0;
    uint64_t data_trak_offset = 0;
    uint64_t stco_offset = 0;  // the chunk-offset box's size field
    std::vector<uint64_t> record_offsets;
};

RecordingLayout BuildRecording(const RecordingPlan &plan);

void PutBe32(std::vector<uint8_t> *bytes, uint64_t at, uint32_t v);
void PutBe16(std::vector<uint8_t> *bytes, uint64_t at, uint16_t v);

// The block layout: a nonzero word, a little-endian skip length N, N + 4 bytes, a little-endian
// block length L, then L bytes: the car-information block, a time stamp and 36-byte records.
struct BlockRecord {
    int8_t speed = 0;
    int32_t latitude = 0, longitude = 0;
    int16_t accel[3] = {0, 0, 0};
};
std::vector<uint8_t> BuildBlockFile(const std::vector<BlockRecord> &records, uint32_t skip = 8);

}  // namespace vt::test
