// Tiles as a user meets them: a real HTTP server on 127.0.0.1 (python3's http.server over tiles
// this test draws), the disk cache on a second look, a server that is gone or hangs, and an
// MBTiles file written here.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QSet>
#include <QTcpServer>
#include <QThread>
#include <QTimer>
#include <cmath>

#include "app/map/mapwidget.h"
#include "app/map/tilesource.h"
#include "tests/common/testutil.h"
#include "tests/map/map_env.h"

namespace vt::map {
namespace {

using test::RunUntil;

constexpr int kW = 512, kH = 384;

struct TileRange {
    int z, x0, x1, y0, y1;
    int Count() const { return (x1 - x0 + 1) * (y1 - y0 + 1); }
};

// The tiles a kW x kH view needs, worked out from its corners.
TileRange VisibleTiles(const CMapWidget &w) {
    const WorldPoint c = w.Centre();
    const TileKey a = TileAt({c.x - kW / 2.0, c.y - kH / 2.0}, w.Zoom());
    const TileKey b = TileAt({c.x + kW / 2.0 - 1, c.y + kH / 2.0 - 1}, w.Zoom());
    return {w.Zoom(), a.x, b.x, a.y, b.y};
}

// A widget on the bundled drive's area, fitted to a 1.5 km track.
std::unique_ptr<CMapWidget> FittedMap() {
    test::EnsureMapApp();
    auto w = std::make_unique<CMapWidget>();
    w->resize(kW, kH);
    w->SetTrip(test::LineTrip(46.948, 7.4474, 150, 10));
    return w;
}

// The colour a tile-covered pixel should have at a widget position.
QColor ExpectedAt(const CMapWidget &w, QPoint pos) {
    const TileKey k = TileAt(Project(w.ToLatLon(pos), w.Zoom()), w.Zoom());
    return test::TileColour(k.x, k.y);
}

// Sample points away from the track (drawn along the middle), the speed legend (top right, from
// y = 6), the scale bar and the attribution.
const QPoint kProbes[] = {
    {20, 20}, {kW - 20, 2}, {kW / 2, 12}, {20, kH / 2 - 60}, {kW - 20, kH / 2 + 60}};

struct Counter {
    int ready = 0, failed = 0;
    void Attach(CTileSource *s) {
        QObject::connect(s, &CTileSource::tileReady, [this] { ++ready; });
        QObject::connect(s, &CTileSource::tileFailed, [this] { ++failed; });
    }
};

class TilesOverHttp : public testing::Test {
protected:
    void SetUp() override {
        test::EnsureMapApp();
        if (!test::HaveProgram("python3")) GTEST_SKIP() << "python3 is not installed";
        m_root = QString::fromStdString((m_dir / "tiles").string());
        m_cache = QString::fromStdString((m_dir / "cache").string());
    }
    test::TempDir m_dir;
    QString m_root, m_cache;
};

TEST_F(TilesOverHttp, RequestsExactlyTheVisibleTilesThenServesASecondLookFromTheCache) {
    auto map = FittedMap();
    const TileRange range = VisibleTiles(*map);
    ASSERT_GE(range.Count(), 4);
    test::WriteTiles(m_root, range.z, range.x0, range.x1, range.y0, range.y1);
    test::TileServer server(m_root);
    ASSERT_TRUE(server.Started());

    {
        CXyzTileSource source(server.UrlTemplate(), m_cache);
        Counter count;
        count.Attach(&source);
        map->SetTileSource(&source);
        map->show();
        ASSERT_TRUE(RunUntil([&] { return count.ready + count.failed >= range.Count(); }, 20000));
        EXPECT_EQ(count.failed, 0);

        QSet<QString> expected;
        for (int x = range.x0; x <= range.x1; ++x)
            for (int y = range.y0; y <= range.y1; ++y)
                expected << QStringLiteral("/%1/%2/%3.png").arg(range.z).arg(x).arg(y);
        const QStringList got = server.Requests();
        EXPECT_EQ(QSet<QString>(got.begin(), got.end()), expected);
        EXPECT_EQ(got.size(), expected.size()) << "a tile was fetched twice";
        for (const QString &ua : server.UserAgents())
            EXPECT_TRUE(ua.startsWith(QStringLiteral("vantrec-player/"))) << ua.toStdString();
        EXPECT_LE(server.MostAtOnce(), CXyzTileSource::kMaxConnections);
        EXPECT_GE(server.MostAtOnce(), 1);
        RecordProperty("most_requests_at_once", server.MostAtOnce());

        const QImage shot = map->grab().toImage();
        EXPECT_TRUE(map->TilesShown());
        for (QPoint p : kProbes)
            EXPECT_EQ(QColor(shot.pixel(p)), ExpectedAt(*map, p)) << p.x() << "," << p.y();
        map->SetTileSource(nullptr);
    }

    // A second look at the same trip: every tile from the disk cache, none from the server.
    const int served = server.Requests().size();
    auto again = FittedMap();
    CXyzTileSource source(server.UrlTemplate(), m_cache);
    Counter count;
    count.Attach(&source);
    again->SetTileSource(&source);
    again->show();
    ASSERT_TRUE(RunUntil([&] { return count.ready + count.failed >= range.Count(); }, 10000));
    EXPECT_EQ(count.ready, range.Count());
    EXPECT_EQ(source.CacheHits(), range.Count());
    EXPECT_EQ(source.NetworkRequests(), 0);
    QThread::msleep(100);
    EXPECT_EQ(server.Requests().size(), served);
    const QImage shot = again->grab().toImage();
    for (QPoint p : kProbes) EXPECT_EQ(QColor(shot.pixel(p)), ExpectedAt(*again, p));
    again->SetTileSource(nullptr);
}

TEST_F(TilesOverHttp, AMissingTileLeavesTheGridThereAndIsNotCached) {
    auto map = FittedMap();
    const TileRange range = VisibleTiles(*map);
    test::WriteTiles(m_root, range.z, range.x0, range.x1, range.y0, range.y1);
    const QString gone =
        QStringLiteral("%1/%2/%3/%4.png").arg(m_root).arg(range.z).arg(range.x0).arg(range.y0);
    ASSERT_TRUE(QFile::remove(gone));
    test::TileServer server(m_root);
    ASSERT_TRUE(server.Started());
    CXyzTileSource source(server.UrlTemplate(), m_cache);
    Counter count;
    count.Attach(&source);
    map->SetTileSource(&source);
    ASSERT_TRUE(RunUntil([&] { return count.ready + count.failed >= range.Count(); }, 20000));
    EXPECT_EQ(count.failed, 1);
    const QImage shot = map->grab().toImage();
    EXPECT_NE(QColor(shot.pixel(kProbes[0])), ExpectedAt(*map, kProbes[0]));  // top-left: no tile
    EXPECT_EQ(QColor(shot.pixel(kProbes[1])), ExpectedAt(*map, kProbes[1]));
    map->SetTileSource(nullptr);

    // The 404 page did not go into the cache: once the tile exists it is fetched.
    test::WriteTiles(m_root, range.z, range.x0, range.x0, range.y0, range.y0);
    CXyzTileSource second(server.UrlTemplate(), m_cache);
    Counter count2;
    count2.Attach(&second);
    second.Request({range.z, range.x0, range.y0});
    ASSERT_TRUE(RunUntil([&] { return count2.ready + count2.failed > 0; }, 10000));
    EXPECT_EQ(count2.ready, 1);
    EXPECT_EQ(second.NetworkRequests(), 1);
}

// The UI keeps turning while tiles cannot be had: a timer ticking every 10 ms is never held up
// for as long as one request may take (the margin is for a loaded machine), and the map ends up
// as the grid with its scale bar and no attribution.
void ExpectGridWithoutBlocking(CTileSource *source, int expected_tiles, CMapWidget *map,
                               int timeout_ms, int min_ticks) {
    Counter count;
    count.Attach(source);
    QElapsedTimer clock;
    clock.start();
    qint64 last_tick = 0, worst_gap = 0;
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        worst_gap = std::max(worst_gap, now - last_tick);
        last_tick = now;
        ++ticks;
    });
    ticker.start(10);
    map->SetTileSource(source);
    map->show();
    const qint64 set_up_ms = clock.elapsed();
    ASSERT_TRUE(RunUntil([&] { return count.failed >= expected_tiles; }, timeout_ms));
    EXPECT_LT(set_up_ms, 600);
    EXPECT_GE(ticks, min_ticks);
    EXPECT_LT(worst_gap, 600) << "the event loop stalled";
    EXPECT_EQ(count.ready, 0);
    const QImage shot = map->grab().toImage();
    EXPECT_FALSE(map->TilesShown());
    int grid = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            grid += QColor(shot.pixel(x, y)) == QColor(58, 63, 71);
    EXPECT_GT(grid, 200) << "no grid lines";
    // The bottom-right corner holds the attribution's light box only when tiles show.
    int light = 0;
    for (int y = kH - 8; y < kH; ++y)
        for (int x = kW - 30; x < kW; ++x) light += qGray(shot.pixel(x, y)) > 150;
    EXPECT_EQ(light, 0);
    map->SetTileSource(nullptr);
}

TEST_F(TilesOverHttp, AServerThatIsGoneFallsBackToTheGrid) {
    auto map = FittedMap();
    const int port = test::FreePort();
    ASSERT_GT(port, 0);
    CXyzTileSource source(QStringLiteral("http://127.0.0.1:%1/{z}/{x}/{y}.png").arg(port), m_cache);
    ExpectGridWithoutBlocking(&source, VisibleTiles(*map).Count(), map.get(), 20000, 0);
}

TEST_F(TilesOverHttp, AServerThatNeverAnswersTimesOutToTheGrid) {
    auto map = FittedMap();
    QTcpServer silent;  // accepts connections and says nothing
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    CXyzTileSource source(
        QStringLiteral("http://127.0.0.1:%1/{z}/{x}/{y}.png").arg(silent.serverPort()), m_cache);
    source.SetTransferTimeout(1000);
    // Every tile waits out the timeout, two at a time: the loop turns all along.
    ExpectGridWithoutBlocking(&source, VisibleTiles(*map).Count(), map.get(), 30000, 20);
}

TEST(TilesFromMbtiles, RowsFlipFromTheSouthAndTheAttributionComesFromTheFile) {
    test::EnsureMapApp();
    test::TempDir dir;
    auto map = FittedMap();
    const TileRange r = VisibleTiles(*map);
    const QString path = QString::fromStdString((dir / "area.mbtiles").string());
    const TileKey skipped{r.z, r.x1, r.y0};  // the top-right tile is missing from the file
    ASSERT_TRUE(test::WriteMbtiles(path, r.z, r.x0, r.x1, r.y0, r.y1, QStringLiteral("Test atlas"),
                                   &skipped));

    CMbtilesSource source;
    QString error;
    ASSERT_TRUE(source.Open(path, &error)) << error.toStdString();
    EXPECT_EQ(source.Attribution(), QStringLiteral("Test atlas"));
    EXPECT_EQ(source.MaxZoom(), r.z);
    Counter count;
    count.Attach(&source);
    map->SetTileSource(&source);
    ASSERT_TRUE(RunUntil([&] { return count.ready + count.failed >= r.Count(); }, 10000));
    EXPECT_EQ(count.failed, 1);
    const QImage shot = map->grab().toImage();
    EXPECT_TRUE(map->TilesShown());
    EXPECT_EQ(QColor(shot.pixel(kProbes[0])), ExpectedAt(*map, kProbes[0]));
    EXPECT_NE(QColor(shot.pixel(kProbes[1])), ExpectedAt(*map, kProbes[1]));  // the skipped tile
    EXPECT_EQ(QColor(shot.pixel(kProbes[3])), ExpectedAt(*map, kProbes[3]));
    // The attribution's white box in the bottom-right corner.
    EXPECT_GT(qGray(shot.pixel(kW - 3, kH - 3)), 200);

    // Two levels past the file's deepest, its tiles are shown enlarged, and nothing deeper is
    // asked for.
    const int answered = count.ready + count.failed;
    map->SetView(r.z + 2, Rescale(map->Centre(), r.z, r.z + 2));
    test::RunUntil([] { return false; }, 100);
    EXPECT_EQ(count.ready + count.failed, answered);
    const QImage deeper = map->grab().toImage();
    EXPECT_TRUE(map->TilesShown());
    for (QPoint p : {kProbes[0], kProbes[3], kProbes[4]}) {
        const TileKey k = TileAt(Project(map->ToLatLon(p), r.z), r.z);
        if (k == skipped) continue;
        EXPECT_EQ(QColor(deeper.pixel(p)), test::TileColour(k.x, k.y)) << p.x() << "," << p.y();
    }
    map->SetTileSource(nullptr);
}

TEST(TilesFromMbtiles, FilesThatAreNotMbtilesAreRefusedAndTheUrlIsUsedInstead) {
    test::EnsureMapApp();
    test::TempDir dir;
    const QString junk = QString::fromStdString((dir / "notes.mbtiles").string());
    ASSERT_TRUE(test::WriteFileBytes(dir / "notes.mbtiles", {'h', 'e', 'l', 'l', 'o'}));
    CMbtilesSource source;
    QString error;
    EXPECT_FALSE(source.Open(junk, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(source.Open(QString::fromStdString((dir / "absent.mbtiles").string()), &error));

    error.clear();
    auto none = MakeTileSource(junk, QString(), QString(), &error);
    EXPECT_EQ(none, nullptr);
    EXPECT_FALSE(error.isEmpty());
    auto xyz = MakeTileSource(junk, QStringLiteral("http://127.0.0.1:9/{z}/{x}/{y}.png"), QString(),
                              &error);
    ASSERT_NE(xyz, nullptr);
    EXPECT_EQ(static_cast<CXyzTileSource *>(xyz.get())->UrlFor({3, 4, 5}),
              QStringLiteral("http://127.0.0.1:9/3/4/5.png"));
    error.clear();
    EXPECT_EQ(MakeTileSource(QString(), QStringLiteral("http://127.0.0.1:9/tiles.png"), QString(),
                             &error),
              nullptr);
    EXPECT_FALSE(error.isEmpty());
}

}  // namespace
}  // namespace vt::map
