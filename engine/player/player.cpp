#include "engine/player/player.h"

#include <cstring>
#include <initializer_list>
#include <new>

#include "engine/core/log.h"
#include "engine/core/mem.h"
#include "engine/display/video_renderer.h"

namespace {

constexpr uint32_t kStatusStack = 6144, kVideoStack = 4096, kAudioStack = 5120;
constexpr uint32_t kQueueDepth = 2;
constexpr uint32_t kMinSampleRoom = 4096;

int State(Player *p) { return p->state.load(std::memory_order_acquire); }

// A task slot between the creator's call and its publishing of the handle.
constexpr OsThreadHandle kTaskStarting = OsThreadHandle(INT32_MIN);

// A task's last act: close its own handle and publish -1. A task that ends at once waits for its
// creator to have published the handle first, so the creator never overwrites the -1.
void PublishTaskEnd(std::atomic<OsThreadHandle> &slot) {
    OsThreadHandle h;
    while ((h = slot.load(std::memory_order_acquire)) == kTaskStarting) OsSleep(1);
    OsCloseThread(h);
    slot.store(INVALID_THREAD, std::memory_order_release);
}

bool LaunchTask(std::atomic<OsThreadHandle> &slot, const char *name, OsThreadEntry entry, void *arg,
                int priority, uint32_t stack) {
    slot.store(kTaskStarting, std::memory_order_release);
    OsThreadHandle h = OsCreateThread(name, entry, arg, priority, stack);
    slot.store(h, std::memory_order_release);  // INVALID_THREAD when creation failed
    return h != INVALID_THREAD;
}

// True when `s` is one of the states listed.
bool In(int s, std::initializer_list<int> states) {
    for (int x : states)
        if (s == x) return true;
    return false;
}

bool AcceptedFrom(int req, int s, bool *toggle_to_play) {
    switch (req) {
        case STATE_IDLE: return In(s, {STATE_ENDING, STATE_STOPPING});
        case STATE_OPEN_REQUESTED: return s == STATE_IDLE;
        case STATE_OPENING: return s == STATE_OPEN_REQUESTED;
        case STATE_BUFFERING:
            return In(s, {STATE_OPENING, STATE_PLAYING, STATE_SEEKING, STATE_AT_END});
        case STATE_BUFFER_WAIT: return s == STATE_BUFFERING;
        case STATE_STARTING:
            return In(s, {STATE_BUFFERING, STATE_BUFFER_WAIT, STATE_SEEKING, STATE_AT_END});
        case STATE_PLAY_REQUESTED:
            return In(s, {STATE_BUFFERING, STATE_BUFFER_WAIT, STATE_STARTING, STATE_PAUSE_REQUESTED,
                          STATE_PAUSED, STATE_SEEKING});
        case STATE_PLAYING: return s == STATE_PLAY_REQUESTED;
        case STATE_PAUSE_REQUESTED:
            return In(s, {STATE_BUFFER_WAIT, STATE_STARTING, STATE_PLAY_REQUESTED, STATE_PLAYING,
                          STATE_SEEKING, STATE_STEPPING});
        case STATE_PAUSED: return s == STATE_PAUSE_REQUESTED;
        case STATE_TOGGLE:
            *toggle_to_play = In(s, {STATE_PAUSE_REQUESTED, STATE_PAUSED});
            return In(s, {STATE_PLAY_REQUESTED, STATE_PLAYING, STATE_AT_END, STATE_PAUSE_REQUESTED,
                          STATE_PAUSED});
        case STATE_SEEKING:
            return In(s, {STATE_PLAYING, STATE_PAUSED, STATE_STEPPING, STATE_AT_END});
        case STATE_STEPPING: return s == STATE_PAUSED;
        case STATE_ENDING: return s != STATE_IDLE && s != STATE_STOPPING;
        case STATE_STOPPING: return s != STATE_IDLE;
        case STATE_AT_END: return s == STATE_PLAYING;
        default: return false;
    }
}

// Requests the state, or play when the playback was playing before (resume-aware).
void RequestResumeAware(Player *p, int state) {
    PlayerRequest(p, p->prev_state.load() == STATE_PLAYING ? STATE_PLAY_REQUESTED : state);
}

void SetError(Player *p, MeResult code) { p->last_error.store(code); }

// ---- Queues -------------------------------------------------------------------------------------

// FillQueue found the queue full (or the kind ended before): nothing to do.
constexpr MeResult kNothingToFill = 1;
// FillQueue reached the end of the kind and goes on with the next recording of the trip.
constexpr MeResult kMovedOn = 2;

// ---- Trips ----------------------------------------------------------------------------------------
// The next recording of a trip is opened by the status task while the current one plays. When
// the reader runs out of a kind, the task filling that kind goes on reading it from the next
// recording, whose times continue the trip's; once every kind has moved on, the status task
// makes the next recording the current one.

int KindIndex(int kind) { return kind == TRACK_AUDIO ? 0 : 1; }

Reader *ReaderFor(Player *p, int kind) {
    return p->trip_moved[KindIndex(kind)].load() ? p->next_reader.load() : p->reader;
}

void CompleteMove(Player *p, bool force);

bool MoveOnToNext(Player *p, int kind) {
    if (!p->next_reader.load() || p->trip_moved[KindIndex(kind)].load()) return false;
    p->trip_moved[KindIndex(kind)].store(1);
    OsSetEvent(p->wake);  // the status task completes the move
    return true;
}

const char *KindName(int kind) { return kind == TRACK_AUDIO ? "audio" : "video"; }

// One sample of the kind into its queue. ME_OK when a sample was queued; kNothingToFill;
// ME_ERR_END_OF_DATA once the reader has no more; ME_ERR_NOT_READY (buffering requested);
// ME_ERR_BUFFER_TOO_SMALL when the queue grew and the read is to be tried again; ME_ERR_MEMORY
// when a sample is too large to hold (the kind is given up); otherwise the reader's failure,
// which is also recorded as the last error.
MeResult FillQueue(Player *p, int kind) {
    SampleQueue *q = kind == TRACK_AUDIO ? p->aq : p->vq;
    if (!q) return kNothingToFill;
    if (kind == TRACK_AUDIO ? p->audio_eof : p->video_eof) return ME_ERR_END_OF_DATA;
    uint8_t *w;
    uint32_t cap;
    if (!SampleQueueReserve(q, &w, &cap)) return kNothingToFill;
    SampleRequest req{};
    req.data = w;
    req.capacity = cap;
    req.kind = kind;
    MeResult r = ReaderReadSample(ReaderFor(p, kind), &req);
    if (r == ME_OK) {
        SampleQueueCommit(q, req.written, req.time_ms, req.duration_ms, req.flags);
        return ME_OK;
    }
    if (r == ME_ERR_NOT_READY) {
        PlayerRequest(p, STATE_BUFFERING);
    } else if (r == ME_ERR_BUFFER_TOO_SMALL) {
        if (req.capacity > 64u * 1024 * 1024 || !SampleQueueGrow(q, req.capacity)) {
            // A sample we cannot hold: give the kind up rather than retry forever.
            MeLog("%s sample of %u bytes cannot be held: the %s track is given up", KindName(kind),
                  req.capacity, KindName(kind));
            SetError(p, ME_ERR_MEMORY);
            if (kind == TRACK_AUDIO) p->audio_eof = 1;
            else p->video_eof = 1;
            return ME_ERR_MEMORY;
        }
        return ME_ERR_BUFFER_TOO_SMALL;
    } else if (r == ME_ERR_END_OF_DATA || r == ME_ERR_NO_TRACK) {
        if (r == ME_ERR_END_OF_DATA && MoveOnToNext(p, kind)) return kMovedOn;
        if (kind == TRACK_AUDIO) p->audio_eof = 1;
        else p->video_eof = 1;
        if (SampleQueueCount(q) == 0 && kind == TRACK_AUDIO) {
            p->pcm.ended = 1;
            p->audio_ended.store(1);
        }
        return ME_ERR_END_OF_DATA;
    } else if (r == ME_ERR_FILE_IO) {
        // The card failed under the recording (pulled, unreadable, the file cut shorter):
        // retrying cannot bring it back, so the playback ends with the error.
        MeLog("reading a %s sample failed: the file cannot be read any more", KindName(kind));
        SetError(p, r);
        PlayerRequest(p, STATE_ENDING);
    } else {
        MeLog("reading a %s sample failed: %s", KindName(kind), MeErrorText(r));
        SetError(p, r);
    }
    OsSleep(10);
    return r;
}

// ---- Video --------------------------------------------------------------------------------------

void EngineResetVideoDecoder(Player *p) {
    p->key_search = 1;
    p->key_found = 0;
    p->leading_b = 0;
    // The decoder keeps its state; a picture it still holds from before the jump comes out
    // marked stale and is dropped, and the pictures after it keep their own stamps.
    VideoDecoderForgetStamps(p->vdec);
}

bool PresentingDisabled(const Player *p) {
    return p->vparams.flags != PLAYER_PARAMS_NONE && (p->vparams.flags & PLAYER_VIDEO_PRESENT) &&
           !p->vparams.present_enabled;
}

// ME_OK when drawn; ME_ERR_LATE while presenting is disabled (the picture counts as too late).
MeResult ShowPicture(Player *p, const VideoPicture &pic) {
    if (!p->renderer_open) return ME_FAIL;
    if (PresentingDisabled(p)) return ME_ERR_LATE;
    MeResult r = VideoRendererDraw(pic.y, pic.u, pic.v, pic.stride, int32_t(pic.time_ms));
    p->drawn_serial = p->pending_serial;
    p->last_picture_ms.store(int32_t(pic.time_ms));
    return r;
}

// Shows the pending picture without asking the clock, when it was not shown yet (or a capture
// waits for it). A picture decoded only to reach a seek's target is never shown.
void ForcePresent(Player *p) {
    if (!p->have_pending || !p->pending_showable) return;
    if (p->drawn_serial == p->pending_serial && !VideoRendererCapturePending()) return;
    ShowPicture(p, p->pending);
}

void TakePicture(Player *p, const VideoPicture &pic) {
    p->pending = pic;
    p->pending_time.store(pic.time_ms);
    p->have_pending = 1;
    ++p->pending_serial;
    p->pending_showable = pic.time_ms >= p->target.load() ? 1 : 0;
    p->frame_pending.store(p->pending_showable);
}

// ---- Exact step back ----------------------------------------------------------------------------
// From the key frame before the shown picture, the pictures are decoded up to the shown one; the
// last one before it becomes the pending picture. Decoder buffers are reused by later decodes, so
// that picture, and the shown one reached after it, are kept in copies of our own.

bool CopyPicture(Player *p, const VideoPicture &pic, PictureCopy *c) {
    const int32_t stride = pic.stride > 0 ? pic.stride : 1;
    const size_t luma = size_t(stride) * size_t(pic.height);
    const size_t chroma = size_t(stride / 2) * size_t((pic.height + 1) / 2);
    const size_t need = luma + 2 * chroma;
    if (c->size < need) {
        MemFree(c->data);
        c->data = static_cast<uint8_t *>(MemAlloc(need));
        c->size = c->data ? need : 0;
        if (!c->data) {
            SetError(p, ME_ERR_MEMORY);
            return false;
        }
    }
    std::memcpy(c->data, pic.y, luma);
    for (int32_t r = 0; r < (pic.height + 1) / 2; ++r) {
        std::memcpy(c->data + luma + size_t(r) * (stride / 2), pic.u + size_t(r) * (stride / 2),
                    size_t(stride / 2));
        std::memcpy(c->data + luma + chroma + size_t(r) * (stride / 2),
                    pic.v + size_t(r) * (stride / 2), size_t(stride / 2));
    }
    c->pic = pic;
    c->pic.y = c->data;
    c->pic.u = c->data + luma;
    c->pic.v = c->data + luma + chroma;
    c->valid = 1;
    return true;
}

void FreePictureCopy(PictureCopy *c) {
    MemFree(c->data);
    *c = PictureCopy{};
}

// The step back has reached the picture it started from (or the end): the picture before it is
// shown, and the one it started from follows when playback goes on.
void FinishStepBack(Player *p, const VideoPicture *reached) {
    p->step_back = 0;
    if (!p->before.valid) {  // nothing earlier exists: stay on the picture reached
        if (reached) TakePicture(p, *reached);
        return;
    }
    if (reached) p->after.valid = CopyPicture(p, *reached, &p->after) ? 1 : 0;
    p->target.store(p->before.pic.time_ms);
    MediaClockSetPosition(p->clock.load(), p->before.pic.time_ms);
    TakePicture(p, p->before.pic);
    p->before.valid = 0;
}

// Handles a decoded picture during a step back. true when it was taken care of.
bool StepBackPicture(Player *p, const VideoPicture &pic) {
    if (!p->step_back) return false;
    if (pic.time_ms < p->target.load()) {
        CopyPicture(p, pic, &p->before);
    } else {
        FinishStepBack(p, &pic);
    }
    return true;
}

void Count(std::atomic<uint32_t> &c) { c.fetch_add(1, std::memory_order_relaxed); }

// Presents the pending picture if it is due. Returns 1 when the caller should sleep (early).
int PresentIfDue(Player *p) {
    if (!p->frame_pending.load()) return 0;
    MediaClock *clock = p->clock.load();
    int64_t now = MediaClockRead(clock);
    int64_t d = now - p->pending.time_ms;
    if (d < -40) {
        Count(p->early_waits);
        return 1;
    }
    p->frame_pending.store(0);
    if (d <= 300 && PresentingDisabled(p)) {
        Count(p->frames_late);  // presenting is off: the picture answers late
    } else if (d <= 300) {
        ShowPicture(p, p->pending);
        Count(p->frames_presented);
        if (p->first_picture_ms.load() == PLAYER_TIME_NONE)
            p->first_picture_ms.store(int32_t(OsTickCount() - p->open_tick));
        if (p->has_audio.load() && !p->audio_ended.load() && MediaClockIsRunning(clock)) {
            int64_t off = d < 0 ? -d : d;
            p->av_hist[off > 1000 ? 1000 : off].fetch_add(1, std::memory_order_relaxed);
            Count(p->av_count);
        }
        if (p->open.key_frames_only) EngineResetVideoDecoder(p);
    } else if (d <= 600) {
        Count(p->frames_late);
    } else if (d <= 1000) {
        Count(p->frames_late_drop);
        EngineResetVideoDecoder(p);
    } else {
        Count(p->frames_late_skip);
    }
    return 0;
}

// Decodes the next picture when none is pending. Returns 1 when something was done.
int DecodeNextPicture(Player *p) {
    if (p->frame_pending.load() || !p->vdec) return 0;
    SampleSlot slot;
    // The picture a step back started from comes next.
    if (p->after.valid) {
        p->after.valid = 0;
        TakePicture(p, p->after.pic);
        return 1;
    }
    if (!SampleQueuePeek(p->vq, &slot)) {
        if (p->video_eof && !p->video_ended.load()) {
            VideoPicture pic;
            if (!p->key_search && VideoDecoderFlush(p->vdec, &pic) &&
                pic.time_ms != kVideoStaleTime) {
                if (!StepBackPicture(p, pic)) TakePicture(p, pic);
                return 1;
            }
            if (p->step_back) {
                FinishStepBack(p, nullptr);
                return 1;
            }
            p->video_ended.store(1);
        }
        return 0;
    }
    if (p->key_search) {
        // Predicted pictures before the first key frame would decode against a stale reference:
        // they are skipped until a key frame comes. Samples we cannot classify end the search.
        int kind = VideoDecoderCheckInput(p->vdec, slot.data, slot.size);
        if (kind == 2 && !p->key_found) {
            SampleQueueRelease(p->vq, nullptr, 0);
            return 1;
        }
        if (kind == 1) {
            p->key_found = 1;
            p->leading_b = 1;
        }
        p->key_search = 0;
    } else if (p->leading_b) {
        // B pictures right after the key frame we started from belong before it and lean on a
        // picture we never decoded: they are passed over until the next reference picture.
        if (VideoDecoderIsBidirectional(p->vdec, slot.data, slot.size)) {
            VideoDecoderSkipBidirectional(p->vdec, slot.time_ms);
            SampleQueueRelease(p->vq, nullptr, 0);
            return 1;
        }
        p->leading_b = 0;
    }
    if (p->direct_render && slot.time_ms >= p->target.load()) {
        int64_t d = MediaClockRead(p->clock.load()) - slot.time_ms;
        if (d < -40) {
            Count(p->early_waits);
            OsSleep(10);
            return 1;
        }
        if (d > 300) {
            Count(d <= 600    ? p->frames_late
                  : d <= 1000 ? p->frames_late_drop
                              : p->frames_late_skip);
            EngineResetVideoDecoder(p);
            SampleQueueRelease(p->vq, nullptr, 0);
            return 1;
        }
    }
    uint32_t used = 0;
    VideoPicture pic;
    int got = 0;
    MeResult r = VideoDecoderDecode(p->vdec, slot.data, slot.size, slot.time_ms, &used, &pic, &got);
    if (r == ME_ERR_MORE_OUTPUT && used > 0) {
        SampleQueueUpdateHead(p->vq, slot.data + used, slot.size - used, slot.time_ms);
    } else {
        SampleQueueRelease(p->vq, nullptr, 0);
    }
    if (got && pic.time_ms != kVideoStaleTime) {
        if (StepBackPicture(p, pic)) {
            // kept for the step back
        } else if (p->direct_render) {
            p->pending = pic;
            p->pending_time.store(pic.time_ms);
            p->have_pending = 1;
            ++p->pending_serial;
            p->pending_showable = pic.time_ms >= p->target.load() ? 1 : 0;
            if (p->pending_showable && ShowPicture(p, pic) == ME_ERR_LATE) {
                Count(p->frames_late);
            } else if (p->pending_showable) {
                Count(p->frames_presented);
                if (p->first_picture_ms.load() == PLAYER_TIME_NONE)
                    p->first_picture_ms.store(int32_t(OsTickCount() - p->open_tick));
                if (p->open.key_frames_only) EngineResetVideoDecoder(p);
            }
        } else {
            TakePicture(p, pic);
        }
    }
    return 1;
}

void VideoTask(void *arg) {
    Player *p = static_cast<Player *>(arg);
    while (!p->tasks_exit.load()) {
        int s = State(p);
        bool sleep = true;
        {
            OsLockGuard g(p->video_lock);
            p->video_seen.store(s);
            if (s == STATE_PLAYING || s == STATE_AT_END) {
                int early = PresentIfDue(p);
                int worked = DecodeNextPicture(p);
                worked |= FillQueue(p, TRACK_VIDEO) == ME_OK;
                sleep = early || !worked;
            } else if (s == STATE_PAUSED) {
                FillQueue(p, TRACK_VIDEO);
                DecodeNextPicture(p);
                ForcePresent(p);
            } else if (s != STATE_ENDING && s != STATE_STOPPING) {
                ForcePresent(p);
            }
        }
        if (sleep) OsSleep(10);
    }
    p->video_seen.store(kStateNotSeen);
    PublishTaskEnd(p->video_task);
    OsExitThread();
}

// ---- Audio --------------------------------------------------------------------------------------

// Decodes one frame into the PcmBuffer. Returns 1 when a frame was decoded.
int DecodeAudioStep(Player *p) {
    PcmBuffer &b = p->pcm;
    if (!p->adec || !b.block || b.capacity - b.count < p->adec->frame_length) return 0;
    SampleSlot slot;
    if (!SampleQueuePeek(p->aq, &slot)) {
        if (p->audio_eof && !p->audio_ended.load()) {
            b.ended = 1;
            p->audio_ended.store(1);
        }
        return 0;
    }
    int16_t *planes[2] = {b.planes[0] + b.count, b.planes[1] + b.count};
    uint32_t used = 0, n = 0;
    MeResult r = AudioDecoderDecode(p->adec, slot.data, slot.size, planes, &used, &n);
    if (r == ME_ERR_MORE_OUTPUT && used > 0)
        SampleQueueUpdateHead(p->aq, slot.data + used, slot.size - used, slot.time_ms);
    else SampleQueueRelease(p->aq, nullptr, 0);
    if (MeFailed(r) && r != ME_ERR_MORE_OUTPUT) SetError(p, r);
    if (n == 0) return 1;
    if (slot.time_ms != p->audio_base_src) {
        p->audio_base_src = slot.time_ms;
        p->audio_base_samples = 0;
    }
    int64_t t = slot.time_ms + int64_t(p->audio_base_samples * 1000 / b.rate);
    p->audio_base_samples += n;
    if (t < p->target.load()) return 1;  // audio before a seek target is never played
    if (b.count == 0) b.time_ms = t;
    b.count += n;
    return 1;
}

// Hands the PcmBuffer to the renderer when it is full or the audio has ended.
void HandAudio(Player *p) {
    PcmBuffer &b = p->pcm;
    if (!p->arend) return;
    const uint32_t frame = p->adec ? p->adec->frame_length : kAudioFrameLength;
    if (b.count > 0 && (b.capacity - b.count < frame || b.ended)) {
        const int16_t *planes[2] = {b.planes[0], b.planes[1]};
        uint32_t n = b.count;
        int64_t t = b.time_ms;
        // The write may block until the device has room: not under the audio lock.
        OsUnlock(p->audio_lock);
        AudioRendererWrite(p->arend, planes, n, t);
        OsLock(p->audio_lock);
        b.count = 0;
    }
    if (b.ended && b.count == 0) {
        if (!p->eos_signalled) {
            p->eos_signalled = 1;
            AudioRendererSetEndOfStream(p->arend);
        }
    }
}

void AudioTask(void *arg) {
    Player *p = static_cast<Player *>(arg);
    while (!p->tasks_exit.load()) {
        int s = State(p);
        bool sleep = true;
        {
            OsLockGuard g(p->audio_lock);
            p->audio_seen.store(s);
            if (s == STATE_PLAYING || s == STATE_AT_END) {
                HandAudio(p);
                int s2 = State(p);
                if (s2 == STATE_PLAYING || s2 == STATE_AT_END) {
                    int decoded = DecodeAudioStep(p);
                    int filled = FillQueue(p, TRACK_AUDIO) == ME_OK;
                    sleep = !decoded && !filled;
                }
            }
        }
        if (sleep) OsSleep(10);
    }
    p->audio_seen.store(kStateNotSeen);
    PublishTaskEnd(p->audio_task);
    OsExitThread();
}

void ClockFromAudio(void *ctx, int64_t t) {
    Player *p = static_cast<Player *>(ctx);
    MediaClockUpdatePosition(p->clock.load(), t);
}

// ---- Status task ---------------------------------------------------------------------------------

uint32_t LargestOf(Player *p, int kind) {
    uint32_t m = 0;
    if (kind == TRACK_AUDIO) {
        for (uint32_t i = 0; i < p->info.audio_count && i < kMaxAudioTracks; ++i)
            if (p->info.audio[i].max_sample_size > m) m = p->info.audio[i].max_sample_size;
    } else {
        for (uint32_t i = 0; i < p->info.video_count && i < kMaxVideoTracks; ++i)
            if (p->info.video[i].max_sample_size > m) m = p->info.video[i].max_sample_size;
    }
    return m < kMinSampleRoom ? kMinSampleRoom : m;
}

uint32_t TrackIndex(int32_t number, uint32_t count) {
    return (number > 0 && uint32_t(number) < count) ? uint32_t(number) : 0;
}

const char *SourceName(const Player *p) { return p->open.memory ? "(memory)" : p->path; }

// Opens the reader, selects the tracks and goes to the start position. ME_OK or the failure.
MeResult OpenReader(Player *p) {
    MeResult r;
    if (p->open.memory) r = ReaderOpenMemory(p->open.memory, p->open.memory_length, &p->reader);
    else r = ReaderOpen(p->path, &p->reader);
    if (MeFailed(r)) {
        MeLog("open %s: the reader refused it: %s", SourceName(p), MeErrorText(r));
        return r;
    }
    std::memset(&p->info, 0, sizeof(p->info));
    r = ReaderGetInfo(p->reader, &p->info);
    if (MeFailed(r)) {
        MeLog("open %s: no description of its tracks: %s", SourceName(p), MeErrorText(r));
        return r;
    }
    if (p->open.audio_track) ReaderSelectTrack(p->reader, p->open.audio_track, TRACK_AUDIO);
    if (p->open.video_track) ReaderSelectTrack(p->reader, p->open.video_track, TRACK_VIDEO);
    if (p->open.data_track) ReaderSelectTrack(p->reader, p->open.data_track, TRACK_DATA);
    int64_t start = p->open.start_ms > 0 ? p->open.start_ms : 0;
    if (start > 0) {
        if (!ReaderSeek(p->reader, &start, SEEK_AUDIO_FIRST)) {
            MeLog("open %s: no position to start from at %lld ms", SourceName(p),
                  static_cast<long long>(start));
            return ME_ERR_RANDOM_ACCESS;
        }
    }
    p->target.store(start);
    MediaClock *c = MediaClockCreate(start, 100);
    if (!c) return ME_ERR_MEMORY;
    {
        OsLockGuard g(p->clock_lock);
        p->clock.store(c);
    }
    p->has_audio.store(p->info.audio_count > 0);
    p->has_video.store(p->info.video_count > 0);
    p->has_data.store(p->info.data_count > 0);
    return ME_OK;
}

bool SourceReady(Player *p) {
    int buffered = 100, available = 100;
    ReaderBufferStatus(p->reader, &buffered, &available);
    if (buffered >= 100) return true;
    return (OsTickCount() - p->buffer_tick) >= p->buffer_step && available > 0;
}

void ClearPcm(Player *p) {
    p->pcm.count = 0;
    p->pcm.ended = 0;
    p->audio_base_src = PLAYER_TIME_NONE;
    p->audio_base_samples = 0;
    p->eos_signalled = 0;
}

// Four characters of a codec tag, for the log.
struct TagText {
    char text[5];
    explicit TagText(uint32_t tag) {
        for (int i = 0; i < 4; ++i) {
            char c = char((tag >> (8 * i)) & 0xFF);
            text[i] = (c >= 32 && c < 127) ? c : '?';
        }
        text[4] = 0;
    }
};

// The video decoder and the display surface. ME_OK or the failure (the video is then dropped).
MeResult SetupVideo(Player *p) {
    const VideoTrackInfo &vt = p->info.video[TrackIndex(p->open.video_track, p->info.video_count)];
    const uint32_t tag = vt.codec_tag;
    p->direct_render =
        (p->vparams.flags != PLAYER_PARAMS_NONE && (p->vparams.flags & PLAYER_VIDEO_RENDER_TYPE) &&
         p->vparams.render_type == PLAYER_RENDER_DIRECT &&
         (tag == TAG_MP4V || tag == TAG_H263 || tag == TAG_AVC1 || tag == MakeTag("H264")))
            ? 1
            : 0;
    if (!p->vdec) {
        SampleSlot first{};
        SampleQueuePeek(p->vq, &first);
        MeResult r = VideoDecoderCreate(tag, vt.width, vt.height, vt.config, vt.config_length,
                                        first.data, first.size, &p->vdec);
        if (MeFailed(r)) {
            MeLog("video decoder for \"%s\" %ux%u did not start: %s", TagText(tag).text, vt.width,
                  vt.height, MeErrorText(r));
            return r;
        }
    }
    EngineResetVideoDecoder(p);
    if (!p->renderer_open) {
        VideoRendererParams rp{};
        if (p->vparams.flags != PLAYER_PARAMS_NONE) {
            if (p->vparams.flags & PLAYER_VIDEO_WINDOW) {
                rp.window = p->vparams.window;
                rp.left = p->vparams.left;
                rp.top = p->vparams.top;
                rp.tv_format = p->vparams.tv_format;
            }
            if (p->vparams.flags & PLAYER_VIDEO_OPTION) rp.option = p->vparams.display_option;
        }
        if (MeFailed(VideoRendererOpen(&rp, int32_t(vt.width), int32_t(vt.height)))) {
            MeLog("display surface for %ux%u pictures did not open", vt.width, vt.height);
            return ME_ERR_VIDEO_OUTPUT_INIT;
        }
        p->renderer_open = 1;
    }
    p->frame_pending.store(0);
    return ME_OK;
}

bool ApplyAudioParamsLocked(Player *p, const PlayerAudioParams *ap) {
    if (!p->arend || ap->flags == PLAYER_PARAMS_NONE) return true;
    bool ok = true;
    if (ap->flags & PLAYER_AUDIO_VOLUME) ok &= AudioRendererSetVolume(p->arend, ap->volume) != 0;
    if (ap->flags & PLAYER_AUDIO_MUTE) ok &= AudioRendererSetMute(p->arend, ap->mute) != 0;
    if (ap->flags & PLAYER_AUDIO_FORMAT)
        ok &= AudioRendererSetOutputFormat(p->arend, uint32_t(ap->out_rate),
                                           uint32_t(ap->out_channels)) != 0;
    for (int i = 0; i < 8; ++i)
        if (ap->flags & (0x10u << i)) p->arend->effects[i] = ap->effects[i];
    return ok;
}

// The audio decoder, the PcmBuffer and the audio device. ME_OK or the failure (the audio is then
// dropped).
MeResult SetupAudio(Player *p) {
    const AudioTrackInfo &at = p->info.audio[TrackIndex(p->open.audio_track, p->info.audio_count)];
    if (p->adec && MeFailed(AudioDecoderReset(p->adec))) {
        AudioDecoderDestroy(p->adec);
        p->adec = nullptr;
    }
    if (!p->adec) {
        SampleSlot first{};
        SampleQueuePeek(p->aq, &first);
        MeResult r = AudioDecoderCreate(&at, first.data, first.size, &p->adec);
        if (MeFailed(r)) {
            MeLog("audio decoder for codec %u (%u Hz, %u channels) did not start: %s", at.codec_tag,
                  at.sample_rate, at.channels, MeErrorText(r));
            return r;
        }
    }
    const uint32_t rate = p->adec->out_rate, ch = p->adec->out_channels;
    const uint32_t frame = p->adec->frame_length;
    if (!p->pcm.block) {
        uint32_t cap = frame * (rate / (frame * 20) + 1);
        p->pcm.block = static_cast<int16_t *>(MemAllocZero(sizeof(int16_t) * cap * 2));
        if (!p->pcm.block) return ME_ERR_MEMORY;
        p->pcm.capacity = cap;
        p->pcm.planes[0] = p->pcm.block;
        p->pcm.planes[1] = p->pcm.block + cap;
        p->pcm.channels = ch;
        p->pcm.rate = rate;
    }
    ClearPcm(p);
    if (!p->arend) {
        AudioRenderer *ar = nullptr;
        MeResult r = AudioRendererCreate(rate, ch, frame, p->pcm.capacity, ClockFromAudio, p,
                                         p->has_video.load() ? 0 : 1, &ar);
        if (MeFailed(r)) {
            MeLog("audio output for %u Hz, %u channels not made: %s", rate, ch, MeErrorText(r));
            return r;
        }
        r = AudioRendererInit(ar, AUDIO_BACKEND_DEVICE);
        if (MeFailed(r)) {
            AudioRendererDestroy(ar);
            MeLog("audio device for %u Hz, %u channels did not open: %s", rate, ch, MeErrorText(r));
            return ME_ERR_AUDIO_OUTPUT_INIT;
        }
        OsLockGuard g(p->params_lock);
        p->arend = ar;
        PlayerAudioParams ap = p->aparams;
        if (!ApplyAudioParamsLocked(p, &ap)) {
            MeLog("audio device refused the volume, mute or output format asked for");
            return ME_ERR_AUDIO_OUTPUT_INIT;
        }
    }
    return ME_OK;
}

// Reads until a sample of the kind is queued or the kind has ended. ME_OK, ME_ERR_MEMORY (a
// sample too large: the kind is given up, the start goes on), or the failure that ends the
// start: a stop request (ME_FAIL) or a read failure.
MeResult Prefill(Player *p, int kind) {
    SampleQueue *q = kind == TRACK_AUDIO ? p->aq : p->vq;
    MeResult given_up = ME_OK;
    for (;;) {
        if (State(p) == STATE_STOPPING || p->tasks_exit.load()) return ME_FAIL;
        if (SampleQueueCount(q) > 0) return ME_OK;
        if (kind == TRACK_AUDIO ? p->audio_eof : p->video_eof) return given_up;
        MeResult r = FillQueue(p, kind);
        if (r == ME_ERR_MEMORY) given_up = r;
        else if (MeFailed(r) && r != ME_ERR_END_OF_DATA && r != ME_ERR_NOT_READY &&
                 r != ME_ERR_BUFFER_TOO_SMALL)
            return r;
    }
}

bool Start(Player *p) {
    OsLockGuard vg(p->video_lock);
    OsLockGuard ag(p->audio_lock);
    p->audio_ended.store(!p->has_audio.load());
    p->video_ended.store(!p->has_video.load());
    p->audio_eof = p->video_eof = 0;
    if (p->has_audio.load()) {
        if (!p->aq) p->aq = SampleQueueCreate(kQueueDepth, LargestOf(p, TRACK_AUDIO), 0, false);
        else SampleQueueClear(p->aq);
        if (!p->aq) {
            SetError(p, ME_ERR_QUEUE_CREATE);
            return false;
        }
    }
    if (p->has_video.load()) {
        if (!p->vq) p->vq = SampleQueueCreate(kQueueDepth, LargestOf(p, TRACK_VIDEO), 0, false);
        else SampleQueueClear(p->vq);
        if (!p->vq) {
            SetError(p, ME_ERR_QUEUE_CREATE);
            return false;
        }
    }
    MeResult audio_fill = ME_OK, video_fill = ME_OK;
    if (p->has_audio.load()) audio_fill = Prefill(p, TRACK_AUDIO);
    if (MeFailed(audio_fill) && audio_fill != ME_ERR_MEMORY) {
        if (audio_fill != ME_FAIL)
            MeLog("start: no audio to begin with: %s", MeErrorText(audio_fill));
        return false;
    }
    if (p->has_video.load()) video_fill = Prefill(p, TRACK_VIDEO);
    if (MeFailed(video_fill) && video_fill != ME_ERR_MEMORY) {
        if (video_fill != ME_FAIL)
            MeLog("start: no video to begin with: %s", MeErrorText(video_fill));
        return false;
    }
    bool audio_left = p->has_audio.load() && SampleQueueCount(p->aq) > 0;
    bool video_left = p->has_video.load() && SampleQueueCount(p->vq) > 0;
    if (!audio_left) {
        p->has_audio.store(0);
        p->audio_ended.store(1);
    }
    if (!video_left) {
        p->has_video.store(0);
        p->video_ended.store(1);
    }
    if (!audio_left && !video_left) {
        MeResult why = MeFailed(audio_fill)   ? audio_fill
                       : MeFailed(video_fill) ? video_fill
                                              : ME_ERR_END_OF_DATA;
        MeLog("start: nothing to play: %s", MeErrorText(why));
        SetError(p, why);
        return false;
    }
    MeResult r;
    if (p->has_video.load() && MeFailed(r = SetupVideo(p))) {
        SetError(p, r);
        p->has_video.store(0);
        p->video_ended.store(1);
    }
    if (p->has_data.load()) {
        // No decoder renders the data track: the application reads it through the API.
        SetError(p, ME_ERR_TEXT_DECODER_INIT);
        p->has_data.store(0);
    }
    if (p->has_audio.load() && MeFailed(r = SetupAudio(p))) {
        SetError(p, r);
        p->has_audio.store(0);
        p->audio_ended.store(1);
    }
    if (p->has_audio.load() || p->has_video.load()) return true;
    MeLog("start: neither the audio nor the video could start; nothing to play");
    return false;
}

void StartTask(Player *p, std::atomic<OsThreadHandle> &slot, const char *name, OsThreadEntry entry,
               int priority, uint32_t stack) {
    if (LaunchTask(slot, name, entry, p, priority, stack)) return;
    MeLog("the task \"%s\" did not start", name);
    SetError(p, ME_ERR_THREAD);
}

// Waits until both media tasks have seen the state. false when the state changed meanwhile
// (a stop arrived): the caller then drops its work.
bool WaitTasksSeen(Player *p, int state) {
    for (;;) {
        if (State(p) != state) return false;
        bool a = p->audio_task.load() == INVALID_THREAD || p->audio_seen.load() == state;
        bool v = p->video_task.load() == INVALID_THREAD || p->video_seen.load() == state;
        if (a && v) return true;
        // An audio task blocked on a paused device would never see the state: free it.
        AudioRendererWakeWriter(p->arend);
        OsSleep(10);
    }
}

// Just before the end of the shortest audio or video track.
int64_t TracksEnd(Player *p) {
    int64_t end = p->info.duration_ms;
    for (uint32_t i = 0; i < p->info.audio_count && i < kMaxAudioTracks; ++i)
        if (p->info.audio[i].duration_ms && p->info.audio[i].duration_ms < end)
            end = p->info.audio[i].duration_ms;
    for (uint32_t i = 0; i < p->info.video_count && i < kMaxVideoTracks; ++i)
        if (p->info.video[i].duration_ms && p->info.video[i].duration_ms < end)
            end = p->info.video[i].duration_ms;
    return end > 0 ? end - 1 : 0;
}

void Seek(Player *p) {
    if (!WaitTasksSeen(p, STATE_SEEKING)) return;
    PlayerSeekRequest req;
    {
        OsLockGuard g(p->state_lock);
        req = p->seek;
    }
    MediaClockStop(p->clock.load());
    AudioRendererPause(p->arend);
    const bool by_step = req.kind == SEEK_KIND_STEP || req.kind == SEEK_KIND_EXACT_BACK;
    const bool step_back = req.kind == SEEK_KIND_EXACT_BACK && req.direction == STEP_BACKWARD;
    // A step back starts from the key frame before the shown picture, even when that picture is
    // a key frame itself.
    int64_t pos = step_back && req.position > 0 ? req.position - 1 : req.position;
    int ok;
    {
        OsLockGuard vg(p->video_lock);
        OsLockGuard ag(p->audio_lock);
        // A trip half way into its next recording: the seek goes from the next one.
        CompleteMove(p, true);
        // The reader works on the recording's own times; the trip's start later.
        const int64_t off = p->trip_offset;
        auto seek = [&](int64_t *t, bool step, int how) {
            int64_t local = *t - off < 0 ? 0 : *t - off;
            int r =
                step ? ReaderSeekStep(p->reader, &local, how) : ReaderSeek(p->reader, &local, how);
            if (r) *t = local + off;
            return r;
        };
        if (by_step) ok = seek(&pos, true, req.direction);
        else ok = seek(&pos, false, req.mode);
        if (!ok && !by_step) {
            // At the very end there is no next key frame to snap to, and the tracks may stop
            // short of the file's duration: fall back to the last position every track has.
            pos = req.position;
            ok = seek(&pos, false, SEEK_AUDIO_FIRST);
            // A track's last sample lies before its end: step back until every track has one.
            int64_t end = TracksEnd(p);
            for (int64_t back = 0; !ok && back <= 1000; back += 50) {
                pos = (req.position < end ? req.position : end) - back;
                if (pos < off) break;
                ok = seek(&pos, false, SEEK_AUDIO_FIRST);
            }
        }
        p->before.valid = p->after.valid = 0;
        p->step_back = 0;
        if (ok) {
            p->target.store(step_back ? req.position : pos);
            MediaClockSetPosition(p->clock.load(), p->target.load());
            AudioRendererReset(p->arend);
            ClearPcm(p);
            if (p->aq) SampleQueueClear(p->aq);
            if (p->vq) SampleQueueClear(p->vq);
            p->frame_pending.store(0);
            // A step back keeps the shown picture until the one before it is found.
            if (step_back) p->step_back = 1;
            else p->have_pending = 0;
        } else {
            MeLog("seek to %lld ms (kind %d) found no position to go to; the playback stays",
                  static_cast<long long>(req.position), req.kind);
            p->target.store(0);
        }
    }
    if (ok) {
        int buffered = 100, available = 100;
        ReaderBufferStatus(p->reader, &buffered, &available);
        PlayerRequest(p, buffered < 100 ? STATE_BUFFERING : STATE_STARTING);
    } else {
        RequestResumeAware(p, STATE_PAUSE_REQUESTED);
    }
}

void Step(Player *p) {
    if (!p->has_video.load() || p->video_ended.load()) {
        PlayerRequest(p, STATE_PAUSE_REQUESTED);
        return;
    }
    AudioRendererWakeWriter(p->arend);
    int64_t shown = PLAYER_TIME_NONE;
    {
        OsLockGuard vg(p->video_lock);
        p->frame_pending.store(0);
        uint32_t serial = p->pending_serial;
        // The next picture that may be shown: pictures still short of a seek's target are not.
        auto found = [&] { return p->pending_serial != serial && p->pending_showable; };
        for (int i = 0; i < 64 && !found() && !p->video_ended.load(); ++i) {
            FillQueue(p, TRACK_VIDEO);
            if (!DecodeNextPicture(p) && p->video_eof) break;
            if (!found()) p->frame_pending.store(0);
        }
        if (found()) {
            ShowPicture(p, p->pending);
            shown = p->pending.time_ms;
        }
    }
    PlayerRequest(p, STATE_PAUSE_REQUESTED);
    if (shown == PLAYER_TIME_NONE) return;
    MediaClockUpdatePosition(p->clock.load(), shown);
    {
        OsLockGuard ag(p->audio_lock);
        for (int i = 0; i < 200 && p->adec && !p->audio_ended.load(); ++i) {
            if (p->pcm.count > 0 && p->pcm.time_ms >= shown) break;
            p->pcm.count = 0;  // audio before the picture is discarded
            FillQueue(p, TRACK_AUDIO);
            if (!DecodeAudioStep(p) && p->audio_eof) break;
        }
    }
    AudioRendererReset(p->arend);
}

// ---- Trips: the status task's part ----------------------------------------------------------------

// Where the current recording ends on the trip's time line: the end of its sound, so that the
// next recording's sound follows it without a gap or an overlap (pictures, when there is no sound).
int64_t RecordingEnd(const Player *p) {
    const MediaInfo &i = p->info;
    if (p->has_audio.load() && i.audio_count) {
        const AudioTrackInfo &a = i.audio[TrackIndex(p->open.audio_track, i.audio_count)];
        if (a.duration_ms) return int64_t(a.duration_ms);
    }
    if (p->has_video.load() && i.video_count) {
        const VideoTrackInfo &v = i.video[TrackIndex(p->open.video_track, i.video_count)];
        if (v.duration_ms) return int64_t(v.duration_ms);
    }
    return int64_t(i.duration_ms);
}

// The next recording can take over the running decoders and the audio device.
const char *WhyNotAlike(const Player *p, const MediaInfo &n) {
    const MediaInfo &c = p->info;
    if (p->has_audio.load()) {
        if (!n.audio_count) return "it has no sound";
        const AudioTrackInfo &a = c.audio[TrackIndex(p->open.audio_track, c.audio_count)];
        const AudioTrackInfo &b = n.audio[TrackIndex(p->open.audio_track, n.audio_count)];
        if (a.codec_tag != b.codec_tag || a.sample_rate != b.sample_rate ||
            a.channels != b.channels || a.config_length != b.config_length ||
            std::memcmp(a.config, b.config, a.config_length) != 0)
            return "its sound is coded differently";
    }
    if (p->has_video.load()) {
        if (!n.video_count) return "it has no pictures";
        const VideoTrackInfo &a = c.video[TrackIndex(p->open.video_track, c.video_count)];
        const VideoTrackInfo &b = n.video[TrackIndex(p->open.video_track, n.video_count)];
        if (a.codec_tag != b.codec_tag || a.width != b.width || a.height != b.height ||
            a.config_length != b.config_length ||
            std::memcmp(a.config, b.config, a.config_length) != 0)
            return "its pictures are coded differently";
    }
    return nullptr;
}

void DropNext(Player *p) {
    OsLockGuard g(p->state_lock);
    MemFree(p->next_path);
    p->next_path = nullptr;
    p->next_tried = 0;
}

// Opens the queued recording while the current one plays.
void PrepareNext(Player *p) {
    char path[4096];
    {
        OsLockGuard g(p->state_lock);
        if (!p->next_path || p->next_tried || p->next_reader.load()) return;
        p->next_tried = 1;
        std::strncpy(path, p->next_path, sizeof path - 1);
        path[sizeof path - 1] = 0;
    }
    Reader *r = nullptr;
    MeResult e = ReaderOpen(path, &r);
    if (!MeFailed(e)) {
        std::memset(&p->next_info, 0, sizeof(p->next_info));
        e = ReaderGetInfo(r, &p->next_info);
    }
    const char *why = MeFailed(e) ? MeErrorText(e) : WhyNotAlike(p, p->next_info);
    if (why) {
        MeLog("trip: %s does not follow on: %s", path, why);
        ReaderClose(r);
        DropNext(p);
        return;
    }
    if (p->open.audio_track) ReaderSelectTrack(r, p->open.audio_track, TRACK_AUDIO);
    if (p->open.video_track) ReaderSelectTrack(r, p->open.video_track, TRACK_VIDEO);
    if (p->open.data_track) ReaderSelectTrack(r, p->open.data_track, TRACK_DATA);
    const int64_t off = RecordingEnd(p);
    for (int64_t &o : r->time_offset_ms) o = off;
    MediaInfo &n = p->next_info;
    n.duration_ms = uint32_t(n.duration_ms + off);
    for (uint32_t i = 0; i < n.audio_count && i < kMaxAudioTracks; ++i)
        if (n.audio[i].duration_ms) n.audio[i].duration_ms = uint32_t(n.audio[i].duration_ms + off);
    for (uint32_t i = 0; i < n.video_count && i < kMaxVideoTracks; ++i)
        if (n.video[i].duration_ms) n.video[i].duration_ms = uint32_t(n.video[i].duration_ms + off);
    p->next_offset = off;
    p->next_reader.store(r);
}

// Once every kind reads from the next recording (or `force`, for a seek), it becomes the current
// one. Takes the pipeline locks (they are recursive: a seek already holds them).
void CompleteMove(Player *p, bool force) {
    Reader *next = p->next_reader.load();
    if (!next) return;
    const bool audio = !p->has_audio.load() || p->trip_moved[0].load();
    const bool video = !p->has_video.load() || p->trip_moved[1].load();
    if (!force && !(audio && video)) return;
    if (force && !p->trip_moved[0].load() && !p->trip_moved[1].load()) return;
    OsLockGuard vg(p->video_lock);
    OsLockGuard ag(p->audio_lock);
    Reader *old = p->reader;
    p->reader = next;
    {
        OsLockGuard g(p->clock_lock);  // PlayerClockPosition caps at the duration under it
        p->info = p->next_info;
    }
    p->trip_offset = p->next_offset;
    p->trip_moved[0].store(0);
    p->trip_moved[1].store(0);
    p->next_reader.store(nullptr);
    ReaderClose(old);
    DropNext(p);
    p->recordings.fetch_add(1);
}

void StopPlayback(Player *p) {
    if (p->reader) ReaderCommand(p->reader, READER_CMD_STOP);
    // At a natural end the last block (drained allows one) still sounds: let it finish.
    if (State(p) == STATE_ENDING && p->arend && p->arend->end_of_stream.load()) {
        for (int i = 0; i < 50 && !AudioRendererPlayedOut(p->arend); ++i) OsSleep(5);
    }
    AudioRendererReset(p->arend);
    while (p->audio_task.load() != INVALID_THREAD || p->video_task.load() != INVALID_THREAD) {
        AudioRendererWakeWriter(p->arend);
        OsSleep(10);
    }
    p->has_audio.store(0);
    p->has_video.store(0);
    p->has_data.store(0);
    AudioDecoderDestroy(p->adec);
    p->adec = nullptr;
    {
        OsLockGuard g(p->params_lock);  // the API thread reaches the renderer under it
        if (p->arend) p->audio_blocks_total.fetch_add(p->arend->blocks_played.load());
        AudioRendererDestroy(p->arend);
        p->arend = nullptr;
    }
    SampleQueueDestroy(p->aq);
    p->aq = nullptr;
    MemFree(p->pcm.block);
    p->pcm = PcmBuffer{};
    {
        OsLockGuard g(p->video_lock);  // PlayerSetVideoParams may be refreshing the display
        VideoDecoderDestroy(p->vdec);
        p->vdec = nullptr;
        if (p->renderer_open) VideoRendererClose();
        p->renderer_open = 0;
        p->have_pending = 0;
        p->frame_pending.store(0);
        SampleQueueDestroy(p->vq);
        p->vq = nullptr;
    }
    ReaderClose(p->reader);
    p->reader = nullptr;
    ReaderClose(p->next_reader.exchange(nullptr));
    p->trip_moved[0].store(0);
    p->trip_moved[1].store(0);
    DropNext(p);
    {
        OsLockGuard g(p->clock_lock);  // the API thread may be reading it
        MediaClock *c = p->clock.exchange(nullptr);
        MediaClockDestroy(c);
    }
    FreePictureCopy(&p->before);
    FreePictureCopy(&p->after);
    p->step_back = 0;
    p->open.key_frames_only = 0;
}

// A file deleted or a card pulled may still read from what the system holds of it, and nothing
// is read while paused: the file itself is looked at every pass.
void EndIfSourceGone(Player *p) {
    if (ReaderSourceStatus(p->reader) != ME_ERR_FILE_IO) return;
    SetError(p, ME_ERR_FILE_IO);
    PlayerRequest(p, STATE_ENDING);
}

void StatusTask(void *arg) {
    Player *p = static_cast<Player *>(arg);
    while (!p->tasks_exit.load()) {
        int s = State(p);
        switch (s) {
            case STATE_OPEN_REQUESTED:
                std::memset(&p->info, 0, sizeof(p->info));
                p->last_error.store(0);
                {
                    OsLockGuard g(p->state_lock);
                    p->seek = PlayerSeekRequest{};
                }
                p->target.store(0);
                PlayerRequest(p, STATE_OPENING);
                p->first_start_pending = 1;
                break;
            case STATE_OPENING: {
                MeResult r = OpenReader(p);
                if (MeFailed(r)) SetError(p, r);
                PlayerRequest(p, MeFailed(r) ? STATE_ENDING : STATE_BUFFERING);
                break;
            }
            case STATE_BUFFERING:
                p->buffer_tick = OsTickCount();
                p->buffer_step = p->info.buffering_ms ? p->info.buffering_ms : 1000;
                p->buffer_remaining = p->buffer_step > 30000 ? p->buffer_step : 30000;
                MediaClockStop(p->clock.load());
                AudioRendererPause(p->arend);
                if (SourceReady(p)) RequestResumeAware(p, STATE_STARTING);
                else PlayerRequest(p, STATE_BUFFER_WAIT);
                break;
            case STATE_BUFFER_WAIT:
                if (SourceReady(p)) {
                    RequestResumeAware(p, STATE_STARTING);
                } else {
                    uint32_t waited = OsTickCount() - p->buffer_tick;
                    if (waited >= p->buffer_step) {
                        if (p->buffer_remaining <= p->buffer_step) {
                            SetError(p, ME_ERR_NO_DATA);
                            PlayerRequest(p, STATE_ENDING);
                        } else {
                            p->buffer_remaining -= p->buffer_step;
                            if (p->buffer_step > p->buffer_remaining)
                                p->buffer_step = p->buffer_remaining;
                            p->buffer_tick = OsTickCount();
                        }
                    }
                    OsSleep(10);
                }
                break;
            case STATE_STARTING:
                if (Start(p)) {
                    PlayerRequestResume(p);
                    if (p->first_start_pending) {
                        p->first_start_pending = 0;
                        if (p->config.opened) p->config.opened(p->config.user);
                        int vp = p->direct_render ? OS_PRIORITY_HIGHEST : OS_PRIORITY_TIME_CRITICAL;
                        int ap = vp;
                        if (p->config.priorities_configured) {
                            vp = p->config.video_priority;
                            ap = p->config.audio_priority;
                        }
                        StartTask(p, p->audio_task, "Player Audio Task", AudioTask, ap,
                                  kAudioStack);
                        StartTask(p, p->video_task, "Player Video Task", VideoTask, vp,
                                  kVideoStack);
                    }
                } else {
                    PlayerRequest(p, STATE_ENDING);
                }
                break;
            case STATE_PLAY_REQUESTED:
                ReaderCommand(p->reader, READER_CMD_PLAY);
                MediaClockStart(p->clock.load(),
                                (!p->has_audio.load() || p->audio_ended.load()) ? 1 : 0);
                AudioRendererRestart(p->arend);
                PlayerRequest(p, STATE_PLAYING);
                break;
            case STATE_PLAYING: {
                EndIfSourceGone(p);
                PrepareNext(p);
                CompleteMove(p, false);
                if (p->audio_ended.load() && p->video_ended.load()) {
                    bool drained =
                        !p->has_audio.load() || !p->arend || AudioRendererDrained(p->arend);
                    if (p->open.pause_at_end) {
                        // The sound plays out before the picture holds.
                        if (drained) PlayerRequest(p, STATE_PAUSE_REQUESTED);
                    } else if (p->open.repeat) {
                        PlayerRequest(p, STATE_AT_END);
                    } else if (drained) {
                        PlayerRequest(p, STATE_ENDING);
                    }
                }
                OsWait(p->wake, 100);
                break;
            }
            case STATE_PAUSE_REQUESTED:
                ReaderCommand(p->reader, READER_CMD_PAUSE);
                MediaClockStop(p->clock.load());
                AudioRendererPause(p->arend);
                PlayerRequest(p, STATE_PAUSED);
                break;
            case STATE_SEEKING:
                Seek(p);
                if (p->renderer_open) {
                    OsLockGuard vg(p->video_lock);
                    VideoRendererRepaint();
                }
                break;
            case STATE_STEPPING: Step(p); break;
            case STATE_PAUSED:
                EndIfSourceGone(p);
                PrepareNext(p);
                CompleteMove(p, false);
                OsWait(p->wake, 100);
                break;
            case STATE_ENDING:
            case STATE_STOPPING: p->tasks_exit.store(1); break;
            case STATE_AT_END:
                if (!p->has_audio.load() || !p->arend || AudioRendererDrained(p->arend)) {
                    if (p->open.repeat) {
                        PlayerSeekRequest again{};
                        again.direction = STEP_BACKWARD;
                        if (p->has_video.load()) {
                            again.kind = SEEK_KIND_STEP;
                        } else {
                            again.kind = SEEK_KIND_AUDIO_FIRST;
                            again.mode = SEEK_AUDIO_FIRST;
                        }
                        if (!PlayerRequestSeek(p, again)) p->tasks_exit.store(1);
                    } else {
                        AudioRendererReset(p->arend);
                        PlayerRequest(p, STATE_STARTING);
                    }
                }
                OsWait(p->wake, 100);
                break;
            default: OsWait(p->wake, 100); break;
        }
        if (State(p) != STATE_SEEKING && p->config.status_tick && !p->tasks_exit.load())
            p->config.status_tick(p->config.user);
    }
    StopPlayback(p);
    // Whatever made the loop end, the playback leaves through ending (or stopping) to idle, so
    // that a later stop or open never waits on a state nobody will leave.
    int last = State(p);
    if (last != STATE_ENDING && last != STATE_STOPPING) PlayerRequest(p, STATE_ENDING);
    if (State(p) == STATE_ENDING && p->config.ended) p->config.ended(p->config.user);
    PlayerRequest(p, STATE_IDLE);
    // The very last touch of the player: after this the owner may free it.
    PublishTaskEnd(p->status_task);
    OsExitThread();
}

}  // namespace

Player *PlayerNew(const PlayerConfig *config) {
    void *mem = MemAllocZero(sizeof(Player));
    if (!mem) return nullptr;
    Player *p = new (mem) Player();
    if (config) p->config = *config;
    p->state_lock = OsCreateLock();
    p->video_lock = OsCreateLock();
    p->audio_lock = OsCreateLock();
    p->params_lock = OsCreateLock();
    p->clock_lock = OsCreateLock();
    p->stop_event = OsCreateEvent(nullptr);
    p->wake = OsCreateEvent(nullptr);
    p->status_task.store(INVALID_THREAD);
    p->audio_task.store(INVALID_THREAD);
    p->video_task.store(INVALID_THREAD);
    p->aparams.flags = PLAYER_PARAMS_NONE;
    p->vparams.flags = PLAYER_PARAMS_NONE;
    p->aparams.output_type = PLAYER_AUDIO_OUTPUT_NONE;
    p->first_picture_ms.store(PLAYER_TIME_NONE);
    p->last_picture_ms.store(PLAYER_TIME_NONE);
    if (p->state_lock == INVALID_LOCK || p->video_lock == INVALID_LOCK ||
        p->audio_lock == INVALID_LOCK || p->params_lock == INVALID_LOCK ||
        p->clock_lock == INVALID_LOCK || !p->stop_event || !p->wake) {
        PlayerFree(p);
        return nullptr;
    }
    return p;
}

void PlayerFree(Player *p) {
    if (!p) return;
    OsDeleteLock(p->state_lock);
    OsDeleteLock(p->video_lock);
    OsDeleteLock(p->audio_lock);
    OsDeleteLock(p->params_lock);
    OsDeleteLock(p->clock_lock);
    OsCloseHandle(p->stop_event);
    OsCloseHandle(p->wake);
    MemFree(p->path);
    MemFree(p->next_path);
    p->~Player();
    MemFree(p);
}

namespace {

// The transition itself; the caller holds the state lock.
int RequestLocked(Player *p, int req, const PlayerSeekRequest *seek) {
    int s = State(p);
    bool to_play = false;
    if (!AcceptedFrom(req, s, &to_play)) return 0;
    int next = req;
    if (req == STATE_TOGGLE) next = to_play ? STATE_PLAY_REQUESTED : STATE_PAUSE_REQUESTED;
    if (req == STATE_OPENING) p->resume_state.store(STATE_PLAY_REQUESTED);
    if (req == STATE_SEEKING) {
        if (seek) p->seek = *seek;
        p->target.store(p->seek.position);
        // At the end with repeat set the seek to 0 is the repeat itself: it plays on.
        bool play = s == STATE_PLAYING || s == STATE_AT_END;
        p->resume_state.store(play ? STATE_PLAY_REQUESTED : STATE_PAUSE_REQUESTED);
    }
    p->prev_state.store(s);
    p->state.store(next, std::memory_order_release);
    if (req == STATE_IDLE && s == STATE_STOPPING) OsSetEvent(p->stop_event);
    OsSetEvent(p->wake);
    return 1;
}

}  // namespace

int PlayerRequest(Player *p, int req) {
    if (!p) return 0;
    OsLockGuard g(p->state_lock);
    return RequestLocked(p, req, nullptr);
}

int PlayerRequestSeek(Player *p, const PlayerSeekRequest &seek) {
    if (!p) return 0;
    OsLockGuard g(p->state_lock);
    return RequestLocked(p, STATE_SEEKING, &seek);
}

int PlayerRequestByUser(Player *p, int req) {
    if (!p) return 0;
    OsLockGuard g(p->state_lock);
    int s = State(p);
    // A seek (and the start that completes it) is under way: a pause or play decides how it
    // ends instead of cutting it short, so the seek always takes effect.
    if ((s == STATE_SEEKING || s == STATE_STARTING) &&
        (req == STATE_PAUSE_REQUESTED || req == STATE_PLAY_REQUESTED)) {
        p->resume_state.store(req);
        return 1;
    }
    return RequestLocked(p, req, nullptr);
}

int PlayerQueueNextPath(Player *p, const char *path) {
    if (!p || !path) return 0;
    OsLockGuard g(p->state_lock);
    if (State(p) == STATE_IDLE || State(p) == STATE_ENDING || State(p) == STATE_STOPPING ||
        p->next_path)
        return 0;
    size_t n = std::strlen(path);
    p->next_path = static_cast<char *>(MemAllocZero(n + 1));
    if (!p->next_path) return 0;
    std::memcpy(p->next_path, path, n);
    p->next_tried = 0;
    OsSetEvent(p->wake);
    return 1;
}

int PlayerRequestResume(Player *p) {
    if (!p) return 0;
    OsLockGuard g(p->state_lock);
    return RequestLocked(p, p->resume_state.load(), nullptr);
}

int PlayerStartStatusTask(Player *p) {
    p->tasks_exit.store(0);
    p->audio_seen.store(kStateNotSeen);
    p->video_seen.store(kStateNotSeen);
    p->frames_presented.store(0);
    p->frames_late.store(0);
    p->frames_late_drop.store(0);
    p->frames_late_skip.store(0);
    p->early_waits.store(0);
    p->first_picture_ms.store(PLAYER_TIME_NONE);
    p->last_picture_ms.store(PLAYER_TIME_NONE);
    p->av_count.store(0);
    p->audio_blocks_total.store(0);
    p->recordings.store(1);
    p->trip_offset = p->next_offset = 0;
    for (auto &b : p->av_hist) b.store(0);
    p->open_tick = OsTickCount();
    int prio = p->config.priorities_configured ? p->config.status_priority : OS_PRIORITY_NORMAL;
    return LaunchTask(p->status_task, "Player Status", StatusTask, p, prio, kStatusStack) ? 1 : 0;
}

int64_t PlayerClockPosition(Player *p) {
    if (!p) return 0;
    OsLockGuard g(p->clock_lock);  // the status task frees the clock under it
    MediaClock *c = p->clock.load();
    if (!c) return 0;
    int64_t v = MediaClockRead(c);
    if (p->info.duration_ms && v > int64_t(p->info.duration_ms)) v = p->info.duration_ms;
    return v < 0 ? 0 : v;
}

int PlayerApplyAudioParams(Player *p, const PlayerAudioParams *ap) {
    if (!p->arend) return 0;
    if (ap->flags & PLAYER_AUDIO_OUTPUT) {
        if (ap->output_type != PLAYER_AUDIO_OUTPUT_DEVICE) return 0;
    }
    return ApplyAudioParamsLocked(p, ap) ? 1 : 0;
}

int PlayerApplyVideoParams(Player *p, const PlayerVideoParams *vp) {
    OsLockGuard g(p->video_lock);
    if (!p->renderer_open) return 0;
    if (vp->flags & (PLAYER_VIDEO_WINDOW | PLAYER_VIDEO_OPTION)) {
        VideoRendererParams rp{};
        rp.window = p->vparams.window;
        rp.left = p->vparams.left;
        rp.top = p->vparams.top;
        rp.option = p->vparams.display_option;
        rp.tv_format = p->vparams.tv_format;
        VideoRendererParams now{};
        VideoRendererCurrent(&now);
        if ((vp->flags & PLAYER_VIDEO_WINDOW) &&
            (now.window != rp.window || now.tv_format != rp.tv_format)) {
            // Another window or raster: the surface is opened anew, and the picture on screen
            // is shown again in it.
            if (MeFailed(VideoRendererReopen(&rp))) {
                MeLog("display surface did not open for the new window or TV format");
                p->renderer_open = 0;
                return 0;
            }
            if (p->have_pending && p->pending_showable && p->drawn_serial == p->pending_serial)
                ShowPicture(p, p->pending);
        } else {
            VideoRendererRefresh(&rp);
        }
    }
    return 1;
}

void PlayerSetLastError(Player *p, MeResult code) {
    if (p) p->last_error.store(code);
}
