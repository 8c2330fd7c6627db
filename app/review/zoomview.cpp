#include "app/review/zoomview.h"

#include <QSizeF>
#include <algorithm>
#include <cmath>

namespace vt::app::review {

double ZoomView::Factor() const { return std::pow(2.0, m_level / 2.0); }

QPointF ZoomView::Clamped(QPointF offset, const QRectF &base, double factor) const {
    // The scaled picture spans base.size * factor; its top-left may go left/up of the base by the
    // excess at most, and never right/down of it.
    const double ex = base.width() * (factor - 1.0), ey = base.height() * (factor - 1.0);
    return QPointF(std::clamp(offset.x(), -ex, 0.0), std::clamp(offset.y(), -ey, 0.0));
}

bool ZoomView::ZoomBy(int steps, QPointF anchor, const QRectF &base) {
    const int level = std::clamp(m_level + steps, 0, kMaxZoomLevel);
    if (level == m_level || base.isEmpty()) return false;
    const double before = Factor();
    const double after = std::pow(2.0, level / 2.0);
    // The anchor as a fraction of the picture stays put.
    const QPointF rel = anchor - base.topLeft();
    const QPointF picture_point = (rel - m_offset) / before;
    m_level = level;
    m_offset = Clamped(rel - picture_point * after, base, after);
    return true;
}

bool ZoomView::PanBy(QPointF delta, const QRectF &base) {
    const QPointF next = Clamped(m_offset + delta, base, Factor());
    if (next == m_offset) return false;
    m_offset = next;
    return true;
}

void ZoomView::Reset() {
    m_level = 0;
    m_offset = QPointF();
}

QRectF ZoomView::Target(const QRectF &base) const {
    const double f = Factor();
    return QRectF(base.topLeft() + Clamped(m_offset, base, f), base.size() * f);
}

QRectF BaseRect(const QSizeF &picture, const QRectF &area, bool fit) {
    if (!fit || picture.isEmpty()) return QRectF(area.topLeft(), picture);
    const QSizeF s = picture.scaled(area.size(), Qt::KeepAspectRatio);
    return QRectF(area.center() - QPointF(s.width() / 2, s.height() / 2), s);
}

}  // namespace vt::app::review
