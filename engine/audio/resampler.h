#pragma once
// Polyphase windowed-sinc sample-rate converter: 16 taps, 1024 phases, cutoff 1.0, Blackman-
// Nuttall window; 16-bit output rounded and saturated. Streams: history carries across blocks, so
// the output of consecutive blocks joins without clicks. Each channel is converted on its own.
#include <cstdint>

struct Resampler;

// null when out of memory or a rate is 0.
Resampler *ResamplerCreate(uint32_t in_rate, uint32_t out_rate, uint32_t channels);
void ResamplerDestroy(Resampler *rs);
// Largest output count for `in_count` input samples.
uint32_t ResamplerMaxOutput(const Resampler *rs, uint32_t in_count);
// Converts in_count samples of each input plane into out planes; returns the samples produced
// per channel (about in_count * out_rate / in_rate).
uint32_t ResamplerRun(Resampler *rs, const int16_t *const *in, uint32_t in_count, int16_t **out,
                      uint32_t out_capacity);
void ResamplerReset(Resampler *rs);
uint32_t ResamplerInRate(const Resampler *rs);
uint32_t ResamplerOutRate(const Resampler *rs);
