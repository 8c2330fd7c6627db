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

// The camera settings dialog: its background and its three button strips.
inline constexpr int kSetupBackground = 217;
inline constexpr int kSetupFolderStrip = 170;
inline constexpr int kSetupWriteStrip = 171;
inline constexpr int kSetupCloseStrip = 218;
inline constexpr int kSetupWidth = 495;
inline constexpr int kSetupHeight = 350;
// Where the settings dialog's controls sit, so that the labels drawn in its background line up
// with them: the radio rows (quality, frame, sound, sensitivity), the columns of codes 3, 2, 1,
// the clock check box and the six time edits.
inline constexpr int kSetupRowTop[4] = {104, 136, 168, 200};
inline constexpr int kSetupColumnLeft[3] = {164, 274, 384};
inline constexpr int kSetupIndicator = 18;  // radio and check box size
inline constexpr int kSetupClockTop = 244;
inline constexpr int kSetupEditTop = 274;
inline constexpr int kSetupEditHeight = 24;
inline constexpr int kSetupEditLeft[6] = {46, 116, 164, 232, 280, 328};
inline constexpr int kSetupEditWidth[6] = {56, 34, 34, 34, 34, 34};

// The drawn bitmap of an id; a null image for an unknown id.
QImage Render(int id);
// The same as a pixmap, drawn once per process and kept (UI thread only).
QPixmap Bitmap(int id);
// Every id Render knows, for the generator tool and the tests.
QList<int> AllIds();
// A file-name stem for an id ("play_129").
QString Name(int id);

}  // namespace vt::app::skin
