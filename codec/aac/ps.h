#pragma once
// Parametric stereo of HE-AAC v2 (ISO/IEC 14496-3 clause 8): turns the mono QMF-domain signal of
// the SBR stage into a stereo pair. Fixed point; the state lives in the caller's memory.
#include <cstdint>

#include "codec/aac/bitreader.h"

namespace aacdec {

constexpr int kPsMaxEnv = 5;       // four coded envelopes plus one appended to reach the frame end
constexpr int kPsMaxPar = 34;      // IID/ICC parameter bands
constexpr int kPsMaxPdPar = 17;    // IPD/OPD parameter bands
constexpr int kPsSlots = 32;       // QMF slots per 1024-sample frame
constexpr int kPsHybridHist = 12;  // the hybrid filters have 13 taps
constexpr int kPsLinks = 3;        // all-pass links of the decorrelator

// Parameters read for one frame, as indices in their coded resolution.
struct PsFrame {
    uint8_t usable;                 // 0: no PS header seen yet, the frame is output as mono
    uint8_t num_env;                // envelopes after the frame-end fix-up (1..5)
    uint8_t is34;                   // processed in 34-band resolution
    uint8_t iid_fine;               // 31-step IID quantisation
    uint8_t mix_b;                  // ICC mode 3..5: mixing procedure R_B
    uint8_t ipdopd;                 // IPD/OPD present
    uint8_t nr_iid, nr_icc, nr_pd;  // coded band counts (0 when the parameter is off)
    int8_t border[kPsMaxEnv + 1];   // last slot of each envelope; border[0] = -1
    int8_t iid[kPsMaxEnv][kPsMaxPar];
    int8_t icc[kPsMaxEnv][kPsMaxPar];
    int8_t ipd[kPsMaxEnv][kPsMaxPdPar];
    int8_t opd[kPsMaxEnv][kPsMaxPdPar];
};

struct PsState {
    // Header, kept until the next one.
    uint8_t header_seen;  // cleared by a damaged payload until the next header
    uint8_t enable_iid, iid_mode, enable_icc, icc_mode, enable_ext;
    // Last envelope of the previous frame, the reference of time-differential coding.
    int8_t prev_iid[kPsMaxPar];
    int8_t prev_icc[kPsMaxPar];
    int8_t prev_ipd[kPsMaxPdPar];
    int8_t prev_opd[kPsMaxPdPar];
    // Processing state.
    uint8_t started;
    uint8_t is34;                    // resolution of the filter states below
    int8_t pd_hist[2][kPsMaxPdPar];  // IPD and OPD smoothing history (two previous values)
    uint16_t ring_pos;               // slot counter of the delay lines, modulo 840
    // Mixing matrices (re x4 per band, im x4 per IPD band) in Q14: at the end of the last frame,
    // and at the start of the last frame, whose final 6 slots of mixing fall into the next call.
    int16_t h_prev[4][kPsMaxPar];
    int16_t h_prev_im[4][kPsMaxPdPar];
    int16_t prev_h0[4][kPsMaxPar];
    int16_t prev_h0_im[4][kPsMaxPdPar];
    uint8_t prev_use;
    uint8_t prev_is34;
    int8_t prev_pd[2][kPsMaxPdPar];
    PsFrame prev_frame;
    int64_t peak_decay[kPsMaxPar];  // transient detector
    int64_t power_smooth[kPsMaxPar];
    int64_t peak_diff_smooth[kPsMaxPar];
    int32_t hyb_hist[5][kPsHybridHist][2];  // QMF bands 0..4 feeding the hybrid filters
    int32_t align[59][6][2];                // QMF bands 5..63 wait out the hybrid filters' delay
                                            // (bands 3 and 4 wait in hyb_hist)
    // Decorrelator lines: 2-slot pre-delay and links of 3, 4 and 5 slots in the all-pass
    // bands, 14 slots in the middle bands, 1 slot at the top.
    int32_t decor[897][2];
};

void ResetPs(PsState *st);
// Reads ps_data() (14496-3 8.4.1) from an SBR extension payload (bs_extension_id 2) of `bits`
// bits; true when parsed; false on a damaged payload (caller then outputs without PS for the
// frame and reports the SBR error). Reads no bit beyond `bits`; br moves past the bits
// ps_data() used (true) or past all `bits` (false). A damaged payload also turns PS off until
// the next PS header, since time-differential data would refer to values never decoded.
bool ReadPsData(BitReader *br, int32_t bits, PsState *st, PsFrame *f);
// Applies PS to one frame of QMF samples: x[slot][band][0=re,1=im], slots 0..num_slots-1,
// bands 0..63, holds the mono signal on entry and the left signal on return; y receives the
// right signal. Linear in the input scale; no overflow for |x| < 2^28. The output is delayed
// by 6 slots (the hybrid filters' delay). f null: the frame carries no new parameters and the
// last ones hold (mono before any). A frame whose f->usable is 0 (no PS header seen yet, or
// the payload was damaged) gives the delayed mono signal on both sides, so the delay never
// jumps when PS comes and goes.
void ApplyPs(PsState *st, const PsFrame *f, int32_t (*x)[64][2], int32_t (*y)[64][2],
             int32_t num_slots);

// ---- tables (ps_tables.cpp) ----
struct PsHuffEntry {
    uint32_t code;
    uint8_t len;
    int8_t value;
};
// Entries in order of code length.
extern const PsHuffEntry kHuffIidDf[29], kHuffIidFineDf[61], kHuffIidDt[29], kHuffIidFineDt[61];
extern const PsHuffEntry kHuffIccDf[15], kHuffIccDt[15];
extern const PsHuffEntry kHuffIpdDf[8], kHuffIpdDt[8], kHuffOpdDf[8], kHuffOpdDt[8];

}  // namespace aacdec
