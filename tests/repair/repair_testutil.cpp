#include "tests/repair/repair_testutil.h"

#include <map>
#include <tuple>

#include "tests/common/testutil.h"
#include "tests/mkrec/mkrec_testutil.h"
#include "tools/mkrec/mkrec.h"

namespace vt::test::repair {

namespace mk = vt::test::mkrec;

bool ReadTruth(const Bytes &file, Truth *out) {
    *out = Truth{};
    for (int t = 0; t < 3; ++t) {
        std::string trak = "trak#" + std::to_string(t);
        mk::Box hdlr, stsz, stsc, stco;
        if (!mk::FindBox(file, {"moov", trak, "mdia", "hdlr"}, &hdlr)) continue;
        std::string handler(reinterpret_cast<const char *>(file.data() + hdlr.Payload() + 8), 4);
        int kind = handler == "vide" ? 0 : handler == "soun" ? 1 : handler == "sdsm" ? 2 : -1;
        if (kind < 0 || !mk::FindBox(file, {"moov", trak, "mdia", "minf", "stbl", "stsz"}, &stsz) ||
            !mk::FindBox(file, {"moov", trak, "mdia", "minf", "stbl", "stsc"}, &stsc) ||
            !mk::FindBox(file, {"moov", trak, "mdia", "minf", "stbl", "stco"}, &stco))
            return false;
        uint32_t fixed = mk::Be32(file, stsz.Payload() + 4);
        uint32_t count = mk::Be32(file, stsz.Payload() + 8);
        uint32_t chunks = mk::Be32(file, stco.Payload() + 4);
        uint32_t entries = mk::Be32(file, stsc.Payload() + 4);
        uint32_t sample = 0;
        for (uint32_t c = 0; c < chunks && sample < count; ++c) {
            uint32_t per = 0;
            for (uint32_t e = 0; e < entries; ++e)
                if (mk::Be32(file, stsc.Payload() + 8 + 12 * e) <= c + 1)
                    per = mk::Be32(file, stsc.Payload() + 12 + 12 * e);
            uint64_t at = mk::Be32(file, stco.Payload() + 8 + 4 * c);
            for (uint32_t k = 0; k < per && sample < count; ++k, ++sample) {
                uint32_t size = fixed ? fixed : mk::Be32(file, stsz.Payload() + 12 + 4 * sample);
                out->samples[kind].push_back({at, size});
                at += size;
            }
        }
    }
    return !out->samples[2].empty();
}

Bytes MakeRecording(double seconds, bool with_audio, int loop) {
    static std::map<std::tuple<double, bool, int>, Bytes> cache;
    auto key = std::make_tuple(seconds, with_audio, loop);
    if (auto it = cache.find(key); it != cache.end()) return it->second;
    Bytes m4v = mk::EncodeStream("m4v", seconds);
    Bytes adts = with_audio ? mk::EncodeStream("adts", seconds) : Bytes{};
    if (m4v.empty() || (with_audio && adts.empty())) return {};
    vt::mkrec::Recording rec;
    std::string err;
    if (!vt::mkrec::SplitMpeg4Video(m4v, &rec.video, &err)) return {};
    if (with_audio && !vt::mkrec::ParseAdts(adts, &rec.audio, &err)) return {};
    rec.loop = loop;
    vt::mkrec::DriveScript drive;
    rec.records =
        vt::mkrec::PackRecords(vt::mkrec::ScriptDrive(drive, vt::mkrec::RecordCountFor(rec)));
    Bytes out;
    if (!vt::mkrec::BuildRecording(rec, &out, &err)) return {};
    cache[key] = out;
    return out;
}

}  // namespace vt::test::repair
