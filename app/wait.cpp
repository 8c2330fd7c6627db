#include "app/wait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <algorithm>

namespace vt::app {

bool Wait(int ms, WaitStyle style, const std::function<bool()> &done) {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (done && done()) return true;
        const qint64 left = ms - clock.elapsed();
        if (left <= 0) break;
        // A condition is looked at every 10 ms; without one the whole time passes in one go.
        const int slice =
            done ? static_cast<int>(std::min<qint64>(left, 10)) : static_cast<int>(left);
        if (style == WaitStyle::kSleep) {
            QThread::msleep(static_cast<unsigned long>(slice));
        } else {
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, slice);
            QThread::msleep(static_cast<unsigned long>(std::min(slice, 5)));
        }
    }
    return !done || done();
}

}  // namespace vt::app
