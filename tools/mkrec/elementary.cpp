// Splitting elementary streams into samples: MPEG-4 Part 2 video, H.263 baseline, ADTS AAC.
#include <cstdio>

#include "tools/mkrec/mkrec.h"

namespace vt::mkrec {
namespace {

// Bounds-checked MSB-first bit reader; reading past the end sets `overrun` and yields zeros.
struct Bits {
    const uint8_t *data;
    size_t size;
    size_t pos = 0;  // in bits
    bool overrun = false;

    uint32_t Read(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) {
            uint32_t bit = 0;
            if (pos / 8 < size) bit = (data[pos / 8] >> (7 - pos % 8)) & 1u;
            else overrun = true;
            v = (v << 1) | bit;
            ++pos;
        }
        return v;
    }
};

std::string Hex(size_t v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%zx", v);
    return buf;
}

// Position of the next 00 00 01 prefix at or after `from`, or s.size().
size_t NextStartCode(const std::vector<uint8_t> &s, size_t from) {
    for (size_t i = from; i + 3 < s.size(); ++i) {
        if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) return i;
    }
    return s.size();
}

}  // namespace

bool Mpeg4VolSize(const std::vector<uint8_t> &config, int *width, int *height) {
    for (size_t i = NextStartCode(config, 0); i < config.size(); i = NextStartCode(config, i + 3)) {
        uint8_t code = config[i + 3];
        if (code < 0x20 || code > 0x2F) continue;
        Bits b{config.data() + i + 4, config.size() - i - 4};
        b.Read(1);                        // random_accessible_vol
        b.Read(8);                        // video_object_type_indication
        if (b.Read(1)) b.Read(7);         // is_object_layer_identifier: verid, priority
        if (b.Read(4) == 15) b.Read(16);  // extended pixel aspect ratio
        if (b.Read(1)) {                  // vol_control_parameters
            b.Read(3);                    // chroma_format, low_delay
            if (b.Read(1)) b.Read(79);    // vbv_parameters with their markers
        }
        uint32_t shape = b.Read(2);
        if (shape != 0) return false;  // only rectangular layers have a frame size
        b.Read(1);
        uint32_t resolution = b.Read(16);
        b.Read(1);
        if (resolution == 0) return false;
        if (b.Read(1)) {  // fixed_vop_rate: increment coded in as many bits as resolution-1 needs
            int bits = 1;
            while ((1u << bits) < resolution) ++bits;
            b.Read(bits);
        }
        b.Read(1);
        uint32_t w = b.Read(13);
        b.Read(1);
        uint32_t h = b.Read(13);
        if (b.overrun || w == 0 || h == 0) return false;
        *width = static_cast<int>(w);
        *height = static_cast<int>(h);
        return true;
    }
    return false;
}

bool SplitMpeg4Video(const std::vector<uint8_t> &s, VideoTrack *track, std::string *error) {
    track->samples.clear();
    track->config.clear();
    size_t first_vop = s.size();
    for (size_t i = NextStartCode(s, 0); i < s.size(); i = NextStartCode(s, i + 3)) {
        if (s[i + 3] == 0xB6) {
            first_vop = i;
            break;
        }
    }
    if (first_vop == s.size()) {
        *error = "no VOP start code (00 00 01 B6) in the video stream";
        return false;
    }
    // The decoder configuration: everything in front of the first GOV or VOP.
    size_t config_end = first_vop;
    for (size_t i = NextStartCode(s, 0); i < first_vop; i = NextStartCode(s, i + 3)) {
        if (s[i + 3] == 0xB3) {
            config_end = i;
            break;
        }
    }
    track->config.assign(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(config_end));
    if (!Mpeg4VolSize(track->config, &track->width, &track->height)) {
        *error = "no readable rectangular VOL header before the first VOP";
        return false;
    }

    // A sample starts at its VOP, or at the first header that follows the previous VOP; the
    // headers in front of the first VOP belong to the first sample.
    std::vector<size_t> starts;
    std::vector<bool> sync;
    size_t header_start = 0;
    bool in_headers = true;
    for (size_t i = NextStartCode(s, 0); i < s.size(); i = NextStartCode(s, i + 3)) {
        if (s[i + 3] != 0xB6) {
            if (!in_headers) header_start = i;
            in_headers = true;
            continue;
        }
        starts.push_back(in_headers ? header_start : i);
        // vop_coding_type: the two bits after the start code; 0 = I-VOP.
        sync.push_back(i + 4 < s.size() && (s[i + 4] >> 6) == 0);
        in_headers = false;
    }
    starts.front() = 0;
    for (size_t k = 0; k < starts.size(); ++k) {
        size_t end = k + 1 < starts.size() ? starts[k + 1] : s.size();
        VideoSample v;
        v.sync = sync[k];
        v.data.assign(s.begin() + static_cast<std::ptrdiff_t>(starts[k]),
                      s.begin() + static_cast<std::ptrdiff_t>(end));
        track->samples.push_back(std::move(v));
    }
    if (!track->samples.front().sync) {
        *error = "the video stream does not start with an I-VOP";
        return false;
    }
    track->codec = VideoCodec::kMpeg4;
    return true;
}

bool SplitH263(const std::vector<uint8_t> &s, VideoTrack *track, std::string *error) {
    track->samples.clear();
    track->config.clear();
    static const int kFormatSize[8][2] = {{0, 0},     {128, 96},    {176, 144}, {352, 288},
                                          {704, 576}, {1408, 1152}, {0, 0},     {0, 0}};
    std::vector<size_t> starts;
    for (size_t i = 0; i + 2 < s.size(); ++i) {
        if (s[i] == 0 && s[i + 1] == 0 && (s[i + 2] & 0xFC) == 0x80) starts.push_back(i);
    }
    if (starts.empty() || starts.front() != 0) {
        *error = "the stream does not start with an H.263 picture start code";
        return false;
    }
    for (size_t k = 0; k < starts.size(); ++k) {
        size_t begin = starts[k];
        size_t end = k + 1 < starts.size() ? starts[k + 1] : s.size();
        Bits b{s.data() + begin, end - begin};
        b.Read(22 + 8);               // picture start code, temporal reference
        uint32_t marker = b.Read(2);  // PTYPE bits 1-2 are always "10"
        b.Read(3);
        uint32_t format = b.Read(3);
        uint32_t inter = b.Read(1);
        if (b.overrun || marker != 2) {
            *error = "bad H.263 picture header at offset " + Hex(begin);
            return false;
        }
        if (kFormatSize[format][0] == 0) {
            *error = "unsupported H.263 source format " + std::to_string(format) + " at offset " +
                     Hex(begin) + " (only sub-QCIF to 16CIF baseline pictures)";
            return false;
        }
        if (k == 0) {
            track->width = kFormatSize[format][0];
            track->height = kFormatSize[format][1];
        } else if (track->width != kFormatSize[format][0] ||
                   track->height != kFormatSize[format][1]) {
            *error = "H.263 picture size changes at offset " + Hex(begin);
            return false;
        }
        VideoSample v;
        v.sync = inter == 0;
        v.data.assign(s.begin() + static_cast<std::ptrdiff_t>(begin),
                      s.begin() + static_cast<std::ptrdiff_t>(end));
        track->samples.push_back(std::move(v));
    }
    if (!track->samples.front().sync) {
        *error = "the H.263 stream does not start with an intra picture";
        return false;
    }
    track->codec = VideoCodec::kH263;
    return true;
}

bool ParseAdts(const std::vector<uint8_t> &s, AudioTrack *track, std::string *error) {
    static const int kRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                   22050, 16000, 12000, 11025, 8000,  7350};
    track->frames.clear();
    track->config.clear();
    int profile = -1, rate_index = -1, channel_config = -1;
    size_t pos = 0;
    while (pos < s.size()) {
        if (s.size() - pos < 7) {
            *error = "truncated ADTS header at offset " + Hex(pos);
            return false;
        }
        const uint8_t *h = s.data() + pos;
        if (h[0] != 0xFF || (h[1] & 0xF6) != 0xF0) {
            *error = "ADTS sync word missing at offset " + Hex(pos);
            return false;
        }
        bool crc = (h[1] & 1) == 0;
        int prof = h[2] >> 6;
        int sfi = (h[2] >> 2) & 15;
        int chan = ((h[2] & 1) << 2) | (h[3] >> 6);
        size_t frame_length =
            (static_cast<size_t>(h[3] & 3) << 11) | (static_cast<size_t>(h[4]) << 3) | (h[5] >> 5);
        int blocks = (h[6] & 3) + 1;
        size_t header = crc ? 9 : 7;
        if (sfi >= 13 || chan == 0) {
            *error = "unsupported ADTS rate index or channel configuration at offset " + Hex(pos);
            return false;
        }
        if (blocks != 1) {
            *error = "ADTS frame with several raw data blocks at offset " + Hex(pos);
            return false;
        }
        if (frame_length <= header || frame_length > s.size() - pos) {
            *error = "bad or truncated ADTS frame length at offset " + Hex(pos);
            return false;
        }
        if (profile < 0) {
            profile = prof;
            rate_index = sfi;
            channel_config = chan;
        } else if (prof != profile || sfi != rate_index || chan != channel_config) {
            *error = "ADTS stream parameters change at offset " + Hex(pos);
            return false;
        }
        track->frames.emplace_back(s.begin() + static_cast<std::ptrdiff_t>(pos + header),
                                   s.begin() + static_cast<std::ptrdiff_t>(pos + frame_length));
        pos += frame_length;
    }
    if (track->frames.empty()) {
        *error = "no ADTS frames";
        return false;
    }
    // AudioSpecificConfig (14496-3 1.6.2.1): object type = ADTS profile + 1, then the rate index
    // and channel configuration; GASpecificConfig flags all zero (1024-sample frames).
    int aot = profile + 1;
    track->config = {static_cast<uint8_t>((aot << 3) | (rate_index >> 1)),
                     static_cast<uint8_t>(((rate_index & 1) << 7) | (channel_config << 3))};
    track->sample_rate = kRates[rate_index];
    track->channels = channel_config == 7 ? 8 : channel_config;
    track->frame_length = 1024;
    return true;
}

namespace {
bool ReadWholeFile(const std::string &path, std::vector<uint8_t> *out, std::string *error) {
    out->clear();
    FILE *f = std::fopen(path.c_str(), "rb");
    bool ok = f != nullptr;
    uint8_t buf[65536];
    size_t n;
    while (ok && (n = std::fread(buf, 1, sizeof buf, f)) > 0) out->insert(out->end(), buf, buf + n);
    if (f) {
        ok = ok && !std::ferror(f);  // a folder opens but does not read
        std::fclose(f);
    }
    if (!ok) *error = "cannot read " + path;
    return ok;
}
}  // namespace

bool LoadVideoFile(const std::string &path, VideoTrack *track, std::string *error) {
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(path, &bytes, error)) return false;
    const bool h263 =
        bytes.size() >= 3 && bytes[0] == 0 && bytes[1] == 0 && (bytes[2] & 0xFC) == 0x80;
    if (!(h263 ? SplitH263(bytes, track, error) : SplitMpeg4Video(bytes, track, error))) {
        *error = path + ": " + *error;
        return false;
    }
    track->timescale = 30000;
    track->frame_delta = h263 ? 1001 : 1000;
    return true;
}

bool LoadAdtsFile(const std::string &path, AudioTrack *track, std::string *error) {
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(path, &bytes, error)) return false;
    if (!ParseAdts(bytes, track, error)) {
        *error = path + ": " + *error;
        return false;
    }
    return true;
}

}  // namespace vt::mkrec
