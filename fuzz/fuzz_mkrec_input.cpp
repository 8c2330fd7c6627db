// Fuzz target for the recording writer's input parsers: the first byte picks MPEG-4 Part 2, H.263
// or ADTS; whatever parses is written as a recording in memory.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/mkrec/mkrec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1 || size > (1u << 20)) return 0;
    const uint8_t mode = data[0] % 3;
    std::vector<uint8_t> stream(data + 1, data + size);
    vt::mkrec::Recording rec;
    std::string error;
    bool ok = false;
    if (mode == 0) ok = vt::mkrec::SplitMpeg4Video(stream, &rec.video, &error);
    else if (mode == 1) ok = vt::mkrec::SplitH263(stream, &rec.video, &error);
    else ok = vt::mkrec::ParseAdts(stream, &rec.audio, &error);
    if (!ok) {
        if (error.empty()) __builtin_trap();  // a refusal must say why
        return 0;
    }
    int w = 0, h = 0;
    vt::mkrec::Mpeg4VolSize(rec.video.config, &w, &h);
    rec.loop = 1 + data[0] / 3 % 3;
    vt::mkrec::DriveScript drive;
    rec.records = vt::mkrec::PackRecords(
        vt::mkrec::ScriptDrive(drive, std::min<size_t>(vt::mkrec::RecordCountFor(rec), 4096)));
    std::vector<uint8_t> out;
    if (!vt::mkrec::BuildRecording(rec, &out, &error) && error.empty()) __builtin_trap();
    return 0;
}
