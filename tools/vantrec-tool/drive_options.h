#pragma once
// The options that the drive-data commands (events, trips) share.
#include <string>
#include <vector>

namespace vt::tool {

struct DriveOptions {
    std::vector<std::string> inputs;  // the files or folders named, in order
    std::string format;               // "csv" or "json"
    double threshold_g = 0;           // events' threshold
    bool use_cache = true;            // false with --no-cache
};

// Reads `[--format csv|json] [--threshold G] [--no-cache]` and the inputs. Returns an empty
// string, or the message to fail with (an unknown option gets `usage` after it).
std::string ParseDriveOptions(int argc, char **argv, const char *usage, DriveOptions *out);

}  // namespace vt::tool
