#include "app/playerdlg.h"

#include <unistd.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QScreen>
#include <QUrl>
#include <algorithm>
#include <cstdio>

#include "app/aboutdlg.h"
#include "app/catalogue/findevents.h"
#include "app/export/evidence.h"
#include "app/fonts.h"
#include "app/map/tripmaplink.h"
#include "app/messages.h"
#include "app/playercontrol.h"
#include "app/printing.h"
#include "app/recordings.h"
#include "app/repeatbox.h"
#include "app/setupdlg.h"
#include "app/skin/artwork.h"
#include "app/skinbutton.h"
#include "app/skinlistbox.h"
#include "app/skinslider.h"
#include "app/userfiles/userfiles.h"
#include "app/videowindow.h"
#include "app/wait.h"

namespace vt::app {
namespace {

const char kModelMismatch[] = "Invalid File Format.";
const char kFileNotFound[] = "File Not Found.";
const char kOpenFailed[] = "Fail to open...";
const char kFolderTitle[] = "Select Fold";

// The graph panel: the image's columns 0..595 and rows 0..107 are shown from (56, 522).
const QRect kGraphRect(drivedata::kGraphLeft, drivedata::kGraphTop,
                       drivedata::kGraphRight - drivedata::kGraphLeft,
                       kWindowHeight - drivedata::kGraphTop);
const QPoint kGraphShownAt(56, 522);
const QSize kGraphShownSize(596, 108);

QColor ToQColor(drivedata::Rgb c) { return QColor(c.r, c.g, c.b); }

QString TwoPartTime(int32_t ms) {
    const int32_t s = std::max<int32_t>(0, ms) / 1000;
    return QString::asprintf("%02d:%02d", s / 60, s % 60);
}

}  // namespace

QPoint SnapToScreenEdges(QPoint top_left, const QRect &screen, QSize window) {
    auto snap = [](int v, int near_edge, int far_edge) {
        if (v >= near_edge - kSnapTolerance && v <= near_edge + kSnapTolerance) return near_edge;
        if (v >= far_edge - kSnapTolerance && v <= far_edge + kSnapTolerance) return far_edge;
        return v;
    };
    return QPoint(
        snap(top_left.x(), screen.left(), screen.left() + screen.width() - window.width()),
        snap(top_left.y(), screen.top(), screen.top() + screen.height() - window.height()));
}

CPlayerDlg::CPlayerDlg(QWidget *parent, const QString &program_folder) : QDialog(parent) {
    // Construction: paths of the program's files and the remembered folders. Beside the
    // executable when its folder is writable, else the user's config and cache folders.
    const QString config = program_folder.isEmpty() ? userfiles::ConfigDir() : program_folder;
    const QString cache = program_folder.isEmpty() ? userfiles::CacheDir() : program_folder;
    m_openpath_file = config + QStringLiteral("/openpath.dat");
    m_opensetpath_file = config + QStringLiteral("/opensetpath.dat");
    m_capture_path = cache + QStringLiteral("/capture.jpg");
    m_print_path = cache + QStringLiteral("/print.bmp");
    m_folder = userfiles::ReadFolderFile(m_openpath_file);
    m_settings_folder = userfiles::ReadFolderFile(m_opensetpath_file);

    m_choose_folder = [](QWidget *owner, const QString &title, const QString &start) {
        return QFileDialog::getExistingDirectory(owner, title, start, QFileDialog::ShowDirsOnly);
    };

    // Initialisation.
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setWindowTitle(QStringLiteral("Vantrec Player"));
    setWindowIcon(QIcon(skin::Bitmap(skin::kAppIcon)));
    setFixedSize(kWindowWidth, kWindowHeight);
    setAcceptDrops(true);
    setAutoFillBackground(false);
    setAttribute(Qt::WA_OpaquePaintEvent);
    if (QScreen *s = screen()) {
        const QSize sz = s->geometry().size();
        move(sz.width() / 2 - 510, sz.height() / 2 - 358);
    }
    BuildControls();
    BuildReviewControls();
    qApp->installEventFilter(this);
    m_setup_handler = [this] {
        CCameraSetupDlg setup(this, m_opensetpath_file);
        setup.SetFolderChooser(m_choose_folder);
        if (m_message_sink) setup.SetMessageSink(m_message_sink);
        setup.exec();
    };
    m_print_handler = [this] {
        PrintCurrentFrame(this, [this](const QString &text) { ShowMessage(text); });
    };

    m_video->hide();
    m_volume = 100;
    m_player = CPlayerControl::Instance();
    m_player->SetWindows(this, m_video);
    m_player->SetDisplayMode(1);
    m_player->SetVolume(100);
    // The panel shows its empty grid until a recording is open.
    DrawGraph();
}

CPlayerDlg::~CPlayerDlg() {
    qApp->removeEventFilter(this);
    SetFullScreen(false);  // the video window is this window's child again, and goes with it
    if (m_player != nullptr) {
        m_player->SetVolume(100);
        m_player->Stop();
    }
    // Also when the window stopped using the player (no duration): its engine tasks must not
    // outlive the window they post to.
    CPlayerControl::Release();
    m_player = nullptr;
    if (!m_folder.empty()) userfiles::WriteFolderFile(m_openpath_file, m_folder);
}

CSkinButton *CPlayerDlg::AddButton(int id, int strip) {
    const skin::ButtonPlace &place = skin::ButtonPlaceOf(strip);
    auto *b = new CSkinButton(this);
    b->setGeometry(place.rect);
    b->SetSkin(strip, place.frame_width);
    m_controls.insert(id, b);
    return b;
}

QLabel *CPlayerDlg::AddLabel(int id, QRect rect, const QString &text, QColor fg, QColor bg,
                             const QFont &font) {
    auto *l = new QLabel(text, this);
    l->setGeometry(rect);
    l->setFont(font);
    l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    l->setStyleSheet(QStringLiteral("QLabel{color:%1;background:%2;padding:0;margin:0;}")
                         .arg(fg.name(), bg.name()));
    m_controls.insert(id, l);
    return l;
}

void CPlayerDlg::BuildControls() {
    // Rectangles are (left, top, right, bottom) in the window's client pixels.
    auto r = [](int l, int t, int rr, int b) { return QRect(l, t, rr - l, b - t); };

    m_video = new CVideoWindow(this);
    m_video->setGeometry(skin::kVideoRect);
    m_controls.insert(IDC_VIDEO, m_video);

    m_list = new CSkinListBox(this);
    m_list->setGeometry(r(666, 67, 940, 466));
    m_list->SetLook(17, QStringLiteral("Arial"), QColor(230, 230, 230), QColor(0, 150, 255), false,
                    2, Qt::black);
    m_list->setEnabled(false);
    m_controls.insert(IDC_LIST, m_list);
    connect(m_list, &CSkinListBox::selectionChanged, this, [this](int) { OpenSelection(); });
    connect(m_list, &CSkinListBox::doubleClicked, this,
            [this](int) { PostWindowMessage(this, UM_REOPEN_SELECTION, 0, 0); });

    connect(AddButton(IDC_REWIND, skin::kRewindStrip), &QAbstractButton::clicked, this,
            &CPlayerDlg::Rewind);
    m_play = AddButton(IDC_PLAY, skin::kPlayStrip);
    connect(m_play, &QAbstractButton::clicked, this, &CPlayerDlg::PlayPause);
    connect(AddButton(IDC_STOP, skin::kStopStrip), &QAbstractButton::clicked, this,
            &CPlayerDlg::StopPlayback);
    connect(AddButton(IDC_FORWARD, skin::kForwardStrip), &QAbstractButton::clicked, this,
            &CPlayerDlg::FastForward);
    connect(AddButton(IDC_OPEN, skin::kOpenStrip), &QAbstractButton::clicked, this,
            &CPlayerDlg::ChooseFolder);
    connect(AddButton(IDC_VOLUME_DOWN, skin::kVolumeDownStrip), &QAbstractButton::clicked, this,
            &CPlayerDlg::VolumeDown);
    connect(AddButton(IDC_VOLUME_UP, skin::kVolumeUpStrip), &QAbstractButton::clicked, this,
            &CPlayerDlg::VolumeUp);
    connect(AddButton(IDC_PRINT, skin::kPrintStrip), &QAbstractButton::clicked, this, [this] {
        if (m_print_handler) m_print_handler();
    });
    connect(AddButton(IDC_SETUP, skin::kSetupStrip), &QAbstractButton::clicked, this, [this] {
        if (m_setup_handler) m_setup_handler();
    });
    connect(AddButton(IDC_MINIMISE, skin::kMinimiseStrip), &QAbstractButton::clicked, this,
            &QWidget::showMinimized);
    connect(AddButton(IDC_EXIT, skin::kExitStrip), &QAbstractButton::clicked, this,
            &CPlayerDlg::ExitApplication);
    m_controls.value(IDC_PRINT)->setToolTip(QStringLiteral("Capture and print"));
    m_controls.value(IDC_SETUP)->setToolTip(QStringLiteral("Camera settings"));
    m_controls.value(IDC_OPEN)->setToolTip(QStringLiteral("Open folder (F2)"));

    m_volume_bar = new CSkinSlider(this);
    m_volume_bar->SetId(IDC_VOLUME_BAR);
    m_volume_bar->move(689, 676);
    m_volume_bar->SetChannel(skin::kVolumeChannel, skin::kVolumeActive, true, kTransparentFromPixel,
                             0, 0);
    m_volume_bar->SetRange(0, 100, false);
    m_volume_bar->SetValue(0);
    m_volume_bar->SetPageStep(25);
    m_volume_bar->SetMargins(0, 0, 0, 0);
    // It shows the volume; the buttons and keys change it.
    m_volume_bar->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_volume_bar->setFocusPolicy(Qt::NoFocus);
    m_controls.insert(IDC_VOLUME_BAR, m_volume_bar);

    m_seek = new CSkinSlider(this);
    m_seek->SetId(IDC_SEEK_BAR);
    m_seek->move(89, 639);
    m_seek->SetChannel(skin::kSeekChannel, skin::kSeekActive, false, 0, 0, 0);
    m_seek->SetMargins(0, 0, 0, 0);
    m_seek->DrawFocusRect(false, false);
    m_seek->Enable(false);
    m_seek->SetRange(0, 99, false);
    m_seek->SetValue(0);
    m_seek->setCursor(Qt::PointingHandCursor);
    m_controls.insert(IDC_SEEK_BAR, m_seek);

    m_repeat = new CRepeatBox(this);
    m_repeat->setGeometry(r(924, 477, 937, 490));
    m_repeat->setChecked(false);
    m_controls.insert(IDC_REPEAT, m_repeat);

    QFont time_font = CellHeightFont(QStringLiteral("Arial"), 12, 400);
    // "/ 00:00" has to fit its 31 pixels whole.
    time_font.setLetterSpacing(QFont::AbsoluteSpacing, -0.4);
    const QColor time_fg(0, 109, 168), time_bg(25, 25, 25);
    m_position_text = AddLabel(IDC_POSITION_TEXT, r(18, 636, 44, 647), QStringLiteral("00:00"),
                               time_fg, time_bg, time_font);
    m_duration_text = AddLabel(IDC_DURATION_TEXT, r(46, 636, 77, 647), QStringLiteral("/ 00:00"),
                               time_fg, time_bg, time_font);
    QFont g_font = CellHeightFont(QStringLiteral("Arial"), 14, 400);
    m_readout[0] =
        AddLabel(IDC_G_X, r(681, 573, 739, 589), QString(), QColor(255, 0, 0), Qt::black, g_font);
    m_readout[1] =
        AddLabel(IDC_G_Y, r(865, 606, 923, 621), QString(), QColor(255, 255, 0), Qt::black, g_font);
    m_readout[2] =
        AddLabel(IDC_G_Z, r(825, 529, 883, 544), QString(), QColor(0, 136, 0), Qt::black, g_font);
    for (QLabel *l : m_readout) l->setContentsMargins(4, 0, 0, 0);
}

QString CPlayerDlg::LabelText(int id) const {
    auto *l = qobject_cast<QLabel *>(m_controls.value(id));
    return l != nullptr ? l->text() : QString();
}

// ---- Messages and keys ----------------------------------------------------------------------

bool CPlayerDlg::event(QEvent *e) {
    const int type = static_cast<int>(e->type());
    switch (type) {
        case UM_OPEN_FIRST:
        case UM_REOPEN_SELECTION:
        case UM_NEXT_RECORDING:
        case UM_PREV_RECORDING:
        case WM_PLAYER_OPENED:
        case WM_PLAYER_STATUS:
        case WM_PLAYER_HALTED:
        case WM_SLIDER_MOVED:
        case WM_SLIDER_RELEASED:
            HandleMessage(static_cast<const CWindowMessage &>(*e));
            return true;
        default: return QDialog::event(e);
    }
}

void CPlayerDlg::HandleMessage(const CWindowMessage &msg) {
    switch (msg.message()) {
        case UM_OPEN_FIRST: {
            int first = 0;
            for (int i = 0; !m_open_after_listing.isEmpty() && i < m_list->Count(); ++i)
                if (m_list->Text(i) == m_open_after_listing) first = i;
            m_open_after_listing.clear();
            m_list->SetCurrentIndex(first);
            OpenSelection();
            break;
        }
        case UM_REOPEN_SELECTION: OpenSelection(); break;
        case UM_NEXT_RECORDING: NextRecording(); break;
        case UM_PREV_RECORDING: PreviousRecording(); break;
        case WM_PLAYER_STATUS: OnPlayerStatus(static_cast<int32_t>(msg.lParam())); break;
        case WM_PLAYER_OPENED:
            // Each playback starts at normal speed in the engine; the chosen speed carries over.
            if (m_player != nullptr && m_player->Speed() != 100)
                m_player->SetSpeed(m_player->Speed());
            break;
        case WM_SLIDER_MOVED:
            if (static_cast<int>(msg.wParam()) == IDC_SEEK_BAR) OnSeekDragged();
            break;
        default: break;  // halted and slider releases need nothing here
    }
}

bool CPlayerDlg::eventFilter(QObject *watched, QEvent *e) {
    if (e->type() == QEvent::KeyPress || e->type() == QEvent::KeyRelease) {
        auto *w = qobject_cast<QWidget *>(watched);
        // Keys of this window only (not of a message box or dialog it opened), seen once each; in
        // full screen the video window is a window of its own.
        const bool ours =
            w != nullptr && (w->window() == this || (m_full_screen && w->window() == m_video));
        if (ours && w == QApplication::focusWidget())
            return PreTranslateKey(static_cast<QKeyEvent *>(e));
        if ((w == this || (m_full_screen && w == m_video)) &&
            QApplication::focusWidget() == nullptr)
            return PreTranslateKey(static_cast<QKeyEvent *>(e));
    }
    return QDialog::eventFilter(watched, e);
}

bool CPlayerDlg::PreTranslateKey(QKeyEvent *key) {
    if (key->isAutoRepeat() && key->type() == QEvent::KeyRelease) return false;
    const int k = key->key();
    if (key->type() == QEvent::KeyPress) {
        const bool ctrl = (key->modifiers() & Qt::ControlModifier) != 0;
        if (ctrl && k == Qt::Key_O) ChooseFolder();
        else if (ctrl && k == Qt::Key_N) NextRecording();
        else if (ctrl && k == Qt::Key_B) PreviousRecording();
        else if (ctrl && k == Qt::Key_M) ShowTripMap();
        if (k == Qt::Key_Escape) {
            if (m_full_screen) {
                SetFullScreen(false);
                return true;
            }
            if (m_player != nullptr && m_player->GetState() == kStatePlaying) m_player->Pause();
            showMinimized();
            return true;
        }
        if (k == Qt::Key_Space) {
            if (!key->isAutoRepeat()) PlayPause();
            return true;
        }
        // The arrows act when released (below); their presses must not reach the buttons, which
        // would walk the focus along the row and on into the list, switching recordings.
        if (k == Qt::Key_Left || k == Qt::Key_Right || k == Qt::Key_Up || k == Qt::Key_Down)
            return true;
        const review::Action action = review::ReviewActionOf(*key);
        if (action != review::Action::kNone) {
            if (!key->isAutoRepeat() || review::ActsOnRepeat(action)) RunReviewAction(action);
            return true;
        }
        return false;
    }
    switch (k) {
        case Qt::Key_Backspace: StopPlayback(); break;
        case Qt::Key_Left: Rewind(); break;
        case Qt::Key_Right: FastForward(); break;
        case Qt::Key_Up: VolumeUp(); break;
        case Qt::Key_Down: VolumeDown(); break;
        case Qt::Key_F2: ChooseFolder(); break;
        default: break;
    }
    return false;
}

// ---- Folders ----------------------------------------------------------------------------------

void CPlayerDlg::ChooseFolder() {
    const QString chosen = m_choose_folder(this, QString::fromLatin1(kFolderTitle),
                                           QString::fromLocal8Bit(m_folder.c_str()));
    if (chosen.isEmpty()) return;
    OpenFolder(chosen);
}

void CPlayerDlg::OpenFolder(const QString &folder) {
    m_folder = QDir::cleanPath(QDir(folder).absolutePath()).toLocal8Bit().toStdString();
    StopPlayback();
    ListFolder(QString::fromLocal8Bit(m_folder.c_str()));
}

void CPlayerDlg::ListFolder(const QString &folder) {
    m_list->ResetContent();
    std::vector<std::string> names;
    const QByteArray path = folder.toLocal8Bit();
    // Entries are names relative to the folder, which becomes the current directory.
    const bool ok = chdir(path.constData()) == 0 && ListRecordingNames(".", &names);
    for (const std::string &n : names) m_list->AddItem(QString::fromLocal8Bit(n.c_str()));
    if (!ok) {
        m_listing_result = kListingFailed;
        m_list->AddItem(QString());
    } else {
        m_listing_result = names.empty() ? kListingEmpty : static_cast<int>(names.size()) - 1;
        GroupListByTrip(m_list, QDir::currentPath().toLocal8Bit().toStdString());
    }
    if (m_list->Count() > 0) m_list->setEnabled(true);
    m_last_opened = -1;
    SendWindowMessage(this, UM_OPEN_FIRST, 0, 0);
}

// ---- Opening ----------------------------------------------------------------------------------

void CPlayerDlg::OpenSelection() {
    const int sel = m_list->CurrentIndex();
    if (sel == m_last_opened) return;
    m_last_opened = sel;
    m_current_path = m_list->Text(sel).toLocal8Bit().toStdString();
    if (m_current_path.compare(0, 3, "HDA") == 0) m_current_path.clear();

    m_loaded = false;
    ReadState();
    m_play->setEnabled(true);
    SetEvents({});
    m_track.Clear();
    m_record_times.clear();
    m_video->ResetZoom();
    drivedata::BeginOpen(&m_sensor);
    m_sensor.graph_cached = false;

    if (vt::app::IsCutOffRecording(CurrentPath()) && RepairCutOff()) return;
    const drivedata::OpenResult sensors =
        drivedata::OpenRecording(&m_sensor, m_current_path.c_str());
    if (sensors == drivedata::OpenResult::kSilentFail) return;
    if (sensors != drivedata::OpenResult::kOk) {
        OpenFailed();
        return;
    }
    LoadDriveFacts();

    if (m_player == nullptr) return;
    m_player->Stop();
    Wait(100);
    if (m_player->Open(m_current_path.c_str(), 0, 0, 0, 0) == 0) {
        ShowMessage(QString::fromLatin1(kOpenFailed));
        return;
    }
    m_loaded = true;
    Wait(300);
    m_video->ClearPicture();
    m_video->show();
    m_seek->SetValue(0);
    m_position_text->setText(QStringLiteral("00:00"));
    m_seek->Enable(true);
    m_volume_bar->Enable(true);
    SetVolumeBar(m_volume);
    m_player->SetVolume(m_volume);
    ShowDuration();
    if (m_player == nullptr) return;  // no duration: the application is quitting
    if (DrawGraph()) DrawTimeCursor();
    ReadState();
    m_play->setFocus(Qt::OtherFocusReason);
    RedrawPlayButton();
    const int32_t p = m_player->GetPosition();
    UpdateReadouts(p / 1000, p);
}

bool CPlayerDlg::OpenRecordingAt(const QString &name, int64_t position_ms) {
    for (int i = 0; i < m_list->Count(); ++i) {
        if (m_list->Text(i) != name) continue;
        m_list->SetCurrentIndex(i);
        m_list->EnsureVisible(i);
        OpenSelection();
        if (!m_loaded || m_player == nullptr) return false;
        m_player->Seek(static_cast<int32_t>(std::min<int64_t>(position_ms, INT32_MAX)));
        RefreshPosition();
        return true;
    }
    return false;
}

void CPlayerDlg::OpenFailed() {
    SetFullScreen(false);
    m_loaded = false;
    m_sensor.graph_cached = false;
    DrawGraph();
    UpdateReadouts(0, 0);
    m_seek->SetValue(0);
    SetVolumeBar(0);
    if (m_player != nullptr) {
        m_player->Stop();
        Wait(100);
        ReadState();
        RedrawPlayButton();
    }
    m_position_text->setText(QStringLiteral("00:00"));
    m_duration_text->setText(QStringLiteral("/ 00:00"));
    m_video->hide();
    if (m_listing_result == -1 || m_listing_result == -2) {
        m_list->setEnabled(false);
        ShowMessage(QString::fromLatin1(kFileNotFound));
    } else {
        ShowMessage(QString::fromLatin1(kModelMismatch));
    }
}

void CPlayerDlg::ShowDuration() {
    m_duration_text->setText(QStringLiteral("/ 00:00"));
    int32_t d = m_player->GetDuration();
    static constexpr int kWaits[3] = {3000, 5000, 0};
    for (int wait : kWaits) {
        if (d != 0) break;
        Wait(wait);
        d = m_player->GetDuration();
    }
    if (d == 0) {
        // The engine never described the recording: give up on the player and quit. The control
        // object itself is released when the window goes, so no engine task outlives it.
        m_player->SetVolume(100);
        m_player = nullptr;
        // exit() rather than quit(): it also ends the modal loop the window runs in.
        QMetaObject::invokeMethod(
            qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
        return;
    }
    m_duration = d;
    m_duration_text->setText(QStringLiteral("/ ") + TwoPartTime(d));
    UpdateEventMarks();
}

// ---- Commands ---------------------------------------------------------------------------------

void CPlayerDlg::PlayPause() {
    if (m_list->Count() == 0 || m_player == nullptr) return;
    if (m_last_state == kStatePlaying) {
        m_player->Pause();
        Wait(100);
        ReadState();
    } else if (m_last_state == kStatePaused) {
        m_player->Resume();
        Wait(100);
        ReadState();
    } else if (m_loaded) {
        m_player->Stop();
        Wait(100);
        if (m_player->Open(m_current_path.c_str(), 0, 0, 0, 0) == 0)
            ShowMessage(QString::fromLatin1(kOpenFailed));
        Wait(100);
        ReadState();
        m_video->show();
    } else {
        OpenSelection();
    }
    RedrawPlayButton();
}

void CPlayerDlg::StopPlayback() {
    if (!m_loaded || m_list->Count() == 0 || m_player == nullptr) return;
    m_player->Pause();
    Wait(100);
    m_player->Seek(0);
    m_seek->SetValue(0);
    ReadState();
    RefreshPosition();
    RedrawPlayButton();
}

void CPlayerDlg::FastForward() {
    if (m_list->Count() == 0 || !m_loaded || m_player == nullptr) return;
    m_player->Seek(m_player->GetPosition() + 2000);
    RefreshPosition();
}

void CPlayerDlg::Rewind() {
    if (m_list->Count() == 0 || !m_loaded || m_player == nullptr) return;
    m_player->Seek(m_player->GetPosition() - 2000);
    RefreshPosition();
}

void CPlayerDlg::VolumeUp() {
    if (m_list->Count() == 0 || m_player == nullptr) return;
    m_volume = std::min(100, m_volume + 10);
    m_player->SetVolume(m_volume);
    SetVolumeBar(m_volume);
}

void CPlayerDlg::VolumeDown() {
    if (m_list->Count() == 0 || m_player == nullptr) return;
    m_volume = std::max(0, m_volume - 10);
    m_player->SetVolume(m_volume);
    SetVolumeBar(m_volume);
}

void CPlayerDlg::SetVolumeBar(int value) { m_volume_bar->SetValue(value); }

void CPlayerDlg::NextRecording() {
    if (m_list->Count() == 0) return;
    const int sel = m_list->CurrentIndex();
    if (sel + 1 < m_list->Count()) {
        m_list->SetCurrentIndex(sel + 1);
        m_list->viewport()->repaint();
        OpenSelection();
        return;
    }
    // The last recording has ended: playback stops here rather than wrapping round.
    SetFullScreen(false);
    m_video->hide();
    m_loaded = false;
    m_sensor.graph_cached = false;
    if (m_player != nullptr) m_player->Stop();
    Wait(300);
    ReadState();
    RedrawPlayButton();
    m_last_opened = -1;
}

void CPlayerDlg::PreviousRecording() {
    if (m_list->Count() == 0) return;
    const int sel = m_list->CurrentIndex();
    m_list->SetCurrentIndex(sel <= 0 ? m_list->Count() - 1 : sel - 1);
    m_list->viewport()->repaint();
    OpenSelection();
}

void CPlayerDlg::ExitApplication() {
    SetFullScreen(false);
    if (m_player != nullptr) {
        m_player->SetVolume(100);
        m_player->Stop();
    }
    m_player = nullptr;
    CPlayerControl::Release();
    done(QDialog::Accepted);
}

void CPlayerDlg::reject() { ExitApplication(); }

void CPlayerDlg::closeEvent(QCloseEvent *event) {
    ExitApplication();
    QDialog::closeEvent(event);
}

// ---- Position tracking ------------------------------------------------------------------------

void CPlayerDlg::ReadState() {
    if (m_player != nullptr) m_last_state = m_player->GetState();
}

void CPlayerDlg::RedrawPlayButton() {
    m_play->SetAlternate(m_last_state == kStatePlaying);
    m_play->repaint();
}

void CPlayerDlg::RefreshPosition() {
    const int32_t p = m_player != nullptr ? m_player->GetPosition() : 0;
    // Under 100 ms the hundredth of the duration is 0; such a recording shows no progress.
    const int32_t hundredth = m_duration / 100;
    // The thumb stays with the mouse while the user drags it.
    if (!m_seek->IsDragging()) m_seek->SetValue(hundredth > 0 ? p / hundredth : 0);
    const QString text = TwoPartTime(p);
    if (m_position_text->text() != text) m_position_text->setText(text);
    if (DrawGraph()) DrawTimeCursor();
    if (!m_sensor.readouts_frozen) UpdateReadouts((p / 1000) % 60, p);
    UpdateLiveSpeed(p);
    if (m_full_screen) m_video->update();
}

void CPlayerDlg::OnPlayerStatus(int32_t state) {
    if (m_loaded) RefreshPosition();
    // Judged before the state below is taken over: the engine pausing by itself is the end.
    const bool at_end = m_player != nullptr && m_loaded && AtEnd(m_player->GetPosition(), state);
    // The report carries the player's state: keep the play button's picture in step with it
    // between commands.
    if ((state == kStatePlaying || state == kStatePaused) && m_player != nullptr &&
        m_player->GetState() != kStateStopped && state != m_last_state) {
        m_last_state = state;
        RedrawPlayButton();
    }
    if (at_end && m_player != nullptr && m_loaded) {
        if (m_repeat->isChecked()) {
            m_player->Pause();
            Wait(300);
            m_player->Seek(0);
            Wait(300);
            m_player->Resume();
        } else {
            NextRecording();
        }
    }
    if (!m_loaded) {
        m_seek->SetValue(0);
        m_seek->Enable(false);
        m_volume_bar->Enable(false);
    }
}

void CPlayerDlg::OnSeekDragged() {
    const int v = m_seek->GetValue();
    if (!m_loaded) return;
    if (v != 0 && m_player != nullptr)
        m_player->Seek(static_cast<int32_t>(static_cast<int64_t>(v) * m_duration / 100));
    RefreshPosition();
}

bool CPlayerDlg::RepairCutOff() { return RepairRecording(CurrentPath()); }

void CPlayerDlg::RepairChosenRecording() {
    const QString start = m_listing_result >= 0 ? QDir::currentPath() : QString();
    const QString title = QStringLiteral("Repair a cut-off recording");
    const QString path = m_choose_file
                             ? m_choose_file(this, title, start)
                             : QFileDialog::getOpenFileName(
                                   this, title, start, QStringLiteral("Recordings (*.mp4 *.MP4)"));
    if (path.isEmpty()) return;
    if (!vt::app::IsCutOffRecording(path)) {
        ShowMessage(QStringLiteral("This recording's index is whole: there is nothing to repair."));
        return;
    }
    RepairRecording(QFileInfo(path).absoluteFilePath());
}

bool CPlayerDlg::RepairRecording(const QString &path) {
    QString error;
    const QString copy = vt::app::OfferRepair(this, path, m_repair_prompts, &error);
    if (!error.isEmpty()) ShowMessage(error);
    if (copy.isEmpty()) return false;
    m_open_after_listing = QFileInfo(copy).fileName();
    OpenFolder(QFileInfo(copy).absolutePath());
    return true;
}

void CPlayerDlg::ShowMessage(const QString &text) {
    if (m_message_sink) {
        m_message_sink(text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Vantrec Player"), text, QMessageBox::Ok,
                    this);
    box.exec();
}

// ---- G-sensor panel ---------------------------------------------------------------------------

void CPlayerDlg::InvalidateGraph() { update(kGraphRect); }

bool CPlayerDlg::DrawGraph() {
    if (m_player == nullptr) return false;
    if (m_sensor.graph_cached) {
        m_graph_shown = m_graph_image;
        m_cursor_x = -1;
        InvalidateGraph();
        return true;
    }
    m_graph_image = QPixmap(kGraphRect.size());
    QPainter p(&m_graph_image);
    p.fillRect(m_graph_image.rect(), ToQColor(drivedata::kGraphBackground));
    QPen grid(ToQColor(drivedata::kGraphGrid), drivedata::kPenWidth, Qt::DotLine, Qt::FlatCap);
    p.setPen(grid);
    for (int y : drivedata::kGridLineY)
        p.drawLine(drivedata::kGridLineX0, y, drivedata::kGridLineX1, y);

    auto show = [this](bool curves) {
        m_sensor.graph_cached = true;
        m_graph_shown = m_graph_image;
        m_cursor_x = -1;
        InvalidateGraph();
        return curves;
    };
    if (!m_loaded) {
        p.end();
        return show(false);
    }
    drivedata::GraphCurves curves;
    switch (drivedata::ComputeGraphCurves(&m_sensor, m_duration, &curves)) {
        case drivedata::GraphResult::kNoDuration:
        case drivedata::GraphResult::kBadOffset: return false;
        case drivedata::GraphResult::kEmptyGrid: p.end(); return show(false);
        case drivedata::GraphResult::kCurves: break;
    }
    for (drivedata::Axis axis : drivedata::kCurveDrawOrder) {
        p.setPen(QPen(ToQColor(drivedata::kCurveColour[axis]), drivedata::kPenWidth, Qt::SolidLine,
                      Qt::FlatCap, Qt::MiterJoin));
        const auto &pts = curves.points[axis];
        QPolygon line;
        line.reserve(static_cast<int>(pts.size()));
        for (const drivedata::GraphPoint &pt : pts) line << QPoint(pt.x, pt.y);
        p.drawPolyline(line);
    }
    p.end();
    return show(true);
}

void CPlayerDlg::DrawTimeCursor() {
    if (!m_loaded || m_player == nullptr) return;
    int x = -1;
    if (!drivedata::TimeCursorX(&m_sensor, m_duration,
                                static_cast<uint32_t>(std::max(0, m_player->GetPosition())), &x))
        return;
    m_cursor_x = x;
    InvalidateGraph();
}

void CPlayerDlg::UpdateReadouts(int64_t seconds, int64_t position_ms) {
    drivedata::ReadoutTexts texts;
    for (int a = 0; a < 3; ++a) texts.text[a] = m_readout[a]->text().toStdString();
    drivedata::UpdateReadouts(&m_sensor, m_player != nullptr, m_duration, seconds,
                              static_cast<uint64_t>(std::max<int64_t>(0, position_ms)), &texts);
    for (int a = 0; a < 3; ++a) m_readout[a]->setText(QString::fromStdString(texts.text[a]));
}

// ---- Painting and window behaviour ------------------------------------------------------------

void CPlayerDlg::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    for (const skin::PanelPlace &panel : skin::kPanelPlaces)
        p.drawPixmap(panel.at, skin::Bitmap(panel.id));
    if (!m_graph_shown.isNull()) {
        p.drawPixmap(QRect(kGraphShownAt, kGraphShownSize), m_graph_shown,
                     QRect(QPoint(0, 0), kGraphShownSize));
        if (m_cursor_x >= 0) {
            p.setPen(QPen(ToQColor(drivedata::kCursorColour), drivedata::kPenWidth, Qt::SolidLine,
                          Qt::FlatCap));
            p.drawLine(m_cursor_x, drivedata::kCursorBottomY, m_cursor_x, drivedata::kCursorTopY);
        }
        PaintGraphMarks(&p);
    }
    p.end();
    // A repaint also brings the readouts up to the current position (and lifts a freeze).
    const int32_t pos = m_player != nullptr ? m_player->GetPosition() : 0;
    UpdateReadouts(pos / 1000, pos);
}

void CPlayerDlg::mousePressEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton) return QDialog::mousePressEvent(event);
    m_dragging = true;
    m_drag_offset = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void CPlayerDlg::mouseMoveEvent(QMouseEvent *event) {
    if (!m_dragging) return;
    QPoint target = event->globalPosition().toPoint() - m_drag_offset;
    // The screen under the mouse: the window may be on its way to another monitor.
    QScreen *s = QGuiApplication::screenAt(event->globalPosition().toPoint());
    if (s == nullptr) s = screen();
    if (s != nullptr) target = SnapToScreenEdges(target, s->geometry(), frameGeometry().size());
    move(target);
}

void CPlayerDlg::mouseReleaseEvent(QMouseEvent *event) {
    if (event->button() == Qt::LeftButton) m_dragging = false;
}

void CPlayerDlg::FillContextMenu(QMenu *menu) {
    // A frameless window has no system menu; this one stands in for it, About last.
    menu->addAction(QStringLiteral("Minimize"), this, &QWidget::showMinimized);
    menu->addAction(QStringLiteral("Close"), this, &CPlayerDlg::ExitApplication);
    menu->addAction(QStringLiteral("Trip and map"), this, &CPlayerDlg::ShowTripMap);
    evidence::AddMenuEntries(
        menu, this,
        [this] {
            return evidence::Moment{
                m_loaded ? QDir(RecordingFolder()).absoluteFilePath(CurrentPath()) : QString(),
                m_player != nullptr ? m_player->GetPosition() : 0};
        },
        [this](const QString &text) { ShowMessage(text); });
    // The list's names are relative to the current directory, the folder listed last.
    catalogue_ui::AddFindEventsEntry(
        menu, this, m_listing_result >= 0 ? QDir::currentPath() : QString(),
        (m_settings_file.isEmpty() ? userfiles::LoadSettings()
                                   : userfiles::LoadSettingsFrom(m_settings_file))
            .thresholdG,
        [this](const QString &name, int64_t ms) { OpenRecordingAt(name, ms); });
    menu->addAction(QStringLiteral("Repair a cut-off recording..."), this,
                    &CPlayerDlg::RepairChosenRecording);
    menu->addAction(QStringLiteral("Keys"), this, &CPlayerDlg::ShowKeyPanel);
    menu->addSeparator();
    menu->addAction(QString::fromUtf8(kAboutMenuText), this, [this] {
        CAboutDlg about(this);
        about.exec();
    });
}

void CPlayerDlg::ShowTripMap() {
    map::PlayerLink link;
    link.current_path = [this] {
        return m_loaded ? QDir(RecordingFolder()).absoluteFilePath(CurrentPath()) : QString();
    };
    link.position_ms = [this] {
        return int64_t{m_player != nullptr ? m_player->GetPosition() : 0};
    };
    link.seek = [this](const QString &path, int64_t ms) {
        for (int i = 0; i < m_list->Count(); ++i) {
            if (QDir(RecordingFolder()).absoluteFilePath(m_list->Text(i)) != path) continue;
            if (i != m_last_opened) {
                m_list->SetCurrentIndex(i);
                OpenSelection();
            }
            if (!m_loaded || m_player == nullptr) return;
            m_player->Seek(static_cast<int32_t>(ms));
            RefreshPosition();
            return;
        }
    };
    map::ShowTripMap(this, std::move(link));
}

void CPlayerDlg::contextMenuEvent(QContextMenuEvent *event) {
    QMenu menu(this);
    FillContextMenu(&menu);
    menu.exec(event->globalPos());
}

void CPlayerDlg::dragEnterEvent(QDragEnterEvent *event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() == 1 && urls.front().isLocalFile() &&
        QFileInfo(urls.front().toLocalFile()).isDir())
        event->acceptProposedAction();
}

void CPlayerDlg::dropEvent(QDropEvent *event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() != 1 || !urls.front().isLocalFile()) return;
    const QString folder = urls.front().toLocalFile();
    if (!QFileInfo(folder).isDir()) return;
    event->acceptProposedAction();
    OpenFolder(folder);
}

}  // namespace vt::app
