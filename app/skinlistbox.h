#pragma once
// The recording list: sorted strings drawn in the window's own font and colours over whatever the
// window shows behind it, without any frame or box of its own. Header lines (a trip's date,
// duration and distance) may sit above entries; they are rows of the display only: indices, the
// selection and the keys address the entries alone.
#include <QAbstractScrollArea>
#include <QColor>
#include <QFont>
#include <QHash>
#include <QStringList>
#include <QVector>

namespace vt::app {

class CSkinListBox final : public QAbstractScrollArea {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CSkinListBox)

public:
    static constexpr QRgb kDisabledText = 0xFF8C8C8Cu;  // RGB(140,140,140)

    explicit CSkinListBox(QWidget *parent = nullptr);

    void SetLook(int font_height, const QString &face, QColor normal, QColor selected, bool shadow,
                 int shadow_offset, QColor shadow_colour);
    // Inserts in the list's order (letter case ignored); returns the new entry's index.
    int AddItem(const QString &text, quintptr data = 0);
    void ResetContent();
    int Count() const { return static_cast<int>(m_items.size()); }
    QString Text(int index) const;
    quintptr ItemData(int index) const;
    int CurrentIndex() const { return m_current; }
    // Selects without telling anyone, as a program-made selection does.
    void SetCurrentIndex(int index);
    int ItemHeight() const { return m_item_height; }
    // First row shown (rows count header lines too).
    int TopIndex() const;
    void EnsureVisible(int index);

    // Header lines keyed by the text of the entry they stand above; replaces the previous set.
    // Kept across AddItem; ResetContent removes them.
    void SetHeaders(const QHash<QString, QString> &headers);
    int HeaderCount() const { return static_cast<int>(m_headers.size()); }
    // Where an entry is drawn in the viewport (empty when it does not exist).
    QRect ItemRect(int index) const;
    // The header line above an entry, if any.
    QString HeaderAbove(int index) const;
    // A thin bar along the list's foot while its recordings are being read; none when `total` is
    // 0 or everything is done.
    void SetProgress(int done, int total);
    bool ProgressShown() const {
        return m_progress_total > 0 && m_progress_done < m_progress_total;
    }

signals:
    // The user changed the selection (click or key).
    void selectionChanged(int index);
    void doubleClicked(int index);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    struct Item {
        QString text;
        quintptr data;
    };
    struct Row {
        int item;        // entry index; -1 for a header line
        QString header;  // header text
    };
    const QVector<Row> &Rows() const;
    int RowOfItem(int index) const;
    int IndexAt(QPoint viewport_pos) const;
    void UserSelect(int index);
    void UpdateScrollRange();
    void MeasureItemHeight();

    QVector<Item> m_items;
    QHash<QString, QString> m_headers;
    mutable QVector<Row> m_rows;  // built on demand from the entries and the headers
    mutable QVector<int> m_row_of_item;
    mutable bool m_rows_dirty = true;
    int m_current = -1;
    QFont m_font;
    QColor m_normal{230, 230, 230};
    QColor m_selected{0, 150, 255};
    bool m_shadow = false;
    int m_shadow_offset = 2;
    QColor m_shadow_colour{0, 0, 0};
    QFont m_header_font;
    int m_item_height = 16;
    int m_progress_done = 0, m_progress_total = 0;
};

}  // namespace vt::app
