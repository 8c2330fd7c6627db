#include "app/map/tripmaplink.h"

#include <QFileInfo>
#include <QTimer>
#include <QWidget>

#include "app/map/tripmapwindow.h"

namespace vt::map {

CTripMapLink::CTripMapLink(QWidget *owner, PlayerLink link, MapSettings settings)
    : QObject(owner), m_link(std::move(link)), m_settings(std::move(settings)) {
    setObjectName(QStringLiteral("vt_trip_map_link"));
    // A child of the owner (as a window of its own) goes when the player window goes.
    m_window = new CTripMapWindow(m_settings, owner);
    m_timer = new QTimer(this);
    m_timer->setInterval(100);
    connect(m_timer, &QTimer::timeout, this, &CTripMapLink::Poll);
    connect(m_window, &CTripMapWindow::seekRequested, this, &CTripMapLink::SeekTrip);
}

CTripMapLink::~CTripMapLink() = default;

void CTripMapLink::Show() {
    Poll();
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
    m_timer->start();
}

void CTripMapLink::LoadTrip(const QString &path) {
    m_loaded_for = path;
    auto trip = std::make_shared<Trip>();
    QString error;
    if (!LoadTripOf(path, m_settings.threshold_g, trip.get(), &error)) {
        m_trip.reset();
        m_window->ShowProblem(error);
        return;
    }
    m_trip = trip;
    m_window->ShowTrip(m_trip);
}

void CTripMapLink::Poll() {
    if (!m_window->isVisible() && m_timer->isActive()) {
        m_timer->stop();  // nothing to keep in step; Show() starts it again
        return;
    }
    const QString path = m_link.current_path ? m_link.current_path() : QString();
    if (path.isEmpty()) {
        if (!m_loaded_for.isEmpty() || !m_window->CurrentTrip()) {
            m_loaded_for.clear();
            m_trip.reset();
            m_window->ShowProblem(QStringLiteral("No recording is open."));
        }
        return;
    }
    const QString abs = QFileInfo(path).absoluteFilePath();
    if (abs != m_loaded_for && (!m_trip || TripTimeOf(*m_trip, abs, 0) < 0)) LoadTrip(abs);
    if (!m_trip) return;
    const int64_t t = TripTimeOf(*m_trip, abs, m_link.position_ms ? m_link.position_ms() : 0);
    if (t >= 0) m_window->SetPosition(t);
}

void CTripMapLink::SeekTrip(qint64 trip_ms) {
    if (!m_trip || !m_link.seek) return;
    const FilePosition pos = LocateTripTime(*m_trip, trip_ms);
    if (pos.file < 0) return;
    m_link.seek(m_trip->files[pos.file].path, pos.ms);
    m_window->SetPosition(m_trip->files[pos.file].offset_ms + pos.ms);
}

CTripMapLink *ShowTripMap(QWidget *owner, PlayerLink link) {
    auto *existing = owner->findChild<CTripMapLink *>(QStringLiteral("vt_trip_map_link"),
                                                      Qt::FindDirectChildrenOnly);
    if (existing == nullptr) existing = new CTripMapLink(owner, std::move(link), LoadMapSettings());
    existing->Show();
    return existing;
}

}  // namespace vt::map
