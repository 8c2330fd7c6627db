// Concealment of macroblocks that were not decoded, and the edge fill some old encoders expect.
#include <cstring>

#include "codec/mpeg4v/internal.h"

namespace mp4v {
namespace {

// Spatial concealment of one plane's block of size n at (px, py).
void SpatialBlock(uint8_t *plane, int pitch, int px, int py, int n) {
    uint8_t *b = plane + py * pitch + px;
    if (py > 0) {
        for (int r = 0; r < n; ++r) std::memcpy(b + r * pitch, b - pitch, size_t(n));
    } else if (px > 0) {
        for (int r = 0; r < n; ++r) std::memset(b + r * pitch, b[r * pitch - 1], size_t(n));
    } else {
        for (int r = 0; r < n; ++r) std::memset(b + r * pitch, 128, size_t(n));
    }
}

}  // namespace

void ConcealUpTo(Instance *d, int endMb) {
    if (d->cur < 0) return;
    if (endMb > d->mbCount) endMb = d->mbCount;
    FrameDesc *t = &d->frames[d->cur];
    const FrameDesc *ref = d->past >= 0 ? &d->frames[d->past] : nullptr;
    if (ref == t) ref = nullptr;
    bool isB = d->vopType == kTypeB;
    int cp = d->pitch / 2;
    for (int mb = d->mbNext; mb < endMb; ++mb) {
        int x = mb % d->mbw, y = mb / d->mbw;
        if (d->status[mb] != 255 && ref) {
            CopyMbFromRef(d, mb, ref);
        } else {
            SpatialBlock(t->y, d->pitch, x * 16, y * 16, 16);
            SpatialBlock(t->u, cp, x * 8, y * 8, 8);
            SpatialBlock(t->v, cp, x * 8, y * 8, 8);
        }
        d->quantMap[d->curQ][mb] = uint8_t(d->quant);
        if (!isB) {
            d->status[mb] = 1;
            d->skip[mb] = kMbSkipped;
            int16_t *m = d->mv + mb * 8;
            for (int k = 0; k < 8; ++k) m[k] = 0;
        }
    }
    if (endMb > d->mbNext) d->mbNext = endMb;
}

void FillOldEncoderEdges(Instance *d, FrameDesc *f) {
    struct Plane {
        uint8_t *p;
        int pitch, w, h, rows;
    };
    int cp = d->pitch / 2;
    Plane planes[3] = {{f->y, d->pitch, d->width, d->height, d->rows},
                       {f->u, cp, (d->width + 1) / 2, (d->height + 1) / 2, d->rows / 2},
                       {f->v, cp, (d->width + 1) / 2, (d->height + 1) / 2, d->rows / 2}};
    for (const Plane &pl : planes) {
        if (pl.w < pl.pitch)
            for (int r = 0; r < pl.h; ++r) {
                uint8_t *row = pl.p + r * pl.pitch;
                std::memset(row + pl.w, row[pl.w - 1], size_t(pl.pitch - pl.w));
            }
        for (int r = pl.h; r < pl.rows; ++r)
            std::memcpy(pl.p + r * pl.pitch, pl.p + (pl.h - 1) * pl.pitch, size_t(pl.pitch));
    }
}

}  // namespace mp4v
