#pragma once
// Ctrl+C and kill for long commands (play): the first SIGINT or SIGTERM only raises a flag the
// command polls, so it stops the engine and still prints what it has; a second one ends the
// process the default way.
namespace vt::tool {

// Installs the handlers and keeps libraries (SDL) from installing their own. Call from the main
// thread before the engine starts.
void CatchStopSignals();
bool StopRequested();

}  // namespace vt::tool
