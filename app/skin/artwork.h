#pragma once
// The window's artwork. Every bitmap is drawn here with QPainter the first time it is asked for,
// so the skin is plain source code: no image files to keep in step with the layout. The ids are the
// resource numbers the window and its controls use to name their bitmaps.
#include <QImage>
#include <QList>
#include <QPixmap>

namespace vt::app::skin {

// Button strips: frames side by side, 0 normal, 1 hover, 2 pressed (3-5 the alternate set).
inline constexpr int kPlayStrip = 129;
inline constexpr int kOpenStrip = 133;
inline constexpr int kStopStrip = 134;
inline constexpr int kForwardStrip = 135;
inline constexpr int kRewindStrip = 136;
inline constexpr int kExitStrip = 137;
inline constexpr int kVolumeDownStrip = 139;
inline constexpr int kVolumeUpStrip = 140;
inline constexpr int kMinimiseStrip = 189;
inline constexpr int kSetupStrip = 201;
inline constexpr int kPrintStrip = 222;

// Slider channels: the plain channel and the part up to the value.
inline constexpr int kSeekChannel = 141;
inline constexpr int kSeekActive = 175;
inline constexpr int kVolumeActive = 143;
inline constexpr int kVolumeChannel = 144;

// Static pictures and panels.
inline constexpr int kVideoFrame = 145;
inline constexpr int kLegend = 221;
inline constexpr int kTopPanel = 158;
inline constexpr int kLeftPanel = 155;
inline constexpr int kBottomPanel = 174;
inline constexpr int kRightPanel = 156;
inline constexpr int kAppIcon = 128;

// The drawn bitmap of an id; a null image for an unknown id.
QImage Render(int id);
// The same as a pixmap, drawn once per process and kept (UI thread only).
QPixmap Bitmap(int id);
// Every id Render knows, for the generator tool and the tests.
QList<int> AllIds();
// A file-name stem for an id ("play_129").
QString Name(int id);

}  // namespace vt::app::skin
