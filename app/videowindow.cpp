#include "app/videowindow.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <set>

namespace vt::app {
namespace {

const QEvent::Type kPictureEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// Live video windows. The engine's video task may present after a window is gone; it only
// reaches a window through this registry, under its lock, and a window leaves it before it dies.
std::mutex g_registry_lock;
std::set<CVideoWindow *> &Registry() {
    static std::set<CVideoWindow *> windows;
    return windows;
}

int BackendOpen(void **ctx, void *window, int32_t width, int32_t height) {
    if (ctx == nullptr || window == nullptr || width <= 0 || height <= 0) return -1;
    std::lock_guard<std::mutex> lock(g_registry_lock);
    auto *w = static_cast<CVideoWindow *>(window);
    if (Registry().count(w) == 0) return -1;
    *ctx = w;
    return 0;
}

int BackendPresent(void *ctx, const DisplayImage *image) {
    if (ctx == nullptr || image == nullptr || image->pixels == nullptr || image->width <= 0 ||
        image->height <= 0 || image->stride < image->width * 4)
        return -1;
    // Copy outside the lock: the picture is only valid during this call.
    QImage copy = QImage(reinterpret_cast<const uchar *>(image->pixels), image->width,
                         image->height, image->stride, QImage::Format_RGB32)
                      .copy();
    std::lock_guard<std::mutex> lock(g_registry_lock);
    auto *w = static_cast<CVideoWindow *>(ctx);
    if (Registry().count(w) == 0) return -1;
    w->Deliver(std::move(copy));
    return 0;
}

void BackendClose(void *) {}

const DisplayBackendOps kQtBackend = {
    .name = "qt-window",
    .open = BackendOpen,
    .present = BackendPresent,
    .close = BackendClose,
};

}  // namespace

CVideoWindow::CVideoWindow(QWidget *parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    m_notice_timer.setSingleShot(true);
    connect(&m_notice_timer, &QTimer::timeout, this, [this] { update(); });
    std::lock_guard<std::mutex> lock(g_registry_lock);
    Registry().insert(this);
}

CVideoWindow::~CVideoWindow() {
    std::lock_guard<std::mutex> lock(g_registry_lock);
    Registry().erase(this);
}

const DisplayBackendOps *CVideoWindow::Backend() { return &kQtBackend; }

void CVideoWindow::Deliver(QImage picture) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_pending = std::move(picture);
    // One event in flight is enough: it shows whatever picture is newest when it arrives.
    if (!m_posted) {
        m_posted = true;
        QCoreApplication::postEvent(this, new QEvent(kPictureEvent));
    }
}

void CVideoWindow::ClearPicture() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_pending = QImage();
    }
    m_shown = QImage();
    update();
}

void CVideoWindow::customEvent(QEvent *event) {
    if (event->type() != kPictureEvent) return;
    QImage next;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_posted = false;
        next = std::move(m_pending);
        m_pending = QImage();
    }
    if (next.isNull()) return;
    m_shown = std::move(next);
    ++m_pictures;
    update();
}

QRectF CVideoWindow::BaseRect() const {
    // Before the first picture the widget itself stands in for it, so zoom keys still behave.
    const QSizeF picture = m_shown.isNull() ? QSizeF(size()) : QSizeF(m_shown.size());
    return review::BaseRect(picture, QRectF(rect()), m_full);
}

QRectF CVideoWindow::PictureRect() const { return m_zoom.Target(BaseRect()); }

bool CVideoWindow::ZoomBy(int steps, QPointF anchor) {
    if (!m_zoom.ZoomBy(steps, anchor, BaseRect())) return false;
    update();
    return true;
}

void CVideoWindow::ResetZoom() {
    m_zoom.Reset();
    update();
}

void CVideoWindow::SetFullScreenLook(bool full) {
    if (m_full == full) return;
    m_full = full;
    // The base rectangle changes completely; a zoom made for the other one would land elsewhere.
    m_zoom.Reset();
    setAttribute(Qt::WA_OpaquePaintEvent, full);
    update();
}

void CVideoWindow::ShowNotice(const QString &text, int ms) {
    m_notice = text;
    m_notice_timer.start(ms);
    update();
}

void CVideoWindow::paintEvent(QPaintEvent *) {
    QPainter p(this);
    if (m_full) p.fillRect(rect(), Qt::black);
    if (!m_shown.isNull()) {
        const QRectF target = PictureRect();
        if (target.size() == QSizeF(m_shown.size())) {
            p.drawImage(target.topLeft(), m_shown);
        } else {
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            p.drawImage(target, m_shown);
        }
    }
    if (m_full && m_hud) review::PaintHud(&p, QRectF(rect()), m_hud());
    if (m_notice_timer.isActive()) review::PaintNotice(&p, QRectF(rect()), m_notice);
}

void CVideoWindow::wheelEvent(QWheelEvent *event) {
    if (!(event->modifiers() & Qt::ControlModifier) || event->angleDelta().y() == 0) {
        event->ignore();
        return;
    }
    // One notch of an ordinary wheel is one step; fine-grained wheels add up to it.
    m_wheel_pending += event->angleDelta().y();
    const int steps = m_wheel_pending / 120;
    m_wheel_pending -= steps * 120;
    if (steps != 0) ZoomBy(steps, event->position());
    event->accept();
}

void CVideoWindow::mousePressEvent(QMouseEvent *event) {
    // Unzoomed, a drag on the picture moves the window as a drag on its background does.
    if (event->button() != Qt::LeftButton || !m_zoom.Zoomed()) {
        event->ignore();
        return;
    }
    m_panning = true;
    m_pan_from = event->position();
    setCursor(Qt::ClosedHandCursor);
}

void CVideoWindow::mouseMoveEvent(QMouseEvent *event) {
    if (!m_panning) {
        event->ignore();
        return;
    }
    if (m_zoom.PanBy(event->position() - m_pan_from, BaseRect())) update();
    m_pan_from = event->position();
}

void CVideoWindow::mouseReleaseEvent(QMouseEvent *event) {
    if (!m_panning) {
        event->ignore();
        return;
    }
    if (event->button() == Qt::LeftButton) {
        m_panning = false;
        unsetCursor();
    }
}

void CVideoWindow::mouseDoubleClickEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    emit doubleClicked();
}

}  // namespace vt::app
