#include "tools/vantrec-tool/track_input.h"

namespace vt::tool {

std::string CodecTagText(uint32_t tag) {
    if (tag < 0x10000) return std::to_string(tag);
    std::string s;
    for (int i = 0; i < 4; ++i) s += static_cast<char>((tag >> (8 * i)) & 0xFF);
    return s;
}

bool ReadWholeTrack(const char *, int, TrackInfo *, std::vector<TrackSample> *, std::string *error,
                    bool *not_container) {
    if (error) *error = "container reading is not built yet";
    if (not_container) *not_container = true;
    return false;
}

}  // namespace vt::tool
