// The SBR QMF banks against the formulas of ISO/IEC 14496-3 4.6.18.4 evaluated in double
// precision with the same window: the fixed-point transforms behind them (a folded 32-point FFT
// for the analysis, two 64-value DCT-IVs for the synthesis) must agree to the last bit or two
// at every level, and full-scale input must saturate rather than wrap.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "codec/aac/sbr.h"

namespace {

using aacdec::kQmfFrac;
using aacdec::kSbrSlots;
using aacdec::kTimeFrac;

double Window(int i) { return aacdec::kSbrQmfWindow[i] / 2147483648.0; }

int16_t ToPcm(double v) {
    return static_cast<int16_t>(std::clamp(std::lround(v), -32768L, 32767L));
}

struct Level {
    const char *name;
    double amplitude;   // of the random input, in the input's integer units
    double min_snr_db;  // analysis only: quiet input is bounded by the output's integer steps
};

class QmfSynthesis : public testing::TestWithParam<Level> {};

TEST_P(QmfSynthesis, MatchesTheStandardsFormula) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> uni(-1, 1);
    auto c = std::make_unique<aacdec::SbrChannel>();
    std::memset(c.get(), 0, sizeof(*c));
    std::vector<double> v(1280, 0.0);
    int worst = 0;
    size_t saturated = 0;
    for (int frame = 0; frame < 4; ++frame) {
        std::vector<int32_t> x(kSbrSlots * 64 * 2);
        for (auto &s : x) s = static_cast<int32_t>(std::lround(GetParam().amplitude * uni(rng)));
        std::vector<int16_t> pcm(2048);
        aacdec::SbrSynthesis(c.get(), reinterpret_cast<int32_t(*)[64][2]>(x.data()), pcm.data(),
                             false);
        for (int l = 0; l < kSbrSlots; ++l) {
            std::memmove(v.data() + 128, v.data(), (1280 - 128) * sizeof(double));
            for (int n = 0; n < 128; ++n) {
                double sum = 0;
                for (int k = 0; k < 64; ++k) {
                    std::complex<double> xk(x[(l * 64 + k) * 2], x[(l * 64 + k) * 2 + 1]);
                    sum += (xk * std::polar(1.0, M_PI * (k + 0.5) * (2 * n - 255) / 128)).real();
                }
                v[n] = sum / 64 / (1 << kQmfFrac);
            }
            for (int k = 0; k < 64; ++k) {
                double out = 0;
                for (int n = 0; n < 5; ++n)
                    out += v[256 * n + k] * Window(128 * n + k) +
                           v[256 * n + 192 + k] * Window(128 * n + 64 + k);
                const int16_t ref = ToPcm(out);
                worst = std::max(worst, std::abs(pcm[64 * l + k] - ref));
                saturated += ref == 32767 || ref == -32768;
            }
        }
    }
    EXPECT_LE(worst, 1) << GetParam().name;
    if (GetParam().amplitude > 1e8) {
        EXPECT_GT(saturated, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Levels, QmfSynthesis,
                         testing::Values(Level{"quiet", 300, 0}, Level{"loud", 1 << 23, 0},
                                         Level{"full_scale", (1 << 28) - 1, 0},
                                         Level{"past_the_limit", 2147483647.0, 0}),
                         [](const testing::TestParamInfo<Level> &info) {
                             return std::string(info.param.name);
                         });

class QmfAnalysis : public testing::TestWithParam<Level> {};

TEST_P(QmfAnalysis, MatchesTheStandardsFormula) {
    std::mt19937 rng(9);
    std::uniform_real_distribution<double> uni(-1, 1);
    auto c = std::make_unique<aacdec::SbrChannel>();
    std::memset(c.get(), 0, sizeof(*c));
    std::vector<double> xs(320, 0.0);
    double err = 0, sig = 0;
    int worst_small = 0;
    for (int frame = 0; frame < 4; ++frame) {
        std::vector<int32_t> time(1024);
        for (auto &s : time) s = static_cast<int32_t>(std::lround(GetParam().amplitude * uni(rng)));
        std::vector<int32_t> low(aacdec::kSbrLowSlots * 32 * 2);
        aacdec::SbrAnalysis(c.get(), time.data(), reinterpret_cast<int32_t(*)[32][2]>(low.data()));
        for (int l = 0; l < kSbrSlots; ++l) {
            std::memmove(xs.data() + 32, xs.data(), (320 - 32) * sizeof(double));
            for (int n = 0; n < 32; ++n) xs[31 - n] = time[32 * l + n] / double(1 << kTimeFrac);
            double u[64];
            for (int n = 0; n < 64; ++n) {
                u[n] = 0;
                for (int j = 0; j < 5; ++j) u[n] += xs[n + 64 * j] * Window(2 * (n + 64 * j));
                // The windowed sums are held in 32 bits with two fraction bits more than time.
                const double unit = 1 << (kTimeFrac + 2);
                u[n] = std::clamp(u[n] * unit, -2147483648.0, 2147483647.0) / unit;
            }
            for (int k = 0; k < 32; ++k) {
                std::complex<double> sum = 0;
                for (int n = 0; n < 64; ++n)
                    sum += 2 * u[n] * std::polar(1.0, M_PI * (k + 0.5) * (2 * n - 0.5) / 64);
                sum *= 1 << kQmfFrac;
                const int32_t *got = &low[((aacdec::kSbrHfGen + l) * 32 + k) * 2];
                for (int part = 0; part < 2; ++part) {
                    const double ref = part ? sum.imag() : sum.real();
                    const double lim = aacdec::kQmfLimit;
                    const double clipped = std::clamp(ref, -lim, lim);
                    err += (got[part] - clipped) * (got[part] - clipped);
                    sig += clipped * clipped;
                    if (std::abs(ref) < 4096)
                        worst_small = std::max(worst_small,
                                               static_cast<int>(std::abs(got[part] - ref) + 0.5));
                }
            }
        }
    }
    EXPECT_GT(10 * std::log10(sig / std::max(err, 1e-30)), GetParam().min_snr_db)
        << GetParam().name;
    EXPECT_LE(worst_small, 2) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(Levels, QmfAnalysis,
                         testing::Values(Level{"quiet", 600, 60},
                                         Level{"loud", 20000 << kTimeFrac, 90},
                                         Level{"past_pcm_range", 1 << 29, 90}),
                         [](const testing::TestParamInfo<Level> &info) {
                             return std::string(info.param.name);
                         });

}  // namespace
