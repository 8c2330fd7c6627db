#pragma once
// The events of the open recording as the window marks them: a small triangle on the seek bar and
// on the G graph, coloured by kind, and the jumps of the next / previous event keys.
#include <QColor>
#include <QPointF>
#include <QVector>
#include <cstdint>
#include <optional>

class QPainter;

namespace vt::app::review {

enum class EventKind { kImpact, kHarsh };

struct EventMark {
    int32_t time_ms = 0;  // of the event's peak, from the start of the recording
    EventKind kind = EventKind::kImpact;
    double peak_g = 0;
};

QColor EventColour(EventKind kind);

// A jump lands this long before the peak, so the lead-up is seen.
inline constexpr int32_t kEventLeadMs = 2000;
// A position this close to an event's landing point counts as already there: pressing next
// again moves on instead of landing on the same event (a seek may land a little early on a
// key frame).
inline constexpr int32_t kEventSlackMs = 1000;

// Where next / previous event jumps from `position_ms`, or nothing at the last / first event.
// `events` is sorted by time.
std::optional<int32_t> NextEventTarget(const QVector<EventMark> &events, int32_t position_ms);
std::optional<int32_t> PreviousEventTarget(const QVector<EventMark> &events, int32_t position_ms);

// A mark: a triangle `size` pixels wide whose tip touches `tip`, pointing down (`down`) or up.
void PaintEventMark(QPainter *p, QPointF tip, EventKind kind, double size, bool down);

}  // namespace vt::app::review
