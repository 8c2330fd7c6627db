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

struct DspTable {
    FftFn fft;
    PreRotateFn preRotate;
    PostRotateFn postRotate;
    OverlapLongFn overlapLong;
    PcmFn writePcm;
};

// The table for this CPU, and the portable one (for the checker).
const DspTable &Dsp();
const DspTable &DspPortable();
// Replaces the entries this CPU can run faster (x86 only; a no-op elsewhere).
void DspInitX86(DspTable *t);

}  // namespace aacdec
