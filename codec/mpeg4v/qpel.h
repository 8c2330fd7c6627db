#pragma once
// Quarter-sample luma prediction with the 8-tap filter.
#include <cstdint>

namespace mp4v {

// Predicts a w x h block (16x16, 16x8 or 8x8) from `ref` at quarter-sample position (qx, qy) of
// a plane of planeW x planeH samples; positions outside read the clamped edge samples. `emu`
// holds at least 17 rows of 24 bytes. With `pair` (w 16, h 8) the area is predicted as two 8x8
// blocks that share the vector, each filtered within its own edges.
void QpelPredict(uint8_t *dst, int dstPitch, const uint8_t *ref, int refPitch, int planeW,
                 int planeH, int qx, int qy, int w, int h, int rounding, uint8_t *emu,
                 bool pair = false);

// The interpolation alone over (w+1) x (h+1) source samples; fx, fy are quarter phases 0..3.
// The Ref variant is the portable C that the optimised one is checked against.
void QpelInterpolate(uint8_t *dst, int dp, const uint8_t *src, int sp, int w, int h, int fx, int fy,
                     int rnd);
void QpelInterpolateRef(uint8_t *dst, int dp, const uint8_t *src, int sp, int w, int h, int fx,
                        int fy, int rnd);
// Two 8x8 blocks side by side with one vector over 17 x 9 source samples.
void QpelInterpolatePair(uint8_t *dst, int dp, const uint8_t *src, int sp, int fx, int fy, int rnd);

}  // namespace mp4v
