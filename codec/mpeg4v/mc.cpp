// Half-sample motion compensation (14496-2 7.6.2) with rounding control. Frame buffers have no
// border: a fetch that leaves the picture is first gathered into a scratch block with clamped
// coordinates, which gives the same samples as a reference extended by edge replication.
#include <algorithm>
#include <cstring>

#include "codec/mpeg4v/dsp.h"

#if VT_X86
#include <emmintrin.h>
#endif

namespace mp4v {
namespace {

constexpr int kEmuPitch = 24;

template <int W>
void InterpolateC(uint8_t *dst, int dp, const uint8_t *s, int sp, int h, int fx, int fy, int rnd) {
    if (!fx && !fy) {
        for (int y = 0; y < h; ++y, dst += dp, s += sp) std::memcpy(dst, s, W);
    } else if (fx && !fy) {
        int r = 1 - rnd;
        for (int y = 0; y < h; ++y, dst += dp, s += sp)
            for (int x = 0; x < W; ++x) dst[x] = uint8_t((s[x] + s[x + 1] + r) >> 1);
    } else if (!fx && fy) {
        int r = 1 - rnd;
        for (int y = 0; y < h; ++y, dst += dp, s += sp)
            for (int x = 0; x < W; ++x) dst[x] = uint8_t((s[x] + s[x + sp] + r) >> 1);
    } else {
        int r = 2 - rnd;
        for (int y = 0; y < h; ++y, dst += dp, s += sp)
            for (int x = 0; x < W; ++x)
                dst[x] = uint8_t((s[x] + s[x + 1] + s[x + sp] + s[x + sp + 1] + r) >> 2);
    }
}

template <int W>
void AverageC(uint8_t *dst, int dp, const uint8_t *src, int sp, int h) {
    for (int y = 0; y < h; ++y, dst += dp, src += sp)
        for (int x = 0; x < W; ++x) dst[x] = uint8_t((dst[x] + src[x] + 1) >> 1);
}

#if VT_X86
#pragma GCC push_options
#pragma GCC target("sse2")
// 8 or 16 samples per row; results equal InterpolateC.
template <int W>
inline __m128i Load(const uint8_t *p) {
    if constexpr (W == 16) return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    else return _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p));
}
template <int W>
inline void Store(uint8_t *p, __m128i v) {
    if constexpr (W == 16) _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v);
    else _mm_storel_epi64(reinterpret_cast<__m128i *>(p), v);
}

// (a + b + 1 - rnd) >> 1: pavgb rounds up; with rounding control subtract the odd bit.
inline __m128i Avg2(__m128i a, __m128i b, int rnd) {
    __m128i avg = _mm_avg_epu8(a, b);
    if (rnd) avg = _mm_sub_epi8(avg, _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1)));
    return avg;
}

template <int W>
void InterpolateSse2(uint8_t *dst, int dp, const uint8_t *s, int sp, int h, int fx, int fy,
                     int rnd) {
    if (!fx && !fy) {
        for (int y = 0; y < h; ++y, dst += dp, s += sp) Store<W>(dst, Load<W>(s));
    } else if (fx && !fy) {
        for (int y = 0; y < h; ++y, dst += dp, s += sp)
            Store<W>(dst, Avg2(Load<W>(s), Load<W>(s + 1), rnd));
    } else if (!fx && fy) {
        for (int y = 0; y < h; ++y, dst += dp, s += sp)
            Store<W>(dst, Avg2(Load<W>(s), Load<W>(s + sp), rnd));
    } else {
        const __m128i zero = _mm_setzero_si128();
        const __m128i bias = _mm_set1_epi16(int16_t(2 - rnd));
        auto sums = [&](const uint8_t *p, __m128i *lo, __m128i *hi) {
            __m128i a = Load<W>(p), b = Load<W>(p + 1);
            *lo = _mm_add_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero));
            *hi = _mm_add_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero));
        };
        __m128i lo0, hi0;
        sums(s, &lo0, &hi0);
        for (int y = 0; y < h; ++y, dst += dp, s += sp) {
            __m128i lo1, hi1;
            sums(s + sp, &lo1, &hi1);
            __m128i lo = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(lo0, lo1), bias), 2);
            __m128i hi = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(hi0, hi1), bias), 2);
            Store<W>(dst, _mm_packus_epi16(lo, hi));
            lo0 = lo1;
            hi0 = hi1;
        }
    }
}

template <int W>
void AverageSse2(uint8_t *dst, int dp, const uint8_t *src, int sp, int h) {
    for (int y = 0; y < h; ++y, dst += dp, src += sp)
        Store<W>(dst, _mm_avg_epu8(Load<W>(dst), Load<W>(src)));
}
#pragma GCC pop_options
#endif

}  // namespace

void DspInitMc(DspTable *t, bool sse2) {
    t->interpolate[0] = InterpolateC<8>;
    t->interpolate[1] = InterpolateC<16>;
    t->average[0] = AverageC<8>;
    t->average[1] = AverageC<16>;
#if VT_X86
    if (sse2) {
        t->interpolate[0] = InterpolateSse2<8>;
        t->interpolate[1] = InterpolateSse2<16>;
        t->average[0] = AverageSse2<8>;
        t->average[1] = AverageSse2<16>;
    }
#else
    (void)sse2;
#endif
}

void McInterpolateRef(uint8_t *dst, int dp, const uint8_t *s, int sp, int w, int h, int fx, int fy,
                      int rnd) {
    if (w == 16) InterpolateC<16>(dst, dp, s, sp, h, fx, fy, rnd);
    else InterpolateC<8>(dst, dp, s, sp, h, fx, fy, rnd);
}

void McInterpolate(uint8_t *dst, int dp, const uint8_t *s, int sp, int w, int h, int fx, int fy,
                   int rnd) {
    Dsp().interpolate[w == 16](dst, dp, s, sp, h, fx, fy, rnd);
}

// The part of FetchArea for areas that reach outside the plane.
const uint8_t *FetchEdgeArea(const uint8_t *ref, int refPitch, int planeW, int planeH, int ix,
                             int iy, int cols, int rows, uint8_t *emu, int *pitch) {
    // Each row: the edge sample repeated left of the plane, the samples inside, the other edge
    // sample repeated right of it.
    const int n = cols;
    const int left = std::clamp(-ix, 0, n), right = std::clamp(ix + n - planeW, 0, n);
    for (int r = 0; r < rows; ++r) {
        int sy = iy + r;
        sy = sy < 0 ? 0 : sy >= planeH ? planeH - 1 : sy;
        const uint8_t *row = ref + sy * refPitch;
        uint8_t *o = emu + r * kEmuPitch;
        if (left + right <= n) {
            const int mid = n - left - right;
            std::memset(o, row[0], static_cast<size_t>(left));
            if (mid > 0) std::memcpy(o + left, row + ix + left, static_cast<size_t>(mid));
            std::memset(o + left + mid, row[planeW - 1], static_cast<size_t>(right));
        } else {
            for (int c = 0; c < n; ++c) {  // a plane narrower than the block
                int sx = ix + c;
                sx = sx < 0 ? 0 : sx >= planeW ? planeW - 1 : sx;
                o[c] = row[sx];
            }
        }
    }
    *pitch = kEmuPitch;
    return emu;
}

void McPredict(uint8_t *dst, int dstPitch, const uint8_t *ref, int refPitch, int planeW, int planeH,
               int hx, int hy, int w, int h, int rounding, uint8_t *emu) {
    int ix = hx >> 1, iy = hy >> 1, fx = hx & 1, fy = hy & 1;
    int sp;
    // The extra column and row are read only at half-sample positions.
    const uint8_t *src = FetchArea(ref, refPitch, planeW, planeH, ix, iy, w + fx, h + fy, emu, &sp);
    Dsp().interpolate[w == 16](dst, dstPitch, src, sp, h, fx, fy, rounding);
}

void AverageBlock(uint8_t *dst, int dstPitch, const uint8_t *src, int srcPitch, int w, int h) {
    if (w == 16 || w == 8) {
        Dsp().average[w == 16](dst, dstPitch, src, srcPitch, h);
        return;
    }
    for (int y = 0; y < h; ++y, dst += dstPitch, src += srcPitch)
        for (int x = 0; x < w; ++x) dst[x] = uint8_t((dst[x] + src[x] + 1) >> 1);
}

void CopyBlock(uint8_t *dst, int dstPitch, const uint8_t *src, int srcPitch, int w, int h) {
    for (int y = 0; y < h; ++y, dst += dstPitch, src += srcPitch) std::memcpy(dst, src, w);
}

}  // namespace mp4v
