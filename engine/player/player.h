#pragma once
// The Player: one recording at a time, driven by three tasks. The status task runs the state
// machine and does every transition that needs work; the video task reads, decodes and presents
// pictures against the MediaClock; the audio task reads, decodes and queues audio, whose device
// completions drive the clock. Requests from the API only change the requested state under the
// state lock.
//
// Locks: the state lock guards state changes only and is never held while taking another lock.
// video_lock serialises the video pipeline (queue, decoder, pending picture, renderer) between the
// video task and the status task; audio_lock does the same for the audio pipeline, but is never
// held while writing to the audio device (that write may block).
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
    int64_t time_ms;    // of the first sample held
    int ended;
};

inline constexpr int SEEK_KIND_NONE = 0;
inline constexpr int SEEK_KIND_STEP = 3;
inline constexpr int SEEK_KIND_EXACT_BACK = 4;

struct Player {
    MediaInfo info;
    PlayerOpenParams open;
    char *path;  // our copy of the open path
    std::atomic<MeResult> last_error;

    Reader *reader;
    VideoDecoder *vdec;
    AudioDecoder *adec;
    int renderer_open;
    AudioRenderer *arend;
    std::atomic<MediaClock *> clock;
    SampleQueue *aq, *vq;
    PcmBuffer pcm;

    // pending picture
    VideoPicture pending;
    std::atomic<int> have_pending;   // pending holds a picture (shown or not)
    std::atomic<int64_t> pending_time;  // its time, for the API's exact step back
    std::atomic<int> frame_pending;  // ... that is still to be presented
    uint32_t pending_serial, drawn_serial;

    // seek request
    // written by the API thread before it requests the state, read by the tasks
    std::atomic<int64_t> seek_pos;
    std::atomic<int> seek_mode, seek_kind, seek_dir;
    std::atomic<int64_t> target;

    std::atomic<int> state, prev_state, resume_state;
    std::atomic<int> has_audio, has_video, has_data;
    std::atomic<int> audio_ended, video_ended;
    int audio_eof, video_eof;  // the reader has nothing more of the kind
    int direct_render;
    std::atomic<int> tasks_exit;
    int first_start_pending;

    std::atomic<OsHandle> status_task, audio_task, video_task;
    std::atomic<int> audio_seen, video_seen;

    uint32_t buffer_tick, buffer_remaining, buffer_step;

    PlayerConfig config;
    PlayerAudioParams aparams;
    PlayerVideoParams vparams;
    OsHandle state_lock, stop_event, video_lock, audio_lock, params_lock;
    OsHandle wake;  // auto-reset: a new request cuts the status task's idle wait short

    // engine-side decoder reset: key-frame search and the ignored first output
    int key_search, key_found, ignore_output;
    // audio output time base
    int64_t audio_base_src;
    uint64_t audio_base_samples;
    int eos_signalled;

    // measurements
    std::atomic<uint32_t> frames_presented, frames_late, frames_late_drop, frames_late_skip,
        early_waits;
    std::atomic<int32_t> first_picture_ms, last_picture_ms;
    uint32_t open_tick;
    std::atomic<uint32_t> av_count;
    std::atomic<uint32_t> av_hist[1001];
    std::atomic<uint32_t> audio_blocks_total;  // of renderers already destroyed
};

Player *PlayerNew(const PlayerConfig *config);
void PlayerFree(Player *p);
// The transition table: 1 accepted, 0 refused.
int PlayerRequest(Player *p, int state);
// Starts the status task for a playback already requested (state 1). 0 when the thread fails.
int PlayerStartStatusTask(Player *p);
// Applies stored parameters to running renderers; results as the API describes.
int PlayerApplyAudioParams(Player *p, const PlayerAudioParams *params);
int PlayerApplyVideoParams(Player *p, const PlayerVideoParams *params);
void PlayerSetLastError(Player *p, MeResult code);
