// Data-partitioned packets and reversible VLC texture: streams from Debian's ffmpeg against
// ffmpeg's own decoding, and packets from our writer against the same content written plainly.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "codec/mpeg4v/rvlc.h"
#include "tests/common/testutil.h"
#include "tests/mpeg4v/conformance.h"
#include "tests/mpeg4v/rvlc_writer.h"
#include "tests/mpeg4v/stream_builder.h"

namespace {

namespace fs = std::filesystem;

struct DpStream {
    const char *name;
    const char *size;
    const char *args;
};

class DataPartitioned : public ::testing::TestWithParam<DpStream> {};

TEST_P(DataPartitioned, MatchesFfmpeg) {
    if (!vt::test::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    vt::test::TempDir tmp;
    fs::path raw = tmp / "dp.m4v";
    const DpStream &s = GetParam();
    ASSERT_TRUE(mp4vtest::MakeStream(raw, s.size, "10",
                                     std::string("-c:v mpeg4 -data_partitioning 1 ") + s.args));
    mp4vtest::CompareWithFfmpeg(raw, false);
}

INSTANTIATE_TEST_SUITE_P(
    Mp4vPartitioned, DataPartitioned,
    ::testing::Values(DpStream{"i_and_p", "352x288", "-ps 400 -bf 0 -q:v 4"},
                      DpStream{"b_frames", "320x240", "-ps 400 -bf 2 -q:v 4"},
                      // B-pictures before a later I-picture predict from its (zero) vectors
                      DpStream{"b_frames_short_gop", "320x240", "-ps 400 -bf 2 -g 4 -q:v 4"},
                      DpStream{"inter4v", "176x144", "-ps 300 -flags +mv4 -bf 1 -q:v 3"},
                      DpStream{"quarter_sample", "320x240", "-ps 400 -flags +qpel -bf 1 -q:v 4"},
                      DpStream{"quarter_sample_inter4v", "176x144",
                               "-ps 300 -flags +qpel+mv4 -bf 0 -q:v 3"},
                      DpStream{"intra_only", "176x144", "-ps 200 -g 1 -q:v 2"},
                      DpStream{"mpeg_quant", "176x144", "-ps 400 -mpeg_quant 1 -bf 1 -q:v 5"},
                      DpStream{"one_packet_per_picture", "200x136", "-bf 0 -q:v 6"},
                      DpStream{"wide_search", "352x288", "-ps 500 -bf 0 -q:v 8 -me_range 64"}),
    [](const auto &info) { return std::string(info.param.name); });

// ---- content from our writer --------------------------------------------------------------

using mp4vtest::Layout;
using mp4vtest::MbContent;
using mp4vtest::PictureContent;

constexpr int kW = 176, kH = 144, kMbw = 11, kMbCount = 99;

// Sparse blocks with small levels, escapes (levels beyond the tables, long runs) and, now and
// then, a coefficient in the last scan position.
void RandomLevels(std::mt19937 &rng, int16_t *level, int start) {
    std::uniform_int_distribution<int> pct(0, 99);
    if (pct(rng) < 35) return;
    int n = 1 + pct(rng) % 6;
    for (int k = 0; k < n; ++k) {
        int pos = start + pct(rng) % (64 - start);
        int r = pct(rng);
        int v = r < 70 ? 1 + r % 3 : r < 90 ? 4 + r % 12 : 30 + (r * 37) % 900;
        level[pos] = int16_t(r & 1 ? -v : v);
    }
    if (pct(rng) < 12) level[63] = int16_t(pct(rng) & 1 ? -1 : 2);
}

MbContent RandomMb(std::mt19937 &rng, bool isP) {
    std::uniform_int_distribution<int> pct(0, 99);
    MbContent m;
    int kind = isP ? pct(rng) : 0;
    m.notCoded = isP && kind < 12;
    m.intra = !isP || (kind >= 12 && kind < 30);
    m.four = isP && !m.intra && kind >= 30 && kind < 50;
    static const int kDq[7] = {0, 0, 0, -2, -1, 1, 2};
    if (!m.notCoded && !m.four) m.dquant = kDq[pct(rng) % 7];
    m.acPred = m.intra && pct(rng) < 30;
    m.stuffing = pct(rng) < 6 ? 1 + pct(rng) % 2 : 0;
    for (auto &v : m.mvd)
        for (int &c : v) c = pct(rng) % 25 - 12;
    for (int b = 0; b < 6; ++b) {
        int r = pct(rng);
        m.dc[b] = r < 10 ? 0 : r < 90 ? r % 41 - 20 : (r & 1 ? -300 : 300);
        RandomLevels(rng, m.level[b], m.intra ? 1 : 0);
    }
    return m;
}

PictureContent RandomPicture(std::mt19937 &rng, int type, int dcThrCode, int fcode) {
    PictureContent pic;
    pic.type = type;
    pic.quant = 4 + int(rng() % 20);
    pic.fcode = fcode;
    pic.rounding = int(rng() & 1);
    pic.dcThrCode = dcThrCode;
    for (int i = 0; i < kMbCount; ++i) pic.mbs.push_back(RandomMb(rng, type == 1));
    // A skipped last macroblock can share the final byte with the stuffing, which the combined
    // decoder takes for the end of the picture; keep the reference decoding free of that.
    pic.mbs.back().notCoded = false;
    for (int start = 5 + int(rng() % 20); start < kMbCount; start += 5 + int(rng() % 25))
        pic.packetStarts.push_back(start);
    return pic;
}

struct Decoded {
    std::vector<uint8_t> y, u, v;  // full pitch planes
    std::vector<uint8_t> status;
};

std::vector<Decoded> DecodeAll(const std::vector<uint8_t> &stream,
                               std::string *messages = nullptr) {
    std::vector<uint8_t> config;
    auto units = mp4vtest::SplitUnits(stream, false, &config);
    mp4vtest::Decoder d;
    std::vector<Decoded> pics;
    if (!d.Init(config, 0, kW, kH, 3, 0, 1)) return pics;
    for (const auto &u : units) {
        d.Decode(u);
        if (!d.out.pY) continue;
        size_t ys = size_t(d.out.uPitch) * kH, cs = ys / 4;
        pics.push_back(Decoded{std::vector<uint8_t>(d.out.pY, d.out.pY + ys),
                               std::vector<uint8_t>(d.out.pU, d.out.pU + cs),
                               std::vector<uint8_t>(d.out.pV, d.out.pV + cs),
                               std::vector<uint8_t>(d.out.pMbStatus, d.out.pMbStatus + kMbCount)});
    }
    if (messages) *messages = mp4vtest::Decoder::Messages();
    return pics;
}

bool SameMb(const Decoded &a, const Decoded &b, int mb) {
    int x = mb % kMbw, y = mb / kMbw;
    for (int r = 0; r < 16; ++r)
        if (std::memcmp(&a.y[size_t((y * 16 + r) * kW + x * 16)],
                        &b.y[size_t((y * 16 + r) * kW + x * 16)], 16))
            return false;
    for (int r = 0; r < 8; ++r) {
        size_t o = size_t((y * 8 + r) * (kW / 2) + x * 8);
        if (std::memcmp(&a.u[o], &b.u[o], 8) || std::memcmp(&a.v[o], &b.v[o], 8)) return false;
    }
    return true;
}

struct Mix {
    const char *name;
    int dcThrCode;  // 0: DC VLC always, 7: never, 3: depends on the running quantiser
    int fcode;
    unsigned seed;
};

class LayoutsAgree : public ::testing::TestWithParam<Mix> {};

// The same content written combined, data-partitioned and data-partitioned with reversible VLC
// decodes to the same pictures, with nothing concealed: each layout's syntax is read in the
// right order and the reversible tables carry the same events as the ordinary ones.
TEST_P(LayoutsAgree, SamePictures) {
    const Mix &mix = GetParam();
    std::mt19937 rng(mix.seed);
    std::vector<PictureContent> pics;
    for (int type : {0, 1, 1, 0, 1})
        pics.push_back(RandomPicture(rng, type, mix.dcThrCode, mix.fcode));
    auto plain = DecodeAll(mp4vtest::WriteLayer(kW, kH, Layout::kCombined, pics));
    ASSERT_EQ(plain.size(), pics.size());
    for (const Decoded &p : plain)
        for (int mb = 0; mb < kMbCount; ++mb) ASSERT_NE(p.status[size_t(mb)], 1) << "mb " << mb;
    for (Layout layout : {Layout::kPartitioned, Layout::kPartitionedRvlc}) {
        std::string messages;
        auto got = DecodeAll(mp4vtest::WriteLayer(kW, kH, layout, pics), &messages);
        ASSERT_EQ(got.size(), plain.size()) << messages;
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].status, plain[i].status) << "picture " << i;
            for (int mb = 0; mb < kMbCount; ++mb)
                EXPECT_TRUE(SameMb(got[i], plain[i], mb))
                    << "picture " << i << " mb " << mb << " layout " << int(layout);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Mp4vPartitioned, LayoutsAgree,
                         ::testing::Values(Mix{"dc_vlc", 0, 1, 1}, Mix{"dc_in_texture", 7, 1, 2},
                                           Mix{"dc_by_running_quant", 3, 2, 3},
                                           Mix{"wide_vectors", 0, 3, 4}),
                         [](const auto &info) { return std::string(info.param.name); });

// Reversible codes must decode from either end: no code (with or without its sign bit) may
// begin or end another, and each code's length follows from its first bit (the second 1 after
// a leading 1, the second 0 after a leading 0, then one more bit). A wrong digit in the table
// breaks one of these.
TEST(Mp4vRvlcTable, CodesAreReversible) {
    std::vector<std::string> codes{"0000"};
    for (const mp4v::RvlcCode &c : mp4v::kRvlcCodes) {
        std::string s;
        for (int i = c.len - 1; i >= 0; --i) s += char('0' + ((c.code >> i) & 1));
        codes.push_back(s);
        int seen = 0, n = 1;
        const int need = s[0] == '1' ? 1 : 2;
        while (seen < need && n < int(s.size())) seen += s[size_t(n++)] == s[0];
        EXPECT_EQ(n + 1, int(s.size())) << s;
    }
    for (const auto &a : codes)
        for (const auto &b : codes) {
            if (&a == &b) continue;
            EXPECT_NE(b.compare(0, a.size(), a), 0) << a << " begins " << b;
            EXPECT_FALSE(b.size() >= a.size() && b.compare(b.size() - a.size(), a.size(), a) == 0)
                << a << " ends " << b;
        }
    // Every (last, run, level) appears once per table.
    for (bool intra : {true, false})
        for (int i = 0; i < mp4v::kRvlcCodeCount; ++i)
            for (int j = i + 1; j < mp4v::kRvlcCodeCount; ++j) {
                const auto &a = mp4v::kRvlcCodes[i], &b = mp4v::kRvlcCodes[j];
                bool same = intra ? a.intraLast == b.intraLast && a.intraRun == b.intraRun &&
                                        a.intraLevel == b.intraLevel
                                  : a.interLast == b.interLast && a.interRun == b.interRun &&
                                        a.interLevel == b.interLevel;
                EXPECT_FALSE(same) << i << " " << j;
            }
}

// ---- damage --------------------------------------------------------------------------------

struct Hurt {
    const char *name;
    Layout layout;
    int secondType;  // picture 1: 0 I, 1 P
    bool breakMarker;
    bool badTexture;  // else the stream is cut
    // Macroblocks before the failing one that may be concealed as well: with a reversible
    // texture the backward reading bounds the damage, with a margin of up to a code's length.
    int mayLoseBefore = 0;
};

class DamagedPacket : public ::testing::TestWithParam<Hurt> {};

// Picture 1 has three packets; the middle one is damaged. Packets 0 and 2 decode as without
// damage; in packet 1 the macroblocks from the failing one on are copies of picture 0 at the
// same place (not moved by the vectors the first partition gave them) and marked concealed.
TEST_P(DamagedPacket, ConcealsFromTheFailingMacroblock) {
    const Hurt &h = GetParam();
    std::mt19937 rng(77);
    std::vector<PictureContent> pics{RandomPicture(rng, 0, 0, 1),
                                     RandomPicture(rng, h.secondType, 0, 1)};
    PictureContent &p1 = pics[1];
    p1.packetStarts = {0, 33, 66};
    // The failing macroblock carries texture and, in P, a vector that would move it.
    const int failing = h.breakMarker ? 33 : 40;
    MbContent &m = p1.mbs[failing];
    m = MbContent{};
    m.intra = h.secondType == 0;
    m.mvd[0][0] = 9;
    m.mvd[0][1] = -7;
    m.level[0][3] = 5;
    m.dc[0] = 3;
    for (int i = failing + 1; i < 66; ++i) {
        p1.mbs[i].notCoded = false;
        p1.mbs[i].mvd[0][0] = 6;
    }
    mp4vtest::Damage dmg;
    dmg.picture = 1;
    dmg.packet = 1;
    dmg.breakMarker = h.breakMarker;
    if (!h.breakMarker) (h.badTexture ? dmg.badTextureMb : dmg.cutTextureMb) = failing;

    auto good = DecodeAll(mp4vtest::WriteLayer(kW, kH, h.layout, pics));
    auto bad = DecodeAll(mp4vtest::WriteLayer(kW, kH, h.layout, pics, dmg));
    ASSERT_EQ(good.size(), 2u);
    ASSERT_EQ(bad.size(), 2u);
    const int packetEnd = h.badTexture || h.breakMarker ? 66 : kMbCount;
    bool moved = false;
    for (int mb = 0; mb < kMbCount; ++mb) {
        const bool lostToo = mb >= failing - h.mayLoseBefore && mb < failing &&
                             bad[1].status[size_t(mb)] == 1 && SameMb(bad[1], bad[0], mb);
        if ((mb < failing && !lostToo) || mb >= packetEnd) {
            EXPECT_TRUE(SameMb(bad[1], good[1], mb)) << "mb " << mb;
            EXPECT_EQ(bad[1].status[size_t(mb)], good[1].status[size_t(mb)]) << "mb " << mb;
        } else {
            EXPECT_TRUE(SameMb(bad[1], bad[0], mb)) << "mb " << mb;
            EXPECT_EQ(bad[1].status[size_t(mb)], 1) << "mb " << mb;
            moved |= !SameMb(good[1], good[0], mb);
        }
    }
    EXPECT_TRUE(moved) << "the undamaged picture must differ where the damage is concealed";
}

INSTANTIATE_TEST_SUITE_P(
    Mp4vPartitioned, DamagedPacket,
    ::testing::Values(Hurt{"p_vlc_bad_texture", Layout::kPartitioned, 1, false, true},
                      Hurt{"p_rvlc_cut", Layout::kPartitionedRvlc, 1, false, false, 1},
                      Hurt{"p_vlc_cut", Layout::kPartitioned, 1, false, false},
                      Hurt{"p_motion_marker", Layout::kPartitionedRvlc, 1, true, false},
                      Hurt{"i_dc_marker", Layout::kPartitioned, 0, true, false}),
    [](const auto &info) { return std::string(info.param.name); });

// ---- reversible texture read from both ends -------------------------------------------------

struct Rescue {
    const char *name;
    int type;                // picture 1: 0 I, 1 P
    int dcThrCode;           // 0 DC with the headers, 7 DC among the events
    bool acPred;             // intra macroblocks of the damaged packet predict their AC
    std::vector<int> flips;  // damaged macroblocks (bit flips); empty: MB 45 is an invalid code
    int flipOffset;
    int before, after;  // macroblocks next to the damage that may be lost
};

class RvlcBothEnds : public ::testing::TestWithParam<Rescue> {};

// Picture 1 has packets at 0, 33 and 66; packet 1's texture is damaged. Every macroblock either
// equals the undamaged decoding or is marked concealed; those clear of the damage by the given
// margins equal it, on both sides, where forward reading alone concealed everything after it.
TEST_P(RvlcBothEnds, KeepsWhatEitherEndRecovers) {
    const Rescue &r = GetParam();
    std::mt19937 rng(1234);
    std::vector<PictureContent> pics{RandomPicture(rng, 0, r.dcThrCode, 1),
                                     RandomPicture(rng, r.type, r.dcThrCode, 1)};
    PictureContent &p1 = pics[1];
    p1.packetStarts = {0, 33, 66};
    for (int i = 33; i < 66; ++i) {
        MbContent &m = p1.mbs[size_t(i)];
        m.notCoded = false;
        m.intra = r.type == 0 || i % 7 == 3;
        m.four = false;
        m.acPred = m.intra && r.acPred;
        // Enough texture per macroblock that the margins stay within one macroblock or two.
        for (int b = 0; b < 6; ++b)
            for (int k = 1; k < 5; ++k)
                m.level[b][k * 3] = int16_t((i + b + k) % 5 - 2 ? 1 + k : -2);
    }
    mp4vtest::Damage dmg;
    dmg.picture = 1;
    dmg.packet = 1;
    dmg.flipTextureMbs = r.flips;
    dmg.flipOffset = r.flipOffset;
    if (r.flips.empty()) dmg.badTextureMb = 45;
    const int lo = r.flips.empty() ? 45 : r.flips.front();
    const int hi = r.flips.empty() ? 45 : r.flips.back();

    auto good = DecodeAll(mp4vtest::WriteLayer(kW, kH, Layout::kPartitionedRvlc, pics));
    auto bad = DecodeAll(mp4vtest::WriteLayer(kW, kH, Layout::kPartitionedRvlc, pics, dmg));
    ASSERT_EQ(good.size(), 2u);
    ASSERT_EQ(bad.size(), 2u);
    int concealed = 0;
    for (int mb = 0; mb < kMbCount; ++mb) {
        const bool same = SameMb(bad[1], good[1], mb);
        const uint8_t st = bad[1].status[size_t(mb)];
        // With one damaged bit the two reading directions bound it; a flipped sign bit would
        // go unnoticed in either, so the damage is put into a code's first bits.
        if (r.flips.size() < 2) {
            EXPECT_TRUE(same || st == 1) << "mb " << mb << " differs but counts as clean";
        }
        concealed += st == 1 && good[1].status[size_t(mb)] != 1;
        if (mb < lo - r.before || mb > hi + r.after) {
            EXPECT_TRUE(same) << "mb " << mb;
            EXPECT_EQ(st, good[1].status[size_t(mb)]) << "mb " << mb;
        }
    }
    EXPECT_GT(concealed, 0) << "the damage must cost something";
    EXPECT_LE(concealed, hi - lo + r.before + r.after + 1);
}

INSTANTIATE_TEST_SUITE_P(
    Mp4vPartitioned, RvlcBothEnds,
    ::testing::Values(Rescue{"p_invalid_code", 1, 0, false, {}, 0, 1, 1},
                      Rescue{"i_invalid_code", 0, 0, false, {}, 0, 1, 1},
                      Rescue{"p_flipped_bit", 1, 0, false, {45}, 0, 2, 3},
                      Rescue{"i_flipped_bit", 0, 0, false, {45}, 0, 2, 3},
                      Rescue{"p_flipped_bit_dc_in_texture", 1, 7, false, {45}, 1, 2, 3},
                      // Intra macroblocks next to lost ones lose their predictors: they are
                      // concealed too, never shown wrong as clean.
                      Rescue{"i_ac_prediction", 0, 0, true, {45}, 0, 2, 20},
                      // Two damaged places: what lies clear of them is kept. Between them no
                      // direction can say how far its reading stayed right, so nothing there
                      // is asserted beyond the margins.
                      Rescue{"p_two_flips", 1, 0, false, {40, 58}, 0, 2, 3},
                      Rescue{"i_two_flips", 0, 0, false, {40, 58}, 0, 2, 3}),
    [](const auto &info) { return std::string(info.param.name); });

// Random content, one bit flipped at the start of a random macroblock's texture (a code's first
// two bits: unlike its sign or its last bit, they change where the code ends). Whatever the two
// directions recover, a macroblock that differs from the undamaged decoding is never counted as
// clean, and nothing outside the damaged packet changes.
TEST(Mp4vRvlcBothEnds, NeverShowsDamageAsClean) {
    int recovered = 0;
    for (unsigned seed = 1; seed <= 24; ++seed) {
        std::mt19937 rng(seed);
        const int type = int(seed % 2);
        std::vector<PictureContent> pics{RandomPicture(rng, 0, int(seed % 3) * 3 % 8, 1),
                                         RandomPicture(rng, type, int(seed % 3) * 3 % 8, 1)};
        PictureContent &p1 = pics[1];
        const size_t packet = rng() % p1.packetStarts.size();
        const int begin = p1.packetStarts[packet];
        const int end =
            packet + 1 < p1.packetStarts.size() ? p1.packetStarts[packet + 1] : kMbCount;
        mp4vtest::Damage dmg;
        dmg.picture = 1;
        dmg.packet = int(packet);
        dmg.flipTextureMbs = {begin + int(rng() % unsigned(end - begin))};
        dmg.flipOffset = int(seed % 2);
        auto good = DecodeAll(mp4vtest::WriteLayer(kW, kH, Layout::kPartitionedRvlc, pics));
        auto bad = DecodeAll(mp4vtest::WriteLayer(kW, kH, Layout::kPartitionedRvlc, pics, dmg));
        ASSERT_EQ(good.size(), 2u);
        ASSERT_EQ(bad.size(), 2u);
        for (int mb = 0; mb < kMbCount; ++mb) {
            const bool same = SameMb(bad[1], good[1], mb);
            const uint8_t st = bad[1].status[size_t(mb)];
            EXPECT_TRUE(same || st == 1) << "seed " << seed << " mb " << mb;
            if (mb < begin || mb >= end) {
                EXPECT_TRUE(same) << "seed " << seed << " mb " << mb;
            }
            recovered += mb > dmg.flipTextureMbs[0] + 2 && mb < end && same && st != 1;
        }
    }
    // Forward reading alone conceals everything after the damage in its packet.
    EXPECT_GT(recovered, 0);
}

}  // namespace
