#include "app/repeatbox.h"

#include <QPainter>

namespace vt::app {

CRepeatBox::CRepeatBox(QWidget *parent) : QAbstractButton(parent) {
    setCheckable(true);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
}

void CRepeatBox::paintEvent(QPaintEvent *) {
    QPainter p(this);
    const QRect r = rect();
    p.fillRect(r, QColor(242, 240, 239));
    p.setPen(underMouse() ? QColor(0, 150, 255) : QColor(110, 112, 116));
    p.drawRect(r.adjusted(0, 0, -1, -1));
    if (isChecked()) {
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QColor(0, 110, 200), 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(QPolygonF{QPointF(3, 6.5), QPointF(5.5, 9), QPointF(10, 3.5)});
    }
}

}  // namespace vt::app
