// YUV 4:2:0 to packed RGB for displays without a YUV surface. Each chroma sample serves a 2 x 2
// block, so rows are converted in pairs and the chroma terms are computed once per pair of pixels.
#include "codec/mpeg4v/mpeg4v.h"

namespace {

inline uint8_t Clip(int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

template <int kBytes>
void Convert(const uint8_t *py, const uint8_t *pu, const uint8_t *pv, int32_t y_stride,
             int32_t width, int32_t height, uint8_t *dst, int32_t dst_stride, int32_t bgr) {
    if (!py || !pu || !pv || !dst || width <= 0 || height <= 0) return;
    const int32_t c_stride = y_stride / 2;
    const int r_at = bgr ? 2 : 0, b_at = bgr ? 0 : 2;
    for (int32_t row = 0; row < height; row += 2) {
        const uint8_t *u = pu + (row / 2) * c_stride;
        const uint8_t *v = pv + (row / 2) * c_stride;
        const int lines = row + 1 < height ? 2 : 1;
        for (int line = 0; line < lines; ++line) {
            const uint8_t *y = py + (row + line) * y_stride;
            uint8_t *out = dst + (row + line) * dst_stride;
            for (int32_t x = 0; x < width; ++x) {
                const int cu = u[x >> 1] - 128, cv = v[x >> 1] - 128;
                const int l = y[x];
                out[r_at] = Clip(l + ((101 * cv) >> 6));
                out[1] = Clip(l - ((12 * cu + 30 * cv) >> 6));
                out[b_at] = Clip(l + ((119 * cu) >> 6));
                if (kBytes == 4) out[3] = 255;
                out += kBytes;
            }
        }
    }
}

}  // namespace

extern "C" {

void Mp4vDecYuvToRgb24(const uint8_t *pY, const uint8_t *pU, const uint8_t *pV, int32_t iYStride,
                       int32_t iWidth, int32_t iHeight, uint8_t *pDst, int32_t iDstStride,
                       int32_t iBgr) {
    Convert<3>(pY, pU, pV, iYStride, iWidth, iHeight, pDst, iDstStride, iBgr);
}

void Mp4vDecYuvToRgb32(const uint8_t *pY, const uint8_t *pU, const uint8_t *pV, int32_t iYStride,
                       int32_t iWidth, int32_t iHeight, uint8_t *pDst, int32_t iDstStride,
                       int32_t iBgr) {
    Convert<4>(pY, pU, pV, iYStride, iWidth, iHeight, pDst, iDstStride, iBgr);
}

}  // extern "C"
