#pragma once
// Reversible VLC texture of data-partitioned packets (14496-2 Table B-23), read forward and,
// to recover a damaged packet, backward from its end.
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

// Texture layout of one macroblock for the parsers below: coded blocks (bit 5 = block 0), bit 6
// intra, bit 7 set when an intra block's DC is not among its events.
constexpr uint8_t kTexIntra = 0x40, kTexDcApart = 0x80;

// Reads the texture of macroblocks 0..n-1 forward without rebuilding anything; after each
// macroblock that parsed, ends[k] = its end, relative to the texture's first bit. Stops at an
// error or once the reader passes bit `limit` (same origin as BitPos). Returns the count parsed.
int ParseRvlcForward(BitReader *br, int16_t *blk, const uint8_t *desc, int n, int64_t limit,
                     int32_t *ends);

// Reads the texture backward from bit `end` down to bit `begin` of `data` (the packet's end is
// known: its stuffing or the next marker follows). For each macroblock from n-1 down whose
// texture parses, and whose index is above `storeAbove`, starts[k] receives where its texture
// begins, relative to `begin`. Returns the macroblock at which parsing failed, with *stop the
// lowest bit the failing read may have looked at; or -1 when the whole texture parsed and ended
// exactly at `begin`.
int ParseRvlcBackward(const uint8_t *data, int64_t begin, int64_t end, const uint8_t *desc, int n,
                      int storeAbove, int32_t *starts, int64_t *stop);

}  // namespace mp4v
