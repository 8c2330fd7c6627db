// The video window's display back-end as the engine's video task uses it: pictures are copied,
// shown on the UI thread, and a window that is gone is never written to.
#include <gtest/gtest.h>

#include <QImage>
#include <memory>
#include <thread>
#include <vector>

#include "app/videowindow.h"
#include "tests/app/app_env.h"

namespace vt::test {
namespace {

std::vector<uint32_t> Picture(int w, int h, uint32_t colour) {
    return std::vector<uint32_t>(size_t(w) * h, colour);
}

DisplayImage ImageOf(const std::vector<uint32_t> &px, int w, int h) {
    DisplayImage img{};
    img.pixels = px.data();
    img.width = w;
    img.height = h;
    img.stride = w * 4;
    return img;
}

TEST(VideoWindow, ShowsTheNewestPictureOnTheUiThread) {
    EnsureQtApp();
    const DisplayBackendOps *ops = app::CVideoWindow::Backend();
    app::CVideoWindow window;
    window.resize(640, 480);
    void *ctx = nullptr;
    ASSERT_EQ(ops->open(&ctx, &window, 320, 240), 0);

    std::vector<uint32_t> first = Picture(320, 240, 0xFF102030u);
    std::vector<uint32_t> second = Picture(320, 240, 0xFFFF0000u);
    // Presented from another thread, as the video task does; the caller's buffers are reused.
    std::thread task([&] {
        DisplayImage a = ImageOf(first, 320, 240), b = ImageOf(second, 320, 240);
        EXPECT_EQ(ops->present(ctx, &a), 0);
        EXPECT_EQ(ops->present(ctx, &b), 0);
    });
    task.join();
    second.assign(second.size(), 0);
    PumpEvents();
    ASSERT_EQ(window.Picture().size(), QSize(320, 240));
    EXPECT_EQ(window.Picture().pixel(10, 10), 0xFFFF0000u) << "the newest picture, copied";
    EXPECT_EQ(window.PicturesShown(), 1) << "two quick pictures, one repaint";
    ops->close(ctx);

    DisplayImage bad = ImageOf(first, 320, 240);
    bad.stride = 100;
    EXPECT_LT(ops->present(ctx, &bad), 0);
    EXPECT_LT(ops->open(&ctx, nullptr, 320, 240), 0);
}

TEST(VideoWindow, AWindowThatIsGoneIsNeverWritten) {
    EnsureQtApp();
    const DisplayBackendOps *ops = app::CVideoWindow::Backend();
    auto window = std::make_unique<app::CVideoWindow>();
    void *ctx = nullptr;
    ASSERT_EQ(ops->open(&ctx, window.get(), 16, 16), 0);
    window.reset();
    std::vector<uint32_t> px = Picture(16, 16, 0xFFFFFFFFu);
    DisplayImage img = ImageOf(px, 16, 16);
    EXPECT_LT(ops->present(ctx, &img), 0);
    int stranger = 0;
    EXPECT_LT(ops->open(&ctx, &stranger, 16, 16), 0);
    PumpEvents();
}

}  // namespace
}  // namespace vt::test
