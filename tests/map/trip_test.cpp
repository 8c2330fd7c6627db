// A trip's recordings and times: locating a trip time in its files, and reading the bundled
// three-file drive from its folder.
#include <gtest/gtest.h>

#include <QDir>
#include <filesystem>

#include "app/map/trip.h"
#include "tests/common/testutil.h"

namespace vt::map {
namespace {

QString Sample(const char *name) {
    return QDir(QString::fromStdString(test::SamplesDir().string()))
        .absoluteFilePath(QString::fromLatin1(name));
}

Trip TwoFilesWithAGap() {
    Trip t;
    t.files.push_back({QStringLiteral("/r/a.mp4"), QStringLiteral("a.mp4"), 0, 10000});
    t.files.push_back({QStringLiteral("/r/b.mp4"), QStringLiteral("b.mp4"), 15000, 10000});
    t.duration_ms = 25000;
    return t;
}

TEST(TripTime, LocatesFilesAcrossGapsAndEnds) {
    const Trip t = TwoFilesWithAGap();
    struct Case {
        int64_t trip_ms;
        int file;
        int64_t ms;
    };
    const Case
        cases[] =
            {
                {-50, 0, 0},       {0, 0, 0},         {9999, 0, 9999},
                {10000, 1, 0},  // the gap goes to the next start
                {12000, 1, 0},     {15000, 1, 0},     {24999, 1, 9999},
                {25000, 1, 10000}, {99999, 1, 10000},
            };
    for (const Case &c : cases) {
        const FilePosition p = LocateTripTime(t, c.trip_ms);
        EXPECT_EQ(p.file, c.file) << c.trip_ms;
        EXPECT_EQ(p.ms, c.ms) << c.trip_ms;
    }
    EXPECT_EQ(LocateTripTime(Trip{}, 100).file, -1);

    EXPECT_EQ(TripTimeOf(t, QStringLiteral("/r/b.mp4"), 2500), 17500);
    EXPECT_EQ(TripTimeOf(t, QStringLiteral("/r/b.mp4"), 20000), 25000);  // clamped to the recording
    EXPECT_EQ(TripTimeOf(t, QStringLiteral("/r/c.mp4"), 0), -1);
}

TEST(TripTime, ClockAsTheCameraWroteIt) {
    Trip t;
    EXPECT_EQ(FormatTripClock(t, 3723000, false), QStringLiteral("1:02:03"));  // no start: elapsed
    t.has_start = true;
    t.start = {2026, 3, 29, 1, 59, 50};  // the night clocks go forward in much of Europe
    EXPECT_EQ(FormatTripClock(t, 0, true), QStringLiteral("2026-03-29 01:59:50"));
    EXPECT_EQ(FormatTripClock(t, 20000, false), QStringLiteral("02:00:10"));
    t.start = {2026, 12, 31, 23, 59, 59};
    EXPECT_EQ(FormatTripClock(t, 1500, true), QStringLiteral("2027-01-01 00:00:00"));
}

TEST(TripLoading, TheBundledDriveIsOneTripOfThreeRecordings) {
    Trip trip;
    QString error;
    ASSERT_TRUE(LoadTripOf(Sample("20261108_083015.mp4"), 1.0, &trip, &error))
        << error.toStdString();
    ASSERT_EQ(trip.files.size(), 3u);
    EXPECT_EQ(trip.files[0].name, QStringLiteral("20261108_083000.mp4"));
    EXPECT_EQ(trip.files[1].offset_ms, 15000);
    EXPECT_EQ(trip.files[2].offset_ms, 30000);
    EXPECT_EQ(FormatTripClock(trip, 0, true), QStringLiteral("2026-11-08 08:30:00"));
    EXPECT_GE(trip.duration_ms, 45000);
    EXPECT_LE(trip.duration_ms, 45200);
    ASSERT_EQ(trip.points.size(), 3u * 151u);
    EXPECT_TRUE(std::is_sorted(
        trip.points.begin(), trip.points.end(),
        [](const TrackPoint &a, const TrackPoint &b) { return a.trip_ms < b.trip_ms; }));
    // 45 s at walking pace rising to 45-62 km/h, with a stop after the impact.
    EXPECT_GT(trip.distance_m, 350);
    EXPECT_LT(trip.distance_m, 800);
    EXPECT_GT(trip.max_speed_kmh, 45);
    EXPECT_LT(trip.max_speed_kmh, 75);
    // The impact in the second recording, 11.5 s in.
    bool impact = false;
    for (const TripEvent &e : trip.events)
        if (std::abs(e.trip_ms - 26500) <= 200 && e.peak_g > 3) impact = true;
    EXPECT_TRUE(impact);
    // The same trip whichever of its recordings is open.
    Trip from_last;
    ASSERT_TRUE(LoadTripOf(Sample("20261108_083030.mp4"), 1.0, &from_last, &error));
    EXPECT_EQ(from_last.files.size(), 3u);
    EXPECT_EQ(from_last.distance_m, trip.distance_m);
}

// A card as the list sees it: the drive, another camera's recording and a clip with a plain name
// among its files, and a later drive.
TEST(TripLoading, OnlyTheRecordingsThatJoinAreReadIntoTheTrip) {
    test::TempDir card;
    namespace fs = std::filesystem;
    const fs::path samples = test::SamplesDir();
    for (const char *n : {"20261108_083000.mp4", "20261108_083015.mp4", "20261108_083030.mp4"})
        fs::create_symlink(samples / n, card / n);
    fs::create_symlink(samples / "other-model/20261109_071500.mp4", card / "20261108_083020.mp4");
    fs::create_symlink(samples / "20261108_083000.mp4",
                       card / "20261108_083016.mp4a");  // not listed
    fs::create_symlink(samples / "h263/20261109_120000.mp4", card / "clip.mp4");
    fs::create_symlink(samples / "20261108_083000.mp4",
                       card / "20261108_083056.mp4");  // 10.9 s later
    fs::create_symlink(samples / "20261108_083015.mp4", card / "20261108_083116.mp4");

    Trip trip;
    QString error;
    const QDir dir(QString::fromStdString(card.path().string()));
    ASSERT_TRUE(LoadTripOf(dir.absoluteFilePath(QStringLiteral("20261108_083015.mp4")), 1.0, &trip,
                           &error));
    QStringList names;
    for (const TripFile &f : trip.files) names << f.name;
    EXPECT_EQ(names.join(u' '),
              QStringLiteral("20261108_083000.mp4 20261108_083015.mp4 20261108_083030.mp4"));

    // The later drive: 083056 starts 10.9 s after 083030 ends (45.1 s), so it begins a trip of its
    // own, which 083116 joins.
    ASSERT_TRUE(LoadTripOf(dir.absoluteFilePath(QStringLiteral("20261108_083116.mp4")), 1.0, &trip,
                           &error));
    ASSERT_EQ(trip.files.size(), 2u);
    EXPECT_EQ(trip.files[0].name, QStringLiteral("20261108_083056.mp4"));
    EXPECT_EQ(trip.files[1].offset_ms, 20000);

    // Opened on its own, the plain-named clip is a trip of one recording without a clock.
    ASSERT_TRUE(LoadTripOf(dir.absoluteFilePath(QStringLiteral("clip.mp4")), 1.0, &trip, &error));
    EXPECT_EQ(trip.files.size(), 1u);
    EXPECT_FALSE(trip.has_start);
    EXPECT_FALSE(LoadTripOf(dir.absoluteFilePath(QStringLiteral("20261108_083020.mp4")), 1.0, &trip,
                            &error));
}

TEST(TripLoading, AnotherCamerasRecordingIsRefusedAndALoneOneIsItsOwnTrip) {
    Trip trip;
    QString error;
    EXPECT_FALSE(LoadTripOf(Sample("other-model/20261109_071500.mp4"), 1.0, &trip, &error));
    EXPECT_FALSE(error.isEmpty());
    ASSERT_TRUE(LoadTripOf(Sample("h263/20261109_120000.mp4"), 1.0, &trip, &error));
    EXPECT_EQ(trip.files.size(), 1u);
    EXPECT_EQ(trip.files[0].offset_ms, 0);
}

}  // namespace
}  // namespace vt::map
