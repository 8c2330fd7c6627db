// vantrec-tool sensors: the sensor records of a camera recording as CSV, JSON, GPX 1.1 or SubRip
// subtitles.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "drivedata/sensor_rows.h"
#include "drivedata/sensordata.h"
#include "drivedata/sidecars.h"
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

void WriteCsv(const std::vector<SensorRow> &rows) {
    std::printf("time_ms,latitude,longitude,gx,gy,gz,text\n");
    for (const SensorRow &r : rows) {
        std::printf("%llu,%s,%s,%s,%s,%s,%s\n", static_cast<unsigned long long>(r.time_ms),
                    Degrees(r.latitude).c_str(), Degrees(r.longitude).c_str(),
                    GText(r.accel[0]).c_str(), GText(r.accel[1]).c_str(), GText(r.accel[2]).c_str(),
                    CsvField(r.text).c_str());
    }
}

void WriteJson(const std::vector<SensorRow> &rows) {
    std::printf("[");
    for (size_t i = 0; i < rows.size(); ++i) {
        const SensorRow &r = rows[i];
        std::printf(
            "%s\n  {\"time_ms\": %llu, \"latitude\": %s, \"longitude\": %s, \"gx\": %s, "
            "\"gy\": %s, \"gz\": %s, \"text\": %s}",
            i ? "," : "", static_cast<unsigned long long>(r.time_ms), Degrees(r.latitude).c_str(),
            Degrees(r.longitude).c_str(), GText(r.accel[0]).c_str(), GText(r.accel[1]).c_str(),
            GText(r.accel[2]).c_str(), JsonString(r.text).c_str());
    }
    std::printf("%s]\n", rows.empty() ? "" : "\n");
}

// GPX and subtitles are the same writers the clip export uses for its sidecar files.
void WriteSidecar(const std::vector<SensorRow> &rows, const char *path, bool gpx) {
    const char *name = std::strrchr(path, '/');
    name = name ? name + 1 : path;
    drivedata::SidecarOptions options;
    options.name = name;
    options.has_start = drivedata::RecordingClockStart(name, rows, &options.start);
    const std::string text =
        gpx ? drivedata::WriteGpx(rows, options) : drivedata::WriteSrt(rows, options);
    std::fwrite(text.data(), 1, text.size(), stdout);
}

int Sensors(int argc, char **argv) {
    if (argc < 2 || argv[1][0] == '-')
        return Fail("usage: sensors FILE [--format csv|json|gpx|srt]");
    const char *path = argv[1];
    const char *format = Option(argc, argv, "--format");
    if (!format) {
        if (HasFlag(argc, argv, "--format")) return Fail("--format needs csv, json, gpx or srt");
        format = "csv";
    }
    const std::string f = format;
    if (f != "csv" && f != "json" && f != "gpx" && f != "srt")
        return Fail("unknown format '" + f + "' (csv, json, gpx or srt)");

    FILE *probe = std::fopen(path, "rb");
    if (!probe) return Fail(std::string("cannot open ") + path);
    std::fclose(probe);

    auto sd = std::make_unique<drivedata::SensorData>();
    if (drivedata::OpenRecordingMp4(sd.get(), path) != drivedata::OpenResult::kOk)
        return Fail(std::string(path) +
                    ": not a recording of this camera (no sensor records with "
                    "the model identifier " +
                    drivedata::kModelId + ")");
    std::vector<SensorRow> rows;
    drivedata::CollectSensorRows(sd.get(), &rows);

    if (f == "csv") WriteCsv(rows);
    else if (f == "json") WriteJson(rows);
    else WriteSidecar(rows, path, f == "gpx");
    if (std::fflush(stdout) != 0) return Fail("cannot write the output");
    return 0;
}

}  // namespace

VT_TOOL_COMMAND("sensors", "FILE [--format csv|json|gpx|srt]", Sensors);

}  // namespace vt::tool
