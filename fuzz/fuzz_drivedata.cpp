// Sensor-record extraction over arbitrary bytes: the box walk, the block layout, every lookup
// and the panel arithmetic that reads the records.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "drivedata/gsensor.h"
#include "drivedata/sensor_rows.h"
#include "drivedata/sensordata.h"

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
        Exercise(sd, int64_t{EntryCount(sd)} * 100);
        Exercise(sd, 30999);
        Exercise(sd, claimed);
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
    ParseDateTime(std::string(reinterpret_cast<const char *>(data), size < 256 ? size : 256), &dt);
    return 0;
}
