#pragma once
// Recordings for the repair tests: written with the recording writer from streams ffmpeg encodes,
// then cut; the truth about every sample is read from the uncut file's own tables.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vt::test::repair {

using Bytes = std::vector<uint8_t>;

struct Range {
    uint64_t offset;
    uint32_t size;
};

// The samples of the uncut file per kind (0 video, 1 audio, 2 data), from its sample tables.
struct Truth {
    std::vector<Range> samples[3];
};
bool ReadTruth(const Bytes &file, Truth *out);

// A recording in the camera's layout: `seconds` of 640x480 MPEG-4 video at 30 fps, 22050 Hz mono
// AAC and the sensor records, the media repeated `loop` times; kept for the rest of the run.
// Empty when ffmpeg is missing.
Bytes MakeRecording(double seconds, bool with_audio = true, int loop = 1);

}  // namespace vt::test::repair
