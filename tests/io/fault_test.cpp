#include <gtest/gtest.h>

#include <cerrno>
#include <thread>
#include <vector>

#include "engine/io/fault.h"
#include "engine/io/file.h"
#include "engine/io/stream.h"
#include "tests/common/testutil.h"

namespace {

using vt::test::TempDir;

std::vector<uint8_t> Pattern(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = uint8_t(i * 13 + (i >> 8));
    return v;
}

// A file with a known pattern; its fault is cleared again when the test ends.
struct FaultyFile {
    TempDir dir;
    std::string path;
    std::vector<uint8_t> data;
    explicit FaultyFile(size_t n) : path((dir / "f.bin").string()), data(Pattern(n)) {
        vt::test::WriteFileBytes(path, data);
    }
    ~FaultyFile() { FileFaultClear(path.c_str()); }
};

TEST(FileFault, BadSectorFailsOnlyTheReadsThatTouchIt) {
    FaultyFile f(8192);
    FileFaultSet(f.path.c_str(), {FileFaultKind::kEio, 4096, 512});
    FileObj *h = FileOpen(f.path.c_str(), FILE_READ);
    ASSERT_NE(h, nullptr);
    std::vector<uint8_t> buf(8192);
    EXPECT_EQ(FileReadAt(h, 0, buf.data(), 4096), 4096);
    // A read that runs into the sector returns what lies in front of it, the next one fails.
    EXPECT_EQ(FileReadAt(h, 4000, buf.data(), 200), 96);
    errno = 0;
    EXPECT_EQ(FileReadAt(h, 4096, buf.data(), 100), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(FileReadAt(h, 4608, buf.data(), 100), 100);
    EXPECT_EQ(buf[0], f.data[4608]);
    ASSERT_EQ(FileSeek(h, 4100), 1);
    EXPECT_EQ(FileRead(h, buf.data(), 10), -1);
    EXPECT_GE(FileFaultHits(f.path.c_str()), 3);
    FileClose(h);
}

TEST(FileFault, ShortReadsAreJoinedByThePositionedRead) {
    FaultyFile f(10000);
    FileFaultSet(f.path.c_str(), {FileFaultKind::kShortReads, 0, 7});
    Stream *s = nullptr;
    ASSERT_EQ(StreamOpen(f.path.c_str(), &s), ME_OK);
    int c = StreamNewCursor(s, 1024);
    std::vector<uint8_t> buf(3000);
    ASSERT_EQ(StreamSeek(s, c, 5000), ME_OK);
    ASSERT_EQ(StreamRead(s, c, buf.data(), 3000), 3000);
    EXPECT_TRUE(std::equal(buf.begin(), buf.end(), f.data.begin() + 5000));
    EXPECT_GT(FileFaultHits(f.path.c_str()), 100);
    StreamClose(s);
}

TEST(FileFault, ShrinkingFileEndsEveryHandleAtTheNewSize) {
    FaultyFile f(10000);
    FileFaultSet(f.path.c_str(), {FileFaultKind::kShrink, 6000, 3000});
    Stream *s = nullptr;
    ASSERT_EQ(StreamOpen(f.path.c_str(), &s), ME_OK);
    Stream *clone = StreamClone(s);
    ASSERT_NE(clone, nullptr);
    int c = StreamNewCursor(s, 0), cc = StreamNewCursor(clone, 1024);
    uint8_t buf[64];
    ASSERT_EQ(StreamSeek(clone, cc, 3500), ME_OK);
    EXPECT_EQ(StreamRead(clone, cc, buf, 64), 64);  // not tripped yet
    ASSERT_EQ(StreamSeek(s, c, 5990), ME_OK);
    EXPECT_LE(StreamRead(s, c, buf, 64), 0);  // touches 6000: the file is now 3000 bytes
    ASSERT_EQ(StreamSeek(clone, cc, 2990), ME_OK);
    EXPECT_EQ(StreamRead(clone, cc, buf, 64), 10);
    EXPECT_EQ(FileSize(s->file), 3000);
    StreamClose(clone);
    StreamClose(s);
}

TEST(FileFault, PulledCardFailsReadsOpensAndSizeEvenWhenSetLater) {
    FaultyFile f(10000);
    FileFaultWatch(f.path.c_str());
    Stream *s = nullptr;
    ASSERT_EQ(StreamOpen(f.path.c_str(), &s), ME_OK);
    int c = StreamNewCursor(s, 1024);
    uint8_t buf[16];
    EXPECT_EQ(StreamRead(s, c, buf, 16), 16);
    FileFaultSet(f.path.c_str(), {FileFaultKind::kVanish, 0, 0});
    // Reading on from the buffer is fine; the next trip to the card is not.
    EXPECT_EQ(StreamRead(s, c, buf, 16), 16);
    ASSERT_EQ(StreamSeek(s, c, 9000), ME_OK);
    EXPECT_LE(StreamRead(s, c, buf, 16), 0);
    EXPECT_EQ(FileSize(s->file), 0);
    Stream *again = nullptr;
    EXPECT_EQ(StreamOpen(f.path.c_str(), &again), ME_ERR_FILE_NOT_FOUND);
    EXPECT_EQ(StreamClone(s), nullptr);
    FileFaultClear(f.path.c_str());
    EXPECT_EQ(StreamRead(s, c, buf, 16), 16);  // card back in
    StreamClose(s);
}

TEST(FileFault, FaultChangesWhileOtherThreadsRead) {
    FaultyFile f(1 << 16);
    FileFaultWatch(f.path.c_str());
    std::vector<std::thread> readers;
    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    FileObj *handles[3];
    for (FileObj *&h : handles) ASSERT_NE(h = FileOpen(f.path.c_str(), FILE_READ), nullptr);
    for (int t = 0; t < 3; ++t) {
        readers.emplace_back([&, t] {
            FileObj *h = handles[t];
            std::vector<uint8_t> buf(4096);
            for (int64_t pos = t * 512; !stop; pos = (pos + 4096) % (1 << 16)) {
                int32_t n = FileReadAt(h, pos, buf.data(), 4096);
                if (n < 0) ++failures;
                else if (n > 0 && buf[0] != f.data[pos]) ADD_FAILURE() << "wrong bytes at " << pos;
            }
            FileClose(h);
        });
    }
    for (int i = 0; i < 200; ++i) {
        FileFaultSet(f.path.c_str(), {i % 2 ? FileFaultKind::kEio : FileFaultKind::kShortReads,
                                      int64_t(i) * 100, 300});
        std::this_thread::yield();
    }
    FileFaultSet(f.path.c_str(), {FileFaultKind::kVanish, 0, 0});
    while (failures == 0) std::this_thread::yield();
    stop = true;
    for (auto &t : readers) t.join();
}

}  // namespace
