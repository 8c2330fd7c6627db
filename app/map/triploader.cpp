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

    std::vector<std::string> names;
    if (!drivedata::ListRecordingNames(folder, &names)) {
        *error = QStringLiteral("The folder %1 cannot be read.").arg(info.absolutePath());
        return false;
    }
    std::sort(names.begin(), names.end(), drivedata::ListOrderLess);
    const auto cur = std::find(names.begin(), names.end(), name);
    if (cur == names.end()) {
        *error = QStringLiteral("%1 is not in its folder any more.").arg(info.fileName());
        return false;
    }

    // Only the trip's own recordings and the two beyond its ends are read, not the whole card:
    // walk outwards from the open one while the next usable recording joins.
    const size_t at = static_cast<size_t>(cur - names.begin());
    auto scratch = std::make_unique<drivedata::SensorData>();
    std::vector<drivedata::RecordingSummary> summaries(names.size());
    std::vector<bool> read(names.size(), false);
    auto summary = [&](size_t i) -> const drivedata::RecordingSummary & {
        if (!read[i]) {
            read[i] = true;
            drivedata::DateTime start;
            summaries[i].name = names[i];
            // Names that are not times join no trip; only the open one is read whatever its name.
            if (i == at || drivedata::StartFromName(names[i], &start))
                drivedata::SummariseRecording(scratch.get(), folder, names[i], threshold_g,
                                              &summaries[i]);
        }
        return summaries[i];
    };
    auto in_trip = [](const drivedata::RecordingSummary &s) { return s.usable && s.has_start; };
    auto joined = [](const drivedata::RecordingSummary &a, const drivedata::RecordingSummary &b) {
        return drivedata::GroupTrips({a, b}).size() == 1;
    };

    const drivedata::RecordingSummary &open = summary(at);
    if (!open.usable) {
        *error = QStringLiteral("%1 is not a recording of this camera.").arg(info.fileName());
        return false;
    }
    drivedata::Trip t;
    if (!open.has_start) {
        t = LoneTrip(open);
    } else {
        std::vector<size_t> members{at};
        for (size_t edge = at, i = at; i-- > 0;) {
            if (!in_trip(summary(i))) continue;  // another camera's, or a name that is not a time
            if (!joined(summary(i), summary(edge))) break;
            members.push_back(edge = i);
        }
        for (size_t edge = at, i = at + 1; i < names.size(); ++i) {
            if (!in_trip(summary(i))) continue;
            if (!joined(summary(edge), summary(i))) break;
            members.push_back(edge = i);
        }
        std::vector<drivedata::RecordingSummary> chosen;
        for (size_t i : members) chosen.push_back(summaries[i]);
        std::vector<drivedata::Trip> trips = drivedata::GroupTrips(std::move(chosen));
        for (drivedata::Trip &candidate : trips)
            for (const drivedata::TripFile &f : candidate.files)
                if (f.recording.name == name) t = candidate;
    }
    if (t.files.empty()) {
        *error = QStringLiteral("%1 belongs to no trip.").arg(info.fileName());
        return false;
    }

    trip->has_start = t.files.front().recording.has_start;
    trip->start = t.start;
    trip->duration_ms = t.duration_ms;
    trip->distance_m = t.distance_m;
    trip->max_speed_kmh = t.has_speed ? t.max_speed_kmh : 0;
    trip->max_g = t.max_g;
    for (const drivedata::TripFile &f : t.files) {
        const std::string file_path = folder + "/" + f.recording.name;
        trip->files.push_back({QFile::decodeName(file_path.c_str()),
                               QFile::decodeName(f.recording.name.c_str()), f.offset_ms,
                               f.recording.duration_ms});
        // The summaries keep fixes and events, not every record's G: read the records again.
        std::vector<drivedata::SensorRow> rows;
        if (drivedata::OpenRecordingRecords(scratch.get(), file_path.c_str()) ==
            drivedata::OpenResult::kOk)
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
    std::stable_sort(
        trip->points.begin(), trip->points.end(),
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
