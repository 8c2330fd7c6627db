// vantrec-tool sensors: the sensor records of a camera recording as CSV, JSON or GPX 1.1.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "drivedata/sensor_rows.h"
#include "drivedata/sensordata.h"
#include "tools/common/json.h"
#include "tools/vantrec-tool/command.h"

namespace vt::tool {
namespace {

using drivedata::SensorRow;

// raw / 128 written exactly (at most seven decimals), with at least three decimals.
std::string GText(int16_t raw) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.7f", raw / 128.0);
    std::string s = buf;
    size_t dot = s.find('.');
    while (s.size() > dot + 4 && s.back() == '0') s.pop_back();
    return s;
}

std::string Degrees(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.7f", v);
    return buf;
}

std::string CsvField(const std::string &s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string q = "\"";
    for (char c : s) {
        if (c == '"') q += '"';
        q += c;
    }
    return q + "\"";
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
                if (c < 0x20 && c != '\t' && c != '\n' && c != '\r')
                    out += ' ';
                else
                    out += static_cast<char>(c);
        }
    }
    return out;
}

void WriteCsv(const std::vector<SensorRow> &rows) {
    std::printf("time_ms,latitude,longitude,gx,gy,gz,text\n");
    for (const SensorRow &r : rows) {
        std::printf("%llu,%s,%s,%s,%s,%s,%s\n", static_cast<unsigned long long>(r.time_ms),
                    Degrees(r.latitude).c_str(), Degrees(r.longitude).c_str(),
                    GText(r.accel[0]).c_str(), GText(r.accel[1]).c_str(),
                    GText(r.accel[2]).c_str(), CsvField(r.text).c_str());
    }
}

void WriteJson(const std::vector<SensorRow> &rows) {
    std::printf("[");
    for (size_t i = 0; i < rows.size(); ++i) {
        const SensorRow &r = rows[i];
        std::printf("%s\n  {\"time_ms\": %llu, \"latitude\": %s, \"longitude\": %s, \"gx\": %s, "
                    "\"gy\": %s, \"gz\": %s, \"text\": %s}",
                    i ? "," : "", static_cast<unsigned long long>(r.time_ms),
                    Degrees(r.latitude).c_str(), Degrees(r.longitude).c_str(),
                    GText(r.accel[0]).c_str(), GText(r.accel[1]).c_str(),
                    GText(r.accel[2]).c_str(), JsonString(r.text).c_str());
    }
    std::printf("%s]\n", rows.empty() ? "" : "\n");
}

void WriteGpx(const std::vector<SensorRow> &rows, const char *path) {
    const char *name = std::strrchr(path, '/');
    name = name ? name + 1 : path;
    std::printf("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                "<gpx version=\"1.1\" creator=\"vantrec-tool\" "
                "xmlns=\"http://www.topografix.com/GPX/1/1\">\n"
                "  <trk>\n    <name>%s</name>\n    <trkseg>\n",
                XmlEscape(name).c_str());
    for (const SensorRow &r : rows) {
        if (!r.has_position) continue;
        std::printf("      <trkpt lat=\"%s\" lon=\"%s\">", Degrees(r.latitude).c_str(),
                    Degrees(r.longitude).c_str());
        if (r.has_time) {
            // The camera's clock carries no time zone, so none is claimed.
            std::printf("<time>%04d-%02d-%02dT%02d:%02d:%02d</time>", r.time.year, r.time.month,
                        r.time.day, r.time.hour, r.time.minute, r.time.second);
        }
        std::printf("</trkpt>\n");
    }
    std::printf("    </trkseg>\n  </trk>\n</gpx>\n");
}

int Sensors(int argc, char **argv) {
    if (argc < 2 || argv[1][0] == '-') return Fail("usage: sensors FILE [--format csv|json|gpx]");
    const char *path = argv[1];
    const char *format = Option(argc, argv, "--format");
    if (!format) {
        if (HasFlag(argc, argv, "--format")) return Fail("--format needs csv, json or gpx");
        format = "csv";
    }
    if (std::strcmp(format, "csv") != 0 && std::strcmp(format, "json") != 0 &&
        std::strcmp(format, "gpx") != 0)
        return Fail(std::string("unknown format '") + format + "' (csv, json or gpx)");

    FILE *probe = std::fopen(path, "rb");
    if (!probe) return Fail(std::string("cannot open ") + path);
    std::fclose(probe);

    auto sd = std::make_unique<drivedata::SensorData>();
    if (drivedata::OpenRecordingMp4(sd.get(), path) != drivedata::OpenResult::kOk)
        return Fail(std::string(path) + ": not a recording of this camera (no sensor records with "
                                        "the model identifier " + drivedata::kModelId + ")");
    std::vector<SensorRow> rows;
    drivedata::CollectSensorRows(sd.get(), &rows);

    if (std::strcmp(format, "csv") == 0)
        WriteCsv(rows);
    else if (std::strcmp(format, "json") == 0)
        WriteJson(rows);
    else
        WriteGpx(rows, path);
    if (std::fflush(stdout) != 0) return Fail("cannot write the output");
    return 0;
}

}  // namespace

VT_TOOL_COMMAND("sensors", "FILE [--format csv|json|gpx]", Sensors);

}  // namespace vt::tool
