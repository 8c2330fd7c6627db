#include "app/fonts.h"

#include <QFontMetricsF>
#include <algorithm>
#include <cmath>

namespace vt::app {

QFont CellHeightFont(const QString &face, int cell_height, int weight) {
    QFont f(face);
    f.setPixelSize(100);
    f.setHintingPreference(QFont::PreferFullHinting);
    // Ascent plus descent of the face at 100 px gives the ratio between cell and em.
    const QFontMetricsF fm(f);
    const qreal ratio = fm.height() > 0 ? fm.height() / 100.0 : 1.15;
    f.setPixelSize(std::max(1, static_cast<int>(std::lround(cell_height / ratio))));
    f.setWeight(static_cast<QFont::Weight>(weight));
    return f;
}

}  // namespace vt::app
