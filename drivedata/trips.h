#pragma once
// Trips: the recordings of a folder that follow each other, taken as one journey. No UI; safe on
// any thread as long as each thread uses its own SensorData scratch.
//
// A recording's start is the local time in its name (YYYYMMDD_HHMMSS.mp4). Sorted as the
// recording list sorts them, a recording joins the trip of the one before it when it starts no
// later than 10 s after that one's start plus its duration. Recordings the window would not play
// (another camera's, a failing model check, unreadable sensor records, names beginning "HDA") and
// names that are not times belong to no trip.
//
// Trip time: milliseconds from the start of the trip's first recording, so a record at t ms of a
// recording lies at offset_ms + t of its trip, offset_ms being the difference of the two names'
// times. Units as in track.h: metres, km/h, G.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "drivedata/events.h"
#include "drivedata/folder.h"
#include "drivedata/sensor_rows.h"
#include "drivedata/sensordata.h"
#include "drivedata/track.h"

namespace vt::drivedata {

inline constexpr int64_t kTripJoinGapMs = 10000;

// What one recording contributes to a trip.
struct RecordingSummary {
    std::string name;        // as listed (relative to the folder)
    bool usable = false;     // sensor records read and the model check passed
    bool has_start = false;  // the name is a time
    DateTime start{};
    int64_t duration_ms = 0;  // one record per 100 ms
    Track track;              // the recording's fixes, in its own times
    std::vector<int64_t> record_times;
    double distance_m = 0;
    bool has_speed = false;
    double max_speed_kmh = 0;
    double max_g = 0;  // largest |G| of its records
    std::vector<Event> events;
};

// The summary of already collected rows (duration: up to the end of the last record's slot).
void SummariseRows(const std::string &name, const std::vector<SensorRow> &rows, double threshold_g,
                   RecordingSummary *out);

// Reads the recording `folder`/`name` into `scratch` (only its records, not the whole media data)
// and summarises it. A file the window would refuse comes back with usable == false.
void SummariseRecording(SensorData *scratch, const std::string &folder, const std::string &name,
                        double threshold_g, RecordingSummary *out);

struct TripFile {
    RecordingSummary recording;
    int64_t offset_ms = 0;  // its start in trip time
};

struct TripEvent {
    size_t file = 0;      // index into Trip::files
    int64_t trip_ms = 0;  // the event's time in trip time
    Event event;          // times within its recording
};

struct Trip {
    std::vector<TripFile> files;  // in list order
    DateTime start{};
    int64_t duration_ms = 0;  // from the first start to the end of the latest recording
    double distance_m = 0;    // over the whole track, the steps between recordings included
    bool has_speed = false;
    double max_speed_kmh = 0;
    double max_g = 0;
    std::vector<TripEvent> events;
    Track track;  // every fix of the trip, in trip time
};

// Groups summaries into trips (they need not be sorted). Unusable recordings and names that are
// not times are left out.
std::vector<Trip> GroupTrips(std::vector<RecordingSummary> recordings);

// Lists, reads and groups a folder. False (with a one-line reason) when the folder cannot be read,
// or when `cancel` is set while it runs (checked between recordings).
bool ReadFolderTrips(const std::string &folder, double threshold_g, std::vector<Trip> *trips,
                     std::string *error, const std::atomic<bool> *cancel = nullptr);

}  // namespace vt::drivedata
