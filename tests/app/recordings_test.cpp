// The folder side of the list: remembered folders and which files are recordings.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "app/recordings.h"
#include "tests/common/testutil.h"

namespace vt::test {
namespace {

TEST(RememberedFolder, RoundTripsUpTo259BytesInA260ByteFile) {
    TempDir dir;
    const std::string file = (dir / "openpath.dat").string();
    for (size_t len : {size_t{0}, size_t{1}, size_t{40}, size_t{259}}) {
        const std::string folder(len, 'f');
        ASSERT_TRUE(app::WriteRememberedFolder(file, folder)) << len;
        EXPECT_EQ(std::filesystem::file_size(file), 260u);
        EXPECT_EQ(app::ReadRememberedFolder(file), folder);
    }
    EXPECT_FALSE(app::WriteRememberedFolder(file, std::string(260, 'f')));
    EXPECT_EQ(app::ReadRememberedFolder(file), std::string(259, 'f')) << "a refused write keeps the old file";
}

TEST(RememberedFolder, ReadsUpToTheNulOr260Bytes) {
    TempDir dir;
    const std::string file = (dir / "openpath.dat").string();
    EXPECT_EQ(app::ReadRememberedFolder(file), "") << "missing file";
    std::vector<uint8_t> bytes(300, 'a');
    ASSERT_TRUE(WriteFileBytes(file, bytes));
    EXPECT_EQ(app::ReadRememberedFolder(file), std::string(260, 'a'));
    bytes.assign({'/', 'm', 'n', 't', 0, 'x', 'y'});
    ASSERT_TRUE(WriteFileBytes(file, bytes));
    EXPECT_EQ(app::ReadRememberedFolder(file), "/mnt");
}

TEST(RecordingNames, MatchTheExtensionInAnyCase) {
    struct Case {
        const char *name;
        bool listed;
    };
    for (Case c : {Case{"a.mp4", true}, Case{"B.MP4", true}, Case{"c.Mp4", true}, Case{"a.mp4.txt", false},
                   Case{"mp4", false}, Case{".mp4", false}, Case{".hidden.mp4", false}, Case{"x.mp", false},
                   Case{"x_mp4", false}, Case{"x.m4v", false}})
        EXPECT_EQ(app::IsRecordingName(c.name), c.listed) << c.name;
}

TEST(RecordingNames, ListOnlyRegularFiles) {
    TempDir dir;
    for (const char *name : {"one.mp4", "TWO.MP4", "three.mp4.bak", "notes.txt"})
        ASSERT_TRUE(WriteFileBytes(dir / name, {1, 2, 3}));
    std::filesystem::create_directory(dir / "folder.mp4");
    std::vector<std::string> names;
    ASSERT_TRUE(app::ListRecordingNames(dir.path().string(), &names));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"TWO.MP4", "one.mp4"}));
    EXPECT_FALSE(app::ListRecordingNames((dir / "missing").string(), &names));
}

TEST(ProgramFolder, IsTheFolderOfThisExecutable) {
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
    EXPECT_EQ(app::ProgramFolder(), self.parent_path().string());
}

}  // namespace
}  // namespace vt::test
