// The map and the strip under the mouse, and the window and its link to the player: a click on
// the track seeks to that record's trip time, a seek lands in the right recording.
#include <gtest/gtest.h>

#include <QDir>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>

#include "app/map/mapwidget.h"
#include "app/map/tripmaplink.h"
#include "app/map/tripmapwindow.h"
#include "app/map/tripstrip.h"
#include "tests/common/testutil.h"
#include "tests/map/map_env.h"

namespace vt::map {
namespace {

constexpr int kW = 480, kH = 320;

struct Fixture {
    Fixture() {
        trip = test::LineTrip(46.948, 7.4474, 120, 5);  // 120 records 5 m apart
        trip->events.push_back({4000, 1.3, 'z', true});
        map.resize(kW, kH);
        map.SetTrip(trip);
        map.show();
    }
    QPoint At(int i) const {
        return map.ToScreen({trip->points[i].lat, trip->points[i].lon}).toPoint();
    }
    bool app = (test::EnsureMapApp(), true);  // before the widget
    std::shared_ptr<Trip> trip;
    CMapWidget map;
};

TEST(MapMouse, AClickOnTheTrackSeeksToThatRecordAndAMissDoesNothing) {
    Fixture f;
    QSignalSpy seeks(&f.map, &CMapWidget::seekRequested);
    QTest::mouseClick(&f.map, Qt::LeftButton, {}, f.At(77));
    ASSERT_EQ(seeks.size(), 1);
    EXPECT_EQ(seeks.at(0).at(0).toLongLong(), 7700);

    // Between two records, nearer the second; a few pixels beside the line still counts.
    const QPointF a = f.map.ToScreen({f.trip->points[90].lat, f.trip->points[90].lon});
    const QPointF b = f.map.ToScreen({f.trip->points[91].lat, f.trip->points[91].lon});
    EXPECT_EQ(f.map.TripTimeAt(a + (b - a) * 0.7 + QPointF(0, 3)), 9100);
    EXPECT_EQ(f.map.TripTimeAt(a + (b - a) * 0.3 + QPointF(0, -3)), 9000);

    QTest::mouseClick(&f.map, Qt::LeftButton, {}, f.At(77) + QPoint(0, 40));
    EXPECT_EQ(seeks.size(), 1);
    // The event's pin wins over the track around it.
    EXPECT_EQ(f.map.TripTimeAt(f.At(41)), 4000);
    EXPECT_EQ(f.map.TripTimeAt(f.At(60)), 6000);
}

TEST(MapMouse, DraggingPansWithoutSeekingAndTheWheelZoomsAroundTheCursor) {
    Fixture f;
    QSignalSpy seeks(&f.map, &CMapWidget::seekRequested);
    const WorldPoint before = f.map.Centre();
    const QPoint from = f.At(50);
    QTest::mousePress(&f.map, Qt::LeftButton, {}, from);
    QMouseEvent move(QEvent::MouseMove, QPointF(from + QPoint(30, 20)),
                     f.map.mapToGlobal(QPointF(from + QPoint(30, 20))), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&f.map, &move);
    QTest::mouseRelease(&f.map, Qt::LeftButton, {}, from + QPoint(30, 20));
    EXPECT_EQ(seeks.size(), 0);
    EXPECT_DOUBLE_EQ(f.map.Centre().x, before.x - 30);
    EXPECT_DOUBLE_EQ(f.map.Centre().y, before.y - 20);

    const QPointF cursor(100, 80);
    const LatLon under = f.map.ToLatLon(cursor);
    const int zoom = f.map.Zoom();
    QWheelEvent wheel(cursor, f.map.mapToGlobal(cursor), {}, {0, 120}, Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(&f.map, &wheel);
    EXPECT_EQ(f.map.Zoom(), zoom + 1);
    const QPointF still = f.map.ToScreen(under);
    EXPECT_NEAR(still.x(), cursor.x(), 0.01);
    EXPECT_NEAR(still.y(), cursor.y(), 0.01);
    QWheelEvent out(cursor, f.map.mapToGlobal(cursor), {}, {0, -240}, Qt::NoButton, Qt::NoModifier,
                    Qt::NoScrollPhase, false);
    QApplication::sendEvent(&f.map, &out);
    EXPECT_EQ(f.map.Zoom(), zoom - 1);
}

TEST(MapView, TheScaleBarMeasuresTheGroundInTheSettingsUnit) {
    Fixture f;
    struct Case {
        int zoom;
        SpeedUnit unit;
        const char *text;
    };
    // At 46.95 N a pixel is 0.815 m at zoom 17, 6.52 m at zoom 14, 13.0 m at zoom 13 and 6.68 km
    // at zoom 4; the bar is at most 120 pixels long.
    const Case cases[] = {{17, SpeedUnit::kKmh, "50 m"},    {14, SpeedUnit::kKmh, "500 m"},
                          {4, SpeedUnit::kKmh, "500 km"},   {17, SpeedUnit::kMph, "200 ft"},
                          {14, SpeedUnit::kMph, "2000 ft"}, {13, SpeedUnit::kMph, "0.5 mi"}};
    for (const Case &c : cases) {
        f.map.SetSpeedUnit(c.unit);
        f.map.SetView(c.zoom, Project({46.95, 7.45}, c.zoom));
        double px = 0;
        EXPECT_EQ(f.map.ScaleBar(&px), QString::fromLatin1(c.text)) << c.zoom;
        EXPECT_GT(px, 40);
        EXPECT_LE(px, 120);
    }
}

TEST(MapView, FitsTheTrackAndFollowsThePositionOffScreen) {
    Fixture f;
    for (int i : {0, 119}) {
        const QPoint p = f.At(i);
        EXPECT_TRUE(QRect(10, 10, kW - 20, kH - 20).contains(p)) << i;
    }
    // Zoomed in far, a position out of view brings the view to it.
    f.map.SetView(19, Project({f.trip->points[0].lat, f.trip->points[0].lon}, 19));
    EXPECT_FALSE(f.map.rect().contains(f.At(110)));
    f.map.SetPosition(11000);
    EXPECT_TRUE(f.map.rect().contains(f.At(110)));
    // No fix at all: the world, not a crash.
    auto blind = std::make_shared<Trip>(*f.trip);
    for (TrackPoint &p : blind->points) p.has_fix = false;
    f.map.SetTrip(blind);
    EXPECT_EQ(f.map.TripTimeAt(QPointF(kW / 2.0, kH / 2.0)), -1);
    f.map.SetPosition(5000);
    f.map.grab();
}

TEST(TripStrip, CursorFollowsThePlayerAndAClickSeeks) {
    test::EnsureMapApp();
    auto trip = test::LineTrip(46.948, 7.4474, 200, 5);  // 20 s at 180 km/h
    trip->points[50].speed_kmh = -1;
    CTripStrip strip;
    strip.resize(600, 120);
    strip.SetTrip(trip);
    strip.SetPosition(10000);
    const int middle = strip.CursorX();
    EXPECT_NEAR(middle, (strip.XOf(0) + strip.XOf(20000)) / 2, 1);
    strip.SetPosition(20000);
    EXPECT_GT(strip.CursorX(), middle);
    EXPECT_EQ(strip.TimeAtX(strip.XOf(12300)), 12300);

    QSignalSpy seeks(&strip, &CTripStrip::seekRequested);
    QTest::mouseClick(&strip, Qt::LeftButton, {}, QPoint(static_cast<int>(strip.XOf(5000)), 60));
    ASSERT_EQ(seeks.size(), 1);
    EXPECT_NEAR(seeks.at(0).at(0).toLongLong(), 5000, 40);

    strip.SetPosition(1000);
    EXPECT_EQ(strip.ReadoutText(), QStringLiteral("08:30:01  180 km/h  0.05 G"));
    strip.SetSpeedUnit(SpeedUnit::kMph);
    EXPECT_EQ(strip.ReadoutText(), QStringLiteral("08:30:01  112 mph  0.05 G"));
    strip.SetPosition(5050);
    EXPECT_EQ(strip.ReadoutText(), QStringLiteral("08:30:05  -- mph  0.05 G"));
}

TEST(TripMapWindow, RemembersItsGeometryAndShowsTheTripInItsHeader) {
    test::EnsureMapApp();
    test::TempDir dir;
    MapSettings s;
    s.settings_file = QString::fromStdString((dir / "settings.ini").string());
    s.speed_unit = SpeedUnit::kMph;
    {
        CTripMapWindow w(s);
        w.ShowTrip(test::LineTrip(46.948, 7.4474, 200, 5));
        EXPECT_TRUE(w.HeaderText().startsWith(
            QStringLiteral("2026-11-08 08:30:00   0:20   0.6 mi   max 112 mph")))
            << w.HeaderText().toStdString();
        EXPECT_TRUE(w.SourceProblem().isEmpty());
        w.show();
        w.resize(700, 520);
        w.close();
    }
    CTripMapWindow again(s);
    EXPECT_EQ(again.size(), QSize(700, 520));
}

// The player's side, as the main window wires it: the open recording, its position, and a seek.
struct FakePlayer {
    QString path;
    int64_t position = 0;
    QString seek_path;
    int64_t seek_ms = -1;
    PlayerLink Link() {
        return {[this] { return path; }, [this] { return position; },
                [this](const QString &p, int64_t ms) { seek_path = p, seek_ms = ms; }};
    }
};

TEST(TripMapLink, FollowsThePlayerAcrossRecordingsAndSeeksIntoTheRightOne) {
    test::EnsureMapApp();
    const QDir samples(QString::fromStdString(test::SamplesDir().string()));
    FakePlayer player;
    player.path = samples.absoluteFilePath(QStringLiteral("20261108_083015.mp4"));
    player.position = 5000;
    QWidget owner;
    MapSettings s;
    CTripMapLink link(&owner, player.Link(), s);
    link.Show();
    CTripMapWindow *w = link.Window();
    ASSERT_NE(w->CurrentTrip(), nullptr);
    EXPECT_EQ(w->CurrentTrip()->files.size(), 3u);
    EXPECT_EQ(w->Map()->Position(), 20000);
    EXPECT_EQ(w->Strip()->CursorX(), static_cast<int>(std::lround(w->Strip()->XOf(20000))));

    // The player moves on into the next recording of the same trip: no reload, the cursor follows.
    const auto trip = w->CurrentTrip();
    player.path = samples.absoluteFilePath(QStringLiteral("20261108_083030.mp4"));
    player.position = 1000;
    link.Poll();
    EXPECT_EQ(w->CurrentTrip(), trip);
    EXPECT_EQ(w->Map()->Position(), 31000);

    // A click 2 s into the third recording, by trip time.
    emit w->Strip()->seekRequested(32000);
    EXPECT_EQ(player.seek_path, samples.absoluteFilePath(QStringLiteral("20261108_083030.mp4")));
    EXPECT_EQ(player.seek_ms, 2000);
    emit w->Map()->seekRequested(7700);
    EXPECT_EQ(player.seek_path, samples.absoluteFilePath(QStringLiteral("20261108_083000.mp4")));
    EXPECT_EQ(player.seek_ms, 7700);

    // Another camera's recording: a message in place of the trip, and no seeks.
    player.path = samples.absoluteFilePath(QStringLiteral("other-model/20261109_071500.mp4"));
    link.Poll();
    EXPECT_EQ(w->CurrentTrip(), nullptr);
    player.seek_ms = -1;
    link.SeekTrip(1000);
    EXPECT_EQ(player.seek_ms, -1);
    player.path.clear();
    link.Poll();
    EXPECT_EQ(w->HeaderText(), QStringLiteral("No recording is open."));
}

}  // namespace
}  // namespace vt::map
