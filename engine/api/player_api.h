#pragma once
// Public interface of the media engine: the only engine header the application includes.
//
// A Player plays one recording at a time. Calls that change playback only record a requested
// state and return at once; the engine's status task carries the request out. Calls are meant for
// one thread (the user interface). Unless stated otherwise a call returns 1 when accepted and 0
// when refused or failed, and every call tolerates a null Player (and returns 0).
//
// Callbacks run on engine threads: opened, ended and status tick on the status task, the overlay
// text provider on the video task, the display back-end's present on the video task. None of them
// may call PlayerStop or PlayerDestroy (the stop waits for the very task that runs the callback),
// and none may block waiting for the user-interface thread: post to it instead.
#include <cstdint>

#include "engine/core/result.h"      // MeResult, the ME_ERR_* codes and MeErrorText
#include "engine/display/display.h"  // the display surface's program-wide settings

struct Player;
struct MediaInfo;  // the reader's full description; only needed as scratch for PlayerGetMediaInfo

// Engine states, as reported by PlayerGetStatus. The numbers are part of the interface.
enum PlayerEngineState : int32_t {
    STATE_IDLE = 0,
    STATE_OPEN_REQUESTED = 1,
    STATE_OPENING = 2,
    STATE_BUFFERING = 3,
    STATE_BUFFER_WAIT = 4,
    STATE_STARTING = 5,
    STATE_PLAY_REQUESTED = 6,
    STATE_PLAYING = 7,
    STATE_PAUSE_REQUESTED = 8,
    STATE_PAUSED = 9,
    STATE_TOGGLE = 10,  // a request only: becomes 8 or 6
    STATE_SEEKING = 11,
    STATE_STEPPING = 12,
    STATE_ENDING = 13,
    STATE_STOPPING = 14,
    STATE_AT_END = 15,
};

// PlayerSeek's mode. Audio first lands on the key frame at or before the position (the normal
// seek); video first on the nearest key frame (the application's "exact" seek).
inline constexpr int32_t PLAYER_SEEK_VIDEO_FIRST = 0;
inline constexpr int32_t PLAYER_SEEK_AUDIO_FIRST = 1;

// PlayerForward's and PlayerBackward's kind: how far a move goes.
enum PlayerMoveKind : int32_t {
    PLAYER_MOVE_AUDIO_FIRST = 1,  // by the amount, landing as PLAYER_SEEK_AUDIO_FIRST
    PLAYER_MOVE_VIDEO_FIRST = 2,  // by the amount, landing as PLAYER_SEEK_VIDEO_FIRST
    PLAYER_MOVE_KEY_FRAME = 3,    // re-seek to the key frame of the clock position (needs video)
    PLAYER_MOVE_PICTURE = 4,      // one picture forward or back, after pausing (needs video)
};

// The flag word of a parameters record that was never given (nothing applied yet).
inline constexpr uint32_t PLAYER_PARAMS_NONE = 0xFFFFFFFFu;

// A time that was never set (no picture yet, nothing measured).
inline constexpr int32_t PLAYER_TIME_NONE = -1;

using PlayerCallback = void (*)(void *user);

struct PlayerConfig {
    // Once per playback, when the player first reaches its resume state after start-up; the
    // decoders and the display are ready, the audio and video tasks are not yet running.
    PlayerCallback opened;
    // When a playback ends through STATE_ENDING (end of media without pause-at-end, or a fatal
    // failure), after everything has been torn down. The failure, if any, is the last error of
    // the next PlayerGetStatus.
    PlayerCallback ended;
    // After every pass of the status task except while seeking: about every 100 ms.
    PlayerCallback status_tick;
    void *user;
    int32_t priorities_configured;  // nonzero: use the three priorities below
    int32_t status_priority;
    int32_t audio_priority;
    int32_t video_priority;
};

struct PlayerOpenParams {
    const char *path;        // UTF-8 path of the recording; required
    uint8_t *memory;         // optional memory source used instead of the path: a block whose
    uint32_t memory_length;  //   first 4 bytes hold the payload length, big-endian
    int32_t start_ms;
    int32_t no_wait_stop;  // a later PlayerStop does not wait for the playback to end
    int32_t repeat;        // restart from 0 at the end
    int32_t pause_at_end;  // pause on the last picture at the end instead of ending
    void *app;             // not used by the engine
    int32_t audio_track;   // 0 = the first track of the kind
    int32_t video_track;
    int32_t data_track;
    int32_t key_frames_only;  // show only key frames
};

// PlayerAudioParams::flags selects the fields to apply.
enum : uint32_t {
    PLAYER_AUDIO_OUTPUT = 0x1,  // output_type: 2 = the audio device (re-initialises the output)
    PLAYER_AUDIO_VOLUME = 0x2,  // volume: low 16 bits used for both channels, 0..0xFFFF
    PLAYER_AUDIO_MUTE = 0x4,
    PLAYER_AUDIO_FORMAT = 0x8,     // out_rate / out_channels: a converter is put in front
    PLAYER_AUDIO_EFFECTS = 0xFF0,  // 0x10..0x800: stored effect settings without audible effect
};
inline constexpr int32_t PLAYER_AUDIO_OUTPUT_NONE = -1;  // no output type given yet
inline constexpr int32_t PLAYER_AUDIO_OUTPUT_DEVICE = 2;

struct PlayerAudioParams {
    uint32_t flags;
    int32_t output_type;
    uint32_t volume;
    int32_t mute;
    int32_t out_rate;
    int32_t out_channels;
    int32_t effects[8];  // one per bit 0x10..0x800
};

enum : uint32_t {
    PLAYER_VIDEO_RENDER_TYPE = 0x1,   // render_type: 1 or 129 (129 = direct-render mode too)
    PLAYER_VIDEO_WINDOW = 0x2,        // window, left/top/width/height, tv_format
    PLAYER_VIDEO_OPTION = 0x4,        // display_option, handed to the display with every picture
    PLAYER_VIDEO_PRESENT = 0x8,       // present_enabled: 0 decodes without presenting
    PLAYER_VIDEO_ENGINE_WORD = 0x10,  // engine_word: set by the engine in key-frames-only mode
};
inline constexpr int32_t PLAYER_RENDER_WINDOW = 1;
inline constexpr int32_t PLAYER_RENDER_DIRECT = 129;

struct PlayerVideoParams {
    uint32_t flags;
    int32_t render_type;
    void *window;       // opaque: handed to the display back-end's open (null: offscreen)
    int32_t left, top;  // the window's area, as the application knows it
    int32_t width, height;
    int32_t tv_format;  // nonzero forces an output of 720x480 (1) or 720x525 (other)
    uint32_t display_option;
    int32_t present_enabled;
    uint32_t engine_word;
};

struct PlayerStatus {
    int32_t state;        // PlayerEngineState
    MeResult last_error;  // reading it through PlayerGetStatus clears it
    int32_t percent_buffered;
    int32_t percent_available;
    int32_t position_ms;  // the media clock, never beyond the duration
    int32_t reserved[3];  // 0 for files
};

struct MediaSummaryAudio {
    uint32_t codec_tag;  // 255 = AAC
    uint32_t sample_rate;
    uint32_t channels;
    uint32_t bitrate;
    uint32_t config_length;
    uint8_t config[128];
};

struct MediaSummaryVideo {
    uint32_t codec_tag;  // four characters in memory order, e.g. "MP4V"
    uint32_t width;
    uint32_t height;
    uint32_t frame_rate;  // thousandths of a frame per second
    uint32_t bitrate;
    uint32_t config_length;
    uint8_t config[128];
};

struct MediaSummaryData {
    uint32_t codec_tag;
    uint32_t bitrate;
};

struct MediaSummary {
    uint32_t reserved[2];
    uint32_t duration_ms;
    uint32_t audio_count;
    uint32_t video_count;
    uint32_t data_count;
    MediaSummaryAudio audio[2];
    MediaSummaryVideo video[2];
    MediaSummaryData data[3];
};
static_assert(sizeof(MediaSummaryAudio) == 37 * 4);
static_assert(sizeof(MediaSummaryVideo) == 38 * 4);
static_assert(sizeof(MediaSummary) == (6 + 2 * 37 + 2 * 38 + 3 * 2) * 4);

// Measurements of the current (or last) playback, for tools and tests.
struct PlayerStats {
    uint32_t frames_presented;  // pictures shown on time (forced repaints not counted)
    uint32_t frames_late;       // dropped 300..600 ms late
    uint32_t frames_late_drop;  // dropped 600..1000 ms late (decoder skipped to a key frame)
    uint32_t frames_late_skip;  // dropped over 1000 ms late
    uint32_t early_waits;       // 10 ms waits for a picture more than 40 ms early
    uint32_t audio_blocks;      // device blocks that finished playing
    int32_t first_picture_ms;   // from PlayerOpen to the first picture shown; PLAYER_TIME_NONE
    int32_t last_picture_ms;    // time stamp of the last picture shown (forced ones too), or none
    // |clock - picture time| at each on-time presentation while audio drives the clock, in ms
    // (the last bucket collects everything from 1000 ms on).
    uint32_t av_offset_count;
    uint32_t av_offset_histogram[1001];
    uint32_t recordings;  // recordings of the trip begun so far (1 for a single one)
};

Player *PlayerCreate(const PlayerConfig *config);  // config may be null
void PlayerDestroy(Player *player);                // null tolerated

// Refused in every state but idle, except that a playback in 3, 7, 8 or 11 is stopped first.
int PlayerOpen(Player *player, const PlayerOpenParams *params);
// A trip: the recording (params->path) to play right after the current one. It is opened while
// the current one plays and, when its tracks are alike (same codecs, sizes, rates and decoder
// configurations), its pictures and sound follow without a pause on one time line: its times
// continue from the end of the current recording's sound. A recording that is not alike is
// dropped (the log says why) and the playback ends as usual. 1 when taken; 0 without a playback,
// or while the one queued before has not begun yet (PlayerStats::recordings tells).
int PlayerQueueNext(Player *player, const PlayerOpenParams *params);
int PlayerStop(Player *player);  // 0 when nothing plays; else waits (unless no-wait-stop)
int PlayerPlay(Player *player);
int PlayerPause(Player *player);
// mode 1: audio first (previous key frame); 0: video first (nearest key frame).
int PlayerSeek(Player *player, int32_t position_ms, int32_t mode);
// kind 1/2: jump by amount (mode 1 / 0); 3: re-seek to the clock position (needs video);
// 4: one picture back (backward) or forward (forward), after pausing.
int PlayerBackward(Player *player, int32_t amount_ms, int32_t kind);
int PlayerForward(Player *player, int32_t amount_ms, int32_t kind);
int PlayerSetSpeed(Player *player, int32_t percent);
int PlayerSetAudioParams(Player *player, const PlayerAudioParams *params);
int PlayerSetVideoParams(Player *player, const PlayerVideoParams *params);
int PlayerGetVideoParams(Player *player, PlayerVideoParams *out);
int PlayerGetStatus(Player *player, PlayerStatus *status);
int PlayerGetStats(Player *player, PlayerStats *stats);
// The media clock now, in ms, never beyond the duration; 0 without a playback. Safe from any
// thread, engine callbacks included, while the Player exists.
int64_t PlayerClockPosition(Player *player);

// Describes a recording without a Player. scratch may be null. Returns the first failing step's
// code, else ME_OK.
MeResult PlayerGetMediaInfo(const PlayerOpenParams *params, MediaSummary *summary,
                            MediaInfo *scratch);
// Writes 7 and 31; returns 31.
int32_t PlayerGetCapabilities(uint32_t *first, uint32_t *second);
// Next sample of the data track into buffer. *length: in the capacity, out the bytes read.
// ME_FAIL for a missing argument or a capacity below 1; ME_ERR_END_OF_DATA after the last one.
MeResult PlayerReadData(Player *player, uint8_t *buffer, int32_t *length, int32_t *time_ms);
