// vantrec-tool info FILE: the container's description of a recording as one JSON object.
#include <cstdio>
#include <string>

#include "engine/reader/reader.h"
#include "tools/common/json.h"
#include "tools/vantrec-tool/command.h"
#include "tools/vantrec-tool/track_input.h"

namespace {

std::string CodecJson(uint32_t tag, bool numeric) {
    return numeric ? std::to_string(tag) : vt::JsonString(vt::tool::CodecTagText(tag));
}

int Info(int argc, char **argv) {
    if (argc < 2) return vt::tool::Fail("usage: info FILE");
    // A recording cut off by power loss opens with no tracks; say why instead of describing nothing.
    if (ReaderCheckIndex(argv[1]) == READER_INDEX_MISSING)
        return vt::tool::Fail(std::string(argv[1]) + ": " + kReaderIndexMissingText);
    MediaInfo mi{};
    MeResult res = ReaderGetMediaInfo(argv[1], &mi);
    if (res != ME_OK) return vt::tool::Fail(std::string(argv[1]) + ": " + MeErrorText(res));
    std::string out = "{\"duration_ms\": " + std::to_string(mi.duration_ms) + ", \"audio\": [";
    for (uint32_t i = 0; i < mi.audio_count; ++i) {
        const AudioTrackInfo &a = mi.audio[i];
        out += (i ? ", " : "");
        out += "{\"codec\": " + CodecJson(a.codec_tag, a.codec_tag < 0x10000) +
               ", \"sample_rate\": " + std::to_string(a.sample_rate) +
               ", \"channels\": " + std::to_string(a.channels) +
               ", \"bitrate\": " + std::to_string(a.bitrate) +
               ", \"max_sample\": " + std::to_string(a.max_sample_size) +
               ", \"duration_ms\": " + std::to_string(a.duration_ms) + ", \"config\": \"" +
               vt::HexString(a.config, a.config_length) + "\"}";
    }
    out += "], \"video\": [";
    for (uint32_t i = 0; i < mi.video_count; ++i) {
        const VideoTrackInfo &v = mi.video[i];
        out += (i ? ", " : "");
        out += "{\"codec\": " + CodecJson(v.codec_tag, false) +
               ", \"width\": " + std::to_string(v.width) +
               ", \"height\": " + std::to_string(v.height) +
               ", \"frame_rate\": " + std::to_string(v.frame_rate) +
               ", \"bitrate\": " + std::to_string(v.bitrate) +
               ", \"max_sample\": " + std::to_string(v.max_sample_size) +
               ", \"duration_ms\": " + std::to_string(v.duration_ms) + ", \"config\": \"" +
               vt::HexString(v.config, v.config_length) + "\"}";
    }
    out += "], \"data\": [";
    for (uint32_t i = 0; i < mi.data_count; ++i) {
        const DataTrackInfo &d = mi.data[i];
        out += (i ? ", " : "");
        out += "{\"codec\": " + CodecJson(d.codec_tag, d.codec_tag < 0x10000) +
               ", \"bitrate\": " + std::to_string(d.bitrate) +
               ", \"max_sample\": " + std::to_string(d.max_sample_size) +
               ", \"duration_ms\": " + std::to_string(d.duration_ms) + "}";
    }
    out += "]}\n";
    std::fputs(out.c_str(), stdout);
    return 0;
}

}  // namespace

VT_TOOL_COMMAND("info", "FILE", Info);
