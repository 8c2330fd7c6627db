#include "codec/mpeg4v/tables.h"

#include <cstddef>

namespace mp4v {
namespace {

struct TcoefCode {
    uint8_t len;
    uint16_t code;
    uint8_t last, run, level;
};
// {length, code, last, run, level}, by code length.
constexpr TcoefCode kInterTcoef[102] = {
    {2, 0x002, 0, 0, 1},   {3, 0x006, 0, 1, 1},   {4, 0x007, 1, 0, 1},   {4, 0x00e, 0, 2, 1},
    {4, 0x00f, 0, 0, 2},   {5, 0x00b, 0, 5, 1},   {5, 0x00c, 0, 4, 1},   {5, 0x00d, 0, 3, 1},
    {6, 0x00c, 1, 4, 1},   {6, 0x00d, 1, 3, 1},   {6, 0x00e, 1, 2, 1},   {6, 0x00f, 1, 1, 1},
    {6, 0x010, 0, 9, 1},   {6, 0x011, 0, 8, 1},   {6, 0x012, 0, 7, 1},   {6, 0x013, 0, 6, 1},
    {6, 0x014, 0, 1, 2},   {6, 0x015, 0, 0, 3},   {7, 0x010, 1, 8, 1},   {7, 0x011, 1, 7, 1},
    {7, 0x012, 1, 6, 1},   {7, 0x013, 1, 5, 1},   {7, 0x014, 0, 12, 1},  {7, 0x015, 0, 11, 1},
    {7, 0x016, 0, 10, 1},  {7, 0x017, 0, 0, 4},   {8, 0x013, 1, 16, 1},  {8, 0x014, 1, 15, 1},
    {8, 0x015, 1, 14, 1},  {8, 0x016, 1, 13, 1},  {8, 0x017, 1, 12, 1},  {8, 0x018, 1, 11, 1},
    {8, 0x019, 1, 10, 1},  {8, 0x01a, 1, 9, 1},   {8, 0x01b, 0, 14, 1},  {8, 0x01c, 0, 13, 1},
    {8, 0x01d, 0, 2, 2},   {8, 0x01e, 0, 1, 3},   {8, 0x01f, 0, 0, 5},   {9, 0x011, 1, 24, 1},
    {9, 0x012, 1, 23, 1},  {9, 0x013, 1, 22, 1},  {9, 0x014, 1, 21, 1},  {9, 0x015, 1, 20, 1},
    {9, 0x016, 1, 19, 1},  {9, 0x017, 1, 18, 1},  {9, 0x018, 1, 17, 1},  {9, 0x019, 1, 0, 2},
    {9, 0x01a, 0, 22, 1},  {9, 0x01b, 0, 21, 1},  {9, 0x01c, 0, 20, 1},  {9, 0x01d, 0, 19, 1},
    {9, 0x01e, 0, 18, 1},  {9, 0x01f, 0, 17, 1},  {9, 0x020, 0, 16, 1},  {9, 0x021, 0, 15, 1},
    {9, 0x022, 0, 4, 2},   {9, 0x023, 0, 3, 2},   {9, 0x024, 0, 0, 7},   {9, 0x025, 0, 0, 6},
    {10, 0x004, 1, 28, 1}, {10, 0x005, 1, 27, 1}, {10, 0x006, 1, 26, 1}, {10, 0x007, 1, 25, 1},
    {10, 0x008, 0, 9, 2},  {10, 0x009, 0, 8, 2},  {10, 0x00a, 0, 7, 2},  {10, 0x00b, 0, 6, 2},
    {10, 0x00c, 0, 5, 2},  {10, 0x00d, 0, 3, 3},  {10, 0x00e, 0, 2, 3},  {10, 0x00f, 0, 1, 4},
    {10, 0x020, 0, 0, 9},  {10, 0x021, 0, 0, 8},  {11, 0x004, 1, 1, 2},  {11, 0x005, 1, 0, 3},
    {11, 0x006, 0, 0, 11}, {11, 0x007, 0, 0, 10}, {11, 0x020, 0, 0, 12}, {11, 0x021, 0, 1, 5},
    {11, 0x022, 0, 23, 1}, {11, 0x023, 0, 24, 1}, {11, 0x024, 1, 29, 1}, {11, 0x025, 1, 30, 1},
    {11, 0x026, 1, 31, 1}, {11, 0x027, 1, 32, 1}, {12, 0x050, 0, 1, 6},  {12, 0x051, 0, 2, 4},
    {12, 0x052, 0, 4, 3},  {12, 0x053, 0, 5, 3},  {12, 0x054, 0, 6, 3},  {12, 0x055, 0, 10, 2},
    {12, 0x056, 0, 25, 1}, {12, 0x057, 0, 26, 1}, {12, 0x058, 1, 33, 1}, {12, 0x059, 1, 34, 1},
    {12, 0x05a, 1, 35, 1}, {12, 0x05b, 1, 36, 1}, {12, 0x05c, 1, 37, 1}, {12, 0x05d, 1, 38, 1},
    {12, 0x05e, 1, 39, 1}, {12, 0x05f, 1, 40, 1},
};

// {length, code, last, run, level}, by code length.
constexpr TcoefCode kIntraTcoef[102] = {
    {2, 0x002, 0, 0, 1},   {3, 0x006, 0, 0, 2},   {4, 0x007, 1, 0, 1},   {4, 0x00e, 0, 1, 1},
    {4, 0x00f, 0, 0, 3},   {5, 0x00b, 0, 2, 1},   {5, 0x00c, 0, 0, 5},   {5, 0x00d, 0, 0, 4},
    {6, 0x00c, 1, 0, 2},   {6, 0x00d, 0, 5, 1},   {6, 0x00e, 1, 2, 1},   {6, 0x00f, 1, 1, 1},
    {6, 0x010, 0, 4, 1},   {6, 0x011, 0, 3, 1},   {6, 0x012, 0, 0, 8},   {6, 0x013, 0, 0, 7},
    {6, 0x014, 0, 1, 2},   {6, 0x015, 0, 0, 6},   {7, 0x010, 1, 4, 1},   {7, 0x011, 1, 3, 1},
    {7, 0x012, 0, 6, 1},   {7, 0x013, 1, 5, 1},   {7, 0x014, 0, 7, 1},   {7, 0x015, 0, 2, 2},
    {7, 0x016, 0, 1, 3},   {7, 0x017, 0, 0, 9},   {8, 0x013, 1, 8, 1},   {8, 0x014, 1, 7, 1},
    {8, 0x015, 1, 6, 1},   {8, 0x016, 1, 0, 3},   {8, 0x017, 0, 10, 1},  {8, 0x018, 0, 9, 1},
    {8, 0x019, 0, 8, 1},   {8, 0x01a, 1, 9, 1},   {8, 0x01b, 0, 3, 2},   {8, 0x01c, 0, 1, 4},
    {8, 0x01d, 0, 0, 12},  {8, 0x01e, 0, 0, 11},  {8, 0x01f, 0, 0, 10},  {9, 0x011, 1, 14, 1},
    {9, 0x012, 1, 13, 1},  {9, 0x013, 1, 12, 1},  {9, 0x014, 1, 11, 1},  {9, 0x015, 1, 10, 1},
    {9, 0x016, 1, 1, 2},   {9, 0x017, 1, 0, 4},   {9, 0x018, 0, 12, 1},  {9, 0x019, 0, 11, 1},
    {9, 0x01a, 0, 7, 2},   {9, 0x01b, 0, 6, 2},   {9, 0x01c, 0, 5, 2},   {9, 0x01d, 0, 3, 3},
    {9, 0x01e, 0, 2, 3},   {9, 0x01f, 0, 1, 6},   {9, 0x020, 0, 1, 5},   {9, 0x021, 0, 0, 16},
    {9, 0x022, 0, 4, 2},   {9, 0x023, 0, 0, 15},  {9, 0x024, 0, 0, 14},  {9, 0x025, 0, 0, 13},
    {10, 0x004, 1, 2, 2},  {10, 0x005, 1, 1, 3},  {10, 0x006, 1, 0, 5},  {10, 0x007, 0, 13, 1},
    {10, 0x008, 0, 5, 3},  {10, 0x009, 0, 8, 2},  {10, 0x00a, 0, 4, 3},  {10, 0x00b, 0, 3, 4},
    {10, 0x00c, 0, 2, 4},  {10, 0x00d, 0, 1, 7},  {10, 0x00e, 0, 0, 20}, {10, 0x00f, 0, 0, 19},
    {10, 0x020, 0, 0, 18}, {10, 0x021, 0, 0, 17}, {11, 0x004, 1, 0, 7},  {11, 0x005, 1, 0, 6},
    {11, 0x006, 0, 0, 22}, {11, 0x007, 0, 0, 21}, {11, 0x020, 0, 0, 23}, {11, 0x021, 0, 0, 24},
    {11, 0x022, 0, 1, 8},  {11, 0x023, 0, 9, 2},  {11, 0x024, 1, 3, 2},  {11, 0x025, 1, 4, 2},
    {11, 0x026, 1, 15, 1}, {11, 0x027, 1, 16, 1}, {12, 0x050, 0, 0, 25}, {12, 0x051, 0, 0, 26},
    {12, 0x052, 0, 0, 27}, {12, 0x053, 0, 1, 9},  {12, 0x054, 0, 6, 3},  {12, 0x055, 0, 1, 10},
    {12, 0x056, 0, 2, 5},  {12, 0x057, 0, 7, 3},  {12, 0x058, 0, 14, 1}, {12, 0x059, 1, 0, 8},
    {12, 0x05a, 1, 5, 2},  {12, 0x05b, 1, 6, 2},  {12, 0x05c, 1, 17, 1}, {12, 0x05d, 1, 18, 1},
    {12, 0x05e, 1, 19, 1}, {12, 0x05f, 1, 20, 1},
};

constexpr uint16_t kEscapeCode = 0x03;  // 0000011
constexpr int kEscapeLen = 7;

template <size_t N>
constexpr std::array<TcoefEntry, 4096> BuildTcoef(const TcoefCode (&codes)[N]) {
    std::array<TcoefEntry, 4096> t{};
    for (const TcoefCode &c : codes) {
        int shift = kTcoefPeek - c.len;
        for (int i = c.code << shift; i < (c.code + 1) << shift; ++i)
            t[i] = TcoefEntry{c.len, c.last, c.run, c.level};
    }
    int shift = kTcoefPeek - kEscapeLen;
    for (int i = kEscapeCode << shift; i < (kEscapeCode + 1) << shift; ++i)
        t[i] = TcoefEntry{kEscapeLen, 0, 0, 0};
    return t;
}

template <size_t N>
constexpr std::array<std::array<uint8_t, 64>, 2> BuildMaxLevel(const TcoefCode (&codes)[N]) {
    std::array<std::array<uint8_t, 64>, 2> t{};
    for (const TcoefCode &c : codes)
        if (c.level > t[c.last][c.run]) t[c.last][c.run] = c.level;
    return t;
}

template <size_t N>
constexpr std::array<std::array<uint8_t, 64>, 2> BuildMaxRun(const TcoefCode (&codes)[N]) {
    std::array<std::array<uint8_t, 64>, 2> t{};
    for (const TcoefCode &c : codes)
        if (c.run > t[c.last][c.level]) t[c.last][c.level] = c.run;
    return t;
}

struct SmallCode {
    uint8_t len;
    uint16_t code;
    uint8_t val;
};

template <size_t Size, size_t N>
constexpr std::array<Vlc, Size> BuildSmall(const SmallCode (&codes)[N], int peek) {
    std::array<Vlc, Size> t{};
    for (const SmallCode &c : codes) {
        int shift = peek - c.len;
        for (int i = c.code << shift; i < (c.code + 1) << shift; ++i) t[i] = Vlc{c.len, c.val};
    }
    return t;
}

// 14496-2 Table B-6: MCBPC for I-VOPs; val = mb_type << 2 | cbpc.
constexpr SmallCode kMcbpcIntra[] = {
    {1, 0x1, 3 << 2 | 0}, {3, 0x1, 3 << 2 | 1}, {3, 0x2, 3 << 2 | 2},
    {3, 0x3, 3 << 2 | 3}, {4, 0x1, 4 << 2 | 0}, {6, 0x1, 4 << 2 | 1},
    {6, 0x2, 4 << 2 | 2}, {6, 0x3, 4 << 2 | 3}, {9, 0x1, kMcbpcStuffing},
};
// 14496-2 Table B-7: MCBPC for P-VOPs.
constexpr SmallCode kMcbpcInter[] = {
    {1, 0x1, 0 << 2 | 0},     {4, 0x3, 0 << 2 | 1}, {4, 0x2, 0 << 2 | 2}, {6, 0x5, 0 << 2 | 3},
    {3, 0x3, 1 << 2 | 0},     {7, 0x7, 1 << 2 | 1}, {7, 0x6, 1 << 2 | 2}, {9, 0x5, 1 << 2 | 3},
    {3, 0x2, 2 << 2 | 0},     {7, 0x5, 2 << 2 | 1}, {7, 0x4, 2 << 2 | 2}, {8, 0x5, 2 << 2 | 3},
    {5, 0x3, 3 << 2 | 0},     {8, 0x4, 3 << 2 | 1}, {8, 0x3, 3 << 2 | 2}, {7, 0x3, 3 << 2 | 3},
    {6, 0x4, 4 << 2 | 0},     {9, 0x4, 4 << 2 | 1}, {9, 0x3, 4 << 2 | 2}, {9, 0x2, 4 << 2 | 3},
    {9, 0x1, kMcbpcStuffing},
};
// 14496-2 Table B-8: CBPY, value as for intra macroblocks.
constexpr SmallCode kCbpy[] = {
    {4, 0x3, 0},  {5, 0x5, 1},  {5, 0x4, 2},  {4, 0x9, 3},  {5, 0x3, 4},  {4, 0x7, 5},
    {6, 0x2, 6},  {4, 0xb, 7},  {5, 0x2, 8},  {6, 0x3, 9},  {4, 0x5, 10}, {4, 0xa, 11},
    {4, 0x4, 12}, {4, 0x8, 13}, {4, 0x6, 14}, {2, 0x3, 15},
};
// 14496-2 Table B-12: motion_code magnitude (the sign bit follows a nonzero one).
constexpr SmallCode kMvd[] = {
    {1, 0x1, 0},    {2, 0x1, 1},   {3, 0x1, 2},   {4, 0x1, 3},   {6, 0x3, 4},   {7, 0x5, 5},
    {7, 0x4, 6},    {7, 0x3, 7},   {9, 0xb, 8},   {9, 0xa, 9},   {9, 0x9, 10},  {10, 0x11, 11},
    {10, 0x10, 12}, {10, 0xf, 13}, {10, 0xe, 14}, {10, 0xd, 15}, {10, 0xc, 16}, {10, 0xb, 17},
    {10, 0xa, 18},  {10, 0x9, 19}, {10, 0x8, 20}, {10, 0x7, 21}, {10, 0x6, 22}, {10, 0x5, 23},
    {10, 0x4, 24},  {11, 0x7, 25}, {11, 0x6, 26}, {11, 0x5, 27}, {11, 0x4, 28}, {11, 0x3, 29},
    {11, 0x2, 30},  {12, 0x3, 31}, {12, 0x2, 32},
};
// 14496-2 Tables B-13 and B-14: dct_dc_size.
constexpr SmallCode kDcLuma[] = {
    {3, 0x3, 0}, {2, 0x3, 1}, {2, 0x2, 2}, {3, 0x2, 3},  {3, 0x1, 4},   {4, 0x1, 5},   {5, 0x1, 6},
    {6, 0x1, 7}, {7, 0x1, 8}, {8, 0x1, 9}, {9, 0x1, 10}, {10, 0x1, 11}, {11, 0x1, 12},
};
constexpr SmallCode kDcChroma[] = {
    {2, 0x3, 0}, {2, 0x2, 1}, {2, 0x1, 2}, {3, 0x1, 3},   {4, 0x1, 4},   {5, 0x1, 5},   {6, 0x1, 6},
    {7, 0x1, 7}, {8, 0x1, 8}, {9, 0x1, 9}, {10, 0x1, 10}, {11, 0x1, 11}, {12, 0x1, 12},
};

}  // namespace

constexpr std::array<TcoefEntry, 4096> kTcoefInterLut = BuildTcoef(kInterTcoef);
constexpr std::array<TcoefEntry, 4096> kTcoefIntraLut = BuildTcoef(kIntraTcoef);
constexpr std::array<std::array<uint8_t, 64>, 2> kInterMaxLevel = BuildMaxLevel(kInterTcoef);
constexpr std::array<std::array<uint8_t, 64>, 2> kIntraMaxLevel = BuildMaxLevel(kIntraTcoef);
constexpr std::array<std::array<uint8_t, 64>, 2> kInterMaxRun = BuildMaxRun(kInterTcoef);
constexpr std::array<std::array<uint8_t, 64>, 2> kIntraMaxRun = BuildMaxRun(kIntraTcoef);
constexpr std::array<Vlc, 512> kMcbpcIntraLut = BuildSmall<512>(kMcbpcIntra, 9);
constexpr std::array<Vlc, 512> kMcbpcInterLut = BuildSmall<512>(kMcbpcInter, 9);
constexpr std::array<Vlc, 64> kCbpyLut = BuildSmall<64>(kCbpy, 6);
constexpr std::array<Vlc, 4096> kMvdLut = BuildSmall<4096>(kMvd, 12);
constexpr std::array<Vlc, 4096> kDcSizeLumaLut = BuildSmall<4096>(kDcLuma, 12);
constexpr std::array<Vlc, 4096> kDcSizeChromaLut = BuildSmall<4096>(kDcChroma, 12);

const uint8_t kZigzag[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};
const uint8_t kAltHorizontal[64] = {
    0,  1,  2,  3,  8,  9,  16, 17, 10, 11, 4,  5,  6,  7,  15, 14, 13, 12, 19, 18, 24, 25,
    32, 33, 26, 27, 20, 21, 22, 23, 28, 29, 30, 31, 34, 35, 40, 41, 48, 49, 42, 43, 36, 37,
    38, 39, 44, 45, 46, 47, 50, 51, 56, 57, 58, 59, 52, 53, 54, 55, 60, 61, 62, 63,
};
const uint8_t kAltVertical[64] = {
    0,  8,  16, 24, 1,  9,  2,  10, 17, 25, 32, 40, 48, 56, 57, 49, 41, 33, 26, 18, 3,  11,
    4,  12, 19, 27, 34, 42, 50, 58, 35, 43, 51, 59, 20, 28, 5,  13, 6,  14, 21, 29, 36, 44,
    52, 60, 37, 45, 53, 61, 22, 30, 7,  15, 23, 31, 38, 46, 54, 62, 39, 47, 55, 63,
};
const uint8_t kDefaultIntraMatrix[64] = {
    8,  17, 18, 19, 21, 23, 25, 27, 17, 18, 19, 21, 23, 25, 27, 28, 20, 21, 22, 23, 24, 26,
    28, 30, 21, 22, 23, 24, 26, 28, 30, 32, 22, 23, 24, 26, 28, 30, 32, 35, 23, 24, 26, 28,
    30, 32, 35, 38, 25, 26, 28, 30, 32, 35, 38, 41, 27, 28, 30, 32, 35, 38, 41, 45,
};
const uint8_t kDefaultInterMatrix[64] = {
    16, 17, 18, 19, 20, 21, 22, 23, 17, 18, 19, 20, 21, 22, 23, 24, 18, 19, 20, 21, 22, 23,
    24, 25, 19, 20, 21, 22, 23, 24, 26, 27, 20, 21, 22, 23, 25, 26, 27, 28, 21, 22, 23, 24,
    26, 27, 28, 30, 22, 23, 24, 26, 27, 28, 30, 31, 23, 24, 25, 27, 28, 30, 31, 33,
};

}  // namespace mp4v
