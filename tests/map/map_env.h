#pragma once
// What the map tests share: the Qt application, waiting on the event loop, tiles drawn by the
// test, a real HTTP tile server (python3's http.server) and MBTiles files written with SQLite.
#include <QImage>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

#include "app/map/mercator.h"
#include "app/map/trip.h"
#include "tests/app/run_until.h"

namespace vt::test {

void EnsureMapApp();

// A tile of one colour that tells its numbers apart from its neighbours'.
QColor TileColour(int x, int y);
QImage DrawTile(const map::TileKey &key);
// Writes DIR/z/x/y.png for every tile in the ranges.
void WriteTiles(const QString &dir, int z, int x0, int x1, int y0, int y1);

// python3 serving a folder on 127.0.0.1 with http.server's handler, logging each GET with its
// User-Agent and the most requests it saw at once. Each request takes ~30 ms, so overlapping
// requests show.
class TileServer {
public:
    explicit TileServer(const QString &root);
    ~TileServer();
    bool Started() const { return m_port > 0; }
    int Port() const { return m_port; }
    QString UrlTemplate() const;
    // "/z/x/y.png" of every GET so far, in order.
    QStringList Requests();
    QStringList UserAgents();
    int MostAtOnce();

private:
    void ReadLog();
    QProcess m_proc;
    int m_port = 0;
    QStringList m_requests, m_agents;
    int m_most = 0;
};

// A free TCP port on 127.0.0.1 (nothing listens on it once this returns).
int FreePort();

// An MBTiles file with the drawn tiles of the ranges; `skip` leaves one tile out.
bool WriteMbtiles(const QString &path, int z, int x0, int x1, int y0, int y1,
                  const QString &attribution, const map::TileKey *skip = nullptr);

// A trip along a straight east-going line: n points 100 ms apart from (lat, lon), each step
// `step_m` metres, speed step_m * 36 km/h.
std::shared_ptr<map::Trip> LineTrip(double lat, double lon, int n, double step_m);

}  // namespace vt::test
