#pragma once
// The video window: a 640 x 480 child of the main window that shows the pictures the engine
// composes. The engine's video task hands each finished picture to the display back-end below,
// which copies it and posts it here; the window paints it on the user-interface thread. The
// picture keeps its own size: a smaller one leaves the rest of the window to the artwork behind
// it, a larger one is clipped.
//
// For a closer look the picture zooms (Ctrl+wheel around the cursor, or the owner's keys) and pans
// by dragging, smoothly scaled; in full screen it fills the screen keeping its shape, with the
// owner's overlay drawn over it. A short notice ("1.5x") can show over the picture in both modes.
#include <QElapsedTimer>
#include <QImage>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <mutex>

#include "app/review/overlay.h"
#include "app/review/zoomview.h"
#include "engine/api/player_api.h"

namespace vt::app {

class CVideoWindow final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CVideoWindow)

public:
    explicit CVideoWindow(QWidget *parent = nullptr);
    ~CVideoWindow() override;

    // The picture on screen (UI thread).
    QImage Picture() const { return m_shown; }
    int PicturesShown() const { return m_pictures; }
    void ClearPicture();

    // The back-end the engine presents through; the window pointer of the video params is a
    // CVideoWindow.
    static const DisplayBackendOps *Backend();

    // Called from the engine's video task: keeps a copy and asks the UI thread to show it.
    void Deliver(QImage picture);

    // Zoom by whole steps around a point of this widget; false at either limit.
    bool ZoomBy(int steps, QPointF anchor);
    bool ZoomBy(int steps) { return ZoomBy(steps, rect().center()); }
    void ResetZoom();
    const review::ZoomView &Zoom() const { return m_zoom; }
    // Where the picture is drawn now (widget coordinates).
    QRectF PictureRect() const;

    // Full screen: the picture is fitted to the widget and the overlay below is drawn over it.
    void SetFullScreenLook(bool full);
    bool FullScreenLook() const { return m_full; }
    using HudProvider = std::function<review::HudState()>;
    void SetHudProvider(HudProvider provider) { m_hud = std::move(provider); }

    // A notice over the picture for `ms` milliseconds; a new one replaces it.
    void ShowNotice(const QString &text, int ms = 1500);
    QString Notice() const { return m_notice_timer.isActive() ? m_notice : QString(); }

signals:
    void doubleClicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void customEvent(QEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    std::mutex m_lock;  // guards m_pending and m_posted between the video task and the UI
    QImage m_pending;
    bool m_posted = false;
    QImage m_shown;
    int m_pictures = 0;

    QRectF BaseRect() const;
    review::ZoomView m_zoom;
    int m_wheel_pending = 0;  // a fine-grained wheel's turn not yet a whole step
    bool m_panning = false;
    QPointF m_pan_from;
    bool m_full = false;
    HudProvider m_hud;
    QString m_notice;
    QTimer m_notice_timer;
};

}  // namespace vt::app
