#pragma once
// What the map window takes from settings.ini and the environment, and where it keeps its tiles.
#include <QString>

namespace vt::map {

enum class SpeedUnit { kKmh, kMph };

struct MapSettings {
    QString tile_url;  // XYZ template with {z}, {x}, {y}; empty: no online tiles
    QString mbtiles;   // path of an offline MBTiles file; empty: none
    SpeedUnit speed_unit = SpeedUnit::kKmh;
    double threshold_g = 1.0;
    QString tile_cache_dir;  // where downloaded tiles are kept
    QString settings_file;   // settings.ini, where the window also keeps its geometry
};

// The user's settings.ini (VANTREC_TILE_URL overriding [map] tile_url), with the tile cache in
// the tiles/ folder of the program's cache folder.
MapSettings LoadMapSettings();

// Speed in the chosen unit, and the unit's label.
double SpeedInUnit(double kmh, SpeedUnit unit);
QString SpeedUnitLabel(SpeedUnit unit);
// Distance: "850 m", "12.4 km" / "0.5 mi", "7.7 mi".
QString FormatDistance(double metres, SpeedUnit unit);

}  // namespace vt::map
