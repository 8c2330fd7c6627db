// SBR frequency band tables (ISO/IEC 14496-3 4.6.18.3): master table, the high and low
// resolution tables, noise floor bands, the patches of the HF generator (4.6.18.6.3) and the
// limiter bands (4.6.18.3.2.3). The logarithmic band layouts are computed with integer log2 and
// exp2 so the decoder stays free of floating point.
#include <cstring>

#include "codec/aac/sbr.h"

namespace aacdec {
namespace {

constexpr int kLogFrac = 28;

// log2(num / den) with kLogFrac fraction bits; num, den > 0.
int64_t Log2Ratio(uint32_t num, uint32_t den) {
    int64_t ip = 0;
    uint64_t n = num, d = den;
    while (n >= 2 * d) {
        d <<= 1;
        ++ip;
    }
    while (n < d) {
        n <<= 1;
        --ip;
    }
    // x = n / d in [1, 2), Q62.
    unsigned __int128 x = (static_cast<unsigned __int128>(n) << 62) / d;
    int64_t frac = 0;
    for (int i = 1; i <= kLogFrac; ++i) {
        x = (x * x) >> 62;
        if (x >= (static_cast<unsigned __int128>(2) << 62)) {
            x >>= 1;
            frac |= int64_t{1} << (kLogFrac - i);
        }
    }
    return (ip << kLogFrac) + frac;
}

// 2^(v / 2^kLogFrac) with 32 fraction bits, 0 <= v < 16 << kLogFrac.
uint64_t Exp2Q32(int64_t v) {
    int ip = static_cast<int>(v >> kLogFrac);
    int64_t fr = v & ((int64_t{1} << kLogFrac) - 1);
    using U = unsigned __int128;
    U r = U{1} << 60;
    U root = U{2} << 60;  // 2^(2^-i) in Q60, starting at i = 0
    for (int i = 1; i <= kLogFrac; ++i) {
        U target = root << 60;
        U g = U{3} << 59;  // 1.5 lies above every root taken here
        for (;;) {
            U next = (g + target / g) >> 1;
            if (next >= g) break;
            g = next;
        }
        root = g;
        if (fr & (int64_t{1} << (kLogFrac - i))) r = (r * root) >> 60;
    }
    int sh = 28 - ip;
    if (sh > 0) return static_cast<uint64_t>((r + (U{1} << (sh - 1))) >> sh);
    return static_cast<uint64_t>(r << (-sh));
}

int RoundQ(int64_t v, int frac) {
    return static_cast<int>((v + (int64_t{1} << (frac - 1))) >> frac);
}

void SortBytes(int *v, int n) {
    for (int i = 1; i < n; ++i)
        for (int j = i; j > 0 && v[j - 1] > v[j]; --j) {
            int t = v[j];
            v[j] = v[j - 1];
            v[j - 1] = t;
        }
}

// Band widths of num_bands bands spaced logarithmically from start to stop.
void MakeBands(int *dk, int start, int stop, int num_bands) {
    int64_t l = Log2Ratio(static_cast<uint32_t>(stop), static_cast<uint32_t>(start));
    int previous = start;
    for (int k = 0; k < num_bands - 1; ++k) {
        int64_t e = l * (k + 1) / num_bands;
        uint64_t p = Exp2Q32(e) * static_cast<uint64_t>(start);
        int present = static_cast<int>((p + (uint64_t{1} << 31)) >> 32);
        dk[k] = present - previous;
        previous = present;
    }
    dk[num_bands - 1] = stop - previous;
}

int StartOffset(int rate, int idx) {
    static const int8_t kOffset[6][16] = {
        {-8, -7, -6, -5, -4, -3, -2, -1, 0, 1, 2, 3, 4, 5, 6, 7},
        {-5, -4, -3, -2, -1, 0, 1, 2, 3, 4, 5, 6, 7, 9, 11, 13},
        {-5, -3, -2, -1, 0, 1, 2, 3, 4, 5, 6, 7, 9, 11, 13, 16},
        {-6, -4, -2, -1, 0, 1, 2, 3, 4, 5, 6, 7, 9, 11, 13, 16},
        {-4, -2, -1, 0, 1, 2, 3, 4, 5, 6, 7, 9, 11, 13, 16, 20},
        {-2, -1, 0, 1, 2, 3, 4, 5, 6, 7, 9, 11, 13, 16, 20, 24},
    };
    int row;
    if (rate <= 16000) row = 0;
    else if (rate <= 22050) row = 1;
    else if (rate <= 24000) row = 2;
    else if (rate <= 32000) row = 3;
    else if (rate <= 64000) row = 4;
    else row = 5;
    return kOffset[row][idx];
}

int32_t MasterTable(const SbrHeader *h, int rate, SbrFreq *f) {
    int base = rate < 32000 ? 3000 : (rate < 64000 ? 4000 : 5000);
    int start_min = (base * 128 + rate / 2) / rate;
    int stop_min = (base * 256 + rate / 2) / rate;
    int k0 = start_min + StartOffset(rate, h->start_freq);
    int k2;
    if (h->stop_freq < 14) {
        int dk[13];
        MakeBands(dk, stop_min, 64, 13);
        SortBytes(dk, 13);
        k2 = stop_min;
        for (int k = 0; k < h->stop_freq; ++k) k2 += dk[k];
    } else if (h->stop_freq == 14) {
        k2 = 2 * k0;
    } else {
        k2 = 3 * k0;
    }
    if (k2 > 64) k2 = 64;
    if (k0 <= 0 || k2 <= k0) return kSbrErrTables;
    int max_sb = rate <= 32000 ? 48 : (rate == 44100 ? 35 : 32);
    if (k2 - k0 > max_sb) return kSbrErrTables;
    f->k0 = k0;
    f->k2 = k2;
    int n = 0;
    int v[65];
    if (h->freq_scale == 0) {
        int dk = h->alter_scale ? 2 : 1;
        n = dk == 1 ? 2 * ((k2 - k0) / 2) : 2 * ((k2 - k0 + 2) / 4);
        if (n <= 0 || n > 64) return kSbrErrTables;
        int d[64];
        for (int k = 0; k < n; ++k) d[k] = dk;
        int diff = k2 - k0 - n * dk;
        int i = diff < 0 ? 0 : n - 1;
        int incr = diff < 0 ? 1 : -1;
        while (diff != 0) {
            d[i] -= incr;
            i += incr;
            diff += incr;
            if (i < 0 || i >= n) return kSbrErrTables;
        }
        v[0] = k0;
        for (int k = 1; k <= n; ++k) v[k] = v[k - 1] + d[k - 1];
    } else {
        static const int kBands[3] = {12, 10, 8};
        int bands = kBands[h->freq_scale - 1];
        bool two = static_cast<int64_t>(k2) * 10000 > static_cast<int64_t>(k0) * 22449;
        int k1 = two ? 2 * k0 : k2;
        int64_t l0 = Log2Ratio(static_cast<uint32_t>(k1), static_cast<uint32_t>(k0));
        int n0 = 2 * RoundQ(l0 * bands / 2, kLogFrac);
        if (n0 <= 0 || n0 > 64) return kSbrErrTables;
        int d0[64];
        MakeBands(d0, k0, k1, n0);
        SortBytes(d0, n0);
        v[0] = k0;
        for (int k = 1; k <= n0; ++k) v[k] = v[k - 1] + d0[k - 1];
        n = n0;
        if (two) {
            int64_t l1 = Log2Ratio(static_cast<uint32_t>(k2), static_cast<uint32_t>(k1));
            // warp 1.3 for the alternative scale: divide by 1.3 as * 10 / 13.
            int64_t t = l1 * bands / 2;
            if (h->alter_scale) t = t * 10 / 13;
            int n1 = 2 * RoundQ(t, kLogFrac);
            if (n1 <= 0 || n0 + n1 > 64) return kSbrErrTables;
            int d1[64];
            MakeBands(d1, k1, k2, n1);
            SortBytes(d1, n1);
            if (d1[0] < d0[n0 - 1]) {
                int change = d0[n0 - 1] - d1[0];
                int half = (d1[n1 - 1] - d1[0]) / 2;
                if (half < change) change = half;
                d1[0] += change;
                d1[n1 - 1] -= change;
                SortBytes(d1, n1);
            }
            for (int k = 1; k <= n1; ++k) v[n0 + k] = v[n0 + k - 1] + d1[k - 1];
            n = n0 + n1;
        }
    }
    for (int k = 0; k < n; ++k)
        if (v[k + 1] <= v[k]) return kSbrErrTables;
    if (v[n] > 64) return kSbrErrTables;
    f->n_master = n;
    for (int k = 0; k <= n; ++k) f->f_master[k] = static_cast<uint8_t>(v[k]);
    return kSbrErrNone;
}

int32_t Patches(int rate, SbrFreq *f) {
    int msb = f->k0, usb = f->kx, np = 0;
    int goal = (2048000 + rate / 2) / rate;
    int k;
    if (goal < f->kx + f->m) {
        k = 0;
        for (int i = 0; f->f_master[i] < goal; ++i) k = i + 1;
    } else {
        k = f->n_master;
    }
    int sb = 0;
    for (int guard = 0; guard < 64; ++guard) {
        int j = k + 1, odd = 0;
        do {
            --j;
            if (j < 0) return kSbrErrTables;
            sb = f->f_master[j];
            odd = (sb - 2 + f->k0) % 2;
        } while (sb > f->k0 - 1 + msb - odd);
        int num = sb - usb > 0 ? sb - usb : 0;
        if (num > 0) {
            if (np >= 5) return kSbrErrTables;
            f->patch_num[np] = static_cast<uint8_t>(num);
            int start = f->k0 - odd - num;
            if (start < 0) return kSbrErrTables;
            f->patch_start[np] = static_cast<uint8_t>(start);
            usb = sb;
            msb = sb;
            ++np;
        } else {
            msb = f->kx;
        }
        if (f->f_master[k] - sb < 3) k = f->n_master;
        if (sb == f->kx + f->m) break;
    }
    if (sb != f->kx + f->m) return kSbrErrTables;
    if (np > 1 && f->patch_num[np - 1] < 3) --np;
    if (np == 0) return kSbrErrTables;
    f->num_patches = np;
    return kSbrErrNone;
}

bool InTable(const int *t, int n, int v) {
    for (int i = 0; i <= n; ++i)
        if (t[i] == v) return true;
    return false;
}

void LimiterTable(const SbrHeader *h, SbrFreq *f) {
    if (h->limiter_bands == 0) {
        f->f_lim[0] = f->f_low[0];
        f->f_lim[1] = f->f_low[f->n_low];
        f->n_lim = 1;
        return;
    }
    // 2^(0.49 / bands) for 1.2, 2 and 3 bands per octave, Q24.
    static const int64_t kMinRatio[3] = {22265911, 19882557, 18788328};
    int64_t ratio = kMinRatio[h->limiter_bands - 1];
    int borders[7];
    borders[0] = f->kx;
    for (int k = 1; k <= f->num_patches; ++k) borders[k] = borders[k - 1] + f->patch_num[k - 1];
    int t[72];
    int cnt = 0;
    for (int k = 0; k <= f->n_low; ++k) t[cnt++] = f->f_low[k];
    for (int k = 1; k < f->num_patches; ++k) t[cnt++] = borders[k];
    SortBytes(t, cnt);
    int n_lim = cnt - 1;
    int out = 0, in = 1;
    while (out < n_lim) {
        if ((static_cast<int64_t>(t[in]) << 24) >= t[out] * ratio) {
            t[++out] = t[in++];
        } else if (t[in] == t[out] || !InTable(borders, f->num_patches, t[in])) {
            ++in;
            --n_lim;
        } else if (!InTable(borders, f->num_patches, t[out])) {
            t[out] = t[in++];
            --n_lim;
        } else {
            t[++out] = t[in++];
        }
    }
    f->n_lim = n_lim;
    for (int k = 0; k <= n_lim; ++k) f->f_lim[k] = static_cast<uint8_t>(t[k]);
}

}  // namespace

int32_t BuildSbrTables(const SbrHeader *h, int32_t rate, SbrFreq *f) {
    std::memset(f, 0, sizeof(*f));
    if (rate <= 0) return kSbrErrTables;
    if (MasterTable(h, rate, f) != kSbrErrNone) return kSbrErrTables;
    if (h->xover_band >= f->n_master) return kSbrErrTables;
    f->n_high = f->n_master - h->xover_band;
    for (int k = 0; k <= f->n_high; ++k) f->f_high[k] = f->f_master[k + h->xover_band];
    f->n_low = (f->n_high + 1) / 2;
    int odd = f->n_high & 1;
    f->f_low[0] = f->f_high[0];
    for (int k = 1; k <= f->n_low; ++k) f->f_low[k] = f->f_high[2 * k - odd];
    f->kx = f->f_high[0];
    f->m = f->f_high[f->n_high] - f->kx;
    if (f->kx > 32 || f->kx + f->m > 64 || f->m <= 0) return kSbrErrTables;
    int nq = 1;
    if (h->noise_bands) {
        int64_t l = Log2Ratio(static_cast<uint32_t>(f->k2), static_cast<uint32_t>(f->kx));
        nq = RoundQ(l * h->noise_bands, kLogFrac);
        if (nq < 1) nq = 1;
    }
    if (nq > kSbrMaxNoise) return kSbrErrTables;
    f->n_q = nq;
    f->f_noise[0] = f->f_low[0];
    int i = 0;
    for (int k = 1; k <= nq; ++k) {
        i += (f->n_low - i) / (nq + 1 - k);
        f->f_noise[k] = f->f_low[i];
    }
    if (Patches(rate, f) != kSbrErrNone) return kSbrErrTables;
    LimiterTable(h, f);
    f->valid = 1;
    return kSbrErrNone;
}

}  // namespace aacdec
