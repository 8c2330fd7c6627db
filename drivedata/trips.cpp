#include "drivedata/trips.h"

#include <algorithm>
#include <memory>

namespace vt::drivedata {

void SummariseRows(const std::string &name, const std::vector<SensorRow> &rows, double threshold_g,
                   RecordingSummary *out) {
    RecordingSummary &s = *out;
    s = RecordingSummary{};
    s.name = name;
    s.usable = true;
    s.has_start = StartFromName(name, &s.start);
    s.duration_ms = rows.empty() ? 0 : static_cast<int64_t>(rows.back().time_ms) + 100;
    s.track.AddRows(rows);
    s.record_times = RecordTimes(rows);
    s.distance_m = s.track.DistanceM();
    s.has_speed = s.track.MaxSpeedKmh(s.record_times, &s.max_speed_kmh);
    s.max_g = MaxAbsG(rows);
    s.events = FindEvents(rows, threshold_g);
}

void SummariseRecording(SensorData *scratch, const std::string &folder, const std::string &name,
                        double threshold_g, RecordingSummary *out) {
    *out = RecordingSummary{};
    out->name = name;
    if (IsRefusedName(name)) return;
    const std::string path = folder.empty() ? name : folder + "/" + name;
    if (OpenRecordingRecords(scratch, path.c_str()) != OpenResult::kOk) return;
    std::vector<SensorRow> rows;
    CollectSensorRows(scratch, &rows);
    SummariseRows(name, rows, threshold_g, out);
    // Slots whose chunk offset is bad still take their 100 ms of the recording.
    out->duration_ms = std::max<int64_t>(out->duration_ms, int64_t{EntryCount(scratch)} * 100);
}

std::vector<Trip> GroupTrips(std::vector<RecordingSummary> recordings) {
    std::vector<RecordingSummary> usable;
    for (RecordingSummary &r : recordings)
        if (r.usable && r.has_start) usable.push_back(std::move(r));
    std::stable_sort(usable.begin(), usable.end(),
                     [](const RecordingSummary &a, const RecordingSummary &b) {
                         return ListOrderLess(a.name, b.name);
                     });

    std::vector<Trip> trips;
    int64_t end_s_ms = 0;  // end of the previous recording, ms of the local clock
    for (RecordingSummary &r : usable) {
        const int64_t start_ms = LocalSeconds(r.start) * 1000;
        if (trips.empty() || start_ms > end_s_ms + kTripJoinGapMs) {
            trips.emplace_back();
            trips.back().start = r.start;
        }
        Trip &trip = trips.back();
        end_s_ms = start_ms + r.duration_ms;
        TripFile f;
        f.offset_ms = start_ms - LocalSeconds(trip.start) * 1000;
        f.recording = std::move(r);
        trip.files.push_back(std::move(f));
    }

    for (Trip &trip : trips) {
        for (size_t i = 0; i < trip.files.size(); ++i) {
            const TripFile &f = trip.files[i];
            const RecordingSummary &r = f.recording;
            trip.duration_ms = std::max(trip.duration_ms, f.offset_ms + r.duration_ms);
            for (const Fix &fix : r.track.Fixes())
                trip.track.Add({fix.time_ms + f.offset_ms, fix.latitude, fix.longitude});
            if (r.has_speed && (!trip.has_speed || r.max_speed_kmh > trip.max_speed_kmh)) {
                trip.max_speed_kmh = r.max_speed_kmh;
                trip.has_speed = true;
            }
            trip.max_g = std::max(trip.max_g, r.max_g);
            for (const Event &e : r.events) trip.events.push_back({i, f.offset_ms + e.time_ms, e});
        }
        trip.distance_m = trip.track.DistanceM();
    }
    return trips;
}

bool ReadFolderTrips(const std::string &folder, double threshold_g, std::vector<Trip> *trips,
                     std::string *error, const std::atomic<bool> *cancel) {
    trips->clear();
    std::vector<std::string> names;
    if (!ListRecordingNames(folder, &names)) {
        if (error) *error = "cannot read the folder " + folder;
        return false;
    }
    auto scratch = std::make_unique<SensorData>();
    std::vector<RecordingSummary> summaries;
    for (const std::string &name : names) {
        if (cancel && cancel->load(std::memory_order_relaxed)) {
            if (error) *error = "cancelled";
            return false;
        }
        DateTime start;
        if (!StartFromName(name, &start) || IsRefusedName(name)) continue;
        summaries.emplace_back();
        SummariseRecording(scratch.get(), folder, name, threshold_g, &summaries.back());
    }
    *trips = GroupTrips(std::move(summaries));
    return true;
}

}  // namespace vt::drivedata
