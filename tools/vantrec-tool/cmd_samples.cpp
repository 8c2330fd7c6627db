// vantrec-tool samples FILE --kind audio|video|data: one line per sample in read order,
// "TIME_MS DURATION_MS SIZE MD5".
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/reader/reader.h"
#include "tools/common/md5.h"
#include "tools/vantrec-tool/command.h"
#include "tools/vantrec-tool/track_input.h"

namespace {

int Samples(int argc, char **argv) {
    const char *kind_text = vt::tool::Option(argc, argv, "--kind");
    if (argc < 2 || !kind_text)
        return vt::tool::Fail("usage: samples FILE --kind audio|video|data");
    int kind = std::strcmp(kind_text, "audio") == 0   ? TRACK_AUDIO
               : std::strcmp(kind_text, "video") == 0 ? TRACK_VIDEO
               : std::strcmp(kind_text, "data") == 0  ? TRACK_DATA
                                                      : 0;
    if (!kind) return vt::tool::Fail(std::string("unknown kind '") + kind_text + "'");
    Reader *reader = nullptr;
    MeResult res = ReaderOpen(argv[1], &reader);
    if (res != ME_OK) return vt::tool::Fail(std::string(argv[1]) + ": " + MeErrorText(res));
    MediaInfo mi{};
    res = ReaderGetInfo(reader, &mi);
    if (res != ME_OK) {
        ReaderClose(reader);
        return vt::tool::Fail(std::string(argv[1]) + ": " + MeErrorText(res));
    }
    std::vector<uint8_t> buf(256 * 1024);
    SampleRequest req;
    std::string out;
    while ((res = vt::tool::ReadNext(reader, kind, &buf, &req)) == ME_OK) {
        out += std::to_string(req.time_ms) + " " + std::to_string(req.duration_ms) + " " +
               std::to_string(req.written) + " " + vt::Md5Hex(buf.data(), req.written) + "\n";
        if (out.size() > 1 << 16) {
            std::fputs(out.c_str(), stdout);
            out.clear();
        }
    }
    std::fputs(out.c_str(), stdout);
    ReaderClose(reader);
    if (res == ME_ERR_NO_TRACK)
        return vt::tool::Fail(std::string(argv[1]) + ": no " + kind_text + " track");
    if (res != ME_ERR_END_OF_DATA)
        return vt::tool::Fail(std::string(argv[1]) + ": " + MeErrorText(res));
    return 0;
}

}  // namespace

VT_TOOL_COMMAND("samples", "FILE --kind audio|video|data", Samples);
