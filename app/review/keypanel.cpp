#include "app/review/keypanel.h"

#include <QHeaderView>
#include <QSettings>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/review/keys.h"

namespace vt::app::review {
namespace {
const char kGeometryKey[] = "windows/key_panel";
}  // namespace

CKeyPanel::CKeyPanel(QWidget *parent, const QString &settings_file)
    : QDialog(parent), m_settings_file(settings_file) {
    setWindowTitle(QStringLiteral("Keys"));
    setModal(false);
    setStyleSheet(QStringLiteral(
        "QDialog{background:#141518;}"
        "QTableWidget{background:#0c0d0f;color:#e6e6e6;gridline-color:#2c2f34;border:1px solid "
        "#2c2f34;}"
        "QHeaderView::section{background:#24262b;color:#808791;border:0;padding:4px;}"));
    const QList<KeyBinding> &keys = KeyTable();
    m_table = new QTableWidget(static_cast<int>(keys.size()), 2, this);
    m_table->setHorizontalHeaderLabels({QStringLiteral("Key"), QStringLiteral("Action")});
    m_table->verticalHeader()->hide();
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionMode(QAbstractItemView::NoSelection);
    m_table->setFocusPolicy(Qt::NoFocus);
    m_table->horizontalHeader()->setStretchLastSection(true);
    for (int row = 0; row < keys.size(); ++row) {
        auto *key = new QTableWidgetItem(QString::fromLatin1(keys[row].key_text));
        QFont bold = key->font();
        bold.setBold(true);
        key->setFont(bold);
        key->setForeground(QColor(0, 150, 255));
        m_table->setItem(row, 0, key);
        m_table->setItem(row, 1, new QTableWidgetItem(QString::fromLatin1(keys[row].help)));
    }
    m_table->resizeColumnToContents(0);
    m_table->setColumnWidth(0, m_table->columnWidth(0) + 24);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(m_table);
    resize(460, 640);
    if (!m_settings_file.isEmpty()) {
        const QSettings settings(m_settings_file, QSettings::IniFormat);
        restoreGeometry(settings.value(QLatin1String(kGeometryKey)).toByteArray());
    }
}

void CKeyPanel::hideEvent(QHideEvent *event) {
    if (!m_settings_file.isEmpty()) {
        QSettings settings(m_settings_file, QSettings::IniFormat);
        settings.setValue(QLatin1String(kGeometryKey), saveGeometry());
    }
    QDialog::hideEvent(event);
}

int CKeyPanel::Rows() const { return m_table->rowCount(); }
QString CKeyPanel::KeyAt(int row) const { return m_table->item(row, 0)->text(); }
QString CKeyPanel::HelpAt(int row) const { return m_table->item(row, 1)->text(); }

}  // namespace vt::app::review
