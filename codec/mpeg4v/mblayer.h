#pragma once
// Pieces of the macroblock layer shared by the picture decoders: the per-picture context,
// vector and quantiser syntax, prediction and reconstruction of one macroblock.
#include <cstdint>

#include "codec/mpeg4v/dsp.h"
#include "codec/mpeg4v/internal.h"
#include "codec/mpeg4v/tables.h"
#include "codec/mpeg4v/texture.h"

namespace mp4v {

// Everything one picture's macroblock loop needs, kept in locals.
struct Ctx {
    Instance *d;
    const Mp4vStreamInfo *si;
    uint8_t *y, *u, *v;
    const FrameDesc *past, *future;
    int pitch, cpitch, lumaW, lumaH, chromaW, chromaH;
    uint8_t *qmap;
    bool mpegQuant;
    int dcThreshold;
    int rounding;
};

// Stuffing followed by a resync marker or start code (14496-2 5.2.4 next_resync_marker).
inline bool ResyncAhead(BitReader *br) {
    int n = br->bits & 7;
    if (n == 0) n = 8;
    if (br->BitsLeft() < n + 16) return br->BitsLeft() <= n;
    uint32_t stuffing = br->Peek(n);
    if (stuffing != (1u << (n - 1)) - 1) return false;
    return ((br->Peek(n + 16) & 0xFFFF) == 0);
}

// not_coded (P-VOPs) and mcbpc. Macroblock stuffing stands in for a whole macroblock, so in a
// P-VOP the not_coded bit comes again after it.
inline bool ReadMcbpc(BitReader *br, bool isP, bool *notCoded, int *val) {
    for (;;) {
        if (isP && br->Bit()) {
            *notCoded = true;
            return !br->over;
        }
        Vlc e = (isP ? kMcbpcInterLut : kMcbpcIntraLut)[br->Peek(9)];
        if (e.len == 0) return false;
        br->Skip(e.len);
        if (e.val != kMcbpcStuffing) {
            *val = e.val;
            return true;
        }
        if (br->over) return false;
    }
}

// modb, mb_type, cbpb and dbquant of a B-VOP macroblock (14496-2 6.2.6). modb 1 is direct mode
// without coefficients; mb_type 0 direct, 1 interpolate, 2 backward, 3 forward.
inline bool ReadBMbHeader(BitReader *br, bool *modbOne, int *mbType, int *cbp, int *q) {
    *modbOne = br->Bit();
    if (*modbOne) return true;
    bool noCbp = br->Bit();
    int t = 0;
    while (t < 4 && !br->Bit()) ++t;
    if (t == 4) return false;
    *mbType = t;
    if (!noCbp) *cbp = int(br->Read(6));
    if (t != 0 && *cbp) {
        if (br->Bit()) *q += br->Bit() ? 2 : -2;
        *q = *q < 1 ? 1 : *q > 31 ? 31 : *q;
    }
    return true;
}

inline int ReadDquant(BitReader *br, int q) {
    static const int kDq[4] = {-1, -2, 1, 2};
    q += kDq[br->Read(2)];
    return q < 1 ? 1 : q > 31 ? 31 : q;
}

// motion_code and residual (14496-2 7.6.3), wrapped into the fcode's range.
inline bool ReadMvComponent(BitReader *br, int fcode, int pred, int *out) {
    Vlc e = kMvdLut[br->Peek(12)];
    if (e.len == 0) return false;
    br->Skip(e.len);
    int v = pred;
    if (e.val != 0) {
        int rsize = fcode - 1;
        bool negative = br->Bit();  // the sign ends motion_code; motion_residual follows
        int diff = ((int(e.val) - 1) << rsize) + int(br->Read(rsize)) + 1;
        v += negative ? -diff : diff;
    }
    int range = 32 << (fcode - 1);
    if (v < -range) v += 2 * range;
    else if (v >= range) v -= 2 * range;
    *out = v;
    return true;
}

inline int Median(int a, int b, int c) {
    int mx = a > b ? a : b, mn = a > b ? b : a;
    return c > mx ? mx : c < mn ? mn : c;
}

inline void SetMbVectors(Instance *d, int idx, int mx, int my) {
    int16_t *m = d->mv + idx * 8;
    for (int k = 0; k < 4; ++k) {
        m[2 * k] = int16_t(mx);
        m[2 * k + 1] = int16_t(my);
    }
}

inline int ChromaFromOne(int v) { return (v >> 1) | (v & 1); }

inline int ChromaFromSum(int s) {
    static const int kRound[16] = {0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2};
    int a = s < 0 ? -s : s;
    int c = (a >> 4) * 2 + kRound[a & 15];
    return s < 0 ? -c : c;
}

inline uint8_t *BlockDst(const Ctx &c, int x, int y, int b, int *pitch) {
    if (b < 4) {
        *pitch = c.pitch;
        return c.y + (y * 16 + (b >> 1) * 8) * c.pitch + x * 16 + (b & 1) * 8;
    }
    *pitch = c.cpitch;
    return (b == 4 ? c.u : c.v) + y * 8 * c.cpitch + x * 8;
}

inline bool IsIntraType(uint8_t t) { return t == kMbIntra || t == kMbIntraQ; }

// The next macroblock's top-left neighbours are the bottom-right blocks of the macroblock above
// this one; they are read before this macroblock overwrites its column's entries.
struct Diag {
    int16_t v[3];
};

inline Diag ReadDiag(const Instance *d, int x) {
    return Diag{{d->topLuma[2 * x + 1].dc, d->topChroma[2 * x].dc, d->topChroma[2 * x + 1].dc}};
}

inline void StoreDiag(Instance *d, const Diag &g) {
    d->diagDc[0] = g.v[0];
    d->diagDc[1] = g.v[1];
    d->diagDc[2] = g.v[2];
}

Ctx MakeCtx(Instance *d);

// Motion vector predictor of block k (0..3) of macroblock idx at (x, y).
void PredictMv(const Instance *d, int idx, int x, int y, int k, int *px, int *py);

// Predicts the whole macroblock from `ref` with 1 or 4 luma vectors (half-sample units).
void PredictMb(const Ctx &c, const FrameDesc *ref, int x, int y, const int *mvx, const int *mvy,
               bool four, int rnd, uint8_t *dy, uint8_t *du, uint8_t *dv, int dp, int dcp);

// Inter residual of the coded blocks (cbp bit 5 = block 0) added onto the prediction in place.
bool InterResidual(const Ctx &c, BitReader *br, int x, int y, int cbp, int q);

// Texture of a data-partitioned packet: the DC differentials of the six blocks already read
// from the first partition (null: read here when useDcVlc) and the TCOEF reader to use.
using TcoefReader = bool (*)(BitReader *, int16_t *, int, const uint8_t *, bool, CoefList *);
struct IntraSource {
    const int *dcDiff;
    TcoefReader read;
};

// MPEG-4 intra macroblock with DC/AC prediction and reconstruction.
bool IntraMb(const Ctx &c, BitReader *br, int idx, int x, int y, int cbp, bool acPred, int q,
             bool useDcVlc, const IntraSource *src = nullptr);

// Short-header intra macroblock.
bool IntraMbH263(const Ctx &c, BitReader *br, int x, int y, int cbp, int q);

// Skip map, quantiser map and status of a decoded macroblock.
void FinishMb(Instance *d, const Ctx &c, int idx, uint8_t type, int q);

}  // namespace mp4v
