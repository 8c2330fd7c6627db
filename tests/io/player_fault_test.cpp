// The card failing under a playback, at every stage: the player must end through its error path
// within 2 s, never crash, hang or read past a buffer. The faults come from the file object's
// fault seam; the playback is the real engine on a bundled recording.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>

#include "engine/api/player_api.h"
#include "engine/io/fault.h"
#include "tests/common/testutil.h"

namespace {

using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

void OnEnded(void *u) { static_cast<std::atomic<int> *>(u)->fetch_add(1); }

class CardFault : public ::testing::Test {
protected:
    void SetUp() override {
        auto sample = vt::test::SamplesDir() / "20261108_083000.mp4";
        if (!std::filesystem::exists(sample)) GTEST_SKIP() << "no samples";
        m_path = (m_dir / "20261108_083000.mp4").string();
        std::filesystem::copy_file(sample, m_path);
        auto bytes = vt::test::ReadFileBytes(m_path);
        m_moov =
            104 + (int64_t(bytes[104]) << 24 | bytes[105] << 16 | bytes[106] << 8 | bytes[107]);
        // SDL's disk driver paces the sound like a card would.
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", (m_dir / "played.raw").c_str(), 1);
        FileFaultWatch(m_path.c_str());
        PlayerConfig cfg{};
        cfg.ended = OnEnded;
        cfg.user = &m_ended;
        m_player = PlayerCreate(&cfg);
        ASSERT_NE(m_player, nullptr);
        PlayerVideoParams vp{};
        vp.flags = PLAYER_VIDEO_RENDER_TYPE;
        vp.render_type = PLAYER_RENDER_WINDOW;
        PlayerSetVideoParams(m_player, &vp);
    }
    void TearDown() override {
        if (m_player) {
            auto t = Clock::now();
            PlayerDestroy(m_player);
            EXPECT_LT(MsSince(t), 2000) << "destroy hung";
        }
        FileFaultClear(m_path.c_str());
    }

    void Open() {
        PlayerOpenParams op{};
        op.path = m_path.c_str();
        ASSERT_EQ(PlayerOpen(m_player, &op), 1);
    }
    // Polls the status like the window's timer: the state, and every error it reports.
    int Poll() {
        PlayerStatus st;
        PlayerGetStatus(m_player, &st);
        if (st.last_error && st.last_error != ME_ERR_TEXT_DECODER_INIT && !m_error)
            m_error = st.last_error;
        m_position = st.position_ms;
        return st.state;
    }
    bool Until(const std::function<bool()> &cond, int ms) {
        auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < end) {
            if (cond()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return cond();
    }
    void PlayTo(int32_t ms) {
        Open();
        ASSERT_TRUE(Until([&] { return Poll() == STATE_PLAYING && m_position >= ms; }, 5000));
    }
    // The fault is in; the playback must be over, through the error path, within 2 s.
    void ExpectErrorEnd(MeResult expected, int within_ms = 2000) {
        auto t = Clock::now();
        EXPECT_TRUE(Until([&] { return m_ended.load() > 0 && Poll() == STATE_IDLE; }, within_ms))
            << "still in state " << Poll() << " after " << MsSince(t) << " ms";
        Poll();
        EXPECT_EQ(m_error, expected);
        EXPECT_EQ(m_ended.load(), 1);
    }

    vt::test::TempDir m_dir;
    std::string m_path;
    int64_t m_moov = 0;
    Player *m_player = nullptr;
    std::atomic<int> m_ended{0};
    MeResult m_error = 0;
    int32_t m_position = 0;
};

TEST_F(CardFault, OpeningAPulledCardEndsWithFileNotFound) {
    FileFaultSet(m_path.c_str(), {FileFaultKind::kVanish, 0, 0});
    Open();
    ExpectErrorEnd(ME_ERR_FILE_NOT_FOUND);
}

TEST_F(CardFault, UnreadableFirstSamplesFailTheStart) {
    FileFaultSet(m_path.c_str(), {FileFaultKind::kEio, 112, 200000});
    Open();
    ExpectErrorEnd(ME_ERR_FILE_IO);
}

TEST_F(CardFault, CardPulledWhilePlaying) {
    PlayTo(500);
    FileFaultSet(m_path.c_str(), {FileFaultKind::kVanish, 0, 0});
    ExpectErrorEnd(ME_ERR_FILE_IO);
}

TEST_F(CardFault, FileCutShorterWhilePlaying) {
    PlayTo(300);
    // The next read cuts the file to what about 2 s of the recording take.
    FileFaultSet(m_path.c_str(), {FileFaultKind::kShrink, 0, 300000});
    ExpectErrorEnd(ME_ERR_FILE_IO, 4000);
}

TEST_F(CardFault, UnreadableStretchReachedBySeeking) {
    PlayTo(300);
    // The tables (in the movie box at the end) still read; the media data from 1.4 MB on does not.
    FileFaultSet(m_path.c_str(), {FileFaultKind::kEio, 1400000, m_moov - 1400000});
    ASSERT_EQ(PlayerSeek(m_player, 12000, 0), 1);
    ExpectErrorEnd(ME_ERR_FILE_IO);
}

TEST_F(CardFault, CardPulledWhilePaused) {
    PlayTo(300);
    ASSERT_EQ(PlayerPause(m_player), 1);
    ASSERT_TRUE(Until([&] { return Poll() == STATE_PAUSED; }, 2000));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    FileFaultSet(m_path.c_str(), {FileFaultKind::kVanish, 0, 0});
    ExpectErrorEnd(ME_ERR_FILE_IO);
}

TEST_F(CardFault, ShortReadsAreNotAFault) {
    FileFaultSet(m_path.c_str(), {FileFaultKind::kShortReads, 0, 1000});
    PlayTo(1000);
    EXPECT_EQ(m_error, 0);
    EXPECT_EQ(m_ended.load(), 0);
    EXPECT_GT(FileFaultHits(m_path.c_str()), 0);
}

}  // namespace
