#include "tests/app/fake_engine.h"

#include <QImage>
#include <algorithm>
#include <cstring>

namespace vt::test {
namespace {

Player *const kHandle = reinterpret_cast<Player *>(0x1000);

Player *Create(const PlayerConfig *config) {
    FakeEngine &e = FakeEngine::Get();
    ++e.creates;
    e.config = config != nullptr ? *config : PlayerConfig{};
    return kHandle;
}
void Destroy(Player *) {}
int Open(Player *, const PlayerOpenParams *params) {
    FakeEngine &e = FakeEngine::Get();
    ++e.opens;
    e.last_path = params->path != nullptr ? params->path : "";
    if (e.refuse_open) return 0;
    e.state = STATE_PLAYING;
    e.position = 0;
    e.data_read = 0;
    if (e.config.opened != nullptr) e.config.opened(e.config.user);
    return 1;
}
int Stop(Player *) {
    FakeEngine &e = FakeEngine::Get();
    ++e.stops;
    const bool playing = e.state != 0;
    e.state = 0;
    return playing ? 1 : 0;
}
// Play and pause are followed by a pass of the status task, as the real engine's would be
// within the window's 100 ms wait.
int Play(Player *) {
    FakeEngine &e = FakeEngine::Get();
    ++e.plays;
    e.Tick(e.position, STATE_PLAYING);
    return 1;
}
int Pause(Player *) {
    FakeEngine &e = FakeEngine::Get();
    ++e.pauses;
    e.Tick(e.position, STATE_PAUSED);
    return 1;
}
int Seek(Player *, int32_t position_ms, int32_t) {
    FakeEngine &e = FakeEngine::Get();
    e.seeks.push_back(position_ms);
    e.position = std::min(position_ms, e.duration_ms);
    return 1;
}
// A step pauses and moves one 40 ms picture, as the real engine's would.
int Backward(Player *, int32_t, int32_t kind) {
    FakeEngine &e = FakeEngine::Get();
    if (kind != 4) return 0;
    ++e.steps_back;
    e.Tick(std::max(0, e.position - 40), STATE_PAUSED);
    return 1;
}
int Forward(Player *, int32_t, int32_t kind) {
    FakeEngine &e = FakeEngine::Get();
    if (kind != 4) return 0;
    ++e.steps_forward;
    e.Tick(std::min(e.duration_ms, e.position + 40), STATE_PAUSED);
    return 1;
}
int SetSpeed(Player *, int32_t percent) {
    FakeEngine &e = FakeEngine::Get();
    ++e.speed_calls;
    e.speed = percent;
    return 1;
}
int SetAudio(Player *, const PlayerAudioParams *params) {
    FakeEngine &e = FakeEngine::Get();
    if (params->flags & PLAYER_AUDIO_VOLUME) e.volume = params->volume;
    if (params->flags & PLAYER_AUDIO_MUTE) e.mute = params->mute;
    return 1;
}
int SetVideo(Player *, const PlayerVideoParams *params) {
    if (params->flags & PLAYER_VIDEO_WINDOW) FakeEngine::Get().window = params->window;
    return 1;
}
int GetStatus(Player *, PlayerStatus *status) {
    FakeEngine &e = FakeEngine::Get();
    std::memset(status, 0, sizeof *status);
    status->state = e.state;
    status->position_ms = e.position;
    return 1;
}
MeResult MediaInfo(const PlayerOpenParams *, MediaSummary *summary, ::MediaInfo *) {
    std::memset(summary, 0, sizeof *summary);
    summary->duration_ms = static_cast<uint32_t>(FakeEngine::Get().duration_ms);
    return ME_OK;
}
MeResult ReadData(Player *, uint8_t *buffer, int32_t *length, int32_t *time_ms) {
    FakeEngine &e = FakeEngine::Get();
    if (e.data_read >= e.data.size()) return ME_ERR_END_OF_DATA;
    const auto &[t, text] = e.data[e.data_read++];
    const int32_t n = std::min<int32_t>(*length, static_cast<int32_t>(text.size()));
    std::memcpy(buffer, text.data(), n);
    *length = n;
    *time_ms = t;
    return ME_OK;
}
void SetTextProvider(DisplayTextProvider provider) {
    FakeEngine::Get().has_text_provider = provider != nullptr;
}
int RequestCapture(const char *path) {
    FakeEngine &e = FakeEngine::Get();
    e.captures.push_back(path);
    if (e.capture_width > 0 && e.capture_height > 0) {
        QImage img(e.capture_width, e.capture_height, QImage::Format_RGB32);
        img.fill(QColor::fromRgb(e.capture_rgb));
        img.save(QString::fromLocal8Bit(path), "JPEG", 95);
    }
    return 1;
}
void SetWindowBackend(const DisplayBackendOps *) {}

const vt::app::EngineOps kOps = {
    .create = Create,
    .destroy = Destroy,
    .open = Open,
    .stop = Stop,
    .play = Play,
    .pause = Pause,
    .seek = Seek,
    .backward = Backward,
    .forward = Forward,
    .set_speed = SetSpeed,
    .set_audio = SetAudio,
    .set_video = SetVideo,
    .get_status = GetStatus,
    .get_media_info = MediaInfo,
    .read_data = ReadData,
    .set_text_provider = SetTextProvider,
    .request_capture = RequestCapture,
    .set_window_backend = SetWindowBackend,
    // Pictures are not reported: the window's snapshot falls back to the capture request.
    .set_picture_observer = nullptr,
};

}  // namespace

FakeEngine &FakeEngine::Get() {
    static FakeEngine engine;
    return engine;
}

void FakeEngine::Reset() { *this = FakeEngine{}; }

void FakeEngine::Tick(int32_t position_ms, int32_t engine_state) {
    position = position_ms;
    state = engine_state;
    if (config.status_tick != nullptr) config.status_tick(config.user);
}

const vt::app::EngineOps *FakeEngineOps() { return &kOps; }

}  // namespace vt::test
