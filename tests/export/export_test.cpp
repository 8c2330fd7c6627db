// Clip export end to end through vantrec-tool: the clip's samples are the recordings' samples
// (checked with ffprobe and the player's reader), it opens as the camera's own file, the manifest
// verifies with sha256sum, and the sources stay untouched whatever goes wrong.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "drivedata/sensordata.h"
#include "engine/core/sha256.h"
#include "engine/reader/reader.h"
#include "tests/common/testutil.h"
#include "tests/common/track_samples.h"
#include "tests/mkrec/mkrec_testutil.h"
#include "tools/common/md5.h"

namespace vt::test {
namespace {

namespace fs = std::filesystem;

const char *kDrive[] = {"20261108_083000.mp4", "20261108_083015.mp4", "20261108_083030.mp4"};

struct Sample {
    int64_t time_ms, duration_ms;
    std::string md5;
};

// Every sample of one kind as the player's reader gives it, its bytes as their MD5.
std::vector<Sample> ReaderSamples(const fs::path &path, int kind) {
    std::vector<Sample> out;
    for (const test::TrackSample &t : test::ReadTrackSamples(path, kind))
        out.push_back({t.time_ms, t.duration_ms, Md5Hex(t.bytes.data(), t.bytes.size())});
    return out;
}

std::vector<std::string> Md5s(const std::vector<Sample> &v) {
    std::vector<std::string> m;
    for (const auto &s : v) m.push_back(s.md5);
    return m;
}

// The sound and the records of a clip that starts at `key_ms`: in each recording (started at its
// offset) the samples from the one nearest the key frame up to `to`; a later recording continues
// where the samples taken so far end.
std::vector<std::string> ExpectedFollowers(const std::vector<fs::path> &files, int kind,
                                           int64_t key_ms, int64_t to_ms) {
    std::vector<std::string> md5;
    bool any = false;
    int64_t end = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        const int64_t offset = 15000 * static_cast<int64_t>(i);
        const bool later = any;
        const int64_t boundary = end;
        for (const Sample &s : ReaderSamples(files[i], kind)) {
            int64_t at = offset + s.time_ms;
            if (at < key_ms - s.duration_ms / 2 || at >= to_ms || (later && at < boundary))
                continue;
            md5.push_back(s.md5);
            any = true;
            end = at + s.duration_ms;
        }
    }
    return md5;
}

std::string Sha256Of(const fs::path &p) {
    char hex[kSha256HexSize];
    return Sha256File(p.c_str(), hex) ? hex : "";
}

int RunExport(const std::vector<fs::path> &files, int64_t from, int64_t to, const fs::path &out,
              std::string *output, const std::string &prefix = "") {
    std::string cmd = prefix + Quote(ToolPath().string()) + " export";
    for (const auto &f : files) cmd += " " + Quote(f.string());
    cmd += " --from " + std::to_string(from) + " --to " + std::to_string(to) + " -o " +
           Quote(out.string()) + " 2>&1";
    return Run(cmd, output);
}

std::vector<std::string> Listing(const fs::path &dir) {
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class Export : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char *name : kDrive) m_drive.push_back(SamplesDir() / name);
        for (const auto &f : m_drive)
            if (!fs::exists(f)) GTEST_SKIP() << "sample recordings missing";
    }
    std::vector<fs::path> m_drive;
    TempDir m_dir;
};

struct Range {
    const char *name;
    int files;
    int64_t from, to;
    int64_t key_ms;  // the key frame the clip must start at
    size_t pictures;
};

// Key frames come every 500 ms (15 pictures at 30 fps) in the sample drive.
const Range kRanges[] = {
    {"from at a key frame", 1, 5000, 8000, 5000, 90},
    {"from just after a key frame", 1, 5001, 8000, 5000, 90},
    {"from the middle of a group of pictures", 1, 5466, 6000, 5000, 30},
    {"from 0", 1, 0, 3000, 0, 90},
    {"to past the end", 1, 12000, 99999, 12000, 90},
    {"across two files", 2, 10000, 20000, 10000, 300},
    {"key frame in the first file, end in the second", 2, 14900, 15500, 14500, 30},
    {"across three files", 3, 14000, 31000, 14000, 510},
};

TEST_F(Export, TheClipHoldsTheRecordingsSamplesByteForByte) {
    if (!HaveProgram("ffprobe")) GTEST_SKIP() << "ffprobe not installed";
    auto sd = std::make_unique<drivedata::SensorData>();
    for (const Range &r : kRanges) {
        SCOPED_TRACE(r.name);
        std::vector<fs::path> files(m_drive.begin(), m_drive.begin() + r.files);
        fs::path out = m_dir / (std::string("clip") + std::to_string(&r - kRanges) + ".mp4");
        std::string log;
        ASSERT_EQ(RunExport(files, r.from, r.to, out, &log), 0) << log;

        // Pictures by ffprobe: the source's from the key frame on, key flags as ffprobe sees them.
        std::vector<std::string> expected;
        int64_t first_key = -1;
        for (size_t i = 0; i < files.size(); ++i) {
            for (const auto &p : mkrec::ProbePackets(files[i], 0)) {
                int64_t at = 15000 * static_cast<int64_t>(i) + p.pts / 30;  // time base 1/30000
                if (at <= r.from && p.key) first_key = at;
            }
        }
        ASSERT_EQ(first_key, r.key_ms);
        for (size_t i = 0; i < files.size(); ++i)
            for (const auto &p : mkrec::ProbePackets(files[i], 0)) {
                int64_t at = 15000 * static_cast<int64_t>(i) + p.pts / 30;
                if (at >= first_key && at < r.to) expected.push_back(p.md5);
            }
        auto clip = mkrec::ProbePackets(out, 0);
        ASSERT_FALSE(clip.empty());
        EXPECT_TRUE(clip.front().key);
        EXPECT_EQ(clip.size(), r.pictures);
        std::vector<std::string> got;
        for (const auto &p : clip) got.push_back(p.md5);
        EXPECT_EQ(got, expected);

        EXPECT_EQ(Md5s(ReaderSamples(out, TRACK_AUDIO)),
                  ExpectedFollowers(files, TRACK_AUDIO, r.key_ms, r.to));
        EXPECT_EQ(Md5s(ReaderSamples(out, TRACK_DATA)),
                  ExpectedFollowers(files, TRACK_DATA, r.key_ms, r.to));
        EXPECT_EQ(mkrec::ProbeWarnings(out), "");
        auto stream = mkrec::ProbeStream(out, 0);
        EXPECT_NEAR(std::stod(stream["duration"]), r.pictures / 30.0, 0.001);

        // The window's model check and records reader take the clip for the camera's file.
        EXPECT_EQ(drivedata::OpenRecordingMp4(sd.get(), out.c_str()), drivedata::OpenResult::kOk);
        EXPECT_NE(log.find("video=" + std::to_string(r.pictures)), std::string::npos) << log;
    }
}

TEST_F(Export, AClipAcrossTwoFilesPlaysThroughTheWholeEngine) {
    fs::path out = m_dir / "clip.mp4";
    std::string log;
    ASSERT_EQ(RunExport({m_drive[0], m_drive[1]}, 14000, 16000, out, &log), 0) << log;
    std::string summary;
    ASSERT_EQ(vt::test::Run(
                  "SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/dev/null QT_QPA_PLATFORM=offscreen " +
                      Quote(ToolPath().string()) + " play " + Quote(out.string()) + " 2>/dev/null",
                  &summary),
              0);
    EXPECT_NE(summary.find("\"frames_presented\": 60"), std::string::npos) << summary;
    EXPECT_NE(summary.find("\"duration_ms\": 20"), std::string::npos) << summary;
}

TEST_F(Export, TheManifestVerifiesTheSourcesAndTheClip) {
    fs::path out = m_dir / "incident.mp4";
    std::string log;
    ASSERT_EQ(RunExport({m_drive[0], m_drive[1]}, 13000, 16000, out, &log), 0) << log;
    auto manifest = ReadFileBytes(m_dir / "incident.sha256");
    std::string text(manifest.begin(), manifest.end());
    EXPECT_NE(text.find(Sha256Of(m_drive[0]) + "  " + fs::canonical(m_drive[0]).string() + "\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(Sha256Of(m_drive[1])), std::string::npos) << text;
    EXPECT_NE(text.find(Sha256Of(out) + "  incident.mp4\n"), std::string::npos) << text;
    std::string check;
    EXPECT_EQ(
        vt::test::Run(
            "cd " + Quote(m_dir.path().string()) + " && sha256sum -c incident.sha256 2>&1", &check),
        0)
        << check;

    // A clip that lies in the first file only does not list the second.
    ASSERT_EQ(RunExport({m_drive[0], m_drive[1]}, 1000, 2000, m_dir / "short.mp4", &log), 0) << log;
    manifest = ReadFileBytes(m_dir / "short.sha256");
    text.assign(manifest.begin(), manifest.end());
    EXPECT_EQ(text.find(Sha256Of(m_drive[1])), std::string::npos) << text;

    // A changed byte is caught.
    auto bytes = ReadFileBytes(out);
    bytes[bytes.size() / 2] ^= 1;
    ASSERT_TRUE(WriteFileBytes(out, bytes));
    EXPECT_NE(vt::test::Run("cd " + Quote(m_dir.path().string()) +
                            " && sha256sum -c incident.sha256 >/dev/null 2>&1"),
              0);
}

// Named out of order, the recordings are still taken in trip order; the subtitles and the track
// beside the clip run on the clip's clock and are listed in the manifest.
TEST_F(Export, SidecarsFollowTheClipAndAreInTheManifest) {
    fs::path out = m_dir / "side.mp4";
    std::string log;
    ASSERT_EQ(
        vt::test::Run(Quote(ToolPath().string()) + " export " + Quote(m_drive[1].string()) + " " +
                          Quote(m_drive[0].string()) + " --from 14000 --to 17000 --sidecars -o " +
                          Quote(out.string()) + " 2>&1",
                      &log),
        0)
        << log;
    auto text = [&](const char *name) {
        auto b = ReadFileBytes(m_dir / name);
        return std::string(b.begin(), b.end());
    };
    const std::string srt = text("side.srt"), gpx = text("side.gpx"),
                      manifest = text("side.sha256");
    // Three seconds: three cues, the first at the clip's start with the data text's time there.
    EXPECT_EQ(srt.rfind("1\n00:00:00,000 --> 00:00:01,000\n", 0), 0u) << srt;
    EXPECT_NE(srt.find("2026-11-08 08:30:14"), std::string::npos) << srt;
    EXPECT_NE(srt.find("\n3\n00:00:02,000 --> 00:00:03,000"), std::string::npos) << srt;
    EXPECT_EQ(srt.find("\n4\n"), std::string::npos) << srt;
    size_t points = 0;
    for (size_t at = gpx.find("<trkpt"); at != std::string::npos; at = gpx.find("<trkpt", at + 1))
        ++points;
    EXPECT_EQ(points, ReaderSamples(out, TRACK_DATA).size());
    EXPECT_NE(gpx.find("<time>2026-11-08T08:30:14</time>"), std::string::npos);
    for (const char *name : {"side.mp4", "side.srt", "side.gpx"})
        EXPECT_NE(manifest.find(std::string("  ") + name + "\n"), std::string::npos) << manifest;
    std::string check;
    EXPECT_EQ(
        vt::test::Run("cd " + Quote(m_dir.path().string()) + " && sha256sum -c side.sha256 2>&1",
                      &check),
        0)
        << check;
    auto first = mkrec::ProbePackets(out, 0);
    ASSERT_FALSE(first.empty());
    // The key frame at 14 s of the first recording.
    EXPECT_EQ(first.front().md5, mkrec::ProbePackets(m_drive[0], 0)[420].md5);
}

TEST_F(Export, RecordingsWithDifferentSetUpsAreRefusedWithoutLeavingAFile) {
    fs::path h263 = SamplesDir() / "h263" / "20261109_120000.mp4";
    if (!fs::exists(h263)) GTEST_SKIP() << "H.263 sample missing";
    // An H.263 recording named as the one after the first of the drive.
    fs::create_directory(m_dir / "card");
    fs::copy_file(m_drive[0], m_dir / "card" / kDrive[0]);
    fs::copy_file(h263, m_dir / "card" / kDrive[1]);
    fs::create_directory(m_dir / "out");
    std::string log;
    EXPECT_EQ(RunExport({m_dir / "card" / kDrive[0], m_dir / "card" / kDrive[1]}, 10000, 20000,
                        m_dir / "out" / "clip.mp4", &log),
              2);
    EXPECT_NE(log.find("differ in their video set-up"), std::string::npos) << log;
    EXPECT_NE(log.find(kDrive[1]), std::string::npos) << log;
    EXPECT_TRUE(Listing(m_dir / "out").empty());
    // Only the recordings a clip takes samples from need to match.
    EXPECT_EQ(RunExport({m_dir / "card" / kDrive[0], m_dir / "card" / kDrive[1]}, 10000, 14000,
                        m_dir / "out" / "clip.mp4", &log),
              0)
        << log;
}

TEST_F(Export, SourcesAreOnlyRead) {
    fs::path card = m_dir / "card";
    fs::create_directory(card);
    fs::copy_file(m_drive[0], card / kDrive[0]);
    fs::permissions(card / kDrive[0],
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    struct stat before;
    ASSERT_EQ(stat((card / kDrive[0]).c_str(), &before), 0);
    fs::permissions(card, fs::perms::owner_read | fs::perms::owner_exec);
    const std::string sha = Sha256Of(card / kDrive[0]);

    std::string log;
    EXPECT_EQ(RunExport({card / kDrive[0]}, 2000, 4000, m_dir / "clip.mp4", &log), 0) << log;
    // Asked to write over the recording itself: refused, whichever path names it.
    EXPECT_NE(RunExport({card / kDrive[0]}, 2000, 4000, card / kDrive[0], &log), 0);
    EXPECT_NE(log.find("replace the source"), std::string::npos) << log;
    EXPECT_NE(RunExport({card / kDrive[0]}, 2000, 4000, card / ".." / "card" / kDrive[0], &log), 0);

    struct stat after;
    ASSERT_EQ(stat((card / kDrive[0]).c_str(), &after), 0);
    EXPECT_EQ(Sha256Of(card / kDrive[0]), sha);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(Listing(card), std::vector<std::string>{kDrive[0]});
    fs::permissions(card, fs::perms::owner_all);
}

// A 1 MiB file system cannot take a 15 s clip; where mounting needs rights the test does not
// have, the file-size limit makes the same write fail.
TEST_F(Export, AFullDiskLeavesNoHalfWrittenClip) {
    fs::path full = m_dir / "full";
    fs::create_directory(full);
    bool mounted = ::mount("tmpfs", full.c_str(), "tmpfs", 0, "size=1m") == 0;
    std::string prefix = mounted ? "" : "trap '' XFSZ; ulimit -f 1024; ";
    std::string log;
    int status = RunExport({m_drive[0]}, 0, 15000, full / "clip.mp4", &log, prefix);
    std::vector<std::string> left = Listing(full);
    if (mounted) ::umount(full.c_str());
    EXPECT_EQ(status, 2) << log;
    EXPECT_NE(log.find("write failed"), std::string::npos) << log;
    EXPECT_TRUE(left.empty()) << left.front();
}

TEST_F(Export, BadRequestsGiveOneLineAndStatusTwo) {
    struct Case {
        const char *args;
        const char *message;
    } cases[] = {
        {"--from 5000 --to 5000", "not after its start"},
        {"--from 1000", "usage"},
        {"--from x --to 100", "whole milliseconds"},
        {"--from 99000 --to 99999", "no samples"},
        {"--from 0 --to 100 --frobnicate", "unknown option"},
    };
    for (const Case &c : cases) {
        std::string log;
        int status =
            vt::test::Run(Quote(ToolPath().string()) + " export " + Quote(m_drive[0].string()) +
                              " " + c.args + " -o " + Quote((m_dir / "x.mp4").string()) + " 2>&1",
                          &log);
        EXPECT_EQ(status, 2) << c.args;
        EXPECT_NE(log.find(c.message), std::string::npos) << c.args << ": " << log;
        EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
    }
    EXPECT_FALSE(fs::exists(m_dir / "x.mp4"));
    std::string log;
    EXPECT_EQ(RunExport({m_dir / "absent.mp4"}, 0, 1000, m_dir / "x.mp4", &log), 2);
    EXPECT_NE(log.find("absent.mp4"), std::string::npos) << log;
    EXPECT_FALSE(fs::exists(m_dir / "x.mp4"));
}

}  // namespace
}  // namespace vt::test
