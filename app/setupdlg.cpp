#include "app/setupdlg.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QRadioButton>
#include <ctime>

#include "app/fonts.h"
#include "app/recordings.h"
#include "app/skin/artwork.h"
#include "app/skinbutton.h"
#include "app/userfiles/userfiles.h"

namespace vt::app {
namespace {

// The rows in the order the codes are recomputed; a row's buttons stand for 3, 2, 1 (and 0).
struct RowIds {
    camcfg::Setting setting;
    int count;
    int ids[4];
};
const RowIds kRows[4] = {
    {camcfg::Setting::kQuality, 3, {IDC_QUALITY_3, IDC_QUALITY_2, IDC_QUALITY_1}},
    {camcfg::Setting::kFrame, 3, {IDC_FRAME_3, IDC_FRAME_2, IDC_FRAME_1}},
    {camcfg::Setting::kSound, 4, {IDC_SOUND_3, IDC_SOUND_2, IDC_SOUND_1, IDC_SOUND_0}},
    {camcfg::Setting::kSensitivity, 3, {IDC_SENSITIVITY_3, IDC_SENSITIVITY_2, IDC_SENSITIVITY_1}},
};
const int kTimeIds[6] = {IDC_TIME_YEAR, IDC_TIME_MONTH,  IDC_TIME_DAY,
                         IDC_TIME_HOUR, IDC_TIME_MINUTE, IDC_TIME_SECOND};

const QColor kTimeText(0, 140, 255);

int RowIndex(camcfg::Setting setting) {
    for (int r = 0; r < 4; ++r)
        if (kRows[r].setting == setting) return r;
    return 0;
}

// The folder chosen since the program started; every settings dialog of the run shares it.
// User-interface thread only.
std::string &RunSettingsFolder() {
    static std::string folder;
    return folder;
}

}  // namespace

QString CCameraSetupDlg::SettingsFolder() {
    return QString::fromLocal8Bit(RunSettingsFolder().c_str());
}

void CCameraSetupDlg::ForgetSettingsFolder() { RunSettingsFolder().clear(); }

CCameraSetupDlg::CCameraSetupDlg(QWidget *parent, const QString &opensetpath_file)
    : QDialog(parent), m_opensetpath_file(opensetpath_file) {
    m_remembered = userfiles::ReadFolderFile(m_opensetpath_file);
    m_choose_folder = [](QWidget *owner, const QString &title, const QString &start) {
        return QFileDialog::getExistingDirectory(owner, title, start, QFileDialog::ShowDirsOnly);
    };

    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setWindowTitle(QStringLiteral("Camera Settings"));
    setModal(true);
    setFixedSize(skin::kSetupWidth, skin::kSetupHeight);
    setAttribute(Qt::WA_OpaquePaintEvent);
    BuildControls();

    // The initial codes: quality 3, sound 2, sensitivity 1, frame 3.
    for (int id : {IDC_QUALITY_3, IDC_SOUND_2, IDC_SENSITIVITY_1, IDC_FRAME_3})
        static_cast<QRadioButton *>(m_controls.value(id))->setChecked(true);

    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const int fields[6] = {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                           local.tm_hour,        local.tm_min,     local.tm_sec};
    for (int i = 0; i < 6; ++i) {
        m_time[i]->setText(QString::asprintf(i == 0 ? "%04d" : "%02d", fields[i]));
        m_time[i]->setEnabled(false);
    }
}

CCameraSetupDlg::~CCameraSetupDlg() {
    if (!m_remembered.empty()) userfiles::WriteFolderFile(m_opensetpath_file, m_remembered);
}

QRadioButton *CCameraSetupDlg::AddRadio(int id, QButtonGroup *row, QPoint at) {
    auto *b = new QRadioButton(this);
    b->setGeometry(QRect(at, QSize(skin::kSetupIndicator, skin::kSetupIndicator)));
    row->addButton(b, id);
    m_controls.insert(id, b);
    connect(b, &QAbstractButton::clicked, this, &CCameraSetupDlg::RecomputeCodes);
    return b;
}

void CCameraSetupDlg::BuildControls() {
    const QFont button_font = CellHeightFont(QStringLiteral("Arial"), 17, 400);
    const QFont control_font = CellHeightFont(QStringLiteral("Arial"), 15, 400);

    struct ButtonPlace {
        int id;
        QRect rect;
        int strip;
    };
    auto at = [](int i) {
        return QRect(skin::kSetupButtonLeft[i], skin::kSetupButtonTop, skin::kSetupButtonWidth,
                     skin::kSetupButtonHeight);
    };
    const ButtonPlace buttons[3] = {
        {IDC_SETUP_FOLDER, at(0), skin::kSetupFolderStrip},
        {IDC_SETUP_WRITE, at(1), skin::kSetupWriteStrip},
        {IDC_SETUP_CLOSE, at(2), skin::kSetupCloseStrip},
    };
    for (const ButtonPlace &bp : buttons) {
        auto *b = new CSkinButton(this);
        b->setGeometry(bp.rect);
        b->SetSkin(bp.strip, skin::kSetupButtonWidth);
        b->setFont(button_font);
        m_controls.insert(bp.id, b);
    }
    connect(static_cast<CSkinButton *>(m_controls.value(IDC_SETUP_FOLDER)),
            &QAbstractButton::clicked, this, &CCameraSetupDlg::ChooseFolder);
    connect(static_cast<CSkinButton *>(m_controls.value(IDC_SETUP_WRITE)),
            &QAbstractButton::clicked, this, &CCameraSetupDlg::WriteFiles);
    connect(static_cast<CSkinButton *>(m_controls.value(IDC_SETUP_CLOSE)),
            &QAbstractButton::clicked, this, &QDialog::accept);
    m_controls.value(IDC_SETUP_FOLDER)
        ->setToolTip(QStringLiteral("Choose the settings folder on the card"));
    m_controls.value(IDC_SETUP_WRITE)
        ->setToolTip(QStringLiteral("Write the settings to the folder"));

    // The screen rows are quality, frame, sound, sensitivity, which is also the order of kRows.
    for (int row = 0; row < 4; ++row) {
        m_rows[row] = new QButtonGroup(this);
        m_rows[row]->setExclusive(true);
        for (int i = 0; i < kRows[row].count; ++i) {
            // The fourth sound button (code 0) exists only to show a card's 0; it is never shown.
            const int column = i < 3 ? i : 2;
            QRadioButton *b =
                AddRadio(kRows[row].ids[i], m_rows[row],
                         QPoint(skin::kSetupColumnLeft[column], skin::kSetupRowTop[row]));
            if (i == 3) b->hide();
        }
    }

    m_clock = new QCheckBox(this);
    m_clock->setGeometry(
        QRect(24, skin::kSetupClockTop, skin::kSetupIndicator, skin::kSetupIndicator));
    m_controls.insert(IDC_SET_CLOCK, m_clock);
    connect(m_clock, &QCheckBox::toggled, this, &CCameraSetupDlg::SetClock);

    for (int i = 0; i < 6; ++i) {
        auto *e = new QLineEdit(this);
        e->setGeometry(QRect(skin::kSetupEditLeft[i], skin::kSetupEditTop, skin::kSetupEditWidth[i],
                             skin::kSetupEditHeight));
        e->setMaxLength(i == 0 ? 4 : 2);
        e->setAlignment(Qt::AlignCenter);
        e->setFrame(false);
        // Enabled or not, the clock reads blue on white.
        e->setStyleSheet(
            QStringLiteral("QLineEdit{color:%1;background:#ffffff;border:0;padding:0;"
                           "selection-background-color:#0096ff;selection-color:#ffffff;}")
                .arg(kTimeText.name()));
        m_time[i] = e;
        m_controls.insert(kTimeIds[i], e);
    }

    // Everything but the buttons and the edits sits on black.
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    black.setColor(QPalette::WindowText, Qt::white);
    for (auto it = m_controls.cbegin(); it != m_controls.cend(); ++it) {
        QWidget *w = it.value();
        if (qobject_cast<CSkinButton *>(w) != nullptr) continue;
        w->setFont(control_font);
        if (qobject_cast<QLineEdit *>(w) != nullptr) continue;
        w->setPalette(black);
        w->setAutoFillBackground(true);
        w->setCursor(Qt::PointingHandCursor);
    }
}

void CCameraSetupDlg::CheckCode(camcfg::Setting setting, int code) {
    const int button = camcfg::ButtonForCode(setting, code);
    if (button < 0) return;
    const RowIds &row = kRows[RowIndex(setting)];
    if (button >= row.count) return;
    static_cast<QRadioButton *>(m_controls.value(row.ids[button]))->setChecked(true);
}

void CCameraSetupDlg::RecomputeCodes() {
    uint8_t *codes[4] = {&m_codes.quality, &m_codes.frame, &m_codes.sound, &m_codes.sensitivity};
    for (int row = 0; row < 4; ++row) {
        for (int i = 0; i < kRows[row].count; ++i) {
            if (static_cast<QRadioButton *>(m_controls.value(kRows[row].ids[i]))->isChecked()) {
                *codes[row] = static_cast<uint8_t>(3 - i);
                break;
            }
        }
    }
}

void CCameraSetupDlg::ChooseFolder() {
    const QString chosen =
        m_choose_folder
            ? m_choose_folder(this, QString::fromLatin1(kSetupFolderTitle), RememberedFolder())
            : QString();
    if (chosen.isEmpty() || !QFileInfo(chosen).isDir()) return;
    const std::string folder = chosen.toLocal8Bit().toStdString();
    RunSettingsFolder() = folder;
    m_remembered = folder;

    struct File {
        const char *name;
        camcfg::Setting setting;
        int default_code;
    };
    const File files[4] = {
        {camcfg::kQualityFile, camcfg::Setting::kQuality, camcfg::kQualityDefault},
        {camcfg::kSensitivityFile, camcfg::Setting::kSensitivity, camcfg::kSensitivityDefault},
        {camcfg::kSoundFile, camcfg::Setting::kSound, camcfg::kSoundDefault},
        {camcfg::kFrameFile, camcfg::Setting::kFrame, camcfg::kFrameDefault},
    };
    for (const File &f : files)
        CheckCode(f.setting, camcfg::ReadSettingByte(folder, f.name, f.default_code));
    RecomputeCodes();
}

void CCameraSetupDlg::WriteFiles() {
    RecomputeCodes();
    const std::string &folder = RunSettingsFolder();
    std::string texts[6];
    for (int i = 0; i < 6; ++i) texts[i] = m_time[i]->text().toLocal8Bit().toStdString();
    const camcfg::WriteOutcome outcome =
        camcfg::WriteSettings(!folder.empty(), folder, m_codes, m_time_flag ? texts : nullptr);
    for (const std::string &message : outcome.messages)
        ShowMessage(QString::fromLocal8Bit(message.c_str()));
    if (outcome.completed) accept();
}

void CCameraSetupDlg::SetClock(bool on) {
    for (QLineEdit *e : m_time) e->setEnabled(on);
    m_time_flag = on;
}

void CCameraSetupDlg::ShowMessage(const QString &text) {
    if (m_message_sink) {
        m_message_sink(text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Vantrec Player"), text, QMessageBox::Ok,
                    this);
    box.exec();
}

void CCameraSetupDlg::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.drawPixmap(0, 0, skin::Bitmap(skin::kSetupBackground));
}

void CCameraSetupDlg::mousePressEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton) return QDialog::mousePressEvent(event);
    m_dragging = true;
    m_drag_offset = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void CCameraSetupDlg::mouseMoveEvent(QMouseEvent *event) {
    if (!m_dragging) return QDialog::mouseMoveEvent(event);
    move(event->globalPosition().toPoint() - m_drag_offset);
}

void CCameraSetupDlg::mouseReleaseEvent(QMouseEvent *event) {
    if (event->button() == Qt::LeftButton) m_dragging = false;
    QDialog::mouseReleaseEvent(event);
}

}  // namespace vt::app
