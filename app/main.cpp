#include <cstdio>
#include <cstdlib>

#include "app/playerapp.h"

// In sanitizer builds: SDL keeps a per-thread error buffer for threads it did not create, and
// fontconfig keeps its configuration for the life of the process; neither is ours to free.
extern "C" const char *__lsan_default_suppressions() {
    return "leak:libSDL2\nleak:libfontconfig\n";
}

int main(int argc, char **argv) {
    // --help, --version and a misspelt option are answered without a display.
    QStringList args;
    for (int i = 0; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
    const vt::app::CommandLine cl = vt::app::ParseCommandLine(args, true);
    if (!cl.error.isEmpty()) {
        std::fprintf(stderr, "vantrec-player: %s\n%s", qPrintable(cl.error),
                     qPrintable(vt::app::UsageText()));
        return 2;
    }
    if (cl.help) {
        std::fputs(qPrintable(vt::app::UsageText()), stdout);
        return 0;
    }
    if (cl.version) {
        std::printf("vantrec-player %s\n", VT_VERSION);
        return 0;
    }
    // SIGTERM and SIGINT are the window's to handle; SDL would turn them into a quit event
    // nobody reads. Set before any thread exists.
    setenv("SDL_NO_SIGNAL_HANDLERS", "1", 1);
    vt::app::CPlayerApp app(argc, argv);
    return app.Run();
}
