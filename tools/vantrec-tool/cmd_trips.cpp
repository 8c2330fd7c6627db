// vantrec-tool trips: the journeys in a folder of camera recordings.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "drivedata/trips.h"
#include "tools/common/json.h"
#include "tools/vantrec-tool/command.h"
#include "tools/vantrec-tool/drive_options.h"

namespace vt::tool {
namespace {

std::string Fixed(double v, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

int Trips(int argc, char **argv) {
    static const char kUsage[] =
        "usage: trips FOLDER [--format json|csv] [--threshold G] [--no-cache]";
    DriveOptions opts;
    opts.format = "json";
    opts.threshold_g = drivedata::kDefaultEventThresholdG;
    if (std::string error = ParseDriveOptions(argc, argv, kUsage, &opts); !error.empty())
        return Fail(error);
    if (opts.inputs.size() != 1) return Fail(kUsage);
    const std::string &folder = opts.inputs[0];
    const std::string &format = opts.format;
    const bool use_cache = opts.use_cache;
    const double threshold = opts.threshold_g;

    std::vector<drivedata::Trip> trips;
    std::string error;
    if (use_cache) {
        // The catalogue only saves time: when it cannot be had, every recording is read.
        catalogue::Catalogue cat;
        std::string ignored;
        cat.Open(catalogue::DefaultFile(), &ignored);
        if (!catalogue::ReadFolderTrips(&cat, folder, threshold, &trips, &error))
            return Fail(error);
    } else if (!drivedata::ReadFolderTrips(folder, threshold, &trips, &error)) {
        return Fail(error);
    }

    if (format == "json") {
        std::printf("[");
        for (size_t i = 0; i < trips.size(); ++i) {
            const drivedata::Trip &t = trips[i];
            std::string files;
            for (size_t k = 0; k < t.files.size(); ++k)
                files += (k ? ", " : "") + JsonString(t.files[k].recording.name);
            std::printf(
                "%s\n  {\"files\": [%s], \"start\": \"%s\", \"duration_ms\": %lld, "
                "\"distance_m\": %s, \"max_speed_kmh\": %s, \"max_g\": %s, \"events\": %zu}",
                i ? "," : "", files.c_str(), drivedata::FormatIsoLocal(t.start).c_str(),
                static_cast<long long>(t.duration_ms), Fixed(t.distance_m, 1).c_str(),
                t.has_speed ? Fixed(t.max_speed_kmh, 1).c_str() : "null", Fixed(t.max_g, 2).c_str(),
                t.events.size());
        }
        std::printf("%s]\n", trips.empty() ? "" : "\n");
    } else {
        std::printf("files,start,duration_ms,distance_m,max_speed_kmh,max_g,events\n");
        for (const drivedata::Trip &t : trips) {
            std::string files;
            for (size_t k = 0; k < t.files.size(); ++k)
                files += (k ? ";" : "") + t.files[k].recording.name;
            std::printf("%s,%s,%lld,%s,%s,%s,%zu\n", CsvField(files).c_str(),
                        drivedata::FormatIsoLocal(t.start).c_str(),
                        static_cast<long long>(t.duration_ms), Fixed(t.distance_m, 1).c_str(),
                        t.has_speed ? Fixed(t.max_speed_kmh, 1).c_str() : "",
                        Fixed(t.max_g, 2).c_str(), t.events.size());
        }
    }
    if (std::fflush(stdout) != 0) return Fail("cannot write the output");
    return 0;
}

}  // namespace

VT_TOOL_COMMAND("trips", "FOLDER [--format json|csv] [--threshold G] [--no-cache]", Trips);

}  // namespace vt::tool
