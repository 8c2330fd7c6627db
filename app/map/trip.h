#pragma once
// A trip as the map window shows it: its recordings, one track point per 100 ms sensor record,
// the speed and |G| at each, and its events. Trip time is milliseconds from the start of the
// first recording, so a recording starts at its own start minus the trip's.
// Built on the user-interface thread; plain data afterwards.
#include <QString>
#include <cstdint>
#include <vector>

#include "drivedata/sensor_rows.h"

namespace vt::map {

struct TripFile {
    QString path;  // absolute
    QString name;
    int64_t offset_ms = 0;  // trip time of the recording's first record
    int64_t duration_ms = 0;
};

struct TrackPoint {
    int64_t trip_ms = 0;
    bool has_fix = false;
    double lat = 0, lon = 0;
    // km/h; negative where undefined (no fix around the record, or a GPS jump in between).
    double speed_kmh = -1;
    double g = 0;  // length of the (gx, gy, gz) vector, in G
    // No line joins this fix to the previous point with a fix: a GPS jump, or the first fix.
    bool breaks_line = false;
};

struct TripEvent {
    int64_t trip_ms = 0;
    double peak_g = 0;
    char axis = 'x';
    bool impact = true;  // else a harsh manoeuvre
};

struct Trip {
    std::vector<TripFile> files;
    std::vector<TrackPoint> points;  // in trip time order
    std::vector<TripEvent> events;
    bool has_start = false;
    drivedata::DateTime start{};  // as the camera wrote it (local time, no zone)
    int64_t duration_ms = 0;
    double distance_m = 0;
    double max_speed_kmh = 0;
    double max_g = 0;
};

// A trip time as a recording and a time within it. file is -1 for an empty trip; times before
// the first recording or in a gap between two go to the next recording's start, times past the
// end to the last recording's end.
struct FilePosition {
    int file = -1;
    int64_t ms = 0;
};
FilePosition LocateTripTime(const Trip &trip, int64_t trip_ms);

// The trip time of a position in one of its recordings (matched by absolute path); -1 when the
// recording is not part of the trip.
int64_t TripTimeOf(const Trip &trip, const QString &path, int64_t ms);

// Index of the last point at or before trip_ms (the record that covers it), -1 when none.
int PointAt(const Trip &trip, int64_t trip_ms);
// The same, restricted to points with a fix, looking back at most max_back_ms.
int FixAt(const Trip &trip, int64_t trip_ms, int64_t max_back_ms);

// "2026-11-08 08:30:00" of the start plus an offset, in the camera's own clock.
QString FormatTripClock(const Trip &trip, int64_t trip_ms, bool with_date);

// The trip the recording at `path` belongs to, read from its folder: the recordings before and
// after it that join it, each of this camera. False with a message when the recording itself
// cannot be read. `threshold_g` is the event threshold.
bool LoadTripOf(const QString &path, double threshold_g, Trip *trip, QString *error);

}  // namespace vt::map
