// Quarter-sample motion compensation (14496-2 7.6.2.1). The 8-tap filter works on the block's own
// (N+1) x (N+1) reference area: taps that fall outside it take the mirrored samples of that
// area, so a 16x16 prediction differs from four 8x8 predictions with the same vector. The
// prediction is separable: every needed row is first brought to the horizontal phase, then the
// columns of that result to the vertical phase; quarter phases average the half-sample value with
// the nearer whole sample.
#include <cstring>

#include "codec/mpeg4v/dsp.h"

#if VT_X86
#include <emmintrin.h>
#endif
#include "codec/mpeg4v/qpel.h"

namespace mp4v {
namespace {

inline uint8_t Clip(int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

// Half-sample value between s[i] and s[i+1] of a line of n+1 samples (s[0..n]) with stride st;
// indices beyond the line mirror back into it.
template <int N>
inline int Tap8(const uint8_t *s, int st, int i, int bias) {
    auto at = [&](int k) {
        k = k < 0 ? -1 - k : k > N ? 2 * N + 1 - k : k;
        return int(s[k * st]);
    };
    int v = 20 * (at(i) + at(i + 1)) - 6 * (at(i - 1) + at(i + 2)) + 3 * (at(i - 2) + at(i + 3)) -
            (at(i - 3) + at(i + 4));
    return (v + bias) >> 5;
}

// Interior taps (no mirroring needed) for speed.
inline int Tap8Direct(const uint8_t *s, int st, int i, int bias) {
    const uint8_t *p = s + i * st;
    int v = 20 * (p[0] + p[st]) - 6 * (p[-st] + p[2 * st]) + 3 * (p[-2 * st] + p[3 * st]) -
            (p[-3 * st] + p[4 * st]);
    return (v + bias) >> 5;
}

// One line of N outputs at phase f (0..3) from N+1 inputs.
template <int N>
inline void FilterLine(uint8_t *out, int ost, const uint8_t *s, int st, int f, int rnd) {
    const int bias = 16 - rnd;
    const int r = 1 - rnd;
    for (int i = 0; i < N; ++i) {
        int h = (i >= 3 && i + 4 <= N) ? Tap8Direct(s, st, i, bias) : Tap8<N>(s, st, i, bias);
        int hv = Clip(h);
        int v;
        if (f == 2) v = hv;
        else if (f == 1) v = (s[i * st] + hv + r) >> 1;
        else v = (s[(i + 1) * st] + hv + r) >> 1;
        out[i * ost] = uint8_t(v);
    }
}

template <int W, int H>
void Qpel(uint8_t *dst, int dp, const uint8_t *src, int sp, int fx, int fy, int rnd) {
    // Rows after the horizontal step: H+1 of them when the vertical step needs the extra one.
    uint8_t mid[(H + 1) * W];
    const int rowsNeeded = fy ? H + 1 : H;
    const uint8_t *m;
    int mp;
    if (fx) {
        for (int r = 0; r < rowsNeeded; ++r)
            FilterLine<W>(mid + r * W, 1, src + r * sp, 1, fx, rnd);
        m = mid;
        mp = W;
    } else {
        m = src;
        mp = sp;
    }
    if (fy) {
        for (int c = 0; c < W; ++c) FilterLine<H>(dst + c, dp, m + c, mp, fy, rnd);
    } else {
        for (int r = 0; r < H; ++r) std::memcpy(dst + r * dp, m + r * mp, W);
    }
}

void QpelPairC(uint8_t *dst, int dp, const uint8_t *src, int sp, int fx, int fy, int rnd) {
    Qpel<8, 8>(dst, dp, src, sp, fx, fy, rnd);
    Qpel<8, 8>(dst + 8, dp, src + 8, sp, fx, fy, rnd);
}

#if VT_X86
#pragma GCC push_options
#pragma GCC target("sse2")
// The same filter on whole rows: the horizontal step pads each row with its mirrored samples so
// every tap is a plain load, and the vertical step runs over rows picked through a mirrored row
// table, so both work on W samples at once in 16-bit lanes (the sums stay within -3570..11730).
template <int W>
inline __m128i LoadW(const uint8_t *p) {
    if constexpr (W == 16) return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    else return _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p));
}
template <int W>
inline void StoreW(uint8_t *p, __m128i v) {
    if constexpr (W == 16) _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v);
    else _mm_storel_epi64(reinterpret_cast<__m128i *>(p), v);
}

// Eight taps over 16-bit lanes u[0..7].
inline __m128i Taps16(const __m128i *u, __m128i bias) {
    __m128i c20 = _mm_add_epi16(u[3], u[4]);
    __m128i c6 = _mm_add_epi16(u[2], u[5]);
    __m128i c3 = _mm_add_epi16(u[1], u[6]);
    __m128i c1 = _mm_add_epi16(u[0], u[7]);
    __m128i v = _mm_mullo_epi16(c20, _mm_set1_epi16(20));
    v = _mm_sub_epi16(v, _mm_mullo_epi16(c6, _mm_set1_epi16(6)));
    v = _mm_add_epi16(v, _mm_mullo_epi16(c3, _mm_set1_epi16(3)));
    v = _mm_sub_epi16(v, c1);
    return _mm_srai_epi16(_mm_add_epi16(v, bias), 5);
}

// Eight taps over t[0..7] (each W samples), clipped to 8 bits.
template <int W>
inline __m128i Taps(const __m128i *t, __m128i bias) {
    const __m128i zero = _mm_setzero_si128();
    __m128i u[8];
    for (int k = 0; k < 8; ++k) u[k] = _mm_unpacklo_epi8(t[k], zero);
    __m128i lo = Taps16(u, bias);
    __m128i hi = zero;
    if constexpr (W == 16) {
        for (int k = 0; k < 8; ++k) u[k] = _mm_unpackhi_epi8(t[k], zero);
        hi = Taps16(u, bias);
    }
    return _mm_packus_epi16(lo, hi);
}

// The horizontal taps of one row: t[k] holds the row's samples s[i + k - 3] for the W outputs i,
// indices mirrored into 0 .. N. The mirrored row is put together in registers: going through a
// padded copy in memory made every tap load wait on the byte stores that built it.
inline uint64_t Load64(const uint8_t *p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}
inline uint32_t Load32(const uint8_t *p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// 8 outputs from s[0..8]: the padded row is exactly 16 bytes, s2 s1 s0 s0..s8 s8 s7 s6 s5.
inline __m128i MirrorRow8(const uint8_t *s) {
    const uint64_t a = Load64(s);
    const uint64_t lo = (a << 24) | uint64_t(s[0]) << 16 | uint64_t(s[1]) << 8 | s[2];
    const uint64_t hi = (a >> 40) | uint64_t(s[8]) << 24 | uint64_t(s[8]) << 32 |
                        uint64_t(s[7]) << 40 | uint64_t(s[6]) << 48 | uint64_t(s[5]) << 56;
    return _mm_set_epi64x(int64_t(hi), int64_t(lo));
}

template <int K>
inline __m128i TapAt16(__m128i a, __m128i b) {
    if constexpr (K == 0) return a;
    else return _mm_or_si128(_mm_srli_si128(a, K), _mm_slli_si128(b, 16 - K));
}

template <int W, bool Pair>
inline void RowTaps(const uint8_t *s, __m128i *t) {
    if constexpr (Pair) {
        const __m128i l = MirrorRow8(s), r = MirrorRow8(s + 8);
        t[0] = _mm_unpacklo_epi64(l, r);
        t[1] = _mm_unpacklo_epi64(_mm_srli_si128(l, 1), _mm_srli_si128(r, 1));
        t[2] = _mm_unpacklo_epi64(_mm_srli_si128(l, 2), _mm_srli_si128(r, 2));
        t[3] = _mm_unpacklo_epi64(_mm_srli_si128(l, 3), _mm_srli_si128(r, 3));
        t[4] = _mm_unpacklo_epi64(_mm_srli_si128(l, 4), _mm_srli_si128(r, 4));
        t[5] = _mm_unpacklo_epi64(_mm_srli_si128(l, 5), _mm_srli_si128(r, 5));
        t[6] = _mm_unpacklo_epi64(_mm_srli_si128(l, 6), _mm_srli_si128(r, 6));
        t[7] = _mm_unpacklo_epi64(_mm_srli_si128(l, 7), _mm_srli_si128(r, 7));
    } else if constexpr (W == 8) {
        const __m128i p = MirrorRow8(s);
        t[0] = p;
        t[1] = _mm_srli_si128(p, 1);
        t[2] = _mm_srli_si128(p, 2);
        t[3] = _mm_srli_si128(p, 3);
        t[4] = _mm_srli_si128(p, 4);
        t[5] = _mm_srli_si128(p, 5);
        t[6] = _mm_srli_si128(p, 6);
        t[7] = _mm_srli_si128(p, 7);
    } else {
        // 16 outputs from s[0..16]: 24 padded bytes, s2 s1 s0 s0..s16 s16 s15 s14 s13.
        const __m128i mid = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s));
        const __m128i a =
            _mm_or_si128(_mm_slli_si128(mid, 3),
                         _mm_cvtsi32_si128(int(uint32_t(s[0]) << 16 | uint32_t(s[1]) << 8 | s[2])));
        const uint64_t tail = uint64_t(Load32(s + 13)) | uint64_t(s[16]) << 32 |
                              uint64_t(s[15]) << 40 | uint64_t(s[14]) << 48 | uint64_t(s[13]) << 56;
        const __m128i b = _mm_set_epi64x(0, int64_t(tail));
        t[0] = a;
        t[1] = TapAt16<1>(a, b);
        t[2] = TapAt16<2>(a, b);
        t[3] = TapAt16<3>(a, b);
        t[4] = TapAt16<4>(a, b);
        t[5] = TapAt16<5>(a, b);
        t[6] = TapAt16<6>(a, b);
        t[7] = TapAt16<7>(a, b);
    }
}

// (a + b + 1 - rnd) >> 1
inline __m128i Average(__m128i a, __m128i b, int rnd) {
    __m128i avg = _mm_avg_epu8(a, b);
    if (rnd) avg = _mm_sub_epi8(avg, _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1)));
    return avg;
}

// Pair: two 8x8 blocks side by side with the same vector, each mirrored at its own edges, in
// one 16-wide pass (the vertical step is the same for both).
template <int W, int H, bool Pair = false>
void QpelSse2(uint8_t *dst, int dp, const uint8_t *src, int sp, int fx, int fy, int rnd) {
    const __m128i bias = _mm_set1_epi16(int16_t(16 - rnd));
    uint8_t mid[(H + 1) * W];
    const int rowsNeeded = fy ? H + 1 : H;
    const uint8_t *m = src;
    int mp = sp;
    if (fx) {
        for (int r = 0; r < rowsNeeded; ++r) {
            __m128i t[8];
            RowTaps<W, Pair>(src + r * sp, t);
            __m128i h = Taps<W>(t, bias);
            if (fx == 1) h = Average(t[3], h, rnd);
            else if (fx == 3) h = Average(t[4], h, rnd);
            // Without a vertical step the rows go straight to the destination.
            if (fy) StoreW<W>(mid + r * W, h);
            else StoreW<W>(dst + r * dp, h);
        }
        if (!fy) return;
        m = mid;
        mp = W;
    }
    if (!fy) {
        for (int r = 0; r < H; ++r) StoreW<W>(dst + r * dp, LoadW<W>(m + r * mp));
        return;
    }
    const uint8_t *rows[H + 8];
    for (int k = -3; k <= H + 4; ++k)
        rows[3 + k] = m + (k < 0 ? -1 - k : k > H ? 2 * H + 1 - k : k) * mp;
    for (int r = 0; r < H; ++r) {
        __m128i t[8];
        for (int k = 0; k < 8; ++k) t[k] = LoadW<W>(rows[r + k]);
        __m128i v = Taps<W>(t, bias);
        if (fy == 1) v = Average(t[3], v, rnd);
        else if (fy == 3) v = Average(t[4], v, rnd);
        StoreW<W>(dst + r * dp, v);
    }
}
#pragma GCC pop_options
#endif

}  // namespace

void QpelInterpolateRef(uint8_t *dst, int dp, const uint8_t *src, int sp, int w, int h, int fx,
                        int fy, int rnd) {
    if (w == 16 && h == 16) Qpel<16, 16>(dst, dp, src, sp, fx, fy, rnd);
    else if (w == 16) Qpel<16, 8>(dst, dp, src, sp, fx, fy, rnd);
    else Qpel<8, 8>(dst, dp, src, sp, fx, fy, rnd);
}

void QpelInterpolate(uint8_t *dst, int dp, const uint8_t *src, int sp, int w, int h, int fx, int fy,
                     int rnd) {
    Dsp().qpel[w == 16 ? (h == 16 ? 2 : 1) : 0](dst, dp, src, sp, fx, fy, rnd);
}

void QpelInterpolatePair(uint8_t *dst, int dp, const uint8_t *src, int sp, int fx, int fy,
                         int rnd) {
    Dsp().qpelPair(dst, dp, src, sp, fx, fy, rnd);
}

void DspInitQpel(DspTable *t, bool sse2) {
    t->qpel[0] = Qpel<8, 8>;
    t->qpel[1] = Qpel<16, 8>;
    t->qpel[2] = Qpel<16, 16>;
    t->qpelPair = QpelPairC;
#if VT_X86
    if (sse2) {
        t->qpel[0] = QpelSse2<8, 8>;
        t->qpel[1] = QpelSse2<16, 8>;
        t->qpel[2] = QpelSse2<16, 16>;
        t->qpelPair = QpelSse2<16, 8, true>;
    }
#else
    (void)sse2;
#endif
}

void QpelPredict(uint8_t *dst, int dstPitch, const uint8_t *ref, int refPitch, int planeW,
                 int planeH, int qx, int qy, int w, int h, int rounding, uint8_t *emu, bool pair) {
    int ix = qx >> 2, iy = qy >> 2, fx = qx & 3, fy = qy & 3;
    int sp;
    // The extra column and row are read only at fractional positions.
    const uint8_t *src =
        FetchArea(ref, refPitch, planeW, planeH, ix, iy, w + (fx != 0), h + (fy != 0), emu, &sp);
    if (pair) QpelInterpolatePair(dst, dstPitch, src, sp, fx, fy, rounding);
    else QpelInterpolate(dst, dstPitch, src, sp, w, h, fx, fy, rounding);
}

}  // namespace mp4v
