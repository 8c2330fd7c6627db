#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "engine/io/file.h"
#include "engine/io/stream.h"
#include "tests/common/testutil.h"

namespace {

using vt::test::TempDir;

std::vector<uint8_t> Pattern(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = uint8_t(i * 7 + (i >> 8));
    return v;
}

struct StreamCloser {
    void operator()(Stream *s) const { StreamClose(s); }
};
using StreamPtr = std::unique_ptr<Stream, StreamCloser>;

StreamPtr OpenFile(const std::string &path) {
    Stream *s = nullptr;
    EXPECT_EQ(StreamOpen(path.c_str(), &s), ME_OK);
    return StreamPtr(s);
}

TEST(FileObject, OpenModesFollowAccessAndCreateBits) {
    TempDir dir;
    std::string path = (dir / "f.bin").string();
    EXPECT_EQ(FileOpen(path.c_str(), FILE_READ), nullptr);                // missing
    EXPECT_EQ(FileOpen(path.c_str(), FILE_READ | FILE_CREATE), nullptr);  // read cannot create
    EXPECT_EQ(FileOpen(path.c_str(), 0), nullptr);                        // no access
    FileObj *w = FileOpen(path.c_str(), FILE_WRITE | FILE_CREATE);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(FileWrite(w, "hello", 5), 5);
    FileClose(w);
    FileObj *r = FileOpen(path.c_str(), FILE_READ);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(FileSize(r), 5);
    char buf[8] = {};
    EXPECT_EQ(FileRead(r, buf, 8), 5);
    EXPECT_STREQ(buf, "hello");
    EXPECT_EQ(FileSeek(r, 1), 1);
    EXPECT_EQ(FileSkip(r, 2), 1);
    EXPECT_EQ(FileTell(r), 3);
    FileClose(r);
    // Write without create truncates an existing file.
    FileObj *t = FileOpen(path.c_str(), FILE_WRITE);
    ASSERT_NE(t, nullptr);
    FileClose(t);
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
    EXPECT_EQ(FileOpen(dir.path().c_str(), FILE_READ), nullptr);  // a directory is not a file
    EXPECT_GT(FileFreeSpace(nullptr), 0u);
}

TEST(FileObject, MemorySourceKeepsItsLengthWordBigEndian) {
    std::vector<uint8_t> block(4 + 64, 0);
    block[3] = 3;  // three bytes of payload
    block[4] = 'a';
    block[5] = 'b';
    block[6] = 'c';
    FileObj *f = FileOpenMemory(block.data(), static_cast<uint32_t>(block.size()));
    ASSERT_NE(f, nullptr);
    char buf[8] = {};
    EXPECT_EQ(FileRead(f, buf, 8), 3);
    EXPECT_EQ(FileSkip(f, -2), 1);
    EXPECT_EQ(FileSkip(f, -5), 0);  // before the start
    EXPECT_EQ(FileWrite(f, "XYZ0123456", 10), 10);
    FileClose(f);
    EXPECT_EQ(block[0], 0);
    EXPECT_EQ(block[2], 0);
    EXPECT_EQ(block[3], 11);
    EXPECT_EQ(std::string(block.begin() + 4, block.begin() + 15), "aXYZ0123456");
}

TEST(Stream, BufferedReadsAtTheEndOfTheFileReturnWhatIsThere) {
    TempDir dir;
    auto data = Pattern(5000);
    vt::test::WriteFileBytes(dir / "d", data);
    auto s = OpenFile((dir / "d").string());
    int c = StreamNewCursor(s.get(), 1024);
    ASSERT_GE(c, 0);
    ASSERT_EQ(StreamSeek(s.get(), c, 4996), ME_OK);
    uint8_t buf[10];
    EXPECT_EQ(StreamRead(s.get(), c, buf, 10), 4);
    EXPECT_EQ(buf[3], data[4999]);
    EXPECT_LE(StreamRead(s.get(), c, buf, 10), 0);
    uint32_t v;
    EXPECT_EQ(StreamReadU32(s.get(), c, &v), ME_ERR_FILE_IO);
}

TEST(Stream, SkipsInsideAndOutsideTheBufferLandOnTheRightByte) {
    TempDir dir;
    auto data = Pattern(10000);
    vt::test::WriteFileBytes(dir / "d", data);
    auto s = OpenFile((dir / "d").string());
    int c = StreamNewCursor(s.get(), 1024);
    uint8_t b[4];
    ASSERT_EQ(StreamRead(s.get(), c, b, 4), 4);  // straight from the file, then the buffer fills
    ASSERT_EQ(StreamRead(s.get(), c, b, 4), 4);  // from the buffer
    int64_t buffered_end = s->cursors[c]->position;
    ASSERT_EQ(StreamSkip(s.get(), c, -2), ME_OK);
    EXPECT_EQ(s->cursors[c]->position, buffered_end);  // only the buffer pointer moved
    EXPECT_EQ(StreamTell(s.get(), c), 6);
    ASSERT_EQ(StreamRead(s.get(), c, b, 1), 1);
    EXPECT_EQ(b[0], data[6]);
    ASSERT_EQ(StreamSkip(s.get(), c, 5000), ME_OK);  // beyond the buffer
    EXPECT_EQ(StreamTell(s.get(), c), 5007);
    ASSERT_EQ(StreamRead(s.get(), c, b, 1), 1);
    EXPECT_EQ(b[0], data[5007]);
    ASSERT_EQ(StreamSkip(s.get(), c, -4000), ME_OK);  // behind the buffer
    ASSERT_EQ(StreamRead(s.get(), c, b, 1), 1);
    EXPECT_EQ(b[0], data[1008]);
    EXPECT_EQ(StreamSkip(s.get(), c, -100000), ME_ERR_FILE_IO);
    uint32_t v16, v24, v32;
    uint64_t v64;
    ASSERT_EQ(StreamSeek(s.get(), c, 100), ME_OK);
    ASSERT_EQ(StreamReadU16(s.get(), c, &v16), ME_OK);
    ASSERT_EQ(StreamReadU24(s.get(), c, &v24), ME_OK);
    ASSERT_EQ(StreamReadU32(s.get(), c, &v32), ME_OK);
    ASSERT_EQ(StreamReadU64(s.get(), c, &v64), ME_OK);
    EXPECT_EQ(v16, uint32_t(data[100]) << 8 | data[101]);
    EXPECT_EQ(v24, uint32_t(data[102]) << 16 | uint32_t(data[103]) << 8 | data[104]);
    EXPECT_EQ(v32 >> 24, data[105]);
    EXPECT_EQ(v64 & 0xFF, data[116]);
}

TEST(Stream, CursorsAreIndependentAndLimitedToTwenty) {
    TempDir dir;
    auto data = Pattern(300000);
    vt::test::WriteFileBytes(dir / "d", data);
    auto s = OpenFile((dir / "d").string());
    std::mt19937 rng(7);
    std::vector<int> cursors;
    std::vector<int64_t> pos;
    for (int i = 0; i < kStreamMaxCursors; ++i) {
        int c = StreamNewCursor(s.get(), i % 3 ? 1024 : 0);
        ASSERT_GE(c, 0);
        cursors.push_back(c);
        pos.push_back(0);
    }
    EXPECT_EQ(StreamNewCursor(s.get(), 1024), ME_ERR_MEMORY);
    // Random interleaved reads, skips and seeks against a model of each cursor's position.
    std::vector<uint8_t> buf(5000);
    for (int step = 0; step < 5000; ++step) {
        size_t k = rng() % cursors.size();
        int c = cursors[k];
        switch (rng() % 3) {
            case 0: {
                uint32_t n = 1 + rng() % 3000;
                int32_t got = StreamRead(s.get(), c, buf.data(), n);
                int64_t expect = std::min<int64_t>(n, int64_t(data.size()) - pos[k]);
                ASSERT_EQ(std::max<int32_t>(got, 0), std::max<int64_t>(expect, 0));
                for (int32_t i = 0; i < got; ++i) ASSERT_EQ(buf[i], data[pos[k] + i]);
                if (got > 0) pos[k] += got;
                break;
            }
            case 1: {
                int64_t d = int64_t(rng() % 20000) - 10000;
                if (pos[k] + d < 0) d = -pos[k];
                ASSERT_EQ(StreamSkip(s.get(), c, d), ME_OK);
                pos[k] += d;
                break;
            }
            default: {
                int64_t p = rng() % data.size();
                ASSERT_EQ(StreamSeek(s.get(), c, p), ME_OK);
                pos[k] = p;
            }
        }
        ASSERT_EQ(StreamTell(s.get(), c), pos[k]);
    }
    StreamCloseCursor(s.get(), cursors[0]);
    EXPECT_GE(StreamNewCursor(s.get(), 16), 0);  // a closed slot can be taken again
}

TEST(Stream, OpenFailuresAndProbeReads) {
    TempDir dir;
    Stream *s = nullptr;
    EXPECT_EQ(StreamOpen((dir / "missing").c_str(), &s), ME_ERR_FILE_NOT_FOUND);
    EXPECT_EQ(StreamOpen(dir.path().c_str(), &s), ME_ERR_FILE_NOT_FOUND);
    vt::test::WriteFileBytes(dir / "empty", {});
    auto e = OpenFile((dir / "empty").string());
    uint8_t b[16];
    EXPECT_EQ(StreamProbeRead(e.get(), b, 16), ME_ERR_FILE_IO);
    auto data = Pattern(100);
    vt::test::WriteFileBytes(dir / "d", data);
    auto d = OpenFile((dir / "d").string());
    EXPECT_EQ(StreamProbeRead(d.get(), b, 16), 16);
    EXPECT_EQ(StreamProbeRead(d.get(), b, 16), 16);
    EXPECT_EQ(b[0], data[16]);
    StreamRewindProbe(d.get());
    EXPECT_EQ(StreamProbeRead(d.get(), b, 1), 1);
    EXPECT_EQ(b[0], data[0]);
    StreamPtr clone(StreamClone(d.get()));
    ASSERT_TRUE(clone);
    EXPECT_EQ(StreamSize(clone.get()), 100);
}

}  // namespace
