#pragma once
// VLC lookup tables, scans and quantiser matrices of ISO/IEC 14496-2 (and the H.263 short header).
#include <array>
#include <cstdint>

namespace mp4v {

// One lookup entry for a peeked bit pattern: len 0 = invalid code.
struct Vlc {
    uint8_t len;
    uint8_t val;
};

// TCOEF lookup over the next 12 bits. level 0 marks the escape code.
struct TcoefEntry {
    uint8_t len;
    uint8_t last;
    uint8_t run;
    uint8_t level;
};

constexpr int kTcoefPeek = 12;
constexpr uint8_t kMcbpcStuffing = 0xFE;

extern const std::array<TcoefEntry, 4096> kTcoefInterLut;  // 14496-2 Table B-17 (= H.263's)
extern const std::array<TcoefEntry, 4096> kTcoefIntraLut;  // 14496-2 Table B-16
// Largest level for (last, run) and largest run for (last, level), for escape modes 1 and 2.
extern const std::array<std::array<uint8_t, 64>, 2> kInterMaxLevel, kIntraMaxLevel;
extern const std::array<std::array<uint8_t, 64>, 2> kInterMaxRun, kIntraMaxRun;

extern const std::array<Vlc, 512> kMcbpcIntraLut;     // peek 9; val = type << 2 | cbpc
extern const std::array<Vlc, 512> kMcbpcInterLut;     // peek 9
extern const std::array<Vlc, 64> kCbpyLut;            // peek 6; val = intra cbpy
extern const std::array<Vlc, 4096> kMvdLut;           // peek 12; val = |motion_code|
extern const std::array<Vlc, 4096> kDcSizeLumaLut;    // peek 12
extern const std::array<Vlc, 4096> kDcSizeChromaLut;  // peek 12

extern const uint8_t kZigzag[64];
extern const uint8_t kAltHorizontal[64];
extern const uint8_t kAltVertical[64];
extern const uint8_t kDefaultIntraMatrix[64];  // raster order
extern const uint8_t kDefaultInterMatrix[64];

inline int DcScalerLuma(int q) { return q < 5 ? 8 : q < 9 ? 2 * q : q < 25 ? q + 8 : 2 * q - 16; }
inline int DcScalerChroma(int q) { return q < 5 ? 8 : q < 25 ? (q + 13) / 2 : q - 6; }

}  // namespace mp4v
