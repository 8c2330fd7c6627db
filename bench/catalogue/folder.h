#pragma once
// A card's folder for the benchmarks: `count` links (copies where links cannot be made) of one
// recording under names one recording length apart, twenty to a trip, trips five minutes apart.
#include <cstdio>
#include <filesystem>
#include <string>

namespace vt::bench {

inline std::filesystem::path MakeCardFolder(const std::string &sample, int count, int recording_s,
                                            const std::string &tag) {
    namespace fs = std::filesystem;
    const fs::path dir =
        fs::temp_directory_path() / ("vt-bench-" + tag + "-" + std::to_string(count));
    fs::remove_all(dir);
    fs::create_directories(dir);
    for (int i = 0; i < count; ++i) {
        const long s = (i / 20) * (20L * recording_s + 300) + (i % 20) * recording_s;
        const long day = s / 86400, t = s % 86400;
        char name[40];
        std::snprintf(name, sizeof name, "2026%02ld%02ld_%02ld%02ld%02ld.mp4", 1 + day / 28,
                      1 + day % 28, t / 3600, t / 60 % 60, t % 60);
        std::error_code ec;
        fs::create_hard_link(sample, dir / name, ec);
        if (ec) fs::copy_file(sample, dir / name);
    }
    return dir;
}

}  // namespace vt::bench
