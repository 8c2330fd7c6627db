// Starts the main window on a folder, lets the first recording play for a while and saves what
// the screen shows of the window as a PNG. Run under a real X server (xvfb-run) to see the look.
//   app_screenshot FOLDER OUT.png [SECONDS]
#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QScreen>
#include <QThread>
#include <cstdio>
#include <cstdlib>

#include "app/playercontrol.h"
#include "app/playerdlg.h"
#include "app/videowindow.h"

// Libraries that keep their state until the process ends (fonts, audio, the X connection).
extern "C" const char *__lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libSDL2-2.0.so\nleak:libxcb\nleak:libX11\nleak:libdbus\n";
}

int main(int argc, char **argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: app_screenshot FOLDER OUT.png [SECONDS]\n");
        return 2;
    }
    QApplication app(argc, argv);
    const double seconds = argc > 3 ? std::atof(argv[3]) : 4.0;
    int result = 0;
    {
        vt::app::CPlayerDlg dlg;
        dlg.SetMessageSink(
            [](const QString &text) { std::fprintf(stderr, "message: %s\n", qPrintable(text)); });
        dlg.show();
        dlg.move(0, 0);
        QApplication::processEvents();
        QElapsedTimer timer;
        timer.start();
        dlg.OpenFolder(QString::fromLocal8Bit(argv[1]));
        const qint64 listed_ms = timer.elapsed();
        qint64 first_picture_ms = -1;
        while (timer.elapsed() < static_cast<qint64>(seconds * 1000)) {
            QApplication::processEvents(QEventLoop::AllEvents, 20);
            if (first_picture_ms < 0 && dlg.VideoWindow()->PicturesShown() > 0)
                first_picture_ms = timer.elapsed();
            QThread::msleep(5);
        }
        std::fprintf(stderr, "listed_and_opened_ms=%lld first_picture_ms=%lld\n",
                     static_cast<long long>(listed_ms), static_cast<long long>(first_picture_ms));
        dlg.repaint();
        QApplication::processEvents();
        QPixmap shot = dlg.screen()->grabWindow(0, dlg.x(), dlg.y(), dlg.width(), dlg.height());
        if (shot.isNull()) shot = dlg.grab();
        if (!shot.save(QString::fromLocal8Bit(argv[2]))) {
            std::fprintf(stderr, "cannot write %s\n", argv[2]);
            result = 2;
        }
        // The run is only worth keeping when a recording actually played.
        if (result == 0 && (!dlg.Loaded() || dlg.VideoWindow()->PicturesShown() == 0)) result = 3;
        std::fprintf(stderr, "loaded=%d state=%d position=%d duration=%d pictures=%d\n",
                     dlg.Loaded(), dlg.LastKnownState(),
                     dlg.Player() ? dlg.Player()->GetPosition() : -1, dlg.Duration(),
                     dlg.VideoWindow()->PicturesShown());
    }
    vt::app::CPlayerControl::Release();
    return result;
}
