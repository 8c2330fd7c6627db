#include "app/review/overlay.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <algorithm>

namespace vt::app::review {
namespace {

QFont HudFont(int pixels, bool bold) {
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

}  // namespace

QRectF PositionBarRect(const QRectF &area) {
    return QRectF(area.left() + kPositionBarMargin,
                  area.bottom() - kPositionBarMargin - kPositionBarHeight,
                  std::max(0.0, area.width() - 2 * kPositionBarMargin), kPositionBarHeight);
}

double PositionBarX(const QRectF &bar, int32_t time_ms, int32_t duration_ms) {
    if (duration_ms <= 0) return bar.left();
    const double f = std::clamp(static_cast<double>(time_ms) / duration_ms, 0.0, 1.0);
    return bar.left() + f * bar.width();
}

void PaintHud(QPainter *p, const QRectF &area, const HudState &hud) {
    p->save();
    // Readouts: a dark plate in the top-right corner, one line each.
    const QFont font = HudFont(20, true);
    p->setFont(font);
    const QFontMetricsF fm(font);
    double width = 0;
    for (const Readout &r : hud.readouts) width = std::max(width, fm.horizontalAdvance(r.text));
    const double line = fm.height() + 2;
    if (!hud.readouts.isEmpty()) {
        const QRectF plate(area.right() - width - 36, area.top() + 16, width + 20,
                           line * hud.readouts.size() + 12);
        p->setPen(Qt::NoPen);
        p->setBrush(QColor(0, 0, 0, 150));
        p->drawRoundedRect(plate, 6, 6);
        double y = plate.top() + 6;
        for (const Readout &r : hud.readouts) {
            p->setPen(r.colour);
            p->drawText(QRectF(plate.left() + 10, y, width, line),
                        Qt::AlignRight | Qt::AlignVCenter, r.text);
            y += line;
        }
    }

    // The position bar: the played part in the accent colour, the marks above it.
    const QRectF bar = PositionBarRect(area);
    p->setPen(Qt::NoPen);
    p->setBrush(QColor(255, 255, 255, 70));
    p->drawRect(bar);
    const double x = PositionBarX(bar, hud.position_ms, hud.duration_ms);
    p->setBrush(QColor(0, 150, 255, 220));
    p->drawRect(QRectF(bar.left(), bar.top(), x - bar.left(), bar.height()));
    for (const EventMark &e : hud.events)
        PaintEventMark(p, QPointF(PositionBarX(bar, e.time_ms, hud.duration_ms), bar.top() - 1),
                       e.kind, 12, true);
    p->restore();
}

void PaintNotice(QPainter *p, const QRectF &area, const QString &text) {
    if (text.isEmpty()) return;
    p->save();
    const QFont font = HudFont(28, true);
    p->setFont(font);
    const QFontMetricsF fm(font);
    const QSizeF size(fm.horizontalAdvance(text) + 28, fm.height() + 12);
    const QRectF box(area.center().x() - size.width() / 2, area.top() + 20, size.width(),
                     size.height());
    p->setPen(Qt::NoPen);
    p->setBrush(QColor(0, 0, 0, 160));
    p->drawRoundedRect(box, 8, 8);
    p->setPen(Qt::white);
    p->drawText(box, Qt::AlignCenter, text);
    p->restore();
}

}  // namespace vt::app::review
