#pragma once
// The window's one way of letting time pass on the user-interface thread.
#include <functional>

namespace vt::app {

enum class WaitStyle {
    // The thread sleeps: nothing else happens meanwhile (the classic pauses between engine
    // commands, whose order the window relies on).
    kSleep,
    // The event loop keeps running (paints, timers, posted messages) but takes no user input, so
    // the window stays drawn and no second command can start in the middle of the first.
    kResponsive,
};

// Waits `ms` milliseconds, or less once `done` (when given) returns true. Returns whether `done`
// held at the end (true when no condition was given).
bool Wait(int ms, WaitStyle style = WaitStyle::kSleep, const std::function<bool()> &done = {});

}  // namespace vt::app
