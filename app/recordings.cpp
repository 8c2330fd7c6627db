#include "app/recordings.h"

#include <unistd.h>

#include <QHash>
#include <QThreadPool>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/catalogue/folderreader.h"
#include "app/skinlistbox.h"
#include "app/userfiles/userfiles.h"
#include "drivedata/folder.h"
#include "drivedata/trips.h"

namespace vt::app {

std::string ProgramFolder() {
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    buf[n] = 0;
    std::string path(buf);
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string ReadRememberedFolder(const std::string &file) {
    FILE *f = std::fopen(file.c_str(), "rb");
    if (f == nullptr) return {};
    char buf[kPathBytes + 1] = {};
    const size_t n = std::fread(buf, 1, kPathBytes, f);
    std::fclose(f);
    return std::string(buf, strnlen(buf, n));
}

bool WriteRememberedFolder(const std::string &file, const std::string &folder) {
    if (folder.size() >= kPathBytes || folder.find('\0') != std::string::npos) return false;
    char buf[kPathBytes] = {};
    std::memcpy(buf, folder.data(), folder.size());
    FILE *f = std::fopen(file.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(buf, 1, kPathBytes, f) == kPathBytes;
    return std::fclose(f) == 0 && ok;
}

bool IsRecordingName(const std::string &name) { return drivedata::IsRecordingName(name); }

bool ListRecordingNames(const std::string &folder, std::vector<std::string> *names) {
    return drivedata::ListRecordingNames(folder, names);
}

}  // namespace vt::app

// ---- Grouping the list by trip ----------------------------------------------------------------

namespace vt::app {
namespace {

constexpr char kGrouperName[] = "vt_trip_grouper";
const char kOtherRecordings[] = "Other recordings";

// Owned by the list it groups. The worker touches only its own copies and the shared cancel
// flag; the result comes back as a queued call, which Qt drops if the grouper is gone by then.
class CTripGrouper final : public QObject {
public:
    explicit CTripGrouper(CSkinListBox *list) : QObject(list), m_list(list) {
        setObjectName(QLatin1String(kGrouperName));
        m_pool.setMaxThreadCount(1);
    }
    ~CTripGrouper() override {
        if (m_cancel) m_cancel->store(true);
        m_pool.waitForDone();
    }
    Q_DISABLE_COPY_MOVE(CTripGrouper)

    void Start(const std::string &folder) {
        if (m_cancel) m_cancel->store(true);
        m_cancel = std::make_shared<std::atomic<bool>>(false);
        const uint64_t generation = ++m_generation;
        auto cancel = m_cancel;
        // The worker counts; the list's bar follows the count on a timer of the UI thread.
        m_done = std::make_shared<std::atomic<size_t>>(0);
        m_total = std::make_shared<std::atomic<size_t>>(0);
        auto done = m_done, total = m_total;
        if (m_ticker == nullptr) {
            m_ticker = new QTimer(this);
            m_ticker->setInterval(100);
            connect(m_ticker, &QTimer::timeout, this, [this] {
                m_list->SetProgress(static_cast<int>(m_done->load()),
                                    static_cast<int>(m_total->load()));
            });
        }
        m_ticker->start();
        m_list->SetProgress(0, 1);  // under way, how far not known yet
        // Event counts at the threshold the user set, as the window marks them.
        const double threshold = userfiles::LoadSettings().thresholdG;
        m_pool.start([this, folder, cancel, done, total, generation, threshold] {
            auto trips = std::make_shared<std::vector<drivedata::Trip>>();
            if (!catalogue_ui::ReadTrips(folder, threshold, trips.get(), cancel.get(),
                                         [&](size_t d, size_t t) {
                                             done->store(d);
                                             total->store(t);
                                         })) {
                if (!cancel->load())
                    QMetaObject::invokeMethod(
                        this, [this, generation] { Apply({}, generation, false); },
                        Qt::QueuedConnection);
                return;
            }
            // `this` outlives the task: its destructor waits for the pool.
            QMetaObject::invokeMethod(
                this, [this, trips, generation] { Apply(*trips, generation); },
                Qt::QueuedConnection);
        });
    }

private:
    // `read`: false when the folder could not be read, which leaves the list as it is.
    void Apply(const std::vector<drivedata::Trip> &trips, uint64_t generation, bool read = true) {
        if (generation != m_generation) return;
        m_ticker->stop();
        m_list->SetProgress(0, 0);
        if (!read) return;
        // Which trip each listed name belongs to.
        QHash<QString, int> trip_of;
        for (size_t t = 0; t < trips.size(); ++t)
            for (const auto &f : trips[t].files)
                trip_of.insert(QString::fromLocal8Bit(f.recording.name.c_str()),
                               static_cast<int>(t));
        QHash<QString, QString> headers;
        int current = -1, left = 0;  // the trip being listed and its files not yet passed
        bool other_open = false;
        for (int i = 0; i < m_list->Count(); ++i) {
            const QString name = m_list->Text(i);
            auto it = trip_of.constFind(name);
            if (it != trip_of.constEnd()) {
                if (it.value() != current) {
                    const drivedata::Trip &t = trips[static_cast<size_t>(it.value())];
                    current = it.value();
                    left = static_cast<int>(t.files.size());
                    QString header = QString::fromStdString(TripHeaderText(
                        drivedata::FormatIsoLocal(t.start), t.duration_ms, t.distance_m));
                    if (!t.events.empty())
                        header += t.events.size() == 1
                                      ? QStringLiteral(" \u00b7 1 event")
                                      : QStringLiteral(" \u00b7 %1 events").arg(t.events.size());
                    headers.insert(name, header);
                    other_open = false;
                }
                --left;
            } else if (left <= 0 && !other_open && current >= 0) {
                // Recordings after a trip that belong to none would otherwise look like its part.
                headers.insert(name, QLatin1String(kOtherRecordings));
                other_open = true;
            }
        }
        m_list->SetHeaders(headers);
    }

    CSkinListBox *m_list;
    QThreadPool m_pool;
    std::shared_ptr<std::atomic<bool>> m_cancel;
    std::shared_ptr<std::atomic<size_t>> m_done, m_total;
    QTimer *m_ticker = nullptr;
    uint64_t m_generation = 0;
};

}  // namespace

std::string TripHeaderText(const std::string &iso_start, int64_t duration_ms, double distance_m,
                           bool miles) {
    std::string text = iso_start;
    if (text.size() > 10 && text[10] == 'T') text[10] = ' ';
    const int64_t s = std::max<int64_t>(0, duration_ms) / 1000;
    char buf[64];
    if (s >= 3600)
        std::snprintf(buf, sizeof buf, " \u00b7 %d:%02d:%02d", static_cast<int>(s / 3600),
                      static_cast<int>(s / 60 % 60), static_cast<int>(s % 60));
    else
        std::snprintf(buf, sizeof buf, " \u00b7 %d:%02d", static_cast<int>(s / 60),
                      static_cast<int>(s % 60));
    text += buf;
    constexpr double kMetresPerMile = 1609.344, kMetresPerFoot = 0.3048;
    if (miles && distance_m < kMetresPerMile / 10)
        std::snprintf(buf, sizeof buf, " \u00b7 %.0f ft", distance_m / kMetresPerFoot);
    else if (miles) std::snprintf(buf, sizeof buf, " \u00b7 %.1f mi", distance_m / kMetresPerMile);
    else if (distance_m < 1000) std::snprintf(buf, sizeof buf, " \u00b7 %.0f m", distance_m);
    else std::snprintf(buf, sizeof buf, " \u00b7 %.1f km", distance_m / 1000);
    return text + buf;
}

void GroupListByTrip(CSkinListBox *list, const std::string &folder) {
    // The grouper is ours alone under this name, so the cast is safe without meta-object help.
    auto *found =
        list->findChild<QObject *>(QLatin1String(kGrouperName), Qt::FindDirectChildrenOnly);
    auto *grouper = found != nullptr ? static_cast<CTripGrouper *>(found) : new CTripGrouper(list);
    grouper->Start(folder);
}

}  // namespace vt::app
