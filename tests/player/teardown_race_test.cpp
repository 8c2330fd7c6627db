// The API thread against the status task: calls that reach the clock while a failing playback
// tears itself down, and requests that meet a seek still being carried out.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/api/player_api.h"
#include "engine/core/log.h"
#include "tests/common/testutil.h"

namespace {

using namespace vt::test;
using Clock = std::chrono::steady_clock;

std::atomic<int> g_ended{0};
void OnEnded(void *) { g_ended.fetch_add(1); }

// A recording whose audio and video tags no decoder takes: the open succeeds (the clock is made)
// and the start fails, so the playback ends and frees everything at once.
std::string MakeUnplayable(const TempDir &dir) {
    auto bytes = ReadFileBytes(SamplesDir() / "20261108_083000.mp4");
    if (bytes.empty()) return "";
    std::string s(bytes.begin(), bytes.end());
    for (const char *tag : {"mp4v", "mp4a"}) {
        size_t at = s.find(tag);
        if (at == std::string::npos) return "";
        s[at] = 'z';
        s[at + 1] = 'z';
    }
    std::string path = (dir / "unplayable.mp4").string();
    WriteFileBytes(path, std::vector<uint8_t>(s.begin(), s.end()));
    return path;
}

TEST(TeardownRace, ClockReadsAndSpeedChangesDuringAFailingPlaybacksTeardown) {
    TempDir dir;
    std::string path = MakeUnplayable(dir);
    if (path.empty()) GTEST_SKIP() << "no samples";
    setenv("SDL_AUDIODRIVER", "none", 1);
    PlayerConfig cfg{};
    cfg.ended = OnEnded;
    Player *player = PlayerCreate(&cfg);
    ASSERT_NE(player, nullptr);
    for (int round = 0; round < 15; ++round) {
        g_ended.store(0);
        PlayerOpenParams op{};
        op.path = path.c_str();
        ASSERT_EQ(PlayerOpen(player, &op), 1);
        auto end = Clock::now() + std::chrono::seconds(3);
        PlayerStatus st{};
        // Hammer the clock from this thread until the playback is gone.
        do {
            int64_t pos = PlayerClockPosition(player);
            EXPECT_GE(pos, 0);
            PlayerSetSpeed(player, round % 2 ? 150 : 100);
            PlayerGetStatus(player, &st);
        } while ((st.state != STATE_IDLE || g_ended.load() == 0) && Clock::now() < end);
        ASSERT_EQ(st.state, STATE_IDLE);
        EXPECT_EQ(PlayerClockPosition(player), 0);
    }
    PlayerDestroy(player);
}

}  // namespace

namespace {

std::mutex g_log_lock;
std::vector<std::string> g_log;
void Capture(const char *line) {
    std::lock_guard<std::mutex> g(g_log_lock);
    g_log.emplace_back(line);
}

// The log sink hears why an open failed, naming the file.
TEST(EngineLog, AFailedOpenSaysWhy) {
    TempDir dir;
    std::string missing = (dir / "missing.mp4").string();
    MeLogSetSink(Capture);
    Player *player = PlayerCreate(nullptr);
    ASSERT_NE(player, nullptr);
    PlayerOpenParams op{};
    op.path = missing.c_str();
    ASSERT_EQ(PlayerOpen(player, &op), 1);
    PlayerStatus st{};
    for (int i = 0; i < 300; ++i) {
        PlayerGetStatus(player, &st);
        if (st.state == STATE_IDLE) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    PlayerDestroy(player);
    MeLogSetSink(nullptr);
    std::lock_guard<std::mutex> g(g_log_lock);
    ASSERT_EQ(g_log.size(), 1u);
    EXPECT_NE(g_log[0].find("open " + missing), std::string::npos) << g_log[0];
    EXPECT_NE(g_log[0].find(MeErrorText(ME_ERR_FILE_NOT_FOUND)), std::string::npos) << g_log[0];
}

}  // namespace
