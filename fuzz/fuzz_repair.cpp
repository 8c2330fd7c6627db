// Repair scanner over arbitrary bytes: learn a layout from the input, then scan its media data
// whole and cut short, with the learned layout and with none.
#include <cstdint>
#include <cstring>

#include "engine/repair/repair.h"

namespace {

uint32_t Be32(const uint8_t *p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// The first media-data box's payload: [*begin, *end) within the input.
bool MediaData(const uint8_t *data, size_t size, size_t *begin, size_t *end) {
    size_t pos = 0;
    while (pos + 8 <= size) {
        uint32_t box = Be32(data + pos);
        if (std::memcmp(data + pos + 4, "mdat", 4) == 0) {
            *begin = pos + 8;
            *end = box >= 8 && box <= size - pos ? pos + box : size;
            return true;
        }
        if (box < 8 || box > size - pos) return false;
        pos += box;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > (4u << 20)) return 0;
    RepairLayout layout;
    bool learned = data && RepairLearnLayoutFromBytes(data, size, &layout) == ME_OK;
    size_t begin = 0, end = size;
    if (!data || !MediaData(data, size, &begin, &end)) begin = 0;
    for (size_t stop : {end, begin + (end - begin) * 2 / 3}) {
        RepairScan scan;
        RepairScanBytes(data ? data + begin : nullptr, stop - begin, int64_t(begin), nullptr,
                        &scan);
        if (learned) RepairScanBytes(data + begin, stop - begin, int64_t(begin), &layout, &scan);
        // Whatever was found lies inside the input.
        for (const auto &list : scan.samples)
            for (const RepairSample &s : list)
                if (s.offset < int64_t(begin) || uint64_t(s.offset) + s.size > stop)
                    __builtin_trap();
    }
    return 0;
}
