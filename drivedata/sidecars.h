#pragma once
// Files that travel beside a recording or a clip: subtitles (SubRip) with the speed, position and
// G values, and a GPX 1.1 track. Written to strings; the caller decides where they go. No UI.
#include <cstdint>
#include <string>
#include <vector>

#include "drivedata/sensor_rows.h"

namespace vt::drivedata {

struct SidecarOptions {
    std::string name;        // the track's name in the GPX (usually the recording's file name)
    bool has_start = false;  // the local date and time of time_ms 0 is known
    DateTime start{};
    bool mph = false;  // subtitles show miles per hour instead of km/h
};

// The local date and time of a recording's time 0: the time in its name when it is
// YYYYMMDD_HHMMSS.mp4, otherwise the clock text of its first dated record, less that record's
// time. False when neither is there.
bool RecordingClockStart(const std::string &name, const std::vector<SensorRow> &rows,
                         DateTime *start);

// One cue per second of the rows (each shows the record at the start of its second, or the
// first record within it): the date and time when known, the speed ("--" when undefined), the
// position to six decimals ("no fix" without one) and the three G values. Rows in time order.
std::string WriteSrt(const std::vector<SensorRow> &rows, const SidecarOptions &options);

// GPX 1.1 with one track point per record that has a fix: its time (start + time_ms, local, no
// zone, milliseconds when not whole) when the start is known, and its speed in m/s as a
// TrackPointExtension where the speed is defined.
std::string WriteGpx(const std::vector<SensorRow> &rows, const SidecarOptions &options);

// Text safe inside an XML element or attribute.
std::string XmlEscape(const std::string &s);

}  // namespace vt::drivedata
