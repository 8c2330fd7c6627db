// SBR QMF banks (ISO/IEC 14496-3 4.6.18.4): the 32-band complex analysis of the core signal, the
// 64-band synthesis at twice the core rate and the 32-band synthesis of downsampled SBR. Samples
// in the QMF domain carry kQmfFrac fraction bits relative to the standard's PCM scale.
#include <cstring>

#include "codec/aac/dsp.h"
#include "codec/aac/sbr.h"

namespace aacdec {
namespace {

inline int16_t SatPcm(int64_t v, int shift) {
    v = (v + (int64_t{1} << (shift - 1))) >> shift;
    if (v > 32767) return 32767;
    if (v < -32768) return -32768;
    return static_cast<int16_t>(v);
}

inline int32_t Clip(int64_t v) {
    if (v > kQmfLimit) return kQmfLimit;
    if (v < -kQmfLimit) return -kQmfLimit;
    return static_cast<int32_t>(v);
}

inline int64_t Scale(int32_t v, int head) {
    return head >= 0 ? static_cast<int64_t>(v) * (int64_t{1} << head)
                     : static_cast<int64_t>(v) >> -head;
}

}  // namespace

namespace {

struct BitRev {
    uint8_t r64[64], r32[32];
};

constexpr BitRev MakeBitRev() {
    BitRev t{};
    for (int i = 0; i < 64; ++i) {
        int r = 0;
        for (int b = 0; b < 6; ++b) r |= ((i >> b) & 1) << (5 - b);
        t.r64[i] = static_cast<uint8_t>(r);
        if (i < 32) t.r32[i] = static_cast<uint8_t>(r >> 1);
    }
    return t;
}
constexpr BitRev kBitRev = MakeBitRev();

// Radix-2 FFT of n = 64 complex values with exp(+2 pi i j k / n) from src into a; every stage
// halves, so the result is the sum divided by n. upper_zero: src[n/2..n-1] are zero (the
// synthesis banks' padding), which the first stage then skips reading.
void Fft(const int32_t (*src)[2], int32_t (*a)[2], int n, bool upper_zero = false) {
    const uint8_t *rev = kBitRev.r64;
    // First stage (twiddle 1) together with the reordering; rev[i + 1] = rev[i] + n / 2.
    for (int i = 0; i < n; i += 2) {
        int64_t ur = src[rev[i]][0], ui = src[rev[i]][1];
        int64_t tr = upper_zero ? 0 : src[rev[i + 1]][0], ti = upper_zero ? 0 : src[rev[i + 1]][1];
        a[i][0] = static_cast<int32_t>((ur + tr + 1) >> 1);
        a[i][1] = static_cast<int32_t>((ui + ti + 1) >> 1);
        a[i + 1][0] = static_cast<int32_t>((ur - tr + 1) >> 1);
        a[i + 1][1] = static_cast<int32_t>((ui - ti + 1) >> 1);
    }
    for (int len = 4; len <= n; len <<= 1) {
        const int half = len >> 1, step = 128 / len;
        // Twiddles 1 and i need no multiplication.
        for (int i = 0; i < n; i += len) {
            int32_t *u = a[i], *v = a[i + half];
            int64_t ur = u[0], ui = u[1], tr = v[0], ti = v[1];
            u[0] = static_cast<int32_t>((ur + tr + 1) >> 1);
            u[1] = static_cast<int32_t>((ui + ti + 1) >> 1);
            v[0] = static_cast<int32_t>((ur - tr + 1) >> 1);
            v[1] = static_cast<int32_t>((ui - ti + 1) >> 1);
            u = a[i + half / 2];
            v = a[i + half / 2 + half];
            ur = u[0];
            ui = u[1];
            tr = -static_cast<int64_t>(v[1]);
            ti = v[0];
            u[0] = static_cast<int32_t>((ur + tr + 1) >> 1);
            u[1] = static_cast<int32_t>((ui + ti + 1) >> 1);
            v[0] = static_cast<int32_t>((ur - tr + 1) >> 1);
            v[1] = static_cast<int32_t>((ui - ti + 1) >> 1);
        }
        for (int j = 1; j < half; ++j) {
            if (j == half / 2) continue;
            const int64_t wr = kQmfTwiddle[j * step][0], wi = kQmfTwiddle[j * step][1];
            for (int i = j; i < n; i += len) {
                int32_t *u = a[i], *v = a[i + half];
                int64_t tr = (v[0] * wr - v[1] * wi + (int64_t{1} << 30)) >> 31;
                int64_t ti = (v[0] * wi + v[1] * wr + (int64_t{1} << 30)) >> 31;
                int64_t ur = u[0], ui = u[1];
                u[0] = static_cast<int32_t>((ur + tr + 1) >> 1);
                u[1] = static_cast<int32_t>((ui + ti + 1) >> 1);
                v[0] = static_cast<int32_t>((ur - tr + 1) >> 1);
                v[1] = static_cast<int32_t>((ui - ti + 1) >> 1);
            }
        }
    }
}

inline void Butterfly(int32_t *u, int32_t *v, int64_t tr, int64_t ti) {
    const int64_t ur = u[0], ui = u[1];
    u[0] = static_cast<int32_t>((ur + tr + 1) >> 1);
    u[1] = static_cast<int32_t>((ui + ti + 1) >> 1);
    v[0] = static_cast<int32_t>((ur - tr + 1) >> 1);
    v[1] = static_cast<int32_t>((ui - ti + 1) >> 1);
}

}  // namespace

// The same transform as Fft, with the same roundings, for the 32 points the QMF banks use at full
// rate: fixed bounds let the compiler unroll, and the first two stages run as one pass.
void QmfFft32(const int32_t (*src)[2], int32_t (*a)[2]) {
    constexpr int n = 32;
    const uint8_t *rev = kBitRev.r32;
    for (int i = 0; i < n; i += 4) {
        const int32_t *p0 = src[rev[i]], *p1 = src[rev[i + 1]], *p2 = src[rev[i + 2]],
                      *p3 = src[rev[i + 3]];
        int32_t b0[2], b1[2], b2[2], b3[2];
        for (int c = 0; c < 2; ++c) {
            b0[c] = static_cast<int32_t>((static_cast<int64_t>(p0[c]) + p1[c] + 1) >> 1);
            b1[c] = static_cast<int32_t>((static_cast<int64_t>(p0[c]) - p1[c] + 1) >> 1);
            b2[c] = static_cast<int32_t>((static_cast<int64_t>(p2[c]) + p3[c] + 1) >> 1);
            b3[c] = static_cast<int32_t>((static_cast<int64_t>(p2[c]) - p3[c] + 1) >> 1);
        }
        a[i][0] = b0[0], a[i][1] = b0[1];
        a[i + 1][0] = b1[0], a[i + 1][1] = b1[1];
        a[i + 2][0] = b2[0], a[i + 2][1] = b2[1];
        a[i + 3][0] = b3[0], a[i + 3][1] = b3[1];
        Butterfly(a[i], a[i + 2], b2[0], b2[1]);
        Butterfly(a[i + 1], a[i + 3], -static_cast<int64_t>(b3[1]), b3[0]);
    }
    for (int len = 8; len <= n; len <<= 1) {
        const int half = len >> 1, step = 128 / len;
        for (int i = 0; i < n; i += len) {
            int32_t(*u)[2] = a + i, (*v)[2] = a + i + half;
            Butterfly(u[0], v[0], v[0][0], v[0][1]);
            Butterfly(u[half / 2], v[half / 2], -static_cast<int64_t>(v[half / 2][1]),
                      v[half / 2][0]);
            for (int j = 1; j < half; ++j) {
                if (j == half / 2) continue;
                const int64_t wr = kQmfTwiddle[j * step][0], wi = kQmfTwiddle[j * step][1];
                const int64_t vr = v[j][0], vi = v[j][1];
                Butterfly(u[j], v[j], (vr * wr - vi * wi + (int64_t{1} << 30)) >> 31,
                          (vr * wi + vi * wr + (int64_t{1} << 30)) >> 31);
            }
        }
    }
}

namespace {

// v[n] = Re(post[n] * FFT(pre[k] * X[k])) << shift: the modulation of the synthesis banks
// (sum over k of X[k] exp(i pi (k + 0.5)(2n - n0) / bands)) split into a pre-twiddle, an FFT of
// twice the band count and a post-twiddle.
void Modulate(const int32_t (*in)[2], int bands, const int32_t (*pre)[2], const int32_t (*post)[2],
              int shift, int32_t *v) {
    int32_t z[64][2], f[64][2];  // bands is 32 here
    const int n = 2 * bands;
    // Quiet slots are scaled up first so the FFT's halving costs no precision.
    int32_t mx = 0;
    for (int k = 0; k < bands; ++k)
        mx |= (in[k][0] < 0 ? ~in[k][0] : in[k][0]) | (in[k][1] < 0 ? ~in[k][1] : in[k][1]);
    const int head = QmfHeadroom(mx);
    shift -= head;
    for (int k = 0; k < bands; ++k) {
        const int64_t xr = Scale(in[k][0], head), xi = Scale(in[k][1], head);
        z[k][0] =
            static_cast<int32_t>((xr * pre[k][0] - xi * pre[k][1] + (int64_t{1} << 30)) >> 31);
        z[k][1] =
            static_cast<int32_t>((xr * pre[k][1] + xi * pre[k][0] + (int64_t{1} << 30)) >> 31);
    }
    Fft(z, f, n, true);
    for (int i = 0; i < n; ++i) {
        int64_t r = (static_cast<int64_t>(f[i][0]) * post[i][0] -
                     static_cast<int64_t>(f[i][1]) * post[i][1] + (int64_t{1} << 30)) >>
                    31;
        v[i] = shift >= 0 ? Sat32(r * (int64_t{1} << shift))
                          : static_cast<int32_t>((r + (int64_t{1} << (-shift - 1))) >> -shift);
    }
}

}  // namespace

// d[p] = sum_k a[k] cos(pi/64 (k + 1/2)(p + 1/2)) / 32: the DCT-IV through a 32-point FFT of
// (a[2n] - i a[63 - 2n]) exp(i pi (n + 1/4) / 64), post-rotated by exp(i pi m / 64); the real
// part gives d[2m], the imaginary part d[63 - 2m].
void QmfDct4x64(const int32_t *a, int32_t *d) {
    int32_t z[32][2], f[32][2];
    for (int n = 0; n < 32; ++n) {
        const int64_t re = a[2 * n], im = -static_cast<int64_t>(a[63 - 2 * n]);
        const int64_t c = kQmfDct4Pre[2 * n], s = kQmfDct4Pre[2 * n + 1];
        z[n][0] = static_cast<int32_t>((re * c - im * s + (int64_t{1} << 30)) >> 31);
        z[n][1] = static_cast<int32_t>((re * s + im * c + (int64_t{1} << 30)) >> 31);
    }
    QmfFft32(z, f);
    for (int m = 0; m < 32; ++m) {
        const int64_t c = kQmfTwiddle[m][0], s = kQmfTwiddle[m][1];
        d[2 * m] = static_cast<int32_t>((f[m][0] * c - f[m][1] * s + (int64_t{1} << 30)) >> 31);
        d[63 - 2 * m] =
            static_cast<int32_t>((f[m][0] * s + f[m][1] * c + (int64_t{1} << 30)) >> 31);
    }
}

// The 64-band synthesis modulation v[n] = Re(sum_k X[k] exp(i pi (k + 1/2)(2n - 255) / 128)) / 16
// (the bank's 1/64 with kQmfFrac fraction bits in and kVFrac out). With m = 127 - n the kernel is
// that of a DCT-IV for the real parts and a DST-IV for the imaginary parts, extended by their
// symmetries to 128 outputs: v[n] = S[n] - C[n] and v[127 - n] = C[n] + S[n] for n < 64, where
// S[p] = (-1)^p DCT-IV(Xi reversed)[p]. Two 64-value DCT-IVs instead of a 128-point FFT.
void QmfModulate64(const int32_t (*in)[2], int32_t *v) {
    int32_t mx = 0;
    for (int k = 0; k < 64; ++k)
        mx |= (in[k][0] < 0 ? ~in[k][0] : in[k][0]) | (in[k][1] < 0 ? ~in[k][1] : in[k][1]);
    const int head = QmfHeadroom(mx);
    int32_t a[64], b[64], ca[64], cb[64];
    for (int k = 0; k < 64; ++k) {
        a[k] = static_cast<int32_t>(Scale(in[k][0], head));
        b[k] = static_cast<int32_t>(Scale(in[63 - k][1], head));
    }
    QmfDct4x64(a, ca);
    QmfDct4x64(b, cb);
    // The transforms return the sums / 32; v wants them / 16, with the head room taken out.
    const int shift = head - 1;
    for (int n = 0; n < 64; ++n) {
        const int64_t sn = (n & 1) ? -static_cast<int64_t>(cb[n]) : cb[n];
        const int64_t lo = sn - ca[n], hi = ca[n] + sn;
        if (shift < 0) {
            v[n] = Sat32(lo * (int64_t{1} << -shift));
            v[127 - n] = Sat32(hi * (int64_t{1} << -shift));
        } else {
            const int64_t r = shift ? int64_t{1} << (shift - 1) : 0;
            v[n] = static_cast<int32_t>((lo + r) >> shift);
            v[127 - n] = static_cast<int32_t>((hi + r) >> shift);
        }
    }
}

void SbrAnalysis(SbrChannel *c, const int32_t *time, int32_t (*low)[32][2]) {
    int32_t *x = c->ana;
    for (int l = 0; l < kSbrSlots; ++l) {
        std::memmove(x + 32, x, (320 - 32) * sizeof(int32_t));
        for (int n = 0; n < 32; ++n) x[31 - n] = time[32 * l + n];
        int32_t u[64];
        const int32_t mx = Dsp().qmfAnalysis(x, kSbrQmfWindow, u);
        // X[k] = 2 sum u[n] exp(i pi (k + 0.5)(2n - 0.5) / 64) = 2 exp(-i pi (k + 0.5) / 128) times
        // output k of the 64-point DFT of u[n] exp(i pi n / 64). u is real, so the DFT's outputs
        // 63 - k are the conjugates of outputs k and the even ones are all it takes: the 32-point
        // DFT of (u[n] + i u[n + 32]) exp(i pi n / 64). The FFT returns the sum / 32, u has
        // kTimeFrac + 2 fraction bits and X kQmfFrac: X = F * post * 64 / 2^(kTimeFrac + 2 - kQmfFrac).
        const int head = QmfHeadroom(mx);
        int32_t z[32][2], f[32][2];
        for (int n = 0; n < 32; ++n) {
            const int64_t re = Scale(u[n], head), im = Scale(u[n + 32], head);
            const int64_t c = kQmfAnaPre[n][0], s = kQmfAnaPre[n][1];
            z[n][0] = static_cast<int32_t>((re * c - im * s + (int64_t{1} << 30)) >> 31);
            z[n][1] = static_cast<int32_t>((re * s + im * c + (int64_t{1} << 30)) >> 31);
        }
        Dsp().qmfFft32(z, f);
        const int shift =
            kTimeFrac + 2 - kQmfFrac - 6 + head;  // right shift after the post-twiddle
        for (int k = 0; k < 32; ++k) {
            const int j = (k & 1) ? (63 - k) >> 1 : k >> 1;
            const int64_t fr = f[j][0], fi = (k & 1) ? -static_cast<int64_t>(f[j][1]) : f[j][1];
            int64_t re = fr * kQmfAnaPost[k][0] - fi * kQmfAnaPost[k][1];
            int64_t im = fr * kQmfAnaPost[k][1] + fi * kQmfAnaPost[k][0];
            const int s = 31 + shift;
            low[kSbrHfGen + l][k][0] = Clip((re + (int64_t{1} << (s - 1))) >> s);
            low[kSbrHfGen + l][k][1] = Clip((im + (int64_t{1} << (s - 1))) >> s);
        }
    }
}

void SbrSynthesis(SbrChannel *c, int32_t (*x)[64][2], int16_t *pcm, bool downsampled) {
    int32_t *v = c->syn;
    // v keeps kVFrac fraction bits over the PCM scale (Modulate64 takes care of that itself). For
    // 32 bands the FFT divides by 64; with the bank's 1/64 and kQmfFrac that leaves a shift of 2.
    constexpr int kVFrac = 8;
    static_assert(kQmfFrac == 6 && kVFrac == 8, "shifts below assume these");
    if (!downsampled) {
        for (int l = 0; l < kSbrSlots; ++l) {
            std::memmove(v + 128, v, (1280 - 128) * sizeof(int32_t));
            Dsp().qmfModulate64(x[l], v);
            Dsp().qmfSynthesis64(v, kSbrQmfWindow, pcm + 64 * l);
        }
        return;
    }
    for (int l = 0; l < kSbrSlots; ++l) {
        std::memmove(v + 64, v, (640 - 64) * sizeof(int32_t));
        Modulate(x[l], 32, kQmfDsPre, kQmfDsPost, 2, v);
        int16_t *out = pcm + 32 * l;
        for (int k = 0; k < 32; ++k) {
            int64_t s = 0;
            for (int n = 0; n < 5; ++n) {
                s += static_cast<int64_t>(v[128 * n + k]) * kSbrQmfWindow[2 * (64 * n + k)];
                s += static_cast<int64_t>(v[128 * n + 96 + k]) *
                     kSbrQmfWindow[2 * (64 * n + 32 + k)];
            }
            out[k] = SatPcm(s, 31 + kVFrac);
        }
    }
}

}  // namespace aacdec
