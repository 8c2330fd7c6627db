#include "app/engine_ops.h"

namespace vt::app {

#if VT_APP_HAVE_ENGINE
namespace {
const EngineOps kMediaEngine = {
    .create = PlayerCreate,
    .destroy = PlayerDestroy,
    .open = PlayerOpen,
    .stop = PlayerStop,
    .play = PlayerPlay,
    .pause = PlayerPause,
    .seek = PlayerSeek,
    .backward = PlayerBackward,
    .forward = PlayerForward,
    .set_speed = PlayerSetSpeed,
    .set_audio = PlayerSetAudioParams,
    .set_video = PlayerSetVideoParams,
    .get_status = PlayerGetStatus,
    .get_media_info = PlayerGetMediaInfo,
    .read_data = PlayerReadData,
    .set_text_provider = DisplaySetTextProvider,
    .request_capture = DisplayRequestCapture,
    .set_window_backend = DisplaySetWindowBackend,
    .set_picture_observer = DisplaySetPictureObserver,
};
}  // namespace

const EngineOps *MediaEngineOps() { return &kMediaEngine; }
#else
const EngineOps *MediaEngineOps() { return nullptr; }
#endif

}  // namespace vt::app
