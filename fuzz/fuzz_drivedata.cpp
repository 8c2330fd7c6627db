// Sensor-record extraction over arbitrary bytes: the box walk, the block layout, every lookup,
// the panel arithmetic that reads the records, and what is computed from them (track, speed,
// events, subtitles, GPX) and from recording names.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "drivedata/events.h"
#include "drivedata/folder.h"
#include "drivedata/gsensor.h"
#include "drivedata/sensor_rows.h"
#include "drivedata/sensordata.h"
#include "drivedata/sidecars.h"
#include "drivedata/trips.h"

namespace {

using namespace vt::drivedata;

void Exercise(SensorData *sd, int64_t duration_ms) {
    GraphCurves curves;
    ComputeGraphCurves(sd, duration_ms, &curves);
    ReadoutTexts texts;
    const uint64_t positions[] = {0, 99, 100, uint64_t(duration_ms > 0 ? duration_ms : 0),
                                  ~uint64_t{0}};
    for (uint64_t p : positions) {
        int x;
        TimeCursorX(sd, duration_ms, static_cast<uint32_t>(p), &x);
        UpdateReadouts(sd, true, duration_ms, static_cast<int64_t>(p / 1000 % 60), p, &texts);
        const uint8_t *rec;
        if (FindRecord(sd, p, &rec) == Lookup::kFound) {
            volatile int16_t v = RecordAccel(rec, kAxisZ);
            (void)v;
        }
        FindBlockRecord(sd, p, &rec);
    }
}

// Everything the trips, the tools and the list compute from a recording's rows.
void Derive(const std::vector<SensorRow> &rows, const std::string &name) {
    RecordingSummary summary;
    SummariseRows(name, rows, 1.0, &summary);
    FindEvents(rows, 0.05);
    for (size_t i = 0; i < rows.size() && i < 64; ++i) {
        double kmh;
        summary.track.SpeedKmhAt(static_cast<int64_t>(rows[i].time_ms), &kmh);
    }
    SidecarOptions options;
    options.name = name;
    options.has_start = RecordingClockStart(name, rows, &options.start);
    volatile size_t n = WriteSrt(rows, options).size() + WriteGpx(rows, options).size();
    (void)n;
    std::vector<RecordingSummary> pair(2, summary);
    pair[1].name = "20261108_083010.mp4";
    pair[1].has_start = StartFromName(pair[1].name, &pair[1].start);
    GroupTrips(pair);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static auto *sd = new SensorData();
    if (size == 0) return 0;
    // fmemopen takes a writable buffer even for reading.
    std::vector<uint8_t> copy(data, data + size);
    FILE *f = fmemopen(copy.data(), copy.size(), "rb");
    if (!f) return 0;

    int64_t claimed = 0;
    for (size_t i = 0; i < 4 && i < size; ++i) claimed = (claimed << 8) | data[i];

    BeginOpen(sd);
    if (ExtractSensorDataMp4(sd, f) && LoadMediaDataFrom(sd, f)) {
        sd->loaded = true;
        CheckModelId(sd);
        std::vector<SensorRow> rows;
        CollectSensorRows(sd, &rows);
        const std::string name(reinterpret_cast<const char *>(data), size < 19 ? size : 19);
        Derive(rows, name);
        Exercise(sd, int64_t{EntryCount(sd)} * 100);
        Exercise(sd, 30999);
        Exercise(sd, claimed);
    }

    // The records-only load that the trips use.
    std::rewind(f);
    BeginOpen(sd);
    if (ExtractSensorDataMp4(sd, f) && LoadMediaDataFrom(sd, f, 0)) {
        sd->loaded = true;
        CheckModelId(sd);
        Exercise(sd, 30999);
    }

    std::rewind(f);
    BeginOpen(sd);
    if (ExtractSensorDataBlock(sd, f)) {
        sd->loaded = true;
        CheckModelId(sd);
        Exercise(sd, 30999);
        Exercise(sd, claimed);
    }
    std::fclose(f);

    DateTime dt;
    const std::string head(reinterpret_cast<const char *>(data), size < 256 ? size : 256);
    ParseDateTime(head, &dt);
    if (StartFromName(head, &dt)) {
        FormatIsoLocal(FromLocalSeconds(LocalSeconds(dt) + claimed));
    }
    IsRecordingName(head);
    return 0;
}
