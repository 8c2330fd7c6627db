// vantrec-tool repair BROKEN.mp4 [--reference GOOD.mp4] -o OUT.mp4: rebuilds a recording whose
// index was never written into a new file; the broken one is only read.
#include <string>

#include "engine/reader/reader.h"
#include "engine/repair/repair.h"
#include "tools/vantrec-tool/command.h"

namespace {

void Note(const std::string &line) { std::fprintf(stderr, "%s\n", line.c_str()); }

// The engine has no text of its own for a read error.
std::string Why(MeResult r) {
    return r == ME_ERR_FILE_IO ? "the card could not be read" : MeErrorText(r);
}

int Repair(int argc, char **argv) {
    const char *out = vt::tool::Option(argc, argv, "-o");
    if (argc < 2 || argv[1][0] == '-' || !out)
        return vt::tool::Fail("usage: repair BROKEN.mp4 [--reference GOOD.mp4] -o OUT.mp4");
    const std::string broken = argv[1];
    std::string reference;
    bool found = false;
    if (const char *r = vt::tool::Option(argc, argv, "--reference")) {
        reference = r;
    } else if (vt::tool::HasFlag(argc, argv, "--reference")) {
        return vt::tool::Fail("--reference needs a recording");
    } else {
        reference = RepairFindReference(broken.c_str());
        found = !reference.empty();
    }
    RepairLayout layout;
    if (!reference.empty()) {
        MeResult r = RepairLearnLayout(reference.c_str(), &layout);
        if (r == ME_ERR_UNSUPPORTED_FILE)
            return vt::tool::Fail(reference +
                                  ": not a complete recording of the camera to learn from");
        if (r != ME_OK) return vt::tool::Fail(reference + ": " + Why(r));
    }
    RepairScan scan;
    MeResult r = RepairScanFile(broken.c_str(), reference.empty() ? nullptr : &layout, &scan);
    if (r != ME_OK) return vt::tool::Fail(broken + ": " + Why(r));
    if (scan.outcome == REPAIR_NOTHING_TO_DO)
        return vt::tool::Fail(broken + ": nothing to repair: its index is intact");
    if (scan.outcome == REPAIR_NO_MEDIA)
        return vt::tool::Fail(broken + ": no media of the camera's recordings found in it");
    const char *detail = nullptr;
    r = RepairWriteFile(broken.c_str(), &scan, out, &detail);
    if (r != ME_OK)
        return vt::tool::Fail(std::string(out) + ": " + (detail ? std::string(detail) : Why(r)));
    // On success only: a failure is one line.
    if (found) Note("reference: " + reference);
    if (scan.audio_left_out || (reference.empty() && scan.samples[REPAIR_AUDIO].empty()))
        Note(reference.empty()
                 ? "audio left out: no reference recording of the camera to read its set-up from"
                 : "audio left out: it does not read with the reference's set-up");
    if (scan.damaged_stretches)
        Note("damaged stretches skipped: " + std::to_string(scan.damaged_stretches));
    Note("recovered video=" + std::to_string(scan.samples[REPAIR_VIDEO].size()) +
         " audio=" + std::to_string(scan.samples[REPAIR_AUDIO].size()) +
         " data=" + std::to_string(scan.samples[REPAIR_DATA].size()) +
         " duration_ms=" + std::to_string(scan.duration_ms));
    return 0;
}

}  // namespace

VT_TOOL_COMMAND("repair", "BROKEN.mp4 [--reference GOOD.mp4] -o OUT.mp4", Repair);
