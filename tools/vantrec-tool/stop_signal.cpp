#include "tools/vantrec-tool/stop_signal.h"

#include <csignal>
#include <cstdlib>

namespace vt::tool {
namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

}  // namespace

void CatchStopSignals() {
    // SDL would otherwise turn both signals into a quit event nobody reads.
    setenv("SDL_NO_SIGNAL_HANDLERS", "1", 1);
    struct sigaction sa = {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

bool StopRequested() { return g_stop != 0; }

}  // namespace vt::tool
