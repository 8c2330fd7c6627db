#include "app/map/mapsettings.h"

#include <QDir>
#include <QSettings>

namespace vt::map {
namespace {

QString XdgDir(const char *var, const QString &fallback_under_home) {
    const QByteArray v = qgetenv(var);
    // The base directory specification ignores relative values.
    if (!v.isEmpty() && QDir::isAbsolutePath(QString::fromLocal8Bit(v))) return QString::fromLocal8Bit(v);
    return QDir::homePath() + QLatin1Char('/') + fallback_under_home;
}

}  // namespace

MapSettings LoadMapSettings() {
    MapSettings s;
    s.settings_file = XdgDir("XDG_CONFIG_HOME", QStringLiteral(".config")) + QStringLiteral("/vantrec-player/settings.ini");
    s.tile_cache_dir = XdgDir("XDG_CACHE_HOME", QStringLiteral(".cache")) + QStringLiteral("/vantrec-player/tiles");
    QSettings ini(s.settings_file, QSettings::IniFormat);
    s.tile_url = ini.value(QStringLiteral("map/tile_url")).toString().trimmed();
    s.mbtiles = ini.value(QStringLiteral("map/mbtiles")).toString().trimmed();
    const QByteArray env = qgetenv("VANTREC_TILE_URL");
    if (!env.isNull()) s.tile_url = QString::fromUtf8(env).trimmed();
    s.speed_unit = ini.value(QStringLiteral("units/speed")).toString().trimmed().toLower() == QStringLiteral("mph")
                       ? SpeedUnit::kMph
                       : SpeedUnit::kKmh;
    bool ok = false;
    const double g = ini.value(QStringLiteral("events/threshold_g")).toDouble(&ok);
    if (ok && g > 0) s.threshold_g = g;
    return s;
}

double SpeedInUnit(double kmh, SpeedUnit unit) { return unit == SpeedUnit::kMph ? kmh / 1.609344 : kmh; }

QString SpeedUnitLabel(SpeedUnit unit) { return unit == SpeedUnit::kMph ? QStringLiteral("mph") : QStringLiteral("km/h"); }

QString FormatDistance(double metres, SpeedUnit unit) {
    if (unit == SpeedUnit::kMph) {
        const double miles = metres / 1609.344;
        return miles < 10 ? QString::asprintf("%.1f mi", miles) : QString::asprintf("%.0f mi", miles);
    }
    if (metres < 1000) return QString::asprintf("%.0f m", metres);
    return metres < 100000 ? QString::asprintf("%.1f km", metres / 1000) : QString::asprintf("%.0f km", metres / 1000);
}

}  // namespace vt::map
