// Sensor records: packing, and the scripted drive that fills them.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "tools/mkrec/mkrec.h"

namespace vt::mkrec {
namespace {

constexpr double kG = 9.80665;
constexpr double kPi = 3.14159265358979323846;
constexpr double kStep = 0.1;  // one record per simulation step
constexpr double kRawPerG = 128.0;

void PutBe16(uint8_t *p, int v) {
    v = std::clamp(v, -32768, 32767);
    uint16_t u = static_cast<uint16_t>(v);
    p[0] = static_cast<uint8_t>(u >> 8);
    p[1] = static_cast<uint8_t>(u);
}

void PutBe32(uint8_t *p, int32_t v) {
    uint32_t u = static_cast<uint32_t>(v);
    p[0] = static_cast<uint8_t>(u >> 24);
    p[1] = static_cast<uint8_t>(u >> 16);
    p[2] = static_cast<uint8_t>(u >> 8);
    p[3] = static_cast<uint8_t>(u);
}

// Sensor noise that depends only on the drive step, so that consecutive recordings of one drive
// see the same values at the same drive time.
int Noise(uint64_t step, uint32_t axis, int amplitude) {
    uint64_t x =
        step * 0x9E3779B97F4A7C15ull + axis * 0xBF58476D1CE4E5B9ull + 0x94D049BB133111EBull;
    x ^= x >> 31;
    x *= 0xD6E8FEB86659FD93ull;
    x ^= x >> 29;
    return static_cast<int>(x % static_cast<uint64_t>(2 * amplitude + 1)) - amplitude;
}

int ToRaw(double g) { return static_cast<int>(std::lround(g * kRawPerG)); }

}  // namespace

int32_t PackCoordinate(double degrees) {
    bool negative = degrees < 0;
    double a = std::fabs(degrees);
    if (a > 180.0) a = 180.0;
    int64_t d = static_cast<int64_t>(std::floor(a));
    double minutes = (a - static_cast<double>(d)) * 60.0;
    int64_t m = static_cast<int64_t>(std::floor(minutes));
    int64_t cs = std::llround((minutes - static_cast<double>(m)) * 6000.0);  // seconds * 100
    if (cs >= 6000) {
        cs -= 6000;
        ++m;
    }
    if (m >= 60) {
        m -= 60;
        ++d;
    }
    int64_t v = d * 1000000 + m * 10000 + cs;
    return static_cast<int32_t>(negative ? -v : v);
}

double UnpackCoordinate(int32_t packed) {
    int64_t v = packed;
    bool negative = v < 0;
    if (negative) v = -v;
    double deg = static_cast<double>(v / 1000000) +
                 static_cast<double>((v % 1000000) / 10000) / 60.0 +
                 static_cast<double>(v % 10000) / 100.0 / 3600.0;
    return negative ? -deg : deg;
}

RecordBytes PackRecord(const SensorSample &s) {
    RecordBytes r{};
    size_t off = 0;
    for (int i = 0; i < 6; ++i) {
        // Keep at least one zero byte per field: the overlay reads the first field up to its zero.
        size_t n = std::min(s.text[i].size(), kTextFieldSizes[i] - 1);
        std::memcpy(r.data() + off, s.text[i].data(), n);
        off += kTextFieldSizes[i];
    }
    PutBe32(r.data() + kLatitudeOffset, PackCoordinate(s.latitude));
    PutBe32(r.data() + kLongitudeOffset, PackCoordinate(s.longitude));
    PutBe16(r.data() + kAccelXOffset, s.ax);
    PutBe16(r.data() + kAccelYOffset, s.ay);
    PutBe16(r.data() + kAccelZOffset, s.az);
    std::memcpy(r.data() + kModelIdOffset, s.model_id.data(),
                std::min(s.model_id.size(), kModelIdSize));
    return r;
}

std::vector<RecordBytes> PackRecords(const std::vector<SensorSample> &samples) {
    std::vector<RecordBytes> out;
    out.reserve(samples.size());
    for (const auto &s : samples) out.push_back(PackRecord(s));
    return out;
}

std::string FormatRecordTime(int64_t unix_seconds) {
    std::time_t t = static_cast<std::time_t>(unix_seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[80];
    std::snprintf(buf, sizeof buf, "%04d/%02d/%02d %02d:%02d:%02d", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

bool ParseStartTime(const std::string &text, int64_t *unix_seconds) {
    int y, mo, d, h, mi, s;
    char sep1, sep2, tail;
    if (std::sscanf(text.c_str(), "%4d%c%2d%c%2d %2d:%2d:%2d%c", &y, &sep1, &mo, &sep2, &d, &h, &mi,
                    &s, &tail) != 8)
        return false;
    if (sep1 != sep2 || (sep1 != '-' && sep1 != '/')) return false;
    if (y < 1970 || y > 9999 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 ||
        s > 59 || h < 0 || mi < 0 || s < 0)
        return false;
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    std::time_t t = timegm(&tm);
    // timegm normalises 31 April to 1 May; such a date is a typo, not a time.
    std::tm back{};
    gmtime_r(&t, &back);
    if (back.tm_mday != d || back.tm_mon != mo - 1) return false;
    *unix_seconds = static_cast<int64_t>(t);
    return true;
}

std::vector<SensorSample> ScriptDrive(const DriveScript &script, size_t count) {
    std::vector<SensorSample> out;
    out.reserve(count);
    const int64_t first_step = std::max<int64_t>(0, std::llround(script.drive_offset_s / kStep));
    const int64_t last_step = first_step + static_cast<int64_t>(count);

    double v = 2.0;        // m/s: pulling away
    double heading = 0.6;  // rad from north
    double lat = script.origin_latitude, lon = script.origin_longitude;

    for (int64_t n = 0; n < last_step; ++n) {
        const double t = static_cast<double>(n) * kStep;
        // Road bends: curvature in 1/m, gentle sweeps with an occasional tighter turn.
        const double curvature =
            std::sin(2 * kPi * t / 23.0) / 260.0 + std::sin(2 * kPi * t / 61.0 + 1.0) / 420.0;
        // Cruise target between ~45 and ~62 km/h.
        const double target = 15.2 + 2.0 * std::sin(2 * kPi * t / 47.0);
        double a_long = std::clamp(0.45 * (target - v), -0.15 * kG, 0.22 * kG);
        double a_lat = v * v * curvature;
        double a_vert = 0.0;

        for (const DriveEvent &e : script.events) {
            const double dt = t - e.at_s;
            if (dt < -1e-9) continue;
            const int k = static_cast<int>(std::llround(dt / kStep));  // step inside the event
            switch (e.kind) {
                case DriveEventKind::kBrake:
                    if (k < 15) a_long = (k == 0 || k == 14) ? -0.35 * kG : -0.6 * kG;
                    break;
                case DriveEventKind::kPothole:
                    if (k == 0) a_vert = 1.0 * kG;
                    if (k == 1) a_vert = -1.0 * kG;
                    if (k < 2) a_long -= 0.08 * kG;
                    break;
                case DriveEventKind::kImpact:
                    // A side-front collision: the big spike, a rebound, then the car comes to rest.
                    if (k == 0) {
                        a_long = -3.7 * kG;
                        a_lat = 3.2 * kG;
                        a_vert = 0.9 * kG;
                    } else if (k == 1) {
                        a_long = -1.4 * kG;
                        a_lat = -1.1 * kG;
                        a_vert = -0.6 * kG;
                    } else if (k < 40) {
                        a_long = std::min(a_long, -0.3 * kG);
                    }
                    break;
            }
        }

        if (v <= 0.0 && a_long < 0.0) a_long = 0.0;  // standing still: nothing to decelerate

        if (n >= first_step) {
            SensorSample s;
            const int64_t k = n - first_step;
            s.text[0] = FormatRecordTime(script.start_unix + k / 10);
            s.text[1] = script.plate;
            s.text[2].assign(1, v < 0.3 ? 'N' : 'D');
            s.text[3] = std::to_string(static_cast<int>(std::lround(v * 3.6))) + " km/h";
            s.text[4] = script.driver;
            s.text[5] = script.firmware;
            s.latitude = lat;
            s.longitude = lon;
            const uint64_t step = static_cast<uint64_t>(n);
            s.ax = ToRaw(a_long / kG) + Noise(step, 0, 2);
            s.ay = ToRaw(a_lat / kG) + Noise(step, 1, 2);
            s.az = ToRaw(a_vert / kG) + Noise(step, 2, 3);
            s.model_id = script.model_id;
            out.push_back(std::move(s));
        }

        // Integrate over the step; the impact's spikes last milliseconds, so speed takes only
        // the longitudinal part.
        v = std::max(0.0, v + a_long * kStep);
        heading += v * curvature * kStep;
        const double north = v * std::cos(heading) * kStep;
        const double east = v * std::sin(heading) * kStep;
        lat += north / 111320.0;
        lon += east / (111320.0 * std::cos(lat * kPi / 180.0));
    }
    return out;
}

}  // namespace vt::mkrec
