#include "engine/display/video_renderer.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "engine/core/mem.h"
#include "imaging/imaging.h"

namespace {

constexpr int32_t kTextMax = 4096;
constexpr int kFontPixels = 16;

// Settings that other threads change; Draw reads them under the lock.
struct Shared {
    std::mutex lock;
    DisplayTextProvider provider = nullptr;
    const DisplayBackendOps *window_ops = nullptr;
    DisplayPictureObserver observer = nullptr;
    void *observer_user = nullptr;
    bool capture = false;
    std::string capture_path;
    // the offscreen surface's last picture
    uint32_t *offscreen = nullptr;
    int32_t off_width = 0, off_height = 0, off_time = 0;
    bool off_valid = false;
};

Shared &Globals() {
    static Shared s;
    return s;
}

// Video-task state of the one renderer.
struct Renderer {
    bool open = false;
    const DisplayBackendOps *ops = nullptr;
    void *ctx = nullptr;
    int32_t width = 0, height = 0;          // the surface
    int32_t pic_width = 0, pic_height = 0;  // the pictures drawn into it
    VideoRendererParams params{};
    uint32_t *compose = nullptr;  // width x height
    bool have_picture = false;
    int32_t last_time = 0;
    char text[kTextMax + 1];
};

Renderer g_renderer;

// ---- Text --------------------------------------------------------------------------------------

struct Font {
    std::mutex lock;
    bool tried = false;
    FT_Library lib = nullptr;
    FT_Face face = nullptr;
};

Font &TheFont() {
    static Font f;
    return f;
}

// "Arial" as fontconfig maps it (Liberation Sans here), loaded once for the process.
FT_Face LoadFontLocked(Font &f) {
    if (f.tried) return f.face;
    f.tried = true;
    std::string file;
    if (FcInit()) {
        FcPattern *pat = FcNameParse(reinterpret_cast<const FcChar8 *>("Arial"));
        if (pat) {
            FcConfigSubstitute(nullptr, pat, FcMatchPattern);
            FcDefaultSubstitute(pat);
            FcResult res;
            FcPattern *match = FcFontMatch(nullptr, pat, &res);
            FcChar8 *path = nullptr;
            if (match && FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch && path)
                file = reinterpret_cast<const char *>(path);
            if (match) FcPatternDestroy(match);
            FcPatternDestroy(pat);
        }
    }
    if (file.empty() || FT_Init_FreeType(&f.lib) != 0) return nullptr;
    if (FT_New_Face(f.lib, file.c_str(), 0, &f.face) != 0) {
        f.face = nullptr;
        return nullptr;
    }
    FT_Set_Pixel_Sizes(f.face, 0, kFontPixels);
    return f.face;
}

// ---- Offscreen back-end -------------------------------------------------------------------------

int OffOpen(void **ctx, void *, int32_t width, int32_t height) {
    Shared &s = Globals();
    std::lock_guard<std::mutex> g(s.lock);
    std::free(s.offscreen);
    s.offscreen = static_cast<uint32_t *>(std::calloc(size_t(width) * size_t(height), 4));
    s.off_width = s.off_height = 0;
    s.off_valid = false;
    *ctx = nullptr;
    return s.offscreen ? 0 : -1;
}

int OffPresent(void *, const DisplayImage *img) {
    Shared &s = Globals();
    std::lock_guard<std::mutex> g(s.lock);
    if (!s.offscreen) return -1;
    for (int32_t row = 0; row < img->height; ++row)
        std::memcpy(s.offscreen + size_t(row) * img->width,
                    reinterpret_cast<const uint8_t *>(img->pixels) + size_t(row) * img->stride,
                    size_t(img->width) * 4);
    s.off_width = img->width;
    s.off_height = img->height;
    s.off_time = img->time_ms;
    s.off_valid = true;
    return 0;
}

void OffClose(void *) {
    Shared &s = Globals();
    std::lock_guard<std::mutex> g(s.lock);
    // The last picture stays readable after the playback ends; it is dropped at the next open.
}

const DisplayBackendOps kOffscreenOps = {"offscreen", OffOpen, OffPresent, OffClose};

MeResult Present(Renderer &r) {
    DisplayImage img{};
    // A window dragged past the screen's left edge shows the right part of the picture, not a
    // shifted whole picture.
    int32_t crop = r.params.left < 0 ? -r.params.left : 0;
    if (crop >= r.width) return ME_OK;
    img.pixels = r.compose + crop;
    img.width = r.width - crop;
    img.height = r.height;
    img.stride = r.width * 4;
    img.time_ms = r.last_time;
    img.option = r.params.option;
    int res = r.ops->present(r.ctx, &img);
    return res < 0 ? ME_FAIL : ME_OK;
}

}  // namespace

int DisplayDrawText(uint32_t *pixels, int32_t width, int32_t height, int32_t stride,
                    const char *text, int32_t length, uint32_t colour) {
    if (!pixels || !text || length <= 0) return 0;
    Font &f = TheFont();
    std::lock_guard<std::mutex> g(f.lock);
    FT_Face face = LoadFontLocked(f);
    if (!face) return 0;
    const int line = int(face->size->metrics.height >> 6);
    const int ascent = int(face->size->metrics.ascender >> 6);
    const uint32_t cr = (colour >> 16) & 0xFF, cg = (colour >> 8) & 0xFF, cb = colour & 0xFF;
    int pen_x = 0, base = ascent, drawn = 0;
    for (int32_t i = 0; i < length && text[i]; ++i) {
        uint8_t c = uint8_t(text[i]);
        if (c == '\r') continue;
        if (c == '\n') {
            pen_x = 0;
            base += line;
            continue;
        }
        if (base - ascent >= height) break;
        if (FT_Load_Char(face, c, FT_LOAD_RENDER) != 0) continue;
        FT_GlyphSlot gs = face->glyph;
        const FT_Bitmap &bm = gs->bitmap;
        int x0 = pen_x + gs->bitmap_left, y0 = base - gs->bitmap_top;
        for (unsigned by = 0; by < bm.rows; ++by) {
            int y = y0 + int(by);
            if (y < 0 || y >= height) continue;
            uint32_t *row = reinterpret_cast<uint32_t *>(reinterpret_cast<uint8_t *>(pixels) +
                                                         size_t(y) * stride);
            for (unsigned bx = 0; bx < bm.width; ++bx) {
                int x = x0 + int(bx);
                if (x < 0 || x >= width) continue;
                uint32_t a = bm.buffer[by * unsigned(bm.pitch) + bx];
                if (a == 0) continue;
                uint32_t d = row[x];
                uint32_t r = (((d >> 16) & 0xFF) * (255 - a) + cr * a) / 255;
                uint32_t gg = (((d >> 8) & 0xFF) * (255 - a) + cg * a) / 255;
                uint32_t b = ((d & 0xFF) * (255 - a) + cb * a) / 255;
                row[x] = 0xFF000000u | r << 16 | gg << 8 | b;
            }
        }
        pen_x += int(gs->advance.x >> 6);
        ++drawn;
    }
    return drawn;
}

MeResult VideoRendererOpen(const VideoRendererParams *params, int32_t width, int32_t height) {
    VideoRendererClose();
    Renderer &r = g_renderer;
    if (width <= 0 || height <= 0 || width > 8192 || height > 8192) return ME_FAIL;
    r.params = params ? *params : VideoRendererParams{};
    r.pic_width = width;
    r.pic_height = height;
    if (r.params.tv_format) {
        // A TV output has a fixed raster whatever the picture.
        width = 720;
        height = r.params.tv_format == 1 ? 480 : 525;
    }
    {
        std::lock_guard<std::mutex> g(Globals().lock);
        r.ops = (r.params.window && Globals().window_ops) ? Globals().window_ops : &kOffscreenOps;
        // Opening starts from a clean record: the text source is registered again afterwards.
        Globals().provider = nullptr;
    }
    r.compose = static_cast<uint32_t *>(MemAllocZero(size_t(width) * size_t(height) * 4));
    if (!r.compose) return ME_FAIL;
    r.width = width;
    r.height = height;
    if (r.ops->open(&r.ctx, r.params.window, width, height) < 0) {
        MemFree(r.compose);
        r = Renderer{};
        return ME_FAIL;
    }
    r.open = true;
    return ME_OK;
}

void VideoRendererClose() {
    Renderer &r = g_renderer;
    if (r.open && r.ops) r.ops->close(r.ctx);
    MemFree(r.compose);
    r.open = false;
    r.ops = nullptr;
    r.ctx = nullptr;
    r.compose = nullptr;
    r.have_picture = false;
    r.width = r.height = 0;
}

int VideoRendererIsOpen() { return g_renderer.open ? 1 : 0; }

void VideoRendererRefresh(const VideoRendererParams *params) {
    Renderer &r = g_renderer;
    if (!r.open || !params) return;
    r.params.left = params->left;
    r.params.top = params->top;
    r.params.option = params->option;
    if (r.have_picture) Present(r);
}

int VideoRendererCurrent(VideoRendererParams *out) {
    const Renderer &r = g_renderer;
    if (!r.open || !out) return 0;
    *out = r.params;
    return 1;
}

MeResult VideoRendererReopen(const VideoRendererParams *params) {
    Renderer &r = g_renderer;
    if (!r.open) return ME_FAIL;
    const int32_t width = r.pic_width, height = r.pic_height;
    DisplayTextProvider provider;
    {
        std::lock_guard<std::mutex> g(Globals().lock);
        provider = Globals().provider;
    }
    MeResult res = VideoRendererOpen(params, width, height);
    std::lock_guard<std::mutex> g(Globals().lock);
    // Unless the application registered another one meanwhile.
    if (!Globals().provider) Globals().provider = provider;
    return res;
}

MeResult VideoRendererRepaint() {
    Renderer &r = g_renderer;
    if (!r.open || !r.have_picture) return ME_FAIL;
    return Present(r);
}

MeResult VideoRendererDraw(const uint8_t *y, const uint8_t *u, const uint8_t *v, int32_t stride,
                           int32_t time_ms) {
    Renderer &r = g_renderer;
    if (!r.open || !y || !u || !v || stride <= 0) return ME_FAIL;
    DisplayTextProvider provider;
    DisplayPictureObserver observer;
    void *observer_user;
    bool capture;
    std::string capture_path;
    {
        Shared &s = Globals();
        std::lock_guard<std::mutex> g(s.lock);
        provider = s.provider;
        observer = s.observer;
        observer_user = s.observer_user;
        capture = s.capture;
        if (capture) {
            capture_path = s.capture_path;
            s.capture = false;
        }
    }
    int32_t text_len = 0;
    if (provider) {
        text_len = kTextMax;
        r.text[0] = 0;
        provider(time_ms, r.text, &text_len);
        if (text_len < 0) text_len = 0;
        if (text_len > kTextMax) text_len = kTextMax;
        r.text[text_len] = 0;
    }
    // The picture keeps its own size; a TV raster larger than the picture keeps black borders.
    int32_t w = r.pic_width < r.width ? r.pic_width : r.width;
    int32_t h = r.pic_height < r.height ? r.pic_height : r.height;
    if (w > stride) w = stride;
    ImageYuvToRgb32(y, u, v, stride, w, h, r.compose, r.width * 4);
    if (text_len > 0)
        DisplayDrawText(r.compose, r.width, r.height, r.width * 4, r.text, text_len, 0xFF0000);
    r.last_time = time_ms;
    r.have_picture = true;
    MeResult res = Present(r);
    if (observer) {
        DisplayPicture pic{y, u, v, stride, w, h, time_ms};
        observer(observer_user, &pic);
    }
    if (capture) {
        uint8_t *bgr = static_cast<uint8_t *>(MemAlloc(size_t(w) * size_t(h) * 3));
        if (bgr) {  // without memory no file is written, and the caller sees none
            ImageYuvToBgr(y, u, v, stride, w, h, bgr, w * 3);
            ImageWriteJpeg(capture_path.c_str(), bgr, w, h, w * 3, kJpegDefaultQuality);
            MemFree(bgr);
        }
    }
    return res;
}

// ---- Program-wide display settings ---------------------------------------------------------------

void DisplaySetTextProvider(DisplayTextProvider provider) {
    std::lock_guard<std::mutex> g(Globals().lock);
    Globals().provider = provider;
}

int DisplayRequestCapture(const char *path) {
    if (!path || !*path) return 0;
    std::lock_guard<std::mutex> g(Globals().lock);
    Globals().capture_path = path;
    Globals().capture = true;
    return 1;
}

void DisplaySetPictureObserver(DisplayPictureObserver observer, void *user) {
    std::lock_guard<std::mutex> g(Globals().lock);
    Globals().observer = observer;
    Globals().observer_user = user;
}

void DisplaySetWindowBackend(const DisplayBackendOps *ops) {
    std::lock_guard<std::mutex> g(Globals().lock);
    Globals().window_ops = ops;
}

int DisplayCopyOffscreen(uint32_t *pixels, int32_t capacity_pixels, int32_t *width, int32_t *height,
                         int32_t *time_ms) {
    Shared &s = Globals();
    std::lock_guard<std::mutex> g(s.lock);
    if (!s.off_valid) return 0;
    if (width) *width = s.off_width;
    if (height) *height = s.off_height;
    if (time_ms) *time_ms = s.off_time;
    if (pixels && capacity_pixels >= s.off_width * s.off_height)
        std::memcpy(pixels, s.offscreen, size_t(s.off_width) * s.off_height * 4);
    return 1;
}

int VideoRendererCapturePending() {
    std::lock_guard<std::mutex> g(Globals().lock);
    return Globals().capture ? 1 : 0;
}
