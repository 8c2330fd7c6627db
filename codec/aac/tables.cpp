// Sampling-rate dependent tables of ISO/IEC 14496-3: rates by sampling_frequency_index, scale
// factor band offsets for 1024- and 128-line windows, and the TNS band limits.
#include "codec/aac/aac_internal.h"

namespace aacdec {

const int32_t kSampleRates[12] = {96000, 88200, 64000, 48000, 44100, 32000,
                                  24000, 22050, 16000, 12000, 11025, 8000};

namespace {

const uint16_t kSwbLong96[] = {0,   4,   8,   12,  16,  20,  24,  28,  32,  36,  40,
                               44,  48,  52,  56,  64,  72,  80,  88,  96,  108, 120,
                               132, 144, 156, 172, 188, 212, 240, 276, 320, 384, 448,
                               512, 576, 640, 704, 768, 832, 896, 960, 1024};
const uint16_t kSwbLong64[] = {0,   4,   8,   12,  16,  20,  24,  28,  32,  36,  40,  44,
                               48,  52,  56,  64,  72,  80,  88,  100, 112, 124, 140, 156,
                               172, 192, 216, 240, 268, 304, 344, 384, 424, 464, 504, 544,
                               584, 624, 664, 704, 744, 784, 824, 864, 904, 944, 984, 1024};
const uint16_t kSwbLong48[] = {0,   4,   8,   12,  16,  20,  24,  28,  32,  36,  40,  48,  56,
                               64,  72,  80,  88,  96,  108, 120, 132, 144, 160, 176, 196, 216,
                               240, 264, 292, 320, 352, 384, 416, 448, 480, 512, 544, 576, 608,
                               640, 672, 704, 736, 768, 800, 832, 864, 896, 928, 1024};
const uint16_t kSwbLong32[] = {0,   4,   8,   12,  16,  20,  24,  28,  32,  36,  40,  48,  56,
                               64,  72,  80,  88,  96,  108, 120, 132, 144, 160, 176, 196, 216,
                               240, 264, 292, 320, 352, 384, 416, 448, 480, 512, 544, 576, 608,
                               640, 672, 704, 736, 768, 800, 832, 864, 896, 928, 960, 992, 1024};
const uint16_t kSwbLong24[] = {0,   4,   8,   12,  16,  20,  24,  28,  32,  36,  40,  44,
                               52,  60,  68,  76,  84,  92,  100, 108, 116, 124, 136, 148,
                               160, 172, 188, 204, 220, 240, 260, 284, 308, 336, 364, 396,
                               432, 468, 508, 552, 600, 652, 704, 768, 832, 896, 960, 1024};
const uint16_t kSwbLong16[] = {0,   8,   16,  24,  32,  40,  48,  56,  64,  72,  80,
                               88,  100, 112, 124, 136, 148, 160, 172, 184, 196, 212,
                               228, 244, 260, 280, 300, 320, 344, 368, 396, 424, 456,
                               492, 532, 572, 616, 664, 716, 772, 832, 896, 960, 1024};
const uint16_t kSwbLong8[] = {0,   12,  24,  36,  48,  60,  72,  84,  96,  108, 120, 132, 144, 156,
                              172, 188, 204, 220, 236, 252, 268, 288, 308, 328, 348, 372, 396, 420,
                              448, 476, 508, 544, 580, 620, 664, 712, 764, 820, 880, 944, 1024};

const uint16_t kSwbShort96[] = {0, 4, 8, 12, 16, 20, 24, 32, 40, 48, 64, 92, 128};
const uint16_t kSwbShort48[] = {0, 4, 8, 12, 16, 20, 28, 36, 44, 56, 68, 80, 96, 112, 128};
const uint16_t kSwbShort24[] = {0, 4, 8, 12, 16, 20, 24, 28, 36, 44, 52, 64, 76, 92, 108, 128};
const uint16_t kSwbShort16[] = {0, 4, 8, 12, 16, 20, 24, 28, 32, 40, 48, 60, 72, 88, 108, 128};
const uint16_t kSwbShort8[] = {0, 4, 8, 12, 16, 20, 24, 28, 36, 44, 52, 60, 72, 88, 108, 128};

struct SwbTable {
    const uint16_t *offsets;
    uint8_t count;
};

#define VT_SWB(t) \
    { t, static_cast<uint8_t>(sizeof(t) / sizeof(t[0]) - 1) }
const SwbTable kLong[12] = {VT_SWB(kSwbLong96), VT_SWB(kSwbLong96), VT_SWB(kSwbLong64),
                            VT_SWB(kSwbLong48), VT_SWB(kSwbLong48), VT_SWB(kSwbLong32),
                            VT_SWB(kSwbLong24), VT_SWB(kSwbLong24), VT_SWB(kSwbLong16),
                            VT_SWB(kSwbLong16), VT_SWB(kSwbLong16), VT_SWB(kSwbLong8)};
const SwbTable kShort[12] = {VT_SWB(kSwbShort96), VT_SWB(kSwbShort96), VT_SWB(kSwbShort96),
                             VT_SWB(kSwbShort48), VT_SWB(kSwbShort48), VT_SWB(kSwbShort48),
                             VT_SWB(kSwbShort24), VT_SWB(kSwbShort24), VT_SWB(kSwbShort16),
                             VT_SWB(kSwbShort16), VT_SWB(kSwbShort16), VT_SWB(kSwbShort8)};
#undef VT_SWB

const uint8_t kTnsMaxLong[12] = {31, 31, 34, 40, 42, 51, 46, 46, 42, 42, 42, 39};
const uint8_t kTnsMaxShort[12] = {9, 9, 10, 14, 14, 14, 14, 14, 14, 14, 14, 14};

int ClampIndex(int sf_index) { return (sf_index < 0 || sf_index > 11) ? 4 : sf_index; }

}  // namespace

const uint16_t *SwbOffsetLong(int sf_index, int *num_swb) {
    const SwbTable &t = kLong[ClampIndex(sf_index)];
    *num_swb = t.count;
    return t.offsets;
}

const uint16_t *SwbOffsetShort(int sf_index, int *num_swb) {
    const SwbTable &t = kShort[ClampIndex(sf_index)];
    *num_swb = t.count;
    return t.offsets;
}

int TnsMaxBands(int sf_index, bool is_short) {
    int i = ClampIndex(sf_index);
    return is_short ? kTnsMaxShort[i] : kTnsMaxLong[i];
}

int RateToIndex(int rate) {
    for (int i = 0; i < 12; ++i)
        if (kSampleRates[i] == rate) return i;
    return -1;
}

}  // namespace aacdec
