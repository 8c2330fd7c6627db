// The audio renderer on a real SDL device: the disk driver paces like a sound card and records
// every byte it plays, so what we check is what a listener would hear.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/audio/audio_renderer.h"
#include "engine/audio/resampler.h"
#include "tests/common/testutil.h"

namespace {

using vt::test::ReadFileBytes;
using vt::test::TempDir;

struct ClockLog {
    std::mutex m;
    std::vector<int64_t> stamps;
};

void RecordStamp(void *ctx, int64_t t) {
    auto *log = static_cast<ClockLog *>(ctx);
    std::lock_guard<std::mutex> g(log->m);
    log->stamps.push_back(t);
}

class DiskDevice {
public:
    DiskDevice() : m_file(m_dir / "played.raw") {
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", m_file.c_str(), 1);
    }
    std::vector<int16_t> Played() const {
        auto bytes = ReadFileBytes(m_file);
        std::vector<int16_t> s(bytes.size() / 2);
        std::memcpy(s.data(), bytes.data(), s.size() * 2);
        return s;
    }

private:
    TempDir m_dir;
    std::filesystem::path m_file;
};

// Samples of the recording with the silence the device inserted (before, between, after the
// blocks) taken out: runs of 8 or more zero samples.
std::vector<int16_t> WithoutSilence(const std::vector<int16_t> &in) {
    std::vector<int16_t> out;
    size_t i = 0;
    while (i < in.size()) {
        if (in[i] == 0) {
            size_t j = i;
            while (j < in.size() && in[j] == 0) ++j;
            if (j - i < 8) out.insert(out.end(), in.begin() + long(i), in.begin() + long(j));
            i = j;
        } else {
            out.push_back(in[i++]);
        }
    }
    return out;
}

// A signal that never holds 8 zero samples in a row and never repeats within a block.
std::vector<int16_t> Ramp(size_t n, int seed = 1) {
    std::vector<int16_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = int16_t(((i * 37 + seed * 1000) % 20000) + 100);
    return v;
}

bool WaitFor(const std::function<bool()> &cond, int ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        if (cond()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return cond();
}

struct GeometryCase {
    uint32_t rate, channels, block;
    uint32_t ring_samples, ring_bytes, samples_per_block, bytes_per_block, block_count;
};

class Geometry : public ::testing::TestWithParam<GeometryCase> {};

TEST_P(Geometry, RingAndBlocksFollowTheRate) {
    const GeometryCase &c = GetParam();
    uint32_t ring = AudioRingSamples(c.rate, c.block);
    EXPECT_EQ(ring, c.ring_samples);
    uint32_t ch = AudioDeviceChannels(c.channels);
    EXPECT_EQ(ring * ch * 2, c.ring_bytes);
    AudioDeviceGeometry g = AudioDeviceGeometryFor(c.rate, ch, ring * ch * 2);
    EXPECT_EQ(g.samples_per_block, c.samples_per_block);
    EXPECT_EQ(g.bytes_per_block, c.bytes_per_block);
    EXPECT_EQ(g.block_count, c.block_count);
}

INSTANTIATE_TEST_SUITE_P(
    Rates, Geometry,
    ::testing::Values(GeometryCase{44100, 2, 3072, 24576, 98304, 2205, 8820, 11},
                      GeometryCase{22050, 1, 2048, 12288, 24576, 1102, 2204, 11},
                      // six channels go to the device as two
                      GeometryCase{48000, 6, 3072, 24576, 98304, 2400, 9600, 10},
                      // a tiny ring still gets two blocks
                      GeometryCase{8000, 1, 64, 4032, 8064, 400, 800, 10}));

TEST(AudioStamps, ClockGetsTheStampOfTheBlockThatStartsNotTheOneWritten) {
    // No device: drive the completion path by hand.
    ClockLog log;
    AudioRenderer *r = nullptr;
    ASSERT_EQ(AudioRendererCreate(1000, 1, 1024, 100, RecordStamp, &log, 0, &r), ME_OK);
    // Entries of 100 samples at t=0, 100, 200 (1000 Hz: 1 sample per ms).
    for (int i = 0; i < 3; ++i) {
        r->stamps[i] = AudioStamp{100, 100, i * 100};
    }
    r->stamp_count = 3;
    r->stamp_write = 3;
    AudioRendererBlockDone(r, 50 * 2);   // half of the first entry played
    AudioRendererBlockDone(r, 50 * 2);   // first entry done: the second starts
    AudioRendererBlockDone(r, 150 * 2);  // 1.5 entries
    AudioRendererBlockDone(r, 50 * 2);   // everything played: nothing left to stamp
    std::vector<int64_t> expect = {50, 100, 250};
    EXPECT_EQ(log.stamps, expect);
    EXPECT_EQ(r->stamp_count, 0u);
    AudioRendererDestroy(r);
}

class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(AudioRendererCreate(8000, 1, 1024, 800, RecordStamp, &m_log, 0, &m_r), ME_OK);
        if (MeFailed(AudioRendererInit(m_r, AUDIO_BACKEND_DEVICE))) {
            AudioRendererDestroy(m_r);
            m_r = nullptr;
            GTEST_SKIP() << "no SDL disk audio driver";
        }
    }
    void TearDown() override { AudioRendererDestroy(m_r); }

    void WriteAll(const std::vector<int16_t> &pcm, uint32_t block, int64_t t0) {
        for (size_t i = 0; i < pcm.size(); i += block) {
            const int16_t *planes[1] = {pcm.data() + i};
            uint32_t n = uint32_t(std::min<size_t>(block, pcm.size() - i));
            ASSERT_EQ(AudioRendererWrite(m_r, planes, n, t0 + int64_t(i) * 1000 / 8000), 1);
        }
    }
    void Drain() {
        AudioRendererSetEndOfStream(m_r);
        ASSERT_TRUE(WaitFor([&] { return AudioRendererDrained(m_r) != 0; }, 5000));
        // The last block is still sounding when drained answers; let it finish.
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
    }

    DiskDevice m_disk;
    ClockLog m_log;
    AudioRenderer *m_r = nullptr;
};

TEST_F(DeviceTest, PlaysEveryBlockInOrderAndStampsTheClockAsBlocksStart) {
    auto pcm = Ramp(8000);  // one second
    auto start = std::chrono::steady_clock::now();
    WriteAll(pcm, 800, 5000);
    Drain();
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    AudioRendererDestroy(m_r);
    m_r = nullptr;
    EXPECT_EQ(WithoutSilence(m_disk.Played()), pcm);
    // Paced in real time, not dumped at once.
    EXPECT_GT(secs, 0.8);
    std::lock_guard<std::mutex> g(m_log.m);
    ASSERT_GE(m_log.stamps.size(), 15u);
    for (size_t i = 1; i < m_log.stamps.size(); ++i) {
        EXPECT_EQ(m_log.stamps[i] - m_log.stamps[i - 1], 50) << "at " << i;
    }
    EXPECT_EQ(m_log.stamps.front(), 5050);  // the second 50 ms block starts as the first ends
}

TEST_F(DeviceTest, ResetWakesABlockedWriterWhichReturnsWithoutWriting) {
    AudioRendererPause(m_r);
    auto first = Ramp(4000, 1);
    WriteAll(first, 800, 0);  // fills the ring
    std::atomic<int> returned{0};
    auto blocked = Ramp(800, 7);
    std::thread writer([&] {
        const int16_t *planes[1] = {blocked.data()};
        // The ring (4000 samples) is full: this write waits for room.
        AudioRendererWrite(m_r, planes, 800, 500);
        returned = 1;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(returned.load(), 0) << "the writer should be waiting for room";
    AudioRendererReset(m_r);
    EXPECT_TRUE(WaitFor([&] { return returned.load() == 1; }, 500));
    writer.join();
    // After the reset, new audio plays; the blocked block and the dropped ring never do.
    AudioRendererRestart(m_r);
    auto after = Ramp(1600, 3);
    WriteAll(after, 800, 1000);
    Drain();
    AudioRendererDestroy(m_r);
    m_r = nullptr;
    auto played = WithoutSilence(m_disk.Played());
    EXPECT_EQ(played, after);
}

TEST_F(DeviceTest, SpeedToTheSameValueKeepsTheDeviceAndAnotherKeepsTheQueuedAudio) {
    auto pcm = Ramp(4000);
    WriteAll(pcm, 800, 0);
    EXPECT_EQ(AudioRendererSetSpeed(m_r, 100), 1);
    EXPECT_EQ(AudioRendererSetSpeed(m_r, 150), 1);
    EXPECT_EQ(m_r->speed, 150);
    auto more = Ramp(1600, 5);
    WriteAll(more, 800, 500);
    Drain();
    AudioRendererDestroy(m_r);
    m_r = nullptr;
    auto expect = pcm;
    expect.insert(expect.end(), more.begin(), more.end());
    EXPECT_EQ(WithoutSilence(m_disk.Played()), expect);
}

TEST_F(DeviceTest, VolumeAndMuteApplyToWhatIsPlayed) {
    AudioRendererSetVolume(m_r, 0x8000);  // about half
    EXPECT_EQ(AudioRendererGetVolume(m_r), 0x80008000u);
    std::vector<int16_t> loud(2400, 20000);
    WriteAll(loud, 800, 0);
    Drain();
    AudioRendererReset(m_r);
    AudioRendererSetMute(m_r, 1);
    WriteAll(loud, 800, 300);
    Drain();
    AudioRendererDestroy(m_r);
    m_r = nullptr;
    auto played = m_disk.Played();
    size_t halves = 0, full = 0;
    for (int16_t s : played) {
        if (s == 10000) ++halves;
        if (s == 20000) ++full;
    }
    EXPECT_EQ(halves, 2400u);  // only the first pass, at half level; the muted pass is silent
    EXPECT_EQ(full, 0u);
}

TEST_F(DeviceTest, ConverterInFrontOfTheDeviceChangesTheRate) {
    ASSERT_EQ(AudioRendererSetOutputFormat(m_r, 16000, 1), 1);
    std::vector<int16_t> dc(8000, 12000);
    WriteAll(dc, 800, 0);
    Drain();
    AudioRendererDestroy(m_r);
    m_r = nullptr;
    auto played = WithoutSilence(m_disk.Played());
    // Twice as many samples; away from the edges the level is unchanged.
    EXPECT_NEAR(double(played.size()), 16000.0, 40.0);
    size_t level = 0;
    for (int16_t s : played) level += (s >= 11990 && s <= 12010);
    EXPECT_GT(level, 15900u);
}

struct RateCase {
    uint32_t in, out;
};
class ResamplerRates : public ::testing::TestWithParam<RateCase> {};

TEST_P(ResamplerRates, KeepsTheToneAndTheLength) {
    RateCase c = GetParam();
    Resampler *rs = ResamplerCreate(c.in, c.out, 1);
    ASSERT_NE(rs, nullptr);
    const double f = 440.0;
    std::vector<int16_t> in(c.in);  // one second
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = int16_t(10000 * std::sin(2 * M_PI * f * double(i) / c.in));
    std::vector<int16_t> out(ResamplerMaxOutput(rs, uint32_t(in.size())));
    // In uneven pieces, to exercise the history carried between calls.
    size_t made = 0, done = 0;
    const uint32_t pieces[] = {1000, 37, 2048, 999};
    for (int k = 0; done < in.size(); ++k) {
        uint32_t n = uint32_t(std::min<size_t>(pieces[k % 4], in.size() - done));
        const int16_t *ip[1] = {in.data() + done};
        int16_t *op[1] = {out.data() + made};
        made += ResamplerRun(rs, ip, n, op, uint32_t(out.size() - made));
        done += n;
    }
    EXPECT_NEAR(double(made), double(c.out), 10.0);
    // Compare against the ideal tone, allowing the filter's fixed delay of 8 input samples.
    double delay = 8.0 / c.in, err = 0, ref = 0;
    for (size_t i = 100; i + 100 < made; ++i) {
        double t = double(i) / c.out - delay;
        double want = 10000 * std::sin(2 * M_PI * f * t);
        err += (out[i] - want) * (out[i] - want);
        ref += want * want;
    }
    EXPECT_GT(10 * std::log10(ref / err), 40.0);
    ResamplerDestroy(rs);
}

INSTANTIATE_TEST_SUITE_P(Rates, ResamplerRates,
                         ::testing::Values(RateCase{22050, 44100}, RateCase{44100, 22050},
                                           RateCase{48000, 44100}, RateCase{8000, 11025}));

}  // namespace
