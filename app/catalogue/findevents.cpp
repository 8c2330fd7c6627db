#include "app/catalogue/findevents.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QSettings>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdio>

#include "app/companion/palette.h"
#include "app/userfiles/userfiles.h"
#include "drivedata/folder.h"

namespace vt::app::catalogue_ui {
namespace {

constexpr char kObjectName[] = "vt_find_events";
constexpr char kGeometryKey[] = "windows/find_events";

QString TimeText(const FoundEvent &f) {
    const int64_t s = f.event.time_ms / 1000;
    if (f.has_start) {
        const drivedata::DateTime t =
            drivedata::FromLocalSeconds(drivedata::LocalSeconds(f.start) + s);
        std::string iso = drivedata::FormatIsoLocal(t);
        if (iso.size() > 10) iso[10] = ' ';
        char tenth[8];
        std::snprintf(tenth, sizeof tenth, ".%d", static_cast<int>(f.event.time_ms % 1000 / 100));
        return QString::fromStdString(iso + tenth);
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "+%02d:%02d.%d", static_cast<int>(s / 60),
                  static_cast<int>(s % 60), static_cast<int>(f.event.time_ms % 1000 / 100));
    return QString::fromLatin1(buf);
}

QString GeometryFile() { return userfiles::SettingsFile(); }

}  // namespace

CFindEventsDlg::CFindEventsDlg(QWidget *parent, OpenAt open_at)
    : QDialog(parent, Qt::Window), m_open_at(std::move(open_at)) {
    setObjectName(QLatin1String(kObjectName));
    setWindowTitle(QStringLiteral("Find events"));
    setPalette(vt::app::CompanionPalette());
    setAutoFillBackground(true);
    setSizeGripEnabled(true);
    m_pool.setMaxThreadCount(1);

    m_table = new QTableWidget(0, 4, this);
    m_table->setHorizontalHeaderLabels({QStringLiteral("G"), QStringLiteral("Kind"),
                                        QStringLiteral("Time"), QStringLiteral("Recording")});
    m_table->setPalette(vt::app::CompanionPalette());
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setAlternatingRowColors(true);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->horizontalHeader()->setStyleSheet(
        QStringLiteral("QHeaderView { background: #2d3036; } "
                       "QHeaderView::section { background: #2d3036; color: #e1e1e1; border: 0; "
                       "padding: 3px; }"));
    connect(m_table, &QTableWidget::cellDoubleClicked, this,
            [this](int row, int) { ActivateRow(row); });
    m_status = new QLabel(this);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(m_table);
    layout->addWidget(m_status);

    resize(560, 420);
    QSettings ini(GeometryFile(), QSettings::IniFormat);
    restoreGeometry(ini.value(QLatin1String(kGeometryKey)).toByteArray());
}

CFindEventsDlg::~CFindEventsDlg() {
    if (m_cancel) m_cancel->store(true);
    m_pool.waitForDone();
}

QString CFindEventsDlg::Status() const { return m_status->text(); }

void CFindEventsDlg::ShowFolder(const QString &folder, double threshold_g) {
    if (m_cancel) m_cancel->store(true);
    m_cancel = std::make_shared<std::atomic<bool>>(false);
    m_done = std::make_shared<std::atomic<size_t>>(0);
    m_total = std::make_shared<std::atomic<size_t>>(0);
    const uint64_t generation = ++m_generation;
    m_busy = true;
    m_table->setRowCount(0);
    m_events.clear();
    m_status->setText(QStringLiteral("Reading the recordings..."));
    setWindowTitle(QStringLiteral("Find events - ") + folder);

    // The worker only counts; a timer here shows the count, so progress never floods the queue.
    auto *ticker = new QTimer(this);
    ticker->setInterval(100);
    auto done = m_done, total = m_total;
    connect(ticker, &QTimer::timeout, this, [this, ticker, done, total, generation] {
        if (generation != m_generation || !m_busy) {
            ticker->deleteLater();
            return;
        }
        if (total->load() > 0)
            m_status->setText(QStringLiteral("Reading the recordings... %1 / %2")
                                  .arg(done->load())
                                  .arg(total->load()));
    });
    ticker->start();

    const std::string path = folder.toLocal8Bit().toStdString();
    auto cancel = m_cancel;
    m_pool.start([this, path, threshold_g, cancel, done, total, generation] {
        auto events = std::make_shared<std::vector<FoundEvent>>();
        const bool ok =
            ReadEvents(path, threshold_g, events.get(), cancel.get(), [&](size_t d, size_t t) {
                done->store(d);
                total->store(t);
            });
        if (!ok && cancel->load()) return;
        // `this` outlives the task: its destructor waits for the pool.
        QMetaObject::invokeMethod(
            this, [this, events, generation] { Fill(*events, generation); }, Qt::QueuedConnection);
    });
}

void CFindEventsDlg::Fill(const std::vector<FoundEvent> &events, uint64_t generation) {
    if (generation != m_generation) return;
    m_busy = false;
    m_events = events;
    m_table->setUpdatesEnabled(false);
    m_table->setRowCount(static_cast<int>(m_events.size()));
    for (int row = 0; row < static_cast<int>(m_events.size()); ++row) {
        const FoundEvent &f = m_events[static_cast<size_t>(row)];
        char g[16];
        std::snprintf(g, sizeof g, "%.2f", drivedata::RoundG(f.event.peak_g));
        const QString cells[4] = {QString::fromLatin1(g),
                                  QString::fromLatin1(drivedata::EventKindName(f.event.kind)),
                                  TimeText(f), QString::fromLocal8Bit(f.name.c_str())};
        for (int c = 0; c < 4; ++c) {
            auto *item = new QTableWidgetItem(cells[c]);
            if (c == 0) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            m_table->setItem(row, c, item);
        }
    }
    m_table->resizeColumnsToContents();
    m_table->setUpdatesEnabled(true);
    m_status->setText(m_events.size() == 1 ? QStringLiteral("1 event")
                                           : QStringLiteral("%1 events").arg(m_events.size()));
}

void CFindEventsDlg::ActivateRow(int row) {
    if (row < 0 || row >= static_cast<int>(m_events.size()) || !m_open_at) return;
    const FoundEvent &f = m_events[static_cast<size_t>(row)];
    m_open_at(QString::fromLocal8Bit(f.name.c_str()),
              std::max<int64_t>(0, f.event.time_ms - kLeadInMs));
}

void CFindEventsDlg::SaveGeometry() {
    QSettings ini(GeometryFile(), QSettings::IniFormat);
    ini.setValue(QLatin1String(kGeometryKey), saveGeometry());
}

void CFindEventsDlg::closeEvent(QCloseEvent *event) {
    SaveGeometry();
    QDialog::closeEvent(event);
}

void AddFindEventsEntry(QMenu *menu, QWidget *owner, const QString &folder, double threshold_g,
                        const OpenAt &open_at) {
    QAction *action = menu->addAction(QString::fromLatin1(kFindEventsMenuText), owner, [=] {
        auto *dlg = owner->findChild<CFindEventsDlg *>(QLatin1String(kObjectName),
                                                       Qt::FindDirectChildrenOnly);
        if (dlg == nullptr) dlg = new CFindEventsDlg(owner, open_at);
        dlg->ShowFolder(folder, threshold_g);
        dlg->show();
        dlg->raise();
        dlg->activateWindow();
    });
    action->setEnabled(!folder.isEmpty());
}

}  // namespace vt::app::catalogue_ui
