// Writing the recovered samples as a new recording, straight from the broken file.
#include <sys/stat.h>

#include <vector>

#include "engine/io/file.h"
#include "engine/reader/reader.h"
#include "engine/repair/repair.h"
#include "engine/writer/mp4_writer.h"

namespace {

struct Track {
    std::vector<uint32_t> sizes, durations;
    std::vector<uint8_t> sync;
};

struct Reading {
    FileObj *file;
    const RepairScan *scan;
};

MeResult ReadSample(void *ctx, int kind, uint32_t index, uint8_t *dst, uint32_t size) {
    auto *r = static_cast<Reading *>(ctx);
    int k = kind == WRITER_VIDEO ? REPAIR_VIDEO : kind == WRITER_AUDIO ? REPAIR_AUDIO : REPAIR_DATA;
    const auto &list = r->scan->samples[k];
    if (index >= list.size() || list[index].size != size) return ME_ERR_INVALID_REQUEST;
    return FileReadAt(r->file, list[index].offset, dst, size) == int32_t(size) ? ME_OK
                                                                               : ME_ERR_FILE_IO;
}

void Fill(const std::vector<RepairSample> &samples, uint32_t delta, bool with_sync, Track *t) {
    for (const RepairSample &s : samples) {
        t->sizes.push_back(s.size);
        t->durations.push_back(delta);
        if (with_sync) t->sync.push_back(uint8_t(s.sync));
    }
}

WriterTrack Table(const Track &t, uint32_t timescale) {
    return WriterTrack{uint32_t(t.sizes.size()), timescale, t.sizes.data(), t.durations.data(),
                       t.sync.empty() ? nullptr : t.sync.data()};
}

bool SameFile(const char *a, const char *b) {
    struct stat sa, sb;
    return stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

}  // namespace

MeResult RepairWriteFile(const char *broken_path, const RepairScan *scan, const char *out_path,
                         const char **detail) {
    const char *why = nullptr;
    if (!detail) detail = &why;
    if (!broken_path || !out_path || SameFile(broken_path, out_path)) {
        *detail = "the repaired copy must not replace the broken recording";
        return ME_ERR_INVALID_REQUEST;
    }
    if (scan->outcome != REPAIR_REBUILT) {
        *detail = "nothing was recovered";
        return ME_ERR_INVALID_REQUEST;
    }
    const RepairLayout &l = scan->layout;
    Track video, audio, data;
    if (l.have_video) Fill(scan->samples[REPAIR_VIDEO], l.video_delta, true, &video);
    if (l.have_audio) Fill(scan->samples[REPAIR_AUDIO], l.audio_frame_length, false, &audio);
    if (l.have_data) Fill(scan->samples[REPAIR_DATA], l.data_delta, false, &data);

    WriterMovie movie{};
    movie.video = Table(video, l.video_timescale);
    movie.audio = Table(audio, l.audio_rate);
    movie.data = Table(data, l.data_timescale);
    movie.video_codec = l.video_short_header ? WRITER_VIDEO_H263 : WRITER_VIDEO_MPEG4;
    movie.width = uint32_t(l.width);
    movie.height = uint32_t(l.height);
    movie.video_config = l.video_config.empty() ? nullptr : l.video_config.data();
    movie.video_config_length = uint32_t(l.video_config.size());
    movie.sample_rate = l.audio_rate;
    movie.channels = uint32_t(l.audio_channels);
    movie.audio_config = l.audio_config.empty() ? nullptr : l.audio_config.data();
    movie.audio_config_length = uint32_t(l.audio_config.size());
    movie.model_id = l.model_id.size() == kWriterModelIdSize
                         ? reinterpret_cast<const uint8_t *>(l.model_id.data())
                         : nullptr;

    FileObj *f = FileOpen(broken_path, FILE_READ);
    if (!f) {
        *detail = "the broken recording can no longer be opened";
        return ME_ERR_FILE_NOT_FOUND;
    }
    Reading reading{f, scan};
    WriterSourceOps source{ReadSample, nullptr};
    MeResult r = WriterWriteFile(&movie, &source, &reading, out_path, detail);
    FileClose(f);
    return r;
}

bool RepairIndexMissing(const char *path) {
    return path != nullptr && ReaderCheckIndex(path) == READER_INDEX_MISSING;
}
