// Splitting encoded streams into samples: checked against ffprobe's view of the same streams.
#include <gtest/gtest.h>

#include <sstream>

#include "tests/common/testutil.h"
#include "tests/mkrec/mkrec_testutil.h"
#include "tools/mkrec/mkrec.h"

namespace vt::test::mkrec {
namespace {

using vt::mkrec::AudioTrack;
using vt::mkrec::VideoTrack;

// Picture types of a raw stream in decode order, as ffprobe reports them ("IPPP...").
std::string PictureTypes(const Bytes &stream, const std::string &format) {
    TempDir dir;
    WriteFileBytes(dir / "s", stream);
    std::string out;
    Run("ffprobe -v error -f " + format +
            " -show_frames -show_entries frame=pict_type -of csv=p=0 " +
            Quote((dir / "s").string()),
        &out);
    std::string types;
    for (char c : out)
        if (c == 'I' || c == 'P' || c == 'B') types += c;
    return types;
}

struct VideoCase {
    const char *kind;
    const char *extra;
    int width, height;
};

void PrintTo(const VideoCase &c, std::ostream *os) {
    *os << c.kind << " " << c.width << "x" << c.height;
}

class VideoSplit : public ::testing::TestWithParam<VideoCase> {};

TEST_P(VideoSplit, SamplesRejoinToTheStreamAndFollowThePictureTypes) {
    if (!HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    const VideoCase &c = GetParam();
    Bytes stream = EncodeStream(c.kind, 1.0, c.extra);
    ASSERT_FALSE(stream.empty());
    bool h263 = std::string(c.kind) == "h263";
    VideoTrack track;
    std::string error;
    ASSERT_TRUE(h263 ? vt::mkrec::SplitH263(stream, &track, &error)
                     : vt::mkrec::SplitMpeg4Video(stream, &track, &error))
        << error;
    EXPECT_EQ(track.width, c.width);
    EXPECT_EQ(track.height, c.height);

    Bytes joined;
    std::string types;
    for (const auto &s : track.samples) {
        joined.insert(joined.end(), s.data.begin(), s.data.end());
        types += s.sync ? 'I' : 'P';
    }
    EXPECT_EQ(joined, stream);
    EXPECT_EQ(types, PictureTypes(stream, h263 ? "h263" : "m4v"));

    if (!h263) {
        // Each sample holds exactly one VOP; the configuration is the headers without the GOV.
        for (const auto &s : track.samples) {
            int vops = 0;
            for (size_t i = 0; i + 3 < s.data.size(); ++i)
                vops += s.data[i] == 0 && s.data[i + 1] == 0 && s.data[i + 2] == 1 &&
                        s.data[i + 3] == 0xB6;
            EXPECT_EQ(vops, 1);
        }
        ASSERT_GE(track.config.size(), 4u);
        EXPECT_EQ(Be32(track.config, 0), 0x000001B0u);
        EXPECT_TRUE(std::equal(track.config.begin(), track.config.end(), stream.begin()));
        EXPECT_EQ(stream[track.config.size() + 3], 0xB3)
            << "configuration should stop at the GOV header";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Streams, VideoSplit,
    ::testing::Values(VideoCase{"m4v", "", 640, 480}, VideoCase{"m4v", "-s 176x144", 176, 144},
                      VideoCase{"m4v", "-s 720x576 -flags +mv4", 720, 576},
                      VideoCase{"h263", "", 352, 288}, VideoCase{"h263", "-s 176x144", 176, 144},
                      VideoCase{"h263", "-s 128x96", 128, 96}),
    [](const auto &info) {
        return std::string(info.param.kind) + "_" + std::to_string(info.param.width);
    });

struct AudioCase {
    int rate, channels;
    uint8_t asc0, asc1;
};

void PrintTo(const AudioCase &c, std::ostream *os) {
    *os << c.rate << " Hz, " << c.channels << " ch";
}

class AdtsSplit : public ::testing::TestWithParam<AudioCase> {};

TEST_P(AdtsSplit, FramesLoseTheirHeadersAndTheConfigMatchesTheStream) {
    if (!HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    const AudioCase &c = GetParam();
    Bytes stream = EncodeStream(
        "adts", 1.0, "-ar " + std::to_string(c.rate) + " -ac " + std::to_string(c.channels));
    ASSERT_FALSE(stream.empty());
    AudioTrack track;
    std::string error;
    ASSERT_TRUE(vt::mkrec::ParseAdts(stream, &track, &error)) << error;
    EXPECT_EQ(track.sample_rate, c.rate);
    EXPECT_EQ(track.channels, c.channels);
    EXPECT_EQ(track.config, (Bytes{c.asc0, c.asc1}));

    // Rebuild the stream from each frame: ffmpeg writes 7-byte headers with no CRC.
    size_t pos = 0;
    for (const auto &f : track.frames) {
        ASSERT_LE(pos + 7 + f.size(), stream.size());
        size_t len =
            ((stream[pos + 3] & 3u) << 11) | (stream[pos + 4] << 3) | (stream[pos + 5] >> 5);
        EXPECT_EQ(len, f.size() + 7);
        EXPECT_TRUE(
            std::equal(f.begin(), f.end(), stream.begin() + static_cast<std::ptrdiff_t>(pos + 7)));
        pos += len;
    }
    EXPECT_EQ(pos, stream.size());
}

INSTANTIATE_TEST_SUITE_P(
    Rates, AdtsSplit,
    ::testing::Values(AudioCase{22050, 1, 0x13, 0x88}, AudioCase{32000, 1, 0x12, 0x88},
                      AudioCase{8000, 2, 0x15, 0x90}, AudioCase{48000, 2, 0x11, 0x90}),
    [](const auto &info) {
        return std::to_string(info.param.rate) + "_" + std::to_string(info.param.channels);
    });

// Damaged streams: each is refused with a one-line message (the fuzz target covers the rest).
TEST(DamagedStreams, AreRefusedWithAMessage) {
    if (!HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    Bytes m4v = EncodeStream("m4v", 0.4), h263 = EncodeStream("h263", 0.4),
          adts = EncodeStream("adts", 0.3);
    ASSERT_FALSE(m4v.empty() || h263.empty() || adts.empty());

    VideoTrack v;
    std::string split_error;
    ASSERT_TRUE(vt::mkrec::SplitMpeg4Video(m4v, &v, &split_error)) << split_error;
    Bytes config_only = v.config;
    Bytes starts_with_p = v.config;
    starts_with_p.insert(starts_with_p.end(), v.samples[1].data.begin(), v.samples[1].data.end());
    Bytes h263_format7 = h263;
    h263_format7[4] |= 0x1C;  // source format bits of PTYPE = 7 (extended)
    Bytes adts_two_blocks = adts;
    adts_two_blocks[6] |= 1;
    Bytes adts_cut = adts;
    adts_cut.pop_back();
    Bytes adts_junk = adts;
    adts_junk.insert(adts_junk.begin(), {0x49, 0x44, 0x33});

    struct Case {
        const char *name;
        Bytes bytes;
        int parser;  // 0 m4v, 1 h263, 2 adts
    } cases[] = {
        {"empty m4v", {}, 0},
        {"headers without a VOP", config_only, 0},
        {"P-VOP first", starts_with_p, 0},
        {"empty h263", {}, 1},
        {"h263 without start code", Bytes(m4v.begin() + 1, m4v.end()), 1},
        {"extended PTYPE", h263_format7, 1},
        {"empty adts", {}, 2},
        {"two raw blocks", adts_two_blocks, 2},
        {"cut last frame", adts_cut, 2},
        {"junk before sync", adts_junk, 2},
    };
    for (const Case &c : cases) {
        std::string error;
        VideoTrack vt;
        AudioTrack at;
        bool ok = c.parser == 0   ? vt::mkrec::SplitMpeg4Video(c.bytes, &vt, &error)
                  : c.parser == 1 ? vt::mkrec::SplitH263(c.bytes, &vt, &error)
                                  : vt::mkrec::ParseAdts(c.bytes, &at, &error);
        EXPECT_FALSE(ok) << c.name;
        EXPECT_FALSE(error.empty()) << c.name;
        EXPECT_EQ(error.find('\n'), std::string::npos) << c.name;
    }
}

}  // namespace
}  // namespace vt::test::mkrec
