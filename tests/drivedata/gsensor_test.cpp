// The G-sensor panel's arithmetic: curve points, the time cursor, the readout texts.
#include <gtest/gtest.h>

#include <memory>

#include "drivedata/gsensor.h"
#include "tests/common/testutil.h"
#include "tests/drivedata/recording_builder.h"

namespace vt::drivedata {
namespace {

class GSensorTest : public ::testing::Test {
protected:
    // Opens a crafted recording whose record k has the X/Y/Z values given by `value(k)`.
    template <typename F>
    void Open(int records, F value, test::RecordingLayout *layout_out = nullptr) {
        test::RecordingPlan plan;
        for (int k = 0; k < records; ++k) {
            test::SensorRecord r;
            for (int a = 0; a < 3; ++a) r.accel[a] = value(k, a);
            plan.records.push_back(r);
        }
        test::RecordingLayout layout = test::BuildRecording(plan);
        if (layout_out) {
            *layout_out = layout;
            return;
        }
        auto p = dir_ / "rec.mp4";
        ASSERT_TRUE(test::WriteFileBytes(p, layout.bytes));
        ASSERT_EQ(OpenRecording(sd_.get(), p.c_str()), OpenResult::kOk);
    }
    void OpenBytes(const std::vector<uint8_t> &bytes, const char *name = "rec.mp4") {
        auto p = dir_ / name;
        ASSERT_TRUE(test::WriteFileBytes(p, bytes));
        OpenRecording(sd_.get(), p.c_str());
    }

    test::TempDir dir_;
    std::unique_ptr<SensorData> sd_ = std::make_unique<SensorData>();
};

TEST(GReadoutText, RawValuesInGWithTwoDecimals) {
    const struct {
        int16_t raw;
        const char *text;
    } cases[] = {{128, "1.00G"},   {-128, "-1.00G"},   {5, "0.03G"},        {0, "0.00G"},
                 {-5, "-0.03G"},   {-1, "-0.00G"},     {64, "0.50G"},       {129, "1.00G"},
                 {-300, "-2.34G"}, {32767, "255.99G"}, {-32768, "-256.00G"}};
    for (const auto &c : cases) EXPECT_EQ(FormatGReadout(c.raw), c.text) << c.raw;
}

TEST_F(GSensorTest, CurvePointsClampAndScale) {
    // X takes values that probe the clamp and the truncating division; Y = -X; Z = 0.
    const int16_t xs[] = {0, 7, 6, -6, -7, 280, 281, 1000, -280, -1000, 32767, -32767, 140};
    const int ys[] = {54, 53, 54, 54, 55, 14, 14, 14, 94, 94, 14, 94, 34};
    const int n = sizeof xs / sizeof xs[0];
    Open(n, [&](int k, int a) -> int16_t {
        return a == kAxisX ? xs[k] : a == kAxisY ? static_cast<int16_t>(-xs[k]) : 0;
    });
    GraphCurves c;
    ASSERT_EQ(ComputeGraphCurves(sd_.get(), 10000, &c), GraphResult::kCurves);
    ASSERT_GT(c.points[kAxisX].size(), static_cast<size_t>(n) + 1);
    EXPECT_EQ(c.points[kAxisX][0].x, 0);
    EXPECT_EQ(c.points[kAxisX][0].y, 54);
    for (int g = 0; g < n; ++g) {
        EXPECT_EQ(c.points[kAxisX][g + 1].y, ys[g]) << "x value " << xs[g];
        EXPECT_EQ(c.points[kAxisY][g + 1].y, 108 - ys[g]) << g;
        EXPECT_EQ(c.points[kAxisZ][g + 1].y, 54);
        // s = 10: x = (g + 1) * 591 / 100 + 4.
        EXPECT_EQ(c.points[kAxisX][g + 1].x, (g + 1) * 591 / 100 + 4);
    }
}

TEST_F(GSensorTest, RecordingOf30999MsEndsAtColumn596) {
    Open(310, [](int, int) -> int16_t { return 70; });
    GraphCurves c;
    ASSERT_EQ(ComputeGraphCurves(sd_.get(), 30999, &c), GraphResult::kCurves);
    for (const auto &pts : c.points) {
        ASSERT_EQ(pts.size(), 302u);  // the start point and slots 0 to 300
        EXPECT_EQ(pts.back().x, 596);
        EXPECT_EQ(pts.back().y, 44);
        EXPECT_EQ(pts[1].x, 1 * 591 / 300 + 4);
    }
}

TEST_F(GSensorTest, SlotsPastTheTableLieOnTheZeroLine) {
    Open(20, [](int, int) -> int16_t { return -140; });
    GraphCurves c;
    // The player says 5 s, the table has 2 s: slots 20 to 50 sit on the zero line.
    ASSERT_EQ(ComputeGraphCurves(sd_.get(), 5000, &c), GraphResult::kCurves);
    const auto &pts = c.points[kAxisZ];
    ASSERT_GE(pts.size(), 22u);
    EXPECT_EQ(pts[20].y, 74);
    for (size_t i = 21; i < pts.size(); ++i) EXPECT_EQ(pts[i].y, 54) << i;
    EXPECT_EQ(pts.back().x, 595);  // slot 49: 50 * 591 / 50 + 4

    // A duration of days with a short table must stay cheap and end at the right column.
    ASSERT_EQ(ComputeGraphCurves(sd_.get(), int64_t{3} * 24 * 3600 * 1000, &c),
              GraphResult::kCurves);
    EXPECT_LT(c.points[kAxisX].size(), 100u);
    EXPECT_EQ(c.points[kAxisX].back().x, 595);
    EXPECT_EQ(c.points[kAxisX].back().y, 54);
    ASSERT_EQ(ComputeGraphCurves(sd_.get(), INT64_MAX, &c), GraphResult::kCurves);
    EXPECT_EQ(c.points[kAxisX].back().x, 595);
}

TEST_F(GSensorTest, GraphOutcomesWithoutUsableData) {
    GraphCurves c;
    EXPECT_EQ(ComputeGraphCurves(sd_.get(), 60000, &c), GraphResult::kEmptyGrid);

    Open(12, [](int k, int) -> int16_t { return static_cast<int16_t>(k); });
    for (int64_t d : {999, 0, -5000})
        EXPECT_EQ(ComputeGraphCurves(sd_.get(), d, &c), GraphResult::kNoDuration) << d;

    // Entry 5 zeroed: drawing stops there.
    test::RecordingLayout layout;
    Open(
        12, [](int, int) -> int16_t { return 70; }, &layout);
    test::PutBe32(&layout.bytes, layout.stco_offset + 16 + 4 * 5, 0);
    OpenBytes(layout.bytes);
    ASSERT_TRUE(sd_->loaded);
    EXPECT_EQ(ComputeGraphCurves(sd_.get(), 1200, &c), GraphResult::kBadOffset);

    // An entry pointing outside the media data reads as zero instead.
    test::PutBe32(&layout.bytes, layout.stco_offset + 16 + 4 * 5, 0x7FFFFF00);
    OpenBytes(layout.bytes);
    ASSERT_EQ(ComputeGraphCurves(sd_.get(), 1200, &c), GraphResult::kCurves);
    EXPECT_EQ(c.points[kAxisY][5].y, 44);
    EXPECT_EQ(c.points[kAxisY][6].y, 54);
    EXPECT_EQ(c.points[kAxisY][7].y, 44);
}

TEST_F(GSensorTest, TimeCursorColumn) {
    EXPECT_FALSE([&] {
        int x;
        return TimeCursorX(sd_.get(), 60000, 0, &x);
    }());
    Open(10, [](int, int) -> int16_t { return 0; });
    const struct {
        int64_t duration;
        uint32_t position;
        int x;
    } cases[] = {
        {60000, 0, 57},      {60000, 30000, 353}, {60000, 60000, 650},
        {60000, 60001, 650}, {60999, 60500, 650}, {60000, 4000000000u, 650},
        {30999, 15000, 353}, {1000, 999, 649},    {1000, 500, 353},
    };
    for (const auto &c : cases) {
        int x = -1;
        ASSERT_TRUE(TimeCursorX(sd_.get(), c.duration, c.position, &x));
        EXPECT_EQ(x, c.x) << c.duration << " " << c.position;
    }
    int x;
    EXPECT_FALSE(TimeCursorX(sd_.get(), 999, 0, &x));  // under one second: no cursor
}

TEST_F(GSensorTest, ReadoutsFollowTheSlot) {
    ReadoutTexts t;
    UpdateReadouts(sd_.get(), true, 60000, 0, 0, &t);  // nothing loaded
    for (const auto &s : t.text) EXPECT_EQ(s, "0G");
    EXPECT_TRUE(sd_->readouts_frozen);

    test::RecordingLayout layout;
    Open(
        30, [](int k, int a) -> int16_t { return static_cast<int16_t>((a + 1) * 64 * (k - 10)); },
        &layout);
    test::PutBe32(&layout.bytes, layout.stco_offset + 16 + 4 * 25, 0);
    OpenBytes(layout.bytes);
    ASSERT_TRUE(sd_->loaded);

    UpdateReadouts(sd_.get(), true, 3000, 1, 1250, &t);  // slot 12
    EXPECT_EQ(t.text[kAxisX], "1.00G");
    EXPECT_EQ(t.text[kAxisY], "2.00G");
    EXPECT_EQ(t.text[kAxisZ], "3.00G");
    EXPECT_FALSE(sd_->readouts_frozen);

    UpdateReadouts(sd_.get(), true, 3000, 0, 150, &t);  // slot 1
    EXPECT_EQ(t.text[kAxisX], "-4.50G");
    EXPECT_EQ(t.text[kAxisZ], "-13.50G");

    // No player: texts unchanged, frozen.
    ReadoutTexts before = t;
    UpdateReadouts(sd_.get(), false, 3000, 0, 1250, &t);
    EXPECT_EQ(t.text[kAxisX], before.text[kAxisX]);
    EXPECT_TRUE(sd_->readouts_frozen);

    // A bad chunk offset leaves the texts and freezes them.
    UpdateReadouts(sd_.get(), true, 3000, 2, 2550, &t);
    EXPECT_EQ(t.text[kAxisX], before.text[kAxisX]);
    EXPECT_TRUE(sd_->readouts_frozen);

    // A seconds value past the duration does the same.
    for (int64_t seconds : {int64_t{4}, INT64_MAX}) {
        UpdateReadouts(sd_.get(), true, 3000, seconds, 1250, &t);
        EXPECT_EQ(t.text[kAxisX], before.text[kAxisX]);
        EXPECT_TRUE(sd_->readouts_frozen);
    }

    // Past the table: "0G" everywhere, and the update completes.
    UpdateReadouts(sd_.get(), true, 60000, 3, 3000, &t);
    for (const auto &s : t.text) EXPECT_EQ(s, "0G");
    EXPECT_FALSE(sd_->readouts_frozen);
}

TEST_F(GSensorTest, BlockLayoutUsesItsOwnColumnsAndRawReadouts) {
    std::vector<test::BlockRecord> recs(15);
    for (int j = 0; j < 15; ++j) recs[j].accel[kAxisX] = static_cast<int16_t>(7 * j);
    recs[1].accel[kAxisY] = -129;
    OpenBytes(test::BuildBlockFile(recs), "drive.dat");
    ASSERT_TRUE(ExtractSensorData(sd_.get(), (dir_ / "drive.dat").c_str()));

    GraphCurves c;
    ASSERT_EQ(ComputeGraphCurves(sd_.get(), 2000, &c), GraphResult::kCurves);
    const auto &pts = c.points[kAxisX];
    // Slots 0-14 from the block, slot 15 past it, then the zero line's run to slot 19.
    ASSERT_EQ(pts.size(), 18u);
    for (int g = 0; g <= 15; ++g) {
        EXPECT_EQ(pts[g + 1].x, (g + 1) * 585 / 20 + 10);
        EXPECT_EQ(pts[g + 1].y, g < 15 ? 54 - g : 54) << g;
    }
    EXPECT_EQ(pts.back().x, 595);

    ReadoutTexts t;
    UpdateReadouts(sd_.get(), true, 3000, 0, 100, &t);
    EXPECT_EQ(t.text[kAxisX], "7");
    EXPECT_EQ(t.text[kAxisY], "-129");
    EXPECT_FALSE(sd_->readouts_frozen);
    UpdateReadouts(sd_.get(), true, 3000, 0, 1500, &t);
    for (const auto &s : t.text) EXPECT_EQ(s, "0");
}

}  // namespace
}  // namespace vt::drivedata
