// Damaged input: cut pictures are concealed and reported through uCleanPercent and the status
// map; flipped bits, dropped packets and garbage never take the decoder outside its memory.
#include <gtest/gtest.h>

#include <random>

#include "tests/common/testutil.h"
#include "tests/mpeg4v/stream_builder.h"

namespace {

using mp4vtest::Decoder;
using vt::test::Quote;

std::vector<uint8_t> MakeStream(const std::string &args, const std::string &size, bool h263) {
    vt::test::TempDir tmp;
    auto raw = tmp / "s.bin";
    std::string cmd = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=" + size +
                      ":rate=10 -frames:v 8 -threads 1 " + args +
                      (h263 ? " -f h263 " : " -f m4v ") + Quote(raw.string());
    if (vt::test::Run(cmd) != 0) return {};
    return vt::test::ReadFileBytes(raw);
}

// A P-VOP cut in the middle: the lower macroblocks repeat the past reference, their status is
// 1 and the clean share drops.
TEST(Mp4vConceal, CutPVopRepeatsThePastReference) {
    if (!vt::test::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    auto stream = MakeStream("-c:v mpeg4 -bf 0 -q:v 3", "176x144", false);
    ASSERT_FALSE(stream.empty());
    std::vector<uint8_t> config;
    auto units = mp4vtest::SplitUnits(stream, false, &config);
    ASSERT_GE(units.size(), 2u);
    Decoder d;
    ASSERT_TRUE(d.Init(config, -1, 176, 144, 3, 0, 1));
    d.Decode(units[0]);
    ASSERT_EQ(d.picInfo[0], 0);
    EXPECT_EQ(d.out.uCleanPercent, 100u);
    std::vector<uint8_t> iLuma(d.out.pY, d.out.pY + 176 * 144);

    std::vector<uint8_t> half(units[1].begin(), units[1].begin() + long(units[1].size() / 2));
    d.Decode(half, 1);
    ASSERT_EQ(d.picInfo[0], 1);
    EXPECT_LT(d.out.uCleanPercent, 100u);
    EXPECT_GT(d.out.uCleanPercent, 0u);
    EXPECT_EQ(d.out.pMbStatus[98], 1);  // last macroblock
    for (int y = 128; y < 144; ++y)
        for (int x = 0; x < 176; ++x)
            ASSERT_EQ(d.out.pY[y * 176 + x], iLuma[y * 176 + x]) << x << "," << y;
}

// The first picture after the geometry is set up has no reference: a cut I-VOP is filled
// spatially, and with nothing decoded at all the picture is mid-grey.
TEST(Mp4vConceal, NothingDecodedAfterSetupIsGrey) {
    mp4vtest::BitWriter w;
    mp4vtest::VolFields f;
    f.width = 48;
    f.height = 32;
    WriteVol(&w, f);
    Decoder d;
    ASSERT_TRUE(d.Init(w.Bytes(), 0, 48, 32, 3, 0, 1));
    mp4vtest::BitWriter v;
    v.StartCode(0xB6);
    v.Put(0, 2);  // I
    v.Put(0, 1);
    v.Put(1, 1);
    v.Put(0, 15);
    v.Put(1, 1);
    v.Put(1, 1);  // coded
    v.Put(0, 3);
    v.Put(4, 5);  // vop_quant; the macroblock data is missing
    d.Decode(v.Bytes(), 1);
    ASSERT_EQ(d.picInfo[0], 0);
    EXPECT_EQ(d.out.uCleanPercent, 0u);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(d.out.pMbStatus[i], 1);
    for (int i = 0; i < 48 * 32; ++i) ASSERT_EQ(d.out.pY[i], 128);
}

// Without iFrameEnd a cut picture stays pending; iResetStatus marks everything damaged and hands
// the picture out without the reordering delay.
TEST(Mp4vConceal, FrameEndAndResetStatus) {
    if (!vt::test::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    auto stream = MakeStream("-c:v mpeg4 -bf 0 -q:v 3", "176x144", false);
    ASSERT_FALSE(stream.empty());
    std::vector<uint8_t> config;
    auto units = mp4vtest::SplitUnits(stream, false, &config);
    Decoder d;
    ASSERT_TRUE(d.Init(config, -1, 176, 144));
    std::vector<uint8_t> half(units[0].begin(), units[0].begin() + long(units[0].size() / 2));
    EXPECT_EQ(d.Decode(half, 0), half.size());
    EXPECT_EQ(d.picInfo[0], -1);

    Decoder r;
    ASSERT_TRUE(r.Init(config, -1, 176, 144));
    r.Decode(units[0], 1, 1);
    EXPECT_EQ(r.picInfo[0], 0);  // returned at once despite reordering
    EXPECT_EQ(r.out.uCleanPercent, 100u);
    r.Decode(units[1], 1, 0);
    EXPECT_EQ(r.picInfo[0], -1);  // the I picture is not handed out twice
}

struct DamageCase {
    const char *name;
    const char *args;
    const char *size;
    bool h263;
    int deblock;
};

class Damage : public ::testing::TestWithParam<DamageCase> {};

// Flipped bits, truncated and dropped pieces, garbage: every picture keeps a sane clean share.
TEST_P(Damage, NeverLeavesItsMemory) {
    if (!vt::test::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    const DamageCase &c = GetParam();
    auto stream = MakeStream(c.args, c.size, c.h263);
    ASSERT_FALSE(stream.empty());
    std::vector<uint8_t> config;
    auto units = mp4vtest::SplitUnits(stream, c.h263, &config);
    std::mt19937 rng(99);
    for (int round = 0; round < 12; ++round) {
        Decoder d;
        ASSERT_TRUE(
            d.Init(config, c.h263 ? 1 : -1, 720, 576, 3 + round % 2, c.deblock, round % 3 == 0));
        for (size_t i = 0; i < units.size(); ++i) {
            std::vector<uint8_t> u = units[i];
            switch ((round + i) % 5) {
                case 0:
                    for (int k = 0; k < 1 + round; ++k)
                        u[rng() % u.size()] ^= uint8_t(1 << (rng() % 8));
                    break;
                case 1: u.resize(u.size() * (rng() % 100) / 100); break;
                case 2:
                    if (u.size() > 40)
                        u.erase(u.begin() + 20, u.begin() + 20 + long(rng() % (u.size() - 30)));
                    break;
                case 3:
                    for (size_t k = 8; k < u.size(); ++k) u[k] = uint8_t(rng());
                    break;
                default: break;
            }
            if (u.empty()) continue;
            uint32_t used = d.Decode(u, int(rng() % 4 != 0));
            EXPECT_LE(used, u.size());
            if (d.out.pY) {
                EXPECT_LE(d.out.uCleanPercent, 100u);
                EXPECT_GE(d.picInfo[0], 0);
                EXPECT_LE(d.picInfo[0], 2);
            }
        }
        d.Flush();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Mp4vRobust, Damage,
    ::testing::Values(
        DamageCase{"mpeg4_ip", "-c:v mpeg4 -bf 0 -flags +mv4 -q:v 4", "176x144", false, 0},
        DamageCase{"mpeg4_b_packets", "-c:v mpeg4 -bf 2 -ps 200 -q:v 4", "352x288", false, 1},
        DamageCase{"mpeg4_mpeg_quant", "-c:v mpeg4 -mpeg_quant 1 -bf 1 -q:v 2", "130x98", false, 0},
        DamageCase{"h263", "-c:v h263 -q:v 4", "176x144", true, 1},
        // the general decoders: quarter-sample and interlaced layers
        DamageCase{"qpel_b_packets", "-c:v mpeg4 -flags +qpel+mv4 -bf 2 -ps 200 -q:v 4", "352x288",
                   false, 0},
        DamageCase{"interlaced_b_packets",
                   "-vf tinterlace=4 -c:v mpeg4 -flags +ildct+ilme -bf 2 -ps 300 -q:v 4", "352x288",
                   false, 1}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
