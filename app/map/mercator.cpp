#include "app/map/mercator.h"

#include <algorithm>
#include <cmath>

namespace vt::map {

double WorldSize(int zoom) { return std::ldexp(double{kTileSize}, zoom); }

WorldPoint Project(LatLon p, int zoom) {
    const double size = WorldSize(zoom);
    const double lat = std::clamp(p.lat, -kMaxLatitude, kMaxLatitude) * M_PI / 180.0;
    WorldPoint w;
    w.x = (p.lon + 180.0) / 360.0 * size;
    w.y = (1.0 - std::asinh(std::tan(lat)) / M_PI) / 2.0 * size;
    return w;
}

LatLon Unproject(WorldPoint w, int zoom) {
    const double size = WorldSize(zoom);
    LatLon p;
    p.lon = w.x / size * 360.0 - 180.0;
    p.lat = std::atan(std::sinh(M_PI * (1.0 - 2.0 * w.y / size))) * 180.0 / M_PI;
    return p;
}

WorldPoint Rescale(WorldPoint w, int from_zoom, int to_zoom) {
    const double f = std::ldexp(1.0, to_zoom - from_zoom);
    return {w.x * f, w.y * f};
}

TileKey TileAt(WorldPoint w, int zoom) {
    const int n = 1 << zoom;
    int x = static_cast<int>(std::floor(w.x / kTileSize));
    int y = static_cast<int>(std::floor(w.y / kTileSize));
    x = ((x % n) + n) % n;
    y = std::clamp(y, 0, n - 1);
    return {zoom, x, y};
}

int FlipRow(int z, int y) { return (1 << z) - 1 - y; }

double MetresPerPixel(double lat, int zoom) {
    const double c = std::cos(std::clamp(lat, -kMaxLatitude, kMaxLatitude) * M_PI / 180.0);
    return c * 2.0 * M_PI * kEarthRadiusM / WorldSize(zoom);
}

double NiceScaleLength(double metres_per_px, int max_px, double *px) {
    const double longest = metres_per_px * max_px;
    double step = std::pow(10.0, std::floor(std::log10(longest)));
    double best = step;
    for (double f : {2.0, 5.0, 10.0})
        if (step * f <= longest) best = step * f;
    if (px != nullptr) *px = best / metres_per_px;
    return best;
}

}  // namespace vt::map
