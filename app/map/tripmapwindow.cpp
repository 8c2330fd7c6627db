#include "app/map/tripmapwindow.h"

#include <QCloseEvent>
#include <QLabel>
#include <QSettings>
#include <QVBoxLayout>
#include <cmath>

#include "app/companion/palette.h"
#include "app/map/mapwidget.h"
#include "app/map/tilesource.h"
#include "app/map/tripstrip.h"

namespace vt::map {
namespace {

const char kGeometryKey[] = "windows/trip_and_map";

QString FormatDuration(int64_t ms) {
    const int64_t s = std::max<int64_t>(0, ms) / 1000;
    if (s >= 3600)
        return QString::asprintf("%d:%02d:%02d", int(s / 3600), int(s / 60 % 60), int(s % 60));
    return QString::asprintf("%d:%02d", int(s / 60), int(s % 60));
}

}  // namespace

CTripMapWindow::CTripMapWindow(const MapSettings &settings, QWidget *parent)
    : QWidget(parent, Qt::Window), m_settings(settings) {
    setWindowTitle(QStringLiteral("Trip and map"));
    setPalette(vt::app::CompanionPalette());
    setAutoFillBackground(true);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->setSpacing(4);
    m_header = new QLabel(this);
    m_header->setTextFormat(Qt::PlainText);
    m_map = new CMapWidget(this);
    m_strip = new CTripStrip(this);
    m_strip->setFixedHeight(120);
    layout->addWidget(m_header);
    layout->addWidget(m_map, 1);
    layout->addWidget(m_strip);

    m_source = MakeTileSource(settings.mbtiles, settings.tile_url, settings.tile_cache_dir,
                              &m_source_problem);
    m_map->SetTileSource(m_source.get());
    m_map->SetSpeedUnit(settings.speed_unit);
    m_strip->SetSpeedUnit(settings.speed_unit);
    connect(m_map, &CMapWidget::seekRequested, this, &CTripMapWindow::seekRequested);
    connect(m_strip, &CTripStrip::seekRequested, this, &CTripMapWindow::seekRequested);

    resize(820, 640);
    if (!settings.settings_file.isEmpty()) {
        const QSettings ini(settings.settings_file, QSettings::IniFormat);
        const QByteArray geometry = ini.value(QLatin1String(kGeometryKey)).toByteArray();
        if (!geometry.isEmpty()) restoreGeometry(geometry);
    }
}

CTripMapWindow::~CTripMapWindow() {
    // The map holds only a guarded pointer to the source; drop it before the source goes.
    m_map->SetTileSource(nullptr);
}

void CTripMapWindow::ShowTrip(std::shared_ptr<const Trip> trip) {
    m_trip = std::move(trip);
    m_map->SetTrip(m_trip);
    m_strip->SetTrip(m_trip);
    m_header->setText(HeaderText());
}

void CTripMapWindow::ShowProblem(const QString &text) {
    m_trip.reset();
    m_map->SetTrip(nullptr);
    m_strip->SetTrip(nullptr);
    m_header->setText(text);
}

QString CTripMapWindow::HeaderText() const {
    if (!m_trip) return m_header->text();
    const Trip &t = *m_trip;
    QString text = QStringLiteral("%1   %2   %3   max %4 %5   %6 recording%7   %8 event%9")
                       .arg(FormatTripClock(t, 0, true), FormatDuration(t.duration_ms),
                            FormatDistance(t.distance_m, m_settings.speed_unit))
                       .arg(std::lround(SpeedInUnit(t.max_speed_kmh, m_settings.speed_unit)))
                       .arg(SpeedUnitLabel(m_settings.speed_unit))
                       .arg(t.files.size())
                       .arg(t.files.size() == 1 ? QString() : QStringLiteral("s"))
                       .arg(t.events.size())
                       .arg(t.events.size() == 1 ? QString() : QStringLiteral("s"));
    if (!m_source_problem.isEmpty())
        text += QStringLiteral("   (") + m_source_problem + QLatin1Char(')');
    return text;
}

void CTripMapWindow::SetPosition(qint64 trip_ms) {
    m_map->SetPosition(trip_ms);
    m_strip->SetPosition(trip_ms);
}

void CTripMapWindow::SaveGeometry() {
    if (m_settings.settings_file.isEmpty()) return;
    QSettings ini(m_settings.settings_file, QSettings::IniFormat);
    ini.setValue(QLatin1String(kGeometryKey), saveGeometry());
}

void CTripMapWindow::closeEvent(QCloseEvent *event) {
    SaveGeometry();
    QWidget::closeEvent(event);
}

void CTripMapWindow::hideEvent(QHideEvent *event) {
    SaveGeometry();
    QWidget::hideEvent(event);
}

}  // namespace vt::map
