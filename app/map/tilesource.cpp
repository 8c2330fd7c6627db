#include "app/map/tilesource.h"

#include <sqlite3.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkDiskCache>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace vt::map {
namespace {

QByteArray UserAgent() {
    QString version = QCoreApplication::applicationVersion();
    if (version.isEmpty()) version = QStringLiteral("0.1");
    return QStringLiteral("vantrec-player/%1 (offline dash-cam viewer)").arg(version).toUtf8();
}

constexpr qint64 kTileCacheBytes = 256LL * 1024 * 1024;

}  // namespace

// ---- XYZ over HTTP ----------------------------------------------------------------------------

CXyzTileSource::CXyzTileSource(const QString &url_template, const QString &cache_dir,
                               QObject *parent)
    : CTileSource(parent), m_template(url_template), m_net(new QNetworkAccessManager(this)) {
    if (!cache_dir.isEmpty()) {
        QDir().mkpath(cache_dir);
        m_cache = new QNetworkDiskCache(this);
        m_cache->setCacheDirectory(cache_dir);
        m_cache->setMaximumCacheSize(kTileCacheBytes);
        m_net->setCache(m_cache);
    }
    m_attribution = QStringLiteral("Tiles: %1").arg(QUrl(url_template).host());
}

CXyzTileSource::~CXyzTileSource() = default;

QString CXyzTileSource::Attribution() const { return m_attribution; }

QString CXyzTileSource::UrlFor(const TileKey &key) const {
    QString url = m_template;
    url.replace(QStringLiteral("{z}"), QString::number(key.z));
    url.replace(QStringLiteral("{x}"), QString::number(key.x));
    url.replace(QStringLiteral("{y}"), QString::number(key.y));
    return url;
}

void CXyzTileSource::Request(const TileKey &key) {
    if (m_wanted.contains(key)) return;
    m_wanted.insert(key);
    m_queue.push_back(key);
    // Go out from the event loop, so a burst of requests from one repaint is queued first.
    QTimer::singleShot(0, this, &CXyzTileSource::StartNext);
}

void CXyzTileSource::CancelPending() {
    for (const TileKey &k : m_queue) m_wanted.remove(k);
    m_queue.clear();
}

void CXyzTileSource::StartNext() {
    while (m_in_flight < kMaxConnections && !m_queue.empty()) {
        const TileKey key = m_queue.front();
        m_queue.pop_front();
        const QUrl url(UrlFor(key));
        // A tile we already have is used as it is: an offline viewer prefers a stale picture to
        // none, and a second look at a trip costs the server nothing.
        if (m_cache != nullptr) {
            std::unique_ptr<QIODevice> cached(m_cache->data(url));
            QImage image;
            if (cached && image.load(cached.get(), nullptr)) {
                ++m_cache_hits;
                m_wanted.remove(key);
                QTimer::singleShot(0, this, [this, key, image] { emit tileReady(key, image); });
                continue;
            }
        }
        QNetworkRequest req(url);
        req.setHeader(QNetworkRequest::UserAgentHeader, UserAgent());
        req.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::PreferNetwork);
        req.setAttribute(QNetworkRequest::CacheSaveControlAttribute, true);
        req.setTransferTimeout(m_timeout_ms);
        ++m_in_flight;
        ++m_network_requests;
        QNetworkReply *reply = m_net->get(req);
        connect(reply, &QNetworkReply::finished, this,
                [this, reply, key] { Finished(reply, key); });
    }
}

void CXyzTileSource::Finished(QNetworkReply *reply, const TileKey &key) {
    reply->deleteLater();
    --m_in_flight;
    m_wanted.remove(key);
    QImage image;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() == QNetworkReply::NoError && status == 200 &&
        image.loadFromData(reply->readAll())) {
        emit tileReady(key, image);
    } else {
        if (m_cache != nullptr)
            m_cache->remove(reply->url());  // never keep an error page as a tile
        emit tileFailed(key);
    }
    StartNext();
}

// ---- MBTiles ----------------------------------------------------------------------------------

CMbtilesSource::CMbtilesSource(QObject *parent) : CTileSource(parent) {}

CMbtilesSource::~CMbtilesSource() { sqlite3_close(m_db); }

bool CMbtilesSource::Open(const QString &path, QString *error) {
    sqlite3_close(m_db);
    m_db = nullptr;
    if (!QFileInfo(path).isFile()) {
        *error = QStringLiteral("The MBTiles file %1 does not exist.").arg(path);
        return false;
    }
    const QByteArray p = QFile::encodeName(path);
    if (sqlite3_open_v2(p.constData(), &m_db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        *error = QStringLiteral("The MBTiles file %1 cannot be opened.").arg(path);
        sqlite3_close(m_db);
        m_db = nullptr;
        return false;
    }
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(m_db, "SELECT name, value FROM metadata", -1, &st, nullptr) ==
        SQLITE_OK) {
        while (sqlite3_step(st) == SQLITE_ROW) {
            const QString name =
                QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)));
            const QString value =
                QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, 1)));
            if (name == QStringLiteral("attribution")) m_attribution = value;
            if (name == QStringLiteral("maxzoom")) {
                bool ok = false;
                const int z = value.toInt(&ok);
                if (ok && z >= kMinZoom && z <= kMaxZoom) m_max_zoom = z;
            }
        }
    }
    sqlite3_finalize(st);
    st = nullptr;
    // The tiles table (or view) is what makes it an MBTiles file.
    const int rc = sqlite3_prepare_v2(
        m_db, "SELECT zoom_level, tile_column, tile_row, tile_data FROM tiles LIMIT 1", -1, &st,
        nullptr);
    sqlite3_finalize(st);
    if (rc != SQLITE_OK) {
        *error = QStringLiteral("%1 is not an MBTiles file.").arg(path);
        sqlite3_close(m_db);
        m_db = nullptr;
        return false;
    }
    if (m_attribution.isEmpty()) m_attribution = QFileInfo(path).completeBaseName();
    return true;
}

void CMbtilesSource::Request(const TileKey &key) {
    m_queue.push_back(key);
    if (!m_answer_posted) {
        m_answer_posted = true;
        QTimer::singleShot(0, this, &CMbtilesSource::Answer);
    }
}

void CMbtilesSource::Answer() {
    m_answer_posted = false;
    std::deque<TileKey> batch;
    batch.swap(m_queue);
    sqlite3_stmt *st = nullptr;
    if (m_db != nullptr)
        sqlite3_prepare_v2(
            m_db,
            "SELECT tile_data FROM tiles WHERE zoom_level=?1 AND tile_column=?2 AND tile_row=?3",
            -1, &st, nullptr);
    for (const TileKey &key : batch) {
        QImage image;
        if (st != nullptr) {
            sqlite3_reset(st);
            sqlite3_bind_int(st, 1, key.z);
            sqlite3_bind_int(st, 2, key.x);
            sqlite3_bind_int(st, 3, FlipRow(key.z, key.y));
            if (sqlite3_step(st) == SQLITE_ROW) {
                const void *blob = sqlite3_column_blob(st, 0);
                const int n = sqlite3_column_bytes(st, 0);
                if (blob != nullptr && n > 0)
                    image.loadFromData(static_cast<const uchar *>(blob), n);
            }
        }
        if (image.isNull()) emit tileFailed(key);
        else emit tileReady(key, image);
    }
    sqlite3_finalize(st);
}

std::unique_ptr<CTileSource> MakeTileSource(const QString &mbtiles, const QString &tile_url,
                                            const QString &cache_dir, QString *error) {
    if (!mbtiles.isEmpty()) {
        auto src = std::make_unique<CMbtilesSource>();
        if (src->Open(mbtiles, error)) return src;
    }
    if (!tile_url.isEmpty()) {
        const QUrl url(tile_url);
        const bool usable =
            url.isValid() &&
            (url.scheme() == QStringLiteral("http") || url.scheme() == QStringLiteral("https")) &&
            tile_url.contains(QStringLiteral("{z}")) && tile_url.contains(QStringLiteral("{x}")) &&
            tile_url.contains(QStringLiteral("{y}"));
        if (usable) return std::make_unique<CXyzTileSource>(tile_url, cache_dir);
        if (error->isEmpty())
            *error = QStringLiteral("The tile URL %1 is not an XYZ template.").arg(tile_url);
    }
    return nullptr;
}

}  // namespace vt::map
