// The folder side of the list: remembered folders and which files are recordings.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include <QKeyEvent>
#include <QSignalSpy>
#include <QTest>

#include "app/recordings.h"
#include "app/skinlistbox.h"
#include "tests/app/app_env.h"
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
    EXPECT_EQ(app::ReadRememberedFolder(file), std::string(259, 'f'))
        << "a refused write keeps the old file";
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
    for (Case c :
         {Case{"a.mp4", true}, Case{"B.MP4", true}, Case{"c.Mp4", true}, Case{"a.mp4.txt", false},
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

TEST(TripHeaders, AreDisplayRowsOnly) {
    EnsureQtApp();
    app::CSkinListBox list;
    list.resize(274, 399);
    for (const char *name : {"b.mp4", "a.mp4", "c.mp4", "d.mp4"})
        list.AddItem(QString::fromLatin1(name));
    list.SetHeaders({{QStringLiteral("a.mp4"), QStringLiteral("trip one")},
                     {QStringLiteral("c.mp4"), QStringLiteral("trip two")}});
    EXPECT_EQ(list.HeaderCount(), 2);
    EXPECT_EQ(list.HeaderAbove(0), "trip one");
    EXPECT_EQ(list.HeaderAbove(1), "");
    EXPECT_EQ(list.HeaderAbove(2), "trip two");
    const int h = list.ItemHeight();
    // Rows: header, a, b, header, c, d; then header, a, a0, b, header, c, d.
    EXPECT_EQ(list.ItemRect(0).top(), h);
    EXPECT_EQ(list.ItemRect(2).top(), 4 * h);
    EXPECT_TRUE(list.ItemRect(4).isNull());
    // An entry added later keeps the headers where they belong.
    list.AddItem(QStringLiteral("a0.mp4"));
    EXPECT_EQ(list.ItemRect(3).top(), 5 * h);

    QSignalSpy selected(&list, &app::CSkinListBox::selectionChanged);
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, QPoint(20, h / 2));  // a header
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, QPoint(20, 4 * h + h / 2));
    EXPECT_EQ(list.CurrentIndex(), -1) << "a header line selects nothing";
    EXPECT_EQ(selected.count(), 0);
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, list.ItemRect(3).center());
    EXPECT_EQ(list.CurrentIndex(), 3);
    // Keys move between entries; a header is never the selection.
    QTest::keyClick(&list, Qt::Key_Up);
    EXPECT_EQ(list.CurrentIndex(), 2);
    QTest::keyClick(&list, Qt::Key_Down);
    QTest::keyClick(&list, Qt::Key_Down);
    EXPECT_EQ(list.CurrentIndex(), 4);
    EXPECT_EQ(selected.count(), 4);
    EXPECT_EQ(list.Text(list.CurrentIndex()), "d.mp4");

    list.ResetContent();
    EXPECT_EQ(list.HeaderCount(), 0);
}

TEST(TripHeaders, ScrollingUpToATripsFirstEntryShowsItsHeader) {
    EnsureQtApp();
    app::CSkinListBox list;
    for (int i = 0; i < 40; ++i) list.AddItem(QString::asprintf("%02d.mp4", i));
    list.resize(274, list.ItemHeight() * 5);
    list.show();
    list.SetHeaders({{QStringLiteral("20.mp4"), QStringLiteral("trip")}});
    list.SetCurrentIndex(39);
    EXPECT_GT(list.TopIndex(), 30);
    list.SetCurrentIndex(20);
    EXPECT_EQ(list.TopIndex(), 20) << "row 20 is the header above entry 20";
    EXPECT_EQ(list.ItemRect(20).top(), list.ItemHeight());
}

TEST(TripHeaders, TextGivesDateStartDurationAndDistance) {
    EXPECT_EQ(app::TripHeaderText("2026-11-08T08:30:00", 45100, 426.2),
              "2026-11-08 08:30:00 \u00b7 0:45 \u00b7 426 m");
    EXPECT_EQ(app::TripHeaderText("2026-11-08T23:10:05", 3 * 3600000 + 62000, 123456),
              "2026-11-08 23:10:05 \u00b7 3:01:02 \u00b7 123.5 km");
    EXPECT_EQ(app::TripHeaderText("2026-11-08T23:10:05", 0, 123456, true),
              "2026-11-08 23:10:05 \u00b7 0:00 \u00b7 76.7 mi");
    EXPECT_EQ(app::TripHeaderText("2026-11-08T23:10:05", 59999, 100, true),
              "2026-11-08 23:10:05 \u00b7 0:59 \u00b7 328 ft");
}

TEST(TripHeaders, FolderIsGroupedOffTheUiThread) {
    EnsureQtApp();
    const std::filesystem::path samples = SamplesDir();
    const char *drive[] = {"20261108_083000.mp4", "20261108_083015.mp4", "20261108_083030.mp4"};
    for (const char *n : drive)
        if (!std::filesystem::exists(samples / n)) GTEST_SKIP() << "samples/ missing";
    const std::filesystem::path other = samples / "other-model" / "20261109_071500.mp4";
    if (!std::filesystem::exists(other)) GTEST_SKIP() << "samples/ missing";

    TempDir dir;
    for (const char *n : drive) std::filesystem::copy_file(samples / n, dir / n);
    std::filesystem::copy_file(other, dir / "20261108_083020.mp4");    // another camera, mid-trip
    std::filesystem::copy_file(samples / drive[0], dir / "clip.mp4");  // not a time
    std::filesystem::copy_file(samples / drive[2], dir / "20261108_100000.MP4");  // a later trip

    app::CSkinListBox list;
    list.resize(274, 399);
    std::vector<std::string> names;
    ASSERT_TRUE(app::ListRecordingNames(dir.path().string(), &names));
    for (const auto &n : names) list.AddItem(QString::fromStdString(n));
    app::GroupListByTrip(&list, dir.path().string());
    EXPECT_EQ(list.HeaderCount(), 0) << "the reading happens on a worker";
    QTRY_COMPARE_WITH_TIMEOUT(list.HeaderCount(), 3, 20000);

    // 083000 083015 083020(other) 083030 | 100000.MP4 | clip.mp4
    ASSERT_EQ(list.Count(), 6);
    EXPECT_EQ(list.Text(0), "20261108_083000.mp4");
    EXPECT_EQ(list.HeaderAbove(0), "2026-11-08 08:30:00 \u00b7 0:45 \u00b7 426 m \u00b7 4 events");
    for (int i : {1, 2, 3}) EXPECT_EQ(list.HeaderAbove(i), "") << i;
    EXPECT_TRUE(list.HeaderAbove(4).startsWith("2026-11-08 10:00:00 \u00b7 0:15 \u00b7 "))
        << list.HeaderAbove(4).toStdString();
    EXPECT_EQ(list.Text(5), "clip.mp4");
    EXPECT_EQ(list.HeaderAbove(5), "Other recordings");

    // Listing again abandons the first reading; ending the list while one runs is safe.
    auto *second = new app::CSkinListBox;
    for (const auto &n : names) second->AddItem(QString::fromStdString(n));
    app::GroupListByTrip(second, dir.path().string());
    app::GroupListByTrip(second, (dir / "missing").string());
    delete second;
    QTest::qWait(50);
}

}  // namespace
}  // namespace vt::test
