// Finding the sensor records of crafted recordings, intact and damaged.
#include <gtest/gtest.h>

#include <memory>

#include "drivedata/sensordata.h"
#include "tests/common/testutil.h"
#include "tests/drivedata/recording_builder.h"

namespace vt::drivedata {
namespace {

using test::BuildRecording;
using test::RecordingLayout;
using test::RecordingPlan;
using test::SensorRecord;

// Records whose X value is the slot number, so a lookup's answer names its slot.
RecordingPlan NumberedPlan(int n) {
    RecordingPlan plan;
    for (int i = 0; i < n; ++i) {
        SensorRecord r;
        r.accel[0] = static_cast<int16_t>(i);
        r.accel[1] = static_cast<int16_t>(-i);
        r.accel[2] = 128;
        plan.records.push_back(r);
    }
    return plan;
}

class SensorDataTest : public ::testing::Test {
protected:
    std::string Write(const std::vector<uint8_t> &bytes, const std::string &name = "rec.mp4") {
        auto p = dir_ / name;
        EXPECT_TRUE(test::WriteFileBytes(p, bytes));
        return p.string();
    }
    int SlotOf(uint64_t t_ms) {
        const uint8_t *rec;
        if (FindRecord(sd_.get(), t_ms, &rec) != Lookup::kFound) return -1;
        return RecordAccel(rec, kAxisX);
    }

    test::TempDir dir_;
    std::unique_ptr<SensorData> sd_ = std::make_unique<SensorData>();
};

TEST_F(SensorDataTest, FindsEveryRecordOfTheCameraLayout) {
    auto path = Write(BuildRecording(NumberedPlan(50)).bytes);
    ASSERT_EQ(OpenRecording(sd_.get(), path.c_str()), OpenResult::kOk);
    EXPECT_TRUE(sd_->loaded);
    EXPECT_TRUE(sd_->mp4_layout);
    EXPECT_STREQ(sd_->model_id, "ZRDMODEL25");
    ASSERT_EQ(EntryCount(sd_.get()), 50u);
    for (int k = 0; k < 50; ++k) EXPECT_EQ(SlotOf(k * 100 + 50), k);

    const uint8_t *rec;
    ASSERT_EQ(FindRecord(sd_.get(), 1234, &rec), Lookup::kFound);
    EXPECT_EQ(RecordAccel(rec, kAxisY), -12);
    EXPECT_EQ(RecordAccel(rec, kAxisZ), 128);

    // 100 ms slots; a slot past the table has no record.
    const struct {
        uint64_t t;
        int slot;
    } cases[] = {{0, 0}, {99, 0}, {100, 1}, {199, 1}, {4999, 49}, {5000, -1}, {~uint64_t{0}, -1}};
    for (const auto &c : cases) EXPECT_EQ(SlotOf(c.t), c.slot) << "t=" << c.t;
    EXPECT_EQ(FindRecord(sd_.get(), 5000, &rec), Lookup::kPastTable);
    EXPECT_EQ(rec, nullptr);
}

TEST_F(SensorDataTest, UpperCaseExtensionIsReadLikeLowerCase) {
    // Cards copied through other systems carry "X.MP4": the same recordings, read the same way.
    auto bytes = BuildRecording(NumberedPlan(3)).bytes;
    auto upper = Write(bytes, "REC.MP4");
    auto mixed = Write(bytes, "rec.Mp4");
    EXPECT_TRUE(IsMp4LayoutPath(upper.c_str()));
    EXPECT_TRUE(IsMp4LayoutPath(mixed.c_str()));
    EXPECT_TRUE(IsMp4LayoutPath("a.mp4"));
    EXPECT_FALSE(IsMp4LayoutPath("a.mp4.bak"));
    EXPECT_FALSE(IsMp4LayoutPath("mp4"));
    EXPECT_FALSE(IsMp4LayoutPath(""));

    for (const auto &p : {upper, mixed}) {
        ASSERT_EQ(OpenRecording(sd_.get(), p.c_str()), OpenResult::kOk) << p;
        EXPECT_TRUE(sd_->mp4_layout);
        EXPECT_TRUE(sd_->loaded);
        EXPECT_EQ(SlotOf(250), 2);
    }
    // Any other name still takes the block layout, which an MP4 file does not pass.
    auto other = Write(bytes, "rec.avi");
    EXPECT_EQ(OpenRecording(sd_.get(), other.c_str()), OpenResult::kInvalid);
    EXPECT_FALSE(sd_->loaded);
    EXPECT_EQ(OpenRecordingMp4(sd_.get(), other.c_str()), OpenResult::kOk);
}

// Each damage is written over an intact recording; every one must be refused cleanly.
TEST_F(SensorDataTest, RefusesDamagedRecordings) {
    struct Damage {
        const char *name;
        void (*apply)(RecordingLayout *);
    };
    const Damage damages[] = {
        {"first box size 0", [](RecordingLayout *l) { test::PutBe32(&l->bytes, 0, 0); }},
        {"fourth box size 0",
         [](RecordingLayout *l) { test::PutBe32(&l->bytes, l->mdat_offset - 16, 0); }},
        {"mdat size 0", [](RecordingLayout *l) { test::PutBe32(&l->bytes, l->mdat_offset, 0); }},
        {"mdat size 4", [](RecordingLayout *l) { test::PutBe32(&l->bytes, l->mdat_offset, 4); }},
        {"mvhd larger than mdat",
         [](RecordingLayout *l) { test::PutBe32(&l->bytes, l->moov_offset + 8, 0x7FFFFFF0); }},
        {"tkhd size 0",
         [](RecordingLayout *l) { test::PutBe32(&l->bytes, l->data_trak_offset + 8, 0); }},
        {"chunk-offset box larger than mdat",
         [](RecordingLayout *l) { test::PutBe32(&l->bytes, l->stco_offset, 0x01000000); }},
        {"truncated in moov", [](RecordingLayout *l) { l->bytes.resize(l->moov_offset + 40); }},
        {"truncated in mdat", [](RecordingLayout *l) { l->bytes.resize(l->mdat_offset + 100); }},
        {"truncated in ftyp", [](RecordingLayout *l) { l->bytes.resize(6); }},
        {"wrong model", [](RecordingLayout *l) { l->bytes[l->record_offsets[0] + 121] = 'X'; }},
        {"first chunk offset 0",
         [](RecordingLayout *l) { test::PutBe32(&l->bytes, l->stco_offset + 16, 0); }},
        {"first chunk offset negative",
         [](RecordingLayout *l) { test::PutBe32(&l->bytes, l->stco_offset + 16, 0x80000000u); }},
        {"first chunk offset past mdat",
         [](RecordingLayout *l) {
             test::PutBe32(&l->bytes, l->stco_offset + 16, static_cast<uint32_t>(l->moov_offset));
         }},
        {"first chunk offset before mdat",
         [](RecordingLayout *l) { test::PutBe32(&l->bytes, l->stco_offset + 16, 8); }},
        {"empty table", [](RecordingLayout *l) { test::PutBe32(&l->bytes, l->stco_offset, 16); }},
    };
    for (const auto &d : damages) {
        RecordingLayout layout = BuildRecording(NumberedPlan(4));
        d.apply(&layout);
        auto path = Write(layout.bytes);
        EXPECT_NE(OpenRecording(sd_.get(), path.c_str()), OpenResult::kOk) << d.name;
        EXPECT_FALSE(sd_->loaded) << d.name;
        EXPECT_FALSE(sd_->mp4_layout) << d.name;
    }
    EXPECT_EQ(OpenRecording(sd_.get(), ""), OpenResult::kInvalid);
    EXPECT_EQ(OpenRecording(sd_.get(), (dir_.path() / "missing.mp4").c_str()),
              OpenResult::kInvalid);
    EXPECT_FALSE(LoadMediaData(sd_.get(), (dir_.path() / "missing.mp4").c_str()));
}

TEST_F(SensorDataTest, BadLaterOffsetsFindNoRecord) {
    RecordingLayout layout = BuildRecording(NumberedPlan(5));
    test::PutBe32(&layout.bytes, layout.stco_offset + 16 + 4, 0);            // entry 1
    test::PutBe32(&layout.bytes, layout.stco_offset + 16 + 8, 0xFFFFFFFF);   // entry 2: -1
    test::PutBe32(&layout.bytes, layout.stco_offset + 16 + 12, 0x7FFFFFFF);  // entry 3: far away
    // Entry 4: its record would run past the end of the media data.
    test::PutBe32(&layout.bytes, layout.stco_offset + 16 + 16,
                  static_cast<uint32_t>(layout.moov_offset - 100));
    auto path = Write(layout.bytes);
    ASSERT_EQ(OpenRecording(sd_.get(), path.c_str()), OpenResult::kOk);
    const Lookup expected[] = {Lookup::kFound,       Lookup::kBadOffset,   Lookup::kBadOffset,
                               Lookup::kOutsideData, Lookup::kOutsideData, Lookup::kPastTable};
    for (uint64_t k = 0; k < 6; ++k) {
        const uint8_t *rec;
        EXPECT_EQ(FindEntry(sd_.get(), k, &rec), expected[k]) << "entry " << k;
    }
}

TEST_F(SensorDataTest, KeepsTablesOfMoreThan8188Records) {
    // 9000 entries make a chunk-offset box of 36,016 bytes: more than a signed 16-bit size.
    auto path = Write(BuildRecording(NumberedPlan(9000)).bytes);
    ASSERT_EQ(OpenRecording(sd_.get(), path.c_str()), OpenResult::kOk);
    EXPECT_EQ(sd_->chunk_box_size, 16u + 4 * 9000);
    EXPECT_EQ(EntryCount(sd_.get()), 9000u);
    EXPECT_EQ(SlotOf(8999 * 100), 8999);
    EXPECT_EQ(SlotOf(8189 * 100), 8189);
    EXPECT_EQ(SlotOf(9000 * 100), -1);
}

TEST_F(SensorDataTest, FindsRecordsPastTheTenMebibyteImage) {
    // 40 records 300 KB apart: the media data is about 12 MB, the last records lie past 10 MiB.
    RecordingPlan plan = NumberedPlan(40);
    plan.filler_between = 300 * 1024;
    RecordingLayout layout = BuildRecording(plan);
    ASSERT_GT(layout.record_offsets.back(), kMediaImageSize + 4096);
    auto path = Write(layout.bytes);
    ASSERT_EQ(OpenRecording(sd_.get(), path.c_str()), OpenResult::kOk);
    EXPECT_EQ(sd_->media_image_length, kMediaImageSize);
    for (int k = 0; k < 40; ++k) EXPECT_EQ(SlotOf(k * 100), k) << k;
}

TEST_F(SensorDataTest, ChunkTableLargerThanItsBufferIsCut) {
    // 80,000 entries (320,016 bytes) all naming the one record; the buffer holds 76,797.
    RecordingPlan plan = NumberedPlan(1);
    plan.filler_between = 0;
    plan.filler_before = 400 * 1024;
    RecordingLayout probe = BuildRecording(plan);
    plan.override_offsets = true;
    plan.chunk_offsets.assign(80000, static_cast<int32_t>(probe.record_offsets[0]));
    auto path = Write(BuildRecording(plan).bytes);
    ASSERT_EQ(OpenRecording(sd_.get(), path.c_str()), OpenResult::kOk);
    EXPECT_EQ(EntryCount(sd_.get()), (kChunkBufferSize - 12) / 4);
    EXPECT_EQ(SlotOf(76796ull * 100), 0);
    EXPECT_EQ(SlotOf(76797ull * 100), -1);
}

TEST_F(SensorDataTest, ReopeningForgetsThePreviousRecording) {
    auto big = Write(BuildRecording(NumberedPlan(30)).bytes, "big.mp4");
    auto small = Write(BuildRecording(NumberedPlan(2)).bytes, "small.mp4");
    ASSERT_EQ(OpenRecording(sd_.get(), big.c_str()), OpenResult::kOk);
    sd_->graph_cached = true;
    EXPECT_EQ(OpenRecording(sd_.get(), (dir_.path() / "none.mp4").c_str()), OpenResult::kInvalid);
    EXPECT_FALSE(sd_->graph_cached);
    ASSERT_EQ(OpenRecording(sd_.get(), small.c_str()), OpenResult::kOk);
    EXPECT_EQ(SlotOf(2900), -1);  // not the big recording's slot 29
}

TEST_F(SensorDataTest, ReadsTheBlockLayout) {
    std::vector<test::BlockRecord> recs(5);
    for (int j = 0; j < 5; ++j) recs[j].accel[1] = static_cast<int16_t>(-300 * j);
    auto path = Write(test::BuildBlockFile(recs), "drive.dat");
    ASSERT_TRUE(ExtractSensorData(sd_.get(), path.c_str()));
    EXPECT_FALSE(sd_->mp4_layout);
    EXPECT_TRUE(sd_->loaded);
    EXPECT_EQ(sd_->block_length, 101u + 36 * 5);
    for (int j = 0; j < 5; ++j) {
        const uint8_t *rec;
        ASSERT_TRUE(FindBlockRecord(sd_.get(), j * 100 + 99, &rec));
        EXPECT_EQ(ReadLe16(rec + kBlockAccelOffset[kAxisY]), -300 * j);
    }
    const uint8_t *rec;
    EXPECT_FALSE(FindBlockRecord(sd_.get(), 500, &rec));
    EXPECT_FALSE(CheckModelId(sd_.get()));

    // Zero leading word or zero skip length: not a block file.
    auto bytes = test::BuildBlockFile(recs);
    auto zero_word = bytes;
    test::PutBe32(&zero_word, 0, 0);
    auto zero_skip = bytes;
    test::PutBe32(&zero_skip, 4, 0);
    auto truncated = bytes;
    truncated.resize(12);
    for (const auto &b : {zero_word, zero_skip, truncated})
        EXPECT_FALSE(ExtractSensorData(sd_.get(), Write(b, "bad.dat").c_str()));
}

}  // namespace
}  // namespace vt::drivedata
