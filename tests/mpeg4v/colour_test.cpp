#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "codec/mpeg4v/mpeg4v.h"

namespace {

// Reference values computed in floating point from the same 6-bit coefficients; integer shifts
// floor, so the reference floors too.
int Ref(double v) { return v < 0 ? 0 : (v > 255 ? 255 : static_cast<int>(v)); }

TEST(ColourConversion, MatchesTheCoefficientsForEveryLayout) {
    std::mt19937 rng(99);
    for (int w : {1, 2, 7, 16, 33}) {
        for (int h : {1, 2, 5, 16}) {
            const int stride = (w + 15) & ~15;
            std::vector<uint8_t> y(stride * ((h + 15) & ~15)), u(y.size() / 4 + stride),
                v(u.size());
            for (auto &b : y) b = uint8_t(rng());
            for (auto &b : u) b = uint8_t(rng());
            for (auto &b : v) b = uint8_t(rng());
            // Extremes so clamping is exercised on both sides.
            y[0] = 255;
            u[0] = 255;
            v[0] = 255;
            for (int bytes : {3, 4}) {
                for (int bgr : {0, 1}) {
                    const int dst_stride = w * bytes + 5;
                    std::vector<uint8_t> out(dst_stride * h, 0xEE);
                    if (bytes == 3)
                        Mp4vDecYuvToRgb24(y.data(), u.data(), v.data(), stride, w, h, out.data(),
                                          dst_stride, bgr);
                    else
                        Mp4vDecYuvToRgb32(y.data(), u.data(), v.data(), stride, w, h, out.data(),
                                          dst_stride, bgr);
                    for (int row = 0; row < h; ++row) {
                        for (int x = 0; x < w; ++x) {
                            const int l = y[row * stride + x];
                            const int cu = u[(row / 2) * (stride / 2) + x / 2] - 128;
                            const int cv = v[(row / 2) * (stride / 2) + x / 2] - 128;
                            const int r = Ref(l + std::floor(101.0 * cv / 64));
                            const int g = Ref(l - std::floor((12.0 * cu + 30.0 * cv) / 64));
                            const int b = Ref(l + std::floor(119.0 * cu / 64));
                            const uint8_t *p = &out[row * dst_stride + x * bytes];
                            ASSERT_EQ(p[bgr ? 2 : 0], r)
                                << w << "x" << h << " at " << x << "," << row;
                            ASSERT_EQ(p[1], g);
                            ASSERT_EQ(p[bgr ? 0 : 2], b);
                            if (bytes == 4) {
                                ASSERT_EQ(p[3], 255);
                            }
                        }
                        // Padding after each row is left alone.
                        for (int k = w * bytes; k < dst_stride; ++k)
                            ASSERT_EQ(out[row * dst_stride + k], 0xEE);
                    }
                }
            }
        }
    }
}

}  // namespace
