// Event detection over crafted G-sensor values: spikes, braking, the merging and ending rules,
// the threshold and the recording's ends.
#include <gtest/gtest.h>

#include <cmath>

#include "drivedata/events.h"
#include "tests/drivedata/rows.h"

namespace vt::drivedata {
namespace {

// A calm recording of `seconds`: gravity on Z (128 = 1 G), a little deterministic road noise.
std::vector<SensorRow> Calm(int seconds) {
    std::vector<SensorRow> rows;
    for (int i = 0; i < seconds * 10; ++i) {
        SensorRow r = test::Row(static_cast<uint64_t>(i) * 100);
        r.accel[0] = static_cast<int16_t>((i * 7) % 5 - 2);
        r.accel[1] = static_cast<int16_t>((i * 3) % 5 - 2);
        r.accel[2] = static_cast<int16_t>(128 + (i * 11) % 3 - 1);
        rows.push_back(r);
    }
    return rows;
}

// The same without noise, for cases that compare deviations exactly.
std::vector<SensorRow> Flat(int seconds) {
    std::vector<SensorRow> rows;
    for (int i = 0; i < seconds * 10; ++i) {
        rows.push_back(test::Row(static_cast<uint64_t>(i) * 100));
        rows.back().accel[kAxisZ] = 128;
    }
    return rows;
}

void Set(std::vector<SensorRow> *rows, int64_t ms, Axis axis, int raw) {
    (*rows)[static_cast<size_t>(ms / 100)].accel[axis] = static_cast<int16_t>(raw);
}

TEST(Events, CalmDrivingAndGravityFindNothing) {
    EXPECT_TRUE(FindEvents(Calm(30)).empty());
    EXPECT_TRUE(FindEvents({}).empty());
    // A slow tilt of the mounting (Z drifting by 2 G over 20 s) moves the median along.
    auto rows = Calm(20);
    for (size_t i = 0; i < rows.size(); ++i)
        rows[i].accel[2] = static_cast<int16_t>(128 + i * 256 / 200);
    EXPECT_TRUE(FindEvents(rows).empty());
}

TEST(Events, SingleRecordSpikeIsAnImpact) {
    auto rows = Calm(10);
    Set(&rows, 3000, kAxisX, -200);
    auto ev = FindEvents(rows);
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].time_ms, 3000);
    // The median of X around it is about 0; the deviation is close to 200/128 = 1.5625 G.
    EXPECT_NEAR(ev[0].peak_g, 1.5625, 0.03);
    EXPECT_EQ(ev[0].axis, kAxisX);
    EXPECT_EQ(ev[0].kind, EventKind::kImpact);
    EXPECT_EQ(ev[0].LengthMs(), 0);

    // Exactly: no noise, a spike of 192 on Y gives 1.50.
    std::vector<SensorRow> flat;
    for (int i = 0; i < 50; ++i) flat.push_back(test::Row(i * 100));
    flat[20].accel[kAxisY] = 192;
    ev = FindEvents(flat);
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].peak_g, 1.5);
    EXPECT_EQ(RoundG(ev[0].peak_g), 1.5);
    EXPECT_EQ(ev[0].axis, kAxisY);
}

TEST(Events, LongBrakingIsOneHarshEvent) {
    auto rows = Calm(20);
    // 1.5 s at -1.25 G, easing in and out over 0.2 s.
    Set(&rows, 3800, kAxisX, -80);
    Set(&rows, 3900, kAxisX, -120);
    for (int64_t ms = 4000; ms < 5500; ms += 100) Set(&rows, ms, kAxisX, -160);
    Set(&rows, 4700, kAxisX, -170);
    Set(&rows, 5500, kAxisX, -100);
    Set(&rows, 5600, kAxisX, -60);
    auto ev = FindEvents(rows);
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].begin_ms, 4000);  // the first record at the threshold, not the easing in
    EXPECT_EQ(ev[0].last_ms, 5500);   // the last record at half the threshold (60 / 128 is under)
    EXPECT_EQ(ev[0].time_ms, 4700);
    EXPECT_EQ(ev[0].axis, kAxisX);
    EXPECT_EQ(ev[0].kind, EventKind::kHarsh);
    EXPECT_NEAR(ev[0].peak_g, 170 / 128.0, 0.03);
}

TEST(Events, SpikesCloserThanHalfASecondMerge) {
    auto rows = Calm(10);
    Set(&rows, 2000, kAxisZ, 128 + 150);
    Set(&rows, 2300, kAxisZ, 128 - 200);  // 300 ms later, stronger
    auto ev = FindEvents(rows);
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].begin_ms, 2000);
    EXPECT_EQ(ev[0].time_ms, 2300);
    EXPECT_EQ(ev[0].axis, kAxisZ);
    EXPECT_EQ(ev[0].kind, EventKind::kImpact);  // 300 ms long

    // 500 ms apart: the second comes before d has been quiet for 500 ms; the event lasts 500 ms
    // and is still an impact.
    rows = Flat(10);
    Set(&rows, 2000, kAxisX, 150);
    Set(&rows, 2500, kAxisX, 150);
    ev = FindEvents(rows);
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].LengthMs(), 500);
    EXPECT_EQ(ev[0].kind, EventKind::kImpact);
    EXPECT_EQ(ev[0].time_ms, 2000);  // equal peaks: the first

    // 600 ms apart: two events. A record just under half the threshold in between does not hold
    // the first one open.
    rows = Flat(10);
    Set(&rows, 2000, kAxisX, 150);
    Set(&rows, 2300, kAxisX, 60);
    Set(&rows, 2600, kAxisX, 150);
    ev = FindEvents(rows);
    ASSERT_EQ(ev.size(), 2u);
    EXPECT_EQ(ev[0].time_ms, 2000);
    EXPECT_EQ(ev[1].time_ms, 2600);

    // Half the threshold 300 ms after the spike keeps it going; the event then lasts 800 ms.
    rows = Flat(10);
    Set(&rows, 2000, kAxisX, 150);
    Set(&rows, 2300, kAxisX, 70);
    Set(&rows, 2800, kAxisX, 70);
    ev = FindEvents(rows);
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].last_ms, 2800);
    EXPECT_EQ(ev[0].kind, EventKind::kHarsh);
}

TEST(Events, ThresholdDecides) {
    std::vector<SensorRow> flat;
    for (int i = 0; i < 100; ++i) flat.push_back(test::Row(i * 100));
    flat[30].accel[kAxisX] = 127;  // just under 1 G
    flat[60].accel[kAxisX] = 128;  // exactly 1 G reaches the threshold
    auto ev = FindEvents(flat);
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].time_ms, 6000);
    EXPECT_EQ(FindEvents(flat, 0.9).size(), 2u);
    EXPECT_TRUE(FindEvents(flat, 1.01).empty());
    // A vector of three components under the threshold each can still reach it.
    flat[60].accel[kAxisX] = 0;
    flat[80].accel[kAxisX] = 80;
    flat[80].accel[kAxisY] = 80;
    flat[80].accel[kAxisZ] = -80;  // |(80, 80, -80)| / 128 = 1.08
    ev = FindEvents(flat);
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_NEAR(ev[0].peak_g, std::sqrt(3.0) * 80 / 128, 1e-9);
    // Nonsense thresholds find nothing rather than everything.
    EXPECT_TRUE(FindEvents(flat, 0).empty());
    EXPECT_TRUE(FindEvents(flat, -1).empty());
    EXPECT_TRUE(FindEvents(flat, std::nan("")).empty());
}

TEST(Events, FirstAndLastSecondOfARecording) {
    auto rows = Calm(8);
    Set(&rows, 0, kAxisY, 200);
    Set(&rows, 7900, kAxisY, -200);
    auto ev = FindEvents(rows);
    ASSERT_EQ(ev.size(), 2u);
    EXPECT_EQ(ev[0].time_ms, 0);
    EXPECT_EQ(ev[1].time_ms, 7900);  // still open when the recording ends
    for (const auto &e : ev) {
        EXPECT_EQ(e.axis, kAxisY);
        EXPECT_EQ(e.kind, EventKind::kImpact);
        EXPECT_NEAR(e.peak_g, 200 / 128.0, 0.03);
    }
    // The median window is cut at the ends: a short recording still has a baseline.
    std::vector<SensorRow> shortrec;
    for (int i = 0; i < 3; ++i) shortrec.push_back(test::Row(i * 100));
    for (auto &r : shortrec) r.accel[kAxisZ] = 128;
    shortrec[2].accel[kAxisX] = 140;
    ev = FindEvents(shortrec);
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].time_ms, 200);
}

TEST(Events, MedianOfAnEvenWindowIsTheMeanOfTheMiddleTwo) {
    // Two records: the median of X is the mean of both, so each deviates by half the difference.
    std::vector<SensorRow> two = {test::Row(0), test::Row(100)};
    two[1].accel[kAxisX] = 256;
    auto d = Deviations(two);
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d[0].component[kAxisX], -1.0);
    EXPECT_EQ(d[1].component[kAxisX], 1.0);
    EXPECT_EQ(d[1].d, 1.0);
    // Records more than 5 s away are outside the window; exactly 5 s away are inside.
    std::vector<SensorRow> far = {test::Row(0), test::Row(5000), test::Row(5100)};
    far[0].accel[kAxisX] = 1000;
    far[1].accel[kAxisX] = 600;
    d = Deviations(far);
    EXPECT_EQ(d[0].component[kAxisX], 200 / 128.0);   // 1000 and 600: median 800
    EXPECT_EQ(d[1].component[kAxisX], 0.0);           // all three: median 600
    EXPECT_EQ(d[2].component[kAxisX], -300 / 128.0);  // 600 and 0: median 300
}

}  // namespace
}  // namespace vt::drivedata
