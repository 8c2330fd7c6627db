// Huffman decoding of scale factors and spectral tuples through the two-level lookup tables that
// the build generates from the codebooks of ISO/IEC 14496-3.
#include "codec/aac/aac_internal.h"

namespace aacdec {

namespace {
constexpr int kRootBits = 9;
}

int HuffDecode(BitReader *br, int book) {
    const uint32_t *table = kHuffTables + kHuffStart[book];
    uint32_t window = BrWindow(br);
    uint32_t e = table[window >> (32 - kRootBits)];
    if (e & 0x80000000u) {
        int width = static_cast<int>((e >> 24) & 31);
        uint32_t sub = (window << kRootBits) >> (32 - width);
        e = table[(e & 0xFFFF) + sub];
        BrSkip(br, kRootBits + static_cast<int>((e >> 24) & 31));
    } else {
        BrSkip(br, static_cast<int>((e >> 24) & 31));
    }
    return static_cast<int>(e & 0xFFFF);
}

}  // namespace aacdec
