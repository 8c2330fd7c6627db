#pragma once
// Arithmetic of the G-sensor panel: the points of the three curves, the time cursor's column and
// the readout texts. No drawing happens here; the window paints what these functions return.
// UI thread only.
#include <cstdint>
#include <string>
#include <vector>

#include "drivedata/sensordata.h"

namespace vt::drivedata {

// Panel geometry in window coordinates and the image's own coordinates.
inline constexpr int kGraphLeft = 55, kGraphTop = 522, kGraphRight = 652;
inline constexpr int kGraphImageWidth = kGraphRight - kGraphLeft;  // 597
inline constexpr int kGraphZeroY = 54;
inline constexpr int kGridLineY[5] = {10, 34, 54, 76, 98};
inline constexpr int kGridLineX0 = 0, kGridLineX1 = 595;
inline constexpr int kCursorTopY = 524, kCursorBottomY = 627;
inline constexpr int kCursorPastEndX = 650;
// Curves are clamped to this many raw units either side of zero and scaled 7 units per pixel.
inline constexpr int kCurveClamp = 280;
inline constexpr int kUnitsPerPixel = 7;

struct Rgb {
    uint8_t r, g, b;
};
inline constexpr Rgb kGraphBackground{42, 42, 42};
inline constexpr Rgb kGraphGrid{64, 64, 64};
inline constexpr Rgb kCurveColour[3] = {{255, 0, 0}, {255, 255, 0}, {0, 255, 0}};  // X, Y, Z
inline constexpr Rgb kCursorColour{255, 255, 255};
inline constexpr int kPenWidth = 2;
// Curves are drawn in this order, so X ends up on top.
inline constexpr Axis kCurveDrawOrder[3] = {kAxisZ, kAxisY, kAxisX};

struct GraphPoint {
    int x, y;
};

// Each curve starts at (0, kGraphZeroY) and joins its points in order.
struct GraphCurves {
    std::vector<GraphPoint> points[3];  // indexed by Axis
};

enum class GraphResult {
    kCurves,      // curves computed: draw them, copy the image, mark it cached, report true
    kEmptyGrid,   // no sensor data: copy the bare grid, mark it cached, report false
    kNoDuration,  // shorter than one second: nothing copied, not cached, report false
    kBadOffset,   // a slot's chunk offset is not positive: nothing copied, not cached, false
};

// The curves of the open recording for a player-reported duration. Slots past the chunk-offset
// table, and slots whose record lies outside the loaded data, sit on the zero line.
GraphResult ComputeGraphCurves(const SensorData *sd, int64_t duration_ms, GraphCurves *out);

// Column of the time cursor, or false when no cursor is drawn (no data, or under one second).
bool TimeCursorX(const SensorData *sd, int64_t duration_ms, uint32_t position_ms, int *x);

// "1.00G", "-0.03G": raw 1/128 G units as the readouts show them.
std::string FormatGReadout(int16_t raw);

// The three readout texts (X, Y, Z) as the window currently shows them.
struct ReadoutTexts {
    std::string text[3];
};

// Brings the readouts up to the slot of position_ms. `seconds` is the caller's whole-seconds
// value of the position. Leaves sd->readouts_frozen set when the update ends early (no player,
// no data, a seconds value past the duration, a bad chunk offset); the position refresh skips
// updates while it is set, the updates at open and repaint run regardless. A slot past the table,
// or whose record lies outside the loaded data, shows "0G" on all three.
void UpdateReadouts(SensorData *sd, bool player_exists, int64_t duration_ms, int64_t seconds,
                    uint64_t position_ms, ReadoutTexts *texts);

}  // namespace vt::drivedata
