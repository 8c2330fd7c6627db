#include "report/clip_sidecars.h"

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "drivedata/sensor_rows.h"
#include "drivedata/sensordata.h"
#include "drivedata/sidecars.h"

namespace vt::report {
namespace {

bool WriteWhole(const std::string &path, const std::string &text) {
    const std::string temp = path + ".part-" + std::to_string(static_cast<long>(::getpid()));
    FILE *f = std::fopen(temp.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = std::fflush(f) == 0 && ok;
    ok = ::fsync(fileno(f)) == 0 && ok;
    ok = std::fclose(f) == 0 && ok;
    ok = ok && std::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) std::remove(temp.c_str());
    return ok;
}

std::string BaseName(const std::string &path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool WriteClipSidecars(const std::string &clip, const std::string &srt, const std::string &gpx,
                       std::string *error) {
    auto sd = std::make_unique<drivedata::SensorData>();
    if (drivedata::OpenRecordingMp4(sd.get(), clip.c_str()) != drivedata::OpenResult::kOk) {
        *error = clip + ": the clip's sensor records cannot be read";
        return false;
    }
    std::vector<drivedata::SensorRow> rows;
    drivedata::CollectSensorRows(sd.get(), &rows);
    drivedata::SidecarOptions options;
    options.name = BaseName(clip);
    options.has_start = drivedata::RecordingClockStart(options.name, rows, &options.start);
    if (!WriteWhole(srt, drivedata::WriteSrt(rows, options))) {
        *error = "cannot write " + srt;
        return false;
    }
    if (!WriteWhole(gpx, drivedata::WriteGpx(rows, options))) {
        std::remove(srt.c_str());
        *error = "cannot write " + gpx;
        return false;
    }
    return true;
}

}  // namespace vt::report
