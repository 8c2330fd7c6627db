// The window's repair offer: the question, the folder, the copy, and the original left alone.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdlib>

#include "app/repair/repairoffer.h"
#include "engine/reader/reader.h"
#include "tests/common/testutil.h"
#include "tests/repair/repair_testutil.h"

namespace {

using namespace vt::test::repair;
using vt::test::TempDir;

QApplication &App() {
    static int argc = 1;
    static char name[] = "repairoffer_test";
    static char *argv[] = {name, nullptr};
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static QApplication app(argc, argv);
    return app;
}

QString Q(const std::filesystem::path &p) { return QString::fromStdString(p.string()); }

struct Asked {
    int questions = 0, folders = 0;
    QString question, start;
};

vt::app::RepairPrompts Prompts(Asked *asked, bool yes, const QString &folder) {
    vt::app::RepairPrompts p;
    p.ask = [asked, yes](QWidget *, const QString &q) {
        ++asked->questions;
        asked->question = q;
        return yes;
    };
    p.choose_folder = [asked, folder](QWidget *, const QString &, const QString &start) {
        ++asked->folders;
        asked->start = start;
        return folder;
    };
    return p;
}

class RepairOffer : public ::testing::Test {
protected:
    void SetUp() override {
        App();
        Bytes full = MakeRecording(6.0);
        if (full.empty()) GTEST_SKIP() << "ffmpeg is needed to encode the test streams";
        std::filesystem::create_directories(m_dir / "card");
        vt::test::WriteFileBytes(m_dir / "card" / "20261108_083000.mp4", full);
        m_cut = Bytes(full.begin(), full.begin() + full.size() / 2);
        m_broken = m_dir / "card" / "20261108_090000.mp4";
        vt::test::WriteFileBytes(m_broken, m_cut);
    }
    TempDir m_dir;
    Bytes m_cut;
    std::filesystem::path m_broken;
};

TEST_F(RepairOffer, YesWritesAPlayableCopyWhereTheUserChoseAndLeavesTheCardAlone) {
    ASSERT_TRUE(vt::app::IsCutOffRecording(Q(m_broken)));
    EXPECT_FALSE(vt::app::IsCutOffRecording(Q(m_dir / "card" / "20261108_083000.mp4")));
    Asked asked;
    QString error;
    QString copy = vt::app::OfferRepair(nullptr, Q(m_broken),
                                        Prompts(&asked, true, Q(m_dir / "videos")), &error);
    EXPECT_EQ(asked.question,
              QString::fromLatin1(
                  "This recording was cut off before the camera finished it. Repair a copy?"));
    EXPECT_EQ(asked.start, vt::app::DefaultRepairFolder());  // the Videos folder is offered first
    ASSERT_FALSE(copy.isEmpty()) << error.toStdString();
    EXPECT_EQ(QFileInfo(copy).absolutePath(), QDir(Q(m_dir / "videos")).absolutePath());
    EXPECT_EQ(QFileInfo(copy).fileName(), QStringLiteral("20261108_090000.mp4"));
    EXPECT_EQ(ReaderCheckIndex(copy.toLocal8Bit().constData()), READER_INDEX_PRESENT);
    MediaInfo mi{};
    ASSERT_EQ(ReaderGetMediaInfo(copy.toLocal8Bit().constData(), &mi), ME_OK);
    EXPECT_EQ(mi.video_count, 1u);
    EXPECT_EQ(mi.audio_count, 1u);  // the recording beside it served as reference
    EXPECT_EQ(vt::test::ReadFileBytes(m_broken), m_cut);
    // Nothing new on the card.
    int files = 0;
    for (const auto &e : std::filesystem::directory_iterator(m_dir / "card"))
        files += e.is_regular_file();
    EXPECT_EQ(files, 2);
}

TEST_F(RepairOffer, NoOrCancelWritesNothingAndTheCardFolderGetsAFreshName) {
    Asked asked;
    QString error;
    EXPECT_TRUE(
        vt::app::OfferRepair(nullptr, Q(m_broken), Prompts(&asked, false, Q(m_dir / "v")), &error)
            .isEmpty());
    EXPECT_EQ(asked.folders, 0);
    EXPECT_TRUE(vt::app::OfferRepair(nullptr, Q(m_broken), Prompts(&asked, true, QString()), &error)
                    .isEmpty());
    EXPECT_TRUE(error.isEmpty());
    EXPECT_FALSE(std::filesystem::exists(m_dir / "v"));
    // The user picks the card itself: the copy goes beside the original, under another name.
    QString copy = vt::app::OfferRepair(nullptr, Q(m_broken),
                                        Prompts(&asked, true, Q(m_dir / "card")), &error);
    ASSERT_FALSE(copy.isEmpty()) << error.toStdString();
    EXPECT_EQ(QFileInfo(copy).fileName(), QStringLiteral("20261108_090000-repaired.mp4"));
    EXPECT_EQ(vt::test::ReadFileBytes(m_broken), m_cut);
    QString again = vt::app::OfferRepair(nullptr, Q(m_broken),
                                         Prompts(&asked, true, Q(m_dir / "card")), &error);
    EXPECT_EQ(QFileInfo(again).fileName(), QStringLiteral("20261108_090000-repaired-2.mp4"));
}

}  // namespace
