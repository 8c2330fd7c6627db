// vantrec-tool play, end to end.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "imaging/imaging.h"
#include "tests/common/testutil.h"

namespace {

using namespace vt::test;

long Field(const std::string &json, const std::string &key) {
    std::smatch m;
    std::regex re("\"" + key + "\": (-?[0-9]+)");
    if (!std::regex_search(json, m, re)) return -99999;
    return std::stol(m[1]);
}

std::string Tool(const std::string &args, const TempDir &dir, int *status) {
    std::string out;
    *status = Run("SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=" + Quote((dir / "a.raw").string()) +
                      " " + Quote(ToolPath().string()) + " play " + args + " 2>/dev/null",
                  &out);
    return out;
}

TEST(PlayCommand, PrintsTheSummaryWithEveryKey) {
    TempDir dir;
    std::string sample = Quote((SamplesDir() / "20261108_083000.mp4").string());
    std::string jpg = (dir / "cap.jpg").string();
    int status = 0;
    std::string out =
        Tool(sample + " --seek 2000 --until 3500 --capture " + Quote(jpg) + "@2500", dir, &status);
    ASSERT_EQ(status, 0) << out;
    for (const char *key :
         {"duration_ms", "position_ms", "state", "frames_presented", "frames_late",
          "frames_late_drop", "frames_late_skip", "early_waits", "audio_blocks", "first_picture_ms",
          "av_offset_p50_ms", "av_offset_p95_ms"})
        EXPECT_NE(Field(out, key), -99999) << key << " missing in " << out;
    EXPECT_EQ(Field(out, "duration_ms"), 15100);
    EXPECT_GE(Field(out, "position_ms"), 3500);
    EXPECT_EQ(Field(out, "state"), 7);
    EXPECT_GE(Field(out, "frames_presented"), 20);
    EXPECT_GE(Field(out, "audio_blocks"), 10);
    ImageBgr img;
    ASSERT_EQ(ImageReadJpeg(jpg.c_str(), &img), 1);
    EXPECT_EQ(img.width, 640);
    ImageFree(&img);
}

TEST(PlayCommand, PauseAtAndNoAudio) {
    TempDir dir;
    std::string sample = Quote((SamplesDir() / "20261108_083000.mp4").string());
    int status = 0;
    std::string out = Tool(sample + " --pause-at 1000 --no-audio", dir, &status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_EQ(Field(out, "state"), 9);
    EXPECT_EQ(Field(out, "audio_blocks"), 0);
    EXPECT_EQ(Field(out, "av_offset_p95_ms"), -1);
}

TEST(PlayCommand, RefusesWhatItCannotPlay) {
    TempDir dir;
    int status = 0;
    Tool(Quote((dir / "missing.mp4").string()), dir, &status);
    EXPECT_EQ(status, 2);
    Tool(Quote((SamplesDir() / "20261108_083000.mp4").string()) + " --speed abc", dir, &status);
    EXPECT_EQ(status, 2);
}

}  // namespace

namespace {

// Public recordings of other makers: the engine plays them at the right pace (50 ms audio
// blocks match the clock) and shows their pictures.
class PublicVectors : public ::testing::TestWithParam<const char *> {};

TEST_P(PublicVectors, PlayAtTheRightPace) {
    auto path = TestVector(GetParam());
    if (path.empty()) GTEST_SKIP() << "test vectors absent";
    TempDir dir;
    int status = 0;
    std::string out = Tool(Quote(path.string()) + " --until 1500", dir, &status);
    ASSERT_EQ(status, 0) << out;
    long pos = Field(out, "position_ms"), blocks = Field(out, "audio_blocks");
    long frames = Field(out, "frames_presented");
    EXPECT_GT(pos, 0);
    EXPECT_TRUE(blocks > 0 || frames > 0) << out;
    if (blocks > 5) {
        EXPECT_NEAR(double(blocks) * 50, double(pos), pos * 0.35 + 100) << out;
    }
}

INSTANTIATE_TEST_SUITE_P(Files, PublicVectors,
                         ::testing::Values("aac/fate_al07_96.mp4", "aac/fate_al04_44.mp4",
                                           "aac/fate_al_sbr_cm_48_2.mp4",
                                           "mpeg4v/cts_swirl_130x132_mpeg4.mp4",
                                           "mpeg4v/androidx_bbb_176x144_128kbps_15fps_h263.3gp",
                                           "mpeg4v/exo_video_desks.3gp"));

}  // namespace

namespace {

// VANTREC_LOG=1 makes the engine say why a start failed; without it the engine is silent.
TEST(PlayCommand, LogSaysWhyTheDecodersDidNotStartOnlyWhenAskedTo) {
    TempDir dir;
    auto bytes = ReadFileBytes(SamplesDir() / "20261108_083000.mp4");
    ASSERT_FALSE(bytes.empty());
    std::string s(bytes.begin(), bytes.end());
    for (const char *tag : {"mp4v", "mp4a"}) {
        size_t at = s.find(tag);
        ASSERT_NE(at, std::string::npos);
        s[at] = s[at + 1] = 'z';  // no decoder takes the track
    }
    std::string file = (dir / "unplayable.mp4").string();
    ASSERT_TRUE(WriteFileBytes(file, std::vector<uint8_t>(s.begin(), s.end())));
    std::string err = (dir / "err.txt").string();
    auto run = [&](const std::string &env) {
        vt::test::Run(env + " SDL_AUDIODRIVER=none " + Quote(ToolPath().string()) + " play " +
                      Quote(file) + " 2>" + Quote(err));
        auto text = ReadFileBytes(err);
        return std::string(text.begin(), text.end());
    };
    std::string logged = run("VANTREC_LOG=1");
    EXPECT_NE(logged.find("vantrec: video decoder"), std::string::npos) << logged;
    EXPECT_NE(logged.find("vantrec: audio decoder"), std::string::npos) << logged;
    EXPECT_NE(logged.find("nothing to play"), std::string::npos) << logged;
    std::string quiet = run("VANTREC_LOG=");
    EXPECT_EQ(quiet.find("vantrec: "), std::string::npos) << quiet;
    EXPECT_NE(quiet.find("vantrec-tool: "), std::string::npos)
        << "the failure itself is still reported";
}

}  // namespace
