#include "app/skinbutton.h"

#include <QPainter>

#include "app/skin/artwork.h"

namespace vt::app {

CSkinButton::CSkinButton(QWidget *parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_Hover);
}

void CSkinButton::SetSkin(int bitmap_id, int frame_width) {
    m_bitmap_id = bitmap_id;
    m_frame_width = frame_width;
    m_strip = skin::Bitmap(bitmap_id);
    update();
}

void CSkinButton::SetAlternate(bool alternate) {
    if (m_alternate == alternate) return;
    m_alternate = alternate;
    update();
}

int CSkinButton::CurrentFrame() const {
    int frame = isDown() ? 2 : (m_hover ? 1 : 0);
    // Only the play strip carries the alternate set.
    if (m_alternate && m_bitmap_id == skin::kPlayStrip) frame += 3;
    return frame;
}

void CSkinButton::paintEvent(QPaintEvent *) {
    QPainter p(this);
    if (m_strip.isNull() || m_frame_width <= 0) {
        p.fillRect(rect(), Qt::black);
        return;
    }
    const int frame = CurrentFrame();
    p.drawPixmap(QPoint(0, 0), m_strip, QRect(frame * m_frame_width, 0, width(), height()));
    if (hasFocus()) {
        // A hairline under the frame says where Space and Enter go without hiding the artwork.
        p.fillRect(QRect(4, height() - 3, width() - 8, 1), QColor(0, 150, 255, 110));
    }
}

void CSkinButton::enterEvent(QEnterEvent *event) {
    m_hover = true;
    repaint();
    QAbstractButton::enterEvent(event);
}

void CSkinButton::leaveEvent(QEvent *event) {
    m_hover = false;
    repaint();
    QAbstractButton::leaveEvent(event);
}

}  // namespace vt::app
