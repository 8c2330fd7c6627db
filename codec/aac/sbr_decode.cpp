// The SBR stage for one frame (ISO/IEC 14496-3 4.6.18.2): analysis of the core output, assembly
// of the QMF matrix from the low band, the high band carried over from the previous frame and
// the newly generated and adjusted high band, parametric stereo, and synthesis.
#include <cstring>

#include "codec/aac/aacdec.h"
#include "codec/aac/sbr.h"

namespace aacdec {
namespace {

constexpr size_t kCtlOffset = (sizeof(StreamState) + 7) & ~size_t{7};
constexpr size_t kStateOffset = (sizeof(MiscState) + 7) & ~size_t{7};

static_assert(kCtlOffset + sizeof(SbrControl) <= kBlockSize[1],
              "SBR control state does not fit block 1");
static_assert(kStateOffset + sizeof(SbrState) <= kBlockSize[4], "SBR state does not fit block 4");
static_assert(sizeof(SbrWork) + 31 <= kBlockSize[3] && sizeof(WorkState) + 31 <= kBlockSize[3],
              "SBR work space does not fit block 3");

void ClearResets(SbrControl *ctl) {
    for (SbrChannelHeader &hs : ctl->hs) hs.reset = 0;
}

// Low band, carried-over high band and new high band of one channel into w->x.
void AssembleChannel(Handle *h, int ch, bool sbr_ok, SbrWork *w) {
    SbrControl *ctl = SbrCtl(h);
    SbrChannel *c = &SbrSt(h)->ch[ch];
    std::memcpy(w->low, c->low_hist, sizeof(c->low_hist));
    SbrAnalysis(c, h->chan[ch].spec, w->low);
    std::memset(w->x, 0, sizeof(w->x));
    int carried = c->over_slots;
    for (int l = 0; l < carried; ++l)
        for (int k = c->over_kx; k < c->over_kx + c->over_m && k < 64; ++k) {
            w->x[l][k][0] = c->over[l][k][0];
            w->x[l][k][1] = c->over[l][k][1];
        }
    const SbrFreq *f = &ctl->hs[ch].freq;
    int kx = sbr_ok ? f->kx : 32;
    for (int l = 0; l < kSbrSlots; ++l) {
        int lim = l < carried ? c->kx_prev : kx;
        for (int k = 0; k < lim; ++k) {
            w->x[l][k][0] = w->low[l + kSbrHfAdj][k][0];
            w->x[l][k][1] = w->low[l + kSbrHfAdj][k][1];
        }
    }
    c->over_slots = 0;
    if (sbr_ok) {
        SbrChannelData *d = &ctl->ch[ch];
        int l0 = 2 * d->t_env[0], l1 = 2 * d->t_env[d->num_env];
        SbrHfGenerate(f, d, c, w->low, w->x, l0, l1);
        SbrHfAdjust(ctl, ch, c, w->x);
        std::memcpy(d->invf_prev, d->invf, sizeof(d->invf_prev));
        if (l1 > kSbrSlots) {
            c->over_slots = l1 - kSbrSlots;
            std::memcpy(c->over, w->x[kSbrSlots], c->over_slots * sizeof(w->x[0]));
            c->over_kx = f->kx;
            c->over_m = f->m;
        }
    }
    c->kx_prev = kx;
    std::memcpy(c->low_hist, w->low[kSbrSlots], sizeof(c->low_hist));
}

}  // namespace

SbrControl *SbrCtl(Handle *h) {
    return reinterpret_cast<SbrControl *>(reinterpret_cast<char *>(h->stream) + kCtlOffset);
}
SbrState *SbrSt(Handle *h) {
    return reinterpret_cast<SbrState *>(reinterpret_cast<char *>(h->misc) + kStateOffset);
}
SbrWork *SbrWk(Handle *h) { return reinterpret_cast<SbrWork *>(h->work); }

void SbrClearHistories(Handle *h) {
    SbrState *st = SbrSt(h);
    for (int ch = 0; ch < kMaxChannels; ++ch) {
        SbrChannel *c = &st->ch[ch];
        std::memset(c, 0, sizeof(*c));
        c->la_prev = -1;
        c->kx_prev = 32;
    }
    SbrControl *ctl = SbrCtl(h);
    ResetPs(&ctl->ps);
    ctl->ps_active = 0;
}

int SbrProcessFrame(Handle *h, int core_channels, const bool sbr_ok[kMaxChannels], bool downsampled,
                    bool mono_out, int16_t *pcm) {
    SbrControl *ctl = SbrCtl(h);
    SbrState *st = SbrSt(h);
    SbrWork *w = SbrWk(h);
    const int n = downsampled ? kFrameLen : 2 * kFrameLen;
    if (core_channels == 1) {
        AssembleChannel(h, 0, sbr_ok[0], w);
        // With PS decided on at set-up the output is stereo from the start (the mono signal on
        // both sides until PS data arrives), so neither the channel count nor the PS stage's
        // delay changes when it does.
        if (ctl->ps_in_frame) ctl->ps_active = 1;
        if ((ctl->ps_enabled || ctl->ps_active) && !mono_out) {
            ApplyPs(&ctl->ps, ctl->ps_in_frame && sbr_ok[0] ? &ctl->ps_frame : nullptr, w->x, w->y,
                    kSbrSlots);
            SbrSynthesis(&st->ch[0], w->x, pcm, downsampled);
            SbrSynthesis(&st->ch[1], w->y, pcm + AACDEC_CH1_OFFSET, downsampled);
            ClearResets(ctl);
            return 2;
        }
        SbrSynthesis(&st->ch[0], w->x, pcm, downsampled);
        ClearResets(ctl);
        return 1;
    }
    for (int ch = 0; ch < 2; ++ch) {
        AssembleChannel(h, ch, sbr_ok[ch], w);
        SbrSynthesis(&st->ch[ch], w->x, pcm + ch * AACDEC_CH1_OFFSET, downsampled);
    }
    ClearResets(ctl);
    if (mono_out) {
        int16_t *l = pcm, *r = pcm + AACDEC_CH1_OFFSET;
        for (int i = 0; i < n; ++i) l[i] = static_cast<int16_t>((l[i] + r[i]) >> 1);
        return 1;
    }
    return 2;
}

}  // namespace aacdec
