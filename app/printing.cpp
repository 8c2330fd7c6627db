#include "app/printing.h"

#include <QApplication>
#include <QColor>
#include <QFile>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QPrinter>
#include <QPrinterInfo>

#include "app/playercontrol.h"
#include "app/playerdlg.h"
#include "app/wait.h"
#include "imaging/imaging.h"

namespace vt::app {
namespace {

// The window keeps drawing itself (and the player's reports keep arriving) while printing waits
// for the engine; it only takes no input until the page is out.
void Pause(int ms, const std::function<bool()> &done = {}) {
    Wait(ms, WaitStyle::kResponsive, done);
}

// How much longer than the usual 300 ms a late capture is waited for.
constexpr int kLateCaptureMs = 2000;

// Text placed like the printer's own text output: (x, y) is the top-left of the text cell.
void TextAt(QPainter *p, int x, int y, const QString &text) {
    p->drawText(QPoint(x, y + QFontMetrics(p->font(), p->device()).ascent()), text);
}

}  // namespace

bool ConvertCaptureToBmp(const QString &jpeg, const QString &bmp) {
    ImageBgr img{};
    if (ImageReadJpeg(jpeg.toLocal8Bit().constData(), &img) == 0) return false;
    const bool ok = ImageWriteBmp(bmp.toLocal8Bit().constData(), img.bgr, img.width, img.height,
                                  img.stride) != 0;
    ImageFree(&img);
    return ok;
}

QString PrintTimeText(const QDateTime &local) {
    const QDate d = local.date();
    const QTime t = local.time();
    return QString::asprintf("%04d/%02d/%02d  %02d:%02d:%02d", d.year(), d.month(), d.day(),
                             t.hour(), t.minute(), t.second());
}

bool DrawPrintPage(QPainter *p, int width, int height, const QString &recording,
                   const QDateTime &now, const QString &bmp, const QColor &bar) {
    const QBrush previous = p->brush();
    p->setBrush(Qt::lightGray);
    p->setBackgroundMode(Qt::OpaqueMode);
    p->setBackground(Qt::white);
    p->setPen(Qt::black);
    TextAt(p, 60, 500, recording);
    TextAt(p, width - 1050, 500, PrintTimeText(now));
    p->fillRect(QRect(30, 650, width - 60, 15), bar);

    ImageBgr img{};
    if (ImageReadBmp(bmp.toLocal8Bit().constData(), &img) == 0) {
        p->setBrush(previous);
        return false;
    }
    const QImage picture(img.bgr, img.width, img.height, img.stride, QImage::Format_BGR888);
    const QRect target(500, 1200, width - 1000, height / 2 - 500);
    // A page too small for the layout leaves no room for the picture; an inverted rectangle
    // would otherwise mirror it.
    if (target.width() > 0 && target.height() > 0) {
        p->setRenderHint(QPainter::SmoothPixmapTransform);
        p->drawImage(target, picture);
    }
    ImageFree(&img);

    p->fillRect(QRect(30, height - 130, width - 60, 15), bar);
    p->setPen(QColor(0, 0, 255));
    TextAt(p, width - 570, height - 110, QString::fromLatin1(kPrintModelName));
    p->setBrush(previous);
    return true;
}

void PrintCurrentFrame(CPlayerDlg *dlg, const PrintMessageSink &show_message) {
    auto show = [&show_message](const char *text) {
        if (show_message) show_message(QString::fromLatin1(text));
    };
    const QString capture = dlg->CapturePath();
    const QString bmp = dlg->PrintPath();
    QFile::remove(capture);
    QFile::remove(bmp);
    Pause(200);

    if (CPlayerControl *player = dlg->Player()) {
        const int state = dlg->LastKnownState();
        if (state != kStatePlaying && state != kStatePaused) return;
        // Play/pause while playing pauses, waits 100 ms, re-reads the state and shows play.
        if (state == kStatePlaying) dlg->PlayPause();
        player->CaptureFrame(capture.toLocal8Bit().constData());
    }
    // The video task writes the capture when it next draws; nothing tells us when it has. It
    // normally has after 300 ms; on a busy machine it gets a little longer before the page goes
    // out without its picture.
    Pause(300);
    if (dlg->Player() != nullptr && !QFile::exists(capture)) {
        Pause(kLateCaptureMs, [&capture] { return QFile::exists(capture); });
        Pause(100);  // the file appears when the encoder starts writing it
    }
    ConvertCaptureToBmp(capture, bmp);

    const QPrinterInfo info = QPrinterInfo::defaultPrinter();
    if (info.isNull()) {
        show(kMsgInstallPrinter);
        return;
    }
    QPrinter printer(info, QPrinter::HighResolution);
    // The page's offsets are fixed pixel counts made for an ordinary 600 dpi office printer; at
    // the 1200 dpi Qt picks by default the texts would run off the page's right edge.
    printer.setResolution(kPrintResolution);
    printer.setDocName(QString::fromLatin1(kPrintDocumentName));
    printer.setFullPage(false);
    printer.setCopyCount(1);
    printer.setPrintRange(QPrinter::AllPages);
    QPainter p;
    if (!p.begin(&printer)) {
        show(kMsgPrinterInit);
        return;
    }
    if (printer.printerState() == QPrinter::Error) {
        printer.abort();
        p.end();
        show(kMsgStartPage);
        return;
    }
    const QColor bar = QApplication::palette().color(QPalette::Button);
    if (!DrawPrintPage(&p, printer.width(), printer.height(), dlg->CurrentPath(),
                       QDateTime::currentDateTime(), bmp, bar)) {
        printer.abort();
        p.end();
        show(kMsgNoCapture);
        return;
    }
    p.end();
}

}  // namespace vt::app
