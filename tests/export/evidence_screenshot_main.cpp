// A PNG of the Export clip dialog over the sample drive, for review under xvfb-run:
//   evidence_screenshot SAMPLES_DIR OUT.png
#include <QApplication>
#include <QDir>
#include <QTimer>

#include "app/export/evidence.h"

int main(int argc, char **argv) {
    if (argc < 3) return 2;
    QApplication app(argc, argv);
    vt::app::evidence::CExportDlg dlg(
        {QDir(QString::fromLocal8Bit(argv[1])).filePath(QStringLiteral("20261108_083015.mp4")),
         4200});
    dlg.show();
    const QString out = QString::fromLocal8Bit(argv[2]);
    QTimer::singleShot(500, [&] {
        dlg.grab().save(out);
        app.quit();
    });
    return app.exec();
}
