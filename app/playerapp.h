#pragma once
// The application object: runs the main window modally and ends when it closes, or when the
// process is asked to stop (SIGTERM, SIGINT), which closes the window as its close button does.
#include <QApplication>
#include <QStringList>

namespace vt::app {

// What the command line asks for. `args` includes the program name at index 0.
struct CommandLine {
    bool help = false;
    bool version = false;
    QString target;  // a folder to list, or a recording to play from its listed folder
    QString error;   // not empty: the command line is not understood
};
// qt_options_left: Qt has not yet taken its own options (-platform NAME, -style NAME, ...), so
// single-dash arguments are left for it; afterwards any argument starting with '-' is an error.
CommandLine ParseCommandLine(const QStringList &args, bool qt_options_left);
// The --help text.
QString UsageText();

class CPlayerDlg;
// Lists `target` in the window: a folder as if the user had chosen it; for a file, its folder,
// and that recording is the one that opens (the first one when it is not listed).
void OpenTarget(CPlayerDlg *dlg, const QString &target);

class CPlayerApp final : public QApplication {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CPlayerApp)

public:
    explicit CPlayerApp(int &argc, char **argv);

    // `vantrec-player [FOLDER | FILE.mp4]`: FOLDER is listed at start as if the user had chosen
    // it; for a recording its folder is listed and that recording plays instead of the first.
    // Returns 2 (after printing the usage) when what is left of the command line after Qt took
    // its own options is not understood.
    int Run();

private:
    CommandLine m_command_line;
};

}  // namespace vt::app
