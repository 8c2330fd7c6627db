#include "app/videowindow.h"

#include <QCoreApplication>
#include <QPainter>
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

void CVideoWindow::paintEvent(QPaintEvent *) {
    if (m_shown.isNull()) return;
    QPainter p(this);
    p.drawImage(QPoint(0, 0), m_shown);
}

}  // namespace vt::app
