// GMC warping. The warp is brought into one affine form with a power-of-two divisor: the
// trajectory's second and third points are first moved to the "virtual" points W' and H' (the
// powers of two at or above the layer's size), so the per-sample positions need a shift rather
// than a division. The per-block warp is a kernel of the table (dsp.h).
#include "codec/mpeg4v/gmc.h"

#include <cstdint>
#include <cstring>

#include "codec/mpeg4v/dsp.h"

#if VT_X86
#include <immintrin.h>
#endif

namespace mp4v {
namespace {

// Integer division rounding halves away from zero (the standard's "//").
int64_t RoundedDiv(int64_t a, int64_t b) { return (a >= 0 ? a + b / 2 : a - b / 2) / b; }

inline int Clamp(int64_t v, int hi) { return v < 0 ? 0 : v > hi ? hi : int(v); }

// Whether every tap of an n x n block lies inside the plane. The map is affine, so its corners
// bound the block's source positions.
bool TapsInside(const WarpParams &w, int n, int planeW, int planeH) {
    const int bits = w.accuracy + 1;
    int64_t lo[2] = {INT64_MAX, INT64_MAX}, hi[2] = {INT64_MIN, INT64_MIN};
    for (int corner = 0; corner < 4; ++corner) {
        const int i = (corner & 1) * (n - 1), j = (corner >> 1) * (n - 1);
        const int64_t p[2] = {((w.x0 + w.dxx * i + w.dxy * j) >> w.shift) >> bits,
                              ((w.y0 + w.dyx * i + w.dyy * j) >> w.shift) >> bits};
        for (int k = 0; k < 2; ++k) {
            lo[k] = p[k] < lo[k] ? p[k] : lo[k];
            hi[k] = p[k] > hi[k] ? p[k] : hi[k];
        }
    }
    return lo[0] >= 0 && lo[1] >= 0 && hi[0] + 1 < planeW && hi[1] + 1 < planeH;
}

// One plane's block through the warp; x0/y0 are the scaled positions of its top-left sample.
template <int N>
void WarpC(const uint8_t *ref, int pitch, int planeW, int planeH, uint8_t *dst, int dp,
           const WarpParams &w) {
    const int64_t x0 = w.x0, y0 = w.y0, dxx = w.dxx, dxy = w.dxy, dyx = w.dyx, dyy = w.dyy;
    const int shift = w.shift;
    const int bits = w.accuracy + 1;
    const int s = 1 << bits;
    const int round = (1 << (2 * bits - 1)) - w.rounding;
    // When every tap lies inside the plane the samples are read without clamping.
    if (TapsInside(w, N, planeW, planeH)) {
        for (int j = 0; j < N; ++j) {
            int64_t vx = x0 + dxy * j, vy = y0 + dyy * j;
            for (int i = 0; i < N; ++i, vx += dxx, vy += dyx) {
                const int px = int(vx >> shift), py = int(vy >> shift);
                const int fx = px & (s - 1), fy = py & (s - 1);
                const uint8_t *a = ref + (py >> bits) * pitch + (px >> bits);
                const int top = (s - fx) * a[0] + fx * a[1];
                const int bottom = (s - fx) * a[pitch] + fx * a[pitch + 1];
                dst[j * dp + i] = uint8_t(((s - fy) * top + fy * bottom + round) >> (2 * bits));
            }
        }
        return;
    }
    for (int j = 0; j < N; ++j) {
        int64_t vx = x0 + dxy * j, vy = y0 + dyy * j;
        for (int i = 0; i < N; ++i, vx += dxx, vy += dyx) {
            int64_t px = vx >> shift, py = vy >> shift;
            int fx = int(px & (s - 1)), fy = int(py & (s - 1));
            int64_t ix = px >> bits, iy = py >> bits;
            // Clamping each tap's coordinate equals reading a reference extended by
            // replicating its edges.
            int xa = Clamp(ix, planeW - 1), xb = Clamp(ix + 1, planeW - 1);
            const uint8_t *ra = ref + Clamp(iy, planeH - 1) * pitch;
            const uint8_t *rb = ref + Clamp(iy + 1, planeH - 1) * pitch;
            int top = (s - fx) * ra[xa] + fx * ra[xb];
            int bottom = (s - fx) * rb[xa] + fx * rb[xb];
            dst[j * dp + i] = uint8_t(((s - fy) * top + fy * bottom + round) >> (2 * bits));
        }
    }
}

#if VT_X86
VT_SSE2 inline __m128i Clamp16(__m128i v, __m128i hi) {
    return _mm_min_epi16(_mm_max_epi16(v, _mm_setzero_si128()), hi);
}

// The two horizontally neighbouring taps at p, as one 16-bit lane.
inline int Pair(const uint8_t *p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

// Lanes K..7 of the tap pairs at off[] (top) and one row below (bottom), inserted straight
// into the registers.
template <int K>
VT_SSE2 inline void Gather(__m128i &t, __m128i &b, const uint8_t *ref, const int32_t *off,
                           int pitch) {
    if constexpr (K < 8) {
        t = _mm_insert_epi16(t, Pair(ref + off[K]), K);
        b = _mm_insert_epi16(b, Pair(ref + off[K] + pitch), K);
        Gather<K + 1>(t, b, ref, off, pitch);
    }
}

// Whether the vector versions may work on the block: every position fits 32 bits (the map is
// affine, so its corners tell), and the plane's sizes fit 16 bits.
bool Fits32(const WarpParams &w, int n, int pitch, int planeW, int planeH) {
    if (pitch >= 32768 || planeW >= 32768 || planeH >= 32768) return false;
    for (int corner = 0; corner < 4; ++corner) {
        const int i = (corner & 1) * (n - 1), j = (corner >> 1) * (n - 1);
        const int64_t vx = w.x0 + w.dxx * i + w.dxy * j, vy = w.y0 + w.dyx * i + w.dyy * j;
        if (vx < INT32_MIN || vx > INT32_MAX || vy < INT32_MIN || vy > INT32_MAX) return false;
    }
    return true;
}

// Eight samples of a row at a time: the positions in 32-bit lanes (when the block's positions
// all fit 32 bits, which its corners tell), the taps gathered in pairs, and both interpolation
// steps as multiply-adds of 16-bit pairs (a tap times its weight is at most 255 * 16, a row
// result at most 16 * 4080). Coordinates are brought into 16 bits with saturation, which
// changes no clamped coordinate (planes are narrower than 2^15). Results equal WarpC's.
template <int N>
VT_SSE2 void WarpSse2(const uint8_t *ref, int pitch, int planeW, int planeH, uint8_t *dst, int dp,
                      const WarpParams &w) {
    if (!Fits32(w, N, pitch, planeW, planeH)) {
        WarpC<N>(ref, pitch, planeW, planeH, dst, dp, w);
        return;
    }
    const bool inside = TapsInside(w, N, planeW, planeH);
    const int bits = w.accuracy + 1;
    const int s = 1 << bits;
    const __m128i shift = _mm_cvtsi32_si128(w.shift), bitsv = _mm_cvtsi32_si128(bits);
    const __m128i frac = _mm_set1_epi32(s - 1), sv = _mm_set1_epi16(int16_t(s));
    const __m128i round = _mm_set1_epi32((1 << (2 * bits - 1)) - w.rounding);
    const __m128i outShift = _mm_cvtsi32_si128(2 * bits);
    const __m128i pitch1 = _mm_set1_epi32(int32_t(uint32_t(pitch) | 1u << 16));  // (pitch, 1)
    const __m128i maxX = _mm_set1_epi16(int16_t(planeW - 1)),
                  maxY = _mm_set1_epi16(int16_t(planeH - 1));
    const __m128i one16 = _mm_set1_epi16(1), zero = _mm_setzero_si128();
    // Positions of the first row's samples (wrapping 32-bit arithmetic is exact here: every
    // true value fits); each row adds dxy and dyy.
    __m128i vx[N / 4], vy[N / 4];
    for (int g = 0; g < N / 4; ++g) {
        int32_t lx[4], ly[4];
        for (int k = 0; k < 4; ++k) {
            lx[k] = int32_t(uint32_t(uint64_t(w.x0 + w.dxx * (4 * g + k))));
            ly[k] = int32_t(uint32_t(uint64_t(w.y0 + w.dyx * (4 * g + k))));
        }
        vx[g] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(lx));
        vy[g] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(ly));
    }
    const __m128i stepX = _mm_set1_epi32(int32_t(uint32_t(uint64_t(w.dxy))));
    const __m128i stepY = _mm_set1_epi32(int32_t(uint32_t(uint64_t(w.dyy))));
    for (int j = 0; j < N; ++j, dst += dp) {
        for (int h = 0; h < N / 8; ++h) {
            __m128i fx[2], fy[2], ix[2], iy[2];
            for (int k = 0; k < 2; ++k) {
                const __m128i px = _mm_sra_epi32(vx[2 * h + k], shift);
                const __m128i py = _mm_sra_epi32(vy[2 * h + k], shift);
                fx[k] = _mm_and_si128(px, frac);
                fy[k] = _mm_and_si128(py, frac);
                ix[k] = _mm_sra_epi32(px, bitsv);
                iy[k] = _mm_sra_epi32(py, bitsv);
            }
            const __m128i fx16 = _mm_packs_epi32(fx[0], fx[1]),
                          fy16 = _mm_packs_epi32(fy[0], fy[1]);
            const __m128i ix16 = _mm_packs_epi32(ix[0], ix[1]),
                          iy16 = _mm_packs_epi32(iy[0], iy[1]);
            __m128i t, b;
            if (inside) {
                alignas(16) int32_t off[8];
                _mm_store_si128(reinterpret_cast<__m128i *>(off),
                                _mm_madd_epi16(_mm_unpacklo_epi16(iy16, ix16), pitch1));
                _mm_store_si128(reinterpret_cast<__m128i *>(off + 4),
                                _mm_madd_epi16(_mm_unpackhi_epi16(iy16, ix16), pitch1));
                t = _mm_cvtsi32_si128(Pair(ref + off[0]));
                b = _mm_cvtsi32_si128(Pair(ref + off[0] + pitch));
                Gather<1>(t, b, ref, off, pitch);
            } else {
                alignas(16) uint16_t top[8], bottom[8];
                alignas(16) int16_t xa[8], xb[8];
                alignas(16) int32_t ra[8], rb[8];
                _mm_store_si128(reinterpret_cast<__m128i *>(xa), Clamp16(ix16, maxX));
                _mm_store_si128(reinterpret_cast<__m128i *>(xb),
                                Clamp16(_mm_adds_epi16(ix16, one16), maxX));
                const __m128i ya = Clamp16(iy16, maxY);
                const __m128i yb = Clamp16(_mm_adds_epi16(iy16, one16), maxY);
                _mm_store_si128(reinterpret_cast<__m128i *>(ra),
                                _mm_madd_epi16(_mm_unpacklo_epi16(ya, zero), pitch1));
                _mm_store_si128(reinterpret_cast<__m128i *>(ra + 4),
                                _mm_madd_epi16(_mm_unpackhi_epi16(ya, zero), pitch1));
                _mm_store_si128(reinterpret_cast<__m128i *>(rb),
                                _mm_madd_epi16(_mm_unpacklo_epi16(yb, zero), pitch1));
                _mm_store_si128(reinterpret_cast<__m128i *>(rb + 4),
                                _mm_madd_epi16(_mm_unpackhi_epi16(yb, zero), pitch1));
                for (int k = 0; k < 8; ++k) {
                    const uint8_t *a = ref + ra[k], *c = ref + rb[k];
                    top[k] = uint16_t(a[xa[k]] | a[xb[k]] << 8);
                    bottom[k] = uint16_t(c[xa[k]] | c[xb[k]] << 8);
                }
                t = _mm_load_si128(reinterpret_cast<const __m128i *>(top));
                b = _mm_load_si128(reinterpret_cast<const __m128i *>(bottom));
            }
            // Weight pairs (s - f, f) per sample.
            const __m128i wx0 = _mm_unpacklo_epi16(_mm_sub_epi16(sv, fx16), fx16);
            const __m128i wx1 = _mm_unpackhi_epi16(_mm_sub_epi16(sv, fx16), fx16);
            const __m128i wy0 = _mm_unpacklo_epi16(_mm_sub_epi16(sv, fy16), fy16);
            const __m128i wy1 = _mm_unpackhi_epi16(_mm_sub_epi16(sv, fy16), fy16);
            const __m128i rowTop = _mm_packs_epi32(_mm_madd_epi16(_mm_unpacklo_epi8(t, zero), wx0),
                                                   _mm_madd_epi16(_mm_unpackhi_epi8(t, zero), wx1));
            const __m128i rowBottom =
                _mm_packs_epi32(_mm_madd_epi16(_mm_unpacklo_epi8(b, zero), wx0),
                                _mm_madd_epi16(_mm_unpackhi_epi8(b, zero), wx1));
            const __m128i lo = _mm_sra_epi32(
                _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(rowTop, rowBottom), wy0), round),
                outShift);
            const __m128i hi = _mm_sra_epi32(
                _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(rowTop, rowBottom), wy1), round),
                outShift);
            const __m128i out = _mm_packs_epi32(lo, hi);
            _mm_storel_epi64(reinterpret_cast<__m128i *>(dst + 8 * h), _mm_packus_epi16(out, out));
        }
        for (int g = 0; g < N / 4; ++g) {
            vx[g] = _mm_add_epi32(vx[g], stepX);
            vy[g] = _mm_add_epi32(vy[g], stepY);
        }
    }
}

// Eight samples of a row to a register: the positions in 32-bit lanes as in WarpSse2, the taps
// fetched with two gathers of 32 bits (top pair and bottom pair), both steps as multiply-adds.
// Only blocks whose taps all lie inside the plane; the others go to WarpSse2. A gather reads
// the two bytes before its pair (the top pair of the plane's first two samples excepted, which
// reads the two after it), so nothing outside the plane is read.
template <int N>
VT_AVX2 void WarpAvx2(const uint8_t *ref, int pitch, int planeW, int planeH, uint8_t *dst, int dp,
                      const WarpParams &w) {
    if (!Fits32(w, N, pitch, planeW, planeH) || !TapsInside(w, N, planeW, planeH)) {
        WarpSse2<N>(ref, pitch, planeW, planeH, dst, dp, w);
        return;
    }
    const int bits = w.accuracy + 1;
    const int s = 1 << bits;
    const __m128i shift = _mm_cvtsi32_si128(w.shift), bitsv = _mm_cvtsi32_si128(bits);
    const __m128i outShift = _mm_cvtsi32_si128(2 * bits);
    const __m256i frac = _mm256_set1_epi32(s - 1), sv = _mm256_set1_epi32(s);
    const __m256i round = _mm256_set1_epi32((1 << (2 * bits - 1)) - w.rounding);
    const __m256i pitchv = _mm256_set1_epi32(pitch), one = _mm256_set1_epi32(1);
    const __m256i two = _mm256_set1_epi32(2), below = _mm256_set1_epi32(pitch - 2);
    // Bytes 0 and 1 of each lane to its two 16-bit halves; bytes 2 and 3 likewise.
    const __m256i low = _mm256_setr_epi8(0, -1, 1, -1, 4, -1, 5, -1, 8, -1, 9, -1, 12, -1, 13, -1,
                                         0, -1, 1, -1, 4, -1, 5, -1, 8, -1, 9, -1, 12, -1, 13, -1);
    const __m256i high =
        _mm256_setr_epi8(2, -1, 3, -1, 6, -1, 7, -1, 10, -1, 11, -1, 14, -1, 15, -1, 2, -1, 3, -1,
                         6, -1, 7, -1, 10, -1, 11, -1, 14, -1, 15, -1);
    const int *base = reinterpret_cast<const int *>(ref);
    __m256i vx[N / 8], vy[N / 8];
    for (int g = 0; g < N / 8; ++g) {
        alignas(32) int32_t lx[8], ly[8];
        for (int k = 0; k < 8; ++k) {
            lx[k] = int32_t(uint32_t(uint64_t(w.x0 + w.dxx * (8 * g + k))));
            ly[k] = int32_t(uint32_t(uint64_t(w.y0 + w.dyx * (8 * g + k))));
        }
        vx[g] = _mm256_load_si256(reinterpret_cast<const __m256i *>(lx));
        vy[g] = _mm256_load_si256(reinterpret_cast<const __m256i *>(ly));
    }
    const __m256i stepX = _mm256_set1_epi32(int32_t(uint32_t(uint64_t(w.dxy))));
    const __m256i stepY = _mm256_set1_epi32(int32_t(uint32_t(uint64_t(w.dyy))));
    for (int j = 0; j < N; ++j, dst += dp) {
        __m256i res[2];
        for (int g = 0; g < N / 8; ++g) {
            const __m256i px = _mm256_sra_epi32(vx[g], shift);
            const __m256i py = _mm256_sra_epi32(vy[g], shift);
            const __m256i fx = _mm256_and_si256(px, frac), fy = _mm256_and_si256(py, frac);
            const __m256i off =
                _mm256_add_epi32(_mm256_mullo_epi32(_mm256_sra_epi32(py, bitsv), pitchv),
                                 _mm256_sra_epi32(px, bitsv));
            // Top pairs at off >= 2 are read from off - 2 and sit in bytes 2 and 3.
            const __m256i back = _mm256_cmpgt_epi32(off, one);
            const __m256i top =
                _mm256_i32gather_epi32(base, _mm256_sub_epi32(off, _mm256_and_si256(back, two)), 1);
            const __m256i topPairs = _mm256_blendv_epi8(_mm256_shuffle_epi8(top, low),
                                                        _mm256_shuffle_epi8(top, high), back);
            const __m256i bottomPairs = _mm256_shuffle_epi8(
                _mm256_i32gather_epi32(base, _mm256_add_epi32(off, below), 1), high);
            // Weight pairs (s - f, f) per sample.
            const __m256i wx = _mm256_or_si256(_mm256_sub_epi32(sv, fx), _mm256_slli_epi32(fx, 16));
            const __m256i wy = _mm256_or_si256(_mm256_sub_epi32(sv, fy), _mm256_slli_epi32(fy, 16));
            const __m256i rows =
                _mm256_or_si256(_mm256_madd_epi16(topPairs, wx),
                                _mm256_slli_epi32(_mm256_madd_epi16(bottomPairs, wx), 16));
            res[g] =
                _mm256_srl_epi32(_mm256_add_epi32(_mm256_madd_epi16(rows, wy), round), outShift);
            vx[g] = _mm256_add_epi32(vx[g], stepX);
            vy[g] = _mm256_add_epi32(vy[g], stepY);
        }
        // Lanes A0-3 B0-3 | A4-7 B4-7 as bytes, then in order.
        const __m256i words = _mm256_packs_epi32(res[0], res[N / 8 - 1]);
        const __m256i bytes = _mm256_permutevar8x32_epi32(
            _mm256_packus_epi16(words, words), _mm256_setr_epi32(0, 4, 1, 5, 0, 0, 0, 0));
        if constexpr (N == 16)
            _mm_storeu_si128(reinterpret_cast<__m128i *>(dst), _mm256_castsi256_si128(bytes));
        else _mm_storel_epi64(reinterpret_cast<__m128i *>(dst), _mm256_castsi256_si128(bytes));
    }
}
#endif

}  // namespace

void SetupGmcWarp(GmcWarp *g, int width, int height, int points, int accuracy,
                  const int16_t (*traj)[2]) {
    const int64_t s = 2 << accuracy;
    const int rho = 3 - accuracy;
    const int64_t r = 16 / s;
    int alpha = 0, beta = 0;
    while ((int64_t(1) << alpha) < width) ++alpha;
    while ((int64_t(1) << beta) < height) ++beta;
    const int64_t W = width, H = height, Wv = int64_t(1) << alpha, Hv = int64_t(1) << beta;
    int du[3] = {0, 0, 0}, dv[3] = {0, 0, 0};
    for (int k = 0; k < points && k < 3; ++k) {
        du[k] = traj[k][0];
        dv[k] = traj[k][1];
    }
    // Sprite points in 1/s sample for the reference points (0,0), (W,0) and (0,H).
    const int64_t i0 = s / 2 * du[0], j0 = s / 2 * dv[0];
    const int64_t i1 = s / 2 * (2 * W + du[0] + du[1]), j1 = s / 2 * (dv[0] + dv[1]);
    const int64_t i2 = s / 2 * (du[0] + du[2]), j2 = s / 2 * (2 * H + dv[0] + dv[2]);
    // Virtual points in 1/16 sample.
    const int64_t i1v = 16 * Wv + RoundedDiv((W - Wv) * r * i0 + Wv * (r * i1 - 16 * W), W);
    const int64_t j1v = RoundedDiv((W - Wv) * r * j0 + Wv * r * j1, W);
    const int64_t i2v = RoundedDiv((H - Hv) * r * i0 + Hv * r * i2, H);
    const int64_t j2v = 16 * Hv + RoundedDiv((H - Hv) * r * j0 + Hv * (r * j2 - 16 * H), H);

    g->accuracy = accuracy;
    if (points <= 1) {
        // No point: the reference as it is; one point: a translation by i0, j0. Chroma takes
        // half the translation with the odd remainder pushed outward.
        g->offX = points ? i0 : 0;
        g->offY = points ? j0 : 0;
        g->cOffX = (g->offX >> 1) | (g->offX & 1);
        g->cOffY = (g->offY >> 1) | (g->offY & 1);
        g->dxx = g->dyy = g->cdxx = g->cdyy = s;
        g->dxy = g->dyx = g->cdxy = g->cdyx = 0;
        g->shift = g->cShift = 0;
        return;
    }
    int64_t k;  // W' (two points) or W'H'/min: the divisor of the affine terms over r
    if (points == 2) {
        g->shift = alpha + rho;
        k = Wv;
        g->dxx = i1v - r * i0;
        g->dxy = r * j0 - j1v;
        g->dyx = j1v - r * j0;
        g->dyy = i1v - r * i0;
    } else {
        const int m = alpha < beta ? alpha : beta;
        const int64_t w3 = Wv >> m, h3 = Hv >> m;
        g->shift = alpha + beta + rho - m;
        k = Wv * h3;
        g->dxx = (i1v - r * i0) * h3;
        g->dxy = (i2v - r * i0) * w3;
        g->dyx = (j1v - r * j0) * h3;
        g->dyy = (j2v - r * j0) * w3;
    }
    const int64_t unit = int64_t(1) << g->shift;
    g->offX = i0 * unit + unit / 2;
    g->offY = j0 * unit + unit / 2;
    // Chroma sample (ic, jc) sits at luma (2ic + 1/2, 2jc + 1/2): quarter-sample luma steps of
    // the same deltas, two more bits of shift.
    g->cShift = g->shift + 2;
    g->cOffX = g->dxx + g->dxy + 2 * i0 * unit - 16 * k + 2 * unit;
    g->cOffY = g->dyx + g->dyy + 2 * j0 * unit - 16 * k + 2 * unit;
    g->cdxx = 4 * g->dxx;
    g->cdxy = 4 * g->dxy;
    g->cdyx = 4 * g->dyx;
    g->cdyy = 4 * g->dyy;
}

WarpParams GmcBlockWarp(const GmcWarp &g, int mbx, int mby, bool chroma, int rounding) {
    if (chroma) {
        const int64_t cx = 8 * mbx, cy = 8 * mby;
        return {g.cOffX + g.cdxx * cx + g.cdxy * cy,
                g.cOffY + g.cdyx * cx + g.cdyy * cy,
                g.cdxx,
                g.cdxy,
                g.cdyx,
                g.cdyy,
                g.cShift,
                g.accuracy,
                rounding};
    }
    const int64_t lx = 16 * mbx, ly = 16 * mby;
    return {g.offX + g.dxx * lx + g.dxy * ly,
            g.offY + g.dyx * lx + g.dyy * ly,
            g.dxx,
            g.dxy,
            g.dyx,
            g.dyy,
            g.shift,
            g.accuracy,
            rounding};
}

void GmcPredictMb(const GmcWarp &g, const uint8_t *refY, const uint8_t *refU, const uint8_t *refV,
                  int pitch, int planeW, int planeH, int mbx, int mby, int rounding, uint8_t *dy,
                  uint8_t *du, uint8_t *dv, int dp, int dcp) {
    const DspTable &dsp = Dsp();
    dsp.warp[1](refY, pitch, planeW, planeH, dy, dp, GmcBlockWarp(g, mbx, mby, false, rounding));
    const WarpParams chroma = GmcBlockWarp(g, mbx, mby, true, rounding);
    for (int p = 0; p < 2; ++p)
        dsp.warp[0](p ? refV : refU, pitch / 2, planeW / 2, planeH / 2, p ? dv : du, dcp, chroma);
}

void GmcAverageVector(const GmcWarp &g, int mbx, int mby, bool quarterSample, int fcode, int *vx,
                      int *vy) {
    const int64_t s = 2 << g.accuracy;
    int64_t sum[2] = {0, 0};
    for (int j = 0; j < 16; ++j) {
        const int64_t py = 16 * mby + j;
        for (int i = 0; i < 16; ++i) {
            const int64_t px = 16 * mbx + i;
            sum[0] += ((g.offX + g.dxx * px + g.dxy * py) >> g.shift) - s * px;
            sum[1] += ((g.offY + g.dyx * px + g.dyy * py) >> g.shift) - s * py;
        }
    }
    // From 1/s sample summed over 256 samples to half (or quarter) sample units.
    const int bits = g.accuracy + 8 - (quarterSample ? 1 : 0);
    const int64_t half = int64_t(1) << (bits - 1);
    const int64_t range = int64_t(32) << (fcode - 1);
    int out[2];
    for (int n = 0; n < 2; ++n) {
        int64_t v = sum[n] > 0 ? (sum[n] + half) >> bits : (sum[n] + half - 1) >> bits;
        if (v < -range) v = -range;
        if (v >= range) v = range - 1;
        out[n] = int(v);
    }
    *vx = out[0];
    *vy = out[1];
}

void DspInitGmc(DspTable *t, bool sse2, bool avx2) {
    t->warp[0] = WarpC<8>;
    t->warp[1] = WarpC<16>;
#if VT_X86
    if (sse2) {
        t->warp[0] = WarpSse2<8>;
        t->warp[1] = WarpSse2<16>;
    }
    if (sse2 && avx2) {
        t->warp[0] = WarpAvx2<8>;
        t->warp[1] = WarpAvx2<16>;
    }
#else
    (void)sse2;
    (void)avx2;
#endif
}

}  // namespace mp4v
