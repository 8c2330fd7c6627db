// Decode throughput against `ffmpeg -threads 1 -c:v mpeg4` on the same input in the same run:
// a 640x480 simple-profile dash-cam-like sample and a 720x576 stream with B-frames. Prints frames
// per second for both decoders and our time divided by ffmpeg's (target: at most 2.0 on the
// 640x480 sample), then ours with the post-filter on, and the time to convert one of the stream's
// pictures to 32-bit RGB.
//
// usage: bench_mpeg4v [--frames N] [--runs N] [--keep DIR] [--only NAME]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "codec/mpeg4v/mpeg4v.h"

namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> ReadAll(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
}

std::vector<std::vector<uint8_t>> Units(const std::vector<uint8_t> &b,
                                        std::vector<uint8_t> *config) {
    std::vector<std::vector<uint8_t>> units;
    std::vector<size_t> cuts;
    bool afterVop = true;
    for (size_t i = 0; i + 3 < b.size(); ++i) {
        if (b[i] || b[i + 1] || b[i + 2] != 1) continue;
        if (afterVop) cuts.push_back(i);
        afterVop = b[i + 3] == 0xB6;
        if (afterVop && config->empty()) config->assign(b.begin(), b.begin() + long(i));
    }
    for (size_t k = 0; k < cuts.size(); ++k)
        units.emplace_back(b.begin() + long(cuts[k]),
                           b.begin() + long(k + 1 < cuts.size() ? cuts[k + 1] : b.size()));
    return units;
}

// Seconds to decode every unit once (best of `runs`), and the number of pictures returned; with
// deblock the pictures are post-filtered.
double DecodeOurs(const std::vector<uint8_t> &stream, int runs, int *pictures, bool deblock,
                  int *width = nullptr, int *height = nullptr) {
    std::vector<uint8_t> config;
    auto units = Units(stream, &config);
    const uint32_t maxW = 736, maxH = 576;
    std::vector<uint8_t> frames(3 * (maxW * maxH * 3 / 2 + 64));
    Mp4vDecFrmBuffer bufs[3];
    for (int i = 0; i < 3; ++i) {
        uint8_t *base = frames.data() + i * (maxW * maxH * 3 / 2 + 64);
        bufs[i] =
            Mp4vDecFrmBuffer{base, base + maxW * maxH + 16, base + maxW * maxH * 5 / 4 + 32, 0};
    }
    double best = 1e30;
    for (int r = 0; r < runs; ++r) {
        Mp4vDecConfigInfo ci{};
        ci.pConfigData = config.data();
        ci.uConfigDataLen = uint32_t(config.size());
        ci.iIsShortHdrMode = -1;
        ci.iDeblocking = deblock ? 1 : 0;
        Mp4vDecConfig cfg{&ci, bufs, 3, maxW, maxH, nullptr};
        Mp4vDecMemBlock mem[4];
        Mp4vDecQueryMem(&cfg, mem);
        std::vector<std::vector<uint8_t>> blocks(4);
        for (int i = 0; i < 4; ++i) {
            blocks[i].resize(mem[i].uSize);
            mem[i].pBlock = blocks[i].data();
        }
        void *dec = Mp4vDecInit(mem, &cfg, nullptr);
        if (!dec) return -1;
        int32_t info[2];
        int count = 0;
        auto t0 = std::chrono::steady_clock::now();
        for (const auto &u : units) {
            Mp4vDecInput in{0, u.data(), uint32_t(u.size()), 1, 0, 0};
            Mp4vDecOutput out{};
            out.piPicInfo = info;
            Mp4vDecDecode(dec, &in, &out);
            count += out.pY != nullptr;
            if (out.pY && width) {
                *width = int(out.uWidth);
                *height = int(out.uHeight);
            }
        }
        Mp4vDecInput flush{};
        Mp4vDecOutput out{};
        out.piPicInfo = info;
        Mp4vDecDecode(dec, &flush, &out);
        count += out.pY != nullptr;
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (s < best) best = s;
        *pictures = count;
    }
    return best;
}

// ffmpeg's own decode time (-benchmark rtime), best of `runs`.
double DecodeFfmpeg(const fs::path &file, int runs) {
    double best = 1e30;
    for (int r = 0; r < runs; ++r) {
        std::string cmd = "ffmpeg -nostdin -hide_banner -benchmark -threads 1 -c:v mpeg4 -i '" +
                          file.string() + "' -f null - 2>&1";
        FILE *p = popen(cmd.c_str(), "r");
        if (!p) return -1;
        char line[512];
        double rtime = -1;
        while (std::fgets(line, sizeof line, p))
            if (const char *s = std::strstr(line, "rtime=")) rtime = std::atof(s + 6);
        pclose(p);
        if (rtime > 0 && rtime < best) best = rtime;
    }
    return best;
}

// Milliseconds to convert a w x h picture (mid-grey with a ramp) to 32-bit RGB, best of 20.
double ConvertMs(int w, int h) {
    if (w <= 0 || h <= 0) return 0;
    const int stride = (w + 15) & ~15;
    std::vector<uint8_t> yuv(size_t(stride) * h * 3 / 2 + stride), rgb(size_t(w) * 4 * h);
    for (size_t i = 0; i < yuv.size(); ++i) yuv[i] = uint8_t(i * 7);
    const uint8_t *y = yuv.data(), *u = y + size_t(stride) * h, *v = u + size_t(stride) * h / 4;
    double best = 1e30;
    for (int r = 0; r < 20; ++r) {
        auto t0 = std::chrono::steady_clock::now();
        Mp4vDecYuvToRgb32(y, u, v, stride, w, h, rgb.data(), w * 4, 0);
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (s < best) best = s;
    }
    return best * 1000;
}

}  // namespace

int main(int argc, char **argv) {
    int frames = 300, runs = 3;
    fs::path dir;
    std::string only;
    for (int i = 1; i + 1 < argc; ++i) {
        if (!std::strcmp(argv[i], "--only")) only = argv[i + 1];
        if (!std::strcmp(argv[i], "--frames")) frames = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--runs")) runs = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--keep")) dir = argv[i + 1];
    }
    if (dir.empty()) dir = fs::temp_directory_path() / "bench_mpeg4v";
    fs::create_directories(dir);
    struct Input {
        const char *name, *size, *args;
        const char *source = "noise=alls=10:allf=t";  // filter on testsrc2
    };
    // Dash-cam-like: moving detail with sensor noise at a dash-cam bit rate, simple profile.
    const Input inputs[] = {
        {"dashcam_640x480_sp", "640x480", "-bf 0 -b:v 4M -g 30"},
        {"pal_720x576_bframes", "720x576", "-bf 2 -b:v 5M -g 60"},
        // the general decoders: quarter-sample B-frames, and interlaced field coding
        {"qpel_720x576_bframes", "720x576", "-flags +qpel+mv4 -bf 2 -b:v 5M -g 60"},
        {"interlaced_720x576", "720x576", "-flags +ildct+ilme -top 1 -bf 2 -b:v 5M -g 60"},
        // GMC: a turning and zooming picture without noise (noise makes the encoder give up on
        // global motion), so about half the pictures are S-VOPs
        {"gmc_720x576_xvid", "720x576", "-c:v libxvid -gmc 1 -bf 0 -b:v 5M -g 60",
         "rotate=0.01*n:c=black,scale=w=720+4*n:h=576+4*n:eval=frame,crop=720:576"},
    };
    std::printf("%-22s %8s %10s %10s %8s %10s %9s\n", "stream", "frames", "ours_fps", "ffmpeg_fps",
                "ratio", "deblock_fps", "rgb32_ms");
    for (const Input &in : inputs) {
        if (!only.empty() && only != in.name) continue;
        fs::path file = dir / (std::string(in.name) + ".m4v");
        if (!fs::exists(file)) {
            std::string cmd =
                std::string("ffmpeg -nostdin -v error -y -f lavfi -i \"testsrc2=size=") + in.size +
                ":rate=30," + in.source + "\" -frames:v " + std::to_string(frames) +
                " -threads 1 " + (std::strstr(in.args, "-c:v") ? "" : "-c:v mpeg4 ") + in.args +
                " -f m4v '" + file.string() + "'";
            if (std::system(cmd.c_str()) != 0) {
                std::fprintf(stderr, "cannot make %s (is ffmpeg installed?)\n", file.c_str());
                return 1;
            }
        }
        auto stream = ReadAll(file);
        int pictures = 0;
        int w = 0, h = 0;
        double ours = DecodeOurs(stream, runs, &pictures, false, &w, &h);
        double ref = DecodeFfmpeg(file, runs);
        int filteredPictures = 0;
        double filtered = DecodeOurs(stream, runs, &filteredPictures, true);
        std::printf("%-22s %8d %10.1f %10.1f %8.2f %10.1f %9.3f\n", in.name, pictures,
                    pictures / ours, ref > 0 ? pictures / ref : 0.0, ref > 0 ? ours / ref : 0.0,
                    filteredPictures / filtered, ConvertMs(w, h));
    }
    return 0;
}
