#pragma once
// Printing the picture on screen: the video display writes it as capture.jpg (beside the program,
// or in the user's cache folder when installed), the print step turns that into print.bmp and
// prints one page on the default printer with the recording's name, the time of printing and the
// camera's model name. UI thread only.
#include <QDateTime>
#include <QString>
#include <functional>

class QColor;
class QPainter;

namespace vt::app {

class CPlayerDlg;

inline constexpr char kPrintDocumentName[] = "CDC::StartDoc() Code Fragment";
inline constexpr char kPrintModelName[] = "ZRD-X2500";
inline constexpr char kMsgInstallPrinter[] = "Install a printer!";
inline constexpr char kMsgPrinterInit[] = "Printer would not initalize";
inline constexpr char kMsgStartPage[] = "Could not start page";
inline constexpr char kMsgNoCapture[] = "No Capture File";
inline constexpr int kPrintResolution = 600;  // dpi of the page's device pixels

using PrintMessageSink = std::function<void(const QString &text)>;

// The print button of the main window. Stopped (neither playing nor paused) it only clears the
// two files; otherwise it pauses, captures, converts and prints, and the player stays paused.
// Takes about 600 ms plus the hand-over of the job to the print system; the window keeps
// painting meanwhile but takes no input.
void PrintCurrentFrame(CPlayerDlg *dlg, const PrintMessageSink &show_message);

// Reads the JPEG and writes it again as a 24-bit BMP. True when the BMP was written.
bool ConvertCaptureToBmp(const QString &jpeg, const QString &bmp);

// The time of printing as the page shows it: "YYYY/MM/DD  hh:mm:ss".
QString PrintTimeText(const QDateTime &local);

// Draws the page on a painter open on a page of width x height device pixels: the recording's
// name, the time, two bars of `bar` colour and the picture of `bmp` stretched between them, and
// the model name in blue. False when the BMP cannot be loaded; the page is then unfinished (only
// the texts and the first bar are on it) and is to be thrown away.
bool DrawPrintPage(QPainter *p, int width, int height, const QString &recording,
                   const QDateTime &now, const QString &bmp, const QColor &bar);

}  // namespace vt::app
