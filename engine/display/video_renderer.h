#pragma once
// VideoRenderer: the display surface. One per process (one video window at a time). Every picture
// is composed here, whatever the back-end: YUV 4:2:0 to 32-bit RGB with the program's 6-bit
// coefficients, the overlay text of that moment drawn over it in red from the top-left corner,
// then handed to the back-end: the application's window back-end when one is registered and a
// window is given, else the offscreen surface (a memory image, for tests and tools). A pending
// capture request writes the same picture, without the text, as an upright JPEG of quality 90.
//
// Open, Draw and Close run on the engine's video task; the text provider and the capture request
// are set from other threads and read by the next Draw.
#include <cstdint>

#include "engine/core/result.h"
#include "engine/display/display.h"

struct VideoRendererParams {
    void *window;
    int32_t left, top;  // where the window is; a negative left crops the picture's left part
    uint32_t option;
    int32_t tv_format;
};

// 0 on success; ME_FAIL when the back-end refuses or memory runs out.
MeResult VideoRendererOpen(const VideoRendererParams *params, int32_t width, int32_t height);
void VideoRendererClose();
// Applies a new window area and option word; repaints the last picture when there is one.
void VideoRendererRefresh(const VideoRendererParams *params);
// The parameters the open renderer works with. 0 when it is closed.
int VideoRendererCurrent(VideoRendererParams *out);
// Opens the renderer again for another window or TV format, for pictures of the same size; the
// text provider stays registered. ME_FAIL when closed or when the back-end refuses (it is then
// closed).
MeResult VideoRendererReopen(const VideoRendererParams *params);
// Composes and shows one picture. Chroma rows are stride / 2 apart. ME_OK or the back-end's code.
MeResult VideoRendererDraw(const uint8_t *y, const uint8_t *u, const uint8_t *v, int32_t stride,
                           int32_t time_ms);
// Shows the last composed picture again (no text lookup, no capture). ME_FAIL when none.
MeResult VideoRendererRepaint();
int VideoRendererIsOpen();

// Draws `text` (line breaks start new lines, no wrapping) in red into a 32-bit image, starting
// at its top-left corner. Returns the number of glyphs drawn (0 when no font is available).
int DisplayDrawText(uint32_t *pixels, int32_t width, int32_t height, int32_t stride,
                    const char *text, int32_t length, uint32_t colour);

// A capture request is waiting for the next Draw.
int VideoRendererCapturePending();
