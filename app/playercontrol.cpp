#include "app/playercontrol.h"

#include <algorithm>
#include <cstring>

#include "app/messages.h"
#include "app/videowindow.h"
#include "app/wait.h"
#include "imaging/imaging.h"

namespace vt::app {
namespace {

std::atomic<CPlayerControl *> g_instance{nullptr};
const EngineOps *g_engine_override = nullptr;

}  // namespace

CPlayerControl *CPlayerControl::Instance() {
    CPlayerControl *p = g_instance.load();
    if (p == nullptr) {
        p = new CPlayerControl(g_engine_override != nullptr ? g_engine_override : MediaEngineOps());
        g_instance.store(p);
    }
    return p;
}

CPlayerControl *CPlayerControl::Existing() { return g_instance.load(); }

void CPlayerControl::Release() {
    CPlayerControl *p = g_instance.load();
    if (p == nullptr) return;
    delete p;
    g_instance.store(nullptr);
}

void CPlayerControl::UseEngine(const EngineOps *ops) { g_engine_override = ops; }

CPlayerControl::CPlayerControl(const EngineOps *ops) : m_ops(ops) {
    ClearDataTrack(&m_table);
    if (m_ops == nullptr) return;
    if (m_ops->set_window_backend != nullptr) m_ops->set_window_backend(CVideoWindow::Backend());
    PlayerConfig config{};
    config.opened = &CPlayerControl::OnOpened;
    config.ended = &CPlayerControl::OnEnded;
    config.status_tick = &CPlayerControl::OnStatusTick;
    config.user = this;
    m_player = m_ops->create(&config);
    if (m_player == nullptr) return;

    PlayerVideoParams video{};
    video.flags = PLAYER_VIDEO_RENDER_TYPE | PLAYER_VIDEO_OPTION;
    video.render_type = PLAYER_RENDER_WINDOW;
    video.display_option = static_cast<uint32_t>(m_display_mode);
    m_ops->set_video(m_player, &video);
    PlayerAudioParams audio{};
    audio.flags = PLAYER_AUDIO_OUTPUT | PLAYER_AUDIO_VOLUME;
    audio.output_type = PLAYER_AUDIO_OUTPUT_DEVICE;
    audio.volume = m_volume_word;
    m_ops->set_audio(m_player, &audio);
}

CPlayerControl::~CPlayerControl() {
    if (m_ops != nullptr && m_ops->set_picture_observer != nullptr)
        m_ops->set_picture_observer(nullptr, nullptr);
    if (m_player == nullptr) return;
    // The text provider points into this object: take it away before the object goes.
    m_table_ready.store(false);
    m_ops->stop(m_player);
    if (m_ops->set_text_provider != nullptr) m_ops->set_text_provider(nullptr);
    m_ops->destroy(m_player);
    m_player = nullptr;
}

int CPlayerControl::SetWindows(QObject *parent, CVideoWindow *video) {
    if (parent == nullptr || video == nullptr) return 0;
    m_parent = parent;
    m_video = video;
    if (m_player != nullptr) {
        PlayerVideoParams params{};
        params.flags = PLAYER_VIDEO_WINDOW;
        params.window = video;
        const QRect r = video->geometry();
        params.left = r.left();
        params.top = r.top();
        params.width = r.width();
        params.height = r.height();
        m_ops->set_video(m_player, &params);
    }
    return 1;
}

void CPlayerControl::SetDisplayMode(int mode) {
    m_display_mode = mode;
    if (m_player == nullptr) return;
    PlayerVideoParams params{};
    params.flags = PLAYER_VIDEO_OPTION;
    params.display_option = static_cast<uint32_t>(mode);
    m_ops->set_video(m_player, &params);
}

void CPlayerControl::SetVolume(int percent) {
    m_volume_word = VolumeWordOfPercent(percent);
    if (m_player == nullptr) return;
    PlayerAudioParams params{};
    params.flags = PLAYER_AUDIO_VOLUME;
    params.volume = m_volume_word;
    m_ops->set_audio(m_player, &params);
}

int CPlayerControl::Open(const char *path, int flag, int, int start_ms, int notify_once) {
    if (GetState() != kStateStopped) return 0;
    m_notify_once.store(0);
    const size_t len = path != nullptr ? strnlen(path, sizeof m_path) : 0;
    // A path that does not fit would open some other, truncated name.
    if (len >= sizeof m_path) {
        Stop();
        return 0;
    }
    std::memset(m_path, 0, sizeof m_path);
    if (len > 0) std::memcpy(m_path, path, len);
    if (m_video == nullptr || !m_video->isEnabled() || len == 0) {
        Stop();
        return 0;
    }
    std::memset(&m_request, 0, sizeof m_request);
    m_request.path = m_path;
    m_request.app = this;
    m_request.start_ms = start_ms;
    m_request.pause_at_end = 1;
    m_request.repeat = 0;
    m_request.no_wait_stop = flag != 0 ? 1 : 0;
    m_notify_once.store(notify_once);

    // What the window reads for this recording starts afresh; the previous one's duration would
    // otherwise pass for this one's until the engine reports.
    m_duration.store(0);
    m_position.store(0);
    m_table_ready.store(false);
    ClearDataTrack(&m_table);
    if (m_player == nullptr) return 0;
    return m_ops->open(m_player, &m_request) != 0 ? 1 : 0;
}

void CPlayerControl::Stop() {
    m_capture = 0;
    if (m_player != nullptr) m_ops->stop(m_player);
    m_state.store(kStateStopped);
    SetTimeText("00:00/00:00");
}

int CPlayerControl::Pause() {
    if (m_player != nullptr && GetState() == kStatePlaying) {
        m_ops->pause(m_player);
        m_state.store(kStatePaused);
    }
    return 1;
}

int CPlayerControl::Resume() {
    if (m_player == nullptr) return 0;
    if (GetState() == kStateScanning) {
        SeekExact(GetPosition());
        Wait(100);
    }
    return m_ops->play(m_player);
}

int CPlayerControl::EngineSeek(int32_t ms, int32_t mode) {
    if (m_player == nullptr || GetState() == kStateStopped) return 0;
    const int32_t target = std::clamp<int32_t>(ms, 0, std::max<int32_t>(0, GetDuration()));
    return m_ops->seek(m_player, target, mode);
}

int CPlayerControl::Seek(int32_t ms) { return EngineSeek(ms, PLAYER_SEEK_AUDIO_FIRST); }
int CPlayerControl::SeekExact(int32_t ms) { return EngineSeek(ms, PLAYER_SEEK_VIDEO_FIRST); }

int CPlayerControl::CaptureFrame(const char *path) {
    if (path == nullptr || path[0] == 0) return 0;
    Pause();
    m_capture = 1;
    if (m_ops != nullptr && m_ops->request_capture != nullptr) m_ops->request_capture(path);
    return 1;
}

int CPlayerControl::RequestCapture(const char *path) {
    if (path == nullptr || path[0] == 0 || m_ops == nullptr || m_ops->request_capture == nullptr)
        return 0;
    return m_ops->request_capture(path);
}

int CPlayerControl::StepForward() {
    if (m_player == nullptr || GetState() == kStateStopped || m_ops->forward == nullptr) return 0;
    Pause();
    return m_ops->forward(m_player, 0, 4);
}

int CPlayerControl::StepBack() {
    if (m_player == nullptr || GetState() == kStateStopped || m_ops->backward == nullptr) return 0;
    Pause();
    return m_ops->backward(m_player, 0, 4);
}

int CPlayerControl::SetSpeed(int percent) {
    if (percent <= 0) return 0;
    m_speed = percent;
    if (m_player == nullptr || m_ops->set_speed == nullptr || GetState() == kStateStopped) return 0;
    return m_ops->set_speed(m_player, percent);
}

void CPlayerControl::SetMute(bool mute) {
    m_mute = mute;
    if (m_player == nullptr) return;
    PlayerAudioParams params{};
    params.flags = PLAYER_AUDIO_MUTE;
    params.mute = mute ? 1 : 0;
    m_ops->set_audio(m_player, &params);
}

std::string CPlayerControl::GetTimeText() const {
    std::lock_guard<std::mutex> lock(m_time_lock);
    return m_time_text;
}

void CPlayerControl::SetTimeText(const std::string &text) {
    std::lock_guard<std::mutex> lock(m_time_lock);
    m_time_text = text;
}

int32_t CPlayerControl::TakeLastError(int32_t *position_ms) {
    if (position_ms != nullptr) *position_ms = m_error_position.load();
    return m_last_error.exchange(0);
}

void CPlayerControl::RememberError(const PlayerStatus &status) {
    if (status.last_error == 0) return;
    m_last_error.store(status.last_error);
    m_error_position.store(status.position_ms);
}

void CPlayerControl::Post(int message, uintptr_t wparam, intptr_t lparam) {
    if (m_parent != nullptr) PostWindowMessage(m_parent, message, wparam, lparam);
}

int CPlayerControl::LookupText(int32_t time_ms, char *text, int capacity) {
    if (!m_table_ready.load(std::memory_order_acquire)) {
        if (capacity > 0) text[0] = 0;
        return 0;
    }
    return LookupDataTrackText(&m_table, time_ms, text, capacity);
}

void CPlayerControl::TextProvider(int32_t time_ms, char *text, int32_t *length) {
    CPlayerControl *self = g_instance.load();
    if (length == nullptr) return;
    if (self == nullptr || text == nullptr || *length <= 0) {
        *length = 0;
        return;
    }
    *length = self->LookupText(time_ms, text, *length);
}

void CPlayerControl::OnOpened(void *user) {
    auto *self = static_cast<CPlayerControl *>(user);
    self->m_last_error.store(0);
    MediaSummary summary{};
    if (self->m_ops->get_media_info(&self->m_request, &summary, nullptr) == ME_OK)
        self->m_duration.store(
            static_cast<int32_t>(std::min<uint32_t>(summary.duration_ms, INT32_MAX)));
    PlayerStatus status{};
    if (self->m_ops->get_status(self->m_player, &status) != 0) self->RememberError(status);
    self->m_state.store(kStatePlaying);

    uint8_t buffer[DataTrackTable::kTextCapacity];
    while (self->m_table.count < DataTrackTable::kEntries) {
        int32_t length = sizeof buffer;
        int32_t time_ms = 0;
        if (self->m_ops->read_data(self->m_player, buffer, &length, &time_ms) < 0) break;
        AddDataTrackEntry(&self->m_table, time_ms, buffer, length);
    }
    self->Seek(0);
    self->m_table_ready.store(true, std::memory_order_release);
    if (self->m_ops->set_text_provider != nullptr)
        self->m_ops->set_text_provider(&CPlayerControl::TextProvider);
    self->Post(WM_PLAYER_OPENED, static_cast<uintptr_t>(self->GetDuration()), 0);
}

void CPlayerControl::OnEnded(void *user) {
    auto *self = static_cast<CPlayerControl *>(user);
    self->m_state.store(kStatePaused);
    self->Post(WM_PLAYER_HALTED, 0, 0);
}

void CPlayerControl::OnStatusTick(void *user) {
    auto *self = static_cast<CPlayerControl *>(user);
    PlayerStatus status{};
    if (self->m_ops->get_status(self->m_player, &status) == 0) return;
    self->RememberError(status);
    self->m_engine_state.store(status.state);
    self->m_position.store(status.position_ms);
    const int32_t state = status.state == STATE_PLAYING ? kStatePlaying : kStatePaused;
    self->m_state.store(state);
    const int32_t p = status.position_ms;
    const std::string text = FormatTimeText(self->GetDuration(), p);
    if (state == kStatePlaying && self->m_notify_once.exchange(0) != 0) {
        self->SetTimeText(text);
        self->Post(WM_PLAYER_STATUS, static_cast<uintptr_t>(p), state);
    }
    self->SetTimeText(text);
    self->Post(WM_PLAYER_STATUS, static_cast<uintptr_t>(p), state);
}

void CPlayerControl::WatchPictures(bool on) {
    if (m_ops == nullptr || m_ops->set_picture_observer == nullptr) return;
    {
        std::lock_guard<std::mutex> g(m_picture_lock);
        m_picture_width = m_picture_height = 0;
    }
    if (on) m_ops->set_picture_observer(&CPlayerControl::OnPicture, this);
    else m_ops->set_picture_observer(nullptr, nullptr);
}

void CPlayerControl::OnPicture(void *user, const DisplayPicture *picture) {
    auto *self = static_cast<CPlayerControl *>(user);
    if (self == nullptr || picture == nullptr || picture->width <= 0 || picture->height <= 0)
        return;
    const int w = picture->width, h = picture->height;
    const int cw = (w + 1) / 2, ch = (h + 1) / 2;
    std::lock_guard<std::mutex> g(self->m_picture_lock);
    self->m_picture.resize(size_t(w) * h + 2 * size_t(cw) * ch);
    uint8_t *out = self->m_picture.data();
    for (int r = 0; r < h; ++r, out += w)
        std::memcpy(out, picture->y + ptrdiff_t(r) * picture->stride, size_t(w));
    for (const uint8_t *plane : {picture->u, picture->v})
        for (int r = 0; r < ch; ++r, out += cw)
            std::memcpy(out, plane + ptrdiff_t(r) * (picture->stride / 2), size_t(cw));
    self->m_picture_width = w;
    self->m_picture_height = h;
    self->m_picture_time = picture->time_ms;
}

bool CPlayerControl::LastPicture(QImage *picture, int32_t *time_ms) const {
    std::lock_guard<std::mutex> g(m_picture_lock);
    const int w = m_picture_width, h = m_picture_height;
    if (picture == nullptr || w <= 0 || h <= 0 || m_picture.empty()) return false;
    // The converter reads chroma rows half the luma stride apart: give it an even stride.
    const int stride = (w + 1) & ~1;
    const int cw = (w + 1) / 2, ch = (h + 1) / 2;
    std::vector<uint8_t> y(size_t(stride) * h), u(size_t(stride / 2) * ch),
        v(size_t(stride / 2) * ch);
    const uint8_t *in = m_picture.data();
    for (int r = 0; r < h; ++r, in += w) std::memcpy(y.data() + size_t(r) * stride, in, size_t(w));
    for (std::vector<uint8_t> *plane : {&u, &v})
        for (int r = 0; r < ch; ++r, in += cw)
            std::memcpy(plane->data() + size_t(r) * (stride / 2), in, size_t(cw));
    QImage image(w, h, QImage::Format_RGB32);
    ImageYuvToRgb32(y.data(), u.data(), v.data(), stride, w, h,
                    reinterpret_cast<uint32_t *>(image.bits()), int(image.bytesPerLine()));
    *picture = std::move(image);
    if (time_ms != nullptr) *time_ms = m_picture_time;
    return true;
}

}  // namespace vt::app
