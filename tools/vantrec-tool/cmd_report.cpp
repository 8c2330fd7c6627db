// vantrec-tool report FILE --at MS -o OUT.pdf [--threshold G]: the one-page incident report of a
// moment of a recording, and OUT.sha256 listing the recording and the report.
#include <QGuiApplication>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/writer/clip.h"
#include "report/incident_report.h"
#include "tools/vantrec-tool/command.h"

namespace vt::tool {
namespace {

constexpr const char *kUsage = "FILE --at MS -o OUT.pdf [--threshold G]";

std::string Beside(const std::string &out, const char *ext) {
    size_t dot = out.find_last_of('.');
    size_t slash = out.find_last_of('/');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash) &&
        strcasecmp(out.c_str() + dot, ".pdf") == 0)
        return out.substr(0, dot) + ext;
    return out + ext;
}

// Qt's notes (a missing runtime folder under the offscreen platform, font fallbacks) are not the
// command's to report: stderr keeps its one line on failure.
void QuietQt(QtMsgType type, const QMessageLogContext &, const QString &text) {
    if (type == QtCriticalMsg || type == QtFatalMsg) std::fprintf(stderr, "%s\n", qPrintable(text));
}

int Report(int argc, char **argv) {
    const char *at = Option(argc, argv, "--at");
    const char *out = Option(argc, argv, "-o");
    if (argc < 2 || argv[1][0] == '-' || !at || !out)
        return Fail("usage: report " + std::string(kUsage));
    report::ReportRequest req;
    req.recording = argv[1];
    req.output = out;
    char *end = nullptr;
    errno = 0;
    req.at_ms = std::strtoll(at, &end, 10);
    if (errno || end == at || *end) return Fail("report: --at takes whole milliseconds");
    if (const char *t = Option(argc, argv, "--threshold")) {
        req.threshold_g = std::strtod(t, &end);
        if (end == t || *end || !(req.threshold_g > 0))
            return Fail("report: --threshold takes a positive number of G");
    }

    // Fonts need a GUI application; without a display the offscreen platform serves.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(QuietQt);
    int qt_argc = 1;
    char *qt_argv[] = {argv[0], nullptr};
    QGuiApplication app(qt_argc, qt_argv);

    report::ReportFacts facts;
    std::string error;
    if (!report::WriteIncidentReport(req, &facts, &error)) return Fail("report: " + error);
    if (MeFailed(WriteSha256Manifest(Beside(req.output, ".sha256"), {req.recording, req.output},
                                     &error)))
        return Fail("report: " + error);
    std::fprintf(stderr, "report picture_ms=%lld events=%zu sha256=%s\n",
                 static_cast<long long>(facts.picture_ms), facts.events, facts.sha256.c_str());
    return 0;
}

VT_TOOL_COMMAND("report", kUsage, Report);

}  // namespace
}  // namespace vt::tool
