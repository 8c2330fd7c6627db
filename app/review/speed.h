#pragma once
// Playback speeds the keys step through, in percent of normal.
#include <QString>

namespace vt::app::review {

inline constexpr int kSpeedSteps[] = {25, 50, 100, 150, 200, 400};
inline constexpr int kNormalSpeed = 100;

// The next step above / below `percent` (a speed between steps moves to the neighbouring one);
// the ends stay where they are.
int FasterSpeed(int percent);
int SlowerSpeed(int percent);
// How the speed shows over the picture: "0.25x", "1.5x", "2x".
QString SpeedText(int percent);

}  // namespace vt::app::review
