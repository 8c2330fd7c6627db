#pragma once
// MSB-first bit reader over a caller's byte range. It never touches a byte outside the range:
// bits past the end read as zero and set the overrun flag, which the syntax layer checks at
// element boundaries.
#include <cstdint>
#include <cstring>

namespace aacdec {

struct BitReader {
    const uint8_t *data;
    int64_t size_bits;
    int64_t pos;
    int32_t size_bytes;
    int32_t overrun;
};

inline void BrInit(BitReader *br, const uint8_t *data, int32_t size_bytes) {
    br->data = data;
    br->size_bytes = size_bytes > 0 ? size_bytes : 0;
    br->size_bits = static_cast<int64_t>(br->size_bytes) * 8;
    br->pos = 0;
    br->overrun = 0;
}

// Next 32 bits at the current position (zeros beyond the end).
inline uint32_t BrWindow(const BitReader *br) {
    int64_t byte = br->pos >> 3;
    uint32_t w;
    if (byte + 8 <= br->size_bytes) {
        // One big-endian 64-bit load; the top 32 bits after the bit offset are the window.
        uint64_t v;
        std::memcpy(&v, br->data + byte, 8);
        v = __builtin_bswap64(v);
        w = static_cast<uint32_t>((v << (br->pos & 7)) >> 32);
    } else if (byte + 5 <= br->size_bytes) {
        const uint8_t *p = br->data + byte;
        uint64_t v = (static_cast<uint64_t>(p[0]) << 32) | (static_cast<uint64_t>(p[1]) << 24) |
                     (static_cast<uint64_t>(p[2]) << 16) | (static_cast<uint64_t>(p[3]) << 8) |
                     p[4];
        w = static_cast<uint32_t>(v >> (8 - (br->pos & 7)));
    } else {
        uint64_t v = 0;
        for (int i = 0; i < 5; ++i) {
            v <<= 8;
            if (byte + i >= 0 && byte + i < br->size_bytes) v |= br->data[byte + i];
        }
        w = static_cast<uint32_t>(v >> (8 - (br->pos & 7)));
    }
    return w;
}

// Peeks n bits, 1 <= n <= 32.
inline uint32_t BrPeek(const BitReader *br, int n) { return BrWindow(br) >> (32 - n); }

inline void BrSkip(BitReader *br, int64_t n) {
    br->pos += n;
    if (br->pos > br->size_bits) br->overrun = 1;
}

// Reads n bits, 0 <= n <= 32.
inline uint32_t BrRead(BitReader *br, int n) {
    if (n <= 0) return 0;
    uint32_t v = BrPeek(br, n);
    BrSkip(br, n);
    return v;
}

inline uint32_t BrBit(BitReader *br) { return BrRead(br, 1); }

inline int64_t BrLeft(const BitReader *br) { return br->size_bits - br->pos; }

inline void BrAlign(BitReader *br, int64_t origin_bit) {
    int64_t rel = br->pos - origin_bit;
    if (rel & 7) BrSkip(br, 8 - (rel & 7));
}

}  // namespace aacdec
