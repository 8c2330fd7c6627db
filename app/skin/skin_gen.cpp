// Writes every bitmap of the skin to OUTDIR as PNG files named after their ids.
#include <QDir>
#include <QGuiApplication>
#include <cstdio>

#include "app/skin/artwork.h"

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: vantrec-skin-gen OUTDIR\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.exists() && !QDir().mkpath(out.path())) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 2;
    }
    for (int id : vt::app::skin::AllIds()) {
        const QString file = out.filePath(vt::app::skin::Name(id) + QStringLiteral(".png"));
        if (!vt::app::skin::Render(id).save(file)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return 2;
        }
    }
    return 0;
}
