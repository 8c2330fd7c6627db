// vantrec-mkrec: writes a recording in the camera's layout from elementary streams and a scripted
// drive. Exit status 0 on success, 2 with a one-line message on stderr otherwise.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/mkrec/mkrec.h"

namespace {

const char kUsage[] =
    "usage: vantrec-mkrec -o OUT.mp4 [--video FILE] [--audio FILE.aac] [options]\n"
    "  --video FILE        MPEG-4 Part 2 elementary stream (.m4v) or H.263 stream (.h263)\n"
    "  --audio FILE        ADTS AAC stream\n"
    "  --fps N | N/D       video frame rate (default 30; H.263 streams default to 30000/1001)\n"
    "  --model ID          model identifier in every record (default ZRDMODEL25)\n"
    "  --start TIME        time of the first record, \"YYYY-MM-DD HH:MM:SS\" (default 2026-11-08 "
    "08:30:00)\n"
    "  --loop N            repeat the video and audio samples N times with continuing time stamps\n"
    "  --records N         number of 100 ms records (default: enough to cover the media)\n"
    "  --drive-offset S    seconds of the drive already behind at the first record (default 0)\n"
    "  --origin LAT,LON    where the drive starts, signed decimal degrees\n"
    "  --events LIST       drive events as KIND@SECONDS (brake, pothole, impact), comma "
    "separated,\n"
    "                      in drive time; \"none\" for none (default "
    "brake@4,pothole@7.5,impact@10.5)\n"
    "  --plate TEXT, --driver TEXT, --firmware TEXT   texts of the car-information block\n";

int Fail(const std::string &message) {
    std::fprintf(stderr, "vantrec-mkrec: %s\n", message.c_str());
    return 2;
}

bool ParseInt(const char *text, long min, long max, long *out) {
    char *end = nullptr;
    errno = 0;
    long v = std::strtol(text, &end, 10);
    if (errno || end == text || *end || v < min || v > max) return false;
    *out = v;
    return true;
}

bool ParseDouble(const char *text, double *out) {
    char *end = nullptr;
    double v = std::strtod(text, &end);
    if (end == text || *end || !std::isfinite(v)) return false;
    *out = v;
    return true;
}

bool ParseFps(const char *text, uint32_t *timescale, uint32_t *delta) {
    const char *slash = std::strchr(text, '/');
    long num, den;
    if (!slash) {
        if (!ParseInt(text, 1, 240, &num)) return false;
        *timescale = static_cast<uint32_t>(num) * 1000;
        *delta = 1000;
        return true;
    }
    std::string a(text, slash);
    if (!ParseInt(a.c_str(), 1, 1000000, &num) || !ParseInt(slash + 1, 1, 1000000, &den))
        return false;
    if (num / den > 240 || num < den) return false;
    *timescale = static_cast<uint32_t>(num);
    *delta = static_cast<uint32_t>(den);
    return true;
}

bool ParseEvents(const std::string &text, std::vector<vt::mkrec::DriveEvent> *events) {
    events->clear();
    if (text == "none") return true;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t comma = text.find(',', pos);
        std::string item =
            text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        size_t at = item.find('@');
        if (at == std::string::npos) return false;
        std::string kind = item.substr(0, at);
        double seconds;
        if (!ParseDouble(item.c_str() + at + 1, &seconds) || seconds < 0) return false;
        vt::mkrec::DriveEvent e;
        if (kind == "brake") e.kind = vt::mkrec::DriveEventKind::kBrake;
        else if (kind == "pothole") e.kind = vt::mkrec::DriveEventKind::kPothole;
        else if (kind == "impact") e.kind = vt::mkrec::DriveEventKind::kImpact;
        else return false;
        e.at_s = seconds;
        events->push_back(e);
        if (comma == std::string::npos) break;
        pos = comma + 1;
    }
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    using namespace vt::mkrec;
    const char *out = nullptr, *video = nullptr, *audio = nullptr, *fps = nullptr;
    long records = -1;
    Recording rec;
    DriveScript drive;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (i + 1 >= argc) return Fail("missing value after " + a + "\n" + kUsage);
        const char *v = argv[++i];
        long n;
        if (a == "-o") out = v;
        else if (a == "--video") video = v;
        else if (a == "--audio") audio = v;
        else if (a == "--fps") fps = v;
        else if (a == "--model") {
            if (std::strlen(v) == 0 || std::strlen(v) > kModelIdSize)
                return Fail("--model takes 1 to 10 characters");
            drive.model_id = v;
        } else if (a == "--start") {
            if (!ParseStartTime(v, &drive.start_unix))
                return Fail("--start wants \"YYYY-MM-DD HH:MM:SS\"");
        } else if (a == "--loop") {
            if (!ParseInt(v, 1, 100000, &n)) return Fail("--loop wants a count from 1 to 100000");
            rec.loop = static_cast<int>(n);
        } else if (a == "--records") {
            if (!ParseInt(v, 1, 100000000, &records))
                return Fail("--records wants a positive count");
        } else if (a == "--drive-offset") {
            if (!ParseDouble(v, &drive.drive_offset_s) || drive.drive_offset_s < 0 ||
                drive.drive_offset_s > 1e6)
                return Fail("--drive-offset wants seconds >= 0");
        } else if (a == "--origin") {
            std::string s = v;
            size_t comma = s.find(',');
            if (comma == std::string::npos ||
                !ParseDouble(s.substr(0, comma).c_str(), &drive.origin_latitude) ||
                !ParseDouble(s.substr(comma + 1).c_str(), &drive.origin_longitude) ||
                std::fabs(drive.origin_latitude) > 85 || std::fabs(drive.origin_longitude) > 180)
                return Fail("--origin wants LAT,LON in signed decimal degrees");
        } else if (a == "--events") {
            if (!ParseEvents(v, &drive.events))
                return Fail("--events wants KIND@SECONDS,... or none");
        } else if (a == "--plate") drive.plate = v;
        else if (a == "--driver") drive.driver = v;
        else if (a == "--firmware") drive.firmware = v;
        else return Fail("unknown option " + a + "\n" + kUsage);
    }
    if (!out) return Fail(std::string("no output file given (-o)\n") + kUsage);

    std::string error;
    if (video && !LoadVideoFile(video, &rec.video, &error)) return Fail(error);
    if (fps && !ParseFps(fps, &rec.video.timescale, &rec.video.frame_delta))
        return Fail("--fps wants N or N/D (1 to 240 frames per second)");
    if (audio && !LoadAdtsFile(audio, &rec.audio, &error)) return Fail(error);
    size_t count = records > 0 ? static_cast<size_t>(records) : RecordCountFor(rec);
    rec.records = PackRecords(ScriptDrive(drive, count));
    rec.creation_unix = drive.start_unix;
    if (!WriteRecording(rec, out, &error)) return Fail(error);
    std::fprintf(stderr, "%s: video=%zu audio=%zu records=%zu loop=%d\n", out,
                 rec.video.samples.size() * static_cast<size_t>(rec.loop),
                 rec.audio.frames.size() * static_cast<size_t>(rec.loop), rec.records.size(),
                 rec.loop);
    return 0;
}
