#include "app/playerapp.h"

#include <QDialog>
#include <QFileInfo>
#include <QTimer>
#include <cstdio>

#include "app/messages.h"
#include "app/playercontrol.h"
#include "app/playerdlg.h"
#include "app/skinlistbox.h"
#include "app/stopsignal.h"

namespace vt::app {
namespace {

// Lists a recording's folder and opens that recording where the listing would open the first:
// the listing's own "open the first" message is taken over once, so the engine opens one file.
class CStartRecording final : public QObject {
public:
    CStartRecording(CPlayerDlg *dlg, const QString &name) : QObject(dlg), m_dlg(dlg), m_name(name) {
        dlg->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (watched != m_dlg || event->type() != static_cast<QEvent::Type>(UM_OPEN_FIRST))
            return false;
        m_dlg->removeEventFilter(this);
        deleteLater();
        CSkinListBox *list = m_dlg->List();
        for (int i = 0; i < list->Count(); ++i) {
            if (list->Text(i) != m_name) continue;
            list->SetCurrentIndex(i);
            SendWindowMessage(m_dlg, UM_REOPEN_SELECTION, 0, 0);
            return true;
        }
        return false;  // not listed (not a recording's name): the first one opens as usual
    }

private:
    CPlayerDlg *m_dlg;
    QString m_name;
};

// Dialogs and message boxes opened over the window run event loops of their own; they close
// first so the window's own loop can end.
void CloseOtherDialogs(QWidget *main) {
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w == main || !w->isVisible()) continue;
        if (auto *dialog = qobject_cast<QDialog *>(w)) dialog->reject();
        else if (w->isModal()) w->close();
    }
}

}  // namespace

void OpenTarget(CPlayerDlg *dlg, const QString &target) {
    const QFileInfo info(target);
    if (info.isFile()) {
        new CStartRecording(dlg, info.fileName());
        dlg->OpenFolder(info.absolutePath());
    } else {
        dlg->OpenFolder(target);
    }
}

QString UsageText() {
    return QStringLiteral(
        "usage: vantrec-player [FOLDER | FILE.mp4]\n"
        "Plays the recordings of an in-car camera's memory card.\n"
        "\n"
        "  FOLDER      list the recordings in FOLDER and play the first\n"
        "  FILE.mp4    list the recordings beside FILE.mp4 and play it\n"
        "  --help      show this text and exit\n"
        "  --version   show the version and exit\n"
        "\n"
        "Qt's own options (-platform NAME, -style NAME, ...) are accepted as well.\n");
}

CommandLine ParseCommandLine(const QStringList &args, bool qt_options_left) {
    CommandLine cl;
    bool options_end = false;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString &a = args.at(i);
        if (!options_end && a == QLatin1String("--")) {
            options_end = true;
        } else if (!options_end && (a == QLatin1String("--help") || a == QLatin1String("-h"))) {
            cl.help = true;
        } else if (!options_end && a == QLatin1String("--version")) {
            cl.version = true;
        } else if (!options_end && a.startsWith(QLatin1String("--")) && a.size() > 2) {
            cl.error = QStringLiteral("unknown option '%1'").arg(a);
        } else if (!options_end && a.startsWith(QLatin1Char('-')) && a.size() > 1) {
            if (!qt_options_left) cl.error = QStringLiteral("unknown option '%1'").arg(a);
            // Qt's options with a value: skip the value so it is not taken for a folder.
            static const QStringList kWithValue = {
                QStringLiteral("-platform"),        QStringLiteral("-platformpluginpath"),
                QStringLiteral("-platformtheme"),   QStringLiteral("-plugin"),
                QStringLiteral("-style"),           QStringLiteral("-stylesheet"),
                QStringLiteral("-qwindowgeometry"), QStringLiteral("-qwindowtitle"),
                QStringLiteral("-qwindowicon"),     QStringLiteral("-display"),
                QStringLiteral("-geometry"),        QStringLiteral("-session")};
            if (qt_options_left && kWithValue.contains(a)) ++i;
        } else if (cl.target.isEmpty()) {
            cl.target = a;
        } else {
            cl.error = QStringLiteral("more than one folder or recording given");
        }
    }
    return cl;
}

CPlayerApp::CPlayerApp(int &argc, char **argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Vantrec Player"));
    setDesktopFileName(QStringLiteral("vantrec-player"));
    setQuitOnLastWindowClosed(false);
    m_command_line = ParseCommandLine(arguments(), false);
}

int CPlayerApp::Run() {
    if (!m_command_line.error.isEmpty()) {
        std::fprintf(stderr, "vantrec-player: %s\n%s", qPrintable(m_command_line.error),
                     qPrintable(UsageText()));
        return 2;
    }
    {
        // Before the window: the engine's audio device must find our handlers in place.
        CStopSignal stop;
        CPlayerDlg dlg;
        connect(&stop, &CStopSignal::Received, &dlg, [&dlg] {
            CloseOtherDialogs(&dlg);
            dlg.ExitApplication();
        });
        if (!m_command_line.target.isEmpty()) {
            const QString target = m_command_line.target;
            QTimer::singleShot(0, &dlg, [&dlg, target] { OpenTarget(&dlg, target); });
        }
        dlg.show();
        dlg.exec();
    }
    CPlayerControl::Release();
    return 0;
}

}  // namespace vt::app
