// Reader benchmark: opens a one-hour recording in the camera's layout and seeks across it.
// Prints the median open time (open + describe) and the median seek time (seek + first read).
// Usage: bench_reader [RECORDING]   (without one, a one-hour file is made in /tmp with ffmpeg)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/reader/reader.h"
#include "tools/mkrec/mkrec.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::vector<uint8_t> Slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
}

bool MakeHourLong(const std::string &path) {
    // A 10 s dash-cam-like clip, repeated 360 times: the tables are those of a real hour.
    std::string dir = "/tmp/vt-bench-reader";
    std::string cmd =
        "mkdir -p " + dir +
        " && ffmpeg -v error -y -f lavfi -i testsrc2=size=640x480:rate=30:duration=10 "
        "-f lavfi -i sine=frequency=300:sample_rate=22050:duration=10 -map 0:v -c:v mpeg4 -g 30 "
        "-bf 0 "
        "-b:v 400k -f m4v " +
        dir + "/v.m4v -map 1:a -c:a aac -b:a 32k -f adts " + dir + "/a.adts";
    if (std::system(cmd.c_str()) != 0) return false;
    vt::mkrec::Recording rec;
    std::string err;
    if (!vt::mkrec::SplitMpeg4Video(Slurp(dir + "/v.m4v"), &rec.video, &err) ||
        !vt::mkrec::ParseAdts(Slurp(dir + "/a.adts"), &rec.audio, &err)) {
        std::fprintf(stderr, "bench_reader: %s\n", err.c_str());
        return false;
    }
    rec.loop = 360;
    vt::mkrec::DriveScript drive;
    rec.records =
        vt::mkrec::PackRecords(vt::mkrec::ScriptDrive(drive, vt::mkrec::RecordCountFor(rec)));
    if (!vt::mkrec::WriteRecording(rec, path, &err)) {
        std::fprintf(stderr, "bench_reader: %s\n", err.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    std::string path = argc > 1 ? argv[1] : "/tmp/vt-bench-reader/hour.mp4";
    if (argc <= 1 && !std::ifstream(path) && !MakeHourLong(path)) return 2;
    std::vector<double> opens, seeks;
    MediaInfo info{};
    for (int i = 0; i < 11; ++i) {
        auto t0 = Clock::now();
        Reader *r = nullptr;
        if (ReaderOpen(path.c_str(), &r) != ME_OK || ReaderGetInfo(r, &info) != ME_OK) {
            std::fprintf(stderr, "bench_reader: cannot open %s\n", path.c_str());
            return 2;
        }
        opens.push_back(Ms(t0, Clock::now()));
        ReaderClose(r);
    }
    Reader *r = nullptr;
    if (ReaderOpen(path.c_str(), &r) != ME_OK || ReaderGetInfo(r, &info) != ME_OK) return 2;
    std::vector<uint8_t> buf(1 << 20);
    for (int i = 0; i < 20; ++i) {
        // Spread across the file, in a jumping order so no seek profits from the one before.
        int64_t t = int64_t(info.duration_ms) * ((i * 7) % 20) / 20 + 1234;
        auto t0 = Clock::now();
        if (!ReaderSeek(r, &t, SEEK_VIDEO_FIRST)) {
            std::fprintf(stderr, "bench_reader: seek to %lld failed\n", static_cast<long long>(t));
            return 2;
        }
        SampleRequest req{};
        req.data = buf.data();
        req.capacity = static_cast<uint32_t>(buf.size());
        req.kind = TRACK_VIDEO;
        ReaderReadSample(r, &req);
        seeks.push_back(Ms(t0, Clock::now()));
    }
    ReaderClose(r);
    std::printf("recording: %s (%u ms, %u video samples/s)\n", path.c_str(), info.duration_ms,
                info.video_count ? info.video[0].frame_rate / 1000 : 0);
    std::printf("open median: %.2f ms (target < 20 ms)\n", Median(opens));
    std::printf("seek median: %.2f ms (target < 10 ms), worst %.2f ms\n", Median(seeks),
                *std::max_element(seeks.begin(), seeks.end()));
    return 0;
}
