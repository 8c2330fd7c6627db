// GMC warping (14496-2 7.8.4 to 7.8.6). The warp is brought into one affine form with a
// power-of-two divisor: the trajectory's second and third points are first moved to the
// "virtual" points W' and H' (the powers of two at or above the layer's size), so the per-sample
// positions need a shift rather than a division.
#include "codec/mpeg4v/gmc.h"

#include <cstdint>

namespace mp4v {
namespace {

// Integer division rounding halves away from zero (the standard's "//").
int64_t RoundedDiv(int64_t a, int64_t b) { return (a >= 0 ? a + b / 2 : a - b / 2) / b; }

inline int Clamp(int64_t v, int hi) { return v < 0 ? 0 : v > hi ? hi : int(v); }

// One plane's block through the warp; x0/y0 are the scaled positions of its top-left sample.
void WarpBlock(const uint8_t *ref, int pitch, int planeW, int planeH, uint8_t *dst, int dp, int n,
               int64_t x0, int64_t y0, int64_t dxx, int64_t dxy, int64_t dyx, int64_t dyy,
               int shift, int accuracy, int rounding) {
    const int bits = accuracy + 1;
    const int s = 1 << bits;
    const int round = (1 << (2 * bits - 1)) - rounding;
    // The map is affine, so its corners bound the block's source positions; when every tap lies
    // inside the plane the samples are read without clamping.
    int64_t lo[2] = {INT64_MAX, INT64_MAX}, hi[2] = {INT64_MIN, INT64_MIN};
    for (int corner = 0; corner < 4; ++corner) {
        const int i = (corner & 1) * (n - 1), j = (corner >> 1) * (n - 1);
        const int64_t p[2] = {((x0 + dxx * i + dxy * j) >> shift) >> bits,
                              ((y0 + dyx * i + dyy * j) >> shift) >> bits};
        for (int k = 0; k < 2; ++k) {
            lo[k] = p[k] < lo[k] ? p[k] : lo[k];
            hi[k] = p[k] > hi[k] ? p[k] : hi[k];
        }
    }
    if (lo[0] >= 0 && lo[1] >= 0 && hi[0] + 1 < planeW && hi[1] + 1 < planeH) {
        for (int j = 0; j < n; ++j) {
            int64_t vx = x0 + dxy * j, vy = y0 + dyy * j;
            for (int i = 0; i < n; ++i, vx += dxx, vy += dyx) {
                const int px = int(vx >> shift), py = int(vy >> shift);
                const int fx = px & (s - 1), fy = py & (s - 1);
                const uint8_t *a = ref + (py >> bits) * pitch + (px >> bits);
                const int top = (s - fx) * a[0] + fx * a[1];
                const int bottom = (s - fx) * a[pitch] + fx * a[pitch + 1];
                dst[j * dp + i] = uint8_t(((s - fy) * top + fy * bottom + round) >> (2 * bits));
            }
        }
        return;
    }
    for (int j = 0; j < n; ++j) {
        int64_t vx = x0 + dxy * j, vy = y0 + dyy * j;
        for (int i = 0; i < n; ++i, vx += dxx, vy += dyx) {
            int64_t px = vx >> shift, py = vy >> shift;
            int fx = int(px & (s - 1)), fy = int(py & (s - 1));
            int64_t ix = px >> bits, iy = py >> bits;
            // Clamping each tap's coordinate equals reading a reference extended by
            // replicating its edges.
            int xa = Clamp(ix, planeW - 1), xb = Clamp(ix + 1, planeW - 1);
            const uint8_t *ra = ref + Clamp(iy, planeH - 1) * pitch;
            const uint8_t *rb = ref + Clamp(iy + 1, planeH - 1) * pitch;
            int top = (s - fx) * ra[xa] + fx * ra[xb];
            int bottom = (s - fx) * rb[xa] + fx * rb[xb];
            dst[j * dp + i] = uint8_t(((s - fy) * top + fy * bottom + round) >> (2 * bits));
        }
    }
}

}  // namespace

void SetupGmcWarp(GmcWarp *g, int width, int height, int points, int accuracy,
                  const int16_t (*traj)[2]) {
    const int64_t s = 2 << accuracy;
    const int rho = 3 - accuracy;
    const int64_t r = 16 / s;
    int alpha = 0, beta = 0;
    while ((int64_t(1) << alpha) < width) ++alpha;
    while ((int64_t(1) << beta) < height) ++beta;
    const int64_t W = width, H = height, Wv = int64_t(1) << alpha, Hv = int64_t(1) << beta;
    int du[3] = {0, 0, 0}, dv[3] = {0, 0, 0};
    for (int k = 0; k < points && k < 3; ++k) {
        du[k] = traj[k][0];
        dv[k] = traj[k][1];
    }
    // Sprite points in 1/s sample for the reference points (0,0), (W,0) and (0,H).
    const int64_t i0 = s / 2 * du[0], j0 = s / 2 * dv[0];
    const int64_t i1 = s / 2 * (2 * W + du[0] + du[1]), j1 = s / 2 * (dv[0] + dv[1]);
    const int64_t i2 = s / 2 * (du[0] + du[2]), j2 = s / 2 * (2 * H + dv[0] + dv[2]);
    // Virtual points in 1/16 sample.
    const int64_t i1v = 16 * Wv + RoundedDiv((W - Wv) * r * i0 + Wv * (r * i1 - 16 * W), W);
    const int64_t j1v = RoundedDiv((W - Wv) * r * j0 + Wv * r * j1, W);
    const int64_t i2v = RoundedDiv((H - Hv) * r * i0 + Hv * r * i2, H);
    const int64_t j2v = 16 * Hv + RoundedDiv((H - Hv) * r * j0 + Hv * (r * j2 - 16 * H), H);

    g->accuracy = accuracy;
    if (points <= 1) {
        // No point: the reference as it is; one point: a translation by i0, j0. Chroma takes
        // half the translation with the odd remainder pushed outward.
        g->offX = points ? i0 : 0;
        g->offY = points ? j0 : 0;
        g->cOffX = (g->offX >> 1) | (g->offX & 1);
        g->cOffY = (g->offY >> 1) | (g->offY & 1);
        g->dxx = g->dyy = g->cdxx = g->cdyy = s;
        g->dxy = g->dyx = g->cdxy = g->cdyx = 0;
        g->shift = g->cShift = 0;
        return;
    }
    int64_t k;  // W' (two points) or W'H'/min: the divisor of the affine terms over r
    if (points == 2) {
        g->shift = alpha + rho;
        k = Wv;
        g->dxx = i1v - r * i0;
        g->dxy = r * j0 - j1v;
        g->dyx = j1v - r * j0;
        g->dyy = i1v - r * i0;
    } else {
        const int m = alpha < beta ? alpha : beta;
        const int64_t w3 = Wv >> m, h3 = Hv >> m;
        g->shift = alpha + beta + rho - m;
        k = Wv * h3;
        g->dxx = (i1v - r * i0) * h3;
        g->dxy = (i2v - r * i0) * w3;
        g->dyx = (j1v - r * j0) * h3;
        g->dyy = (j2v - r * j0) * w3;
    }
    const int64_t unit = int64_t(1) << g->shift;
    g->offX = i0 * unit + unit / 2;
    g->offY = j0 * unit + unit / 2;
    // Chroma sample (ic, jc) sits at luma (2ic + 1/2, 2jc + 1/2): quarter-sample luma steps of
    // the same deltas, two more bits of shift.
    g->cShift = g->shift + 2;
    g->cOffX = g->dxx + g->dxy + 2 * i0 * unit - 16 * k + 2 * unit;
    g->cOffY = g->dyx + g->dyy + 2 * j0 * unit - 16 * k + 2 * unit;
    g->cdxx = 4 * g->dxx;
    g->cdxy = 4 * g->dxy;
    g->cdyx = 4 * g->dyx;
    g->cdyy = 4 * g->dyy;
}

void GmcPredictMb(const GmcWarp &g, const uint8_t *refY, const uint8_t *refU, const uint8_t *refV,
                  int pitch, int planeW, int planeH, int mbx, int mby, int rounding, uint8_t *dy,
                  uint8_t *du, uint8_t *dv, int dp, int dcp) {
    const int64_t lx = 16 * mbx, ly = 16 * mby;
    WarpBlock(refY, pitch, planeW, planeH, dy, dp, 16, g.offX + g.dxx * lx + g.dxy * ly,
              g.offY + g.dyx * lx + g.dyy * ly, g.dxx, g.dxy, g.dyx, g.dyy, g.shift, g.accuracy,
              rounding);
    const int64_t cx = 8 * mbx, cy = 8 * mby;
    const int64_t x0 = g.cOffX + g.cdxx * cx + g.cdxy * cy;
    const int64_t y0 = g.cOffY + g.cdyx * cx + g.cdyy * cy;
    for (int p = 0; p < 2; ++p)
        WarpBlock(p ? refV : refU, pitch / 2, planeW / 2, planeH / 2, p ? dv : du, dcp, 8, x0, y0,
                  g.cdxx, g.cdxy, g.cdyx, g.cdyy, g.cShift, g.accuracy, rounding);
}

void GmcAverageVector(const GmcWarp &g, int mbx, int mby, bool quarterSample, int fcode, int *vx,
                      int *vy) {
    const int64_t s = 2 << g.accuracy;
    int64_t sum[2] = {0, 0};
    for (int j = 0; j < 16; ++j) {
        const int64_t py = 16 * mby + j;
        for (int i = 0; i < 16; ++i) {
            const int64_t px = 16 * mbx + i;
            sum[0] += ((g.offX + g.dxx * px + g.dxy * py) >> g.shift) - s * px;
            sum[1] += ((g.offY + g.dyx * px + g.dyy * py) >> g.shift) - s * py;
        }
    }
    // From 1/s sample summed over 256 samples to half (or quarter) sample units.
    const int bits = g.accuracy + 8 - (quarterSample ? 1 : 0);
    const int64_t half = int64_t(1) << (bits - 1);
    const int64_t range = int64_t(32) << (fcode - 1);
    int out[2];
    for (int n = 0; n < 2; ++n) {
        int64_t v = sum[n] > 0 ? (sum[n] + half) >> bits : (sum[n] + half - 1) >> bits;
        if (v < -range) v = -range;
        if (v >= range) v = range - 1;
        out[n] = int(v);
    }
    *vx = out[0];
    *vy = out[1];
}

}  // namespace mp4v
