#include "drivedata/sidecars.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "drivedata/folder.h"
#include "drivedata/gsensor.h"
#include "drivedata/track.h"

namespace vt::drivedata {
namespace {

constexpr double kKmPerMile = 1.609344;

// "2026-11-08T08:30:00", with ".300" when the milliseconds are not zero.
std::string LocalTimeAt(const DateTime &start, int64_t ms, bool fraction) {
    int64_t total = LocalSeconds(start) * 1000 + ms;
    int64_t seconds = total / 1000, rest = total % 1000;
    if (rest < 0) {
        rest += 1000;
        --seconds;
    }
    std::string s = FormatIsoLocal(FromLocalSeconds(seconds));
    if (fraction && rest != 0) {
        char buf[8];
        std::snprintf(buf, sizeof buf, ".%03d", static_cast<int>(rest));
        s += buf;
    }
    return s;
}

// SubRip time: "HH:MM:SS,mmm" (hours may pass 99 on absurd input; still well-formed digits).
std::string SrtTime(int64_t ms) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%02" PRId64 ":%02d:%02d,%03d", ms / 3600000,
                  static_cast<int>(ms / 60000 % 60), static_cast<int>(ms / 1000 % 60),
                  static_cast<int>(ms % 1000));
    return buf;
}

}  // namespace

bool RecordingClockStart(const std::string &name, const std::vector<SensorRow> &rows,
                         DateTime *start) {
    if (StartFromName(name, start)) return true;
    for (const SensorRow &r : rows) {
        if (!r.has_time) continue;
        int64_t ms = LocalSeconds(r.time) * 1000 - static_cast<int64_t>(r.time_ms);
        // Whole seconds only: the clock text has no fraction to place the start more finely.
        int64_t s = ms / 1000 - (ms % 1000 < 0 ? 1 : 0);
        *start = FromLocalSeconds(s);
        return true;
    }
    return false;
}

std::string WriteSrt(const std::vector<SensorRow> &rows, const SidecarOptions &options) {
    Track track;
    track.AddRows(rows);
    std::string out;
    int cue = 0;
    int64_t end_ms = rows.empty() ? 0 : static_cast<int64_t>(rows.back().time_ms) + 100;
    size_t i = 0;
    for (int64_t second = 0; second * 1000 < end_ms; ++second) {
        const int64_t from = second * 1000, to = std::min(from + 1000, end_ms);
        while (i < rows.size() && static_cast<int64_t>(rows[i].time_ms) < from) ++i;
        if (i >= rows.size() || static_cast<int64_t>(rows[i].time_ms) >= to) continue;
        const SensorRow &r = rows[i];

        out += std::to_string(++cue) + "\n" + SrtTime(from) + " --> " + SrtTime(to) + "\n";
        std::string line;
        if (options.has_start) {
            line = LocalTimeAt(options.start, from, false);
            line[10] = ' ';
            line += "  ";
        }
        double kmh;
        char buf[96];
        if (track.SpeedKmhAt(static_cast<int64_t>(r.time_ms), &kmh)) {
            std::snprintf(buf, sizeof buf, "%.0f %s", options.mph ? kmh / kKmPerMile : kmh,
                          options.mph ? "mph" : "km/h");
            line += buf;
        } else {
            line += options.mph ? "-- mph" : "-- km/h";
        }
        out += line + "\n";
        if (r.has_position) {
            std::snprintf(buf, sizeof buf, "%.6f, %.6f\n", r.latitude, r.longitude);
            out += buf;
        } else {
            out += "no fix\n";
        }
        out += "X " + FormatGReadout(r.accel[0]) + "  Y " + FormatGReadout(r.accel[1]) + "  Z " +
               FormatGReadout(r.accel[2]) + "\n\n";
    }
    return out;
}

std::string WriteGpx(const std::vector<SensorRow> &rows, const SidecarOptions &options) {
    Track track;
    track.AddRows(rows);
    std::string out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<gpx version=\"1.1\" creator=\"vantrec-tool\" "
        "xmlns=\"http://www.topografix.com/GPX/1/1\" "
        "xmlns:gpxtpx=\"http://www.garmin.com/xmlschemas/TrackPointExtension/v2\">\n"
        "  <trk>\n    <name>" +
        XmlEscape(options.name) + "</name>\n    <trkseg>\n";
    char buf[160];
    for (const SensorRow &r : rows) {
        if (!r.has_position) continue;
        std::snprintf(buf, sizeof buf, "      <trkpt lat=\"%.7f\" lon=\"%.7f\">", r.latitude,
                      r.longitude);
        out += buf;
        // The camera's clock carries no time zone, so none is claimed.
        if (options.has_start)
            out += "<time>" + LocalTimeAt(options.start, static_cast<int64_t>(r.time_ms), true) +
                   "</time>";
        double kmh;
        if (track.SpeedKmhAt(static_cast<int64_t>(r.time_ms), &kmh)) {
            std::snprintf(buf, sizeof buf,
                          "<extensions><gpxtpx:TrackPointExtension><gpxtpx:speed>%.2f"
                          "</gpxtpx:speed></gpxtpx:TrackPointExtension></extensions>",
                          kmh / 3.6);
            out += buf;
        }
        out += "</trkpt>\n";
    }
    out += "    </trkseg>\n  </trk>\n</gpx>\n";
    return out;
}

std::string XmlEscape(const std::string &s) {
    std::string out;
    for (unsigned char c : s) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default:
                // Control characters are not allowed in XML 1.0 text.
                if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') out += ' ';
                else out += static_cast<char>(c);
        }
    }
    return out;
}

}  // namespace vt::drivedata
