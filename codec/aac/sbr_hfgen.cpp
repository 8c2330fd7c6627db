// SBR high-frequency generation (ISO/IEC 14496-3 4.6.18.6): the chirp factors from the inverse
// filtering modes, the second-order linear prediction of each low band (covariance method) and
// the transposition of the whitened low band into the patches above kx.
#include <cstring>

#include "codec/aac/sbr.h"

namespace aacdec {
namespace {

// Chirp factor targets in Q30: 0.6 for a switch between off and low, else by the current mode.
constexpr int32_t kBw06 = 644245094;
constexpr int32_t kBwTab[4] = {0, 805306368, 966367642, 1052266988};  // 0, 0.75, 0.9, 0.98
constexpr int32_t kBwMin = 1 << 24;                                   // 0.015625

struct Cplx {
    SFlt re, im;
};

Cplx CMul(Cplx a, Cplx b) {
    return {SfSub(SfMul(a.re, b.re), SfMul(a.im, b.im)),
            SfAdd(SfMul(a.re, b.im), SfMul(a.im, b.re))};
}

// Prediction coefficients of one low band, Q29; zero when unstable or undefined.
void Predict(int32_t (*low)[32][2], int p, int32_t *a0, int32_t *a1) {
    a0[0] = a0[1] = a1[0] = a1[1] = 0;
    int32_t mx = 0;
    for (int r = 0; r < kSbrLowSlots; ++r)
        for (int c = 0; c < 2; ++c) {
            int32_t v = low[r][p][c];
            if (v < 0) v = v == INT32_MIN ? INT32_MAX : -v;
            if (v > mx) mx = v;
        }
    if (mx == 0) return;
    int sh = 0;
    while ((mx >> sh) >= (1 << 26)) ++sh;
    int64_t r01 = 0, i01 = 0, r02 = 0, i02 = 0, r12 = 0, i12 = 0, r11 = 0, r22 = 0;
    for (int n = 0; n < kSbrSlots + 6; ++n) {
        int64_t x0r = low[n + 2][p][0] >> sh, x0i = low[n + 2][p][1] >> sh;
        int64_t x1r = low[n + 1][p][0] >> sh, x1i = low[n + 1][p][1] >> sh;
        int64_t x2r = low[n][p][0] >> sh, x2i = low[n][p][1] >> sh;
        r01 += x0r * x1r + x0i * x1i;
        i01 += x0i * x1r - x0r * x1i;
        r02 += x0r * x2r + x0i * x2i;
        i02 += x0i * x2r - x0r * x2i;
        r12 += x1r * x2r + x1i * x2i;
        i12 += x1i * x2r - x1r * x2i;
        r11 += x1r * x1r + x1i * x1i;
        r22 += x2r * x2r + x2i * x2i;
    }
    Cplx p01 = {SfFromInt64(r01, 0), SfFromInt64(i01, 0)};
    Cplx p02 = {SfFromInt64(r02, 0), SfFromInt64(i02, 0)};
    Cplx p12 = {SfFromInt64(r12, 0), SfFromInt64(i12, 0)};
    SFlt p11 = SfFromInt64(r11, 0), p22 = SfFromInt64(r22, 0);
    const SFlt kRelax = {1073740750, -30};  // 1 / (1 + 1e-6)
    SFlt mag12 = SfAdd(SfMul(p12.re, p12.re), SfMul(p12.im, p12.im));
    SFlt det = SfSub(SfMul(p22, p11), SfMul(mag12, kRelax));
    Cplx al1 = {SfZero(), SfZero()};
    if (det.m != 0) {
        Cplx t = CMul(p01, p12);
        t.re = SfSub(t.re, SfMul(p02.re, p11));
        t.im = SfSub(t.im, SfMul(p02.im, p11));
        al1 = {SfDiv(t.re, det), SfDiv(t.im, det)};
    }
    Cplx al0 = {SfZero(), SfZero()};
    if (p11.m != 0) {
        Cplx conj12 = {p12.re, SFlt{-p12.im.m, p12.im.e}};
        Cplx t = CMul(al1, conj12);
        t.re = SfAdd(t.re, p01.re);
        t.im = SfAdd(t.im, p01.im);
        al0 = {SfDiv(SFlt{-t.re.m, t.re.e}, p11), SfDiv(SFlt{-t.im.m, t.im.e}, p11)};
    }
    const SFlt kSixteen = {1 << 29, -25};
    SFlt m0 = SfAdd(SfMul(al0.re, al0.re), SfMul(al0.im, al0.im));
    SFlt m1 = SfAdd(SfMul(al1.re, al1.re), SfMul(al1.im, al1.im));
    if (SfCmp(m0, kSixteen) >= 0 || SfCmp(m1, kSixteen) >= 0) return;
    a0[0] = SfToFixed(al0.re, 29);
    a0[1] = SfToFixed(al0.im, 29);
    a1[0] = SfToFixed(al1.re, 29);
    a1[1] = SfToFixed(al1.im, 29);
}

inline int32_t ClipQmf(int64_t v) {
    if (v > kQmfLimit) return kQmfLimit;
    if (v < -kQmfLimit) return -kQmfLimit;
    return static_cast<int32_t>(v);
}

}  // namespace

void SbrHfGenerate(const SbrFreq *f, const SbrChannelData *d, SbrChannel *c, int32_t (*low)[32][2],
                   int32_t (*dst)[64][2], int l0, int l1) {
    int32_t bw[kSbrMaxNoise];
    for (int i = 0; i < f->n_q; ++i) {
        int cur = d->invf[i], prev = d->invf_prev[i];
        int32_t nb = (cur + prev == 1) ? kBw06 : kBwTab[cur];
        int64_t t;
        if (nb < c->bw_prev[i]) t = (3 * static_cast<int64_t>(nb) + c->bw_prev[i]) >> 2;
        else t = (29 * static_cast<int64_t>(nb) + 3 * static_cast<int64_t>(c->bw_prev[i])) >> 5;
        bw[i] = t < kBwMin ? 0 : static_cast<int32_t>(t);
        c->bw_prev[i] = bw[i];
    }
    int32_t alpha[32][4];
    uint8_t have[32] = {};
    int k = f->kx;
    for (int i = 0; i < f->num_patches; ++i) {
        for (int x = 0; x < f->patch_num[i]; ++x, ++k) {
            int p = f->patch_start[i] + x;
            if (p < 0 || p >= 32 || k >= 64) continue;
            if (!have[p]) {
                Predict(low, p, alpha[p], alpha[p] + 2);
                have[p] = 1;
            }
            int g = 0;
            while (g + 1 < f->n_q && f->f_noise[g + 1] <= k) ++g;
            int64_t b = bw[g];
            int64_t b2 = (b * b) >> 30;
            int64_t a0r = (alpha[p][0] * b) >> 30, a0i = (alpha[p][1] * b) >> 30;
            int64_t a1r = (alpha[p][2] * b2) >> 30, a1i = (alpha[p][3] * b2) >> 30;
            for (int l = l0; l < l1; ++l) {
                const int32_t *x0 = low[l + kSbrHfAdj][p];
                const int32_t *x1 = low[l + kSbrHfAdj - 1][p];
                const int32_t *x2 = low[l + kSbrHfAdj - 2][p];
                int64_t re = a0r * x1[0] - a0i * x1[1] + a1r * x2[0] - a1i * x2[1];
                int64_t im = a0r * x1[1] + a0i * x1[0] + a1r * x2[1] + a1i * x2[0];
                dst[l][k][0] = ClipQmf(x0[0] + ((re + (int64_t{1} << 28)) >> 29));
                dst[l][k][1] = ClipQmf(x0[1] + ((im + (int64_t{1} << 28)) >> 29));
            }
        }
    }
}

}  // namespace aacdec
