// Parametric stereo: ps_data() parsing and the stereo synthesis of ISO/IEC 14496-3 clause 8
// (hybrid analysis, decorrelation with transient reduction, mixing, hybrid synthesis), in
// 32-bit fixed point with 64-bit products. IPD/OPD are applied as well as read, with the
// phase smoothing of the full (non-baseline) tool.
#include "codec/aac/ps.h"

#include <cstring>

#include "codec/aac/aac_internal.h"

namespace aacdec {

extern const int8_t kPsBandOf20[71];
extern const int8_t kPsBandOf34[91];
extern const int32_t kPsHyb8[8][7][2];
extern const int32_t kPsHyb12[12][7][2];
extern const int32_t kPsHyb8b[8][7][2];
extern const int32_t kPsHyb4[4][7][2];
extern const int32_t kPsHyb2[7];
extern const int32_t kPsPhiFract[2][50][2];
extern const int32_t kPsQFract[2][50][3][2];
extern const int32_t kPsMixA[46][8][4];
extern const int32_t kPsMixB[46][8][4];
extern const int32_t kPsPdSmooth[512][2];
extern const int32_t kPsAllpassA[3];

namespace {

constexpr int8_t kNumEnvTab[2][4] = {{0, 1, 2, 4}, {1, 2, 3, 4}};
constexpr uint8_t kNrIidIcc[6] = {10, 20, 34, 10, 20, 34};
constexpr uint8_t kNrPd[6] = {5, 11, 17, 5, 11, 17};
constexpr int32_t kOneQ30 = 1 << 30;
constexpr int32_t kInputLimit = (1 << 29) - 1;
constexpr int kRingPeriod = 840;  // common multiple of every delay-line length

// Layout of the two resolutions: hybrid subbands first, then the plain QMF bands.
struct PsMode {
    int bands;  // hybrid + QMF bands
    int par_bands;
    int hybrid;        // hybrid subbands
    int qmf_first;     // first QMF band used directly
    int allpass;       // bands below use the all-pass decorrelator
    int short_delay;   // bands from here on use a 1-slot delay, below it 14 slots
    int decay_cutoff;  // the all-pass decay slope starts here
    int pd_bands;      // bands with IPD/OPD
    const int8_t *band_of;
};
const PsMode kMode[2] = {
    {71, 20, 10, 3, 30, 42, 10, 11, kPsBandOf20},
    {91, 34, 32, 5, 50, 62, 32, 17, kPsBandOf34},
};

constexpr int kAllpassCells = 2 + 3 + 4 + 5;
constexpr int kMidCells = 14;

inline int32_t Clamp(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

inline int64_t MulQ30(int32_t a, int32_t b) {
    return (static_cast<int64_t>(a) * b + (int64_t{1} << 29)) >> 30;
}

// (a.re + j a.im) * (c.re + j c.im), c in Q30.
inline void CMulQ30(const int32_t a[2], const int32_t c[2], int32_t out[2]) {
    int64_t re = static_cast<int64_t>(a[0]) * c[0] - static_cast<int64_t>(a[1]) * c[1];
    int64_t im = static_cast<int64_t>(a[0]) * c[1] + static_cast<int64_t>(a[1]) * c[0];
    out[0] = Sat32((re + (int64_t{1} << 29)) >> 30);
    out[1] = Sat32((im + (int64_t{1} << 29)) >> 30);
}

// Product of a non-negative 64-bit value and a Q31 factor in [0, 1).
inline int64_t MulU64Q31(int64_t v, int32_t c) {
    return (v >> 31) * c + (((v & 0x7FFFFFFF) * c) >> 31);
}

// ---------------------------------------------------------------------------------------------
// Parsing

int HuffDecode(BitReader *br, const PsHuffEntry *t, int n) {
    uint32_t w = BrWindow(br);
    for (int i = 0; i < n; ++i) {
        if ((w >> (32 - t[i].len)) == t[i].code) {
            BrSkip(br, t[i].len);
            return t[i].value;
        }
    }
    return 0;  // not reached: every table is a complete prefix code
}

// One envelope of differentially coded indices; false when a value leaves [lo, hi].
bool ReadPar(BitReader *br, const PsHuffEntry *t, int tn, bool dt, const int8_t *prev, int8_t *out,
             int nr, int lo, int hi, bool wrap) {
    int acc = 0;
    for (int b = 0; b < nr; ++b) {
        int v = (dt ? prev[b] : acc) + HuffDecode(br, t, tn);
        if (wrap) v &= 7;
        if (v < lo || v > hi) return false;
        out[b] = static_cast<int8_t>(v);
        acc = v;
    }
    return true;
}

bool ParsePs(BitReader *r, PsState *st, PsFrame *f, bool *header_out) {
    uint8_t en_iid = st->enable_iid, iid_mode = st->iid_mode;
    uint8_t en_icc = st->enable_icc, icc_mode = st->icc_mode, en_ext = st->enable_ext;
    bool header = BrBit(r) != 0;
    if (header) {
        en_iid = static_cast<uint8_t>(BrBit(r));
        if (en_iid) {
            iid_mode = static_cast<uint8_t>(BrRead(r, 3));
            if (iid_mode > 5) return false;
        }
        en_icc = static_cast<uint8_t>(BrBit(r));
        if (en_icc) {
            icc_mode = static_cast<uint8_t>(BrRead(r, 3));
            if (icc_mode > 5) return false;
        }
        en_ext = static_cast<uint8_t>(BrBit(r));
    }
    *header_out = header;

    int frame_class = static_cast<int>(BrBit(r));
    int num_env = kNumEnvTab[frame_class][BrRead(r, 2)];
    f->border[0] = -1;
    if (frame_class) {
        for (int e = 1; e <= num_env; ++e) {
            f->border[e] = static_cast<int8_t>(BrRead(r, 5));
            if (f->border[e] < f->border[e - 1]) return false;
        }
    } else {
        int log2 = num_env == 4 ? 2 : num_env - 1;
        for (int e = 1; e <= num_env; ++e)
            f->border[e] = static_cast<int8_t>(((e * kPsSlots) >> log2) - 1);
    }

    bool fine = en_iid && iid_mode > 2;
    f->nr_iid = en_iid ? kNrIidIcc[iid_mode] : 0;
    f->nr_icc = en_icc ? kNrIidIcc[icc_mode] : 0;
    f->nr_pd = kNrPd[iid_mode];
    f->iid_fine = fine ? 1 : 0;
    f->mix_b = icc_mode >= 3 ? 1 : 0;
    int iid_lim = fine ? 15 : 7;
    for (int e = 0; e < num_env; ++e) {
        if (!en_iid) break;
        bool dt = BrBit(r) != 0;
        const PsHuffEntry *t =
            dt ? (fine ? kHuffIidFineDt : kHuffIidDt) : (fine ? kHuffIidFineDf : kHuffIidDf);
        if (!ReadPar(r, t, fine ? 61 : 29, dt, e ? f->iid[e - 1] : st->prev_iid, f->iid[e],
                     f->nr_iid, -iid_lim, iid_lim, false))
            return false;
    }
    for (int e = 0; e < num_env; ++e) {
        if (!en_icc) break;
        bool dt = BrBit(r) != 0;
        if (!ReadPar(r, dt ? kHuffIccDt : kHuffIccDf, 15, dt, e ? f->icc[e - 1] : st->prev_icc,
                     f->icc[e], f->nr_icc, 0, 7, false))
            return false;
    }
    f->ipdopd = 0;
    if (en_ext) {
        int32_t cnt = static_cast<int32_t>(BrRead(r, 4));
        if (cnt == 15) cnt += static_cast<int32_t>(BrRead(r, 8));
        cnt *= 8;
        while (cnt > 7) {
            uint32_t id = BrRead(r, 2);
            cnt -= 2;
            if (id != 0) continue;
            int64_t at = r->pos;
            f->ipdopd = static_cast<uint8_t>(BrBit(r));
            for (int e = 0; f->ipdopd && e < num_env; ++e) {
                bool dt = BrBit(r) != 0;
                ReadPar(r, dt ? kHuffIpdDt : kHuffIpdDf, 8, dt, e ? f->ipd[e - 1] : st->prev_ipd,
                        f->ipd[e], f->nr_pd, 0, 7, true);
                dt = BrBit(r) != 0;
                ReadPar(r, dt ? kHuffOpdDt : kHuffOpdDf, 8, dt, e ? f->opd[e - 1] : st->prev_opd,
                        f->opd[e], f->nr_pd, 0, 7, true);
            }
            BrSkip(r, 1);  // reserved_ps
            cnt -= static_cast<int32_t>(r->pos - at);
            if (r->overrun) return false;
        }
        if (cnt < 0) return false;
        BrSkip(r, cnt);
    }
    if (r->overrun) return false;

    // The last envelope must end with the frame: append one holding the last values (or the
    // previous frame's when this one carries none).
    if (num_env == 0 || f->border[num_env] < kPsSlots - 1) {
        if (num_env > 0) {
            std::memcpy(f->iid[num_env], f->iid[num_env - 1], kPsMaxPar);
            std::memcpy(f->icc[num_env], f->icc[num_env - 1], kPsMaxPar);
            std::memcpy(f->ipd[num_env], f->ipd[num_env - 1], kPsMaxPdPar);
            std::memcpy(f->opd[num_env], f->opd[num_env - 1], kPsMaxPdPar);
        } else {
            if (en_iid) std::memcpy(f->iid[0], st->prev_iid, kPsMaxPar);
            if (en_icc) std::memcpy(f->icc[0], st->prev_icc, kPsMaxPar);
            if (f->ipdopd) {
                std::memcpy(f->ipd[0], st->prev_ipd, kPsMaxPdPar);
                std::memcpy(f->opd[0], st->prev_opd, kPsMaxPdPar);
            }
        }
        ++num_env;
        f->border[num_env] = kPsSlots - 1;
    }
    f->num_env = static_cast<uint8_t>(num_env);

    if (en_iid || en_icc) f->is34 = (en_iid && f->nr_iid == 34) || (en_icc && f->nr_icc == 34);
    else f->is34 = st->is34;

    st->enable_iid = en_iid;
    st->iid_mode = iid_mode;
    st->enable_icc = en_icc;
    st->icc_mode = icc_mode;
    st->enable_ext = en_ext;
    return true;
}

}  // namespace

void ResetPs(PsState *st) {
    if (st) std::memset(st, 0, sizeof(*st));
}

bool ReadPsData(BitReader *br, int32_t bits, PsState *st, PsFrame *f) {
    if (!br || !st || !f) return false;
    std::memset(f, 0, sizeof(*f));
    int64_t avail = BrLeft(br);
    if (bits <= 0 || bits > avail) {
        if (avail > 0) BrSkip(br, bits <= 0 ? 0 : avail);
        st->header_seen = 0;
        return false;
    }
    BitReader r = *br;
    r.size_bits = r.pos + bits;  // a read past the payload sets the overrun flag
    bool header = false;
    if (!ParsePs(&r, st, f, &header) || r.overrun || r.pos - br->pos > bits) {
        std::memset(f, 0, sizeof(*f));
        std::memset(st->prev_iid, 0, sizeof(st->prev_iid));
        std::memset(st->prev_icc, 0, sizeof(st->prev_icc));
        std::memset(st->prev_ipd, 0, sizeof(st->prev_ipd));
        std::memset(st->prev_opd, 0, sizeof(st->prev_opd));
        st->header_seen = 0;
        BrSkip(br, bits);
        return false;
    }
    if (header) st->header_seen = 1;
    f->usable = st->header_seen;
    int last = f->num_env - 1;
    std::memcpy(st->prev_iid, f->iid[last], kPsMaxPar);
    std::memcpy(st->prev_icc, f->icc[last], kPsMaxPar);
    std::memcpy(st->prev_ipd, f->ipd[last], kPsMaxPdPar);
    std::memcpy(st->prev_opd, f->opd[last], kPsMaxPdPar);
    BrSkip(br, r.pos - br->pos);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Stereo synthesis

namespace {

// Changes of parameter resolution (10, 20 and 34 bands; 14496-3 clause 8 tables). `full` is
// false for the IPD/OPD sets, which only cover the lower bands.
void Map20To34(int8_t *o, const int8_t *p, bool full) {
    if (full) {
        o[33] = o[32] = p[19];
        o[31] = o[30] = o[29] = o[28] = p[18];
        o[27] = o[26] = p[17];
        o[25] = o[24] = p[16];
        o[23] = o[22] = p[15];
        o[21] = o[20] = p[14];
        o[19] = p[13];
        o[18] = p[12];
        o[17] = p[11];
    }
    o[16] = p[10];
    o[15] = o[14] = p[9];
    o[13] = o[12] = p[8];
    o[11] = p[7];
    o[10] = p[6];
    o[9] = o[8] = p[5];
    o[7] = o[6] = p[4];
    o[5] = p[3];
    o[4] = static_cast<int8_t>((p[2] + p[3]) / 2);
    o[3] = p[2];
    o[2] = p[1];
    o[1] = static_cast<int8_t>((p[0] + p[1]) / 2);
    o[0] = p[0];
}

void Map10To34(int8_t *o, const int8_t *p, bool full) {
    if (full) {
        for (int i = 28; i < 34; ++i) o[i] = p[9];
        for (int i = 24; i < 28; ++i) o[i] = p[8];
        for (int i = 20; i < 24; ++i) o[i] = p[7];
        o[19] = o[18] = p[6];
        o[17] = o[16] = p[5];
    } else {
        o[16] = 0;
    }
    o[15] = o[14] = o[13] = o[12] = p[4];
    o[11] = o[10] = p[3];
    o[9] = o[8] = o[7] = o[6] = p[2];
    o[5] = o[4] = o[3] = p[1];
    o[2] = o[1] = o[0] = p[0];
}

void Map34To20(int8_t *o, const int8_t *p, bool full) {
    o[0] = static_cast<int8_t>((2 * p[0] + p[1]) / 3);
    o[1] = static_cast<int8_t>((p[1] + 2 * p[2]) / 3);
    o[2] = static_cast<int8_t>((2 * p[3] + p[4]) / 3);
    o[3] = static_cast<int8_t>((p[4] + 2 * p[5]) / 3);
    o[4] = static_cast<int8_t>((p[6] + p[7]) / 2);
    o[5] = static_cast<int8_t>((p[8] + p[9]) / 2);
    o[6] = p[10];
    o[7] = p[11];
    o[8] = static_cast<int8_t>((p[12] + p[13]) / 2);
    o[9] = static_cast<int8_t>((p[14] + p[15]) / 2);
    o[10] = p[16];
    if (full) {
        o[11] = p[17];
        o[12] = p[18];
        o[13] = p[19];
        o[14] = static_cast<int8_t>((p[20] + p[21]) / 2);
        o[15] = static_cast<int8_t>((p[22] + p[23]) / 2);
        o[16] = static_cast<int8_t>((p[24] + p[25]) / 2);
        o[17] = static_cast<int8_t>((p[26] + p[27]) / 2);
        o[18] = static_cast<int8_t>((p[28] + p[29] + p[30] + p[31]) / 4);
        o[19] = static_cast<int8_t>((p[32] + p[33]) / 2);
    }
}

void Map10To20(int8_t *o, const int8_t *p, bool full) {
    int b = full ? 9 : 4;
    if (!full) o[10] = 0;
    for (; b >= 0; --b) o[2 * b] = o[2 * b + 1] = p[b];
}

// Brings `nr` coded indices to the processing resolution (all zero for a count that is not
// one of the coded resolutions, 0 included).
void MapPar(int8_t *o, const int8_t *p, int nr, bool is34, bool full) {
    std::memset(o, 0, kPsMaxPar);
    if (nr == 10 || nr == 5) {
        if (is34) Map10To34(o, p, full);
        else Map10To20(o, p, full);
    } else if (nr == 20 || nr == 11) {
        if (is34) Map20To34(o, p, full);
        else std::memcpy(o, p, static_cast<size_t>(nr));
    } else if (nr == 34 || nr == 17) {
        if (is34) std::memcpy(o, p, static_cast<size_t>(nr));
        else Map34To20(o, p, full);
    }
}

// Mixing matrices kept across a change of resolution.
void MapVal20To34(int32_t *p) {
    int32_t v[20];
    std::memcpy(v, p, sizeof(v));
    const int8_t src[34] = {0,  0,  1,  2,  0,  3,  4,  4,  5,  5,  6,  7,  8,  8,  9,  9,  10,
                            11, 12, 13, 14, 14, 15, 15, 16, 16, 17, 17, 18, 18, 18, 18, 19, 19};
    for (int i = 0; i < 34; ++i) p[i] = v[src[i]];
    p[1] = static_cast<int32_t>((static_cast<int64_t>(v[0]) + v[1]) / 2);
    p[4] = static_cast<int32_t>((static_cast<int64_t>(v[2]) + v[3]) / 2);
}

void MapVal34To20(int32_t *p) {
    int64_t v[34];
    for (int i = 0; i < 34; ++i) v[i] = p[i];
    p[0] = static_cast<int32_t>((2 * v[0] + v[1]) / 3);
    p[1] = static_cast<int32_t>((v[1] + 2 * v[2]) / 3);
    p[2] = static_cast<int32_t>((2 * v[3] + v[4]) / 3);
    p[3] = static_cast<int32_t>((v[4] + 2 * v[5]) / 3);
    p[4] = static_cast<int32_t>((v[6] + v[7]) / 2);
    p[5] = static_cast<int32_t>((v[8] + v[9]) / 2);
    p[6] = static_cast<int32_t>(v[10]);
    p[7] = static_cast<int32_t>(v[11]);
    p[8] = static_cast<int32_t>((v[12] + v[13]) / 2);
    p[9] = static_cast<int32_t>((v[14] + v[15]) / 2);
    p[10] = static_cast<int32_t>(v[16]);
    p[11] = static_cast<int32_t>(v[17]);
    p[12] = static_cast<int32_t>(v[18]);
    p[13] = static_cast<int32_t>(v[19]);
    p[14] = static_cast<int32_t>((v[20] + v[21]) / 2);
    p[15] = static_cast<int32_t>((v[22] + v[23]) / 2);
    p[16] = static_cast<int32_t>((v[24] + v[25]) / 2);
    p[17] = static_cast<int32_t>((v[26] + v[27]) / 2);
    p[18] = static_cast<int32_t>((v[28] + v[29] + v[30] + v[31]) / 4);
    p[19] = static_cast<int32_t>((v[32] + v[33]) / 2);
    for (int i = 20; i < 34; ++i) p[i] = 0;
}

void SetIdentity(int32_t h[8][kPsMaxPar]) {
    std::memset(h, 0, sizeof(int32_t) * 8 * kPsMaxPar);
    for (int b = 0; b < kPsMaxPar; ++b) h[0][b] = h[1][b] = kOneQ30;
}

// Stored matrices keep 14 fraction bits (rounding far below the 16-bit output).
void PackH(const int32_t h[8][kPsMaxPar], int16_t re[4][kPsMaxPar], int16_t im[4][kPsMaxPdPar]) {
    for (int j = 0; j < 4; ++j) {
        for (int b = 0; b < kPsMaxPar; ++b)
            re[j][b] = static_cast<int16_t>(Clamp((h[j][b] + (1 << 15)) >> 16, -32768, 32767));
        for (int b = 0; b < kPsMaxPdPar; ++b)
            im[j][b] = static_cast<int16_t>(Clamp((h[4 + j][b] + (1 << 15)) >> 16, -32768, 32767));
    }
}

void UnpackH(const int16_t re[4][kPsMaxPar], const int16_t im[4][kPsMaxPdPar],
             int32_t h[8][kPsMaxPar]) {
    std::memset(h, 0, sizeof(int32_t) * 8 * kPsMaxPar);
    for (int j = 0; j < 4; ++j) {
        for (int b = 0; b < kPsMaxPar; ++b) h[j][b] = re[j][b] * 65536;
        for (int b = 0; b < kPsMaxPdPar; ++b) h[4 + j][b] = im[j][b] * 65536;
    }
}

// Complex 13-tap hybrid filter, taps oldest first, centre tap 6 (real).
inline void HybridCx(const int32_t (*in)[2], const int32_t (*flt)[2], int32_t out[2]) {
    int64_t re = static_cast<int64_t>(flt[6][0]) * in[6][0];
    int64_t im = static_cast<int64_t>(flt[6][0]) * in[6][1];
    for (int j = 0; j < 6; ++j) {
        int64_t sre = static_cast<int64_t>(in[j][0]) + in[12 - j][0];
        int64_t sim = static_cast<int64_t>(in[j][1]) + in[12 - j][1];
        int64_t dre = static_cast<int64_t>(in[j][0]) - in[12 - j][0];
        int64_t dim = static_cast<int64_t>(in[j][1]) - in[12 - j][1];
        re += flt[j][0] * sre - flt[j][1] * dim;
        im += flt[j][0] * sim + flt[j][1] * dre;
    }
    out[0] = Sat32((re + (int64_t{1} << 30)) >> 31);
    out[1] = Sat32((im + (int64_t{1} << 30)) >> 31);
}

// Real two-band split (QMF bands 1 and 2 in 20-band mode): low = in-phase + out-of-phase.
inline void HybridRe2(const int32_t (*in)[2], int32_t lo[2], int32_t hi[2]) {
    for (int c = 0; c < 2; ++c) {
        int64_t centre = static_cast<int64_t>(kPsHyb2[6]) * in[6][c];
        int64_t side = 0;
        for (int j = 1; j < 6; j += 2)
            side +=
                static_cast<int64_t>(kPsHyb2[j]) * (static_cast<int64_t>(in[j][c]) + in[12 - j][c]);
        lo[c] = Sat32((centre + side + (int64_t{1} << 30)) >> 31);
        hi[c] = Sat32((centre - side + (int64_t{1} << 30)) >> 31);
    }
}

// Hybrid analysis of one slot: the causal filters put every subband 6 slots late.
void HybridAnalysis(const int32_t (*taps)[13][2], bool is34, int32_t (*s)[2]) {
    if (is34) {
        for (int q = 0; q < 12; ++q) HybridCx(taps[0], kPsHyb12[q], s[q]);
        for (int q = 0; q < 8; ++q) HybridCx(taps[1], kPsHyb8b[q], s[12 + q]);
        for (int band = 2; band < 5; ++band)
            for (int q = 0; q < 4; ++q)
                HybridCx(taps[band], kPsHyb4[q], s[20 + 4 * (band - 2) + q]);
        return;
    }
    int32_t t[8][2];
    for (int q = 0; q < 8; ++q) HybridCx(taps[0], kPsHyb8[q], t[q]);
    // Eight subbands of QMF band 0 merged to six, the negative frequencies first.
    s[0][0] = t[6][0], s[0][1] = t[6][1];
    s[1][0] = t[7][0], s[1][1] = t[7][1];
    s[2][0] = t[0][0], s[2][1] = t[0][1];
    s[3][0] = t[1][0], s[3][1] = t[1][1];
    s[4][0] = Sat32(static_cast<int64_t>(t[2][0]) + t[5][0]);
    s[4][1] = Sat32(static_cast<int64_t>(t[2][1]) + t[5][1]);
    s[5][0] = Sat32(static_cast<int64_t>(t[3][0]) + t[4][0]);
    s[5][1] = Sat32(static_cast<int64_t>(t[3][1]) + t[4][1]);
    // QMF band 1 is spectrally reversed relative to band 2.
    HybridRe2(taps[1], s[7], s[6]);
    HybridRe2(taps[2], s[8], s[9]);
}

// Mixing targets of one envelope for every parameter band (re x4, then im x4).
void EnvelopeTargets(int8_t pd_hist[2][kPsMaxPdPar], const PsFrame *f, int e, bool is34,
                     bool ipd_active, int32_t h[8][kPsMaxPar]) {
    const PsMode &m = kMode[is34 ? 1 : 0];
    int8_t iid[kPsMaxPar], icc[kPsMaxPar], ipd[kPsMaxPar], opd[kPsMaxPar];
    MapPar(iid, f->iid[e], f->nr_iid, is34, true);
    MapPar(icc, f->icc[e], f->nr_icc, is34, true);
    if (ipd_active) {
        MapPar(ipd, f->ipd[e], f->nr_pd, is34, false);
        MapPar(opd, f->opd[e], f->nr_pd, is34, false);
    }
    const int32_t(*lut)[8][4] = f->mix_b ? kPsMixB : kPsMixA;
    int lim = f->iid_fine ? 15 : 7;
    int base = f->iid_fine ? 30 : 7;
    std::memset(h, 0, sizeof(int32_t) * 8 * kPsMaxPar);
    for (int b = 0; b < m.par_bands; ++b) {
        const int32_t *v = lut[base + Clamp(iid[b], -lim, lim)][Clamp(icc[b], 0, 7)];
        int32_t h11 = v[0], h12 = v[1], h21 = v[2], h22 = v[3];
        if (ipd_active && b < m.pd_bands) {
            int opd_idx = pd_hist[1][b] * 8 + (opd[b] & 7);
            int ipd_idx = pd_hist[0][b] * 8 + (ipd[b] & 7);
            pd_hist[1][b] = static_cast<int8_t>(opd_idx & 0x3F);
            pd_hist[0][b] = static_cast<int8_t>(ipd_idx & 0x3F);
            int32_t opd_re = kPsPdSmooth[opd_idx][0], opd_im = kPsPdSmooth[opd_idx][1];
            int32_t ipd_re = kPsPdSmooth[ipd_idx][0], ipd_im = kPsPdSmooth[ipd_idx][1];
            // Phase of the right channel relative to the overall phase: opd - ipd.
            int32_t adj_re = Sat32(MulQ30(opd_re, ipd_re) + MulQ30(opd_im, ipd_im));
            int32_t adj_im = Sat32(MulQ30(opd_im, ipd_re) - MulQ30(opd_re, ipd_im));
            h[4][b] = static_cast<int32_t>(MulQ30(h11, opd_im));
            h[5][b] = static_cast<int32_t>(MulQ30(h12, adj_im));
            h[6][b] = static_cast<int32_t>(MulQ30(h21, opd_im));
            h[7][b] = static_cast<int32_t>(MulQ30(h22, adj_im));
            h11 = static_cast<int32_t>(MulQ30(h11, opd_re));
            h12 = static_cast<int32_t>(MulQ30(h12, adj_re));
            h21 = static_cast<int32_t>(MulQ30(h21, opd_re));
            h22 = static_cast<int32_t>(MulQ30(h22, adj_re));
        }
        h[0][b] = h11;
        h[1][b] = h12;
        h[2][b] = h21;
        h[3][b] = h22;
    }
}

inline int32_t Interp(int32_t from, int32_t step, int t) {
    return Sat32(from + static_cast<int64_t>(step) * t);
}

// The mixing matrices of one frame's envelopes, walked slot by slot. The matrices are computed
// in the parameters' resolution and brought to the signal's when the two differ.
struct MixPlan {
    const PsFrame *f;  // null: identity (the mono signal on both sides)
    bool ipd;
    bool is34;   // resolution of the parameters
    bool out34;  // resolution of the signal
    int num_env;
    int8_t border[kPsMaxEnv + 1];
    int e;  // envelope of the last slot asked for; -1 before the first
    int8_t pd_hist[2][kPsMaxPdPar];
    int32_t hs[8][kPsMaxPar], he[8][kPsMaxPar], step[8][kPsMaxPar];
};

void PlanInit(MixPlan *p, const PsFrame *f, const int32_t h0[8][kPsMaxPar],
              const int8_t pd_hist[2][kPsMaxPdPar], bool is34, bool out34) {
    p->f = f;
    p->ipd = f && f->ipdopd;
    p->is34 = is34;
    p->out34 = out34;
    p->num_env = f ? f->num_env : 1;
    p->border[0] = -1;
    for (int e = 1; e <= p->num_env; ++e) {
        int bv = f ? f->border[e] : kPsSlots - 1;
        p->border[e] = static_cast<int8_t>(Clamp(bv, p->border[e - 1], kPsSlots - 1));
    }
    p->border[p->num_env] = kPsSlots - 1;
    p->e = -1;
    std::memcpy(p->pd_hist, pd_hist, sizeof(p->pd_hist));
    std::memcpy(p->he, h0, sizeof(p->he));
    if (!p->ipd)
        for (int j = 4; j < 8; ++j) std::memset(p->he[j], 0, sizeof(p->he[j]));
    if (is34 != out34)
        for (int j = 0; j < 8; ++j) {
            if (out34) MapVal20To34(p->he[j]);
            else MapVal34To20(p->he[j]);
        }
}

// Moves to the envelope holding slot t (envelopes are entered in order, each exactly once, so the
// IPD/OPD smoothing sees every envelope).
void PlanSeek(MixPlan *p, int t) {
    while (p->e < p->num_env - 1 && (p->e < 0 || t > p->border[p->e + 1])) {
        ++p->e;
        std::memcpy(p->hs, p->he, sizeof(p->hs));
        if (p->f) EnvelopeTargets(p->pd_hist, p->f, p->e, p->is34, p->ipd, p->he);
        else SetIdentity(p->he);
        if (p->is34 != p->out34)
            for (int j = 0; j < 8; ++j) {
                if (p->out34) MapVal20To34(p->he[j]);
                else MapVal34To20(p->he[j]);
            }
        int len = p->border[p->e + 1] - p->border[p->e];
        for (int j = 0; j < 8; ++j)
            for (int b = 0; b < kPsMaxPar; ++b)
                p->step[j][b] = len > 0
                                    ? static_cast<int32_t>(
                                          (static_cast<int64_t>(p->he[j][b]) - p->hs[j][b]) / len)
                                    : 0;
    }
}

// The decorrelator lines of the 34-band layout (the larger one) fill PsState::decor exactly.
static_assert(50 * kAllpassCells + (62 - 50) * kMidCells + (91 - 62) == 897, "decorrelator layout");
static_assert(sizeof(PsState::decor) / sizeof(PsState::decor[0]) == 897, "decorrelator size");

}  // namespace

void ApplyPs(PsState *st, const PsFrame *f, int32_t (*x)[64][2], int32_t (*y)[64][2],
             int32_t num_slots) {
    if (!st || !x || !y) return;
    int slots = num_slots < 0 ? 0 : (num_slots > kPsSlots ? kPsSlots : num_slots);
    if (!f && st->started && st->prev_use) f = &st->prev_frame;  // no new parameters: they hold
    if (f && !(f->usable && f->num_env >= 1 && f->num_env <= kPsMaxEnv)) f = nullptr;
    bool is34 = f ? f->is34 != 0 : st->is34 != 0;

    int32_t h_prev[8][kPsMaxPar], prev_h0[8][kPsMaxPar];
    if (!st->started) {
        SetIdentity(h_prev);
        SetIdentity(prev_h0);
        st->started = 1;
        st->prev_use = 0;
        st->prev_is34 = is34;
        st->is34 = is34;
    } else {
        UnpackH(st->h_prev, st->h_prev_im, h_prev);
        UnpackH(st->prev_h0, st->prev_h0_im, prev_h0);
    }
    // The signal reaches the mixing 6 slots late, so everything the parameters drive runs 6
    // slots behind their own timeline: the first 6 slots finish the previous frame's envelopes
    // in its resolution, and a change of resolution (which restarts the decorrelator) takes
    // effect at slot 6, where the frame begins for the parameters.
    constexpr int kLag = 6;
    const bool old34 = st->is34 != 0;
    const bool switching = is34 != old34;
    if (switching) {
        for (int j = 0; j < 8; ++j) {
            if (is34) MapVal20To34(h_prev[j]);
            else MapVal34To20(h_prev[j]);
        }
        std::memset(st->pd_hist, 0, sizeof(st->pd_hist));
    }
    MixPlan prev, cur;
    PlanInit(&prev, st->prev_use ? &st->prev_frame : nullptr, prev_h0, st->prev_pd,
             st->prev_is34 != 0, old34);
    PlanInit(&cur, f, h_prev, st->pd_hist, is34, is34);

    // Per-band all-pass gains: a(m) times the decay slope, for each resolution in use.
    int32_t ag[2][50][kPsLinks];
    for (int res = 0; res < 2; ++res) {
        if (res != static_cast<int>(is34) && res != static_cast<int>(old34)) continue;
        const PsMode &mm = kMode[res];
        for (int k = 0; k < mm.allpass; ++k) {
            int64_t slope64 =
                kOneQ30 - int64_t{k - mm.decay_cutoff} * 53687091;  // 1 - 0.05 (k - cutoff)
            int32_t slope =
                static_cast<int32_t>(slope64 < 0 ? 0 : (slope64 > kOneQ30 ? kOneQ30 : slope64));
            for (int l = 0; l < kPsLinks; ++l)
                ag[res][k][l] = static_cast<int32_t>(MulQ30(kPsAllpassA[l], slope));
        }
    }

    int32_t s[91][2], d[91][2], l[91][2], r[91][2];
    int64_t power[kPsMaxPar];
    int32_t gain[kPsMaxPar];
    int32_t taps[5][13][2];

    for (int n = 0; n < slots; ++n) {
        if (n == kLag && switching) {
            std::memset(st->decor, 0, sizeof(st->decor));
            std::memset(st->peak_decay, 0, sizeof(st->peak_decay));
            std::memset(st->power_smooth, 0, sizeof(st->power_smooth));
            std::memset(st->peak_diff_smooth, 0, sizeof(st->peak_diff_smooth));
            st->is34 = is34;
        }
        const bool res34 = st->is34 != 0;
        const PsMode &m = kMode[res34 ? 1 : 0];
        const int qmf_shift = m.hybrid - m.qmf_first;  // band index of QMF band q is q + qmf_shift
        // In the hybrid bands of negative frequency the phase turns the other way: the
        // imaginary parts of the mixing start from the opposite sign there.
        const int neg_lo = res34 ? 9 : 0, neg_hi = res34 ? 13 : 1;
        int pos = st->ring_pos;
        const int link_idx[kPsLinks] = {pos % 3, pos % 4, pos % 5};
        // Hybrid analysis of QMF bands 0..4 (their history is kept in both resolutions).
        for (int qb = 0; qb < 5; ++qb) {
            int32_t(*hist)[2] = st->hyb_hist[qb];
            for (int j = 0; j < 12; ++j) {
                taps[qb][j][0] = hist[(pos + j) % 12][0];
                taps[qb][j][1] = hist[(pos + j) % 12][1];
            }
            taps[qb][12][0] = Clamp(x[n][qb][0], -kInputLimit, kInputLimit);
            taps[qb][12][1] = Clamp(x[n][qb][1], -kInputLimit, kInputLimit);
            hist[pos % 12][0] = taps[qb][12][0];
            hist[pos % 12][1] = taps[qb][12][1];
        }
        HybridAnalysis(taps, res34, s);
        // The QMF bands wait out the same 6 slots.
        for (int q = m.qmf_first; q < 5; ++q) {
            s[q + qmf_shift][0] = taps[q][6][0];
            s[q + qmf_shift][1] = taps[q][6][1];
        }
        for (int q = 5; q < 64; ++q) {
            int32_t(*line)[2] = st->align[q - 5];
            int i = pos % 6;
            s[q + qmf_shift][0] = line[i][0];
            s[q + qmf_shift][1] = line[i][1];
            line[i][0] = Clamp(x[n][q][0], -kInputLimit, kInputLimit);
            line[i][1] = Clamp(x[n][q][1], -kInputLimit, kInputLimit);
        }

        // Transient detection per parameter band: a decaying peak against the smoothed power.
        std::memset(power, 0, sizeof(power));
        for (int k = 0; k < m.bands; ++k) {
            int64_t re = s[k][0] >> 4, im = s[k][1] >> 4;
            power[m.band_of[k]] += re * re + im * im;
        }
        for (int b = 0; b < m.par_bands; ++b) {
            int64_t p = power[b];
            int64_t decayed = MulU64Q31(st->peak_decay[b], 1644818582);  // 0.76592833836465
            st->peak_decay[b] = decayed > p ? decayed : p;
            st->power_smooth[b] += (p - st->power_smooth[b]) >> 2;
            st->peak_diff_smooth[b] += (st->peak_decay[b] - p - st->peak_diff_smooth[b]) >> 2;
            int64_t denom = st->peak_diff_smooth[b] + (st->peak_diff_smooth[b] >> 1);
            int64_t num = st->power_smooth[b];
            if (denom > num) {
                int shift = 0;
                while ((denom >> shift) >= (int64_t{1} << 32)) ++shift;
                int64_t dd = denom >> shift;
                gain[b] = dd > 0 ? static_cast<int32_t>(((num >> shift) << 30) / dd) : kOneQ30;
            } else {
                gain[b] = kOneQ30;
            }
        }

        // Decorrelation: fractional-delay all-pass chain in the low bands, plain delays above.
        int32_t *cell = &st->decor[0][0];
        for (int k = 0; k < m.bands; ++k) {
            int32_t g = gain[m.band_of[k]];
            int32_t v[2];
            if (k < m.allpass) {
                int32_t(*pre)[2] = reinterpret_cast<int32_t(*)[2]>(cell);
                int32_t u[2] = {pre[pos % 2][0], pre[pos % 2][1]};
                pre[pos % 2][0] = s[k][0];
                pre[pos % 2][1] = s[k][1];
                CMulQ30(u, kPsPhiFract[res34][k], v);
                int32_t(*link)[2] = pre + 2;
                for (int li = 0; li < kPsLinks; ++li) {
                    int dl = 3 + li;
                    int idx = link_idx[li];
                    int32_t z[2];
                    CMulQ30(link[idx], kPsQFract[res34][k][li], z);
                    int32_t a = ag[res34][k][li];
                    int32_t nv[2] = {Sat32(z[0] - MulQ30(a, v[0])), Sat32(z[1] - MulQ30(a, v[1]))};
                    link[idx][0] = Sat32(v[0] + MulQ30(a, nv[0]));
                    link[idx][1] = Sat32(v[1] + MulQ30(a, nv[1]));
                    v[0] = nv[0];
                    v[1] = nv[1];
                    link += dl;
                }
                cell += 2 * kAllpassCells;
            } else if (k < m.short_delay) {
                int32_t(*ring)[2] = reinterpret_cast<int32_t(*)[2]>(cell);
                int idx = pos % kMidCells;
                v[0] = ring[idx][0];
                v[1] = ring[idx][1];
                ring[idx][0] = s[k][0];
                ring[idx][1] = s[k][1];
                cell += 2 * kMidCells;
            } else {
                v[0] = cell[0];
                v[1] = cell[1];
                cell[0] = s[k][0];
                cell[1] = s[k][1];
                cell += 2;
            }
            if (g == kOneQ30) {  // no transient: the product would be v itself
                d[k][0] = v[0];
                d[k][1] = v[1];
            } else {
                d[k][0] = static_cast<int32_t>(MulQ30(v[0], g));
                d[k][1] = static_cast<int32_t>(MulQ30(v[1], g));
            }
        }

        // Mixing with the matrices interpolated across the envelope.
        MixPlan *pl = n < kLag ? &prev : &cur;
        int slot = n < kLag ? n + kPsSlots - kLag : n - kLag;
        PlanSeek(pl, slot);
        int start = pl->border[pl->e], len = pl->border[pl->e + 1] - start;
        int t = slot - start;
        // The real parts of the matrices are shared by all bands of a parameter band.
        int32_t hr[kPsMaxPar][4];
        for (int b = 0; b < m.par_bands; ++b)
            for (int j = 0; j < 4; ++j) hr[b][j] = Interp(pl->hs[j][b], pl->step[j][b], t);
        for (int k = 0; k < m.bands; ++k) {
            int b = m.band_of[k];
            const int32_t h11 = hr[b][0], h12 = hr[b][1], h21 = hr[b][2], h22 = hr[b][3];
            int64_t lre = MulQ30(h11, s[k][0]) + MulQ30(h21, d[k][0]);
            int64_t lim = MulQ30(h11, s[k][1]) + MulQ30(h21, d[k][1]);
            int64_t rre = MulQ30(h12, s[k][0]) + MulQ30(h22, d[k][0]);
            int64_t rim = MulQ30(h12, s[k][1]) + MulQ30(h22, d[k][1]);
            if (pl->ipd) {
                int32_t hi[4];
                bool neg = k >= neg_lo && k <= neg_hi;
                for (int j = 0; j < 4; ++j) {
                    if (neg) {
                        int32_t h0 = Neg32(pl->hs[4 + j][b]);
                        int32_t stp = len > 0
                                          ? static_cast<int32_t>(
                                                (static_cast<int64_t>(pl->he[4 + j][b]) - h0) / len)
                                          : 0;
                        hi[j] = Interp(h0, stp, t);
                    } else {
                        hi[j] = Interp(pl->hs[4 + j][b], pl->step[4 + j][b], t);
                    }
                }
                lre -= MulQ30(hi[0], s[k][1]) + MulQ30(hi[2], d[k][1]);
                lim += MulQ30(hi[0], s[k][0]) + MulQ30(hi[2], d[k][0]);
                rre -= MulQ30(hi[1], s[k][1]) + MulQ30(hi[3], d[k][1]);
                rim += MulQ30(hi[1], s[k][0]) + MulQ30(hi[3], d[k][0]);
            }
            l[k][0] = Sat32(lre);
            l[k][1] = Sat32(lim);
            r[k][0] = Sat32(rre);
            r[k][1] = Sat32(rim);
        }

        // Hybrid synthesis: the subbands of a QMF band add up to it.
        int64_t acc[5][4] = {};
        for (int k = 0; k < m.hybrid; ++k) {
            int q;
            if (res34) q = k < 12 ? 0 : (k < 20 ? 1 : 2 + (k - 20) / 4);
            else q = k < 6 ? 0 : (k < 8 ? 1 : 2);
            acc[q][0] += l[k][0];
            acc[q][1] += l[k][1];
            acc[q][2] += r[k][0];
            acc[q][3] += r[k][1];
        }
        for (int q = 0; q < m.qmf_first; ++q) {
            x[n][q][0] = Sat32(acc[q][0]);
            x[n][q][1] = Sat32(acc[q][1]);
            y[n][q][0] = Sat32(acc[q][2]);
            y[n][q][1] = Sat32(acc[q][3]);
        }
        for (int q = m.qmf_first; q < 64; ++q) {
            int k = q + qmf_shift;
            x[n][q][0] = l[k][0];
            x[n][q][1] = l[k][1];
            y[n][q][0] = r[k][0];
            y[n][q][1] = r[k][1];
        }
        st->ring_pos = static_cast<uint16_t>((pos + 1) % kRingPeriod);
    }

    if (switching && slots <= kLag) {
        std::memset(st->decor, 0, sizeof(st->decor));
        std::memset(st->peak_decay, 0, sizeof(st->peak_decay));
        std::memset(st->power_smooth, 0, sizeof(st->power_smooth));
        std::memset(st->peak_diff_smooth, 0, sizeof(st->peak_diff_smooth));
        st->is34 = is34;
    }
    // Walk the rest of this frame's envelopes; the next frame finishes them and starts from
    // their end.
    PlanSeek(&cur, kPsSlots - 1);
    st->prev_use = f ? 1 : 0;
    if (f && f != &st->prev_frame) st->prev_frame = *f;
    PackH(h_prev, st->prev_h0, st->prev_h0_im);
    std::memcpy(st->prev_pd, st->pd_hist, sizeof(st->prev_pd));
    st->prev_is34 = is34;
    PackH(cur.he, st->h_prev, st->h_prev_im);
    std::memcpy(st->pd_hist, cur.pd_hist, sizeof(st->pd_hist));
}

}  // namespace aacdec
