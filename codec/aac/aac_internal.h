#pragma once
// Private state and helpers of the AAC decoder, shared by its stage files.
#include <cstddef>
#include <cstdint>

#include "codec/aac/bitreader.h"

namespace aacdec {

// Spectral coefficients carry this many fraction bits; time samples before output carry kTimeFrac.
constexpr int kSpecFrac = 4;
constexpr int kTimeFrac = 8;

constexpr int kFrameLen = 1024;
constexpr int kShortLen = 128;
constexpr int kMaxChannels = 2;      // output channels, and the channels the SBR stage keeps
constexpr int kMaxCoreChannels = 8;  // channels decoded before a downmix to stereo
constexpr int kMaxBands = 128;       // 8 groups x 15 short bands, or 51 long bands
constexpr int kMaxSbrPayload = 269;
constexpr int kMaxSbrElements = 2;

enum WindowSequence { kOnlyLong = 0, kLongStart = 1, kEightShort = 2, kLongStop = 3 };
enum ElementId {
    kIdSce = 0,
    kIdCpe = 1,
    kIdCce = 2,
    kIdLfe = 3,
    kIdDse = 4,
    kIdPce = 5,
    kIdFil = 6,
    kIdEnd = 7
};
enum BandType {
    kZeroHcb = 0,
    kEscHcb = 11,
    kReservedHcb = 12,
    kNoiseHcb = 13,
    kIntensityHcb2 = 14,
    kIntensityHcb = 15
};

struct IcsInfo {
    uint8_t window_sequence;
    uint8_t window_shape;
    uint8_t max_sfb;
    uint8_t num_windows;
    uint8_t num_groups;
    uint8_t num_swb;  // bands of the window length at this rate
    uint8_t group_len[8];
    const uint16_t *swb_offset;  // num_swb + 1 entries, per window
};

struct TnsFilter {
    uint8_t length;
    uint8_t order;
    uint8_t direction;
    uint8_t coef_res;  // 3 or 4 bits
    uint8_t compress;
    int8_t coef[12];
};

struct TnsData {
    uint8_t present;
    uint8_t n_filt[8];
    TnsFilter filt[8][3];
};

struct PulseData {
    uint8_t present;
    uint8_t num;
    uint8_t start_sfb;
    uint8_t offset[4];
    uint8_t amp[4];
};

// Everything read for one channel of a frame.
struct ChannelData {
    IcsInfo ics;
    uint8_t global_gain;
    uint8_t band_type[kMaxBands];  // index g * num_swb + sfb
    int16_t band_sf[kMaxBands];    // scale factor, noise energy or intensity position
    PulseData pulse;
    TnsData tns;
};

struct SbrPayload {
    int32_t size;        // bytes
    uint8_t ext_type;    // 13 or 14
    uint8_t element_id;  // kIdSce or kIdCpe the payload follows
    uint8_t channel;     // first output channel of that element
    uint8_t data[kMaxSbrPayload];
};

struct ProgramConfig {
    uint8_t present;
    uint8_t object_type;
    uint8_t sf_index;
    uint8_t channels;
    uint8_t slots;            // output channels the listed single-channel elements take
    uint8_t slot_of_tag[32];  // as in StreamState
    uint8_t matrix_mixdown;   // 0 none, else matrix_mixdown_idx + 1
    uint8_t pseudo_surround;
};

// Where a decoded channel of a multichannel stream goes in the stereo downmix.
enum MixRole : uint8_t {
    kRoleFrontLeft,
    kRoleFrontRight,
    kRoleCentre,
    kRoleSurroundLeft,
    kRoleSurroundRight,
    kRoleBackCentre,
    kRoleLfe
};

// Block 1: stream state.
struct StreamState {
    int32_t initialised;
    int32_t format;
    int32_t sf_index;
    int32_t rate_unlisted;
    int32_t frame_length;  // as announced by the container; 1024 unless told otherwise
    uint32_t frame_count;
    uint32_t lost_count;
    int32_t out_channels;  // channels of the last output
    int32_t sbr_present;
    int32_t ps_present;
    int32_t sbr_set_up;
    int32_t sbr_downsampled;
    int32_t mono_out;
    int32_t config_channels;  // channel count from init, ADTS or the PCE
    // An ADTS frame with several raw data blocks is decoded one block per call: the blocks still
    // to come, the frame bytes after the current block, and whether a CRC word follows each one.
    int32_t adts_blocks_left;
    int32_t adts_bytes_left;
    int32_t adts_block_crc;
    // Streams of more than two channels: each channel element keeps the channel slots it got when
    // its tag first appeared (SCE 0..15, LFE 16..31, CPE 32..47: first slot + 1), and each slot
    // its place in the downmix.
    int32_t mc_slots;
    int32_t mc_pairs;
    uint8_t mc_slot_of[48];
    uint8_t mc_role[kMaxCoreChannels];
    int32_t slots_used;       // output channels handed out to single-channel elements
    uint8_t slot_of_tag[32];  // SCE (0..15) and LFE (16..31) tags: output channel + 1, 0 = none
    ProgramConfig pce;
    // Per frame:
    int32_t ms_mask_present;
    uint8_t ms_used[kMaxBands];
    ChannelData ch[kMaxChannels];
    int32_t num_sbr;
    SbrPayload sbr[kMaxSbrElements];
};

// Block 2: per-channel spectra and overlap.
struct ChannelState {
    int32_t spec[kFrameLen];  // spectrum, then the channel's time samples after the filterbank
    int32_t overlap[kFrameLen];
    int32_t prev_window_shape;
    int32_t pad;
};

// Block 3 (from its first 32-byte boundary): transform work space.
struct WorkState {
    int32_t time[2 * kFrameLen];
    int32_t fft[2 * 512];
};

// Block 4: noise generator and TNS work space.
struct MiscState {
    uint32_t noise_seed;
    int32_t lpc[13];
    int32_t tns_hist[16];
};

struct Handle {
    StreamState *stream;
    ChannelState *chan;
    WorkState *work;
    MiscState *misc;
};

// Block sizes. Blocks 1 to 4 are larger than the interface's first figures (18296, 16568, 16928 and
// 3944): block 1 also holds an SBR header per channel, block 2 the channel state of up to eight
// channels for the downmix of multichannel streams, block 3 the SBR stage's QMF-domain frame and
// block 4 its per-channel histories (sbr_decode.cpp checks that they fit).
constexpr uint32_t kBlockSize[5] = {16, 18496, 65768, 35872, 31600};
static_assert(sizeof(StreamState) <= kBlockSize[1], "stream state too large");
static_assert(sizeof(ChannelState) * kMaxCoreChannels <= kBlockSize[2], "channel state too large");
static_assert(sizeof(WorkState) + 31 <= kBlockSize[3], "work state too large");
static_assert(sizeof(MiscState) <= kBlockSize[4], "misc state too large");

// ---- tables (tables.cpp and the generated file) ----
extern const int32_t kSampleRates[12];
const uint16_t *SwbOffsetLong(int sf_index, int *num_swb);
const uint16_t *SwbOffsetShort(int sf_index, int *num_swb);
int TnsMaxBands(int sf_index, bool is_short);
int RateToIndex(int rate);  // -1 when unlisted

extern const uint32_t kHuffTables[];
extern const uint16_t kHuffStart[12];
extern const int32_t kSineLong[1024];
extern const int32_t kSineShort[128];
extern const int32_t kKbdLong[1024];
extern const int32_t kKbdShort[128];
extern const int32_t kPreRotLong[1024];
extern const int32_t kPostRotLong[1024];
extern const int32_t kPreRotShort[128];
extern const int32_t kPostRotShort[128];
extern const int32_t kFftTwiddle[512];
extern const int32_t kPow43[8193];
extern const int32_t kPow2Quarter[4];
extern const int32_t kTnsCoef3[16];
extern const int32_t kTnsCoef4[16];

// ---- fixed-point helpers ----
inline int32_t Sat32(int64_t v) {
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(v);
}
inline int32_t Neg32(int32_t v) { return v == INT32_MIN ? INT32_MAX : -v; }
// Rounded product of a value and a Q31 factor.
inline int32_t MulQ31(int32_t a, int32_t b) {
    return static_cast<int32_t>((static_cast<int64_t>(a) * b + (int64_t{1} << 30)) >> 31);
}
// Rounded arithmetic shift by s (right when positive, saturating left when negative).
inline int32_t ShiftRound64(int64_t v, int s) {
    if (s > 0) {
        if (s > 62) return 0;
        return Sat32((v + (int64_t{1} << (s - 1))) >> s);
    }
    if (s == 0) return Sat32(v);
    if (s < -31) return v == 0 ? 0 : (v > 0 ? INT32_MAX : INT32_MIN);
    int64_t lim = INT64_MAX >> (-s);
    if (v > lim) return INT32_MAX;
    if (v < -lim) return INT32_MIN;
    return Sat32(v * (int64_t{1} << (-s)));
}

// ---- stages ----
// huffman.cpp
// Huffman decoding of scale factors and spectral tuples through the two-level lookup tables that
// the build generates from the codebooks: a 9-bit root table whose entries are leaves (payload,
// code length) or links to a second-level table. Returns the leaf payload, or -1 on an invalid
// code.
constexpr int kHuffRootBits = 9;
inline int HuffDecode(BitReader *br, int book) {
    const uint32_t *table = kHuffTables + kHuffStart[book];
    const uint32_t window = BrWindow(br);
    uint32_t e = table[window >> (32 - kHuffRootBits)];
    if (e & 0x80000000u) {
        const int width = static_cast<int>((e >> 24) & 31);
        const uint32_t sub = (window << kHuffRootBits) >> (32 - width);
        e = table[(e & 0xFFFF) + sub];
        BrSkip(br, kHuffRootBits + static_cast<int>((e >> 24) & 31));
    } else {
        BrSkip(br, static_cast<int>((e >> 24) & 31));
    }
    return static_cast<int>(e & 0xFFFF);
}

// syntax.cpp
struct FrameResult {
    int32_t error;  // first non-fatal error of the block, or a fatal one
    int32_t fatal;
    int32_t channels;          // output channels of the block (0..2)
    int32_t ok[kMaxChannels];  // channel read completely
    int32_t is_cpe;            // channels 0 and 1 form a pair
    int32_t mc_done;           // multichannel: bit per channel slot decoded in this block
    int32_t mc_error;          // multichannel: first error of the elements' decoding (TNS)
};
// Reads one raw_data_block into the stream state and the spectra (quantised values).
void ReadRawDataBlock(Handle *h, BitReader *br, int32_t crc_start_bit, int32_t crc_value,
                      FrameResult *res);
int32_t ReadAdtsHeader(Handle *h, BitReader *br, int32_t *frame_length, int32_t *protection_absent,
                       int32_t *num_blocks, int32_t *crc);
int32_t ReadAdifHeader(Handle *h, BitReader *br);
int32_t ReadPce(BitReader *br, ProgramConfig *pce);
void UsePceMapping(StreamState *s);
bool AdtsHeaderValidAt(const uint8_t *p, int32_t avail);
uint16_t Crc16Bits(uint16_t crc, const uint8_t *data, int64_t size_bits, int64_t start_bit,
                   int64_t nbits, bool *past_end);

// iquant.cpp: quantised values to fixed-point coefficients, pulse data already applied.
void Dequantise(const ChannelData *cd, int32_t *spec);

// stereo.cpp
void ApplyMidSide(const StreamState *s, const ChannelData *l, const ChannelData *r, int32_t *spec_l,
                  int32_t *spec_r);
void ApplyIntensity(const StreamState *s, const ChannelData *r, const int32_t *spec_l,
                    int32_t *spec_r);

// pns.cpp
void ApplyNoise(const ChannelData *cd, int32_t *spec, uint32_t *seed, const StreamState *s,
                bool right_of_pair, const int32_t *left_spec);

// tns.cpp
int32_t ApplyTns(const ChannelData *cd, int sf_index, int32_t *spec, MiscState *m);

// downmix.cpp: streams of more than two channels. Each channel element is decoded to time samples
// as soon as it is read, in its own channel slots; MixDown then forms the stereo pair in channels
// 0 and 1 with the downmix matrix of ISO/IEC 14496-3 (matrix-mixdown, LFE left out).
inline bool Multichannel(const StreamState *s) { return s->config_channels > 2; }
int32_t DecodeChannelElement(Handle *h, int slot, int count);
void MixDown(Handle *h, int32_t done_mask);

// filterbank.cpp: IMDCT, windowing and overlap-add of one channel. The 1024 time samples (kTimeFrac
// fraction bits) replace the spectrum in cs->spec; a later stage (SBR) can work on them there
// before WritePcm rounds and saturates them to 16 bits.
void Synthesise(const IcsInfo *ics, ChannelState *cs, WorkState *w);
void WritePcm(const int32_t *time, int16_t *pcm);

}  // namespace aacdec
