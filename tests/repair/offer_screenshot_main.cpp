// A PNG of the repair offer as the window shows it: offer_screenshot OUT.png
#include <QApplication>
#include <QMessageBox>
#include <QPixmap>
#include <QTimer>

#include "app/repair/repairoffer.h"

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    if (argc < 2) return 2;
    QMessageBox box(QMessageBox::Question, QStringLiteral("Vantrec Player"),
                    QString::fromLatin1(vt::app::kRepairQuestion),
                    QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::Yes);
    box.show();
    QTimer::singleShot(500, [&] {
        box.grab().save(QString::fromLocal8Bit(argv[1]));
        app.quit();
    });
    return app.exec();
}
