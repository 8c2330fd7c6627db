#pragma once
// The key panel: an ordinary resizable window in the program's dark palette listing every key of
// the key table. One instance per owner; showing it again brings it to the front.
#include <QDialog>

class QTableWidget;

namespace vt::app::review {

class CKeyPanel final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CKeyPanel)

public:
    explicit CKeyPanel(QWidget *parent = nullptr);

    int Rows() const;
    QString KeyAt(int row) const;
    QString HelpAt(int row) const;

private:
    QTableWidget *m_table = nullptr;
};

}  // namespace vt::app::review
