// Fuzz target for the video decoder: Mp4vDecInit with a configuration taken from the input, then
// Mp4vDecDecode over length-prefixed access units and a flush.
//
// Input: byte 0 mode bits (0-1 short-header mode 0/1/-1, 2 deblock, 3 low delay, 4-5 how
// iFrameEnd and iResetStatus are set), byte 1 max width / 16, byte 2 max height / 16, byte 3
// extra frame buffers, bytes 4-5 configuration length; the configuration bytes; then access
// units, each a 2-byte big-endian length and its bytes.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "codec/mpeg4v/mpeg4v.h"

namespace {

void Ignore(const char *) {}

struct Buffers {
    std::vector<std::unique_ptr<uint8_t[]>> planes;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 6) return 0;
    const int mode = data[0];
    const uint32_t maxW = 16u * (1 + data[1] % 45), maxH = 16u * (1 + data[2] % 36);
    const uint32_t nbuf = 3 + data[3] % 3;
    size_t configLen = size_t(data[4]) << 8 | data[5];
    size_t pos = 6;
    if (configLen > size - pos) configLen = size - pos;

    // Every block and plane is its own exact-size allocation so a stray access is caught.
    Buffers keep;
    std::vector<Mp4vDecFrmBuffer> frames(nbuf);
    const size_t ySize = size_t(maxW) * maxH + 15, cSize = size_t(maxW / 2) * (maxH / 2) + 15;
    for (auto &f : frames) {
        keep.planes.emplace_back(new uint8_t[ySize]);
        f.pY = keep.planes.back().get();
        keep.planes.emplace_back(new uint8_t[cSize]);
        f.pU = keep.planes.back().get();
        keep.planes.emplace_back(new uint8_t[cSize]);
        f.pV = keep.planes.back().get();
        f.uReserved = 0;
    }
    std::vector<uint8_t> config(data + pos, data + pos + configLen);
    pos += configLen;
    Mp4vDecConfigInfo ci{};
    ci.pConfigData = config.empty() ? nullptr : config.data();
    ci.uConfigDataLen = uint32_t(config.size());
    static const int kModes[4] = {0, 1, -1, -1};
    ci.iIsShortHdrMode = kModes[mode & 3];
    ci.iDeblocking = mode >> 2 & 1;
    ci.iLowDelay = mode >> 3 & 1;
    Mp4vDecConfig cfg{&ci, frames.data(), nbuf, maxW, maxH, Ignore};
    Mp4vDecMemBlock mem[4];
    Mp4vDecQueryMem(&cfg, mem);
    std::unique_ptr<uint8_t[]> blocks[4];
    for (int i = 0; i < 4; ++i) {
        blocks[i].reset(new uint8_t[mem[i].uSize]);
        mem[i].pBlock = blocks[i].get();
    }
    int32_t isShort = 0;
    Mp4vDecInitResult res{&isShort, 0, 0};
    void *dec = Mp4vDecInit(mem, &cfg, &res);
    if (!dec) return 0;

    int32_t info[2];
    unsigned unit = 0;
    while (pos + 2 <= size) {
        size_t len = size_t(data[pos]) << 8 | data[pos + 1];
        pos += 2;
        if (len > size - pos) len = size - pos;
        std::vector<uint8_t> au(data + pos, data + pos + len);  // exact size
        pos += len;
        size_t off = 0;
        while (off < au.size()) {
            Mp4vDecInput in{};
            in.pData = au.data() + off;
            in.uDataLen = uint32_t(au.size() - off);
            in.iFrameEnd = (mode >> 4 & 1) ? int(unit & 1) : 1;
            in.iResetStatus = (mode >> 5 & 1) ? int(unit % 3 == 0) : 0;
            Mp4vDecOutput out{};
            out.piPicInfo = info;
            uint32_t used = Mp4vDecDecode(dec, &in, &out);
            if (out.pY) {
                // Touch the returned picture's last samples: they must lie in a frame buffer.
                volatile uint8_t sink = out.pY[out.uPitch * ((out.uHeight + 15) & ~15u) - 1];
                sink = out.pV[out.uPitch / 2 * (((out.uHeight + 15) & ~15u) / 2) - 1];
                (void)sink;
            }
            if (used == 0 || used > in.uDataLen || in.uDataLen - used < 5) break;
            off += used;
        }
        ++unit;
    }
    Mp4vDecInput flush{};
    Mp4vDecOutput out{};
    out.piPicInfo = info;
    Mp4vDecDecode(dec, &flush, &out);
    Mp4vDecMemBlock back[4];
    Mp4vDecRelease(dec, back);
    return 0;
}
