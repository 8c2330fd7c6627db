// The display surface's compose step on the offscreen back-end.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/api/player_api.h"
#include "engine/display/video_renderer.h"

namespace {

constexpr int W = 64, H = 48;

// A picture whose luma rises from left to right and whose chroma is neutral.
struct Picture {
    std::vector<uint8_t> y = std::vector<uint8_t>(W * H), u = std::vector<uint8_t>(W * H / 4, 128),
                         v = std::vector<uint8_t>(W * H / 4, 128);
    Picture() {
        for (int r = 0; r < H; ++r)
            for (int c = 0; c < W; ++c) y[r * W + c] = uint8_t(c * 3);
    }
};

std::vector<uint32_t> Shown(int32_t *w, int32_t *time) {
    std::vector<uint32_t> px(W * H);
    int32_t h = 0;
    EXPECT_EQ(DisplayCopyOffscreen(px.data(), int32_t(px.size()), w, &h, time), 1);
    return px;
}

bool IsRed(uint32_t p) {
    return ((p >> 16) & 0xFF) > 150 && ((p >> 8) & 0xFF) < 90 && (p & 0xFF) < 90;
}

const char *g_text = "";
void Provide(int32_t, char *text, int32_t *length) {
    int32_t n = int32_t(std::strlen(g_text));
    std::memcpy(text, g_text, size_t(n));
    *length = n;
}

class DisplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        VideoRendererParams p{};
        ASSERT_EQ(VideoRendererOpen(&p, W, H), ME_OK);
        DisplaySetTextProvider(Provide);
    }
    void TearDown() override {
        VideoRendererClose();
        DisplaySetTextProvider(nullptr);
    }
    Picture pic;
};

TEST_F(DisplayTest, PictureIsConvertedWithTheProgramsCoefficients) {
    g_text = "";
    ASSERT_EQ(VideoRendererDraw(pic.y.data(), pic.u.data(), pic.v.data(), W, 1234), ME_OK);
    int32_t w = 0, t = 0;
    auto px = Shown(&w, &t);
    EXPECT_EQ(t, 1234);
    EXPECT_EQ(w, W);
    EXPECT_EQ(px[10 * W + 20], 0xFF3C3C3Cu);  // grey 60 stays grey 60
    // no text: nothing red anywhere
    for (uint32_t p : px) ASSERT_FALSE(IsRed(p));
}

TEST_F(DisplayTest, TextIsDrawnInRedFromTheTopLeftOneLinePerBreak) {
    g_text = "HH\nHH";
    ASSERT_EQ(VideoRendererDraw(pic.y.data(), pic.u.data(), pic.v.data(), W, 0), ME_OK);
    int32_t w = 0, t = 0;
    auto px = Shown(&w, &t);
    std::vector<int> rows(H, 0), cols(W, 0);
    for (int r = 0; r < H; ++r)
        for (int c = 0; c < W; ++c)
            if (IsRed(px[r * W + c])) ++rows[r], ++cols[c];
    int bands = 0;
    for (int r = 0; r < H; ++r) bands += rows[r] > 0 && (r == 0 || rows[r - 1] == 0);
    if (rows[0] + rows[5] + rows[10] == 0 && bands == 0) GTEST_SKIP() << "no font installed";
    EXPECT_EQ(bands, 2) << "two lines expected";
    int first_row = 0;
    while (rows[first_row] == 0) ++first_row;
    EXPECT_LT(first_row, 6);
    int first_col = 0;
    while (cols[first_col] == 0) ++first_col;
    EXPECT_LT(first_col, 4);
    for (int c = W / 2; c < W; ++c) EXPECT_EQ(cols[c], 0) << "no wrapping, short text";
}

TEST_F(DisplayTest, WindowPastTheLeftEdgeShowsTheRightPartOfThePicture) {
    g_text = "";
    VideoRendererParams p{};
    p.left = -20;
    VideoRendererRefresh(&p);
    ASSERT_EQ(VideoRendererDraw(pic.y.data(), pic.u.data(), pic.v.data(), W, 0), ME_OK);
    int32_t w = 0, t = 0;
    auto px = Shown(&w, &t);
    ASSERT_EQ(w, W - 20);
    EXPECT_EQ(px[0] & 0xFF, 60u) << "the first column shown is column 20";
}

TEST(DisplayText, EmptyTextDrawsNothing) {
    std::vector<uint32_t> px(32 * 32, 0xFF000000u);
    EXPECT_EQ(DisplayDrawText(px.data(), 32, 32, 32 * 4, "", 0, 0xFF0000), 0);
    for (uint32_t p : px) ASSERT_EQ(p, 0xFF000000u);
    // Text larger than the surface is clipped, not written outside.
    std::string line(400, 'W');
    DisplayDrawText(px.data(), 32, 32, 32 * 4, line.c_str(), int32_t(line.size()), 0xFF0000);
}

TEST(DisplayCapture, RequestWithoutAPictureLeavesNoFile) {
    std::string path = ::testing::TempDir() + "/never.jpg";
    std::remove(path.c_str());
    VideoRendererParams p{};
    ASSERT_EQ(VideoRendererOpen(&p, W, H), ME_OK);
    ASSERT_EQ(DisplayRequestCapture(path.c_str()), 1);
    VideoRendererClose();
    FILE *f = std::fopen(path.c_str(), "rb");
    EXPECT_EQ(f, nullptr);
    if (f) std::fclose(f);
    EXPECT_EQ(DisplayRequestCapture(""), 0);
}

}  // namespace
