// The main window's review features: the keys of the key table, full screen, zoom, events, live
// speed and snapshots. The pieces live in app/review/; this file only connects them to the window.
#include <unistd.h>

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <algorithm>

#include "app/fonts.h"
#include "app/playercontrol.h"
#include "app/playerdlg.h"
#include "app/review/keypanel.h"
#include "app/review/snapshot.h"
#include "app/review/speed.h"
#include "app/skinbutton.h"
#include "app/skinslider.h"
#include "app/userfiles/userfiles.h"
#include "app/videowindow.h"
#include "app/wait.h"
#include "drivedata/events.h"
#include "drivedata/sensor_rows.h"

namespace vt::app {
namespace {

// How long a snapshot may take: the video task writes it with the next picture it draws.
constexpr int kSnapshotWaitMs = 2000;
// The engine pausing by itself this close to the end has reached it (the clock stops at the last
// picture or sample, which may fall short of the longest track's duration).
constexpr int32_t kEndReachMs = 1000;

const QColor kReadoutColour[3] = {QColor(255, 0, 0), QColor(255, 255, 0), QColor(0, 200, 0)};

}  // namespace

void CPlayerDlg::BuildReviewControls() {
    QFont font = CellHeightFont(QStringLiteral("Arial"), 14, 400);
    m_live_speed = new QLabel(QStringLiteral("-- km/h"), this);
    m_live_speed->setGeometry(QRect(681, 606, 80, 15));
    m_live_speed->setFont(font);
    m_live_speed->setContentsMargins(4, 0, 0, 0);
    m_live_speed->setStyleSheet(
        QStringLiteral("QLabel{color:#e6e6e6;background:black;padding:0;margin:0;}"));
    m_live_speed->setToolTip(QStringLiteral("Speed"));
    m_controls.insert(IDC_LIVE_SPEED, m_live_speed);

    m_video->SetHudProvider([this] { return Hud(); });
    m_speed_at = [this](int32_t position_ms) -> std::optional<double> {
        // The record whose 100 ms slot holds the position.
        auto it =
            std::upper_bound(m_record_times.begin(), m_record_times.end(), int64_t{position_ms});
        if (it == m_record_times.begin()) return std::nullopt;
        double kmh = 0;
        if (!m_track.SpeedKmhAt(*(it - 1), &kmh)) return std::nullopt;
        return kmh;
    };
    connect(m_video, &CVideoWindow::doubleClicked, this, [this] { SetFullScreen(!m_full_screen); });
}

void CPlayerDlg::LoadDriveFacts() {
    const userfiles::Settings settings = m_settings_file.isEmpty()
                                             ? userfiles::LoadSettings()
                                             : userfiles::LoadSettingsFrom(m_settings_file);
    m_speed_mph = settings.speedMph;
    std::vector<drivedata::SensorRow> rows;
    drivedata::CollectSensorRows(&m_sensor, &rows);
    m_track.Clear();
    m_track.AddRows(rows);
    m_record_times = drivedata::RecordTimes(rows, 0);
    QVector<review::EventMark> events;
    for (const drivedata::Event &e : drivedata::FindEvents(rows, settings.thresholdG))
        events.push_back({static_cast<int32_t>(std::min<int64_t>(e.time_ms, INT32_MAX)),
                          e.kind == drivedata::EventKind::kImpact ? review::EventKind::kImpact
                                                                  : review::EventKind::kHarsh,
                          drivedata::RoundG(e.peak_g)});
    SetEvents(std::move(events));
}

void CPlayerDlg::RunReviewAction(review::Action action) {
    using review::Action;
    switch (action) {
        case Action::kStepForward: StepPicture(true); break;
        case Action::kStepBack: StepPicture(false); break;
        case Action::kSpeedDown:
            ChangeSpeed(review::SlowerSpeed(m_player != nullptr ? m_player->Speed() : 100));
            break;
        case Action::kSpeedUp:
            ChangeSpeed(review::FasterSpeed(m_player != nullptr ? m_player->Speed() : 100));
            break;
        case Action::kSpeedNormal: ChangeSpeed(review::kNormalSpeed); break;
        case Action::kFullScreen: SetFullScreen(!m_full_screen); break;
        case Action::kZoomIn: ZoomPicture(1); break;
        case Action::kZoomOut: ZoomPicture(-1); break;
        case Action::kZoomReset: m_video->ResetZoom(); break;
        case Action::kNextEvent: JumpToEvent(true); break;
        case Action::kPreviousEvent: JumpToEvent(false); break;
        case Action::kMute: ToggleMute(); break;
        case Action::kSnapshot: TakeSnapshot(); break;
        case Action::kKeyPanel: ShowKeyPanel(); break;
        default: break;
    }
}

void CPlayerDlg::Notice(const QString &text) { m_video->ShowNotice(text); }

void CPlayerDlg::StepPicture(bool forward) {
    if (!m_loaded || m_player == nullptr) return;
    if (forward) m_player->StepForward();
    else m_player->StepBack();
    ReadState();
    RedrawPlayButton();
}

void CPlayerDlg::ChangeSpeed(int percent) {
    if (m_player == nullptr) return;
    m_player->SetSpeed(percent);
    Notice(review::SpeedText(m_player->Speed()));
}

void CPlayerDlg::SetFullScreen(bool full) {
    if (full == m_full_screen || m_video == nullptr) return;
    if (full && !m_loaded) return;
    m_full_screen = full;
    if (full) {
        QScreen *s = screen();
        m_video->setParent(nullptr, Qt::Window | Qt::FramelessWindowHint);
        m_video->SetFullScreenLook(true);
        if (s != nullptr) m_video->setGeometry(s->geometry());
        m_video->setFocusPolicy(Qt::StrongFocus);
        m_video->showFullScreen();
        m_video->activateWindow();
        m_video->setFocus(Qt::OtherFocusReason);
    } else {
        m_video->setParent(this);
        m_video->setFocusPolicy(Qt::NoFocus);
        m_video->SetFullScreenLook(false);
        m_video->setGeometry(skin::kVideoRect);
        m_video->setVisible(m_loaded);
        activateWindow();
        m_play->setFocus(Qt::OtherFocusReason);
    }
}

void CPlayerDlg::ZoomPicture(int steps) {
    // Around the mouse when it is over the picture, else around the middle.
    const QPoint at = m_video->mapFromGlobal(QCursor::pos());
    if (m_video->rect().contains(at)) m_video->ZoomBy(steps, at);
    else m_video->ZoomBy(steps);
}

void CPlayerDlg::JumpToEvent(bool next) {
    if (!m_loaded || m_player == nullptr) return;
    const int32_t pos = m_player->GetPosition();
    const std::optional<int32_t> target =
        next ? review::NextEventTarget(m_events, pos) : review::PreviousEventTarget(m_events, pos);
    if (!target) {
        Notice(m_events.isEmpty() ? QStringLiteral("No events")
               : next             ? QStringLiteral("No later event")
                                  : QStringLiteral("No earlier event"));
        return;
    }
    m_player->SeekExact(*target);
    RefreshPosition();
}

void CPlayerDlg::ToggleMute() {
    if (m_player == nullptr) return;
    m_player->SetMute(!m_player->Muted());
    Notice(m_player->Muted() ? QStringLiteral("Mute") : QStringLiteral("Sound on"));
}

QString CPlayerDlg::TakeSnapshot() {
    if (!m_loaded || m_player == nullptr) return {};
    const int32_t position = m_player->GetPosition();
    const QString folder =
        m_snapshot_folder.isEmpty() ? review::DefaultSnapshotFolder() : m_snapshot_folder;
    // A capture request makes the engine draw the picture on screen once more and write it as a
    // JPEG; while it does, the decoder's planes of that picture are watched too, and those are
    // kept: every pixel as the user sees it, without the text drawn over it, none lost to
    // compression. An engine that does not report its pictures leaves the JPEG.
    const QString jpeg =
        QDir::temp().filePath(QStringLiteral("vantrec-snapshot-%1.jpg").arg(getpid()));
    QFile::remove(jpeg);
    QString saved;
    m_player->WatchPictures(true);
    if (m_player->RequestCapture(QFile::encodeName(jpeg).constData()) != 0) {
        // The file appears when the encoder starts writing: wait for its size to settle.
        qint64 last_size = -1;
        const bool written = Wait(kSnapshotWaitMs, WaitStyle::kResponsive, [&] {
            const qint64 size = QFileInfo(jpeg).size();
            const bool settled = size > 0 && size == last_size;
            last_size = size;
            return settled;
        });
        QImage picture;
        if (m_player->LastPicture(&picture, nullptr) || (written && picture.load(jpeg, "JPEG")))
            saved = review::SaveSnapshot(picture, folder, CurrentPath(), position);
    }
    m_player->WatchPictures(false);
    QFile::remove(jpeg);
    Notice(saved.isEmpty() ? QStringLiteral("Snapshot failed")
                           : QStringLiteral("Saved ") + QFileInfo(saved).fileName());
    return saved;
}

void CPlayerDlg::ShowKeyPanel() {
    if (m_key_panel == nullptr) {
        m_key_panel = new review::CKeyPanel(
            this, m_settings_file.isEmpty() ? userfiles::SettingsFile() : m_settings_file);
        m_key_panel->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_key_panel->show();
    m_key_panel->raise();
}

void CPlayerDlg::SetEvents(QVector<review::EventMark> events) {
    std::sort(events.begin(), events.end(),
              [](const review::EventMark &a, const review::EventMark &b) {
                  return a.time_ms < b.time_ms;
              });
    m_events = std::move(events);
    UpdateEventMarks();
}

void CPlayerDlg::UpdateEventMarks() {
    QVector<CSkinSlider::Mark> marks;
    if (m_duration > 0)
        for (const review::EventMark &e : m_events)
            marks.push_back({static_cast<double>(e.time_ms) / m_duration, e.kind});
    m_seek->SetMarks(std::move(marks));
    InvalidateGraph();
}

void CPlayerDlg::PaintGraphMarks(QPainter *p) {
    if (!m_loaded) return;
    for (const review::EventMark &e : m_events) {
        int x = -1;
        if (!drivedata::TimeCursorX(&m_sensor, m_duration,
                                    static_cast<uint32_t>(std::max(0, e.time_ms)), &x))
            continue;
        review::PaintEventMark(p, QPointF(x, drivedata::kCursorTopY + 8), e.kind, 9, true);
    }
}

bool CPlayerDlg::AtEnd(int32_t position, int32_t reported_state) const {
    if (m_duration <= 0) return false;
    if (position >= m_duration) return true;
    const bool paused_by_itself = reported_state == kStatePaused && m_last_state == kStatePlaying;
    return paused_by_itself && position >= m_duration - kEndReachMs;
}

void CPlayerDlg::UpdateLiveSpeed(int32_t position_ms) {
    std::optional<double> kmh;
    if (m_speed_at && m_loaded) kmh = m_speed_at(position_ms);
    const QString unit = m_speed_mph ? QStringLiteral(" mph") : QStringLiteral(" km/h");
    QString text = QStringLiteral("--") + unit;
    if (kmh) text = QString::number(m_speed_mph ? *kmh / 1.609344 : *kmh, 'f', 0) + unit;
    if (m_live_speed->text() != text) m_live_speed->setText(text);
}

review::HudState CPlayerDlg::Hud() const {
    review::HudState hud;
    static const char kAxis[3] = {'X', 'Y', 'Z'};
    for (int a = 0; a < 3; ++a)
        hud.readouts.push_back(
            {QStringLiteral("%1 %2").arg(QLatin1Char(kAxis[a])).arg(m_readout[a]->text()),
             kReadoutColour[a]});
    hud.readouts.push_back({m_live_speed->text(), QColor(230, 230, 230)});
    hud.position_ms = m_player != nullptr ? m_player->GetPosition() : 0;
    hud.duration_ms = m_duration;
    hud.events = m_events;
    return hud;
}

}  // namespace vt::app
