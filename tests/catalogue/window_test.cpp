// The window's side of the catalogue on Qt's offscreen platform: the list is grouped while the
// event loop keeps running, the second opening comes from the catalogue, and the events search.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <filesystem>

#include "app/catalogue/findevents.h"
#include "app/playerdlg.h"
#include "app/recordings.h"
#include "app/skinlistbox.h"
#include "catalogue/catalogue.h"
#include "tests/app/app_env.h"
#include "tests/app/fake_engine.h"
#include "tests/common/testutil.h"
#include "tools/mkrec/mkrec.h"

namespace vt::test {
namespace {

namespace fs = std::filesystem;

void WriteShort(const fs::path &path, int spike_raw, int spike_at) {
    std::vector<mkrec::SensorSample> samples(30);
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i].text[0] = "2026/11/08 08:30:00";
        samples[i].latitude = 46.9 + i * 1e-5;
        samples[i].longitude = 7.4;
        samples[i].az = 128;
        if (static_cast<int>(i) == spike_at) samples[i].ax = spike_raw;
    }
    mkrec::Recording rec;
    rec.records = mkrec::PackRecords(samples);
    std::string error;
    ASSERT_TRUE(mkrec::WriteRecording(rec, path.string(), &error)) << error;
}

// `count` copies of a 3 s recording, five to a trip (3 s apart), trips a minute apart.
std::vector<std::string> MakeFolder(const fs::path &dir, int count) {
    WriteShort(dir / "master.tmp", 0, -1);
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        const int s = (i / 5) * 60 + (i % 5) * 3;
        char name[32];
        std::snprintf(name, sizeof name, "20261108_%02d%02d%02d.mp4", s / 3600, s / 60 % 60,
                      s % 60);
        fs::copy_file(dir / "master.tmp", dir / name);
        names.push_back(name);
    }
    fs::remove(dir / "master.tmp");
    return names;
}

class CatalogueWindow : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQtApp();  // with the scripted engine
        FakeEngine::Get().Reset();
        // Each run starts from no catalogue (it sits beside the test program, a portable folder).
        for (const char *suffix : {"", "-wal", "-shm"})
            fs::remove(catalogue::DefaultFile() + suffix);
    }
};

TEST_F(CatalogueWindow, EventLoopKeepsRunningWhileAFolderIsCatalogued) {
    TempDir dir;
    const auto names = MakeFolder(dir.path(), 2000);
    app::CSkinListBox list;
    list.resize(274, 399);
    for (const auto &n : names) list.AddItem(QString::fromStdString(n));

    // A timer that should fire every 5 ms: the longest gap between its ticks is how long the UI
    // thread was kept from its events.
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0, worst = 0;
    QTimer tick;
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        worst = std::max(worst, now - last);
        last = now;
    });
    tick.start();
    last = clock.elapsed();
    app::GroupListByTrip(&list, dir.path().string());
    EXPECT_TRUE(list.ProgressShown());
    QTRY_COMPARE_WITH_TIMEOUT(list.HeaderCount(), 400, 60000);
    tick.stop();
    EXPECT_LT(worst, 50) << "the UI thread was blocked";
    EXPECT_FALSE(list.ProgressShown());
    const QString first = list.HeaderAbove(0);
    EXPECT_TRUE(first.startsWith(QStringLiteral("2026-11-08 00:00:00 \u00b7 0:15 \u00b7 ")))
        << first.toStdString();
    const QString later = list.HeaderAbove(1995);

    // Opened again: the same headers, every one from the catalogue.
    list.ResetContent();
    for (const auto &n : names) list.AddItem(QString::fromStdString(n));
    app::GroupListByTrip(&list, dir.path().string());
    QTRY_COMPARE_WITH_TIMEOUT(list.HeaderCount(), 400, 20000);
    EXPECT_EQ(list.HeaderAbove(0), first);
    EXPECT_EQ(list.HeaderAbove(1995), later);
    catalogue::Catalogue cat;
    std::string error;
    ASSERT_TRUE(cat.Open(catalogue::DefaultFile(), &error)) << error;
    std::vector<drivedata::RecordingSummary> sums;
    ASSERT_TRUE(
        cat.ReadFolder(dir.path().string(), drivedata::kDefaultEventThresholdG, &sums, &error));
    EXPECT_EQ(cat.LastReadCount(), 0u);
    EXPECT_EQ(sums.size(), 2000u);
}

TEST_F(CatalogueWindow, FindEventsListsTheStrongestFirstAndOpensBeforeThePeak) {
    TempDir dir;
    WriteShort(dir / "20261108_083000.mp4", 200, 25);  // 1.56 G at 2.5 s
    WriteShort(dir / "20261108_083003.mp4", 400, 5);   // 3.13 G at 0.5 s
    WriteShort(dir / "clip.mp4", 300, 12);             // 2.34 G, a name that is no time
    WriteShort(dir / "20261108_090000.mp4", 0, -1);    // none

    QString opened;
    int64_t opened_at = -1;
    QWidget owner;
    app::catalogue_ui::CFindEventsDlg dlg(&owner, [&](const QString &name, int64_t ms) {
        opened = name;
        opened_at = ms;
    });
    dlg.ShowFolder(QString::fromStdString(dir.path().string()), drivedata::kDefaultEventThresholdG);
    QTRY_VERIFY_WITH_TIMEOUT(!dlg.Busy(), 20000);
    QTableWidget *t = dlg.Table();
    ASSERT_EQ(t->rowCount(), 3);
    EXPECT_EQ(dlg.Status(), "3 events");
    auto row = [t](int r) {
        QStringList cells;
        for (int c = 0; c < t->columnCount(); ++c) cells << t->item(r, c)->text();
        return cells.join(QLatin1Char('|'));
    };
    EXPECT_EQ(row(0), "3.13|impact|2026-11-08 08:30:03.5|20261108_083003.mp4");
    EXPECT_EQ(row(1), "2.34|impact|+00:01.2|clip.mp4");
    EXPECT_EQ(row(2), "1.56|impact|2026-11-08 08:30:02.5|20261108_083000.mp4");

    dlg.ActivateRow(2);
    EXPECT_EQ(opened, "20261108_083000.mp4");
    EXPECT_EQ(opened_at, 500);
    dlg.ActivateRow(0);  // the peak within the first 2 s: from the start
    EXPECT_EQ(opened_at, 0);

    // The menu entry shows the owner's one companion window (this one) and raises it again.
    QMenu menu;
    app::catalogue_ui::AddFindEventsEntry(&menu, &owner,
                                          QString::fromStdString(dir.path().string()), 1.0, {});
    ASSERT_EQ(menu.actions().size(), 1);
    EXPECT_EQ(menu.actions()[0]->text(), "Find events...");
    menu.actions()[0]->trigger();
    menu.actions()[0]->trigger();
    EXPECT_EQ(owner.findChildren<app::catalogue_ui::CFindEventsDlg *>().size(), 1);
    EXPECT_TRUE(dlg.isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!dlg.Busy(), 20000);
    EXPECT_EQ(dlg.Table()->rowCount(), 3);
    QMenu none;
    app::catalogue_ui::AddFindEventsEntry(&none, &owner, QString(), 1.0, {});
    EXPECT_FALSE(none.actions()[0]->isEnabled());
}

TEST_F(CatalogueWindow, TheWindowOpensAFoundEventsRecordingAtItsTime) {
    TempDir dir, program_dir;
    WriteShort(dir / "20261108_083000.mp4", 0, -1);
    WriteShort(dir / "20261108_083003.mp4", 400, 25);
    app::CPlayerDlg dlg(nullptr, QString::fromStdString(program_dir.path().string()));
    dlg.SetMessageSink([](const QString &) {});
    dlg.show();
    dlg.OpenFolder(QString::fromStdString(dir.path().string()));
    PumpEvents();
    ASSERT_EQ(dlg.List()->CurrentIndex(), 0);

    QMenu menu;
    dlg.FillContextMenu(&menu);
    QAction *find = nullptr;
    for (QAction *a : menu.actions())
        if (a->text() == QLatin1String(app::catalogue_ui::kFindEventsMenuText)) find = a;
    ASSERT_NE(find, nullptr);
    EXPECT_TRUE(find->isEnabled());
    find->trigger();
    auto *events = dlg.findChild<app::catalogue_ui::CFindEventsDlg *>();
    ASSERT_NE(events, nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(!events->Busy(), 20000);
    ASSERT_EQ(events->Table()->rowCount(), 1);

    // Double clicking the line: the second recording, 2 s before the peak at 2.5 s.
    FakeEngine::Get().seeks.clear();
    events->ActivateRow(0);
    PumpEvents();
    EXPECT_EQ(dlg.List()->CurrentIndex(), 1);
    EXPECT_EQ(FakeEngine::Get().last_path, "20261108_083003.mp4");
    ASSERT_TRUE(dlg.Loaded());
    ASSERT_FALSE(FakeEngine::Get().seeks.empty());
    EXPECT_EQ(FakeEngine::Get().seeks.back(), 500);  // after the opening's own seek to the start
    EXPECT_FALSE(dlg.OpenRecordingAt(QStringLiteral("gone.mp4"), 0));
    EXPECT_EQ(dlg.List()->CurrentIndex(), 1);
}

}  // namespace
}  // namespace vt::test
