// The call interface: initialisation rules and messages, block sizes, layer headers, user data,
// reordering and picture durations.
#include <gtest/gtest.h>

#include "tests/mpeg4v/stream_builder.h"

using mp4vtest::BitWriter;
using mp4vtest::Decoder;
using mp4vtest::VolFields;

namespace {

std::vector<uint8_t> VolBytes(const VolFields &f) {
    BitWriter w;
    WriteVol(&w, f);
    return w.Bytes();
}

struct InitCase {
    const char *name;
    uint32_t maxW, maxH, buffers;
    int shortHdr;
    bool withVol;
    bool ok;
    const char *message;
};

class InitRules : public ::testing::TestWithParam<InitCase> {};

TEST_P(InitRules, ResultAndMessage) {
    const InitCase &c = GetParam();
    Decoder d;
    std::vector<uint8_t> config = c.withVol ? VolBytes(VolFields{}) : std::vector<uint8_t>{};
    EXPECT_EQ(d.Init(config, c.shortHdr, c.maxW, c.maxH, c.buffers), c.ok);
    EXPECT_EQ(Decoder::Messages(), c.message);
}

INSTANTIATE_TEST_SUITE_P(Mp4vInit, InitRules,
                         ::testing::Values(
                             // The size check comes before the buffer count.
                             InitCase{"width360", 360, 288, 2, 0, false, false,
                                      "Error : uMaxDecodableWidth/Height is not multiple of 16\n"},
                             InitCase{"height_odd", 352, 290, 3, 0, false, false,
                                      "Error : uMaxDecodableWidth/Height is not multiple of 16\n"},
                             InitCase{"two_buffers", 352, 288, 2, 0, false, false,
                                      "Error : uFrmBufferNum is smaller than 3\n"},
                             InitCase{"three_buffers", 352, 288, 3, 0, false, true, ""},
                             InitCase{
                                 "auto_without_config", 352, 288, 3, -1, false, false,
                                 "Error : iIsShortHdrMode is -1 but there is no config data\n"},
                             InitCase{"vol_fits", 16, 16, 3, 0, true, true, ""}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(Mp4vInit, ConfigDataDecidesTheMode) {
    Decoder full;
    ASSERT_TRUE(full.Init(VolBytes(VolFields{}), 1, 64, 64));
    EXPECT_EQ(full.isShort, 0);
    EXPECT_EQ(full.initResult.uWidth, 16);
    EXPECT_EQ(full.initResult.uHeight, 16);

    Decoder shortHdr;
    std::vector<uint8_t> noVol = {0x00, 0x00, 0x01, 0xB0, 0x01};
    ASSERT_TRUE(shortHdr.Init(noVol, 0, 64, 64));
    EXPECT_EQ(shortHdr.isShort, 1);
    EXPECT_EQ(shortHdr.initResult.uWidth, 0);
}

TEST(Mp4vInit, LayerLargerThanTheMaximumFails) {
    VolFields f;
    f.width = 64;
    f.height = 48;
    Decoder d;
    EXPECT_FALSE(d.Init(VolBytes(f), 0, 48, 48));
    EXPECT_EQ(Decoder::Messages(),
              "Error : VOL width/height is zero or larger than uMaxDecodableWidth/Height\n");
}

TEST(Mp4vMemory, BlockSizesFollowTheGeometry) {
    Mp4vDecConfig cfg{};
    cfg.uFrmBufferNum = 3;
    cfg.uMaxDecodableWidth = 640;
    cfg.uMaxDecodableHeight = 480;
    Mp4vDecMemBlock mem[4]{};
    EXPECT_EQ(Mp4vDecGetMemNum(), 4u);
    EXPECT_EQ(Mp4vDecQueryMem(&cfg, mem), 4u);
    const uint32_t w = 40, h = 30;
    EXPECT_EQ(mem[0].uSize, 516u);
    EXPECT_EQ(mem[1].uSize, 8 * w * h + 4 * w * (h + 16) + 2936);
    EXPECT_EQ(mem[2].uSize, 25 * w * h + 28);
    EXPECT_GE(mem[3].uSize, 28u * 3 + 248);
}

struct VolCase {
    const char *name;
    VolFields fields;
    const char *message;
};

VolFields With(void (*edit)(VolFields *)) {
    VolFields f;
    edit(&f);
    return f;
}

class VolMessages : public ::testing::TestWithParam<VolCase> {};

// An unsupported tool is reported; the size read before it still decides initialisation.
TEST_P(VolMessages, ReportedThroughTheSink) {
    Decoder d;
    EXPECT_TRUE(d.Init(VolBytes(GetParam().fields), 0, 64, 64));
    EXPECT_EQ(Decoder::Messages(), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Mp4vVol, VolMessages,
    ::testing::Values(VolCase{"gmc_points", With([](VolFields *f) {
                                  f->verid = 2;
                                  f->spriteEnable = 2;
                                  f->warpingPoints = 4;
                              }),
                              "ERROR : GMC points > 3"},
                      VolCase{"obmc", With([](VolFields *f) { f->obmcDisable = 0; }),
                              "NOT SUPPORTED : OBMC\n"},
                      VolCase{"static_sprite", With([](VolFields *f) { f->spriteEnable = 1; }),
                              "NOT SUPPORTED : sprite_enable\n"},
                      VolCase{"plain", VolFields{}, ""}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Mp4vVol, ArbitraryShapeStopsBeforeTheSize) {
    VolFields f;
    f.shape = 1;
    Decoder d;
    EXPECT_FALSE(d.Init(VolBytes(f), 0, 64, 64));
    EXPECT_EQ(Decoder::Messages(),
              "NOT SUPPORTED : Arbitrary Shape\n"
              "Error : VOL width/height is zero or larger than uMaxDecodableWidth/Height\n");
}

struct UserDataCase {
    const char *text;
    int packed, oldEncoder;
};

class UserData : public ::testing::TestWithParam<UserDataCase> {};

TEST_P(UserData, Flags) {
    BitWriter w;
    w.StartCode(0xB2);
    for (const char *p = GetParam().text; *p; ++p) w.Put(uint8_t(*p), 8);
    WriteVol(&w, VolFields{});
    Decoder d;
    ASSERT_TRUE(d.Init(w.Bytes(), 0, 64, 64));
    EXPECT_EQ(d.Info()->iPackedBitstream, GetParam().packed);
    EXPECT_EQ(d.Info()->iOldEncoder, GetParam().oldEncoder);
}

INSTANTIATE_TEST_SUITE_P(
    Mp4vUserData, UserData,
    ::testing::Values(UserDataCase{"DivX503b1393p", 1, 0}, UserDataCase{"XviD0012", 0, 1},
                      UserDataCase{"XviD0013", 0, 0}, UserDataCase{"DivX501Build413", 0, 1},
                      UserDataCase{"DivX999b000p", 1, 0}, UserDataCase{"Lavc58.54.100", 0, 0}));

// I0 P1 B2 B3 P4 in decode order come out as -, I0, B2, B3, P1 and P4 on flush.
TEST(Mp4vOutput, ReorderingReturnsDisplayOrder) {
    BitWriter w;
    WriteVol(&w, VolFields{});
    Decoder d;
    ASSERT_TRUE(d.Init(w.Bytes(), 0, 16, 16));
    const int types[5] = {0, 1, 2, 2, 1};
    const int increments[5] = {0, 3000, 1000, 2000, 6000};
    std::vector<int> got, incr;
    for (int i = 0; i < 5; ++i) {
        BitWriter v;
        WriteNotCodedVop(&v, types[i], 0, increments[i], 15);
        d.Decode(v.Bytes());
        got.push_back(d.picInfo[0]);
        incr.push_back(d.picInfo[1]);
    }
    d.Flush();
    got.push_back(d.picInfo[0]);
    incr.push_back(d.picInfo[1]);
    EXPECT_EQ(got, (std::vector<int>{-1, 0, 2, 2, 1, 1}));
    // Durations follow display order: 0, 1000, 1000, 1000, 3000 increments at 30000 Hz.
    EXPECT_EQ(incr, (std::vector<int>{0, 0, 3000, 3000, 3000, 9000}));
}

TEST(Mp4vOutput, DurationsInNinetyKilohertz) {
    BitWriter w;
    WriteVol(&w, VolFields{});
    Decoder d;
    ASSERT_TRUE(d.Init(w.Bytes(), 0, 16, 16, 3, 0, 1));
    BitWriter a, b;
    WriteNotCodedVop(&a, 1, 0, 100, 15);
    WriteNotCodedVop(&b, 1, 1, 100, 15);
    d.Decode(a.Bytes());
    d.Decode(b.Bytes());
    EXPECT_EQ(d.picInfo[1], 90000);

    Decoder h;
    ASSERT_TRUE(h.Init({}, 1, 128, 96));
    h.Decode(mp4vtest::SkippedH263Picture(255, 1, 48));
    EXPECT_EQ(h.picInfo[0], 1);
    h.Decode(mp4vtest::SkippedH263Picture(1, 1, 48));
    EXPECT_EQ(h.picInfo[1], 6006);
    EXPECT_EQ(h.out.uWidth, 128u);
    EXPECT_EQ(h.out.uHeight, 96u);
}

TEST(Mp4vOutput, PackedBitstreamSilencesNotCodedVops) {
    BitWriter w;
    w.StartCode(0xB2);
    for (const char *p = "DivX503b1393p"; *p; ++p) w.Put(uint8_t(*p), 8);
    WriteVol(&w, VolFields{});
    Decoder d;
    ASSERT_TRUE(d.Init(w.Bytes(), 0, 16, 16, 3, 0, 1));
    BitWriter v;
    WriteNotCodedVop(&v, 1, 0, 5, 15);
    d.Decode(v.Bytes());
    EXPECT_EQ(d.picInfo[0], -1);
    EXPECT_EQ(d.out.pY, nullptr);
}

TEST(Mp4vHeaders, ShortHeaderSourceFormatSixNeedsTheExtendedType) {
    Decoder d;
    ASSERT_TRUE(d.Init({}, 1, 352, 288));
    d.Decode(mp4vtest::SkippedH263Picture(0, 6, 99));
    EXPECT_EQ(d.picInfo[0], -1);
    d.Decode(mp4vtest::SkippedH263Picture(2, 2, 99));
    EXPECT_EQ(d.picInfo[0], 1);
    EXPECT_EQ(d.out.uWidth, 176u);
}

TEST(Mp4vHeaders, PVopWithZeroFcodeIsDropped) {
    BitWriter w;
    WriteVol(&w, VolFields{});
    Decoder d;
    ASSERT_TRUE(d.Init(w.Bytes(), 0, 16, 16, 3, 0, 1));
    BitWriter v;
    v.StartCode(0xB6);
    v.Put(1, 2);  // P
    v.Put(0, 1);  // modulo_time_base
    v.Put(1, 1);
    v.Put(0, 15);
    v.Put(1, 1);
    v.Put(1, 1);  // vop_coded
    v.Put(0, 1);  // rounding
    v.Put(0, 3);  // intra_dc_vlc_thr
    v.Put(5, 5);  // vop_quant
    v.Put(0, 3);  // vop_fcode_forward 0
    v.Put(0xFF, 8);
    d.Decode(v.Bytes());
    EXPECT_EQ(d.picInfo[0], -1);
}

// A layer met in-band that is larger than the maximum: its VOPs are skipped with the message,
// and decoding resumes with a fitting layer.
TEST(Mp4vHeaders, OversizedLayerInBandIsSkipped) {
    Decoder d;
    BitWriter cfg;
    WriteVol(&cfg, VolFields{});
    ASSERT_TRUE(d.Init(cfg.Bytes(), 0, 32, 32, 3, 0, 1));
    VolFields big;
    big.width = 64;
    BitWriter s;
    WriteVol(&s, big);
    WriteNotCodedVop(&s, 1, 0, 1, 15);
    d.Decode(s.Bytes());
    EXPECT_EQ(d.picInfo[0], -1);
    EXPECT_NE(Decoder::Messages().find("larger than uMaxDecodableWidth"), std::string::npos);
    BitWriter t;
    WriteVol(&t, VolFields{});
    WriteNotCodedVop(&t, 1, 0, 2, 15);
    d.Decode(t.Bytes());
    EXPECT_EQ(d.picInfo[0], 1);
}

}  // namespace
