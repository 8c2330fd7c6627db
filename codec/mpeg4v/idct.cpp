// Integer inverse DCT of ISO/IEC 14496-2 Annex A (W_k = 2048*sqrt(2)*cos(k*pi/16)), with shortcuts
// that give the same results as the full transform: all-zero rows are skipped, DC-only rows
// become 8*DC, and a column whose only nonzero input is its first becomes a constant.
#include <cstring>

#include "codec/mpeg4v/dsp.h"

#if VT_X86
#include <immintrin.h>
#endif

namespace mp4v {
namespace {

constexpr int W1 = 2841, W2 = 2676, W3 = 2408, W5 = 1609, W6 = 1108, W7 = 565;

inline uint8_t Clip255(int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

// kLow: inputs 4..7 are zero, so the compiler drops their terms (same arithmetic, same result).
template <bool kLow>
inline void RowPassT(const int16_t *in, int32_t *out) {
    int x0 = (int(in[0]) << 11) + 128;
    int x1 = kLow ? 0 : int(in[4]) << 11;
    int x2 = kLow ? 0 : in[6], x3 = in[2], x4 = in[1], x5 = kLow ? 0 : in[7];
    int x6 = kLow ? 0 : in[5], x7 = in[3];
    int x8 = W7 * (x4 + x5);
    x4 = x8 + (W1 - W7) * x4;
    x5 = x8 - (W1 + W7) * x5;
    x8 = W3 * (x6 + x7);
    x6 = x8 - (W3 - W5) * x6;
    x7 = x8 - (W3 + W5) * x7;
    x8 = x0 + x1;
    x0 -= x1;
    x1 = W6 * (x3 + x2);
    x2 = x1 - (W2 + W6) * x2;
    x3 = x1 + (W2 - W6) * x3;
    x1 = x4 + x6;
    x4 -= x6;
    x6 = x5 + x7;
    x5 -= x7;
    x7 = x8 + x3;
    x8 -= x3;
    x3 = x0 + x2;
    x0 -= x2;
    // Saturated inputs can push 181 * (x4 + x5) past 32 bits.
    x2 = int((181 * (int64_t(x4) + x5) + 128) >> 8);
    x4 = int((181 * (int64_t(x4) - x5) + 128) >> 8);
    out[0] = (x7 + x1) >> 8;
    out[1] = (x3 + x2) >> 8;
    out[2] = (x0 + x4) >> 8;
    out[3] = (x8 + x6) >> 8;
    out[4] = (x8 - x6) >> 8;
    out[5] = (x0 - x4) >> 8;
    out[6] = (x3 - x2) >> 8;
    out[7] = (x7 - x1) >> 8;
}

inline void RowPass(const int16_t *in, int32_t *out) { RowPassT<false>(in, out); }

// One column (stride 8) to 8 residual values.
inline void ColPass(const int32_t *in, int32_t *out) {
    int64_t x0 = (int64_t(in[0]) << 8) + 8192;
    int64_t x1 = int64_t(in[32]) << 8;
    int64_t x2 = in[48], x3 = in[16], x4 = in[8], x5 = in[56], x6 = in[40], x7 = in[24];
    int64_t x8 = W7 * (x4 + x5) + 4;
    x4 = (x8 + (W1 - W7) * x4) >> 3;
    x5 = (x8 - (W1 + W7) * x5) >> 3;
    x8 = W3 * (x6 + x7) + 4;
    x6 = (x8 - (W3 - W5) * x6) >> 3;
    x7 = (x8 - (W3 + W5) * x7) >> 3;
    x8 = x0 + x1;
    x0 -= x1;
    x1 = W6 * (x3 + x2) + 4;
    x2 = (x1 - (W2 + W6) * x2) >> 3;
    x3 = (x1 + (W2 - W6) * x3) >> 3;
    x1 = x4 + x6;
    x4 -= x6;
    x6 = x5 + x7;
    x5 -= x7;
    x7 = x8 + x3;
    x8 -= x3;
    x3 = x0 + x2;
    x0 -= x2;
    x2 = (181 * (x4 + x5) + 128) >> 8;
    x4 = (181 * (x4 - x5) + 128) >> 8;
    out[0] = int32_t((x7 + x1) >> 14);
    out[1] = int32_t((x3 + x2) >> 14);
    out[2] = int32_t((x0 + x4) >> 14);
    out[3] = int32_t((x8 + x6) >> 14);
    out[4] = int32_t((x8 - x6) >> 14);
    out[5] = int32_t((x0 - x4) >> 14);
    out[6] = int32_t((x3 - x2) >> 14);
    out[7] = int32_t((x7 - x1) >> 14);
}

// The same in 32-bit arithmetic, for inputs within 16 bits (all valid streams).
template <bool kLow>
inline void ColPass32(const int32_t *in, int32_t *out) {
    int x0 = (in[0] << 8) + 8192;
    int x1 = kLow ? 0 : in[32] << 8;
    int x2 = kLow ? 0 : in[48], x3 = in[16], x4 = in[8], x5 = kLow ? 0 : in[56];
    int x6 = kLow ? 0 : in[40], x7 = in[24];
    int x8 = W7 * (x4 + x5) + 4;
    x4 = (x8 + (W1 - W7) * x4) >> 3;
    x5 = (x8 - (W1 + W7) * x5) >> 3;
    x8 = W3 * (x6 + x7) + 4;
    x6 = (x8 - (W3 - W5) * x6) >> 3;
    x7 = (x8 - (W3 + W5) * x7) >> 3;
    x8 = x0 + x1;
    x0 -= x1;
    x1 = W6 * (x3 + x2) + 4;
    x2 = (x1 - (W2 + W6) * x2) >> 3;
    x3 = (x1 + (W2 - W6) * x3) >> 3;
    x1 = x4 + x6;
    x4 -= x6;
    x6 = x5 + x7;
    x5 -= x7;
    x7 = x8 + x3;
    x8 -= x3;
    x3 = x0 + x2;
    x0 -= x2;
    x2 = int((181 * (int64_t(x4) + x5) + 128) >> 8);
    x4 = int((181 * (int64_t(x4) - x5) + 128) >> 8);
    out[0] = int32_t((x7 + x1) >> 14);
    out[1] = int32_t((x3 + x2) >> 14);
    out[2] = int32_t((x0 + x4) >> 14);
    out[3] = int32_t((x8 + x6) >> 14);
    out[4] = int32_t((x8 - x6) >> 14);
    out[5] = int32_t((x0 - x4) >> 14);
    out[6] = int32_t((x3 - x2) >> 14);
    out[7] = int32_t((x7 - x1) >> 14);
}

#if VT_X86
#pragma GCC push_options
#pragma GCC target("sse2")
// The column pass for 4 columns at once. Each product pair of the first stages is one pmaddwd on
// interleaved 16-bit inputs (W7*(a+b) + (W1-W7)*a == W1*a + W7*b, and so on), which is exact.
// The caller guarantees every input lies within +-4096, which keeps 181*(x4+x5) inside 32 bits.
struct Col4 {
    __m128i v[8];
};

inline __m128i Widen(__m128i w16) { return _mm_srai_epi32(_mm_unpacklo_epi16(w16, w16), 16); }
inline __m128i Mul181(__m128i v) {
    __m128i r = _mm_add_epi32(_mm_slli_epi32(v, 7), _mm_slli_epi32(v, 5));
    r = _mm_add_epi32(r, _mm_slli_epi32(v, 4));
    r = _mm_add_epi32(r, _mm_slli_epi32(v, 2));
    return _mm_add_epi32(r, v);
}
inline __m128i Pair(int a, int b) {
    return _mm_set_epi16(int16_t(b), int16_t(a), int16_t(b), int16_t(a), int16_t(b), int16_t(a),
                         int16_t(b), int16_t(a));
}

// rows[k]: 4 int16 inputs of row k in the low half. Writes 8 rows of 4 residuals.
inline void ColPass4(const __m128i *rows, Col4 *out) {
    const __m128i four = _mm_set1_epi32(4), r128 = _mm_set1_epi32(128);
    __m128i x0 = _mm_add_epi32(_mm_slli_epi32(Widen(rows[0]), 8), _mm_set1_epi32(8192));
    __m128i x1 = _mm_slli_epi32(Widen(rows[4]), 8);
    __m128i p17 = _mm_unpacklo_epi16(rows[1], rows[7]);  // x4, x5
    __m128i p53 = _mm_unpacklo_epi16(rows[5], rows[3]);  // x6, x7
    __m128i p26 = _mm_unpacklo_epi16(rows[2], rows[6]);  // x3, x2
    __m128i x4 = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(p17, Pair(W1, W7)), four), 3);
    __m128i x5 = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(p17, Pair(W7, -W1)), four), 3);
    __m128i x6 = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(p53, Pair(W5, W3)), four), 3);
    __m128i x7 = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(p53, Pair(W3, -W5)), four), 3);
    __m128i x2 = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(p26, Pair(W6, -W2)), four), 3);
    __m128i x3 = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(p26, Pair(W2, W6)), four), 3);
    __m128i x8 = _mm_add_epi32(x0, x1);
    x0 = _mm_sub_epi32(x0, x1);
    x1 = _mm_add_epi32(x4, x6);
    x4 = _mm_sub_epi32(x4, x6);
    x6 = _mm_add_epi32(x5, x7);
    x5 = _mm_sub_epi32(x5, x7);
    x7 = _mm_add_epi32(x8, x3);
    x8 = _mm_sub_epi32(x8, x3);
    x3 = _mm_add_epi32(x0, x2);
    x0 = _mm_sub_epi32(x0, x2);
    x2 = _mm_srai_epi32(_mm_add_epi32(Mul181(_mm_add_epi32(x4, x5)), r128), 8);
    x4 = _mm_srai_epi32(_mm_add_epi32(Mul181(_mm_sub_epi32(x4, x5)), r128), 8);
    out->v[0] = _mm_srai_epi32(_mm_add_epi32(x7, x1), 14);
    out->v[1] = _mm_srai_epi32(_mm_add_epi32(x3, x2), 14);
    out->v[2] = _mm_srai_epi32(_mm_add_epi32(x0, x4), 14);
    out->v[3] = _mm_srai_epi32(_mm_add_epi32(x8, x6), 14);
    out->v[4] = _mm_srai_epi32(_mm_sub_epi32(x8, x6), 14);
    out->v[5] = _mm_srai_epi32(_mm_sub_epi32(x0, x4), 14);
    out->v[6] = _mm_srai_epi32(_mm_sub_epi32(x3, x2), 14);
    out->v[7] = _mm_srai_epi32(_mm_sub_epi32(x7, x1), 14);
}

// Whether all 64 row pass outputs lie within +-4096, the vector column pass's range.
inline bool WithinColumnRange(const int32_t *tmp) {
    const __m128i limit = _mm_set1_epi32(4096), negLimit = _mm_set1_epi32(-4096);
    __m128i out = _mm_setzero_si128();
    for (int i = 0; i < 64; i += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(tmp + i));
        out = _mm_or_si128(out,
                           _mm_or_si128(_mm_cmpgt_epi32(v, limit), _mm_cmplt_epi32(v, negLimit)));
    }
    return _mm_movemask_epi8(out) == 0;
}

// All 8 columns; tmp holds the row pass output (each value within +-4096).
inline void ColumnsSse2(const int32_t *tmp, int32_t *res) {
    __m128i lo[8], hi[8];
    for (int r = 0; r < 8; ++r) {
        const __m128i *row = reinterpret_cast<const __m128i *>(tmp + 8 * r);
        __m128i w = _mm_packs_epi32(_mm_loadu_si128(row), _mm_loadu_si128(row + 1));
        lo[r] = w;
        hi[r] = _mm_unpackhi_epi64(w, w);
    }
    Col4 a, b;
    ColPass4(lo, &a);
    ColPass4(hi, &b);
    for (int r = 0; r < 8; ++r) {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(res + 8 * r), a.v[r]);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(res + 8 * r + 4), b.v[r]);
    }
}
#pragma GCC pop_options
#endif

// The column passes over the row pass output tmp (raster order) in C: 32-bit arithmetic where the
// values allow (`small`: all within 16 bits), else 64-bit.
inline void ScalarColumns(const int32_t *tmp, BlockShape shape, int32_t *res, bool small) {
    const bool low = (shape.rows & 0xF0) == 0;
    int32_t col[8];
    for (int c = 0; c < 8; ++c) {
        if (!small) ColPass(tmp + c, col);
        else if (low) ColPass32<true>(tmp + c, col);
        else ColPass32<false>(tmp + c, col);
        for (int r = 0; r < 8; ++r) res[8 * r + c] = col[r];
    }
}

// Residual of the block in raster order, using the shortcuts. Returns true when it is constant
// (then only res[0] is set).
template <bool kSse2>
inline bool Transform(const int16_t *blk, BlockShape shape, int32_t *res) {
    if (shape.rows == 0) {
        res[0] = 0;
        return true;
    }
    if (shape.rows == 1 && !(shape.rowsAc & 1)) {
        res[0] = (int(blk[0]) + 4) >> 3;  // DC only: (8*DC*256 + 8192) >> 14
        return true;
    }
    int32_t tmp[64];
    for (int r = 0; r < 8; ++r) {
        int32_t *o = tmp + 8 * r;
        if (!(shape.rows >> r & 1)) {
            for (int c = 0; c < 8; ++c) o[c] = 0;
        } else if (!(shape.rowsAc >> r & 1)) {
            int v = int(blk[8 * r]) * 8;
            for (int c = 0; c < 8; ++c) o[c] = v;
        } else {
            uint64_t high;
            std::memcpy(&high, blk + 8 * r + 4, 8);
            if (high == 0) RowPassT<true>(blk + 8 * r, o);
            else RowPassT<false>(blk + 8 * r, o);
        }
    }
    if (shape.rows == 1) {
        // Only the first row fed the columns: each column is a constant.
        for (int c = 0; c < 8; ++c) {
            int v = int((int64_t(tmp[c]) * 256 + 8192) >> 14);
            for (int r = 0; r < 8; ++r) res[8 * r + c] = v;
        }
        return false;
    }
#if VT_X86
    if constexpr (kSse2) {
        if (WithinColumnRange(tmp)) {
            ColumnsSse2(tmp, res);
            return false;
        }
    }
#endif
    int32_t lo = 0, hi = 0;
    for (int i = 0; i < 64; ++i) {
        lo = tmp[i] < lo ? tmp[i] : lo;
        hi = tmp[i] > hi ? tmp[i] : hi;
    }
    ScalarColumns(tmp, shape, res, lo >= -32768 && hi <= 32767);
    return false;
}

inline void ClearBlock(int16_t *blk, BlockShape shape) {
    for (int r = 0; r < 8; ++r)
        if (shape.rows >> r & 1) std::memset(blk + 8 * r, 0, 16);
}

}  // namespace

void IdctReference(const int16_t *blk, int32_t *out) {
    int32_t tmp[64];
    for (int r = 0; r < 8; ++r) RowPass(blk + 8 * r, tmp + 8 * r);
    int32_t col[8];
    for (int c = 0; c < 8; ++c) {
        ColPass(tmp + c, col);
        for (int r = 0; r < 8; ++r) out[8 * r + c] = col[r];
    }
}

namespace {

void IdctPutC(int16_t *blk, BlockShape shape, uint8_t *dst, int pitch) {
    int32_t res[64];
    if (Transform<false>(blk, shape, res)) {
        uint8_t v = Clip255(res[0]);
        for (int r = 0; r < 8; ++r) std::memset(dst + r * pitch, v, 8);
    } else {
        for (int r = 0; r < 8; ++r)
            for (int c = 0; c < 8; ++c) dst[r * pitch + c] = Clip255(res[8 * r + c]);
    }
    ClearBlock(blk, shape);
}

void IdctAddC(int16_t *blk, BlockShape shape, uint8_t *dst, int pitch) {
    int32_t res[64];
    if (Transform<false>(blk, shape, res)) {
        int v = res[0];
        if (v != 0)
            for (int r = 0; r < 8; ++r)
                for (int c = 0; c < 8; ++c) dst[r * pitch + c] = Clip255(dst[r * pitch + c] + v);
    } else {
        for (int r = 0; r < 8; ++r)
            for (int c = 0; c < 8; ++c)
                dst[r * pitch + c] = Clip255(dst[r * pitch + c] + res[8 * r + c]);
    }
    ClearBlock(blk, shape);
}

#if VT_X86
// Writes a residual (constant: res[0] only) clipped into dst, or added to it.
__attribute__((target("sse2"))) inline void PutResidualSse2(bool constant, const int32_t *res,
                                                            uint8_t *dst, int pitch) {
    if (constant) {
        uint8_t v = Clip255(res[0]);
        for (int r = 0; r < 8; ++r) std::memset(dst + r * pitch, v, 8);
    } else {
        for (int r = 0; r < 8; ++r) {
            const __m128i *row = reinterpret_cast<const __m128i *>(res + 8 * r);
            __m128i w = _mm_packs_epi32(_mm_loadu_si128(row), _mm_loadu_si128(row + 1));
            _mm_storel_epi64(reinterpret_cast<__m128i *>(dst + r * pitch), _mm_packus_epi16(w, w));
        }
    }
}

__attribute__((target("sse2"))) inline void AddRowSse2(__m128i w, uint8_t *d) {
    // Saturating to 16 bits first cannot change a clipped 8-bit result.
    const __m128i p = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(d)),
                                        _mm_setzero_si128());
    const __m128i sum = _mm_adds_epi16(p, w);
    _mm_storel_epi64(reinterpret_cast<__m128i *>(d), _mm_packus_epi16(sum, sum));
}

__attribute__((target("sse2"))) inline void AddResidualSse2(bool constant, const int32_t *res,
                                                            uint8_t *dst, int pitch) {
    if (constant) {
        int v = res[0];
        if (v != 0)
            for (int r = 0; r < 8; ++r)
                for (int c = 0; c < 8; ++c) dst[r * pitch + c] = Clip255(dst[r * pitch + c] + v);
    } else {
        for (int r = 0; r < 8; ++r) {
            const __m128i *row = reinterpret_cast<const __m128i *>(res + 8 * r);
            AddRowSse2(_mm_packs_epi32(_mm_loadu_si128(row), _mm_loadu_si128(row + 1)),
                       dst + r * pitch);
        }
    }
}

__attribute__((target("sse2"))) void IdctPutSse2(int16_t *blk, BlockShape shape, uint8_t *dst,
                                                 int pitch) {
    int32_t res[64];
    PutResidualSse2(Transform<true>(blk, shape, res), res, dst, pitch);
    ClearBlock(blk, shape);
}

__attribute__((target("sse2"))) void IdctAddSse2(int16_t *blk, BlockShape shape, uint8_t *dst,
                                                 int pitch) {
    int32_t res[64];
    AddResidualSse2(Transform<true>(blk, shape, res), res, dst, pitch);
    ClearBlock(blk, shape);
}
#endif

#if VT_X86
// ---- AVX2: both passes over all eight rows or columns at once ----
//
// The row pass runs on the transposed block, one lane per row; its output transposed again gives
// one lane per column for the column pass, whose output is then the residual in raster order.
// All arithmetic is the scalar passes' own in 32 bits: the products of the row pass cannot leave
// 32 bits for 16-bit inputs, nor those of the column pass for inputs within 16 bits (larger ones,
// from extreme coefficients, take the scalar 64-bit column pass); only 181 * (x4 +- x5) can, and
// is split so that it does not.

#define VT_AVX2 __attribute__((target("avx2")))

VT_AVX2 inline __m256i Mul(__m256i v, int w) { return _mm256_mullo_epi32(v, _mm256_set1_epi32(w)); }

// (181 * v + 128) >> 8 for any 32-bit v: with v = 256 h + l it is 181 h + ((181 l + 128) >> 8).
VT_AVX2 inline __m256i Mul181Round(__m256i v) {
    const __m256i h = _mm256_srai_epi32(v, 8), l = _mm256_and_si256(v, _mm256_set1_epi32(255));
    return _mm256_add_epi32(
        Mul(h, 181), _mm256_srai_epi32(_mm256_add_epi32(Mul(l, 181), _mm256_set1_epi32(128)), 8));
}

// 8 x 8 32-bit transpose: afterwards v[c] lane r is what v[r] lane c was.
VT_AVX2 inline void Transpose8(__m256i *v) {
    __m256i a[8], b[8];
    for (int i = 0; i < 8; i += 2) {
        a[i] = _mm256_unpacklo_epi32(v[i], v[i + 1]);
        a[i + 1] = _mm256_unpackhi_epi32(v[i], v[i + 1]);
    }
    for (int i = 0; i < 8; i += 4) {
        b[i] = _mm256_unpacklo_epi64(a[i], a[i + 2]);
        b[i + 1] = _mm256_unpackhi_epi64(a[i], a[i + 2]);
        b[i + 2] = _mm256_unpacklo_epi64(a[i + 1], a[i + 3]);
        b[i + 3] = _mm256_unpackhi_epi64(a[i + 1], a[i + 3]);
    }
    for (int i = 0; i < 4; ++i) {
        v[i] = _mm256_permute2x128_si256(b[i], b[i + 4], 0x20);
        v[i + 4] = _mm256_permute2x128_si256(b[i], b[i + 4], 0x31);
    }
}

// One pass of the transform over eight lanes. kColumn false: RowPass on eight rows (in[c] lane r
// is input c of row r, out[c] lane r its output c). kColumn true: ColPass32 on eight columns
// (in[k] lane c is input k of column c, all within 16 bits; out[r] is residual row r). The column
// pass rounds its products by 3 bits before the butterflies and keeps 8 bits more to the end.
// W * (a + b), with the column pass's rounding term.
template <bool kColumn>
VT_AVX2 inline __m256i Product(__m256i a, __m256i b, int w) {
    const __m256i p = Mul(_mm256_add_epi32(a, b), w);
    return kColumn ? _mm256_add_epi32(p, _mm256_set1_epi32(4)) : p;
}
// The column pass's 3-bit rounding of each product's own output.
template <bool kColumn>
VT_AVX2 inline __m256i Round(__m256i v) {
    return kColumn ? _mm256_srai_epi32(v, 3) : v;
}

template <bool kColumn>
VT_AVX2 inline void Pass8(const __m256i *in, __m256i *out) {
    constexpr int kDcShift = kColumn ? 8 : 11, kOutShift = kColumn ? 14 : 8;
    const __m256i bias = _mm256_set1_epi32(kColumn ? 8192 : 128);
    __m256i x0 = _mm256_add_epi32(_mm256_slli_epi32(in[0], kDcShift), bias);
    __m256i x1 = _mm256_slli_epi32(in[4], kDcShift);
    __m256i x2 = in[6], x3 = in[2], x4 = in[1], x5 = in[7], x6 = in[5], x7 = in[3];
    __m256i x8 = Product<kColumn>(x4, x5, W7);
    x4 = Round<kColumn>(_mm256_add_epi32(x8, Mul(x4, W1 - W7)));
    x5 = Round<kColumn>(_mm256_sub_epi32(x8, Mul(x5, W1 + W7)));
    x8 = Product<kColumn>(x6, x7, W3);
    x6 = Round<kColumn>(_mm256_sub_epi32(x8, Mul(x6, W3 - W5)));
    x7 = Round<kColumn>(_mm256_sub_epi32(x8, Mul(x7, W3 + W5)));
    x8 = _mm256_add_epi32(x0, x1);
    x0 = _mm256_sub_epi32(x0, x1);
    x1 = Product<kColumn>(x3, x2, W6);
    x2 = Round<kColumn>(_mm256_sub_epi32(x1, Mul(x2, W2 + W6)));
    x3 = Round<kColumn>(_mm256_add_epi32(x1, Mul(x3, W2 - W6)));
    x1 = _mm256_add_epi32(x4, x6);
    x4 = _mm256_sub_epi32(x4, x6);
    x6 = _mm256_add_epi32(x5, x7);
    x5 = _mm256_sub_epi32(x5, x7);
    x7 = _mm256_add_epi32(x8, x3);
    x8 = _mm256_sub_epi32(x8, x3);
    x3 = _mm256_add_epi32(x0, x2);
    x0 = _mm256_sub_epi32(x0, x2);
    x2 = Mul181Round(_mm256_add_epi32(x4, x5));
    x4 = Mul181Round(_mm256_sub_epi32(x4, x5));
    out[0] = _mm256_srai_epi32(_mm256_add_epi32(x7, x1), kOutShift);
    out[1] = _mm256_srai_epi32(_mm256_add_epi32(x3, x2), kOutShift);
    out[2] = _mm256_srai_epi32(_mm256_add_epi32(x0, x4), kOutShift);
    out[3] = _mm256_srai_epi32(_mm256_add_epi32(x8, x6), kOutShift);
    out[4] = _mm256_srai_epi32(_mm256_sub_epi32(x8, x6), kOutShift);
    out[5] = _mm256_srai_epi32(_mm256_sub_epi32(x0, x4), kOutShift);
    out[6] = _mm256_srai_epi32(_mm256_sub_epi32(x3, x2), kOutShift);
    out[7] = _mm256_srai_epi32(_mm256_sub_epi32(x7, x1), kOutShift);
}

// How TransformAvx2 delivered the residual.
enum class Residual { kConstant, kRaster, kRows };

// The residual of a block: as vector rows, or (blocks of at most one row, and extreme values) as
// the SSE2 path gives it in res.
VT_AVX2 Residual TransformAvx2(const int16_t *blk, BlockShape shape, __m256i *rows, int32_t *res) {
    if (shape.rows == 0 || shape.rows == 1)
        return Transform<true>(blk, shape, res) ? Residual::kConstant : Residual::kRaster;
    __m256i t[8];
    for (int r = 0; r < 8; ++r)
        t[r] =
            _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(blk + 8 * r)));
    Transpose8(t);
    __m256i tmp[8];
    Pass8<false>(t, tmp);
    Transpose8(tmp);  // tmp[k] lane c: row k, column c of the row pass output
    __m256i mag = _mm256_setzero_si256();
    for (int k = 0; k < 8; ++k) mag = _mm256_or_si256(mag, _mm256_abs_epi32(tmp[k]));
    if (!_mm256_testz_si256(mag, _mm256_set1_epi32(~0x7FFF))) {
        int32_t raster[64];
        for (int k = 0; k < 8; ++k)
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(raster + 8 * k), tmp[k]);
        ScalarColumns(raster, shape, res, false);
        return Residual::kRaster;
    }
    Pass8<true>(tmp, rows);
    return Residual::kRows;
}

VT_AVX2 inline __m128i Row16(__m256i row) {
    return _mm_packs_epi32(_mm256_castsi256_si128(row), _mm256_extracti128_si256(row, 1));
}

// Rows r0 and r1 of a residual as 16-bit values, r0 in the low half.
VT_AVX2 inline __m256i TwoRows16(__m256i r0, __m256i r1) {
    return _mm256_permute4x64_epi64(_mm256_packs_epi32(r0, r1), 0xD8);
}

VT_AVX2 inline void ClearBlockAvx2(int16_t *blk) {
    const __m256i zero = _mm256_setzero_si256();
    for (int i = 0; i < 64; i += 16)
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(blk + i), zero);
}

VT_AVX2 void IdctPutAvx2(int16_t *blk, BlockShape shape, uint8_t *dst, int pitch) {
    __m256i rows[8];
    int32_t res[64];
    const Residual kind = TransformAvx2(blk, shape, rows, res);
    if (kind == Residual::kRows) {
        for (int r = 0; r < 8; r += 2) {
            const __m256i w = TwoRows16(rows[r], rows[r + 1]);
            const __m256i b = _mm256_packus_epi16(w, w);  // each half: its row's 8 bytes, twice
            _mm_storel_epi64(reinterpret_cast<__m128i *>(dst + r * pitch),
                             _mm256_castsi256_si128(b));
            _mm_storel_epi64(reinterpret_cast<__m128i *>(dst + (r + 1) * pitch),
                             _mm256_extracti128_si256(b, 1));
        }
    } else {
        PutResidualSse2(kind == Residual::kConstant, res, dst, pitch);
    }
    ClearBlockAvx2(blk);
}

VT_AVX2 void IdctAddAvx2(int16_t *blk, BlockShape shape, uint8_t *dst, int pitch) {
    __m256i rows[8];
    int32_t res[64];
    const Residual kind = TransformAvx2(blk, shape, rows, res);
    if (kind == Residual::kRows) {
        for (int r = 0; r < 8; r += 2) {
            uint8_t *d0 = dst + r * pitch, *d1 = d0 + pitch;
            const __m128i p =
                _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(d0)),
                                   _mm_loadl_epi64(reinterpret_cast<const __m128i *>(d1)));
            // Saturating to 16 bits first cannot change a clipped 8-bit result.
            const __m256i sum =
                _mm256_adds_epi16(_mm256_cvtepu8_epi16(p), TwoRows16(rows[r], rows[r + 1]));
            const __m256i b = _mm256_packus_epi16(sum, sum);
            _mm_storel_epi64(reinterpret_cast<__m128i *>(d0), _mm256_castsi256_si128(b));
            _mm_storel_epi64(reinterpret_cast<__m128i *>(d1), _mm256_extracti128_si256(b, 1));
        }
    } else {
        AddResidualSse2(kind == Residual::kConstant, res, dst, pitch);
    }
    ClearBlockAvx2(blk);
}
#endif

}  // namespace

void IdctPut(int16_t *blk, BlockShape shape, uint8_t *dst, int pitch) {
    Dsp().idctPut(blk, shape, dst, pitch);
}
void IdctAdd(int16_t *blk, BlockShape shape, uint8_t *dst, int pitch) {
    Dsp().idctAdd(blk, shape, dst, pitch);
}

void DspInitIdct(DspTable *t, bool sse2, bool avx2) {
    t->idctPut = IdctPutC;
    t->idctAdd = IdctAddC;
#if VT_X86
    if (sse2) {
        t->idctPut = IdctPutSse2;
        t->idctAdd = IdctAddSse2;
        if (avx2) {
            t->idctPut = IdctPutAvx2;
            t->idctAdd = IdctAddAvx2;
        }
    }
#else
    (void)sse2;
    (void)avx2;
#endif
}

}  // namespace mp4v
