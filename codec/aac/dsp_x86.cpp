// AVX2 versions of the filterbank's kernels. Each lane computes exactly what the portable code
// computes: Q31 products are taken in 64 bits and only their bits 31..62 kept (which is all the
// portable code keeps after its shift and narrowing), and the FFT's halving butterflies are
// written so they cannot overflow 32 bits yet round as (a + b + 1) >> 1 does in 64.
#include "codec/aac/dsp.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include <cstring>

#include "codec/aac/aac_internal.h"
#include "codec/aac/sbr.h"

#define VT_AVX2 __attribute__((target("avx2")))

namespace aacdec {

namespace {

// Rounded Q31 products of the even 32-bit lanes of a and b, as 64-bit lanes (not yet shifted).
VT_AVX2 inline __m256i MulEvenRounded(__m256i a, __m256i b) {
    return _mm256_add_epi64(_mm256_mul_epi32(a, b), _mm256_set1_epi64x(int64_t{1} << 30));
}

// Two 64-bit lane vectors of Q31 sums to one 32-bit vector: `even` to the even lanes and `odd` to
// the odd ones, each keeping its bits 31..62.
VT_AVX2 inline __m256i NarrowQ31(__m256i even, __m256i odd) {
    return _mm256_blend_epi32(_mm256_srli_epi64(even, 31), _mm256_slli_epi64(odd, 1), 0xAA);
}

// Four complex values b (re, im interleaved) times exp(-i*theta) given as c = cos, s = sin in the
// even lanes: (br*c + bi*s) + i(bi*c - br*s), each rounded from Q31.
VT_AVX2 inline __m256i RotateQ31(__m256i b, __m256i c, __m256i s) {
    const __m256i rnd = _mm256_set1_epi64x(int64_t{1} << 30);
    const __m256i bs = _mm256_shuffle_epi32(b, 0xB1);  // im in the even lanes
    const __m256i re =
        _mm256_add_epi64(_mm256_add_epi64(_mm256_mul_epi32(b, c), _mm256_mul_epi32(bs, s)), rnd);
    const __m256i im =
        _mm256_add_epi64(_mm256_sub_epi64(_mm256_mul_epi32(bs, c), _mm256_mul_epi32(b, s)), rnd);
    return NarrowQ31(re, im);
}

// (a + b + 1) >> 1 and (a - b + 1) >> 1, exact for all 32-bit a and b (wrapping as the portable
// code's narrowing does).
VT_AVX2 inline __m256i HalfSum(__m256i a, __m256i b) {
    const __m256i one = _mm256_set1_epi32(1);
    return _mm256_add_epi32(_mm256_add_epi32(_mm256_srai_epi32(a, 1), _mm256_srai_epi32(b, 1)),
                            _mm256_and_si256(_mm256_or_si256(a, b), one));
}
VT_AVX2 inline __m256i HalfDiff(__m256i a, __m256i b) {
    const __m256i one = _mm256_set1_epi32(1);
    return _mm256_add_epi32(_mm256_sub_epi32(_mm256_srai_epi32(a, 1), _mm256_srai_epi32(b, 1)),
                            _mm256_and_si256(_mm256_andnot_si256(b, a), one));
}

// Neg32 on every lane: -v, with INT32_MIN going to INT32_MAX.
VT_AVX2 inline __m256i Negate(__m256i v) {
    const __m256i neg = _mm256_sub_epi32(_mm256_setzero_si256(), v);
    return _mm256_add_epi32(neg, _mm256_cmpeq_epi32(v, _mm256_set1_epi32(INT32_MIN)));
}

// Sat32(a + b) on every lane.
VT_AVX2 inline __m256i AddSaturate(__m256i a, __m256i b) {
    const __m256i sum = _mm256_add_epi32(a, b);
    // Overflow when a and b share a sign that the sum does not.
    const __m256i over = _mm256_andnot_si256(_mm256_xor_si256(a, b), _mm256_xor_si256(a, sum));
    const __m256i limit = _mm256_xor_si256(_mm256_srai_epi32(a, 31), _mm256_set1_epi32(INT32_MAX));
    return _mm256_castps_si256(_mm256_blendv_ps(
        _mm256_castsi256_ps(sum), _mm256_castsi256_ps(limit), _mm256_castsi256_ps(over)));
}

// MulQ31(a, b) on all eight lanes.
VT_AVX2 inline __m256i MulQ31x8(__m256i a, __m256i b) {
    const __m256i even = MulEvenRounded(a, b);
    const __m256i odd = MulEvenRounded(_mm256_srli_epi64(a, 32), _mm256_srli_epi64(b, 32));
    return NarrowQ31(even, odd);
}

VT_AVX2 inline __m256i Load(const int32_t *p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}
VT_AVX2 inline void Store(int32_t *p, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(p), v);
}
// p[7], p[6], ..., p[0].
VT_AVX2 inline __m256i LoadReversed(const int32_t *p) {
    return _mm256_permutevar8x32_epi32(Load(p), _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0));
}

// The stages of 2 and 4 points on two groups of four values (v1, v2): a + b and a - b, then
// s0 + s1, s0 - s1 and d0 + (-+i) d1, d0 - (-+i) d1, all halving. `mask` 0x88 turns d1 by -i (the
// filterbank's FFT), 0x44 by +i (the QMF banks').
VT_AVX2 inline void FirstStages(__m256i *v1, __m256i *v2, int mask) {
    const __m256i ab = _mm256_permute2x128_si256(*v1, *v2, 0x20);  // a1 b1 | a2 b2
    const __m256i cd = _mm256_permute2x128_si256(*v1, *v2, 0x31);  // c1 d1 | c2 d2
    const __m256i first = _mm256_unpacklo_epi64(ab, cd);           // a c
    const __m256i second = _mm256_unpackhi_epi64(ab, cd);          // b d
    const __m256i s = HalfSum(first, second);                      // s0 s1
    const __m256i d = HalfDiff(first, second);                     // d0 d1
    const __m256i dSwapped = _mm256_shuffle_epi32(d, _MM_SHUFFLE(2, 3, 1, 0));
    const __m256i left = _mm256_unpacklo_epi64(s, d);          // s0r s0i d0r d0i
    const __m256i right = _mm256_unpackhi_epi64(s, dSwapped);  // s1r s1i d1i d1r
    const __m256i sum = HalfSum(left, right), diff = HalfDiff(left, right);
    // In each half, lane 3 (for -i: d0i - d1r, then d0i + d1r) or lane 2 (for +i: d0r - d1i,
    // then d0r + d1i) takes the other sign.
    const __m256i low =
        mask == 0x88 ? _mm256_blend_epi32(sum, diff, 0x88) : _mm256_blend_epi32(sum, diff, 0x44);
    const __m256i high =
        mask == 0x88 ? _mm256_blend_epi32(diff, sum, 0x88) : _mm256_blend_epi32(diff, sum, 0x44);
    *v1 = _mm256_permute2x128_si256(low, high, 0x20);
    *v2 = _mm256_permute2x128_si256(low, high, 0x31);
}

// The radix-2 stages of 8 points and up on n interleaved complex values, with the twiddles laid
// out as FftTables and QmfFftTables hold them (cos and sin twice per butterfly, stage by stage
// from offset len - 8); the first butterfly of each group is a plain sum and difference.
VT_AVX2 inline void RadixStages(int32_t *x, int n, const int32_t *cos, const int32_t *sin) {
    for (int len = 8; len <= n; len <<= 1) {
        const int half = len >> 1;
        const int32_t *tc = cos + 2 * (half - 4);
        const int32_t *ts = sin + 2 * (half - 4);
        for (int i = 0; i < n; i += len) {
            int32_t *a = x + 2 * i;
            int32_t *b = a + 2 * half;
            for (int k = 0; k < half; k += 4) {
                const __m256i va = Load(a + 2 * k);
                const __m256i vb = Load(b + 2 * k);
                __m256i t = RotateQ31(vb, Load(tc + 2 * k), Load(ts + 2 * k));
                if (k == 0) t = _mm256_blend_epi32(t, vb, 0x03);
                Store(a + 2 * k, HalfSum(va, t));
                Store(b + 2 * k, HalfDiff(va, t));
            }
        }
    }
}

// The twiddles of each FFT stage from 8 points up, laid out for RotateQ31 (for butterfly k of a
// stage, cos and sin each twice: the re and im lanes of one complex value), and the pairs of
// points that the bit-reversed order swaps.
struct FftTables {
    // Stage len = 8 << i uses len / 2 butterflies from offset len / 2 - 4 (4 + 8 + ... + 256).
    int32_t cos[2 * 508];
    int32_t sin[2 * 508];
    uint16_t swaps512[240][2];
    uint16_t swaps64[28][2];
    FftTables() {
        for (int len = 8; len <= 512; len <<= 1) {
            const int half = len / 2, step = 512 / len, base = 2 * (half - 4);
            for (int k = 0; k < half; ++k) {
                cos[base + 2 * k] = cos[base + 2 * k + 1] = kFftTwiddle[2 * k * step];
                sin[base + 2 * k] = sin[base + 2 * k + 1] = kFftTwiddle[2 * k * step + 1];
            }
        }
        ListSwaps(512, swaps512);
        ListSwaps(64, swaps64);
    }
    static void ListSwaps(int n, uint16_t (*out)[2]) {
        int bits = 0;
        while ((1 << bits) < n) ++bits;
        for (int i = 0, m = 0; i < n; ++i) {
            int j = 0;
            for (int b = 0; b < bits; ++b) j |= ((i >> b) & 1) << (bits - 1 - b);
            if (i < j) {
                out[m][0] = static_cast<uint16_t>(i);
                out[m][1] = static_cast<uint16_t>(j);
                ++m;
            }
        }
    }
};

const FftTables &Tables() {
    static const FftTables t;
    return t;
}

VT_AVX2 void FftAvx2(int32_t *x, int n) {
    if (n != 64 && n != 512) {
        DspPortable().fft(x, n);
        return;
    }
    const FftTables &tw = Tables();
    // Bit reversal first, as the portable code does.
    const uint16_t(*swaps)[2] = n == 512 ? tw.swaps512 : tw.swaps64;
    const int count = n == 512 ? 240 : 28;
    for (int m = 0; m < count; ++m) {
        int64_t a, b;
        std::memcpy(&a, x + 2 * swaps[m][0], 8);
        std::memcpy(&b, x + 2 * swaps[m][1], 8);
        std::memcpy(x + 2 * swaps[m][0], &b, 8);
        std::memcpy(x + 2 * swaps[m][1], &a, 8);
    }
    for (int i = 0; i < n; i += 8) {
        __m256i v1 = Load(x + 2 * i), v2 = Load(x + 2 * i + 8);
        FirstStages(&v1, &v2, 0x88);
        Store(x + 2 * i, v1);
        Store(x + 2 * i + 8, v2);
    }
    RadixStages(x, n, tw.cos, tw.sin);
}

VT_AVX2 void PreRotateAvx2(const int32_t *X, int M, int shift, const int32_t *rot, int32_t *buf) {
    const int H = M / 2;
    const __m128i left = _mm_cvtsi32_si128(shift >= 0 ? shift : 0);
    const __m128i right = _mm_cvtsi32_si128(shift >= 0 ? 0 : -shift);
    for (int k = 0; k < H; k += 4) {
        // (X[2k], X[M-1-2k]), (X[2k+2], X[M-3-2k]), ... as complex values, scaled.
        const __m256i re = Load(X + 2 * k);  // in the even lanes
        const __m256i im = LoadReversed(X + M - 8 - 2 * k);
        __m256i z = _mm256_blend_epi32(re, _mm256_slli_epi64(im, 32), 0xAA);
        z = _mm256_sra_epi32(_mm256_sll_epi32(z, left), right);
        const __m256i cs = Load(rot + 2 * k);  // cos in the even lanes, sin in the odd ones
        Store(buf + 2 * k, RotateQ31(z, cs, _mm256_shuffle_epi32(cs, 0xB1)));
    }
}

// s >> k (0 < k < 32) on each 64-bit lane, saturated to 32 bits, in the even 32-bit lanes; with
// `clear` the lowest `clear` bits of a result that fits are cleared.
VT_AVX2 inline __m256i ShiftRightSaturate(__m256i s, int k, int clear = 0) {
    const __m128i count = _mm_cvtsi32_si128(k);
    const __m256i low = _mm256_srl_epi64(s, count);  // low half of the arithmetic shift too
    const __m256i high = _mm256_srli_epi64(_mm256_sra_epi32(s, count), 32);
    const __m256i fits = _mm256_cmpeq_epi32(_mm256_srai_epi32(low, 31), high);
    const __m256i limit =
        _mm256_xor_si256(_mm256_srai_epi32(high, 31), _mm256_set1_epi32(INT32_MAX));
    const __m256i kept =
        _mm256_and_si256(low, _mm256_set1_epi32(static_cast<int32_t>(~0u << clear)));
    return _mm256_castps_si256(_mm256_blendv_ps(
        _mm256_castsi256_ps(limit), _mm256_castsi256_ps(kept), _mm256_castsi256_ps(fits)));
}

VT_AVX2 void PostRotateAvx2(const int32_t *buf, int M, int shift, const int32_t *rot,
                            int32_t *out) {
    if (shift < -30 || shift > 24) {
        DspPortable().postRotate(buf, M, shift, rot, out);
        return;
    }
    const int H = M / 2;
    // For shift >= 1 both roundings are one: ((P + 2^30) >> 31 + 2^(shift-1)) >> shift is
    // (P + 2^30 + 2^(30+shift)) >> (31 + shift), which fits 31 bits and so is the high half of
    // the 64-bit sum shifted right by shift - 1. Smaller shifts scale up with saturation.
    const bool down = shift >= 1;
    const __m256i rnd =
        _mm256_set1_epi64x((int64_t{1} << 30) + (down ? int64_t{1} << (30 + shift) : 0));
    const __m128i count = _mm_cvtsi32_si128(down ? shift - 1 : 0);
    auto scale = [&](__m256i sum) VT_AVX2 {
        return down ? _mm256_srli_epi64(_mm256_sra_epi32(sum, count), 32)
                    : ShiftRightSaturate(sum, 31 + shift, -shift);  // (sum >> 31) << -shift
    };
    // Results of four values, real and imaginary parts each in the even lanes.
    auto rotate = [&](int j, __m256i *re, __m256i *im) VT_AVX2 {
        const __m256i v = Load(buf + 2 * j);
        const __m256i vs = _mm256_shuffle_epi32(v, 0xB1);
        const __m256i cs = Load(rot + 2 * j);
        const __m256i sn = _mm256_shuffle_epi32(cs, 0xB1);
        *re = scale(_mm256_add_epi64(
            _mm256_add_epi64(_mm256_mul_epi32(v, cs), _mm256_mul_epi32(vs, sn)), rnd));
        *im = scale(_mm256_add_epi64(
            _mm256_sub_epi64(_mm256_mul_epi32(vs, cs), _mm256_mul_epi32(v, sn)), rnd));
    };
    // Even lanes 6, 4, 2, 0 to lanes 1, 3, 5, 7: four imaginary parts, reversed.
    const __m256i mirror = _mm256_setr_epi32(0, 6, 2, 4, 4, 2, 6, 0);
    // Values j..j+3 and their mirror H-4-j..H-1-j fill the output's first and last runs.
    for (int j = 0; j < H / 2; j += 4) {
        const int j2 = H - 4 - j;
        __m256i re1, im1, re2, im2;
        rotate(j, &re1, &im1);
        rotate(j2, &re2, &im2);
        const __m256i neg2 = Negate(_mm256_permutevar8x32_epi32(im2, mirror));
        const __m256i neg1 = Negate(_mm256_permutevar8x32_epi32(im1, mirror));
        Store(out + 2 * j, _mm256_blend_epi32(re1, neg2, 0xAA));
        Store(out + M - 8 - 2 * j, _mm256_blend_epi32(re2, neg1, 0xAA));
    }
}

VT_AVX2 void OverlapLongAvx2(int32_t *out, int32_t *ov, const int32_t *c, const int32_t *wl,
                             const int32_t *wr) {
    constexpr int h = kFrameLen / 2;
    for (int n = 0; n < h; n += 8)
        Store(out + n, AddSaturate(Load(ov + n), MulQ31x8(Load(c + n + h), Load(wl + n))));
    for (int n = h; n < kFrameLen; n += 8) {
        const __m256i y = Negate(LoadReversed(c + 3 * h - 8 - n));
        Store(out + n, AddSaturate(Load(ov + n), MulQ31x8(y, Load(wl + n))));
    }
    for (int n = 0; n < h; n += 8) {
        const __m256i y = Negate(LoadReversed(c + h - 8 - n));
        Store(ov + n, MulQ31x8(y, LoadReversed(wr + kFrameLen - 8 - n)));
    }
    for (int n = h; n < kFrameLen; n += 8) {
        const __m256i y = Negate(Load(c + n - h));
        Store(ov + n, MulQ31x8(y, LoadReversed(wr + kFrameLen - 8 - n)));
    }
}

VT_AVX2 void PcmAvx2(const int32_t *time, int16_t *pcm) {
    const __m256i rnd = _mm256_set1_epi32(1 << (kTimeFrac - 1));
    for (int n = 0; n < kFrameLen; n += 16) {
        // time + rnd cannot wrap where it matters: values that near INT32_MAX saturate either way.
        __m256i a = Load(time + n), b = Load(time + n + 8);
        a = _mm256_srai_epi32(AddSaturate(a, rnd), kTimeFrac);
        b = _mm256_srai_epi32(AddSaturate(b, rnd), kTimeFrac);
        // packs works per 128-bit half; put the four quarters back in order.
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(pcm + n), packed);
    }
}

// ---- SBR QMF banks ----

// Four 32-bit values as 64-bit lanes (the value in each even 32-bit lane, sign-extended).
VT_AVX2 inline __m256i Widen4(const int32_t *p) {
    return _mm256_cvtepi32_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)));
}

// The even (or odd) 32-bit lanes of v, in order, as four values.
VT_AVX2 inline __m128i EvenLanes(__m256i v) {
    return _mm256_castsi256_si128(
        _mm256_permutevar8x32_epi32(v, _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6)));
}
VT_AVX2 inline __m128i OddLanes(__m256i v) {
    return _mm256_castsi256_si128(
        _mm256_permutevar8x32_epi32(v, _mm256_setr_epi32(1, 3, 5, 7, 1, 3, 5, 7)));
}

VT_AVX2 void QmfSynthesis64Avx2(const int32_t *v, const int32_t *w, int16_t *out) {
    const __m256i rnd = _mm256_set1_epi64x(int64_t{1} << 38);
    for (int k = 0; k < 64; k += 4) {
        __m256i s = rnd;
        for (int n = 0; n < 5; ++n) {
            s = _mm256_add_epi64(
                s, _mm256_mul_epi32(Widen4(v + 256 * n + k), Widen4(w + 128 * n + k)));
            s = _mm256_add_epi64(
                s, _mm256_mul_epi32(Widen4(v + 256 * n + 192 + k), Widen4(w + 128 * n + 64 + k)));
        }
        // (s + 2^38) >> 39 is the high half shifted right by 7; packing saturates it to 16 bits.
        const __m128i r = OddLanes(_mm256_srai_epi32(s, 7));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out + k), _mm_packs_epi32(r, r));
    }
}

VT_AVX2 int32_t QmfAnalysisAvx2(const int32_t *x, const int32_t *w, int32_t *u) {
    const __m256i rnd = _mm256_set1_epi64x(int64_t{1} << 28);
    __m128i mag = _mm_setzero_si128();
    for (int n = 0; n < 64; n += 4) {
        __m256i s = rnd;
        for (int j = 0; j < 5; ++j)  // w's even 32-bit lanes are w[2 (n + 64 j)], ...
            s = _mm256_add_epi64(
                s, _mm256_mul_epi32(Widen4(x + n + 64 * j), Load(w + 2 * (n + 64 * j))));
        const __m128i r = EvenLanes(ShiftRightSaturate(s, 29));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(u + n), r);
        mag = _mm_or_si128(mag, _mm_xor_si128(r, _mm_srai_epi32(r, 31)));
    }
    mag = _mm_or_si128(mag, _mm_shuffle_epi32(mag, _MM_SHUFFLE(1, 0, 3, 2)));
    mag = _mm_or_si128(mag, _mm_shuffle_epi32(mag, _MM_SHUFFLE(2, 3, 0, 1)));
    return _mm_cvtsi128_si32(mag);
}

// Twiddles of the 32-point FFT's stages of 8, 16 and 32 points for RotateQ31 (cos, -sin, each
// twice): the rotation by i is exact as cos 0 and -sin -2^31, and butterfly 0 of a group takes no
// rotation at all.
struct QmfFftTables {
    int32_t cos[2 * 28];
    int32_t sin[2 * 28];
    uint8_t rev[32];
    QmfFftTables() {
        for (int len = 8; len <= 32; len <<= 1) {
            const int half = len / 2, step = 128 / len, base = 2 * (half - 4);
            for (int j = 0; j < half; ++j) {
                int32_t c = kQmfTwiddle[j * step][0], sn = -kQmfTwiddle[j * step][1];
                if (2 * j == half) c = 0, sn = INT32_MIN;
                cos[base + 2 * j] = cos[base + 2 * j + 1] = c;
                sin[base + 2 * j] = sin[base + 2 * j + 1] = sn;
            }
        }
        for (int i = 0; i < 32; ++i) {
            int r = 0;
            for (int b = 0; b < 5; ++b) r |= ((i >> b) & 1) << (4 - b);
            rev[i] = static_cast<uint8_t>(r);
        }
    }
};

VT_AVX2 void QmfFft32Avx2(const int32_t (*src)[2], int32_t (*a)[2]) {
    static const QmfFftTables tw;
    // Gathered in bit-reversed order, then the stages of 2 and 4 points.
    const long long *in = reinterpret_cast<const long long *>(&src[0][0]);
    int32_t *x = &a[0][0];
    for (int i = 0; i < 32; i += 8) {
        int32_t packed1, packed2;  // four 8-bit indices each
        std::memcpy(&packed1, tw.rev + i, 4);
        std::memcpy(&packed2, tw.rev + i + 4, 4);
        const __m128i r1 = _mm_cvtepu8_epi32(_mm_cvtsi32_si128(packed1));
        const __m128i r2 = _mm_cvtepu8_epi32(_mm_cvtsi32_si128(packed2));
        __m256i v1 = _mm256_i32gather_epi64(in, r1, 8), v2 = _mm256_i32gather_epi64(in, r2, 8);
        FirstStages(&v1, &v2, 0x44);
        Store(x + 2 * i, v1);
        Store(x + 2 * i + 8, v2);
    }
    RadixStages(x, 32, tw.cos, tw.sin);
}

VT_AVX2 void QmfDct4x64Avx2(const int32_t *a, int32_t *d) {
    alignas(32) int32_t z[32][2], f[32][2];
    // Pre-rotation of (a[2n], -a[63 - 2n]) by (c, s): re c - im s, re s + im c, which is RotateQ31
    // with the sine negated.
    for (int n = 0; n < 32; n += 4) {
        const __m256i re = Load(a + 2 * n);  // a[2n], a[2n + 2], ... in the even lanes
        const __m256i im = _mm256_sub_epi32(_mm256_setzero_si256(), LoadReversed(a + 56 - 2 * n));
        const __m256i b = _mm256_blend_epi32(re, _mm256_slli_epi64(im, 32), 0xAA);
        const __m256i cs = Load(kQmfDct4Pre + 2 * n);
        const __m256i c = _mm256_shuffle_epi32(cs, _MM_SHUFFLE(2, 2, 0, 0));
        const __m256i sn = _mm256_sub_epi32(_mm256_setzero_si256(),
                                            _mm256_shuffle_epi32(cs, _MM_SHUFFLE(3, 3, 1, 1)));
        Store(&z[n][0], RotateQ31(b, c, sn));
    }
    QmfFft32Avx2(z, f);
    // Post-rotation by exp(i pi m / 64); the real parts go to d[2m], the imaginary ones to
    // d[63 - 2m], so blocks m..m+3 and 28-m..31-m fill the first and last runs together.
    const __m256i mirror = _mm256_setr_epi32(0, 7, 2, 5, 4, 3, 6, 1);
    auto rotate = [&](int m) VT_AVX2 {
        const __m256i cs = Load(&kQmfTwiddle[m][0]);
        const __m256i c = _mm256_shuffle_epi32(cs, _MM_SHUFFLE(2, 2, 0, 0));
        const __m256i sn = _mm256_sub_epi32(_mm256_setzero_si256(),
                                            _mm256_shuffle_epi32(cs, _MM_SHUFFLE(3, 3, 1, 1)));
        return RotateQ31(Load(&f[m][0]), c, sn);
    };
    for (int m = 0; m < 16; m += 4) {
        const __m256i r1 = rotate(m), r2 = rotate(28 - m);
        Store(d + 2 * m, _mm256_blend_epi32(r1, _mm256_permutevar8x32_epi32(r2, mirror), 0xAA));
        Store(d + 56 - 2 * m,
              _mm256_blend_epi32(r2, _mm256_permutevar8x32_epi32(r1, mirror), 0xAA));
    }
}

VT_AVX2 void QmfModulate64Avx2(const int32_t (*in)[2], int32_t *v) {
    const int32_t *x = &in[0][0];  // re, im of 64 values
    __m256i mag = _mm256_setzero_si256();
    for (int i = 0; i < 128; i += 8) {
        const __m256i t = Load(x + i);
        mag = _mm256_or_si256(mag, _mm256_xor_si256(t, _mm256_srai_epi32(t, 31)));
    }
    __m128i m = _mm_or_si128(_mm256_castsi256_si128(mag), _mm256_extracti128_si256(mag, 1));
    m = _mm_or_si128(m, _mm_shuffle_epi32(m, _MM_SHUFFLE(1, 0, 3, 2)));
    m = _mm_or_si128(m, _mm_shuffle_epi32(m, _MM_SHUFFLE(2, 3, 0, 1)));
    const int head = QmfHeadroom(_mm_cvtsi128_si32(m));
    // The scaled values fit 32 bits (that is what the head room is for), so the scaling is a
    // 32-bit shift.
    const __m128i up = _mm_cvtsi32_si128(head > 0 ? head : 0);
    const __m128i down = _mm_cvtsi32_si128(head < 0 ? -head : 0);
    const __m256i evens = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
    alignas(32) int32_t a[64], b[64], ca[64], cb[64];
    for (int k = 0; k < 64; k += 8) {
        // Values k..k+3 and k+4..k+7, each as re re re re | im im im im.
        const __m256i p0 = _mm256_permutevar8x32_epi32(Load(x + 2 * k), evens);
        const __m256i p1 = _mm256_permutevar8x32_epi32(Load(x + 2 * k + 8), evens);
        __m256i re = _mm256_permute2x128_si256(p0, p1, 0x20);
        __m256i im = _mm256_permute2x128_si256(p0, p1, 0x31);
        re = _mm256_sra_epi32(_mm256_sll_epi32(re, up), down);
        im = _mm256_sra_epi32(_mm256_sll_epi32(im, up), down);
        Store(a + k, re);
        // b[63 - k - j] = im of value k + j.
        Store(b + 56 - k,
              _mm256_permutevar8x32_epi32(im, _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0)));
    }
    QmfDct4x64Avx2(a, ca);
    QmfDct4x64Avx2(b, cb);
    // v[n] = S - C and v[127 - n] = C + S with S the odd-negated DST values, scaled by
    // 2^-(head - 1): the DCT outputs stay below 2^29, so the sums fit 32 bits.
    const int shift = head - 1;
    const __m256i alternate = _mm256_setr_epi32(1, -1, 1, -1, 1, -1, 1, -1);
    const __m256i rnd = _mm256_set1_epi32(shift > 0 ? 1 << (shift - 1) : 0);
    const __m128i count = _mm_cvtsi32_si128(shift > 0 ? shift : -shift);
    auto scale = [&](__m256i t) VT_AVX2 {
        if (shift >= 0) return _mm256_sra_epi32(_mm256_add_epi32(t, rnd), count);
        // Scaled up with saturation.
        const __m256i shifted = _mm256_sll_epi32(t, count);
        const __m256i fits = _mm256_cmpeq_epi32(_mm256_sra_epi32(shifted, count), t);
        const __m256i limit =
            _mm256_xor_si256(_mm256_srai_epi32(t, 31), _mm256_set1_epi32(INT32_MAX));
        return _mm256_castps_si256(_mm256_blendv_ps(
            _mm256_castsi256_ps(limit), _mm256_castsi256_ps(shifted), _mm256_castsi256_ps(fits)));
    };
    for (int n = 0; n < 64; n += 8) {
        const __m256i c = Load(ca + n);
        const __m256i sn = _mm256_sign_epi32(Load(cb + n), alternate);
        Store(v + n, scale(_mm256_sub_epi32(sn, c)));
        Store(v + 120 - n, _mm256_permutevar8x32_epi32(scale(_mm256_add_epi32(c, sn)),
                                                       _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0)));
    }
}

}  // namespace

void DspInitX86(DspTable *t) {
    if (!__builtin_cpu_supports("avx2")) return;
    t->fft = FftAvx2;
    t->preRotate = PreRotateAvx2;
    t->postRotate = PostRotateAvx2;
    t->overlapLong = OverlapLongAvx2;
    t->writePcm = PcmAvx2;
    t->qmfFft32 = QmfFft32Avx2;
    t->qmfSynthesis64 = QmfSynthesis64Avx2;
    t->qmfAnalysis = QmfAnalysisAvx2;
    t->qmfDct4x64 = QmfDct4x64Avx2;
    t->qmfModulate64 = QmfModulate64Avx2;
}

}  // namespace aacdec

#else

namespace aacdec {
void DspInitX86(DspTable *) {}
}  // namespace aacdec

#endif
