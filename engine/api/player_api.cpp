#include "engine/api/player_api.h"

#include <cstring>

#include "engine/core/mem.h"
#include "engine/player/player.h"
#include "engine/reader/reader.h"

namespace {

// Waits until the previous playback's status task has let go of the player.
void WaitStatusTaskGone(Player *p) {
    while (p->status_task.load(std::memory_order_acquire) != INVALID_THREAD) OsSleep(1);
}

int StopAndWait(Player *p, bool wait) {
    // Drop a stop signal left over from a stop nobody waited for.
    OsWait(p->stop_event, 0);
    if (!PlayerRequest(p, STATE_STOPPING)) return 0;
    if (wait) OsWait(p->stop_event, OS_WAIT_FOREVER);
    OsSleep(10);
    return 1;
}

int RequestSeek(Player *p, int64_t target, int mode, int kind, int dir) {
    PlayerSeekRequest req{};
    req.position = target;
    req.mode = mode;
    req.kind = kind;
    req.direction = dir;
    return PlayerRequestSeek(p, req);
}

int64_t Duration(Player *p) {
    OsLockGuard g(p->clock_lock);  // a trip moving on replaces the description under it
    return int64_t(p->info.duration_ms);
}

}  // namespace

Player *PlayerCreate(const PlayerConfig *config) { return PlayerNew(config); }

void PlayerDestroy(Player *player) {
    if (!player) return;
    if (player->state.load() != STATE_IDLE) StopAndWait(player, !player->open.no_wait_stop);
    // Even without waiting for the stop, the tasks must be gone before the memory is.
    WaitStatusTaskGone(player);
    PlayerFree(player);
}

int PlayerOpen(Player *player, const PlayerOpenParams *params) {
    if (!player || !params || (!params->path && !params->memory)) return 0;
    int s = player->state.load();
    if (s == STATE_BUFFERING || s == STATE_PLAYING || s == STATE_PAUSE_REQUESTED ||
        s == STATE_SEEKING) {
        StopAndWait(player, true);
    } else if (s != STATE_IDLE) {
        return 0;
    }
    WaitStatusTaskGone(player);
    MemFree(player->path);
    player->path = nullptr;
    player->open = *params;
    if (params->path) {
        size_t n = std::strlen(params->path);
        player->path = static_cast<char *>(MemAllocZero(n + 1));
        if (!player->path) return 0;
        std::memcpy(player->path, params->path, n);
        player->open.path = player->path;
    }
    if (!PlayerRequest(player, STATE_OPEN_REQUESTED)) return 0;
    if (!PlayerStartStatusTask(player)) {
        OsLockGuard g(player->state_lock);
        player->state.store(STATE_IDLE);
        return 0;
    }
    return 1;
}

int PlayerQueueNext(Player *player, const PlayerOpenParams *params) {
    if (!player || !params || !params->path) return 0;
    return PlayerQueueNextPath(player, params->path);
}

int PlayerStop(Player *player) {
    if (!player) return 0;
    return StopAndWait(player, !player->open.no_wait_stop);
}

int PlayerPause(Player *player) {
    return player ? PlayerRequestByUser(player, STATE_PAUSE_REQUESTED) : 0;
}

int PlayerPlay(Player *player) {
    return player ? PlayerRequestByUser(player, STATE_PLAY_REQUESTED) : 0;
}

int PlayerSeek(Player *player, int32_t position_ms, int32_t mode) {
    if (!player) return 0;
    int64_t t = position_ms < 0 ? 0 : position_ms;
    if (t > Duration(player)) t = Duration(player);
    return RequestSeek(player, t, mode ? SEEK_AUDIO_FIRST : SEEK_VIDEO_FIRST, SEEK_KIND_NONE,
                       STEP_FORWARD);
}

int PlayerBackward(Player *player, int32_t amount_ms, int32_t kind) {
    if (!player) return 0;
    int64_t now = PlayerClockPosition(player);
    switch (kind) {
        case PLAYER_MOVE_AUDIO_FIRST:
        case PLAYER_MOVE_VIDEO_FIRST: {
            int64_t t = now - (amount_ms > 0 ? amount_ms : 0);
            if (t < 0) t = 0;
            return RequestSeek(
                player, t, kind == PLAYER_MOVE_AUDIO_FIRST ? SEEK_AUDIO_FIRST : SEEK_VIDEO_FIRST,
                kind == PLAYER_MOVE_AUDIO_FIRST ? SEEK_KIND_AUDIO_FIRST : SEEK_KIND_VIDEO_FIRST,
                STEP_BACKWARD);
        }
        case PLAYER_MOVE_KEY_FRAME:
            if (!player->has_video.load()) return 0;
            return RequestSeek(player, now, SEEK_VIDEO_FIRST, SEEK_KIND_STEP, STEP_BACKWARD);
        case PLAYER_MOVE_PICTURE: {
            if (!player->has_video.load()) return 0;
            if (!player->have_pending && !player->video_ended.load()) return 0;
            int64_t t = player->have_pending ? player->pending_time.load() : now;
            return RequestSeek(player, t, SEEK_VIDEO_FIRST, SEEK_KIND_EXACT_BACK, STEP_BACKWARD);
        }
        default: return 0;
    }
}

int PlayerForward(Player *player, int32_t amount_ms, int32_t kind) {
    if (!player) return 0;
    int64_t now = PlayerClockPosition(player);
    switch (kind) {
        case PLAYER_MOVE_AUDIO_FIRST:
        case PLAYER_MOVE_VIDEO_FIRST: {
            int64_t t = now + (amount_ms > 0 ? amount_ms : 0);
            if (t > Duration(player)) t = Duration(player);
            return RequestSeek(
                player, t, kind == PLAYER_MOVE_AUDIO_FIRST ? SEEK_AUDIO_FIRST : SEEK_VIDEO_FIRST,
                kind == PLAYER_MOVE_AUDIO_FIRST ? SEEK_KIND_AUDIO_FIRST : SEEK_KIND_VIDEO_FIRST,
                STEP_FORWARD);
        }
        case PLAYER_MOVE_KEY_FRAME:
            if (!player->has_video.load()) return 0;
            return RequestSeek(player, now, SEEK_VIDEO_FIRST, SEEK_KIND_STEP, STEP_FORWARD);
        case PLAYER_MOVE_PICTURE:
            if (!player->has_video.load()) return 0;
            return PlayerRequest(player, STATE_STEPPING);
        default: return 0;
    }
}

int PlayerSetSpeed(Player *player, int32_t percent) {
    if (!player || percent <= 0) return 0;
    {
        OsLockGuard g(player->params_lock);
        if (player->arend && !AudioRendererSetSpeed(player->arend, percent)) return 0;
    }
    OsLockGuard g(player->clock_lock);  // a failing playback's teardown may be freeing it
    MediaClockSetRate(player->clock.load(), percent);
    return 1;
}

int PlayerSetAudioParams(Player *player, const PlayerAudioParams *params) {
    if (!player || !params) return 0;
    OsLockGuard g(player->params_lock);
    PlayerAudioParams &a = player->aparams;
    if (a.flags == PLAYER_PARAMS_NONE) a.flags = 0;
    a.flags |= params->flags;
    if (params->flags & PLAYER_AUDIO_OUTPUT) a.output_type = params->output_type;
    if (params->flags & PLAYER_AUDIO_VOLUME) {
        uint32_t low = params->volume & 0xFFFF;
        a.volume = low | low << 16;
    }
    if (params->flags & PLAYER_AUDIO_MUTE) a.mute = params->mute;
    if (params->flags & PLAYER_AUDIO_FORMAT) {
        a.out_rate = params->out_rate;
        a.out_channels = params->out_channels;
    }
    for (int i = 0; i < 8; ++i)
        if (params->flags & (0x10u << i)) a.effects[i] = params->effects[i];
    PlayerAudioParams apply = *params;
    apply.volume = a.volume;
    return PlayerApplyAudioParams(player, &apply);
}

int PlayerSetVideoParams(Player *player, const PlayerVideoParams *params) {
    if (!player || !params) return 0;
    {
        OsLockGuard g(player->video_lock);
        PlayerVideoParams &v = player->vparams;
        if (v.flags == PLAYER_PARAMS_NONE) v.flags = 0;
        v.flags |= params->flags;
        if (params->flags & PLAYER_VIDEO_RENDER_TYPE) v.render_type = params->render_type;
        if (params->flags & PLAYER_VIDEO_WINDOW) {
            v.window = params->window;
            v.left = params->left;
            v.top = params->top;
            v.width = params->width;
            v.height = params->height;
            v.tv_format = params->tv_format;
        }
        if (params->flags & PLAYER_VIDEO_OPTION) v.display_option = params->display_option;
        if (params->flags & PLAYER_VIDEO_PRESENT) v.present_enabled = params->present_enabled;
        if (params->flags & PLAYER_VIDEO_ENGINE_WORD) v.engine_word = params->engine_word;
    }
    return PlayerApplyVideoParams(player, params);
}

int PlayerGetVideoParams(Player *player, PlayerVideoParams *out) {
    if (!player || !out) return 0;
    OsLockGuard g(player->video_lock);
    if (!player->renderer_open) return 0;
    *out = player->vparams;
    return 1;
}

int PlayerGetStatus(Player *player, PlayerStatus *status) {
    if (!player || !status) return 0;
    std::memset(status, 0, sizeof(*status));
    status->state = player->state.load();
    status->last_error = player->last_error.exchange(0);
    status->percent_buffered = 100;
    status->percent_available = 100;
    status->position_ms = int32_t(PlayerClockPosition(player));
    return 1;
}

int PlayerGetStats(Player *player, PlayerStats *stats) {
    if (!player || !stats) return 0;
    std::memset(stats, 0, sizeof(*stats));
    stats->frames_presented = player->frames_presented.load();
    stats->frames_late = player->frames_late.load();
    stats->frames_late_drop = player->frames_late_drop.load();
    stats->frames_late_skip = player->frames_late_skip.load();
    stats->early_waits = player->early_waits.load();
    {
        OsLockGuard g(player->params_lock);
        stats->audio_blocks = player->audio_blocks_total.load() +
                              (player->arend ? player->arend->blocks_played.load() : 0);
    }
    stats->first_picture_ms = player->first_picture_ms.load();
    stats->recordings = player->recordings.load();
    stats->last_picture_ms = player->last_picture_ms.load();
    stats->av_offset_count = player->av_count.load();
    for (int i = 0; i <= 1000; ++i) stats->av_offset_histogram[i] = player->av_hist[i].load();
    return 1;
}

MeResult PlayerGetMediaInfo(const PlayerOpenParams *params, MediaSummary *summary,
                            MediaInfo *scratch) {
    if (!params || !summary || (!params->path && !params->memory)) return ME_FAIL;
    MediaInfo local;
    MediaInfo *info = scratch ? scratch : &local;
    std::memset(info, 0, sizeof(*info));
    Reader *r = nullptr;
    MeResult res = params->memory ? ReaderOpenMemory(params->memory, params->memory_length, &r)
                                  : ReaderOpen(params->path, &r);
    if (MeFailed(res)) return res;
    res = ReaderGetInfo(r, info);
    ReaderClose(r);
    if (MeFailed(res)) return res;
    std::memset(summary, 0, sizeof(*summary));
    summary->duration_ms = info->duration_ms;
    summary->audio_count = info->audio_count;
    summary->video_count = info->video_count;
    summary->data_count = info->data_count;
    for (uint32_t i = 0; i < 2 && i < info->audio_count; ++i) {
        const AudioTrackInfo &a = info->audio[i];
        MediaSummaryAudio &o = summary->audio[i];
        o.codec_tag = a.codec_tag;
        o.sample_rate = a.sample_rate;
        o.channels = a.channels;
        o.bitrate = a.bitrate;
        o.config_length = a.config_length > 128 ? 128 : a.config_length;
        std::memcpy(o.config, a.config, o.config_length);
    }
    for (uint32_t i = 0; i < 2 && i < info->video_count; ++i) {
        const VideoTrackInfo &v = info->video[i];
        MediaSummaryVideo &o = summary->video[i];
        o.codec_tag = v.codec_tag;
        o.width = v.width;
        o.height = v.height;
        o.frame_rate = v.frame_rate;
        o.bitrate = v.bitrate;
        o.config_length = v.config_length > 128 ? 128 : v.config_length;
        std::memcpy(o.config, v.config, o.config_length);
    }
    for (uint32_t i = 0; i < 3 && i < info->data_count; ++i) {
        summary->data[i].codec_tag = info->data[i].codec_tag;
        summary->data[i].bitrate = info->data[i].bitrate;
    }
    return ME_OK;
}

int32_t PlayerGetCapabilities(uint32_t *first, uint32_t *second) {
    if (first) *first = 7;
    if (second) *second = 31;
    return 31;
}

MeResult PlayerReadData(Player *player, uint8_t *buffer, int32_t *length, int32_t *time_ms) {
    if (!player || !buffer || !length || *length <= 0) return ME_FAIL;
    if (!player->reader) return ME_FAIL;
    SampleRequest req{};
    req.data = buffer;
    req.capacity = uint32_t(*length);
    req.kind = TRACK_DATA;
    MeResult r = ReaderReadSample(player->reader, &req);
    if (r == ME_OK) {
        *length = int32_t(req.written);
        if (time_ms) *time_ms = int32_t(req.time_ms);
    } else if (r == ME_ERR_BUFFER_TOO_SMALL) {
        *length = int32_t(req.capacity);
    }
    return r;
}
