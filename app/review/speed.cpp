#include "app/review/speed.h"

#include <iterator>

namespace vt::app::review {

int FasterSpeed(int percent) {
    for (int s : kSpeedSteps)
        if (s > percent) return s;
    return kSpeedSteps[std::size(kSpeedSteps) - 1];
}

int SlowerSpeed(int percent) {
    int slower = kSpeedSteps[0];
    for (int s : kSpeedSteps)
        if (s < percent) slower = s;
    return slower;
}

QString SpeedText(int percent) {
    // At most two decimals, without trailing zeros.
    QString t = QString::number(percent / 100.0, 'f', 2);
    while (t.endsWith(QLatin1Char('0'))) t.chop(1);
    if (t.endsWith(QLatin1Char('.'))) t.chop(1);
    return t + QLatin1Char('x');
}

}  // namespace vt::app::review
