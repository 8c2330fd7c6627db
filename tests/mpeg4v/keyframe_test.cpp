// Key-frame-only decoding against the full decode of the same streams, and the fast progressive
// path against the general one on the bundled recordings (no ffmpeg needed for those).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/mpeg4v/internal.h"
#include "codec/mpeg4v/mpeg4v.h"
#include "tests/common/testutil.h"
#include "tests/mpeg4v/conformance.h"
#include "tests/mpeg4v/stream_builder.h"
#include "tools/vantrec-tool/track_input.h"

namespace {

namespace fs = std::filesystem;

struct Track {
    std::vector<uint8_t> config;
    std::vector<std::vector<uint8_t>> units;
    bool shortHdr = false;
    int width = 0, height = 0;
};

bool ReadVideo(const fs::path &file, Track *t) {
    vt::tool::TrackInfo info;
    std::vector<vt::tool::TrackSample> samples;
    std::string error;
    if (!vt::tool::ReadWholeTrack(file.string().c_str(), vt::tool::kTrackVideo, &info, &samples,
                                  &error))
        return false;
    t->config = info.config;
    t->shortHdr = info.config.empty();
    t->width = info.width;
    t->height = info.height;
    for (auto &s : samples) t->units.push_back(std::move(s.data));
    return !t->units.empty();
}

struct Pic {
    int type;
    std::vector<uint8_t> yuv;
};

// Every picture returned, in order, with its coding type; keyOnly decodes through the key-frame
// call.
std::vector<Pic> Decode(const Track &t, bool keyOnly, bool general = false) {
    mp4vtest::Decoder d;
    std::vector<Pic> pics;
    if (!d.Init(t.config, t.shortHdr ? 1 : -1, 2048, 2048, 3, 0, keyOnly ? 1 : 0)) return pics;
    if (general) static_cast<mp4v::Instance *>(d.handle)->forceGeneral = 1;
    auto take = [&]() {
        if (!d.out.pY) return;
        Pic p{d.picInfo[0], {}};
        uint32_t w = d.out.uWidth, h = d.out.uHeight, cw = (w + 1) / 2, ch = (h + 1) / 2;
        for (uint32_t r = 0; r < h; ++r)
            p.yuv.insert(p.yuv.end(), d.out.pY + r * d.out.uPitch, d.out.pY + r * d.out.uPitch + w);
        for (const uint8_t *plane : {d.out.pU, d.out.pV})
            for (uint32_t r = 0; r < ch; ++r)
                p.yuv.insert(p.yuv.end(), plane + r * d.out.uPitch / 2,
                             plane + r * d.out.uPitch / 2 + cw);
        pics.push_back(std::move(p));
    };
    for (const auto &u : t.units) {
        // A unit may pack two pictures (a B-VOP after its anchor): go on after the bytes used.
        size_t off = 0;
        while (off < u.size()) {
            Mp4vDecInput in{0, u.data() + off, uint32_t(u.size() - off), 1, 0, 0};
            d.out = Mp4vDecOutput{};
            d.out.piPicInfo = d.picInfo;
            uint32_t used = keyOnly ? Mp4vDecDecodeKeyFrame(d.handle, &in, &d.out)
                                    : Mp4vDecDecode(d.handle, &in, &d.out);
            take();
            if (used == 0 || u.size() - off - used < 5) break;
            off += used;
        }
    }
    if (!keyOnly) {
        d.Flush();
        take();
    }
    return pics;
}

void ExpectKeyFramesMatch(const Track &t) {
    auto all = Decode(t, false);
    auto keys = Decode(t, true);
    std::vector<const Pic *> intra;
    for (const Pic &p : all)
        if (p.type == 0) intra.push_back(&p);
    ASSERT_FALSE(intra.empty());
    ASSERT_EQ(keys.size(), intra.size());
    for (size_t i = 0; i < keys.size(); ++i) {
        EXPECT_EQ(keys[i].type, 0) << "key frame " << i;
        EXPECT_TRUE(keys[i].yuv == intra[i]->yuv) << "key frame " << i;
    }
    std::size_t counted = 0;
    for (const auto &u : t.units)
        counted += Mp4vDecIsKeyFrame(u.data(), uint32_t(u.size()), t.shortHdr ? 1 : 0) == 1;
    EXPECT_EQ(counted, intra.size());
}

TEST(Mp4vKeyFrames, PictureTypesFromTheFirstHeader) {
    const uint8_t i_vop[] = {0, 0, 1, 0xB6, 0x10, 0x20};
    const uint8_t p_vop[] = {0, 0, 1, 0xB6, 0x50, 0x20};
    const uint8_t b_vop_after_vol[] = {0, 0, 1, 0x20, 0x08, 0, 0, 1, 0xB6, 0x90};
    const uint8_t headers_only[] = {0, 0, 1, 0xB0, 0x01, 0, 0, 1, 0xB5};
    EXPECT_EQ(Mp4vDecIsKeyFrame(i_vop, sizeof i_vop, 0), 1);
    EXPECT_EQ(Mp4vDecIsKeyFrame(p_vop, sizeof p_vop, 0), 0);
    EXPECT_EQ(Mp4vDecIsKeyFrame(b_vop_after_vol, sizeof b_vop_after_vol, 0), 0);
    EXPECT_EQ(Mp4vDecIsKeyFrame(headers_only, sizeof headers_only, 0), -1);
    EXPECT_EQ(Mp4vDecIsKeyFrame(i_vop, 4, 0), -1);  // the type byte lies past the end
    EXPECT_EQ(Mp4vDecIsKeyFrame(nullptr, 8, 0), -1);
    // Short header: start code, TR 0, PTYPE 1 0 0 0 0 010 (QCIF) and the coding type.
    const uint8_t intra[] = {0, 0, 0x80, 0x02, 0x08, 0};
    const uint8_t inter[] = {0, 0, 0x80, 0x02, 0x0A, 0};
    EXPECT_EQ(Mp4vDecIsKeyFrame(intra, sizeof intra, 1), 1);
    EXPECT_EQ(Mp4vDecIsKeyFrame(inter, sizeof inter, 1), 0);
    EXPECT_EQ(Mp4vDecIsKeyFrame(intra, 4, 1), -1);
}

struct Made {
    const char *name, *size, *args;
    bool shortHdr;
};

class KeyFramesOfMadeStreams : public ::testing::TestWithParam<Made> {};

// Only the intra pictures come back, each identical to the same picture of a full decode, with
// B-frames reordered around them, quarter-sample layers and short-header streams alike.
TEST_P(KeyFramesOfMadeStreams, MatchTheFullDecode) {
    if (!vt::test::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    const Made &m = GetParam();
    vt::test::TempDir tmp;
    fs::path raw = tmp / (m.shortHdr ? "s.h263" : "s.m4v");
    ASSERT_TRUE(mp4vtest::MakeStream(raw, m.size, "25", m.args, 24));
    Track t;
    t.shortHdr = m.shortHdr;
    t.units = mp4vtest::SplitUnits(vt::test::ReadFileBytes(raw), m.shortHdr, &t.config);
    ExpectKeyFramesMatch(t);
}

INSTANTIATE_TEST_SUITE_P(
    Mp4v, KeyFramesOfMadeStreams,
    ::testing::Values(Made{"bframes", "352x288", "-c:v mpeg4 -bf 2 -g 5 -q:v 4", false},
                      Made{"qpel", "352x288", "-c:v mpeg4 -flags +qpel -bf 1 -g 7 -q:v 4", false},
                      Made{"short_header", "176x144", "-c:v h263 -g 6 -q:v 5", true}),
    [](const ::testing::TestParamInfo<Made> &i) { return std::string(i.param.name); });

class BundledRecordings : public ::testing::TestWithParam<const char *> {};

TEST_P(BundledRecordings, KeyFramesMatchTheFullDecode) {
    Track t;
    ASSERT_TRUE(ReadVideo(vt::test::SamplesDir() / GetParam(), &t));
    ExpectKeyFramesMatch(t);
}

// The fast progressive decoders and the general ones give the same pictures, byte for byte.
TEST_P(BundledRecordings, FastEqualsGeneral) {
    Track t;
    ASSERT_TRUE(ReadVideo(vt::test::SamplesDir() / GetParam(), &t));
    auto fast = Decode(t, false), general = Decode(t, false, true);
    ASSERT_FALSE(fast.empty());
    ASSERT_EQ(fast.size(), general.size());
    for (size_t i = 0; i < fast.size(); ++i)
        EXPECT_TRUE(fast[i].yuv == general[i].yuv) << "picture " << i;
}

INSTANTIATE_TEST_SUITE_P(Samples, BundledRecordings,
                         ::testing::Values("20261108_083000.mp4", "20261108_083015.mp4",
                                           "20261108_083030.mp4", "h263/20261109_120000.mp4",
                                           "other-model/20261109_071500.mp4"),
                         [](const ::testing::TestParamInfo<const char *> &i) {
                             std::string s = i.param;
                             for (char &c : s)
                                 if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                             return s;
                         });

}  // namespace
