#pragma once
// Sensor rows made by hand for the arithmetic tests: one per 100 ms, optionally moving north or
// east at a steady speed.
#include <cmath>
#include <vector>

#include "drivedata/sensor_rows.h"
#include "drivedata/track.h"

namespace vt::test {

// Degrees of latitude per metre along a meridian.
inline constexpr double kDegPerMetre = 180.0 / (3.14159265358979323846 * drivedata::kEarthRadiusM);

inline drivedata::SensorRow Row(uint64_t time_ms, double lat = 0, double lon = 0,
                                bool fix = false) {
    drivedata::SensorRow r;
    r.time_ms = time_ms;
    r.latitude = lat;
    r.longitude = lon;
    r.has_position = fix;
    return r;
}

// n records northward from (lat0, lon0) at a steady speed.
inline std::vector<drivedata::SensorRow> NorthAt(double kmh, size_t n, double lat0 = 46.9,
                                                 double lon0 = 7.44) {
    std::vector<drivedata::SensorRow> rows;
    const double metres_per_record = kmh / 3.6 / 10;
    for (size_t i = 0; i < n; ++i)
        rows.push_back(Row(i * 100, lat0 + i * metres_per_record * kDegPerMetre, lon0, true));
    return rows;
}

}  // namespace vt::test
