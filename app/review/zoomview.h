#pragma once
// Zoom and pan of the picture. The picture has a base rectangle (where it shows unzoomed: its own
// size in the window, fitted to the screen in full screen); zoomed, it is that rectangle scaled by
// the zoom factor and shifted by the pan offset, and it always covers the base rectangle, so no
// empty band opens at an edge. Zoom steps are powers of the square root of two, from 1x to 8x.
#include <QPointF>
#include <QRectF>

namespace vt::app::review {

inline constexpr int kMaxZoomLevel = 6;  // sqrt(2)^6 = 8x

class ZoomView final {
public:
    int Level() const { return m_level; }
    double Factor() const;
    bool Zoomed() const { return m_level > 0; }
    QPointF Offset() const { return m_offset; }

    // Changes the zoom by `steps` levels keeping the picture point under `anchor` (widget
    // coordinates) where it is. False when the level did not change (at 1x or 8x already).
    bool ZoomBy(int steps, QPointF anchor, const QRectF &base);
    // Moves the picture by `delta` pixels as far as it still covers the base rectangle. False when
    // it did not move.
    bool PanBy(QPointF delta, const QRectF &base);
    void Reset();

    // Where the picture is drawn for a base rectangle.
    QRectF Target(const QRectF &base) const;

private:
    QPointF Clamped(QPointF offset, const QRectF &base, double factor) const;

    int m_level = 0;
    QPointF m_offset;  // of the zoomed picture's top-left from the base rectangle's
};

// The base rectangle of a picture in an area: `fit` scales it to fill the area keeping its
// aspect ratio, centred; otherwise the picture keeps its own size at the area's top-left.
QRectF BaseRect(const QSizeF &picture, const QRectF &area, bool fit);

}  // namespace vt::app::review
