// bench_catalogue [SAMPLE]: what the catalogue saves on a full card. For folders of 1,000 and
// 5,000 recordings (links to one 15 s sample, so the disk cache is warm, as after a first look):
// the trips read straight from the files, through an empty catalogue (cold) and through a filled
// one (warm), the same through vantrec-tool, and the catalogue's size per recording.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/catalogue/folder.h"
#include "catalogue/catalogue.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Since(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

double TimeTool(const std::string &folder, bool cache) {
    const std::string cmd = std::string("'") + VT_BENCH_TOOL + "' trips '" + folder + "'" +
                            (cache ? "" : " --no-cache") + " > /dev/null";
    const auto t0 = Clock::now();
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", cmd.c_str());
    return Since(t0);
}

}  // namespace

int main(int argc, char **argv) {
    const std::string sample = argc > 1 ? argv[1] : VT_BENCH_SAMPLE;
    const fs::path db = fs::temp_directory_path() / "vt-bench-catalogue.sqlite";
    for (int count : {1000, 5000}) {
        const fs::path folder = vt::bench::MakeCardFolder(sample, count, 15, "lib");
        for (const char *suffix : {"", "-wal", "-shm"}) fs::remove(db.string() + suffix);
        std::vector<vt::drivedata::Trip> trips;
        std::string error;

        auto t0 = Clock::now();
        if (count == 1000 && !vt::drivedata::ReadFolderTrips(folder.string(), 1.0, &trips, &error))
            return std::fprintf(stderr, "%s\n", error.c_str()), 1;
        const double uncached = count == 1000 ? Since(t0) : -1;

        vt::catalogue::Catalogue cat;
        if (!cat.Open(db.string(), &error)) return std::fprintf(stderr, "%s\n", error.c_str()), 1;
        t0 = Clock::now();
        vt::catalogue::ReadFolderTrips(&cat, folder.string(), 1.0, &trips, &error);
        const double cold = Since(t0);
        t0 = Clock::now();
        vt::catalogue::ReadFolderTrips(&cat, folder.string(), 1.0, &trips, &error);
        const double warm = Since(t0);
        // A new process opens and checks the file first.
        vt::catalogue::Catalogue again;
        t0 = Clock::now();
        again.Open(db.string(), &error);
        vt::catalogue::ReadFolderTrips(&again, folder.string(), 1.0, &trips, &error);
        const double warm_open = Since(t0);
        const auto bytes =
            fs::file_size(db) +
            (fs::exists(db.string() + "-wal") ? fs::file_size(db.string() + "-wal") : 0);

        std::printf("%d recordings, %zu trips\n", count, trips.size());
        if (uncached >= 0)
            std::printf("  no catalogue:        %7.3f s (%.2f ms per recording)\n", uncached,
                        uncached * 1000 / count);
        std::printf("  cold catalogue:      %7.3f s\n", cold);
        std::printf("  warm catalogue:      %7.3f s (open and check included: %.3f s)\n", warm,
                    warm_open);
        std::printf("  catalogue size:      %llu bytes, %.0f bytes per recording\n",
                    static_cast<unsigned long long>(bytes), double(bytes) / count);

        // The tool, with its own catalogue file (the folder is new to it: cold, then warm).
        const fs::path tool_folder = vt::bench::MakeCardFolder(sample, count, 15, "tool");
        const double tool_cold = TimeTool(tool_folder.string(), true);
        const double tool_warm = TimeTool(tool_folder.string(), true);
        std::printf("  vantrec-tool trips:  cold %.3f s, warm %.3f s\n", tool_cold, tool_warm);
        fs::remove_all(folder);
        fs::remove_all(tool_folder);
    }
    for (const char *suffix : {"", "-wal", "-shm"}) fs::remove(db.string() + suffix);
    return 0;
}
