// Reversible VLC tables and the forward TCOEF reader.
#include "codec/mpeg4v/rvlc.h"

#include <array>

#include "codec/mpeg4v/tables.h"

namespace mp4v {

// 14496-2 Table B-23, ordered by length, then code. Columns: code (without the sign bit),
// length, intra last/run/level, inter last/run/level.
// clang-format off
constexpr RvlcCode kRvlcCodes[kRvlcCodeCount] = {
    {0x0006,  3, 0,  0,  1, 0,  0,  1},
    {0x0007,  3, 0,  0,  2, 0,  1,  1},
    {0x0001,  4, 0,  1,  1, 0,  0,  2},
    {0x000A,  4, 0,  0,  3, 0,  2,  1},
    {0x000B,  4, 1,  0,  1, 1,  0,  1},
    {0x0004,  5, 0,  2,  1, 0,  0,  3},
    {0x0005,  5, 0,  3,  1, 0,  3,  1},
    {0x0008,  5, 0,  1,  2, 0,  4,  1},
    {0x0009,  5, 0,  0,  4, 0,  5,  1},
    {0x0012,  5, 1,  1,  1, 1,  1,  1},
    {0x0013,  5, 1,  2,  1, 1,  2,  1},
    {0x000C,  6, 0,  4,  1, 0,  1,  2},
    {0x000D,  6, 0,  5,  1, 0,  6,  1},
    {0x0014,  6, 0,  0,  5, 0,  7,  1},
    {0x0015,  6, 0,  0,  6, 0,  8,  1},
    {0x0018,  6, 1,  3,  1, 1,  3,  1},
    {0x0019,  6, 1,  4,  1, 1,  4,  1},
    {0x0022,  6, 1,  5,  1, 1,  5,  1},
    {0x0023,  6, 1,  6,  1, 1,  6,  1},
    {0x001C,  7, 0,  6,  1, 0,  0,  4},
    {0x001D,  7, 0,  7,  1, 0,  2,  2},
    {0x002C,  7, 0,  2,  2, 0,  9,  1},
    {0x002D,  7, 0,  1,  3, 0, 10,  1},
    {0x0034,  7, 0,  0,  7, 0, 11,  1},
    {0x0035,  7, 1,  7,  1, 1,  7,  1},
    {0x0038,  7, 1,  8,  1, 1,  8,  1},
    {0x0039,  7, 1,  9,  1, 1,  9,  1},
    {0x0042,  7, 1, 10,  1, 1, 10,  1},
    {0x0043,  7, 1, 11,  1, 1, 11,  1},
    {0x003C,  8, 0,  8,  1, 0,  0,  5},
    {0x003D,  8, 0,  9,  1, 0,  0,  6},
    {0x005C,  8, 0,  3,  2, 0,  1,  3},
    {0x005D,  8, 0,  4,  2, 0,  3,  2},
    {0x006C,  8, 0,  1,  4, 0,  4,  2},
    {0x006D,  8, 0,  1,  5, 0, 12,  1},
    {0x0074,  8, 0,  0,  8, 0, 13,  1},
    {0x0075,  8, 0,  0,  9, 0, 14,  1},
    {0x0078,  8, 1,  0,  2, 1,  0,  2},
    {0x0079,  8, 1, 12,  1, 1, 12,  1},
    {0x0082,  8, 1, 13,  1, 1, 13,  1},
    {0x0083,  8, 1, 14,  1, 1, 14,  1},
    {0x007C,  9, 0, 10,  1, 0,  0,  7},
    {0x007D,  9, 0,  5,  2, 0,  1,  4},
    {0x00BC,  9, 0,  2,  3, 0,  2,  3},
    {0x00BD,  9, 0,  3,  3, 0,  5,  2},
    {0x00DC,  9, 0,  1,  6, 0, 15,  1},
    {0x00DD,  9, 0,  0, 10, 0, 16,  1},
    {0x00EC,  9, 0,  0, 11, 0, 17,  1},
    {0x00ED,  9, 1,  1,  2, 1,  1,  2},
    {0x00F4,  9, 1, 15,  1, 1, 15,  1},
    {0x00F5,  9, 1, 16,  1, 1, 16,  1},
    {0x00F8,  9, 1, 17,  1, 1, 17,  1},
    {0x00F9,  9, 1, 18,  1, 1, 18,  1},
    {0x0102,  9, 1, 19,  1, 1, 19,  1},
    {0x0103,  9, 1, 20,  1, 1, 20,  1},
    {0x00FC, 10, 0, 11,  1, 0,  0,  8},
    {0x00FD, 10, 0, 12,  1, 0,  0,  9},
    {0x017C, 10, 0,  6,  2, 0,  1,  5},
    {0x017D, 10, 0,  7,  2, 0,  3,  3},
    {0x01BC, 10, 0,  8,  2, 0,  6,  2},
    {0x01BD, 10, 0,  4,  3, 0,  7,  2},
    {0x01DC, 10, 0,  2,  4, 0,  8,  2},
    {0x01DD, 10, 0,  1,  7, 0,  9,  2},
    {0x01EC, 10, 0,  0, 12, 0, 18,  1},
    {0x01ED, 10, 0,  0, 13, 0, 19,  1},
    {0x01F4, 10, 0,  0, 14, 0, 20,  1},
    {0x01F5, 10, 1, 21,  1, 1, 21,  1},
    {0x01F8, 10, 1, 22,  1, 1, 22,  1},
    {0x01F9, 10, 1, 23,  1, 1, 23,  1},
    {0x0202, 10, 1, 24,  1, 1, 24,  1},
    {0x0203, 10, 1, 25,  1, 1, 25,  1},
    {0x01FC, 11, 0, 13,  1, 0,  0, 10},
    {0x01FD, 11, 0,  9,  2, 0,  0, 11},
    {0x02FC, 11, 0,  5,  3, 0,  1,  6},
    {0x02FD, 11, 0,  6,  3, 0,  2,  4},
    {0x037C, 11, 0,  7,  3, 0,  4,  3},
    {0x037D, 11, 0,  3,  4, 0,  5,  3},
    {0x03BC, 11, 0,  2,  5, 0, 10,  2},
    {0x03BD, 11, 0,  2,  6, 0, 21,  1},
    {0x03DC, 11, 0,  1,  8, 0, 22,  1},
    {0x03DD, 11, 0,  1,  9, 0, 23,  1},
    {0x03EC, 11, 0,  0, 15, 0, 24,  1},
    {0x03ED, 11, 0,  0, 16, 0, 25,  1},
    {0x03F4, 11, 0,  0, 17, 0, 26,  1},
    {0x03F5, 11, 1,  0,  3, 1,  0,  3},
    {0x03F8, 11, 1,  2,  2, 1,  2,  2},
    {0x03F9, 11, 1, 26,  1, 1, 26,  1},
    {0x0402, 11, 1, 27,  1, 1, 27,  1},
    {0x0403, 11, 1, 28,  1, 1, 28,  1},
    {0x03FC, 12, 0, 10,  2, 0,  0, 12},
    {0x03FD, 12, 0,  4,  4, 0,  1,  7},
    {0x05FC, 12, 0,  5,  4, 0,  2,  5},
    {0x05FD, 12, 0,  6,  4, 0,  3,  4},
    {0x06FC, 12, 0,  3,  5, 0,  6,  3},
    {0x06FD, 12, 0,  4,  5, 0,  7,  3},
    {0x077C, 12, 0,  1, 10, 0, 11,  2},
    {0x077D, 12, 0,  0, 18, 0, 27,  1},
    {0x07BC, 12, 0,  0, 19, 0, 28,  1},
    {0x07BD, 12, 0,  0, 22, 0, 29,  1},
    {0x07DC, 12, 1,  1,  3, 1,  1,  3},
    {0x07DD, 12, 1,  3,  2, 1,  3,  2},
    {0x07EC, 12, 1,  4,  2, 1,  4,  2},
    {0x07ED, 12, 1, 29,  1, 1, 29,  1},
    {0x07F4, 12, 1, 30,  1, 1, 30,  1},
    {0x07F5, 12, 1, 31,  1, 1, 31,  1},
    {0x07F8, 12, 1, 32,  1, 1, 32,  1},
    {0x07F9, 12, 1, 33,  1, 1, 33,  1},
    {0x0802, 12, 1, 34,  1, 1, 34,  1},
    {0x0803, 12, 1, 35,  1, 1, 35,  1},
    {0x07FC, 13, 0, 14,  1, 0,  0, 13},
    {0x07FD, 13, 0, 15,  1, 0,  0, 14},
    {0x0BFC, 13, 0, 11,  2, 0,  0, 15},
    {0x0BFD, 13, 0,  8,  3, 0,  0, 16},
    {0x0DFC, 13, 0,  9,  3, 0,  1,  8},
    {0x0DFD, 13, 0,  7,  4, 0,  3,  5},
    {0x0EFC, 13, 0,  3,  6, 0,  4,  4},
    {0x0EFD, 13, 0,  2,  7, 0,  5,  4},
    {0x0F7C, 13, 0,  2,  8, 0,  8,  3},
    {0x0F7D, 13, 0,  2,  9, 0, 12,  2},
    {0x0FBC, 13, 0,  1, 11, 0, 30,  1},
    {0x0FBD, 13, 0,  0, 20, 0, 31,  1},
    {0x0FDC, 13, 0,  0, 21, 0, 32,  1},
    {0x0FDD, 13, 0,  0, 23, 0, 33,  1},
    {0x0FEC, 13, 1,  0,  4, 1,  0,  4},
    {0x0FED, 13, 1,  5,  2, 1,  5,  2},
    {0x0FF4, 13, 1,  6,  2, 1,  6,  2},
    {0x0FF5, 13, 1,  7,  2, 1,  7,  2},
    {0x0FF8, 13, 1,  8,  2, 1,  8,  2},
    {0x0FF9, 13, 1,  9,  2, 1,  9,  2},
    {0x1002, 13, 1, 36,  1, 1, 36,  1},
    {0x1003, 13, 1, 37,  1, 1, 37,  1},
    {0x0FFC, 14, 0, 16,  1, 0,  0, 17},
    {0x0FFD, 14, 0, 17,  1, 0,  0, 18},
    {0x17FC, 14, 0, 18,  1, 0,  1,  9},
    {0x17FD, 14, 0,  8,  4, 0,  1, 10},
    {0x1BFC, 14, 0,  5,  5, 0,  2,  6},
    {0x1BFD, 14, 0,  4,  6, 0,  2,  7},
    {0x1DFC, 14, 0,  5,  6, 0,  3,  6},
    {0x1DFD, 14, 0,  3,  7, 0,  6,  4},
    {0x1EFC, 14, 0,  3,  8, 0,  9,  3},
    {0x1EFD, 14, 0,  2, 10, 0, 13,  2},
    {0x1F7C, 14, 0,  2, 11, 0, 14,  2},
    {0x1F7D, 14, 0,  1, 12, 0, 15,  2},
    {0x1FBC, 14, 0,  1, 13, 0, 16,  2},
    {0x1FBD, 14, 0,  0, 24, 0, 34,  1},
    {0x1FDC, 14, 0,  0, 25, 0, 35,  1},
    {0x1FDD, 14, 0,  0, 26, 0, 36,  1},
    {0x1FEC, 14, 1,  0,  5, 1,  0,  5},
    {0x1FED, 14, 1,  1,  4, 1,  1,  4},
    {0x1FF4, 14, 1, 10,  2, 1, 10,  2},
    {0x1FF5, 14, 1, 11,  2, 1, 11,  2},
    {0x1FF8, 14, 1, 12,  2, 1, 12,  2},
    {0x1FF9, 14, 1, 38,  1, 1, 38,  1},
    {0x2002, 14, 1, 39,  1, 1, 39,  1},
    {0x2003, 14, 1, 40,  1, 1, 40,  1},
    {0x1FFC, 15, 0,  0, 27, 0,  0, 19},
    {0x1FFD, 15, 0,  3,  9, 0,  3,  7},
    {0x2FFC, 15, 0,  6,  5, 0,  4,  5},
    {0x2FFD, 15, 0,  7,  5, 0,  7,  4},
    {0x37FC, 15, 0,  9,  4, 0, 17,  2},
    {0x37FD, 15, 0, 12,  2, 0, 37,  1},
    {0x3BFC, 15, 0, 19,  1, 0, 38,  1},
    {0x3BFD, 15, 1,  1,  5, 1,  1,  5},
    {0x3DFC, 15, 1,  2,  3, 1,  2,  3},
    {0x3DFD, 15, 1, 13,  2, 1, 13,  2},
    {0x3EFC, 15, 1, 41,  1, 1, 41,  1},
    {0x3EFD, 15, 1, 42,  1, 1, 42,  1},
    {0x3F7C, 15, 1, 43,  1, 1, 43,  1},
    {0x3F7D, 15, 1, 44,  1, 1, 44,  1},
};
// clang-format on

namespace {

// Lookup over the next 15 bits: code index + 1 in the low byte, length above; 0 is invalid.
// The escape gets index kRvlcCodeCount.
constexpr std::array<uint16_t, 1 << kRvlcMaxLen> BuildLut() {
    std::array<uint16_t, 1 << kRvlcMaxLen> t{};
    for (int k = 0; k <= kRvlcCodeCount; ++k) {
        int len = k < kRvlcCodeCount ? kRvlcCodes[k].len : kRvlcEscapeLen;
        int code = k < kRvlcCodeCount ? kRvlcCodes[k].code : 0;
        int shift = kRvlcMaxLen - len;
        for (int s = 0; s < (1 << shift); ++s)
            t[size_t((code << shift) | s)] = uint16_t((len << 8) | (k + 1));
    }
    return t;
}

constexpr std::array<uint16_t, 1 << kRvlcMaxLen> kRvlcLut = BuildLut();

constexpr uint32_t Reverse(uint32_t v, int n) {
    uint32_t r = 0;
    for (int i = 0; i < n; ++i) r = (r << 1) | ((v >> i) & 1);
    return r;
}

// The same lookup for codes met from their far end (the sign bit already taken).
constexpr std::array<uint16_t, 1 << kRvlcMaxLen> BuildBackLut() {
    std::array<uint16_t, 1 << kRvlcMaxLen> t{};
    for (int k = 0; k <= kRvlcCodeCount; ++k) {
        int len = k < kRvlcCodeCount ? kRvlcCodes[k].len : kRvlcEscapeLen;
        uint32_t code = k < kRvlcCodeCount ? Reverse(kRvlcCodes[k].code, len) : 0;
        int shift = kRvlcMaxLen - len;
        for (int s = 0; s < (1 << shift); ++s)
            t[size_t((code << shift) | uint32_t(s))] = uint16_t((len << 8) | (k + 1));
    }
    return t;
}

constexpr std::array<uint16_t, 1 << kRvlcMaxLen> kRvlcBackLut = BuildBackLut();

// Reads bits from `pos - 1` down; the first bit read is the most significant of a Peek. Bits
// below `floor` read as zero and mark the reader as run out. Only damaged packets come here, so
// bit-at-a-time is fast enough.
struct BackReader {
    const uint8_t *data;
    int64_t pos, floor;
    bool under;

    uint32_t Peek(int n) const {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) {
            int64_t b = pos - 1 - i;
            uint32_t bit = b >= floor ? (data[b >> 3] >> (7 - (b & 7))) & 1 : 0;
            v = (v << 1) | bit;
        }
        return v;
    }
    void Skip(int n) {
        pos -= n;
        if (pos < floor) under = true;
    }
    uint32_t Read(int n) {
        uint32_t v = Peek(n);
        Skip(n);
        return v;
    }
};

// One event read backward: its sign, the code (or the escape's fields in reverse order:
// marker, level, marker, run, last, the opening escape's s bit, the escape).
bool EventBackward(BackReader *r, bool intra, int *last, int *run) {
    r->Skip(1);
    uint16_t e = kRvlcBackLut[r->Peek(kRvlcMaxLen)];
    if (e == 0) return false;
    r->Skip(e >> 8);
    int k = (e & 0xFF) - 1;
    if (k < kRvlcCodeCount) {
        const RvlcCode &c = kRvlcCodes[k];
        *last = intra ? c.intraLast : c.interLast;
        *run = intra ? c.intraRun : c.interRun;
    } else {
        if (!r->Read(1)) return false;
        if (r->Read(11) == 0) return false;
        if (!r->Read(1)) return false;
        *run = int(Reverse(r->Read(6), 6));
        *last = int(r->Read(1));
        r->Skip(1);
        if (r->Read(kRvlcEscapeLen) != 0) return false;
    }
    return !r->under;
}

}  // namespace

bool ReadTcoefRvlc(BitReader *br, int16_t *blk, int i, const uint8_t *scan, bool intra,
                   CoefList *list) {
    for (;;) {
        uint16_t e = kRvlcLut[br->Peek(kRvlcMaxLen)];
        if (e == 0) return false;
        br->Skip(e >> 8);
        int k = (e & 0xFF) - 1;
        int run, level, last;
        if (k < kRvlcCodeCount) {
            const RvlcCode &c = kRvlcCodes[k];
            last = intra ? c.intraLast : c.interLast;
            run = intra ? c.intraRun : c.interRun;
            level = intra ? c.intraLevel : c.interLevel;
            if (br->Bit()) level = -level;
        } else {
            // The s bit of the opening escape carries nothing in forward decoding.
            br->Skip(1);
            last = int(br->Bit());
            run = int(br->Read(6));
            if (!br->Bit()) return false;
            level = int(br->Read(11));
            if (!br->Bit()) return false;
            if (br->Read(kRvlcEscapeLen) != 0) return false;
            if (level == 0) return false;
            if (br->Bit()) level = -level;
        }
        if (!PutTcoef(blk, &i, scan, run, level, list)) return false;
        if (last) return !br->over;
        if (i > 63) return false;
    }
}

int ParseRvlcForward(BitReader *br, int16_t *blk, const uint8_t *desc, int n, int64_t limit,
                     int32_t *ends) {
    const int64_t begin = br->BitPos();
    for (int k = 0; k < n; ++k) {
        const bool intra = desc[k] & kTexIntra;
        const int first = intra && (desc[k] & kTexDcApart) ? 1 : 0;
        for (int b = 0; b < 6; ++b) {
            if (!(desc[k] & (32 >> b))) continue;
            CoefList list;
            list.n = 0;
            bool ok = ReadTcoefRvlc(br, blk, first, kZigzag, intra, &list);
            for (int i = 0; i < list.n; ++i) blk[list.pos[i]] = 0;
            if (!ok || br->BitPos() > limit) return k;
        }
        ends[k] = int32_t(br->BitPos() - begin);
    }
    return n;
}

int ParseRvlcBackward(const uint8_t *data, int64_t begin, int64_t end, const uint8_t *desc, int n,
                      int storeAbove, int32_t *starts, int64_t *stop) {
    BackReader r{data, end, begin, false};
    for (int k = n - 1; k >= 0; --k) {
        const bool intra = desc[k] & kTexIntra;
        const int room = 64 - (intra && (desc[k] & kTexDcApart) ? 1 : 0);
        for (int b = 5; b >= 0; --b) {
            if (!(desc[k] & (32 >> b))) continue;
            // A block read from its end opens with its last event and runs back to the previous
            // block's last event, or to the start of the texture.
            int last = 0, run = 0;
            int64_t at = r.pos;
            if (r.pos <= begin || !EventBackward(&r, intra, &last, &run) || !last) {
                *stop = at - kRvlcMaxLen - 1 < begin ? begin : at - kRvlcMaxLen - 1;
                return k;
            }
            int used = run + 1;
            while (r.pos > begin) {
                at = r.pos;
                if (!EventBackward(&r, intra, &last, &run)) {
                    *stop = at - kRvlcMaxLen - 1 < begin ? begin : at - kRvlcMaxLen - 1;
                    return k;
                }
                if (last) {
                    r.pos = at;
                    break;
                }
                used += run + 1;
            }
            if (used > room) {
                *stop = r.pos;
                return k;
            }
        }
        if (k > storeAbove) starts[k] = int32_t(r.pos - begin);
    }
    if (r.pos != begin) {
        *stop = r.pos;
        return 0;
    }
    *stop = begin;
    return -1;
}

}  // namespace mp4v
