// vantrec-tool trips and events over a folder, through the catalogue and around it.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/common/testutil.h"
#include "tools/mkrec/mkrec.h"

namespace vt::test {
namespace {

namespace fs = std::filesystem;

void WriteShake(const fs::path &path, int spike_at) {
    std::vector<mkrec::SensorSample> samples(60);
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i].text[0] = "2026/11/08 08:30:00";
        samples[i].latitude = 46.9 + i * 1e-5;
        samples[i].longitude = 7.4;
        samples[i].az = 128;
        if (static_cast<int>(i) == spike_at) samples[i].ax = 256;
    }
    mkrec::Recording rec;
    rec.records = mkrec::PackRecords(samples);
    std::string error;
    ASSERT_TRUE(mkrec::WriteRecording(rec, path.string(), &error)) << error;
}

TEST(CatalogueTool, FoldersReadThroughTheCatalogueAsWithout) {
    TempDir dir;
    WriteShake(dir / "20261108_083000.mp4", 20);
    WriteShake(dir / "20261108_083006.mp4", 30);
    WriteShake(dir / "20261108_090000.mp4", -1);
    WriteShake(dir / "clip.mp4", 10);  // no time in its name: in no trip, but its events count
    const std::string tool = Quote(ToolPath().string()) + " ";
    const std::string folder = Quote(dir.path().string());

    std::string plain, first, second;
    ASSERT_EQ(test::Run(tool + "trips " + folder + " --no-cache", &plain), 0);
    ASSERT_EQ(test::Run(tool + "trips " + folder, &first), 0);
    ASSERT_EQ(test::Run(tool + "trips " + folder + " --format json", &second), 0);
    EXPECT_EQ(first, plain);
    EXPECT_EQ(second, plain);
    EXPECT_NE(plain.find("\"events\": 2"), std::string::npos) << plain;

    // A folder lists what its files list, in the list's order.
    std::string files, listed, uncached;
    const std::string d = dir.path().string() + "/";
    ASSERT_EQ(
        test::Run("cd " + Quote(dir.path().string()) + " && " + tool + "events " +
                      Quote(d + "20261108_083000.mp4") + " " + Quote(d + "20261108_083006.mp4") +
                      " " + Quote(d + "clip.mp4") + " --format csv",
                  &files),
        0);
    ASSERT_EQ(test::Run(tool + "events " + folder + " --format csv", &listed), 0);
    ASSERT_EQ(test::Run(tool + "events " + folder + " --no-cache", &uncached), 0);
    EXPECT_EQ(listed, files);
    EXPECT_EQ(uncached, files);
    EXPECT_NE(test::Run(tool + "events " + Quote(d + "missing") + " 2>/dev/null"), 0);
}

}  // namespace
}  // namespace vt::test
