#include "app/export/evidence.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMetaObject>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimeZone>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <string>

#include "app/companion/palette.h"
#include "engine/writer/clip.h"
#include "engine/writer/mp4_index.h"
#include "report/clip_sidecars.h"
#include "report/incident_report.h"

namespace vt::app::evidence {
namespace {

constexpr int64_t kBeforeMs = 20000;
constexpr int64_t kAfterMs = 10000;
constexpr int64_t kTripGapMs = 10000;
constexpr int kMaxTripNeighbours = 30;  // each way; a trip longer than that is cut for the dialog

// Seconds since 1970 of the name's YYYYMMDD_HHMMSS (read as UTC: only differences count).
bool NameTime(const QString &path, int64_t *seconds) {
    static const QRegularExpression re(
        QStringLiteral("^(\\d{4})(\\d{2})(\\d{2})_(\\d{2})(\\d{2})(\\d{2})\\.mp4$"),
        QRegularExpression::CaseInsensitiveOption);
    const auto m = re.match(QFileInfo(path).fileName());
    if (!m.hasMatch()) return false;
    const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    const QTime time(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt());
    if (!date.isValid() || !time.isValid()) return false;
    *seconds = QDateTime(date, time, Qt::UTC).toSecsSinceEpoch();
    return true;
}

int64_t DurationMs(const QString &path) {
    Mp4Index idx;
    if (MeFailed(Mp4IndexRead(path.toLocal8Bit().constData(), &idx, nullptr))) return -1;
    int64_t longest = 0;
    for (const IndexTrack *t : {&idx.video, &idx.audio, &idx.data}) {
        if (!t->kind) continue;
        uint64_t sum = 0;
        for (uint32_t d : t->durations) sum += d;
        longest = std::max(longest, static_cast<int64_t>(sum * 1000 / t->timescale));
    }
    return longest;
}

QString Seconds(int64_t ms) { return QString::number(ms / 1000.0, 'f', 1); }

// A name in `folder` that is not taken yet: base.ext, base-2.ext, ...
QString FreeName(const QString &folder, const QString &base, const QString &ext) {
    QString name = base + ext;
    for (int i = 2; QFileInfo::exists(QDir(folder).filePath(name)) && i < 1000; ++i)
        name = QStringLiteral("%1-%2%3").arg(base).arg(i).arg(ext);
    return name;
}

QString Beside(const QString &path, const QString &ext) {
    QFileInfo fi(path);
    return fi.dir().filePath(fi.completeBaseName() + ext);
}

}  // namespace

QString DefaultOutputFolder() {
    for (auto where : {QStandardPaths::MoviesLocation, QStandardPaths::DocumentsLocation}) {
        const QString dir = QStandardPaths::writableLocation(where);
        if (!dir.isEmpty() && QFileInfo(dir).isDir()) return dir;
    }
    return QDir::homePath();
}

TripFiles FindTripFiles(const QString &recording) {
    TripFiles trip;
    const QFileInfo me(recording);
    int64_t my_start = 0;
    const int64_t my_duration = DurationMs(recording);
    trip.paths << me.absoluteFilePath();
    trip.offsets_ms.push_back(0);
    trip.durations_ms.push_back(std::max<int64_t>(my_duration, 0));
    if (!NameTime(recording, &my_start) || my_duration < 0) return trip;

    QStringList names = me.dir().entryList({QStringLiteral("*.mp4"), QStringLiteral("*.MP4")},
                                           QDir::Files, QDir::Name);
    const int at = static_cast<int>(names.indexOf(me.fileName()));
    if (at < 0) return trip;
    struct Entry {
        QString path;
        int64_t start_ms, duration_ms;
    };
    std::vector<Entry> before, after;
    // Back: a recording belongs when the one after it starts within 10 s of its end.
    int64_t next_start = my_start * 1000;
    for (int i = at - 1; i >= 0 && static_cast<int>(before.size()) < kMaxTripNeighbours; --i) {
        const QString path = me.dir().filePath(names[i]);
        int64_t s = 0, d = DurationMs(path);
        if (!NameTime(path, &s) || d < 0 || next_start > s * 1000 + d + kTripGapMs) break;
        before.push_back({path, s * 1000, d});
        next_start = s * 1000;
    }
    int64_t prev_end = my_start * 1000 + my_duration;
    for (int i = at + 1; i < names.size() && static_cast<int>(after.size()) < kMaxTripNeighbours;
         ++i) {
        const QString path = me.dir().filePath(names[i]);
        int64_t s = 0, d = DurationMs(path);
        if (!NameTime(path, &s) || d < 0 || s * 1000 > prev_end + kTripGapMs) break;
        after.push_back({path, s * 1000, d});
        prev_end = s * 1000 + d;
    }
    const int64_t first = before.empty() ? my_start * 1000 : before.back().start_ms;
    trip = TripFiles{};
    for (auto it = before.rbegin(); it != before.rend(); ++it) {
        trip.paths << QFileInfo(it->path).absoluteFilePath();
        trip.offsets_ms.push_back(it->start_ms - first);
        trip.durations_ms.push_back(it->duration_ms);
    }
    trip.current = static_cast<int>(trip.paths.size());
    trip.paths << me.absoluteFilePath();
    trip.offsets_ms.push_back(my_start * 1000 - first);
    trip.durations_ms.push_back(my_duration);
    for (const Entry &e : after) {
        trip.paths << QFileInfo(e.path).absoluteFilePath();
        trip.offsets_ms.push_back(e.start_ms - first);
        trip.durations_ms.push_back(e.duration_ms);
    }
    return trip;
}

FolderChooser DialogFolderChooser() {
    return [](QWidget *owner, const QString &start) {
        return QFileDialog::getExistingDirectory(owner, QStringLiteral("Export to folder"), start,
                                                 QFileDialog::ShowDirsOnly);
    };
}

FileChooser DialogReportChooser() {
    return [](QWidget *owner, const QString &suggested) {
        return QFileDialog::getSaveFileName(owner, QStringLiteral("Save incident report"),
                                            suggested, QStringLiteral("PDF files (*.pdf)"));
    };
}

CExportDlg::CExportDlg(const Moment &moment, QWidget *parent)
    : QDialog(parent),
      m_moment(moment),
      m_trip(FindTripFiles(moment.recording)),
      m_choose_folder(DialogFolderChooser()) {
    setWindowTitle(QStringLiteral("Export clip"));
    setPalette(vt::app::CompanionPalette());
    const QString name = QFileInfo(moment.recording).fileName();
    const int64_t here = m_trip.offsets_ms[static_cast<size_t>(m_trip.current)];
    const int64_t trip_end = m_trip.offsets_ms.back() + m_trip.durations_ms.back();

    auto *intro = new QLabel(
        QStringLiteral("A copy of the recording around the current picture, without re-encoding.\n"
                       "Times are seconds from the start of %1%2.")
            .arg(name,
                 m_trip.paths.size() > 1
                     ? QStringLiteral(" (the clip may reach into the %1 recordings of its trip)")
                           .arg(m_trip.paths.size() - 1)
                     : QString()),
        this);
    intro->setWordWrap(true);
    auto spin = [&](int64_t value_ms) {
        auto *box = new QDoubleSpinBox(this);
        box->setDecimals(1);
        box->setSuffix(QStringLiteral(" s"));
        box->setRange(-here / 1000.0, (trip_end - here) / 1000.0);
        box->setValue(value_ms / 1000.0);
        return box;
    };
    // Default: 20 s before to 10 s after the picture, kept within the trip.
    const int64_t pos = moment.position_ms;
    m_from = spin(std::max<int64_t>(pos - kBeforeMs, -here));
    m_to = spin(std::min<int64_t>(pos + kAfterMs, trip_end - here));

    m_folder = new QLineEdit(DefaultOutputFolder(), this);
    auto *browse = new QPushButton(QStringLiteral("Choose..."), this);
    connect(browse, &QPushButton::clicked, this, &CExportDlg::ChooseFolder);
    auto *folder_row = new QHBoxLayout;
    folder_row->addWidget(m_folder, 1);
    folder_row->addWidget(browse);
    m_name = new QLineEdit(
        FreeName(m_folder->text(), QFileInfo(name).completeBaseName() + QStringLiteral("_clip"),
                 QStringLiteral(".mp4")),
        this);
    m_sidecars = new QCheckBox(QStringLiteral("Also subtitles (.srt) and the track (.gpx)"), this);
    m_sidecars->setChecked(true);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("From"), m_from);
    form->addRow(QStringLiteral("To"), m_to);
    form->addRow(QStringLiteral("Folder"), folder_row);
    form->addRow(QStringLiteral("File name"), m_name);
    form->addRow(QString(), m_sidecars);

    m_progress = new QProgressBar(this);
    m_progress->setRange(0, 1000);
    m_progress->setValue(0);
    m_status = new QLabel(this);
    m_status->setWordWrap(true);
    m_export = new QPushButton(QStringLiteral("Export"), this);
    m_export->setDefault(true);
    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    connect(m_export, &QPushButton::clicked, this, &CExportDlg::StartExport);
    connect(m_cancel, &QPushButton::clicked, this, &CExportDlg::CancelExport);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_export);
    buttons->addWidget(m_cancel);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addLayout(form);
    layout->addWidget(m_progress);
    layout->addWidget(m_status);
    layout->addLayout(buttons);
    resize(520, sizeHint().height());
}

CExportDlg::~CExportDlg() {
    m_cancel_requested = true;
    Join();
}

QString CExportDlg::Status() const { return m_status->text(); }

void CExportDlg::ChooseFolder() {
    const QString chosen = m_choose_folder(this, m_folder->text());
    if (!chosen.isEmpty()) m_folder->setText(chosen);
}

void CExportDlg::Join() {
    if (m_worker.joinable()) m_worker.join();
}

void CExportDlg::StartExport() {
    if (Running()) return;
    Join();
    const QString folder = m_folder->text().trimmed();
    QString file = m_name->text().trimmed();
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        m_status->setText(QStringLiteral("Choose an existing folder."));
        return;
    }
    if (file.isEmpty()) {
        m_status->setText(QStringLiteral("Enter a file name."));
        return;
    }
    if (!file.endsWith(QStringLiteral(".mp4"), Qt::CaseInsensitive)) file += QStringLiteral(".mp4");
    if (m_to->value() <= m_from->value()) {
        m_status->setText(QStringLiteral("The end must lie after the start."));
        return;
    }

    const int64_t here = m_trip.offsets_ms[static_cast<size_t>(m_trip.current)];
    ClipRequest req;
    for (const QString &p : m_trip.paths) req.sources.push_back(p.toLocal8Bit().toStdString());
    req.offsets_ms = m_trip.offsets_ms;
    req.from_ms = here + static_cast<int64_t>(std::llround(m_from->value() * 1000));
    req.to_ms = here + static_cast<int64_t>(std::llround(m_to->value() * 1000));
    req.output = QDir(folder).filePath(file).toLocal8Bit().toStdString();
    const bool sidecars = m_sidecars->isChecked();

    m_cancel_requested = false;
    m_done = false;
    m_progress->setValue(0);
    m_status->setText(QStringLiteral("Exporting..."));
    m_export->setEnabled(false);
    m_cancel->setText(QStringLiteral("Cancel"));
    m_worker = std::thread([this, req, sidecars]() mutable {
        // Progress reaches the dialog as queued calls; the worker never touches a widget.
        req.progress = [](void *ctx, uint64_t done, uint64_t total) {
            auto *self = static_cast<CExportDlg *>(ctx);
            const int value = total ? static_cast<int>(done * 1000 / total) : 0;
            QMetaObject::invokeMethod(
                self->m_progress, [bar = self->m_progress, value] { bar->setValue(value); },
                Qt::QueuedConnection);
            return self->m_cancel_requested.load() ? 1 : 0;
        };
        req.progress_ctx = this;
        ClipResult res;
        MeResult r = ClipExport(req, &res);
        bool ok = !MeFailed(r);
        QString message;
        std::vector<std::string> listed;
        for (size_t i : res.used) listed.push_back(req.sources[i]);
        listed.push_back(req.output);
        std::string error;
        const QString out = QString::fromLocal8Bit(req.output.c_str());
        if (ok && sidecars) {
            const std::string srt = Beside(out, QStringLiteral(".srt")).toLocal8Bit().toStdString();
            const std::string gpx = Beside(out, QStringLiteral(".gpx")).toLocal8Bit().toStdString();
            ok = report::WriteClipSidecars(req.output, srt, gpx, &error);
            listed.push_back(srt);
            listed.push_back(gpx);
        }
        if (ok)
            ok = !MeFailed(WriteSha256Manifest(
                Beside(out, QStringLiteral(".sha256")).toLocal8Bit().toStdString(), listed,
                &error));
        if (ok) {
            message = QStringLiteral("Saved %1 (%2 s, %3 MB) with its SHA-256 list %4.")
                          .arg(QFileInfo(out).fileName())
                          .arg(res.duration_ms / 1000.0, 0, 'f', 1)
                          .arg(res.bytes / 1e6, 0, 'f', 1)
                          .arg(QFileInfo(Beside(out, QStringLiteral(".sha256"))).fileName());
        } else if (r == ME_FAIL && m_cancel_requested.load()) {
            message = QStringLiteral("Cancelled.");
        } else {
            message = QString::fromLocal8Bit((error.empty() ? res.error : error).c_str());
        }
        m_done = true;
        QMetaObject::invokeMethod(
            this, [this, ok, message] { OnFinished(ok, message); }, Qt::QueuedConnection);
    });
}

void CExportDlg::OnFinished(bool ok, const QString &message) {
    Join();
    m_status->setText(message);
    m_export->setEnabled(true);
    m_cancel->setText(QStringLiteral("Close"));
    if (ok) m_progress->setValue(1000);
    emit Finished(ok, message);
}

void CExportDlg::CancelExport() {
    if (m_worker.joinable()) {
        m_cancel_requested = true;
        return;
    }
    reject();
}

void CExportDlg::closeEvent(QCloseEvent *event) {
    // Closing while the copy runs cancels it; the worker is joined before the dialog goes.
    m_cancel_requested = true;
    Join();
    QDialog::closeEvent(event);
}

bool MakeIncidentReport(QWidget *owner, const Moment &moment, const FileChooser &choose,
                        const MessageSink &message) {
    if (moment.recording.isEmpty()) return false;
    const QString base = QFileInfo(moment.recording).completeBaseName() +
                         QStringLiteral("_report_%1s").arg(Seconds(moment.position_ms));
    const QString folder = DefaultOutputFolder();
    const QString pdf =
        choose(owner, QDir(folder).filePath(FreeName(folder, base, QStringLiteral(".pdf"))));
    if (pdf.isEmpty()) return false;
    report::ReportRequest req;
    req.recording = moment.recording.toLocal8Bit().toStdString();
    req.at_ms = moment.position_ms;
    req.output = pdf.toLocal8Bit().toStdString();
    std::string error;
    report::ReportFacts facts;
    if (!report::WriteIncidentReport(req, &facts, &error)) {
        message(QStringLiteral("The incident report could not be made: %1")
                    .arg(QString::fromLocal8Bit(error.c_str())));
        return false;
    }
    const QString manifest = Beside(pdf, QStringLiteral(".sha256"));
    if (MeFailed(WriteSha256Manifest(manifest.toLocal8Bit().toStdString(),
                                     {req.recording, req.output}, &error))) {
        message(QString::fromLocal8Bit(error.c_str()));
        return false;
    }
    message(QStringLiteral("Saved %1 and %2.")
                .arg(QFileInfo(pdf).fileName(), QFileInfo(manifest).fileName()));
    return true;
}

void AddMenuEntries(QMenu *menu, QWidget *owner, const std::function<Moment()> &moment,
                    const MessageSink &message) {
    const bool have = !moment().recording.isEmpty();
    QAction *clip = menu->addAction(QStringLiteral("Export clip..."), owner, [owner, moment] {
        auto *dlg = new CExportDlg(moment(), owner);
        dlg->setAttribute(Qt::WA_DeleteOnClose);
        dlg->show();
    });
    QAction *report =
        menu->addAction(QStringLiteral("Incident report..."), owner, [owner, moment, message] {
            MakeIncidentReport(owner, moment(), DialogReportChooser(), message);
        });
    clip->setEnabled(have);
    report->setEnabled(have);
}

}  // namespace vt::app::evidence
