// Container reader over arbitrary bytes: open, describe, read every kind to the end, seek and step.
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/reader/reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > (8u << 20)) return 0;
    // A memory source: the payload length first, big-endian.
    std::vector<uint8_t> block(size + 4);
    block[0] = uint8_t(size >> 24);
    block[1] = uint8_t(size >> 16);
    block[2] = uint8_t(size >> 8);
    block[3] = uint8_t(size);
    if (size) std::memcpy(block.data() + 4, data, size);
    Reader *r = nullptr;
    if (ReaderOpenMemory(block.data(), static_cast<uint32_t>(block.size()), &r) != ME_OK) return 0;
    MediaInfo info;
    if (ReaderGetInfo(r, &info) == ME_OK) {
        std::vector<uint8_t> buf(4096);
        for (int round = 0; round < 2; ++round) {
            for (int kind = TRACK_AUDIO; kind <= TRACK_DATA; ++kind) {
                for (int i = 0; i < 2000; ++i) {
                    SampleRequest req{};
                    req.data = buf.data();
                    req.capacity = static_cast<uint32_t>(buf.size());
                    req.kind = kind;
                    MeResult res = ReaderReadSample(r, &req);
                    if (res == ME_ERR_BUFFER_TOO_SMALL && req.capacity <= (1u << 20) &&
                        req.capacity > buf.size()) {
                        buf.resize(req.capacity);
                        continue;
                    }
                    if (res != ME_OK) break;
                }
            }
            int64_t t = round ? 0 : info.duration_ms / 2;
            ReaderSeek(r, &t, round ? SEEK_AUDIO_FIRST : SEEK_VIDEO_FIRST);
            t = 40;
            ReaderSeekStep(r, &t, STEP_FORWARD);
            ReaderSelectTrack(r, 1, TRACK_AUDIO);
        }
    }
    ReaderClose(r);
    return 0;
}
