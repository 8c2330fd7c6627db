#pragma once
// SHA-256 (FIPS 180-4): the fingerprint that proves a recording or an export unchanged. Plain
// functions over a caller-owned state; no allocation, safe on any thread.
#include <cstddef>
#include <cstdint>

struct Sha256State {
    uint32_t h[8];
    uint64_t length;  // bytes hashed so far
    uint8_t block[64];
    uint32_t fill;
};

inline constexpr size_t kSha256HexSize = 65;  // 64 hex digits and the terminating zero

void Sha256Init(Sha256State *s);
void Sha256Update(Sha256State *s, const void *data, size_t length);
void Sha256Final(Sha256State *s, uint8_t digest[32]);
// Lower-case hex of a digest.
void Sha256Hex(const uint8_t digest[32], char hex[kSha256HexSize]);
// Hash of a whole file, read in blocks. 1 with `hex` set, 0 when the file cannot be read.
int Sha256File(const char *path, char hex[kSha256HexSize]);
