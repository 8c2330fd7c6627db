#pragma once
// The engine calls the player control layer makes, as one table. The default table is the media
// engine itself; tests put a scripted engine in its place to drive the window through whole
// playbacks deterministically.
#include "engine/api/player_api.h"

namespace vt::app {

struct EngineOps {
    Player *(*create)(const PlayerConfig *config);
    void (*destroy)(Player *player);
    int (*open)(Player *player, const PlayerOpenParams *params);
    int (*stop)(Player *player);
    int (*play)(Player *player);
    int (*pause)(Player *player);
    int (*seek)(Player *player, int32_t position_ms, int32_t mode);
    int (*backward)(Player *player, int32_t amount_ms, int32_t kind);
    int (*forward)(Player *player, int32_t amount_ms, int32_t kind);
    int (*set_speed)(Player *player, int32_t percent);
    int (*set_audio)(Player *player, const PlayerAudioParams *params);
    int (*set_video)(Player *player, const PlayerVideoParams *params);
    int (*get_status)(Player *player, PlayerStatus *status);
    MeResult (*get_media_info)(const PlayerOpenParams *params, MediaSummary *summary,
                               MediaInfo *scratch);
    MeResult (*read_data)(Player *player, uint8_t *buffer, int32_t *length, int32_t *time_ms);
    void (*set_text_provider)(DisplayTextProvider provider);
    int (*request_capture)(const char *path);
    void (*set_window_backend)(const DisplayBackendOps *ops);
    // Optional: every picture drawn, as decoded (the snapshot keeps the last one).
    void (*set_picture_observer)(DisplayPictureObserver observer, void *user);
};

// The media engine's own calls; null when the program is built without the engine.
const EngineOps *MediaEngineOps();

}  // namespace vt::app
