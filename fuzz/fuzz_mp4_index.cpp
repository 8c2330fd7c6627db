// Sample tables of arbitrary bytes, as export reads them: every offset the reader accepts must lie
// inside the file.
#include <cstdint>
#include <cstdlib>

#include "engine/writer/mp4_index.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > (8u << 20)) return 0;
    Mp4Index idx;
    if (Mp4IndexParse(data, size, &idx, nullptr) != ME_OK) return 0;
    for (const IndexTrack *t : {&idx.video, &idx.audio, &idx.data}) {
        if (t->sizes.size() != t->offsets.size() || t->sizes.size() != t->durations.size() ||
            t->sizes.size() != t->sync.size())
            std::abort();
        for (size_t i = 0; i < t->sizes.size(); ++i)
            if (t->offsets[i] > size || t->sizes[i] > size - t->offsets[i]) std::abort();
    }
    return 0;
}
