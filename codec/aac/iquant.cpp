// Inverse quantisation: x = sign(q) * |q|^(4/3) * 2^((sf - 100) / 4), in place, as fixed point with
// kSpecFrac fraction bits. Bands coded with the zero, noise or intensity books become zero here.
#include "codec/aac/aac_internal.h"

namespace aacdec {

void Dequantise(const ChannelData *cd, int32_t *spec) {
    const IcsInfo &ics = cd->ics;
    int win_len = ics.num_windows == 8 ? kShortLen : kFrameLen;
    int win = 0;
    for (int g = 0; g < ics.num_groups; ++g) {
        for (int sfb = 0; sfb < ics.max_sfb; ++sfb) {
            int idx = g * ics.num_swb + sfb;
            int bt = cd->band_type[idx];
            int start = ics.swb_offset[sfb];
            int end = ics.swb_offset[sfb + 1];
            if (bt == kZeroHcb || bt >= kNoiseHcb) {
                for (int w = 0; w < ics.group_len[g]; ++w) {
                    int32_t *p = spec + (win + w) * win_len;
                    for (int k = start; k < end; ++k) p[k] = 0;
                }
                continue;
            }
            int e4 = cd->band_sf[idx] - 100;
            int e = e4 >> 2;  // floor
            int r = e4 - 4 * e;
            int64_t gain = kPow2Quarter[r];
            // pow43 (Q17 or Q13) * gain (Q30) -> shift down to kSpecFrac, up by e.
            int shift_small = 17 + 30 - kSpecFrac - e;
            int shift_large = 13 + 30 - kSpecFrac - e;
            if (shift_large >= 1 && shift_small <= 62) {
                // The usual gains: both shifts round down, so ShiftRound64 is one add and shift
                // (the product is not negative, and its saturation is kept).
                const int64_t half_small = int64_t{1} << (shift_small - 1);
                const int64_t half_large = int64_t{1} << (shift_large - 1);
                for (int w = 0; w < ics.group_len[g]; ++w) {
                    int32_t *p = spec + (win + w) * win_len;
                    for (int k = start; k < end; ++k) {
                        const int32_t q = p[k];
                        if (q == 0) continue;
                        int32_t a = q < 0 ? -q : q;
                        if (a > 8192) a = 8192;
                        const int64_t prod = static_cast<int64_t>(kPow43[a]) * gain;
                        const int64_t v = a < 1024 ? (prod + half_small) >> shift_small
                                                   : (prod + half_large) >> shift_large;
                        const int32_t s = v > INT32_MAX ? INT32_MAX : static_cast<int32_t>(v);
                        p[k] = q < 0 ? -s : s;
                    }
                }
                continue;
            }
            for (int w = 0; w < ics.group_len[g]; ++w) {
                int32_t *p = spec + (win + w) * win_len;
                for (int k = start; k < end; ++k) {
                    int32_t q = p[k];
                    if (q == 0) continue;
                    int32_t a = q < 0 ? -q : q;
                    if (a > 8192) a = 8192;
                    int64_t prod = static_cast<int64_t>(kPow43[a]) * gain;
                    int32_t v = ShiftRound64(prod, a < 1024 ? shift_small : shift_large);
                    p[k] = q < 0 ? -v : v;
                }
            }
        }
        win += ics.group_len[g];
    }
    // Bands above max_sfb carry nothing.
    for (int w = 0; w < ics.num_windows; ++w) {
        int32_t *p = spec + w * win_len;
        for (int k = ics.swb_offset[ics.max_sfb]; k < win_len; ++k) p[k] = 0;
    }
}

}  // namespace aacdec
