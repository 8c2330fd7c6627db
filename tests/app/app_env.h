#pragma once
// The Qt application every window test runs in (offscreen platform) and helpers around it.
#include <QString>
#include <functional>

namespace vt::test {

// Creates the application on first use; the scripted engine replaces the media engine.
void EnsureQtApp();
// Runs posted events until the queue is empty.
void PumpEvents();

}  // namespace vt::test
