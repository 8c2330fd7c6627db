// Pixel kernels: the inverse DCT's shortcuts against the full transform, edge clamping in motion
// compensation, and the post-filter's worked example.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "codec/mpeg4v/dsp.h"
#include "codec/mpeg4v/internal.h"

namespace {

using mp4v::BlockShape;

BlockShape ShapeOf(const int16_t *blk) {
    BlockShape s{0, 0};
    for (int p = 0; p < 64; ++p)
        if (blk[p]) {
            s.rows |= 1u << (p >> 3);
            if (p & 7) s.rowsAc |= 1u << (p >> 3);
        }
    return s;
}

uint8_t Clip(int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

// Sparse blocks of the kinds that take each shortcut: DC only, first row only, a few rows, dense.
TEST(Mp4vIdct, ShortcutsMatchTheFullTransform) {
    std::mt19937 rng(1234);
    for (int iter = 0; iter < 20000; ++iter) {
        int16_t blk[64] = {};
        int kind = iter % 5;
        int count = kind == 0 ? 1 : kind == 4 ? 64 : 1 + int(rng() % 6);
        for (int k = 0; k < count; ++k) {
            int p = kind == 0   ? 0
                    : kind == 1 ? int(rng() % 8)
                    : kind == 2 ? int(rng() % 3) * 8 + int(rng() % 3)
                                : int(rng() % 64);
            int range = iter % 3 == 0 ? 2048 : 64;
            blk[p] = int16_t(int(rng() % (2 * range)) - range);
        }
        int32_t ref[64];
        mp4v::IdctReference(blk, ref);
        uint8_t pred[64], put[64], add[64];
        for (int i = 0; i < 64; ++i) pred[i] = uint8_t(rng());
        std::memcpy(add, pred, 64);
        int16_t a[64], b[64];
        std::memcpy(a, blk, sizeof a);
        std::memcpy(b, blk, sizeof b);
        mp4v::IdctPut(a, ShapeOf(blk), put, 8);
        mp4v::IdctAdd(b, ShapeOf(blk), add, 8);
        for (int i = 0; i < 64; ++i) {
            ASSERT_EQ(put[i], Clip(ref[i])) << "iteration " << iter << " sample " << i;
            ASSERT_EQ(add[i], Clip(pred[i] + ref[i])) << "iteration " << iter << " sample " << i;
            ASSERT_EQ(a[i], 0);
        }
    }
}

TEST(Mp4vIdct, DcOnlyBlockIsFlat) {
    int16_t blk[64] = {};
    blk[0] = 804;  // (804 + 4) >> 3 = 101
    uint8_t out[64];
    mp4v::IdctPut(blk, BlockShape{1, 0}, out, 8);
    for (uint8_t v : out) EXPECT_EQ(v, 101);
}

// A reference plane extended by edge replication: what a bordered reference would hold.
uint8_t Extended(const uint8_t *plane, int w, int h, int x, int y) {
    x = x < 0 ? 0 : x >= w ? w - 1 : x;
    y = y < 0 ? 0 : y >= h ? h - 1 : y;
    return plane[y * w + x];
}

TEST(Mp4vMc, FetchesOutsideThePictureReadClampedEdges) {
    const int w = 48, h = 32;
    std::mt19937 rng(7);
    std::vector<uint8_t> plane(w * h);
    for (auto &v : plane) v = uint8_t(rng());
    uint8_t emu[24 * 18];
    struct Case {
        int bx, by, mvx, mvy, size;
    };
    // 40 samples left of the picture, far below, corners, half-sample positions.
    const Case cases[] = {{0, 0, -80, 0, 16},    {0, 16, -81, 3, 16}, {32, 16, 90, 41, 16},
                          {8, 8, -200, -201, 8}, {40, 24, 33, 17, 8}, {16, 0, 1, -1, 16}};
    for (const Case &c : cases) {
        for (int rnd = 0; rnd < 2; ++rnd) {
            uint8_t got[16 * 16];
            mp4v::McPredict(got, 16, plane.data(), w, w, h, 2 * c.bx + c.mvx, 2 * c.by + c.mvy,
                            c.size, c.size, rnd, emu);
            int hx = 2 * c.bx + c.mvx, hy = 2 * c.by + c.mvy;
            int ix = hx >> 1, iy = hy >> 1, fx = hx & 1, fy = hy & 1;
            for (int y = 0; y < c.size; ++y)
                for (int x = 0; x < c.size; ++x) {
                    int a = Extended(plane.data(), w, h, ix + x, iy + y);
                    int b = Extended(plane.data(), w, h, ix + x + 1, iy + y);
                    int cc = Extended(plane.data(), w, h, ix + x, iy + y + 1);
                    int d = Extended(plane.data(), w, h, ix + x + 1, iy + y + 1);
                    int want = fx && fy ? (a + b + cc + d + 2 - rnd) >> 2
                               : fx     ? (a + b + 1 - rnd) >> 1
                               : fy     ? (a + cc + 1 - rnd) >> 1
                                        : a;
                    ASSERT_EQ(got[y * 16 + x], want)
                        << c.mvx << "," << c.mvy << " at " << x << "," << y << " rounding " << rnd;
                }
        }
    }
}

struct EdgeCase {
    int qp;
    uint8_t in[6], out[6];
};

class PostFilterEdge : public ::testing::TestWithParam<EdgeCase> {};

TEST_P(PostFilterEdge, Samples) {
    const EdgeCase &c = GetParam();
    uint8_t s[6];
    std::memcpy(s, c.in, 6);
    mp4v::FilterEdge(s + 3, 1, c.qp);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(s[i], c.out[i]) << "sample " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Mp4vPostFilter, PostFilterEdge,
    ::testing::Values(
        // flat area: d = 0, e = -10, f = -3, g = -2
        EdgeCase{10, {100, 100, 100, 110, 110, 110}, {101, 103, 105, 105, 107, 109}},
        // a real edge (2d >= QP): only P0 and Q0 move, by (3e + 8) >> 4
        EdgeCase{4, {10, 10, 10, 200, 10, 10}, {10, 10, 11, 199, 10, 10}},
        // in between: P1 and Q1 averaged with the unfiltered P0 and Q0
        EdgeCase{20, {50, 55, 60, 66, 64, 70}, {50, 58, 62, 64, 65, 70}}));

}  // namespace

namespace {

// The optimised interpolators against the portable reference on seeded random samples.
TEST(Mp4vMc, OptimisedInterpolationMatchesReference) {
    std::mt19937 rng(42);
    uint8_t src[24 * 20];
    for (int iter = 0; iter < 2000; ++iter) {
        for (auto &v : src) v = uint8_t(iter % 7 == 0 ? (rng() & 1) * 255 : rng());
        int w = iter & 1 ? 16 : 8, h = (iter >> 1) & 1 ? 16 : 8;
        int fx = (iter >> 2) & 1, fy = (iter >> 3) & 1, rnd = (iter >> 4) & 1;
        uint8_t a[16 * 16], b[16 * 16];
        mp4v::McInterpolate(a, 16, src, 24, w, h, fx, fy, rnd);
        mp4v::McInterpolateRef(b, 16, src, 24, w, h, fx, fy, rnd);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) ASSERT_EQ(a[y * 16 + x], b[y * 16 + x]) << iter;
    }
}

}  // namespace
