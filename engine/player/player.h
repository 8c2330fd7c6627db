#pragma once
// The Player: one recording at a time, driven by three tasks. The status task runs the state
// machine and does every transition that needs work; the video task reads, decodes and presents
// pictures against the MediaClock; the audio task reads, decodes and queues audio, whose device
// completions drive the clock. Requests from the API only change the requested state under the
// state lock.
//
// Locks (the fields below are grouped by the lock that guards them): the state lock guards state
// changes and the seek request, and is never held while taking another lock. video_lock
// serialises the video pipeline (queue, decoder, pending picture, renderer) between the video task,
// the status task and the API's video parameters; audio_lock does the same for the audio
// pipeline, but is never held while writing to the audio device (that write may block).
// params_lock guards the audio renderer's lifetime against the API thread, clock_lock the
// clock's. Nested locks are always taken in the order video_lock, audio_lock, params_lock,
// clock_lock (a display callback may read the clock while the video task draws); the state lock
// is taken alone.
#include <atomic>
#include <cstdint>

#include "engine/api/player_api.h"
#include "engine/audio/audio_renderer.h"
#include "engine/core/os.h"
#include "engine/core/sample_queue.h"
#include "engine/player/codec_glue.h"
#include "engine/player/media_clock.h"
#include "engine/reader/reader.h"

struct PcmBuffer {
    int16_t *planes[2];
    int16_t *block;
    uint32_t capacity;  // samples per channel
    uint32_t count;
    uint32_t channels;
    uint32_t rate;
    int64_t time_ms;  // of the first sample held
    int ended;
};

// audio_seen / video_seen before a media task has acted on any state, and after it ended.
inline constexpr int kStateNotSeen = -1;

// What a seek request asks for: how the reader repositions, and whether the target is exact.
enum PlayerSeekKind : int {
    SEEK_KIND_NONE = 0,         // a plain seek to a position (PlayerSeek)
    SEEK_KIND_AUDIO_FIRST = 1,  // a jump by an amount, landing audio first
    SEEK_KIND_VIDEO_FIRST = 2,  // a jump by an amount, landing video first
    SEEK_KIND_STEP = 3,         // to the key frame of a position, by the reader's step seek
    SEEK_KIND_EXACT_BACK = 4,   // one picture back from the shown one
};

// One seek request. Written only through PlayerRequestSeek, under the state lock, together with
// the state change; the status task takes a copy under the same lock.
struct PlayerSeekRequest {
    int64_t position;  // ms
    int mode;          // SEEK_AUDIO_FIRST or SEEK_VIDEO_FIRST (the reader's)
    int kind;          // PlayerSeekKind
    int direction;     // STEP_FORWARD or STEP_BACKWARD
};

// A picture kept in memory of our own (the decoder reuses its buffers).
struct PictureCopy {
    VideoPicture pic;
    uint8_t *data;
    size_t size;
    int valid;
};

struct Player {
    // ---- Set by PlayerOpen before the status task starts; read-only while it runs ----------
    PlayerOpenParams open;
    char *path;  // our copy of the open path
    PlayerConfig config;

    // ---- Guarded by state_lock (written only under it; tasks read the atomics without it) ----
    OsLockHandle state_lock;
    std::atomic<int> state, prev_state, resume_state;
    PlayerSeekRequest seek;
    char *next_path;      // the trip's next recording, queued by the API; freed once it plays
    OsHandle stop_event;  // auto-reset: set when a stop has run its course
    OsHandle wake;        // auto-reset: a new request cuts the status task's idle wait short

    // ---- Owned by the status task (set while opening and starting; tasks read them after) ----
    MediaInfo info;
    Reader *reader;
    int direct_render;
    int first_start_pending;
    int audio_eof, video_eof;  // the reader has nothing more of the kind (the filling task's)
    uint32_t buffer_tick, buffer_remaining, buffer_step;
    // The trip: the next recording, opened while the current one plays, and where its times
    // start on the trip's time line. trip_moved: the kind (audio, video) reads from it already.
    std::atomic<Reader *> next_reader;
    MediaInfo next_info;
    int next_tried;  // the queued path was opened (or refused) already
    int64_t next_offset, trip_offset;
    std::atomic<int> trip_moved[2];

    // ---- Guarded by clock_lock: the clock's lifetime. The tasks use the clock without the
    // lock (it outlives them); the API thread reads it under the lock. ----
    OsLockHandle clock_lock;
    std::atomic<MediaClock *> clock;

    // ---- Guarded by video_lock: the video pipeline, between the video and status tasks ----
    OsLockHandle video_lock;
    VideoDecoder *vdec;
    SampleQueue *vq;
    int renderer_open;
    VideoPicture pending;               // the pending picture
    int pending_showable;               // ... at or after the target: may be shown
    std::atomic<int> have_pending;      // pending holds a picture (shown or not)
    std::atomic<int64_t> pending_time;  // its time, for the API's exact step back
    std::atomic<int> frame_pending;     // ... that is still to be presented on time
    uint32_t pending_serial, drawn_serial;
    int key_search, key_found;  // engine-side decoder reset: searching for a key frame
    int leading_b;              // ... found: B pictures before the next reference follow
    int step_back;              // an exact step back is looking for the picture before
    PictureCopy before, after;  // its candidate, and the picture it started from
    PlayerVideoParams vparams;  // also written by the API thread under this lock

    // ---- Guarded by audio_lock: the audio pipeline (never held while writing to the device) ----
    OsLockHandle audio_lock;
    AudioDecoder *adec;
    SampleQueue *aq;
    PcmBuffer pcm;
    int64_t audio_base_src;  // output time base
    uint64_t audio_base_samples;
    int eos_signalled;

    // ---- Guarded by params_lock: the audio renderer's lifetime and the audio parameters ----
    OsLockHandle params_lock;
    AudioRenderer *arend;
    PlayerAudioParams aparams;

    // ---- Atomics shared by every thread ----
    std::atomic<MeResult> last_error;
    std::atomic<int64_t> target;  // pictures and audio before it are not presented
    std::atomic<int> has_audio, has_video, has_data;
    std::atomic<int> audio_ended, video_ended;
    std::atomic<int> tasks_exit;
    std::atomic<OsThreadHandle> status_task, audio_task, video_task;  // INVALID_THREAD: none
    std::atomic<int> audio_seen, video_seen;  // the state each media task last acted on

    // ---- Measurements (atomics) ----
    std::atomic<uint32_t> frames_presented, frames_late, frames_late_drop, frames_late_skip,
        early_waits;
    std::atomic<int32_t> first_picture_ms, last_picture_ms;
    uint32_t open_tick;
    std::atomic<uint32_t> av_count;
    std::atomic<uint32_t> av_hist[1001];
    std::atomic<uint32_t> audio_blocks_total;  // of renderers already destroyed
    std::atomic<uint32_t> recordings;          // of the trip, begun so far
};

Player *PlayerNew(const PlayerConfig *config);
void PlayerFree(Player *p);
// The transition table: 1 accepted, 0 refused.
int PlayerRequest(Player *p, int state);
// A seek: stores the request and requests STATE_SEEKING in one step under the state lock.
int PlayerRequestSeek(Player *p, const PlayerSeekRequest &seek);
// A request from the user (the API): a pause or play that arrives while a seek is still being
// carried out decides the state the seek ends in, instead of cancelling it.
int PlayerRequestByUser(Player *p, int state);
// Requests the resume state (read under the state lock, so a late user request is not lost).
int PlayerRequestResume(Player *p);
// Queues the recording that follows the current one in a trip. 1 taken; 0 without a playback or
// while one is queued already.
int PlayerQueueNextPath(Player *p, const char *path);
// Starts the status task for a playback already requested (state 1). 0 when the thread fails.
int PlayerStartStatusTask(Player *p);
// Applies stored parameters to running renderers; results as the API describes.
int PlayerApplyAudioParams(Player *p, const PlayerAudioParams *params);
int PlayerApplyVideoParams(Player *p, const PlayerVideoParams *params);
void PlayerSetLastError(Player *p, MeResult code);
