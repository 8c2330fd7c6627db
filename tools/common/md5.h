#pragma once
// MD5 (RFC 1321) of a byte range, for payload fingerprints that match ffprobe's data hashes.
#include <cstddef>
#include <cstdint>
#include <string>

namespace vt {

class Md5 {
public:
    Md5();
    void Update(const void *data, size_t size);
    std::string HexDigest();  // lower-case hex; finishes the hash

private:
    void Block(const uint8_t *p);
    uint32_t m_state[4];
    uint64_t m_length = 0;
    uint8_t m_buffer[64];
    size_t m_fill = 0;
};

std::string Md5Hex(const void *data, size_t size);

}  // namespace vt
