#pragma once
// The sensor records of a loaded recording as plain values, for export to other programs.
#include <cstdint>
#include <string>
#include <vector>

#include "drivedata/sensordata.h"

namespace vt::drivedata {

struct DateTime {
    int year, month, day, hour, minute, second;
};

struct SensorRow {
    uint64_t time_ms = 0;      // start of the record's 100 ms slot
    int32_t latitude_raw = 0;  // packed degrees, minutes, seconds x 100
    int32_t longitude_raw = 0;
    double latitude = 0, longitude = 0;  // signed decimal degrees
    bool has_position = false;           // a plausible, non-zero position
    int16_t accel[3] = {};               // raw, 1/128 G
    std::string text;                    // the car-information text up to its first zero byte
    bool has_time = false;               // the text holds a date and time
    DateTime time{};
};

// Packed v = degrees x 1,000,000 + minutes x 10,000 + seconds x 100, as signed decimal degrees.
double PackedToDegrees(int32_t v);
// False when the minutes or seconds of a packed value are 60 or more, or the degrees exceed
// `max_degrees`.
bool PackedIsValid(int32_t v, int max_degrees);

// Finds "YYYY?MM?DD?hh?mm?ss" (any single non-digit separators) in a text; checks the ranges.
bool ParseDateTime(const std::string &text, DateTime *out);

// One row per chunk-offset entry whose record is found, in time order (MP4 layout).
void CollectSensorRows(const SensorData *sd, std::vector<SensorRow> *rows);

}  // namespace vt::drivedata
