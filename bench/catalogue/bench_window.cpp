// bench_window COUNT [SAMPLE]: the window on a folder of COUNT recordings (links to one sample):
// how long from choosing the folder to the first recording's first picture, to the trip headers,
// and the process's memory once the list is grouped. Run it with 3 and with 5000 and compare.
// Offscreen, with the SDL disk audio driver writing to /dev/null.
#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/playercontrol.h"
#include "app/playerdlg.h"
#include "app/skinlistbox.h"
#include "app/videowindow.h"
#include "bench/catalogue/folder.h"

namespace {

long RssKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

}  // namespace

int main(int argc, char **argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 5000;
    const std::string sample = argc > 2 ? argv[2] : VT_BENCH_SAMPLE;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("SDL_AUDIODRIVER", "disk", 0);
    setenv("SDL_DISKAUDIOFILE", "/dev/null", 0);
    const auto folder = vt::bench::MakeCardFolder(sample, count, 15, "window");
    QApplication app(argc, argv);
    {
        vt::app::CPlayerDlg dlg;
        dlg.SetMessageSink(
            [](const QString &text) { std::fprintf(stderr, "message: %s\n", qPrintable(text)); });
        dlg.show();
        QApplication::processEvents();
        const long rss_before = RssKb();
        auto *list = dlg.findChild<vt::app::CSkinListBox *>();
        QElapsedTimer timer;
        timer.start();
        dlg.OpenFolder(QString::fromStdString(folder.string()));
        const qint64 listed_ms = timer.elapsed();
        qint64 first_picture_ms = -1, headers_ms = -1;
        while (timer.elapsed() < 120000 && (first_picture_ms < 0 || headers_ms < 0)) {
            QApplication::processEvents(QEventLoop::AllEvents, 20);
            if (first_picture_ms < 0 && dlg.VideoWindow()->PicturesShown() > 0)
                first_picture_ms = timer.elapsed();
            if (headers_ms < 0 && list != nullptr && list->HeaderCount() > 0)
                headers_ms = timer.elapsed();
            QThread::msleep(2);
        }
        std::printf(
            "%d recordings: listed and first opened %lld ms, first picture %lld ms, "
            "trip headers %lld ms, VmRSS %ld kB (%ld kB before the folder)\n",
            count, static_cast<long long>(listed_ms), static_cast<long long>(first_picture_ms),
            static_cast<long long>(headers_ms), RssKb(), rss_before);
    }
    vt::app::CPlayerControl::Release();
    std::filesystem::remove_all(folder);
    return 0;
}
