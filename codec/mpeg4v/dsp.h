#pragma once
// Pixel kernels: inverse DCT, motion compensation, the GMC warp, the post-filter and the
// conversion to RGB.
#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#define VT_X86 1
// Instruction sets of single functions (the rest of the program is built for the baseline).
#define VT_SSE2 __attribute__((target("sse2")))
#define VT_AVX2 __attribute__((target("avx2")))
#else
#define VT_X86 0
#endif

namespace mp4v {

// Rows of a block that hold nonzero coefficients (bit r = row r), and rows with any nonzero
// coefficient beyond column 0; they pick the inverse DCT's shortcuts.
struct BlockShape {
    uint32_t rows;
    uint32_t rowsAc;
};

// Separable integer inverse DCT. `blk` is cleared on return.
void IdctPut(int16_t *blk, BlockShape shape, uint8_t *dst, int pitch);  // clip into dst
void IdctAdd(int16_t *blk, BlockShape shape, uint8_t *dst, int pitch);  // add to prediction
// Full transform without shortcuts (the reference the shortcuts are checked against); writes
// the residual into out (not cleared input).
void IdctReference(const int16_t *blk, int32_t *out);

// The cols x rows samples at (ix, iy) that interpolation reads (a block's size, plus one column or
// row at fractional positions, at most 17 x 17): in place when they lie inside the plane, else
// gathered with clamped coordinates into `emu` (pitch 24).
const uint8_t *FetchEdgeArea(const uint8_t *ref, int refPitch, int planeW, int planeH, int ix,
                             int iy, int cols, int rows, uint8_t *emu, int *pitch);
inline const uint8_t *FetchArea(const uint8_t *ref, int refPitch, int planeW, int planeH, int ix,
                                int iy, int cols, int rows, uint8_t *emu, int *pitch) {
    if (ix >= 0 && iy >= 0 && ix + cols <= planeW && iy + rows <= planeH) {
        *pitch = refPitch;
        return ref + iy * refPitch + ix;
    }
    return FetchEdgeArea(ref, refPitch, planeW, planeH, ix, iy, cols, rows, emu, pitch);
}
// Predicts a w x h block (w, h in {8, 16}) from `ref` at half-sample position (hx, hy) of a plane
// of planeW x planeH samples. Positions outside the plane read the clamped edge samples.
void McPredict(uint8_t *dst, int dstPitch, const uint8_t *ref, int refPitch, int planeW, int planeH,
               int hx, int hy, int w, int h, int rounding, uint8_t *emu);
// The interpolation step alone (fx, fy half-sample flags); the Ref variant is the portable C
// that the optimised one is checked against.
void McInterpolate(uint8_t *dst, int dp, const uint8_t *s, int sp, int w, int h, int fx, int fy,
                   int rnd);
void McInterpolateRef(uint8_t *dst, int dp, const uint8_t *s, int sp, int w, int h, int fx, int fy,
                      int rnd);
// Averages src into dst: (a + b + 1) >> 1.
void AverageBlock(uint8_t *dst, int dstPitch, const uint8_t *src, int srcPitch, int w, int h);
void CopyBlock(uint8_t *dst, int dstPitch, const uint8_t *src, int srcPitch, int w, int h);

// The kernels behind the functions above, one table per CPU: filled with the portable C versions
// first, then each entry the CPU can run faster replaced (SSE2, or AVX2 where there is a version
// for it, on x86, checked at run time). Every
// entry gives exactly the results of its portable version; the kernel checker holds them to it.
using IdctFn = void (*)(int16_t *blk, BlockShape shape, uint8_t *dst, int pitch);
using InterpolateFn = void (*)(uint8_t *dst, int dp, const uint8_t *s, int sp, int h, int fx,
                               int fy, int rnd);
using AverageFn = void (*)(uint8_t *dst, int dp, const uint8_t *src, int sp, int h);
using QpelFn = void (*)(uint8_t *dst, int dp, const uint8_t *src, int sp, int fx, int fy, int rnd);
// One row of 4:2:0 samples to packed RGB: `width` pixels from y, (width + 1) / 2 from u and v;
// bgr swaps the red and blue bytes.
using RgbRowFn = void (*)(uint8_t *out, const uint8_t *y, const uint8_t *u, const uint8_t *v,
                          int width, int bgr);
// The post-filter across one 8-sample block edge: q0 is the first sample after the edge on its
// first line; the three samples either side of the edge on each of the 8 lines may change (the
// fourth either side is read, and may be written back unchanged).
using DeblockFn = void (*)(uint8_t *q0, int pitch, int qp);
// One block through a GMC warp: sample (i, j) comes from ((x0 + dxx*i + dxy*j) >> shift,
// (y0 + dyx*i + dyy*j) >> shift) in 1/s sample (s = 2 << accuracy), bilinear, with the taps
// clamped into the planeW x planeH plane.
struct WarpParams {
    int64_t x0, y0, dxx, dxy, dyx, dyy;
    int32_t shift, accuracy, rounding;
};
using WarpFn = void (*)(const uint8_t *ref, int pitch, int planeW, int planeH, uint8_t *dst, int dp,
                        const WarpParams &w);
struct DspTable {
    IdctFn idctPut;                // as IdctPut
    IdctFn idctAdd;                // as IdctAdd
    InterpolateFn interpolate[2];  // as McInterpolate, [0] 8 and [1] 16 samples wide
    AverageFn average[2];          // as AverageBlock, [0] 8 and [1] 16 samples wide
    QpelFn qpel[3];                // as QpelInterpolate: [0] 8x8, [1] 16x8, [2] 16x16
    QpelFn qpelPair;               // as QpelInterpolatePair
    RgbRowFn rgbRow[2];            // [0] 3 and [1] 4 bytes a pixel (the fourth is 255)
    DeblockFn deblock[2];          // [0] across a vertical edge (8 rows), [1] a horizontal one
    WarpFn warp[2];                // [0] 8x8 and [1] 16x16 blocks
};

// The table for this CPU (inline: the decoder's block loops ask for it per block), and the
// portable one (for the checker).
DspTable MakeDspTable(bool optimised);  // optimised: the CPU's best, else portable
inline const DspTable &Dsp() {
    static const DspTable table = MakeDspTable(true);
    return table;
}
const DspTable &DspPortable();
// Fill their parts of a table: the portable versions, or the SSE2 ones when sse2 is set (and
// the AVX2 ones where there are any, when avx2 is set too).
void DspInitIdct(DspTable *t, bool sse2, bool avx2);
void DspInitMc(DspTable *t, bool sse2);
void DspInitQpel(DspTable *t, bool sse2);
void DspInitColour(DspTable *t, bool sse2, bool avx2);
void DspInitPostFilter(DspTable *t, bool sse2, bool avx2);
void DspInitGmc(DspTable *t, bool sse2, bool avx2);

}  // namespace mp4v
