#pragma once
// Where the map's background pictures come from: an XYZ tile server over HTTP (with a disk cache)
// or an MBTiles file. A source answers every request exactly once, with tileReady or tileFailed,
// always later from the event loop, never from inside Request. User-interface thread only.
#include <QHash>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QString>
#include <deque>
#include <memory>

#include "app/map/mercator.h"

class QNetworkAccessManager;
class QNetworkDiskCache;
class QNetworkReply;
struct sqlite3;

namespace vt::map {

inline size_t qHash(const TileKey &k, size_t seed = 0) {
    return ::qHash((static_cast<quint64>(k.z) << 48) ^ (static_cast<quint64>(k.x) << 24) ^
                       static_cast<quint64>(k.y),
                   seed);
}

class CTileSource : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CTileSource)

public:
    using QObject::QObject;
    // Asks for a tile; repeated requests for a tile still on its way are merged.
    virtual void Request(const TileKey &key) = 0;
    // Drops requests that have not gone out yet (the view moved on).
    virtual void CancelPending() {}
    // Text to draw over the map while its tiles show.
    virtual QString Attribution() const = 0;
    virtual int MaxZoom() const { return kMaxZoom; }

signals:
    void tileReady(vt::map::TileKey key, QImage image);
    void tileFailed(vt::map::TileKey key);
};

// Tiles from a URL template such as "http://127.0.0.1:8080/{z}/{x}/{y}.png". Downloads are kept
// in a QNetworkDiskCache and read from it first; at most two requests are in flight.
class CXyzTileSource final : public CTileSource {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CXyzTileSource)

public:
    CXyzTileSource(const QString &url_template, const QString &cache_dir,
                   QObject *parent = nullptr);
    ~CXyzTileSource() override;

    void Request(const TileKey &key) override;
    void CancelPending() override;
    QString Attribution() const override;
    void SetAttribution(const QString &text) { m_attribution = text; }
    // A request that has not finished after this long fails (default 15 s).
    void SetTransferTimeout(int ms) { m_timeout_ms = ms; }

    static constexpr int kMaxConnections = 2;
    QString UrlFor(const TileKey &key) const;
    int NetworkRequests() const { return m_network_requests; }
    int CacheHits() const { return m_cache_hits; }

private:
    void StartNext();
    void Finished(QNetworkReply *reply, const TileKey &key);

    QString m_template;
    QString m_attribution;
    QNetworkAccessManager *m_net = nullptr;
    QNetworkDiskCache *m_cache = nullptr;
    std::deque<TileKey> m_queue;
    QSet<TileKey> m_wanted;  // queued or in flight
    int m_in_flight = 0;
    int m_timeout_ms = 15000;
    int m_network_requests = 0;
    int m_cache_hits = 0;
};

// Tiles from an MBTiles file (SQLite; rows are counted from the south, as in TMS).
class CMbtilesSource final : public CTileSource {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CMbtilesSource)

public:
    explicit CMbtilesSource(QObject *parent = nullptr);
    ~CMbtilesSource() override;

    // Opens the file read-only; false with a message when it is not an MBTiles file.
    bool Open(const QString &path, QString *error);
    void Request(const TileKey &key) override;
    QString Attribution() const override { return m_attribution; }
    int MaxZoom() const override { return m_max_zoom; }

private:
    void Answer();

    sqlite3 *m_db = nullptr;
    QString m_attribution;
    int m_max_zoom = kMaxZoom;
    std::deque<TileKey> m_queue;
    bool m_answer_posted = false;
};

// The source the settings ask for: the MBTiles file when it opens, else the tile URL, else none.
std::unique_ptr<CTileSource> MakeTileSource(const QString &mbtiles, const QString &tile_url,
                                            const QString &cache_dir, QString *error);

}  // namespace vt::map
