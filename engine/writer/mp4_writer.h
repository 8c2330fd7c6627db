#pragma once
// MP4 writer: lays already-encoded video, audio and sensor samples out in the in-car camera's box
// layout, so the player, the tools and the drive-data reader take the file for the camera's own.
//
// The layout is fixed because the drive-data reader walks it by position, not by type:
//
//   ftyp, free, skip, free, mdat, moov
//   moov: mvhd, iods, trak(video), trak(audio), trak(data)
//   data trak: tkhd, mdia(mdhd, hdlr "sdsm", minf(nmhd, dinf, stbl(stsd, stts, stsc, stsz, stco)))
//
// A movie without video or audio still keeps the data track as the fifth child of moov: the
// missing track's place is taken by an empty `free` box.
//
// Media are interleaved in mdat per 100 ms slot of decode time: the slot's video samples, its
// audio frames, then its sensor records, each run being one chunk.
//
// The writer never holds the media: the caller describes each track's sample table and hands the
// payloads over one sample at a time through WriterSourceOps. Nothing here throws; no thread of
// its own is started, so every callback runs on the caller's thread.
#include <cstdint>

#include "engine/core/result.h"

inline constexpr uint32_t kWriterRecordSize = 131;  // one sensor record
inline constexpr uint32_t kWriterRecordIntervalMs = 100;
inline constexpr uint32_t kWriterModelIdSize = 10;
inline constexpr const char *kWriterDefaultModelId = "ZRDMODEL25";

// One track's samples in decode order. The arrays belong to the caller and stay valid during the
// write. A track with count 0 is left out.
struct WriterTrack {
    uint32_t count;
    uint32_t timescale;         // units per second of `durations`
    const uint32_t *sizes;      // payload bytes per sample
    const uint32_t *durations;  // per sample, in timescale units
    const uint8_t *sync;        // video: nonzero marks a key frame; null: every sample is one
};

// Track kinds, numbered as the reader numbers them.
inline constexpr int WRITER_AUDIO = 1;
inline constexpr int WRITER_VIDEO = 2;
inline constexpr int WRITER_DATA = 3;

inline constexpr uint32_t WRITER_VIDEO_MPEG4 = 0;
inline constexpr uint32_t WRITER_VIDEO_H263 = 1;

struct WriterMovie {
    WriterTrack video, audio, data;

    uint32_t video_codec;  // WRITER_VIDEO_MPEG4 or WRITER_VIDEO_H263
    uint32_t width, height;
    const uint8_t *video_config;  // MPEG-4: the headers in front of the first VOP; H.263: none
    uint32_t video_config_length;

    uint32_t sample_rate, channels;
    const uint8_t *audio_config;  // AudioSpecificConfig
    uint32_t audio_config_length;

    // The camera model (kWriterModelIdSize bytes) for the signature box and the data track's
    // configuration; null: kWriterDefaultModelId in the signature box and zeros in the track.
    const uint8_t *model_id;
    int64_t creation_unix;  // seconds since 1970 (UTC) for mvhd/tkhd/mdhd; 0 = none
};

struct WriterSourceOps {
    // Copies the payload of sample `index` of track `kind` (WRITER_VIDEO, WRITER_AUDIO or
    // WRITER_DATA) to `dst`: exactly the `size` bytes its table gives. Anything but ME_OK
    // ends the write with that code.
    MeResult (*read)(void *ctx, int kind, uint32_t index, uint8_t *dst, uint32_t size);
    // Optional. Called after each chunk with the bytes written so far and the file's final size;
    // a nonzero return cancels the write (ME_FAIL, detail "cancelled").
    int (*progress)(void *ctx, uint64_t done, uint64_t total);
};

// Where the bytes go, in order. `write` returns 1 when all `length` bytes were taken, else 0.
struct WriterSinkOps {
    int (*write)(void *ctx, const void *data, uint32_t length);
};

// Writes the movie to a sink. ME_OK; ME_ERR_INVALID_REQUEST when the movie is inconsistent or does
// not fit the 32-bit tables (a media data part past 4 GiB, too many samples); ME_ERR_FILE_IO when
// the sink refuses bytes; the source's own code; ME_FAIL on a cancel. *detail (may be null) gets a
// static one-line English reason on failure.
MeResult WriterWrite(const WriterMovie *movie, const WriterSourceOps *source, void *source_ctx,
                     const WriterSinkOps *sink, void *sink_ctx, const char **detail);

// Writes the movie to `path` through a temporary file in the same folder that is renamed over
// `path` only once complete and flushed to the disk; on any failure (a full disk included) the
// temporary is removed and `path` is left as it was. ME_ERR_FILE_CREATE when the folder cannot
// take the temporary file; otherwise as WriterWrite.
MeResult WriterWriteFile(const WriterMovie *movie, const WriterSourceOps *source, void *source_ctx,
                         const char *path, const char **detail);

// The size WriterWrite would produce, or 0 with *detail set when the movie cannot be written.
uint64_t WriterFileSize(const WriterMovie *movie, const char **detail);
