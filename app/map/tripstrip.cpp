#include "app/map/tripstrip.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace vt::map {
namespace {

const QColor kBackground(24, 26, 30);
const QColor kGrid(52, 56, 63);
const QColor kSpeedFill(40, 170, 230, 110);
const QColor kSpeedLine(70, 190, 245);
const QColor kGLine(255, 160, 40);
const QColor kEventTick(255, 90, 40);
const QColor kText(200, 204, 210);
constexpr int kLeft = 52, kRight = 44, kTop = 30, kBottom = 18;

// A round top for an axis: 20, 40, 60, 80, 120, 160, 200 ...
double AxisTop(double v, double minimum) {
    v = std::max(v, minimum);
    const double step = std::pow(10.0, std::floor(std::log10(v)));
    for (double f : {1.0, 1.2, 1.5, 2.0, 2.5, 3.0, 4.0, 5.0, 6.0, 8.0, 10.0})
        if (f * step >= v) return f * step;
    return 10 * step;
}

}  // namespace

CTripStrip::CTripStrip(QWidget *parent) : QWidget(parent) {
    setMinimumHeight(110);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::PointingHandCursor);
}

CTripStrip::~CTripStrip() = default;

void CTripStrip::SetTrip(std::shared_ptr<const Trip> trip) {
    m_trip = std::move(trip);
    m_position_ms = -1;
    update();
}

void CTripStrip::SetSpeedUnit(SpeedUnit unit) {
    m_unit = unit;
    update();
}

void CTripStrip::SetPosition(qint64 trip_ms) {
    if (trip_ms == m_position_ms) return;
    m_position_ms = trip_ms;
    update();
}

QRectF CTripStrip::PlotRect() const {
    return QRectF(kLeft, kTop, std::max(1, width() - kLeft - kRight),
                  std::max(1, height() - kTop - kBottom));
}

double CTripStrip::XOf(int64_t trip_ms) const {
    const QRectF r = PlotRect();
    if (!m_trip || m_trip->duration_ms <= 0) return r.left();
    const double f = std::clamp(
        static_cast<double>(trip_ms) / static_cast<double>(m_trip->duration_ms), 0.0, 1.0);
    return r.left() + f * r.width();
}

int64_t CTripStrip::TimeAtX(double x) const {
    const QRectF r = PlotRect();
    if (!m_trip || m_trip->duration_ms <= 0) return -1;
    const double f = std::clamp((x - r.left()) / r.width(), 0.0, 1.0);
    return static_cast<int64_t>(std::llround(f * static_cast<double>(m_trip->duration_ms)));
}

int CTripStrip::CursorX() const {
    if (!m_trip || m_position_ms < 0) return -1;
    return static_cast<int>(std::lround(XOf(m_position_ms)));
}

QString CTripStrip::ReadoutText() const {
    if (!m_trip || m_position_ms < 0) return {};
    const int i = PointAt(*m_trip, m_position_ms);
    if (i < 0) return {};
    const TrackPoint &pt = m_trip->points[i];
    const QString speed = pt.speed_kmh < 0
                              ? QStringLiteral("--")
                              : QString::number(std::lround(SpeedInUnit(pt.speed_kmh, m_unit)));
    return QStringLiteral("%1  %2 %3  %4 G")
        .arg(FormatTripClock(*m_trip, m_position_ms, false), speed, SpeedUnitLabel(m_unit))
        .arg(pt.g, 0, 'f', 2);
}

void CTripStrip::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.fillRect(rect(), kBackground);
    const QRectF r = PlotRect();
    QFont f = font();
    f.setPixelSize(10);
    p.setFont(f);
    p.setPen(QPen(kGrid, 1, Qt::DotLine));
    for (int k = 0; k <= 4; ++k) {
        const double y = r.top() + r.height() * k / 4;
        p.drawLine(QPointF(r.left(), y), QPointF(r.right(), y));
    }
    if (!m_trip || m_trip->points.empty() || m_trip->duration_ms <= 0) return;

    const double speed_top = AxisTop(SpeedInUnit(m_trip->max_speed_kmh, m_unit), 20);
    const double g_top = AxisTop(m_trip->max_g, 1.5);
    const auto &pts = m_trip->points;

    // Speed: filled area, broken where it is undefined.
    p.setRenderHint(QPainter::Antialiasing, true);
    QPainterPath fill, line;
    bool open = false;
    double last_x = 0;
    for (const TrackPoint &pt : pts) {
        const double x = XOf(pt.trip_ms);
        if (pt.speed_kmh < 0) {
            if (open) fill.lineTo(last_x, r.bottom()), fill.closeSubpath();
            open = false;
            continue;
        }
        const double y =
            r.bottom() - std::min(1.0, SpeedInUnit(pt.speed_kmh, m_unit) / speed_top) * r.height();
        if (!open) {
            fill.moveTo(x, r.bottom());
            fill.lineTo(x, y);
            line.moveTo(x, y);
            open = true;
        } else {
            fill.lineTo(x, y);
            line.lineTo(x, y);
        }
        last_x = x;
    }
    if (open) fill.lineTo(last_x, r.bottom()), fill.closeSubpath();
    p.fillPath(fill, kSpeedFill);
    p.strokePath(line, QPen(kSpeedLine, 1.5));

    // |G| as a line over the same time axis.
    QPainterPath g_path;
    for (size_t i = 0; i < pts.size(); ++i) {
        const QPointF q(XOf(pts[i].trip_ms),
                        r.bottom() - std::min(1.0, pts[i].g / g_top) * r.height());
        if (i == 0 || pts[i].trip_ms - pts[i - 1].trip_ms > 100) g_path.moveTo(q);
        else g_path.lineTo(q);
    }
    p.strokePath(g_path, QPen(kGLine, 1.2));
    p.setRenderHint(QPainter::Antialiasing, false);

    // Events as ticks along the top.
    p.setPen(Qt::NoPen);
    p.setBrush(kEventTick);
    for (const TripEvent &e : m_trip->events) {
        const double x = XOf(e.trip_ms);
        const QPointF tri[3] = {{x - 5, r.top() - 9}, {x + 5, r.top() - 9}, {x, r.top() - 1}};
        p.drawPolygon(tri, 3);
    }
    p.setBrush(Qt::NoBrush);

    // Axes: speed on the left, G on the right, clock times below.
    p.setPen(kSpeedLine);
    p.drawText(QRectF(0, r.top() - 6, kLeft - 6, 12), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("%1").arg(speed_top));
    p.drawText(QRectF(0, r.bottom() - 12, kLeft - 6, 12), Qt::AlignRight | Qt::AlignVCenter,
               SpeedUnitLabel(m_unit));
    p.setPen(kGLine);
    p.drawText(QRectF(r.right() + 6, r.top() - 6, kRight - 6, 12), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("%1 G").arg(g_top));
    p.drawText(QRectF(r.right() + 6, r.bottom() - 12, kRight - 6, 12),
               Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("|G|"));
    p.setPen(kText);
    const int labels = std::clamp(static_cast<int>(r.width() / 110), 1, 8);
    for (int k = 0; k <= labels; ++k) {
        const int64_t t = m_trip->duration_ms * k / labels;
        const double x = XOf(t);
        const Qt::Alignment align = k == 0        ? Qt::AlignLeft
                                    : k == labels ? Qt::AlignRight
                                                  : Qt::AlignHCenter;
        const QRectF box = k == 0        ? QRectF(x, r.bottom() + 3, 80, 13)
                           : k == labels ? QRectF(x - 80, r.bottom() + 3, 80, 13)
                                         : QRectF(x - 40, r.bottom() + 3, 80, 13);
        p.drawText(box, align | Qt::AlignVCenter, FormatTripClock(*m_trip, t, false));
    }

    // Cursor and the readout of its record.
    const int cx = CursorX();
    if (cx >= 0) {
        p.setPen(QPen(Qt::white, 2));
        p.drawLine(QPointF(cx, r.top()), QPointF(cx, r.bottom()));
        p.setPen(kText);
        p.drawText(QRectF(r.left(), 2, r.width(), 14), Qt::AlignLeft | Qt::AlignVCenter,
                   ReadoutText());
    }
}

void CTripStrip::mousePressEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton) return;
    const int64_t t = TimeAtX(event->position().x());
    if (t >= 0) emit seekRequested(t);
}

}  // namespace vt::map
