#include "app/review/events.h"

#include <QPainter>
#include <QPolygonF>
#include <algorithm>

namespace vt::app::review {

QColor EventColour(EventKind kind) {
    return kind == EventKind::kImpact ? QColor(255, 60, 40) : QColor(255, 170, 0);
}

namespace {
int32_t Landing(const EventMark &e) { return std::max<int32_t>(0, e.time_ms - kEventLeadMs); }
}  // namespace

std::optional<int32_t> NextEventTarget(const QVector<EventMark> &events, int32_t position_ms) {
    for (const EventMark &e : events)
        if (Landing(e) > position_ms + kEventSlackMs) return Landing(e);
    return std::nullopt;
}

std::optional<int32_t> PreviousEventTarget(const QVector<EventMark> &events, int32_t position_ms) {
    for (auto it = events.rbegin(); it != events.rend(); ++it)
        if (Landing(*it) < position_ms - kEventSlackMs) return Landing(*it);
    return std::nullopt;
}

void PaintEventMark(QPainter *p, QPointF tip, EventKind kind, double size, bool down) {
    const double half = size / 2, h = size * 0.87;
    const double base_y = down ? tip.y() - h : tip.y() + h;
    const QPolygonF tri{tip, QPointF(tip.x() - half, base_y), QPointF(tip.x() + half, base_y)};
    p->save();
    p->setRenderHint(QPainter::Antialiasing);
    p->setPen(QPen(QColor(0, 0, 0, 160), 1));
    p->setBrush(EventColour(kind));
    p->drawPolygon(tri);
    p->restore();
}

}  // namespace vt::app::review
