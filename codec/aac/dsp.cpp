// Portable versions of the filterbank's kernels, and the choice of table at start-up.
#include "codec/aac/dsp.h"

#include "codec/aac/aac_internal.h"

namespace aacdec {

namespace {

inline int32_t MulRe(int32_t re, int32_t im, int32_t c, int32_t s) {
    // re*c + im*s with Q31 factors
    return static_cast<int32_t>(
        (static_cast<int64_t>(re) * c + static_cast<int64_t>(im) * s + (int64_t{1} << 30)) >> 31);
}
inline int32_t MulIm(int32_t re, int32_t im, int32_t c, int32_t s) {
    // im*c - re*s
    return static_cast<int32_t>(
        (static_cast<int64_t>(im) * c - static_cast<int64_t>(re) * s + (int64_t{1} << 30)) >> 31);
}

// In-place forward complex FFT of n points (interleaved re/im), scaled by 1/n.
void Fft(int32_t *x, int n) {
    // Bit reversal.
    for (int i = 1, j = 0; i < n; ++i) {
        int bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) {
            int32_t tr = x[2 * i], ti = x[2 * i + 1];
            x[2 * i] = x[2 * j];
            x[2 * i + 1] = x[2 * j + 1];
            x[2 * j] = tr;
            x[2 * j + 1] = ti;
        }
    }
    // The first two stages rotate by 1 and -i only: no multiplications.
    for (int i = 0; i < n; i += 4) {
        int32_t *p = x + 2 * i;
        int64_t ar = p[0], ai = p[1], br = p[2], bi = p[3];
        int64_t cr = p[4], ci = p[5], dr = p[6], di = p[7];
        // len 2
        int64_t s0r = (ar + br + 1) >> 1, s0i = (ai + bi + 1) >> 1;
        int64_t d0r = (ar - br + 1) >> 1, d0i = (ai - bi + 1) >> 1;
        int64_t s1r = (cr + dr + 1) >> 1, s1i = (ci + di + 1) >> 1;
        int64_t d1r = (cr - dr + 1) >> 1, d1i = (ci - di + 1) >> 1;
        // len 4: twiddles 1 and -i; (d1r + i d1i) * -i = d1i - i d1r
        p[0] = static_cast<int32_t>((s0r + s1r + 1) >> 1);
        p[1] = static_cast<int32_t>((s0i + s1i + 1) >> 1);
        p[4] = static_cast<int32_t>((s0r - s1r + 1) >> 1);
        p[5] = static_cast<int32_t>((s0i - s1i + 1) >> 1);
        p[2] = static_cast<int32_t>((d0r + d1i + 1) >> 1);
        p[3] = static_cast<int32_t>((d0i - d1r + 1) >> 1);
        p[6] = static_cast<int32_t>((d0r - d1i + 1) >> 1);
        p[7] = static_cast<int32_t>((d0i + d1r + 1) >> 1);
    }
    for (int len = 8; len <= n; len <<= 1) {
        int half = len >> 1;
        int step = 512 / len;  // twiddle table holds exp(-2*pi*i*k/512)
        for (int i = 0; i < n; i += len) {
            int32_t *a = x + 2 * i;
            int32_t *b = x + 2 * (i + half);
            int32_t ar = a[0], ai = a[1], br = b[0], bi = b[1];
            a[0] = static_cast<int32_t>((static_cast<int64_t>(ar) + br + 1) >> 1);
            a[1] = static_cast<int32_t>((static_cast<int64_t>(ai) + bi + 1) >> 1);
            b[0] = static_cast<int32_t>((static_cast<int64_t>(ar) - br + 1) >> 1);
            b[1] = static_cast<int32_t>((static_cast<int64_t>(ai) - bi + 1) >> 1);
            for (int k = 1; k < half; ++k) {
                int32_t c = kFftTwiddle[2 * k * step];
                int32_t s = kFftTwiddle[2 * k * step + 1];
                a = x + 2 * (i + k);
                b = x + 2 * (i + k + half);
                // t = b * exp(-i*theta) = (br*c + bi*s) + i(bi*c - br*s)
                int32_t tr = MulRe(b[0], b[1], c, s);
                int32_t ti = MulIm(b[0], b[1], c, s);
                ar = a[0];
                ai = a[1];
                a[0] = static_cast<int32_t>((static_cast<int64_t>(ar) + tr + 1) >> 1);
                a[1] = static_cast<int32_t>((static_cast<int64_t>(ai) + ti + 1) >> 1);
                b[0] = static_cast<int32_t>((static_cast<int64_t>(ar) - tr + 1) >> 1);
                b[1] = static_cast<int32_t>((static_cast<int64_t>(ai) - ti + 1) >> 1);
            }
        }
    }
}

void PreRotate(const int32_t *X, int M, int shift, const int32_t *rot, int32_t *buf) {
    const int H = M / 2;
    for (int k = 0; k < H; ++k) {
        int64_t re = X[2 * k], im = X[M - 1 - 2 * k];
        int32_t r, i;
        if (shift >= 0) {
            r = static_cast<int32_t>(re << shift);
            i = static_cast<int32_t>(im << shift);
        } else {
            r = static_cast<int32_t>(re >> -shift);
            i = static_cast<int32_t>(im >> -shift);
        }
        int32_t c = rot[2 * k], sn = rot[2 * k + 1];
        // (r + i*im) * exp(-i*a)
        buf[2 * k] = MulRe(r, i, c, sn);
        buf[2 * k + 1] = MulIm(r, i, c, sn);
    }
}

void PostRotate(const int32_t *buf, int M, int shift, const int32_t *rot, int32_t *out) {
    const int H = M / 2;
    for (int j = 0; j < H; ++j) {
        int32_t c = rot[2 * j], sn = rot[2 * j + 1];
        int64_t vr = buf[2 * j], vi = buf[2 * j + 1];
        int64_t wr = (vr * c + vi * sn + (int64_t{1} << 30)) >> 31;
        int64_t wi = (vi * c - vr * sn + (int64_t{1} << 30)) >> 31;
        out[2 * j] = ShiftRound64(wr, shift);
        out[M - 1 - 2 * j] = Neg32(ShiftRound64(wi, shift));
    }
}

// The IMDCT symmetries unrolled into four runs of half a frame each.
void OverlapLong(int32_t *out, int32_t *ov, const int32_t *c, const int32_t *wl,
                 const int32_t *wr) {
    constexpr int h = kFrameLen / 2;
    for (int n = 0; n < h; ++n)
        out[n] = Sat32(static_cast<int64_t>(ov[n]) + MulQ31(c[n + h], wl[n]));
    for (int n = h; n < kFrameLen; ++n)
        out[n] = Sat32(static_cast<int64_t>(ov[n]) + MulQ31(Neg32(c[3 * h - 1 - n]), wl[n]));
    for (int n = 0; n < h; ++n) ov[n] = MulQ31(Neg32(c[h - 1 - n]), wr[kFrameLen - 1 - n]);
    for (int n = h; n < kFrameLen; ++n) ov[n] = MulQ31(Neg32(c[n - h]), wr[kFrameLen - 1 - n]);
}

void Pcm(const int32_t *time, int16_t *pcm) {
    for (int n = 0; n < kFrameLen; ++n) {
        int64_t r = (static_cast<int64_t>(time[n]) + (1 << (kTimeFrac - 1))) >> kTimeFrac;
        pcm[n] = static_cast<int16_t>(r > 32767 ? 32767 : (r < -32768 ? -32768 : r));
    }
}

inline int16_t SatPcm39(int64_t v) {
    v = (v + (int64_t{1} << 38)) >> 39;
    return static_cast<int16_t>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
}

void QmfSynthesis64(const int32_t *v, const int32_t *w, int16_t *out) {
    for (int k = 0; k < 64; ++k) {
        int64_t s = 0;
        for (int n = 0; n < 5; ++n) {
            s += static_cast<int64_t>(v[256 * n + k]) * w[128 * n + k];
            s += static_cast<int64_t>(v[256 * n + 192 + k]) * w[128 * n + 64 + k];
        }
        out[k] = SatPcm39(s);
    }
}

int32_t QmfAnalysis(const int32_t *x, const int32_t *w, int32_t *u) {
    int32_t mx = 0;
    for (int n = 0; n < 64; ++n) {
        int64_t s = 0;
        for (int j = 0; j < 5; ++j) s += static_cast<int64_t>(x[n + 64 * j]) * w[2 * (n + 64 * j)];
        u[n] = Sat32((s + (int64_t{1} << 28)) >> 29);
        mx |= u[n] < 0 ? ~u[n] : u[n];
    }
    return mx;
}

constexpr DspTable kPortable = {Fft,      PreRotate,      PostRotate,  OverlapLong, Pcm,
                                QmfFft32, QmfSynthesis64, QmfAnalysis, QmfDct4x64,  QmfModulate64};

DspTable MakeTable() {
    DspTable t = kPortable;
    DspInitX86(&t);
    return t;
}

}  // namespace

const DspTable &DspPortable() { return kPortable; }

const DspTable &Dsp() {
    static const DspTable table = MakeTable();
    return table;
}

void WritePcm(const int32_t *time, int16_t *pcm) { Dsp().writePcm(time, pcm); }

}  // namespace aacdec
