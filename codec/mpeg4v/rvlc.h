#pragma once
// Reversible VLC texture of data-partitioned packets (14496-2 Table B-23), read forward only.
#include <cstdint>

#include "codec/mpeg4v/bitreader.h"
#include "codec/mpeg4v/texture.h"

namespace mp4v {

// One code of Table B-23. Intra and inter blocks share the codes but not their meaning. `len`
// counts the code without its trailing sign bit.
struct RvlcCode {
    uint16_t code;
    uint8_t len;
    uint8_t intraLast, intraRun, intraLevel;
    uint8_t interLast, interRun, interLevel;
};

constexpr int kRvlcCodeCount = 169;
constexpr int kRvlcMaxLen = 15;
// The escape "0000s" frames a fixed-length event: last (1), run (6), marker, level (11),
// marker, and a second escape whose s bit is the sign of the level.
constexpr int kRvlcEscapeLen = 4;

extern const RvlcCode kRvlcCodes[kRvlcCodeCount];

// Same contract as ReadTcoefMpeg4: events from scan index `i` on, quantised levels stored at
// scan positions and listed; false on an invalid code, a broken escape or a run past the block.
bool ReadTcoefRvlc(BitReader *br, int16_t *blk, int i, const uint8_t *scan, bool intra,
                   CoefList *list);

}  // namespace mp4v
