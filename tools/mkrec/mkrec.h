#pragma once
// Recording writer: builds MP4 files in the in-car camera's box layout from in-memory samples.
//
// The file itself is laid out by the engine's MP4 writer (engine/writer/mp4_writer.h): the
// camera's box order, one chunk per track and 100 ms slot, the data track fifth in moov.
//
// Typical use from a test (or LoadVideoFile / LoadAdtsFile for files):
//
//   vt::mkrec::Recording rec;
//   std::string err;
//   vt::mkrec::SplitMpeg4Video(m4v_bytes, &rec.video, &err);  // sets size, config, sync flags
//   vt::mkrec::ParseAdts(adts_bytes, &rec.audio, &err);       // sets rate, channels, config
//   rec.loop = 1;                                             // or N: repeat the media N times
//   vt::mkrec::DriveScript drive;                             // model "ZRDMODEL25", 2026-11-08 ...
//   size_t n = vt::mkrec::RecordCountFor(rec);                // 100 ms records covering the media
//   rec.records = vt::mkrec::PackRecords(vt::mkrec::ScriptDrive(drive, n));
//   vt::mkrec::WriteRecording(rec, "out.mp4", &err);
//
// Records can also be made by hand (SensorSample + PackRecord) or filled byte by byte. Payloads
// need not be real streams when only the layout matters: a video track then needs a size, a first
// sample marked sync and its timing; an audio track a rate, channels and some config bytes.
//
// Every function reports failure with false and a one-line message in *error; none throws.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace vt::mkrec {

inline constexpr size_t kRecordSize = 131;
inline constexpr uint32_t kRecordIntervalMs = 100;
inline constexpr const char *kDefaultModelId = "ZRDMODEL25";

// Offsets inside a sensor record (big-endian fields).
inline constexpr size_t kTextFieldSizes[6] = {20, 17, 2, 12, 10, 18};  // 79 bytes in all
inline constexpr size_t kLatitudeOffset = 103;
inline constexpr size_t kLongitudeOffset = 107;
inline constexpr size_t kAccelXOffset = 114;
inline constexpr size_t kAccelYOffset = 116;
inline constexpr size_t kAccelZOffset = 118;
inline constexpr size_t kModelIdOffset = 121;
inline constexpr size_t kModelIdSize = 10;

using RecordBytes = std::array<uint8_t, kRecordSize>;

enum class VideoCodec { kMpeg4, kH263 };

struct VideoSample {
    std::vector<uint8_t> data;
    bool sync = false;  // I-VOP / intra picture
};

struct VideoTrack {
    VideoCodec codec = VideoCodec::kMpeg4;
    int width = 0, height = 0;
    // Frame timing: every sample lasts frame_delta / timescale seconds (30 fps = 30000 / 1000).
    uint32_t timescale = 30000;
    uint32_t frame_delta = 1000;
    std::vector<uint8_t> config;  // MPEG-4: the headers in front of the first VOP; H.263: empty
    std::vector<VideoSample> samples;
};

struct AudioTrack {
    int sample_rate = 0;
    int channels = 0;
    uint32_t frame_length = 1024;              // PCM samples per AAC frame
    std::vector<uint8_t> config;               // AudioSpecificConfig
    std::vector<std::vector<uint8_t>> frames;  // raw AAC frames, ADTS headers removed
};

struct Recording {
    VideoTrack video;                  // no samples = no video track
    AudioTrack audio;                  // no frames = no audio track
    std::vector<RecordBytes> records;  // one per 100 ms, in order
    // Creation time written into mvhd/tkhd/mdhd, seconds since 1970 (UTC); 0 = none.
    int64_t creation_unix = 0;
    // Repeat the video and audio samples this many times with continuing time stamps (>= 1).
    int loop = 1;
};

// --- elementary streams ---------------------------------------------------------------------

// Splits an MPEG-4 Part 2 elementary stream at its VOP start codes (00 00 01 B6). Headers that
// precede a VOP (VOS, VO, VOL, user data, GOV) stay in front of it in the same sample, the way an
// encoder writes them before each I-VOP. The headers before the first VOP, up to the first GOV or
// VOP, become `config`; width and height come from its VOL. Sync samples are the I-VOPs.
bool SplitMpeg4Video(const std::vector<uint8_t> &stream, VideoTrack *track, std::string *error);

// Splits an H.263 (baseline, short header) stream at its byte-aligned picture start codes. The
// picture size comes from the first picture's source format; intra pictures are sync samples.
bool SplitH263(const std::vector<uint8_t> &stream, VideoTrack *track, std::string *error);

// Reads an ADTS stream: strips the headers, keeps the raw frames, builds the AudioSpecificConfig.
// Every frame must carry one raw data block and the same rate and channel layout.
bool ParseAdts(const std::vector<uint8_t> &stream, AudioTrack *track, std::string *error);

// Reads a whole file and splits it with the functions above. The video kind is detected from the
// first bytes (00 00 01 xx: MPEG-4 Part 2; 00 00 8x: H.263); H.263 timing defaults to 30000/1001,
// MPEG-4 to 30 fps.
bool LoadVideoFile(const std::string &path, VideoTrack *track, std::string *error);
bool LoadAdtsFile(const std::string &path, AudioTrack *track, std::string *error);

// Reads width and height from a VOL header (00 00 01 20..2F) inside `config`.
bool Mpeg4VolSize(const std::vector<uint8_t> &config, int *width, int *height);

// --- sensor records ---------------------------------------------------------------------------

// One 100 ms sensor sample before packing.
struct SensorSample {
    std::string text[6];         // date/time, plate, gear, speed, driver, firmware
    double latitude = 0.0;       // signed decimal degrees, negative = south
    double longitude = 0.0;      // signed decimal degrees, negative = west
    int ax = 0, ay = 0, az = 0;  // 1/128 G; clamped to 16 bits when packed
    std::string model_id = kDefaultModelId;
};

// Packed coordinate: degrees * 1,000,000 + minutes * 10,000 + seconds * 100 (two decimals),
// negated for south/west.
int32_t PackCoordinate(double degrees);
double UnpackCoordinate(int32_t packed);

RecordBytes PackRecord(const SensorSample &sample);
std::vector<RecordBytes> PackRecords(const std::vector<SensorSample> &samples);

enum class DriveEventKind { kBrake, kPothole, kImpact };
struct DriveEvent {
    DriveEventKind kind;
    double at_s;  // seconds of drive time at which the event starts
};

// A deterministic drive. Z is reported with gravity removed (0 at rest), as a camera that
// calibrates its G-sensor at power-on does; X is forward (braking negative), Y to the right.
struct DriveScript {
    int64_t start_unix = 1794126600;   // 2026-11-08 08:30:00 UTC: time of the first record
    double drive_offset_s = 0.0;       // drive time already elapsed at the first record
    double origin_latitude = 46.9480;  // where the drive (drive time 0) begins
    double origin_longitude = 7.4474;
    std::string model_id = kDefaultModelId;
    std::string plate = "48GA7731";
    std::string driver = "DRV-0117";
    std::string firmware = "FW 2.05.118";
    // Braking of about -0.6 G for 1.5 s, a pothole (Z +/-1 G for 0.2 s), one hard impact.
    std::vector<DriveEvent> events = {{DriveEventKind::kBrake, 4.0},
                                      {DriveEventKind::kPothole, 7.5},
                                      {DriveEventKind::kImpact, 10.5}};
};

// `count` samples, one per 100 ms from the script's start.
std::vector<SensorSample> ScriptDrive(const DriveScript &script, size_t count);

// Number of 100 ms records that cover the recording's longest media track (at least 1).
size_t RecordCountFor(const Recording &rec);

// "YYYY/MM/DD HH:MM:SS" of a Unix time (UTC).
std::string FormatRecordTime(int64_t unix_seconds);
// Parses "YYYY-MM-DD HH:MM:SS" (or with '/' separators) as UTC.
bool ParseStartTime(const std::string &text, int64_t *unix_seconds);

// --- the file ---------------------------------------------------------------------------------

// Writes the recording to `path` (streamed; the samples are not copied) through a temporary file
// renamed into place when complete. Fails when a track is inconsistent (e.g. missing sizes or
// rates), when the media data would pass 4 GiB (32-bit chunk offsets), or on an I/O error; `path`
// is then left as it was.
bool WriteRecording(const Recording &rec, const std::string &path, std::string *error);

// The same file in memory, for small recordings in tests.
bool BuildRecording(const Recording &rec, std::vector<uint8_t> *out, std::string *error);

}  // namespace vt::mkrec
