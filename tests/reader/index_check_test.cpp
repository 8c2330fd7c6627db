#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/io/fault.h"
#include "engine/reader/reader.h"
#include "tests/common/testutil.h"

namespace {

using vt::test::TempDir;

std::vector<uint8_t> Sample() {
    return vt::test::ReadFileBytes(vt::test::SamplesDir() / "20261108_083000.mp4");
}

ReaderIndexState CheckBytes(const TempDir &dir, const std::vector<uint8_t> &bytes,
                            ReaderTopLevel *top = nullptr) {
    auto p = dir / "r.mp4";
    vt::test::WriteFileBytes(p, bytes);
    return ReaderCheckIndex(p.c_str(), top);
}

void PutBe32(std::vector<uint8_t> &b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (24 - 8 * i));
}

TEST(IndexCheck, CutRecordingsAreToldApartFromPlayableOnes) {
    auto full = Sample();
    ASSERT_GT(full.size(), 100000u);
    TempDir dir;
    ReaderTopLevel top;
    ASSERT_EQ(CheckBytes(dir, full, &top), READER_INDEX_PRESENT);
    ASSERT_EQ(top.mdat_start, 104);  // the camera's four header boxes come first
    const int64_t moov = top.moov_start;
    ASSERT_GT(moov, top.mdat_start);

    // Cut inside the media data, right after its header, at its end, and inside the movie box.
    for (int64_t cut : {int64_t(500000), top.mdat_payload, moov, moov + 8, moov + 1000}) {
        std::vector<uint8_t> part(full.begin(), full.begin() + cut);
        EXPECT_EQ(CheckBytes(dir, part, &top), READER_INDEX_MISSING) << "cut at " << cut;
        EXPECT_EQ(top.mdat_payload, 112);
        // The reader itself opens such a file with no track at all.
        MediaInfo mi{};
        auto p = dir / "r.mp4";
        if (ReaderGetMediaInfo(p.c_str(), &mi) == ME_OK) {
            EXPECT_EQ(mi.audio_count + mi.video_count + mi.data_count, 0u);
        }
    }

    // The camera left the box open (size 0), or declared more than 4 GiB in a 64-bit size.
    std::vector<uint8_t> open(full.begin(), full.begin() + 300000);
    PutBe32(open, 104, 0);
    EXPECT_EQ(CheckBytes(dir, open, &top), READER_INDEX_MISSING);
    EXPECT_TRUE(top.mdat_to_end);
    std::vector<uint8_t> big(300008);
    std::copy(full.begin(), full.begin() + 300000, big.begin());
    std::copy(full.begin() + 112, full.begin() + 300000, big.begin() + 120);
    const uint8_t large[16] = {0, 0, 0, 1, 'm', 'd', 'a', 't', 0, 0, 0, 1, 0x20, 0, 0, 0};
    std::copy(large, large + 16, big.begin() + 104);
    EXPECT_EQ(CheckBytes(dir, big, &top), READER_INDEX_MISSING);
    EXPECT_EQ(top.mdat_payload, 120);
    EXPECT_EQ(top.mdat_end, 104 + 0x120000000ll);

    // Not a recording at all: left to the reader's own probe.
    EXPECT_EQ(CheckBytes(dir, {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '\n'}),
              READER_INDEX_NOT_MP4);
    std::vector<uint8_t> head_only(full.begin(), full.begin() + 104);
    EXPECT_EQ(CheckBytes(dir, head_only), READER_INDEX_NOT_MP4);
    EXPECT_EQ(ReaderCheckIndex((dir / "absent.mp4").c_str()), READER_INDEX_UNREADABLE);
}

TEST(IndexCheck, UnreadableCardIsNotMistakenForACutRecording) {
    auto full = Sample();
    TempDir dir;
    auto p = dir / "r.mp4";
    vt::test::WriteFileBytes(p, full);
    // The sector holding the movie box's header cannot be read.
    FileFaultSet(p.c_str(), {FileFaultKind::kEio, 104 + 2094015, 512});
    EXPECT_EQ(ReaderCheckIndex(p.c_str()), READER_INDEX_UNREADABLE);
    FileFaultClear(p.c_str());
    EXPECT_EQ(ReaderCheckIndex(p.c_str()), READER_INDEX_PRESENT);
}

}  // namespace
