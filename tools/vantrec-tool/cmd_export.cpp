// vantrec-tool export FILE... --from MS --to MS -o OUT.mp4 [--sidecars]: a clip copied sample by
// sample from one recording or the recordings of a trip, with OUT.sha256 listing the sources and
// what was written; --sidecars adds OUT.srt (subtitles) and OUT.gpx (the track). Times are trip
// times (milliseconds from the start of the first recording).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/writer/clip.h"
#include "report/clip_sidecars.h"
#include "tools/vantrec-tool/command.h"

namespace vt::tool {
namespace {

constexpr const char *kUsage = "FILE... --from MS --to MS -o OUT.mp4 [--sidecars]";

bool ParseMs(const char *text, int64_t *out) {
    if (!text) return false;
    char *end = nullptr;
    errno = 0;
    long long v = std::strtoll(text, &end, 10);
    if (errno || end == text || *end) return false;
    *out = v;
    return true;
}

// OUT.mp4 -> OUT.EXT (the extension replaced when it is .mp4 in any case, else appended).
std::string Beside(const std::string &out, const char *ext) {
    size_t dot = out.find_last_of('.');
    size_t slash = out.find_last_of('/');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash) &&
        strcasecmp(out.c_str() + dot, ".mp4") == 0)
        return out.substr(0, dot) + ext;
    return out + ext;
}

int Export(int argc, char **argv) {
    ClipRequest req;
    const char *from = nullptr, *to = nullptr, *out = nullptr;
    bool sidecars = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--from" || a == "--to" || a == "-o") {
            if (i + 1 >= argc) return Fail("usage: export " + std::string(kUsage));
            (a == "--from" ? from : a == "--to" ? to : out) = argv[++i];
        } else if (a == "--sidecars") {
            sidecars = true;
        } else if (a.size() > 1 && a[0] == '-') {
            return Fail("export: unknown option '" + a + "'");
        } else {
            req.sources.push_back(a);
        }
    }
    if (req.sources.empty() || !from || !to || !out)
        return Fail("usage: export " + std::string(kUsage));
    if (!ParseMs(from, &req.from_ms) || !ParseMs(to, &req.to_ms))
        return Fail("export: --from and --to take whole milliseconds");
    req.output = out;

    ClipResult res;
    if (MeFailed(ClipExport(req, &res))) return Fail("export: " + res.error);

    std::vector<std::string> listed;
    for (size_t i : res.used) listed.push_back(req.sources[i]);
    listed.push_back(req.output);
    if (sidecars) {
        // Subtitles and a map track from the records copied into the clip: clip times.
        const std::string srt = Beside(req.output, ".srt"), gpx = Beside(req.output, ".gpx");
        std::string error;
        if (!report::WriteClipSidecars(req.output, srt, gpx, &error))
            return Fail("export: " + error);
        listed.push_back(srt);
        listed.push_back(gpx);
    }
    std::string error;
    if (MeFailed(WriteSha256Manifest(Beside(req.output, ".sha256"), listed, &error)))
        return Fail("export: " + error);
    std::fprintf(
        stderr, "exported video=%u audio=%u data=%u start_ms=%lld duration_ms=%lld bytes=%llu\n",
        res.video, res.audio, res.data, static_cast<long long>(res.start_ms),
        static_cast<long long>(res.duration_ms), static_cast<unsigned long long>(res.bytes));
    return 0;
}

VT_TOOL_COMMAND("export", kUsage, Export);

}  // namespace
}  // namespace vt::tool
