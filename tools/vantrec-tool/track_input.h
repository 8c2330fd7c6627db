#pragma once
// Reads one track of a recording through the engine's container reader, for the decode commands.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/reader/reader.h"

namespace vt::tool {

enum TrackKind { kTrackAudio = 1, kTrackVideo = 2, kTrackData = 3 };

struct TrackSample {
    std::vector<uint8_t> data;
    int64_t time_ms = 0;
    int64_t duration_ms = 0;
};

struct TrackInfo {
    uint32_t codec_tag = 0;     // four characters in memory order, or an audio format number
    int width = 0, height = 0;  // video
    int sample_rate = 0, channels = 0;  // audio
    std::vector<uint8_t> config;        // decoder configuration (VOL headers, AudioSpecificConfig)
    int64_t duration_ms = 0;
};

// Opens PATH as a container, describes the first track of KIND and reads all of its samples.
// Returns false with a message when the file is not a container the reader accepts, or has no
// such track. `not_container` is set when the probe refused the file (the caller may then treat
// it as a raw elementary stream).
bool ReadWholeTrack(const char *path, int kind, TrackInfo *info, std::vector<TrackSample> *samples,
                    std::string *error, bool *not_container = nullptr);

// Reads the next sample of KIND into BUF, growing it when the reader asks for more room.
MeResult ReadNext(Reader *reader, int kind, std::vector<uint8_t> *buf, SampleRequest *req);

// Four-character text of a codec tag ("MP4V"), or its number for audio format numbers.
std::string CodecTagText(uint32_t tag);

}  // namespace vt::tool
