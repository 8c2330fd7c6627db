#pragma once
// The About box: the program's icon, its name and version, and OK.
#include <QDialog>

namespace vt::app {

inline constexpr char kAboutMenuText[] = "VantrecPlayer ?\?(&A)...";
inline constexpr char kAboutLine[] = "VantrecPlayer ?? 1.0";

class CAboutDlg final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CAboutDlg)

public:
    explicit CAboutDlg(QWidget *parent = nullptr);
};

}  // namespace vt::app
