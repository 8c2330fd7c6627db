#pragma once
// Web Mercator arithmetic for the map: world pixels at a zoom level, tile numbers, ground scale.
// At zoom z the world is a square of 256 * 2^z pixels, x growing east from 180 W and y growing
// south from about 85.05 N. Pure functions, any thread.
#include <cstdint>

namespace vt::map {

inline constexpr int kTileSize = 256;
inline constexpr int kMinZoom = 0;
inline constexpr int kMaxZoom = 19;
// The latitude at which the square world ends: atan(sinh(pi)).
inline constexpr double kMaxLatitude = 85.0511287798066;
// Equatorial radius the projection is defined on.
inline constexpr double kEarthRadiusM = 6378137.0;

struct WorldPoint {
    double x = 0, y = 0;
};

struct LatLon {
    double lat = 0, lon = 0;
};

// Side of the world square at `zoom`, in pixels.
double WorldSize(int zoom);

// Latitudes beyond kMaxLatitude are clamped onto the world's edge.
WorldPoint Project(LatLon p, int zoom);
LatLon Unproject(WorldPoint w, int zoom);

// A world point at one zoom as seen at another.
WorldPoint Rescale(WorldPoint w, int from_zoom, int to_zoom);

struct TileKey {
    int z = 0, x = 0, y = 0;
    friend bool operator==(const TileKey &, const TileKey &) = default;
};

// The tile under a world point; x wraps around the antimeridian, y is clamped to the world.
TileKey TileAt(WorldPoint w, int zoom);
// The row number of the same tile counted from the south (the MBTiles convention).
int FlipRow(int z, int y);

// Metres on the ground per world pixel at a latitude.
double MetresPerPixel(double lat, int zoom);

// The longest "round" distance (1, 2 or 5 times a power of ten, in metres) that spans at most
// max_px pixels; its length in pixels goes to *px.
double NiceScaleLength(double metres_per_px, int max_px, double *px);

}  // namespace vt::map
