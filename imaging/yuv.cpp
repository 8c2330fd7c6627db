#include "imaging/imaging.h"

namespace {

inline uint8_t Clamp6(int v) {
    v >>= 6;
    return uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// One picture row pair at a time: both rows share the chroma row.
template <typename Put>
void Convert(const uint8_t *y, const uint8_t *u, const uint8_t *v, int y_stride, int width,
             int height, Put put) {
    const int c_stride = y_stride / 2;
    for (int row = 0; row < height; ++row) {
        const uint8_t *yr = y + row * y_stride;
        const uint8_t *ur = u + (row / 2) * c_stride;
        const uint8_t *vr = v + (row / 2) * c_stride;
        for (int x = 0; x < width; ++x) {
            int cu = ur[x / 2] - 128, cv = vr[x / 2] - 128;
            int l = 64 * yr[x];
            put(row, x, Clamp6(l + 119 * cu), Clamp6(l - (12 * cu + 30 * cv)),
                Clamp6(l + 101 * cv));
        }
    }
}

}  // namespace

void ImageYuvToBgr(const uint8_t *y, const uint8_t *u, const uint8_t *v, int y_stride, int width,
                   int height, uint8_t *bgr, int bgr_stride) {
    Convert(y, u, v, y_stride, width, height, [&](int row, int x, uint8_t b, uint8_t g, uint8_t r) {
        uint8_t *p = bgr + row * bgr_stride + x * 3;
        p[0] = b;
        p[1] = g;
        p[2] = r;
    });
}

void ImageYuvToRgb32(const uint8_t *y, const uint8_t *u, const uint8_t *v, int y_stride, int width,
                     int height, uint32_t *rgb, int rgb_stride) {
    Convert(y, u, v, y_stride, width, height, [&](int row, int x, uint8_t b, uint8_t g, uint8_t r) {
        uint32_t *p =
            reinterpret_cast<uint32_t *>(reinterpret_cast<uint8_t *>(rgb) + row * rgb_stride);
        p[x] = 0xFF000000u | uint32_t(r) << 16 | uint32_t(g) << 8 | b;
    });
}
