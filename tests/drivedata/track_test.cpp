// Distance and speed over crafted fixes: steady driving, a stop, GPS jumps, records without a fix.
#include <gtest/gtest.h>

#include "drivedata/track.h"
#include "tests/drivedata/rows.h"

namespace vt::drivedata {
namespace {

using test::NorthAt;
using test::Row;

double SpeedAt(const Track &t, int64_t ms) {
    double v = -1;
    return t.SpeedKmhAt(ms, &v) ? v : -1;
}

TEST(GreatCircle, KnownDistances) {
    // One degree of a great circle is R * pi / 180, along a meridian and along the equator.
    const double degree = kEarthRadiusM * 3.14159265358979323846 / 180;
    EXPECT_NEAR(GreatCircleM(10, 20, 11, 20), degree, 1e-6);
    EXPECT_NEAR(GreatCircleM(0, 179.5, 0, -179.5), degree, 1e-6);  // across the date line
    EXPECT_NEAR(GreatCircleM(0, 0, 0, 180), kEarthRadiusM * 3.14159265358979323846, 1e-3);
    EXPECT_EQ(GreatCircleM(46.9, 7.44, 46.9, 7.44), 0);
    // A degree of longitude at 60 degrees north is about half as long.
    EXPECT_NEAR(GreatCircleM(60, 0, 60, 1), degree / 2, 30);
}

TEST(Track, SteadyDrivingGivesItsSpeedAndDistance) {
    auto rows = NorthAt(72, 100);  // 20 m/s: 2 m per record
    Track t;
    t.AddRows(rows);
    ASSERT_EQ(t.Fixes().size(), 100u);
    EXPECT_NEAR(t.DistanceM(), 99 * 2.0, 1e-6);
    EXPECT_NEAR(t.DistanceToM(10), 20.0, 1e-6);
    for (int64_t ms : {500, 1000, 4200, 9400}) EXPECT_NEAR(SpeedAt(t, ms), 72.0, 1e-6) << ms;
    // The first and last half second have no fix on one side.
    for (int64_t ms : {0, 400, 9500, 9900}) EXPECT_EQ(SpeedAt(t, ms), -1) << ms;
    // A playback position between records takes the record of its slot.
    double v = -1;
    EXPECT_FALSE(t.SpeedKmhAt(4250, &v));
    ASSERT_TRUE(t.SpeedKmhAtPosition(4299, &v));
    EXPECT_NEAR(v, 72.0, 1e-6);
    EXPECT_FALSE(t.SpeedKmhAtPosition(9550, &v));
    double max = 0;
    ASSERT_TRUE(t.MaxSpeedKmh(RecordTimes(rows), &max));
    EXPECT_NEAR(max, 72.0, 1e-6);
}

TEST(Track, StandingStillIsZeroNotUndefined) {
    std::vector<SensorRow> rows;
    for (int i = 0; i < 30; ++i) rows.push_back(Row(i * 100, 46.9, 7.44, true));
    Track t;
    t.AddRows(rows);
    EXPECT_EQ(t.DistanceM(), 0);
    EXPECT_EQ(SpeedAt(t, 1500), 0);

    // Driving, stopping for two seconds, driving on: the distance counts only the moving parts.
    auto drive = NorthAt(36, 60);  // 1 m per record
    for (int i = 20; i < 40; ++i) drive[i].latitude = drive[19].latitude;
    for (int i = 40; i < 60; ++i) drive[i].latitude -= 20 * test::kDegPerMetre;
    Track d;
    d.AddRows(drive);
    EXPECT_NEAR(d.DistanceM(), 19 + 1 + 19, 1e-6);  // 0..19, the step 39->40, 40..59
    EXPECT_NEAR(SpeedAt(d, 3000), 0, 1e-9);
    EXPECT_NEAR(SpeedAt(d, 1000), 36, 1e-6);
    EXPECT_NEAR(SpeedAt(d, 1700), 25.2, 1e-6);  // fixes 12 and 22: 7 m, the car stopped at 19
}

TEST(Track, GpsJumpIsLeftOutOfDistanceAndSpeed) {
    auto rows = NorthAt(72, 100);
    rows[50].longitude += 0.05;  // about 3.8 km east for one record, then back
    Track t;
    t.AddRows(rows);
    EXPECT_TRUE(t.JumpInto(50));
    EXPECT_TRUE(t.JumpInto(51));
    EXPECT_FALSE(t.JumpInto(52));
    EXPECT_NEAR(t.DistanceM(), 97 * 2.0, 1e-6);  // two steps out of 99 lost
    // Speed is undefined whenever a jump lies between the two fixes it spans.
    EXPECT_NEAR(SpeedAt(t, 4400), 72, 1e-6);  // fixes 39 and 49
    for (int64_t ms : {4500, 5000, 5500}) EXPECT_EQ(SpeedAt(t, ms), -1) << ms;
    EXPECT_NEAR(SpeedAt(t, 5600), 72, 1e-6);  // fixes 51 and 61: the jump lies before

    // A position that jumps and stays (the receiver re-acquiring) loses one step only.
    auto moved = NorthAt(72, 20);
    for (int i = 10; i < 20; ++i) moved[i].latitude += 0.01;  // 1.1 km
    Track m;
    m.AddRows(moved);
    EXPECT_NEAR(m.DistanceM(), 18 * 2.0, 1e-6);

    // Just under 100 m in 100 ms is still a step; just over is a jump.
    Track edge;
    edge.Add({0, 10, 20});
    edge.Add({100, 10 + 99.9 * test::kDegPerMetre, 20});
    edge.Add({200, 10 + 200.1 * test::kDegPerMetre, 20});
    EXPECT_FALSE(edge.JumpInto(1));
    EXPECT_TRUE(edge.JumpInto(2));
    EXPECT_NEAR(edge.DistanceM(), 99.9, 1e-6);
}

TEST(Track, RecordsWithoutAFix) {
    // No fix at all: nothing to measure, every speed undefined.
    std::vector<SensorRow> none;
    for (int i = 0; i < 50; ++i) none.push_back(Row(i * 100));
    Track t;
    t.AddRows(none);
    EXPECT_TRUE(t.Empty());
    EXPECT_EQ(t.DistanceM(), 0);
    double v;
    EXPECT_FALSE(t.MaxSpeedKmh(RecordTimes(none), &v));

    // A fix missing 500 ms before or after leaves that record's speed undefined only.
    auto rows = NorthAt(54, 40);
    rows[10].has_position = false;
    rows[10].latitude = rows[10].longitude = 0;
    Track gap;
    gap.AddRows(rows);
    EXPECT_EQ(SpeedAt(gap, 500), -1);
    EXPECT_EQ(SpeedAt(gap, 1500), -1);
    EXPECT_NEAR(SpeedAt(gap, 1000), 54, 1e-6);     // its own fix is not needed
    EXPECT_NEAR(gap.DistanceM(), 39 * 1.5, 1e-6);  // the step over the hole still counts

    // A tunnel: 8 s without a fix, then 160 m further on; a jump is judged by the time elapsed.
    Track tunnel;
    tunnel.Add({0, 46.9, 7.44});
    tunnel.Add({8000, 46.9 + 160 * test::kDegPerMetre, 7.44});
    EXPECT_FALSE(tunnel.JumpInto(1));
    EXPECT_NEAR(tunnel.DistanceM(), 160, 1e-6);
}

TEST(Track, OutOfOrderFixesAreDropped) {
    Track t;
    t.Add({1000, 1, 1});
    t.Add({1000, 2, 2});
    t.Add({900, 3, 3});
    t.Add({1100, 1, 1});
    ASSERT_EQ(t.Fixes().size(), 2u);
    EXPECT_EQ(t.Fixes()[1].time_ms, 1100);
    EXPECT_EQ(t.IndexAt(1000), 0);
    EXPECT_EQ(t.IndexAt(1050), -1);
    EXPECT_EQ(t.IndexAtOrBefore(1050), 0);
    EXPECT_EQ(t.IndexAtOrBefore(999), -1);
}

}  // namespace
}  // namespace vt::drivedata
