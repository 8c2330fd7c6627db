// vantrec-tool's drive commands end to end: subtitles and GPX speed from `sensors`, `events` and
// `trips`, over recordings made with the recording writer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>

#include "drivedata/track.h"
#include "tests/common/testutil.h"
#include "tools/mkrec/mkrec.h"

namespace vt::test {
namespace {

namespace fs = std::filesystem;

const double kDegPerMetre = 180.0 / (3.14159265358979323846 * drivedata::kEarthRadiusM);

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

struct Spike {
    int64_t at_ms;
    int axis;
    int raw;
};

// `records` records of a steady drive north at `kmh` from `trip_s` seconds into the drive;
// with `fix_from` the records before that index have no fix.
void WriteDrive(const fs::path &path, size_t records, double trip_s, double kmh,
                const std::vector<Spike> &spikes = {}, size_t fix_from = 0,
                const std::string &model = mkrec::kDefaultModelId) {
    std::vector<mkrec::SensorSample> samples(records);
    for (size_t i = 0; i < records; ++i) {
        auto &s = samples[i];
        s.text[0] = "2026/11/08 08:30:00";
        if (i >= fix_from) {
            s.latitude = 46.9 + (trip_s + i * 0.1) * kmh / 3.6 * kDegPerMetre;
            s.longitude = 7.44;
        }
        s.az = 128;
        s.model_id = model;
        for (const Spike &k : spikes) {
            if (static_cast<int64_t>(i) * 100 != k.at_ms) continue;
            (k.axis == 0 ? s.ax : k.axis == 1 ? s.ay : s.az) += k.raw;
        }
    }
    mkrec::Recording rec;
    rec.records = mkrec::PackRecords(samples);
    std::string error;
    ASSERT_TRUE(mkrec::WriteRecording(rec, path.string(), &error)) << error;
}

class DriveCommands : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(ToolPath())) GTEST_SKIP() << "vantrec-tool not built";
    }
    int Tool(const std::string &args, std::string *out, std::string *err = nullptr) {
        auto err_path = dir_ / "stderr.txt";
        int rc = test::Run(
            Quote(ToolPath().string()) + " " + args + " 2>" + Quote(err_path.string()), out);
        if (err) {
            auto bytes = ReadFileBytes(err_path);
            err->assign(bytes.begin(), bytes.end());
        }
        return rc;
    }
    std::string P(const std::string &name) { return Quote((dir_ / name).string()); }
    TempDir dir_;
};

double NumberAfter(const std::string &line, size_t at) { return std::atof(line.c_str() + at); }

TEST_F(DriveCommands, SubtitlesAndGpxCarryTheSpeed) {
    // 3.5 s at 54 km/h (1.5 m per record); no fix in the first 0.3 s; a jolt at 1 s.
    WriteDrive(dir_ / "20261108_083000.mp4", 35, 0, 54, {{1000, 0, -192}}, 3);
    std::string out;
    ASSERT_EQ(Tool("sensors " + P("20261108_083000.mp4") + " --format srt", &out), 0);
    auto lines = Lines(out);
    ASSERT_EQ(lines.size(), 4u * 6);
    EXPECT_EQ(lines[0], "1");
    EXPECT_EQ(lines[1], "00:00:00,000 --> 00:00:01,000");
    EXPECT_EQ(lines[2], "2026-11-08 08:30:00  -- km/h");  // nothing half a second before
    EXPECT_EQ(lines[3], "no fix");
    EXPECT_EQ(lines[4], "X 0.00G  Y 0.00G  Z 1.00G");
    EXPECT_EQ(lines[5], "");
    EXPECT_EQ(lines[6], "2");
    EXPECT_EQ(lines[7], "00:00:01,000 --> 00:00:02,000");
    ASSERT_EQ(lines[8].substr(0, 21), "2026-11-08 08:30:01  ");
    EXPECT_NEAR(NumberAfter(lines[8], 21), 54, 2);
    EXPECT_EQ(lines[8].substr(lines[8].size() - 5), " km/h");
    EXPECT_EQ(lines[9].substr(0, 7), "46.9001");  // 15 m north of 46.9
    EXPECT_EQ(lines[9].substr(lines[9].size() - 10), ", 7.440000");
    EXPECT_EQ(lines[10], "X -1.50G  Y 0.00G  Z 1.00G");
    EXPECT_EQ(lines[19], "00:00:03,000 --> 00:00:03,500");  // the last cue ends with the data
    EXPECT_EQ(lines[20], "2026-11-08 08:30:03  -- km/h");   // no fix half a second on

    ASSERT_EQ(Tool("sensors " + P("20261108_083000.mp4") + " --format gpx", &out), 0);
    lines = Lines(out);
    size_t points = 0, speeds = 0;
    for (const auto &l : lines) {
        if (l.find("<trkpt ") == std::string::npos) continue;
        ++points;
        EXPECT_NE(l.find("<time>2026-11-08T08:30:0"), std::string::npos) << l;
        const size_t at = l.find("<gpxtpx:speed>");
        if (at == std::string::npos) continue;
        ++speeds;
        EXPECT_NEAR(NumberAfter(l, at + 14), 15.0, 0.6) << l;  // m/s
    }
    EXPECT_EQ(points, 32u);
    EXPECT_EQ(speeds, 22u);  // records 8 to 29 have fixes 500 ms either side
    if (HaveProgram("xmllint")) {
        EXPECT_EQ(test::Run("echo " + Quote(out) + " | xmllint --noout -"), 0);
    }
}

TEST_F(DriveCommands, EventsOfSeveralRecordings) {
    WriteDrive(dir_ / "a.mp4", 100, 0, 36, {{1000, 0, -192}, {9900, 2, 200}});
    WriteDrive(dir_ / "b.mp4", 100, 10, 36, {{5000, 1, 160}, {5300, 1, 170}});
    std::string out, err;
    ASSERT_EQ(Tool("events " + P("a.mp4") + " " + P("b.mp4"), &out), 0);
    const std::string a = (dir_ / "a.mp4").string(), b = (dir_ / "b.mp4").string();
    EXPECT_EQ(out, "file,time_ms,peak_g,axis,kind\n" + a + ",1000,1.50,x,impact\n" + a +
                       ",9900,1.56,z,impact\n" + b + ",5300,1.33,y,impact\n");
    ASSERT_EQ(Tool("events " + P("a.mp4") + " " + P("b.mp4") + " --threshold 1.55", &out), 0);
    EXPECT_EQ(out, "file,time_ms,peak_g,axis,kind\n" + a + ",9900,1.56,z,impact\n");
    ASSERT_EQ(Tool("events --threshold 5 --format json " + P("a.mp4"), &out), 0);
    EXPECT_EQ(out, "[]\n");

    ASSERT_EQ(Tool("events --format json " + P("b.mp4"), &out), 0);
    if (HaveProgram("python3")) {
        auto json_path = dir_ / "out.json";
        ASSERT_TRUE(WriteFileBytes(json_path, std::vector<uint8_t>(out.begin(), out.end())));
        std::string check;
        const char *script =
            "import json,sys\n"
            "e=json.load(open(sys.argv[1]))\n"
            "print(len(e), e[0]['time_ms'], e[0]['peak_g'], e[0]['axis'], e[0]['kind'],\n"
            "      e[0]['file'].endswith('b.mp4'))\n";
        ASSERT_EQ(
            test::Run("python3 -c " + Quote(script) + " " + Quote(json_path.string()), &check), 0);
        EXPECT_EQ(check, "1 5300 1.33 y impact True\n");
    }

    // Any bad file or option: a one-line message, status 2 and nothing on stdout.
    WriteDrive(dir_ / "other.mp4", 50, 0, 36, {}, 0, "ZRDMODEL19");
    for (const std::string &args : std::vector<std::string>{
             "events " + P("a.mp4") + " " + P("other.mp4"), "events " + P("missing.mp4"), "events",
             "events " + P("a.mp4") + " --threshold 0", "events " + P("a.mp4") + " --threshold x1",
             "events " + P("a.mp4") + " --threshold", "events " + P("a.mp4") + " --format xml"}) {
        EXPECT_EQ(Tool(args, &out, &err), 2) << args;
        EXPECT_TRUE(out.empty()) << args;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }
}

TEST_F(DriveCommands, TripsOfAFolder) {
    fs::create_directory(dir_ / "card");
    WriteDrive(dir_ / "card/20261108_083000.mp4", 150, 0, 36, {{3000, 0, 300}});
    WriteDrive(dir_ / "card/20261108_083010.mp4", 150, 0, 36, {}, 0, "ZRDMODEL19");
    WriteDrive(dir_ / "card/20261108_083020.mp4", 150, 20, 36);
    WriteDrive(dir_ / "card/20261108_090000.mp4", 50, 0, 0, {}, 50);  // parked, no fix
    WriteDrive(dir_ / "card/notes.mp4", 50, 0, 36);

    std::string out;
    ASSERT_EQ(Tool("trips " + P("card") + " --format csv", &out), 0);
    auto lines = Lines(out);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "files,start,duration_ms,distance_m,max_speed_kmh,max_g,events");
    // Files joined by ';', the other camera's left out; distance from 0 s to 34.9 s at 10 m/s.
    EXPECT_EQ(lines[1].substr(0, 70),
              "20261108_083000.mp4;20261108_083020.mp4,2026-11-08T08:30:00,35000,349.");
    EXPECT_EQ(lines[2], "20261108_090000.mp4,2026-11-08T09:00:00,5000,0.0,,1.00,0");

    ASSERT_EQ(Tool("trips " + P("card"), &out), 0);
    if (HaveProgram("python3")) {
        auto json_path = dir_ / "trips.json";
        ASSERT_TRUE(WriteFileBytes(json_path, std::vector<uint8_t>(out.begin(), out.end())));
        std::string check;
        const char *script =
            "import json,sys\n"
            "t=json.load(open(sys.argv[1]))\n"
            "a,b=t\n"
            "print(len(t), a['files'], a['start'], a['duration_ms'], round(a['distance_m']),\n"
            "      abs(a['max_speed_kmh'] - 36) < 1.5, a['max_g'], a['events'], "
            "b['max_speed_kmh'])\n";
        ASSERT_EQ(
            test::Run("python3 -c " + Quote(script) + " " + Quote(json_path.string()), &check), 0);
        EXPECT_EQ(check,
                  "2 ['20261108_083000.mp4', '20261108_083020.mp4'] 2026-11-08T08:30:00 "
                  "35000 349 True 2.55 1 None\n");
    }

    fs::create_directory(dir_ / "empty");
    ASSERT_EQ(Tool("trips " + P("empty"), &out), 0);
    EXPECT_EQ(out, "[]\n");
    std::string err;
    EXPECT_EQ(Tool("trips " + P("nowhere"), &out, &err), 2);
    EXPECT_TRUE(out.empty());
    EXPECT_NE(err.find("nowhere"), std::string::npos);
    EXPECT_EQ(Tool("trips", &out), 2);
    EXPECT_EQ(Tool("trips " + P("card") + " --format xml", &out), 2);
}

}  // namespace
}  // namespace vt::test
