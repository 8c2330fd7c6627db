// Repair benchmark: a three-minute recording in the camera's layout, cut off two thirds of the way
// through its media data, is scanned and written again. Prints the scan and the whole repair in
// MB/s of media data, and the share of the whole samples recovered.
// Usage: bench_repair [MINUTES]   (the recording is made in /tmp with ffmpeg)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/repair/repair.h"
#include "tools/mkrec/mkrec.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

std::vector<uint8_t> Slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
}

uint32_t Be32(const std::vector<uint8_t> &b, size_t at) {
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

}  // namespace

int main(int argc, char **argv) {
    int minutes = argc > 1 ? std::atoi(argv[1]) : 3;
    if (minutes < 1) minutes = 1;
    const std::string dir = "/tmp/vt-bench-repair";
    // A 10 s clip at a dash camera's rate, repeated: 640x480 at about 2 Mbit/s and AAC.
    std::string cmd =
        "mkdir -p " + dir +
        " && ffmpeg -v error -y -f lavfi -i testsrc2=size=640x480:rate=30:duration=10 "
        "-f lavfi -i sine=frequency=300:sample_rate=22050:duration=10 -map 0:v -c:v mpeg4 -g 30 "
        "-bf 0 "
        "-b:v 2000k -f m4v " +
        dir + "/v.m4v -map 1:a -c:a aac -b:a 48k -f adts " + dir + "/a.adts";
    if (std::system(cmd.c_str()) != 0) return 1;
    vt::mkrec::Recording rec;
    std::string err;
    if (!vt::mkrec::SplitMpeg4Video(Slurp(dir + "/v.m4v"), &rec.video, &err) ||
        !vt::mkrec::ParseAdts(Slurp(dir + "/a.adts"), &rec.audio, &err)) {
        std::fprintf(stderr, "bench_repair: %s\n", err.c_str());
        return 1;
    }
    rec.loop = minutes * 6;
    vt::mkrec::DriveScript drive;
    rec.records =
        vt::mkrec::PackRecords(vt::mkrec::ScriptDrive(drive, vt::mkrec::RecordCountFor(rec)));
    const std::string good = dir + "/20261108_083000.mp4", broken = dir + "/20261108_090000.mp4",
                      out = dir + "/repaired.mp4";
    if (!vt::mkrec::WriteRecording(rec, good, &err)) {
        std::fprintf(stderr, "bench_repair: %s\n", err.c_str());
        return 1;
    }
    std::vector<uint8_t> full = Slurp(good);
    const uint64_t mdat_size = Be32(full, 104);
    const uint64_t cut = 112 + mdat_size * 2 / 3;
    {
        std::ofstream o(broken, std::ios::binary);
        o.write(reinterpret_cast<const char *>(full.data()), std::streamsize(cut));
    }
    const double mb = double(cut - 112) / 1e6;

    RepairLayout layout;
    if (RepairLearnLayout(good.c_str(), &layout) != ME_OK) return 1;
    RepairScan scan;
    auto t0 = Clock::now();
    if (RepairScanFile(broken.c_str(), &layout, &scan) != ME_OK) return 1;
    auto t1 = Clock::now();
    const char *detail = nullptr;
    if (RepairWriteFile(broken.c_str(), &scan, out.c_str(), &detail) != ME_OK) {
        std::fprintf(stderr, "bench_repair: %s\n", detail ? detail : "write failed");
        return 1;
    }
    auto t2 = Clock::now();
    size_t found = 0;
    for (const auto &list : scan.samples) found += list.size();
    // Every sample of the uncut recording that ends before the cut is a whole one.
    size_t whole = 0;
    {
        uint64_t pos = 112;
        const size_t slots = rec.records.size();
        size_t vi = 0, ai = 0, vn = rec.video.samples.size() * size_t(rec.loop),
               an = rec.audio.frames.size() * size_t(rec.loop);
        for (size_t slot = 0; slot < slots; ++slot) {
            while (vi < vn && vi * 1000 / 30 / 100 == slot) {
                pos += rec.video.samples[vi % rec.video.samples.size()].data.size();
                whole += pos <= cut;
                ++vi;
            }
            while (ai < an && ai * 1024 * 1000 / 22050 / 100 == slot) {
                pos += rec.audio.frames[ai % rec.audio.frames.size()].size();
                whole += pos <= cut;
                ++ai;
            }
            pos += vt::mkrec::kRecordSize;
            whole += pos <= cut;
        }
    }
    std::printf("media data scanned: %.1f MB (%d min recording cut at 2/3)\n", mb, minutes);
    std::printf("scan: %.1f MB/s   scan + write: %.1f MB/s\n", mb / Seconds(t0, t1),
                mb / Seconds(t0, t2));
    std::printf("recovered video=%zu audio=%zu data=%zu: %.4f of %zu whole samples\n",
                scan.samples[0].size(), scan.samples[1].size(), scan.samples[2].size(),
                double(found) / double(whole), whole);
    std::printf("damaged stretches: %u, last record at %lld of %llu\n", scan.damaged_stretches,
                scan.samples[2].empty() ? 0ll : (long long)scan.samples[2].back().offset,
                (unsigned long long)cut);
    return 0;
}
