#pragma once
// The window's artwork. Every bitmap is drawn here with QPainter the first time it is asked for,
// so the skin is plain source code: no image files to keep in step with the layout. The ids are the
// resource numbers the window and its controls use to name their bitmaps.
#include <QImage>
#include <QList>
#include <QPixmap>
#include <QPoint>
#include <QRect>

namespace vt::app::skin {

// The main window's fixed size.
inline constexpr int kWindowWidth = 956;
inline constexpr int kWindowHeight = 716;

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

// Where each skinned button sits in the main window, the width of one frame of its strip and how
// many frames the strip has. The window places its buttons from this table and the artwork draws
// each strip from the window behind the same rectangle.
struct ButtonPlace {
    int strip;
    QRect rect;
    int frame_width;
    int frames;
};
inline constexpr ButtonPlace kButtonPlaces[] = {
    {kOpenStrip, {526, 654, 128, 51}, 128, 3},   {kPlayStrip, {140, 654, 129, 51}, 129, 6},
    {kStopStrip, {269, 654, 128, 51}, 128, 3},   {kForwardStrip, {397, 654, 129, 51}, 129, 3},
    {kRewindStrip, {12, 654, 128, 51}, 128, 3},  {kExitStrip, {925, 5, 22, 22}, 23, 3},
    {kMinimiseStrip, {900, 5, 22, 22}, 22, 3},   {kVolumeDownStrip, {661, 669, 26, 23}, 26, 3},
    {kVolumeUpStrip, {804, 661, 37, 37}, 37, 3}, {kSetupStrip, {913, 662, 35, 35}, 35, 3},
    {kPrintStrip, {866, 661, 43, 35}, 43, 3},
};
// The entry of a strip id; the first entry for an unknown id.
const ButtonPlace &ButtonPlaceOf(int strip);

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

// Where the window draws each panel, and the rectangle of the video window inside the frame.
struct PanelPlace {
    int id;
    QPoint at;
};
inline constexpr PanelPlace kPanelPlaces[] = {
    {kRightPanel, {653, 0}}, {kLeftPanel, {0, 0}},    {kBottomPanel, {0, 630}},
    {kTopPanel, {0, 0}},     {kVideoFrame, {13, 42}}, {kLegend, {13, 522}},
};
inline constexpr QRect kVideoRect{13, 42, 640, 480};

// The camera settings dialog: its background and its three button strips.
inline constexpr int kSetupBackground = 217;
inline constexpr int kSetupFolderStrip = 170;
inline constexpr int kSetupWriteStrip = 171;
inline constexpr int kSetupCloseStrip = 218;
inline constexpr int kSetupWidth = 495;
inline constexpr int kSetupHeight = 350;
// The settings dialog's three buttons, placed like the main window's (ButtonPlace below).
inline constexpr int kSetupButtonTop = 45;
inline constexpr int kSetupButtonWidth = 105;
inline constexpr int kSetupButtonHeight = 33;
inline constexpr int kSetupButtonLeft[3] = {90, 195, 300};  // folder, write, close
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
