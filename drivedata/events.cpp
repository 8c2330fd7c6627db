#include "drivedata/events.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace vt::drivedata {
namespace {

// Median of the values; reorders them.
double Median(std::vector<int> *v) {
    const size_t n = v->size();
    auto mid = v->begin() + static_cast<ptrdiff_t>(n / 2);
    std::nth_element(v->begin(), mid, v->end());
    const double upper = *mid;
    if (n % 2 == 1) return upper;
    const double lower = *std::max_element(v->begin(), mid);
    return (lower + upper) / 2;
}

}  // namespace

std::vector<Deviation> Deviations(const std::vector<SensorRow> &rows) {
    std::vector<Deviation> out(rows.size());
    std::vector<int> window;
    size_t lo = 0, hi = 0;  // the window is rows [lo, hi)
    for (size_t i = 0; i < rows.size(); ++i) {
        const int64_t t = static_cast<int64_t>(rows[i].time_ms);
        while (lo < i && static_cast<int64_t>(rows[lo].time_ms) < t - kMedianHalfWindowMs) ++lo;
        if (hi < i + 1) hi = i + 1;
        while (hi < rows.size() &&
               static_cast<int64_t>(rows[hi].time_ms) <= t + kMedianHalfWindowMs)
            ++hi;
        Deviation &dev = out[i];
        dev.time_ms = t;
        double sum = 0;
        for (int a = 0; a < 3; ++a) {
            window.clear();
            for (size_t j = lo; j < hi; ++j) window.push_back(rows[j].accel[a]);
            dev.component[a] = (rows[i].accel[a] - Median(&window)) / 128.0;
            sum += dev.component[a] * dev.component[a];
        }
        dev.d = std::sqrt(sum);
    }
    return out;
}

std::vector<Event> FindEvents(const std::vector<SensorRow> &rows, double threshold_g) {
    std::vector<Event> events;
    if (!(threshold_g > 0) || !std::isfinite(threshold_g)) return events;
    const std::vector<Deviation> devs = Deviations(rows);
    const double half = threshold_g / 2;

    bool open = false;
    size_t begin = 0, peak = 0, last = 0;
    auto close = [&] {
        Event e;
        const Deviation &p = devs[peak];
        e.time_ms = p.time_ms;
        e.peak_g = p.d;
        int axis = 0;
        for (int a = 1; a < 3; ++a)
            if (std::fabs(p.component[a]) > std::fabs(p.component[axis])) axis = a;
        e.axis = static_cast<Axis>(axis);
        e.begin_ms = devs[begin].time_ms;
        e.last_ms = devs[last].time_ms;
        e.kind = e.LengthMs() <= kImpactMaxLengthMs ? EventKind::kImpact : EventKind::kHarsh;
        events.push_back(e);
        open = false;
    };

    for (size_t i = 0; i < devs.size(); ++i) {
        const double d = devs[i].d;
        if (open) {
            if (d >= half) {
                last = i;
                if (d > devs[peak].d) peak = i;
                continue;
            }
            if (devs[i].time_ms - devs[last].time_ms < kEventQuietMs) continue;
            close();
        }
        if (d >= threshold_g) {
            open = true;
            begin = peak = last = i;
        }
    }
    if (open) close();
    return events;
}

const char *EventKindName(EventKind kind) {
    return kind == EventKind::kImpact ? "impact" : "harsh";
}

const char *AxisName(Axis axis) {
    switch (axis) {
        case kAxisX: return "x";
        case kAxisY: return "y";
        default: return "z";
    }
}

double RoundG(double g) { return std::round(g * 100) / 100; }

}  // namespace vt::drivedata
