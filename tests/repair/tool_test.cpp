// vantrec-tool repair, info and play on recordings cut at many points, end to end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "tests/common/testutil.h"
#include "tests/mkrec/mkrec_testutil.h"
#include "tests/repair/repair_testutil.h"

namespace {

using namespace vt::test::repair;
using vt::test::Quote;
using vt::test::Run;
using vt::test::TempDir;

struct Result {
    int status = -1;
    std::string out, err;
};

Result Tool(const TempDir &dir, const std::string &args) {
    Result r;
    auto err = dir / "stderr.txt";
    r.status = Run(Quote(vt::test::ToolPath().string()) + " " + args + " 2>" + Quote(err.string()),
                   &r.out);
    auto bytes = vt::test::ReadFileBytes(err);
    r.err.assign(bytes.begin(), bytes.end());
    return r;
}

std::string LastLine(const std::string &text) {
    std::string t = text;
    while (!t.empty() && t.back() == '\n') t.pop_back();
    size_t nl = t.rfind('\n');
    return nl == std::string::npos ? t : t.substr(nl + 1);
}

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

// What ffprobe says about a file at warning level, but for its note that it has no decoder for
// the sensor stream (the camera's private object type).
std::string ProbeComplaints(const std::filesystem::path &file) {
    std::string out;
    Run("ffprobe -v warning -show_streams -show_packets " + Quote(file.string()) +
            " 2>&1 >/dev/null | grep -Ev '^Unsupported codec with id 0 for input stream [0-9]+$'",
        &out);
    return out;
}

Bytes Cut(const Bytes &full, uint64_t at) { return Bytes(full.begin(), full.begin() + at); }

class RepairTool : public ::testing::Test {
protected:
    void SetUp() override {
        m_full = MakeRecording(6.0);
        if (m_full.empty()) GTEST_SKIP() << "ffmpeg is needed to encode the test streams";
        ASSERT_TRUE(ReadTruth(m_full, &m_truth));
        vt::test::WriteFileBytes(m_dir / "full.mp4", m_full);
        for (const char *kind : {"video", "audio", "data"}) {
            Result r =
                Tool(m_dir, "samples " + Quote((m_dir / "full.mp4").string()) + " --kind " + kind);
            ASSERT_EQ(r.status, 0) << r.err;
            m_lines[kind] = Lines(r.out);
        }
    }

    // Repairs `broken` and checks the contract: one summary line, every sample of the copy equal
    // to the uncut recording's sample of the same number, ffprobe content, the broken file as it was.
    void ExpectRepaired(const std::filesystem::path &broken, const std::string &options,
                        bool audio) {
        Bytes before = vt::test::ReadFileBytes(broken);
        auto out = m_dir / "out.mp4";
        std::filesystem::remove(out);
        Result r = Tool(m_dir, "repair " + Quote(broken.string()) + " " + options + " -o " +
                                   Quote(out.string()));
        ASSERT_EQ(r.status, 0) << r.err;
        std::string last = LastLine(r.err);
        unsigned long m[4] = {};
        char tail = 0;
        ASSERT_EQ(
            std::sscanf(last.c_str(), "recovered video=%lu audio=%lu data=%lu duration_ms=%lu%c",
                        &m[0], &m[1], &m[2], &m[3], &tail),
            4)
            << r.err;
        EXPECT_EQ(vt::test::ReadFileBytes(broken), before);
        EXPECT_EQ(r.err.find("audio left out") == std::string::npos, audio) << r.err;
        const char *kinds[3] = {"video", "audio", "data"};
        for (int k = 0; k < 3; ++k) {
            size_t n = m[k];
            Result s = Tool(m_dir, "samples " + Quote(out.string()) + " --kind " + kinds[k]);
            std::vector<std::string> got =
                s.status == 0 ? Lines(s.out) : std::vector<std::string>{};
            ASSERT_EQ(got.size(), n) << kinds[k];
            const auto &want = m_lines[kinds[k]];
            ASSERT_LE(n, want.size());
            for (size_t i = 0; i < n; ++i)
                ASSERT_EQ(got[i], want[i]) << kinds[k] << " sample " << i;
            if (k != 1 || audio) {
                EXPECT_GT(n, 0u) << kinds[k];
            }
        }
        EXPECT_EQ(ProbeComplaints(out), "");
        m_recovered = m[0] + m[1] + m[2];
    }

    // Samples whose last byte lies before `cut`.
    size_t Whole(uint64_t cut) const {
        size_t n = 0;
        for (const auto &list : m_truth.samples)
            for (const Range &s : list) n += s.offset + s.size <= cut;
        return n;
    }

    TempDir m_dir;
    Bytes m_full;
    Truth m_truth;
    std::map<std::string, std::vector<std::string>> m_lines;
    size_t m_recovered = 0;
};

TEST_F(RepairTool, CutRecordingsAreRebuiltSampleForSampleWithAndWithoutReference) {
    const auto &v = m_truth.samples[0], &a = m_truth.samples[1], &d = m_truth.samples[2];
    const std::vector<std::pair<std::string, uint64_t>> cuts = {
        {"inside a picture", v[70].offset + v[70].size / 3},
        {"inside an audio chunk", a[50].offset + 5},
        {"inside a sensor record", d[33].offset + 130},
        {"in the movie box", m_full.size() - 40},
    };
    TempDir lone;  // a folder with no other recording in it
    double recovered = 0, whole = 0;
    for (const auto &[what, cut] : cuts) {
        SCOPED_TRACE(what);
        auto broken = m_dir / "20261108_090000.mp4";  // full.mp4 beside it is found as reference
        vt::test::WriteFileBytes(broken, Cut(m_full, cut));
        ExpectRepaired(broken, "", true);
        recovered += double(m_recovered);
        whole += double(Whole(cut));
        ExpectRepaired(broken, "--reference " + Quote((m_dir / "full.mp4").string()), true);
        auto alone = lone / "20261108_090000.mp4";
        vt::test::WriteFileBytes(alone, Cut(m_full, cut));
        ExpectRepaired(alone, "", false);
    }
    std::printf("recovered share with reference: %.4f of %g whole samples\n", recovered / whole,
                whole);
}

TEST_F(RepairTool, DeclaredSizeBeyondFourGibibytesIsReadAsFarAsTheFileGoes) {
    // The same media behind a 64-bit media-data header that claims 4.5 GiB.
    const uint64_t cut = m_truth.samples[2][40].offset + 20;
    Bytes big(cut + 8);
    std::copy(m_full.begin(), m_full.begin() + 104, big.begin());
    const uint8_t header[16] = {0, 0, 0, 1, 'm', 'd', 'a', 't', 0, 0, 0, 1, 0x20, 0, 0, 0};
    std::copy(header, header + 16, big.begin() + 104);
    std::copy(m_full.begin() + 112, m_full.begin() + cut, big.begin() + 120);
    auto broken = m_dir / "big.mp4";
    vt::test::WriteFileBytes(broken, big);
    auto out = m_dir / "out.mp4";
    Result r = Tool(m_dir, "repair " + Quote(broken.string()) + " --reference " +
                               Quote((m_dir / "full.mp4").string()) + " -o " + Quote(out.string()));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(LastLine(r.err).rfind("recovered video=", 0), 0u);
    EXPECT_NE(LastLine(r.err).find(" data=40 "), std::string::npos) << r.err;
    Result s = Tool(m_dir, "samples " + Quote(out.string()) + " --kind video");
    auto lines = Lines(s.out);
    ASSERT_FALSE(lines.empty());
    for (size_t i = 0; i < lines.size(); ++i) ASSERT_EQ(lines[i], m_lines["video"][i]);
}

TEST_F(RepairTool, InfoAndPlayNameTheCauseAndIntactOrEmptyFilesAreLeftAlone) {
    auto cut = m_dir / "cut.mp4";
    vt::test::WriteFileBytes(cut, Cut(m_full, m_full.size() / 2));
    const std::string line =
        "the recording's index is missing: it was cut off; try vantrec-tool repair";
    for (const char *cmd : {"info", "play"}) {
        Result r = Tool(m_dir, std::string(cmd) + " " + Quote(cut.string()) + " --no-audio");
        EXPECT_EQ(r.status, 2) << cmd;
        EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
        EXPECT_NE(r.err.find(line), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "") << cmd;
    }
    auto out = m_dir / "out.mp4";
    Result intact = Tool(
        m_dir, "repair " + Quote((m_dir / "full.mp4").string()) + " -o " + Quote(out.string()));
    EXPECT_EQ(intact.status, 2);
    EXPECT_NE(intact.err.find("nothing to repair"), std::string::npos) << intact.err;
    EXPECT_FALSE(std::filesystem::exists(out));
    // Cut just after the media-data header: nothing to recover, nothing written.
    vt::test::WriteFileBytes(cut, Cut(m_full, 112));
    Result empty = Tool(m_dir, "repair " + Quote(cut.string()) + " -o " + Quote(out.string()));
    EXPECT_EQ(empty.status, 2);
    EXPECT_EQ(Lines(empty.err).size(), 1u) << empty.err;
    EXPECT_FALSE(std::filesystem::exists(out));
    // The copy never replaces the broken recording, even when asked to.
    vt::test::WriteFileBytes(cut, Cut(m_full, m_full.size() / 2));
    Result same = Tool(m_dir, "repair " + Quote(cut.string()) + " -o " + Quote(cut.string()));
    EXPECT_EQ(same.status, 2);
    EXPECT_EQ(vt::test::ReadFileBytes(cut), Cut(m_full, m_full.size() / 2));
}

TEST_F(RepairTool, RepairedCopyPlaysThroughTheEngine) {
    auto broken = m_dir / "cut.mp4";
    vt::test::WriteFileBytes(broken, Cut(m_full, m_truth.samples[2][30].offset + 1));
    auto out = m_dir / "out.mp4";
    Result r = Tool(m_dir, "repair " + Quote(broken.string()) + " -o " + Quote(out.string()));
    ASSERT_EQ(r.status, 0) << r.err;
    Result play = Tool(m_dir, "play " + Quote(out.string()) + " --no-audio --until 600");
    ASSERT_EQ(play.status, 0) << play.err;
    size_t at = play.out.find("\"frames_presented\": ");
    ASSERT_NE(at, std::string::npos) << play.out;
    EXPECT_GT(std::atoi(play.out.c_str() + at + 20), 5);
}

}  // namespace

namespace {

// The file under `vantrec-tool play` is cut shorter, or deleted, half a second in.
TEST(PlayFault, FileCutOrDeletedUnderThePlayerEndsItWithOneLineWithinTwoSeconds) {
    auto sample = vt::test::SamplesDir() / "20261108_083000.mp4";
    if (!std::filesystem::exists(sample)) GTEST_SKIP() << "no samples";
    TempDir dir;
    for (const std::string action : {"truncate -s 300000", "rm -f"}) {
        SCOPED_TRACE(action);
        auto file = dir / "rec.mp4";
        std::filesystem::copy_file(sample, file, std::filesystem::copy_options::overwrite_existing);
        auto err = dir / "err.txt";
        std::string script = Quote(vt::test::ToolPath().string()) + " play " +
                             Quote(file.string()) + " --no-audio >/dev/null 2>" +
                             Quote(err.string()) + " & pid=$!; sleep 0.5; " + action + " " +
                             Quote(file.string()) + "; start=$(date +%s%N); wait $pid; rc=$?; " +
                             "echo $rc $(( ($(date +%s%N) - start) / 1000000 ))";
        std::string out;
        vt::test::Run("sh -c " + Quote(script), &out);
        int rc = -1, ms = -1;
        ASSERT_EQ(std::sscanf(out.c_str(), "%d %d", &rc, &ms), 2) << out;
        EXPECT_EQ(rc, 2);
        EXPECT_LT(ms, 2000);
        auto text = vt::test::ReadFileBytes(err);
        std::string all(text.begin(), text.end());
        // One line of ours (a sanitizer build may add its own report after it).
        auto lines = Lines(all);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(
            std::count_if(lines.begin(), lines.end(),
                          [](const std::string &l) { return l.rfind("vantrec-tool:", 0) == 0; }),
            1)
            << all;
        EXPECT_NE(lines[0].find("rec.mp4: the recording could no longer be read"),
                  std::string::npos)
            << all;
    }
}

}  // namespace

namespace {

// The camera's short-header (H.263) set-up: pictures begin at picture start codes instead.
TEST(RepairToolShortHeader, H263RecordingIsRebuiltSampleForSample) {
    auto sample = vt::test::SamplesDir() / "h263" / "20261109_120000.mp4";
    if (!std::filesystem::exists(sample)) GTEST_SKIP() << "no samples";
    TempDir dir;
    Bytes full = vt::test::ReadFileBytes(sample);
    vt::test::WriteFileBytes(dir / "20261109_110000.mp4", full);  // the reference beside it
    auto broken = dir / "20261109_120000.mp4";
    vt::test::WriteFileBytes(broken, Cut(full, full.size() * 2 / 3));
    auto out = dir / "out" / "repaired.mp4";
    std::filesystem::create_directories(dir / "out");
    Result r = Tool(dir, "repair " + Quote(broken.string()) + " -o " + Quote(out.string()));
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char *kind : {"video", "audio", "data"}) {
        Result want = Tool(dir, "samples " + Quote(sample.string()) + " --kind " + kind);
        Result got = Tool(dir, "samples " + Quote(out.string()) + " --kind " + kind);
        auto w = Lines(want.out), g = Lines(got.out);
        ASSERT_GT(g.size(), w.size() / 2) << kind;
        ASSERT_LE(g.size(), w.size()) << kind;
        for (size_t i = 0; i < g.size(); ++i) ASSERT_EQ(g[i], w[i]) << kind << " sample " << i;
    }
    EXPECT_EQ(ProbeComplaints(out), "");
}

}  // namespace
