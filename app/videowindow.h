#pragma once
// The video window: a 640 x 480 child of the main window that shows the pictures the engine
// composes. The engine's video task hands each finished picture to the display back-end below,
// which copies it and posts it here; the window paints it on the user-interface thread. The
// picture keeps its own size: a smaller one leaves the rest of the window to the artwork behind
// it, a larger one is clipped.
#include <QImage>
#include <QWidget>
#include <mutex>

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

protected:
    void paintEvent(QPaintEvent *event) override;
    void customEvent(QEvent *event) override;

private:
    std::mutex m_lock;  // guards m_pending and m_posted between the video task and the UI
    QImage m_pending;
    bool m_posted = false;
    QImage m_shown;
    int m_pictures = 0;
};

}  // namespace vt::app
