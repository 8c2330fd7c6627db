// Every sample the reader returns (time, size, payload) against ffprobe's packet list, on the
// bundled recordings, the public test files and a fragmented file made here with ffmpeg; and seeks
// against the key frames ffprobe reports.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>
#include <vector>

#include "engine/reader/reader.h"
#include "tests/common/testutil.h"
#include "tools/common/md5.h"

namespace {

using namespace vt::test;
namespace fs = std::filesystem;

struct RefPacket {
    int64_t ms;
    uint32_t size;
    std::string md5;
    bool key;
};

// Packets of one stream as ffprobe lists them, with times relative to the first packet's.
bool ProbePackets(const fs::path &file, const std::string &select, std::vector<RefPacket> *out) {
    std::string text;
    std::string cmd = "ffprobe -v error -select_streams " + select +
                      " -show_entries stream=time_base:packet=dts,size,flags,data_hash "
                      "-show_data_hash md5 -of flat " +
                      Quote(file.string()) + " 2>/dev/null";
    if (Run(cmd, &text) != 0) return false;
    std::istringstream in(text);
    std::string line;
    int64_t num = 0, den = 0;
    std::map<int, std::map<std::string, std::string>> packets;
    static const std::regex tb_re(R"(streams\.stream\.0\.time_base="(\d+)/(\d+)\")");
    static const std::regex pk_re(
        R"(packets\.packet\.(\d+)\.(dts|size|flags|data_hash)=\"?([^"]*)\"?)");
    std::smatch m;
    while (std::getline(in, line)) {
        if (std::regex_match(line, m, tb_re)) {
            num = std::stoll(m[1]);
            den = std::stoll(m[2]);
        } else if (std::regex_match(line, m, pk_re)) {
            packets[std::stoi(m[1])][m[2]] = m[3];
        }
    }
    if (!den) return false;
    out->clear();
    int64_t first = 0;
    for (auto &[index, p] : packets) {
        if (p["dts"] == "N/A") return false;
        int64_t dts = std::stoll(p["dts"]);
        if (out->empty()) first = dts;
        std::string md5 = p["data_hash"];
        if (md5.rfind("MD5:", 0) == 0) md5 = md5.substr(4);
        out->push_back({(dts - first) * num * 1000 / den,
                        static_cast<uint32_t>(std::stoul(p["size"])), md5,
                        p["flags"].find('K') != std::string::npos});
    }
    return true;
}

struct OurPacket {
    int64_t ms;
    uint32_t size;
    std::string md5;
};

MeResult ReadOne(Reader *r, int kind, std::vector<uint8_t> *buf, OurPacket *p) {
    for (;;) {
        SampleRequest req{};
        req.data = buf->data();
        req.capacity = static_cast<uint32_t>(buf->size());
        req.kind = kind;
        MeResult res = ReaderReadSample(r, &req);
        if (res == ME_ERR_BUFFER_TOO_SMALL && req.capacity > buf->size()) {
            buf->resize(req.capacity);
            continue;
        }
        if (res == ME_OK) *p = {req.time_ms, req.written, vt::Md5Hex(buf->data(), req.written)};
        return res;
    }
}

std::vector<fs::path> Mp4Files() {
    std::vector<fs::path> files;
    auto add_dir = [&](const fs::path &dir) {
        std::error_code ec;
        if (dir.empty() || !fs::is_directory(dir, ec)) return;
        for (const auto &e : fs::recursive_directory_iterator(dir, ec)) {
            auto ext = e.path().extension().string();
            if (ext == ".mp4" || ext == ".m4a" || ext == ".3gp") files.push_back(e.path());
        }
    };
    add_dir(SamplesDir());
    add_dir(TestVectorsDir());
    std::sort(files.begin(), files.end());
    return files;
}

void CompareTrack(const fs::path &file, int kind, const std::string &select) {
    std::vector<RefPacket> ref;
    if (!ProbePackets(file, select, &ref) || ref.empty()) return;  // ffprobe has no such stream
    Reader *r = nullptr;
    ASSERT_EQ(ReaderOpen(file.c_str(), &r), ME_OK);
    MediaInfo info{};
    ASSERT_EQ(ReaderGetInfo(r, &info), ME_OK);
    std::vector<uint8_t> buf(256 * 1024);
    std::vector<OurPacket> ours;
    OurPacket p;
    MeResult res;
    int64_t first = -1;
    while ((res = ReadOne(r, kind, &buf, &p)) == ME_OK) {
        if (first < 0) first = p.ms;
        p.ms -= first;
        ours.push_back(p);
    }
    EXPECT_EQ(res, ME_ERR_END_OF_DATA);
    ASSERT_EQ(ours.size(), ref.size()) << select;
    int reported = 0;
    for (size_t i = 0; i < ref.size() && reported < 3; ++i) {
        // ffprobe's times are exact; ours are whole milliseconds of the same decode times.
        bool same =
            ours[i].size == ref[i].size && ours[i].md5 == ref[i].md5 && ours[i].ms == ref[i].ms;
        if (!same) {
            ++reported;
            ADD_FAILURE() << select << " packet " << i << ": ours " << ours[i].ms << " ms "
                          << ours[i].size << " " << ours[i].md5 << ", ffprobe " << ref[i].ms
                          << " ms " << ref[i].size << " " << ref[i].md5;
        }
    }
    ReaderClose(r);
}

// Seeking in video-first mode lands on the key frame nearest the target, counted in frames.
void CheckSeeks(const fs::path &file) {
    std::vector<RefPacket> ref;
    if (!ProbePackets(file, "v:0", &ref) || ref.size() < 2) return;
    Reader *r = nullptr;
    ASSERT_EQ(ReaderOpen(file.c_str(), &r), ME_OK);
    MediaInfo info{};
    ASSERT_EQ(ReaderGetInfo(r, &info), ME_OK);
    std::vector<uint8_t> buf(256 * 1024);
    OurPacket first;
    ASSERT_EQ(ReadOne(r, TRACK_VIDEO, &buf, &first), ME_OK);
    int64_t base = first.ms;
    int64_t last = ref.back().ms;
    for (int step = 0; step <= 10; ++step) {
        int64_t target = last * step / 10;
        size_t at = 0;
        while (at < ref.size() && ref[at].ms < target) ++at;
        if (at == ref.size()) continue;
        long prev = -1, next = -1;
        for (long k = static_cast<long>(at); k >= 0; --k)
            if (ref[k].key) {
                prev = k;
                break;
            }
        for (size_t k = at + 1; k < ref.size(); ++k)
            if (ref[k].key) {
                next = static_cast<long>(k);
                break;
            }
        if (prev < 0 && next < 0) continue;
        long want = prev;
        if (prev != static_cast<long>(at) && next >= 0 &&
            (prev < 0 || next - long(at) < long(at) - prev))
            want = next;
        int64_t t = target + base;
        ASSERT_EQ(ReaderSeek(r, &t, SEEK_VIDEO_FIRST), 1) << "target " << target;
        EXPECT_EQ(t - base, ref[want].ms) << "target " << target;
        OurPacket p;
        ASSERT_EQ(ReadOne(r, TRACK_VIDEO, &buf, &p), ME_OK);
        EXPECT_EQ(p.md5, ref[want].md5) << "target " << target;
    }
    ReaderClose(r);
}

class Conformance : public ::testing::TestWithParam<fs::path> {};

TEST_P(Conformance, SamplesMatchFfprobe) {
    if (!HaveProgram("ffprobe")) GTEST_SKIP() << "ffprobe not installed";
    const fs::path &file = GetParam();
    {
        SCOPED_TRACE("video");
        CompareTrack(file, TRACK_VIDEO, "v:0");
    }
    {
        SCOPED_TRACE("audio");
        CompareTrack(file, TRACK_AUDIO, "a:0");
    }
    if (file.string().find("/samples/") != std::string::npos) {
        SCOPED_TRACE("data");
        CompareTrack(file, TRACK_DATA, "d:0");
    }
    CheckSeeks(file);
}

std::string Name(const ::testing::TestParamInfo<fs::path> &info) {
    std::string s = info.param.parent_path().filename().string() + "_" + info.param.stem().string();
    for (char &c : s)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    return s + "_" + std::to_string(info.index);
}

INSTANTIATE_TEST_SUITE_P(Files, Conformance, ::testing::ValuesIn(Mp4Files()), Name);

TEST(Fragmented, FfmpegFragmentsReadAndSeekLikeFfprobeSaysTheyShould) {
    if (!HaveProgram("ffmpeg") || !HaveProgram("ffprobe")) GTEST_SKIP() << "ffmpeg not installed";
    TempDir dir;
    fs::path out = dir / "frag.mp4";
    std::string cmd =
        "ffmpeg -v error -y -f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i "
        "sine=frequency=440:sample_rate=22050 "
        "-t 4 -c:v mpeg4 -g 12 -c:a aac -b:a 48k -movflags frag_keyframe+empty_moov " +
        Quote(out.string());
    ASSERT_EQ(vt::test::Run(cmd), 0);
    CompareTrack(out, TRACK_VIDEO, "v:0");
    CompareTrack(out, TRACK_AUDIO, "a:0");
    CheckSeeks(out);
}

}  // namespace
