// Deblocking post-filter on 8x8 block edges of the returned picture. Within each block row the
// vertical edges are filtered first, then the horizontal edge above the row.
#include <cstring>

#include "codec/mpeg4v/internal.h"

namespace mp4v {
namespace {

inline int Clip(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

void FilterPlane(uint8_t *p, int pitch, int w, int h, const uint8_t *qmap, int mbw, bool chroma) {
    int bw = w / 8, bh = h / 8;
    for (int by = 0; by < bh; ++by) {
        // Quantiser row: luma blocks map to their macroblock; chroma block rows after the
        // first use the macroblock row above.
        int qRow = chroma ? (by == 0 ? 0 : by - 1) : by / 2;
        const uint8_t *qr = qmap + qRow * mbw;
        for (int bx = 1; bx < bw; ++bx) {
            int qp = qr[chroma ? bx : bx / 2];
            uint8_t *e = p + by * 8 * pitch + bx * 8;
            for (int r = 0; r < 8; ++r) FilterEdge(e + r * pitch, 1, qp);
        }
        if (by > 0) {
            for (int x = 0; x < w; ++x) {
                int qp = qr[chroma ? x / 8 : x / 16];
                FilterEdge(p + by * 8 * pitch + x, pitch, qp);
            }
        }
    }
}

}  // namespace

void FilterEdge(uint8_t *q0p, int step, int qp) {
    int p2 = q0p[-3 * step], p1 = q0p[-2 * step], p0 = q0p[-step];
    int q0 = q0p[0], q1 = q0p[step], q2 = q0p[2 * step];
    int delta = p0 - q0;
    int act = delta + q1 - p1;
    if (act < 0) act = -act;
    int e = delta < -2 * qp ? -2 * qp : delta > 2 * qp ? 2 * qp : delta;
    if (2 * act >= qp) {
        int f = (3 * e + 8) >> 4;
        q0p[-step] = uint8_t(Clip(p0 - f));
        q0p[0] = uint8_t(Clip(q0 + f));
    } else if (8 * act < qp) {
        int f = (5 * e + 8) >> 4, g = e >> 3;
        q0p[-step] = uint8_t(Clip(p0 - g - f));
        q0p[0] = uint8_t(Clip(q0 + g + f));
        q0p[-2 * step] = uint8_t(Clip(p1 - f));
        q0p[step] = uint8_t(Clip(q1 + f));
        q0p[-3 * step] = uint8_t(Clip(p2 + g - f));
        q0p[2 * step] = uint8_t(Clip(q2 + f - g));
    } else {
        int f = (3 * e + 4) >> 3;
        q0p[-2 * step] = uint8_t((p0 + p1 + 1) >> 1);
        q0p[step] = uint8_t((q0 + q1 + 1) >> 1);
        q0p[-step] = uint8_t(Clip(p0 - f));
        q0p[0] = uint8_t(Clip(q0 + f));
    }
}

void PostFilter(const Instance *d, const FrameDesc *src, FrameDesc *dst, const uint8_t *qmap) {
    int cp = d->pitch / 2;
    if (src != dst) {
        std::memcpy(dst->y, src->y, size_t(d->pitch) * size_t(d->rows));
        std::memcpy(dst->u, src->u, size_t(cp) * size_t(d->rows / 2));
        std::memcpy(dst->v, src->v, size_t(cp) * size_t(d->rows / 2));
    }
    FilterPlane(dst->y, d->pitch, d->pitch, d->rows, qmap, d->mbw, false);
    FilterPlane(dst->u, cp, cp, d->rows / 2, qmap, d->mbw, true);
    FilterPlane(dst->v, cp, cp, d->rows / 2, qmap, d->mbw, true);
}

}  // namespace mp4v
