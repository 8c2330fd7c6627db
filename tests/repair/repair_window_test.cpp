// The main window opening a cut-off recording: the offer, the copy listed and opened.
#include <gtest/gtest.h>

#include <QAction>
#include <QFileInfo>
#include <QMenu>
#include <memory>

#include "app/playerdlg.h"
#include "tests/app/app_env.h"
#include "tests/app/fake_engine.h"
#include "tests/common/testutil.h"
#include "tests/repair/repair_testutil.h"

namespace {

using vt::app::CPlayerDlg;
using vt::test::TempDir;
namespace fs = std::filesystem;

TEST(RepairWindow, CutOffRecordingIsOfferedRepairedListedAndOpened) {
    vt::test::EnsureQtApp();
    vt::test::FakeEngine::Get().Reset();
    auto full = vt::test::repair::MakeRecording(6.0);
    if (full.empty()) GTEST_SKIP() << "ffmpeg is needed to encode the test streams";
    TempDir dir, program;
    fs::create_directories(dir / "card");
    // The cut-off recording sorts first, so it is the one the window opens on listing.
    auto cut = std::vector<uint8_t>(full.begin(), full.begin() + full.size() / 2);
    vt::test::WriteFileBytes(dir / "card" / "20261108_083000.mp4", cut);
    vt::test::WriteFileBytes(dir / "card" / "20261108_090000.mp4", full);

    auto dlg =
        std::make_unique<CPlayerDlg>(nullptr, QString::fromStdString(program.path().string()));
    QStringList messages, questions;
    dlg->SetMessageSink([&](const QString &t) { messages << t; });
    vt::app::RepairPrompts prompts;
    prompts.ask = [&](QWidget *, const QString &q) {
        questions << q;
        return true;
    };
    const QString videos = QString::fromStdString((dir / "videos").string());
    prompts.choose_folder = [&](QWidget *, const QString &, const QString &) { return videos; };
    dlg->SetRepairPrompts(prompts);
    dlg->show();
    dlg->OpenFolder(QString::fromStdString((dir / "card").string()));
    vt::test::PumpEvents();

    ASSERT_EQ(questions.size(), 1);
    EXPECT_TRUE(messages.isEmpty()) << messages.join(QStringLiteral(" | ")).toStdString();
    EXPECT_EQ(QFileInfo(dlg->RecordingFolder()).absoluteFilePath(),
              QFileInfo(videos).absoluteFilePath());
    EXPECT_EQ(dlg->CurrentPath(), QStringLiteral("20261108_083000.mp4"));
    EXPECT_TRUE(dlg->Loaded());
    EXPECT_EQ(vt::test::ReadFileBytes(dir / "card" / "20261108_083000.mp4"), cut);
    dlg.reset();
    vt::test::PumpEvents();
}

// A card pulled with its folder listed: listing the folder again finds nothing to open.
TEST(RepairWindow, ListingAVanishedFolderGivesFileNotFound) {
    vt::test::EnsureQtApp();
    vt::test::FakeEngine::Get().Reset();
    auto sample = vt::test::SamplesDir() / "20261108_083000.mp4";
    if (!fs::exists(sample)) GTEST_SKIP() << "no samples";
    TempDir dir, program;
    fs::create_directories(dir / "card");
    fs::copy_file(sample, dir / "card" / "20261108_083000.mp4");
    auto dlg =
        std::make_unique<CPlayerDlg>(nullptr, QString::fromStdString(program.path().string()));
    QStringList messages;
    dlg->SetMessageSink([&](const QString &t) { messages << t; });
    dlg->show();
    const QString card = QString::fromStdString((dir / "card").string());
    dlg->OpenFolder(card);
    vt::test::PumpEvents();
    ASSERT_TRUE(messages.isEmpty()) << messages.join(QStringLiteral(" | ")).toStdString();
    fs::remove_all(dir / "card");
    dlg->ListFolder(card);
    vt::test::PumpEvents();
    EXPECT_EQ(messages, QStringList{QStringLiteral("File Not Found.")});
    dlg.reset();
    vt::test::PumpEvents();
}

// The menu entry repairs a recording the user picks, listed or not, and leaves a whole one alone.
TEST(RepairWindow, MenuEntryRepairsAChosenRecordingAndLeavesAWholeOneAlone) {
    vt::test::EnsureQtApp();
    vt::test::FakeEngine::Get().Reset();
    auto full = vt::test::repair::MakeRecording(6.0);
    if (full.empty()) GTEST_SKIP() << "ffmpeg is needed to encode the test streams";
    TempDir dir, program;
    fs::create_directories(dir / "elsewhere");
    auto cut = std::vector<uint8_t>(full.begin(), full.begin() + full.size() * 2 / 3);
    const fs::path broken = dir / "elsewhere" / "20261108_083000.mp4";
    const fs::path whole = dir / "elsewhere" / "20261108_090000.mp4";
    vt::test::WriteFileBytes(broken, cut);
    vt::test::WriteFileBytes(whole, full);

    auto dlg =
        std::make_unique<CPlayerDlg>(nullptr, QString::fromStdString(program.path().string()));
    QStringList messages, questions;
    dlg->SetMessageSink([&](const QString &t) { messages << t; });
    vt::app::RepairPrompts prompts;
    prompts.ask = [&](QWidget *, const QString &q) {
        questions << q;
        return true;
    };
    const QString videos = QString::fromStdString((dir / "videos").string());
    prompts.choose_folder = [&](QWidget *, const QString &, const QString &) { return videos; };
    dlg->SetRepairPrompts(prompts);
    QString chosen = QString::fromStdString(whole.string());
    dlg->SetFileChooser([&](QWidget *, const QString &, const QString &) { return chosen; });
    dlg->show();

    QMenu menu;
    dlg->FillContextMenu(&menu);
    QAction *entry = nullptr;
    for (QAction *a : menu.actions())
        if (a->text() == QStringLiteral("Repair a cut-off recording...")) entry = a;
    ASSERT_NE(entry, nullptr);

    entry->trigger();
    vt::test::PumpEvents();
    EXPECT_TRUE(questions.isEmpty());
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("nothing to repair")))
        << messages[0].toStdString();
    EXPECT_FALSE(fs::exists(dir / "videos"));

    messages.clear();
    chosen = QString::fromStdString(broken.string());
    entry->trigger();
    vt::test::PumpEvents();
    ASSERT_EQ(questions.size(), 1);
    EXPECT_TRUE(messages.isEmpty()) << messages.join(QStringLiteral(" | ")).toStdString();
    EXPECT_TRUE(fs::exists(dir / "videos" / "20261108_083000.mp4"));
    EXPECT_EQ(QFileInfo(dlg->RecordingFolder()).absoluteFilePath(),
              QFileInfo(videos).absoluteFilePath());
    EXPECT_EQ(vt::test::ReadFileBytes(broken), cut);
    dlg.reset();
    vt::test::PumpEvents();
}

}  // namespace
