// Shows the camera settings dialog over the main window, reading a settings folder, with the clock
// box ticked, and saves what the screen shows of the dialog as a PNG. Run under a real X server
// (xvfb-run) to see the look.
//   app_setup_screenshot OUT.png [SETTINGS_FOLDER]
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>

#include "app/playercontrol.h"
#include "app/playerdlg.h"
#include "app/setupdlg.h"

// Libraries that keep their state until the process ends (fonts, audio, the X connection).
extern "C" const char *__lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libSDL2-2.0.so\nleak:libxcb\nleak:libX11\nleak:libdbus\n";
}

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: app_setup_screenshot OUT.png [SETTINGS_FOLDER]\n");
        return 2;
    }
    QApplication app(argc, argv);
    QTemporaryDir program;
    int result = 0;
    {
        vt::app::CPlayerDlg main(nullptr, program.path());
        main.show();
        main.move(0, 0);
        vt::app::CCameraSetupDlg dlg(&main, program.path() + QStringLiteral("/opensetpath.dat"));
        const QString folder = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
        dlg.SetFolderChooser(
            [folder](QWidget *, const QString &, const QString &) { return folder; });
        dlg.SetMessageSink(
            [](const QString &text) { std::fprintf(stderr, "message: %s\n", qPrintable(text)); });
        dlg.show();
        dlg.move(main.x() + (main.width() - dlg.width()) / 2, main.y() + 160);
        QApplication::processEvents();
        if (!folder.isEmpty()) dlg.ChooseFolder();
        QTest::mouseClick(dlg.Control(vt::app::IDC_SET_CLOCK), Qt::LeftButton, {}, QPoint(9, 9));
        for (int i = 0; i < 20; ++i) {
            QApplication::processEvents(QEventLoop::AllEvents, 20);
            QTest::qWait(10);
        }
        QPixmap shot = dlg.screen()->grabWindow(0, dlg.x(), dlg.y(), dlg.width(), dlg.height());
        if (shot.isNull()) shot = dlg.grab();
        if (!shot.save(QString::fromLocal8Bit(argv[1]))) {
            std::fprintf(stderr, "cannot write %s\n", argv[1]);
            result = 2;
        }
    }
    vt::app::CPlayerControl::Release();
    return result;
}
