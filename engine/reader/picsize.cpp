// Picture size from a video track's decoder configuration. The sample entry's width and height are
// often absent or wrong in files from other devices; the bitstream headers are authoritative.
#include <cstring>
#include <vector>

#include "engine/reader/reader.h"

namespace {

class Bits {
public:
    Bits(const uint8_t *p, uint32_t n) : m_p(p), m_n(n) {}
    uint32_t Get(int count) {
        uint32_t v = 0;
        for (int i = 0; i < count; ++i) {
            uint32_t bit = 0;
            if (m_pos < uint64_t(m_n) * 8) bit = (m_p[m_pos >> 3] >> (7 - (m_pos & 7))) & 1;
            else m_over = true;
            ++m_pos;
            v = (v << 1) | bit;
        }
        return v;
    }
    void Skip(int count) {
        while (count > 24) {
            Get(24);
            count -= 24;
        }
        Get(count);
    }
    uint32_t Ue() {
        int zeros = 0;
        while (Get(1) == 0) {
            if (++zeros > 31 || m_over) {
                m_over = true;
                return 0;
            }
        }
        return zeros ? ((1u << zeros) - 1 + Get(zeros)) : 0;
    }
    int32_t Se() {
        uint32_t k = Ue();
        return (k & 1) ? int32_t((k + 1) / 2) : -int32_t(k / 2);
    }
    bool over() const { return m_over; }

private:
    const uint8_t *m_p;
    uint32_t m_n;
    uint64_t m_pos = 0;
    bool m_over = false;
};

bool TagIs(uint32_t tag, const char (&s)[5]) { return tag == MakeTag(s); }

// Offset just after a start code 00 00 01 whose next byte satisfies the predicate, or -1.
template <typename Pred>
int64_t FindStartCode(const uint8_t *p, uint32_t n, Pred pred) {
    for (uint32_t i = 0; i + 3 < n; ++i)
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1 && pred(p[i + 3])) return i + 3;
    return -1;
}

void FromVol(const uint8_t *config, uint32_t length, uint32_t *width, uint32_t *height) {
    int64_t at = FindStartCode(config, length, [](uint8_t b) { return b >= 0x20 && b <= 0x2F; });
    if (at < 0) return;
    Bits b(config + at + 1, length - static_cast<uint32_t>(at) - 1);
    b.Get(1);                       // random accessible
    b.Get(8);                       // object type
    if (b.Get(1)) b.Get(7);         // verid, priority
    if (b.Get(4) == 15) b.Get(16);  // extended pixel aspect ratio
    if (b.Get(1)) {                 // control parameters
        b.Get(3);                   // chroma format, low delay
        if (b.Get(1)) b.Skip(79);   // VBV parameters
    }
    if (b.Get(2) != 0) return;  // only rectangular shape carries a size here
    b.Get(1);
    uint32_t resolution = b.Get(16);
    b.Get(1);
    if (b.Get(1)) {
        int bits = 1;
        while (bits < 16 && (1u << bits) < resolution) ++bits;
        b.Get(bits);
    }
    b.Get(1);
    uint32_t w = b.Get(13);
    b.Get(1);
    uint32_t h = b.Get(13);
    if (!b.over() && w && h) {
        *width = w;
        *height = h;
    }
}

void SkipScalingList(Bits &b, int size) {
    int last = 8, next = 8;
    for (int j = 0; j < size; ++j) {
        if (next != 0) next = (last + b.Se() + 256) % 256;
        last = next == 0 ? last : next;
    }
}

void FromAvc(const uint8_t *config, uint32_t length, uint32_t *width, uint32_t *height) {
    // avcC: version, profile, compatibility, level, length size, SPS count, then length-prefixed SPS.
    if (length < 8 || (config[5] & 0x1F) == 0) return;
    uint32_t sps_len = uint32_t(config[6]) << 8 | config[7];
    if (sps_len < 2 || 8 + sps_len > length) return;
    std::vector<uint8_t> rbsp;
    const uint8_t *nal = config + 8 + 1;  // past the NAL header
    for (uint32_t i = 0, zeros = 0; i < sps_len - 1; ++i) {
        if (zeros >= 2 && nal[i] == 3) {  // emulation prevention byte
            zeros = 0;
            continue;
        }
        zeros = nal[i] == 0 ? zeros + 1 : 0;
        rbsp.push_back(nal[i]);
    }
    Bits b(rbsp.data(), static_cast<uint32_t>(rbsp.size()));
    uint32_t profile = b.Get(8);
    b.Get(16);  // constraints, level
    b.Ue();     // sps id
    static const uint32_t kHighProfiles[] = {100, 110, 122, 244, 44,  83, 86,
                                             118, 128, 138, 139, 134, 135};
    bool high = false;
    for (uint32_t p : kHighProfiles) high |= p == profile;
    if (high) {
        uint32_t chroma = b.Ue();
        if (chroma == 3) b.Get(1);
        b.Ue();
        b.Ue();
        b.Get(1);
        if (b.Get(1)) {
            int lists = chroma == 3 ? 12 : 8;
            for (int i = 0; i < lists && !b.over(); ++i)
                if (b.Get(1)) SkipScalingList(b, i < 6 ? 16 : 64);
        }
    }
    b.Ue();  // log2 max frame num
    uint32_t poc_type = b.Ue();
    if (poc_type == 0) {
        b.Ue();
    } else if (poc_type == 1) {
        b.Get(1);
        b.Se();
        b.Se();
        uint32_t cycle = b.Ue();
        for (uint32_t i = 0; i < cycle && i < 256 && !b.over(); ++i) b.Se();
    }
    b.Ue();    // max ref frames
    b.Get(1);  // gaps allowed
    uint32_t w = b.Ue(), h = b.Ue();
    if (!b.over()) {
        *width = (w + 1) * 16;
        *height = (h + 1) * 16;
    }
}

void FromMpegSequence(const uint8_t *config, uint32_t length, uint32_t *width, uint32_t *height,
                      uint32_t *frame_rate, uint32_t *bitrate) {
    int64_t at = FindStartCode(config, length, [](uint8_t b) { return b == 0xB3; });
    if (at < 0 || at + 1 + 8 > length) return;
    Bits b(config + at + 1, length - static_cast<uint32_t>(at) - 1);
    uint32_t w = b.Get(12), h = b.Get(12);
    b.Get(4);
    uint32_t rate_code = b.Get(4);
    uint32_t rate = b.Get(18);
    static const uint32_t kRates[16] = {0, 23976, 24000, 25000, 29970, 30000, 50000, 59940, 60000};
    uint32_t fps = kRates[rate_code];
    uint32_t ext_n = 0, ext_d = 0;
    int64_t ext = FindStartCode(config + at, length - static_cast<uint32_t>(at),
                                [](uint8_t b) { return b == 0xB5; });
    if (ext >= 0) {
        uint32_t off = static_cast<uint32_t>(at + ext + 1);
        Bits e(config + off, length - off);
        if (e.Get(4) == 1) {  // sequence extension
            e.Get(8);         // profile and level
            e.Get(3);         // progressive, chroma format
            w |= e.Get(2) << 12;
            h |= e.Get(2) << 12;
            rate |= e.Get(12) << 18;
            e.Get(1);
            e.Get(8);  // vbv buffer size extension
            e.Get(1);  // low delay
            ext_n = e.Get(2);
            ext_d = e.Get(5);
        }
    }
    *width = w;
    *height = h;
    if (frame_rate) *frame_rate = fps * (ext_n + 1) / (ext_d + 1);
    if (bitrate) *bitrate = rate * 400;
}

}  // namespace

void ReaderPictureSizeFromConfig(uint32_t codec_tag, const uint8_t *config, uint32_t length,
                                 uint32_t *width, uint32_t *height, uint32_t *frame_rate,
                                 uint32_t *bitrate) {
    if (!config || length == 0) return;
    // Tags compared case-insensitively, as the defaults fold them to upper case.
    uint32_t tag = 0;
    for (int i = 0; i < 4; ++i) {
        uint8_t c = uint8_t(codec_tag >> (8 * i));
        if (c >= 'a' && c <= 'z') c = uint8_t(c - 'a' + 'A');
        tag |= uint32_t(c) << (8 * i);
    }
    if (TagIs(tag, "MP4V") || TagIs(tag, "MP4S") || TagIs(tag, "XVID") || TagIs(tag, "DIVX") ||
        TagIs(tag, "DX50") || TagIs(tag, "DIV4") || TagIs(tag, "DIV5")) {
        FromVol(config, length, width, height);
    } else if (TagIs(tag, "AVC1") || TagIs(tag, "H264")) {
        FromAvc(config, length, width, height);
    } else if (TagIs(tag, "MPEG")) {
        FromMpegSequence(config, length, width, height, frame_rate, bitrate);
    }
}
