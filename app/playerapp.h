#pragma once
// The application object: runs the main window modally and ends when it closes.
#include <QApplication>

namespace vt::app {

class CPlayerApp final : public QApplication {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CPlayerApp)

public:
    explicit CPlayerApp(int &argc, char **argv);

    // `vantrec-player [FOLDER]`: FOLDER is listed at start as if the user had chosen it.
    int Run();

private:
    QString m_start_folder;
};

}  // namespace vt::app
