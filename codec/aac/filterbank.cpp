// Filterbank (ISO/IEC 14496-3): IMDCT of long and short blocks through a DCT-IV computed
// with a complex FFT of a quarter of the window length, windowing with the sine or KBD shape
// (left half from the previous frame's shape), and overlap-add.
//
// Fixed point: each transform normalises its input block to about 2^29 so the FFT, which halves
// at every stage, keeps 30 significant bits whatever the signal level; the block exponent is
// removed again when the result is brought to kTimeFrac fraction bits.
#include "codec/aac/aac_internal.h"
#include "codec/aac/dsp.h"

namespace aacdec {

namespace {

int Log2Floor(uint32_t v) { return 31 - __builtin_clz(v); }  // v > 0

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
    const DspTable &dsp = Dsp();
    dsp.preRotate(X, M, s, pre, buf);
    dsp.fft(buf, H);
    // The FFT scaled by 1/H; with the IMDCT's 1/M that leaves a factor 1/2, then undo the
    // normalisation and move from kSpecFrac to kTimeFrac fraction bits.
    int shift = s + 1 + kSpecFrac - kTimeFrac;
    dsp.postRotate(buf, M, shift, post, out);
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

void Synthesise(const IcsInfo *ics, ChannelState *cs, WorkState *w) {
    int prev = cs->prev_window_shape;
    int cur = ics->window_shape;
    int32_t *ov = cs->overlap;
    int32_t *c = w->time;
    int32_t *out = cs->spec;  // the spectrum is consumed by the transforms before this is written
    if (ics->window_sequence == kOnlyLong) {
        ImdctCore(cs->spec, kFrameLen, c, w->fft);
        Dsp().overlapLong(out, ov, c, LongWindow(prev), LongWindow(cur));
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
