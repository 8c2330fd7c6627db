// Temporal noise shaping (ISO/IEC 14496-3): all-pole filtering across the spectrum of each
// window with the LPC coefficients converted from the transmitted reflection coefficients.
#include "codec/aac/aac_internal.h"
#include "codec/aac/aacdec.h"

namespace aacdec {

namespace {

// Reflection coefficients (Q31) to direct-form LPC a[1..order]; returns the Q format chosen so that
// every |a| stays below 2^27 and the filter sums cannot overflow 64 bits.
int ToLpc(const TnsFilter &f, int32_t *lpc) {
    int64_t a[13] = {0};
    int64_t b[13];
    const int32_t *table = f.coef_res == 4 ? kTnsCoef4 : kTnsCoef3;
    for (int m = 1; m <= f.order; ++m) {
        int64_t k = table[f.coef[m - 1] + 8];  // Q31
        for (int i = 1; i < m; ++i) b[i] = a[i];
        for (int i = 1; i < m; ++i) {
            // a in Q30; |a| can reach C(12,6) = 924, so the product needs more than 64 bits.
            __int128 prod = static_cast<__int128>(k) * b[m - i] + (static_cast<__int128>(1) << 30);
            a[i] = b[i] + static_cast<int64_t>(prod >> 31);
        }
        a[m] = (k + 1) >> 1;  // Q31 -> Q30
    }
    int64_t maxabs = 0;
    for (int i = 1; i <= f.order; ++i) {
        int64_t v = a[i] < 0 ? -a[i] : a[i];
        if (v > maxabs) maxabs = v;
    }
    int shift = 0;
    while ((maxabs >> shift) >= (int64_t{1} << 27)) ++shift;
    for (int i = 1; i <= f.order; ++i)
        lpc[i] = static_cast<int32_t>((a[i] + ((int64_t{1} << shift) >> 1)) >> shift);
    return 30 - shift;
}

}  // namespace

int32_t ApplyTns(const ChannelData *cd, int sf_index, int32_t *spec, MiscState *m) {
    if (!cd->tns.present) return 0;
    const IcsInfo &ics = cd->ics;
    bool is_short = ics.num_windows == 8;
    int win_len = is_short ? kShortLen : kFrameLen;
    int max_bands = TnsMaxBands(sf_index, is_short);
    int limit = ics.max_sfb < max_bands ? ics.max_sfb : max_bands;
    int32_t result = 0;
    for (int w = 0; w < ics.num_windows; ++w) {
        int bottom = ics.num_swb;
        for (int f = 0; f < cd->tns.n_filt[w]; ++f) {
            const TnsFilter &flt = cd->tns.filt[w][f];
            int top = bottom;
            bottom = top - flt.length;
            if (bottom < 0) {
                result = AACDEC_ERR_TNS_RANGE;
                bottom = 0;
            }
            if (flt.order == 0) continue;
            int lo = bottom < limit ? bottom : limit;
            int hi = top < limit ? top : limit;
            int start = ics.swb_offset[lo];
            int end = ics.swb_offset[hi];
            int size = end - start;
            if (size <= 0) continue;
            int32_t *lpc = m->lpc;
            int q = ToLpc(flt, lpc);
            int order = flt.order;
            int32_t *state = m->tns_hist;
            for (int i = 0; i < order; ++i) state[i] = 0;
            int inc = flt.direction ? -1 : 1;
            int32_t *p = spec + w * win_len + (flt.direction ? end - 1 : start);
            int64_t round = int64_t{1} << (q - 1);
            for (int n = 0; n < size; ++n, p += inc) {
                int64_t acc = static_cast<int64_t>(*p) * (int64_t{1} << q);
                for (int j = 0; j < order; ++j) acc -= static_cast<int64_t>(lpc[j + 1]) * state[j];
                int32_t y = Sat32((acc + round) >> q);
                for (int j = order - 1; j > 0; --j) state[j] = state[j - 1];
                state[0] = y;
                *p = y;
            }
        }
    }
    return result;
}

}  // namespace aacdec
