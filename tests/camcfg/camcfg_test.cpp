// The camera's settings files: reading with defaults, writing a set with its messages.
#include <gtest/gtest.h>

#include <filesystem>

#include "camcfg/camcfg.h"
#include "tests/common/testutil.h"

namespace vt::camcfg {
namespace {

namespace fs = std::filesystem;

std::string Text(const fs::path &p) {
    auto b = test::ReadFileBytes(p);
    return std::string(b.begin(), b.end());
}

const std::string kTime[6] = {"2010", "3", "7", "9", "05", "0"};

TEST(SettingFiles, CodesAreBytesNotDigits) {
    test::TempDir dir;
    const struct {
        const char *name;
        std::vector<uint8_t> bytes;  // the file's content
        Setting setting;
        int default_code;
        int code;
        int button;
    } cases[] = {
        {"setquality.dat", {0x02}, Setting::kQuality, kQualityDefault, 2, 1},
        {"setframe.dat", {'2'}, Setting::kFrame, kFrameDefault, 0x32, -1},
        {"setquality.dat", {}, Setting::kQuality, kQualityDefault, 0, -1},  // empty file
        {"setsound.dat", {}, Setting::kSound, kSoundDefault, 0, 3},         // sound has code 0
        {"setsensitivity.dat", {0x01, 0x03}, Setting::kSensitivity, 1, 1, 2},
        {"setsound.dat", {0x04}, Setting::kSound, kSoundDefault, 4, -1},
        {"setquality.dat", {0xFF}, Setting::kQuality, kQualityDefault, 255, -1},
    };
    for (const auto &c : cases) {
        ASSERT_TRUE(test::WriteFileBytes(dir / c.name, c.bytes));
        int code = ReadSettingByte(dir.path().string(), c.name, c.default_code);
        EXPECT_EQ(code, c.code) << c.name;
        EXPECT_EQ(ButtonForCode(c.setting, code), c.button) << c.name;
    }
    // Missing files give the defaults, with or without a trailing slash on the folder.
    test::TempDir empty;
    EXPECT_EQ(ReadSettingByte(empty.path().string(), kSoundFile, kSoundDefault), 2);
    EXPECT_EQ(ReadSettingByte(empty.path().string() + "/", kFrameFile, kFrameDefault), 3);
    EXPECT_EQ(ReadSettingByte("/nonexistent/folder", kQualityFile, 3), 3);
}

TEST(SettingFiles, ReadSettingsKeepsRowsWithUnknownCodes) {
    test::TempDir dir;
    ASSERT_TRUE(test::WriteFileBytes(dir / kQualityFile, {1}));
    ASSERT_TRUE(test::WriteFileBytes(dir / kSoundFile, {0}));
    ASSERT_TRUE(test::WriteFileBytes(dir / kFrameFile, {'2'}));
    // sensitivity missing: its default 1
    CameraSettings s;
    s.frame = 2;
    s.sensitivity = 3;
    ReadSettings(dir.path().string(), &s);
    EXPECT_EQ(s.quality, 1);
    EXPECT_EQ(s.sound, 0);
    EXPECT_EQ(s.sensitivity, 1);
    EXPECT_EQ(s.frame, 2);  // "2" is not a code: the row stays

    // What was read is what is written back.
    EXPECT_TRUE(WriteSettings(true, dir.path().string(), s, nullptr).completed);
    EXPECT_EQ(test::ReadFileBytes(dir / kQualityFile), std::vector<uint8_t>{1});
    EXPECT_EQ(test::ReadFileBytes(dir / kSoundFile), std::vector<uint8_t>{0});
    EXPECT_EQ(test::ReadFileBytes(dir / kFrameFile), std::vector<uint8_t>{2});
}

TEST(SettingFiles, TimeFileIsNineteenBytes) {
    test::TempDir dir;
    ASSERT_TRUE(WriteTimeFile(dir.path().string(), 2010, 3, 7, 9, 5, 0));
    EXPECT_EQ(Text(dir / kTimeFile), "2010-03-07-09-05-00");
    ASSERT_TRUE(WriteTimeFile(dir.path().string(), 0, 99, -1, 0, 60, 99));  // not range-checked
    EXPECT_EQ(Text(dir / kTimeFile), "0000-99--1-00-60-99");
    // Numbers wider than their fields would break the 19-byte layout: refused, file untouched.
    EXPECT_FALSE(WriteTimeFile(dir.path().string(), 12345, 1, 1, 0, 0, 0));
    EXPECT_FALSE(WriteTimeFile(dir.path().string(), 2010, 100, 1, 0, 0, 0));
    EXPECT_FALSE(WriteTimeFile(dir.path().string(), 2010, 1, -10, 0, 0, 0));
    EXPECT_EQ(Text(dir / kTimeFile), "0000-99--1-00-60-99");
}

TEST(SettingFiles, DecimalConversionOfEditTexts) {
    const struct {
        const char *text;
        int value;
    } cases[] = {{"2010", 2010},
                 {"05", 5},
                 {" 7", 7},
                 {"\t-3", -3},
                 {"+8", 8},
                 {"12ab", 12},
                 {"ab12", 0},
                 {"", 0},
                 {"-", 0},
                 {"- 4", 0},
                 {"99999999999999", 2147483647},
                 {"-99999999999999", -2147483647 - 1}};
    for (const auto &c : cases) EXPECT_EQ(ParseDecimal(c.text), c.value) << '"' << c.text << '"';
}

TEST(SettingFiles, WritingASetReportsEachOutcome) {
    test::TempDir root;
    CameraSettings s;
    s.quality = 1;
    s.sound = 0;
    s.sensitivity = 2;
    s.frame = 3;

    // No folder chosen: one message, nothing written.
    auto none = WriteSettings(false, (root / "card").string(), s, kTime);
    EXPECT_EQ(none.messages, std::vector<std::string>{"Select Folder."});
    EXPECT_FALSE(none.completed);
    EXPECT_FALSE(fs::exists(root / "card"));

    // The parent is missing too: only one level is created, so the path is refused.
    auto deep = WriteSettings(true, (root / "a" / "b").string(), s, kTime);
    EXPECT_EQ(deep.messages, std::vector<std::string>{"Confirm Path."});
    EXPECT_FALSE(deep.completed);
    EXPECT_FALSE(fs::exists(root / "a"));

    // A missing folder whose parent exists is created and every file written.
    auto made = WriteSettings(true, (root / "card").string(), s, kTime);
    EXPECT_EQ(made.messages, std::vector<std::string>{"Created Configuration File."});
    EXPECT_TRUE(made.completed);
    EXPECT_EQ(test::ReadFileBytes(root / "card" / kQualityFile), std::vector<uint8_t>{1});
    EXPECT_EQ(test::ReadFileBytes(root / "card" / kSoundFile), std::vector<uint8_t>{0});
    EXPECT_EQ(test::ReadFileBytes(root / "card" / kSensitivityFile), std::vector<uint8_t>{2});
    EXPECT_EQ(test::ReadFileBytes(root / "card" / kFrameFile), std::vector<uint8_t>{3});
    EXPECT_EQ(Text(root / "card" / kTimeFile), "2010-03-07-09-05-00");

    // Without the clock the time file is neither written nor removed.
    const std::string later[6] = {"2011", "1", "1", "1", "1", "1"};
    s.frame = 1;
    auto no_time = WriteSettings(true, (root / "card").string(), s, nullptr);
    EXPECT_TRUE(no_time.completed);
    EXPECT_EQ(Text(root / "card" / kTimeFile), "2010-03-07-09-05-00");
    EXPECT_EQ(test::ReadFileBytes(root / "card" / kFrameFile), std::vector<uint8_t>{1});

    // Files that cannot be created get their own messages; the others are still written.
    fs::remove(root / "card" / kSoundFile);
    fs::create_directory(root / "card" / kSoundFile);
    fs::remove(root / "card" / kTimeFile);
    fs::create_directory(root / "card" / kTimeFile);
    fs::remove(root / "card" / kFrameFile);
    s.frame = 2;
    auto partial = WriteSettings(true, (root / "card").string(), s, later);
    EXPECT_EQ(partial.messages,
              (std::vector<std::string>{"Create setsound.dat Failed", "Create settime.dat Failed",
                                        "Created Configuration File."}));
    EXPECT_TRUE(partial.completed);
    EXPECT_EQ(test::ReadFileBytes(root / "card" / kFrameFile), std::vector<uint8_t>{2});
}

TEST(SettingFiles, QualityFileThatCannotBeCreatedInAnExistingFolder) {
    test::TempDir root;
    fs::create_directory(root / kQualityFile);  // in the way of the file
    auto out = WriteSettings(true, root.path().string(), CameraSettings{}, nullptr);
    // The folder exists, so it cannot be made: the path is refused and nothing is written.
    EXPECT_EQ(out.messages, std::vector<std::string>{"Confirm Path."});
    EXPECT_FALSE(fs::exists(root / kSoundFile));
}

TEST(SettingFiles, AFullCardIsAFailureNotASuccess) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    // Opening succeeds; only the flush of the byte fails.
    EXPECT_FALSE(WriteSettingByte("/dev", "full", 3));
    EXPECT_TRUE(WriteSettingByte("/dev", "null", 3));
}

}  // namespace
}  // namespace vt::camcfg
