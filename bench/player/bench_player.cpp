// bench_player [FILE]: plays a recording at 1x through the Player API (offscreen display, the
// SDL disk audio driver writing to /dev/null, which paces like a sound card) and reports what it
// cost: CPU time per second of media (target under 10 % of one core), peak memory, the picture
// timing, and how long stop and destroy take from each state. For scale it also times
// `ffmpeg -threads 1` decoding the same file to nothing, in the same run.
#include <sys/resource.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "engine/api/player_api.h"

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<int> g_ended{0};
void OnEnded(void *) { g_ended = 1; }

double CpuSeconds(int who) {
    rusage ru{};
    getrusage(who, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

int Percentile(const PlayerStats &s, double q) {
    if (!s.av_offset_count) return -1;
    uint64_t want = uint64_t(q * s.av_offset_count + 0.999999), seen = 0;
    for (int i = 0; i <= 1000; ++i)
        if ((seen += s.av_offset_histogram[i]) >= want) return i;
    return 1000;
}

int State(Player *p) {
    PlayerStatus st;
    PlayerGetStatus(p, &st);
    return st.state;
}

bool WaitState(Player *p, int state, int ms) {
    auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) {
        if (State(p) == state) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

double Ms(Clock::time_point a) {
    return std::chrono::duration<double, std::milli>(Clock::now() - a).count();
}

Player *NewPlayer() {
    PlayerConfig cfg{};
    cfg.ended = OnEnded;
    Player *p = PlayerCreate(&cfg);
    PlayerVideoParams vp{};
    vp.flags = PLAYER_VIDEO_RENDER_TYPE;
    vp.render_type = PLAYER_RENDER_WINDOW;
    PlayerSetVideoParams(p, &vp);
    return p;
}

// Stop and destroy latency from one situation.
void StopFrom(const char *file, const char *what, int wait_state, bool pause, bool seek) {
    Player *p = NewPlayer();
    PlayerOpenParams op{};
    op.path = file;
    PlayerOpen(p, &op);
    if (wait_state >= 0) WaitState(p, wait_state, 5000);
    if (pause) {
        PlayerPause(p);
        WaitState(p, STATE_PAUSED, 2000);
    }
    if (seek) PlayerSeek(p, 9000, 1);
    auto t = Clock::now();
    PlayerStop(p);
    double stop_ms = Ms(t);
    PlayerOpen(p, &op);
    WaitState(p, STATE_PLAYING, 5000);
    t = Clock::now();
    PlayerDestroy(p);
    std::printf("stop_from_%s_ms %.1f  destroy_while_playing_ms %.1f\n", what, stop_ms, Ms(t));
}

}  // namespace

int main(int argc, char **argv) {
    std::string file = argc > 1 ? argv[1] : std::string(VT_BENCH_SAMPLE);
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
    PlayerOpenParams op{};
    op.path = file.c_str();
    MediaSummary sum;
    if (PlayerGetMediaInfo(&op, &sum, nullptr) != ME_OK) {
        std::fprintf(stderr, "cannot open %s\n", file.c_str());
        return 2;
    }
    Player *p = NewPlayer();
    double cpu0 = CpuSeconds(RUSAGE_SELF);
    auto t0 = Clock::now();
    PlayerOpen(p, &op);
    while (!g_ended.load() && Ms(t0) < sum.duration_ms + 10000.0)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    double wall = Ms(t0) / 1000;
    double cpu = CpuSeconds(RUSAGE_SELF) - cpu0;
    PlayerStats s;
    PlayerGetStats(p, &s);
    PlayerDestroy(p);
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    const double media = sum.duration_ms / 1000.0;
    std::printf("file %s\nmedia_s %.2f  wall_s %.2f\n", file.c_str(), media, wall);
    std::printf("cpu_s %.3f  cpu_per_media_s %.1f%% of one core (target < 10%%)\n", cpu,
                100 * cpu / media);
    std::printf("peak_rss_kb %ld\n", ru.ru_maxrss);
    std::printf("frames_presented %u  late %u  late_drop %u  late_skip %u  early_waits %u\n",
                s.frames_presented, s.frames_late, s.frames_late_drop, s.frames_late_skip,
                s.early_waits);
    std::printf(
        "first_picture_ms %d (target <= 150)  av_offset_p50_ms %d  p95_ms %d (target <= 40)\n",
        s.first_picture_ms, Percentile(s, 0.5), Percentile(s, 0.95));

    // Reference: decoding the same file with ffmpeg on one thread (no pacing, no output).
    if (std::system("command -v ffmpeg >/dev/null 2>&1") == 0) {
        double child0 = CpuSeconds(RUSAGE_CHILDREN);
        std::string cmd =
            "ffmpeg -v error -threads 1 -i '" + file + "' -map 0:v -map 0:a -f null - ";
        if (std::system(cmd.c_str()) == 0) {
            double ff = CpuSeconds(RUSAGE_CHILDREN) - child0;
            std::printf("ffmpeg_threads1_decode_cpu_s %.3f  ratio_player_to_ffmpeg %.2f\n", ff,
                        ff > 0 ? cpu / ff : 0.0);
        }
    }
    StopFrom(file.c_str(), "opening", -1, false, false);
    StopFrom(file.c_str(), "playing", STATE_PLAYING, false, false);
    StopFrom(file.c_str(), "paused", STATE_PLAYING, true, false);
    StopFrom(file.c_str(), "seeking", STATE_PLAYING, false, true);
    return 0;
}
