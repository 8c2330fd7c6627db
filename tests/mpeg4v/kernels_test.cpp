// Kernel checker: every entry of the kernel table chosen for this CPU against its portable version
// on seeded random input, at every block size the decoder uses, with the speed-up printed.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "codec/mpeg4v/dsp.h"
#include "codec/mpeg4v/gmc.h"

namespace {

using mp4v::BlockShape;
using mp4v::DspTable;

BlockShape ShapeOf(const int16_t *blk) {
    BlockShape s{0, 0};
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c)
            if (blk[8 * r + c]) {
                s.rows |= 1u << r;
                if (c) s.rowsAc |= 1u << r;
            }
    return s;
}

// Coefficients on a random subset of rows and columns, within +-range.
void RandomBlock(std::mt19937 &rng, int16_t *blk, int range) {
    std::memset(blk, 0, 64 * sizeof(int16_t));
    const uint32_t rows = rng() & 0xFF, cols = rng() & 0xFF, density = rng() % 4;
    std::uniform_int_distribution<int> v(-range, range);
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c)
            if ((rows >> r & 1) && (cols >> c & 1) && rng() % 4 <= density)
                blk[8 * r + c] = int16_t(v(rng));
}

template <typename F>
double Time(F f, int iterations) {
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < iterations; ++i) f(i);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void Report(const std::string &name, double portable, double chosen) {
    std::printf("%-22s %.2fx\n", name.c_str(), chosen > 0 ? portable / chosen : 0.0);
}

// Every optimised table this CPU can run (SSE2, then SSE2 with AVX2), for the entries whose
// versions differ by level; the chosen table is the last.
struct Level {
    std::string name;
    DspTable table;
};

std::vector<Level> Levels() {
    std::vector<Level> out;
    auto make = [](bool sse2, bool avx2) {
        DspTable t{};
        mp4v::DspInitIdct(&t, sse2, avx2);
        mp4v::DspInitMc(&t, sse2);
        mp4v::DspInitQpel(&t, sse2);
        mp4v::DspInitColour(&t, sse2, avx2);
        mp4v::DspInitPostFilter(&t, sse2, avx2);
        mp4v::DspInitGmc(&t, sse2, avx2);
        return t;
    };
#if VT_X86
    if (__builtin_cpu_supports("sse2")) {
        out.push_back({"sse2", make(true, false)});
        if (__builtin_cpu_supports("avx2")) out.push_back({"avx2", make(true, true)});
    }
#endif
    if (out.empty()) out.push_back({"chosen", mp4v::Dsp()});
    return out;
}

// The levels whose entry (picked by `entry` from a table) is a version of its own, each with
// the chosen table checked to hold the best of them.
template <typename F>
std::vector<Level> LevelsOf(F entry) {
    std::vector<Level> out;
    for (Level &l : Levels())
        if (out.empty() || entry(l.table) != entry(out.back().table)) out.push_back(std::move(l));
    EXPECT_EQ(entry(mp4v::Dsp()), entry(out.back().table)) << "the chosen table is not the best";
    return out;
}

std::string Named(const char *name, const Level &level) {
    return std::string(name) + " " + level.name;
}

TEST(Mp4vKernels, IdctEntriesMatchThePortableVersions) {
    const DspTable &ref = mp4v::DspPortable();
    for (const Level &level : LevelsOf([](const DspTable &t) { return t.idctPut; })) {
        const DspTable &best = level.table;
        std::mt19937 rng(20261208);
        for (bool add : {false, true}) {
            auto fast = add ? best.idctAdd : best.idctPut, slow = add ? ref.idctAdd : ref.idctPut;
            // Typical residuals, large ones past the fast column passes' ranges, and the
            // extremes.
            for (int range : {16, 300, 2047, 4500, 32767})
                for (int i = 0; i < 3000; ++i) {
                    int16_t a[64], b[64];
                    RandomBlock(rng, a, range);
                    std::memcpy(b, a, sizeof a);
                    uint8_t da[8 * 24], db[8 * 24];
                    for (auto &x : da) x = uint8_t(rng());
                    std::memcpy(db, da, sizeof da);
                    const BlockShape shape = ShapeOf(a);
                    fast(a, shape, da, 24);
                    slow(b, shape, db, 24);
                    ASSERT_EQ(0, std::memcmp(da, db, sizeof da))
                        << level.name << (add ? " add" : " put") << " range " << range << " #" << i;
                    ASSERT_EQ(0, std::memcmp(a, b, sizeof a)) << "block not cleared alike";
                }
            std::vector<int16_t> blocks(64 * 256);
            for (int k = 0; k < 256; ++k) RandomBlock(rng, &blocks[64 * k], 300);
            std::vector<BlockShape> shapes(256);
            for (int k = 0; k < 256; ++k) shapes[k] = ShapeOf(&blocks[64 * k]);
            uint8_t dst[8 * 8];
            auto run = [&](mp4v::IdctFn f) {
                return Time(
                    [&](int i) {
                        int16_t blk[64];
                        std::memcpy(blk, &blocks[64 * (i & 255)], sizeof blk);
                        f(blk, shapes[i & 255], dst, 8);
                    },
                    200000);
            };
            Report(Named(add ? "idct add" : "idct put", level), run(slow), run(fast));
        }
    }
}

TEST(Mp4vKernels, MotionEntriesMatchThePortableVersions) {
    const DspTable &best = mp4v::Dsp(), &ref = mp4v::DspPortable();
    std::mt19937 rng(7);
    constexpr int kPitch = 40;
    std::vector<uint8_t> src(kPitch * 20), da(kPitch * 20), db(kPitch * 20);
    for (int wide = 0; wide < 2; ++wide)
        for (int h = 1; h <= 16; ++h)
            for (int mode = 0; mode < 8; ++mode) {
                const int fx = mode & 1, fy = mode >> 1 & 1, rnd = mode >> 2;
                for (int round = 0; round < 20; ++round) {
                    for (auto &x : src) x = uint8_t(rng());
                    for (auto &x : da) x = uint8_t(rng());
                    db = da;
                    best.interpolate[wide](da.data() + 3, kPitch, src.data() + 1, kPitch, h, fx, fy,
                                           rnd);
                    ref.interpolate[wide](db.data() + 3, kPitch, src.data() + 1, kPitch, h, fx, fy,
                                          rnd);
                    ASSERT_EQ(da, db)
                        << "interpolate w " << (wide ? 16 : 8) << " h " << h << " mode " << mode;
                    best.average[wide](da.data() + 1, kPitch, src.data() + 2, kPitch, h);
                    ref.average[wide](db.data() + 1, kPitch, src.data() + 2, kPitch, h);
                    ASSERT_EQ(da, db) << "average w " << (wide ? 16 : 8) << " h " << h;
                }
            }
    for (int wide = 0; wide < 2; ++wide) {
        auto interp = [&](const DspTable &t) {
            return Time(
                [&](int i) {
                    t.interpolate[wide](da.data(), kPitch, src.data(), kPitch, 8 << wide, i & 1,
                                        i >> 1 & 1, 0);
                },
                200000);
        };
        auto avg = [&](const DspTable &t) {
            return Time(
                [&](int) { t.average[wide](da.data(), kPitch, src.data(), kPitch, 8 << wide); },
                200000);
        };
        Report(wide ? "interpolate 16" : "interpolate 8", interp(ref), interp(best));
        Report(wide ? "average 16" : "average 8", avg(ref), avg(best));
    }
}

TEST(Mp4vKernels, QuarterSampleEntriesMatchThePortableVersions) {
    const DspTable &best = mp4v::Dsp(), &ref = mp4v::DspPortable();
    std::mt19937 rng(11);
    constexpr int kPitch = 40;
    std::vector<uint8_t> src(kPitch * 20), da(kPitch * 20), db(kPitch * 20);
    const char *names[4] = {"qpel 8x8", "qpel 16x8", "qpel 16x16", "qpel pair"};
    for (int k = 0; k < 4; ++k) {
        mp4v::QpelFn fast = k < 3 ? best.qpel[k] : best.qpelPair,
                     slow = k < 3 ? ref.qpel[k] : ref.qpelPair;
        for (int phase = 0; phase < 32; ++phase)
            for (int round = 0; round < 20; ++round) {
                for (auto &x : src) x = uint8_t(rng());
                for (auto &x : da) x = uint8_t(rng());
                db = da;
                const int fx = phase & 3, fy = phase >> 2 & 3, rnd = phase >> 4;
                fast(da.data() + 5, kPitch, src.data() + 2, kPitch, fx, fy, rnd);
                slow(db.data() + 5, kPitch, src.data() + 2, kPitch, fx, fy, rnd);
                ASSERT_EQ(da, db) << names[k] << " phase " << fx << "," << fy << " rounding "
                                  << rnd;
            }
        auto run = [&](mp4v::QpelFn f) {
            return Time(
                [&](int i) { f(da.data(), kPitch, src.data(), kPitch, i & 3, i >> 2 & 3, 0); },
                50000);
        };
        Report(names[k], run(slow), run(fast));
    }
}

// Random samples with the extremes (0, 1, 127, 128, 254, 255) mixed in often.
uint8_t Sample(std::mt19937 &rng) {
    static const uint8_t kEdges[6] = {0, 1, 127, 128, 254, 255};
    const uint32_t r = rng();
    return r % 4 == 0 ? kEdges[(r >> 8) % 6] : uint8_t(r >> 16);
}

TEST(Mp4vKernels, ColourEntriesMatchThePortableVersions) {
    const DspTable &ref = mp4v::DspPortable();
    for (const Level &level : LevelsOf([](const DspTable &t) { return t.rgbRow[0]; })) {
        const DspTable &best = level.table;
        std::mt19937 rng(3);
        std::vector<uint8_t> y(2000), u(1000), v(1000), a(8000), b(8000);
        std::vector<int> widths;
        for (int w = 1; w <= 80; ++w) widths.push_back(w);
        for (int w : {129, 176, 352, 639, 640, 1279, 1920}) widths.push_back(w);
        for (int bytes = 0; bytes < 2; ++bytes)
            for (int w : widths)
                for (int round = 0; round < 20; ++round) {
                    for (auto &x : y) x = Sample(rng);
                    for (auto &x : u) x = Sample(rng);
                    for (auto &x : v) x = Sample(rng);
                    for (auto &x : a) x = uint8_t(rng());
                    b = a;
                    // Unaligned rows, and only the row's own bytes may change.
                    const int skew = round % 7, bgr = round & 1;
                    best.rgbRow[bytes](a.data() + skew, y.data() + skew, u.data() + 1, v.data() + 2,
                                       w, bgr);
                    ref.rgbRow[bytes](b.data() + skew, y.data() + skew, u.data() + 1, v.data() + 2,
                                      w, bgr);
                    ASSERT_EQ(a, b)
                        << (bytes ? "rgb32" : "rgb24") << " width " << w << " bgr " << bgr;
                }
        for (int bytes = 0; bytes < 2; ++bytes) {
            auto run = [&](mp4v::RgbRowFn f) {
                return Time([&](int i) { f(a.data(), y.data(), u.data(), v.data(), 640, i & 1); },
                            50000);
            };
            Report(Named(bytes ? "rgb32 row" : "rgb24 row", level), run(ref.rgbRow[bytes]),
                   run(best.rgbRow[bytes]));
        }
    }
}

// Lines across an edge that reach every strength of the filter: flat areas, gentle ramps, real
// edges and noise, around any level including the extremes.
void EdgeArea(std::mt19937 &rng, std::vector<uint8_t> &buf) {
    const int kind = rng() % 4;
    const int base = Sample(rng), step = int(rng() % 61) - 30;
    const int noise = kind == 0 ? 0 : kind == 1 ? 2 : kind == 2 ? 12 : 256;
    for (size_t k = 0; k < buf.size(); ++k) {
        int v = base + (rng() % 2 ? step : 0) + (noise ? int(rng() % (2 * noise + 1)) - noise : 0);
        buf[k] = uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
        if (rng() % 16 == 0) buf[k] = Sample(rng);
    }
}

TEST(Mp4vKernels, PostFilterEntriesMatchThePortableVersions) {
    const DspTable &ref = mp4v::DspPortable();
    for (const Level &level : LevelsOf([](const DspTable &t) { return t.deblock[0]; })) {
        const DspTable &best = level.table;
        std::mt19937 rng(5);
        constexpr int kPitch = 24;
        std::vector<uint8_t> a(kPitch * 16), b(kPitch * 16);
        std::vector<int> qps;
        for (int qp = 0; qp <= 40; ++qp) qps.push_back(qp);
        for (int qp : {51, 62, 63, 64, 100, 127, 128, 200, 254, 255}) qps.push_back(qp);
        const char *names[2] = {"deblock vertical", "deblock horiz"};
        for (int dir = 0; dir < 2; ++dir) {
            // The edge between columns 7 and 8 (vertical) or rows 7 and 8 (horizontal).
            const int at = dir ? 8 * kPitch + 5 : 4 * kPitch + 8;
            for (int qp : qps)
                for (int round = 0; round < 300; ++round) {
                    EdgeArea(rng, a);
                    b = a;
                    best.deblock[dir](a.data() + at, kPitch, qp);
                    ref.deblock[dir](b.data() + at, kPitch, qp);
                    ASSERT_EQ(a, b) << names[dir] << " qp " << qp << " #" << round;
                }
            EdgeArea(rng, a);
            auto run = [&](mp4v::DeblockFn f) {
                return Time([&](int i) { f(a.data() + at, kPitch, 1 + (i & 31)); }, 500000);
            };
            Report(Named(names[dir], level), run(ref.deblock[dir]), run(best.deblock[dir]));
        }
    }
}

TEST(Mp4vKernels, WarpEntriesMatchThePortableVersions) {
    const DspTable &ref = mp4v::DspPortable();
    for (const Level &level : LevelsOf([](const DspTable &t) { return t.warp[1]; })) {
        const DspTable &best = level.table;
        std::mt19937 rng(13);
        constexpr int kDp = 24;
        std::vector<uint8_t> da(kDp * 16), db(kDp * 16);
        for (int round = 0; round < 3000; ++round) {
            // Warps of every kind and reach: translations to sprite points far outside the picture.
            const int w = 16 * (1 + int(rng() % 24)), h = 16 * (1 + int(rng() % 18));
            const int points = int(rng() % 4), accuracy = int(rng() % 4);
            const int reach = 1 << (rng() % 14);
            int16_t traj[3][2];
            for (auto &t : traj)
                for (auto &c : t) c = int16_t(int(rng() % (2 * reach + 1)) - reach);
            mp4v::GmcWarp g{};
            mp4v::SetupGmcWarp(&g, w, h, points, accuracy, traj);
            std::vector<uint8_t> plane(size_t(w) * h);
            for (auto &x : plane) x = Sample(rng);
            for (int k = 0; k < 8; ++k) {
                // Macroblocks inside the picture and some way beyond it.
                const int mbx = int(rng() % (w / 16 + 4)) - 2, mby = int(rng() % (h / 16 + 4)) - 2;
                const int chroma = int(rng() % 2), rounding = int(rng() % 2);
                const mp4v::WarpParams p = mp4v::GmcBlockWarp(g, mbx, mby, chroma, rounding);
                const int pitch = chroma ? w / 2 : w, pw = chroma ? w / 2 : w,
                          ph = chroma ? h / 2 : h;
                for (auto &x : da) x = uint8_t(rng());
                db = da;
                best.warp[!chroma](plane.data(), pitch, pw, ph, da.data() + 3, kDp, p);
                ref.warp[!chroma](plane.data(), pitch, pw, ph, db.data() + 3, kDp, p);
                ASSERT_EQ(da, db) << (chroma ? "chroma" : "luma") << " " << w << "x" << h
                                  << " points " << points << " accuracy " << accuracy << " mb "
                                  << mbx << "," << mby;
            }
        }
        // Raw warps beyond what a layer sets up: steps and offsets past 32 bits, every shift.
        std::vector<uint8_t> plane(64 * 48);
        for (auto &x : plane) x = Sample(rng);
        for (int round = 0; round < 20000; ++round) {
            const int mag = int(rng() % 44);
            auto any = [&] {
                return int64_t(uint64_t(rng()) << 32 | rng()) >> (63 - mag) >> (rng() % 2 ? 0 : 8);
            };
            const mp4v::WarpParams p{any(),
                                     any(),
                                     any(),
                                     any(),
                                     any(),
                                     any(),
                                     int32_t(rng() % 34),
                                     int32_t(rng() % 4),
                                     int32_t(rng() % 2)};
            const int wide = int(rng() % 2);
            for (auto &x : da) x = uint8_t(rng());
            db = da;
            best.warp[wide](plane.data(), 64, 64, 48, da.data() + 1, kDp, p);
            ref.warp[wide](plane.data(), 64, 64, 48, db.data() + 1, kDp, p);
            ASSERT_EQ(da, db) << "raw warp #" << round;
        }
        // Timed on a slow rotation and zoom that stays inside the picture.
        mp4v::GmcWarp g{};
        const int16_t traj[3][2] = {{3, -2}, {-5, 4}, {2, 6}};
        mp4v::SetupGmcWarp(&g, 352, 288, 3, 3, traj);
        std::vector<uint8_t> big(352 * 288);
        for (auto &x : big) x = uint8_t(rng());
        // And on the picture's corner, where the taps are clamped.
        const char *names[2][2] = {{"gmc warp 8", "gmc warp 16"},
                                   {"gmc warp 8 edge", "gmc warp 16 edge"}};
        for (int edge = 0; edge < 2; ++edge)
            for (int wide = 0; wide < 2; ++wide) {
                const mp4v::WarpParams p =
                    mp4v::GmcBlockWarp(g, edge ? 0 : 5, edge ? 0 : 4, !wide, 0);
                const int pitch = wide ? 352 : 176, ph = wide ? 288 : 144;
                auto run = [&](mp4v::WarpFn f) {
                    return Time([&](int) { f(big.data(), pitch, pitch, ph, da.data(), kDp, p); },
                                100000);
                };
                Report(Named(names[edge][wide], level), run(ref.warp[wide]), run(best.warp[wide]));
            }
    }
}

}  // namespace
