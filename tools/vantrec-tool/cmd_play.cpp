// vantrec-tool play FILE...: plays recordings through the whole engine (offscreen display, audio
// device) and prints what happened as one JSON object. A script of timed commands (--do) drives
// the player like a user would, and --trace writes one line per picture drawn, with the MD5 of
// the picture as decode-video would write it, so a run can be checked picture by picture.
#include <sys/stat.h>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "engine/api/player_api.h"
#include "engine/core/os.h"
#include "engine/reader/reader.h"
#include "tools/common/md5.h"
#include "tools/vantrec-tool/command.h"
#include "tools/vantrec-tool/stop_signal.h"

namespace {

std::atomic<int> g_ended{0};

void OnEnded(void *) { g_ended.store(1); }

bool ParseMs(const char *text, int32_t *out) {
    if (!text || !*text) return false;
    char *end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (*end || v < 0 || v > 0x7FFFFFFF) return false;
    *out = int32_t(v);
    return true;
}

int32_t Percentile(const PlayerStats &s, double q) {
    if (s.av_offset_count == 0) return -1;
    uint64_t want = uint64_t(q * s.av_offset_count + 0.999999);
    if (want == 0) want = 1;
    uint64_t seen = 0;
    for (int i = 0; i <= 1000; ++i) {
        seen += s.av_offset_histogram[i];
        if (seen >= want) return i;
    }
    return 1000;
}

// ---- The script -------------------------------------------------------------------------------

enum class Cmd { Seek, SeekExact, Pause, Play, Step, StepBack, Speed, Stop };

struct ScriptEntry {
    int32_t at_ms;
    Cmd cmd;
    int32_t arg;
    std::string text;  // as given, for messages
};

// "T:CMD" with CMD one of seek=MS, seek-exact=MS, pause, play, step, step-back, speed=PCT, stop.
bool ParseDo(const char *text, ScriptEntry *e) {
    std::string s = text;
    size_t colon = s.find(':');
    if (colon == std::string::npos || !ParseMs(s.substr(0, colon).c_str(), &e->at_ms)) return false;
    std::string cmd = s.substr(colon + 1), value;
    size_t eq = cmd.find('=');
    if (eq != std::string::npos) {
        value = cmd.substr(eq + 1);
        cmd.resize(eq);
    }
    e->text = s;
    e->arg = 0;
    struct Name {
        const char *name;
        Cmd cmd;
        bool takes_value;
    };
    static const Name kNames[] = {
        {"seek", Cmd::Seek, true},    {"seek-exact", Cmd::SeekExact, true},
        {"pause", Cmd::Pause, false}, {"play", Cmd::Play, false},
        {"step", Cmd::Step, false},   {"step-back", Cmd::StepBack, false},
        {"speed", Cmd::Speed, true},  {"stop", Cmd::Stop, false},
    };
    for (const Name &n : kNames) {
        if (cmd != n.name) continue;
        if (n.takes_value != (eq != std::string::npos)) return false;
        if (n.takes_value && !ParseMs(value.c_str(), &e->arg)) return false;
        if (n.cmd == Cmd::Speed && e->arg == 0) return false;
        e->cmd = n.cmd;
        return true;
    }
    return false;
}

int RunCommand(Player *player, const ScriptEntry &e) {
    switch (e.cmd) {
        case Cmd::Seek: return PlayerSeek(player, e.arg, PLAYER_SEEK_AUDIO_FIRST);
        case Cmd::SeekExact: return PlayerSeek(player, e.arg, PLAYER_SEEK_VIDEO_FIRST);
        case Cmd::Pause: return PlayerPause(player);
        case Cmd::Play: return PlayerPlay(player);
        case Cmd::Step: return PlayerForward(player, 0, PLAYER_MOVE_PICTURE);
        case Cmd::StepBack: return PlayerBackward(player, 0, PLAYER_MOVE_PICTURE);
        case Cmd::Speed: return PlayerSetSpeed(player, e.arg);
        case Cmd::Stop: return PlayerStop(player);
    }
    return 0;
}

// ---- The trace --------------------------------------------------------------------------------

struct TraceLine {
    uint32_t wall_ms;
    int64_t clock_ms;
    int32_t picture_ms;
    std::string md5;
};

struct Trace {
    std::mutex lock;
    std::vector<TraceLine> lines;
    bool tracing = false;
    Player *player = nullptr;
    uint32_t zero_tick = 0;
    // The longest time without a new picture while playing undisturbed (no command just given).
    std::atomic<bool> measuring{false};
    uint32_t last_wall = 0;
    bool have_last = false;
    uint32_t gap_max = 0;
};

Trace g_trace;

// On the video task: fingerprint the picture as decode-video writes it (I420, display size).
void OnPicture(void *, const DisplayPicture *pic) {
    TraceLine line;
    line.wall_ms = OsTickCount() - g_trace.zero_tick;
    {
        std::lock_guard<std::mutex> g(g_trace.lock);
        if (g_trace.measuring.load()) {
            if (g_trace.have_last && line.wall_ms - g_trace.last_wall > g_trace.gap_max)
                g_trace.gap_max = line.wall_ms - g_trace.last_wall;
            g_trace.last_wall = line.wall_ms;
            g_trace.have_last = true;
        } else {
            g_trace.have_last = false;
        }
        if (!g_trace.tracing) return;
    }
    line.clock_ms = PlayerClockPosition(g_trace.player);
    line.picture_ms = pic->time_ms;
    vt::Md5 md5;
    const int32_t w = pic->width, h = pic->height, cw = (w + 1) / 2, ch = (h + 1) / 2;
    for (int32_t r = 0; r < h; ++r) md5.Update(pic->y + size_t(r) * pic->stride, size_t(w));
    for (int32_t r = 0; r < ch; ++r) md5.Update(pic->u + size_t(r) * (pic->stride / 2), size_t(cw));
    for (int32_t r = 0; r < ch; ++r) md5.Update(pic->v + size_t(r) * (pic->stride / 2), size_t(cw));
    line.md5 = md5.HexDigest();
    std::lock_guard<std::mutex> g(g_trace.lock);
    g_trace.lines.push_back(std::move(line));
}

uint32_t GapMax() {
    std::lock_guard<std::mutex> g(g_trace.lock);
    return g_trace.gap_max;
}

bool WriteTrace(const std::string &path) {
    FILE *f = std::fopen(path.c_str(), "w");
    if (!f) return false;
    std::lock_guard<std::mutex> g(g_trace.lock);
    bool ok = true;
    for (const TraceLine &l : g_trace.lines)
        ok &= std::fprintf(f, "%u\t%lld\t%d\t%s\n", l.wall_ms, static_cast<long long>(l.clock_ms),
                           l.picture_ms, l.md5.c_str()) > 0;
    ok &= std::fclose(f) == 0;
    return ok;
}

// Options that take a value; every other argument not starting with "--" is a file to play.
bool TakesValue(const char *arg) {
    for (const char *o :
         {"--seek", "--pause-at", "--speed", "--until", "--capture", "--do", "--trace"})
        if (std::strcmp(arg, o) == 0) return true;
    return false;
}

int Play(int argc, char **argv) {
    std::vector<const char *> files;
    std::vector<ScriptEntry> script;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--", 2) != 0) {
            files.push_back(argv[i]);
        } else if (TakesValue(argv[i])) {
            if (i + 1 >= argc) return vt::tool::Fail(std::string(argv[i]) + " needs a value");
            if (std::strcmp(argv[i], "--do") == 0) {
                ScriptEntry e;
                if (!ParseDo(argv[i + 1], &e))
                    return vt::tool::Fail(std::string("bad --do ") + argv[i + 1] + " (T:CMD)");
                script.push_back(e);
            }
            ++i;
        }
    }
    if (files.empty()) return vt::tool::Fail("usage: play FILE [options]");
    // Commands given for the same moment run in the order given.
    std::stable_sort(script.begin(), script.end(),
                     [](const ScriptEntry &a, const ScriptEntry &b) { return a.at_ms < b.at_ms; });

    int32_t seek = 0, pause_at = -1, speed = 100, until = -1, capture_at = -1;
    std::string capture_path, trace_path;
    const char *opt;
    if ((opt = vt::tool::Option(argc, argv, "--seek")) && !ParseMs(opt, &seek))
        return vt::tool::Fail("bad --seek");
    if ((opt = vt::tool::Option(argc, argv, "--pause-at")) && !ParseMs(opt, &pause_at))
        return vt::tool::Fail("bad --pause-at");
    if ((opt = vt::tool::Option(argc, argv, "--speed")) && (!ParseMs(opt, &speed) || speed == 0))
        return vt::tool::Fail("bad --speed");
    if ((opt = vt::tool::Option(argc, argv, "--until")) && !ParseMs(opt, &until))
        return vt::tool::Fail("bad --until");
    if ((opt = vt::tool::Option(argc, argv, "--capture"))) {
        std::string spec = opt;
        size_t at = spec.rfind('@');
        if (at == std::string::npos || at == 0 || !ParseMs(spec.c_str() + at + 1, &capture_at))
            return vt::tool::Fail("bad --capture (OUT.jpg@MS)");
        capture_path = spec.substr(0, at);
    }
    if ((opt = vt::tool::Option(argc, argv, "--trace"))) trace_path = opt;
    // Without a device the engine plays on without sound; naming no usable driver gets exactly that.
    if (vt::tool::HasFlag(argc, argv, "--no-audio")) setenv("SDL_AUDIODRIVER", "none", 1);

    uint32_t total_duration = 0;
    for (const char *f : files) {
        PlayerOpenParams probe{};
        probe.path = f;
        MediaSummary summary;
        if (ReaderCheckIndex(f) == READER_INDEX_MISSING)
            return vt::tool::Fail(std::string(f) + ": " + kReaderIndexMissingText);
        MeResult info = PlayerGetMediaInfo(&probe, &summary, nullptr);
        if (MeFailed(info)) return vt::tool::Fail(std::string(f) + ": " + MeErrorText(info));
        total_duration += summary.duration_ms;
    }

    vt::tool::CatchStopSignals();
    PlayerConfig cfg{};
    cfg.ended = OnEnded;
    Player *player = PlayerCreate(&cfg);
    if (!player) return vt::tool::Fail(MeErrorText(ME_ERR_MEMORY));
    PlayerVideoParams vp{};
    vp.flags = PLAYER_VIDEO_RENDER_TYPE | PLAYER_VIDEO_PRESENT;
    vp.render_type = PLAYER_RENDER_WINDOW;
    vp.present_enabled = 1;
    PlayerSetVideoParams(player, &vp);
    PlayerAudioParams ap{};
    ap.flags = PLAYER_AUDIO_OUTPUT | PLAYER_AUDIO_VOLUME;
    ap.output_type = PLAYER_AUDIO_OUTPUT_DEVICE;
    ap.volume = 0xFFFFFFFF;
    PlayerSetAudioParams(player, &ap);

    g_trace.player = player;
    g_trace.zero_tick = OsTickCount();
    g_trace.tracing = !trace_path.empty();
    DisplaySetPictureObserver(OnPicture, nullptr);

    // The files play as one trip: while one plays the next is queued, and the engine follows on
    // without a pause when the recordings are alike; otherwise the next is opened when one ends.
    size_t file_index = 0, first_of_playback = 0, queued = 0;
    auto open_file = [&](size_t i, int32_t start) {
        PlayerOpenParams op{};
        op.path = files[i];
        op.start_ms = start;
        g_ended.store(0);
        first_of_playback = queued = i;
        return PlayerOpen(player, &op) != 0;
    };
    if (!open_file(0, seek)) {
        DisplaySetPictureObserver(nullptr, nullptr);
        PlayerDestroy(player);
        return vt::tool::Fail("the engine refused to open " + std::string(files[0]));
    }
    bool speed_set = speed == 100, paused = false, captured = capture_at < 0;
    uint32_t paused_tick = 0, capture_tick = 0, last_command_tick = 0;
    size_t next_command = 0;
    bool stopped = false;
    int32_t position = seek;
    int state = STATE_OPEN_REQUESTED;
    MeResult failure = 0;
    for (;;) {
        PlayerStatus st;
        PlayerGetStatus(player, &st);
        state = st.state;
        if (st.last_error && (!failure || st.last_error == ME_ERR_FILE_IO) &&
            st.last_error != ME_ERR_TEXT_DECODER_INIT)
            failure = st.last_error;
        if (files.size() > 1) {
            PlayerStats trip;
            PlayerGetStats(player, &trip);
            if (trip.recordings > 0) file_index = first_of_playback + trip.recordings - 1;
        }
        if (vt::tool::StopRequested()) break;
        if (st.state == STATE_IDLE || g_ended.load()) {
            // A recording that could not follow on is opened once the one before has ended.
            if (!stopped && g_ended.load() && file_index + 1 < files.size()) {
                PlayerStop(player);
                if (open_file(file_index + 1, 0)) {
                    file_index = first_of_playback;
                    continue;
                }
            }
            break;
        }
        if (queued == file_index && file_index + 1 < files.size() && st.state == STATE_PLAYING) {
            PlayerOpenParams next{};
            next.path = files[file_index + 1];
            if (PlayerQueueNext(player, &next)) queued = file_index + 1;
        }
        const uint32_t now = OsTickCount() - g_trace.zero_tick;
        g_trace.measuring.store(
            st.state == STATE_PLAYING &&
            (last_command_tick == 0 || OsTickCount() - last_command_tick > 300));
        while (next_command < script.size() && script[next_command].at_ms <= int32_t(now)) {
            const ScriptEntry &e = script[next_command++];
            if (!RunCommand(player, e))
                std::fprintf(stderr, "vantrec-tool: at %u ms: %s refused\n", now, e.text.c_str());
            if (e.cmd == Cmd::Stop) stopped = true;
            last_command_tick = OsTickCount();
        }
        if (stopped) {
            PlayerGetStatus(player, &st);
            state = st.state;
            break;
        }
        bool running = st.state == STATE_PLAYING || st.state == STATE_PAUSED;
        if (running) position = st.position_ms;
        if (!speed_set && st.state == STATE_PLAYING)
            speed_set = PlayerSetSpeed(player, speed) || true;
        if (!captured && running && position >= capture_at && !capture_tick) {
            DisplayRequestCapture(capture_path.c_str());
            capture_tick = OsTickCount();
        }
        if (capture_tick && !captured) {
            struct stat sb;
            if (stat(capture_path.c_str(), &sb) == 0 && sb.st_size > 0) captured = true;
            else if (OsTickCount() - capture_tick > 3000) captured = true;  // reported below
        }
        if (pause_at >= 0 && !paused && st.state == STATE_PLAYING && position >= pause_at) {
            PlayerPause(player);
            paused = true;
            paused_tick = OsTickCount();
        }
        if (paused && st.state == STATE_PAUSED && captured && OsTickCount() - paused_tick > 300)
            break;
        if (until >= 0 && running && position >= until && captured) break;
        // A script that leaves the player paused ends the run once the last command settled.
        if (!script.empty() && next_command == script.size() && st.state == STATE_PAUSED &&
            captured && OsTickCount() - last_command_tick > 500)
            break;
        OsSleep(5);
    }
    PlayerStats stats;
    PlayerGetStats(player, &stats);
    PlayerStop(player);
    PlayerDestroy(player);
    DisplaySetPictureObserver(nullptr, nullptr);

    if (!trace_path.empty() && !WriteTrace(trace_path))
        return vt::tool::Fail("cannot write " + trace_path);
    if (capture_at >= 0) {
        struct stat sb;
        if (stat(capture_path.c_str(), &sb) != 0) return vt::tool::Fail("no capture written");
    }
    if (failure == ME_ERR_FILE_IO)
        return vt::tool::Fail(std::string(files[file_index]) +
                              ": the recording could no longer be read (card removed, "
                              "or the file cut shorter or deleted)");
    if (stats.frames_presented == 0 && stats.audio_blocks == 0 && failure)
        return vt::tool::Fail(std::string(files[file_index]) + ": " + MeErrorText(failure));
    std::printf(
        "{\"duration_ms\": %u, \"position_ms\": %d, \"state\": %d, \"frames_presented\": %u, "
        "\"frames_late\": %u, \"frames_late_drop\": %u, \"frames_late_skip\": %u, "
        "\"early_waits\": %u, \"audio_blocks\": %u, \"first_picture_ms\": %d, "
        "\"av_offset_p50_ms\": %d, \"av_offset_p95_ms\": %d, \"files_played\": %zu, "
        "\"gap_ms_max\": %u}\n",
        total_duration, position, state, stats.frames_presented, stats.frames_late,
        stats.frames_late_drop, stats.frames_late_skip, stats.early_waits, stats.audio_blocks,
        stats.first_picture_ms, Percentile(stats, 0.50), Percentile(stats, 0.95), file_index + 1,
        GapMax());
    return 0;
}

}  // namespace

VT_TOOL_COMMAND("play",
                "play FILE [FILE...] [--seek MS] [--pause-at MS] [--speed PCT] [--until MS] "
                "[--capture OUT.jpg@MS] [--no-audio] [--do T:CMD ...] [--trace OUT.tsv]",
                Play);
