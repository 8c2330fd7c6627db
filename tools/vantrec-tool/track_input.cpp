#include "tools/vantrec-tool/track_input.h"

#include "engine/reader/reader.h"

namespace vt::tool {

std::string CodecTagText(uint32_t tag) {
    if (tag < 0x10000) return std::to_string(tag);
    std::string s;
    for (int i = 0; i < 4; ++i) s += static_cast<char>((tag >> (8 * i)) & 0xFF);
    return s;
}

MeResult ReadNext(Reader *reader, int kind, std::vector<uint8_t> *buf, SampleRequest *req) {
    for (;;) {
        *req = SampleRequest{};
        req->data = buf->data();
        req->capacity = static_cast<uint32_t>(buf->size());
        req->kind = kind;
        MeResult res = ReaderReadSample(reader, req);
        if (res != ME_ERR_BUFFER_TOO_SMALL) return res;
        if (req->capacity <= buf->size() || req->capacity > (256u << 20))
            return ME_ERR_STREAM_SYNTAX;
        buf->resize(req->capacity);
    }
}

bool ReadWholeTrack(const char *path, int kind, TrackInfo *info, std::vector<TrackSample> *samples,
                    std::string *error, bool *not_container) {
    if (not_container) *not_container = false;
    Reader *reader = nullptr;
    MeResult res = ReaderOpen(path, &reader);
    if (res != ME_OK) {
        if (not_container)
            *not_container = res == ME_ERR_UNSUPPORTED_FILE || res == ME_ERR_UNSUPPORTED_FUNCTION;
        if (error) *error = MeErrorText(res);
        return false;
    }
    MediaInfo mi{};
    res = ReaderGetInfo(reader, &mi);
    if (res != ME_OK) {
        if (error) *error = MeErrorText(res);
        ReaderClose(reader);
        return false;
    }
    *info = TrackInfo{};
    info->duration_ms = mi.duration_ms;
    if (kind == kTrackVideo && mi.video_count) {
        const VideoTrackInfo &v = mi.video[0];
        info->codec_tag = v.codec_tag;
        info->width = static_cast<int>(v.width);
        info->height = static_cast<int>(v.height);
        info->config.assign(v.config, v.config + v.config_length);
        info->duration_ms = v.duration_ms;
    } else if (kind == kTrackAudio && mi.audio_count) {
        const AudioTrackInfo &a = mi.audio[0];
        info->codec_tag = a.codec_tag;
        info->sample_rate = static_cast<int>(a.sample_rate);
        info->channels = static_cast<int>(a.channels);
        info->config.assign(a.config, a.config + a.config_length);
        info->duration_ms = a.duration_ms;
    } else if (kind == kTrackData && mi.data_count) {
        info->codec_tag = mi.data[0].codec_tag;
        info->duration_ms = mi.data[0].duration_ms;
    } else {
        if (error) *error = "no track of that kind";
        ReaderClose(reader);
        return false;
    }
    std::vector<uint8_t> buf(256 * 1024);
    SampleRequest req;
    while ((res = ReadNext(reader, kind, &buf, &req)) == ME_OK) {
        TrackSample s;
        s.data.assign(buf.begin(), buf.begin() + req.written);
        s.time_ms = req.time_ms;
        s.duration_ms = req.duration_ms;
        samples->push_back(std::move(s));
    }
    ReaderClose(reader);
    if (res != ME_ERR_END_OF_DATA) {
        if (error) *error = MeErrorText(res);
        return false;
    }
    return true;
}

}  // namespace vt::tool
