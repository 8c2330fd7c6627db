#include "app/playerapp.h"

#include <QTimer>

#include "app/playercontrol.h"
#include "app/playerdlg.h"

namespace vt::app {

CPlayerApp::CPlayerApp(int &argc, char **argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Vantrec Player"));
    setQuitOnLastWindowClosed(false);
    const QStringList args = arguments();
    if (args.size() > 1) m_start_folder = args.at(1);
}

int CPlayerApp::Run() {
    int result = 0;
    {
        CPlayerDlg dlg;
        if (!m_start_folder.isEmpty()) {
            const QString folder = m_start_folder;
            QTimer::singleShot(0, &dlg, [&dlg, folder] { dlg.OpenFolder(folder); });
        }
        dlg.show();
        result = dlg.exec() == QDialog::Accepted ? 0 : 0;
    }
    CPlayerControl::Release();
    return result;
}

}  // namespace vt::app
