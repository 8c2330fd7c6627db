#pragma once
// The display surface's program-wide settings, shared by the engine and the application: the
// overlay text provider, capture requests, the window back-end, and the offscreen surface (for
// tests and tools). Every picture is composed by the engine's VideoRenderer (video_renderer.h).
#include <cstdint>

// Overlay text for the picture at time_ms: write up to *length bytes (4096) into text and set
// *length to the text's length (0: no text). Called on the video task with every picture shown.
using DisplayTextProvider = void (*)(int32_t time_ms, char *text, int32_t *length);
// Registers the provider for the whole program; null removes it.
void DisplaySetTextProvider(DisplayTextProvider provider);
// The next picture drawn is also written to path as a JPEG (quality 90, upright). 1 on success.
int DisplayRequestCapture(const char *path);

// A finished picture: 32-bit pixels 0xFFRRGGBB in native byte order (the layout of
// QImage::Format_RGB32), rows from the top, `stride` bytes apart. The overlay text is already
// drawn in. Valid only during the present call.
struct DisplayImage {
    const uint32_t *pixels;
    int32_t width;
    int32_t height;
    int32_t stride;
    int32_t time_ms;
    uint32_t option;  // PlayerVideoParams::display_option
};

// A display back-end: where composed pictures go. The engine composes every picture itself
// (YUV->RGB with the program's 6-bit coefficients, the red overlay text), then hands it over.
// All three operations run on the engine's video task; none may wait for the UI thread.
struct DisplayBackendOps {
    const char *name;
    // Prepares output for pictures of width x height into `window` (the window of the video
    // params). Stores its own context in *ctx. Returns 0, or a negative code to refuse (the
    // engine then plays without video and reports ME_ERR_VIDEO_OUTPUT_INIT).
    int (*open)(void **ctx, void *window, int32_t width, int32_t height);
    // Shows one picture. Must copy what it keeps. Returns 0 or a negative code.
    int (*present)(void *ctx, const DisplayImage *image);
    // Releases the context; no call follows until the next open.
    void (*close)(void *ctx);
};
// Registers the back-end used when the video params name a window; null unregisters. Without a
// registered back-end, or without a window, pictures go to the offscreen surface.
void DisplaySetWindowBackend(const DisplayBackendOps *ops);

// A picture as the display surface receives it from the video task, before composition: the
// planes of a 4:2:0 picture of width x height (chroma rows stride / 2 apart, chroma planes of
// (width + 1) / 2 x (height + 1) / 2), and its presentation time.
struct DisplayPicture {
    const uint8_t *y, *u, *v;
    int32_t stride;
    int32_t width, height;
    int32_t time_ms;
};
// Called on the video task with every picture drawn (not with repaints of the last one), after
// it was handed to the back-end. It must not block and must copy what it keeps. Null removes it.
using DisplayPictureObserver = void (*)(void *user, const DisplayPicture *picture);
void DisplaySetPictureObserver(DisplayPictureObserver observer, void *user);

// Copy of the offscreen surface's last picture (for tests and tools). Returns 1 and fills the
// size and time, copying the pixels when `pixels` has room for width x height; 0 when no picture
// has been drawn since the surface was opened.
int DisplayCopyOffscreen(uint32_t *pixels, int32_t capacity_pixels, int32_t *width, int32_t *height,
                         int32_t *time_ms);
