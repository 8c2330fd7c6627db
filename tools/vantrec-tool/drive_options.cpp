#include "tools/vantrec-tool/drive_options.h"

#include <cmath>
#include <cstdlib>

namespace vt::tool {

std::string ParseDriveOptions(int argc, char **argv, const char *usage, DriveOptions *out) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--format" || a == "--threshold") {
            if (i + 1 >= argc) return a + " needs a value";
            const std::string v = argv[++i];
            if (a == "--format") {
                if (v != "csv" && v != "json") return "unknown format '" + v + "' (csv or json)";
                out->format = v;
            } else {
                char *end = nullptr;
                const double g = std::strtod(v.c_str(), &end);
                if (v.empty() || *end != 0 || !std::isfinite(g) || g <= 0)
                    return "--threshold needs a positive number of G, not '" + v + "'";
                out->threshold_g = g;
            }
        } else if (a == "--no-cache") {
            out->use_cache = false;
        } else if (a.size() > 1 && a[0] == '-') {
            return "unknown option '" + a + "'; " + usage;
        } else {
            out->inputs.push_back(a);
        }
    }
    return {};
}

}  // namespace vt::tool
