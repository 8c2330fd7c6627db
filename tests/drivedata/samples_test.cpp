// The bundled sample recordings, written by our recording writer in the camera's layout, checked
// against an independent demultiplexer.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "drivedata/gsensor.h"
#include "drivedata/sensor_rows.h"
#include "tests/common/testutil.h"

namespace vt::drivedata {
namespace {

TEST(SampleRecordings, RecordsMatchTheReferenceDemuxer) {
    std::vector<std::filesystem::path> samples;
    std::error_code ec;
    for (const auto &e : std::filesystem::recursive_directory_iterator(test::SamplesDir(), ec))
        if (e.is_regular_file() && e.path().extension() == ".mp4") samples.push_back(e.path());
    if (samples.empty()) GTEST_SKIP() << "no sample recordings yet";
    if (!test::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";

    test::TempDir dir;
    auto sd = std::make_unique<SensorData>();
    for (const auto &p : samples) {
        SCOPED_TRACE(p.string());
        if (p.parent_path().filename() == "other-model") {
            EXPECT_EQ(OpenRecording(sd.get(), p.c_str()), OpenResult::kInvalid);
            continue;
        }
        ASSERT_EQ(OpenRecording(sd.get(), p.c_str()), OpenResult::kOk);
        auto out = dir / "data.bin";
        ASSERT_EQ(test::Run("ffmpeg -nostdin -v error -y -i " + test::Quote(p.string()) +
                            " -map 0:d:0 -c copy -f data " + test::Quote(out.string())),
                  0);
        auto reference = test::ReadFileBytes(out);
        uint32_t n = EntryCount(sd.get());
        ASSERT_EQ(reference.size(), size_t{n} * kRecordSize);
        for (uint32_t k = 0; k < n; ++k) {
            const uint8_t *rec;
            ASSERT_EQ(FindEntry(sd.get(), k, &rec), Lookup::kFound);
            ASSERT_TRUE(std::equal(rec, rec + kRecordSize, reference.begin() + k * kRecordSize))
                << "record " << k;
        }

        // Every record of the camera has a clock text and a position.
        std::vector<SensorRow> rows;
        CollectSensorRows(sd.get(), &rows);
        ASSERT_EQ(rows.size(), n);
        for (const SensorRow &r : rows) {
            ASSERT_TRUE(r.has_time) << r.time_ms << " " << r.text;
            ASSERT_TRUE(r.has_position) << r.time_ms;
        }
        GraphCurves curves;
        EXPECT_EQ(ComputeGraphCurves(sd.get(), int64_t{n} * 100, &curves), GraphResult::kCurves);
    }
}

}  // namespace
}  // namespace vt::drivedata
