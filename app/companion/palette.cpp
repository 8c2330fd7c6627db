#include "app/companion/palette.h"

#include <QColor>

namespace vt::app {

QPalette CompanionPalette() {
    QPalette pal;
    const QColor text(220, 223, 228);
    pal.setColor(QPalette::Window, QColor(36, 39, 44));
    pal.setColor(QPalette::WindowText, text);
    pal.setColor(QPalette::Base, QColor(24, 26, 30));
    pal.setColor(QPalette::AlternateBase, QColor(38, 41, 46));
    pal.setColor(QPalette::Text, text);
    pal.setColor(QPalette::Button, QColor(48, 52, 58));
    pal.setColor(QPalette::ButtonText, text);
    pal.setColor(QPalette::Highlight, QColor(40, 120, 220));
    pal.setColor(QPalette::HighlightedText, Qt::white);
    return pal;
}

}  // namespace vt::app
