#pragma once
// The repeat check box: a 13 x 13 light square with a tick, nothing else.
#include <QAbstractButton>

namespace vt::app {

class CRepeatBox final : public QAbstractButton {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CRepeatBox)

public:
    explicit CRepeatBox(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

}  // namespace vt::app
