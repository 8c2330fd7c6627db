// Deblocking post-filter on 8x8 block edges of the returned picture. Within each block row the
// vertical edges are filtered first, then the horizontal edge above the row. The edges themselves
// are kernels of the table (dsp.h): 8 lines of one edge at a time.
#include <cstring>

#include "codec/mpeg4v/dsp.h"
#include "codec/mpeg4v/internal.h"

#if VT_X86
#include <emmintrin.h>
#endif

namespace mp4v {
namespace {

inline int Clip(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

void DeblockVerticalC(uint8_t *q0, int pitch, int qp) {
    for (int r = 0; r < 8; ++r) FilterEdge(q0 + r * pitch, 1, qp);
}

void DeblockHorizontalC(uint8_t *q0, int pitch, int qp) {
    for (int x = 0; x < 8; ++x) FilterEdge(q0 + x, pitch, qp);
}

#if VT_X86
VT_SSE2 inline __m128i Select(__m128i mask, __m128i a, __m128i b) {
    return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
}

// FilterEdge on 8 lines at once, each sample in a 16-bit lane: all three strengths are worked
// out and each lane keeps its own. Every intermediate fits 16 bits (|e| <= 510, act <= 765 and
// qp <= 255), arithmetic shifts floor as the C shifts do, and the caller's saturating pack clamps
// as Clip does.
VT_SSE2 inline void Filter8(__m128i &p2, __m128i &p1, __m128i &p0, __m128i &q0, __m128i &q1,
                            __m128i &q2, int qp) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i qpv = _mm_set1_epi16(int16_t(qp)), limit = _mm_set1_epi16(int16_t(2 * qp));
    const __m128i delta = _mm_sub_epi16(p0, q0);
    const __m128i a = _mm_sub_epi16(_mm_add_epi16(delta, q1), p1);
    const __m128i act = _mm_max_epi16(a, _mm_sub_epi16(zero, a));
    const __m128i e = _mm_min_epi16(_mm_max_epi16(delta, _mm_sub_epi16(zero, limit)), limit);
    // soft: 2 * act < qp (the two weaker filters); smooth: 8 * act < qp (the strongest).
    const __m128i soft = _mm_cmplt_epi16(_mm_slli_epi16(act, 1), qpv);
    const __m128i smooth = _mm_cmplt_epi16(_mm_slli_epi16(act, 3), qpv);
    const __m128i e3 = _mm_add_epi16(_mm_add_epi16(e, e), e);
    const __m128i fEdge = _mm_srai_epi16(_mm_add_epi16(e3, _mm_set1_epi16(8)), 4);
    const __m128i fMid = _mm_srai_epi16(_mm_add_epi16(e3, _mm_set1_epi16(4)), 3);
    const __m128i fFlat =
        _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(e3, _mm_add_epi16(e, e)), _mm_set1_epi16(8)), 4);
    const __m128i g = _mm_srai_epi16(e, 3);
    const __m128i one = _mm_set1_epi16(1);
    const __m128i f0 = Select(smooth, _mm_add_epi16(g, fFlat), Select(soft, fMid, fEdge));
    const __m128i np1 =
        Select(smooth, _mm_sub_epi16(p1, fFlat),
               Select(soft, _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(p0, p1), one), 1), p1));
    const __m128i nq1 =
        Select(smooth, _mm_add_epi16(q1, fFlat),
               Select(soft, _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(q0, q1), one), 1), q1));
    p2 = Select(smooth, _mm_sub_epi16(_mm_add_epi16(p2, g), fFlat), p2);
    q2 = Select(smooth, _mm_sub_epi16(_mm_add_epi16(q2, fFlat), g), q2);
    p0 = _mm_sub_epi16(p0, f0);
    q0 = _mm_add_epi16(q0, f0);
    p1 = np1;
    q1 = nq1;
}

VT_SSE2 inline __m128i Widen(const uint8_t *p) {
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p)),
                             _mm_setzero_si128());
}
VT_SSE2 inline void Narrow(uint8_t *p, __m128i v) {
    _mm_storel_epi64(reinterpret_cast<__m128i *>(p), _mm_packus_epi16(v, v));
}

VT_SSE2 void DeblockHorizontalSse2(uint8_t *q0, int pitch, int qp) {
    __m128i p2 = Widen(q0 - 3 * pitch), p1 = Widen(q0 - 2 * pitch), p0 = Widen(q0 - pitch);
    __m128i s0 = Widen(q0), s1 = Widen(q0 + pitch), s2 = Widen(q0 + 2 * pitch);
    Filter8(p2, p1, p0, s0, s1, s2, qp);
    Narrow(q0 - 3 * pitch, p2);
    Narrow(q0 - 2 * pitch, p1);
    Narrow(q0 - pitch, p0);
    Narrow(q0, s0);
    Narrow(q0 + pitch, s1);
    Narrow(q0 + 2 * pitch, s2);
}

// Transposes the 8x8 bytes held in the low halves of r[0..7]: on return r[2k] holds column 2k in
// its low half and column 2k+1 in its high half.
VT_SSE2 inline void Transpose8x8(__m128i r[8]) {
    const __m128i t0 = _mm_unpacklo_epi8(r[0], r[1]), t1 = _mm_unpacklo_epi8(r[2], r[3]);
    const __m128i t2 = _mm_unpacklo_epi8(r[4], r[5]), t3 = _mm_unpacklo_epi8(r[6], r[7]);
    const __m128i u0 = _mm_unpacklo_epi16(t0, t1), u1 = _mm_unpackhi_epi16(t0, t1);
    const __m128i u2 = _mm_unpacklo_epi16(t2, t3), u3 = _mm_unpackhi_epi16(t2, t3);
    r[0] = _mm_unpacklo_epi32(u0, u2);
    r[2] = _mm_unpackhi_epi32(u0, u2);
    r[4] = _mm_unpacklo_epi32(u1, u3);
    r[6] = _mm_unpackhi_epi32(u1, u3);
}

VT_SSE2 void DeblockVerticalSse2(uint8_t *q0, int pitch, int qp) {
    // Each line's samples q0-4 .. q0+3 become one column; the outer two go back unchanged.
    __m128i r[8];
    for (int k = 0; k < 8; ++k)
        r[k] = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(q0 + k * pitch - 4));
    Transpose8x8(r);
    const __m128i zero = _mm_setzero_si128();
    __m128i p2 = _mm_unpackhi_epi8(r[0], zero), p1 = _mm_unpacklo_epi8(r[2], zero);
    __m128i p0 = _mm_unpackhi_epi8(r[2], zero), s0 = _mm_unpacklo_epi8(r[4], zero);
    __m128i s1 = _mm_unpackhi_epi8(r[4], zero), s2 = _mm_unpacklo_epi8(r[6], zero);
    Filter8(p2, p1, p0, s0, s1, s2, qp);
    const __m128i c01 = _mm_packus_epi16(_mm_unpacklo_epi8(r[0], zero), p2);
    const __m128i c23 = _mm_packus_epi16(p1, p0), c45 = _mm_packus_epi16(s0, s1);
    const __m128i c67 = _mm_packus_epi16(s2, _mm_unpackhi_epi8(r[6], zero));
    __m128i c[8] = {c01, _mm_unpackhi_epi64(c01, c01), c23, _mm_unpackhi_epi64(c23, c23),
                    c45, _mm_unpackhi_epi64(c45, c45), c67, _mm_unpackhi_epi64(c67, c67)};
    Transpose8x8(c);
    for (int k = 0; k < 4; ++k) {
        _mm_storel_epi64(reinterpret_cast<__m128i *>(q0 + 2 * k * pitch - 4), c[2 * k]);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(q0 + (2 * k + 1) * pitch - 4),
                         _mm_unpackhi_epi64(c[2 * k], c[2 * k]));
    }
}
#endif

void FilterPlane(uint8_t *p, int pitch, int w, int h, const uint8_t *qmap, int mbw, bool chroma) {
    const DspTable &dsp = Dsp();
    int bw = w / 8, bh = h / 8;
    for (int by = 0; by < bh; ++by) {
        // Quantiser row: luma blocks map to their macroblock; chroma block rows after the
        // first use the macroblock row above.
        int qRow = chroma ? (by == 0 ? 0 : by - 1) : by / 2;
        const uint8_t *qr = qmap + qRow * mbw;
        for (int bx = 1; bx < bw; ++bx)
            dsp.deblock[0](p + by * 8 * pitch + bx * 8, pitch, qr[chroma ? bx : bx / 2]);
        if (by > 0) {
            // The quantiser changes every 8 (chroma) or 16 (luma) columns.
            int x = 0;
            for (; x + 8 <= w; x += 8)
                dsp.deblock[1](p + by * 8 * pitch + x, pitch, qr[chroma ? x / 8 : x / 16]);
            for (; x < w; ++x)
                FilterEdge(p + by * 8 * pitch + x, pitch, qr[chroma ? x / 8 : x / 16]);
        }
    }
}

}  // namespace

void FilterEdge(uint8_t *q0p, int step, int qp) {
    int p2 = q0p[-3 * step], p1 = q0p[-2 * step], p0 = q0p[-step];
    int q0 = q0p[0], q1 = q0p[step], q2 = q0p[2 * step];
    int delta = p0 - q0;
    int act = delta + q1 - p1;
    if (act < 0) act = -act;
    int e = delta < -2 * qp ? -2 * qp : delta > 2 * qp ? 2 * qp : delta;
    if (2 * act >= qp) {
        int f = (3 * e + 8) >> 4;
        q0p[-step] = uint8_t(Clip(p0 - f));
        q0p[0] = uint8_t(Clip(q0 + f));
    } else if (8 * act < qp) {
        int f = (5 * e + 8) >> 4, g = e >> 3;
        q0p[-step] = uint8_t(Clip(p0 - g - f));
        q0p[0] = uint8_t(Clip(q0 + g + f));
        q0p[-2 * step] = uint8_t(Clip(p1 - f));
        q0p[step] = uint8_t(Clip(q1 + f));
        q0p[-3 * step] = uint8_t(Clip(p2 + g - f));
        q0p[2 * step] = uint8_t(Clip(q2 + f - g));
    } else {
        int f = (3 * e + 4) >> 3;
        q0p[-2 * step] = uint8_t((p0 + p1 + 1) >> 1);
        q0p[step] = uint8_t((q0 + q1 + 1) >> 1);
        q0p[-step] = uint8_t(Clip(p0 - f));
        q0p[0] = uint8_t(Clip(q0 + f));
    }
}

void DspInitPostFilter(DspTable *t, bool sse2, bool avx2) {
    t->deblock[0] = DeblockVerticalC;
    t->deblock[1] = DeblockHorizontalC;
#if VT_X86
    if (sse2) {
        t->deblock[0] = DeblockVerticalSse2;
        t->deblock[1] = DeblockHorizontalSse2;
    }
#else
    (void)sse2;
#endif
    (void)avx2;
}

void PostFilter(const Instance *d, const FrameDesc *src, FrameDesc *dst, const uint8_t *qmap) {
    int cp = d->pitch / 2;
    if (src != dst) {
        std::memcpy(dst->y, src->y, size_t(d->pitch) * size_t(d->rows));
        std::memcpy(dst->u, src->u, size_t(cp) * size_t(d->rows / 2));
        std::memcpy(dst->v, src->v, size_t(cp) * size_t(d->rows / 2));
    }
    FilterPlane(dst->y, d->pitch, d->pitch, d->rows, qmap, d->mbw, false);
    FilterPlane(dst->u, cp, cp, d->rows / 2, qmap, d->mbw, true);
    FilterPlane(dst->v, cp, cp, d->rows / 2, qmap, d->mbw, true);
}

}  // namespace mp4v
