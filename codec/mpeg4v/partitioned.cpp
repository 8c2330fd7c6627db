// Data-partitioned I and P VOPs (14496-2 6.2.5, data_partitioned 1). A video packet carries,
// for all its macroblocks, first the headers (with the intra DC in I-VOPs and the motion vectors
// in P-VOPs) up to a marker, then the rest of the headers, then all the texture. The three
// parts are read with three cursors in step, so no per-macroblock record of the headers has to
// be kept: the first partition is read once to find its marker (storing the vectors, which later
// predictions need), the header part once to find where the texture begins, and both again
// beside the texture while the macroblocks are rebuilt. A reversible texture is also read once
// ahead, and on an error backward from the packet's end (which needs each macroblock's
// coded blocks, kept in texDesc, and where each one's texture lies, kept in texPos).
#include <cstdint>
#include <cstring>

#include "codec/mpeg4v/general.h"
#include "codec/mpeg4v/mblayer.h"
#include "codec/mpeg4v/rvlc.h"

namespace mp4v {
namespace {

constexpr uint32_t kDcMarker = 0x6B001;  // I-VOPs, 19 bits
constexpr int kDcMarkerBits = 19;
constexpr uint32_t kMotionMarker = 0x1F001;  // P-VOPs, 17 bits
constexpr int kMotionMarkerBits = 17;

struct MbInfo {
    bool notCoded;
    bool acPred;
    bool dcVlc;  // intra DC coded with dct_dc_size (else as the first coefficient)
    uint8_t type;
    int cbp;  // bit 5 = block 0
    int dc[6];
};

// The intra DC differentials of the six blocks, each with its marker bit checked.
bool ReadDcDiffs(BitReader *br, int *dc) {
    for (int b = 0; b < 6; ++b) {
        bool marker;
        if (!ReadDcDiff(br, b < 4, &dc[b], &marker) || !marker) return false;
    }
    return true;
}

// First-partition syntax of one macroblock. With `decodeMv` the vectors are predicted and
// stored; otherwise their bits are only read past (the stored ones are used).
bool ReadPart1(Instance *d, const Ctx &c, BitReader *br, bool isP, int idx, bool decodeMv, int *q,
               MbInfo *m) {
    m->notCoded = false;
    m->acPred = false;
    m->dcVlc = false;
    int val = 0;
    if (!ReadMcbpc(br, isP, &m->notCoded, &val)) return false;
    if (m->notCoded) {
        m->type = kMbSkipped;
        m->cbp = 0;
        if (decodeMv) SetMbVectors(d, idx, 0, 0);
        return true;
    }
    m->type = uint8_t(val >> 2);
    m->cbp = val & 3;
    bool intra = IsIntraType(m->type);
    // Intra macroblocks keep zero vectors: later predictions and B-VOP direct mode read them.
    if (intra && decodeMv) SetMbVectors(d, idx, 0, 0);
    if (!isP) {
        if (!intra) return false;
        int qBefore = *q;
        if (m->type == kMbIntraQ) *q = ReadDquant(br, *q);
        m->dcVlc = UseDcVlc(c, idx == d->sliceStart, *q, qBefore);
        if (m->dcVlc && !ReadDcDiffs(br, m->dc)) return false;
        return !br->over;
    }
    if (intra) return !br->over;
    const int fcode = c.si->iVopFcodeForward;
    const int x = idx % d->mbw, y = idx / d->mbw;
    bool four = m->type == kMbInter4v;
    if (decodeMv) {
        int mvx[4], mvy[4];
        if (!ReadPVectors(d, br, fcode, idx, x, y, four, mvx, mvy)) return false;
    } else {
        for (int k = 0; k < (four ? 4 : 1); ++k) {
            int v;
            if (!ReadMvComponent(br, fcode, 0, &v) || !ReadMvComponent(br, fcode, 0, &v))
                return false;
        }
    }
    return !br->over;
}

// Second-partition header of one macroblock: ac_pred_flag and cbpy; in P-VOPs also dquant
// and the intra DC.
bool ReadPart2(const Instance *d, const Ctx &c, BitReader *br, bool isP, int idx, int *q,
               MbInfo *m) {
    if (m->notCoded) return true;
    bool intra = IsIntraType(m->type);
    if (intra) m->acPred = br->Bit();
    int cbpy;
    if (!ReadCbpy(br, intra, &cbpy)) return false;
    m->cbp |= cbpy << 2;
    if (isP) {
        int qBefore = *q;
        if (m->type == kMbInterQ || m->type == kMbIntraQ) *q = ReadDquant(br, *q);
        if (intra) {
            m->dcVlc = UseDcVlc(c, idx == d->sliceStart, *q, qBefore);
            if (m->dcVlc && !ReadDcDiffs(br, m->dc)) return false;
        }
    }
    return !br->over;
}

// The packet fails from macroblock `from` on: those are left for concealment, and the vectors
// the first partition stored for them must not survive into prediction or direct mode.
bool FailFrom(Instance *d, int from, int end, BitReader *br, const BitReader &at) {
    if (end > d->mbCount) end = d->mbCount;
    for (int i = from; i < end; ++i) SetMbVectors(d, i, 0, 0);
    d->mbNext = from;
    *br = at;
    return false;
}

// Bit position where the packet's texture ends: before the stuffing that precedes the next
// resync marker or start code (both open with 16 zero bits at a byte boundary), or before the
// stuffing of the buffer's last byte when the picture ends with the buffer. -1 when unknown.
int64_t PacketEnd(const Instance *d, const BitReader &tex) {
    const uint8_t *s = tex.start;
    const size_t len = size_t(tex.end - tex.start);
    const int64_t from = tex.BitPos();
    size_t p = size_t(from >> 3) + 1;
    while (p + 1 < len && !(s[p] == 0 && s[p + 1] == 0)) ++p;
    if (p + 1 >= len) {
        if (!d->frameEnd) return -1;
        p = len;
    }
    uint8_t last = s[p - 1];
    int ones = 0;
    while (ones < 8 && ((last >> ones) & 1)) ++ones;
    if (ones == 8) return -1;
    int64_t end = int64_t(p) * 8 - (ones + 1);
    return end >= from ? end : -1;
}

void SeekBit(BitReader *br, int64_t pos) {
    br->SeekByte(size_t(pos >> 3));
    br->over = false;
    if (pos & 7) br->Skip(int(pos & 7));
}

// Which macroblocks of a packet with a damaged reversible texture are rebuilt from which end.
struct Recovery {
    int keepFwd;  // 0..keepFwd-1 read forward from the texture's start
    int keepBwd;  // keepBwd..n-1 each read forward from d->texPos[first + k]; n: none, and
                  // the packet fails at keepFwd as when reading forward only
    int64_t end;  // the texture's end (absolute bit position)
};

// 14496-2 Annex E describes the strategy: read the texture forward until an error, backward
// from the packet's end until an error, and keep from each direction only what lies clear of
// the other's error. A single damaged bit lies between the backward and the forward error
// positions, so when the two overlap they bound it; when they do not, at least two errors are
// present and each side keeps a margin before its own error.
constexpr int64_t kMarginBits = 64;

bool PlanRecovery(Instance *d, const BitReader &texStart, int first, int n, Recovery *rc) {
    const int64_t begin = texStart.BitPos();
    rc->end = PacketEnd(d, texStart);
    if (rc->end < 0 || rc->end - begin > INT32_MAX) return false;
    BitReader f = texStart;
    int32_t *pos = d->texPos + first;
    const int kf = ParseRvlcForward(&f, d->coef, d->texDesc + first, n, rc->end, pos);
    int64_t lf = f.BitPos() - begin;
    if (kf == n && lf == rc->end - begin) {
        rc->keepFwd = rc->keepBwd = n;
        return true;
    }
    // The failing read may have looked a whole code beyond where the reader stopped.
    if (kf < n) lf += kRvlcMaxLen + 1;
    int64_t stop = 0;
    const int kb =
        ParseRvlcBackward(texStart.start, begin, rc->end, d->texDesc + first, n, kf, pos, &stop);
    const int64_t lb = stop - begin;
    int64_t fwdLimit = lb, bwdLimit = lf;
    if (lb > lf) {
        fwdLimit = lf - kMarginBits;
        bwdLimit = lb + kMarginBits;
    }
    int keepFwd = 0;
    while (keepFwd < kf && pos[keepFwd] <= fwdLimit) ++keepFwd;
    int keepBwd = n;
    const int lowest = (kb > kf ? kb : kf) + 1;
    while (keepBwd > lowest && pos[keepBwd - 1] >= bwdLimit) --keepBwd;
    rc->keepFwd = keepFwd;
    rc->keepBwd = keepBwd;
    return true;
}

// A macroblock read from the far side of the damage predicts its intra DC and AC from its
// neighbours; it is only kept when those it may read were rebuilt: a neighbour inside the packet
// that is intra but was concealed lost its DC, one rebuilt from its DC alone lost its AC.
bool NeighboursIntact(const Instance *d, int idx, bool acPred) {
    const int x = idx % d->mbw;
    const int cand[3] = {x > 0 ? idx - 1 : -1, idx - d->mbw, x > 0 ? idx - d->mbw - 1 : -1};
    for (int m : cand) {
        if (m < d->sliceStart) continue;
        bool wasIntra = d->texDesc[m] & kTexIntra;
        if (wasIntra && d->skip[m] == kMbSkipped) return false;
        if (acPred && IsIntraType(d->skip[m]) && d->status[m] == 1) return false;
    }
    return true;
}

}  // namespace

bool DecodeMbsPartitioned(Instance *d, BitReader *br) {
    const bool isP = d->vopType == kTypeP;
    // Data partitioning excludes interlace, and S-VOPs are left to the general decoder; should
    // either still reach here, the picture is concealed rather than predicted wrongly.
    if ((!isP && d->vopType != kTypeI) || d->si->iInterlaced) return false;
    Ctx c = MakeCtx(d);
    const TcoefReader read = d->si->iReversibleVlc ? ReadTcoefRvlc : ReadTcoefMpeg4;
    const uint32_t marker = isP ? kMotionMarker : kDcMarker;
    const int markerBits = isP ? kMotionMarkerBits : kDcMarkerBits;
    const int first = d->mbNext;

    // First partition up to its marker.
    const BitReader part1 = *br;
    BitReader a = part1;
    int n = 0;
    {
        int q = d->quant;
        MbInfo m;
        while (a.Peek(markerBits) != marker) {
            if (first + n >= d->mbCount || a.BitsLeft() <= 0 ||
                !ReadPart1(d, c, &a, isP, first + n, true, &q, &m))
                return FailFrom(d, first, first + n + 1, br, a);
            ++n;
        }
    }
    if (n == 0) return FailFrom(d, first, first, br, a);
    a.Skip(markerBits);

    // Second partition's headers, to find where the texture starts.
    const BitReader part2 = a;
    BitReader tex = part2;
    const bool rvlc = d->si->iReversibleVlc;
    {
        BitReader h = part1;
        int q = d->quant;
        MbInfo m;
        for (int k = 0; k < n; ++k) {
            if (!ReadPart1(d, c, &h, isP, first + k, false, &q, &m) ||
                !ReadPart2(d, c, &tex, isP, first + k, &q, &m))
                return FailFrom(d, first, first + n, br, tex);
            d->texDesc[first + k] = uint8_t(m.cbp | (IsIntraType(m.type) ? kTexIntra : 0) |
                                            (m.dcVlc ? kTexDcApart : 0));
        }
    }

    // A reversible texture that does not read cleanly up to the packet's end is read from both
    // ends; the macroblocks between what either direction recovered are left out.
    Recovery rc{n, n, -1};
    if (rvlc && !PlanRecovery(d, tex, first, n, &rc)) rc = Recovery{n, n, -1};

    // Rebuild the macroblocks, reading all three parts in step.
    const int64_t texBegin = tex.BitPos();
    BitReader h1 = part1, h2 = part2;
    int q = d->quant;
    MbRecord r;
    std::memset(r.blk, 0, sizeof r.blk);
    r.fieldDct = false;
    // Quarter-sample vectors have the same syntax; only the prediction differs.
    auto build = c.si->iQuarterSample ? Reconstruct<true> : Reconstruct<false>;
    for (int k = 0; k < n; ++k) {
        const int idx = first + k;
        const int x = idx % d->mbw, y = idx / d->mbw;
        MbInfo m;
        if (!ReadPart1(d, c, &h1, isP, idx, false, &q, &m) ||
            !ReadPart2(d, c, &h2, isP, idx, &q, &m))
            return FailFrom(d, idx, first + n, br, tex);
        // Nothing recovered from the far end: what forward reading kept is all there is.
        if (k == rc.keepFwd && rc.keepBwd == n) return FailFrom(d, idx, first + n, br, tex);
        // Each macroblock from the far end starts where backward reading found it, since one
        // left out below (its predictors lost) does not read its texture.
        if (k >= rc.keepBwd) SeekBit(&tex, texBegin + d->texPos[idx]);
        Diag nextDiag = ReadDiag(d, x);
        const bool intra = !m.notCoded && IsIntraType(m.type);
        bool lost = k >= rc.keepFwd && k < rc.keepBwd && !m.notCoded;
        if (k >= rc.keepBwd && intra && !NeighboursIntact(d, idx, m.acPred)) lost = true;
        if (lost) {
            if (intra && m.dcVlc) {
                // The DC came with the headers: rebuild from it alone, so that neighbours still
                // predict their DC right, and count the macroblock as concealed.
                IntraSource src{m.dc, read};
                ParseIntra(c, &tex, idx, x, y, 0, m.acPred, q, true, &r, &src);
                build(c, r, idx, x, y);
                FinishMb(d, c, idx, m.type, q);
                d->status[idx] = 1;
            } else {
                d->quant = q;
                d->mbNext = idx;
                ConcealUpTo(d, idx + 1);
            }
        } else if (m.notCoded) {
            r.pred = MbRecord::kCopy;
            build(c, r, idx, x, y);
            FinishMb(d, c, idx, kMbSkipped, q);
        } else {
            // The vectors were stored when the first partition was read.
            if (intra) {
                IntraSource src{m.dcVlc ? m.dc : nullptr, read};
                if (!ParseIntra(c, &tex, idx, x, y, m.cbp, m.acPred, q, m.dcVlc, &r, &src))
                    return FailFrom(d, idx, first + n, br, tex);
            } else {
                Motion &mo = r.m[0];
                mo.kind = m.type == kMbInter4v ? Motion::kFour : Motion::kOne;
                for (int b = 0; b < 4; ++b) {
                    mo.mvx[b] = d->mv[idx * 8 + 2 * b];
                    mo.mvy[b] = d->mv[idx * 8 + 2 * b + 1];
                }
                r.pred = MbRecord::kMotion;
                r.dirs = 1;
                r.rnd = c.rounding;
                if (!ReadInterTexture(c, &tex, read, kZigzag, m.cbp, q, &r))
                    return FailFrom(d, idx, first + n, br, tex);
            }
            build(c, r, idx, x, y);
            if (tex.over) return FailFrom(d, idx, first + n, br, tex);
            FinishMb(d, c, idx, m.type, q);
        }
        d->quant = q;
        d->mbNext = idx + 1;
        StoreDiag(d, nextDiag);
    }
    if (rc.keepFwd < n) SeekBit(&tex, rc.end);
    *br = tex;
    return d->mbNext >= d->mbCount;
}

}  // namespace mp4v
