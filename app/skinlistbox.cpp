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
        "QScrollBar::handle:vertical{background:#3a3e45;min-height:24px;border-radius:4px;margin:1px;}"
        "QScrollBar::handle:vertical:hover{background:#0096ff;}"
        "QScrollBar::add-line:vertical,QScrollBar::sub-line:vertical{height:0;}"
        "QScrollBar::add-page:vertical,QScrollBar::sub-page:vertical{background:none;}"));
    m_font = CellHeightFont(QStringLiteral("Arial"), 17, 700);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this,
            [this] { viewport()->update(); });
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
    if (m_current >= index) ++m_current;
    if (m_items.size() == 1) MeasureItemHeight();
    UpdateScrollRange();
    viewport()->update();
    return index;
}

void CSkinListBox::ResetContent() {
    m_items.clear();
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

void CSkinListBox::EnsureVisible(int index) {
    const int rows = std::max(1, viewport()->height() / m_item_height);
    QScrollBar *bar = verticalScrollBar();
    if (index < bar->value())
        bar->setValue(index);
    else if (index >= bar->value() + rows)
        bar->setValue(index - rows + 1);
}

void CSkinListBox::UpdateScrollRange() {
    const int rows = std::max(1, viewport()->height() / m_item_height);
    QScrollBar *bar = verticalScrollBar();
    bar->setRange(0, std::max(0, Count() - rows));
    bar->setPageStep(rows);
}

int CSkinListBox::IndexAt(QPoint pos) const {
    const int index = TopIndex() + pos.y() / m_item_height;
    return (pos.y() >= 0 && index < Count()) ? index : -1;
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
    for (int i = TopIndex(), y = 0; i < Count() && y < h; ++i, y += m_item_height) {
        const QRect r(4, y, w - 6, m_item_height);
        const QString &text = m_items[i].text;
        if (i == m_current) p.fillRect(QRect(0, y, w, m_item_height), QColor(0, 150, 255, 28));
        if (m_shadow) {
            p.setPen(enabled ? m_shadow_colour : QColor(Qt::white));
            p.drawText(r.translated(m_shadow_offset, m_shadow_offset),
                       Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
        }
        p.setPen(!enabled ? QColor::fromRgb(kDisabledText) : (i == m_current ? m_selected : m_normal));
        p.drawText(r, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
    }
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
