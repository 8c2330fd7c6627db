// vantrec-tool events: the driving events (impacts, harsh manoeuvres) of camera recordings.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "drivedata/events.h"
#include "drivedata/sensor_rows.h"
#include "drivedata/sensordata.h"
#include "tools/common/json.h"
#include "tools/vantrec-tool/command.h"
#include "tools/vantrec-tool/drive_options.h"

namespace vt::tool {
namespace {

struct FileEvents {
    std::string file;
    std::vector<drivedata::Event> events;
};

int Events(int argc, char **argv) {
    static const char kUsage[] =
        "usage: events FILE|FOLDER... [--threshold G] [--format csv|json] [--no-cache]";
    DriveOptions opts;
    opts.format = "csv";
    opts.threshold_g = drivedata::kDefaultEventThresholdG;
    if (std::string error = ParseDriveOptions(argc, argv, kUsage, &opts); !error.empty())
        return Fail(error);
    const std::vector<std::string> &files = opts.inputs;
    const std::string &format = opts.format;
    const bool use_cache = opts.use_cache;
    const double threshold = opts.threshold_g;
    if (files.empty()) return Fail(kUsage);

    // Every file is read before anything is printed, so a bad one leaves no partial output.
    auto sd = std::make_unique<drivedata::SensorData>();
    std::vector<FileEvents> found;
    catalogue::Catalogue cat;
    for (const std::string &file : files) {
        std::error_code ec;
        if (std::filesystem::is_directory(file, ec)) {
            // A folder: every recording in it, in the list's order, through the catalogue.
            if (use_cache && !cat.IsOpen()) {
                std::string ignored;
                cat.Open(catalogue::DefaultFile(), &ignored);
            }
            catalogue::Catalogue none;
            std::vector<drivedata::RecordingSummary> summaries;
            std::string error;
            if (!(use_cache ? cat : none).ReadFolder(file, threshold, &summaries, &error))
                return Fail(error);
            const std::string prefix = file.back() == '/' ? file : file + "/";
            for (drivedata::RecordingSummary &s : summaries)
                if (s.usable) found.push_back({prefix + s.name, std::move(s.events)});
            continue;
        }
        if (drivedata::OpenRecordingRecords(sd.get(), file.c_str()) != drivedata::OpenResult::kOk)
            return Fail(file + ": not a readable recording of this camera");
        std::vector<drivedata::SensorRow> rows;
        drivedata::CollectSensorRows(sd.get(), &rows);
        found.push_back({file, drivedata::FindEvents(rows, threshold)});
    }

    if (format == "csv") {
        std::printf("file,time_ms,peak_g,axis,kind\n");
        for (const FileEvents &f : found)
            for (const auto &e : f.events)
                std::printf("%s,%lld,%.2f,%s,%s\n", CsvField(f.file).c_str(),
                            static_cast<long long>(e.time_ms), drivedata::RoundG(e.peak_g),
                            drivedata::AxisName(e.axis), drivedata::EventKindName(e.kind));
    } else {
        std::printf("[");
        bool first = true;
        for (const FileEvents &f : found)
            for (const auto &e : f.events) {
                std::printf(
                    "%s\n  {\"file\": %s, \"time_ms\": %lld, \"peak_g\": %.2f, "
                    "\"axis\": \"%s\", \"kind\": \"%s\"}",
                    first ? "" : ",", JsonString(f.file).c_str(), static_cast<long long>(e.time_ms),
                    drivedata::RoundG(e.peak_g), drivedata::AxisName(e.axis),
                    drivedata::EventKindName(e.kind));
                first = false;
            }
        std::printf("%s]\n", first ? "" : "\n");
    }
    if (std::fflush(stdout) != 0) return Fail("cannot write the output");
    return 0;
}

}  // namespace

VT_TOOL_COMMAND("events", "FILE|FOLDER... [--threshold G] [--format csv|json] [--no-cache]",
                Events);

}  // namespace vt::tool
