// Prediction of the general decoders (14496-2 7.6.2, 7.7): field motion with its field
// selects, the quarter-sample filter and the S-VOP warp.
#include "codec/mpeg4v/general.h"

#include "codec/mpeg4v/gmc.h"
#include "codec/mpeg4v/qpel.h"

namespace mp4v {
namespace {

// Chroma vector (half-sample units of the chroma plane) from one quarter-sample luma vector:
// the luma vector is first halved toward zero, then the half-sample rule applies.
inline int ChromaFromQpel(int v) { return ChromaFromOne(v / 2); }

// 16 x 8 prediction of field `f` of the macroblock from field `sel` of `ref`.
void PredictField(const Ctx &c, const FrameDesc *ref, int x, int y, int f, int sel, int mvx,
                  int mvy, int rnd, uint8_t *dy, uint8_t *du, uint8_t *dv, int dp, int dcp) {
    uint8_t *emu = c.d->emu;
    const int fieldH = c.lumaH / 2;
    const uint8_t *ry = ref->y + sel * c.pitch;
    uint8_t *oy = dy + f * dp;
    int cmx, cmy;
    if (c.si->iQuarterSample) {
        // Two 8x8 filter blocks per field, each mirrored at its own edges.
        QpelPredict(oy, 2 * dp, ry, 2 * c.pitch, c.lumaW, fieldH, 4 * x * 16 + mvx, 4 * y * 8 + mvy,
                    16, 8, rnd, emu, true);
        cmx = ChromaFromOne(mvx / 2);
        cmy = ChromaFromOne(mvy >> 1);
    } else {
        McPredict(oy, 2 * dp, ry, 2 * c.pitch, c.lumaW, fieldH, 2 * x * 16 + mvx, 2 * y * 8 + mvy,
                  16, 8, rnd, emu);
        cmx = ChromaFromOne(mvx);
        cmy = ChromaFromOne(mvy);
    }
    const int cfH = c.chromaH / 2;
    McPredict(du + f * dcp, 2 * dcp, ref->u + sel * c.cpitch, 2 * c.cpitch, c.chromaW, cfH,
              2 * x * 8 + cmx, 2 * y * 4 + cmy, 8, 4, rnd, emu);
    McPredict(dv + f * dcp, 2 * dcp, ref->v + sel * c.cpitch, 2 * c.cpitch, c.chromaW, cfH,
              2 * x * 8 + cmx, 2 * y * 4 + cmy, 8, 4, rnd, emu);
}

}  // namespace

void PredictMotion(const Ctx &c, const FrameDesc *ref, int x, int y, const Motion &m, int rnd,
                   uint8_t *dy, uint8_t *du, uint8_t *dv, int dp, int dcp) {
    if (m.kind == Motion::kField) {
        for (int f = 0; f < 2; ++f)
            PredictField(c, ref, x, y, f, m.sel[f], m.mvx[f], m.mvy[f], rnd, dy, du, dv, dp, dcp);
    } else {
        PredictMbGeneral(c, ref, x, y, m.mvx, m.mvy, m.kind == Motion::kFour, rnd, dy, du, dv, dp,
                         dcp);
    }
}

void GmcPredict(const Ctx &c, int x, int y, uint8_t *dy, uint8_t *du, uint8_t *dv) {
    if (c.past->y == c.y) return;  // no reference yet: leave what the buffer holds, as a copy would
    GmcPredictMb(*c.d->gmc, c.past->y, c.past->u, c.past->v, c.pitch, c.lumaW, c.lumaH, x, y,
                 c.rounding, dy, du, dv, c.pitch, c.cpitch);
}

void PredictMbGeneral(const Ctx &c, const FrameDesc *ref, int x, int y, const int *mvx,
                      const int *mvy, bool four, int rnd, uint8_t *dy, uint8_t *du, uint8_t *dv,
                      int dp, int dcp) {
    if (!c.si->iQuarterSample) {
        PredictMb(c, ref, x, y, mvx, mvy, four, rnd, dy, du, dv, dp, dcp);
        return;
    }
    uint8_t *emu = c.d->emu;
    int bx = x * 16, by = y * 16;
    int cmx, cmy;
    if (!four) {
        QpelPredict(dy, dp, ref->y, c.pitch, c.lumaW, c.lumaH, 4 * bx + mvx[0], 4 * by + mvy[0], 16,
                    16, rnd, emu);
        cmx = ChromaFromQpel(mvx[0]);
        cmy = ChromaFromQpel(mvy[0]);
    } else {
        int sx = 0, sy = 0;
        for (int k = 0; k < 4; ++k) {
            int ox = (k & 1) * 8, oy = (k >> 1) * 8;
            sx += mvx[k] / 2;
            sy += mvy[k] / 2;
            if (ox && mvx[k] == mvx[k - 1] && mvy[k] == mvy[k - 1]) continue;  // done as a pair
            bool pair = !ox && mvx[k] == mvx[k + 1] && mvy[k] == mvy[k + 1];
            QpelPredict(dy + oy * dp + ox, dp, ref->y, c.pitch, c.lumaW, c.lumaH,
                        4 * (bx + ox) + mvx[k], 4 * (by + oy) + mvy[k], pair ? 16 : 8, 8, rnd, emu,
                        pair);
        }
        cmx = ChromaFromSum(sx);
        cmy = ChromaFromSum(sy);
    }
    McPredict(du, dcp, ref->u, c.cpitch, c.chromaW, c.chromaH, 2 * x * 8 + cmx, 2 * y * 8 + cmy, 8,
              8, rnd, emu);
    McPredict(dv, dcp, ref->v, c.cpitch, c.chromaW, c.chromaH, 2 * x * 8 + cmx, 2 * y * 8 + cmy, 8,
              8, rnd, emu);
}

}  // namespace mp4v
