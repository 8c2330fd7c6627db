// Scripted playback through `vantrec-tool play --do ... --trace`: every picture the engine draws
// is the picture the decoder produces for that time, whatever the user does in between (seeks in
// both directions, pauses, steps), and nothing from before a seek's target shows after it.
//
// The reference is decode-video's output (every picture in display order) paired with ffprobe's
// presentation times; the suite skips without ffprobe.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/common/testutil.h"
#include "tools/common/md5.h"

namespace {

using namespace vt::test;

struct Line {
    long wall, clock, picture;
    std::string md5;
};

struct Reference {
    std::vector<long> times;        // display order
    std::vector<std::string> md5s;  // same order
    std::vector<long> key_times;    // the I pictures
    // The MD5 of the picture presented at t (1 ms of rounding either way), or "" when none is.
    std::string At(long t) const {
        for (size_t i = 0; i < times.size(); ++i)
            if (times[i] >= t - 1 && times[i] <= t + 1) return md5s[i];
        return "";
    }
    long KeyAtOrBefore(long t) const {
        long best = 0;
        for (long k : key_times)
            if (k <= t + 1) best = k;
        return best;
    }
    long NearestKey(long t) const {
        long best = key_times.empty() ? 0 : key_times[0];
        for (long k : key_times)
            if (std::labs(k - t) < std::labs(best - t)) best = k;
        return best;
    }
    long Before(long t) const {  // the picture shown just before the one at t
        long best = -1;
        for (long x : times)
            if (x < t - 1) best = std::max(best, x);
        return best;
    }
};

Reference MakeReference(const std::string &file, const TempDir &dir) {
    Reference ref;
    std::string out;
    if (Run("ffprobe -v error -select_streams v:0 -show_entries "
            "frame=best_effort_timestamp_time,pict_type -of csv=p=0 " +
                Quote(file),
            &out) != 0)
        return ref;
    std::istringstream in(out);
    std::string row;
    while (std::getline(in, row)) {
        double sec = 0;
        char type = 0;
        if (std::sscanf(row.c_str(), "%lf,%c", &sec, &type) != 2) continue;
        long ms = long(sec * 1000 + 1e-6);
        ref.times.push_back(ms);
        if (type == 'I') ref.key_times.push_back(ms);
    }
    std::sort(ref.times.begin(), ref.times.end());
    std::sort(ref.key_times.begin(), ref.key_times.end());
    std::string yuv = (dir / "ref.yuv").string(), err = (dir / "err.txt").string();
    if (Run(Quote(ToolPath().string()) + " decode-video " + Quote(file) + " " + Quote(yuv) + " 2>" +
            Quote(err)) != 0)
        return Reference{};
    auto text = ReadFileBytes(err);
    int w = 0, h = 0, n = 0;
    std::string s(text.begin(), text.end());
    size_t at = s.rfind("frames=");
    if (at == std::string::npos ||
        std::sscanf(s.c_str() + at, "frames=%d width=%d height=%d", &n, &w, &h) != 3)
        return Reference{};
    auto bytes = ReadFileBytes(yuv);
    const size_t size = size_t(w) * h + 2 * size_t((w + 1) / 2) * ((h + 1) / 2);
    for (size_t off = 0; off + size <= bytes.size(); off += size)
        ref.md5s.push_back(vt::Md5Hex(bytes.data() + off, size));
    if (ref.md5s.size() != ref.times.size()) return Reference{};
    return ref;
}

std::vector<Line> ReadTrace(const std::string &path) {
    std::vector<Line> lines;
    auto bytes = ReadFileBytes(path);
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    std::string row;
    while (std::getline(in, row)) {
        Line l;
        char md5[64] = {};
        if (std::sscanf(row.c_str(), "%ld\t%ld\t%ld\t%63s", &l.wall, &l.clock, &l.picture, md5) !=
            4)
            continue;
        l.md5 = md5;
        lines.push_back(l);
    }
    return lines;
}

struct Command {
    long at;
    std::string cmd;
};

// Runs the script; returns the trace (empty when the tool failed).
std::vector<Line> RunScript(const std::string &file, const std::vector<Command> &script,
                            const TempDir &dir, std::string *json = nullptr) {
    std::string args = Quote(file);
    for (const Command &c : script) args += " --do " + std::to_string(c.at) + ":" + c.cmd;
    std::string trace = (dir / "trace.tsv").string();
    args += " --trace " + Quote(trace);
    std::string out;
    int status = Run("SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=" + Quote((dir / "a.raw").string()) +
                         " " + Quote(ToolPath().string()) + " play " + args + " 2>/dev/null",
                     &out);
    if (json) *json = out;
    if (status != 0) return {};
    return ReadTrace(trace);
}

std::string Dump(const std::vector<Line> &lines) {
    std::string s;
    for (const Line &l : lines)
        s += std::to_string(l.wall) + " " + std::to_string(l.clock) + " " +
             std::to_string(l.picture) + "\n";
    return s;
}

// The lines drawn after the command at index i settled and before the next command.
std::vector<Line> Between(const std::vector<Line> &lines, const std::vector<Command> &script,
                          size_t i) {
    long from =
        script[i].at + 20;  // the tool polls every 5 ms: a picture just before is not "after"
    long to = i + 1 < script.size() ? script[i + 1].at : 1L << 40;
    std::vector<Line> out;
    for (const Line &l : lines)
        if (l.wall >= from && l.wall < to) out.push_back(l);
    return out;
}

long Value(const std::string &cmd) { return std::stol(cmd.substr(cmd.find('=') + 1)); }

// Every picture is the decoder's picture for its time; after each seek nothing from before the
// place the seek lands on is drawn.
void CheckTrace(const Reference &ref, const std::vector<Command> &script,
                const std::vector<Line> &lines) {
    ASSERT_GT(lines.size(), 20u);
    int mismatched = 0;
    for (const Line &l : lines) {
        std::string want = ref.At(l.picture);
        if (want != l.md5 && ++mismatched <= 5)
            ADD_FAILURE() << "picture at " << l.picture << " ms (drawn at " << l.wall
                          << ") is not the decoder's picture for that time"
                          << (want.empty() ? " (no such time)" : "");
    }
    EXPECT_EQ(mismatched, 0) << Dump(lines);
    for (size_t i = 0; i < script.size(); ++i) {
        const std::string &c = script[i].cmd;
        long floor = -1;
        // A normal seek lands on the audio frame at or before the position (within 50 ms); an
        // exact one on the nearest key frame.
        if (c.rfind("seek=", 0) == 0) floor = Value(c) - 50;
        if (c.rfind("seek-exact=", 0) == 0) floor = ref.NearestKey(Value(c)) - 1;
        if (floor < 0) continue;
        for (const Line &l : Between(lines, script, i))
            EXPECT_GE(l.picture, floor) << "after " << c << " at " << script[i].at << ": picture "
                                        << l.picture << " drawn at " << l.wall;
    }
}

std::string SampleFile() { return (SamplesDir() / "20261108_083000.mp4").string(); }

// A stream with two B pictures between its references, muxed as the reference encoder does it.
std::string MakeBFrameFile(const TempDir &dir) {
    std::string f = (dir / "bframes.mp4").string();
    if (Run("ffmpeg -v error -y -f lavfi -i testsrc=size=320x240:rate=25:duration=8 -f lavfi -i "
            "sine=frequency=440:duration=8:sample_rate=44100 -c:v mpeg4 -bf 2 -g 25 -q:v 5 "
            "-c:a aac -b:a 64k -shortest " +
            Quote(f)) != 0)
        return "";
    return f;
}

// Forward and backward seeks of both kinds, playing and paused, steps both ways.
const std::vector<Command> kMixedScript = {
    {600, "seek=4100"},  {1200, "seek=1000"}, {1700, "pause"},     {1900, "seek=5150"},
    {2300, "step"},      {2500, "step"},      {2700, "step-back"}, {2950, "seek-exact=2600"},
    {3300, "step-back"}, {3500, "play"},      {4000, "seek=900"},  {4500, "seek-exact=6000"},
    {5000, "pause"},     {5200, "seek=3050"}, {5600, "play"},      {6200, "stop"},
};

class TraceTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveProgram("ffprobe") || !HaveProgram("ffmpeg"))
            GTEST_SKIP() << "ffprobe/ffmpeg absent";
    }
    TempDir m_dir;
};

TEST_F(TraceTest, SampleRecordingShowsTheDecodersPictureForEveryTimeAcrossAScript) {
    Reference ref = MakeReference(SampleFile(), m_dir);
    ASSERT_FALSE(ref.times.empty());
    std::string json;
    auto lines = RunScript(SampleFile(), kMixedScript, m_dir, &json);
    CheckTrace(ref, kMixedScript, lines);
    std::printf("sample trace: %zu pictures; %s", lines.size(), json.c_str());
}

TEST_F(TraceTest, BFrameStreamShowsTheDecodersPictureForEveryTimeAcrossAScript) {
    std::string f = MakeBFrameFile(m_dir);
    ASSERT_FALSE(f.empty());
    Reference ref = MakeReference(f, m_dir);
    ASSERT_FALSE(ref.times.empty());
    std::string json;
    auto lines = RunScript(f, kMixedScript, m_dir, &json);
    CheckTrace(ref, kMixedScript, lines);
    std::printf("B-frame trace: %zu pictures; %s", lines.size(), json.c_str());
}

// A paused seek to a time past a key frame shows only the picture it lands on: the pictures
// decoded on the way from the key frame never reach the screen.
TEST_F(TraceTest, PausedSeekDrawsNothingBetweenTheKeyFrameAndTheTarget) {
    const std::vector<Command> script = {{500, "pause"}, {800, "seek=3111"}, {1500, "stop"}};
    auto lines = RunScript(SampleFile(), script, m_dir);
    ASSERT_FALSE(lines.empty());
    auto after = Between(lines, script, 1);
    ASSERT_FALSE(after.empty()) << Dump(lines);
    for (const Line &l : after) EXPECT_GE(l.picture, 3111 - 50) << Dump(lines);
    EXPECT_EQ(after.size(), 1u) << Dump(lines);
}

// Stepping back goes one picture back each time, also across a key frame.
TEST_F(TraceTest, StepBackReachesEachPictureBeforeAlsoAcrossAKeyFrame) {
    Reference ref = MakeReference(SampleFile(), m_dir);
    ASSERT_FALSE(ref.times.empty());
    long key = ref.KeyAtOrBefore(3000);
    ASSERT_GT(key, 0);
    const std::vector<Command> script = {
        {400, "pause"},      {700, "seek-exact=" + std::to_string(key + 40)},
        {1300, "step-back"}, {1800, "step-back"},
        {2300, "step-back"}, {2800, "stop"}};
    auto lines = RunScript(SampleFile(), script, m_dir);
    ASSERT_FALSE(lines.empty());
    auto last_before = [&](long t) {
        long p = -1;
        for (const Line &l : lines)
            if (l.wall < t) p = l.picture;
        return p;
    };
    long shown = last_before(1300);
    ASSERT_GE(shown, key - 1) << Dump(lines);
    for (long at : {1800L, 2300L, 2800L}) {
        long now = last_before(at);
        EXPECT_NEAR(now, ref.Before(shown), 1) << "step back from " << shown << "\n" << Dump(lines);
        shown = now;
    }
    EXPECT_LT(shown, key) << "never got past the key frame at " << key;
}

// A pause that arrives right behind a seek (before the engine's tasks took the seek up) does not
// cancel it: the player ends paused at the seek's target.
TEST_F(TraceTest, PauseRightBehindASeekStillSeeks) {
    const std::vector<Command> script = {{600, "seek=9000"}, {600, "pause"}, {1600, "stop"}};
    std::string json;
    auto lines = RunScript(SampleFile(), script, m_dir, &json);
    ASSERT_FALSE(lines.empty());
    ASSERT_GE(lines.back().picture, 9000 - 50) << Dump(lines);
    EXPECT_LE(lines.back().picture, 9100) << Dump(lines);
    EXPECT_NE(json.find("\"state\": 0"), std::string::npos) << json;  // stopped by the script
}

}  // namespace

namespace {

long JsonField(const std::string &json, const std::string &key) {
    size_t at = json.find("\"" + key + "\": ");
    return at == std::string::npos ? -99999 : std::stol(json.substr(at + key.size() + 4));
}

// Two recordings of a trip play as one: the second follows on the same time line with its own
// pictures, without a pause at the join.
TEST_F(TraceTest, TripFollowsOnIntoTheNextRecordingWithoutAPause) {
    const std::string first = SampleFile();
    const std::string second = (SamplesDir() / "20261108_083015.mp4").string();
    Reference ref2 = MakeReference(second, m_dir);
    ASSERT_FALSE(ref2.times.empty());
    std::string trace = (m_dir / "trip.tsv").string(), out;
    ASSERT_EQ(
        vt::test::Run(
            "SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=" + Quote((m_dir / "a.raw").string()) + " " +
                Quote(ToolPath().string()) + " play " + Quote(first) + " " + Quote(second) +
                " --seek 13500 --until 17500 --trace " + Quote(trace) + " 2>/dev/null",
            &out),
        0);
    EXPECT_EQ(JsonField(out, "files_played"), 2) << out;
    EXPECT_EQ(JsonField(out, "duration_ms"), 30200) << out;
    auto lines = ReadTrace(trace);
    ASSERT_GT(lines.size(), 40u);
    // The join: the first picture of the second recording is its picture at 0, on the time line
    // after the first recording's last picture.
    size_t join = 0;
    for (size_t i = 1; i < lines.size() && !join; ++i)
        if (lines[i].md5 == ref2.md5s[0]) join = i;
    ASSERT_GT(join, 0u) << "the second recording's first picture never came\n" << Dump(lines);
    const long offset = lines[join].picture;
    EXPECT_GE(offset, 14966);
    EXPECT_LE(offset, 15100);
    EXPECT_EQ(lines[join - 1].picture, 14966) << Dump(lines);
    long gap = lines[join].wall - lines[join - 1].wall;
    std::printf("join: %ld ms without a new picture; gap_ms_max %ld\n", gap,
                JsonField(out, "gap_ms_max"));
    EXPECT_LE(gap, 250) << "a pause at the join";
    // From there on the second recording's own pictures, at their own times.
    int checked = 0;
    for (size_t i = join; i < lines.size(); ++i, ++checked)
        ASSERT_EQ(lines[i].md5, ref2.At(lines[i].picture - offset))
            << "picture at " << lines[i].picture << " (" << lines[i].picture - offset
            << " in the second)";
    EXPECT_GT(checked, 30);
}

}  // namespace
