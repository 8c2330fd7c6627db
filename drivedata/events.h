#pragma once
// Driving events (an impact, a harsh braking or swerve) found in the G-sensor values of one
// recording. No UI; safe on any thread.
//
// The deviation d(t) of a record is the length of its acceleration vector (gx, gy, gz) minus the
// per-axis median of the records within 5 s either side of it (the window is cut at the
// recording's ends; an even count takes the mean of the two middle values), in G. A slow change
// such as a slope, a mounting tilt or gravity on Z moves the median along and never counts.
//
// An event begins at the first record whose d reaches the threshold and ends once d has stayed
// below half the threshold for 500 ms (or at the end of the recording). It runs from that first
// record to the last record with d at or above half the threshold, and is reported at its record
// of largest d (the earliest one on a tie).
#include <cstdint>
#include <vector>

#include "drivedata/sensor_rows.h"
#include "drivedata/sensordata.h"

namespace vt::drivedata {

inline constexpr double kDefaultEventThresholdG = 1.0;
inline constexpr int64_t kMedianHalfWindowMs = 5000;
inline constexpr int64_t kEventQuietMs = 500;       // below half the threshold this long ends it
inline constexpr int64_t kImpactMaxLengthMs = 500;  // longer events are harsh manoeuvres

enum class EventKind { kImpact, kHarsh };

struct Event {
    int64_t time_ms = 0;  // the record of largest deviation
    double peak_g = 0;    // its deviation, G (unrounded; RoundG for display)
    Axis axis = kAxisX;   // the largest component (by magnitude) of the deviation there
    EventKind kind = EventKind::kImpact;
    int64_t begin_ms = 0;  // first record at or above the threshold
    int64_t last_ms = 0;   // last record at or above half the threshold
    int64_t LengthMs() const { return last_ms - begin_ms; }
};

// One record's deviation from the moving median, in G.
struct Deviation {
    int64_t time_ms = 0;
    double d = 0;              // length of the deviation vector
    double component[3] = {};  // X, Y, Z
};

// The deviation of every row (rows in time order, as CollectSensorRows gives them).
std::vector<Deviation> Deviations(const std::vector<SensorRow> &rows);

// The events of one recording's rows. A threshold that is not a positive number finds nothing.
std::vector<Event> FindEvents(const std::vector<SensorRow> &rows,
                              double threshold_g = kDefaultEventThresholdG);

// "impact" / "harsh", "x" / "y" / "z".
const char *EventKindName(EventKind kind);
const char *AxisName(Axis axis);
// G to two decimals, as events are reported.
double RoundG(double g);

}  // namespace vt::drivedata
