#pragma once
// Fonts given as a cell height in pixels (ascent plus descent), which is how the window's layout
// measures its texts; Qt sizes fonts by their em, so the height is converted with the face's line
// spacing.
#include <QFont>
#include <QString>

namespace vt::app {

QFont CellHeightFont(const QString &face, int cell_height, int weight = 400);

}  // namespace vt::app
