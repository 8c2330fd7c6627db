// Written recordings: the camera's box layout, the records at their chunk offsets, ffprobe's view,
// looping, and the command line. Also checks the committed samples.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "tests/common/testutil.h"
#include "tests/mkrec/mkrec_testutil.h"
#include "tools/mkrec/mkrec.h"

namespace vt::test::mkrec {
namespace {

using vt::mkrec::Recording;

std::string MkrecPath() { return VT_MKREC_PATH; }

std::vector<std::string> Types(const std::vector<Box> &boxes) {
    std::vector<std::string> t;
    for (const auto &b : boxes) t.push_back(b.type);
    return t;
}

// The walk the drive-data reader makes: purely by position, sizes bounded by the mdat size.
// Returns the position of the data track's stco box, or 0.
size_t WalkToDataStco(const Bytes &f, uint32_t *mdat_pos) {
    size_t p = 0;
    uint32_t bound = 0;
    for (int i = 0; i < 5; ++i) {
        uint32_t s = Be32(f, p);
        if (s == 0) return 0;
        if (i == 4) {
            bound = s;
            *mdat_pos = static_cast<uint32_t>(p);
        }
        p += s;
    }
    auto skip = [&](int n) {
        for (int i = 0; i < n; ++i) {
            uint32_t s = Be32(f, p);
            if (s == 0 || s > bound) return false;
            p += s;
        }
        return true;
    };
    p += 8;  // enter moov
    if (!skip(4)) return 0;
    p += 8;  // data trak
    if (!skip(1)) return 0;
    p += 8;  // mdia
    if (!skip(2)) return 0;
    p += 8;  // minf
    if (!skip(2)) return 0;
    p += 8;  // stbl
    if (!skip(4)) return 0;
    return Be32(f, p) <= bound ? p : 0;
}

std::vector<uint32_t> DataChunkOffsets(const Bytes &f) {
    uint32_t mdat = 0;
    size_t stco = WalkToDataStco(f, &mdat);
    std::vector<uint32_t> out;
    if (!stco) return out;
    uint32_t n = Be32(f, stco + 12);
    for (uint32_t k = 0; k < n; ++k) out.push_back(Be32(f, stco + 16 + 4 * k));
    return out;
}

// Streams shared by the tests: two seconds of video and sound.
class Written : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!HaveProgram("ffmpeg")) return;
        std::string error;
        s_m4v = EncodeStream("m4v", 2.0);
        s_adts = EncodeStream("adts", 2.0);
        if (!vt::mkrec::SplitMpeg4Video(s_m4v, &s_rec.video, &error)) return;
        if (!vt::mkrec::ParseAdts(s_adts, &s_rec.audio, &error)) return;
        vt::mkrec::DriveScript drive;
        s_rec.records =
            vt::mkrec::PackRecords(vt::mkrec::ScriptDrive(drive, vt::mkrec::RecordCountFor(s_rec)));
        s_rec.creation_unix = drive.start_unix;
        s_ready = true;
    }
    void SetUp() override {
        if (!s_ready) GTEST_SKIP() << "ffmpeg not installed";
    }
    Bytes Build(const Recording &rec) {
        Bytes out;
        std::string error;
        EXPECT_TRUE(vt::mkrec::BuildRecording(rec, &out, &error)) << error;
        return out;
    }
    std::filesystem::path Write(const Recording &rec, const std::string &name) {
        auto p = m_dir / name;
        std::string error;
        EXPECT_TRUE(vt::mkrec::WriteRecording(rec, p.string(), &error)) << error;
        return p;
    }

    static inline Bytes s_m4v, s_adts;
    static inline Recording s_rec;
    static inline bool s_ready = false;
    TempDir m_dir;
};

TEST_F(Written, BoxTreeFollowsTheCameraLayout) {
    Bytes f = Build(s_rec);
    auto top = Children(f, 0, f.size());
    EXPECT_EQ(Types(top),
              (std::vector<std::string>{"ftyp", "free", "skip", "free", "mdat", "moov"}));
    ASSERT_EQ(top.size(), 6u);
    EXPECT_EQ(top.back().End(), f.size());
    EXPECT_EQ(Types(Children(f, top[5].Payload(), top[5].End())),
              (std::vector<std::string>{"mvhd", "iods", "trak", "trak", "trak"}));

    struct Expect {
        std::vector<std::string> path;
        std::vector<std::string> children;
    } expects[] = {
        {{"moov", "trak#2"}, {"tkhd", "mdia"}},
        {{"moov", "trak#2", "mdia"}, {"mdhd", "hdlr", "minf"}},
        {{"moov", "trak#2", "mdia", "minf"}, {"nmhd", "dinf", "stbl"}},
        {{"moov", "trak#2", "mdia", "minf", "stbl"}, {"stsd", "stts", "stsc", "stsz", "stco"}},
        {{"moov", "trak#0", "mdia", "minf"}, {"vmhd", "dinf", "stbl"}},
        {{"moov", "trak#0", "mdia", "minf", "stbl"},
         {"stsd", "stts", "stss", "stsc", "stsz", "stco"}},
        {{"moov", "trak#1", "mdia", "minf"}, {"smhd", "dinf", "stbl"}},
        {{"moov", "trak#0", "mdia", "minf", "stbl", "stsd", "mp4v"}, {"esds"}},
        {{"moov", "trak#1", "mdia", "minf", "stbl", "stsd", "mp4a"}, {"esds"}},
        {{"moov", "trak#2", "mdia", "minf", "stbl", "stsd", "mp4s"}, {"esds"}},
    };
    for (const auto &e : expects) {
        Box b;
        ASSERT_TRUE(FindBox(f, e.path, &b)) << e.path.back();
        size_t begin = b.Payload();
        if (b.type == "mp4v") begin += 78;
        if (b.type == "mp4a") begin += 28;
        if (b.type == "mp4s") begin += 8;
        EXPECT_EQ(Types(Children(f, begin, b.End())), e.children) << e.path.back();
    }

    // Data track identity: handler "sdsm" named "RTNV...", esds object type 0xD3; the media
    // tracks carry 0x20 (MPEG-4 video) and 0x40 (AAC).
    Box hdlr;
    ASSERT_TRUE(FindBox(f, {"moov", "trak#2", "mdia", "hdlr"}, &hdlr));
    EXPECT_EQ(std::string(f.begin() + hdlr.pos + 16, f.begin() + hdlr.pos + 20), "sdsm");
    EXPECT_EQ(std::string(f.begin() + hdlr.pos + 32, f.begin() + hdlr.pos + 36), "RTNV");
    const char *entries[] = {"mp4v", "mp4a", "mp4s"};
    const uint8_t objects[] = {0x20, 0x40, 0xD3};
    for (int t = 0; t < 3; ++t) {
        Box esds;
        ASSERT_TRUE(FindBox(f,
                            {"moov", "trak#" + std::to_string(t), "mdia", "minf", "stbl", "stsd",
                             entries[t], "esds"},
                            &esds));
        // esds: version/flags, ES descriptor (tag 3, 1-byte length, ES_ID, flags), then tag 4.
        ASSERT_EQ(f[esds.pos + 12], 0x03);
        ASSERT_EQ(f[esds.pos + 17], 0x04);
        EXPECT_EQ(f[esds.pos + 19], objects[t]) << entries[t];
    }
}

TEST_F(Written, EveryRecordSitsAtItsChunkOffsetInsideTheMediaData) {
    Bytes f = Build(s_rec);
    uint32_t mdat = 0;
    ASSERT_NE(WalkToDataStco(f, &mdat), 0u);
    auto offsets = DataChunkOffsets(f);
    ASSERT_EQ(offsets.size(), s_rec.records.size());
    ASSERT_EQ(offsets.size(), 21u);  // 2.09 s of sound rounds up to 21 slots
    for (size_t k = 0; k < offsets.size(); ++k) {
        ASSERT_GT(offsets[k], mdat + 8);
        ASSERT_LE(offsets[k] + vt::mkrec::kRecordSize, mdat + Be32(f, mdat));
        EXPECT_TRUE(
            std::equal(s_rec.records[k].begin(), s_rec.records[k].end(), f.begin() + offsets[k]))
            << k;
        EXPECT_EQ(std::memcmp(f.data() + offsets[k] + 121, "ZRDMODEL25", 10), 0);
        EXPECT_EQ(std::string(reinterpret_cast<const char *>(f.data() + offsets[k])),
                  vt::mkrec::FormatRecordTime(1794126600 + static_cast<int64_t>(k / 10)));
    }
}

TEST_F(Written, FfprobeListsExactlyTheWrittenSamplesInterleavedBySlot) {
    if (!HaveProgram("ffprobe")) GTEST_SKIP() << "ffprobe not installed";
    auto path = Write(s_rec, "r.mp4");
    EXPECT_EQ(ProbeWarnings(path), "");

    auto v = ProbeStream(path, 0), a = ProbeStream(path, 1), d = ProbeStream(path, 2);
    EXPECT_EQ(v["codec_name"], "mpeg4");
    EXPECT_EQ(v["codec_tag_string"], "mp4v");
    EXPECT_EQ(v["width"], "640");
    EXPECT_EQ(v["height"], "480");
    EXPECT_EQ(v["r_frame_rate"], "30/1");
    EXPECT_EQ(v["nb_read_packets"], "60");
    EXPECT_EQ(v["duration"], "2.000000");
    EXPECT_EQ(a["codec_name"], "aac");
    EXPECT_EQ(a["profile"], "LC");
    EXPECT_EQ(a["sample_rate"], "22050");
    EXPECT_EQ(a["channels"], "1");
    EXPECT_EQ(a["nb_read_packets"], std::to_string(s_rec.audio.frames.size()));
    EXPECT_EQ(d["codec_type"], "data");
    EXPECT_EQ(d["codec_tag_string"], "mp4s");
    EXPECT_EQ(d["nb_read_packets"], "21");
    EXPECT_EQ(d["duration"], "2.100000");

    auto vp = ProbePackets(path, 0), ap = ProbePackets(path, 1), dp = ProbePackets(path, 2);
    ASSERT_EQ(vp.size(), s_rec.video.samples.size());
    for (size_t i = 0; i < vp.size(); ++i) {
        EXPECT_EQ(vp[i].md5, Md5(s_rec.video.samples[i].data)) << i;
        EXPECT_EQ(vp[i].key, s_rec.video.samples[i].sync) << i;
        EXPECT_EQ(vp[i].pts, static_cast<int64_t>(i) * 1000) << i;
    }
    ASSERT_EQ(ap.size(), s_rec.audio.frames.size());
    for (size_t i = 0; i < ap.size(); ++i) {
        EXPECT_EQ(ap[i].md5, Md5(s_rec.audio.frames[i])) << i;
        EXPECT_EQ(ap[i].pts, static_cast<int64_t>(i) * 1024) << i;
    }
    ASSERT_EQ(dp.size(), s_rec.records.size());
    for (size_t i = 0; i < dp.size(); ++i) {
        EXPECT_EQ(dp[i].md5, Md5(Bytes(s_rec.records[i].begin(), s_rec.records[i].end()))) << i;
        EXPECT_EQ(dp[i].pts, static_cast<int64_t>(i) * 100) << i;
    }

    // Interleaving: a sample of slot k lies after record k-1 and before record k.
    auto records = DataChunkOffsets(ReadFileBytes(path));
    auto check = [&](const std::vector<Packet> &packets, int64_t ms_num, int64_t ms_den,
                     const char *what) {
        for (size_t i = 0; i < packets.size(); ++i) {
            size_t slot = static_cast<size_t>(packets[i].pts * ms_num / ms_den / 100);
            ASSERT_LT(slot, records.size()) << what << i;
            EXPECT_LT(packets[i].pos, records[slot]) << what << i;
            if (slot > 0) {
                EXPECT_GT(packets[i].pos, records[slot - 1]) << what << i;
            }
        }
    };
    check(vp, 1000, 30000, "video ");
    check(ap, 1000, 22050, "audio ");
}

TEST_F(Written, LoopingRepeatsTheSamplesWithContinuousTimes) {
    if (!HaveProgram("ffprobe")) GTEST_SKIP() << "ffprobe not installed";
    Recording rec = s_rec;
    rec.loop = 3;
    rec.records =
        vt::mkrec::PackRecords(vt::mkrec::ScriptDrive({}, vt::mkrec::RecordCountFor(rec)));
    auto path = Write(rec, "loop.mp4");
    EXPECT_EQ(ProbeWarnings(path), "");
    auto vp = ProbePackets(path, 0), ap = ProbePackets(path, 1);
    const size_t nv = s_rec.video.samples.size(), na = s_rec.audio.frames.size();
    ASSERT_EQ(vp.size(), 3 * nv);
    ASSERT_EQ(ap.size(), 3 * na);
    for (size_t i = 0; i < vp.size(); ++i) {
        EXPECT_EQ(vp[i].pts, static_cast<int64_t>(i) * 1000) << i;
        EXPECT_EQ(vp[i].md5, Md5(s_rec.video.samples[i % nv].data)) << i;
        EXPECT_EQ(vp[i].key, s_rec.video.samples[i % nv].sync) << i;
    }
    for (size_t i = 0; i < ap.size(); ++i) {
        EXPECT_EQ(ap[i].pts, static_cast<int64_t>(i) * 1024) << i;
        EXPECT_EQ(ap[i].md5, Md5(s_rec.audio.frames[i % na])) << i;
    }
    EXPECT_EQ(rec.records.size(), 63u);  // 3 x 45 frames of sound = 6.27 s
    EXPECT_EQ(DataChunkOffsets(ReadFileBytes(path)).size(), 63u);
}

TEST_F(Written, MissingMediaTracksKeepTheDataTrackFifth) {
    Recording video_only = s_rec, audio_only = s_rec, records_only = s_rec;
    video_only.audio.frames.clear();
    audio_only.video.samples.clear();
    records_only.video.samples.clear();
    records_only.audio.frames.clear();
    for (const Recording *r : {&video_only, &audio_only, &records_only}) {
        Bytes f = Build(*r);
        auto offsets = DataChunkOffsets(f);
        ASSERT_EQ(offsets.size(), r->records.size());
        EXPECT_TRUE(std::equal(r->records.back().begin(), r->records.back().end(),
                               f.begin() + offsets.back()));
    }
    if (!HaveProgram("ffprobe")) return;
    auto path = Write(video_only, "v.mp4");
    EXPECT_EQ(ProbeStream(path, 0)["nb_read_packets"], "60");
    EXPECT_EQ(ProbeStream(path, 1)["codec_tag_string"], "mp4s");
}

TEST_F(Written, InconsistentInputIsRefusedBeforeAnythingIsWritten) {
    Recording huge;
    huge.video = s_rec.video;
    huge.video.samples.resize(1);
    huge.video.samples[0].data.resize(64u << 20);
    huge.loop = 70;     // 4.4 GiB of media data
    Recording endless;  // 5 million frames of 1024 samples overflow a 32-bit media duration
    endless.audio = s_rec.audio;
    endless.audio.frames.resize(1);
    endless.loop = 5000000;
    Recording p_first = s_rec;
    p_first.video.samples.erase(p_first.video.samples.begin());
    Recording no_config = s_rec;
    no_config.audio.config.clear();
    Recording no_loop = s_rec;
    no_loop.loop = 0;
    for (const Recording *r : {&huge, &endless, &p_first, &no_config, &no_loop}) {
        auto path = m_dir / "bad.mp4";
        std::string error;
        EXPECT_FALSE(vt::mkrec::WriteRecording(*r, path.string(), &error));
        EXPECT_FALSE(error.empty());
        EXPECT_FALSE(std::filesystem::exists(path)) << error;
    }
}

TEST_F(Written, CommandLineWritesTheRequestedModelTimeAndLoop) {
    WriteFileBytes(m_dir / "v.m4v", s_m4v);
    WriteFileBytes(m_dir / "a.aac", s_adts);
    auto out = m_dir / "c.mp4";
    std::string cmd = Quote(MkrecPath()) + " -o " + Quote(out.string()) + " --video " +
                      Quote((m_dir / "v.m4v").string()) + " --audio " +
                      Quote((m_dir / "a.aac").string()) +
                      " --model ABCMODEL01 --start '2027-01-02 23:59:58' --loop 2 2>/dev/null";
    ASSERT_EQ(vt::test::Run(cmd), 0);
    Bytes f = ReadFileBytes(out);
    auto offsets = DataChunkOffsets(f);
    ASSERT_EQ(offsets.size(), 42u);
    EXPECT_EQ(std::memcmp(f.data() + offsets[0] + 121, "ABCMODEL01", 10), 0);
    EXPECT_STREQ(reinterpret_cast<const char *>(f.data() + offsets[0]), "2027/01/02 23:59:58");
    EXPECT_STREQ(reinterpret_cast<const char *>(f.data() + offsets[41]), "2027/01/03 00:00:02");

    const char *bad[] = {"--loop 0",
                         "--start '2026-02-30 00:00:00'",
                         "--model ABCDEFGHIJK",
                         "--fps 0",
                         "--events foo@1",
                         "--video /nonexistent.m4v",
                         "--audio /nonexistent.aac",
                         "--bogus 1",
                         "--records 5 -o /nonexistent-dir/x.mp4",
                         "--video /"};
    for (const char *args : bad) {
        std::string line;
        int status = vt::test::Run(Quote(MkrecPath()) + " -o " + Quote((m_dir / "x.mp4").string()) +
                                       " " + args + " 2>&1 >/dev/null",
                                   &line);
        EXPECT_EQ(status, 2) << args;
        EXPECT_EQ(line.rfind("vantrec-mkrec: ", 0), 0u) << args << ": " << line;
    }
    EXPECT_EQ(vt::test::Run(Quote(MkrecPath()) + " --video " + Quote((m_dir / "v.m4v").string()) +
                            " 2>/dev/null"),
              2);
}

// The committed samples: what other modules' tests rely on.
struct SampleCase {
    const char *path;
    const char *codec;
    int width, height, rate;
    int frames;
    const char *video_seconds;
    const char *model;
    const char *first_time;
    size_t min_records;
};

void PrintTo(const SampleCase &c, std::ostream *os) { *os << c.path; }

class Samples : public ::testing::TestWithParam<SampleCase> {};

TEST_P(Samples, AreCameraRecordingsFfprobeReadsCleanly) {
    const SampleCase &c = GetParam();
    auto path = SamplesDir() / c.path;
    if (!std::filesystem::exists(path)) GTEST_SKIP() << path << " missing";
    Bytes f = ReadFileBytes(path);
    auto offsets = DataChunkOffsets(f);
    ASSERT_GE(offsets.size(), c.min_records);
    for (size_t k = 0; k < offsets.size(); ++k) {
        ASSERT_LE(offsets[k] + 131, f.size());
        ASSERT_EQ(std::memcmp(f.data() + offsets[k] + 121, c.model, 10), 0) << k;
    }
    EXPECT_STREQ(reinterpret_cast<const char *>(f.data() + offsets[0]), c.first_time);
    if (!HaveProgram("ffprobe")) return;
    EXPECT_EQ(ProbeWarnings(path), "");
    auto v = ProbeStream(path, 0), a = ProbeStream(path, 1), d = ProbeStream(path, 2);
    EXPECT_EQ(v["codec_name"], c.codec);
    EXPECT_EQ(v["width"], std::to_string(c.width));
    EXPECT_EQ(v["height"], std::to_string(c.height));
    EXPECT_EQ(v["nb_read_packets"], std::to_string(c.frames));
    EXPECT_EQ(v["duration"], c.video_seconds);
    EXPECT_EQ(a["codec_name"], "aac");
    EXPECT_EQ(a["sample_rate"], std::to_string(c.rate));
    EXPECT_EQ(d["nb_read_packets"], std::to_string(offsets.size()));
    // The records cover the media: their count is the sound's duration in 100 ms, rounded up.
    double audio_s = std::stod(a["duration"]);
    EXPECT_EQ(offsets.size(), static_cast<size_t>(std::ceil(audio_s * 10 - 1e-6)));
}

INSTANTIATE_TEST_SUITE_P(
    Bundled, Samples,
    ::testing::Values(SampleCase{"20261108_083000.mp4", "mpeg4", 640, 480, 22050, 450, "15.000000",
                                 "ZRDMODEL25", "2026/11/08 08:30:00", 150},
                      SampleCase{"20261108_083015.mp4", "mpeg4", 640, 480, 22050, 450, "15.000000",
                                 "ZRDMODEL25", "2026/11/08 08:30:15", 150},
                      SampleCase{"20261108_083030.mp4", "mpeg4", 640, 480, 22050, 450, "15.000000",
                                 "ZRDMODEL25", "2026/11/08 08:30:30", 150},
                      SampleCase{"other-model/20261109_071500.mp4", "mpeg4", 640, 480, 22050, 300,
                                 "10.000000", "ZRDMODEL19", "2026/11/09 07:15:00", 100},
                      SampleCase{"h263/20261109_120000.mp4", "h263", 352, 288, 32000, 300,
                                 "10.010000", "ZRDMODEL25", "2026/11/09 12:00:00", 100},
                      SampleCase{"long/20261110_180000.mp4", "mpeg4", 640, 480, 22050, 3300,
                                 "110.000000", "ZRDMODEL25", "2026/11/10 18:00:00", 1025}),
    [](const auto &info) { return "s" + std::to_string(info.index); });

}  // namespace
}  // namespace vt::test::mkrec
