#pragma once
// The one dark look of the companion windows (Trip and map, Export clip, Find events), matching
// the main window.
#include <QPalette>

namespace vt::app {

QPalette CompanionPalette();

}  // namespace vt::app
