// Key-frame-only decoding of a recording's video track, for picture scans: pictures per second
// and the whole track's time, against decoding every picture and against
// `ffmpeg -threads 1 -skip_frame nokey` on the same file.
//
// usage: bench_keyframes FILE.mp4 [--runs N]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "codec/mpeg4v/mpeg4v.h"
#include "tools/vantrec-tool/track_input.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a) {
    return std::chrono::duration<double>(Clock::now() - a).count();
}

// Decodes the track once; returns the pictures returned.
int DecodeTrack(const vt::tool::TrackInfo &info, const std::vector<vt::tool::TrackSample> &samples,
                bool keyOnly) {
    const uint32_t maxW = (uint32_t(info.width) + 15) & ~15u,
                   maxH = (uint32_t(info.height) + 15) & ~15u;
    const size_t ySize = size_t(maxW) * maxH + 16, cSize = size_t(maxW / 2) * (maxH / 2) + 16;
    std::vector<uint8_t> frames(3 * (ySize + 2 * cSize));
    Mp4vDecFrmBuffer bufs[3];
    for (int i = 0; i < 3; ++i) {
        uint8_t *base = frames.data() + i * (ySize + 2 * cSize);
        bufs[i] = Mp4vDecFrmBuffer{base, base + ySize, base + ySize + cSize, 0};
    }
    Mp4vDecConfigInfo ci{};
    ci.pConfigData = info.config.empty() ? nullptr : info.config.data();
    ci.uConfigDataLen = uint32_t(info.config.size());
    ci.iIsShortHdrMode = info.config.empty() ? 1 : -1;
    ci.iLowDelay = keyOnly ? 1 : 0;
    Mp4vDecConfig cfg{&ci, bufs, 3, maxW, maxH, nullptr};
    Mp4vDecMemBlock mem[4];
    Mp4vDecQueryMem(&cfg, mem);
    std::vector<std::vector<uint8_t>> blocks(4);
    for (int i = 0; i < 4; ++i) {
        blocks[i].resize(mem[i].uSize);
        mem[i].pBlock = blocks[i].data();
    }
    void *h = Mp4vDecInit(mem, &cfg, nullptr);
    if (!h) return -1;
    int pictures = 0;
    int32_t info2[2];
    for (const auto &s : samples) {
        Mp4vDecInput in{0, s.data.data(), uint32_t(s.data.size()), 1, 0, 0};
        Mp4vDecOutput out{};
        out.piPicInfo = info2;
        if (keyOnly) Mp4vDecDecodeKeyFrame(h, &in, &out);
        else Mp4vDecDecode(h, &in, &out);
        pictures += out.pY != nullptr;
    }
    Mp4vDecRelease(h, mem);
    return pictures;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_keyframes FILE.mp4 [--runs N]\n");
        return 2;
    }
    int runs = 5;
    for (int i = 2; i + 1 < argc; ++i)
        if (!std::strcmp(argv[i], "--runs")) runs = std::max(1, std::atoi(argv[i + 1]));
    std::vector<double> keyT, allT, ffT;
    int keys = 0, all = 0;
    for (int r = 0; r < runs; ++r) {
        // Reading is part of a scan's cost, so every run reads the file again.
        auto t0 = Clock::now();
        vt::tool::TrackInfo info;
        std::vector<vt::tool::TrackSample> samples;
        std::string error;
        if (!vt::tool::ReadWholeTrack(argv[1], vt::tool::kTrackVideo, &info, &samples, &error)) {
            std::fprintf(stderr, "%s: %s\n", argv[1], error.c_str());
            return 1;
        }
        keys = DecodeTrack(info, samples, true);
        keyT.push_back(Seconds(t0));
        t0 = Clock::now();
        all = DecodeTrack(info, samples, false);
        allT.push_back(Seconds(t0));
        std::string cmd =
            std::string("ffmpeg -v error -nostdin -threads 1 -skip_frame nokey -i '") + argv[1] +
            "' -an -f rawvideo -pix_fmt yuv420p -y /dev/null";
        t0 = Clock::now();
        if (std::system(cmd.c_str()) != 0) ffT.push_back(0);
        else ffT.push_back(Seconds(t0));
    }
    const double k = Median(keyT), a = Median(allT), f = Median(ffT);
    std::printf("key frames: %d pictures in %.3f s (%.0f pictures/s, read included)\n", keys, k,
                keys / k);
    std::printf("all frames: %d pictures in %.3f s (decode only)\n", all, a);
    if (f > 0) std::printf("ffmpeg -skip_frame nokey: %.3f s, ratio %.2f\n", f, k / f);
    return 0;
}
