#include "app/skinslider.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "app/messages.h"
#include "app/skin/artwork.h"

namespace vt::app {
namespace {

// Pixels of the transparent colour become fully transparent, which is what the AND mask and OR
// image pair achieves on a plain device context.
QPixmap Keyed(const QImage &source, bool transparent, QRgb colour, int px, int py) {
    if (!transparent) return QPixmap::fromImage(source);
    QImage img = source.convertToFormat(QImage::Format_ARGB32);
    QRgb key = colour;
    if (colour == kTransparentFromPixel && img.valid(px, py)) key = img.pixel(px, py);
    key |= 0xFF000000u;
    for (int y = 0; y < img.height(); ++y) {
        QRgb *row = reinterpret_cast<QRgb *>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x)
            if ((row[x] | 0xFF000000u) == key) row[x] = 0;
    }
    return QPixmap::fromImage(img);
}

}  // namespace

CSkinSlider::CSkinSlider(QWidget *parent) : QWidget(parent) { setFocusPolicy(Qt::ClickFocus); }

bool CSkinSlider::LoadArt(Art *art, int bitmap_id, int active_id, bool transparent, QRgb colour,
                          int px, int py) {
    *art = Art{};
    QImage normal = skin::Render(bitmap_id);
    QImage active = active_id != 0 ? skin::Render(active_id) : QImage();
    if (normal.isNull() || (active_id != 0 && active.isNull())) return false;
    art->normal = Keyed(normal, transparent, colour, px, py);
    if (!active.isNull()) art->active = Keyed(active, transparent, colour, px, py);
    return true;
}

bool CSkinSlider::SetChannel(int bitmap_id, int active_id, bool transparent, QRgb colour, int px,
                             int py) {
    if (!LoadArt(&m_channel, bitmap_id, active_id, transparent, colour, px, py)) return false;
    resize(m_channel.normal.size());
    update();
    return true;
}

bool CSkinSlider::SetThumb(int bitmap_id, int active_id, bool transparent, QRgb colour, int px,
                           int py) {
    m_thumb_w = m_thumb_h = 0;
    if (!LoadArt(&m_thumb, bitmap_id, active_id, transparent, colour, px, py)) return false;
    m_thumb_w = m_thumb.normal.width();
    m_thumb_h = m_thumb.normal.height();
    update();
    return true;
}

void CSkinSlider::SetRange(int minimum, int maximum, bool redraw) {
    m_min = minimum;
    m_max = std::max(minimum, maximum);
    m_value = std::clamp(m_value, m_min, m_max);
    if (redraw) update();
}

void CSkinSlider::SetValue(int value) {
    m_value = std::clamp(value, m_min, m_max);
    update();
}

void CSkinSlider::SetMargins(int left, int top, int right, int bottom) {
    m_margin_left = left;
    m_margin_top = top;
    m_margin_right = right;
    m_margin_bottom = bottom;
    update();
}

void CSkinSlider::SetVertical(bool vertical) {
    m_vertical = vertical;
    update();
}

void CSkinSlider::Enable(bool enabled) {
    m_enabled = enabled;
    if (!enabled && m_dragging) {
        m_dragging = false;
        releaseMouse();
    }
    update();
}

void CSkinSlider::DrawFocusRect(bool draw, bool redraw) {
    m_draw_focus = draw;
    if (redraw) update();
}

int CSkinSlider::Length() const { return m_vertical ? height() : width(); }
int CSkinSlider::LeadMargin() const { return m_vertical ? m_margin_top : m_margin_left; }
int CSkinSlider::TrailMargin() const { return m_vertical ? m_margin_bottom : m_margin_right; }
int CSkinSlider::ThumbLength() const { return m_vertical ? m_thumb_h : m_thumb_w; }
int CSkinSlider::Along(QPointF p) const {
    return static_cast<int>(std::floor(m_vertical ? p.y() : p.x()));
}

int CSkinSlider::PixelOfValue(int value) const {
    const int span = Length() - LeadMargin() - TrailMargin() - ThumbLength();
    const int range = m_max - m_min;
    const int base = LeadMargin() + ThumbLength() / 2;
    if (range <= 0) return base;
    return base + static_cast<int>(static_cast<double>(span) * (value - m_min) / range);
}

double CSkinSlider::PixelOfFraction(double fraction) const {
    const int span = Length() - LeadMargin() - TrailMargin() - ThumbLength();
    return LeadMargin() + ThumbLength() / 2 + span * std::clamp(fraction, 0.0, 1.0);
}

void CSkinSlider::SetMarks(QVector<Mark> marks) {
    m_marks = std::move(marks);
    update();
}

int CSkinSlider::ValueOfPixel(int pixel) const {
    const int span = Length() - LeadMargin() - TrailMargin() - ThumbLength();
    if (span <= 0) return m_min;
    const double pos = static_cast<double>(pixel - LeadMargin() - ThumbLength() / 2) / span;
    return m_min + static_cast<int>(pos * (m_max - m_min));
}

void CSkinSlider::Post(int message) {
    if (parent() != nullptr)
        PostWindowMessage(parent(), message, static_cast<uintptr_t>(m_id), m_value);
}

void CSkinSlider::DragTo(int pixel) {
    const int lo = LeadMargin() + ThumbLength() / 2;
    const int hi = Length() - TrailMargin() - ThumbLength() / 2;
    const int target = std::clamp(pixel - m_drag_offset, lo, std::max(lo, hi));
    if (target == PixelOfValue(m_value)) return;
    const int value = std::clamp(ValueOfPixel(target), m_min, m_max);
    // Only a changed value is news to the parent: a drag held past either end stays quiet.
    if (value == m_value) return;
    m_value = value;
    update();
    Post(WM_SLIDER_MOVED);
}

void CSkinSlider::mousePressEvent(QMouseEvent *event) {
    if (!m_enabled || event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    grabMouse();
    setFocus(Qt::MouseFocusReason);
    m_dragging = true;
    const int at = Along(event->position());
    const int centre = PixelOfValue(m_value);
    m_drag_offset =
        (ThumbLength() > 0 && std::abs(at - centre) <= ThumbLength() / 2) ? at - centre : 0;
    DragTo(at);
    update();
}

void CSkinSlider::mouseMoveEvent(QMouseEvent *event) {
    if (m_dragging) DragTo(Along(event->position()));
}

void CSkinSlider::mouseReleaseEvent(QMouseEvent *event) {
    if (!m_dragging || event->button() != Qt::LeftButton) return;
    releaseMouse();
    m_dragging = false;
    update();
    Post(WM_SLIDER_RELEASED);
}

void CSkinSlider::keyPressEvent(QKeyEvent *event) {
    if (!m_enabled) {
        event->ignore();
        return;
    }
    int value = m_value;
    switch (event->key()) {
        case Qt::Key_PageUp: value -= m_page; break;
        case Qt::Key_PageDown: value += m_page; break;
        case Qt::Key_End: value = m_max; break;
        case Qt::Key_Home: value = m_min; break;
        case Qt::Key_Left:
        case Qt::Key_Up: value -= 1; break;
        case Qt::Key_Right:
        case Qt::Key_Down: value += 1; break;
        default: event->ignore(); return;
    }
    SetValue(value);
    Post(WM_SLIDER_RELEASED);
}

void CSkinSlider::paintEvent(QPaintEvent *) {
    QPainter p(this);
    if (!m_channel.normal.isNull()) {
        if (!m_channel.active.isNull() && m_enabled) {
            const int split = std::clamp(PixelOfValue(m_value), 0, Length());
            if (m_vertical) {
                p.drawPixmap(QRect(0, 0, width(), split), m_channel.active,
                             QRect(0, 0, width(), split));
                p.drawPixmap(QRect(0, split, width(), height() - split), m_channel.normal,
                             QRect(0, split, width(), height() - split));
            } else {
                p.drawPixmap(QRect(0, 0, split, height()), m_channel.active,
                             QRect(0, 0, split, height()));
                p.drawPixmap(QRect(split, 0, width() - split, height()), m_channel.normal,
                             QRect(split, 0, width() - split, height()));
            }
        } else {
            p.drawPixmap(0, 0, m_channel.normal);
        }
    }
    if (!m_thumb.normal.isNull()) {
        const QPixmap &thumb =
            (m_dragging && !m_thumb.active.isNull()) ? m_thumb.active : m_thumb.normal;
        const int c = PixelOfValue(m_value);
        if (m_vertical) p.drawPixmap((width() - m_thumb_w) / 2, c - m_thumb_h / 2, thumb);
        else p.drawPixmap(c - m_thumb_w / 2, (height() - m_thumb_h) / 2, thumb);
    }
    for (const Mark &m : m_marks) {
        const double at = PixelOfFraction(m.fraction);
        if (m_vertical) review::PaintEventMark(&p, QPointF(width() - 1, at), m.kind, width(), true);
        else
            review::PaintEventMark(&p, QPointF(at, height() - 1), m.kind, std::max(7, height()),
                                   true);
    }
    if (hasFocus() && m_draw_focus) {
        p.setPen(QPen(QColor(0, 150, 255), 1, Qt::DotLine));
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

}  // namespace vt::app
