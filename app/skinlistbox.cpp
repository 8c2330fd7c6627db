#include "app/skinlistbox.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>

#include "app/fonts.h"

namespace vt::app {

CSkinListBox::CSkinListBox(QWidget *parent) : QAbstractScrollArea(parent) {
    setFrameShape(QFrame::NoFrame);
    // Nothing of our own behind the items: the window's artwork shows through.
    setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    verticalScrollBar()->setSingleStep(1);
    verticalScrollBar()->setStyleSheet(QStringLiteral(
        "QScrollBar:vertical{background:#0c0d0f;width:10px;margin:0;}"
        "QScrollBar::handle:vertical{background:#3a3e45;min-height:24px;border-radius:4px;margin:"
        "1px;}"
        "QScrollBar::handle:vertical:hover{background:#0096ff;}"
        "QScrollBar::add-line:vertical,QScrollBar::sub-line:vertical{height:0;}"
        "QScrollBar::add-page:vertical,QScrollBar::sub-page:vertical{background:none;}"));
    m_font = CellHeightFont(QStringLiteral("Arial"), 17, 700);
    m_header_font = CellHeightFont(QStringLiteral("Arial"), 13, 400);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { viewport()->update(); });
}

void CSkinListBox::SetLook(int font_height, const QString &face, QColor normal, QColor selected,
                           bool shadow, int shadow_offset, QColor shadow_colour) {
    m_font = CellHeightFont(face, font_height, 700);
    m_normal = normal;
    m_selected = selected;
    m_shadow = shadow;
    m_shadow_offset = shadow_offset;
    m_shadow_colour = shadow_colour;
    MeasureItemHeight();
    viewport()->update();
}

void CSkinListBox::MeasureItemHeight() {
    if (m_items.isEmpty()) return;
    const QFontMetrics fm(m_font);
    m_item_height = std::max(1, fm.boundingRect(m_items.front().text).height() + 2);
    m_item_height = std::max(m_item_height, fm.height());
    UpdateScrollRange();
}

int CSkinListBox::AddItem(const QString &text, quintptr data) {
    auto at = std::upper_bound(m_items.begin(), m_items.end(), text,
                               [](const QString &t, const Item &item) {
                                   return QString::compare(t, item.text, Qt::CaseInsensitive) < 0;
                               });
    const int index = static_cast<int>(at - m_items.begin());
    m_items.insert(at, Item{text, data});
    m_rows_dirty = true;
    if (m_current >= index) ++m_current;
    if (m_items.size() == 1) MeasureItemHeight();
    UpdateScrollRange();
    viewport()->update();
    return index;
}

void CSkinListBox::ResetContent() {
    m_items.clear();
    m_headers.clear();
    m_rows_dirty = true;
    m_current = -1;
    UpdateScrollRange();
    verticalScrollBar()->setValue(0);
    viewport()->update();
}

QString CSkinListBox::Text(int index) const {
    return (index >= 0 && index < Count()) ? m_items[index].text : QString();
}

quintptr CSkinListBox::ItemData(int index) const {
    return (index >= 0 && index < Count()) ? m_items[index].data : 0;
}

void CSkinListBox::SetCurrentIndex(int index) {
    m_current = (index >= 0 && index < Count()) ? index : -1;
    if (m_current >= 0) EnsureVisible(m_current);
    viewport()->update();
}

int CSkinListBox::TopIndex() const { return verticalScrollBar()->value(); }

void CSkinListBox::SetHeaders(const QHash<QString, QString> &headers) {
    m_headers = headers;
    m_rows_dirty = true;
    UpdateScrollRange();
    if (m_current >= 0) EnsureVisible(m_current);
    viewport()->update();
}

const QVector<CSkinListBox::Row> &CSkinListBox::Rows() const {
    if (!m_rows_dirty) return m_rows;
    m_rows.clear();
    m_row_of_item.resize(m_items.size());
    for (int i = 0; i < m_items.size(); ++i) {
        auto h = m_headers.constFind(m_items[i].text);
        if (h != m_headers.constEnd()) m_rows.push_back(Row{-1, h.value()});
        m_row_of_item[i] = static_cast<int>(m_rows.size());
        m_rows.push_back(Row{i, QString()});
    }
    m_rows_dirty = false;
    return m_rows;
}

int CSkinListBox::RowOfItem(int index) const {
    Rows();
    return (index >= 0 && index < Count()) ? m_row_of_item[index] : -1;
}

QRect CSkinListBox::ItemRect(int index) const {
    const int row = RowOfItem(index);
    if (row < 0) return {};
    return QRect(0, (row - TopIndex()) * m_item_height, viewport()->width(), m_item_height);
}

QString CSkinListBox::HeaderAbove(int index) const {
    const int row = RowOfItem(index);
    return row > 0 && Rows()[row - 1].item < 0 ? Rows()[row - 1].header : QString();
}

void CSkinListBox::EnsureVisible(int index) {
    const int row = RowOfItem(index);
    if (row < 0) return;
    const int rows = std::max(1, viewport()->height() / m_item_height);
    QScrollBar *bar = verticalScrollBar();
    if (row < bar->value()) {
        // Scrolling up to an entry brings its header line along.
        const bool headed = row > 0 && Rows()[row - 1].item < 0;
        bar->setValue(headed ? row - 1 : row);
    } else if (row >= bar->value() + rows) {
        bar->setValue(row - rows + 1);
    }
}

void CSkinListBox::UpdateScrollRange() {
    const int rows = std::max(1, viewport()->height() / m_item_height);
    QScrollBar *bar = verticalScrollBar();
    bar->setRange(0, std::max(0, static_cast<int>(Rows().size()) - rows));
    bar->setPageStep(rows);
}

int CSkinListBox::IndexAt(QPoint pos) const {
    if (pos.y() < 0) return -1;
    const int row = TopIndex() + pos.y() / m_item_height;
    return row < Rows().size() ? Rows()[row].item : -1;
}

void CSkinListBox::UserSelect(int index) {
    if (index < 0 || index >= Count()) return;
    m_current = index;
    EnsureVisible(index);
    // The new selection is on screen before the owner starts its (possibly slow) open.
    viewport()->repaint();
    emit selectionChanged(index);
}

void CSkinListBox::paintEvent(QPaintEvent *) {
    QPainter p(viewport());
    p.setFont(m_font);
    const bool enabled = isEnabled();
    const int h = viewport()->height();
    const int w = viewport()->width();
    const QVector<Row> &rows = Rows();
    for (int row = TopIndex(), y = 0; row < rows.size() && y < h; ++row, y += m_item_height) {
        const int i = rows[row].item;
        if (i < 0) {
            // A trip's header line: small, dim, with a rule under it.
            p.setFont(m_header_font);
            p.setPen(enabled ? QColor(120, 176, 220) : QColor::fromRgb(kDisabledText));
            p.drawText(QRect(4, y, w - 6, m_item_height - 2),
                       Qt::AlignLeft | Qt::AlignBottom | Qt::TextSingleLine, rows[row].header);
            p.setPen(QColor(70, 90, 110));
            p.drawLine(4, y + m_item_height - 1, w - 4, y + m_item_height - 1);
            p.setFont(m_font);
            continue;
        }
        const QRect r(4, y, w - 6, m_item_height);
        const QString &text = m_items[i].text;
        if (i == m_current) p.fillRect(QRect(0, y, w, m_item_height), QColor(0, 150, 255, 28));
        if (m_shadow) {
            p.setPen(enabled ? m_shadow_colour : QColor(Qt::white));
            p.drawText(r.translated(m_shadow_offset, m_shadow_offset),
                       Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
        }
        p.setPen(!enabled ? QColor::fromRgb(kDisabledText)
                          : (i == m_current ? m_selected : m_normal));
        p.drawText(r, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
    }
    if (ProgressShown()) {
        const int filled =
            static_cast<int>(static_cast<int64_t>(w) * m_progress_done / m_progress_total);
        p.fillRect(QRect(0, h - 3, w, 3), QColor(70, 90, 110));
        p.fillRect(QRect(0, h - 3, filled, 3), QColor(120, 176, 220));
    }
}

void CSkinListBox::SetProgress(int done, int total) {
    if (done == m_progress_done && total == m_progress_total) return;
    m_progress_done = done;
    m_progress_total = total;
    viewport()->update();
}

void CSkinListBox::mousePressEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton) return;
    setFocus(Qt::MouseFocusReason);
    const int index = IndexAt(event->position().toPoint());
    if (index >= 0) UserSelect(index);
}

void CSkinListBox::mouseDoubleClickEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton) return;
    const int index = IndexAt(event->position().toPoint());
    if (index >= 0) emit doubleClicked(index);
}

void CSkinListBox::keyPressEvent(QKeyEvent *event) {
    if (Count() == 0) {
        event->ignore();
        return;
    }
    const int rows = std::max(1, viewport()->height() / m_item_height);
    int index = m_current;
    switch (event->key()) {
        case Qt::Key_Up: index = std::max(0, m_current - 1); break;
        case Qt::Key_Down: index = std::min(Count() - 1, m_current + 1); break;
        case Qt::Key_Home: index = 0; break;
        case Qt::Key_End: index = Count() - 1; break;
        case Qt::Key_PageUp: index = std::max(0, m_current - rows); break;
        case Qt::Key_PageDown: index = std::min(Count() - 1, std::max(0, m_current) + rows); break;
        default: event->ignore(); return;
    }
    if (index != m_current) UserSelect(index);
}

void CSkinListBox::wheelEvent(QWheelEvent *event) {
    // One line per notch: away from the user scrolls up.
    QScrollBar *bar = verticalScrollBar();
    bar->setValue(bar->value() + (event->angleDelta().y() > 0 ? -1 : 1));
    event->accept();
}

void CSkinListBox::resizeEvent(QResizeEvent *event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollRange();
}

void CSkinListBox::changeEvent(QEvent *event) {
    if (event->type() == QEvent::EnabledChange) viewport()->update();
    QAbstractScrollArea::changeEvent(event);
}

}  // namespace vt::app
