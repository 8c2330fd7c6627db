#pragma once
// The main window: a fixed 956 x 716 frameless, skinned window dragged by its background. It
// owns the recording list, the transport bar, the seek and volume bars, the video window and the
// G-sensor panel, and turns clicks, keys and the player's messages into calls on the player
// control layer and the drive-data functions.
#include <QDialog>
#include <QHash>
#include <QPixmap>
#include <QPointer>
#include <QVector>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/repair/repairoffer.h"
#include "app/review/events.h"
#include "app/review/keypanel.h"
#include "app/review/keys.h"
#include "app/review/overlay.h"
#include "app/skin/artwork.h"
#include "drivedata/gsensor.h"
#include "drivedata/sensordata.h"
#include "drivedata/track.h"

class QLabel;
class QMenu;

namespace vt::app {

class CPlayerControl;
class CRepeatBox;
class CSkinButton;
class CSkinListBox;
class CSkinSlider;
class CVideoWindow;
class CWindowMessage;

// Control ids of the main window.
enum ControlId : int {
    IDC_VIDEO_FRAME = 1000,
    IDC_LIST = 1001,
    IDC_OPEN = 1002,
    IDC_PLAY = 1003,
    IDC_STOP = 1004,
    IDC_FORWARD = 1005,
    IDC_REWIND = 1006,
    IDC_EXIT = 1007,
    IDC_POSITION_TEXT = 1009,
    IDC_DURATION_TEXT = 1010,
    IDC_VOLUME_DOWN = 1011,
    IDC_VOLUME_UP = 1012,
    IDC_VOLUME_BAR = 1013,
    IDC_G_X = 1041,
    IDC_G_Y = 1054,
    IDC_G_Z = 1057,
    IDC_REPEAT = 1081,
    IDC_SETUP = 1092,
    IDC_MINIMISE = 1102,
    IDC_SEEK_BAR = 1103,
    IDC_VIDEO = 1140,
    IDC_PRINT = 1142,
    IDC_LIVE_SPEED = 1200,
};

using skin::kWindowHeight;
using skin::kWindowWidth;
inline constexpr int kSnapTolerance = 9;

// Where a window of `window` size moved to top_left ends up: each coordinate within 9 pixels of
// an edge of the screen's area (in the desktop's coordinates, so a second monitor's edges count
// too) sticks to it.
QPoint SnapToScreenEdges(QPoint top_left, const QRect &screen, QSize window);

class CPlayerDlg final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CPlayerDlg)

public:
    // program_folder: where openpath.dat, opensetpath.dat, capture.jpg and print.bmp live; empty
    // means the program's own places (userfiles::ConfigDir() and CacheDir()).
    explicit CPlayerDlg(QWidget *parent = nullptr, const QString &program_folder = {});
    ~CPlayerDlg() override;

    // Lists a folder as if the user had chosen it (the command line and folder drops use this).
    void OpenFolder(const QString &folder);
    void ChooseFolder();
    void ListFolder(const QString &folder);

    // The commands of the transport bar and the keyboard.
    void PlayPause();
    void StopPlayback();
    void FastForward();
    void Rewind();
    void VolumeUp();
    void VolumeDown();
    void NextRecording();
    void PreviousRecording();
    void ExitApplication();
    // Selects the listed recording `name` and opens it at `position_ms`; false when it is not
    // listed or cannot be opened.
    bool OpenRecordingAt(const QString &name, int64_t position_ms);
    // The window's context menu: minimise, close, the review entries, and after a separator the
    // About item.
    void FillContextMenu(QMenu *menu);
    // Ctrl+M and the context menu: the Trip and map window, following this window's playback.
    void ShowTripMap();

    // Reviewing a recording closely (the keys of the key table).
    void RunReviewAction(review::Action action);
    void StepPicture(bool forward);
    void ChangeSpeed(int percent);
    void SetFullScreen(bool full);
    bool IsFullScreen() const { return m_full_screen; }
    void ZoomPicture(int steps);
    void JumpToEvent(bool next);
    void ToggleMute();
    // Saves the picture on screen as a PNG; the path written, or empty.
    QString TakeSnapshot();
    void ShowKeyPanel();
    review::CKeyPanel *KeyPanel() const { return m_key_panel; }

    // The events of the open recording, sorted by time; marked on the seek bar and the graph.
    void SetEvents(QVector<review::EventMark> events);
    const QVector<review::EventMark> &Events() const { return m_events; }
    // Speed in km/h at a position, or nothing without a fix; by default the open recording's
    // track gives it.
    using SpeedLookup = std::function<std::optional<double>(int32_t position_ms)>;
    void SetSpeedLookup(SpeedLookup lookup) { m_speed_at = std::move(lookup); }
    void SetSpeedInMph(bool mph) { m_speed_mph = mph; }
    // The settings file read at each opening (units, event threshold); the user's own unless set.
    void SetSettingsFile(const QString &file) { m_settings_file = file; }
    // Where snapshots go; the user's Pictures folder unless set.
    void SetSnapshotFolder(const QString &folder) { m_snapshot_folder = folder; }
    review::HudState Hud() const;

    // What the user would otherwise be asked for or told; tests replace these.
    using FolderChooser =
        std::function<QString(QWidget *owner, const QString &title, const QString &start)>;
    using MessageSink = std::function<void(const QString &text)>;
    void SetFolderChooser(FolderChooser chooser) { m_choose_folder = std::move(chooser); }
    void SetMessageSink(MessageSink sink) { m_message_sink = std::move(sink); }
    void SetRepairPrompts(vt::app::RepairPrompts prompts) { m_repair_prompts = std::move(prompts); }
    // Picks a recording file to repair (a file dialog unless a test sets another chooser).
    using FileChooser =
        std::function<QString(QWidget *owner, const QString &title, const QString &start)>;
    void SetFileChooser(FileChooser chooser) { m_choose_file = std::move(chooser); }
    // The menu's "Repair a cut-off recording...": any recording, listed or not; the original is
    // only read.
    void RepairChosenRecording();
    // The camera settings dialog and printing attach here; until they do, their buttons do
    // nothing.
    void SetSetupHandler(std::function<void()> handler) { m_setup_handler = std::move(handler); }
    void SetPrintHandler(std::function<void()> handler) { m_print_handler = std::move(handler); }

    // State, for the settings and print features and for tests.
    QWidget *Control(int id) const { return m_controls.value(id); }
    CSkinListBox *List() const { return m_list; }
    CSkinSlider *SeekBar() const { return m_seek; }
    CSkinSlider *VolumeBar() const { return m_volume_bar; }
    CSkinButton *PlayButton() const { return m_play; }
    CVideoWindow *VideoWindow() const { return m_video; }
    CPlayerControl *Player() const { return m_player; }
    bool Loaded() const { return m_loaded; }
    int LastKnownState() const { return m_last_state; }
    int Volume() const { return m_volume; }
    int LastOpenedIndex() const { return m_last_opened; }
    int ListingResult() const { return m_listing_result; }
    int32_t Duration() const { return m_duration; }
    QString CurrentPath() const { return QString::fromLocal8Bit(m_current_path.c_str()); }
    QString RecordingFolder() const { return QString::fromLocal8Bit(m_folder.c_str()); }
    QString SettingsFolder() const { return QString::fromLocal8Bit(m_settings_folder.c_str()); }
    QString CapturePath() const { return m_capture_path; }
    QString PrintPath() const { return m_print_path; }
    QString LabelText(int id) const;
    bool GraphShown() const { return !m_graph_shown.isNull(); }
    int GraphCursorX() const { return m_cursor_x; }
    QImage GraphImage() const { return m_graph_shown.toImage(); }
    const drivedata::SensorData &Sensors() const { return m_sensor; }

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void reject() override;

private:
    void BuildControls();
    CSkinButton *AddButton(int id, int strip);
    QLabel *AddLabel(int id, QRect rect, const QString &text, QColor fg, QColor bg,
                     const QFont &font);
    void HandleMessage(const CWindowMessage &msg);
    bool PreTranslateKey(QKeyEvent *key);

    void OpenSelection();
    void OpenFailed();
    void ShowDuration();
    void RefreshPosition();
    void OnPlayerStatus(int32_t state);
    void OnSeekDragged();
    void ReadState();
    void RedrawPlayButton();
    void SetVolumeBar(int value);
    void ShowMessage(const QString &text);
    // A cut-off recording: offers a repaired copy, then lists and plays it. True when it did.
    bool RepairCutOff();
    bool RepairRecording(const QString &path);

    bool DrawGraph();
    void DrawTimeCursor();
    void UpdateReadouts(int64_t seconds, int64_t position_ms);
    void InvalidateGraph();

    void BuildReviewControls();
    void LoadDriveFacts();
    bool AtEnd(int32_t position, int32_t reported_state) const;
    void UpdateEventMarks();
    void PaintGraphMarks(QPainter *p);
    void UpdateLiveSpeed(int32_t position_ms);
    void Notice(const QString &text);

    // Controls.
    QHash<int, QWidget *> m_controls;
    CSkinListBox *m_list = nullptr;
    CSkinButton *m_play = nullptr;
    CSkinSlider *m_seek = nullptr;
    CSkinSlider *m_volume_bar = nullptr;
    CVideoWindow *m_video = nullptr;
    CRepeatBox *m_repeat = nullptr;
    QLabel *m_position_text = nullptr;
    QLabel *m_duration_text = nullptr;
    QLabel *m_readout[3] = {};

    // Playback.
    CPlayerControl *m_player = nullptr;
    int m_volume = 100;
    int m_last_state = 3;
    bool m_loaded = false;
    int m_last_opened = -1;
    std::string m_current_path;
    int m_listing_result = 0;
    int32_t m_duration = 0;

    // Folders and the program's files.
    std::string m_folder;
    std::string m_settings_folder;
    QString m_openpath_file;
    QString m_opensetpath_file;
    QString m_capture_path;
    QString m_print_path;

    // Drive data of the open recording and the graph panel.
    drivedata::SensorData m_sensor;
    QPixmap m_graph_shown;  // what the panel shows (the last image copied to it)
    QPixmap m_graph_image;  // the graph image being built or cached
    int m_cursor_x = -1;

    // Dragging by the background.
    bool m_dragging = false;
    QPoint m_drag_offset;

    // Review.
    bool m_full_screen = false;
    QVector<review::EventMark> m_events;
    QLabel *m_live_speed = nullptr;
    SpeedLookup m_speed_at;
    bool m_speed_mph = false;
    QString m_settings_file;
    drivedata::Track m_track;             // fixes of the open recording
    std::vector<int64_t> m_record_times;  // its sensor records' times, in order
    QString m_snapshot_folder;
    QPointer<review::CKeyPanel> m_key_panel;

    FolderChooser m_choose_folder;
    FileChooser m_choose_file;
    vt::app::RepairPrompts m_repair_prompts;
    QString m_open_after_listing;  // the name to open once a listing is done, else the first
    MessageSink m_message_sink;
    std::function<void()> m_setup_handler;
    std::function<void()> m_print_handler;
};

}  // namespace vt::app
