#pragma once
// Where the car was and how fast it went: the GPS fixes of the sensor records as a track, with
// the distance it covers and the speed at a record. No UI; safe on any thread (no shared state).
//
// Units: times in milliseconds (of a recording, or of a trip when the caller offsets them),
// positions in signed decimal degrees, distances in metres, speeds in km/h.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "drivedata/sensor_rows.h"

namespace vt::drivedata {

// Mean earth radius for the great-circle distance.
inline constexpr double kEarthRadiusM = 6371008.8;
// A step between consecutive fixes that covers more than 100 m per 100 ms elapsed is a GPS jump:
// no car moves that fast, so the step is not counted.
inline constexpr double kGpsJumpMetresPerMs = 1.0;
// The speed at a record spans the fixes this long before and after it.
inline constexpr int64_t kSpeedHalfSpanMs = 500;

struct Fix {
    int64_t time_ms = 0;
    double latitude = 0, longitude = 0;
};

// Great-circle (haversine) distance in metres.
double GreatCircleM(double lat1, double lon1, double lat2, double lon2);
inline double GreatCircleM(const Fix &a, const Fix &b) {
    return GreatCircleM(a.latitude, a.longitude, b.latitude, b.longitude);
}
// True when the step from a to b (b later) is a GPS jump.
bool IsGpsJump(const Fix &a, const Fix &b);

// Fixes in time order. Records without a fix never enter; a fix that is not later than the last
// one (overlapping recordings, a repeated record) is dropped, so times are strictly increasing.
class Track {
public:
    void Add(const Fix &fix);
    // The rows' fixes, their times shifted by offset_ms (0 for a recording on its own).
    void AddRows(const std::vector<SensorRow> &rows, int64_t offset_ms = 0);
    void Clear();

    const std::vector<Fix> &Fixes() const { return m_fixes; }
    bool Empty() const { return m_fixes.empty(); }
    // True when the step into fix i (from fix i - 1) is a GPS jump.
    bool JumpInto(size_t i) const;

    // Sum of the steps between consecutive fixes, GPS jumps left out.
    double DistanceM() const { return m_distance; }
    // Distance covered from the first fix up to and including fix i.
    double DistanceToM(size_t i) const {
        return i < m_cumulative.size() ? m_cumulative[i] : m_distance;
    }

    // Speed at the record of time t: the distance between the fixes at t - 500 ms and t + 500 ms,
    // per second. False (the speed is undefined, shown as "--") when either fix is missing or a
    // GPS jump lies between them.
    // time_ms is a record's time (a multiple of 100 ms, in a recording or a trip).
    bool SpeedKmhAt(int64_t time_ms, double *kmh) const;
    // The same for a playback position: the speed at the record whose 100 ms slot holds it.
    bool SpeedKmhAtPosition(int64_t position_ms, double *kmh) const {
        return SpeedKmhAt(position_ms - ((position_ms % 100) + 100) % 100, kmh);
    }
    // The largest defined speed at any of the given record times; false when none is defined.
    bool MaxSpeedKmh(const std::vector<int64_t> &record_times, double *kmh) const;

    // Index of the fix at exactly time_ms, or -1.
    ptrdiff_t IndexAt(int64_t time_ms) const;
    // Index of the last fix at or before time_ms, or -1 when the track starts later.
    ptrdiff_t IndexAtOrBefore(int64_t time_ms) const;

private:
    std::vector<Fix> m_fixes;
    std::vector<uint32_t> m_jumps;  // jumps among the steps into fixes 1..i
    std::vector<double> m_cumulative;
    double m_distance = 0;
};

// The times of the rows (one per record), shifted by offset_ms.
std::vector<int64_t> RecordTimes(const std::vector<SensorRow> &rows, int64_t offset_ms = 0);

// Largest |G| (length of the acceleration vector, raw / 128) of the rows; 0 without rows.
double MaxAbsG(const std::vector<SensorRow> &rows);

}  // namespace vt::drivedata
