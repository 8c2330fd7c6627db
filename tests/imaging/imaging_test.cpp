// Image files and the colour conversion.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "imaging/imaging.h"
#include "tests/common/testutil.h"

namespace {

using vt::test::TempDir;

struct YuvCase {
    uint8_t y, u, v;
    uint8_t b, g, r;
};

class Conversion : public ::testing::TestWithParam<YuvCase> {};

TEST_P(Conversion, SixBitCoefficientsClampedToBytes) {
    const YuvCase &c = GetParam();
    uint8_t Y[4] = {c.y, c.y, c.y, c.y}, U[1] = {c.u}, V[1] = {c.v};
    uint8_t bgr[12];
    ImageYuvToBgr(Y, U, V, 2, 2, 2, bgr, 6);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(bgr[i * 3], c.b);
        EXPECT_EQ(bgr[i * 3 + 1], c.g);
        EXPECT_EQ(bgr[i * 3 + 2], c.r);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, Conversion,
    ::testing::Values(YuvCase{100, 128, 128, 100, 100, 100},
                      // B = (64*100 + 119*20) >> 6 = 137; G = (6400 - 240 - 0) >> 6 = 96
                      YuvCase{100, 148, 128, 137, 96, 100},
                      // R = (6400 + 101*(-28)) >> 6 = 55 (arithmetic shift of a positive sum)
                      YuvCase{100, 128, 100, 100, 113, 55},
                      YuvCase{250, 255, 255, 255, 166, 255},  // clamped high
                      YuvCase{5, 0, 0, 0, 89, 0}));           // clamped low

std::vector<uint8_t> Gradient(int w, int h, int stride) {
    std::vector<uint8_t> px(size_t(stride) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            px[y * stride + x * 3] = uint8_t(x * 4);
            px[y * stride + x * 3 + 1] = uint8_t(y * 4);
            px[y * stride + x * 3 + 2] = uint8_t(200);
        }
    return px;
}

TEST(ImageFiles, BmpRoundTripIsExactForOddWidths) {
    TempDir dir;
    const int w = 37, h = 21, stride = w * 3 + 5;
    auto px = Gradient(w, h, stride);
    std::string path = (dir / "x.bmp").string();
    ASSERT_EQ(ImageWriteBmp(path.c_str(), px.data(), w, h, stride), 1);
    ImageBgr img;
    ASSERT_EQ(ImageReadBmp(path.c_str(), &img), 1);
    ASSERT_EQ(img.width, w);
    ASSERT_EQ(img.height, h);
    for (int y = 0; y < h; ++y)
        ASSERT_EQ(std::memcmp(img.bgr + y * img.stride, px.data() + y * stride, w * 3), 0);
    ImageFree(&img);
}

TEST(ImageFiles, JpegRoundTripIsUprightAndClose) {
    TempDir dir;
    const int w = 64, h = 48;
    auto px = Gradient(w, h, w * 3);
    std::string path = (dir / "x.jpg").string();
    ASSERT_EQ(ImageWriteJpeg(path.c_str(), px.data(), w, h, w * 3, kJpegDefaultQuality), 1);
    ImageBgr img;
    ASSERT_EQ(ImageReadJpeg(path.c_str(), &img), 1);
    ASSERT_EQ(img.width, w);
    ASSERT_EQ(img.height, h);
    double err = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w * 3; ++x)
            err += std::abs(img.bgr[y * img.stride + x] - px[y * w * 3 + x]);
    EXPECT_LT(err / (w * h * 3), 3.0);
    // Row 40 is greener than row 2: not flipped.
    EXPECT_GT(img.bgr[40 * img.stride + 1], img.bgr[2 * img.stride + 1] + 100);
    ImageFree(&img);
}

TEST(ImageFiles, DamagedOrMissingFilesAreRefused) {
    TempDir dir;
    std::string bad = (dir / "bad.jpg").string();
    ASSERT_TRUE(vt::test::WriteFileBytes(bad, {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F'}));
    ImageBgr img;
    EXPECT_EQ(ImageReadJpeg(bad.c_str(), &img), 0);
    EXPECT_EQ(img.bgr, nullptr);
    EXPECT_EQ(ImageReadBmp(bad.c_str(), &img), 0);
    EXPECT_EQ(ImageReadJpeg((dir / "none.jpg").string().c_str(), &img), 0);
    EXPECT_EQ(ImageWriteJpeg((dir / "no/such/dir.jpg").string().c_str(), nullptr, 1, 1, 3, 90), 0);
    // A BMP header claiming more rows than the file holds.
    std::vector<uint8_t> px(3 * 4 * 4, 7);
    std::string bmp = (dir / "short.bmp").string();
    ASSERT_EQ(ImageWriteBmp(bmp.c_str(), px.data(), 4, 4, 12), 1);
    auto bytes = vt::test::ReadFileBytes(bmp);
    bytes.resize(bytes.size() - 10);
    ASSERT_TRUE(vt::test::WriteFileBytes(bmp, bytes));
    EXPECT_EQ(ImageReadBmp(bmp.c_str(), &img), 0);
}

}  // namespace
