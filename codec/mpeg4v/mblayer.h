#pragma once
// Pieces of the macroblock layer shared by the picture decoders: the per-picture context,
// vector and quantiser syntax, prediction and reconstruction of one macroblock.
#include <cstdint>
#include <cstring>

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

// cbpy: the luma blocks with texture (bit 3 = block 0), coded inverted in inter macroblocks.
inline bool ReadCbpy(BitReader *br, bool intra, int *cbpy) {
    Vlc cy = kCbpyLut[br->Peek(6)];
    if (cy.len == 0) return false;
    br->Skip(cy.len);
    *cbpy = intra ? cy.val : 15 - cy.val;
    return true;
}

// dct_dc_size and dct_dc_differential of one block (14496-2 7.4.3.1); *marker is the bit that
// follows differentials longer than 8 bits (true when there is none).
inline bool ReadDcDiff(BitReader *br, bool luma, int *diff, bool *marker) {
    Vlc e = (luma ? kDcSizeLumaLut : kDcSizeChromaLut)[br->Peek(12)];
    if (e.len == 0) return false;
    br->Skip(e.len);
    const int size = e.val;
    int v = 0;
    *marker = true;
    if (size) {
        v = int(br->Read(size));
        if (!(v >> (size - 1))) v -= (1 << size) - 1;
        if (size > 8) *marker = br->Bit();
    }
    *diff = v;
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

// The one or four vectors of a P macroblock, predicted from its neighbours and stored for them.
inline bool ReadPVectors(Instance *d, BitReader *br, int fcode, int idx, int x, int y, bool four,
                         int *mvx, int *mvy) {
    for (int k = 0; k < (four ? 4 : 1); ++k) {
        int px, py;
        PredictMv(d, idx, x, y, k, &px, &py);
        if (!ReadMvComponent(br, fcode, px, &mvx[k]) || !ReadMvComponent(br, fcode, py, &mvy[k]))
            return false;
        if (four) {
            d->mv[idx * 8 + 2 * k] = int16_t(mvx[k]);
            d->mv[idx * 8 + 2 * k + 1] = int16_t(mvy[k]);
        } else {
            SetMbVectors(d, idx, mvx[0], mvy[0]);
        }
    }
    return true;
}

// Predicts the whole macroblock from `ref` with 1 or 4 luma vectors (half-sample units).
void PredictMb(const Ctx &c, const FrameDesc *ref, int x, int y, const int *mvx, const int *mvy,
               bool four, int rnd, uint8_t *dy, uint8_t *du, uint8_t *dv, int dp, int dcp);

// Motion of one prediction direction of a macroblock: one vector, one per 8x8 luma block, or
// one per field with the reference field it reads.
struct Motion {
    enum Kind : uint8_t { kOne, kFour, kField } kind;
    int mvx[4], mvy[4];  // kField: [0] top field, [1] bottom field (vertical in field lines)
    int sel[2];          // kField: reference field of the top and bottom field
};

// One macroblock as parsed: how it is predicted, and its texture already decoded (dequantised)
// into its blocks. The blocks are all zero between macroblocks: the inverse transform clears
// what it reads, and a parse that fails ends the loop that owns the record.
struct MbRecord {
    enum Pred : uint8_t {
        kIntra,   // no prediction: the blocks are put
        kCopy,    // not coded: a copy of the past reference
        kGmc,     // through the S-VOP's warp
        kMotion,  // from the references in `dirs`
    } pred;
    uint8_t dirs;   // kMotion: bit 0 the past (forward) reference, bit 1 the future (backward)
    bool fieldDct;  // the luma blocks hold field lines (blocks 0 and 1 top, 2 and 3 bottom)
    int rnd;
    int coded;  // blocks with texture, bit 5 = block 0
    Motion m[2];
    BlockShape shape[6];
    alignas(32) int16_t blk[6][64];
};

// Builds the parsed macroblock into the current picture. The general variant adds field DCT,
// field and quarter-sample prediction and the warp; the plain one tests none of them.
template <bool kGeneral>
void Reconstruct(const Ctx &c, MbRecord &r, int idx, int x, int y);

// Not coded in an I/P picture: a copy of the past reference with zero vectors.
inline void NotCoded(Instance *d, int idx, MbRecord *r, uint8_t *type) {
    SetMbVectors(d, idx, 0, 0);
    r->pred = MbRecord::kCopy;
    *type = kMbSkipped;
}

// The coded blocks' texture into the record, dequantised; `read` has TcoefReader's arguments.
template <class Read>
inline bool ReadInterTexture(const Ctx &c, BitReader *br, Read read, const uint8_t *scan, int cbp,
                             int q, MbRecord *r) {
    r->coded = cbp;
    for (int b = 0; b < 6; ++b) {
        if (!(cbp & (32 >> b))) continue;
        CoefList list;
        list.n = 0;
        if (!read(br, r->blk[b], 0, scan, false, &list)) return false;
        r->shape[b] = c.mpegQuant ? DequantMpeg(r->blk[b], list, q, false, c.si->aInterQuantMatrix)
                                  : DequantH263(r->blk[b], list, q, false);
    }
    return true;
}

inline bool ReadTcoefShortHeader(BitReader *br, int16_t *blk, int i, const uint8_t *scan, bool,
                                 CoefList *list) {
    return ReadTcoefH263(br, blk, i, scan, list);
}

// Texture of a data-partitioned packet: the DC differentials of the six blocks already read
// from the first partition (null: read here when useDcVlc) and the TCOEF reader to use.
using TcoefReader = bool (*)(BitReader *, int16_t *, int, const uint8_t *, bool, CoefList *);
struct IntraSource {
    const int *dcDiff;
    TcoefReader read;
};

// The intra DC has its own code while the running quantiser (this macroblock's for the first of
// a packet, else the previous one's) is below the layer's threshold.
inline bool UseDcVlc(const Ctx &c, bool first, int q, int qBefore) {
    return (first ? q : qBefore) < c.dcThreshold;
}

// MPEG-4 intra macroblock: DC/AC prediction and texture into the record.
bool ParseIntra(const Ctx &c, BitReader *br, int idx, int x, int y, int cbp, bool acPred, int q,
                bool useDcVlc, MbRecord *r, const IntraSource *src = nullptr);

// Short-header intra macroblock into the record.
bool ParseIntraH263(BitReader *br, int cbp, int q, MbRecord *r);

// Skip map, quantiser map and status of a decoded macroblock.
void FinishMb(Instance *d, const Ctx &c, int idx, uint8_t type, int q);

// The macroblock loop of the picture decoders, from d->mbNext: `parse(idx, x, y, &q, &rec,
// &type)` reads one macroblock into the record (false: the packet ends here, by an error or a
// resync point ahead), then it is built and booked. True when the picture's last one is done.
// B-VOPs leave the skip map, the status and the intra predictors alone.
template <bool kGeneral, bool kB, class Parse>
bool RunMbLoop(Instance *d, BitReader *br, const Ctx &c, Parse &&parse) {
    MbRecord r;
    std::memset(r.blk, 0, sizeof r.blk);
    r.fieldDct = false;
    int q = d->quant;
    for (int idx = d->mbNext; idx < d->mbCount; ++idx) {
        const int x = idx % d->mbw, y = idx / d->mbw;
        Diag nextDiag;
        if constexpr (!kB) nextDiag = ReadDiag(d, x);
        uint8_t type = kMbInter;
        if (!parse(idx, x, y, &q, &r, &type)) return false;
        Reconstruct<kGeneral>(c, r, idx, x, y);
        if (br->over) return false;
        if constexpr (kB) {
            c.qmap[idx] = uint8_t(q);
        } else {
            FinishMb(d, c, idx, type, q);
            StoreDiag(d, nextDiag);
        }
        d->quant = q;
        d->mbNext = idx + 1;
    }
    return true;
}

}  // namespace mp4v
