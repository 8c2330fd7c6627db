#pragma once
// Texture decoding: TCOEF run/level events into a block, and inverse quantisation.
#include <cstdint>

#include "codec/mpeg4v/bitreader.h"
#include "codec/mpeg4v/dsp.h"

namespace mp4v {

// Positions (raster) written by one block's events.
struct CoefList {
    uint8_t pos[64];
    int n;
};

// Stores one event's level at scan index *i + run and moves *i past it. False when the run
// passes the end of the block.
inline bool PutTcoef(int16_t *blk, int *i, const uint8_t *scan, int run, int level,
                     CoefList *list) {
    *i += run;
    if (*i > 63) return false;
    const int p = scan[(*i)++];
    blk[p] = int16_t(level);
    list->pos[list->n++] = uint8_t(p);
    return true;
}

// Reads MPEG-4 TCOEF events from scan index `i` on, storing quantised levels at scan positions.
// False on an invalid code or a run past the block.
bool ReadTcoefMpeg4(BitReader *br, int16_t *blk, int i, const uint8_t *scan, bool intra,
                    CoefList *list);
// Short-header events (H.263 table and escape).
bool ReadTcoefH263(BitReader *br, int16_t *blk, int i, const uint8_t *scan, CoefList *list);

inline int Sat2048(int v) { return v < -2048 ? -2048 : v > 2047 ? 2047 : v; }

// Inverse quantisation of the listed positions in place (14496-2 7.4.4); position 0 of an intra
// block is left alone. Returns the shape for the inverse DCT.
BlockShape DequantH263(int16_t *blk, const CoefList &list, int q, bool intra);
BlockShape DequantMpeg(int16_t *blk, const CoefList &list, int q, bool intra,
                       const uint8_t *matrix);

inline void AddShape(BlockShape *s, int p) {
    s->rows |= 1u << (p >> 3);
    if (p & 7) s->rowsAc |= 1u << (p >> 3);
}

}  // namespace mp4v
