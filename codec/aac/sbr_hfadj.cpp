// SBR high-frequency adjustment (ISO/IEC 14496-3 4.6.18.7): dequantised envelope and noise
// floor data, mapping to QMF bands, estimation of the transposed energy, gains with the limiter
// and the boost, gain smoothing, and the added noise floor and sinusoids. Energies and gains are
// kept as SFlt (mantissa and exponent) since they span far more range than 32 bits offer.
#include <cstring>

#include "codec/aac/sbr.h"

namespace aacdec {
namespace {

int Bits64(uint64_t v) { return v ? 64 - __builtin_clzll(v) : 0; }

SFlt Normalise(int64_t v, int32_t e) {
    if (v == 0) return SfZero();
    bool neg = v < 0;
    uint64_t a = neg ? (0 - static_cast<uint64_t>(v)) : static_cast<uint64_t>(v);
    int s = Bits64(a) - 30;
    if (s > 0) {
        a = (a + (uint64_t{1} << (s - 1))) >> s;
        e += s;
        if (a >= (uint64_t{1} << 30)) {
            a >>= 1;
            ++e;
        }
    } else if (s < 0) {
        a <<= -s;
        e += s;
    }
    int32_t m = static_cast<int32_t>(a);
    return SFlt{neg ? -m : m, e};
}

uint64_t Isqrt64(uint64_t x) {
    uint64_t r = 0, bit = uint64_t{1} << 62;
    while (bit > x) bit >>= 2;
    while (bit) {
        if (x >= r + bit) {
            x -= r + bit;
            r = (r >> 1) + bit;
        } else {
            r >>= 1;
        }
        bit >>= 2;
    }
    return r;
}

SFlt SfFromU128(unsigned __int128 v, int32_t e) {
    while (v >> 62) {
        v >>= 1;
        ++e;
    }
    return Normalise(static_cast<int64_t>(v), e);
}

// x * g with the result's scale that of x, saturated to the QMF range.
inline int64_t MulGain(int64_t x, SFlt g) {
    int64_t p = x * g.m;
    int s = -g.e;
    if (s > 0) return s > 62 ? 0 : (p + (int64_t{1} << (s - 1))) >> s;
    if (s == 0) return p;
    if (s > -8 && p < (int64_t{1} << 54) && p > -(int64_t{1} << 54)) return p << -s;
    return p > 0 ? kQmfLimit : (p < 0 ? -kQmfLimit : 0);
}

inline int32_t ClipQmf(int64_t v) {
    if (v > kQmfLimit) return kQmfLimit;
    if (v < -kQmfLimit) return -kQmfLimit;
    return static_cast<int32_t>(v);
}

// Gain smoothing filter h_smooth, Q30.
const SFlt kSmooth[5] = {
    {715827883, -31}, {647472402, -31}, {937030863, -32}, {989249804, -33}, {546843842, -34}};
// Limiter gains 0.70795, 1, 1.41254 and 1e10.
const SFlt kLimGain[4] = {{760155524, -30}, {536870912, -29}, {758351638, -29}, {625000000, 4}};
const SFlt kGainCap = {819200000, -13};   // 1e5
const SFlt kBoostCap = {850883053, -29};  // 1.584893192
const SFlt kEps = {1 << 29, -69};         // 1e-12 (2^-40)

// l_A of the current grid (-1 when there is no transient).
int TransientEnv(const SbrChannelData *d) {
    if ((d->frame_class & 1) && d->pointer) return d->num_env + 1 - d->pointer;
    if (d->frame_class == 2 && d->pointer > 1) return d->pointer - 1;
    return -1;
}

// Envelope energy and noise floor of band j of envelope l, in the standard's PCM scale.
void Dequant(const SbrControl *ctl, int ch, int l, int j, int noise_env, int qj, SFlt *e, SFlt *q) {
    const SbrChannelData *d = &ctl->ch[ch];
    if (ctl->coupling && ctl->num_ch == 2) {
        const SbrChannelData *d0 = &ctl->ch[0], *d1 = &ctl->ch[1];
        int e0 = d0->env[l][j], e1 = d1->env[l][j];
        int lvl = d0->amp_res ? 2 * (e0 + 7) : e0 + 14;
        int bal = d0->amp_res ? 2 * (12 - e1) : 24 - e1;
        if (ch == 1) bal = -bal;
        *e = lvl > 132 ? SfZero() : SfDiv(SfPow2Half(lvl), SfAdd(SfOne(), SfPow2Half(bal)));
        int q0 = d0->noise[noise_env][qj], q1 = d1->noise[noise_env][qj];
        int qb = 2 * (12 - q1);
        if (ch == 1) qb = -qb;
        *q = SfDiv(SfPow2Half(2 * (7 - q0)), SfAdd(SfOne(), SfPow2Half(qb)));
        return;
    }
    int v = d->env[l][j];
    int lvl = d->amp_res ? 2 * (v + 6) : v + 12;
    *e = lvl > 132 ? SfZero() : SfPow2Half(lvl);
    *q = SfPow2Half(2 * (6 - d->noise[noise_env][qj]));
}

}  // namespace

SFlt SfFromInt64(int64_t v, int32_t e) { return Normalise(v, e); }

SFlt SfMul(SFlt a, SFlt b) {
    if (a.m == 0 || b.m == 0) return SfZero();
    return Normalise(static_cast<int64_t>(a.m) * b.m, a.e + b.e);
}

SFlt SfDiv(SFlt a, SFlt b) {
    if (a.m == 0 || b.m == 0) return SfZero();
    return Normalise((static_cast<int64_t>(a.m) << 32) / b.m, a.e - b.e - 32);
}

SFlt SfAdd(SFlt a, SFlt b) {
    if (a.m == 0) return b;
    if (b.m == 0) return a;
    if (a.e < b.e) {
        SFlt t = a;
        a = b;
        b = t;
    }
    int d = a.e - b.e;
    if (d > 60) return a;
    int64_t s = (static_cast<int64_t>(a.m) << 30) + ((static_cast<int64_t>(b.m) << 30) >> d);
    return Normalise(s, a.e - 30);
}

SFlt SfSub(SFlt a, SFlt b) { return SfAdd(a, SFlt{-b.m, b.e}); }

SFlt SfSqrt(SFlt a) {
    if (a.m <= 0) return SfZero();
    uint64_t m = static_cast<uint64_t>(a.m);
    int32_t e = a.e;
    if (e & 1) {
        m <<= 1;
        --e;
    }
    return Normalise(static_cast<int64_t>(Isqrt64(m << 30)), (e - 30) / 2);
}

SFlt SfPow2Half(int32_t halves) {
    if (halves & 1) return SFlt{759250125, ((halves - 1) >> 1) - 29};  // sqrt(2) * 2^29
    return SFlt{1 << 29, (halves >> 1) - 29};
}

int SfCmp(SFlt a, SFlt b) {
    SFlt d = SfSub(a, b);
    return d.m > 0 ? 1 : (d.m < 0 ? -1 : 0);
}

int32_t SfToFixed(SFlt a, int32_t frac_bits) {
    if (a.m == 0) return 0;
    int s = a.e + frac_bits;
    if (s >= 2) return a.m > 0 ? INT32_MAX : INT32_MIN;
    if (s >= 0) return a.m * (1 << s);
    if (s < -40) return 0;
    return static_cast<int32_t>((static_cast<int64_t>(a.m) + (int64_t{1} << (-s - 1))) >> -s);
}

void SbrHfAdjust(const SbrControl *ctl, int ch, SbrChannel *c, int32_t (*dst)[64][2]) {
    const SbrChannelHeader *hs = &ctl->hs[ch];
    const SbrFreq *f = &hs->freq;
    const SbrChannelData *d = &ctl->ch[ch];
    const int kx = f->kx, M = f->m;
    const int la = TransientEnv(d);
    if (hs->reset) {
        c->hist_valid = 0;
        c->la_prev = -1;
        std::memset(c->sine_prev, 0, sizeof(c->sine_prev));
    }
    const int la_prev = c->la_prev == c->num_env_prev ? 0 : -1;
    const bool smoothing = hs->hdr.smoothing_mode == 0;
    uint8_t sine_last[64] = {};

    for (int l = 0; l < d->num_env; ++l) {
        int nb = 0;
        const uint8_t *tab = d->freq_res[l] ? f->f_high : f->f_low;
        nb = d->freq_res[l] ? f->n_high : f->n_low;
        int noise_env = (d->num_noise > 1 && d->t_env[l] >= d->t_q[1]) ? 1 : 0;
        SFlt e_orig[64], q_orig[64], e_curr[64];
        uint8_t sine[64] = {}, sine_band[64] = {};
        for (int j = 0; j < nb; ++j) {
            for (int k = tab[j]; k < tab[j + 1]; ++k) {
                int qj = 0;
                while (qj + 1 < f->n_q && f->f_noise[qj + 1] <= k) ++qj;
                Dequant(ctl, ch, l, j, noise_env, qj, &e_orig[k - kx], &q_orig[k - kx]);
            }
        }
        if (d->add_harmonic_flag) {
            for (int i = 0; i < f->n_high; ++i) {
                int mid = ((f->f_high[i] + f->f_high[i + 1]) >> 1) - kx;
                sine[mid] = d->add_harmonic[i] && (l >= la || c->sine_prev[mid]) ? 1 : 0;
            }
        }
        for (int j = 0; j < nb; ++j) {
            uint8_t any = 0;
            for (int k = tab[j]; k < tab[j + 1]; ++k) any |= sine[k - kx];
            for (int k = tab[j]; k < tab[j + 1]; ++k) sine_band[k - kx] = any;
        }
        // Energy of the transposed signal over the envelope.
        int s0 = 2 * d->t_env[l], s1 = 2 * d->t_env[l + 1];
        if (hs->hdr.interpol_freq) {
            for (int m = 0; m < M; ++m) {
                unsigned __int128 acc = 0;
                for (int i = s0; i < s1; ++i) {
                    int64_t re = dst[i][m + kx][0], im = dst[i][m + kx][1];
                    acc += static_cast<uint64_t>(re * re) + static_cast<uint64_t>(im * im);
                }
                e_curr[m] = SfDiv(SfFromU128(acc, -2 * kQmfFrac), SfFromInt64(s1 - s0, 0));
            }
        } else {
            for (int j = 0; j < nb; ++j) {
                unsigned __int128 acc = 0;
                for (int k = tab[j]; k < tab[j + 1]; ++k)
                    for (int i = s0; i < s1; ++i) {
                        int64_t re = dst[i][k][0], im = dst[i][k][1];
                        acc += static_cast<uint64_t>(re * re) + static_cast<uint64_t>(im * im);
                    }
                SFlt en =
                    SfDiv(SfFromU128(acc, -2 * kQmfFrac),
                          SfFromInt64(static_cast<int64_t>(s1 - s0) * (tab[j + 1] - tab[j]), 0));
                for (int k = tab[j]; k < tab[j + 1]; ++k) e_curr[k - kx] = en;
            }
        }
        // Gains, limited per limiter band and boosted back to the band's energy.
        const bool transient = l == la || l == la_prev;
        // Zero where no limiter band reaches: when the last patch is dropped for being narrower than
        // three bands, the limiter table ends at the last patch border below kx + M, and those top
        // bands, which no patch fills, get neither gain nor noise nor sinusoid.
        SFlt gain[64] = {}, qm[64] = {}, sm[64] = {};
        for (int b = 0; b < f->n_lim; ++b) {
            int m0 = f->f_lim[b] - kx, m1 = f->f_lim[b + 1] - kx;
            SFlt sum_o = SfZero(), sum_c = SfZero();
            for (int m = m0; m < m1; ++m) {
                SFlt one_q = SfAdd(SfOne(), q_orig[m]);
                SFlt temp = SfDiv(e_orig[m], one_q);
                qm[m] = SfSqrt(SfMul(temp, q_orig[m]));
                sm[m] = sine[m] ? SfSqrt(temp) : SfZero();
                SFlt den = SfAdd(SfOne(), e_curr[m]);
                if (!sine_band[m]) {
                    if (!transient) den = SfMul(den, one_q);
                    gain[m] = SfSqrt(SfDiv(e_orig[m], den));
                } else {
                    gain[m] = SfSqrt(SfDiv(SfMul(e_orig[m], q_orig[m]), SfMul(den, one_q)));
                }
                sum_o = SfAdd(sum_o, e_orig[m]);
                sum_c = SfAdd(sum_c, e_curr[m]);
            }
            SFlt gmax = SfMul(kLimGain[hs->hdr.limiter_gains],
                              SfSqrt(SfDiv(SfAdd(kEps, sum_o), SfAdd(kEps, sum_c))));
            if (SfCmp(gmax, kGainCap) > 0) gmax = kGainCap;
            for (int m = m0; m < m1; ++m) {
                if (SfCmp(gain[m], gmax) > 0) {
                    qm[m] = SfDiv(SfMul(qm[m], gmax), gain[m]);
                    gain[m] = gmax;
                }
            }
            SFlt sum_a = SfZero();
            for (int m = m0; m < m1; ++m) {
                sum_a = SfAdd(sum_a, SfMul(e_curr[m], SfMul(gain[m], gain[m])));
                sum_a = SfAdd(sum_a, SfMul(sm[m], sm[m]));
                if (!transient && sm[m].m == 0) sum_a = SfAdd(sum_a, SfMul(qm[m], qm[m]));
            }
            SFlt boost = SfSqrt(SfDiv(SfAdd(kEps, sum_o), SfAdd(kEps, sum_a)));
            if (SfCmp(boost, kBoostCap) > 0) boost = kBoostCap;
            for (int m = m0; m < m1; ++m) {
                gain[m] = SfMul(gain[m], boost);
                qm[m] = SfMul(qm[m], boost);
                sm[m] = SfMul(sm[m], boost);
            }
        }
        if (!c->hist_valid) {
            for (int j = 0; j < 4; ++j)
                for (int m = 0; m < M; ++m) {
                    c->g_hist[j][m] = gain[m];
                    c->q_hist[j][m] = qm[m];
                }
            c->hist_valid = 1;
        }
        int32_t sine_lvl[64];
        for (int m = 0; m < M; ++m) sine_lvl[m] = SfToFixed(sm[m], kQmfFrac);
        // Apply per slot.
        for (int i = s0; i < s1; ++i) {
            bool smooth = smoothing && !transient;
            for (int m = 0; m < M; ++m) {
                SFlt g = gain[m], q = qm[m];
                if (smooth) {
                    g = SfMul(gain[m], kSmooth[0]);
                    q = SfMul(qm[m], kSmooth[0]);
                    for (int j = 0; j < 4; ++j) {
                        g = SfAdd(g, SfMul(c->g_hist[j][m], kSmooth[j + 1]));
                        q = SfAdd(q, SfMul(c->q_hist[j][m], kSmooth[j + 1]));
                    }
                }
                for (int j = 3; j > 0; --j) {
                    c->g_hist[j][m] = c->g_hist[j - 1][m];
                    c->q_hist[j][m] = c->q_hist[j - 1][m];
                }
                c->g_hist[0][m] = gain[m];
                c->q_hist[0][m] = qm[m];
                int k = m + kx;
                int64_t re = MulGain(dst[i][k][0], g);
                int64_t im = MulGain(dst[i][k][1], g);
                if (sine_lvl[m]) {
                    int ph = c->index_sine;
                    if (ph == 0) re += sine_lvl[m];
                    else if (ph == 2) re -= sine_lvl[m];
                    else {
                        int64_t s = (k & 1) ? -sine_lvl[m] : sine_lvl[m];
                        im += ph == 1 ? s : -s;
                    }
                } else if (!transient) {
                    int idx = (c->index_noise + m + 1) & 511;
                    // q in the QMF scale, the table in Q31.
                    SFlt qs = {q.m, q.e + kQmfFrac - 31};
                    re += MulGain(kSbrNoiseTable[idx][0], qs);
                    im += MulGain(kSbrNoiseTable[idx][1], qs);
                }
                dst[i][k][0] = ClipQmf(re);
                dst[i][k][1] = ClipQmf(im);
            }
            c->index_noise = (c->index_noise + M) & 511;
            c->index_sine = (c->index_sine + 1) & 3;
        }
        std::memcpy(sine_last, sine, sizeof(sine_last));
    }
    std::memcpy(c->sine_prev, sine_last, sizeof(sine_last));
    c->la_prev = la;
    c->num_env_prev = d->num_env;
}

}  // namespace aacdec
