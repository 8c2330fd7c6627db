#pragma once
// Bit reader over one input buffer. It never reads past the end: bits beyond the end read as zero
// and set the sticky `over` flag, which callers test at syntax boundaries.
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace mp4v {

struct BitReader {
    const uint8_t *start = nullptr;
    const uint8_t *p = nullptr;
    const uint8_t *end = nullptr;
    uint64_t cache = 0;  // next bits, most significant first
    int bits = 0;        // valid bits in cache
    bool over = false;   // bits past the end were consumed

    void Init(const uint8_t *data, size_t len) {
        start = p = data;
        end = data + len;
        cache = 0;
        bits = 0;
        over = false;
    }
    inline void Refill() {
        if (bits <= 56 && end - p >= 8) {
            // The whole bytes that fit, from one big-endian load; the bits below them stay zero
            // as the byte loop leaves them.
            const int k = (64 - bits) >> 3;
            uint64_t v;
            std::memcpy(&v, p, 8);
            v = __builtin_bswap64(v);
            if (k < 8) v &= ~uint64_t{0} << (64 - 8 * k);
            cache |= v >> bits;
            p += k;
            bits += 8 * k;
            return;
        }
        while (bits <= 56 && p < end) {
            cache |= uint64_t(*p++) << (56 - bits);
            bits += 8;
        }
    }
    // n in 1..32
    inline uint32_t Peek(int n) {
        if (bits < n) Refill();
        return uint32_t(cache >> (64 - n));
    }
    inline void Skip(int n) {
        if (bits < n) Refill();
        if (n >= 64) {
            cache = 0;
        } else {
            cache <<= n;
        }
        bits -= n;
        if (bits < 0) {
            over = true;
            bits = 0;
        }
    }
    inline uint32_t Read(int n) {
        if (n == 0) return 0;
        uint32_t v = Peek(n);
        Skip(n);
        return v;
    }
    inline uint32_t Bit() { return Read(1); }
    // Bits still unread: cache plus 8 per unread byte.
    inline int64_t BitsLeft() const { return over ? 0 : int64_t(bits) + 8 * int64_t(end - p); }
    inline bool AtEnd() const { return BitsLeft() <= 0; }
    inline int64_t BitPos() const { return 8 * int64_t(p - start) - bits; }
    inline void AlignByte() { Skip(bits & 7); }
    inline bool Aligned() const { return (bits & 7) == 0; }
    // Byte offset of the next unread whole byte (after aligning).
    inline size_t BytePos() const { return size_t(p - start) - size_t(bits >> 3); }
    inline void SeekByte(size_t pos) {
        size_t len = size_t(end - start);
        p = start + (pos < len ? pos : len);
        cache = 0;
        bits = 0;
    }
};

}  // namespace mp4v
