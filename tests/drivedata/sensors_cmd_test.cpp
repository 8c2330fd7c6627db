// vantrec-tool sensors, end to end over crafted recordings.
#include <gtest/gtest.h>

#include <sstream>

#include "tests/common/testutil.h"
#include "tests/drivedata/recording_builder.h"

namespace vt::test {
namespace {

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

size_t Count(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class SensorsCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(ToolPath())) GTEST_SKIP() << "vantrec-tool not built";
        RecordingPlan plan;
        const int32_t lats[] = {37301234, 37301300, 0, -34361213, 37301400};
        const int32_t lons[] = {127001500, 127001600, 0, -58225374, -127001700};
        for (int i = 0; i < 5; ++i) {
            SensorRecord r;
            r.latitude = lats[i];
            r.longitude = lons[i];
            r.accel[0] = static_cast<int16_t>(128 * i);
            r.accel[1] = -1;
            r.accel[2] = static_cast<int16_t>(-256 + i);
            plan.records.push_back(r);
        }
        plan.records[1].text = "plate 12, \"A\"";
        plan.records[2].text = "no date here";
        plan.records[3].text = "";
        plan.records[3].second_field = "20261109071509";
        path_ = (dir_ / "20261108_083000.mp4").string();
        ASSERT_TRUE(WriteFileBytes(path_, BuildRecording(plan).bytes));
    }

    int Tool(const std::string &args, std::string *out, std::string *err = nullptr) {
        auto err_path = dir_ / "stderr.txt";
        int rc = test::Run(
            Quote(ToolPath().string()) + " sensors " + args + " 2>" + Quote(err_path.string()),
            out);
        if (err) {
            auto bytes = ReadFileBytes(err_path);
            err->assign(bytes.begin(), bytes.end());
        }
        return rc;
    }

    TempDir dir_;
    std::string path_;
};

TEST_F(SensorsCommandTest, CsvHasOneRowPerRecord) {
    std::string out;
    ASSERT_EQ(Tool(Quote(path_) + " --format csv", &out), 0);
    auto lines = Lines(out);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "time_ms,latitude,longitude,gx,gy,gz,text");
    EXPECT_EQ(lines[1], "0,37.5034278,127.0041667,0.000,-0.0078125,-2.000,2010/03/07 09:05:00");
    EXPECT_EQ(lines[2],
              "100,37.5036111,127.0044444,1.000,-0.0078125,-1.9921875,"
              "\"plate 12, \"\"A\"\"\"");
    EXPECT_EQ(lines[3], "200,0.0000000,0.0000000,2.000,-0.0078125,-1.984375,no date here");
    // Southern and western hemispheres: 34 deg 36' 12.13" S, 58 deg 22' 53.74" W.
    EXPECT_EQ(lines[4], "300,-34.6033694,-58.3815944,3.000,-0.0078125,-1.9765625,");
    // Default format is CSV.
    std::string plain;
    ASSERT_EQ(Tool(Quote(path_), &plain), 0);
    EXPECT_EQ(plain, out);
}

TEST_F(SensorsCommandTest, JsonIsAnArrayOfRecords) {
    std::string out;
    ASSERT_EQ(Tool(Quote(path_) + " --format json", &out), 0);
    if (!HaveProgram("python3")) GTEST_SKIP() << "python3 not installed";
    auto json_path = dir_ / "out.json";
    ASSERT_TRUE(WriteFileBytes(json_path, std::vector<uint8_t>(out.begin(), out.end())));
    std::string check;
    const char *script =
        "import json,sys\n"
        "rows=json.load(open(sys.argv[1]))\n"
        "keys=['time_ms','latitude','longitude','gx','gy','gz','text']\n"
        "assert all(sorted(r)==sorted(keys) for r in rows)\n"
        "print(len(rows), rows[3]['latitude'], rows[1]['gx'], rows[0]['gz'], rows[4]['time_ms'],\n"
        "      rows[1]['text'])\n";
    ASSERT_EQ(test::Run("python3 -c " + Quote(script) + " " + Quote(json_path.string()), &check),
              0);
    EXPECT_EQ(check, "5 -34.6033694 1.0 -2.0 400 plate 12, \"A\"\n");
}

TEST_F(SensorsCommandTest, GpxHasATrackPointPerPosition) {
    std::string out;
    ASSERT_EQ(Tool(Quote(path_) + " --format gpx", &out), 0);
    EXPECT_NE(out.find("<gpx version=\"1.1\""), std::string::npos);
    EXPECT_NE(out.find("xmlns=\"http://www.topografix.com/GPX/1/1\""), std::string::npos);
    EXPECT_EQ(Count(out, "<trkpt "), 4u);  // the record at 0, 0 has no position
    // Every point is timed from the recording's start in its name, to the millisecond.
    EXPECT_NE(out.find("<trkpt lat=\"37.5034278\" lon=\"127.0041667\"><time>2026-11-08T08:30:00"
                       "</time></trkpt>"),
              std::string::npos);
    EXPECT_NE(out.find("lon=\"-58.3815944\"><time>2026-11-08T08:30:00.300</time>"),
              std::string::npos);
    EXPECT_EQ(Count(out, "<time>"), 4u);
    EXPECT_EQ(Count(out, "speed>"), 0u);  // half a second of records: no speed anywhere
    if (HaveProgram("xmllint")) {
        EXPECT_EQ(test::Run("echo " + Quote(out) + " | xmllint --noout -"), 0);
    }

    // Without a time in the name, the first dated record's clock times the points.
    auto renamed = dir_ / "clip.mp4";
    std::filesystem::copy_file(path_, renamed);
    ASSERT_EQ(Tool(Quote(renamed.string()) + " --format gpx", &out), 0);
    EXPECT_NE(out.find("<time>2010-03-07T09:05:00</time>"), std::string::npos);
    EXPECT_NE(out.find("<time>2010-03-07T09:05:00.300</time>"), std::string::npos);
}

TEST_F(SensorsCommandTest, RefusesWhatIsNotTheCamerasRecording) {
    auto other = BuildRecording([] {
        RecordingPlan p;
        p.records.resize(3);
        for (auto &r : p.records) r.model = "ZRDMODEL19";
        return p;
    }());
    auto other_path = dir_ / "other.mp4";
    ASSERT_TRUE(WriteFileBytes(other_path, other.bytes));
    auto text_path = dir_ / "notes.mp4";
    ASSERT_TRUE(WriteFileBytes(text_path, {'h', 'e', 'l', 'l', 'o'}));

    for (const auto &p : {other_path, text_path, dir_ / "missing.mp4"}) {
        std::string out, err;
        EXPECT_EQ(Tool(Quote(p.string()) + " --format json", &out, &err), 2) << p;
        EXPECT_TRUE(out.empty()) << p;
        EXPECT_EQ(Count(err, "\n"), 1u) << err;
        EXPECT_NE(err.find(p.filename().string()), std::string::npos) << err;
    }
    std::string out, err;
    EXPECT_EQ(Tool(Quote(path_) + " --format kml", &out, &err), 2);
    EXPECT_TRUE(out.empty());
    EXPECT_NE(err.find("kml"), std::string::npos);
    EXPECT_EQ(Tool("", &out, &err), 2);
}

}  // namespace
}  // namespace vt::test
