#include "app/map/mapwidget.h"

#include <QElapsedTimer>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace vt::map {
namespace {

const QColor kBackground(30, 33, 38);
const QColor kGridColour(58, 63, 71);
const QColor kTrackCasing(20, 20, 24, 200);
const QColor kEventColour(255, 90, 40);
constexpr double kHitRadiusPx = 8.0;
constexpr double kEventHitRadiusPx = 10.0;
constexpr int kMaxTilesHeld = 400;
constexpr qint64 kFollowPauseMs = 8000;  // after the user pans, the map stops following for a while

qint64 NowMs() {
    static QElapsedTimer clock;
    if (!clock.isValid()) clock.start();
    return clock.elapsed();
}

QColor Mix(QColor a, QColor b, double f) {
    return QColor::fromRgbF(static_cast<float>(a.redF() + (b.redF() - a.redF()) * f),
                            static_cast<float>(a.greenF() + (b.greenF() - a.greenF()) * f),
                            static_cast<float>(a.blueF() + (b.blueF() - a.blueF()) * f));
}

}  // namespace

QColor SpeedColour(double kmh) {
    if (kmh < 0) return QColor(150, 150, 150);
    struct Stop {
        double kmh;
        QColor colour;
    };
    static const Stop kStops[] = {{0, QColor(60, 120, 255)},
                                  {30, QColor(40, 200, 220)},
                                  {60, QColor(60, 210, 90)},
                                  {90, QColor(250, 215, 40)},
                                  {130, QColor(235, 45, 45)}};
    if (kmh >= kStops[4].kmh) return kStops[4].colour;
    for (int i = 1; i < 5; ++i)
        if (kmh < kStops[i].kmh)
            return Mix(kStops[i - 1].colour, kStops[i].colour,
                       (kmh - kStops[i - 1].kmh) / (kStops[i].kmh - kStops[i - 1].kmh));
    return kStops[4].colour;
}

CMapWidget::CMapWidget(QWidget *parent) : QWidget(parent) {
    setMinimumSize(200, 150);
    setMouseTracking(false);
    setCursor(Qt::OpenHandCursor);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

CMapWidget::~CMapWidget() = default;

void CMapWidget::SetTrip(std::shared_ptr<const Trip> trip) {
    m_trip = std::move(trip);
    m_track0.clear();
    if (m_trip) {
        m_track0.reserve(m_trip->points.size());
        for (const TrackPoint &p : m_trip->points) m_track0.push_back(Project({p.lat, p.lon}, 0));
    }
    m_position_ms = -1;
    m_user_moved_at = -1;
    FitTrack();
}

void CMapWidget::SetTileSource(CTileSource *source) {
    if (m_source) disconnect(m_source, nullptr, this, nullptr);
    m_source = source;
    m_tiles.clear();
    m_requested.clear();
    m_failed.clear();
    if (m_source) {
        connect(m_source, &CTileSource::tileReady, this, &CMapWidget::OnTileReady);
        connect(m_source, &CTileSource::tileFailed, this, &CMapWidget::OnTileFailed);
    }
    RequestVisibleTiles();
    update();
}

void CMapWidget::SetSpeedUnit(SpeedUnit unit) {
    m_unit = unit;
    update();
}

void CMapWidget::SetView(int zoom, WorldPoint centre) {
    zoom = std::clamp(zoom, kMinZoom, kMaxZoom);
    const double size = WorldSize(zoom);
    centre.y = std::clamp(centre.y, 0.0, size);
    centre.x = std::fmod(std::fmod(centre.x, size) + size, size);
    if (zoom != m_zoom && m_source) {
        m_source->CancelPending();
        m_requested.clear();
    }
    m_zoom = zoom;
    m_centre = centre;
    RequestVisibleTiles();
    update();
}

void CMapWidget::FitTrack() {
    bool any = false;
    double x0 = 0, x1 = 0, y0 = 0, y1 = 0;
    for (size_t i = 0; i < m_track0.size(); ++i) {
        if (!m_trip->points[i].has_fix) continue;
        const WorldPoint &w = m_track0[i];
        if (!any) {
            x0 = x1 = w.x;
            y0 = y1 = w.y;
            any = true;
        }
        x0 = std::min(x0, w.x), x1 = std::max(x1, w.x), y0 = std::min(y0, w.y),
        y1 = std::max(y1, w.y);
    }
    if (!any) {
        SetView(2, Rescale({128, 128}, 0, 2));
        return;
    }
    const double avail_w = std::max(50, width() - 60), avail_h = std::max(50, height() - 60);
    int zoom = 17;  // a track standing still is shown at street level, not at the tiles' limit
    while (zoom > kMinZoom && ((x1 - x0) * std::ldexp(1.0, zoom) > avail_w ||
                               (y1 - y0) * std::ldexp(1.0, zoom) > avail_h))
        --zoom;
    SetView(zoom, Rescale({(x0 + x1) / 2, (y0 + y1) / 2}, 0, zoom));
}

QPointF CMapWidget::WorldToScreen(WorldPoint w0) const {
    const double f = std::ldexp(1.0, m_zoom);
    return {w0.x * f - m_centre.x + width() / 2.0, w0.y * f - m_centre.y + height() / 2.0};
}

QPointF CMapWidget::ToScreen(LatLon p) const { return WorldToScreen(Project(p, 0)); }

LatLon CMapWidget::ToLatLon(QPointF s) const {
    return Unproject({s.x() - width() / 2.0 + m_centre.x, s.y() - height() / 2.0 + m_centre.y},
                     m_zoom);
}

int64_t CMapWidget::TripTimeAt(QPointF pos) const {
    if (!m_trip) return -1;
    double best = kEventHitRadiusPx * kEventHitRadiusPx;
    int64_t found = -1;
    for (const TripEvent &e : m_trip->events) {
        const int i = FixAt(*m_trip, e.trip_ms, 2000);
        if (i < 0) continue;
        const QPointF d = WorldToScreen(m_track0[i]) - pos;
        const double d2 = d.x() * d.x() + d.y() * d.y();
        if (d2 <= best) best = d2, found = e.trip_ms;
    }
    if (found >= 0) return found;
    // The nearest point of the line itself: a click between two records takes the nearer one.
    best = kHitRadiusPx * kHitRadiusPx;
    const auto &pts = m_trip->points;
    int prev = -1;  // the previous point with a fix
    for (int i = 0; i < static_cast<int>(pts.size()); ++i) {
        if (!pts[i].has_fix) continue;
        const QPointF d = WorldToScreen(m_track0[i]) - pos;
        const double d2 = d.x() * d.x() + d.y() * d.y();
        if (d2 < best) best = d2, found = pts[i].trip_ms;
        // Between this fix and the previous one on the same line.
        const int from = prev;
        prev = i;
        if (from >= 0 && !pts[i].breaks_line) {
            const QPointF a = WorldToScreen(m_track0[from]), b = WorldToScreen(m_track0[i]);
            const QPointF ab = b - a;
            const double len2 = ab.x() * ab.x() + ab.y() * ab.y();
            if (len2 > 0) {
                const double t =
                    std::clamp(((pos - a).x() * ab.x() + (pos - a).y() * ab.y()) / len2, 0.0, 1.0);
                const QPointF q = a + ab * t - pos;
                const double q2 = q.x() * q.x() + q.y() * q.y();
                if (q2 < best) {
                    best = q2;
                    found = t < 0.5 ? pts[from].trip_ms : pts[i].trip_ms;
                }
            }
        }
    }
    return found;
}

void CMapWidget::SetPosition(qint64 trip_ms) {
    if (trip_ms == m_position_ms) return;
    m_position_ms = trip_ms;
    if (m_trip && (m_user_moved_at < 0 || NowMs() - m_user_moved_at > kFollowPauseMs)) {
        const int i = FixAt(*m_trip, trip_ms, 2000);
        if (i >= 0) {
            const QPointF s = WorldToScreen(m_track0[i]);
            const double mx = width() * 0.15, my = height() * 0.15;
            if (s.x() < mx || s.y() < my || s.x() > width() - mx || s.y() > height() - my) {
                SetView(m_zoom, Rescale(m_track0[i], 0, m_zoom));
                return;
            }
        }
    }
    update();
}

// ---- Tiles ------------------------------------------------------------------------------------

CMapWidget::TileView CMapWidget::VisibleTiles() const {
    TileView v;
    // Past the source's last level its deepest tiles are shown enlarged.
    v.z = m_source ? std::clamp(m_source->MaxZoom(), kMinZoom, m_zoom) : m_zoom;
    v.span = kTileSize * std::ldexp(1.0, m_zoom - v.z);
    v.left = m_centre.x - width() / 2.0;
    v.top = m_centre.y - height() / 2.0;
    const int n = 1 << v.z;
    v.x0 = static_cast<int>(std::floor(v.left / v.span));
    v.x1 = static_cast<int>(std::floor((v.left + width() - 1) / v.span));
    v.x1 = std::min(v.x1, v.x0 + n - 1);  // the world once, however far out
    v.y0 = std::max(0, static_cast<int>(std::floor(v.top / v.span)));
    v.y1 = std::min(n - 1, static_cast<int>(std::floor((v.top + height() - 1) / v.span)));
    return v;
}

void CMapWidget::RequestVisibleTiles() {
    if (!m_source || width() <= 0 || height() <= 0) return;
    const TileView v = VisibleTiles();
    const int n = 1 << v.z;
    // Nearest the centre first, so the middle of the map fills in before its edges.
    std::vector<std::pair<double, TileKey>> wanted;
    for (int ty = v.y0; ty <= v.y1; ++ty)
        for (int tx = v.x0; tx <= v.x1; ++tx) {
            const TileKey key{v.z, ((tx % n) + n) % n, ty};
            if (m_tiles.contains(key) || m_requested.contains(key) || m_failed.contains(key))
                continue;
            const double dx = (tx + 0.5) * v.span - m_centre.x,
                         dy = (ty + 0.5) * v.span - m_centre.y;
            wanted.push_back({dx * dx + dy * dy, key});
        }
    std::sort(wanted.begin(), wanted.end(),
              [](const auto &a, const auto &b) { return a.first < b.first; });
    for (const auto &w : wanted) {
        m_requested.insert(w.second);
        m_source->Request(w.second);
    }
}

void CMapWidget::OnTileReady(TileKey key, QImage image) {
    m_requested.remove(key);
    if (m_tiles.size() >= kMaxTilesHeld) {
        // Keep the current zoom's tiles; the rest are cheap to fetch again from the disk cache.
        const int z = VisibleTiles().z;
        for (auto it = m_tiles.begin(); it != m_tiles.end();)
            it = it.key().z != z ? m_tiles.erase(it) : std::next(it);
        if (m_tiles.size() >= kMaxTilesHeld) m_tiles.clear();
    }
    m_tiles.insert(key, image);
    update();
}

void CMapWidget::OnTileFailed(TileKey key) {
    m_requested.remove(key);
    m_failed.insert(key);
    update();
}

// ---- Painting ---------------------------------------------------------------------------------

void CMapWidget::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.fillRect(rect(), kBackground);
    DrawGrid(&p);
    DrawTiles(&p);
    p.setRenderHint(QPainter::Antialiasing, true);
    DrawTrack(&p);
    DrawEvents(&p);
    DrawPositionMark(&p);
    p.setRenderHint(QPainter::Antialiasing, false);
    DrawScaleBar(&p);
    DrawSpeedLegend(&p);
    if (m_tiles_shown) DrawAttribution(&p);
}

void CMapWidget::DrawSpeedLegend(QPainter *p) {
    if (!m_trip || width() < 260) return;
    // The colour ramp with its speeds, in the unit of the settings.
    const double stops_kmh[] = {0, 30, 60, 90, 130};
    const int bar_w = 150, x0 = width() - bar_w - 22, y0 = 10;
    QFont f = font();
    f.setPixelSize(10);
    p->setFont(f);
    p->fillRect(QRect(x0 - 12, y0 - 4, bar_w + 26, 42), QColor(20, 22, 26, 190));
    for (int x = 0; x < bar_w; ++x) {
        p->setPen(SpeedColour(130.0 * x / (bar_w - 1)));
        p->drawLine(x0 + x, y0, x0 + x, y0 + 8);
    }
    p->setPen(QColor(220, 223, 228));
    for (double kmh : stops_kmh) {
        const int x = x0 + static_cast<int>(std::lround(kmh / 130.0 * (bar_w - 1)));
        const QString text = QString::number(std::lround(SpeedInUnit(kmh, m_unit)));
        p->drawText(QRect(x - 20, y0 + 10, 40, 12), Qt::AlignCenter, text);
    }
    p->drawText(QRect(x0, y0 + 23, bar_w, 12), Qt::AlignCenter, SpeedUnitLabel(m_unit));
}

void CMapWidget::DrawGrid(QPainter *p) {
    // Lines as far apart as the scale bar is long, fixed to the ground so they move with a pan.
    double step_px = 0;
    ScaleBar(&step_px);
    if (step_px < 8) return;
    p->setPen(QPen(kGridColour, 1));
    const double left = m_centre.x - width() / 2.0, top = m_centre.y - height() / 2.0;
    for (double x = std::ceil(left / step_px) * step_px - left; x < width(); x += step_px)
        p->drawLine(QPointF(x, 0), QPointF(x, height()));
    for (double y = std::ceil(top / step_px) * step_px - top; y < height(); y += step_px)
        p->drawLine(QPointF(0, y), QPointF(width(), y));
}

void CMapWidget::DrawTiles(QPainter *p) {
    m_tiles_shown = false;
    if (!m_source) return;
    const TileView v = VisibleTiles();
    const int n = 1 << v.z;
    p->setRenderHint(QPainter::SmoothPixmapTransform, v.span > kTileSize);
    for (int ty = v.y0; ty <= v.y1; ++ty)
        for (int tx = v.x0; tx <= v.x1; ++tx) {
            const auto it = m_tiles.constFind({v.z, ((tx % n) + n) % n, ty});
            if (it == m_tiles.constEnd()) continue;
            p->drawImage(QRectF(tx * v.span - v.left, ty * v.span - v.top, v.span, v.span), *it);
            m_tiles_shown = true;
        }
    p->setRenderHint(QPainter::SmoothPixmapTransform, false);
}

void CMapWidget::DrawTrack(QPainter *p) {
    if (!m_trip) return;
    const auto &pts = m_trip->points;
    // A dark casing first, so the colours read on any background.
    for (int pass = 0; pass < 2; ++pass) {
        int prev = -1;
        for (int i = 0; i < static_cast<int>(pts.size()); ++i) {
            if (!pts[i].has_fix) continue;
            const int from = prev;
            prev = i;
            if (from < 0 || pts[i].breaks_line) continue;
            const QPointF a = WorldToScreen(m_track0[from]), b = WorldToScreen(m_track0[i]);
            if (std::max(a.x(), b.x()) < -10 || std::min(a.x(), b.x()) > width() + 10 ||
                std::max(a.y(), b.y()) < -10 || std::min(a.y(), b.y()) > height() + 10)
                continue;
            if (pass == 0) p->setPen(QPen(kTrackCasing, 7, Qt::SolidLine, Qt::RoundCap));
            else
                p->setPen(QPen(
                    SpeedColour(pts[i].speed_kmh >= 0 ? pts[i].speed_kmh : pts[from].speed_kmh), 4,
                    Qt::SolidLine, Qt::RoundCap));
            p->drawLine(a, b);
        }
    }
}

void CMapWidget::DrawEvents(QPainter *p) {
    if (!m_trip) return;
    QFont f = font();
    f.setPixelSize(11);
    f.setBold(true);
    p->setFont(f);
    for (const TripEvent &e : m_trip->events) {
        const int i = FixAt(*m_trip, e.trip_ms, 2000);
        if (i < 0) continue;
        const QPointF c = WorldToScreen(m_track0[i]);
        // A pin: a diamond above the spot with a stem down to it.
        QPainterPath pin;
        pin.moveTo(c);
        pin.lineTo(c + QPointF(-7, -14));
        pin.lineTo(c + QPointF(0, -24));
        pin.lineTo(c + QPointF(7, -14));
        pin.closeSubpath();
        p->setPen(QPen(QColor(20, 20, 24), 1.5));
        p->setBrush(kEventColour);
        p->drawPath(pin);
        p->setBrush(Qt::white);
        p->setPen(Qt::NoPen);
        p->drawEllipse(c + QPointF(0, -15), 2.5, 2.5);
        // The peak on a dark tag, readable over light tiles and the dark grid alike.
        const QString label = QString::asprintf("%.2f G", e.peak_g);
        const QFontMetricsF fm(f);
        const QRectF tag(c.x() + 9, c.y() - 24, fm.horizontalAdvance(label) + 8, fm.height() + 2);
        p->setPen(Qt::NoPen);
        p->setBrush(QColor(20, 22, 26, 200));
        p->drawRoundedRect(tag, 3, 3);
        p->setPen(QColor(255, 200, 170));
        p->drawText(tag, Qt::AlignCenter, label);
    }
    p->setBrush(Qt::NoBrush);
}

void CMapWidget::DrawPositionMark(QPainter *p) {
    if (!m_trip || m_position_ms < 0) return;
    const int i = FixAt(*m_trip, m_position_ms, 2000);
    if (i < 0) return;
    const QPointF c = WorldToScreen(m_track0[i]);
    p->setPen(Qt::NoPen);
    p->setBrush(QColor(255, 255, 255, 70));
    p->drawEllipse(c, 14, 14);
    p->setPen(QPen(QColor(20, 20, 24), 2.5));
    p->setBrush(Qt::white);
    p->drawEllipse(c, 7, 7);
    p->setPen(Qt::NoPen);
    p->setBrush(QColor(30, 110, 255));
    p->drawEllipse(c, 3.5, 3.5);
    p->setBrush(Qt::NoBrush);
}

QString CMapWidget::ScaleBar(double *px) const {
    const double lat = ToLatLon(QPointF(width() / 2.0, height() / 2.0)).lat;
    const double mpp = MetresPerPixel(lat, m_zoom);
    constexpr int kMaxBarPx = 120;
    if (m_unit == SpeedUnit::kMph) {
        // Feet up to half a mile, miles beyond.
        const double feet = NiceScaleLength(mpp / 0.3048, kMaxBarPx, px);
        if (feet <= 2000) return QString::asprintf("%g ft", feet);
        return QString::asprintf("%g mi", NiceScaleLength(mpp / 1609.344, kMaxBarPx, px));
    }
    const double metres = NiceScaleLength(mpp, kMaxBarPx, px);
    return metres >= 1000 ? QString::asprintf("%g km", metres / 1000)
                          : QString::asprintf("%g m", metres);
}

void CMapWidget::DrawScaleBar(QPainter *p) {
    double px = 0;
    const QString text = ScaleBar(&px);
    const int x0 = 12, y0 = height() - 14;
    const int len = static_cast<int>(std::lround(px));
    p->fillRect(QRect(x0 - 6, y0 - 22, len + 12, 30), QColor(20, 22, 26, 190));
    p->setPen(QPen(Qt::white, 2));
    p->drawLine(x0, y0, x0 + len, y0);
    p->drawLine(x0, y0 - 6, x0, y0);
    p->drawLine(x0 + len, y0 - 6, x0 + len, y0);
    QFont f = font();
    f.setPixelSize(11);
    p->setFont(f);
    p->drawText(QRect(x0, y0 - 21, len, 14), Qt::AlignCenter, text);
}

void CMapWidget::DrawAttribution(QPainter *p) {
    const QString text = m_source ? m_source->Attribution() : QString();
    if (text.isEmpty()) return;
    QFont f = font();
    f.setPixelSize(10);
    p->setFont(f);
    const QFontMetrics fm(f);
    const int w = fm.horizontalAdvance(text) + 8, h = fm.height() + 2;
    const QRect box(width() - w, height() - h, w, h);
    p->fillRect(box, QColor(255, 255, 255, 200));
    p->setPen(QColor(40, 40, 40));
    p->drawText(box, Qt::AlignCenter, text);
}

// ---- Mouse ------------------------------------------------------------------------------------

void CMapWidget::resizeEvent(QResizeEvent *) { RequestVisibleTiles(); }

void CMapWidget::wheelEvent(QWheelEvent *event) {
    const int steps = event->angleDelta().y() / 120;
    if (steps == 0) return;
    const int zoom = std::clamp(m_zoom + steps, kMinZoom, kMaxZoom);
    // Keep the ground under the cursor where it is.
    const QPointF pos = event->position();
    const WorldPoint under{pos.x() - width() / 2.0 + m_centre.x,
                           pos.y() - height() / 2.0 + m_centre.y};
    const WorldPoint under_new = Rescale(under, m_zoom, zoom);
    m_user_moved_at = NowMs();
    SetView(zoom,
            {under_new.x - (pos.x() - width() / 2.0), under_new.y - (pos.y() - height() / 2.0)});
    event->accept();
}

void CMapWidget::mousePressEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton) return;
    m_pressed = true;
    m_dragged = false;
    m_press_pos = event->position();
    m_press_centre = m_centre;
}

void CMapWidget::mouseMoveEvent(QMouseEvent *event) {
    if (!m_pressed) return;
    const QPointF d = event->position() - m_press_pos;
    if (!m_dragged && std::abs(d.x()) + std::abs(d.y()) < 4) return;
    if (!m_dragged) setCursor(Qt::ClosedHandCursor);
    m_dragged = true;
    m_user_moved_at = NowMs();
    SetView(m_zoom, {m_press_centre.x - d.x(), m_press_centre.y - d.y()});
}

void CMapWidget::mouseReleaseEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton || !m_pressed) return;
    m_pressed = false;
    setCursor(Qt::OpenHandCursor);
    if (m_dragged) return;
    const int64_t t = TripTimeAt(event->position());
    if (t >= 0) {
        m_user_moved_at = -1;  // a seek brings following back
        emit seekRequested(t);
    }
}

}  // namespace vt::map
