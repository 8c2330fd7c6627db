// Perceptual noise substitution (ISO/IEC 14496-3): bands coded with the noise book are
// filled with pseudo-random values whose energy is 2^(noise_nrg / 2).
#include "codec/aac/aac_internal.h"

namespace aacdec {

namespace {

uint64_t ISqrt64(uint64_t v) {
    uint64_t res = 0;
    uint64_t bit = uint64_t{1} << 62;
    while (bit > v) bit >>= 2;
    while (bit) {
        if (v >= res + bit) {
            v -= res + bit;
            res = (res >> 1) + bit;
        } else {
            res >>= 1;
        }
        bit >>= 2;
    }
    return res;
}

int BitLength(uint64_t v) {
    int n = 0;
    while (v) {
        ++n;
        v >>= 1;
    }
    return n;
}

void FillNoise(int32_t *dst, int width, int nrg, uint32_t *seed) {
    int64_t energy = 0;
    for (int i = 0; i < width; ++i) {
        *seed = *seed * 1664525u + 1013904223u;
        int32_t r = static_cast<int32_t>(*seed) >> 16;
        dst[i] = r;
        energy += static_cast<int64_t>(r) * r;
    }
    if (energy == 0) return;
    int m = (62 - BitLength(static_cast<uint64_t>(energy))) / 2;
    uint64_t s = ISqrt64(static_cast<uint64_t>(energy) << (2 * m));
    if (s == 0) return;
    int e = nrg >> 2;
    int q = nrg - 4 * e;
    int64_t factor = static_cast<int64_t>((static_cast<uint64_t>(kPow2Quarter[q]) << 31) / s);
    int shift = 61 - kSpecFrac - e - m;  // r * factor * 2^-shift has kSpecFrac fraction bits
    for (int i = 0; i < width; ++i) dst[i] = ShiftRound64(dst[i] * factor, shift);
}

}  // namespace

void ApplyNoise(const ChannelData *cd, int32_t *spec, uint32_t *seed, const StreamState *s,
                bool right_of_pair, const int32_t *left_spec) {
    const IcsInfo &ics = cd->ics;
    int win_len = ics.num_windows == 8 ? kShortLen : kFrameLen;
    int win = 0;
    for (int g = 0; g < ics.num_groups; ++g) {
        for (int sfb = 0; sfb < ics.max_sfb; ++sfb) {
            int idx = g * ics.num_swb + sfb;
            if (cd->band_type[idx] != kNoiseHcb) continue;
            int start = ics.swb_offset[sfb];
            int width = ics.swb_offset[sfb + 1] - start;
            int nrg = cd->band_sf[idx];
            // A pair with mid/side on a band that is noise in both channels shares one noise
            // vector; the right channel keeps its own energy.
            bool correlated = right_of_pair && left_spec && s->ms_mask_present && s->ms_used[idx] &&
                              s->ch[0].band_type[idx] == kNoiseHcb;
            for (int w = 0; w < ics.group_len[g]; ++w) {
                int32_t *p = spec + (win + w) * win_len + start;
                if (correlated) {
                    const int32_t *lp = left_spec + (win + w) * win_len + start;
                    int d = nrg - s->ch[0].band_sf[idx];
                    int e = d >> 2;
                    int q = d - 4 * e;
                    for (int i = 0; i < width; ++i)
                        p[i] = ShiftRound64(static_cast<int64_t>(lp[i]) * kPow2Quarter[q], 30 - e);
                } else {
                    FillNoise(p, width, nrg, seed);
                }
            }
        }
        win += ics.group_len[g];
    }
}

}  // namespace aacdec
