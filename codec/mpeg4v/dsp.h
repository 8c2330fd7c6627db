#pragma once
// Pixel kernels: inverse DCT and half-sample motion compensation.
#include <cstdint>

namespace mp4v {

// Rows of a block that hold nonzero coefficients (bit r = row r), and rows with any nonzero
// coefficient beyond column 0; they pick the inverse DCT's shortcuts.
struct BlockShape {
    uint32_t rows;
    uint32_t rowsAc;
};

// 14496-2 Annex A separable integer IDCT. `blk` is cleared on return.
void IdctPut(int16_t *blk, BlockShape shape, uint8_t *dst, int pitch);  // clip into dst
void IdctAdd(int16_t *blk, BlockShape shape, uint8_t *dst, int pitch);  // add to prediction
// Full transform without shortcuts (the reference the shortcuts are checked against); writes
// the residual into out (not cleared input).
void IdctReference(const int16_t *blk, int32_t *out);

// The (w+1) x (h+1) samples at (ix, iy) that interpolation reads: in place when they lie inside
// the plane, else gathered with clamped coordinates into `emu` (pitch 24).
const uint8_t *FetchArea(const uint8_t *ref, int refPitch, int planeW, int planeH, int ix, int iy,
                         int w, int h, uint8_t *emu, int *pitch);
// Predicts a w x h block (w, h in {8, 16}) from `ref` at half-sample position (hx, hy) of a plane
// of planeW x planeH samples. Positions outside the plane read the clamped edge samples.
void McPredict(uint8_t *dst, int dstPitch, const uint8_t *ref, int refPitch, int planeW,
               int planeH, int hx, int hy, int w, int h, int rounding, uint8_t *emu);
// The interpolation step alone (fx, fy half-sample flags); the Ref variant is the portable C
// that the optimised one is checked against.
void McInterpolate(uint8_t *dst, int dp, const uint8_t *s, int sp, int w, int h, int fx, int fy,
                   int rnd);
void McInterpolateRef(uint8_t *dst, int dp, const uint8_t *s, int sp, int w, int h, int fx,
                      int fy, int rnd);
// Averages src into dst: (a + b + 1) >> 1.
void AverageBlock(uint8_t *dst, int dstPitch, const uint8_t *src, int srcPitch, int w, int h);
void CopyBlock(uint8_t *dst, int dstPitch, const uint8_t *src, int srcPitch, int w, int h);

}  // namespace mp4v
