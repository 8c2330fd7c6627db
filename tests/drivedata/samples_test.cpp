// The bundled sample recordings, written by our recording writer in the camera's layout, checked
// against an independent demultiplexer.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "drivedata/gsensor.h"
#include "drivedata/sensor_rows.h"
#include "drivedata/trips.h"
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

        // Reading only the records finds the same ones as loading the whole media data.
        auto lean = std::make_unique<SensorData>();
        ASSERT_EQ(OpenRecordingRecords(lean.get(), p.c_str()), OpenResult::kOk);
        ASSERT_EQ(lean->media_image_length, 0u);
        for (uint32_t k = 0; k < n; ++k) {
            const uint8_t *a, *b;
            ASSERT_EQ(FindEntry(sd.get(), k, &a), Lookup::kFound);
            ASSERT_EQ(FindEntry(lean.get(), k, &b), Lookup::kFound);
            ASSERT_TRUE(std::equal(a, a + kRecordSize, b)) << "record " << k;
        }
        ASSERT_EQ(rows.size(), n);
        for (const SensorRow &r : rows) {
            ASSERT_TRUE(r.has_time) << r.time_ms << " " << r.text;
            ASSERT_TRUE(r.has_position) << r.time_ms;
        }
        GraphCurves curves;
        EXPECT_EQ(ComputeGraphCurves(sd.get(), int64_t{n} * 100, &curves), GraphResult::kCurves);
    }
}

TEST(SampleRecordings, TheBundledDriveIsOneTrip) {
    if (!std::filesystem::exists(test::SamplesDir() / "20261108_083000.mp4"))
        GTEST_SKIP() << "no sample recordings yet";
    std::vector<Trip> trips;
    std::string error;
    ASSERT_TRUE(ReadFolderTrips(test::SamplesDir().string(), 1.0, &trips, &error)) << error;
    ASSERT_EQ(trips.size(), 1u);
    const Trip &t = trips[0];
    ASSERT_EQ(t.files.size(), 3u);
    EXPECT_EQ(t.files[0].recording.name, "20261108_083000.mp4");
    EXPECT_EQ(t.files[2].offset_ms, 30000);
    EXPECT_EQ(FormatIsoLocal(t.start), "2026-11-08T08:30:00");
    EXPECT_GE(t.duration_ms, 44000);
    EXPECT_GT(t.distance_m, 100);
    EXPECT_TRUE(t.has_speed);
    // The scripted drive brakes, hits a pothole and has an impact in its first recording.
    EXPECT_FALSE(t.events.empty());
    EXPECT_GT(t.max_g, 1.0);
}

}  // namespace
}  // namespace vt::drivedata
