#pragma once
// Spectral band replication (ISO/IEC 14496-3 4.6.18): internal interface shared by the SBR stage
// files. Parsing (sbr_bitstream.cpp) fills SbrControl in the stream block; the signal path
// (sbr_qmf.cpp, sbr_hfgen.cpp, sbr_hfadj.cpp, driven by sbr_decode.cpp) keeps its histories in
// SbrChannel records and works in SbrWork scratch memory.
//
// Errors of the SBR stage are reported by the decoder as AACDEC_ERR_SBR_BASE + n:
//   n = 1  kSbrErrTables    the header gives no usable frequency tables (bad start, stop or
//                           crossover band, too many noise bands or patches); SBR stays off
//                           until a header that works arrives
//   n = 2  kSbrErrGrid      invalid time grid (envelope count, borders, pointer)
//   n = 3  kSbrErrHuffman   invalid Huffman code in the envelope or noise data
//   n = 4  kSbrErrOverrun   the SBR data runs past its fill element
//   n = 5  kSbrErrRange     a decoded envelope or noise value outside its range
//   (6      kSbrErrNoHeader  SBR data before the first SBR header: not reported; those frames
//                           are output without a high band)
//   n = 7  kSbrErrPs        damaged parametric stereo data (the frame is output without PS
//                           parameters: the mono signal on both channels)
//   n = 8  kSbrErrCrc       the bs_sbr_crc_bits of an EXT_SBR_DATA_CRC payload do not match its
//                           data (nothing of the payload is used, not even its header)
// On any of these but 7 the frame's high band is left out: the output keeps its rate and length
// and carries the core signal only.
#include <cstdint>

#include "codec/aac/aac_internal.h"
#include "codec/aac/ps.h"

namespace aacdec {

enum SbrError {
    kSbrErrNone = 0,
    kSbrErrTables = 1,
    kSbrErrGrid = 2,
    kSbrErrHuffman = 3,
    kSbrErrOverrun = 4,
    kSbrErrRange = 5,
    kSbrErrNoHeader = 6,
    kSbrErrPs = 7,
    kSbrErrCrc = 8,
};

constexpr int kSbrSlots = 32;                        // QMF slots per 1024-sample core frame
constexpr int kSbrTimeSlots = 16;                    // SBR time slots (two QMF slots each)
constexpr int kSbrHfAdj = 2;                         // t_HFAdj
constexpr int kSbrHfGen = 8;                         // t_HFGen
constexpr int kSbrLowSlots = kSbrSlots + kSbrHfGen;  // rows of the low-band matrix
constexpr int kSbrMaxEnv = 5;
constexpr int kSbrMaxNoise = 5;
constexpr int kSbrMaxOver = 6;  // QMF slots an envelope can reach past the frame end
// Fraction bits of the QMF samples relative to the PCM scale of the standard's formulas.
constexpr int kQmfFrac = 6;
// QMF samples are kept below this magnitude (the PS stage's input bound).
constexpr int32_t kQmfLimit = (1 << 28) - 1;

// Block exponent that brings the largest magnitude of a set (mx, the OR of their magnitudes)
// into [2^27, 2^28): the FFT's halving then costs no precision, and the pre-rotation of two such
// values combined into one complex number cannot leave 32 bits. Negative: shift right.
inline int QmfHeadroom(int32_t mx) {
    int head = 0;
    while (head > -4 && (mx >> (28 - head)) != 0) --head;
    while (head < 20 && (mx >> (27 - head)) == 0) ++head;
    return head;
}

// Value m * 2^e with m normalised to [2^29, 2^30) (or 0): the energies and gains of the HF
// adjustment span far more than 32 bits of range.
struct SFlt {
    int32_t m;
    int32_t e;
};

struct SbrHeader {
    uint8_t amp_res, start_freq, stop_freq, xover_band;
    uint8_t freq_scale, alter_scale, noise_bands;
    uint8_t limiter_bands, limiter_gains, interpol_freq, smoothing_mode;
};

struct SbrFreq {
    int32_t valid;
    int32_t k0, k2, kx, m;
    int32_t n_master, n_high, n_low, n_q, n_lim, num_patches;
    uint8_t f_master[65];
    uint8_t f_high[65];
    uint8_t f_low[65];
    uint8_t f_noise[6];
    uint8_t f_lim[65];
    uint8_t patch_num[6];
    uint8_t patch_start[6];
};

// Parsed data of one channel for the current frame, and what the next frame needs of it.
struct SbrChannelData {
    uint8_t frame_class, num_env, num_noise, pointer;
    uint8_t t_env[kSbrMaxEnv + 1];
    uint8_t t_q[3];
    uint8_t freq_res[kSbrMaxEnv];
    uint8_t df_env[kSbrMaxEnv];
    uint8_t df_noise[2];
    uint8_t amp_res;
    uint8_t invf[kSbrMaxNoise];
    uint8_t invf_prev[kSbrMaxNoise];
    uint8_t add_harmonic_flag;
    uint8_t add_harmonic[64];
    int16_t env[kSbrMaxEnv][64];
    int16_t noise[2][kSbrMaxNoise];
    // Previous frame.
    int16_t env_prev[64];
    int16_t noise_prev[kSbrMaxNoise];
    uint8_t freq_res_prev;
};

// Block 1 part: SBR control state and parametric stereo.
// The last SBR header of one output channel and the tables built from it. Each element carries
// its own header, so two single-channel elements of a frame may use different band layouts; the
// two channels of a pair share theirs (both copies are written together).
struct SbrChannelHeader {
    int32_t header_seen;
    int32_t reset;  // tables changed: restart the gain smoothing
    SbrHeader hdr;
    SbrFreq freq;
};

struct SbrControl {
    int32_t coupling;
    int32_t num_ch;       // channels of the last SBR element read (1 or 2)
    int32_t ps_in_frame;  // PS data parsed in this frame
    int32_t ps_error;
    int32_t out_rate;       // SBR rate (twice the core rate)
    int32_t ps_enabled;     // PS decision taken at set-up
    int32_t core_channels;  // core channels of the last frame through the SBR stage
    SbrChannelHeader hs[kMaxChannels];
    SbrChannelData ch[kMaxChannels];
    int32_t ps_active;  // PS seen since set-up: keeps running so its delay never jumps
    PsFrame ps_frame;
    PsState ps;
};

// Block 4 part: signal histories of one channel.
struct SbrChannel {
    int32_t ana[320];                    // analysis input history, newest first
    int32_t syn[1280];                   // synthesis history (640 used when downsampled)
    int32_t low_hist[kSbrHfGen][32][2];  // last analysis slots, rows 0..7 of the next frame
    int32_t over[kSbrMaxOver][64][2];    // HF output past the frame end
    int32_t over_slots;                  // valid rows of over
    int32_t over_kx, over_m;             // band range of over
    int32_t kx_prev;
    int32_t bw_prev[kSbrMaxNoise];  // chirp factors, Q30
    SFlt g_hist[4][64];             // gains of the last four slots (smoothing)
    SFlt q_hist[4][64];
    int32_t hist_valid;
    int32_t index_noise;
    int32_t index_sine;
    int32_t la_prev;  // l_A of the previous frame
    int32_t num_env_prev;
    uint8_t sine_prev[64];  // sinusoid map of the previous frame's last envelope
};

// Block 4 part.
struct SbrState {
    SbrChannel ch[kMaxChannels];
};

// Block 3 scratch after the filterbank: the whole frame in the QMF domain.
struct SbrWork {
    int32_t x[kSbrSlots + kSbrMaxOver][64][2];  // synthesis input (left / mono); rows past 31
                                                // hold the HF output that belongs to the next frame
    union {
        int32_t low[kSbrLowSlots][32][2];  // analysis output, 8 history rows first
        int32_t y[kSbrSlots][64][2];       // right output of PS, once the low band is used up
    };
};

// Where the SBR records live in the decoder's blocks.
SbrControl *SbrCtl(Handle *h);
SbrState *SbrSt(Handle *h);
SbrWork *SbrWk(Handle *h);

// ---- tables (sbr_tables.cpp) ----
extern const int32_t kSbrQmfWindow[640];
extern const int32_t kSbrNoiseTable[512][2];
extern const int16_t (*const kSbrHuffTrees[10])[2];
extern const int32_t kQmfAnaPre[64][2];
extern const int32_t kQmfAnaPost[32][2];
extern const int32_t kQmfTwiddle[64][2];
extern const int32_t kQmfDsPre[32][2];
extern const int32_t kQmfDsPost[64][2];
extern const int32_t kQmfDct4Pre[64];  // generated: (cos, sin) of pi (k + 1/4) / 64

// ---- soft float (sbr_hfadj.cpp) ----
SFlt SfFromInt64(int64_t v, int32_t e);
SFlt SfMul(SFlt a, SFlt b);
SFlt SfDiv(SFlt a, SFlt b);  // b != 0
SFlt SfAdd(SFlt a, SFlt b);
SFlt SfSub(SFlt a, SFlt b);
SFlt SfSqrt(SFlt a);              // a >= 0
SFlt SfPow2Half(int32_t halves);  // 2^(halves / 2)
int SfCmp(SFlt a, SFlt b);        // -1, 0, 1
// Rounds a * 2^shift to an int32 (saturating).
int32_t SfToFixed(SFlt a, int32_t frac_bits);
inline SFlt SfZero() { return SFlt{0, 0}; }
inline SFlt SfOne() { return SFlt{1 << 29, -29}; }

// ---- bitstream (sbr_bitstream.cpp) ----
// CRC of ISO/IEC 14496-3 bs_sbr_crc_bits over bits [start, start + bits) of data, most
// significant bit of each byte first: generator x^10 + x^9 + x^5 + x^4 + x + 1, initial value 0.
uint32_t SbrCrc10(const uint8_t *data, int64_t start, int64_t bits);
// Reads one SBR extension payload into the data of the channels of the element it follows (a
// CPE's two, or channel p->channel of a single channel element). The elements of a block share
// the header and frequency tables. Returns an SbrError; kSbrErrPs leaves the SBR data usable.
int32_t ReadSbrPayload(SbrControl *c, const SbrPayload *p, int32_t core_rate, bool want_ps,
                       bool *header_changed);

// ---- frequency tables (sbr_freq.cpp) ----
// Builds all tables from the header for the SBR rate; kSbrErrNone or kSbrErrTables.
int32_t BuildSbrTables(const SbrHeader *h, int32_t sbr_rate, SbrFreq *f);

// ---- QMF banks (sbr_qmf.cpp) ----
// 32-band analysis of 1024 core samples (kTimeFrac fraction bits) into rows 8..39 of low.
void SbrAnalysis(SbrChannel *c, const int32_t *time, int32_t (*low)[32][2]);
// 64-band synthesis of 32 slots into 2048 samples (16-bit PCM, saturated), or the 32-band
// downsampled synthesis into 1024.
void SbrSynthesis(SbrChannel *c, int32_t (*x)[64][2], int16_t *pcm, bool downsampled);

// ---- HF generation (sbr_hfgen.cpp) ----
// Writes the transposed high band for QMF envelope slots [l0, l1) into dst rows (row = slot).
void SbrHfGenerate(const SbrFreq *f, const SbrChannelData *d, SbrChannel *c, int32_t (*low)[32][2],
                   int32_t (*dst)[64][2], int l0, int l1);

// ---- HF adjustment (sbr_hfadj.cpp) ----
void SbrHfAdjust(const SbrControl *ctl, int ch, SbrChannel *c, int32_t (*dst)[64][2]);

// ---- frame driver (sbr_decode.cpp) ----
// Clears the signal histories (probe, set-up).
void SbrClearHistories(Handle *h);
// Runs the SBR stage on the core's time samples (h->chan[c].spec) of core_channels channels and
// writes the PCM: 2048 samples per channel, or 1024 when downsampled. sbr_ok[c] false: no usable
// SBR data for channel c this frame, its output carries the core band only. Returns the output
// channels.
int SbrProcessFrame(Handle *h, int core_channels, const bool sbr_ok[kMaxChannels], bool downsampled,
                    bool mono_out, int16_t *pcm);

}  // namespace aacdec
