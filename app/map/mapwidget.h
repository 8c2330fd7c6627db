#pragma once
// The map: background tiles (or a plain grid), the trip's track coloured by speed, its events,
// the playback position and a scale bar. Mouse wheel zooms around the cursor, dragging pans, a
// click on the track or an event asks for a seek to that trip time. User-interface thread only.
#include <QHash>
#include <QImage>
#include <QPointer>
#include <QSet>
#include <QWidget>
#include <memory>
#include <vector>

#include "app/map/mapsettings.h"
#include "app/map/mercator.h"
#include "app/map/tilesource.h"
#include "app/map/trip.h"

namespace vt::map {

// Colour of the track at a speed: blue when crawling through green and yellow to red from
// 130 km/h; grey where the speed is undefined (negative).
QColor SpeedColour(double kmh);

class CMapWidget final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CMapWidget)

public:
    explicit CMapWidget(QWidget *parent = nullptr);
    ~CMapWidget() override;

    void SetTrip(std::shared_ptr<const Trip> trip);
    // The source is not owned; nullptr draws the grid.
    void SetTileSource(CTileSource *source);
    void SetSpeedUnit(SpeedUnit unit);

    // View: integer zoom and the centre in world pixels at that zoom.
    void SetView(int zoom, WorldPoint centre);
    // The largest zoom that shows the whole track with a margin, centred on it.
    void FitTrack();
    int Zoom() const { return m_zoom; }
    WorldPoint Centre() const { return m_centre; }
    // Where a position appears in the widget, and the reverse.
    QPointF ToScreen(LatLon p) const;
    LatLon ToLatLon(QPointF screen) const;

    // The trip time a click at `pos` seeks to: the nearest event mark or track point within a
    // few pixels, -1 when the click misses the track.
    int64_t TripTimeAt(QPointF pos) const;

    // The scale bar's text ("50 m", "500 ft", "1 mi" in the speed unit's system) and its length in
    // pixels; the grid lines lie that far apart.
    QString ScaleBar(double *px) const;

    // True when the last paint drew at least one tile (and so the attribution).
    bool TilesShown() const { return m_tiles_shown; }
    int TilesHeld() const { return static_cast<int>(m_tiles.size()); }
    int64_t Position() const { return m_position_ms; }

public slots:
    // The playback position in trip time; the map follows it unless the user just panned.
    void SetPosition(qint64 trip_ms);

signals:
    void seekRequested(qint64 trip_ms);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    // The tiles under the view: their level (at most the source's deepest), the size one of them
    // takes on screen, and their range; left/top are the view's corner in world pixels.
    struct TileView {
        int z = 0;
        double span = kTileSize;
        double left = 0, top = 0;
        int x0 = 0, x1 = -1, y0 = 0, y1 = -1;
    };
    TileView VisibleTiles() const;
    void RequestVisibleTiles();
    void OnTileReady(vt::map::TileKey key, QImage image);
    void OnTileFailed(vt::map::TileKey key);
    void DrawGrid(QPainter *p);
    void DrawTiles(QPainter *p);
    void DrawTrack(QPainter *p);
    void DrawEvents(QPainter *p);
    void DrawPositionMark(QPainter *p);
    void DrawScaleBar(QPainter *p);
    void DrawSpeedLegend(QPainter *p);
    void DrawAttribution(QPainter *p);
    QPointF WorldToScreen(WorldPoint w0) const;  // w0: world pixels at zoom 0

    std::shared_ptr<const Trip> m_trip;
    std::vector<WorldPoint> m_track0;  // every point projected at zoom 0
    QPointer<CTileSource> m_source;
    SpeedUnit m_unit = SpeedUnit::kKmh;

    int m_zoom = 2;
    WorldPoint m_centre{512, 512};
    int64_t m_position_ms = -1;

    QHash<TileKey, QImage> m_tiles;
    QSet<TileKey> m_requested;
    QSet<TileKey> m_failed;
    bool m_tiles_shown = false;

    bool m_pressed = false;
    bool m_dragged = false;
    QPointF m_press_pos;
    WorldPoint m_press_centre;
    qint64 m_user_moved_at = -1;  // ms on a monotonic clock when the user last panned or zoomed
};

}  // namespace vt::map
