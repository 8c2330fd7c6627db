#include "app/map/mapsettings.h"

#include "app/userfiles/userfiles.h"

namespace vt::map {

MapSettings LoadMapSettings() {
    const userfiles::Settings user = userfiles::LoadSettings();
    MapSettings s;
    s.tile_url = user.tileUrl.trimmed();
    s.mbtiles = user.mbtiles.trimmed();
    s.speed_unit = user.speedMph ? SpeedUnit::kMph : SpeedUnit::kKmh;
    s.threshold_g = user.thresholdG;
    s.tile_cache_dir = userfiles::CacheDir() + QStringLiteral("/tiles");
    s.settings_file = userfiles::SettingsFile();
    return s;
}

double SpeedInUnit(double kmh, SpeedUnit unit) {
    return unit == SpeedUnit::kMph ? kmh / 1.609344 : kmh;
}

QString SpeedUnitLabel(SpeedUnit unit) {
    return unit == SpeedUnit::kMph ? QStringLiteral("mph") : QStringLiteral("km/h");
}

QString FormatDistance(double metres, SpeedUnit unit) {
    if (unit == SpeedUnit::kMph) {
        const double miles = metres / 1609.344;
        return miles < 10 ? QString::asprintf("%.1f mi", miles)
                          : QString::asprintf("%.0f mi", miles);
    }
    if (metres < 1000) return QString::asprintf("%.0f m", metres);
    return metres < 100000 ? QString::asprintf("%.1f km", metres / 1000)
                           : QString::asprintf("%.0f km", metres / 1000);
}

}  // namespace vt::map
