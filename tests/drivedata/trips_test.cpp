// Trips of a folder over recordings made with the recording writer: the 10 s rule, holes,
// another camera's files, names that are not times, and what a trip adds up.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "drivedata/trips.h"
#include "tests/common/testutil.h"
#include "tools/mkrec/mkrec.h"

namespace vt::drivedata {
namespace {

namespace fs = std::filesystem;

constexpr double kLat0 = 46.9480, kLon0 = 7.4474;
constexpr double kMetresPerSecond = 10;  // 36 km/h northward
const double kDegPerMetre = 180.0 / (3.14159265358979323846 * kEarthRadiusM);

struct Spike {
    int64_t at_ms;
    int x_raw;
};

// A recording of `records` records (one per 100 ms) whose first record lies `trip_s` seconds into
// a steady drive north.
void WriteDrive(const fs::path &path, size_t records, double trip_s,
                const std::string &model = mkrec::kDefaultModelId,
                const std::vector<Spike> &spikes = {}) {
    std::vector<mkrec::SensorSample> samples(records);
    for (size_t i = 0; i < records; ++i) {
        auto &s = samples[i];
        s.text[0] = "2026/11/08 08:30:00";
        s.latitude = kLat0 + (trip_s + i * 0.1) * kMetresPerSecond * kDegPerMetre;
        s.longitude = kLon0;
        s.az = 128;
        s.model_id = model;
        for (const Spike &k : spikes)
            if (static_cast<int64_t>(i) * 100 == k.at_ms) s.ax = k.x_raw;
    }
    mkrec::Recording rec;
    rec.records = mkrec::PackRecords(samples);
    std::string error;
    ASSERT_TRUE(mkrec::WriteRecording(rec, path.string(), &error)) << error;
}

std::vector<std::string> Names(const Trip &t) {
    std::vector<std::string> out;
    for (const auto &f : t.files) out.push_back(f.recording.name);
    return out;
}

std::vector<Trip> Read(const fs::path &folder) {
    std::vector<Trip> trips;
    std::string error;
    EXPECT_TRUE(ReadFolderTrips(folder.string(), 1.0, &trips, &error)) << error;
    return trips;
}

TEST(RecordingNames, StartTimes) {
    DateTime t;
    ASSERT_TRUE(StartFromName("20261108_083015.mp4", &t));
    EXPECT_EQ(FormatIsoLocal(t), "2026-11-08T08:30:15");
    ASSERT_TRUE(StartFromName("/card/DCIM/20240229_235959.MP4", &t));
    EXPECT_EQ(FormatIsoLocal(t), "2024-02-29T23:59:59");
    for (const char *bad : {"20230229_120000.mp4", "20261308_083000.mp4", "20261108_243000.mp4",
                            "20261108_086000.mp4", "20261100_083000.mp4", "20261108-083000.mp4",
                            "20261108_0830.mp4", "20261108_083000.mp4.bak", "2026110_8083000.mp4",
                            "x20261108_083000.mp4", "20261108_083000.avi", "clip.mp4", ""})
        EXPECT_FALSE(StartFromName(bad, &t)) << bad;

    // Local seconds count across days, months and leap years without a time zone.
    DateTime a{2026, 12, 31, 23, 59, 55}, b{2027, 1, 1, 0, 0, 5};
    EXPECT_EQ(LocalSeconds(b) - LocalSeconds(a), 10);
    EXPECT_EQ(LocalSeconds(DateTime{1970, 1, 1, 0, 0, 0}), 0);
    DateTime round = FromLocalSeconds(LocalSeconds(DateTime{2024, 2, 29, 12, 34, 56}));
    EXPECT_EQ(FormatIsoLocal(round), "2024-02-29T12:34:56");
    EXPECT_FALSE(IsRefusedName("20261108_083000.mp4"));
    EXPECT_TRUE(IsRefusedName("HDA0001.mp4"));
}

TEST(Trips, TenSecondRule) {
    test::TempDir dir;
    WriteDrive(dir / "20261108_083000.mp4", 150, 0);   // ends 08:30:15.0
    WriteDrive(dir / "20261108_083025.mp4", 149, 25);  // 10.0 s later: joins; ends 08:30:39.9
    WriteDrive(dir / "20261108_083050.mp4", 100, 50);  // 10.1 s later: a new trip
    WriteDrive(dir / "20261108_083100.mp4", 50, 60);   // right after its predecessor
    auto trips = Read(dir.path());
    ASSERT_EQ(trips.size(), 2u);
    EXPECT_EQ(Names(trips[0]),
              (std::vector<std::string>{"20261108_083000.mp4", "20261108_083025.mp4"}));
    EXPECT_EQ(Names(trips[1]),
              (std::vector<std::string>{"20261108_083050.mp4", "20261108_083100.mp4"}));
    EXPECT_EQ(trips[0].files[1].offset_ms, 25000);
    EXPECT_EQ(trips[0].duration_ms, 25000 + 14900);
    EXPECT_EQ(trips[1].duration_ms, 15000);
    EXPECT_EQ(FormatIsoLocal(trips[1].start), "2026-11-08T08:30:50");
}

TEST(Trips, HoleInTheMiddleSplitsTheTrip) {
    test::TempDir dir;
    WriteDrive(dir / "20261108_084000.mp4", 150, 0);
    WriteDrive(dir / "20261108_084015.mp4", 150, 15);
    WriteDrive(dir / "20261108_084030.mp4", 150, 30);
    ASSERT_EQ(Read(dir.path()).size(), 1u);
    fs::remove(dir / "20261108_084015.mp4");
    auto trips = Read(dir.path());
    ASSERT_EQ(trips.size(), 2u);
    EXPECT_EQ(Names(trips[1]), std::vector<std::string>{"20261108_084030.mp4"});
    EXPECT_EQ(trips[1].files[0].offset_ms, 0);
}

TEST(Trips, OnlyRecordingsTheWindowWouldPlay) {
    test::TempDir dir;
    WriteDrive(dir / "20261108_084000.mp4", 150, 0);
    WriteDrive(dir / "20261108_084015.mp4", 150, 15, "ZRDMODEL19");  // another camera
    WriteDrive(dir / "20261108_084030.mp4", 150, 30);
    // Good recordings under names that are not times, or that the window refuses.
    for (const char *name : {"clip.mp4", "HDA0001.mp4", "20261399_084010.mp4", "20261108_0840.mp4"})
        WriteDrive(dir / name, 150, 0);
    WriteDrive(dir / ".20261108_084015.mp4", 150, 15);  // hidden
    test::WriteFileBytes(dir / "20261108_084016.mp4", {0, 0, 0, 8, 'f', 'r', 'e', 'e'});
    fs::create_directory(dir / "20261108_084017.mp4");
    auto trips = Read(dir.path());
    ASSERT_EQ(trips.size(), 2u);
    EXPECT_EQ(Names(trips[0]), std::vector<std::string>{"20261108_084000.mp4"});
    EXPECT_EQ(Names(trips[1]), std::vector<std::string>{"20261108_084030.mp4"});

    // A copy through another system upper-cased the name of the missing piece: it closes the gap.
    fs::remove(dir / "20261108_084015.mp4");
    WriteDrive(dir / "20261108_084015.MP4", 150, 15);
    trips = Read(dir.path());
    ASSERT_EQ(trips.size(), 1u);
    EXPECT_EQ(Names(trips[0]),
              (std::vector<std::string>{"20261108_084000.mp4", "20261108_084015.MP4",
                                        "20261108_084030.mp4"}));

    std::string error;
    std::vector<Trip> none;
    EXPECT_FALSE(ReadFolderTrips((dir / "missing").string(), 1.0, &none, &error));
    EXPECT_NE(error.find("missing"), std::string::npos);
}

TEST(Trips, TotalsRunAcrossTheFiles) {
    test::TempDir dir;
    WriteDrive(dir / "20261108_083000.mp4", 150, 0, mkrec::kDefaultModelId, {{4000, 200}});
    WriteDrive(dir / "20261108_083020.mp4", 150, 20, mkrec::kDefaultModelId, {{2000, -300}});
    auto trips = Read(dir.path());
    ASSERT_EQ(trips.size(), 1u);
    const Trip &t = trips[0];
    // From the first fix at 0 s to the last at 34.9 s, the 5.1 s between the files included.
    EXPECT_NEAR(t.distance_m, 349, 1.0);
    EXPECT_NEAR(t.files[0].recording.distance_m, 149, 1.0);
    EXPECT_EQ(t.track.Fixes().size(), 300u);
    EXPECT_EQ(t.track.Fixes()[150].time_ms, 20000);
    ASSERT_TRUE(t.has_speed);
    EXPECT_NEAR(t.max_speed_kmh, 36, 1.5);
    EXPECT_NEAR(t.max_g, std::sqrt(300.0 * 300 + 128 * 128) / 128, 1e-9);
    ASSERT_EQ(t.events.size(), 2u);
    EXPECT_EQ(t.events[0].file, 0u);
    EXPECT_EQ(t.events[0].trip_ms, 4000);
    EXPECT_EQ(t.events[1].file, 1u);
    EXPECT_EQ(t.events[1].event.time_ms, 2000);
    EXPECT_EQ(t.events[1].trip_ms, 22000);
    EXPECT_EQ(RoundG(t.events[1].event.peak_g), 2.34);  // 300 / 128
}

TEST(Trips, GroupingNeedsNoFiles) {
    // Summaries in any order come out sorted as the list sorts them.
    std::vector<RecordingSummary> recs(3);
    const char *names[] = {"20261108_090025.mp4", "20261108_090000.mp4", "20261108_090015.mp4"};
    for (int i = 0; i < 3; ++i) {
        recs[i].name = names[i];
        recs[i].usable = true;
        recs[i].has_start = StartFromName(names[i], &recs[i].start);
        recs[i].duration_ms = 15000;
    }
    recs[2].usable = false;  // failed its model check
    auto trips = GroupTrips(recs);
    ASSERT_EQ(trips.size(), 1u);
    EXPECT_EQ(Names(trips[0]),
              (std::vector<std::string>{"20261108_090000.mp4", "20261108_090025.mp4"}));
    EXPECT_FALSE(trips[0].has_speed);
    EXPECT_EQ(trips[0].distance_m, 0);
    EXPECT_TRUE(GroupTrips({}).empty());
}

}  // namespace
}  // namespace vt::drivedata
