#pragma once
// The strip under the map: the trip's speed (filled) and |G| (line) over its whole length, the
// events as ticks, clock times along the bottom and a cursor at the playback position. A click
// asks for a seek to that time. User-interface thread only.
#include <QWidget>
#include <memory>

#include "app/map/mapsettings.h"
#include "app/map/trip.h"

namespace vt::map {

class CTripStrip final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CTripStrip)

public:
    explicit CTripStrip(QWidget *parent = nullptr);
    ~CTripStrip() override;

    void SetTrip(std::shared_ptr<const Trip> trip);
    void SetSpeedUnit(SpeedUnit unit);

    // Column of a trip time in the plot and the reverse.
    double XOf(int64_t trip_ms) const;
    int64_t TimeAtX(double x) const;
    int CursorX() const;

    // "54 km/h  0.12 G" for the record at the position; "-- km/h" where speed is undefined.
    QString ReadoutText() const;

public slots:
    void SetPosition(qint64 trip_ms);

signals:
    void seekRequested(qint64 trip_ms);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    QRectF PlotRect() const;

    std::shared_ptr<const Trip> m_trip;
    SpeedUnit m_unit = SpeedUnit::kKmh;
    int64_t m_position_ms = -1;
};

}  // namespace vt::map
