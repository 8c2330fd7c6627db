// Kernel checker: every entry of the filterbank's kernel table chosen for this CPU against its
// portable version on seeded random input, at every size the decoder calls it with, including the
// extreme values and shifts where rounding, wrapping and saturation part ways; speed-ups printed.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "codec/aac/dsp.h"
#include "codec/aac/sbr.h"

namespace {

using aacdec::DspTable;

// Random 32-bit values: a fifth at the extremes (unless left out), the rest spread over +-2^bits.
std::vector<int32_t> Values(std::mt19937 &rng, int n, int bits, bool extremes = true) {
    std::vector<int32_t> v(n);
    const int64_t range = int64_t{1} << bits;
    std::uniform_int_distribution<int64_t> any(-range, range - 1);
    for (int32_t &x : v) {
        const uint32_t pick = extremes ? rng() % 10 : 9;
        if (pick == 0) x = INT32_MIN;
        else if (pick == 1) x = INT32_MAX;
        else x = static_cast<int32_t>(any(rng));
    }
    return v;
}

// Q31 rotation pairs (cos, sin) of unit length, as the tables hold.
std::vector<int32_t> Rotations(std::mt19937 &rng, int pairs) {
    std::vector<int32_t> v(2 * pairs);
    std::uniform_real_distribution<double> angle(-3.14159265, 3.14159265);
    for (int i = 0; i < pairs; ++i) {
        const double a = angle(rng);
        v[2 * i] = static_cast<int32_t>(std::cos(a) * 2147483647.0);
        v[2 * i + 1] = static_cast<int32_t>(std::sin(a) * 2147483647.0);
    }
    return v;
}

template <typename F>
double Seconds(F f, int iterations) {
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < iterations; ++i) f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void Report(const char *name, double portable, double chosen) {
    std::printf("%-20s %.2fx\n", name, chosen > 0 ? portable / chosen : 0.0);
}

TEST(AacKernels, FftMatchesThePortableVersionAtBothSizes) {
    const DspTable &best = aacdec::Dsp(), &ref = aacdec::DspPortable();
    std::mt19937 rng(20261208);
    for (int n : {64, 512}) {
        // Up to the transform's stated input range (2^30; the filterbank normalises to 2^29),
        // and quiet input where rounding dominates.
        for (int bits : {30, 29, 12})
            for (int round = 0; round < 200; ++round) {
                std::vector<int32_t> a = Values(rng, 2 * n, bits, false), b = a;
                best.fft(a.data(), n);
                ref.fft(b.data(), n);
                ASSERT_EQ(a, b) << "n " << n << " bits " << bits << " round " << round;
            }
        std::vector<int32_t> x = Values(rng, 2 * n, 29), y = x;
        const double slow = Seconds([&] { ref.fft(y.data(), n); }, 20000);
        const double fast = Seconds([&] { best.fft(x.data(), n); }, 20000);
        Report(n == 64 ? "fft 64" : "fft 512", slow, fast);
    }
}

TEST(AacKernels, RotationsMatchThePortableVersionsAtEveryShift) {
    const DspTable &best = aacdec::Dsp(), &ref = aacdec::DspPortable();
    std::mt19937 rng(7);
    for (int M : {128, 1024}) {
        const std::vector<int32_t> rot = Rotations(rng, M / 2);
        // The pre-rotation's normalising shifts run from -3 to 28; its inputs are bounded so the
        // shifted values fit 32 bits, as the normalisation guarantees.
        for (int shift = -3; shift <= 28; ++shift) {
            const int bits = shift >= 0 ? 30 - shift : 31;
            const std::vector<int32_t> X = Values(rng, M, bits);
            std::vector<int32_t> a(M), b(M);
            best.preRotate(X.data(), M, shift, rot.data(), a.data());
            ref.preRotate(X.data(), M, shift, rot.data(), b.data());
            ASSERT_EQ(a, b) << "pre-rotation M " << M << " shift " << shift;
        }
        // The post-rotation: every shift the filterbank can ask for and beyond, full-range input
        // (saturating when scaled up).
        for (int shift = -40; shift <= 40; ++shift)
            for (int round = 0; round < 4; ++round) {
                const std::vector<int32_t> buf = Values(rng, M, round < 2 ? 31 : 20);
                std::vector<int32_t> a(M), b(M);
                best.postRotate(buf.data(), M, shift, rot.data(), a.data());
                ref.postRotate(buf.data(), M, shift, rot.data(), b.data());
                ASSERT_EQ(a, b) << "post-rotation M " << M << " shift " << shift;
            }
    }
    const std::vector<int32_t> rot = Rotations(rng, 512), X = Values(rng, 1024, 24);
    std::vector<int32_t> out(1024);
    Report("pre-rotation 1024",
           Seconds([&] { ref.preRotate(X.data(), 1024, 4, rot.data(), out.data()); }, 20000),
           Seconds([&] { best.preRotate(X.data(), 1024, 4, rot.data(), out.data()); }, 20000));
    for (int shift : {-2, 5})
        Report(
            shift < 0 ? "post-rotation up" : "post-rotation down",
            Seconds([&] { ref.postRotate(X.data(), 1024, shift, rot.data(), out.data()); }, 20000),
            Seconds([&] { best.postRotate(X.data(), 1024, shift, rot.data(), out.data()); },
                    20000));
}

TEST(AacKernels, OverlapAndPcmMatchThePortableVersions) {
    const DspTable &best = aacdec::Dsp(), &ref = aacdec::DspPortable();
    std::mt19937 rng(99);
    for (int round = 0; round < 300; ++round) {
        const int bits = round % 3 == 0 ? 31 : 26;  // saturating sums, and ordinary levels
        const std::vector<int32_t> c = Values(rng, 1024, bits), wl = Values(rng, 1024, 31),
                                   wr = Values(rng, 1024, 31), ov0 = Values(rng, 1024, bits);
        std::vector<int32_t> outA(1024), outB(1024), ovA = ov0, ovB = ov0;
        best.overlapLong(outA.data(), ovA.data(), c.data(), wl.data(), wr.data());
        ref.overlapLong(outB.data(), ovB.data(), c.data(), wl.data(), wr.data());
        ASSERT_EQ(outA, outB) << round;
        ASSERT_EQ(ovA, ovB) << round;

        std::vector<int16_t> pa(1024), pb(1024);
        best.writePcm(c.data(), pa.data());
        ref.writePcm(c.data(), pb.data());
        ASSERT_EQ(pa, pb) << round;
    }
    const std::vector<int32_t> c = Values(rng, 1024, 26), w = Values(rng, 1024, 31);
    std::vector<int32_t> out(1024), ov(1024);
    std::vector<int16_t> pcm(1024);
    Report("overlap long",
           Seconds([&] { ref.overlapLong(out.data(), ov.data(), c.data(), w.data(), w.data()); },
                   20000),
           Seconds([&] { best.overlapLong(out.data(), ov.data(), c.data(), w.data(), w.data()); },
                   20000));
    Report("pcm", Seconds([&] { ref.writePcm(c.data(), pcm.data()); }, 20000),
           Seconds([&] { best.writePcm(c.data(), pcm.data()); }, 20000));
}

TEST(AacKernels, QmfBankEntriesMatchThePortableVersions) {
    const DspTable &best = aacdec::Dsp(), &ref = aacdec::DspPortable();
    std::mt19937 rng(31);
    const int32_t *window = aacdec::kSbrQmfWindow;
    for (int round = 0; round < 400; ++round) {
        // The FFT within its stated range (2^29), at full scale and quietly.
        const int bits = round % 2 ? 28 : 10;
        const std::vector<int32_t> in = Values(rng, 64, bits, false);
        int32_t fa[32][2], fb[32][2];
        best.qmfFft32(reinterpret_cast<const int32_t(*)[2]>(in.data()), fa);
        ref.qmfFft32(reinterpret_cast<const int32_t(*)[2]>(in.data()), fb);
        ASSERT_EQ(0, std::memcmp(fa, fb, sizeof fa)) << "fft32 round " << round;

        // The DCT-IV within its stated range (2^28).
        const std::vector<int32_t> coef = Values(rng, 64, round % 2 ? 27 : 9, false);
        int32_t da[64], db[64];
        best.qmfDct4x64(coef.data(), da);
        ref.qmfDct4x64(coef.data(), db);
        ASSERT_EQ(0, std::memcmp(da, db, sizeof da)) << "dct-iv round " << round;

        // The modulation takes any level (it scales its block first): quiet, loud, extremes.
        const std::vector<int32_t> slot =
            Values(rng, 128, round % 4 == 0 ? 31 : (round % 4 == 1 ? 4 : 27), round % 4 == 0);
        int32_t va[128], vb[128];
        best.qmfModulate64(reinterpret_cast<const int32_t(*)[2]>(slot.data()), va);
        ref.qmfModulate64(reinterpret_cast<const int32_t(*)[2]>(slot.data()), vb);
        ASSERT_EQ(0, std::memcmp(va, vb, sizeof va)) << "modulation round " << round;

        // The windows over delay lines at every level, extremes included: the sums saturate.
        const std::vector<int32_t> line = Values(rng, 1280, round % 3 ? 24 : 30);
        int16_t pa[64], pb[64];
        best.qmfSynthesis64(line.data(), window, pa);
        ref.qmfSynthesis64(line.data(), window, pb);
        ASSERT_EQ(0, std::memcmp(pa, pb, sizeof pa)) << "synthesis round " << round;
        int32_t ua[64], ub[64];
        const int32_t ma = best.qmfAnalysis(line.data(), window, ua);
        const int32_t mb = ref.qmfAnalysis(line.data(), window, ub);
        ASSERT_EQ(0, std::memcmp(ua, ub, sizeof ua)) << "analysis round " << round;
        ASSERT_EQ(ma, mb) << "analysis magnitude round " << round;
    }
    const std::vector<int32_t> in = Values(rng, 1280, 24);
    int32_t f[32][2], u[64];
    int16_t pcm[64];
    const auto *z = reinterpret_cast<const int32_t(*)[2]>(in.data());
    Report("qmf fft 32", Seconds([&] { ref.qmfFft32(z, f); }, 50000),
           Seconds([&] { best.qmfFft32(z, f); }, 50000));
    int32_t d[64];
    Report("qmf dct-iv 64", Seconds([&] { ref.qmfDct4x64(in.data(), d); }, 50000),
           Seconds([&] { best.qmfDct4x64(in.data(), d); }, 50000));
    int32_t mod[128];
    Report("qmf modulation 64", Seconds([&] { ref.qmfModulate64(z, mod); }, 50000),
           Seconds([&] { best.qmfModulate64(z, mod); }, 50000));
    Report("qmf synthesis 64", Seconds([&] { ref.qmfSynthesis64(in.data(), window, pcm); }, 50000),
           Seconds([&] { best.qmfSynthesis64(in.data(), window, pcm); }, 50000));
    Report("qmf analysis", Seconds([&] { ref.qmfAnalysis(in.data(), window, u); }, 50000),
           Seconds([&] { best.qmfAnalysis(in.data(), window, u); }, 50000));
}

}  // namespace
