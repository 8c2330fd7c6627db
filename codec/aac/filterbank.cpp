// Filterbank (ISO/IEC 14496-3): IMDCT of long and short blocks through a DCT-IV computed
// with a complex FFT of a quarter of the window length, windowing with the sine or KBD shape
// (left half from the previous frame's shape), and overlap-add.
//
// Fixed point: each transform normalises its input block to about 2^29 so the FFT, which halves
// at every stage, keeps 30 significant bits whatever the signal level; the block exponent is
// removed again when the result is brought to kTimeFrac fraction bits.
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

int Log2Floor(uint32_t v) {
    int n = -1;
    while (v) {
        ++n;
        v >>= 1;
    }
    return n;
}

// c[j] = sum_k X[k] cos(pi/M (j + 1/2)(k + 1/2)) for M coefficients, delivered as c = out * 2^-shift
// after the 1/M scaling of the IMDCT, with kTimeFrac fraction bits (X has kSpecFrac).
void ImdctCore(const int32_t *X, int M, int32_t *out, int32_t *buf) {
    int H = M / 2;
    uint32_t maxabs = 0;
    for (int k = 0; k < M; ++k) {
        uint32_t a = X[k] < 0 ? static_cast<uint32_t>(-static_cast<int64_t>(X[k]))
                              : static_cast<uint32_t>(X[k]);
        maxabs |= a;
    }
    if (maxabs == 0) {
        for (int j = 0; j < M; ++j) out[j] = 0;
        return;
    }
    // Normalise so the largest input sits just below 2^29.
    int s = 28 - Log2Floor(maxabs);
    const int32_t *pre = M == kFrameLen ? kPreRotLong : kPreRotShort;
    const int32_t *post = M == kFrameLen ? kPostRotLong : kPostRotShort;
    for (int k = 0; k < H; ++k) {
        int64_t re = X[2 * k], im = X[M - 1 - 2 * k];
        int32_t r, i;
        if (s >= 0) {
            r = static_cast<int32_t>(re << s);
            i = static_cast<int32_t>(im << s);
        } else {
            r = static_cast<int32_t>(re >> -s);
            i = static_cast<int32_t>(im >> -s);
        }
        int32_t c = pre[2 * k], sn = pre[2 * k + 1];
        // (r + i*im) * exp(-i*a)
        buf[2 * k] = MulRe(r, i, c, sn);
        buf[2 * k + 1] = MulIm(r, i, c, sn);
    }
    Fft(buf, H);
    // The FFT scaled by 1/H; with the IMDCT's 1/M that leaves a factor 1/2, then undo the
    // normalisation and move from kSpecFrac to kTimeFrac fraction bits.
    int shift = s + 1 + kSpecFrac - kTimeFrac;
    for (int j = 0; j < H; ++j) {
        int32_t c = post[2 * j], sn = post[2 * j + 1];
        int64_t vr = buf[2 * j], vi = buf[2 * j + 1];
        int64_t wr = (vr * c + vi * sn + (int64_t{1} << 30)) >> 31;
        int64_t wi = (vi * c - vr * sn + (int64_t{1} << 30)) >> 31;
        out[2 * j] = ShiftRound64(wr, shift);
        out[M - 1 - 2 * j] = Neg32(ShiftRound64(wi, shift));
    }
}

inline const int32_t *LongWindow(int shape) { return shape ? kKbdLong : kSineLong; }
inline const int32_t *ShortWindow(int shape) { return shape ? kKbdShort : kSineShort; }

// Windowed IMDCT output sample n (0 <= n < 2M) from the DCT-IV result c.
inline int32_t ImdctSample(const int32_t *c, int M, int n) {
    int h = M / 2;
    if (n < h) return c[n + h];
    if (n < 3 * h) return Neg32(c[3 * h - 1 - n]);
    return Neg32(c[n - 3 * h]);
}

}  // namespace

void WritePcm(const int32_t *time, int16_t *pcm) {
    for (int n = 0; n < kFrameLen; ++n) {
        int64_t r = (static_cast<int64_t>(time[n]) + (1 << (kTimeFrac - 1))) >> kTimeFrac;
        pcm[n] = static_cast<int16_t>(r > 32767 ? 32767 : (r < -32768 ? -32768 : r));
    }
}

void Synthesise(const IcsInfo *ics, ChannelState *cs, WorkState *w) {
    int prev = cs->prev_window_shape;
    int cur = ics->window_shape;
    int32_t *ov = cs->overlap;
    int32_t *c = w->time;
    int32_t *out = cs->spec;  // the spectrum is consumed by the transforms before this is written
    if (ics->window_sequence == kOnlyLong) {
        // The common case, with the IMDCT symmetries unrolled into four runs.
        ImdctCore(cs->spec, kFrameLen, c, w->fft);
        const int32_t *wl = LongWindow(prev);
        const int32_t *wr = LongWindow(cur);
        constexpr int h = kFrameLen / 2;
        for (int n = 0; n < h; ++n) {
            out[n] = Sat32(static_cast<int64_t>(ov[n]) + MulQ31(c[n + h], wl[n]));
        }
        for (int n = h; n < kFrameLen; ++n) {
            out[n] = Sat32(static_cast<int64_t>(ov[n]) + MulQ31(Neg32(c[3 * h - 1 - n]), wl[n]));
        }
        for (int n = 0; n < h; ++n) ov[n] = MulQ31(Neg32(c[h - 1 - n]), wr[kFrameLen - 1 - n]);
        for (int n = h; n < kFrameLen; ++n) ov[n] = MulQ31(Neg32(c[n - h]), wr[kFrameLen - 1 - n]);
    } else if (ics->window_sequence != kEightShort) {
        ImdctCore(cs->spec, kFrameLen, c, w->fft);
        const int32_t *wl = LongWindow(prev);
        const int32_t *wr = LongWindow(cur);
        const int32_t *sl = ShortWindow(prev);
        const int32_t *sr = ShortWindow(cur);
        int seq = ics->window_sequence;
        for (int n = 0; n < kFrameLen; ++n) {
            int32_t y = ImdctSample(c, kFrameLen, n);
            int32_t v;
            if (seq == kLongStop) {
                if (n < 448) v = 0;
                else if (n < 576) v = MulQ31(y, sl[n - 448]);
                else v = y;
            } else {
                v = MulQ31(y, wl[n]);
            }
            out[n] = Sat32(static_cast<int64_t>(ov[n]) + v);
        }
        for (int n = 0; n < kFrameLen; ++n) {
            int32_t y = ImdctSample(c, kFrameLen, kFrameLen + n);
            int32_t v;
            if (seq == kLongStart) {
                if (n < 448) v = y;
                else if (n < 576) v = MulQ31(y, sr[127 - (n - 448)]);
                else v = 0;
            } else {
                v = MulQ31(y, wr[kFrameLen - 1 - n]);
            }
            ov[n] = v;
        }
    } else {
        // Eight short windows overlap inside a 2048-sample span starting at 448.
        int32_t *buf = w->time;         // 2048 samples; the short transforms use w->fft
        int32_t *sc = w->fft + 2 * 64;  // 128-value DCT-IV result behind the 64-point FFT buffer
        for (int n = 0; n < 2 * kFrameLen; ++n) buf[n] = 0;
        const int32_t *sr = ShortWindow(cur);
        for (int win = 0; win < 8; ++win) {
            ImdctCore(cs->spec + win * kShortLen, kShortLen, sc, w->fft);
            const int32_t *sl = win == 0 ? ShortWindow(prev) : sr;
            int32_t *dst = buf + 448 + win * kShortLen;
            for (int n = 0; n < kShortLen; ++n) {
                dst[n] = Sat32(static_cast<int64_t>(dst[n]) +
                               MulQ31(ImdctSample(sc, kShortLen, n), sl[n]));
                dst[kShortLen + n] =
                    Sat32(static_cast<int64_t>(dst[kShortLen + n]) +
                          MulQ31(ImdctSample(sc, kShortLen, kShortLen + n), sr[kShortLen - 1 - n]));
            }
        }
        for (int n = 0; n < kFrameLen; ++n) {
            out[n] = Sat32(static_cast<int64_t>(ov[n]) + buf[n]);
            ov[n] = buf[kFrameLen + n];
        }
    }
    cs->prev_window_shape = cur;
}

}  // namespace aacdec
