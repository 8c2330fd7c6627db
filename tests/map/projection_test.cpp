// Web Mercator at points whose tiles and scales are known.
#include <gtest/gtest.h>

#include <cmath>

#include "app/map/mercator.h"

namespace vt::map {
namespace {

TEST(Projection, KnownPointsLandOnTheirTiles) {
    struct Case {
        double lat, lon;
        int zoom;
        double wx, wy;  // world pixels
        int tx, ty;
    };
    const Case cases[] = {
        {0, 0, 0, 128, 128, 0, 0},
        {0, 0, 1, 256, 256, 1, 1},
        {52.52, 13.405, 10, 550.1297778 * 256, 335.8260847 * 256, 550, 335},         // Berlin
        {-33.8568, 151.2153, 12, 3768.49408 * 256, 2457.8134381 * 256, 3768, 2457},  // Sydney
        {kMaxLatitude, -180, 4, 0, 0, 0, 0},
        {-kMaxLatitude, 0, 4, 2048, 4096, 8, 15},  // the bottom edge belongs to the last row
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.lat << "," << c.lon << " z" << c.zoom);
        const WorldPoint w = Project({c.lat, c.lon}, c.zoom);
        EXPECT_NEAR(w.x, c.wx, 1e-3);
        EXPECT_NEAR(w.y, c.wy, 1e-3);
        const TileKey t = TileAt(w, c.zoom);
        EXPECT_EQ(t.x, c.tx);
        EXPECT_EQ(t.y, c.ty);
    }
}

TEST(Projection, PolesClampAndTheAntimeridianWraps) {
    EXPECT_NEAR(Project({89.9, 0}, 3).y, 0.0, 1e-6);
    EXPECT_NEAR(Project({-90, 0}, 3).y, WorldSize(3), 1e-6);
    EXPECT_EQ(TileAt(Project({-90, 0}, 3), 3).y, 7);
    EXPECT_EQ(TileAt(Project({10, 180}, 3), 3).x, 0);
    EXPECT_EQ(TileAt({-1, 100}, 3).x, 7);
}

TEST(Projection, UnprojectIsTheInverse) {
    const LatLon points[] = {
        {0, 0}, {46.948, 7.4474}, {-34.6037, -58.3816}, {80, 179.9}, {-80, -179.9}};
    for (const LatLon &p : points)
        for (int z : {0, 5, 12, 19}) {
            const LatLon back = Unproject(Project(p, z), z);
            EXPECT_NEAR(back.lat, p.lat, 1e-9);
            EXPECT_NEAR(back.lon, p.lon, 1e-9);
        }
    const WorldPoint w = Rescale(Project({46.948, 7.4474}, 10), 10, 14);
    const WorldPoint direct = Project({46.948, 7.4474}, 14);
    EXPECT_NEAR(w.x, direct.x, 1e-6);
    EXPECT_NEAR(w.y, direct.y, 1e-6);
}

TEST(Projection, MbtilesRowsCountFromTheSouth) {
    EXPECT_EQ(FlipRow(0, 0), 0);
    EXPECT_EQ(FlipRow(3, 0), 7);
    EXPECT_EQ(FlipRow(3, 7), 0);
    EXPECT_EQ(FlipRow(12, 2457), 1638);
}

TEST(ScaleBar, GroundScaleAndRoundLengths) {
    // 2 pi R / 256 at the equator, half of it at 60 degrees.
    EXPECT_NEAR(MetresPerPixel(0, 0), 156543.03392804097, 1e-6);
    EXPECT_NEAR(MetresPerPixel(60, 0), 156543.03392804097 / 2, 1e-6);
    EXPECT_NEAR(MetresPerPixel(0, 10), 152.8740565703525, 1e-9);

    struct Case {
        double mpp;
        int max_px;
        double metres, px;
    };
    const Case cases[] = {
        {1.0, 120, 100, 100},      {0.3, 120, 20, 66.6667}, {10, 120, 1000, 100},
        {4.2, 120, 500, 119.0476}, {1.0, 99, 50, 50},       {152.874, 120, 10000, 65.4133},
    };
    for (const Case &c : cases) {
        double px = 0;
        EXPECT_DOUBLE_EQ(NiceScaleLength(c.mpp, c.max_px, &px), c.metres) << c.mpp;
        EXPECT_NEAR(px, c.px, 1e-3);
        EXPECT_LE(px, c.max_px);
    }
}

}  // namespace
}  // namespace vt::map
