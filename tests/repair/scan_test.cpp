#include <gtest/gtest.h>

#include <cstring>

#include "engine/io/fault.h"
#include "engine/repair/repair.h"
#include "tests/common/testutil.h"
#include "tests/repair/repair_testutil.h"

namespace {

using namespace vt::test::repair;
using vt::test::TempDir;

const char *const kKindName[3] = {"video", "audio", "data"};

// Every recovered sample is the uncut file's sample of the same number, byte for byte; every
// sample the cut left whole is recovered, except those of the stretch the cut fell into.
void ExpectFaithful(const Truth &truth, uint64_t cut, const RepairScan &scan, bool audio_expected,
                    double *share_num, double *share_den) {
    for (int k = 0; k < 3; ++k) {
        const auto &got = scan.samples[k];
        const auto &want = truth.samples[k];
        ASSERT_LE(got.size(), want.size()) << kKindName[k];
        for (size_t i = 0; i < got.size(); ++i) {
            ASSERT_EQ(uint64_t(got[i].offset), want[i].offset) << kKindName[k] << " sample " << i;
            ASSERT_EQ(got[i].size, want[i].size) << kKindName[k] << " sample " << i;
            ASSERT_LE(got[i].offset + got[i].size, cut);
        }
        size_t whole = 0;
        while (whole < want.size() && want[whole].offset + want[whole].size <= cut) ++whole;
        if (k == 1 && !audio_expected) {
            EXPECT_TRUE(got.empty());
            continue;
        }
        // Whole samples lost may only be those after the last complete sensor record.
        uint64_t last_record_end =
            scan.samples[2].empty() ? 0
                                    : scan.samples[2].back().offset + scan.samples[2].back().size;
        for (size_t i = got.size(); i < whole; ++i)
            EXPECT_GT(want[i].offset, last_record_end)
                << kKindName[k] << " sample " << i << " lost";
        *share_num += double(got.size());
        *share_den += double(whole);
    }
}

TEST(RepairScan, CutsAnywhereRecoverEveryWholeSampleByteForByte) {
    Bytes full = MakeRecording(6.0);
    if (full.empty()) GTEST_SKIP() << "ffmpeg is needed to encode the test streams";
    Truth truth;
    ASSERT_TRUE(ReadTruth(full, &truth));
    RepairLayout layout;
    ASSERT_EQ(RepairLearnLayoutFromBytes(full.data(), full.size(), &layout), ME_OK);
    EXPECT_TRUE(layout.have_video && layout.have_audio && layout.have_data);
    EXPECT_EQ(layout.audio_rate, 22050u);

    const uint64_t mdat_payload = 112;
    const auto &v = truth.samples[0], &a = truth.samples[1], &d = truth.samples[2];
    std::vector<std::pair<std::string, uint64_t>> cuts = {
        {"just after the media-data header", mdat_payload},
        {"inside the first picture", v[0].offset + v[0].size / 2},
        {"inside a picture", v[40].offset + 17},
        {"at a picture's end", v[41].offset + v[41].size},
        {"inside an audio chunk", a[30].offset + a[30].size - 3},
        {"between two audio frames", a[31].offset},
        {"inside a sensor record", d[20].offset + 60},
        {"right after a sensor record", d[21].offset + d[21].size},
        {"in the movie box", full.size() - 100},
        {"just before the movie box", d.back().offset + d.back().size},
    };
    double num = 0, den = 0;
    for (bool reference : {true, false}) {
        for (const auto &[what, cut] : cuts) {
            SCOPED_TRACE(what + (reference ? " with reference" : " without reference"));
            RepairScan scan;
            // As on a card whose camera left the media-data box open: the scan may run into the
            // movie box's first bytes.
            ASSERT_EQ(RepairScanBytes(full.data() + mdat_payload, cut - mdat_payload, mdat_payload,
                                      reference ? &layout : nullptr, &scan),
                      ME_OK);
            ExpectFaithful(truth, cut, scan, reference, &num, &den);
            EXPECT_EQ(scan.damaged_stretches, 0u);
            if (!reference && cut > d[0].offset) {
                EXPECT_TRUE(scan.audio_left_out);
            }
        }
    }
    RecordProperty("recovered_share", std::to_string(num / den));
    std::printf("recovered share of whole samples: %.4f\n", num / den);
}

}  // namespace

namespace {

bool SameSamples(const RepairScan &a, const RepairScan &b) {
    for (int k = 0; k < 3; ++k) {
        if (a.samples[k].size() != b.samples[k].size()) return false;
        for (size_t i = 0; i < a.samples[k].size(); ++i)
            if (a.samples[k][i].offset != b.samples[k][i].offset ||
                a.samples[k][i].size != b.samples[k][i].size)
                return false;
    }
    return true;
}

TEST(RepairScan, FileLargerThanTheScanWindowReadsLikeTheSameBytesInMemory) {
    Bytes full = MakeRecording(6.0, true, 56);
    if (full.empty()) GTEST_SKIP() << "ffmpeg is needed to encode the test streams";
    ASSERT_GT(full.size(), 26u << 20);
    TempDir dir;
    auto good = dir / "good.mp4", broken = dir / "broken.mp4";
    vt::test::WriteFileBytes(good, full);
    Bytes cut(full.begin(), full.end() - 300000);
    vt::test::WriteFileBytes(broken, cut);
    RepairLayout layout;
    ASSERT_EQ(RepairLearnLayout(good.c_str(), &layout), ME_OK);
    RepairScan from_file, from_memory;
    ASSERT_EQ(RepairScanFile(broken.c_str(), &layout, &from_file), ME_OK);
    ASSERT_EQ(RepairScanBytes(cut.data() + 112, cut.size() - 112, 112, &layout, &from_memory),
              ME_OK);
    EXPECT_EQ(from_file.outcome, REPAIR_REBUILT);
    EXPECT_TRUE(SameSamples(from_file, from_memory));
    EXPECT_GT(from_file.samples[2].size(), 400u);
    RepairScan intact;
    ASSERT_EQ(RepairScanFile(good.c_str(), &layout, &intact), ME_OK);
    EXPECT_EQ(intact.outcome, REPAIR_NOTHING_TO_DO);
}

TEST(RepairScan, UnreadableOrShrinkingCardIsReportedNotGuessedAt) {
    Bytes full = MakeRecording(6.0);
    if (full.empty()) GTEST_SKIP() << "ffmpeg is needed to encode the test streams";
    TempDir dir;
    auto broken = dir / "broken.mp4";
    Bytes cut(full.begin(), full.begin() + full.size() * 3 / 4);
    vt::test::WriteFileBytes(broken, cut);
    RepairScan whole;
    ASSERT_EQ(RepairScanFile(broken.c_str(), nullptr, &whole), ME_OK);

    FileFaultSet(broken.c_str(), {FileFaultKind::kEio, int64_t(cut.size() / 2), 4096});
    RepairScan scan;
    EXPECT_EQ(RepairScanFile(broken.c_str(), nullptr, &scan), ME_ERR_FILE_IO);
    // The card pulled while the copy is written: the write fails and leaves no file behind.
    FileFaultClear(broken.c_str());
    FileFaultWatch(broken.c_str());
    ASSERT_EQ(RepairScanFile(broken.c_str(), nullptr, &scan), ME_OK);
    FileFaultSet(broken.c_str(), {FileFaultKind::kVanish, 0, 0});
    const char *detail = nullptr;
    EXPECT_NE(RepairWriteFile(broken.c_str(), &scan, (dir / "out.mp4").c_str(), &detail), ME_OK);
    EXPECT_FALSE(std::filesystem::exists(dir / "out.mp4"));
    // A file that shrinks under the scan ends it early: what was read stays faithful.
    FileFaultSet(broken.c_str(),
                 {FileFaultKind::kShrink, int64_t(cut.size() / 3), int64_t(cut.size() / 2)});
    ASSERT_EQ(RepairScanFile(broken.c_str(), nullptr, &scan), ME_OK);
    FileFaultClear(broken.c_str());
    ASSERT_LT(scan.samples[2].size(), whole.samples[2].size());
    for (int k = 0; k < 3; ++k)
        for (size_t i = 0; i < scan.samples[k].size(); ++i) {
            ASSERT_EQ(scan.samples[k][i].offset, whole.samples[k][i].offset);
            ASSERT_EQ(scan.samples[k][i].size, whole.samples[k][i].size);
        }
}

}  // namespace

namespace {

TEST(RepairScan, IndexNamingDataPastTheEndIsRebuiltWithItsOwnSetUp) {
    Bytes full = MakeRecording(6.0);
    if (full.empty()) GTEST_SKIP() << "ffmpeg is needed to encode the test streams";
    Truth truth;
    ASSERT_TRUE(ReadTruth(full, &truth));
    // Two thirds of the media data, then the whole movie box: the index names samples that are
    // not in the file.
    const uint64_t moov = truth.samples[2].back().offset + truth.samples[2].back().size;
    const uint64_t keep = 112 + (moov - 112) * 2 / 3;
    Bytes broken(full.begin(), full.begin() + keep);
    broken.insert(broken.end(), full.begin() + moov, full.end());
    const uint32_t mdat = uint32_t(keep - 104);
    for (int i = 0; i < 4; ++i) broken[104 + i] = uint8_t(mdat >> (24 - 8 * i));
    TempDir dir;
    auto path = dir / "broken.mp4";
    vt::test::WriteFileBytes(path, broken);
    RepairScan scan, cut;
    ASSERT_EQ(RepairScanFile(path.c_str(), nullptr, &scan), ME_OK);
    ASSERT_EQ(scan.outcome, REPAIR_REBUILT);
    EXPECT_FALSE(scan.audio_left_out);  // the set-up came from the index itself
    RepairLayout layout;
    ASSERT_EQ(RepairLearnLayoutFromBytes(full.data(), full.size(), &layout), ME_OK);
    ASSERT_EQ(RepairScanBytes(full.data() + 112, keep - 112, 112, &layout, &cut), ME_OK);
    EXPECT_TRUE(SameSamples(scan, cut));
    EXPECT_GT(scan.samples[REPAIR_AUDIO].size(), 50u);
}

}  // namespace
