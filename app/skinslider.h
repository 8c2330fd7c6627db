#pragma once
// A slider drawn from bitmaps: a channel, optionally the part up to the value from a second
// bitmap, and an optional thumb. It keeps its own value and tells its parent through posted
// window messages (WM_SLIDER_MOVED while dragging changes the value, WM_SLIDER_RELEASED on release
// and after each key), with the control id as wParam and the value as lParam.
#include <QImage>
#include <QPixmap>
#include <QRgb>
#include <QVector>
#include <QWidget>

#include "app/review/events.h"

namespace vt::app {

// A transparent colour of this value means: take the colour of the bitmap's pixel (x, y).
inline constexpr QRgb kTransparentFromPixel = 0xFF000000u;

class CSkinSlider final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CSkinSlider)

public:
    explicit CSkinSlider(QWidget *parent = nullptr);

    void SetId(int id) { m_id = id; }
    int Id() const { return m_id; }

    // Returns false when a bitmap cannot be loaded; the channel and its active bitmap are then
    // both dropped. The control takes the channel bitmap's size.
    bool SetChannel(int bitmap_id, int active_id, bool transparent, QRgb colour, int px, int py);
    bool SetThumb(int bitmap_id, int active_id, bool transparent, QRgb colour, int px, int py);
    void SetRange(int minimum, int maximum, bool redraw);
    void SetValue(int value);
    int GetValue() const { return m_value; }
    int Minimum() const { return m_min; }
    int Maximum() const { return m_max; }
    void SetPageStep(int step) { m_page = step; }
    void SetMargins(int left, int top, int right, int bottom);
    void SetVertical(bool vertical);
    void Enable(bool enabled);
    bool IsEnabled() const { return m_enabled; }
    void DrawFocusRect(bool draw, bool redraw);
    bool IsDragging() const { return m_dragging; }

    // Geometry along the slider's axis.
    int PixelOfValue(int value) const;
    int ValueOfPixel(int pixel) const;
    // The pixel of a fraction (0..1) of the whole range, without rounding to a value.
    double PixelOfFraction(double fraction) const;

    // Event marks: small triangles at fractions of the range, hanging from the top edge.
    struct Mark {
        double fraction;
        review::EventKind kind;
    };
    void SetMarks(QVector<Mark> marks);
    const QVector<Mark> &Marks() const { return m_marks; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    struct Art {
        QPixmap normal, active;
    };
    bool LoadArt(Art *art, int bitmap_id, int active_id, bool transparent, QRgb colour, int px,
                 int py);
    int Length() const;          // control extent along the axis
    int Along(QPointF p) const;  // coordinate of a point along the axis
    int LeadMargin() const;
    int TrailMargin() const;
    int ThumbLength() const;
    void DragTo(int pixel);
    void Post(int message);

    int m_id = 0;
    int m_min = 0, m_max = 100, m_value = 0, m_page = 20;
    bool m_vertical = false;
    int m_margin_left = 0, m_margin_top = 0, m_margin_right = 0, m_margin_bottom = 0;
    Art m_channel, m_thumb;
    int m_thumb_w = 0, m_thumb_h = 0;
    bool m_enabled = true;
    bool m_draw_focus = true;
    bool m_dragging = false;
    int m_drag_offset = 0;
    QVector<Mark> m_marks;
};

}  // namespace vt::app
