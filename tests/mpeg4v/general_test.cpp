// The general decoders: quarter-sample layers against ffmpeg, and the fast and general paths
// agreeing picture for picture where both apply.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "codec/mpeg4v/qpel.h"
#include "tests/common/testutil.h"
#include "tests/mpeg4v/conformance.h"
#include "tests/mpeg4v/stream_builder.h"

namespace {

namespace fs = std::filesystem;

struct Made {
    const char *name;
    const char *size;
    const char *rate;
    const char *args;
};

std::string NameOf(const ::testing::TestParamInfo<Made> &info) { return info.param.name; }

bool NeedsMissingEncoder(const Made &m) {
    if (std::string(m.args).find("libxvid") == std::string::npos) return false;
    std::string text;
    vt::test::Run("ffmpeg -hide_banner -h encoder=libxvid 2>/dev/null", &text);
    return text.find("Encoder libxvid") == std::string::npos;
}

class GeneralVsFfmpeg : public ::testing::TestWithParam<Made> {};

TEST_P(GeneralVsFfmpeg, MatchesFfmpeg) {
    if (!vt::test::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    const Made &m = GetParam();
    if (NeedsMissingEncoder(m)) GTEST_SKIP() << "ffmpeg has no libxvid encoder";
    vt::test::TempDir tmp;
    fs::path raw = tmp / "s.m4v";
    ASSERT_TRUE(mp4vtest::MakeStream(raw, m.size, m.rate, m.args));
    mp4vtest::CompareWithFfmpeg(raw, false);
}

INSTANTIATE_TEST_SUITE_P(
    Mp4vQpel, GeneralVsFfmpeg,
    ::testing::Values(
        Made{"qpel", "176x144", "10", "-c:v mpeg4 -flags +qpel -bf 0 -q:v 4"},
        Made{"qpel_rounding", "352x288", "25", "-c:v mpeg4 -flags +qpel -bf 0 -q:v 2 -g 30"},
        Made{"qpel_bframes", "320x240", "10", "-c:v mpeg4 -flags +qpel -bf 2 -q:v 4"},
        Made{"qpel_mv4", "176x144", "10", "-c:v mpeg4 -flags +mv4+qpel -q:v 3"},
        Made{"qpel_mv4_bframes", "352x288", "10", "-c:v mpeg4 -flags +mv4+qpel -bf 2 -q:v 3"},
        Made{"qpel_mpeg_quant", "176x144", "25", "-c:v mpeg4 -flags +qpel -mpeg_quant 1 -bf 1"},
        // partial edge macroblocks: vectors that reach past the picture read clamped samples
        Made{"qpel_odd_size", "130x98", "10", "-c:v mpeg4 -flags +qpel+mv4 -bf 1 -q:v 4"},
        Made{"qpel_resync", "352x288", "10", "-c:v mpeg4 -flags +qpel -ps 300 -bf 2 -q:v 3"},
        // packed B-frames with not-coded placeholders, direct mode with quarter-sample vectors
        Made{"xvid_qpel_bframes", "352x288", "10", "-c:v libxvid -flags +qpel -bf 2 -q:v 4"},
        Made{"xvid_qpel_mv4_bframes", "320x240", "25",
             "-c:v libxvid -flags +qpel+mv4 -bf 2 -q:v 3"}),
    NameOf);

// Interlaced layers: field DCT, field prediction with field selects, field direct mode in
// B-VOPs (whose field distances depend on top_field_first), alternate vertical scan. The
// tinterlace filter weaves two source pictures into one, so the fields really differ.
INSTANTIATE_TEST_SUITE_P(
    Mp4vInterlaced, GeneralVsFfmpeg,
    ::testing::Values(
        Made{"top_first", "352x288", "25", "-c:v mpeg4 -flags +ildct+ilme -top 1 -bf 0 -q:v 3"},
        Made{"bottom_first", "352x288", "25", "-c:v mpeg4 -flags +ildct+ilme -top 0 -bf 0 -q:v 3"},
        Made{"woven_top_first_bframes", "352x288", "50",
             "-vf tinterlace=4 -c:v mpeg4 -flags +ildct+ilme -top 1 -bf 2 -q:v 3"},
        Made{"woven_bottom_first_bframes", "352x288", "50",
             "-vf tinterlace=5 -c:v mpeg4 -flags +ildct+ilme -top 0 -bf 2 -q:v 3"},
        Made{"field_dct_only", "176x144", "25", "-c:v mpeg4 -flags +ildct -bf 1 -q:v 4"},
        Made{"alternate_scan", "352x288", "50",
             "-vf tinterlace=4 -c:v mpeg4 -flags +ildct+ilme -alternate_scan 1 -bf 1 -q:v 3"},
        Made{"mpeg_quant", "352x288", "50",
             "-vf tinterlace=4 -c:v mpeg4 -flags +ildct+ilme -mpeg_quant 1 -bf 2 -q:v 4"},
        Made{"with_qpel_mv4", "352x288", "50",
             "-vf tinterlace=5 -c:v mpeg4 -flags +ildct+ilme+qpel+mv4 -top 0 -bf 2 -q:v 3"},
        // packets inside rows: the bottom field predictors of B-VOPs carry over a packet start
        Made{"bframes_packets", "720x576", "50",
             "-vf tinterlace=4 -c:v mpeg4 -flags +ilme -bf 1 -ps 300 -q:v 3"},
        Made{"qpel_bframes_packets", "352x288", "50",
             "-vf tinterlace=5 -c:v mpeg4 -flags +ildct+ilme+qpel -top 0 -bf 3 -ps 200 -q:v 3"},
        // field fetches near the picture edges read clamped samples of their own field
        Made{"odd_size", "200x136", "50",
             "-vf tinterlace=4 -c:v mpeg4 -flags +ildct+ilme -bf 1 -q:v 4"}),
    NameOf);

// A progressive layer decoded through the fast and through the general decoders gives the same
// pictures, byte for byte.
class FastEqualsGeneral : public ::testing::TestWithParam<Made> {};

TEST_P(FastEqualsGeneral, IdenticalPictures) {
    if (!vt::test::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    const Made &m = GetParam();
    vt::test::TempDir tmp;
    fs::path raw = tmp / "s.m4v";
    ASSERT_TRUE(mp4vtest::MakeStream(raw, m.size, m.rate, m.args));
    auto bytes = vt::test::ReadFileBytes(raw);
    int w = 0, h = 0;
    mp4vtest::DecodeOptions fast, general;
    general.forceGeneral = true;
    auto a = mp4vtest::DecodeOursWith(bytes, false, fast, &w, &h);
    auto b = mp4vtest::DecodeOursWith(bytes, false, general, &w, &h);
    ASSERT_FALSE(a.empty());
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_TRUE(a[i].y == b[i].y) << "luma of picture " << i;
        EXPECT_TRUE(a[i].uv == b[i].uv) << "chroma of picture " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Mp4vPaths, FastEqualsGeneral,
    ::testing::Values(Made{"i_and_p", "352x288", "10", "-c:v mpeg4 -bf 0 -q:v 4"},
                      Made{"inter4v_bframes", "176x144", "10", "-c:v mpeg4 -flags +mv4 -bf 2"},
                      Made{"odd_size", "130x98", "10", "-c:v mpeg4 -flags +mv4 -bf 1 -q:v 4"},
                      Made{"resync", "352x288", "10", "-c:v mpeg4 -ps 300 -bf 1 -q:v 3"}),
    NameOf);

// The sprite trajectory of an S-VOP header: each warping_mv_code is a dmv_length code (2 to 12
// bits), that many bits and a marker. A wrongly sized code shifts every later header field, which
// shows in vop_quant.
class SpriteTrajectory : public ::testing::TestWithParam<int> {};

TEST_P(SpriteTrajectory, FieldsAfterItReadRight) {
    static const char *kLengthCodes[15] = {"00",         "010",         "011",         "100",
                                           "101",        "110",         "1110",        "11110",
                                           "111110",     "1111110",     "11111110",    "111111110",
                                           "1111111110", "11111111110", "111111111110"};
    const int length = GetParam();
    mp4vtest::BitWriter w;
    mp4vtest::VolFields vol;
    vol.verid = 2;
    vol.spriteEnable = 2;
    vol.warpingPoints = 1;
    mp4vtest::WriteVol(&w, vol);
    w.StartCode(0xB6);
    w.Put(3, 2);  // S-VOP
    w.Put(0, 1);  // modulo_time_base
    w.Put(1, 1);
    w.Put(5, 15);  // vop_time_increment (resolution 30000)
    w.Put(1, 1);
    w.Put(1, 1);  // vop_coded
    w.Put(0, 1);  // vop_rounding_type
    w.Put(0, 3);  // intra_dc_vlc_thr
    auto putCode = [&](const char *bits) {
        for (const char *b = bits; *b; ++b) w.Put(*b == '1', 1);
    };
    putCode(kLengthCodes[length]);  // du
    if (length) w.Put(1u << (length - 1), length);
    w.Put(1, 1);
    putCode(kLengthCodes[0]);  // dv
    w.Put(1, 1);
    w.Put(17, 5);  // vop_quant
    w.Put(2, 3);   // vop_fcode_forward
    w.Stuff();
    mp4vtest::Decoder d;
    ASSERT_TRUE(d.Init({}, 0, 64, 64));
    d.Decode(w.Bytes());
    EXPECT_EQ(d.Info()->iVopCodingType, 3);
    EXPECT_EQ(d.Info()->iVopQuant, 17);
    EXPECT_EQ(d.Info()->iVopFcodeForward, 2);
}

INSTANTIATE_TEST_SUITE_P(Mp4vGmc, SpriteTrajectory, ::testing::Values(0, 1, 5, 6, 13, 14));

// Field direct mode measures field distances in units of the first B-VOP's TRB. A first B-VOP
// stamped with its past reference's time (TRB 0) must not become that unit: the stream still
// decodes, picture for picture, without a division by zero.
TEST(Mp4vInterlacedTiming, FirstBVopWithZeroTrb) {
    if (!vt::test::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    vt::test::TempDir tmp;
    fs::path raw = tmp / "s.m4v";
    ASSERT_TRUE(mp4vtest::MakeStream(
        raw, "176x144", "50", "-vf tinterlace=4 -c:v mpeg4 -flags +ildct+ilme -bf 2 -q:v 4"));
    auto bytes = vt::test::ReadFileBytes(raw);
    int w = 0, h = 0;
    auto plain = mp4vtest::DecodeOursWith(bytes, false, {}, &w, &h);
    ASSERT_FALSE(plain.empty());
    // Zero the vop_time_increment of the first B-VOP (the I-VOP before it has increment 0).
    std::vector<uint8_t> config;
    mp4vtest::SplitUnits(bytes, false, &config);
    mp4vtest::Decoder probe;
    ASSERT_TRUE(probe.Init(config, -1, 176, 144));
    const int incrBits = probe.Info()->iTimeIncrementBits;
    bool patched = false;
    for (size_t i = 0; i + 4 < bytes.size() && !patched; ++i) {
        if (bytes[i] || bytes[i + 1] || bytes[i + 2] != 1 || bytes[i + 3] != 0xB6) continue;
        size_t bit = (i + 4) * 8;
        auto get = [&](size_t b) { return (bytes[b / 8] >> (7 - b % 8)) & 1; };
        if ((bytes[i + 4] >> 6) != 2) continue;
        bit += 2;
        while (get(bit)) ++bit;  // modulo_time_base
        bit += 2;                // its 0 and the marker
        for (int k = 0; k < incrBits; ++k, ++bit) bytes[bit / 8] &= uint8_t(~(0x80 >> (bit % 8)));
        patched = true;
    }
    ASSERT_TRUE(patched);
    auto damaged = mp4vtest::DecodeOursWith(bytes, false, {}, &w, &h);
    EXPECT_EQ(damaged.size(), plain.size());
}

// Quarter-sample, interlaced and GMC layers decode without a word.
TEST(Mp4vGeneralMessages, NoneRefused) {
    if (!vt::test::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    vt::test::TempDir tmp;
    std::vector<std::string> cases = {"-c:v mpeg4 -flags +qpel -bf 1",
                                      "-c:v mpeg4 -flags +ildct+ilme -bf 1"};
    if (!NeedsMissingEncoder(Made{"", "", "", "libxvid"}))
        cases.push_back("-vf crop=352:288:x='t*37':y='t*23' -c:v libxvid -gmc 1");
    for (const std::string &args : cases) {
        fs::path raw = tmp / "s.m4v";
        ASSERT_TRUE(mp4vtest::MakeStream(raw, "480x400", "10", args, 6));
        int w = 0, h = 0;
        std::string messages;
        auto pics = mp4vtest::DecodeOurs(vt::test::ReadFileBytes(raw), false, &w, &h, &messages);
        EXPECT_EQ(messages.find("NOT SUPPORTED"), std::string::npos) << args << messages;
        EXPECT_EQ(pics.size(), 6u) << args;
    }
}

// The vectorised 8-tap filter against the portable one: every block shape, all sixteen phases,
// both rounding types, samples near 0 and 255 where the clipping matters.
TEST(Mp4vQpelFilter, OptimisedMatchesPortable) {
    std::mt19937 rng(77);
    const int shapes[3][2] = {{16, 16}, {16, 8}, {8, 8}};
    uint8_t src[17 * 24];
    for (int iter = 0; iter < 40; ++iter) {
        for (uint8_t &v : src)
            v = iter % 2 ? uint8_t(rng()) : uint8_t(rng() % 2 ? 255 - rng() % 8 : rng() % 8);
        for (const auto &shape : shapes)
            for (int phase = 0; phase < 16; ++phase)
                for (int rnd = 0; rnd < 2; ++rnd) {
                    uint8_t a[256], b[256];
                    mp4v::QpelInterpolate(a, 16, src, 24, shape[0], shape[1], phase & 3, phase >> 2,
                                          rnd);
                    mp4v::QpelInterpolateRef(b, 16, src, 24, shape[0], shape[1], phase & 3,
                                             phase >> 2, rnd);
                    for (int r = 0; r < shape[1]; ++r)
                        ASSERT_EQ(0, std::memcmp(a + 16 * r, b + 16 * r, size_t(shape[0])))
                            << shape[0] << "x" << shape[1] << " phase " << phase << " rnd " << rnd;
                    if (shape[0] != 8) continue;
                    // two 8x8 blocks sharing a vector, in one pass
                    mp4v::QpelInterpolatePair(a, 16, src, 24, phase & 3, phase >> 2, rnd);
                    mp4v::QpelInterpolateRef(b, 16, src + 8, 24, 8, 8, phase & 3, phase >> 2, rnd);
                    for (int r = 0; r < 8; ++r) {
                        ASSERT_EQ(0, std::memcmp(a + 16 * r + 8, b + 16 * r, 8))
                            << "right of pair, phase " << phase << " rnd " << rnd;
                    }
                    mp4v::QpelInterpolateRef(b, 16, src, 24, 8, 8, phase & 3, phase >> 2, rnd);
                    for (int r = 0; r < 8; ++r) {
                        ASSERT_EQ(0, std::memcmp(a + 16 * r, b + 16 * r, 8))
                            << "left of pair, phase " << phase << " rnd " << rnd;
                    }
                }
    }
}

}  // namespace
