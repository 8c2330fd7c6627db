// SBR QMF banks (ISO/IEC 14496-3 4.6.18.4): the 32-band complex analysis of the core signal, the
// 64-band synthesis at twice the core rate and the 32-band synthesis of downsampled SBR. Samples
// in the QMF domain carry kQmfFrac fraction bits relative to the standard's PCM scale.
#include <cstring>

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

}  // namespace

namespace {

struct BitRev {
    uint8_t r128[128], r64[64];
};

constexpr BitRev MakeBitRev() {
    BitRev t{};
    for (int i = 0; i < 128; ++i) {
        int r = 0;
        for (int b = 0; b < 7; ++b) r |= ((i >> b) & 1) << (6 - b);
        t.r128[i] = static_cast<uint8_t>(r);
        if (i < 64) t.r64[i] = static_cast<uint8_t>(r >> 1);
    }
    return t;
}
constexpr BitRev kBitRev = MakeBitRev();

// Radix-2 FFT of n (64 or 128) complex values with exp(+2 pi i j k / n) from src into a; every
// stage halves, so the result is the sum divided by n. upper_zero: src[n/2..n-1] are zero (the
// synthesis banks' padding), which the first stage then skips reading.
void Fft(const int32_t (*src)[2], int32_t (*a)[2], int n, bool upper_zero = false) {
    const uint8_t *rev = n == 128 ? kBitRev.r128 : kBitRev.r64;
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

// v[n] = Re(post[n] * FFT(pre[k] * X[k])) << shift: the modulation of the synthesis banks
// (sum over k of X[k] exp(i pi (k + 0.5)(2n - n0) / bands)) split into a pre-twiddle, an FFT of
// twice the band count and a post-twiddle.
void Modulate(const int32_t (*in)[2], int bands, const int32_t (*pre)[2], const int32_t (*post)[2], int shift,
              int32_t *v) {
    int32_t z[128][2], f[128][2];
    const int n = 2 * bands;
    // Quiet slots are scaled up first so the FFT's halving costs no precision.
    int32_t mx = 0;
    for (int k = 0; k < bands; ++k) mx |= (in[k][0] < 0 ? ~in[k][0] : in[k][0]) | (in[k][1] < 0 ? ~in[k][1] : in[k][1]);
    int head = 0;
    while (head < 20 && (mx >> (27 - head)) == 0) ++head;
    shift -= head;
    for (int k = 0; k < bands; ++k) {
        int64_t xr = static_cast<int64_t>(in[k][0]) << head, xi = static_cast<int64_t>(in[k][1]) << head;
        z[k][0] = static_cast<int32_t>((xr * pre[k][0] - xi * pre[k][1] + (int64_t{1} << 30)) >> 31);
        z[k][1] = static_cast<int32_t>((xr * pre[k][1] + xi * pre[k][0] + (int64_t{1} << 30)) >> 31);
    }
    Fft(z, f, n, true);
    for (int i = 0; i < n; ++i) {
        int64_t r = (static_cast<int64_t>(f[i][0]) * post[i][0] - static_cast<int64_t>(f[i][1]) * post[i][1] +
                     (int64_t{1} << 30)) >> 31;
        v[i] = shift >= 0 ? Sat32(r * (int64_t{1} << shift)) : static_cast<int32_t>((r + (int64_t{1} << (-shift - 1))) >> -shift);
    }
}

}  // namespace

void SbrAnalysis(SbrChannel *c, const int32_t *time, int32_t (*low)[32][2]) {
    int32_t *x = c->ana;
    for (int l = 0; l < kSbrSlots; ++l) {
        std::memmove(x + 32, x, (320 - 32) * sizeof(int32_t));
        for (int n = 0; n < 32; ++n) x[31 - n] = time[32 * l + n];
        int32_t u[64];
        int32_t mx = 0;
        for (int n = 0; n < 64; ++n) {
            int64_t s = 0;
            for (int j = 0; j < 5; ++j) s += static_cast<int64_t>(x[n + 64 * j]) * kSbrQmfWindow[2 * (n + 64 * j)];
            // Two more fraction bits than the time samples.
            u[n] = Sat32((s + (int64_t{1} << 28)) >> 29);
            mx |= u[n] < 0 ? ~u[n] : u[n];
        }
        // X[k] = 2 sum u[n] exp(i pi (k + 0.5)(2n - 0.5) / 64) = 2 exp(-i pi (k + 0.5) / 128) times
        // the 64-point DFT of u[n] exp(i pi n / 64). The FFT returns the sum / 64, u has
        // kTimeFrac + 2 fraction bits and X kQmfFrac: X = F * post * 128 / 2^(kTimeFrac + 2 - kQmfFrac).
        int head = 0;
        while (head < 20 && (mx >> (27 - head)) == 0) ++head;
        int32_t z[64][2], f[64][2];
        for (int n = 0; n < 64; ++n) {
            int64_t v = static_cast<int64_t>(u[n]) << head;
            z[n][0] = static_cast<int32_t>((v * kQmfAnaPre[n][0] + (int64_t{1} << 30)) >> 31);
            z[n][1] = static_cast<int32_t>((v * kQmfAnaPre[n][1] + (int64_t{1} << 30)) >> 31);
        }
        Fft(z, f, 64);
        const int shift = kTimeFrac + 2 - kQmfFrac - 7 + head;  // right shift after the post-twiddle
        for (int k = 0; k < 32; ++k) {
            int64_t re = static_cast<int64_t>(f[k][0]) * kQmfAnaPost[k][0] - static_cast<int64_t>(f[k][1]) * kQmfAnaPost[k][1];
            int64_t im = static_cast<int64_t>(f[k][0]) * kQmfAnaPost[k][1] + static_cast<int64_t>(f[k][1]) * kQmfAnaPost[k][0];
            const int s = 31 + shift;
            low[kSbrHfGen + l][k][0] = Clip((re + (int64_t{1} << (s - 1))) >> s);
            low[kSbrHfGen + l][k][1] = Clip((im + (int64_t{1} << (s - 1))) >> s);
        }
    }
}

void SbrSynthesis(SbrChannel *c, int32_t (*x)[64][2], int16_t *pcm, bool downsampled) {
    int32_t *v = c->syn;
    // v keeps kVFrac fraction bits over the PCM scale. The FFT divides by twice the band count;
    // with the bank's 1/64 and kQmfFrac that leaves a shift of 3 (64 bands) or 2 (32 bands).
    constexpr int kVFrac = 8;
    static_assert(kQmfFrac == 6 && kVFrac == 8, "shifts below assume these");
    if (!downsampled) {
        for (int l = 0; l < kSbrSlots; ++l) {
            std::memmove(v + 128, v, (1280 - 128) * sizeof(int32_t));
            Modulate(x[l], 64, kQmfSynPre, kQmfSynPost, 3, v);
            int16_t *out = pcm + 64 * l;
            for (int k = 0; k < 64; ++k) {
                int64_t s = 0;
                for (int n = 0; n < 5; ++n) {
                    s += static_cast<int64_t>(v[256 * n + k]) * kSbrQmfWindow[128 * n + k];
                    s += static_cast<int64_t>(v[256 * n + 192 + k]) * kSbrQmfWindow[128 * n + 64 + k];
                }
                out[k] = SatPcm(s, 31 + kVFrac);
            }
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
                s += static_cast<int64_t>(v[128 * n + 96 + k]) * kSbrQmfWindow[2 * (64 * n + 32 + k)];
            }
            out[k] = SatPcm(s, 31 + kVFrac);
        }
    }
}

}  // namespace aacdec
