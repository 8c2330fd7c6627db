#pragma once
// Sample tables of a finished MP4 file: where each sample of the video, audio and data tracks
// lies, its size, its duration in the track's own units and whether it is a key frame, with each
// track's codec set-up. Export copies samples by these tables without touching their bytes.
//
// Only the movie box is read; files are opened read-only. Fragmented files are not handled (the
// camera never writes them). No shared state: safe on any thread.
#include <cstdint>
#include <vector>

#include "engine/core/result.h"

struct IndexTrack {
    int kind = 0;  // WRITER_VIDEO, WRITER_AUDIO or WRITER_DATA; 0: not present
    uint32_t timescale = 0;
    char format[5] = {};             // sample entry type: "mp4v", "s263", "mp4a", "mp4s", ...
    uint32_t width = 0, height = 0;  // video
    uint32_t sample_rate = 0, channels = 0;  // audio, from the sample entry
    std::vector<uint8_t> config;    // decoder configuration from the esds, when there is one
    std::vector<uint64_t> offsets;  // file offset per sample
    std::vector<uint32_t> sizes;
    std::vector<uint32_t> durations;
    std::vector<uint8_t> sync;  // 1 for a key frame; every sample when the file lists none
};

struct Mp4Index {
    int64_t creation_unix = 0;  // from the movie header; 0 when unset
    uint64_t file_size = 0;
    IndexTrack video, audio, data;  // the first track of each kind
};

// ME_OK; ME_ERR_FILE_NOT_FOUND when the file cannot be opened; ME_ERR_UNSUPPORTED_FILE when it
// has no movie box (an MP4 cut off before its index) or is not an MP4; ME_ERR_STREAM_SYNTAX when
// a table is damaged (a sample past the end of the file, counts that disagree). *detail (may be
// null) gets a static one-line reason on failure.
MeResult Mp4IndexRead(const char *path, Mp4Index *out, const char **detail);

// The same over a whole file held in memory.
MeResult Mp4IndexParse(const uint8_t *file, uint64_t size, Mp4Index *out, const char **detail);
