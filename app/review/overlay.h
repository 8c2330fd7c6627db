#pragma once
// What is drawn over the picture: in full screen the G readouts and the live speed in a corner and
// a slim position bar along the bottom edge with the event marks; in both modes a short-lived
// notice in the middle of the top ("1.5x", "Mute", "Snapshot saved").
#include <QColor>
#include <QRectF>
#include <QString>
#include <QVector>

#include "app/review/events.h"

class QPainter;

namespace vt::app::review {

struct Readout {
    QString text;
    QColor colour;
};

struct HudState {
    QVector<Readout> readouts;  // the G readouts and the speed, top to bottom
    int32_t position_ms = 0;
    int32_t duration_ms = 0;
    QVector<EventMark> events;
};

inline constexpr int kPositionBarHeight = 4;
inline constexpr int kPositionBarMargin = 24;  // from the bottom edge and the sides

// The slim bar's rectangle inside an area.
QRectF PositionBarRect(const QRectF &area);
// The x of a time on that bar (clamped to it).
double PositionBarX(const QRectF &bar, int32_t time_ms, int32_t duration_ms);

void PaintHud(QPainter *p, const QRectF &area, const HudState &hud);
void PaintNotice(QPainter *p, const QRectF &area, const QString &text);

}  // namespace vt::app::review
