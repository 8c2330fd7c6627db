// Sensor records: the packed layout, the coordinate packing and the scripted drive.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "tools/mkrec/mkrec.h"

namespace {

using namespace vt::mkrec;

int16_t Be16At(const RecordBytes &r, size_t off) {
    return static_cast<int16_t>(r[off] << 8 | r[off + 1]);
}
int32_t Be32At(const RecordBytes &r, size_t off) {
    return static_cast<int32_t>(static_cast<uint32_t>(r[off]) << 24 |
                                static_cast<uint32_t>(r[off + 1]) << 16 |
                                static_cast<uint32_t>(r[off + 2]) << 8 | r[off + 3]);
}
std::string TextAt(const RecordBytes &r, size_t off, size_t len) {
    return std::string(reinterpret_cast<const char *>(r.data() + off),
                       strnlen(reinterpret_cast<const char *>(r.data() + off), len));
}

TEST(Coordinates, PackAsDegreesMinutesAndHundredthsOfSeconds) {
    struct {
        double degrees;
        int32_t packed;
    } cases[] = {
        {0.0, 0},
        {46.948, 46565280},     // 46 deg 56' 52.80"
        {7.4474, 7265064},      // 7 deg 26' 50.64"
        {-58.3816, -58225376},  // 58 deg 22' 53.76" W
        {-0.5, -300000},
        {37.5, 37300000},
        {0.99999999, 1000000},  // 59' 59.99996" rounds up into the next degree
        {180.0, 180000000},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(PackCoordinate(c.degrees), c.packed) << c.degrees;
        // Unpacking returns the value to within the packing's 0.01".
        EXPECT_NEAR(UnpackCoordinate(c.packed), c.degrees, 0.005 / 3600 + 1e-9) << c.degrees;
    }
}

TEST(RecordLayout, FieldsSitAtTheirOffsets) {
    SensorSample s;
    s.text[0] = "2026/11/08 08:30:00";
    s.text[1] = "PLATE-ABCDEFGHIJKLMNOP";  // longer than its 17 bytes
    s.text[2] = "D";
    s.text[3] = "62 km/h";
    s.text[4] = "DRV-0117";
    s.text[5] = "FW 2.05.118";
    s.latitude = -34.6037;
    s.longitude = 151.2093;
    s.ax = 40000;   // clamps to 32767
    s.ay = -40000;  // clamps to -32768
    s.az = -1;
    s.model_id = "ZRDMODEL25";
    RecordBytes r = PackRecord(s);

    EXPECT_EQ(TextAt(r, 0, 20), "2026/11/08 08:30:00");
    EXPECT_EQ(r[19], 0);
    EXPECT_EQ(TextAt(r, 20, 17), "PLATE-ABCDEFGHIJ");  // 16 characters and its zero
    EXPECT_EQ(TextAt(r, 37, 2), "D");
    EXPECT_EQ(TextAt(r, 39, 12), "62 km/h");
    EXPECT_EQ(TextAt(r, 51, 10), "DRV-0117");
    EXPECT_EQ(TextAt(r, 61, 18), "FW 2.05.118");
    for (size_t i = 79; i < 103; ++i) EXPECT_EQ(r[i], 0) << i;
    EXPECT_EQ(Be32At(r, kLatitudeOffset), PackCoordinate(-34.6037));
    EXPECT_EQ(Be32At(r, kLongitudeOffset), PackCoordinate(151.2093));
    for (size_t i = 111; i < 114; ++i) EXPECT_EQ(r[i], 0) << i;
    EXPECT_EQ(Be16At(r, kAccelXOffset), 32767);
    EXPECT_EQ(Be16At(r, kAccelYOffset), -32768);
    EXPECT_EQ(Be16At(r, kAccelZOffset), -1);
    EXPECT_EQ(r[120], 0);
    EXPECT_EQ(std::memcmp(r.data() + kModelIdOffset, "ZRDMODEL25", 10), 0);

    s.model_id = "ABC";
    r = PackRecord(s);
    EXPECT_EQ(std::memcmp(r.data() + kModelIdOffset, "ABC\0\0\0\0\0\0\0", 10), 0);
}

TEST(StartTime, ParsesValidTimesAndRefusesTypos) {
    int64_t t = 0;
    ASSERT_TRUE(ParseStartTime("2026-11-08 08:30:00", &t));
    EXPECT_EQ(t, 1794126600);
    EXPECT_EQ(FormatRecordTime(t), "2026/11/08 08:30:00");
    ASSERT_TRUE(ParseStartTime("2028/02/29 23:59:59", &t));
    EXPECT_EQ(FormatRecordTime(t), "2028/02/29 23:59:59");
    for (const char *bad :
         {"2026-11-31 00:00:00", "2027-02-29 00:00:00", "2026-13-01 00:00:00",
          "2026-11-08 24:00:00", "2026-11-08", "2026-11/08 08:30:00", "2026-11-08 08:30:00x", ""}) {
        EXPECT_FALSE(ParseStartTime(bad, &t)) << bad;
    }
}

class Drive : public ::testing::Test {
protected:
    static size_t CountWhere(const std::vector<SensorSample> &s,
                             bool (*pred)(const SensorSample &)) {
        size_t n = 0;
        for (const auto &x : s) n += pred(x);
        return n;
    }
};

TEST_F(Drive, ShowsOrdinaryDrivingAndTheScriptedEventsWhereStated) {
    DriveScript script;
    script.events = {{DriveEventKind::kBrake, 4.0},
                     {DriveEventKind::kPothole, 7.5},
                     {DriveEventKind::kImpact, 10.5}};
    auto s = ScriptDrive(script, 200);
    ASSERT_EQ(s.size(), 200u);

    // Braking: about -0.6 G (-77) for 1.5 s from 4.0 s.
    for (int k = 41; k < 54; ++k) EXPECT_NEAR(s[k].ax, -77, 6) << k;
    // Pothole: +1 G then -1 G on Z.
    EXPECT_NEAR(s[75].az, 128, 6);
    EXPECT_NEAR(s[76].az, -128, 6);
    // One hard impact: X and Y beyond 3 G in the same record.
    EXPECT_LT(s[105].ax, -3 * 128);
    EXPECT_GT(s[105].ay, 3 * 128);
    EXPECT_EQ(CountWhere(s,
                         [](const SensorSample &x) {
                             return std::abs(x.ax) > 2 * 128 || std::abs(x.ay) > 2 * 128;
                         }),
              1u);
    // Elsewhere: gravity-free Z close to 0 and modest X/Y.
    for (int k = 0; k < 200; ++k) {
        if ((k >= 40 && k < 55) || k == 75 || k == 76 || (k >= 105 && k < 107)) continue;
        EXPECT_LE(std::abs(s[k].az), 4) << k;
        EXPECT_LE(std::abs(s[k].ax), 45) << k;
        EXPECT_LE(std::abs(s[k].ay), 45) << k;
    }
}

TEST_F(Drive, TextsAndPositionAdvancePlausibly) {
    DriveScript script;
    script.start_unix = 1794126600 + 59;  // crosses a minute after one second
    auto s = ScriptDrive(script, 150);
    for (size_t k = 0; k < s.size(); ++k) {
        EXPECT_EQ(s[k].text[0], FormatRecordTime(script.start_unix + static_cast<int64_t>(k / 10)))
            << k;
        EXPECT_EQ(s[k].model_id, "ZRDMODEL25");
        int kmh = std::atoi(s[k].text[3].c_str());
        EXPECT_GE(kmh, 0);
        EXPECT_LE(kmh, 70);
        EXPECT_NE(s[k].text[3].find(" km/h"), std::string::npos);
        if (k > 0) {
            // No more than 70 km/h = 1.95 m per 100 ms.
            double dn = (s[k].latitude - s[k - 1].latitude) * 111320;
            double de = (s[k].longitude - s[k - 1].longitude) * 111320 *
                        std::cos(s[k].latitude * 3.14159265 / 180);
            EXPECT_LT(std::hypot(dn, de), 2.0) << k;
        }
    }
    EXPECT_EQ(s[10].text[0], "2026/11/08 08:31:00");
    EXPECT_NE(s.front().latitude, s.back().latitude);
}

TEST_F(Drive, LaterClipsContinueTheSameDrive) {
    DriveScript whole, second;
    second.drive_offset_s = 15.0;
    second.start_unix = whole.start_unix + 15;
    auto a = ScriptDrive(whole, 300);
    auto b = ScriptDrive(second, 150);
    for (size_t k = 0; k < b.size(); ++k) {
        const auto &x = a[k + 150], &y = b[k];
        EXPECT_EQ(x.text[0], y.text[0]);
        EXPECT_EQ(x.text[3], y.text[3]);
        EXPECT_EQ(PackRecord(x), PackRecord(y)) << k;
    }
}

}  // namespace
