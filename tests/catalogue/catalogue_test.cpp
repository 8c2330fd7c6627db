// The catalogue over real recordings and a real SQLite file: what it remembers, what it must read
// again, damaged files, and two processes writing to it at once.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>

#include "catalogue/catalogue.h"
#include "tests/common/testutil.h"
#include "tools/mkrec/mkrec.h"

namespace vt::catalogue {
namespace {

namespace fs = std::filesystem;
using drivedata::RecordingSummary;
using drivedata::Trip;

constexpr double kLat0 = 46.9480, kLon0 = 7.4474;
const double kDegPerMetre = 180.0 / (3.14159265358979323846 * drivedata::kEarthRadiusM);

// A recording of `records` records whose first lies `trip_s` seconds into a drive north at
// 10 m/s that bends east now and then (so thinning has bends to lose); a spike of `spike_raw` on
// X at 2 s makes an event.
void WriteDrive(const fs::path &path, size_t records, double trip_s, int spike_raw = 0) {
    std::vector<mkrec::SensorSample> samples(records);
    for (size_t i = 0; i < records; ++i) {
        auto &s = samples[i];
        const double t = trip_s + i * 0.1;
        s.text[0] = "2026/11/08 08:30:00";
        s.latitude = kLat0 + t * 10 * kDegPerMetre;
        s.longitude = kLon0 + ((i / 3) % 2 ? 3 : 0) * kDegPerMetre;
        s.az = 128;
        if (spike_raw != 0 && i == 20) s.ax = spike_raw;
    }
    mkrec::Recording rec;
    rec.records = mkrec::PackRecords(samples);
    std::string error;
    ASSERT_TRUE(mkrec::WriteRecording(rec, path.string(), &error)) << error;
}

// `count` recordings of 3 s, three to a trip (3 s apart), trips 60 s apart; every fourth has an
// event. Files are copies of two masters, as a camera's would be alike.
void MakeFolder(const fs::path &dir, int count) {
    fs::create_directories(dir);
    WriteDrive(dir / "plain.tmp", 30, 0);
    WriteDrive(dir / "spike.tmp", 30, 0, 300);
    for (int i = 0; i < count; ++i) {
        const int s = (i / 3) * 60 + (i % 3) * 3;
        char name[32];
        std::snprintf(name, sizeof name, "20261108_%02d%02d%02d.mp4", 8 + s / 3600, s / 60 % 60,
                      s % 60);
        fs::copy_file(dir / (i % 4 == 0 ? "spike.tmp" : "plain.tmp"), dir / name);
    }
    fs::remove(dir / "plain.tmp");
    fs::remove(dir / "spike.tmp");
}

std::vector<Trip> Trips(Catalogue *cat, const fs::path &folder, double threshold = 1.0) {
    std::vector<Trip> trips;
    std::string error;
    EXPECT_TRUE(ReadFolderTrips(cat, folder.string(), threshold, &trips, &error)) << error;
    return trips;
}

std::vector<Trip> TripsUncached(const fs::path &folder) {
    std::vector<Trip> trips;
    std::string error;
    EXPECT_TRUE(drivedata::ReadFolderTrips(folder.string(), 1.0, &trips, &error)) << error;
    return trips;
}

// What the tool and the window show of trips must not depend on where they came from.
void ExpectSameTrips(const std::vector<Trip> &got, const std::vector<Trip> &want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t t = 0; t < got.size(); ++t) {
        ASSERT_EQ(got[t].files.size(), want[t].files.size()) << t;
        for (size_t f = 0; f < got[t].files.size(); ++f)
            EXPECT_EQ(got[t].files[f].recording.name, want[t].files[f].recording.name);
        EXPECT_EQ(drivedata::FormatIsoLocal(got[t].start),
                  drivedata::FormatIsoLocal(want[t].start));
        EXPECT_EQ(got[t].duration_ms, want[t].duration_ms);
        EXPECT_NEAR(got[t].distance_m, want[t].distance_m, 1e-6) << t;
        EXPECT_EQ(got[t].has_speed, want[t].has_speed);
        EXPECT_DOUBLE_EQ(got[t].max_speed_kmh, want[t].max_speed_kmh);
        EXPECT_DOUBLE_EQ(got[t].max_g, want[t].max_g);
        ASSERT_EQ(got[t].events.size(), want[t].events.size()) << t;
        for (size_t e = 0; e < got[t].events.size(); ++e) {
            EXPECT_EQ(got[t].events[e].trip_ms, want[t].events[e].trip_ms);
            EXPECT_DOUBLE_EQ(got[t].events[e].event.peak_g, want[t].events[e].event.peak_g);
            EXPECT_EQ(got[t].events[e].event.kind, want[t].events[e].event.kind);
        }
    }
}

struct Fixture {
    test::TempDir tmp;
    fs::path folder = tmp / "card";
    std::string file = (tmp / "cache" / "catalogue.sqlite").string();
};

TEST(Catalogue, SecondReadingComesFromTheCatalogueAndMatches) {
    Fixture fx;
    MakeFolder(fx.folder, 12);
    const auto want = TripsUncached(fx.folder);
    ASSERT_EQ(want.size(), 4u);

    Catalogue cat;
    std::string error;
    ASSERT_TRUE(cat.Open(fx.file, &error)) << error;
    EXPECT_FALSE(cat.Rebuilt());
    ExpectSameTrips(Trips(&cat, fx.folder), want);
    EXPECT_EQ(cat.LastReadCount(), 12u);
    EXPECT_EQ(cat.RowCount(fx.folder.string()), 12u);

    // Another object (as another run of the program would) reads nothing from the files, and a
    // differently spelt path of the same folder is the same folder.
    Catalogue again;
    ASSERT_TRUE(again.Open(fx.file, &error));
    ExpectSameTrips(Trips(&again, fx.folder.string() + "/./"), want);
    EXPECT_EQ(again.LastReadCount(), 0u);

    // Thinned, yet the ends and the distance of each recording are those of the whole track.
    std::vector<RecordingSummary> sums;
    ASSERT_TRUE(again.ReadFolder(fx.folder.string(), 1.0, &sums, &error));
    ASSERT_EQ(sums.size(), 12u);
    EXPECT_LT(sums[0].track.Fixes().size(), 30u);
    EXPECT_EQ(sums[0].track.Fixes().front().time_ms, 0);
    EXPECT_EQ(sums[0].track.Fixes().back().time_ms, 2900);

    // Another threshold finds other events: nothing of the first one is reused.
    Trips(&again, fx.folder, 5.0);
    EXPECT_EQ(again.LastReadCount(), 12u);
}

TEST(Catalogue, ChangedFilesAreReadAgainAndVanishedOnesDropOut) {
    Fixture fx;
    MakeFolder(fx.folder, 6);
    Catalogue cat;
    std::string error;
    ASSERT_TRUE(cat.Open(fx.file, &error)) << error;
    auto before = Trips(&cat, fx.folder);
    ASSERT_EQ(before.size(), 2u);
    ASSERT_EQ(before[1].events.size(), 1u);

    // Replaced by a recording of another length, with an event: size and time differ.
    const fs::path changed = fx.folder / "20261108_080100.mp4";
    ASSERT_TRUE(fs::exists(changed));
    WriteDrive(changed, 25, 0, -400);
    fs::last_write_time(changed, fs::last_write_time(changed) + std::chrono::seconds(5));
    // Same size, only the time differs (copied back over with different content).
    const fs::path touched = fx.folder / "20261108_080006.mp4";
    WriteDrive(touched, 30, 0, 300);
    fs::last_write_time(touched, fs::last_write_time(touched) + std::chrono::seconds(5));
    fs::remove(fx.folder / "20261108_080003.mp4");

    auto after = Trips(&cat, fx.folder);
    EXPECT_EQ(cat.LastReadCount(), 2u);
    ExpectSameTrips(after, TripsUncached(fx.folder));
    ASSERT_EQ(after.size(), 2u);
    EXPECT_EQ(after[0].files.size(), 2u);
    EXPECT_EQ(after[0].events.size(), 2u);  // the touched one now has an event
    EXPECT_EQ(after[1].events.size(), 2u);  // and so has the replaced one
    EXPECT_EQ(cat.RowCount(fx.folder.string()), 5u);

    // A folder that is gone is an error, not an empty catalogue.
    std::vector<RecordingSummary> sums;
    EXPECT_FALSE(cat.ReadFolder((fx.tmp / "nowhere").string(), 1.0, &sums, &error));
}

TEST(Catalogue, DamagedFilesAreRebuilt) {
    Fixture fx;
    MakeFolder(fx.folder, 60);
    const auto want = TripsUncached(fx.folder);
    {
        Catalogue cat;
        std::string error;
        ASSERT_TRUE(cat.Open(fx.file, &error)) << error;
        Trips(&cat, fx.folder);
    }
    const auto good = test::ReadFileBytes(fx.file);
    ASSERT_GT(good.size(), 4u * 4096) << "too small to damage in the middle";

    auto reopen = [&](const char *what) {
        Catalogue cat;
        std::string error;
        EXPECT_TRUE(cat.Open(fx.file, &error)) << what << ": " << error;
        ExpectSameTrips(Trips(&cat, fx.folder), want);
        return cat.Rebuilt();
    };

    // Truncated in the middle of its pages, or to nothing at all.
    test::WriteFileBytes(fx.file,
                         std::vector<uint8_t>(good.begin(), good.begin() + good.size() / 2));
    EXPECT_TRUE(reopen("truncated"));
    test::WriteFileBytes(fx.file, std::vector<uint8_t>(good.begin(), good.begin() + 100));
    EXPECT_TRUE(reopen("header only"));
    test::WriteFileBytes(fx.file, {});
    reopen("empty");

    // Another schema version, and a database that is not ours at all.
    {
        test::WriteFileBytes(fx.file, good);
        sqlite3 *db = nullptr;
        ASSERT_EQ(sqlite3_open(fx.file.c_str(), &db), SQLITE_OK);
        sqlite3_exec(db, "PRAGMA user_version=99", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        EXPECT_TRUE(reopen("other version"));
        fs::remove(fx.file);
        ASSERT_EQ(sqlite3_open(fx.file.c_str(), &db), SQLITE_OK);
        sqlite3_exec(db, "CREATE TABLE t(x)", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        EXPECT_TRUE(reopen("foreign"));
    }

    // A changed byte in a row's data that SQLite's page checks cannot see: the row's checksum
    // does, and the recording is read again.
    {
        test::WriteFileBytes(fx.file, good);
        sqlite3 *db = nullptr;
        ASSERT_EQ(sqlite3_open(fx.file.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db,
                               "UPDATE recording SET data = zeroblob(length(data)) WHERE rowid IN "
                               "(SELECT rowid FROM recording LIMIT 1)",
                               nullptr, nullptr, nullptr),
                  SQLITE_ERROR);  // WITHOUT ROWID: address the row by its key instead
        ASSERT_EQ(sqlite3_exec(db,
                               "UPDATE recording SET data = CAST(x'00' || substr(data, 2) AS BLOB) "
                               "WHERE name = '20261108_080000.mp4'",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        EXPECT_EQ(sqlite3_changes(db), 1) << sqlite3_errmsg(db);
        ASSERT_EQ(sqlite3_exec(db,
                               "UPDATE recording SET size = size + 1 "
                               "WHERE name = '20261108_080003.mp4'",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
        Catalogue cat;
        std::string error;
        ASSERT_TRUE(cat.Open(fx.file, &error));
        EXPECT_FALSE(cat.Rebuilt());
        ExpectSameTrips(Trips(&cat, fx.folder), want);
        EXPECT_EQ(cat.LastReadCount(), 2u);
    }
}

TEST(Catalogue, RandomBytesGiveTheRightAnswerNeverACrash) {
    Fixture fx;
    MakeFolder(fx.folder, 30);
    const auto want = TripsUncached(fx.folder);
    {
        Catalogue cat;
        std::string error;
        ASSERT_TRUE(cat.Open(fx.file, &error)) << error;
        Trips(&cat, fx.folder);
    }
    const auto good = test::ReadFileBytes(fx.file);
    ASSERT_FALSE(good.empty());
    int rebuilt = 0;
    for (unsigned seed = 1; seed <= 40; ++seed) {
        std::mt19937 rng(seed);
        auto bytes = good;
        // A burst of garbage somewhere, sometimes in the header.
        const size_t at = seed % 5 == 0 ? rng() % 100 : rng() % bytes.size();
        const size_t len = 1 + rng() % 64;
        for (size_t i = at; i < std::min(bytes.size(), at + len); ++i)
            bytes[i] = static_cast<uint8_t>(rng());
        ASSERT_TRUE(test::WriteFileBytes(fx.file, bytes));
        Catalogue cat;
        std::string error;
        ASSERT_TRUE(cat.Open(fx.file, &error)) << "seed " << seed << ": " << error;
        ExpectSameTrips(Trips(&cat, fx.folder), want);
        rebuilt += cat.Rebuilt() ? 1 : 0;
    }
    EXPECT_GT(rebuilt, 0);
}

// Two processes cataloguing at once (the window and the tool, or two windows): each gets right
// answers, and the file comes out whole with every row of both folders.
TEST(Catalogue, TwoProcessesShareTheFile) {
    Fixture fx;
    MakeFolder(fx.folder, 120);
    MakeFolder(fx.tmp / "other", 90);
    const auto want = TripsUncached(fx.folder);
    const auto want_other = TripsUncached(fx.tmp / "other");

    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        // Its own connection, its own order of work; the exit status tells the parent.
        bool ok = true;
        for (int round = 0; round < 3 && ok; ++round) {
            Catalogue cat;
            std::string error;
            std::vector<Trip> trips;
            ok = cat.Open(fx.file, &error) &&
                 ReadFolderTrips(&cat, (fx.tmp / "other").string(), 1.0, &trips, &error) &&
                 trips.size() == want_other.size() &&
                 ReadFolderTrips(&cat, fx.folder.string(), 1.0, &trips, &error) &&
                 trips.size() == want.size();
        }
        _exit(ok ? 0 : 1);
    }
    for (int round = 0; round < 3; ++round) {
        Catalogue cat;
        std::string error;
        ASSERT_TRUE(cat.Open(fx.file, &error)) << error;
        EXPECT_FALSE(cat.Rebuilt());
        ExpectSameTrips(Trips(&cat, fx.folder), want);
        ExpectSameTrips(Trips(&cat, fx.tmp / "other"), want_other);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    Catalogue cat;
    std::string error;
    ASSERT_TRUE(cat.Open(fx.file, &error));
    EXPECT_FALSE(cat.Rebuilt());
    EXPECT_EQ(cat.RowCount(fx.folder.string()), 120u);
    EXPECT_EQ(cat.RowCount((fx.tmp / "other").string()), 90u);
    ExpectSameTrips(Trips(&cat, fx.folder), want);
    EXPECT_EQ(cat.LastReadCount(), 0u);
}

TEST(Catalogue, CancelKeepsWhatWasRead) {
    Fixture fx;
    MakeFolder(fx.folder, 20);
    Catalogue cat;
    std::string error;
    ASSERT_TRUE(cat.Open(fx.file, &error));
    std::atomic<bool> cancel{false};
    std::vector<RecordingSummary> sums;
    size_t last_done = 0, last_total = 0;
    EXPECT_FALSE(cat.ReadFolder(fx.folder.string(), 1.0, &sums, &error, &cancel,
                                [&](size_t done, size_t total) {
                                    last_done = done;
                                    last_total = total;
                                    if (done == 8) cancel = true;
                                }));
    EXPECT_EQ(last_done, 8u);
    EXPECT_EQ(last_total, 20u);
    EXPECT_EQ(cat.RowCount(fx.folder.string()), 8u);
    cancel = false;
    ASSERT_TRUE(cat.ReadFolder(fx.folder.string(), 1.0, &sums, &error, &cancel));
    EXPECT_EQ(cat.LastReadCount(), 12u);
    EXPECT_EQ(sums.size(), 20u);
}

TEST(Catalogue, ThinnedTracksKeepEndsAndJumps) {
    drivedata::Track track;
    for (int i = 0; i < 50; ++i) track.Add({i * 100, kLat0 + i * 1e-5, kLon0});
    track.Add({5000, kLat0 + 1, kLon0});  // a GPS jump
    for (int i = 51; i < 60; ++i) track.Add({i * 100, kLat0 + 1 + i * 1e-5, kLon0});
    const auto thin = ThinTrack(track).Fixes();
    std::vector<int64_t> times;
    for (const auto &f : thin) times.push_back(f.time_ms);
    EXPECT_EQ(times, (std::vector<int64_t>{0, 1000, 2000, 3000, 4000, 4900, 5000, 5900}));
    EXPECT_TRUE(ThinTrack(drivedata::Track()).Empty());
}

}  // namespace
}  // namespace vt::catalogue
