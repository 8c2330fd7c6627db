// Streams of more than two channels (3.0 to 7.1): per-element decoding into the channel slots, and
// the downmix to the stereo pair the output carries.
#include <cstring>

#include "codec/aac/aac_internal.h"

namespace aacdec {

namespace {

constexpr int32_t ToQ30(double v) {
    return static_cast<int32_t>(v * (1 << 30) + (v < 0 ? -0.5 : 0.5));
}

constexpr int32_t kCentreGain = ToQ30(0.7071067812);  // 1/sqrt(2)
// matrix_mixdown_idx 0..3: the surround gain A.
constexpr int32_t kSurroundGain[4] = {
    ToQ30(0.7071067812),  // 1/sqrt(2)
    ToQ30(0.5),
    ToQ30(0.3535533906),  // 1/(2 sqrt(2))
    0,
};

void SilentChannel(ChannelState *cs, WorkState *w) {
    IcsInfo ics = {};
    ics.window_sequence = kOnlyLong;
    ics.window_shape = static_cast<uint8_t>(cs->prev_window_shape);
    ics.num_windows = 1;
    ics.num_groups = 1;
    ics.group_len[0] = 1;
    int n = 0;
    ics.swb_offset = SwbOffsetLong(4, &n);
    ics.num_swb = static_cast<uint8_t>(n);
    std::memset(cs->spec, 0, sizeof(cs->spec));
    Synthesise(&ics, cs, w);
}

}  // namespace

int32_t DecodeChannelElement(Handle *h, int slot, int count) {
    StreamState *s = h->stream;
    int32_t *spec[2] = {h->chan[slot].spec, count == 2 ? h->chan[slot + 1].spec : nullptr};
    for (int c = 0; c < count; ++c) {
        Dequantise(&s->ch[c], spec[c]);
        const bool right = c == 1;
        ApplyNoise(&s->ch[c], spec[c], &h->misc->noise_seed, s, right, right ? spec[0] : nullptr);
    }
    if (count == 2) {
        ApplyMidSide(s, &s->ch[0], &s->ch[1], spec[0], spec[1]);
        ApplyIntensity(s, &s->ch[1], spec[0], spec[1]);
    }
    int32_t error = 0;
    for (int c = 0; c < count; ++c) {
        int32_t e = ApplyTns(&s->ch[c], s->sf_index, spec[c], h->misc);
        if (e && !error) error = e;
        Synthesise(&s->ch[c].ics, &h->chan[slot + c], h->work);
    }
    return error;
}

// ISO/IEC 14496-3 matrix-mixdown: L' = (L + C/sqrt(2) + A Ls) / (1 + 1/sqrt(2) + A), R' alike;
// with pseudo surround both surrounds go to each side, subtracted on the left:
// L' = (L + C/sqrt(2) - A (Ls + Rs)) / (1 + 1/sqrt(2) + 2A). A comes from the program
// configuration when it gives one, else 1/sqrt(2). A mono surround feeds both sides at A/sqrt(2);
// the LFE channel is left out. Each side is normalised by the sum of its gains over the channels
// the stream has, so no combination can overflow.
void MixDown(Handle *h, int32_t done_mask) {
    StreamState *s = h->stream;
    const int slots = s->mc_slots;
    for (int k = 0; k < slots; ++k)
        if (!(done_mask & (1 << k))) SilentChannel(&h->chan[k], h->work);  // missing: fade out
    const bool pseudo = s->pce.matrix_mixdown && s->pce.pseudo_surround;
    const int32_t a = kSurroundGain[s->pce.matrix_mixdown ? s->pce.matrix_mixdown - 1 : 0];
    int32_t gain[kMaxCoreChannels][2] = {};
    int64_t sum[2] = {0, 0};
    for (int k = 0; k < slots; ++k) {
        int32_t *g = gain[k];
        switch (s->mc_role[k]) {
            case kRoleFrontLeft: g[0] = 1 << 30; break;
            case kRoleFrontRight: g[1] = 1 << 30; break;
            case kRoleCentre: g[0] = g[1] = kCentreGain; break;
            case kRoleSurroundLeft:
                g[0] = pseudo ? -a : a;
                g[1] = pseudo ? a : 0;
                break;
            case kRoleSurroundRight:
                g[0] = pseudo ? -a : 0;
                g[1] = a;
                break;
            case kRoleBackCentre: {
                const int32_t b =
                    static_cast<int32_t>((static_cast<int64_t>(a) * kCentreGain) >> 30);
                g[0] = pseudo ? -b : b;
                g[1] = b;
                break;
            }
            default: break;
        }
        sum[0] += g[0] < 0 ? -static_cast<int64_t>(g[0]) : g[0];
        sum[1] += g[1] < 0 ? -static_cast<int64_t>(g[1]) : g[1];
    }
    int32_t coef[kMaxCoreChannels][2] = {};
    for (int k = 0; k < slots; ++k)
        for (int side = 0; side < 2; ++side)
            if (sum[side])
                coef[k][side] =
                    static_cast<int32_t>((static_cast<int64_t>(gain[k][side]) << 30) / sum[side]);
    // Both sides are formed in the work space first: slots 0 and 1 are inputs as well as outputs.
    int32_t *mix = h->work->time;
    for (int side = 0; side < 2; ++side) {
        int32_t *out = mix + side * kFrameLen;
        for (int i = 0; i < kFrameLen; ++i) {
            int64_t acc = 0;
            for (int k = 0; k < slots; ++k)
                acc += static_cast<int64_t>(h->chan[k].spec[i]) * coef[k][side];
            out[i] = Sat32((acc + (int64_t{1} << 29)) >> 30);
        }
    }
    std::memcpy(h->chan[0].spec, mix, sizeof(h->chan[0].spec));
    std::memcpy(h->chan[1].spec, mix + kFrameLen, sizeof(h->chan[1].spec));
}

}  // namespace aacdec
