// YUV 4:2:0 to packed RGB for displays without a YUV surface. Each chroma sample serves a 2 x 2
// block: both rows of a pair read the same chroma row, and each chroma term serves two pixels.
// The row conversion is a kernel of the table (dsp.h).
#include <utility>

#include "codec/mpeg4v/dsp.h"
#include "codec/mpeg4v/mpeg4v.h"

#if VT_X86
#include <immintrin.h>
#endif

namespace mp4v {
namespace {

inline uint8_t Clip(int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// Pixels x0 .. width-1 of a row; the vector versions finish their rows with it.
template <int kBytes>
void RowC(uint8_t *out, const uint8_t *y, const uint8_t *u, const uint8_t *v, int x0, int width,
          int bgr) {
    const int r_at = bgr ? 2 : 0, b_at = bgr ? 0 : 2;
    out += x0 * kBytes;
    for (int x = x0; x < width; ++x) {
        const int cu = u[x >> 1] - 128, cv = v[x >> 1] - 128;
        const int l = y[x];
        out[r_at] = Clip(l + ((101 * cv) >> 6));
        out[1] = Clip(l - ((12 * cu + 30 * cv) >> 6));
        out[b_at] = Clip(l + ((119 * cu) >> 6));
        if (kBytes == 4) out[3] = 255;
        out += kBytes;
    }
}

template <int kBytes>
void RgbRowC(uint8_t *out, const uint8_t *y, const uint8_t *u, const uint8_t *v, int width,
             int bgr) {
    RowC<kBytes>(out, y, u, v, 0, width, bgr);
}

#if VT_X86
// Sixteen pixels: every chroma term fits 16 bits (|119 * 128| < 2^15), the arithmetic shift
// floors as the C shift does, and the saturating pack clamps as Clip does.
VT_SSE2 inline void Rgb16Sse2(const uint8_t *y, const uint8_t *u, const uint8_t *v, __m128i *r,
                              __m128i *g, __m128i *b) {
    const __m128i zero = _mm_setzero_si128(), k128 = _mm_set1_epi16(128);
    const __m128i yv = _mm_loadu_si128(reinterpret_cast<const __m128i *>(y));
    const __m128i cu = _mm_sub_epi16(
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(u)), zero), k128);
    const __m128i cv = _mm_sub_epi16(
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(v)), zero), k128);
    const __m128i tr = _mm_srai_epi16(_mm_mullo_epi16(cv, _mm_set1_epi16(101)), 6);
    const __m128i tg = _mm_srai_epi16(_mm_add_epi16(_mm_mullo_epi16(cu, _mm_set1_epi16(12)),
                                                    _mm_mullo_epi16(cv, _mm_set1_epi16(30))),
                                      6);
    const __m128i tb = _mm_srai_epi16(_mm_mullo_epi16(cu, _mm_set1_epi16(119)), 6);
    const __m128i ylo = _mm_unpacklo_epi8(yv, zero), yhi = _mm_unpackhi_epi8(yv, zero);
    *r = _mm_packus_epi16(_mm_add_epi16(ylo, _mm_unpacklo_epi16(tr, tr)),
                          _mm_add_epi16(yhi, _mm_unpackhi_epi16(tr, tr)));
    *g = _mm_packus_epi16(_mm_sub_epi16(ylo, _mm_unpacklo_epi16(tg, tg)),
                          _mm_sub_epi16(yhi, _mm_unpackhi_epi16(tg, tg)));
    *b = _mm_packus_epi16(_mm_add_epi16(ylo, _mm_unpacklo_epi16(tb, tb)),
                          _mm_add_epi16(yhi, _mm_unpackhi_epi16(tb, tb)));
}

// Four pixels of 4 bytes (the fourth zero) down to 12 bytes, bytes 12..15 cleared.
VT_SSE2 inline __m128i Pack12(__m128i px) {
    const __m128i lo3 = _mm_set_epi32(0, 0xFFFFFF, 0, 0xFFFFFF);
    const __m128i hi3 = _mm_set_epi32(0xFFFF, int(0xFF000000u), 0xFFFF, int(0xFF000000u));
    const __m128i six =
        _mm_or_si128(_mm_and_si128(px, lo3), _mm_and_si128(_mm_srli_epi64(px, 8), hi3));
    const __m128i first = _mm_set_epi32(0, 0, 0xFFFF, -1),
                  second = _mm_set_epi32(0, -1, int(0xFFFF0000u), 0);
    return _mm_or_si128(_mm_and_si128(six, first), _mm_and_si128(_mm_srli_si128(six, 2), second));
}

template <int kBytes>
VT_SSE2 void RgbRowSse2(uint8_t *out, const uint8_t *y, const uint8_t *u, const uint8_t *v,
                        int width, int bgr) {
    const __m128i fourth = kBytes == 4 ? _mm_set1_epi8(-1) : _mm_setzero_si128();
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        __m128i r, g, b;
        Rgb16Sse2(y + x, u + x / 2, v + x / 2, &r, &g, &b);
        if (bgr) std::swap(r, b);
        const __m128i rg0 = _mm_unpacklo_epi8(r, g), rg1 = _mm_unpackhi_epi8(r, g);
        const __m128i ba0 = _mm_unpacklo_epi8(b, fourth), ba1 = _mm_unpackhi_epi8(b, fourth);
        __m128i px[4] = {_mm_unpacklo_epi16(rg0, ba0), _mm_unpackhi_epi16(rg0, ba0),
                         _mm_unpacklo_epi16(rg1, ba1), _mm_unpackhi_epi16(rg1, ba1)};
        __m128i *o = reinterpret_cast<__m128i *>(out + x * kBytes);
        if constexpr (kBytes == 4) {
            for (int k = 0; k < 4; ++k) _mm_storeu_si128(o + k, px[k]);
        } else {
            for (int k = 0; k < 4; ++k) px[k] = Pack12(px[k]);
            _mm_storeu_si128(o, _mm_or_si128(px[0], _mm_slli_si128(px[1], 12)));
            _mm_storeu_si128(o + 1,
                             _mm_or_si128(_mm_srli_si128(px[1], 4), _mm_slli_si128(px[2], 8)));
            _mm_storeu_si128(o + 2,
                             _mm_or_si128(_mm_srli_si128(px[2], 8), _mm_slli_si128(px[3], 4)));
        }
    }
    RowC<kBytes>(out, y, u, v, x, width, bgr);
}

// The same on 32 pixels. The in-lane unpacks and packs leave the pixels of a 256-bit register
// in the order 0-7, 16-23 | 8-15, 24-31 (bytes) and 0-3, 8-11 | 4-7, 12-15 (4-byte pixels); the
// chroma terms are permuted to match and the stores put the halves back in order.
VT_AVX2 inline __m256i Spread(__m256i t) { return _mm256_permute4x64_epi64(t, 0xD8); }

VT_AVX2 inline void Rgb32Avx2(const uint8_t *y, const uint8_t *u, const uint8_t *v, __m256i *r,
                              __m256i *g, __m256i *b) {
    const __m256i k128 = _mm256_set1_epi16(128);
    const __m256i yv = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(y));
    const __m256i cu = _mm256_sub_epi16(
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(u))), k128);
    const __m256i cv = _mm256_sub_epi16(
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(v))), k128);
    const __m256i tr = Spread(_mm256_srai_epi16(_mm256_mullo_epi16(cv, _mm256_set1_epi16(101)), 6));
    const __m256i tg =
        Spread(_mm256_srai_epi16(_mm256_add_epi16(_mm256_mullo_epi16(cu, _mm256_set1_epi16(12)),
                                                  _mm256_mullo_epi16(cv, _mm256_set1_epi16(30))),
                                 6));
    const __m256i tb = Spread(_mm256_srai_epi16(_mm256_mullo_epi16(cu, _mm256_set1_epi16(119)), 6));
    const __m256i ylo = _mm256_cvtepu8_epi16(_mm256_castsi256_si128(yv));
    const __m256i yhi = _mm256_cvtepu8_epi16(_mm256_extracti128_si256(yv, 1));
    *r = _mm256_packus_epi16(_mm256_add_epi16(ylo, _mm256_unpacklo_epi16(tr, tr)),
                             _mm256_add_epi16(yhi, _mm256_unpackhi_epi16(tr, tr)));
    *g = _mm256_packus_epi16(_mm256_sub_epi16(ylo, _mm256_unpacklo_epi16(tg, tg)),
                             _mm256_sub_epi16(yhi, _mm256_unpackhi_epi16(tg, tg)));
    *b = _mm256_packus_epi16(_mm256_add_epi16(ylo, _mm256_unpacklo_epi16(tb, tb)),
                             _mm256_add_epi16(yhi, _mm256_unpackhi_epi16(tb, tb)));
}

// Twelve bytes of 3-byte pixels from four 4-byte ones, bytes 12..15 cleared.
VT_AVX2 inline __m128i Pack12Shuffle(__m128i px) {
    return _mm_shuffle_epi8(px,
                            _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1));
}

template <int kBytes>
VT_AVX2 void RgbRowAvx2(uint8_t *out, const uint8_t *y, const uint8_t *u, const uint8_t *v,
                        int width, int bgr) {
    const __m256i fourth = kBytes == 4 ? _mm256_set1_epi8(-1) : _mm256_setzero_si256();
    int x = 0;
    for (; x + 32 <= width; x += 32) {
        __m256i r, g, b;
        Rgb32Avx2(y + x, u + x / 2, v + x / 2, &r, &g, &b);
        if (bgr) std::swap(r, b);
        const __m256i rg0 = _mm256_unpacklo_epi8(r, g), rg1 = _mm256_unpackhi_epi8(r, g);
        const __m256i ba0 = _mm256_unpacklo_epi8(b, fourth), ba1 = _mm256_unpackhi_epi8(b, fourth);
        const __m256i p0 = _mm256_unpacklo_epi16(rg0, ba0), p1 = _mm256_unpackhi_epi16(rg0, ba0);
        const __m256i p2 = _mm256_unpacklo_epi16(rg1, ba1), p3 = _mm256_unpackhi_epi16(rg1, ba1);
        // Pixels 0-7, 8-15, 16-23 and 24-31.
        const __m256i q[4] = {
            _mm256_permute2x128_si256(p0, p1, 0x20), _mm256_permute2x128_si256(p0, p1, 0x31),
            _mm256_permute2x128_si256(p2, p3, 0x20), _mm256_permute2x128_si256(p2, p3, 0x31)};
        if constexpr (kBytes == 4) {
            __m256i *o = reinterpret_cast<__m256i *>(out + x * 4);
            for (int k = 0; k < 4; ++k) _mm256_storeu_si256(o + k, q[k]);
        } else {
            __m128i *o = reinterpret_cast<__m128i *>(out + x * 3);
            for (int k = 0; k < 2; ++k) {
                // Sixteen pixels: four groups of 12 bytes into three stores.
                const __m128i c0 = Pack12Shuffle(_mm256_castsi256_si128(q[2 * k]));
                const __m128i c1 = Pack12Shuffle(_mm256_extracti128_si256(q[2 * k], 1));
                const __m128i c2 = Pack12Shuffle(_mm256_castsi256_si128(q[2 * k + 1]));
                const __m128i c3 = Pack12Shuffle(_mm256_extracti128_si256(q[2 * k + 1], 1));
                _mm_storeu_si128(o + 3 * k, _mm_or_si128(c0, _mm_slli_si128(c1, 12)));
                _mm_storeu_si128(o + 3 * k + 1,
                                 _mm_or_si128(_mm_srli_si128(c1, 4), _mm_slli_si128(c2, 8)));
                _mm_storeu_si128(o + 3 * k + 2,
                                 _mm_or_si128(_mm_srli_si128(c2, 8), _mm_slli_si128(c3, 4)));
            }
        }
    }
    // The rest through the 16-pixel version, then the C one.
    RgbRowSse2<kBytes>(out + x * kBytes, y + x, u + x / 2, v + x / 2, width - x, bgr);
}
#endif

template <int kBytes>
void Convert(const uint8_t *py, const uint8_t *pu, const uint8_t *pv, int32_t y_stride,
             int32_t width, int32_t height, uint8_t *dst, int32_t dst_stride, int32_t bgr) {
    if (!py || !pu || !pv || !dst || width <= 0 || height <= 0) return;
    const RgbRowFn row = Dsp().rgbRow[kBytes == 4];
    const int32_t c_stride = y_stride / 2;
    for (int32_t line = 0; line < height; ++line)
        row(dst + line * dst_stride, py + line * y_stride, pu + (line / 2) * c_stride,
            pv + (line / 2) * c_stride, width, bgr);
}

}  // namespace

void DspInitColour(DspTable *t, bool sse2, bool avx2) {
    t->rgbRow[0] = RgbRowC<3>;
    t->rgbRow[1] = RgbRowC<4>;
#if VT_X86
    if (sse2) {
        t->rgbRow[0] = RgbRowSse2<3>;
        t->rgbRow[1] = RgbRowSse2<4>;
    }
    if (sse2 && avx2) {
        t->rgbRow[0] = RgbRowAvx2<3>;
        t->rgbRow[1] = RgbRowAvx2<4>;
    }
#else
    (void)sse2;
    (void)avx2;
#endif
}

}  // namespace mp4v

extern "C" {

void Mp4vDecYuvToRgb24(const uint8_t *pY, const uint8_t *pU, const uint8_t *pV, int32_t iYStride,
                       int32_t iWidth, int32_t iHeight, uint8_t *pDst, int32_t iDstStride,
                       int32_t iBgr) {
    mp4v::Convert<3>(pY, pU, pV, iYStride, iWidth, iHeight, pDst, iDstStride, iBgr);
}

void Mp4vDecYuvToRgb32(const uint8_t *pY, const uint8_t *pU, const uint8_t *pV, int32_t iYStride,
                       int32_t iWidth, int32_t iHeight, uint8_t *pDst, int32_t iDstStride,
                       int32_t iBgr) {
    mp4v::Convert<4>(pY, pU, pV, iYStride, iWidth, iHeight, pDst, iDstStride, iBgr);
}

}  // extern "C"
