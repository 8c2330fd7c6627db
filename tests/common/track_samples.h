#pragma once
// Every sample of one track of a file as the player's reader gives it, for tests that check what
// a writer or an export put there.
#include <cstdint>
#include <filesystem>
#include <vector>

#include "engine/reader/reader.h"

namespace vt::test {

struct TrackSample {
    int64_t time_ms, duration_ms;
    std::vector<uint8_t> bytes;
};

// Empty when the file does not open.
inline std::vector<TrackSample> ReadTrackSamples(const std::filesystem::path &path, int kind) {
    std::vector<TrackSample> out;
    Reader *r = nullptr;
    if (ReaderOpen(path.c_str(), &r) != ME_OK) return out;
    MediaInfo mi{};
    ReaderGetInfo(r, &mi);
    std::vector<uint8_t> buf(1 << 20);
    for (;;) {
        SampleRequest req{};
        req.data = buf.data();
        req.capacity = static_cast<uint32_t>(buf.size());
        req.kind = kind;
        if (ReaderReadSample(r, &req) != ME_OK) break;
        out.push_back({req.time_ms, req.duration_ms, {buf.begin(), buf.begin() + req.written}});
    }
    ReaderClose(r);
    return out;
}

}  // namespace vt::test
