// The Trip and map window over the bundled three-recording drive, with tiles drawn here into an
// MBTiles file (streets, a park, a river and the road the car took), the position just after the
// impact, saved as a PNG. Run under a real X server (xvfb-run) to see the look.
//   map_screenshot SAMPLES_DIR OUT.png [grid]     (grid: no tile source, the plain grid)
#include <sqlite3.h>

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>
#include <cmath>
#include <cstdio>

#include "app/map/mapwidget.h"
#include "app/map/tilesource.h"
#include "app/map/tripmapwindow.h"

// Libraries that keep their state until the process ends (fonts, the X connection).
extern "C" const char *__lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libxcb\nleak:libX11\nleak:libdbus\n";
}

namespace {

using namespace vt::map;

// One tile of a made-up town, drawn in world pixels so that tiles join seamlessly.
QImage TownTile(const TileKey &key, const Trip &trip) {
    QImage img(kTileSize, kTileSize, QImage::Format_RGB32);
    img.fill(QColor(238, 234, 224));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(-key.x * kTileSize, -key.y * kTileSize);
    const double lat0 = trip.points.front().lat, lon0 = trip.points.front().lon;
    const double m = 1.0 / MetresPerPixel(lat0, key.z);  // pixels per metre
    const WorldPoint o = Project({lat0, lon0}, key.z);
    auto at = [&](double east_m, double north_m) {
        return QPointF(o.x + east_m * m, o.y - north_m * m);
    };

    p.fillRect(QRectF(at(-180, 260), at(60, 120)), QColor(200, 225, 185));   // park
    p.fillRect(QRectF(at(220, -40), at(420, -160)), QColor(222, 214, 204));  // works yard
    QPainterPath river;
    river.moveTo(at(-600, -250));
    river.cubicTo(at(-100, -120), at(150, -420), at(800, -300));
    p.strokePath(river, QPen(QColor(160, 200, 235), 28 * m, Qt::SolidLine, Qt::RoundCap));
    // Side streets every 120 m.
    const QPen street(Qt::white, 9 * m, Qt::SolidLine, Qt::FlatCap);
    for (int k = -8; k <= 8; ++k) {
        p.setPen(street);
        p.drawLine(at(k * 120, -900), at(k * 120, 900));
        p.drawLine(at(-900, k * 120), at(900, k * 120));
    }
    // The road the car took, wider and yellowish, straight from the fixes.
    QPainterPath road;
    bool started = false;
    for (const TrackPoint &pt : trip.points) {
        if (!pt.has_fix) continue;
        const WorldPoint w = Project({pt.lat, pt.lon}, key.z);
        if (!started) road.moveTo(w.x, w.y);
        else road.lineTo(w.x, w.y);
        started = true;
    }
    p.strokePath(road,
                 QPen(QColor(200, 190, 150), 18 * m, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.strokePath(road,
                 QPen(QColor(252, 240, 190), 14 * m, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    return img;
}

bool WriteTown(const QString &path, const Trip &trip) {
    sqlite3 *db = nullptr;
    if (sqlite3_open(QFile::encodeName(path).constData(), &db) != SQLITE_OK) return false;
    sqlite3_exec(db,
                 "CREATE TABLE metadata (name TEXT, value TEXT);"
                 "CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER, "
                 "tile_data BLOB);"
                 "INSERT INTO metadata VALUES ('name', 'Made-up town'), ('format', 'png'), "
                 "('maxzoom', '18'),"
                 " ('attribution', 'Tiles: made-up town, drawn by the test');"
                 "BEGIN;",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt *ins = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO tiles VALUES (?1, ?2, ?3, ?4)", -1, &ins, nullptr);
    double lat0 = 90, lat1 = -90, lon0 = 180, lon1 = -180;
    for (const TrackPoint &pt : trip.points)
        if (pt.has_fix)
            lat0 = std::min(lat0, pt.lat), lat1 = std::max(lat1, pt.lat),
            lon0 = std::min(lon0, pt.lon), lon1 = std::max(lon1, pt.lon);
    for (int z = 14; z <= 18; ++z) {
        const TileKey a = TileAt(Project({lat1, lon0}, z), z),
                      b = TileAt(Project({lat0, lon1}, z), z);
        for (int x = a.x - 3; x <= b.x + 3; ++x)
            for (int y = a.y - 3; y <= b.y + 3; ++y) {
                QByteArray png;
                QBuffer buf(&png);
                buf.open(QIODevice::WriteOnly);
                TownTile({z, x, y}, trip).save(&buf, "PNG");
                sqlite3_reset(ins);
                sqlite3_bind_int(ins, 1, z);
                sqlite3_bind_int(ins, 2, x);
                sqlite3_bind_int(ins, 3, FlipRow(z, y));
                sqlite3_bind_blob(ins, 4, png.constData(), static_cast<int>(png.size()),
                                  SQLITE_TRANSIENT);
                sqlite3_step(ins);
            }
    }
    sqlite3_finalize(ins);
    const bool ok = sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: map_screenshot SAMPLES_DIR OUT.png\n");
        return 2;
    }
    QApplication app(argc, argv);
    auto trip = std::make_shared<Trip>();
    QString error;
    const QString first = QDir(QString::fromLocal8Bit(argv[1]))
                              .absoluteFilePath(QStringLiteral("20261108_083015.mp4"));
    if (!LoadTripOf(first, 1.0, trip.get(), &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 2;
    }
    QTemporaryDir tmp;
    const QString tiles = tmp.filePath(QStringLiteral("town.mbtiles"));
    if (!WriteTown(tiles, *trip)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(tiles));
        return 2;
    }
    const bool grid = argc > 3 && QByteArray(argv[3]) == "grid";
    MapSettings settings;
    if (!grid) settings.mbtiles = tiles;
    int result = 0;
    {
        CTripMapWindow w(settings);
        w.resize(900, 680);
        w.move(0, 0);
        w.ShowTrip(trip);
        w.show();
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 1500) {
            QApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(5);
        }
        w.Map()->FitTrack();  // again, now that the window has its real size
        // Two seconds after the impact in the second recording, pulling away again.
        w.SetPosition(27500);
        t.restart();
        while (t.elapsed() < 1000) {
            QApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(5);
        }
        w.repaint();
        QApplication::processEvents();
        QPixmap shot = w.screen()->grabWindow(0, w.x(), w.y(), w.frameGeometry().width(),
                                              w.frameGeometry().height());
        if (shot.isNull()) shot = w.grab();
        if (!shot.save(QString::fromLocal8Bit(argv[2]))) result = 2;
        std::fprintf(
            stderr,
            "files=%zu points=%zu events=%zu distance_m=%.0f max_kmh=%.1f zoom=%d tiles_shown=%d\n",
            trip->files.size(), trip->points.size(), trip->events.size(), trip->distance_m,
            trip->max_speed_kmh, w.Map()->Zoom(), w.Map()->TilesShown());
        if (result == 0 && w.Map()->TilesShown() == grid) result = 3;
    }
    return result;
}
