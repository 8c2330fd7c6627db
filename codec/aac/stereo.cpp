// Joint stereo of a channel pair: mid/side and intensity stereo (ISO/IEC 14496-3).
#include "codec/aac/aac_internal.h"

namespace aacdec {

void ApplyMidSide(const StreamState *s, const ChannelData *l, const ChannelData *r, int32_t *spec_l,
                  int32_t *spec_r) {
    if (s->ms_mask_present == 0) return;
    const IcsInfo &ics = l->ics;
    int win_len = ics.num_windows == 8 ? kShortLen : kFrameLen;
    int win = 0;
    for (int g = 0; g < ics.num_groups; ++g) {
        for (int sfb = 0; sfb < ics.max_sfb; ++sfb) {
            int idx = g * ics.num_swb + sfb;
            // Bands that carry noise or intensity in either channel are not mid/side coded.
            if (!s->ms_used[idx] || l->band_type[idx] >= kNoiseHcb ||
                r->band_type[idx] >= kNoiseHcb)
                continue;
            for (int w = 0; w < ics.group_len[g]; ++w) {
                int32_t *pl = spec_l + (win + w) * win_len;
                int32_t *pr = spec_r + (win + w) * win_len;
                for (int k = ics.swb_offset[sfb]; k < ics.swb_offset[sfb + 1]; ++k) {
                    int64_t m = pl[k], d = pr[k];
                    pl[k] = Sat32(m + d);
                    pr[k] = Sat32(m - d);
                }
            }
        }
        win += ics.group_len[g];
    }
}

void ApplyIntensity(const StreamState *s, const ChannelData *r, const int32_t *spec_l,
                    int32_t *spec_r) {
    const IcsInfo &ics = r->ics;
    int win_len = ics.num_windows == 8 ? kShortLen : kFrameLen;
    int win = 0;
    for (int g = 0; g < ics.num_groups; ++g) {
        for (int sfb = 0; sfb < ics.max_sfb; ++sfb) {
            int idx = g * ics.num_swb + sfb;
            int bt = r->band_type[idx];
            if (bt != kIntensityHcb && bt != kIntensityHcb2) continue;
            // Out of phase for codebook 14; a band that is also mid/side coded flips it, with the
            // mask sent per band or set for all bands alike.
            bool invert = (bt == kIntensityHcb2);
            if (s->ms_mask_present && s->ms_used[idx]) invert = !invert;
            // Scale 0.5^(is_position / 4) = 2^(-e) * 2^(r / 4).
            int p = -r->band_sf[idx];
            int e = p >> 2;
            int q = p - 4 * e;
            int64_t gain = kPow2Quarter[q];
            int shift = 30 - e;
            for (int w = 0; w < ics.group_len[g]; ++w) {
                const int32_t *pl = spec_l + (win + w) * win_len;
                int32_t *pr = spec_r + (win + w) * win_len;
                for (int k = ics.swb_offset[sfb]; k < ics.swb_offset[sfb + 1]; ++k) {
                    int32_t v = ShiftRound64(static_cast<int64_t>(pl[k]) * gain, shift);
                    pr[k] = invert ? Neg32(v) : v;
                }
            }
        }
        win += ics.group_len[g];
    }
}

}  // namespace aacdec
