// The macroblock layer: each macroblock is parsed into a record (its prediction and its texture,
// already dequantised into six blocks) and then built from the record by one function, inside
// one loop shared by the picture decoders. The fast decoders (progressive layers without
// quarter-sample motion or GMC) and the general ones are variants of one template, so the fast
// ones test nothing of the interlaced, quarter-sample or warp syntax; short-header pictures are
// a third variant of the I/P parser. The data-partitioned packets reuse the parsers' pieces and
// the builder from their own loop (partitioned.cpp).
#include <cstdlib>
#include <cstring>

#include "codec/mpeg4v/general.h"
#include "codec/mpeg4v/gmc.h"

namespace mp4v {
namespace {

struct Nb {
    int dc;
    const int16_t *ac;  // 7 values, or null when not available
    int qp;
};

}  // namespace

Ctx MakeCtx(Instance *d) {
    Ctx c;
    c.d = d;
    c.si = d->si;
    FrameDesc *t = &d->frames[d->cur];
    c.y = t->y;
    c.u = t->u;
    c.v = t->v;
    c.past = d->past >= 0 ? &d->frames[d->past] : t;
    c.future = d->future >= 0 ? &d->frames[d->future] : t;
    c.pitch = d->pitch;
    c.cpitch = d->pitch / 2;
    c.lumaW = d->pitch;
    c.lumaH = d->rows;
    c.chromaW = d->pitch / 2;
    c.chromaH = d->rows / 2;
    c.qmap = d->quantMap[d->curQ];
    c.mpegQuant = !d->shortHdr && d->si->iQuantType;
    c.dcThreshold = d->si->iIntraDcVlcThreshold;
    c.rounding = d->rounding;
    return c;
}

// Motion vector predictor of block k (14496-2 7.6.5): candidates outside the picture or before
// the packet's first macroblock are not valid.
void PredictMv(const Instance *d, int idx, int x, int y, int k, int *px, int *py) {
    static const int8_t kA[4][2] = {{-1, 1}, {0, 0}, {-1, 3}, {0, 2}};  // (mb offset kind, blk)
    static const int8_t kB[4][2] = {{-2, 2}, {-2, 3}, {0, 0}, {0, 0}};
    static const int8_t kC[4][2] = {{-3, 2}, {-3, 2}, {0, 1}, {0, 1}};
    const int8_t *cand[3] = {kA[k], kB[k], kC[k]};
    int vx[3], vy[3];
    bool ok[3];
    int invalid = 0;
    for (int i = 0; i < 3; ++i) {
        int m;
        bool valid;
        switch (cand[i][0]) {
            case -1:
                m = idx - 1;
                valid = x > 0 && m >= d->sliceStart;
                break;
            case -2:
                m = idx - d->mbw;
                valid = y > 0 && m >= d->sliceStart;
                break;
            case -3:
                m = idx - d->mbw + 1;
                valid = y > 0 && x < d->mbw - 1 && m >= d->sliceStart;
                break;
            default: m = idx; valid = true;
        }
        ok[i] = valid;
        if (valid) {
            vx[i] = d->mv[m * 8 + cand[i][1] * 2];
            vy[i] = d->mv[m * 8 + cand[i][1] * 2 + 1];
        } else {
            vx[i] = vy[i] = 0;
            ++invalid;
        }
    }
    if (invalid == 3) {
        *px = *py = 0;
    } else if (invalid == 2) {
        int i = ok[0] ? 0 : ok[1] ? 1 : 2;
        *px = vx[i];
        *py = vy[i];
    } else {
        *px = Median(vx[0], vx[1], vx[2]);
        *py = Median(vy[0], vy[1], vy[2]);
    }
}

// Predicts the whole macroblock from `ref` with 1 or 4 luma vectors (half-sample units).
void PredictMb(const Ctx &c, const FrameDesc *ref, int x, int y, const int *mvx, const int *mvy,
               bool four, int rnd, uint8_t *dy, uint8_t *du, uint8_t *dv, int dp, int dcp) {
    uint8_t *emu = c.d->emu;
    int bx = x * 16, by = y * 16;
    int cmx, cmy;
    if (!four) {
        McPredict(dy, dp, ref->y, c.pitch, c.lumaW, c.lumaH, 2 * bx + mvx[0], 2 * by + mvy[0], 16,
                  16, rnd, emu);
        cmx = ChromaFromOne(mvx[0]);
        cmy = ChromaFromOne(mvy[0]);
    } else {
        int sx = 0, sy = 0;
        for (int k = 0; k < 4; ++k) {
            int ox = (k & 1) * 8, oy = (k >> 1) * 8;
            McPredict(dy + oy * dp + ox, dp, ref->y, c.pitch, c.lumaW, c.lumaH,
                      2 * (bx + ox) + mvx[k], 2 * (by + oy) + mvy[k], 8, 8, rnd, emu);
            sx += mvx[k];
            sy += mvy[k];
        }
        cmx = ChromaFromSum(sx);
        cmy = ChromaFromSum(sy);
    }
    McPredict(du, dcp, ref->u, c.cpitch, c.chromaW, c.chromaH, 2 * x * 8 + cmx, 2 * y * 8 + cmy, 8,
              8, rnd, emu);
    McPredict(dv, dcp, ref->v, c.cpitch, c.chromaW, c.chromaH, 2 * x * 8 + cmx, 2 * y * 8 + cmy, 8,
              8, rnd, emu);
}

namespace {

template <bool kGeneral>
inline void PredictDir(const Ctx &c, const FrameDesc *ref, int x, int y, const Motion &m, int rnd,
                       uint8_t *dy, uint8_t *du, uint8_t *dv, int dp, int dcp) {
    if constexpr (kGeneral) PredictMotion(c, ref, x, y, m, rnd, dy, du, dv, dp, dcp);
    else PredictMb(c, ref, x, y, m.mvx, m.mvy, m.kind == Motion::kFour, rnd, dy, du, dv, dp, dcp);
}

}  // namespace

template <bool kGeneral>
void Reconstruct(const Ctx &c, MbRecord &r, int idx, int x, int y) {
    if (r.pred == MbRecord::kCopy) {
        CopyMbFromRef(c.d, idx, c.past);
        return;
    }
    const int pitch = c.pitch, cp = c.cpitch;
    uint8_t *dy = c.y + y * 16 * pitch + x * 16;
    uint8_t *du = c.u + y * 8 * cp + x * 8;
    uint8_t *dv = c.v + y * 8 * cp + x * 8;
    if (r.pred == MbRecord::kMotion) {
        if (r.dirs == 3) {
            // Bidirectional: the average of both predictions.
            uint8_t *bidY = c.d->bidir, *bidU = bidY + 256, *bidV = bidY + 320;
            PredictDir<kGeneral>(c, c.past, x, y, r.m[0], r.rnd, dy, du, dv, pitch, cp);
            PredictDir<kGeneral>(c, c.future, x, y, r.m[1], r.rnd, bidY, bidU, bidV, 16, 8);
            AverageBlock(dy, pitch, bidY, 16, 16, 16);
            AverageBlock(du, cp, bidU, 8, 8, 8);
            AverageBlock(dv, cp, bidV, 8, 8, 8);
        } else {
            const int dir = r.dirs >> 1;
            PredictDir<kGeneral>(c, dir ? c.future : c.past, x, y, r.m[dir], r.rnd, dy, du, dv,
                                 pitch, cp);
        }
    } else if (kGeneral && r.pred == MbRecord::kGmc) {
        GmcPredict(c, x, y, dy, du, dv);
    }
    const int coded = r.coded;
    if (!coded) return;
    const DspTable &dsp = Dsp();
    const IdctFn idct = r.pred == MbRecord::kIntra ? dsp.idctPut : dsp.idctAdd;
    // With field DCT the luma blocks hold alternate lines: 0 and 1 the top field, 2 and 3 the
    // bottom one.
    const bool field = kGeneral && r.fieldDct;
    const int lp = field ? 2 * pitch : pitch;
    uint8_t *lower = dy + (field ? pitch : 8 * pitch);
    if (coded & 32) idct(r.blk[0], r.shape[0], dy, lp);
    if (coded & 16) idct(r.blk[1], r.shape[1], dy + 8, lp);
    if (coded & 8) idct(r.blk[2], r.shape[2], lower, lp);
    if (coded & 4) idct(r.blk[3], r.shape[3], lower + 8, lp);
    if (coded & 2) idct(r.blk[4], r.shape[4], du, cp);
    if (coded & 1) idct(r.blk[5], r.shape[5], dv, cp);
}

template void Reconstruct<false>(const Ctx &, MbRecord &, int, int, int);
template void Reconstruct<true>(const Ctx &, MbRecord &, int, int, int);

// MPEG-4 intra macroblock: DC and AC prediction (14496-2 7.4.3), texture, reconstruction.
bool ParseIntra(const Ctx &c, BitReader *br, int idx, int x, int y, int cbp, bool acPred, int q,
                bool useDcVlc, MbRecord *r, const IntraSource *src) {
    Instance *d = c.d;
    r->pred = MbRecord::kIntra;
    r->coded = 0x3F;
    // Neighbour macroblocks usable for prediction: intra, inside the picture and the packet.
    auto usable = [&](bool inside, int m) {
        return inside && m >= d->sliceStart && IsIntraType(d->skip[m]);
    };
    bool leftOk = usable(x > 0, idx - 1);
    bool upOk = usable(y > 0, idx - d->mbw);
    bool diagOk = usable(x > 0 && y > 0, idx - d->mbw - 1);
    int qLeft = leftOk ? c.qmap[idx - 1] : q;
    int qUp = upOk ? c.qmap[idx - d->mbw] : q;
    PredLine *top = d->topLuma + 2 * x;
    PredLine *topC = d->topChroma + 2 * x;
    PredLine *left = d->leftPred;  // left macroblock: blocks 1, 3, U, V
    int16_t *diag = d->diagDc;     // top-left DCs: luma, U, V

    PredLine curRow[6], curCol[6];
    const int scalerL = DcScalerLuma(q), scalerC = DcScalerChroma(q);
    for (int b = 0; b < 6; ++b) {
        Nb A, B, C;
        switch (b) {
            case 0:
                A = leftOk ? Nb{left[0].dc, left[0].ac, qLeft} : Nb{1024, nullptr, q};
                B = Nb{diagOk ? diag[0] : 1024, nullptr, q};
                C = upOk ? Nb{top[0].dc, top[0].ac, qUp} : Nb{1024, nullptr, q};
                break;
            case 1:
                A = Nb{curCol[0].dc, curCol[0].ac, q};
                B = Nb{upOk ? top[0].dc : 1024, nullptr, q};
                C = upOk ? Nb{top[1].dc, top[1].ac, qUp} : Nb{1024, nullptr, q};
                break;
            case 2:
                A = leftOk ? Nb{left[1].dc, left[1].ac, qLeft} : Nb{1024, nullptr, q};
                B = Nb{leftOk ? left[0].dc : 1024, nullptr, q};
                C = Nb{curRow[0].dc, curRow[0].ac, q};
                break;
            case 3:
                A = Nb{curCol[2].dc, curCol[2].ac, q};
                B = Nb{curRow[0].dc, nullptr, q};
                C = Nb{curRow[1].dc, curRow[1].ac, q};
                break;
            default: {
                int p = b - 4;
                A = leftOk ? Nb{left[2 + p].dc, left[2 + p].ac, qLeft} : Nb{1024, nullptr, q};
                B = Nb{diagOk ? diag[1 + p] : 1024, nullptr, q};
                C = upOk ? Nb{topC[p].dc, topC[p].ac, qUp} : Nb{1024, nullptr, q};
            }
        }
        int16_t *blk = r->blk[b];
        int scaler = b < 4 ? scalerL : scalerC;
        bool fromAbove = std::abs(A.dc - B.dc) < std::abs(B.dc - C.dc);
        int predF = fromAbove ? C.dc : A.dc;
        int predQ = (predF + (scaler >> 1)) / scaler;

        CoefList list;
        list.n = 0;
        int dcDiff = 0;
        int start = 0;
        if (src && src->dcDiff) {
            dcDiff = src->dcDiff[b];
            start = 1;
        } else if (useDcVlc) {
            bool marker;  // not checked here
            if (!ReadDcDiff(br, b < 4, &dcDiff, &marker)) return false;
            start = 1;
        }
        const uint8_t *scan = acPred ? (fromAbove ? kAltHorizontal : kAltVertical) : kZigzag;
        if (c.si->iAlternateVerticalScan) scan = kAltVertical;
        if (cbp & (32 >> b)) {
            TcoefReader read = src && src->read ? src->read : ReadTcoefMpeg4;
            if (!read(br, blk, start, scan, true, &list)) return false;
        }
        if (start == 0) {
            dcDiff = blk[0];
        }
        int dc = (predQ + dcDiff) * scaler;
        dc = dc < -2048 ? -2048 : dc > 2047 ? 2047 : dc;

        // AC prediction on the quantised first row or column.
        if (acPred) {
            const Nb &n = fromAbove ? C : A;
            if (n.ac) {
                for (int i = 0; i < 7; ++i) {
                    int pv = n.ac[i];
                    if (pv == 0) continue;
                    if (n.qp != q) {
                        int prod = pv * n.qp;
                        pv = prod > 0 ? (prod + (q >> 1)) / q : (prod - (q >> 1)) / q;
                    }
                    int p = fromAbove ? i + 1 : (i + 1) * 8;
                    if (blk[p] == 0) {
                        bool listed = false;
                        for (int k = 0; k < list.n && !listed; ++k) listed = list.pos[k] == p;
                        if (!listed) list.pos[list.n++] = uint8_t(p);
                    }
                    blk[p] = int16_t(blk[p] + pv);
                }
            }
        }
        curRow[b].dc = curCol[b].dc = int16_t(dc);
        for (int i = 0; i < 7; ++i) {
            curRow[b].ac[i] = blk[i + 1];
            curCol[b].ac[i] = blk[(i + 1) * 8];
        }
        BlockShape s = c.mpegQuant ? DequantMpeg(blk, list, q, true, c.si->aIntraQuantMatrix)
                                   : DequantH263(blk, list, q, true);
        blk[0] = int16_t(dc);
        if (dc) AddShape(&s, 0);
        r->shape[b] = s;
    }
    // Keep what later macroblocks predict from.
    top[0] = curRow[2];
    top[1] = curRow[3];
    topC[0] = curRow[4];
    topC[1] = curRow[5];
    left[0] = curCol[1];
    left[1] = curCol[3];
    left[2] = curCol[4];
    left[3] = curCol[5];
    return true;
}

// Short-header intra macroblock: 8-bit DC, no prediction, zigzag.
bool ParseIntraH263(BitReader *br, int cbp, int q, MbRecord *r) {
    r->pred = MbRecord::kIntra;
    r->coded = 0x3F;
    for (int b = 0; b < 6; ++b) {
        int16_t *blk = r->blk[b];
        int dcv = int(br->Read(8));
        if (dcv == 0 || dcv == 128) return false;
        if (dcv == 255) dcv = 128;
        CoefList list;
        list.n = 0;
        if ((cbp & (32 >> b)) && !ReadTcoefH263(br, blk, 1, kZigzag, &list)) return false;
        r->shape[b] = DequantH263(blk, list, q, true);
        blk[0] = int16_t(dcv * 8);
        AddShape(&r->shape[b], 0);
    }
    return true;
}

void FinishMb(Instance *d, const Ctx &c, int idx, uint8_t type, int q) {
    d->skip[idx] = type;
    c.qmap[idx] = uint8_t(q);
    if (IsIntraType(type)) d->status[idx] = 0;
}

void CopyMbFromRef(Instance *d, int mb, const FrameDesc *ref) {
    FrameDesc *t = &d->frames[d->cur];
    if (ref == t) return;
    int x = mb % d->mbw, y = mb / d->mbw;
    int p = d->pitch, cp = d->pitch / 2;
    CopyBlock(t->y + y * 16 * p + x * 16, p, ref->y + y * 16 * p + x * 16, p, 16, 16);
    CopyBlock(t->u + y * 8 * cp + x * 8, cp, ref->u + y * 8 * cp + x * 8, cp, 8, 8);
    CopyBlock(t->v + y * 8 * cp + x * 8, cp, ref->v + y * 8 * cp + x * 8, cp, 8, 8);
}

namespace {

inline int FloorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    return int(q * b > a ? q - 1 : q);
}

// A macroblock of an S-VOP predicted through the VOP's warp stores the warp's average vector
// for its neighbours' vector prediction and for direct mode of later B-VOPs.
void GmcVectors(const Ctx &c, int idx, int x, int y) {
    Instance *d = c.d;
    int vx, vy;
    GmcAverageVector(*d->gmc, x, y, c.si->iQuarterSample != 0, c.si->iVopFcodeForward, &vx, &vy);
    SetMbVectors(d, idx, vx, vy);
    ++d->gmcMbs;
}

// A GOB start code (with optional stuffing before it) or a picture start code is next.
bool GobAhead(const BitReader *br) {
    BitReader probe = *br;
    int zeros = 0;
    while (zeros < 24 && probe.BitsLeft() > 0 && probe.Peek(1) == 0) {
        probe.Skip(1);
        ++zeros;
    }
    return zeros >= 16 && probe.BitsLeft() > 0;
}

// The syntax variants of the I/P parser.
enum Syntax { kShortHeader, kPlain, kGeneralSyntax };

// I, P and S-VOPs, and short-header I and P pictures. The general variant adds the interlaced
// syntax (field DCT, field vectors with their field selects), GMC macroblocks and the alternate
// scan; the short header has GOBs instead of packets, no AC prediction, no four-vector
// macroblocks and its own intra blocks and texture codes.
template <Syntax S>
bool DecodeIPS(Instance *d, BitReader *br) {
    constexpr bool kGeneral = S == kGeneralSyntax, kShort = S == kShortHeader;
    const Ctx c = MakeCtx(d);
    const bool isP = kShort ? d->vopType == kTypeP : d->vopType != kTypeI;
    const bool gmcVop = kGeneral && d->vopType == kTypeS;
    const bool interlaced = kGeneral && d->si->iInterlaced != 0;
    const int fcode = kShort ? 1 : d->si->iVopFcodeForward;
    const uint8_t *scan = kGeneral && d->si->iAlternateVerticalScan ? kAltVertical : kZigzag;
    constexpr TcoefReader readTcoef = kShort ? ReadTcoefShortHeader : ReadTcoefMpeg4;
    auto parse = [&](int idx, int x, int y, int *q, MbRecord *r, uint8_t *type) {
        if constexpr (kShort) {
            if (idx != d->sliceStart && x == 0 && y % d->gobRows == 0 && GobAhead(br)) return false;
            if (br->BitsLeft() <= 0) return false;
        } else {
            if (idx != d->sliceStart && ResyncAhead(br)) return false;
        }
        const int qBefore = *q;
        int val = 0;
        bool notCoded = false;
        if (!ReadMcbpc(br, isP, &notCoded, &val)) return false;
        if constexpr (kGeneral) r->fieldDct = false;
        if (notCoded) {
            if constexpr (kGeneral) {
                d->fieldFlags[idx] = 0;
                if (gmcVop) {
                    // A skipped macroblock of an S-VOP is a GMC macroblock without residual. It
                    // is not "skipped" for the co-located macroblock of a later B-VOP, which
                    // decodes its own data (as the reference decoders do).
                    if (br->over) return false;
                    GmcVectors(c, idx, x, y);
                    r->pred = MbRecord::kGmc;
                    r->coded = 0;
                    *type = kMbInter;
                    return true;
                }
            }
            NotCoded(d, idx, r, type);
            return true;
        }
        *type = uint8_t(val >> 2);
        if (kShort && *type == kMbInter4v) return false;
        const bool intra = IsIntraType(*type);
        const bool mcsel = gmcVop && (*type == kMbInter || *type == kMbInterQ) && br->Bit();
        const bool acPred = !kShort && intra && br->Bit();
        int cbpy;
        if (!ReadCbpy(br, intra, &cbpy)) return false;
        const int cbp = (cbpy << 2) | (val & 3);
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
        if constexpr (kGeneral) d->fieldFlags[idx] = 0;
        if (intra) {
            SetMbVectors(d, idx, 0, 0);
            if constexpr (kShort) return ParseIntraH263(br, cbp, *q, r);
            return ParseIntra(c, br, idx, x, y, cbp, acPred, *q,
                              UseDcVlc(c, idx == d->sliceStart, *q, qBefore), r);
        }
        if (mcsel) {
            if (br->over) return false;
            GmcVectors(c, idx, x, y);
            r->pred = MbRecord::kGmc;
            return ReadInterTexture(c, br, readTcoef, scan, cbp, *q, r);
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
        r->pred = MbRecord::kMotion;
        r->dirs = 1;
        r->rnd = c.rounding;
        return ReadInterTexture(c, br, readTcoef, scan, cbp, *q, r);
    };
    return RunMbLoop<kGeneral, false>(d, br, c, parse);
}

// B-VOPs. The general variant adds the interlaced syntax, field direct mode and direct mode per
// 8x8 block with quarter-sample vectors.
template <bool kGeneral>
bool DecodeB(Instance *d, BitReader *br) {
    const Ctx c = MakeCtx(d);
    const Mp4vStreamInfo *si = d->si;
    const bool interlaced = kGeneral && si->iInterlaced != 0;
    const int fcode[2] = {si->iVopFcodeForward, si->iVopFcodeBackward};
    const uint8_t *scan = kGeneral && si->iAlternateVerticalScan ? kAltVertical : kZigzag;
    // Previous vectors of the row per direction and field; a frame vector sets both fields.
    int16_t(*last)[2][2] = d->bPred;
    const int trd = d->trd ? d->trd : 1, trb = d->trb;
    // Field distances for field direct mode, in fields, in units of the first B-VOP's TRB.
    const int64_t unit = d->fieldT > 0 ? d->fieldT : 1;
    const int ppField = 2 * FloorDiv(2 * int64_t(d->trd) + unit, 2 * unit);
    const int pbField = 2 * FloorDiv(2 * int64_t(d->trb) + unit, 2 * unit);
    auto parse = [&](int idx, int x, int, int *q, MbRecord *r, uint8_t *) {
        if (idx != d->sliceStart && ResyncAhead(br)) return false;
        if (x == 0 || (!kGeneral && idx == d->sliceStart)) {
            std::memset(d->bPred, 0, sizeof d->bPred);
        } else if (idx == d->sliceStart) {
            // A packet that starts inside a row restarts the frame (top field) predictors only;
            // the bottom field predictors run on from the packet before, as the encoders that
            // write interlaced B-VOPs with packets expect.
            for (int dir = 0; dir < 2; ++dir) last[dir][0][0] = last[dir][0][1] = 0;
        }
        if (d->skip[idx] == kMbSkipped) {
            // The co-located macroblock of the future reference was skipped: so is this one.
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
        if constexpr (kGeneral) r->fieldDct = false;
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
            if (kGeneral && (d->fieldFlags[idx] & kFieldPred)) {
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
                bool differ = false;
                for (int k = 0; k < 4; ++k) {
                    int vx = co[2 * k], vy = co[2 * k + 1];
                    m[0].mvx[k] = trb * vx / trd + delta[0];
                    m[0].mvy[k] = trb * vy / trd + delta[1];
                    m[1].mvx[k] = delta[0] == 0 ? (trb - trd) * vx / trd : m[0].mvx[k] - vx;
                    m[1].mvy[k] = delta[1] == 0 ? (trb - trd) * vy / trd : m[0].mvy[k] - vy;
                    differ |= m[0].mvx[k] != m[0].mvx[0] || m[0].mvy[k] != m[0].mvy[0] ||
                              m[1].mvx[k] != m[1].mvx[0] || m[1].mvy[k] != m[1].mvy[0];
                }
                // Direct mode predicts per 8x8 block; with half-sample vectors four equal ones
                // predict exactly like one (the chroma rules agree too). The general decoders
                // keep one 16x16 prediction for co-located macroblocks with a single vector.
                const bool four =
                    kGeneral ? si->iQuarterSample || d->skip[idx] == kMbInter4v : differ;
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
        r->pred = MbRecord::kMotion;
        r->dirs = uint8_t((use[0] ? 1 : 0) | (use[1] ? 2 : 0));
        r->rnd = 0;
        return ReadInterTexture(c, br, ReadTcoefMpeg4, scan, cbp, *q, r);
    };
    return RunMbLoop<kGeneral, true>(d, br, c, parse);
}

}  // namespace

bool DecodeMbsIP(Instance *d, BitReader *br) { return DecodeIPS<kPlain>(d, br); }
bool DecodeMbsGeneral(Instance *d, BitReader *br) { return DecodeIPS<kGeneralSyntax>(d, br); }
bool DecodeMbsB(Instance *d, BitReader *br) { return DecodeB<false>(d, br); }
bool DecodeMbsGeneralB(Instance *d, BitReader *br) { return DecodeB<true>(d, br); }

bool DecodeMbsH263(Instance *d, BitReader *br) { return DecodeIPS<kShortHeader>(d, br); }

}  // namespace mp4v
