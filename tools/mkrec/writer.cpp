// Recordings to files: the sample tables of a Recording (its loops unrolled) handed to the
// engine's MP4 writer, which lays them out in the camera's format.
#include <algorithm>

#include "engine/writer/mp4_writer.h"
#include "tools/mkrec/mkrec.h"

namespace vt::mkrec {
namespace {

// The writer's view of a Recording: per-sample tables over the looped media.
struct Tables {
    std::vector<uint32_t> video_sizes, video_durations, audio_sizes, audio_durations;
    std::vector<uint32_t> data_sizes, data_durations;
    std::vector<uint8_t> video_sync;
    WriterMovie movie{};
};

bool Validate(const Recording &r, std::string *error) {
    if (r.loop < 1) {
        *error = "loop count must be at least 1";
        return false;
    }
    if (!r.audio.frames.empty() &&
        (r.audio.sample_rate <= 0 || r.audio.channels <= 0 || r.audio.frame_length == 0)) {
        *error = "audio rate, channels or frame length is not set";
        return false;
    }
    if (!r.video.samples.empty() && (r.video.width <= 0 || r.video.height <= 0)) {
        *error = "video size is not set";
        return false;
    }
    // Refuse what cannot fit 32-bit tables before unrolling the loops into them.
    const uint64_t loop = static_cast<uint64_t>(r.loop);
    const uint64_t video = r.video.samples.size() * loop, audio = r.audio.frames.size() * loop;
    if (video > 0xFFFFFFFFu || audio > 0xFFFFFFFFu || r.records.size() > 0xFFFFFFFFu) {
        *error = "too many samples for 32-bit sample tables";
        return false;
    }
    if (video * r.video.frame_delta > 0xFFFFFFFFu || audio * r.audio.frame_length > 0xFFFFFFFFu ||
        r.records.size() * kRecordIntervalMs > 0xFFFFFFFFu) {
        *error = "track too long for a 32-bit media duration";
        return false;
    }
    return true;
}

void MakeTables(const Recording &r, Tables *t) {
    const size_t loop = static_cast<size_t>(r.loop);
    for (size_t l = 0; l < loop; ++l) {
        for (const VideoSample &s : r.video.samples) {
            t->video_sizes.push_back(static_cast<uint32_t>(s.data.size()));
            t->video_durations.push_back(r.video.frame_delta);
            t->video_sync.push_back(s.sync ? 1 : 0);
        }
        for (const auto &f : r.audio.frames) {
            t->audio_sizes.push_back(static_cast<uint32_t>(f.size()));
            t->audio_durations.push_back(r.audio.frame_length);
        }
    }
    t->data_sizes.assign(r.records.size(), static_cast<uint32_t>(kRecordSize));
    t->data_durations.assign(r.records.size(), kRecordIntervalMs);

    WriterMovie &m = t->movie;
    m.video = {static_cast<uint32_t>(t->video_sizes.size()), r.video.timescale,
               t->video_sizes.data(), t->video_durations.data(), t->video_sync.data()};
    m.audio = {static_cast<uint32_t>(t->audio_sizes.size()),
               static_cast<uint32_t>(std::max(r.audio.sample_rate, 0)), t->audio_sizes.data(),
               t->audio_durations.data(), nullptr};
    m.data = {static_cast<uint32_t>(r.records.size()), 1000, t->data_sizes.data(),
              t->data_durations.data(), nullptr};
    m.video_codec = r.video.codec == VideoCodec::kH263 ? WRITER_VIDEO_H263 : WRITER_VIDEO_MPEG4;
    m.width = static_cast<uint32_t>(std::max(r.video.width, 0));
    m.height = static_cast<uint32_t>(std::max(r.video.height, 0));
    m.video_config = r.video.config.data();
    m.video_config_length = static_cast<uint32_t>(r.video.config.size());
    m.sample_rate = static_cast<uint32_t>(std::max(r.audio.sample_rate, 0));
    m.channels = static_cast<uint32_t>(std::max(r.audio.channels, 0));
    m.audio_config = r.audio.config.data();
    m.audio_config_length = static_cast<uint32_t>(r.audio.config.size());
    m.model_id = r.records.empty() ? nullptr : r.records[0].data() + kModelIdOffset;
    m.creation_unix = r.creation_unix;
}

MeResult ReadSample(void *ctx, int kind, uint32_t index, uint8_t *dst, uint32_t size) {
    const Recording &r = *static_cast<const Recording *>(ctx);
    const uint8_t *src;
    size_t have;
    if (kind == WRITER_VIDEO) {
        const auto &d = r.video.samples[index % r.video.samples.size()].data;
        src = d.data(), have = d.size();
    } else if (kind == WRITER_AUDIO) {
        const auto &d = r.audio.frames[index % r.audio.frames.size()];
        src = d.data(), have = d.size();
    } else {
        src = r.records[index].data(), have = kRecordSize;
    }
    if (have != size) return ME_ERR_INVALID_REQUEST;
    std::copy(src, src + size, dst);
    return ME_OK;
}

int AppendBytes(void *ctx, const void *data, uint32_t length) {
    auto *out = static_cast<std::vector<uint8_t> *>(ctx);
    const uint8_t *p = static_cast<const uint8_t *>(data);
    out->insert(out->end(), p, p + length);
    return 1;
}

const WriterSourceOps kRecordingSource = {ReadSample, nullptr};

}  // namespace

size_t RecordCountFor(const Recording &rec) {
    uint64_t ms = 0;
    if (!rec.video.samples.empty() && rec.video.timescale) {
        uint64_t n = rec.video.samples.size() * static_cast<uint64_t>(std::max(rec.loop, 1));
        ms = std::max(
            ms, (n * rec.video.frame_delta * 1000 + rec.video.timescale - 1) / rec.video.timescale);
    }
    if (!rec.audio.frames.empty() && rec.audio.sample_rate > 0) {
        uint64_t n = rec.audio.frames.size() * static_cast<uint64_t>(std::max(rec.loop, 1));
        uint64_t rate = static_cast<uint64_t>(rec.audio.sample_rate);
        ms = std::max(ms, (n * rec.audio.frame_length * 1000 + rate - 1) / rate);
    }
    return static_cast<size_t>(
        std::max<uint64_t>(1, (ms + kRecordIntervalMs - 1) / kRecordIntervalMs));
}

bool BuildRecording(const Recording &rec, std::vector<uint8_t> *out, std::string *error) {
    out->clear();
    if (!Validate(rec, error)) return false;
    Tables t;
    MakeTables(rec, &t);
    const char *detail = nullptr;
    const WriterSinkOps sink = {AppendBytes};
    if (MeFailed(WriterWrite(&t.movie, &kRecordingSource, const_cast<Recording *>(&rec), &sink, out,
                             &detail))) {
        *error = detail ? detail : "write failed";
        out->clear();
        return false;
    }
    return true;
}

bool WriteRecording(const Recording &rec, const std::string &path, std::string *error) {
    if (!Validate(rec, error)) return false;
    Tables t;
    MakeTables(rec, &t);
    const char *detail = nullptr;
    MeResult r = WriterWriteFile(&t.movie, &kRecordingSource, const_cast<Recording *>(&rec),
                                 path.c_str(), &detail);
    if (r == ME_ERR_FILE_CREATE) {
        *error = "cannot create " + path;
        return false;
    }
    if (MeFailed(r)) {
        *error = std::string(detail ? detail : "write failed") + ": " + path;
        return false;
    }
    return true;
}

}  // namespace vt::mkrec
