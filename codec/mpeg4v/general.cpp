// Macroblock layer of the general decoders: the I/P and B loops for layers with quarter-sample
// motion compensation or interlaced coding (14496-2 6.2.6 with interlaced_information, 7.6.2,
// 7.7). The progressive syntax is the fast decoders'; on top come field DCT, field motion
// vectors with their field selects and prediction rules, field direct mode, and prediction
// through the quarter-sample filter. B-VOP direct mode predicts per 8x8 block, which matters once
// the 8-tap filter mirrors at block edges.
#include "codec/mpeg4v/general.h"

#include <cstring>

#include "codec/mpeg4v/gmc.h"
#include "codec/mpeg4v/qpel.h"

namespace mp4v {
namespace {

constexpr uint8_t kFieldPred = 1;

// Chroma vector (half-sample units of the chroma plane) from one quarter-sample luma vector:
// the luma vector is first halved toward zero, then the half-sample rule applies.
inline int ChromaFromQpel(int v) { return ChromaFromOne(v / 2); }

inline int FloorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    return int(q * b > a ? q - 1 : q);
}

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

namespace {

inline void ClearField(Instance *d, int idx) { d->fieldFlags[idx] = 0; }

// A macroblock of an S-VOP predicted through the VOP's warp stores the warp's average vector
// for its neighbours' vector prediction and for direct mode of later B-VOPs.
void GmcVectors(const Ctx &c, int idx, int x, int y) {
    Instance *d = c.d;
    int vx, vy;
    GmcAverageVector(*d->gmc, x, y, c.si->iQuarterSample != 0, c.si->iVopFcodeForward, &vx, &vy);
    SetMbVectors(d, idx, vx, vy);
    ++d->gmcMbs;
}

}  // namespace

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

bool DecodeMbsGeneral(Instance *d, BitReader *br) {
    const Ctx c = MakeCtx(d);
    const bool isP = d->vopType != kTypeI;
    const bool gmcVop = d->vopType == kTypeS;
    const bool interlaced = d->si->iInterlaced != 0;
    const int fcode = d->si->iVopFcodeForward;
    const uint8_t *scan = d->si->iAlternateVerticalScan ? kAltVertical : kZigzag;
    auto parse = [&](int idx, int x, int y, int *q, MbRecord *r, uint8_t *type) {
        if (idx != d->sliceStart && ResyncAhead(br)) return false;
        const int qBefore = *q;
        int val = 0;
        bool notCoded = false;
        if (!ReadMcbpc(br, isP, &notCoded, &val)) return false;
        r->fieldDct = false;
        if (notCoded) {
            ClearField(d, idx);
            if (!gmcVop) {
                NotCoded(d, idx, r, type);
                return true;
            }
            // A skipped macroblock of an S-VOP is a GMC macroblock without residual. It is not
            // "skipped" for the co-located macroblock of a later B-VOP, which decodes its own
            // data (as the reference decoders do).
            if (br->over) return false;
            GmcVectors(c, idx, x, y);
            r->pred = MbRecord::kGmc;
            r->coded = 0;
            *type = kMbInter;
            return true;
        }
        *type = uint8_t(val >> 2);
        const bool intra = IsIntraType(*type);
        const bool mcsel = gmcVop && (*type == kMbInter || *type == kMbInterQ) && br->Bit();
        const bool acPred = intra && br->Bit();
        Vlc cy = kCbpyLut[br->Peek(6)];
        if (cy.len == 0) return false;
        br->Skip(cy.len);
        const int cbp = ((intra ? cy.val : 15 - cy.val) << 2) | (val & 3);
        if (*type == kMbInterQ || *type == kMbIntraQ) *q = ReadDquant(br, *q);
        bool fieldPred = false;
        int sel[2] = {0, 0};
        if (interlaced) {
            if (intra || cbp) r->fieldDct = br->Bit();
            if (!intra && *type != kMbInter4v && !mcsel) {
                fieldPred = br->Bit();
                if (fieldPred) {
                    sel[0] = int(br->Bit());
                    sel[1] = int(br->Bit());
                }
            }
        }
        ClearField(d, idx);
        if (intra) {
            SetMbVectors(d, idx, 0, 0);
            return ParseIntra(c, br, idx, x, y, cbp, acPred, *q,
                              UseDcVlc(c, idx == d->sliceStart, *q, qBefore), r);
        }
        if (mcsel) {
            if (br->over) return false;
            GmcVectors(c, idx, x, y);
            r->pred = MbRecord::kGmc;
            return ReadInterTexture(c, br, ReadTcoefMpeg4, scan, cbp, *q, r);
        }
        Motion &m = r->m[0];
        if (fieldPred) {
            // Both field vectors are predicted from the frame predictor, its vertical component
            // halved into field lines.
            m.kind = Motion::kField;
            int px, py;
            PredictMv(d, idx, x, y, 0, &px, &py);
            for (int f = 0; f < 2; ++f) {
                if (!ReadMvComponent(br, fcode, px, &m.mvx[f]) ||
                    !ReadMvComponent(br, fcode, py / 2, &m.mvy[f]))
                    return false;
                m.sel[f] = sel[f];
            }
            int sx = m.mvx[0] + m.mvx[1];
            SetMbVectors(d, idx, (sx >> 1) | (sx & 1), m.mvy[0] + m.mvy[1]);
            int16_t *fm = d->fieldMv + idx * 4;
            for (int f = 0; f < 2; ++f) {
                fm[2 * f] = int16_t(m.mvx[f]);
                fm[2 * f + 1] = int16_t(m.mvy[f]);
            }
            d->fieldFlags[idx] = uint8_t(kFieldPred | (sel[0] << 1) | (sel[1] << 2));
        } else {
            const bool four = *type == kMbInter4v;
            m.kind = four ? Motion::kFour : Motion::kOne;
            if (!ReadPVectors(d, br, fcode, idx, x, y, four, m.mvx, m.mvy)) return false;
        }
        if (br->over) return false;
        r->pred = MbRecord::kMotion;
        r->dirs = 1;
        r->rnd = c.rounding;
        return ReadInterTexture(c, br, ReadTcoefMpeg4, scan, cbp, *q, r);
    };
    return RunMbLoop<true, false>(d, br, c, parse);
}

bool DecodeMbsGeneralB(Instance *d, BitReader *br) {
    const Ctx c = MakeCtx(d);
    const Mp4vStreamInfo *si = d->si;
    const bool interlaced = si->iInterlaced != 0;
    const int fcode[2] = {si->iVopFcodeForward, si->iVopFcodeBackward};
    const uint8_t *scan = si->iAlternateVerticalScan ? kAltVertical : kZigzag;
    // Previous vectors of the row per direction and field; a frame vector sets both fields.
    int16_t(*last)[2][2] = d->bPred;
    const int trd = d->trd ? d->trd : 1, trb = d->trb;
    // Field distances for field direct mode, in fields, in units of the first B-VOP's TRB.
    const int64_t unit = d->fieldT > 0 ? d->fieldT : 1;
    const int ppField = 2 * FloorDiv(2 * int64_t(d->trd) + unit, 2 * unit);
    const int pbField = 2 * FloorDiv(2 * int64_t(d->trb) + unit, 2 * unit);
    auto parse = [&](int idx, int x, int, int *q, MbRecord *r, uint8_t *) {
        if (idx != d->sliceStart && ResyncAhead(br)) return false;
        if (x == 0) {
            std::memset(d->bPred, 0, sizeof d->bPred);
        } else if (idx == d->sliceStart) {
            // A packet that starts inside a row restarts the frame (top field) predictors only;
            // the bottom field predictors run on from the packet before, as the encoders that
            // write interlaced B-VOPs with packets expect.
            for (int dir = 0; dir < 2; ++dir) last[dir][0][0] = last[dir][0][1] = 0;
        }
        if (d->skip[idx] == kMbSkipped) {
            r->pred = MbRecord::kCopy;
            return true;
        }
        int mbType = 0;  // 0 direct, 1 interpolate, 2 backward, 3 forward
        int cbp = 0;
        bool modbOne = false;
        if (!ReadBMbHeader(br, &modbOne, &mbType, &cbp, q)) return false;
        const bool use[2] = {mbType != 2, mbType != 3};  // forward, backward
        bool fieldPred = false;
        int sel[2][2] = {};
        r->fieldDct = false;
        if (interlaced && !modbOne) {
            if (cbp) r->fieldDct = br->Bit();
            if (mbType != 0) {
                fieldPred = br->Bit();
                if (fieldPred) {
                    for (int dir = 0; dir < 2; ++dir) {
                        if (!use[dir]) continue;
                        sel[dir][0] = int(br->Bit());
                        sel[dir][1] = int(br->Bit());
                    }
                }
            }
        }
        Motion *m = r->m;
        if (mbType == 0) {
            int delta[2] = {0, 0};
            if (!modbOne &&
                (!ReadMvComponent(br, 1, 0, &delta[0]) || !ReadMvComponent(br, 1, 0, &delta[1])))
                return false;
            if (d->fieldFlags[idx] & kFieldPred) {
                // Field direct: each field scales the co-located field vector by its own field
                // distances, which depend on the parity of the fields involved.
                const int16_t *fm = d->fieldMv + idx * 4;
                m[0].kind = m[1].kind = Motion::kField;
                for (int f = 0; f < 2; ++f) {
                    int fs = (d->fieldFlags[idx] >> (1 + f)) & 1;
                    int tpp, tpb;
                    if (si->iTopFieldFirst) {
                        tpp = ppField - fs + f;
                        tpb = pbField - fs + f;
                    } else {
                        tpp = ppField + fs - f;
                        tpb = pbField + fs - f;
                    }
                    if (tpp == 0) tpp = 1;  // broken timing: keep the division defined
                    int co[2] = {fm[2 * f], fm[2 * f + 1]};
                    int fwd[2], bwd[2];
                    for (int k = 0; k < 2; ++k) {
                        fwd[k] = co[k] * tpb / tpp + delta[k];
                        bwd[k] = delta[k] ? fwd[k] - co[k] : co[k] * (tpb - tpp) / tpp;
                    }
                    m[0].mvx[f] = fwd[0];
                    m[0].mvy[f] = fwd[1];
                    m[1].mvx[f] = bwd[0];
                    m[1].mvy[f] = bwd[1];
                    m[0].sel[f] = fs;
                    m[1].sel[f] = f;
                }
            } else {
                const int16_t *co = d->mv + idx * 8;
                for (int k = 0; k < 4; ++k) {
                    int vx = co[2 * k], vy = co[2 * k + 1];
                    m[0].mvx[k] = trb * vx / trd + delta[0];
                    m[0].mvy[k] = trb * vy / trd + delta[1];
                    m[1].mvx[k] = delta[0] == 0 ? (trb - trd) * vx / trd : m[0].mvx[k] - vx;
                    m[1].mvy[k] = delta[1] == 0 ? (trb - trd) * vy / trd : m[0].mvy[k] - vy;
                }
                // Direct mode predicts per 8x8 block; with half-sample vectors one 16x16
                // prediction gives the same samples when the co-located macroblock had a single
                // vector.
                bool four = si->iQuarterSample || d->skip[idx] == kMbInter4v;
                m[0].kind = m[1].kind = four ? Motion::kFour : Motion::kOne;
            }
        } else {
            for (int dir = 0; dir < 2; ++dir) {
                if (!use[dir]) continue;
                Motion &mm = m[dir];
                int16_t(*l)[2] = last[dir];
                if (fieldPred) {
                    mm.kind = Motion::kField;
                    for (int f = 0; f < 2; ++f) {
                        if (!ReadMvComponent(br, fcode[dir], l[f][0], &mm.mvx[f]) ||
                            !ReadMvComponent(br, fcode[dir], l[f][1] / 2, &mm.mvy[f]))
                            return false;
                        l[f][0] = int16_t(mm.mvx[f]);
                        l[f][1] = int16_t(mm.mvy[f] * 2);
                        mm.sel[f] = sel[dir][f];
                    }
                } else {
                    mm.kind = Motion::kOne;
                    if (!ReadMvComponent(br, fcode[dir], l[0][0], &mm.mvx[0]) ||
                        !ReadMvComponent(br, fcode[dir], l[0][1], &mm.mvy[0]))
                        return false;
                    l[0][0] = l[1][0] = int16_t(mm.mvx[0]);
                    l[0][1] = l[1][1] = int16_t(mm.mvy[0]);
                }
            }
        }
        if (br->over) return false;
        r->pred = MbRecord::kMotion;
        r->dirs = uint8_t((use[0] ? 1 : 0) | (use[1] ? 2 : 0));
        r->rnd = 0;
        return ReadInterTexture(c, br, ReadTcoefMpeg4, scan, cbp, *q, r);
    };
    return RunMbLoop<true, true>(d, br, c, parse);
}

}  // namespace mp4v
