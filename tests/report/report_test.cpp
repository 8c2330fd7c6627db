// The incident report read back with poppler: the facts are searchable text, the picture is the
// decoded frame of that moment at its full size, losslessly, on one A4 page; bad requests leave no
// PDF behind.
#include <gtest/gtest.h>

#include <QImage>
#include <cmath>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "codec/mpeg4v/mpeg4v.h"
#include "drivedata/events.h"
#include "drivedata/sensor_rows.h"
#include "drivedata/sensordata.h"
#include "engine/core/sha256.h"
#include "tests/common/testutil.h"

namespace vt::test {
namespace {

namespace fs = std::filesystem;

int Sh(const std::string &command, std::string *out = nullptr) {
    return vt::test::Run(command, out);
}

// Runs of blanks as one space: the layout mode of pdftotext spaces words by their position.
std::string Squeeze(const std::string &s) {
    std::string out;
    for (char c : s) {
        if (c == ' ' && !out.empty() && out.back() == ' ') continue;
        out += c;
    }
    return out;
}

std::string Tool() { return Quote(ToolPath().string()); }

int RunReport(const fs::path &rec, int64_t at, const fs::path &pdf, std::string *log) {
    return Sh(Tool() + " report " + Quote(rec.string()) + " --at " + std::to_string(at) + " -o " +
                  Quote(pdf.string()) + " 2>&1",
              log);
}

// The CSV row of `sensors` for the record at `at_ms`.
std::vector<std::string> SensorRow(const fs::path &rec, int64_t at_ms) {
    std::string csv;
    Sh(Tool() + " sensors " + Quote(rec.string()), &csv);
    std::istringstream in(csv);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(std::to_string(at_ms) + ",", 0) != 0) continue;
        std::vector<std::string> fields;
        std::istringstream row(line);
        std::string f;
        while (std::getline(row, f, ',')) fields.push_back(f);
        return fields;
    }
    return {};
}

class Report : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(m_rec)) GTEST_SKIP() << "sample recording missing";
        if (!HaveProgram("pdftotext") || !HaveProgram("pdfimages"))
            GTEST_SKIP() << "poppler-utils missing";
    }
    fs::path m_rec = SamplesDir() / "20261108_083000.mp4";
    TempDir m_dir;
};

TEST_F(Report, TheFingerprintTimePlaceAndEventsAreSearchableText) {
    std::string log;
    ASSERT_EQ(RunReport(m_rec, 7600, m_dir / "incident.pdf", &log), 0) << log;
    std::string text, info;
    ASSERT_EQ(Sh("pdftotext -layout " + Quote((m_dir / "incident.pdf").string()) + " -", &text), 0);
    Sh("pdfinfo " + Quote((m_dir / "incident.pdf").string()), &info);
    EXPECT_NE(info.find("Pages:           1\n"), std::string::npos) << info;
    EXPECT_NE(info.find("(A4)"), std::string::npos) << info;

    std::string sha;
    Sh("sha256sum " + Quote(m_rec.string()) + " | cut -c1-64", &sha);
    sha.resize(64);
    // time_ms, latitude, longitude, gx, gy, gz, text: the position rounded to six places.
    auto row = SensorRow(m_rec, 7600);
    ASSERT_EQ(row.size(), 7u);
    char position[64];
    std::snprintf(position, sizeof position, "%.6f, %.6f", std::stod(row[1]), std::stod(row[2]));
    char g[96];
    std::snprintf(g, sizeof g, "X %+.2f G   Y %+.2f G   Z %+.2f G", std::stod(row[3]),
                  std::stod(row[4]), std::stod(row[5]));
    const std::string expected[] = {
        "Incident report",
        "20261108_083000.mp4",
        sha,
        std::to_string(fs::file_size(m_rec)) + " bytes",
        "2026-11-08 08:30:07",  // the data text's time at 7.6 s
        position,
        g,
        " km/h",
        "00:07.600",
        "Events of the recording (threshold 1.00 G)",
        "Vantrec Player",
        "Report made",
    };
    text = Squeeze(text);
    for (const std::string &e : expected)
        EXPECT_NE(text.find(Squeeze(e)), std::string::npos) << e << "\n" << text;

    // One line per event of the recording, as the drive-data functions find them.
    auto sd = std::make_unique<drivedata::SensorData>();
    ASSERT_EQ(drivedata::OpenRecordingMp4(sd.get(), m_rec.c_str()), drivedata::OpenResult::kOk);
    std::vector<drivedata::SensorRow> rows;
    drivedata::CollectSensorRows(sd.get(), &rows);
    auto events = drivedata::FindEvents(rows);
    ASSERT_FALSE(events.empty());
    for (const auto &e : events) {
        char want[96];
        std::snprintf(want, sizeof want, "%02lld:%02lld.%03lld %s %.2f G axis %s",
                      (long long)(e.time_ms / 60000), (long long)(e.time_ms / 1000 % 60),
                      (long long)(e.time_ms % 1000), drivedata::EventKindName(e.kind),
                      drivedata::RoundG(e.peak_g), drivedata::AxisName(e.axis));
        EXPECT_NE(text.find(want), std::string::npos) << want << "\n" << text;
    }

    // The manifest lists the recording and the report and verifies.
    std::string check;
    EXPECT_EQ(
        Sh("cd " + Quote(m_dir.path().string()) + " && sha256sum -c incident.sha256 2>&1", &check),
        0)
        << check;
    EXPECT_NE(check.find("incident.pdf: OK"), std::string::npos) << check;
    EXPECT_NE(check.find("20261108_083000.mp4: OK"), std::string::npos) << check;
}

// Frame 228 (7.6 s at 30 fps) of a decode from the first picture, converted to RGB the way the
// report converts it, must be the report's picture pixel for pixel: the report decodes from the
// nearest key frame and stores the picture losslessly at full size.
TEST_F(Report, ThePictureIsTheFrameOfThatMomentAtFullSizeUnaltered) {
    std::string log;
    ASSERT_EQ(RunReport(m_rec, 7610, m_dir / "r.pdf", &log), 0) << log;
    std::string list;
    Sh("pdfimages -list " + Quote((m_dir / "r.pdf").string()) + " | tail -n +3", &list);
    std::istringstream in(list);
    int page, num, width, height;
    std::string type, colour, comp, bpc, enc;
    in >> page >> num >> type >> width >> height >> colour >> comp >> bpc >> enc;
    EXPECT_EQ(width, 640);
    EXPECT_EQ(height, 480);
    EXPECT_EQ(enc, "image") << "stored lossy: " << list;
    ASSERT_EQ(Sh("pdfimages -png " + Quote((m_dir / "r.pdf").string()) + " " +
                 Quote((m_dir / "img").string())),
              0);
    QImage shown(QString::fromStdString((m_dir / "img-000.png").string()));
    ASSERT_FALSE(shown.isNull());

    ASSERT_EQ(Sh(Tool() + " decode-video " + Quote(m_rec.string()) + " " +
                 Quote((m_dir / "f.yuv").string()) + " --max-frames 229 2>/dev/null"),
              0);
    auto yuv = ReadFileBytes(m_dir / "f.yuv");
    const size_t frame = 640 * 480 * 3 / 2;
    ASSERT_EQ(yuv.size(), 229 * frame);
    const uint8_t *y = yuv.data() + 228 * frame;
    QImage expected(640, 480, QImage::Format_RGB32);
    Mp4vDecYuvToRgb32(y, y + 640 * 480, y + 640 * 480 + 320 * 240, 640, 640, 480, expected.bits(),
                      static_cast<int32_t>(expected.bytesPerLine()), 1);
    shown = shown.convertToFormat(QImage::Format_RGB32);
    int differing = 0;
    for (int r = 0; r < 480; ++r)
        for (int c = 0; c < 640; ++c) differing += shown.pixel(c, r) != expected.pixel(c, r);
    EXPECT_EQ(differing, 0);
}

TEST_F(Report, BadRequestsLeaveNoReport) {
    const fs::path other = SamplesDir() / "other-model" / "20261109_071500.mp4";
    struct Case {
        std::string recording;
        int64_t at;
        fs::path pdf;
        const char *message;
    } cases[] = {
        {m_rec.string(), 15100, m_dir / "a.pdf", "outside the recording"},
        {m_rec.string(), -1, m_dir / "a.pdf", "outside the recording"},
        {other.string(), 1000, m_dir / "a.pdf", "not a recording of this camera"},
        {(m_dir / "absent.mp4").string(), 1000, m_dir / "a.pdf", "absent.mp4"},
        {m_rec.string(), 1000, m_dir / "missing" / "a.pdf", "cannot write"},
    };
    for (const Case &c : cases) {
        std::string log;
        EXPECT_EQ(RunReport(c.recording, c.at, c.pdf, &log), 2) << c.message;
        EXPECT_NE(log.find(c.message), std::string::npos) << log;
        EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
    }
    std::vector<std::string> left;
    for (const auto &e : fs::directory_iterator(m_dir.path()))
        left.push_back(e.path().filename().string());
    EXPECT_TRUE(left.empty()) << left.front();
}

}  // namespace
}  // namespace vt::test
