#pragma once
// Image files of the program: JPEG (through the libjpeg 6b interface) and 24-bit BMP, plus the
// conversion of a YUV 4:2:0 picture into 24-bit colour with the program's 6-bit coefficients.
//
// Pixels are 24-bit, three bytes per pixel in blue, green, red order, rows from the top of the
// picture; `stride` is the distance between rows in bytes (at least width * 3).
#include <cstdint>

struct ImageBgr {
    int width;
    int height;
    int stride;    // width * 3 rounded up to 4
    uint8_t *bgr;  // owned; free with ImageFree
};

inline constexpr int kJpegDefaultQuality = 90;

// Writes an upright JPEG. 1 on success, 0 on failure (no file is left behind).
int ImageWriteJpeg(const char *path, const uint8_t *bgr, int width, int height, int stride,
                   int quality);
// Reads a JPEG (grey or colour) into *out. 1 on success, 0 for a missing or damaged file.
int ImageReadJpeg(const char *path, ImageBgr *out);
// Writes a bottom-up 24-bit BMP. 1 on success.
int ImageWriteBmp(const char *path, const uint8_t *bgr, int width, int height, int stride);
// Reads an uncompressed 24-bit BMP (bottom-up or top-down). 1 on success.
int ImageReadBmp(const char *path, ImageBgr *out);
void ImageFree(ImageBgr *img);  // null and empty tolerated

// YUV 4:2:0 to 24-bit BGR, each chroma sample shared by a 2x2 block:
//   B = (64Y + 119U) >> 6, G = (64Y - 12U - 30V) >> 6, R = (64Y + 101V) >> 6 (U, V minus 128,
// 16-bit sums, arithmetic shift, clamped). Plane rows are y_stride and y_stride / 2 apart.
void ImageYuvToBgr(const uint8_t *y, const uint8_t *u, const uint8_t *v, int y_stride, int width,
                   int height, uint8_t *bgr, int bgr_stride);
// The same conversion into 32-bit 0xFFRRGGBB pixels (stride in bytes).
void ImageYuvToRgb32(const uint8_t *y, const uint8_t *u, const uint8_t *v, int y_stride, int width,
                     int height, uint32_t *rgb, int rgb_stride);
