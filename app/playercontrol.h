#pragma once
// The one object through which the window drives the media engine. It keeps the player's state as
// the window sees it, the last status report, the time string and the recording's data-track
// texts, and turns the engine's notifications into window messages posted to the main window.
//
// Threads: every operation is called on the user-interface thread. The engine's callbacks run on
// its status task and only store words and post messages; LookupText runs on the video task. The
// window reads state, position and duration as single words without waiting for anyone.
#include <QImage>
#include <QObject>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "app/datatrack.h"
#include "app/engine_ops.h"

namespace vt::app {

class CVideoWindow;

// The shell's player states.
enum PlayerState : int32_t {
    kStatePlaying = 1,
    kStatePaused = 2,
    kStateStopped = 3,
    kStateScanning = 6,
};

class CPlayerControl final {
    Q_DISABLE_COPY_MOVE(CPlayerControl)

public:
    // Created on first call (with the engine), kept until Release.
    static CPlayerControl *Instance();
    // Whether an instance exists, without creating one.
    static CPlayerControl *Existing();
    // Stops and destroys the engine and the object; the next Instance makes a new one.
    static void Release();
    // The engine the next Instance creates its player with (null: the media engine itself).
    static void UseEngine(const EngineOps *ops);

    bool HasEngine() const { return m_player != nullptr; }

    // 1 when both are given; the video window also becomes the engine's output window.
    int SetWindows(QObject *parent, CVideoWindow *video);
    void SetDisplayMode(int mode);
    void SetVolume(int percent);
    uint32_t VolumeWord() const { return m_volume_word; }

    // Opens a recording (path as the window lists it). 1 when the engine accepted the request;
    // completion arrives as WM_PLAYER_OPENED.
    int Open(const char *path, int flag, int reserved, int start_ms, int notify_once);
    void Stop();
    int Pause();
    int Resume();
    int Seek(int32_t ms);
    int SeekExact(int32_t ms);
    int CaptureFrame(const char *path);
    // Asks for the next picture drawn as a JPEG without pausing (the snapshot key).
    int RequestCapture(const char *path);
    // While on, the engine hands each picture it draws over as decoded (the video task copies it),
    // so only a snapshot pays for that copy. Turning it on forgets the picture kept before.
    void WatchPictures(bool on);
    // The last picture drawn while watching, as decoded (no overlay), converted to RGB at its own
    // size with the display's coefficients; false when none was drawn or the engine does not
    // report pictures.
    bool LastPicture(QImage *picture, int32_t *time_ms) const;

    // One picture forward / back; the player is paused first.
    int StepForward();
    int StepBack();
    // Playback speed in percent of normal; kept for the recordings opened later.
    int SetSpeed(int percent);
    int Speed() const { return m_speed; }
    void SetMute(bool mute);
    bool Muted() const { return m_mute; }

    int32_t GetState() const { return m_state.load(std::memory_order_relaxed); }
    int32_t GetPosition() const { return m_position.load(std::memory_order_relaxed); }
    int32_t GetDuration() const { return m_duration.load(std::memory_order_relaxed); }
    // The engine's own state (PlayerEngineState) from the last status.
    int32_t GetEngineState() const { return m_engine_state.load(std::memory_order_relaxed); }
    std::string GetTimeText() const;
    // The engine failure last reported by a status, with its position; reading clears it.
    int32_t TakeLastError(int32_t *position_ms);

    // The overlay text for a picture time; the display calls it for every picture.
    int LookupText(int32_t time_ms, char *text, int capacity);
    const DataTrackTable &DataTrack() const { return m_table; }

private:
    explicit CPlayerControl(const EngineOps *ops);
    ~CPlayerControl();

    static void OnOpened(void *user);
    static void OnEnded(void *user);
    static void OnStatusTick(void *user);
    static void TextProvider(int32_t time_ms, char *text, int32_t *length);
    static void OnPicture(void *user, const DisplayPicture *picture);

    int EngineSeek(int32_t ms, int32_t mode);
    void SetTimeText(const std::string &text);
    void RememberError(const PlayerStatus &status);
    void Post(int message, uintptr_t wparam, intptr_t lparam);

    const EngineOps *m_ops;
    Player *m_player = nullptr;

    // The last picture drawn, copied on the engine's video task (4:2:0 planes, tightly packed).
    mutable std::mutex m_picture_lock;
    std::vector<uint8_t> m_picture;
    int32_t m_picture_width = 0, m_picture_height = 0, m_picture_time = 0;

    QObject *m_parent = nullptr;
    CVideoWindow *m_video = nullptr;
    int m_display_mode = 1;
    uint32_t m_volume_word = 0xFFFFFFFFu;
    int m_speed = 100;
    bool m_mute = false;
    int m_capture = 0;
    std::atomic<int32_t> m_notify_once{0};
    char m_path[260] = {};
    PlayerOpenParams m_request{};

    // Written by the engine's status task, read by the window.
    std::atomic<int32_t> m_state{kStateStopped};
    std::atomic<int32_t> m_position{0};
    std::atomic<int32_t> m_duration{0};
    std::atomic<int32_t> m_engine_state{0};
    std::atomic<int32_t> m_last_error{0};
    std::atomic<int32_t> m_error_position{0};
    mutable std::mutex m_time_lock;  // held only to copy the string, never while waiting
    std::string m_time_text = "00:00/00:00";

    // Filled by the opened notification before the text provider is registered; read by the
    // video task afterwards. m_table_ready keeps a provider left over from the last recording
    // away from a table being refilled.
    std::atomic<bool> m_table_ready{false};
    DataTrackTable m_table;
};

}  // namespace vt::app
