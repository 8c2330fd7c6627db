#include "engine/audio/resampler.h"

#include <cmath>
#include <cstring>

#include "engine/core/mem.h"

namespace {

constexpr int kTaps = 16;
constexpr int kPhases = 1024;
constexpr int kHistory = kTaps;  // input samples carried over between calls
constexpr uint32_t kChunk = 1024;
constexpr int kCoefShift = 14;

}  // namespace

struct Resampler {
    uint32_t in_rate, out_rate, channels;
    uint64_t step;   // input samples per output sample, 32.32
    uint64_t pos;    // position in the work buffer, 32.32
    int16_t *coefs;  // kPhases x kTaps, Q14, each phase summing to 1.0
    int16_t *work;   // channels x (kHistory + kChunk)
};

static void BuildFilter(int16_t *coefs, double cutoff) {
    const double a0 = 0.3635819, a1 = 0.4891775, a2 = 0.1365995, a3 = 0.0106411;
    for (int p = 0; p < kPhases; ++p) {
        double frac = double(p) / kPhases;
        double h[kTaps];
        double sum = 0;
        for (int k = 0; k < kTaps; ++k) {
            // Tap k sits at distance x from the output instant.
            double x = double(k - (kTaps / 2 - 1)) - frac;
            double s = x == 0 ? 1.0 : std::sin(M_PI * x * cutoff) / (M_PI * x * cutoff);
            double n = (x + kTaps / 2.0) / kTaps;  // 0..1 across the filter span
            double w = a0 - a1 * std::cos(2 * M_PI * n) + a2 * std::cos(4 * M_PI * n) -
                       a3 * std::cos(6 * M_PI * n);
            h[k] = s * w;
            sum += h[k];
        }
        int total = 0;
        for (int k = 0; k < kTaps; ++k) {
            int v = int(std::lround(h[k] / sum * (1 << kCoefShift)));
            coefs[p * kTaps + k] = int16_t(v);
            total += v;
        }
        // Keep unity gain exact so that DC passes unchanged.
        coefs[p * kTaps + kTaps / 2 - 1] =
            int16_t(coefs[p * kTaps + kTaps / 2 - 1] + ((1 << kCoefShift) - total));
    }
}

Resampler *ResamplerCreate(uint32_t in_rate, uint32_t out_rate, uint32_t channels) {
    if (in_rate == 0 || out_rate == 0 || channels == 0 || channels > 8) return nullptr;
    Resampler *rs = MemNew<Resampler>();
    if (!rs) return nullptr;
    rs->in_rate = in_rate;
    rs->out_rate = out_rate;
    rs->channels = channels;
    rs->step = (uint64_t(in_rate) << 32) / out_rate;
    rs->coefs = static_cast<int16_t *>(MemAllocZero(sizeof(int16_t) * kPhases * kTaps));
    rs->work =
        static_cast<int16_t *>(MemAllocZero(sizeof(int16_t) * channels * (kHistory + kChunk)));
    if (!rs->coefs || !rs->work) {
        ResamplerDestroy(rs);
        return nullptr;
    }
    // Going down in rate, the pass band shrinks with it so nothing folds back.
    double cutoff = out_rate < in_rate ? double(out_rate) / in_rate : 1.0;
    BuildFilter(rs->coefs, cutoff);
    ResamplerReset(rs);
    return rs;
}

void ResamplerDestroy(Resampler *rs) {
    if (!rs) return;
    MemFree(rs->coefs);
    MemFree(rs->work);
    MemFree(rs);
}

void ResamplerReset(Resampler *rs) {
    if (!rs) return;
    std::memset(rs->work, 0, sizeof(int16_t) * rs->channels * (kHistory + kChunk));
    rs->pos = uint64_t(kHistory / 2) << 32;
}

uint32_t ResamplerInRate(const Resampler *rs) { return rs ? rs->in_rate : 0; }
uint32_t ResamplerOutRate(const Resampler *rs) { return rs ? rs->out_rate : 0; }

uint32_t ResamplerMaxOutput(const Resampler *rs, uint32_t in_count) {
    if (!rs) return 0;
    return uint32_t((uint64_t(in_count) * rs->out_rate + rs->in_rate - 1) / rs->in_rate) + 2;
}

uint32_t ResamplerRun(Resampler *rs, const int16_t *const *in, uint32_t in_count, int16_t **out,
                      uint32_t out_capacity) {
    if (!rs) return 0;
    const uint32_t stride = kHistory + kChunk;
    uint32_t produced = 0;
    uint32_t done = 0;
    while (done < in_count) {
        uint32_t n = in_count - done;
        if (n > kChunk) n = kChunk;
        for (uint32_t c = 0; c < rs->channels; ++c)
            std::memcpy(rs->work + c * stride + kHistory, in[c] + done, n * sizeof(int16_t));
        // An output at position p needs work[p-7 .. p+8].
        const uint64_t limit = uint64_t(n + kHistory - kTaps / 2) << 32;
        uint32_t made = 0;
        uint64_t pos = rs->pos;
        while (pos < limit && produced + made < out_capacity) {
            uint32_t ip = uint32_t(pos >> 32);
            uint32_t phase = uint32_t((pos & 0xFFFFFFFFu) >> (32 - 10));
            const int16_t *h = rs->coefs + phase * kTaps;
            for (uint32_t c = 0; c < rs->channels; ++c) {
                const int16_t *x = rs->work + c * stride + ip - (kTaps / 2 - 1);
                int32_t acc = 1 << (kCoefShift - 1);
                for (int k = 0; k < kTaps; ++k) acc += int32_t(x[k]) * h[k];
                acc >>= kCoefShift;
                if (acc > 32767) acc = 32767;
                if (acc < -32768) acc = -32768;
                out[c][produced + made] = int16_t(acc);
            }
            ++made;
            pos += rs->step;
        }
        produced += made;
        // Slide: the last kHistory samples become the history of the next chunk.
        for (uint32_t c = 0; c < rs->channels; ++c)
            std::memmove(rs->work + c * stride, rs->work + c * stride + n,
                         kHistory * sizeof(int16_t));
        rs->pos = pos - (uint64_t(n) << 32);
        done += n;
        if (produced >= out_capacity) break;
    }
    return produced;
}
