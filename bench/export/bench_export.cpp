// Export benchmark: a whole one-hour recording in the camera's layout, and a one-minute clip from
// its middle, copied by vantrec-tool's export path. Prints MB/s of clip written (the final flush to
// the disk included) and the time of the short clip.
// Usage: bench_export [RECORDING]   (without one, a one-hour file is made in /tmp with ffmpeg)
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/writer/clip.h"
#include "tools/mkrec/mkrec.h"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<uint8_t> Slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
}

// A 10 s clip at a dash camera's rate (about 1 Mbit/s of video, 48 kbit/s of sound), repeated
// 360 times.
bool MakeHourLong(const std::string &dir, const std::string &path) {
    std::string cmd =
        "mkdir -p " + dir +
        " && ffmpeg -v error -y -f lavfi -i testsrc2=size=640x480:rate=30:duration=10 "
        "-f lavfi -i sine=frequency=300:sample_rate=22050:duration=10 -map 0:v -c:v mpeg4 -g 15 "
        "-bf 0 "
        "-b:v 1000k -f m4v " +
        dir + "/v.m4v -map 1:a -c:a aac -b:a 48k -f adts " + dir + "/a.adts";
    if (std::system(cmd.c_str()) != 0) return false;
    vt::mkrec::Recording rec;
    std::string err;
    if (!vt::mkrec::SplitMpeg4Video(Slurp(dir + "/v.m4v"), &rec.video, &err) ||
        !vt::mkrec::ParseAdts(Slurp(dir + "/a.adts"), &rec.audio, &err)) {
        std::fprintf(stderr, "bench_export: %s\n", err.c_str());
        return false;
    }
    rec.loop = 360;
    vt::mkrec::DriveScript drive;
    rec.records =
        vt::mkrec::PackRecords(vt::mkrec::ScriptDrive(drive, vt::mkrec::RecordCountFor(rec)));
    if (!vt::mkrec::WriteRecording(rec, path, &err)) {
        std::fprintf(stderr, "bench_export: %s\n", err.c_str());
        return false;
    }
    return true;
}

bool Time(const std::string &source, int64_t from, int64_t to, const std::string &out,
          double *seconds, uint64_t *bytes) {
    ClipRequest req;
    req.sources = {source};
    req.from_ms = from;
    req.to_ms = to;
    req.output = out;
    ClipResult res;
    auto t0 = Clock::now();
    if (MeFailed(ClipExport(req, &res))) {
        std::fprintf(stderr, "bench_export: %s\n", res.error.c_str());
        return false;
    }
    *seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    *bytes = res.bytes;
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    const std::string dir = "/tmp/vt-bench-export";
    std::string path = argc > 1 ? argv[1] : dir + "/20261108_090000.mp4";
    if (argc <= 1 && !std::ifstream(path) && !MakeHourLong(dir, path)) return 2;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return 2;
    const std::string out = dir + "/clip.mp4";
    double best = 1e9, seconds = 0, minute = 1e9;
    uint64_t bytes = 0;
    for (int i = 0; i < 3; ++i) {
        if (!Time(path, 0, 3600000, out, &seconds, &bytes)) return 2;
        best = std::min(best, seconds);
    }
    for (int i = 0; i < 5; ++i) {
        uint64_t b;
        if (!Time(path, 1800000, 1860000, out, &seconds, &b)) return 2;
        minute = std::min(minute, seconds);
    }
    std::remove(out.c_str());
    std::printf("recording: %s (%.1f MB)\n", path.c_str(), st.st_size / 1e6);
    std::printf("whole hour: %.1f MB in %.2f s = %.0f MB/s (best of 3, source in the page cache)\n",
                bytes / 1e6, best, bytes / 1e6 / best);
    std::printf("one-minute clip from the middle: %.0f ms (best of 5)\n", minute * 1000);
    return 0;
}
