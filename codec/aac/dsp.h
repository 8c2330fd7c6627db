#pragma once
// The filterbank's inner loops behind a table of functions, one table per CPU: filled with the
// portable C versions first, then each entry the CPU can run faster replaced (AVX2 on x86, checked
// at run time). Every entry gives exactly the results of its portable version, bit for bit, over
// the inputs stated for it; the kernel checker holds them to it on random inputs.
#include <cstdint>

namespace aacdec {

// In-place forward complex FFT of n points (n = 64 or 512, interleaved re/im), each stage halving
// with rounding, so the result is scaled by 1/n. Inputs stay below 2^30 in magnitude (the
// filterbank normalises them to 2^29); the other entries take any 32-bit input.
using FftFn = void (*)(int32_t *x, int n);
// The DCT-IV's pre-rotation: H = M/2 complex values from the M coefficients X, each first shifted
// by `shift` bits (left when positive, arithmetic right when negative), then turned by the Q31
// cos/sin pairs of `rot`.
using PreRotateFn = void (*)(const int32_t *X, int M, int shift, const int32_t *rot, int32_t *buf);
// The DCT-IV's post-rotation: the H = M/2 FFT outputs of buf turned by `rot`, each product
// rounded from Q31 and then by `shift` more bits (ShiftRound64), the real parts to out[0, 2, ...]
// and the negated imaginary parts to out[M-1, M-3, ...].
using PostRotateFn = void (*)(const int32_t *buf, int M, int shift, const int32_t *rot,
                              int32_t *out);
// Windowing and overlap-add of a long-only frame: out = overlap + left half of the windowed
// IMDCT of c, and the new overlap from its right half (wl / wr the previous / current shape).
using OverlapLongFn = void (*)(int32_t *out, int32_t *ov, const int32_t *c, const int32_t *wl,
                               const int32_t *wr);
// 1024 time samples to 16-bit PCM, rounded and saturated.
using PcmFn = void (*)(const int32_t *time, int16_t *pcm);

// The SBR QMF banks' 32-point complex FFT with exp(+2 pi i jk / 32): src read in bit-reversed
// order, a = the transform / 32 (every stage halving with rounding). Inputs stay below 2^29 in
// magnitude (the banks bring them to 2^28 first).
using QmfFftFn = void (*)(const int32_t (*src)[2], int32_t (*a)[2]);
// The 64-band synthesis window over the bank's delay line v with the window w: for k < 64,
// out[k] = sat16((sum over n < 5 of v[256n + k] w[128n + k] + v[256n + 192 + k] w[128n + 64 + k]
// + 2^38) >> 39).
using QmfSynthesisFn = void (*)(const int32_t *v, const int32_t *w, int16_t *out);
// The analysis window over the input line x: for n < 64, u[n] = sat32((sum over j < 5 of
// x[n + 64j] w[2(n + 64j)] + 2^28) >> 29). Returns the OR of the magnitudes (~u for negative u).
using QmfAnalysisFn = int32_t (*)(const int32_t *x, const int32_t *w, int32_t *u);

// The synthesis banks' 64-value DCT-IV: d[p] = sum_k a[k] cos(pi/64 (k + 1/2)(p + 1/2)) / 32 through
// the 32-point FFT, with inputs below 2^28 in magnitude (the bank scales them so).
using QmfDct4Fn = void (*)(const int32_t *a, int32_t *d);

// The 64-band synthesis modulation of one slot: 64 complex QMF samples to the 128 new values of
// the bank's delay line (any 32-bit input; the block is scaled to 2^28 first).
using QmfModulateFn = void (*)(const int32_t (*in)[2], int32_t *v);

struct DspTable {
    FftFn fft;
    PreRotateFn preRotate;
    PostRotateFn postRotate;
    OverlapLongFn overlapLong;
    PcmFn writePcm;
    QmfFftFn qmfFft32;
    QmfSynthesisFn qmfSynthesis64;
    QmfAnalysisFn qmfAnalysis;
    QmfDct4Fn qmfDct4x64;
    QmfModulateFn qmfModulate64;
};

// The portable QMF FFT, DCT-IV and modulation (sbr_qmf.cpp).
void QmfFft32(const int32_t (*src)[2], int32_t (*a)[2]);
void QmfDct4x64(const int32_t *a, int32_t *d);
void QmfModulate64(const int32_t (*in)[2], int32_t *v);

// The table for this CPU, and the portable one (for the checker).
const DspTable &Dsp();
const DspTable &DspPortable();
// Replaces the entries this CPU can run faster (x86 only; a no-op elsewhere).
void DspInitX86(DspTable *t);

}  // namespace aacdec
