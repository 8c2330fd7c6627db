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

namespace vt::tool {
namespace {

std::string CsvField(const std::string &s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string q = "\"";
    for (char c : s) {
        if (c == '"') q += '"';
        q += c;
    }
    return q + "\"";
}

std::string Fixed(double v, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

int Trips(int argc, char **argv) {
    static const char kUsage[] =
        "usage: trips FOLDER [--format json|csv] [--threshold G] [--no-cache]";
    std::string folder, format = "json";
    bool use_cache = true;
    double threshold = drivedata::kDefaultEventThresholdG;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--format" || a == "--threshold") {
            if (i + 1 >= argc) return Fail(a + " needs a value");
            const std::string v = argv[++i];
            if (a == "--format") {
                if (v != "csv" && v != "json")
                    return Fail("unknown format '" + v + "' (json or csv)");
                format = v;
            } else {
                char *end = nullptr;
                threshold = std::strtod(v.c_str(), &end);
                if (v.empty() || *end != 0 || !std::isfinite(threshold) || threshold <= 0)
                    return Fail("--threshold needs a positive number of G, not '" + v + "'");
            }
        } else if (a == "--no-cache") {
            use_cache = false;
        } else if ((a.size() > 1 && a[0] == '-') || !folder.empty()) {
            return Fail(kUsage);
        } else {
            folder = a;
        }
    }
    if (folder.empty()) return Fail(kUsage);

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
