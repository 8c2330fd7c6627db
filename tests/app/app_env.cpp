#include "tests/app/app_env.h"

#include <QApplication>
#include <QCoreApplication>

#include "app/playercontrol.h"
#include "tests/app/fake_engine.h"

// fontconfig keeps its caches until the process ends; that is not ours to free.
extern "C" const char *__lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace vt::test {

void EnsureQtApp() {
    if (QCoreApplication::instance() != nullptr) return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "app_tests";
    static char *argv[] = {name, nullptr};
    new QApplication(argc, argv);
    vt::app::CPlayerControl::UseEngine(FakeEngineOps());
}

void PumpEvents() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents);
}

}  // namespace vt::test
