#include <gtest/gtest.h>

#include <cstring>
#include <string_view>
#include <vector>

#include "engine/reader/reader.h"
#include "tests/common/testutil.h"
#include "tests/reader/mp4_builder.h"

namespace {

using namespace vt::test;

struct ReaderCloser {
    void operator()(Reader *r) const { ReaderClose(r); }
};
using ReaderPtr = std::unique_ptr<Reader, ReaderCloser>;

class ReaderFile {
public:
    explicit ReaderFile(const Bytes &bytes) {
        m_path = m_dir / "t.mp4";
        WriteFileBytes(m_path, bytes);
    }
    std::string path() const { return m_path.string(); }
    MeResult Open(ReaderPtr *out, MediaInfo *info) {
        Reader *r = nullptr;
        MeResult res = ReaderOpen(path().c_str(), &r);
        out->reset(r);
        if (res != ME_OK) return res;
        return ReaderGetInfo(r, info);
    }

private:
    TempDir m_dir;
    std::filesystem::path m_path;
};

TrackSpec Video(uint32_t count, uint32_t delta, std::vector<uint32_t> sync = {}) {
    TrackSpec t;
    t.deltas.assign(count, delta);
    for (uint32_t i = 0; i < count; ++i) t.sizes.push_back(50 + (i * 37) % 200);
    t.sync = std::move(sync);
    t.samples_per_chunk = 3;
    return t;
}

TrackSpec Audio(uint32_t count, uint32_t rate) {
    TrackSpec t;
    t.handler = "soun";
    t.timescale = rate;
    t.deltas.assign(count, 1024);
    for (uint32_t i = 0; i < count; ++i) t.sizes.push_back(100 + i % 50);
    t.esds_object_type = 0x40;
    t.config = {0x12, 0x10};
    t.fill = 100;
    return t;
}

// Reads the next sample of a kind; checks its payload against the builder's pattern.
int64_t ReadAndCheck(Reader *r, int kind, const TrackSpec &spec, int64_t *index_out = nullptr) {
    std::vector<uint8_t> buf(4096);
    SampleRequest req{};
    req.data = buf.data();
    req.capacity = static_cast<uint32_t>(buf.size());
    req.kind = kind;
    MeResult res = ReaderReadSample(r, &req);
    if (res != ME_OK) return res;
    // Which sample is this? Its time and size identify it; its bytes must be its own.
    int64_t index = -1;
    uint64_t t = 0;
    for (size_t i = 0; i < spec.deltas.size(); ++i) {
        if (static_cast<int64_t>(t * 1000 / spec.timescale) == req.time_ms &&
            spec.sizes[i] == req.written) {
            index = static_cast<int64_t>(i);
            break;
        }
        t += spec.deltas[i];
    }
    EXPECT_GE(index, 0) << "no sample at " << req.time_ms << " ms of size " << req.written;
    if (index >= 0)
        for (uint32_t i = 0; i < req.written; ++i)
            if (buf[i] != PatternByte(spec, size_t(index), i)) {
                ADD_FAILURE() << "payload of sample " << index << " differs at byte " << i;
                break;
            }
    if (index_out) *index_out = index;
    return req.time_ms;
}

TEST(Probe, RecognisesMp4AndRefusesOtherContainers) {
    struct Case {
        const char *name;
        Bytes head;
        MeResult expect;
    };
    auto text = [](std::string_view s) { return Bytes(s.begin(), s.end()); };
    using namespace std::string_view_literals;
    Bytes asf = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6,
                 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C, 0,    0};
    const Case cases[] = {
        {"avi", text("RIFF\x10\0\0\0AVI LIST"sv), ME_ERR_UNSUPPORTED_FUNCTION},
        {"jch", text("JCH-------------"sv), ME_ERR_UNSUPPORTED_FUNCTION},
        {"asf", asf, ME_ERR_UNSUPPORTED_FILE},
        {"ogg", text("OggS\0\x02\0\0\0\0\0\0\0\0\0\0"sv), ME_ERR_UNSUPPORTED_FILE},
        {"wav", text("RIFF\x10\0\0\0WAVEfmt "sv), ME_ERR_UNSUPPORTED_FILE},
        {"mkv", text("\x1a\x45\xdf\xa3\0\0\0\0matroska"sv), ME_ERR_UNSUPPORTED_FILE},
        {"ts", Bytes(188, 0x47), ME_ERR_UNSUPPORTED_FILE},
        {"jpeg", Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10}, ME_ERR_UNSUPPORTED_FILE},
        {"short", Bytes{0, 0, 0}, ME_ERR_UNSUPPORTED_FILE},
    };
    for (const Case &c : cases) {
        ReaderFile f(c.head);
        Reader *r = nullptr;
        EXPECT_EQ(ReaderOpen(f.path().c_str(), &r), c.expect) << c.name;
        EXPECT_EQ(r, nullptr);
    }
    TempDir dir;
    Reader *r = nullptr;
    EXPECT_EQ(ReaderOpen((dir / "missing.mp4").c_str(), &r), ME_ERR_FILE_NOT_FOUND);
    EXPECT_EQ(ReaderOpen(dir.path().c_str(), &r), ME_ERR_FILE_NOT_FOUND);
    WriteFileBytes(dir / "empty.mp4", {});
    EXPECT_EQ(ReaderOpen((dir / "empty.mp4").c_str(), &r), ME_ERR_FILE_IO);
}

TEST(Mp4Reader, MovieDataFirstOpensAndDescribesTracks) {
    TrackSpec v = Video(1800, 1000, {1});
    v.timescale = 30000;
    v.esds_object_type = 0xF2;  // the object type overrides the sample entry's tag
    TrackSpec a = Audio(40, 44100);
    a.bitrate = 128000;
    Bytes file = BuildMp4({v, a});
    FileSpec movie_data_first;
    movie_data_first.ftyp = false;
    Bytes no_ftyp = BuildMp4({v, a}, movie_data_first);
    ASSERT_EQ(std::string(no_ftyp.begin() + 4, no_ftyp.begin() + 8), "mdat");
    ReaderFile f(file);
    ReaderPtr r;
    MediaInfo info{};
    ASSERT_EQ(f.Open(&r, &info), ME_OK);
    ASSERT_EQ(info.video_count, 1u);
    ASSERT_EQ(info.audio_count, 1u);
    EXPECT_EQ(info.duration_ms, 60000u);
    EXPECT_EQ(info.buffering_ms, 1000u);
    EXPECT_EQ(info.video[0].codec_tag, TAG_H263);
    EXPECT_EQ(info.video[0].frame_rate, 30303u);  // 1000000 / (60000 / 1800)
    EXPECT_EQ(info.video[0].width, 320u);
    EXPECT_EQ(info.video[0].max_sample_size, 320u * 240 / 2);
    EXPECT_EQ(info.audio[0].codec_tag, AUDIO_TAG_AAC);
    EXPECT_EQ(info.audio[0].sample_rate, 44100u);
    EXPECT_EQ(info.audio[0].channels, 2u);
    EXPECT_EQ(info.audio[0].max_sample_size, 8000u);  // 500 ms at 128 kbit/s
    EXPECT_EQ(info.audio[0].timed_packets, 1u);
    ASSERT_EQ(info.audio[0].config_length, 2u);
    EXPECT_EQ(info.audio[0].config[0], 0x12);

    ReaderFile g(no_ftyp);
    ReaderPtr r2;
    MediaInfo info2{};
    ASSERT_EQ(g.Open(&r2, &info2), ME_OK);
    EXPECT_EQ(info2.video_count, 1u);
    EXPECT_EQ(ReadAndCheck(r2.get(), TRACK_VIDEO, v), 0);
    EXPECT_EQ(ReadAndCheck(r2.get(), TRACK_AUDIO, a), 0);
}

TEST(Mp4Reader, CameraDataTrackIsRecognisedByHandlerAndName) {
    TrackSpec d;
    d.handler = "sdsm";
    d.deltas.assign(10, 100);
    d.sizes.assign(10, 131);
    d.esds_object_type = 0xD3;
    d.buffer_size = 131;
    ReaderFile f(BuildMp4({Video(30, 33, {1}), Audio(10, 8000), d}));
    ReaderPtr r;
    MediaInfo info{};
    ASSERT_EQ(f.Open(&r, &info), ME_OK);
    ASSERT_EQ(info.data_count, 1u);
    EXPECT_EQ(info.data[0].codec_tag, TAG_VNTR);
    EXPECT_EQ(info.data[0].max_sample_size, 131u);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(ReadAndCheck(r.get(), TRACK_DATA, d), i * 100);
    EXPECT_EQ(ReadAndCheck(r.get(), TRACK_DATA, d), ME_ERR_END_OF_DATA);
}

TEST(Mp4Reader, TooSmallBufferReportsTheSizeAndConsumesNothing) {
    TrackSpec v = Video(5, 40, {1});
    v.sizes = {300, 20, 20, 20, 20};
    ReaderFile f(BuildMp4({v}));
    ReaderPtr r;
    MediaInfo info{};
    ASSERT_EQ(f.Open(&r, &info), ME_OK);
    std::vector<uint8_t> small(100);
    SampleRequest req{};
    req.data = small.data();
    req.capacity = 100;
    req.kind = TRACK_VIDEO;
    EXPECT_EQ(ReaderReadSample(r.get(), &req), ME_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(req.capacity, 300u);
    EXPECT_EQ(ReadAndCheck(r.get(), TRACK_VIDEO, v), 0);  // the same sample, whole
    EXPECT_EQ(ReadAndCheck(r.get(), TRACK_VIDEO, v), 40);
    req.kind = TRACK_AUDIO;
    EXPECT_EQ(ReaderReadSample(r.get(), &req), ME_ERR_NO_TRACK);
}

TEST(Mp4Reader, SeekRulesPickTheNearestPreviousOrExactSample) {
    // 30 frames of 100 ms, sync frames 0, 10 and 20; audio of 8000 Hz beside them.
    TrackSpec v = Video(30, 100, {1, 11, 21});
    TrackSpec a = Audio(24, 8000);
    ReaderFile f(BuildMp4({v, a}));
    ReaderPtr r;
    MediaInfo info{};
    ASSERT_EQ(f.Open(&r, &info), ME_OK);
    struct Case {
        int64_t target;
        int mode;
        int64_t expect;
    };
    const Case cases[] = {
        {1400, SEEK_VIDEO_FIRST, 1000},  // 4 frames back, 6 ahead
        {1500, SEEK_VIDEO_FIRST, 1000},  // equally near: the earlier one
        {1600, SEEK_VIDEO_FIRST, 2000},  // 6 back, 4 ahead
        {2000, SEEK_VIDEO_FIRST, 2000},
        {2500, SEEK_VIDEO_FIRST, 2000},  // no sync frame after: the earlier one
        {0, SEEK_VIDEO_FIRST, 0},
        {1900, SEEK_AUDIO_FIRST, 1920},  // audio to 1920 ms, video back to its sync frame
    };
    for (const Case &c : cases) {
        int64_t t = c.target;
        ASSERT_EQ(ReaderSeek(r.get(), &t, c.mode), 1) << c.target;
        EXPECT_EQ(t, c.expect) << c.target;
        int64_t index = -1;
        int64_t video_at = c.mode == SEEK_VIDEO_FIRST ? c.expect : (c.expect / 1000) * 1000;
        EXPECT_EQ(ReadAndCheck(r.get(), TRACK_VIDEO, v, &index), video_at) << c.target;
        // Audio follows: the first audio frame at or after where video landed (video first), or
        // the one the target fell in (audio first).
        int64_t at = ReadAndCheck(r.get(), TRACK_AUDIO, a);
        if (c.mode == SEEK_VIDEO_FIRST) {
            EXPECT_GE(at, c.expect);
            EXPECT_LT(at, c.expect + 128 + 1);
        } else {
            EXPECT_EQ(at, c.expect);  // audio has no sync table: the first frame at or after
        }
    }
    int64_t beyond = 50000;
    EXPECT_EQ(ReaderSeek(r.get(), &beyond, SEEK_VIDEO_FIRST), 0);
    // A failed seek leaves every track where it was.
    int64_t t = 1000;
    ASSERT_EQ(ReaderSeek(r.get(), &t, SEEK_VIDEO_FIRST), 1);
    t = 50000;
    EXPECT_EQ(ReaderSeek(r.get(), &t, SEEK_VIDEO_FIRST), 0);
    EXPECT_EQ(ReadAndCheck(r.get(), TRACK_VIDEO, v), 1000);
    // Step seeking: forward takes the first frame after the time, backward the sync frame before.
    t = 1200;
    ASSERT_EQ(ReaderSeekStep(r.get(), &t, STEP_FORWARD), 1);
    EXPECT_EQ(t, 1300);
    EXPECT_EQ(ReadAndCheck(r.get(), TRACK_VIDEO, v), 1300);
    t = 1200;
    ASSERT_EQ(ReaderSeekStep(r.get(), &t, STEP_BACKWARD), 1);
    EXPECT_EQ(t, 1000);
    t = 2000;  // exactly on a sync frame: that frame, not the one before
    ASSERT_EQ(ReaderSeekStep(r.get(), &t, STEP_BACKWARD), 1);
    EXPECT_EQ(t, 2000);
}

TEST(Mp4Reader, WithoutSyncTableEverySampleIsAKeyFrame) {
    TrackSpec v = Video(30, 100);
    ReaderFile f(BuildMp4({v}));
    ReaderPtr r;
    MediaInfo info{};
    ASSERT_EQ(f.Open(&r, &info), ME_OK);
    int64_t t = 1450;
    ASSERT_EQ(ReaderSeek(r.get(), &t, SEEK_VIDEO_FIRST), 1);
    EXPECT_EQ(t, 1500);
    EXPECT_EQ(ReadAndCheck(r.get(), TRACK_VIDEO, v), 1500);
    // Reading on to the end and past it.
    int n = 1;
    while (ReadAndCheck(r.get(), TRACK_VIDEO, v) >= 0) ++n;
    EXPECT_EQ(n, 15);
}

// Damaged files: every one opens or fails with a code, and reading and seeking end cleanly.
void Exercise(const Bytes &bytes) {
    ReaderFile f(bytes);
    ReaderPtr r;
    MediaInfo info{};
    MeResult res = f.Open(&r, &info);
    if (res != ME_OK) {
        EXPECT_TRUE(MeFailed(res));
        return;
    }
    std::vector<uint8_t> buf(64 * 1024);
    for (int kind = TRACK_AUDIO; kind <= TRACK_DATA; ++kind) {
        for (int i = 0; i < 100000; ++i) {
            SampleRequest req{};
            req.data = buf.data();
            req.capacity = static_cast<uint32_t>(buf.size());
            req.kind = kind;
            MeResult rr = ReaderReadSample(r.get(), &req);
            if (rr != ME_OK) {
                EXPECT_TRUE(MeFailed(rr));
                break;
            }
            ASSERT_LE(req.written, buf.size());
        }
    }
    for (int64_t t : {0, 500, 1000000}) {
        int64_t tt = t;
        ReaderSeek(r.get(), &tt, SEEK_VIDEO_FIRST);
        tt = t;
        ReaderSeekStep(r.get(), &tt, STEP_FORWARD);
    }
}

Bytes Patch32(Bytes b, const std::string &type, int64_t delta_from_type, uint32_t value) {
    for (size_t i = 0; i + 4 <= b.size(); ++i)
        if (std::memcmp(b.data() + i, type.data(), 4) == 0) {
            size_t at = static_cast<size_t>(int64_t(i) + delta_from_type);
            if (at + 4 <= b.size()) {
                b[at] = uint8_t(value >> 24);
                b[at + 1] = uint8_t(value >> 16);
                b[at + 2] = uint8_t(value >> 8);
                b[at + 3] = uint8_t(value);
            }
            return b;
        }
    ADD_FAILURE() << "no " << type;
    return b;
}

TEST(Mp4Reader, DamagedBoxesAndTablesEndCleanly) {
    TrackSpec v = Video(30, 100, {1, 11, 21});
    TrackSpec a = Audio(24, 8000);
    const Bytes good = BuildMp4({v, a});
    struct Case {
        const char *what;
        Bytes bytes;
    };
    std::vector<Case> cases = {
        {"moov of size 0", Patch32(good, "moov", -4, 0)},
        {"trak beyond its parent", Patch32(good, "trak", -4, 0x7FFFFFF0)},
        {"stbl of size 8", Patch32(good, "stbl", -4, 8)},
        {"huge stsz count", Patch32(good, "stsz", 12, 0xFFFFFFFF)},
        {"huge stts count", Patch32(good, "stts", 8, 0x40000000)},
        {"huge stco count", Patch32(good, "stco", 8, 0xFFFFFFFF)},
        {"chunk offset past the file", Patch32(good, "stco", 12, 0x7FFFFFF0)},
        {"zero stsc first chunk", Patch32(good, "stsc", 12, 0)},
        {"zero samples per chunk", Patch32(good, "stsc", 16, 0)},
        {"huge sample size", Patch32(good, "stsz", 16, 0x7FFFFFFF)},
        {"zero timescale", Patch32(good, "mdhd", 16, 0)},
        {"64-bit size that lies", Patch32(Patch32(good, "moov", -4, 1), "moov", 4, 0xFFFFFFFF)},
        {"stss past the end", Patch32(good, "stss", 12, 0xFFFFFFF0)},
    };
    for (size_t cut : {size_t(3), size_t(8), size_t(20), good.size() / 3, good.size() / 2,
                       good.size() - 200, good.size() - 9, good.size() - 1})
        cases.push_back(
            {"truncated", Bytes(good.begin(), good.begin() + std::min(cut, good.size()))});
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Exercise(c.bytes);
    }
}

TEST(Mp4Reader, LargeSizesAndSixtyFourBitOffsetsAreRead) {
    TrackSpec v = Video(12, 100, {1, 7});
    FileSpec spec;
    spec.large_mdat = true;
    spec.co64 = true;
    ReaderFile f(BuildMp4({v}, spec));
    ReaderPtr r;
    MediaInfo info{};
    ASSERT_EQ(f.Open(&r, &info), ME_OK);
    for (int i = 0; i < 12; ++i) ASSERT_EQ(ReadAndCheck(r.get(), TRACK_VIDEO, v), i * 100);
    int64_t t = 800;
    ASSERT_EQ(ReaderSeek(r.get(), &t, SEEK_VIDEO_FIRST), 1);
    EXPECT_EQ(t, 600);
    EXPECT_EQ(ReadAndCheck(r.get(), TRACK_VIDEO, v), 600);
}

TEST(Mp4Reader, PictureSizeComesFromTheVideoObjectLayer) {
    // A VOL for 352x288 written bit by bit: rectangular shape, resolution 30000, no fixed rate.
    std::vector<uint8_t> vol = {0x00, 0x00, 0x01, 0x20};
    uint32_t acc = 0;
    int nbits = 0;
    auto put = [&](uint32_t v, int n) {
        for (int i = n - 1; i >= 0; --i) {
            acc = (acc << 1) | ((v >> i) & 1);
            if (++nbits == 8) {
                vol.push_back(uint8_t(acc));
                acc = 0;
                nbits = 0;
            }
        }
    };
    put(0, 1);
    put(1, 8);   // simple object
    put(1, 1);   // object layer identifier
    put(1, 4);   // verid
    put(1, 3);   // priority
    put(15, 4);  // extended aspect ratio
    put(0x0B0B, 16);
    put(1, 1);  // control parameters
    put(1, 2);
    put(1, 1);
    put(1, 1);  // VBV parameters: 79 bits
    put(0, 32);
    put(0, 32);
    put(0, 15);
    put(0, 2);  // rectangular
    put(1, 1);
    put(30000, 16);
    put(1, 1);
    put(1, 1);  // fixed rate: 15 bits for resolution 30000
    put(1001, 15);
    put(1, 1);
    put(352, 13);
    put(1, 1);
    put(288, 13);
    put(1, 1);
    put(0, 8);
    uint32_t w = 1, h = 1;
    ReaderPictureSizeFromConfig(MakeTag("mp4v"), vol.data(), uint32_t(vol.size()), &w, &h, nullptr,
                                nullptr);
    EXPECT_EQ(w, 352u);
    EXPECT_EQ(h, 288u);
    // An MPEG-2 sequence header of 720x576 at 25 fps, 15 Mbit/s.
    const uint8_t seq[] = {0x00, 0x00, 0x01, 0xB3, 0x2D, 0x02, 0x40, 0x33, 0x24, 0x9F, 0x23, 0x81};
    uint32_t fr = 0, br = 0;
    ReaderPictureSizeFromConfig(MakeTag("MPEG"), seq, sizeof seq, &w, &h, &fr, &br);
    EXPECT_EQ(w, 720u);
    EXPECT_EQ(h, 576u);
    EXPECT_EQ(fr, 25000u);
    // Garbage leaves the sample entry's size alone.
    const uint8_t junk[] = {1, 2, 3, 4, 5};
    w = 640;
    h = 480;
    ReaderPictureSizeFromConfig(TAG_MP4V, junk, sizeof junk, &w, &h, nullptr, nullptr);
    EXPECT_EQ(w, 640u);
    EXPECT_EQ(h, 480u);
}

}  // namespace
