// The Trip and map window from the player window over the real engine and the bundled drive:
// Ctrl+M and the context menu open it, it follows playback, and a seek by trip time opens the
// recording that holds it and plays from there.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QTest>
#include <cstdlib>

#include "app/map/mapwidget.h"
#include "app/map/tripmaplink.h"
#include "app/map/tripmapwindow.h"
#include "app/playercontrol.h"
#include "app/playerdlg.h"
#include "tests/common/testutil.h"
#include "tests/map/map_env.h"

namespace vt::map {
namespace {

TEST(PlayerWindow, CtrlMOpensTheTripMapWhichFollowsPlaybackAndSeeksAcrossRecordings) {
    setenv("SDL_AUDIODRIVER", "disk", 0);
    setenv("SDL_DISKAUDIOFILE", "/dev/null", 0);
    test::TempDir home;
    // The map's settings and geometry go to this test's own folders.
    setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    setenv("XDG_CACHE_HOME", (home / "cache").c_str(), 1);
    unsetenv("VANTREC_TILE_URL");
    test::EnsureMapApp();
    const QDir samples(QString::fromStdString(test::SamplesDir().string()));

    app::CPlayerDlg dlg(nullptr, QString::fromStdString((home / "program").string()));
    QDir().mkpath(QString::fromStdString((home / "program").string()));
    dlg.SetMessageSink([](const QString &text) { ADD_FAILURE() << text.toStdString(); });
    dlg.show();
    dlg.OpenFolder(samples.absolutePath());
    ASSERT_TRUE(test::RunUntil([&] { return dlg.Loaded(); }, 10000));

    QMenu menu;
    dlg.FillContextMenu(&menu);
    QStringList entries;
    for (QAction *a : menu.actions()) entries << a->text();
    EXPECT_TRUE(entries.contains(QStringLiteral("Trip and map")))
        << entries.join(u',').toStdString();

    QTest::keyClick(&dlg, Qt::Key_M, Qt::ControlModifier);
    auto *link = dlg.findChild<CTripMapLink *>();
    ASSERT_NE(link, nullptr);
    CTripMapWindow *w = link->Window();
    EXPECT_TRUE(w->isVisible());
    ASSERT_NE(w->CurrentTrip(), nullptr);
    EXPECT_EQ(w->CurrentTrip()->files.size(), 3u);

    // Playing: the map's position moves with the player's.
    ASSERT_TRUE(test::RunUntil([&] { return w->Map()->Position() >= 500; }, 10000));

    // 2.5 s into the third recording, by trip time: the window opens it and seeks there.
    link->SeekTrip(32500);
    EXPECT_EQ(dlg.CurrentPath(), QStringLiteral("20261108_083030.mp4"));
    ASSERT_TRUE(test::RunUntil([&] { return dlg.Player()->GetPosition() >= 2400; }, 10000));
    EXPECT_LT(dlg.Player()->GetPosition(), 6000);
    ASSERT_TRUE(test::RunUntil([&] { return w->Map()->Position() >= 32400; }, 5000));
    EXPECT_EQ(w->CurrentTrip()->files.size(), 3u);

    // Back into the first one.
    link->SeekTrip(3000);
    EXPECT_EQ(dlg.CurrentPath(), QStringLiteral("20261108_083000.mp4"));
    ASSERT_TRUE(test::RunUntil(
        [&] { return w->Map()->Position() >= 2900 && w->Map()->Position() < 8000; }, 10000));
    dlg.StopPlayback();
    w->close();
}

}  // namespace
}  // namespace vt::map
