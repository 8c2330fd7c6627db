// Plays the second sample recording, goes full screen and zooms in 2x, then saves the whole screen
// (the picture, the readouts, the position bar with the recording's event marks) and, after
// leaving full screen, the window with the marks on its seek bar and graph. Run under a real X
// server (xvfb-run) to see the look.
//   app_review_screenshot FOLDER FULL.png WINDOW.png
#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QScreen>
#include <QThread>
#include <cstdio>

#include "app/playercontrol.h"
#include "app/playerdlg.h"
#include "app/videowindow.h"

extern "C" const char *__lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libSDL2-2.0.so\nleak:libxcb\nleak:libX11\nleak:libdbus\n";
}

namespace {

void Run(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: app_review_screenshot FOLDER FULL.png WINDOW.png\n");
        return 2;
    }
    QApplication app(argc, argv);
    int result = 0;
    {
        vt::app::CPlayerDlg dlg;
        dlg.SetMessageSink(
            [](const QString &text) { std::fprintf(stderr, "message: %s\n", qPrintable(text)); });
        dlg.show();
        dlg.move(0, 0);
        QApplication::processEvents();
        dlg.OpenFolder(QString::fromLocal8Bit(argv[1]));
        Run(500);
        dlg.NextRecording();
        Run(2500);
        dlg.SetFullScreen(true);
        Run(300);
        dlg.ZoomPicture(1);
        dlg.ZoomPicture(1);
        dlg.ChangeSpeed(150);  // leaves the short-lived speed notice on the picture
        Run(400);
        QScreen *screen = dlg.VideoWindow()->screen();
        const QPixmap full = screen->grabWindow(0);
        if (full.isNull() || !full.save(QString::fromLocal8Bit(argv[2]))) result = 2;
        std::fprintf(stderr, "full screen=%d zoom=%.2f events=%lld position=%d pictures=%d\n",
                     dlg.IsFullScreen(), dlg.VideoWindow()->Zoom().Factor(),
                     static_cast<long long>(dlg.Events().size()),
                     dlg.Player() ? dlg.Player()->GetPosition() : -1,
                     dlg.VideoWindow()->PicturesShown());
        dlg.SetFullScreen(false);
        dlg.ChangeSpeed(100);
        Run(2000);
        dlg.repaint();
        QApplication::processEvents();
        QPixmap window = dlg.screen()->grabWindow(0, dlg.x(), dlg.y(), dlg.width(), dlg.height());
        if (window.isNull()) window = dlg.grab();
        if (!window.save(QString::fromLocal8Bit(argv[3]))) result = 2;
        if (result == 0 && (dlg.Events().isEmpty() || dlg.VideoWindow()->PicturesShown() == 0))
            result = 3;
    }
    vt::app::CPlayerControl::Release();
    return result;
}
