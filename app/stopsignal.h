#pragma once
// SIGTERM and SIGINT (kill, Ctrl+C in the terminal) as a Qt signal on the UI thread, so the window
// can close as its close button does: stop, release the engine, write the remembered folders.
// The handler only writes a byte to a pipe; a socket notifier reads it in the event loop.
#include <QObject>

class QSocketNotifier;

namespace vt::app {

class CStopSignal final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CStopSignal)

public:
    // Installs the handlers; one instance per process. A second signal after the first one
    // gets the default action, so a program that does not stop can still be ended.
    explicit CStopSignal(QObject *parent = nullptr);
    ~CStopSignal() override;

signals:
    void Received(int signal_number);

private:
    void ReadPipe();

    QSocketNotifier *m_notifier = nullptr;
};

}  // namespace vt::app
