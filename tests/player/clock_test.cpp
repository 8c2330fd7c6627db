// MediaClock against a tick we control.
#include <gtest/gtest.h>

#include "engine/player/media_clock.h"

namespace {

uint32_t g_tick = 0;
uint32_t FakeTick() { return g_tick; }

class ClockTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_tick = 0xFFFFFF00u;  // close to the 32-bit wrap on purpose
        c = MediaClockCreate(1000, 100);
        ASSERT_NE(c, nullptr);
        c->tick = FakeTick;
        c->base_tick = g_tick;
    }
    void TearDown() override { MediaClockDestroy(c); }
    MediaClock *c = nullptr;
};

TEST_F(ClockTest, RunsOnTheTickAtItsRateAcrossTheWrap) {
    EXPECT_EQ(MediaClockRead(c), 1000);  // stopped
    MediaClockStart(c, 1);
    g_tick += 500;  // wraps
    EXPECT_EQ(MediaClockRead(c), 1500);
    MediaClockSetRate(c, 200);
    g_tick += 100;
    EXPECT_EQ(MediaClockRead(c), 1700);
    MediaClockStop(c);
    g_tick += 1000;
    EXPECT_EQ(MediaClockRead(c), 1700);
}

TEST_F(ClockTest, EnabledClockStartsWithTheFirstAudioStamp) {
    MediaClockStart(c, 0);
    g_tick += 300;
    EXPECT_EQ(MediaClockRead(c), 1000) << "waits for the audio";
    MediaClockUpdatePosition(c, 1050);
    g_tick += 20;
    EXPECT_EQ(MediaClockRead(c), 1070);
}

TEST_F(ClockTest, NeverReportsLessThanBeforeWhileRunning) {
    MediaClockStart(c, 1);
    g_tick += 200;
    ASSERT_EQ(MediaClockRead(c), 1200);
    // The audio says we are 60 ms behind: the clock is steered, but reads do not go back.
    MediaClockUpdatePosition(c, 1140);
    int64_t last = 1200;
    for (int i = 0; i < 100; ++i) {
        g_tick += 1;
        int64_t v = MediaClockRead(c);
        EXPECT_GT(v, last - 1) << "at " << i;
        EXPECT_GE(v, last);
        last = v;
    }
    // Once real time has caught up, the clock follows the audio's base again.
    g_tick += 100;
    EXPECT_EQ(MediaClockRead(c), 1140 + 200);
}

TEST_F(ClockTest, SmallAudioDifferencesDoNotJitterTheClock) {
    MediaClockStart(c, 1);
    g_tick += 100;
    MediaClockUpdatePosition(c, 1108);   // 8 ms off: kept
    EXPECT_EQ(MediaClockRead(c), 1109);  // not behind the stamp, and moving
    g_tick += 10;
    EXPECT_EQ(MediaClockRead(c), 1110);
    MediaClockUpdatePosition(c, 1130);  // 20 ms off: rebased
    EXPECT_EQ(MediaClockRead(c), 1130);
}

TEST_F(ClockTest, HardPositionMayGoBack) {
    MediaClockStart(c, 1);
    g_tick += 5000;
    EXPECT_EQ(MediaClockRead(c), 6000);
    MediaClockSetPosition(c, 2000);
    EXPECT_EQ(MediaClockRead(c), 2000);
}

}  // namespace
