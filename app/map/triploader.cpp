// The map's view of a trip, built from the drive data's trips: which recordings, where the car
// was at each record, how fast it went and how hard it was shaken.
#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <memory>

#include "app/map/trip.h"
#include "drivedata/trips.h"

namespace vt::map {
namespace {

// A recording that belongs to no trip of its folder (its name is not a time) is a trip of its own.
drivedata::Trip LoneTrip(drivedata::RecordingSummary summary) {
    drivedata::Trip t;
    t.start = summary.start;
    t.duration_ms = summary.duration_ms;
    t.distance_m = summary.distance_m;
    t.has_speed = summary.has_speed;
    t.max_speed_kmh = summary.max_speed_kmh;
    t.max_g = summary.max_g;
    t.track = summary.track;
    for (const drivedata::Event &e : summary.events) t.events.push_back({0, e.time_ms, e});
    t.files.push_back({std::move(summary), 0});
    return t;
}

}  // namespace

bool LoadTripOf(const QString &path, double threshold_g, Trip *trip, QString *error) {
    *trip = Trip{};
    const QFileInfo info(path);
    const std::string folder = QFile::encodeName(info.absolutePath()).toStdString();
    const std::string name = QFile::encodeName(info.fileName()).toStdString();

    std::vector<drivedata::Trip> trips;
    std::string why;
    if (!drivedata::ReadFolderTrips(folder, threshold_g, &trips, &why)) {
        *error = QString::fromLocal8Bit(why.c_str());
        return false;
    }
    const drivedata::Trip *found = nullptr;
    for (const drivedata::Trip &t : trips)
        for (const drivedata::TripFile &f : t.files)
            if (f.recording.name == name) found = &t;
    auto scratch = std::make_unique<drivedata::SensorData>();
    drivedata::Trip lone;
    if (found == nullptr) {
        drivedata::RecordingSummary summary;
        drivedata::SummariseRecording(scratch.get(), folder, name, threshold_g, &summary);
        if (!summary.usable) {
            *error = QStringLiteral("%1 is not a recording of this camera.").arg(info.fileName());
            return false;
        }
        lone = LoneTrip(std::move(summary));
        found = &lone;
    }

    const drivedata::Trip &t = *found;
    trip->has_start = t.files.front().recording.has_start;
    trip->start = t.start;
    trip->duration_ms = t.duration_ms;
    trip->distance_m = t.distance_m;
    trip->max_speed_kmh = t.has_speed ? t.max_speed_kmh : 0;
    trip->max_g = t.max_g;
    for (const drivedata::TripFile &f : t.files) {
        const std::string file_path = folder + "/" + f.recording.name;
        trip->files.push_back({QFile::decodeName(file_path.c_str()), QFile::decodeName(f.recording.name.c_str()),
                               f.offset_ms, f.recording.duration_ms});
        // The summaries keep fixes and events, not every record's G: read the records again.
        std::vector<drivedata::SensorRow> rows;
        if (drivedata::OpenRecordingRecords(scratch.get(), file_path.c_str()) == drivedata::OpenResult::kOk)
            drivedata::CollectSensorRows(scratch.get(), &rows);
        for (const drivedata::SensorRow &row : rows) {
            TrackPoint p;
            p.trip_ms = f.offset_ms + static_cast<int64_t>(row.time_ms);
            p.has_fix = row.has_position;
            p.lat = row.latitude;
            p.lon = row.longitude;
            p.g = drivedata::MaxAbsG({row});
            double kmh = 0;
            if (t.track.SpeedKmhAt(p.trip_ms, &kmh)) p.speed_kmh = kmh;
            trip->points.push_back(p);
        }
    }
    // Recordings of one trip may overlap by a record or two.
    std::stable_sort(trip->points.begin(), trip->points.end(),
                     [](const TrackPoint &a, const TrackPoint &b) { return a.trip_ms < b.trip_ms; });
    // The line follows the trip's track: it breaks at a GPS jump and where the track drops a fix.
    for (TrackPoint &p : trip->points) {
        if (!p.has_fix) continue;
        const ptrdiff_t i = t.track.IndexAt(p.trip_ms);
        p.breaks_line = i <= 0 || t.track.JumpInto(static_cast<size_t>(i));
    }
    for (const drivedata::TripEvent &e : t.events) {
        TripEvent m;
        m.trip_ms = e.trip_ms;
        m.peak_g = drivedata::RoundG(e.event.peak_g);
        m.axis = drivedata::AxisName(e.event.axis)[0];
        m.impact = e.event.kind == drivedata::EventKind::kImpact;
        trip->events.push_back(m);
    }
    return true;
}

}  // namespace vt::map
