// Reading a trip from the recordings' folder. The figures (distance, speed, events) follow the
// shared definitions of trips: fixes 0/0 are no fix, a step longer than 100 m in 100 ms is a GPS
// jump, speed spans the fixes 500 ms either side of a record.
#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cmath>
#include <memory>

#include "app/map/trip.h"
#include "drivedata/sensordata.h"

namespace vt::map {
namespace {

constexpr int64_t kJoinSlackMs = 10000;
constexpr double kJumpMetres = 100.0;
constexpr double kMeanEarthRadiusM = 6371008.8;

struct Recording {
    QString path, name;
    bool named_time = false;
    drivedata::DateTime start{};
    int64_t start_s = 0;  // seconds since an arbitrary epoch, for ordering and gaps
    bool read = false, ok = false;
    std::vector<drivedata::SensorRow> rows;
    int64_t duration_ms = 0;
};

int64_t DaysFromCivil(int y, int m, int d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// "YYYYMMDD_HHMMSS.mp4"
bool ParseStartName(const QString &name, drivedata::DateTime *dt) {
    if (name.size() != 19 || name[8] != u'_' || !name.endsWith(QStringLiteral(".mp4"))) return false;
    for (int i = 0; i < 15; ++i)
        if (i != 8 && !name[i].isDigit()) return false;
    auto num = [&](int at, int n) { return name.mid(at, n).toInt(); };
    *dt = {num(0, 4), num(4, 2), num(6, 2), num(9, 2), num(11, 2), num(13, 2)};
    return dt->month >= 1 && dt->month <= 12 && dt->day >= 1 && dt->day <= 31 && dt->hour <= 23 &&
           dt->minute <= 59 && dt->second <= 59;
}

void Read(Recording *r) {
    if (r->read) return;
    r->read = true;
    auto sd = std::make_unique<drivedata::SensorData>();
    const QByteArray p = QFile::encodeName(r->path);
    if (drivedata::OpenRecording(sd.get(), p.constData()) != drivedata::OpenResult::kOk) return;
    drivedata::CollectSensorRows(sd.get(), &r->rows);
    r->duration_ms = r->rows.empty() ? 0 : static_cast<int64_t>(r->rows.back().time_ms) + 100;
    r->ok = true;
}

bool Joins(Recording *prev, Recording *next) {
    if (!prev->named_time || !next->named_time) return false;
    Read(prev);
    Read(next);
    if (!prev->ok || !next->ok) return false;
    const int64_t gap_ms = (next->start_s - prev->start_s) * 1000 - prev->duration_ms;
    return next->start_s >= prev->start_s && gap_ms <= kJoinSlackMs;
}

double Haversine(double lat1, double lon1, double lat2, double lon2) {
    const double r = M_PI / 180.0;
    const double dlat = (lat2 - lat1) * r, dlon = (lon2 - lon1) * r;
    const double a = std::sin(dlat / 2) * std::sin(dlat / 2) +
                     std::cos(lat1 * r) * std::cos(lat2 * r) * std::sin(dlon / 2) * std::sin(dlon / 2);
    return 2 * kMeanEarthRadiusM * std::asin(std::min(1.0, std::sqrt(a)));
}

// Speed, distance and line breaks over one recording's points (first..end of trip->points).
void Measure(Trip *trip, size_t first) {
    auto &pts = trip->points;
    const size_t n = pts.size();
    // jump[i]: the step into point i is a GPS jump.
    std::vector<bool> jump(n, false);
    const TrackPoint *last_fix = nullptr;
    for (size_t i = first; i < n; ++i) {
        TrackPoint &p = pts[i];
        if (!p.has_fix) {
            p.breaks_line = true;
            continue;
        }
        if (last_fix != nullptr) {
            const double d = Haversine(last_fix->lat, last_fix->lon, p.lat, p.lon);
            const int64_t dt = p.trip_ms - last_fix->trip_ms;
            if (dt <= 100 && d > kJumpMetres) {
                jump[i] = true;
                p.breaks_line = true;
            } else if (dt <= 100) {
                trip->distance_m += d;
            } else {
                p.breaks_line = true;  // a gap without fixes: no line across it
            }
        } else {
            p.breaks_line = true;
        }
        last_fix = &p;
    }
    for (size_t i = first; i < n; ++i) {
        if (i < first + 5 || i + 5 >= n) continue;
        const TrackPoint &a = pts[i - 5], &b = pts[i + 5];
        if (!a.has_fix || !b.has_fix) continue;
        bool jumped = false;
        for (size_t k = i - 4; k <= i + 5 && !jumped; ++k) jumped = jump[k];
        if (jumped) continue;
        pts[i].speed_kmh = Haversine(a.lat, a.lon, b.lat, b.lon) * 3.6;
        trip->max_speed_kmh = std::max(trip->max_speed_kmh, pts[i].speed_kmh);
    }
}

// d(t): the G vector's deviation from its per-axis median over the 10 s around it.
void FindEvents(const Recording &r, int64_t offset_ms, double threshold, std::vector<TripEvent> *out) {
    const int n = static_cast<int>(r.rows.size());
    std::vector<double> d(n);
    std::vector<double> window;
    for (int i = 0; i < n; ++i) {
        const int lo = std::max(0, i - 50), hi = std::min(n - 1, i + 50);
        double dev2 = 0;
        for (int a = 0; a < 3; ++a) {
            window.clear();
            for (int k = lo; k <= hi; ++k) window.push_back(r.rows[k].accel[a] / 128.0);
            const size_t m = window.size() / 2;
            std::nth_element(window.begin(), window.begin() + m, window.end());
            double med = window[m];
            if (window.size() % 2 == 0) {
                const double below = *std::max_element(window.begin(), window.begin() + m);
                med = (med + below) / 2;
            }
            const double dev = r.rows[i].accel[a] / 128.0 - med;
            dev2 += dev * dev;
        }
        d[i] = std::sqrt(dev2);
    }
    int i = 0;
    while (i < n) {
        if (d[i] < threshold) {
            ++i;
            continue;
        }
        const int begin = i;
        int last_high = i, peak = i;
        int quiet = 0;
        for (; i < n && quiet < 5; ++i) {
            if (d[i] >= threshold / 2) {
                last_high = i;
                quiet = 0;
            } else {
                ++quiet;
            }
            if (d[i] > d[peak]) peak = i;
        }
        TripEvent e;
        e.trip_ms = offset_ms + static_cast<int64_t>(r.rows[peak].time_ms);
        e.peak_g = std::round(d[peak] * 100) / 100;
        double best = -1;
        // The axis of the largest deviation at the peak: recompute against the same window.
        for (int a = 0; a < 3; ++a) {
            const int lo = std::max(0, peak - 50), hi = std::min(n - 1, peak + 50);
            std::vector<double> w;
            for (int k = lo; k <= hi; ++k) w.push_back(r.rows[k].accel[a] / 128.0);
            std::sort(w.begin(), w.end());
            const double med = w.size() % 2 ? w[w.size() / 2] : (w[w.size() / 2 - 1] + w[w.size() / 2]) / 2;
            const double dev = std::fabs(r.rows[peak].accel[a] / 128.0 - med);
            if (dev > best) {
                best = dev;
                e.axis = static_cast<char>('x' + a);
            }
        }
        e.impact = (last_high - begin + 1) * 100 <= 500;
        out->push_back(e);
        i = last_high + 1;
    }
}

}  // namespace

bool LoadTripOf(const QString &path, double threshold_g, Trip *trip, QString *error) {
    *trip = Trip{};
    const QFileInfo info(path);
    const QDir dir = info.absoluteDir();
    QStringList names = dir.entryList({QStringLiteral("*.mp4"), QStringLiteral("*.MP4")}, QDir::Files, QDir::Name);
    std::sort(names.begin(), names.end());
    std::vector<Recording> recs(names.size());
    int current = -1;
    for (int i = 0; i < names.size(); ++i) {
        recs[i].name = names[i];
        recs[i].path = dir.absoluteFilePath(names[i]);
        recs[i].named_time = ParseStartName(names[i], &recs[i].start);
        if (recs[i].named_time) {
            const auto &s = recs[i].start;
            recs[i].start_s = DaysFromCivil(s.year, s.month, s.day) * 86400 + s.hour * 3600 + s.minute * 60 + s.second;
        }
        if (recs[i].path == info.absoluteFilePath()) current = i;
    }
    if (current < 0) {
        *error = QStringLiteral("The recording is not in its folder any more.");
        return false;
    }
    Read(&recs[current]);
    if (!recs[current].ok) {
        *error = QStringLiteral("The recording's sensor data cannot be read.");
        return false;
    }
    int first = current, last = current;
    while (first > 0 && Joins(&recs[first - 1], &recs[first])) --first;
    while (last + 1 < static_cast<int>(recs.size()) && Joins(&recs[last], &recs[last + 1])) ++last;

    const Recording &r0 = recs[first];
    trip->has_start = r0.named_time;
    trip->start = r0.start;
    if (!trip->has_start && !r0.rows.empty() && r0.rows.front().has_time) {
        trip->has_start = true;
        trip->start = r0.rows.front().time;
    }
    for (int i = first; i <= last; ++i) {
        const Recording &r = recs[i];
        TripFile f;
        f.path = r.path;
        f.name = r.name;
        f.offset_ms = (r.start_s - r0.start_s) * 1000;
        f.duration_ms = r.duration_ms;
        const size_t first_point = trip->points.size();
        for (const drivedata::SensorRow &row : r.rows) {
            TrackPoint p;
            p.trip_ms = f.offset_ms + static_cast<int64_t>(row.time_ms);
            p.has_fix = row.has_position;
            p.lat = row.latitude;
            p.lon = row.longitude;
            const double gx = row.accel[0] / 128.0, gy = row.accel[1] / 128.0, gz = row.accel[2] / 128.0;
            p.g = std::sqrt(gx * gx + gy * gy + gz * gz);
            trip->max_g = std::max(trip->max_g, p.g);
            trip->points.push_back(p);
        }
        Measure(trip, first_point);
        FindEvents(r, f.offset_ms, threshold_g, &trip->events);
        trip->duration_ms = f.offset_ms + f.duration_ms;
        trip->files.push_back(f);
    }
    return true;
}

}  // namespace vt::map
