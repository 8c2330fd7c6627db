#pragma once
// Container reader: recognises a recording's container by its first bytes, describes it in a
// MediaInfo record and reads its audio, video and data samples with millisecond time stamps.
// Every read and seek holds the reader lock, so the player's tasks may share one reader.
#include <cstdint>

#include "engine/core/os.h"
#include "engine/core/result.h"
#include "engine/io/stream.h"

inline constexpr int TRACK_AUDIO = 1;
inline constexpr int TRACK_VIDEO = 2;
inline constexpr int TRACK_DATA = 3;

inline constexpr uint32_t kMaxAudioTracks = 2;
inline constexpr uint32_t kMaxVideoTracks = 2;
inline constexpr uint32_t kMaxDataTracks = 3;
inline constexpr uint32_t kDecoderConfigMax = 128;

// A codec tag whose four bytes in memory spell the code ("MP4V" -> 'M','P','4','V').
inline constexpr uint32_t MakeTag(const char (&s)[5]) {
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
}
inline constexpr uint32_t TAG_MP4V = MakeTag("MP4V");
inline constexpr uint32_t TAG_AVC1 = MakeTag("AVC1");
inline constexpr uint32_t TAG_H263 = MakeTag("H263");
inline constexpr uint32_t TAG_YV12 = MakeTag("YV12");
inline constexpr uint32_t TAG_VNTR = MakeTag("VNTR");  // the camera's data track
inline constexpr uint32_t AUDIO_TAG_AAC = 255;
inline constexpr uint32_t AUDIO_TAG_MP3 = 80;

struct AudioTrackInfo {
    uint32_t codec_tag;
    uint32_t sample_rate;
    uint32_t channels;
    uint32_t bits_per_sample;
    uint32_t bitrate;
    uint8_t config[kDecoderConfigMax];
    uint32_t config_length;
    uint32_t max_sample_size;
    uint32_t duration_ms;
    uint32_t timed_packets;  // 1: each sample's time stamp restarts the decoder's output time base
};

struct VideoTrackInfo {
    uint32_t codec_tag;
    uint32_t width;
    uint32_t height;
    uint32_t frame_rate;  // thousandths of a frame per second
    uint32_t bitrate;
    uint8_t config[kDecoderConfigMax];
    uint32_t config_length;
    uint32_t max_sample_size;
    uint32_t duration_ms;
};

struct DataTrackInfo {
    uint32_t codec_tag;
    uint32_t bitrate;
    uint32_t max_sample_size;
    uint32_t duration_ms;
};

struct MediaInfo {
    uint32_t reserved[3];
    uint32_t duration_ms;   // the longest track
    uint32_t buffering_ms;  // 1000 when the container gives none
    uint32_t audio_count, video_count, data_count;
    AudioTrackInfo audio[kMaxAudioTracks];
    VideoTrackInfo video[kMaxVideoTracks];
    DataTrackInfo data[kMaxDataTracks];
};

struct SampleRequest {
    uint8_t *data;        // in
    uint32_t written;     // out
    uint32_t capacity;    // in; the needed size on ME_ERR_BUFFER_TOO_SMALL
    int64_t time_ms;      // out
    int64_t duration_ms;  // out
    int kind;             // in
    uint32_t flags;       // out
};

struct Reader;

// Operations of one container. An empty slot answers ME_ERR_UNSUPPORTED_FUNCTION.
struct ContainerOps {
    const char *name;
    MeResult (*open)(Reader *r);
    void (*close)(Reader *r);
    MeResult (*get_info)(Reader *r, MediaInfo *info);
    MeResult (*read_sample)(Reader *r, SampleRequest *req);
    int (*seek)(Reader *r, int64_t *time_ms, int mode);            // 1/0
    int (*seek_step)(Reader *r, int64_t *time_ms, int direction);  // 1/0
    int (*seek_data_first)(Reader *r, int64_t *time_ms, int direction);
    int (*seek_kind)(Reader *r, int kind, int64_t *time_ms);
    void (*select_track)(Reader *r, int number, int kind);
    MeResult (*make_index)(Reader *r);
    MeResult (*start)(Reader *r, int64_t start_ms);
    MeResult (*command)(Reader *r, int command);
};

struct Reader {
    Stream *stream;
    void *priv;                            // the container's own state
    int64_t start_limit_ms, end_limit_ms;  // 0 = none
    int64_t last_time_ms[4];               // per kind
    int64_t time_offset_ms[4];             // per kind, added to every time stamp read
    uint32_t present[4];                   // per kind: the file has a track of it
    OsThreadHandle index_task;
    volatile int index_stop, index_finished;
    OsLockHandle lock;
    const ContainerOps *ops;
};

inline constexpr int SEEK_VIDEO_FIRST = 0;
inline constexpr int SEEK_AUDIO_FIRST = 1;
inline constexpr int STEP_BACKWARD = 0;
inline constexpr int STEP_FORWARD = 1;

inline constexpr int READER_CMD_STOP = 1;
inline constexpr int READER_CMD_PLAY = 2;
inline constexpr int READER_CMD_PAUSE = 3;

// ME_ERR_MEMORY, ME_ERR_FILE_NOT_FOUND, ME_ERR_UNSUPPORTED_FILE, ME_ERR_UNSUPPORTED_FUNCTION or
// ME_OK with *out set.
MeResult ReaderOpen(const char *path, Reader **out);
// Memory source: the block's first 4 bytes hold the payload length, big-endian.
MeResult ReaderOpenMemory(uint8_t *block, uint32_t capacity, Reader **out);
MeResult ReaderGetInfo(Reader *r, MediaInfo *info);
MeResult ReaderStart(Reader *r, int64_t start_ms);
MeResult ReaderReadSample(Reader *r, SampleRequest *req);
int ReaderSeek(Reader *r, int64_t *time_ms, int mode);
int ReaderSeekStep(Reader *r, int64_t *time_ms, int direction);
void ReaderSelectTrack(Reader *r, int number, int kind);
void ReaderBufferStatus(Reader *r, int *percent_buffered, int *percent_available);
MeResult ReaderCommand(Reader *r, int command);
void ReaderClose(Reader *r);  // null tolerated
// Describes a file without a player: open, get information, close.
MeResult ReaderGetMediaInfo(const char *path, MediaInfo *info);

// Picture size from a video decoder configuration (MPEG-4 VOL, AVC SPS, MPEG-1/2 sequence
// header); leaves the fields alone when the configuration does not say. For "MPEG" also the frame
// rate (thousandths) and bit rate when present.
void ReaderPictureSizeFromConfig(uint32_t codec_tag, const uint8_t *config, uint32_t length,
                                 uint32_t *width, uint32_t *height, uint32_t *frame_rate,
                                 uint32_t *bitrate);

// Container probe over the first bytes of a file: ME_OK with *ops set (null for a recognised
// container without an implementation), or ME_ERR_UNSUPPORTED_FILE.
MeResult ReaderProbe(const uint8_t *head, uint32_t length, const ContainerOps **ops);

extern const ContainerOps kMp4ContainerOps;

// What the top-level boxes of a file say about its index (the movie box with the sample tables).
// A camera that loses power while recording leaves the media data on the card but never writes
// the movie box that comes after it: the reader then finds no track at all.
enum ReaderIndexState {
    READER_INDEX_PRESENT = 0,  // a complete movie box (or movie fragments)
    READER_INDEX_MISSING = 1,  // media data, but the movie box is absent or cut off
    READER_INDEX_NOT_MP4 = 2,  // not an MP4 box layout; the reader's own checks apply
    READER_INDEX_UNREADABLE = 3,
};

struct ReaderTopLevel {
    int64_t file_size;
    int64_t mdat_start;    // the first media data box (its size field); -1 = none
    int64_t mdat_payload;  // its first payload byte
    int64_t mdat_end;      // where its size says it ends (may lie past the file's end)
    bool mdat_to_end;      // size 0: the box was left open, running to the end of the file
    int64_t moov_start;    // -1 = none
    int64_t moov_end;
    bool moov_complete;
    bool has_fragments;
};

// Reads the top-level boxes of a file (through the file object, so read faults apply).
ReaderIndexState ReaderCheckIndex(const char *path, ReaderTopLevel *top = nullptr);
// ME_ERR_FILE_IO when the reader's file has gone from under it (the card was pulled, the file was
// deleted or cut shorter), else ME_OK. For a player that reads nothing while paused.
MeResult ReaderSourceStatus(Reader *r);

// The one line the tools and the window show for READER_INDEX_MISSING.
extern const char *const kReaderIndexMissingText;
