// The control layer's plain parts: the data-track texts and their lookup, the time string and the
// volume word.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/datatrack.h"

namespace vt::test {
namespace {

using app::DataTrackTable;

std::unique_ptr<DataTrackTable> TableOf(int entries, int step_ms) {
    auto t = std::make_unique<DataTrackTable>();
    app::ClearDataTrack(t.get());
    for (int i = 0; i < entries; ++i) {
        const std::string text = "rec" + std::to_string(i);
        app::AddDataTrackEntry(t.get(), i * step_ms, reinterpret_cast<const uint8_t *>(text.data()),
                               static_cast<int32_t>(text.size()));
    }
    return t;
}

std::string Lookup(DataTrackTable *t, int32_t time) {
    char buf[4096];
    const int n = app::LookupDataTrackText(t, time, buf, sizeof buf);
    EXPECT_EQ(static_cast<size_t>(n), std::string(buf).size());
    return buf;
}

TEST(DataTrack, PlaybackStepsThroughTheEntries) {
    auto t = TableOf(50, 100);
    // Pictures at 33 ms apart, as a 30 fps recording presents them.
    for (int time = 0; time < 4900; time += 33) {
        const int expect = time % 100 == 0 && time > 0 ? time / 100 - 1 : time / 100;
        const std::string got = Lookup(t.get(), time);
        // At an exact stamp either neighbour is acceptable; elsewhere the covering entry.
        if (time % 100 == 0)
            EXPECT_TRUE(got == "rec" + std::to_string(time / 100) ||
                        got == "rec" + std::to_string(expect))
                << time;
        else EXPECT_EQ(got, "rec" + std::to_string(expect)) << time;
    }
    EXPECT_EQ(Lookup(t.get(), 4950), "rec49");
    EXPECT_EQ(Lookup(t.get(), 99999), "rec49") << "the last entry stays up to the end";
}

TEST(DataTrack, JumpsFindTheRightEntryAtOnce) {
    auto t = TableOf(100, 100);
    EXPECT_EQ(Lookup(t.get(), 1050), "rec10");
    EXPECT_EQ(Lookup(t.get(), 1150), "rec11");
    // Forward by two seconds, as fast forward does: not one entry per picture behind.
    EXPECT_EQ(Lookup(t.get(), 3150), "rec31");
    // Backwards: the search starts again.
    EXPECT_EQ(Lookup(t.get(), 550), "rec5");
    EXPECT_EQ(Lookup(t.get(), 7250), "rec72");
    EXPECT_EQ(Lookup(t.get(), 20), "rec0");
}

TEST(DataTrack, NoTextBeforeTheFirstStampOrWithoutEntries) {
    auto t = std::make_unique<DataTrackTable>();
    app::ClearDataTrack(t.get());
    EXPECT_EQ(Lookup(t.get(), 0), "");
    const std::string one = "only";
    app::AddDataTrackEntry(t.get(), 500, reinterpret_cast<const uint8_t *>(one.data()), 4);
    EXPECT_EQ(Lookup(t.get(), 100), "");
    EXPECT_EQ(Lookup(t.get(), 600), "only");
    EXPECT_EQ(Lookup(t.get(), 700), "only");
}

TEST(DataTrack, KeepsTheFirst1024SamplesAndTerminatesFullTexts) {
    auto t = TableOf(1100, 100);
    EXPECT_EQ(t->count, 1024);
    EXPECT_EQ(Lookup(t.get(), 102350), "rec1023");

    auto u = std::make_unique<DataTrackTable>();
    app::ClearDataTrack(u.get());
    std::string full(1024, 'x');
    ASSERT_TRUE(
        app::AddDataTrackEntry(u.get(), 0, reinterpret_cast<const uint8_t *>(full.data()), 1024));
    EXPECT_EQ(Lookup(u.get(), 0).size(), 1023u);
    char small[8];
    EXPECT_EQ(app::LookupDataTrackText(u.get(), 0, small, sizeof small), 7);
    EXPECT_EQ(std::string(small), "xxxxxxx");
}

TEST(TimeText, SwitchesToHoursWithTheDuration) {
    struct Case {
        int32_t d, p;
        const char *text;
    };
    const Case cases[] = {
        {60000, 30000, "00:30/01:00"},
        {0, 0, "00:00/00:00"},
        {-5, -100, "00:00/00:00"},
        {59999, 59999, "00:59/00:59"},
        {3599999, 61000, "01:01/59:59"},
        {3600000, 61000, "00:01:01/01:00:00"},
        {4500000, 4499000, "01:14:59/01:15:00"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(app::FormatTimeText(c.d, c.p), c.text) << c.d << " " << c.p;
}

TEST(Volume, PercentToBothChannels) {
    struct Case {
        int percent;
        uint32_t word;
    };
    for (Case c : {Case{50, 0x7FFF7FFFu}, Case{0, 0}, Case{100, 0xFFFFFFFFu}, Case{10, 0x19991999u},
                   Case{110, 0xFFFFFFFFu}, Case{-10, 0}})
        EXPECT_EQ(app::VolumeWordOfPercent(c.percent), c.word) << c.percent;
}

}  // namespace
}  // namespace vt::test
