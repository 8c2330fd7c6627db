// The camera-layout writer and the sample-table reader used by export: what is written is read
// back sample for sample by the player's reader; a write that fails or is cancelled leaves the
// folder as it was; damaged tables are refused.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/core/sha256.h"
#include "engine/reader/reader.h"
#include "engine/writer/mp4_index.h"
#include "engine/writer/mp4_writer.h"
#include "tests/common/testutil.h"
#include "tests/common/track_samples.h"

namespace vt::test {
namespace {

namespace fs = std::filesystem;

// A movie with made-up payloads: every byte says which track and sample it belongs to.
struct FakeMovie {
    std::vector<uint32_t> sizes[4], durations[4];
    std::vector<uint8_t> sync;
    std::vector<uint8_t> config = {0, 0, 1, 0xB0, 0x01, 0, 0, 1, 0xB5};
    std::vector<uint8_t> asc = {0x13, 0x88};
    WriterMovie movie{};
    int fail_at = -1;  // video sample whose read fails
    int cancel_after = -1;
    int progress_calls = 0;

    FakeMovie(uint32_t video, uint32_t audio, uint32_t data) {
        for (uint32_t i = 0; i < video; ++i) {
            sizes[WRITER_VIDEO].push_back(200 + (i * 37) % 900);
            // A 30 fps run, then frames at 30000/1001: two stts runs.
            durations[WRITER_VIDEO].push_back(i < video / 2 ? 1000 : 1001);
            sync.push_back(i % 15 == 0);
        }
        for (uint32_t i = 0; i < audio; ++i) {
            sizes[WRITER_AUDIO].push_back(100 + (i * 13) % 200);
            durations[WRITER_AUDIO].push_back(1024);
        }
        sizes[WRITER_DATA].assign(data, kWriterRecordSize);
        durations[WRITER_DATA].assign(data, 100);
        movie.video = {video, 30000, sizes[WRITER_VIDEO].data(), durations[WRITER_VIDEO].data(),
                       sync.data()};
        movie.audio = {audio, 22050, sizes[WRITER_AUDIO].data(), durations[WRITER_AUDIO].data(),
                       nullptr};
        movie.data = {data, 1000, sizes[WRITER_DATA].data(), durations[WRITER_DATA].data(),
                      nullptr};
        movie.width = 640, movie.height = 480;
        movie.video_config = config.data();
        movie.video_config_length = static_cast<uint32_t>(config.size());
        movie.sample_rate = 22050, movie.channels = 1;
        movie.audio_config = asc.data();
        movie.audio_config_length = static_cast<uint32_t>(asc.size());
        movie.creation_unix = 1794126600;
    }

    static uint8_t Byte(int kind, uint32_t index, uint32_t k) {
        return static_cast<uint8_t>(kind * 71 + index * 7 + k);
    }
    static MeResult Read(void *ctx, int kind, uint32_t index, uint8_t *dst, uint32_t size) {
        auto *m = static_cast<FakeMovie *>(ctx);
        if (kind == WRITER_VIDEO && static_cast<int>(index) == m->fail_at) return ME_ERR_FILE_IO;
        for (uint32_t k = 0; k < size; ++k) dst[k] = Byte(kind, index, k);
        return ME_OK;
    }
    static int Progress(void *ctx, uint64_t, uint64_t) {
        auto *m = static_cast<FakeMovie *>(ctx);
        return m->cancel_after >= 0 && ++m->progress_calls > m->cancel_after;
    }
    MeResult Write(const fs::path &path, const char **detail = nullptr) {
        static const WriterSourceOps ops = {Read, Progress};
        return WriterWriteFile(&movie, &ops, this, path.c_str(), detail);
    }
};

std::vector<std::string> Listing(const fs::path &dir) {
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(Writer, TheReaderGetsBackEverySampleWithItsTimeAcrossDurationRuns) {
    TempDir dir;
    FakeMovie m(90, 100, 31);
    ASSERT_EQ(m.Write(dir / "out.mp4"), ME_OK);
    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"out.mp4"});

    for (int kind : {WRITER_VIDEO, WRITER_AUDIO, WRITER_DATA}) {
        auto got = test::ReadTrackSamples(dir / "out.mp4", kind);
        ASSERT_EQ(got.size(), m.sizes[kind].size()) << kind;
        uint64_t dts = 0;
        const uint32_t scale = kind == WRITER_VIDEO ? 30000 : kind == WRITER_AUDIO ? 22050 : 1000;
        for (size_t i = 0; i < got.size(); ++i) {
            ASSERT_EQ(got[i].bytes.size(), m.sizes[kind][i]);
            for (size_t k = 0; k < got[i].bytes.size(); ++k)
                ASSERT_EQ(got[i].bytes[k], FakeMovie::Byte(kind, static_cast<uint32_t>(i), k));
            EXPECT_EQ(got[i].time_ms, static_cast<int64_t>(dts * 1000 / scale)) << kind << " " << i;
            dts += m.durations[kind][i];
        }
    }
}

TEST(Writer, TheIndexReaderGivesBackTheTablesAndTheSetUp) {
    TempDir dir;
    FakeMovie m(40, 30, 14);
    ASSERT_EQ(m.Write(dir / "out.mp4"), ME_OK);
    Mp4Index idx;
    ASSERT_EQ(Mp4IndexRead((dir / "out.mp4").c_str(), &idx, nullptr), ME_OK);
    EXPECT_EQ(idx.creation_unix, 1794126600);
    EXPECT_EQ(idx.video.width, 640u);
    EXPECT_EQ(idx.video.height, 480u);
    EXPECT_STREQ(idx.video.format, "mp4v");
    EXPECT_EQ(idx.video.config, m.config);
    EXPECT_EQ(idx.audio.config, m.asc);
    EXPECT_EQ(idx.audio.sample_rate, 22050u);
    EXPECT_EQ(idx.video.sync, m.sync);
    auto bytes = ReadFileBytes(dir / "out.mp4");
    for (int kind : {WRITER_VIDEO, WRITER_AUDIO, WRITER_DATA}) {
        const IndexTrack &t = kind == WRITER_VIDEO   ? idx.video
                              : kind == WRITER_AUDIO ? idx.audio
                                                     : idx.data;
        EXPECT_EQ(t.sizes, m.sizes[kind]);
        EXPECT_EQ(t.durations, m.durations[kind]);
        for (size_t i = 0; i < t.offsets.size(); ++i)
            ASSERT_EQ(bytes[t.offsets[i] + 1], FakeMovie::Byte(kind, static_cast<uint32_t>(i), 1));
    }
}

// A movie header of version 1 (64-bit times) with the given creation time, and nothing else.
std::vector<uint8_t> MovieWithCreationTime(uint64_t created) {
    std::vector<uint8_t> mvhd = {0, 0, 0, 0, 'm', 'v', 'h', 'd', 1, 0, 0, 0};
    for (int i = 7; i >= 0; --i) mvhd.push_back(static_cast<uint8_t>(created >> (8 * i)));
    mvhd.resize(mvhd.size() + 8 + 4 + 8 + 80);  // modified, time scale, duration, the rest
    const auto put32 = [](std::vector<uint8_t> *b, size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
    };
    put32(&mvhd, 0, static_cast<uint32_t>(mvhd.size()));
    std::vector<uint8_t> file = {0, 0, 0, 0, 'm', 'o', 'o', 'v'};
    file.insert(file.end(), mvhd.begin(), mvhd.end());
    put32(&file, 0, static_cast<uint32_t>(file.size()));
    return file;
}

TEST(Writer, TheIndexReaderTakesOnlyCreationTimesThatMakeADate) {
    const uint64_t k1904 = 2082844800;
    const struct {
        uint64_t created;
        int64_t unix_seconds;
    } cases[] = {{k1904 + 1794126600, 1794126600},
                 {k1904 + 253402300799, 253402300799},
                 {k1904 + 253402300800, 0},
                 {uint64_t{1} << 63, 0},
                 {~uint64_t{0}, 0},
                 {k1904, 0},
                 {12, 0}};
    for (const auto &c : cases) {
        const std::vector<uint8_t> file = MovieWithCreationTime(c.created);
        Mp4Index idx;
        // No tracks: refused, but the movie header has been read.
        EXPECT_EQ(Mp4IndexParse(file.data(), file.size(), &idx, nullptr), ME_ERR_UNSUPPORTED_FILE);
        EXPECT_EQ(idx.creation_unix, c.unix_seconds) << c.created;
    }
}

TEST(Writer, AFailedOrCancelledWriteLeavesTheFolderAsItWas) {
    TempDir dir;
    const std::vector<uint8_t> before = {'o', 'l', 'd'};
    ASSERT_TRUE(WriteFileBytes(dir / "out.mp4", before));

    FakeMovie failing(60, 60, 20);
    failing.fail_at = 45;
    EXPECT_EQ(failing.Write(dir / "out.mp4"), ME_ERR_FILE_IO);

    FakeMovie cancelled(60, 60, 20);
    cancelled.cancel_after = 5;
    const char *detail = nullptr;
    EXPECT_EQ(cancelled.Write(dir / "out.mp4", &detail), ME_FAIL);
    EXPECT_STREQ(detail, "cancelled");

    FakeMovie inconsistent(10, 0, 0);
    inconsistent.sync[0] = 0;
    EXPECT_EQ(inconsistent.Write(dir / "out.mp4", &detail), ME_ERR_INVALID_REQUEST);
    EXPECT_NE(std::string(detail).find("sync"), std::string::npos);

    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"out.mp4"});
    EXPECT_EQ(ReadFileBytes(dir / "out.mp4"), before);
    EXPECT_EQ(FakeMovie(4, 4, 1).Write(dir / "missing" / "out.mp4"), ME_ERR_FILE_CREATE);
}

// The file-size limit makes write() fail the way a full disk does, without needing one.
TEST(Writer, AWriteErrorPartWayLeavesNoPartialFile) {
    TempDir dir;
    FakeMovie m(300, 300, 100);  // about 200 KB
    struct rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto old_handler = signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const char *detail = nullptr;
    MeResult r = m.Write(dir / "out.mp4", &detail);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, old_handler);
    EXPECT_EQ(r, ME_ERR_FILE_IO);
    EXPECT_STREQ(detail, "write failed");
    EXPECT_TRUE(Listing(dir.path()).empty());
}

uint32_t Be32At(const std::vector<uint8_t> &b, size_t at) {
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}
void Put32(std::vector<uint8_t> *b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}
size_t Find(const std::vector<uint8_t> &b, const char *four, size_t from = 0) {
    for (size_t i = from; i + 4 <= b.size(); ++i)
        if (std::memcmp(b.data() + i, four, 4) == 0) return i;
    return std::string::npos;
}

TEST(Writer, TheIndexReaderRefusesDamagedTables) {
    TempDir dir;
    FakeMovie m(30, 30, 10);
    ASSERT_EQ(m.Write(dir / "good.mp4"), ME_OK);
    const auto good = ReadFileBytes(dir / "good.mp4");
    const size_t moov = Find(good, "moov") - 4;

    struct Case {
        const char *name;
        MeResult expected;
        std::vector<uint8_t> bytes;
    };
    std::vector<Case> cases;
    cases.push_back(
        {"cut before the movie box", ME_ERR_UNSUPPORTED_FILE, {good.begin(), good.begin() + moov}});
    auto past_end = good;
    size_t stco = Find(past_end, "stco");
    Put32(&past_end, stco + 12, static_cast<uint32_t>(good.size() - 10));
    cases.push_back({"chunk past the end", ME_ERR_STREAM_SYNTAX, past_end});
    auto short_stts = good;
    size_t stts = Find(short_stts, "stts");
    Put32(&short_stts, stts + 12, Be32At(short_stts, stts + 12) - 1);  // first run one short
    cases.push_back({"durations for fewer samples", ME_ERR_STREAM_SYNTAX, short_stts});
    auto huge_count = good;
    size_t stsz = Find(huge_count, "stsz");
    Put32(&huge_count, stsz + 12, 0xFFFFFFF0u);
    cases.push_back({"sample count past the table", ME_ERR_STREAM_SYNTAX, huge_count});
    cases.push_back({"not an MP4", ME_ERR_UNSUPPORTED_FILE, std::vector<uint8_t>(4000, 0x47)});

    for (const Case &c : cases) {
        Mp4Index idx;
        const char *detail = nullptr;
        EXPECT_EQ(Mp4IndexParse(c.bytes.data(), c.bytes.size(), &idx, &detail), c.expected)
            << c.name;
        EXPECT_NE(detail, nullptr) << c.name;
    }
}

TEST(Sha256, MatchesTheStandardsExamplesAcrossBlockBoundaries) {
    struct Case {
        std::string input;
        const char *hex;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case &c : cases) {
        // Fed in uneven pieces so partial blocks are joined.
        Sha256State s;
        Sha256Init(&s);
        for (size_t at = 0, step = 1; at < c.input.size(); at += step, step = step * 3 % 97 + 1)
            Sha256Update(&s, c.input.data() + at, std::min(step, c.input.size() - at));
        uint8_t digest[32];
        Sha256Final(&s, digest);
        char hex[kSha256HexSize];
        Sha256Hex(digest, hex);
        EXPECT_STREQ(hex, c.hex) << c.input.size();
    }
}

}  // namespace
}  // namespace vt::test
