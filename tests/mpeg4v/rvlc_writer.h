#pragma once
// Writes macroblock content as MPEG-4 video packets, either data-partitioned (VLC or reversible
// VLC texture) or combined, so the tests can check that every layout of the same content
// decodes to the same pictures, and can damage one packet on purpose.
#include <cstdint>
#include <vector>

namespace mp4vtest {

struct MbContent {
    bool notCoded = false;  // P-VOPs only
    bool intra = false;
    bool four = false;  // four vectors; never together with dquant
    int dquant = 0;     // 0, or -2, -1, 1, 2 (selects the "+Q" type)
    bool acPred = false;
    int stuffing = 0;    // macroblock stuffing codes before it (combined layout: I-VOPs only)
    int mvd[4][2] = {};  // vector differences (half samples); [0] alone unless four
    int dc[6] = {};      // intra DC differentials (DC VLC, or first coefficient)
    int16_t level[6][64] = {};  // quantised levels in zigzag order; [b][0] unused for intra
};

struct PictureContent {
    int type = 0;  // 0 I, 1 P
    int quant = 8;
    int fcode = 1;
    int rounding = 0;
    int dcThrCode = 0;                 // intra_dc_vlc_thr
    std::vector<int> packetStarts{0};  // first macroblock of each packet, ascending
    std::vector<MbContent> mbs;        // every macroblock of the picture
};

enum class Layout { kCombined, kPartitioned, kPartitionedRvlc };

// Damage to one packet of one picture (data-partitioned layouts).
struct Damage {
    int picture = -1;
    int packet = -1;
    bool breakMarker = false;  // the DC or motion marker is written wrong
    int badTextureMb = -1;     // this macroblock's texture is an invalid code
    int cutTextureMb = -1;     // the stream ends where this macroblock's texture begins
    // One bit flipped in each of these macroblocks' texture, `flipOffset` bits into it.
    std::vector<int> flipTextureMbs;
    int flipOffset = 0;
};

// The layer header followed by one VOP per picture.
std::vector<uint8_t> WriteLayer(int width, int height, Layout layout,
                                const std::vector<PictureContent> &pictures,
                                const Damage &damage = {});

}  // namespace mp4vtest
