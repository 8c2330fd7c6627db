#include "tests/map/map_env.h"

#include <sqlite3.h>

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QPainter>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <cmath>

// fontconfig's caches and the SDL audio subsystem live until the process ends; not ours to free.
extern "C" const char *__lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libSDL2-2.0.so\n";
}

namespace vt::test {

void EnsureMapApp() {
    if (QCoreApplication::instance() != nullptr) return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "map_tests";
    static char *argv[] = {name, nullptr};
    new QApplication(argc, argv);
}

QColor TileColour(int x, int y) { return QColor(40 + (x * 37) % 200, 40 + (y * 53) % 200, 180); }

QImage DrawTile(const map::TileKey &key) {
    QImage img(map::kTileSize, map::kTileSize, QImage::Format_RGB32);
    img.fill(TileColour(key.x, key.y));
    return img;
}

void WriteTiles(const QString &dir, int z, int x0, int x1, int y0, int y1) {
    for (int x = x0; x <= x1; ++x) {
        const QString folder = QStringLiteral("%1/%2/%3").arg(dir).arg(z).arg(x);
        QDir().mkpath(folder);
        for (int y = y0; y <= y1; ++y)
            DrawTile({z, x, y}).save(QStringLiteral("%1/%2.png").arg(folder).arg(y));
    }
}

int FreePort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0)) return 0;
    const int port = probe.serverPort();
    probe.close();
    return port;
}

namespace {

const char kServerScript[] = R"(
import http.server, sys, threading, time
lock = threading.Lock()
state = {'now': 0, 'most': 0}
class Handler(http.server.SimpleHTTPRequestHandler):
    # A request counts as open from its arrival until just before its answer is written: once
    # the client holds the whole answer, the count has already dropped, so a client that starts
    # its next request at that moment is never seen overlapping the one it finished.
    def do_GET(self):
        with lock:
            state['now'] += 1
            state['most'] = max(state['most'], state['now'])
        body = None
        try:
            sys.stderr.write('GET %s UA=%s\n' % (self.path, self.headers.get('User-Agent')))
            time.sleep(0.03)
            try:
                with open(self.translate_path(self.path), 'rb') as f:
                    body = f.read()
            except OSError:
                pass
        finally:
            with lock:
                state['now'] -= 1
                sys.stderr.write('MOST %d\n' % state['most'])
        if body is None:
            self.send_error(404)
            return
        self.send_response(200)
        self.send_header('Content-Type', 'image/png')
        self.send_header('Content-Length', str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *args):
        pass
handler = lambda *a, **k: Handler(*a, directory=sys.argv[2], **k)
http.server.ThreadingHTTPServer(('127.0.0.1', int(sys.argv[1])), handler).serve_forever()
)";

}  // namespace

TileServer::TileServer(const QString &root) {
    const int port = FreePort();
    if (port == 0) return;
    m_proc.start(QStringLiteral("python3"),
                 {QStringLiteral("-u"), QStringLiteral("-c"), QString::fromLatin1(kServerScript),
                  QString::number(port), root});
    if (!m_proc.waitForStarted(5000)) return;
    // Ready once it accepts a connection.
    for (int i = 0; i < 200; ++i) {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
        if (s.waitForConnected(100)) {
            m_port = port;
            return;
        }
        QThread::msleep(20);
    }
}

TileServer::~TileServer() {
    if (m_proc.state() != QProcess::NotRunning) {
        m_proc.kill();
        m_proc.waitForFinished(3000);
    }
}

QString TileServer::UrlTemplate() const {
    return QStringLiteral("http://127.0.0.1:%1/{z}/{x}/{y}.png").arg(m_port);
}

void TileServer::ReadLog() {
    m_proc.waitForReadyRead(50);
    while (m_proc.canReadLine() || m_proc.bytesAvailable() > 0) {
        QByteArray line = m_proc.readLine().trimmed();
        if (line.isEmpty()) {
            m_proc.readAllStandardError();
            continue;
        }
        if (line.startsWith("GET ")) {
            const int ua = line.indexOf(" UA=");
            m_requests << QString::fromUtf8(line.mid(4, ua - 4));
            m_agents << QString::fromUtf8(line.mid(ua + 4));
        } else if (line.startsWith("MOST ")) {
            m_most = std::max(m_most, line.mid(5).toInt());
        }
    }
}

QStringList TileServer::Requests() {
    m_proc.setReadChannel(QProcess::StandardError);
    ReadLog();
    return m_requests;
}

QStringList TileServer::UserAgents() {
    Requests();
    return m_agents;
}

int TileServer::MostAtOnce() {
    Requests();
    return m_most;
}

bool WriteMbtiles(const QString &path, int z, int x0, int x1, int y0, int y1,
                  const QString &attribution, const map::TileKey *skip) {
    QFile::remove(path);
    sqlite3 *db = nullptr;
    if (sqlite3_open(QFile::encodeName(path).constData(), &db) != SQLITE_OK) return false;
    bool ok = sqlite3_exec(db,
                           "CREATE TABLE metadata (name TEXT, value TEXT);"
                           "CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, tile_row "
                           "INTEGER, tile_data BLOB);"
                           "BEGIN;",
                           nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_stmt *meta = nullptr;
    ok = ok && sqlite3_prepare_v2(db, "INSERT INTO metadata VALUES (?1, ?2)", -1, &meta, nullptr) ==
                   SQLITE_OK;
    const std::pair<QByteArray, QByteArray> rows[] = {{"name", "test"},
                                                      {"format", "png"},
                                                      {"attribution", attribution.toUtf8()},
                                                      {"maxzoom", QByteArray::number(z)}};
    for (const auto &r : rows) {
        sqlite3_reset(meta);
        sqlite3_bind_text(meta, 1, r.first.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(meta, 2, r.second.constData(), -1, SQLITE_TRANSIENT);
        ok = ok && sqlite3_step(meta) == SQLITE_DONE;
    }
    sqlite3_finalize(meta);
    sqlite3_stmt *ins = nullptr;
    ok = ok && sqlite3_prepare_v2(db, "INSERT INTO tiles VALUES (?1, ?2, ?3, ?4)", -1, &ins,
                                  nullptr) == SQLITE_OK;
    for (int x = x0; ok && x <= x1; ++x)
        for (int y = y0; ok && y <= y1; ++y) {
            if (skip != nullptr && *skip == map::TileKey{z, x, y}) continue;
            QByteArray png;
            QBuffer buf(&png);
            buf.open(QIODevice::WriteOnly);
            DrawTile({z, x, y}).save(&buf, "PNG");
            sqlite3_reset(ins);
            sqlite3_bind_int(ins, 1, z);
            sqlite3_bind_int(ins, 2, x);
            sqlite3_bind_int(ins, 3, map::FlipRow(z, y));  // rows count from the south
            sqlite3_bind_blob(ins, 4, png.constData(), static_cast<int>(png.size()),
                              SQLITE_TRANSIENT);
            ok = sqlite3_step(ins) == SQLITE_DONE;
        }
    sqlite3_finalize(ins);
    ok = ok && sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

std::shared_ptr<map::Trip> LineTrip(double lat, double lon, int n, double step_m) {
    auto trip = std::make_shared<map::Trip>();
    const double dlon = step_m / (6371008.8 * std::cos(lat * M_PI / 180.0)) * 180.0 / M_PI;
    for (int i = 0; i < n; ++i) {
        map::TrackPoint p;
        p.trip_ms = i * 100;
        p.has_fix = true;
        p.lat = lat;
        p.lon = lon + i * dlon;
        p.speed_kmh = step_m * 36;
        p.g = 0.05;
        p.breaks_line = i == 0;
        trip->points.push_back(p);
    }
    trip->files.push_back({QStringLiteral("/x/20261108_083000.mp4"),
                           QStringLiteral("20261108_083000.mp4"), 0,
                           static_cast<int64_t>(n) * 100});
    trip->duration_ms = static_cast<int64_t>(n) * 100;
    trip->max_speed_kmh = step_m * 36;
    trip->distance_m = (n - 1) * step_m;
    trip->max_g = 0.05;
    trip->has_start = true;
    trip->start = {2026, 11, 8, 8, 30, 0};
    return trip;
}

}  // namespace vt::test
