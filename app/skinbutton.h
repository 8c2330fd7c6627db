#pragma once
// A push button drawn from a strip of frames: normal, hover, pressed, and for the play button a
// second set shown while the player plays. Clicks arrive as the ordinary clicked() signal.
#include <QAbstractButton>
#include <QPixmap>

namespace vt::app {

class CSkinButton final : public QAbstractButton {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CSkinButton)

public:
    explicit CSkinButton(QWidget *parent = nullptr);

    // Strip bitmap id and the width of one frame.
    void SetSkin(int bitmap_id, int frame_width);
    int SkinId() const { return m_bitmap_id; }
    // Whether the alternate frames (3 to 5) are used; the owner sets it for the play strip.
    void SetAlternate(bool alternate);
    bool Alternate() const { return m_alternate; }
    bool Hovered() const { return m_hover; }
    // The frame the next paint draws.
    int CurrentFrame() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    int m_bitmap_id = 0;
    int m_frame_width = 0;
    QPixmap m_strip;
    bool m_hover = false;
    bool m_alternate = false;
};

}  // namespace vt::app
