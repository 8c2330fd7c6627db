// vantrec-tool play FILE: plays a recording through the whole engine (offscreen display, audio
// device) and prints what happened as one JSON object.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "engine/api/player_api.h"
#include "engine/core/os.h"
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

int Play(int argc, char **argv) {
    if (argc < 2) return vt::tool::Fail("usage: play FILE [options]");
    const char *path = argv[1];
    int32_t seek = 0, pause_at = -1, speed = 100, until = -1, capture_at = -1;
    std::string capture_path;
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
    // Without a device the engine plays on without sound; naming no usable driver gets exactly that.
    if (vt::tool::HasFlag(argc, argv, "--no-audio")) setenv("SDL_AUDIODRIVER", "none", 1);

    PlayerOpenParams op{};
    op.path = path;
    MediaSummary summary;
    MeResult info = PlayerGetMediaInfo(&op, &summary, nullptr);
    if (MeFailed(info)) return vt::tool::Fail(std::string(path) + ": " + MeErrorText(info));

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

    op.start_ms = seek;
    if (!PlayerOpen(player, &op)) {
        PlayerDestroy(player);
        return vt::tool::Fail("the engine refused to open " + std::string(path));
    }
    bool speed_set = speed == 100, paused = false, captured = capture_at < 0;
    uint32_t paused_tick = 0, capture_tick = 0;
    int32_t position = seek;
    int state = STATE_OPEN_REQUESTED;
    MeResult failure = 0;
    for (;;) {
        PlayerStatus st;
        PlayerGetStatus(player, &st);
        state = st.state;
        if (st.last_error && !failure && st.last_error != ME_ERR_TEXT_DECODER_INIT)
            failure = st.last_error;
        if (st.state == STATE_IDLE || g_ended.load() || vt::tool::StopRequested()) break;
        bool running = st.state == STATE_PLAYING || st.state == STATE_PAUSED;
        if (running) position = st.position_ms;
        if (!speed_set && st.state == STATE_PLAYING) speed_set = PlayerSetSpeed(player, speed) || true;
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
        if (paused && st.state == STATE_PAUSED && captured && OsTickCount() - paused_tick > 300) break;
        if (until >= 0 && running && position >= until && captured) break;
        OsSleep(5);
    }
    PlayerStats stats;
    PlayerGetStats(player, &stats);
    PlayerStop(player);
    PlayerDestroy(player);

    if (capture_at >= 0) {
        struct stat sb;
        if (stat(capture_path.c_str(), &sb) != 0) return vt::tool::Fail("no capture written");
    }
    if (stats.frames_presented == 0 && stats.audio_blocks == 0 && failure)
        return vt::tool::Fail(std::string(path) + ": " + MeErrorText(failure));
    std::printf(
        "{\"duration_ms\": %u, \"position_ms\": %d, \"state\": %d, \"frames_presented\": %u, "
        "\"frames_late\": %u, \"frames_late_drop\": %u, \"frames_late_skip\": %u, "
        "\"early_waits\": %u, \"audio_blocks\": %u, \"first_picture_ms\": %d, "
        "\"av_offset_p50_ms\": %d, \"av_offset_p95_ms\": %d}\n",
        summary.duration_ms, position, state, stats.frames_presented, stats.frames_late,
        stats.frames_late_drop, stats.frames_late_skip, stats.early_waits, stats.audio_blocks,
        stats.first_picture_ms, Percentile(stats, 0.50), Percentile(stats, 0.95));
    return 0;
}

}  // namespace

VT_TOOL_COMMAND("play",
                "play FILE [--seek MS] [--pause-at MS] [--speed PCT] [--until MS] "
                "[--capture OUT.jpg@MS] [--no-audio]",
                Play);
