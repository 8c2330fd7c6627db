#include "app/map/trip.h"

#include <QDateTime>
#include <algorithm>

namespace vt::map {

FilePosition LocateTripTime(const Trip &trip, int64_t trip_ms) {
    FilePosition pos;
    const int n = static_cast<int>(trip.files.size());
    for (int i = 0; i < n; ++i) {
        const TripFile &f = trip.files[i];
        if (trip_ms < f.offset_ms)
            return {i, 0};  // before the first, or in the gap before this one
        if (trip_ms < f.offset_ms + f.duration_ms || i == n - 1) {
            pos.file = i;
            pos.ms = std::min(trip_ms - f.offset_ms, f.duration_ms);
            return pos;
        }
    }
    return pos;
}

int64_t TripTimeOf(const Trip &trip, const QString &path, int64_t ms) {
    for (const TripFile &f : trip.files)
        if (f.path == path) return f.offset_ms + std::clamp<int64_t>(ms, 0, f.duration_ms);
    return -1;
}

int PointAt(const Trip &trip, int64_t trip_ms) {
    const auto &pts = trip.points;
    auto it = std::upper_bound(pts.begin(), pts.end(), trip_ms,
                               [](int64_t t, const TrackPoint &p) { return t < p.trip_ms; });
    return it == pts.begin() ? -1 : static_cast<int>(it - pts.begin()) - 1;
}

int FixAt(const Trip &trip, int64_t trip_ms, int64_t max_back_ms) {
    for (int i = PointAt(trip, trip_ms); i >= 0; --i) {
        if (trip.points[i].trip_ms < trip_ms - max_back_ms) break;
        if (trip.points[i].has_fix) return i;
    }
    return -1;
}

QString FormatTripClock(const Trip &trip, int64_t trip_ms, bool with_date) {
    if (!trip.has_start) {
        const int64_t s = std::max<int64_t>(0, trip_ms) / 1000;
        return QString::asprintf("%d:%02d:%02d", static_cast<int>(s / 3600),
                                 static_cast<int>(s / 60 % 60), static_cast<int>(s % 60));
    }
    // UTC here only means "no zone": the camera's clock is shown as it was written, never
    // converted (a trip across a daylight-saving change keeps counting straight on).
    const drivedata::DateTime &d = trip.start;
    const QDateTime t0(QDate(d.year, d.month, d.day), QTime(d.hour, d.minute, d.second), Qt::UTC);
    const QDateTime t = t0.addMSecs(trip_ms);
    return t.toString(with_date ? QStringLiteral("yyyy-MM-dd HH:mm:ss")
                                : QStringLiteral("HH:mm:ss"));
}

}  // namespace vt::map
