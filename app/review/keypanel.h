#pragma once
// The key panel: an ordinary resizable window in the program's dark palette listing every key of
// the key table. One instance per owner; showing it again brings it to the front. Given a settings
// file, it takes its last geometry from there and writes it back when it closes.
#include <QDialog>

class QTableWidget;

namespace vt::app::review {

class CKeyPanel final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CKeyPanel)

public:
    explicit CKeyPanel(QWidget *parent = nullptr, const QString &settings_file = {});

    int Rows() const;
    QString KeyAt(int row) const;
    QString HelpAt(int row) const;

protected:
    void hideEvent(QHideEvent *event) override;

private:
    QTableWidget *m_table = nullptr;
    QString m_settings_file;
};

}  // namespace vt::app::review
