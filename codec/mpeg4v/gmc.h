#pragma once
// Global motion compensation of S-VOPs in GMC layers: the warp that a VOP's sprite trajectory
// sets, the prediction of a macroblock through it, and the macroblock's average vector that its
// neighbours use for vector prediction.
#include <cstdint>

#include "codec/mpeg4v/dsp.h"

namespace mp4v {

// The warp of one S-VOP. A luma sample (i, j) of the picture is predicted from the reference at
// ((offX + dxx*i + dxy*j) >> shift, (offY + dyx*i + dyy*j) >> shift), in units of 1/s sample
// with s = 2 << accuracy; chroma samples likewise with the chroma fields.
struct GmcWarp {
    int64_t offX, offY, dxx, dxy, dyx, dyy;
    int64_t cOffX, cOffY, cdxx, cdxy, cdyx, cdyy;
    int32_t shift, cShift;
    int32_t accuracy;
};

// Derives the warp from the layer's size, the number of warping points (0..3), the warping
// accuracy (0..3) and the trajectory's differential du/dv per point.
void SetupGmcWarp(GmcWarp *g, int width, int height, int points, int accuracy,
                  const int16_t (*traj)[2]);

// The warp of a macroblock's 16x16 luma block, or of its 8x8 chroma blocks.
WarpParams GmcBlockWarp(const GmcWarp &g, int mbx, int mby, bool chroma, int rounding);

// Predicts the 16x16 luma and two 8x8 chroma blocks of macroblock (mbx, mby) from the reference
// planes (bilinear at 1/s sample, reference samples clamped into planeW x planeH).
void GmcPredictMb(const GmcWarp &g, const uint8_t *refY, const uint8_t *refU, const uint8_t *refV,
                  int pitch, int planeW, int planeH, int mbx, int mby, int rounding, uint8_t *dy,
                  uint8_t *du, uint8_t *dv, int dp, int dcp);

// The vector a GMC macroblock stores: the mean displacement of its 256 luma samples in half (or,
// with quarterSample, quarter) sample units, rounded and held inside the fcode's range.
void GmcAverageVector(const GmcWarp &g, int mbx, int mby, bool quarterSample, int fcode, int *vx,
                      int *vy);

}  // namespace mp4v
