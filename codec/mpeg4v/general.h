#pragma once
// The general picture decoders (quarter-sample, interlaced and GMC layers): their prediction
// here, their macroblock parsers beside the fast ones in macroblock.cpp.
#include "codec/mpeg4v/mblayer.h"

namespace mp4v {

// True when the current layer goes through the general decoders rather than the fast ones.
inline bool UsesGeneralPath(const Instance *d) {
    const Mp4vStreamInfo *si = d->si;
    return d->forceGeneral || si->iQuarterSample || si->iInterlaced || si->iSpriteEnable == 2;
}

// Like PredictMb, with quarter-sample luma vectors when the layer uses them.
void PredictMbGeneral(const Ctx &c, const FrameDesc *ref, int x, int y, const int *mvx,
                      const int *mvy, bool four, int rnd, uint8_t *dy, uint8_t *du, uint8_t *dv,
                      int dp, int dcp);

// Prediction of one direction of a macroblock (field motion included) from `ref`.
void PredictMotion(const Ctx &c, const FrameDesc *ref, int x, int y, const Motion &m, int rnd,
                   uint8_t *dy, uint8_t *du, uint8_t *dv, int dp, int dcp);

// Prediction of a macroblock of an S-VOP through the VOP's warp.
void GmcPredict(const Ctx &c, int x, int y, uint8_t *dy, uint8_t *du, uint8_t *dv);

// Decode macroblocks from d->mbNext; true when the picture's last one is done.
bool DecodeMbsGeneral(Instance *d, BitReader *br);   // I, P and S
bool DecodeMbsGeneralB(Instance *d, BitReader *br);  // B

}  // namespace mp4v
