// GMC layers (S-VOPs with 0 to 3 warping points): pictures against ffmpeg on content with real
// global motion, streams checked to use warped macroblocks at all, and the warp arithmetic on
// hand-computed cases.
#include <gtest/gtest.h>

#include <cstring>

#include "codec/mpeg4v/gmc.h"
#include "codec/mpeg4v/internal.h"
#include "tests/common/testutil.h"
#include "tests/mpeg4v/conformance.h"
#include "tests/mpeg4v/stream_builder.h"

namespace {

namespace fs = std::filesystem;

bool HaveXvid() {
    std::string text;
    vt::test::Run("ffmpeg -hide_banner -h encoder=libxvid 2>/dev/null", &text);
    return text.find("Encoder libxvid") != std::string::npos;
}

struct GmcCase {
    const char *name;
    const char *filter;  // global motion of the source
    const char *args;    // encoder options on top of libxvid -gmc 1
    int frames;
    int minSVops;  // what the encoder writes today, with a margin
};

std::string NameOf(const ::testing::TestParamInfo<GmcCase> &info) { return info.param.name; }

// Encodes testsrc2 moved by `filter` (352x288, 25 Hz) with xvid's GMC.
bool MakeGmcStream(const fs::path &out, const GmcCase &c) {
    std::string cmd =
        std::string("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=352x288:") +
        "rate=25 -frames:v " + std::to_string(c.frames) + " -threads 1 -vf " +
        vt::test::Quote(c.filter) + " -c:v libxvid -gmc 1 " + c.args + " -f m4v " +
        vt::test::Quote(out.string());
    int rc = vt::test::Run(cmd);
    EXPECT_EQ(rc, 0) << cmd;
    return rc == 0;
}

// Coded S-VOPs in the stream. The placeholders that packed B-frames leave behind (vop_coded 0)
// are a few bytes long and give no picture.
int CountSVops(const std::vector<uint8_t> &s) {
    std::vector<size_t> at;
    for (size_t i = 0; i + 4 < s.size(); ++i)
        if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) at.push_back(i);
    at.push_back(s.size());
    int n = 0;
    for (size_t k = 0; k + 1 < at.size(); ++k) {
        size_t i = at[k];
        if (s[i + 3] == 0xB6 && (s[i + 4] >> 6) == 3 && at[k + 1] - i > 12) ++n;
    }
    return n;
}

struct Usage {
    int sVops = 0;
    uint32_t gmcMbs = 0;
    int points = -1;
};

// Decodes the stream and counts S-pictures and warped macroblocks, so a test can tell that its
// stream exercises GMC at all.
Usage CountGmc(const std::vector<uint8_t> &stream) {
    std::vector<uint8_t> config;
    auto units = mp4vtest::SplitUnits(stream, false, &config);
    mp4vtest::Decoder d;
    Usage u;
    if (!d.Init(config, config.empty() ? 0 : -1, 2048, 2048, 3)) return u;
    for (const auto &unit : units) {
        // A unit may pack a B-VOP behind its reference: decode on until it is used up.
        size_t off = 0;
        while (off < unit.size()) {
            std::vector<uint8_t> rest(unit.begin() + long(off), unit.end());
            uint32_t used = d.Decode(rest);
            if (d.picInfo[0] == 3) ++u.sVops;
            if (used == 0 || rest.size() - used < 5) break;
            off += used;
        }
    }
    d.Flush();
    if (d.picInfo[0] == 3) ++u.sVops;
    u.gmcMbs = static_cast<mp4v::Instance *>(d.handle)->gmcMbs;
    u.points = d.Info()->iSpriteWarpingPoints;
    return u;
}

constexpr const char *kRotateZoom =
    "rotate=0.03*n:c=black,scale=w=352+4*n:h=288+4*n:eval=frame,crop=352:288";

constexpr const char *kRotateZoomSmall =
    "rotate=0.03*n:c=black,scale=w=352+4*n:h=288+4*n:eval=frame,crop=352:288,scale=200:152";

class GmcVsFfmpeg : public ::testing::TestWithParam<GmcCase> {};

TEST_P(GmcVsFfmpeg, MatchesFfmpeg) {
    if (!vt::test::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    if (!HaveXvid()) GTEST_SKIP() << "ffmpeg has no libxvid encoder";
    const GmcCase &c = GetParam();
    vt::test::TempDir tmp;
    fs::path raw = tmp / "gmc.m4v";
    ASSERT_TRUE(MakeGmcStream(raw, c));
    auto bytes = vt::test::ReadFileBytes(raw);
    Usage u = CountGmc(bytes);
    EXPECT_GE(u.points, 2);
    // Every S-VOP of the stream comes out as one.
    const int written = CountSVops(bytes);
    EXPECT_GE(written, c.minSVops) << "the encoder wrote too few S-VOPs";
    EXPECT_EQ(u.sVops, written);
    EXPECT_GE(u.gmcMbs, 10u * uint32_t(c.minSVops)) << "the S-VOPs hardly use the warp";
    mp4vtest::CompareWithFfmpeg(raw, false);
    std::string messages;
    int w = 0, h = 0;
    mp4vtest::DecodeOurs(bytes, false, &w, &h, &messages);
    EXPECT_EQ(messages.find("NOT SUPPORTED"), std::string::npos) << messages;
}

INSTANTIATE_TEST_SUITE_P(
    Mp4vGmc, GmcVsFfmpeg,
    ::testing::Values(
        GmcCase{"rotate", "rotate=0.02*n", "-bf 0 -q:v 3", 14, 5},
        GmcCase{"rotate_zoom", kRotateZoom, "-bf 0 -q:v 3", 14, 5},
        GmcCase{"zoompan", "zoompan=z='1+0.01*on':d=1:s=352x288", "-bf 0 -q:v 3", 14, 3},
        GmcCase{"pan", "crop=300:240:x=2*n:y=n,scale=352:288", "-bf 0 -q:v 4", 14, 1},
        GmcCase{"rotate_rounding", "rotate=0.015*n", "-bf 0 -q:v 2 -g 50", 20, 3},
        GmcCase{"rotate_qpel", kRotateZoom, "-flags +qpel -bf 0 -q:v 3", 14, 4},
        // partial edge macroblocks: warped positions past the picture read clamped samples
        GmcCase{"odd_size", kRotateZoomSmall, "-bf 1 -q:v 3", 14, 3},
        GmcCase{"interlaced", kRotateZoom, "-flags +ildct+ilme -bf 1 -q:v 3", 14, 2},
        GmcCase{"rotate_zoom_bframes", kRotateZoom, "-bf 2 -q:v 3", 16, 3},
        GmcCase{"rotate_zoom_qpel_bframes", kRotateZoom, "-flags +qpel -bf 2 -q:v 4", 16, 2}),
    NameOf);

// Fewer warping points on real data: the encoder's three-point stream is rewritten so that the
// layer declares `points` and every S-VOP keeps only its first `points` trajectory entries. The
// residuals then no longer fit the warp, but both decoders read the same bits, so the pictures
// must still agree; this covers the zero-, one- and two-point warps the encoder never writes.
class BitCursor {
public:
    BitCursor(const std::vector<uint8_t> *b, size_t byte) : m_b(b), m_pos(byte * 8) {}
    uint32_t Get(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i, ++m_pos)
            v = v << 1 | (m_pos / 8 < m_b->size() ? ((*m_b)[m_pos / 8] >> (7 - m_pos % 8)) & 1 : 0);
        return v;
    }
    uint32_t Peek(int n) const {
        BitCursor c = *this;
        return c.Get(n);
    }
    size_t pos() const { return m_pos; }

private:
    const std::vector<uint8_t> *m_b;
    size_t m_pos;
};

void CopyBits(const std::vector<uint8_t> &src, size_t from, size_t to, mp4vtest::BitWriter *w) {
    for (size_t p = from; p < to; ++p) w->Put((src[p / 8] >> (7 - p % 8)) & 1, 1);
}

// One warping_mv_code: its dmv_length code (14496-2 Table B-33), the value bits, the marker.
void SkipDmv(BitCursor *c) {
    int len;
    if (c->Peek(2) == 0) {
        c->Get(2);
        len = 0;
    } else if (c->Peek(3) < 7) {
        len = int(c->Get(3)) - 1;
    } else {
        c->Get(3);
        len = 6;
        while (c->Get(1) && len < 14) ++len;
    }
    c->Get(len + 1);
}

std::vector<uint8_t> WithFewerPoints(const std::vector<uint8_t> &in, int points) {
    std::vector<size_t> at;
    for (size_t i = 0; i + 3 < in.size(); ++i)
        if (in[i] == 0 && in[i + 1] == 0 && in[i + 2] == 1) at.push_back(i);
    at.push_back(in.size());
    mp4vtest::BitWriter w;
    int incrementBits = 1, verid = 1;
    for (size_t k = 0; k + 1 < at.size(); ++k) {
        const size_t begin = at[k] * 8, end = at[k + 1] * 8;
        const uint8_t code = in[at[k] + 3];
        BitCursor c(&in, at[k] + 4);
        if (code >= 0x20 && code <= 0x2F) {
            c.Get(9);
            if (c.Get(1)) verid = int(c.Get(4)), c.Get(3);
            if (c.Get(4) == 15) c.Get(16);
            if (c.Get(1)) {
                c.Get(3);
                if (c.Get(1)) c.Get(79);
            }
            c.Get(3);  // shape, marker
            int resolution = int(c.Get(16));
            while ((1 << incrementBits) < resolution) ++incrementBits;
            c.Get(1);
            if (c.Get(1)) c.Get(incrementBits);
            c.Get(1 + 13 + 1 + 13 + 1 + 2);  // size with markers, interlaced, obmc_disable
            EXPECT_EQ(c.Get(verid == 1 ? 1 : 2), 2u);
            CopyBits(in, begin, c.pos(), &w);
            EXPECT_EQ(c.Get(6), 3u);
            w.Put(uint32_t(points), 6);
            CopyBits(in, c.pos(), end, &w);
            continue;
        }
        if (code != 0xB6 || (in[at[k] + 4] >> 6) != 3) {
            CopyBits(in, begin, end, &w);
            continue;
        }
        c.Get(2);
        while (c.Get(1)) {
        }
        c.Get(1 + incrementBits + 1);
        if (!c.Get(1)) {  // not coded: no trajectory
            CopyBits(in, begin, end, &w);
            continue;
        }
        c.Get(4);  // vop_rounding_type, intra_dc_vlc_thr
        CopyBits(in, begin, c.pos(), &w);
        for (int i = 0; i < 6; ++i) {
            size_t from = c.pos();
            SkipDmv(&c);
            if (i < 2 * points) CopyBits(in, from, c.pos(), &w);
        }
        // The VOP's stuffing (a 0 and up to seven 1s) ends the unit; it is written anew at the
        // new alignment.
        size_t stop = end - 1;
        while ((in[stop / 8] >> (7 - stop % 8)) & 1) --stop;
        CopyBits(in, c.pos(), stop, &w);
        w.Stuff();
    }
    return w.Bytes();
}

class FewerPoints : public ::testing::TestWithParam<int> {};

TEST_P(FewerPoints, MatchesFfmpeg) {
    if (!vt::test::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    if (!HaveXvid()) GTEST_SKIP() << "ffmpeg has no libxvid encoder";
    vt::test::TempDir tmp;
    fs::path raw = tmp / "gmc.m4v", fewer = tmp / "fewer.m4v";
    ASSERT_TRUE(MakeGmcStream(raw, GmcCase{"", kRotateZoom, "-bf 0 -q:v 3", 14, 0}));
    auto bytes = WithFewerPoints(vt::test::ReadFileBytes(raw), GetParam());
    vt::test::WriteFileBytes(fewer, bytes);
    Usage u = CountGmc(bytes);
    EXPECT_EQ(u.points, GetParam());
    EXPECT_EQ(u.sVops, CountSVops(bytes));
    EXPECT_GT(u.gmcMbs, 100u);
    mp4vtest::CompareWithFfmpeg(fewer, false);
}

INSTANTIATE_TEST_SUITE_P(Mp4vGmc, FewerPoints, ::testing::Values(0, 1, 2, 3));

// The warp itself on cases worked out by hand.
TEST(Mp4vGmcWarp, IdentityAndTranslation) {
    const int16_t none[3][2] = {};
    for (int points = 0; points <= 3; ++points) {
        for (int acc = 0; acc <= 3; ++acc) {
            mp4v::GmcWarp g;
            SetupGmcWarp(&g, 352, 288, points, acc, none);
            const int64_t s = 2 << acc;
            // Every sample maps onto itself.
            for (int64_t p : {0, 1, 17, 351}) {
                EXPECT_EQ((g.offX + g.dxx * p + g.dxy * 5) >> g.shift, s * p) << points << acc;
                EXPECT_EQ((g.offY + g.dyx * p + g.dyy * 5) >> g.shift, s * 5) << points << acc;
                EXPECT_EQ((g.cOffX + g.cdxx * p) >> g.cShift, s * p) << points << acc;
            }
            int vx = 9, vy = 9;
            GmcAverageVector(g, 3, 4, false, 1, &vx, &vy);
            EXPECT_EQ(vx, 0);
            EXPECT_EQ(vy, 0);
        }
    }
    // du = 3, dv = -5 half samples with accuracy 1/16: every point moves the same way.
    const int16_t shift[3][2] = {{3, -5}, {0, 0}, {0, 0}};
    for (int points = 1; points <= 3; ++points) {
        mp4v::GmcWarp g;
        SetupGmcWarp(&g, 352, 288, points, 3, shift);
        for (int64_t p : {0, 100, 351}) {
            EXPECT_EQ((g.offX + g.dxx * p + g.dxy * p) >> g.shift, 16 * p + 24) << points;
            EXPECT_EQ((g.offY + g.dyx * p + g.dyy * p) >> g.shift, 16 * p - 40) << points;
        }
        int vx = 0, vy = 0;
        GmcAverageVector(g, 5, 5, false, 2, &vx, &vy);
        EXPECT_EQ(vx, 3) << points;
        EXPECT_EQ(vy, -5) << points;
        GmcAverageVector(g, 5, 5, true, 2, &vx, &vy);
        EXPECT_EQ(vx, 6) << points;
        EXPECT_EQ(vy, -10) << points;
        GmcAverageVector(g, 5, 5, false, 1, &vx, &vy);  // held inside [-32, 31]
        EXPECT_EQ(vx, 3);
    }
}

// A zoom: the second point moves right by 16 half samples over the 352-wide layer, so the scale
// is (352 + 8) / 352 and sample i maps near i * 360 / 352.
TEST(Mp4vGmcWarp, TwoPointZoom) {
    const int16_t traj[3][2] = {{0, 0}, {16, 0}, {0, 0}};
    mp4v::GmcWarp g;
    SetupGmcWarp(&g, 352, 288, 2, 3, traj);
    for (int64_t i : {0, 64, 200, 351}) {
        int64_t x = (g.offX + g.dxx * i) >> g.shift;  // 1/16 sample
        double want = 16.0 * double(i) * 360.0 / 352.0;
        EXPECT_NEAR(double(x), want, 1.5) << i;
        int64_t y = (g.offY + g.dyy * i) >> g.shift;  // isotropic: rows scale alike
        EXPECT_NEAR(double(y), want, 1.5) << i;
    }
}

// Bilinear prediction at 1/16: a half-sample shift of a ramp, the rounding control, and
// positions far outside the picture reading the replicated edge.
TEST(Mp4vGmcWarp, PredictionSamples) {
    const int pitch = 32, w = 32, h = 32;
    std::vector<uint8_t> y(pitch * h), u(pitch / 2 * h / 2), v(pitch / 2 * h / 2);
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) y[r * pitch + c] = uint8_t(c * 3 + (r & 1));
    for (size_t k = 0; k < u.size(); ++k) u[k] = uint8_t(k), v[k] = uint8_t(200 - k / 2);
    struct Case {
        int16_t du, dv;
        int rounding;
        int expect00;  // predicted luma at (0, 0)
    } cases[] = {{1, 0, 0, 2}, {1, 0, 1, 1}, {0, 1, 0, 1}, {0, 1, 1, 0}, {-400, -400, 0, 0}};
    for (const Case &c : cases) {
        const int16_t traj[3][2] = {{c.du, c.dv}, {0, 0}, {0, 0}};
        mp4v::GmcWarp g;
        SetupGmcWarp(&g, w, h, 1, 3, traj);
        uint8_t dy[16 * 16], du[64], dv[64];
        GmcPredictMb(g, y.data(), u.data(), v.data(), pitch, w, h, 0, 0, c.rounding, dy, du, dv, 16,
                     8);
        EXPECT_EQ(dy[0], c.expect00) << c.du << " " << c.dv << " " << c.rounding;
    }
    const int16_t far[3][2] = {{4000, 4000}, {0, 0}, {0, 0}};
    mp4v::GmcWarp g;
    SetupGmcWarp(&g, w, h, 1, 3, far);
    uint8_t dy[16 * 16], du[64], dv[64];
    GmcPredictMb(g, y.data(), u.data(), v.data(), pitch, w, h, 1, 1, 0, dy, du, dv, 16, 8);
    for (uint8_t s : dy) EXPECT_EQ(s, y[(h - 1) * pitch + w - 1]);
    for (uint8_t s : du) EXPECT_EQ(s, u.back());
}

}  // namespace
