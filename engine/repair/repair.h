#pragma once
// Repair of a recording whose movie box was never written: the camera lost power while recording,
// the media data is on the card but the sample tables that say where each sample lies are not.
//
// The camera writes its media data in a fixed interleave: per 100 ms, the video pictures as one
// chunk, the audio frames as one chunk, then one sensor record. The scanner walks the media data
// with that knowledge:
//   - sensor records are found by their fixed size and the model identifier at their end; they
//     close each 100 ms stretch;
//   - video samples begin at their start codes; where the last picture of a stretch ends is what
//     our MPEG-4 decoder reads of it;
//   - the AAC frames after it are read one by one with our AAC decoder, and must end exactly where
//     the sensor record begins.
// Only samples whose every byte is in the file, and which read cleanly, are kept. The track
// set-ups (audio configuration, timing) come from a good recording of the same camera, the
// reference; without one the video set-up is read from the broken file itself and the audio is
// left out, as nothing in the media data says its sampling rate.
//
// Plain functions, result codes; nothing here writes to the broken file. One thread at a time per
// call; calls on different files may run in parallel.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/core/result.h"

enum RepairKind { REPAIR_VIDEO = 0, REPAIR_AUDIO = 1, REPAIR_DATA = 2 };

// One recovered sample: where its bytes lie in the broken file.
struct RepairSample {
    int64_t offset;
    uint32_t size;
    uint32_t sync;  // video: an intra picture
};

// The camera's set-up and interleave, as a good recording (or the broken file itself) shows it.
struct RepairLayout {
    bool have_video = false, have_audio = false, have_data = false;
    bool video_short_header = false;  // H.263 pictures instead of MPEG-4 Part 2
    uint32_t video_timescale = 0, video_delta = 0;
    int width = 0, height = 0;
    std::vector<uint8_t> video_config;  // the headers in front of the first picture
    uint32_t audio_rate = 0, audio_frame_length = 1024;
    int audio_channels = 0;
    std::vector<uint8_t> audio_config;  // AudioSpecificConfig
    uint32_t data_timescale = 1000, data_delta = 100;
    uint32_t record_size = 131;
    std::string model_id = "ZRDMODEL25";
    uint64_t index_reach = 0;  // learned from an index: the furthest chunk start it names
};

inline constexpr uint32_t kRepairModelIdOffset = 121;  // inside a sensor record
inline constexpr uint32_t kRepairModelIdSize = 10;

enum RepairOutcome {
    REPAIR_REBUILT = 0,        // samples were found; see the counts
    REPAIR_NOTHING_TO_DO = 1,  // the index is intact and names only data the file holds
    REPAIR_NO_MEDIA = 2,       // not a recording of this camera, or no sample could be found
};

struct RepairScan {
    RepairOutcome outcome = REPAIR_NO_MEDIA;
    RepairLayout layout;  // the set-up the repaired file is written with
    std::vector<RepairSample> samples[3];
    bool with_reference = false;
    bool audio_left_out = false;             // audio was present but not recovered (say so)
    int64_t media_start = 0, media_end = 0;  // the stretch of the file that was scanned
    uint32_t damaged_stretches = 0;          // 100 ms stretches that did not read cleanly
    uint64_t duration_ms = 0;                // of the longest recovered track
};

// Learns the camera's layout from a recording whose index is intact. ME_ERR_FILE_NOT_FOUND,
// ME_ERR_FILE_IO, ME_ERR_UNSUPPORTED_FILE (no index, or an interleave the scanner does not know).
// True when the file at `path` is a recording cut off before its index was written: what the
// window asks before it offers a repaired copy.
bool RepairIndexMissing(const char *path);

MeResult RepairLearnLayout(const char *reference_path, RepairLayout *out);
// The same over the bytes of a whole file.
MeResult RepairLearnLayoutFromBytes(const uint8_t *file, size_t size, RepairLayout *out);

// Looks in the broken file's folder for a recording with an intact index and the camera's layout,
// the nearest by name first. Empty when there is none.
std::string RepairFindReference(const char *broken_path);

// Scans the broken file. reference may be null. ME_OK (see outcome), ME_ERR_FILE_NOT_FOUND,
// ME_ERR_FILE_IO (the card could not be read), ME_ERR_MEMORY.
MeResult RepairScanFile(const char *broken_path, const RepairLayout *reference, RepairScan *out);
// The scanner over media data already in memory: `data` holds the file's bytes from file offset
// `base` on, up to where the media data ends. Used by the fuzzer and for small files.
MeResult RepairScanBytes(const uint8_t *data, size_t size, int64_t base,
                         const RepairLayout *reference, RepairScan *out);

// Writes the recovered samples to `out_path` in the camera's layout, reading them from the broken
// file (which is never opened for writing). ME_ERR_INVALID_REQUEST when out_path names the broken
// file itself or nothing was recovered; ME_ERR_FILE_IO when the broken file can no longer be read;
// otherwise the writer's codes. *detail gets a one-line reason on failure.
MeResult RepairWriteFile(const char *broken_path, const RepairScan *scan, const char *out_path,
                         const char **detail);
