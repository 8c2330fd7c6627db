#pragma once
// The Trip and map window: a companion window in the dark palette with a header line (the trip's
// start as the camera wrote it, its length, distance and top speed), the map and the speed/|G|
// strip. It remembers its geometry in settings.ini. User-interface thread only.
#include <QWidget>
#include <memory>

#include "app/map/mapsettings.h"
#include "app/map/trip.h"

class QLabel;

namespace vt::map {

class CMapWidget;
class CTileSource;
class CTripStrip;

class CTripMapWindow final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CTripMapWindow)

public:
    // The tile source is made from the settings (MBTiles file, else tile URL, else the grid).
    explicit CTripMapWindow(const MapSettings &settings, QWidget *parent = nullptr);
    ~CTripMapWindow() override;

    void ShowTrip(std::shared_ptr<const Trip> trip);
    // "The recording has no sensor data" and the like, in place of the header.
    void ShowProblem(const QString &text);
    std::shared_ptr<const Trip> CurrentTrip() const { return m_trip; }

    CMapWidget *Map() const { return m_map; }
    CTripStrip *Strip() const { return m_strip; }
    CTileSource *TileSource() const { return m_source.get(); }
    QString HeaderText() const;
    QString SourceProblem() const { return m_source_problem; }

public slots:
    void SetPosition(qint64 trip_ms);

signals:
    void seekRequested(qint64 trip_ms);

protected:
    void closeEvent(QCloseEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void SaveGeometry();

    MapSettings m_settings;
    std::unique_ptr<CTileSource> m_source;
    QString m_source_problem;
    std::shared_ptr<const Trip> m_trip;
    QLabel *m_header = nullptr;
    CMapWidget *m_map = nullptr;
    CTripStrip *m_strip = nullptr;
};

}  // namespace vt::map
