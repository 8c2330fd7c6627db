#pragma once
// Private state of the video decoder, shared by its stages. Nothing here is seen by callers.
#include <cstdint>

#include "codec/mpeg4v/bitreader.h"
#include "codec/mpeg4v/mpeg4v.h"

namespace mp4v {

constexpr int kTypeI = 0, kTypeP = 1, kTypeB = 2, kTypeS = 3;

// Macroblock types as the MCBPC tables give them (14496-2 Table B-6/B-7).
constexpr uint8_t kMbInter = 0, kMbInterQ = 1, kMbInter4v = 2, kMbIntra = 3, kMbIntraQ = 4;
constexpr uint8_t kMbSkipped = 255;  // skip map: not coded or concealed in the latest reference
constexpr uint8_t kFieldPred = 1;    // fieldFlags: the macroblock used field prediction

// Per frame buffer: plane pointers, then the picture it holds.
struct FrameDesc {
    uint8_t *y;
    uint8_t *u;
    uint8_t *v;
    int32_t type;     // vop_coding_type of the held picture, -1 empty
    int32_t clean;    // macroblocks with status 0
    int32_t seconds;  // modulo_time_base accumulated
    int32_t incr;     // vop_time_increment (temporal_reference in short-header mode)
};

// Intra prediction values of one 8x8 block: reconstructed DC, then the quantised first row
// (positions 1..7) or first column (8, 16, .. 56) after prediction.
struct PredLine {
    int16_t dc;
    int16_t ac[7];
};

// State machine of Mp4vDecDecode.
enum PicState : int32_t { kStart = 0, kPicDone = 1, kDecodeMbs = 2, kResync = 3 };

struct Instance {
    Mp4vDecMemBlock blocks[4];
    Mp4vDecPrintFn print;
    Mp4vStreamInfo *si;
    FrameDesc *frames;
    uint8_t *scratch;  // block 1, aligned
    uint8_t *maps;     // block 2, aligned
    uint32_t nframes;
    uint32_t maxW, maxH;
    int32_t shortHdr, deblock, lowDelay;
    int32_t volSeen;           // a layer header gave a nonzero size
    int32_t forceGeneral;      // test switch: progressive layers through the general decoders
    int16_t *fieldMv;          // latest reference, per macroblock: top and bottom field vectors
    uint8_t *fieldFlags;       // bit 0 field prediction, bits 1 and 2 the fields they referenced
    int32_t fieldT;            // TRB of the first B-VOP: the unit of interlaced field distances
    int16_t bPred[2][2][2];    // B-VOP vector predictors: direction, field (0 also frame), x/y
    int16_t spriteTraj[3][2];  // current S-VOP's sprite trajectory: du, dv per warping point
    struct GmcWarp *gmc;       // its warp (in block 1)
    uint32_t gmcMbs;           // macroblocks predicted through a warp (diagnostics and tests)

    // geometry
    int32_t width, height;  // display
    int32_t mbw, mbh, mbCount, pitch, rows, mbNumBits;
    int32_t gobRows;  // short header: macroblock rows per GOB

    // per-macroblock arrays (in block 2) and scratch (in block 1)
    int16_t *mv;  // 4 vectors per macroblock, x then y
    uint8_t *status;
    uint8_t *skip;
    uint8_t *quantMap[2];
    int32_t *texPos;      // reversible texture of a damaged packet: macroblock ends or starts
    uint8_t *texDesc;     // its per-macroblock layout (coded blocks, intra, DC apart)
    int32_t curQ;         // index of the quantiser map receiving the current picture
    int16_t *coef;        // 64 coefficients
    uint8_t *emu;         // edge emulation, pitch 24
    uint8_t *bidir;       // backward prediction for bidirectional macroblocks (16x16 + 2x 8x8)
    PredLine *topLuma;    // 2 per macroblock column: bottom blocks of the row above
    PredLine *topChroma;  // 2 per macroblock column: U then V
    PredLine *leftPred;   // left macroblock's blocks 1, 3, U, V
    int16_t *diagDc;      // top-left neighbour DCs of the next macroblock: luma, U, V

    // buffer roles: frame indices or -1
    int32_t past, future, cur, ret, pick;
    int32_t futureReturned;  // the future reference has already been given out
    int32_t lastType;        // coding type of the previous decoded picture, -1 none

    // picture in progress
    int32_t state;
    int32_t vopType;
    int32_t mbNext;      // next macroblock to decode
    int32_t sliceStart;  // first macroblock of the current packet
    int32_t quant;
    int32_t rounding;
    int32_t h263Tr;      // temporal_reference of the current short-header picture
    int32_t picSeconds;  // seconds of the current picture
    int32_t trd, trb;    // B-VOP temporal distances
    int32_t frameEnd, resetStatus;
    int32_t pastReturned;  // the past reference was already given out (before this picture)

    // output timing
    int32_t prevSeconds, prevIncr, prevTr;

    // user data sniffing
    int32_t xvidBuild, divxBuild;
};

// Bits for the values 0 .. v-1.
inline int CeilLog2(uint32_t v) {
    int n = 0;
    while ((1u << n) < v && n < 31) ++n;
    return n;
}

// headers.cpp
bool FindStartCode(BitReader *br, uint32_t *code);
bool ParseVol(Instance *d, BitReader *br);
void SniffUserData(Instance *d, BitReader *br);
bool ParseVop(Instance *d, BitReader *br);
int ParseVideoPacket(Instance *d, BitReader *br);  // 1 packet, 0 picture ends, -1 none found
bool FindShortHeader(BitReader *br);
bool ParseShortHeader(Instance *d, BitReader *br);
int ParseGob(Instance *d, BitReader *br);  // like ParseVideoPacket
void Print(const Instance *d, const char *text);

// decoder.cpp
bool SetupGeometry(Instance *d, int width, int height);

// macroblock.cpp: decode macroblocks from d->mbNext; true when the picture's last one is done.
bool DecodeMbsIP(Instance *d, BitReader *br);
bool DecodeMbsB(Instance *d, BitReader *br);
bool DecodeMbsH263(Instance *d, BitReader *br);
// partitioned.cpp: I and P VOPs of a data-partitioned layer, one packet per call.
bool DecodeMbsPartitioned(Instance *d, BitReader *br);

// conceal.cpp
void ConcealUpTo(Instance *d, int endMb);
void CopyMbFromRef(Instance *d, int mb, const FrameDesc *ref);
void FillOldEncoderEdges(Instance *d, FrameDesc *f);

// postfilter.cpp
void PostFilter(const Instance *d, const FrameDesc *src, FrameDesc *dst, const uint8_t *qmap);
void FilterEdge(uint8_t *p, int step, int qp);

}  // namespace mp4v
