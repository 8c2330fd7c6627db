#pragma once
// Runs the Qt event loop until a condition holds, for tests that wait on the window or the engine.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <functional>

namespace vt::test {

// False when timeout_ms passes first.
inline bool RunUntil(const std::function<bool()> &done, int timeout_ms) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeout_ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return true;
}

}  // namespace vt::test
