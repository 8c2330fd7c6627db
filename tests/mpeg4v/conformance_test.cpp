// Conformance against an independent decoder: streams made by Debian's ffmpeg and the public test
// vectors are decoded by us and by ffmpeg; every frame's luma must be within 40 dB PSNR and the
// mean at least 50 dB (the two IDCTs differ by rounding only).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>

#include "tests/common/testutil.h"
#include "tests/mpeg4v/conformance.h"
#include "tests/mpeg4v/stream_builder.h"

namespace {

namespace fs = std::filesystem;
using mp4vtest::CompareWithFfmpeg;
using mp4vtest::DecodeFfmpeg;
using mp4vtest::DecodeOurs;
using mp4vtest::Psnr;
using vt::test::Quote;

struct MadeStream {
    const char *name;
    const char *size;
    const char *rate;
    const char *args;
    bool h263;
};

class FfmpegMade : public ::testing::TestWithParam<MadeStream> {};

constexpr const char *kIntraMatrix =
    "8,16,18,20,22,24,26,28,16,18,20,22,24,26,28,30,18,20,22,24,26,28,30,32,20,22,24,26,28,30,"
    "32,34,22,24,26,28,30,32,34,36,24,26,28,30,32,34,36,38,26,28,30,32,34,36,38,40,28,30,32,34,"
    "36,38,40,42";
constexpr const char *kInterMatrix =
    "16,17,18,19,20,21,22,23,17,18,19,20,21,22,23,24,18,19,20,21,22,23,24,25,19,20,21,22,23,24,"
    "26,27,20,21,22,23,25,26,27,28,21,22,23,24,26,27,28,30,22,23,24,26,27,28,30,31,23,24,25,27,"
    "28,30,31,40";

TEST_P(FfmpegMade, MatchesFfmpeg) {
    if (!vt::test::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    const MadeStream &s = GetParam();
    vt::test::TempDir tmp;
    fs::path raw = tmp / (s.h263 ? "s.h263" : "s.m4v");
    std::string args = s.args;
    if (std::string(s.name) == "custom_matrices")
        args += std::string(" -intra_matrix ") + kIntraMatrix + " -inter_matrix " + kInterMatrix;
    std::string cmd = std::string("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=") +
                      s.size + ":rate=" + s.rate + " -frames:v 12 -threads 1 " + args + " -f " +
                      (s.h263 ? "h263 " : "m4v ") + Quote(raw.string());
    ASSERT_EQ(vt::test::Run(cmd), 0) << cmd;
    CompareWithFfmpeg(raw, s.h263);
}

INSTANTIATE_TEST_SUITE_P(
    Mp4vConformance, FfmpegMade,
    ::testing::Values(
        MadeStream{"intra_only", "176x144", "25", "-c:v mpeg4 -g 1 -q:v 4", false},
        MadeStream{"i_and_p", "352x288", "10", "-c:v mpeg4 -bf 0 -q:v 4", false},
        MadeStream{"inter4v", "176x144", "10", "-c:v mpeg4 -flags +mv4 -q:v 3", false},
        MadeStream{"b_frames", "320x240", "10", "-c:v mpeg4 -bf 2 -q:v 4", false},
        MadeStream{"mpeg_quant", "176x144", "25", "-c:v mpeg4 -mpeg_quant 1 -bf 1 -q:v 4", false},
        MadeStream{"custom_matrices", "176x144", "25", "-c:v mpeg4 -mpeg_quant 1 -q:v 4", false},
        MadeStream{"resync_markers", "352x288", "10", "-c:v mpeg4 -ps 300 -bf 1 -q:v 3", false},
        MadeStream{"size_128x96", "128x96", "25", "-c:v mpeg4 -q:v 4", false},
        MadeStream{"size_720x576", "720x576", "25", "-c:v mpeg4 -bf 2 -q:v 5", false},
        MadeStream{"size_130x98", "130x98", "10", "-c:v mpeg4 -bf 1 -q:v 4", false},
        MadeStream{"size_200x136", "200x136", "10", "-c:v mpeg4 -flags +mv4 -q:v 4", false},
        MadeStream{"quant_low", "176x144", "25", "-c:v mpeg4 -q:v 1", false},
        MadeStream{"quant_high", "176x144", "25", "-c:v mpeg4 -q:v 31 -bf 1", false},
        MadeStream{"h263_sqcif", "128x96", "25", "-c:v h263 -q:v 4", true},
        MadeStream{"h263_qcif", "176x144", "10", "-c:v h263 -q:v 6", true},
        MadeStream{"h263_cif", "352x288", "25", "-c:v h263 -q:v 3", true},
        MadeStream{"h263_4cif", "704x576", "25", "-c:v h263 -q:v 8", true},
        // GOB headers; in 4CIF a GOB spans two macroblock rows
        MadeStream{"h263_gob_headers", "176x144", "10", "-c:v h263 -ps 300 -q:v 4", true},
        MadeStream{"h263_4cif_gob_headers", "704x576", "10", "-c:v h263 -ps 300 -q:v 4", true},
        MadeStream{"h263p_custom", "200x120", "25", "-c:v h263p -q:v 5", true}),
    [](const auto &info) { return std::string(info.param.name); });

struct Vector {
    const char *file;
    bool h263;
};

class PublicVectors : public ::testing::TestWithParam<Vector> {};

TEST_P(PublicVectors, MatchFfmpeg) {
    fs::path src = vt::test::TestVector(std::string("mpeg4v/") + GetParam().file);
    if (src.empty()) GTEST_SKIP() << "test vectors not present";
    if (!vt::test::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    vt::test::TempDir tmp;
    bool h263 = GetParam().h263;
    fs::path raw = tmp / (h263 ? "v.h263" : "v.m4v");
    std::string cmd = "ffmpeg -nostdin -v error -y -i " + Quote(src.string()) +
                      " -map 0:v:0 -c:v copy " + (h263 ? "-f h263 " : "-bsf:v dump_extra -f m4v ") +
                      Quote(raw.string());
    ASSERT_EQ(vt::test::Run(cmd), 0) << cmd;
    CompareWithFfmpeg(raw, h263);
}

INSTANTIATE_TEST_SUITE_P(
    Mp4vVectors, PublicVectors,
    ::testing::Values(
        Vector{"androidx_bbb_176x144_128kbps_15fps_h263.3gp", true},
        Vector{"androidx_bbb_176x144_192kbps_15fps_mpeg4.mp4", false},
        Vector{"cts_swirl_128x128_mpeg4.mp4", false}, Vector{"cts_swirl_130x132_mpeg4.mp4", false},
        Vector{"cts_swirl_132x130_mpeg4.mp4", false}, Vector{"cts_swirl_136x144_mpeg4.mp4", false},
        Vector{"cts_swirl_144x136_mpeg4.mp4", false}, Vector{"exo_sample.avi", false},
        Vector{"exo_sample_h263.ts", false}, Vector{"exo_video_desks.3gp", true},
        Vector{"fate_cropdetect1.mp4", false}, Vector{"fate_extended_atom_size_probe.mp4", false},
        Vector{"fate_invalid_elst_entry_count.mp4", false},
        Vector{"fate_packed_bframes.avi", false}),
    [](const auto &info) {
        std::string n = info.param.file;
        for (char &c : n)
            if (!isalnum(static_cast<unsigned char>(c))) c = '_';
        return n;
    });

// The layer declares OBMC: the message goes out and the stream decodes without harm.
TEST(Mp4vVectors, ObmcLayerIsReportedAndSurvived) {
    fs::path src = vt::test::TestVector("mpeg4v/jcodec_frame0123.m4v");
    if (src.empty()) GTEST_SKIP() << "test vectors not present";
    int w = 0, h = 0;
    std::string messages;
    auto pics = DecodeOurs(vt::test::ReadFileBytes(src), false, &w, &h, &messages);
    EXPECT_NE(messages.find("NOT SUPPORTED : OBMC\n"), std::string::npos);
    EXPECT_EQ(w, 352);
    EXPECT_EQ(h, 288);
}

// The post-filter changes only the returned pictures: the references stay unfiltered, so the
// filtered output stays close to the plain one instead of drifting, frame after frame.
TEST(Mp4vPostFilterStream, FiltersOutputNotReferences) {
    if (!vt::test::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    vt::test::TempDir tmp;
    fs::path raw = tmp / "s.m4v";
    ASSERT_EQ(vt::test::Run("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=176x144:rate=10 "
                            "-frames:v 12 -threads 1 -c:v mpeg4 -bf 1 -q:v 12 -f m4v " +
                            Quote(raw.string())),
              0);
    auto bytes = vt::test::ReadFileBytes(raw);
    int w = 0, h = 0;
    auto plain = DecodeOurs(bytes, false, &w, &h);
    auto filtered = DecodeOurs(bytes, false, &w, &h, nullptr, 1);
    ASSERT_EQ(plain.size(), filtered.size());
    bool changed = false;
    for (size_t i = 0; i < plain.size(); ++i) {
        double p = Psnr(plain[i].y, filtered[i].y);
        EXPECT_GT(p, 30.0) << "frame " << i;
        changed |= p < 99.0;
    }
    EXPECT_TRUE(changed);
}

// The command-line tool over a raw stream: display-order I420 and its summary line.
TEST(Mp4vTool, DecodeVideoWritesI420) {
    if (!vt::test::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    vt::test::TempDir tmp;
    fs::path raw = tmp / "s.m4v", out = tmp / "out.yuv";
    ASSERT_EQ(vt::test::Run("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=130x98:rate=25 "
                            "-frames:v 6 -threads 1 -c:v mpeg4 -bf 1 -f m4v " +
                            Quote(raw.string())),
              0);
    std::string cmd = Quote(vt::test::ToolPath().string()) + " decode-video " +
                      Quote(raw.string()) + " " + Quote(out.string()) + " 2>" +
                      Quote((tmp / "err.txt").string());
    ASSERT_EQ(vt::test::Run(cmd), 0);
    auto err = vt::test::ReadFileBytes(tmp / "err.txt");
    std::string text(err.begin(), err.end());
    EXPECT_NE(text.find("frames=6 width=130 height=98"), std::string::npos) << text;
    EXPECT_EQ(fs::file_size(out), 6u * (130 * 98 + 2 * 65 * 49));
}

}  // namespace

namespace {

// decode-video over MP4 and 3GP files (first video track through the engine's reader).
class ToolOverContainers : public ::testing::TestWithParam<const char *> {};

TEST_P(ToolOverContainers, MatchesFfmpeg) {
    fs::path src = vt::test::TestVector(std::string("mpeg4v/") + GetParam());
    if (src.empty()) GTEST_SKIP() << "test vectors not present";
    if (!vt::test::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    vt::test::TempDir tmp;
    fs::path out = tmp / "out.yuv", err = tmp / "err.txt";
    ASSERT_EQ(vt::test::Run(Quote(vt::test::ToolPath().string()) + " decode-video " +
                            Quote(src.string()) + " " + Quote(out.string()) + " 2>" +
                            Quote(err.string())),
              0);
    auto errBytes = vt::test::ReadFileBytes(err);
    std::string text(errBytes.begin(), errBytes.end());
    int n = 0, w = 0, h = 0;
    size_t at = text.rfind("frames=");
    ASSERT_NE(at, std::string::npos);
    ASSERT_EQ(std::sscanf(text.c_str() + at, "frames=%d width=%d height=%d", &n, &w, &h), 3);
    auto ref = DecodeFfmpeg(src, w, h);
    ASSERT_EQ(size_t(n), ref.size());
    auto bytes = vt::test::ReadFileBytes(out);
    size_t frame = size_t(w) * h + 2 * size_t((w + 1) / 2) * ((h + 1) / 2);
    ASSERT_EQ(bytes.size(), frame * size_t(n));
    for (int i = 0; i < n; ++i) {
        std::vector<uint8_t> y(bytes.begin() + long(i * frame),
                               bytes.begin() + long(i * frame) + w * h);
        EXPECT_GE(Psnr(y, ref[size_t(i)].y), 40.0) << "frame " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Mp4vTool, ToolOverContainers,
                         ::testing::Values("cts_swirl_130x132_mpeg4.mp4",
                                           "androidx_bbb_176x144_128kbps_15fps_h263.3gp"));

}  // namespace
