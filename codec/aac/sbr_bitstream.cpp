// SBR bitstream (ISO/IEC 14496-3 4.4.2.8 and 4.5.2.8): header, time/frequency grid, delta
// directions, inverse filtering modes, envelope and noise floor data, sinusoids and the extended
// data that carries parametric stereo.
#include <cstring>

#include "codec/aac/sbr.h"

namespace aacdec {
namespace {

enum { kFixFix = 0, kFixVar = 1, kVarFix = 2, kVarVar = 3 };
enum {
    kHuffTEnv15 = 0,
    kHuffFEnv15,
    kHuffTBal15,
    kHuffFBal15,
    kHuffTEnv30,
    kHuffFEnv30,
    kHuffTBal30,
    kHuffFBal30,
    kHuffTNoise30,
    kHuffTNoiseBal30
};

// Huffman value, or false on a code that leads nowhere.
bool HuffSbr(BitReader *br, int table, int *value) {
    const int16_t(*t)[2] = kSbrHuffTrees[table];
    int n = 0;
    for (int i = 0; i < 24; ++i) {
        int v = t[n][BrBit(br)];
        if (v < 0) {
            *value = -v - 1000;
            return true;
        }
        n = v;
    }
    return false;
}

int CeilLog2(int n) {  // bits for bs_pointer: ceil(log2(num_env + 1))
    static const uint8_t kBits[6] = {0, 1, 2, 2, 3, 3};
    return kBits[n];
}

void ReadHeader(BitReader *br, SbrHeader *h) {
    h->amp_res = static_cast<uint8_t>(BrBit(br));
    h->start_freq = static_cast<uint8_t>(BrRead(br, 4));
    h->stop_freq = static_cast<uint8_t>(BrRead(br, 4));
    h->xover_band = static_cast<uint8_t>(BrRead(br, 3));
    BrSkip(br, 2);
    bool extra1 = BrBit(br) != 0;
    bool extra2 = BrBit(br) != 0;
    h->freq_scale = 2;
    h->alter_scale = 1;
    h->noise_bands = 2;
    if (extra1) {
        h->freq_scale = static_cast<uint8_t>(BrRead(br, 2));
        h->alter_scale = static_cast<uint8_t>(BrBit(br));
        h->noise_bands = static_cast<uint8_t>(BrRead(br, 2));
    }
    h->limiter_bands = 2;
    h->limiter_gains = 2;
    h->interpol_freq = 1;
    h->smoothing_mode = 1;
    if (extra2) {
        h->limiter_bands = static_cast<uint8_t>(BrRead(br, 2));
        h->limiter_gains = static_cast<uint8_t>(BrRead(br, 2));
        h->interpol_freq = static_cast<uint8_t>(BrBit(br));
        h->smoothing_mode = static_cast<uint8_t>(BrBit(br));
    }
}

int32_t ReadGrid(BitReader *br, const SbrHeader *h, SbrChannelData *d) {
    int cls = static_cast<int>(BrRead(br, 2));
    int n = 0, pointer = 0;
    uint8_t t[kSbrMaxEnv + 1] = {};
    uint8_t res[kSbrMaxEnv] = {};
    d->amp_res = h->amp_res;
    switch (cls) {
        case kFixFix: {
            n = 1 << BrRead(br, 2);
            int r = static_cast<int>(BrBit(br));
            if (n > 4) return kSbrErrGrid;
            for (int l = 0; l < n; ++l) res[l] = static_cast<uint8_t>(r);
            for (int l = 0; l <= n; ++l) t[l] = static_cast<uint8_t>(l * kSbrTimeSlots / n);
            if (n == 1) d->amp_res = 0;
            break;
        }
        case kFixVar: {
            int trail = kSbrTimeSlots + static_cast<int>(BrRead(br, 2));
            int nrel = static_cast<int>(BrRead(br, 2));
            n = nrel + 1;
            t[0] = 0;
            t[n] = static_cast<uint8_t>(trail);
            int b = trail;
            for (int i = 0; i < nrel; ++i) {
                b -= 2 * static_cast<int>(BrRead(br, 2)) + 2;
                t[n - 1 - i] = static_cast<uint8_t>(b < 0 ? 0 : b);
            }
            pointer = static_cast<int>(BrRead(br, CeilLog2(n)));
            for (int l = 0; l < n; ++l) res[n - 1 - l] = static_cast<uint8_t>(BrBit(br));
            break;
        }
        case kVarFix: {
            int lead = static_cast<int>(BrRead(br, 2));
            int nrel = static_cast<int>(BrRead(br, 2));
            n = nrel + 1;
            t[0] = static_cast<uint8_t>(lead);
            t[n] = kSbrTimeSlots;
            int b = lead;
            for (int i = 0; i < nrel; ++i) {
                b += 2 * static_cast<int>(BrRead(br, 2)) + 2;
                t[i + 1] = static_cast<uint8_t>(b > 255 ? 255 : b);
            }
            pointer = static_cast<int>(BrRead(br, CeilLog2(n)));
            for (int l = 0; l < n; ++l) res[l] = static_cast<uint8_t>(BrBit(br));
            break;
        }
        default: {
            int lead = static_cast<int>(BrRead(br, 2));
            int trail = kSbrTimeSlots + static_cast<int>(BrRead(br, 2));
            int nlead = static_cast<int>(BrRead(br, 2));
            int ntrail = static_cast<int>(BrRead(br, 2));
            n = nlead + ntrail + 1;
            if (n > kSbrMaxEnv) return kSbrErrGrid;
            t[0] = static_cast<uint8_t>(lead);
            t[n] = static_cast<uint8_t>(trail);
            int b = lead;
            for (int i = 0; i < nlead; ++i) {
                b += 2 * static_cast<int>(BrRead(br, 2)) + 2;
                t[i + 1] = static_cast<uint8_t>(b > 255 ? 255 : b);
            }
            b = trail;
            for (int i = 0; i < ntrail; ++i) {
                b -= 2 * static_cast<int>(BrRead(br, 2)) + 2;
                t[n - 1 - i] = static_cast<uint8_t>(b < 0 ? 0 : b);
            }
            pointer = static_cast<int>(BrRead(br, CeilLog2(n)));
            for (int l = 0; l < n; ++l) res[l] = static_cast<uint8_t>(BrBit(br));
            break;
        }
    }
    if (pointer > n + 1) return kSbrErrGrid;
    for (int l = 0; l < n; ++l)
        if (t[l] >= t[l + 1]) return kSbrErrGrid;
    d->frame_class = static_cast<uint8_t>(cls);
    d->num_env = static_cast<uint8_t>(n);
    d->pointer = static_cast<uint8_t>(pointer);
    std::memcpy(d->t_env, t, sizeof(t));
    std::memcpy(d->freq_res, res, sizeof(res));
    d->num_noise = n > 1 ? 2 : 1;
    d->t_q[0] = t[0];
    d->t_q[d->num_noise] = t[n];
    if (n > 1) {
        int idx;
        if (cls == kFixFix) idx = n >> 1;
        else if (cls & 1) idx = n - (pointer - 1 > 1 ? pointer - 1 : 1);
        else if (pointer == 0) idx = 1;
        else if (pointer == 1) idx = n - 1;
        else idx = pointer - 1;
        if (idx <= 0 || idx >= n) return kSbrErrGrid;
        d->t_q[1] = t[idx];
    }
    return kSbrErrNone;
}

void CopyGrid(SbrChannelData *dst, const SbrChannelData *src) {
    dst->frame_class = src->frame_class;
    dst->num_env = src->num_env;
    dst->num_noise = src->num_noise;
    dst->pointer = src->pointer;
    dst->amp_res = src->amp_res;
    std::memcpy(dst->t_env, src->t_env, sizeof(dst->t_env));
    std::memcpy(dst->t_q, src->t_q, sizeof(dst->t_q));
    std::memcpy(dst->freq_res, src->freq_res, sizeof(dst->freq_res));
}

void ReadDtdf(BitReader *br, SbrChannelData *d) {
    for (int l = 0; l < d->num_env; ++l) d->df_env[l] = static_cast<uint8_t>(BrBit(br));
    for (int l = 0; l < d->num_noise; ++l) d->df_noise[l] = static_cast<uint8_t>(BrBit(br));
}

void ReadInvf(BitReader *br, const SbrFreq *f, SbrChannelData *d) {
    for (int i = 0; i < f->n_q; ++i) d->invf[i] = static_cast<uint8_t>(BrRead(br, 2));
}

const uint8_t *ResTable(const SbrFreq *f, int res, int *n) {
    *n = res ? f->n_high : f->n_low;
    return res ? f->f_high : f->f_low;
}

int32_t ReadEnvelope(BitReader *br, const SbrFreq *f, SbrChannelData *d, bool balance) {
    int t_huff, f_huff, bits;
    if (balance) {
        t_huff = d->amp_res ? kHuffTBal30 : kHuffTBal15;
        f_huff = d->amp_res ? kHuffFBal30 : kHuffFBal15;
        bits = d->amp_res ? 5 : 6;
    } else {
        t_huff = d->amp_res ? kHuffTEnv30 : kHuffTEnv15;
        f_huff = d->amp_res ? kHuffFEnv30 : kHuffFEnv15;
        bits = d->amp_res ? 6 : 7;
    }
    // Balance values count in steps of two of the level scale.
    int delta = balance ? 2 : 1;
    int prev_res = d->freq_res_prev;
    const int16_t *prev = d->env_prev;
    for (int l = 0; l < d->num_env; ++l) {
        int n = 0;
        const uint8_t *tab = ResTable(f, d->freq_res[l], &n);
        int16_t *e = d->env[l];
        if (d->df_env[l]) {
            int pn = 0;
            const uint8_t *ptab = ResTable(f, prev_res, &pn);
            for (int j = 0; j < n; ++j) {
                // The band of the previous resolution that holds this band's start.
                int k = 0;
                while (k + 1 < pn && ptab[k + 1] <= tab[j]) ++k;
                int v = 0;
                if (!HuffSbr(br, t_huff, &v)) return kSbrErrHuffman;
                e[j] = static_cast<int16_t>(prev[k] + delta * v);
            }
        } else {
            e[0] = static_cast<int16_t>(delta * static_cast<int>(BrRead(br, bits)));
            for (int j = 1; j < n; ++j) {
                int v = 0;
                if (!HuffSbr(br, f_huff, &v)) return kSbrErrHuffman;
                e[j] = static_cast<int16_t>(e[j - 1] + delta * v);
            }
        }
        // Values far outside what an encoder can mean are damage (the delta chains cannot
        // leave this range in valid data).
        for (int j = 0; j < n; ++j)
            if (e[j] < -256 || e[j] > 255) return kSbrErrRange;
        prev = e;
        prev_res = d->freq_res[l];
    }
    return kSbrErrNone;
}

int32_t ReadNoise(BitReader *br, const SbrFreq *f, SbrChannelData *d, bool balance) {
    int t_huff = balance ? kHuffTNoiseBal30 : kHuffTNoise30;
    int f_huff = balance ? kHuffFBal30 : kHuffFEnv30;
    int delta = balance ? 2 : 1;
    const int16_t *prev = d->noise_prev;
    for (int l = 0; l < d->num_noise; ++l) {
        int16_t *q = d->noise[l];
        if (d->df_noise[l]) {
            for (int j = 0; j < f->n_q; ++j) {
                int v = 0;
                if (!HuffSbr(br, t_huff, &v)) return kSbrErrHuffman;
                q[j] = static_cast<int16_t>(prev[j] + delta * v);
            }
        } else {
            q[0] = static_cast<int16_t>(delta * static_cast<int>(BrRead(br, 5)));
            for (int j = 1; j < f->n_q; ++j) {
                int v = 0;
                if (!HuffSbr(br, f_huff, &v)) return kSbrErrHuffman;
                q[j] = static_cast<int16_t>(q[j - 1] + delta * v);
            }
        }
        for (int j = 0; j < f->n_q; ++j)
            if (q[j] < -256 || q[j] > 255) return kSbrErrRange;
        prev = q;
    }
    return kSbrErrNone;
}

void ReadHarmonics(BitReader *br, const SbrFreq *f, SbrChannelData *d) {
    d->add_harmonic_flag = static_cast<uint8_t>(BrBit(br));
    std::memset(d->add_harmonic, 0, sizeof(d->add_harmonic));
    if (d->add_harmonic_flag)
        for (int i = 0; i < f->n_high; ++i) d->add_harmonic[i] = static_cast<uint8_t>(BrBit(br));
}

// bs_extended_data: the PS payload goes to the PS parser, everything else is skipped.
int32_t ReadExtended(BitReader *br, SbrControl *c, bool mono, bool want_ps) {
    if (!BrBit(br)) return kSbrErrNone;
    int cnt = static_cast<int>(BrRead(br, 4));
    if (cnt == 15) cnt += static_cast<int>(BrRead(br, 8));
    int64_t left = 8 * static_cast<int64_t>(cnt);
    int64_t end = br->pos + left;
    if (end > br->size_bits) return kSbrErrOverrun;
    int32_t err = kSbrErrNone;
    if (left > 7) {
        int id = static_cast<int>(BrRead(br, 2));
        left -= 2;
        if (id == 2 && mono && want_ps && !c->ps_in_frame) {
            if (ReadPsData(br, static_cast<int32_t>(left), &c->ps, &c->ps_frame) &&
                br->pos <= end) {
                c->ps_in_frame = 1;
            } else {
                c->ps_error = 1;
                err = kSbrErrPs;
            }
        }
    }
    br->pos = end;
    return err;
}

// Keeps what the next frame's delta coding needs.
void EndFrame(SbrChannelData *d, const SbrFreq *f) {
    int l = d->num_env - 1;
    int n = d->freq_res[l] ? f->n_high : f->n_low;
    std::memcpy(d->env_prev, d->env[l], n * sizeof(int16_t));
    std::memcpy(d->noise_prev, d->noise[d->num_noise - 1], sizeof(d->noise_prev));
    d->freq_res_prev = d->freq_res[l];
}

}  // namespace

uint32_t SbrCrc10(const uint8_t *data, int64_t start, int64_t bits) {
    uint32_t reg = 0;
    for (int64_t i = start; i < start + bits; ++i) {
        uint32_t in = (data[i >> 3] >> (7 - (i & 7))) & 1;
        uint32_t fb = ((reg >> 9) & 1) ^ in;
        reg = (reg << 1) & 0x3FF;
        if (fb) reg ^= 0x233;
    }
    return reg;
}

int32_t ReadSbrPayload(SbrControl *c, const SbrPayload *p, int32_t core_rate, bool want_ps,
                       bool *header_changed) {
    *header_changed = false;
    BitReader br;
    BrInit(&br, p->data, p->size);
    BrSkip(&br, 4);  // extension_type
    if (p->ext_type == 14) {
        // bs_sbr_crc_bits protect everything of sbr_extension_data() after them, up to the end
        // of the fill payload. Checked before anything is parsed, so a damaged header cannot
        // replace the frequency tables.
        const int64_t covered = static_cast<int64_t>(p->size) * 8 - 14;
        uint32_t sent = BrRead(&br, 10);
        if (covered < 0 || br.overrun || SbrCrc10(p->data, 14, covered) != sent) return kSbrErrCrc;
    }
    const int first = p->element_id == kIdSce && p->channel < kMaxChannels ? p->channel : 0;
    const int count = p->element_id == kIdSce ? 1 : 2;
    SbrChannelHeader *hs = &c->hs[first];
    if (BrBit(&br)) {
        SbrHeader h;
        ReadHeader(&br, &h);
        if (br.overrun) return kSbrErrOverrun;
        const SbrHeader &o = hs->hdr;
        bool changed = !hs->header_seen || h.start_freq != o.start_freq ||
                       h.stop_freq != o.stop_freq || h.xover_band != o.xover_band ||
                       h.freq_scale != o.freq_scale || h.alter_scale != o.alter_scale ||
                       h.noise_bands != o.noise_bands || h.limiter_bands != o.limiter_bands;
        const bool rebuild = changed || !hs->freq.valid;
        c->out_rate = 2 * core_rate;
        for (int ch = first; ch < first + count; ++ch) {
            SbrChannelHeader *t = &c->hs[ch];
            t->hdr = h;
            t->header_seen = 1;
            if (!rebuild) continue;
            *header_changed = true;
            t->reset = 1;
            if (BuildSbrTables(&t->hdr, c->out_rate, &t->freq) != kSbrErrNone) {
                t->freq.valid = 0;
                continue;
            }
            // The delta coding of the new tables starts from zero.
            SbrChannelData &d = c->ch[ch];
            std::memset(d.env_prev, 0, sizeof(d.env_prev));
            std::memset(d.noise_prev, 0, sizeof(d.noise_prev));
            std::memset(d.invf_prev, 0, sizeof(d.invf_prev));
            d.freq_res_prev = 0;
        }
        if (!hs->freq.valid) return kSbrErrTables;
    }
    if (!hs->header_seen)
        return kSbrErrNoHeader;  // not reported: data before the first header is skipped
    if (!hs->freq.valid) return kSbrErrTables;
    const SbrFreq *f = &hs->freq;
    int32_t e = kSbrErrNone;
    if (p->element_id == kIdSce) {
        c->num_ch = 1;
        c->coupling = 0;
        SbrChannelData *d = &c->ch[first];
        if (BrBit(&br)) BrSkip(&br, 4);  // bs_reserved
        if ((e = ReadGrid(&br, &hs->hdr, d)) != 0) return e;
        ReadDtdf(&br, d);
        ReadInvf(&br, f, d);
        if ((e = ReadEnvelope(&br, f, d, false)) != 0) return e;
        if ((e = ReadNoise(&br, f, d, false)) != 0) return e;
        ReadHarmonics(&br, f, d);
    } else {
        c->num_ch = 2;
        SbrChannelData *d0 = &c->ch[0], *d1 = &c->ch[1];
        if (BrBit(&br)) BrSkip(&br, 8);
        c->coupling = static_cast<int32_t>(BrBit(&br));
        if (c->coupling) {
            if ((e = ReadGrid(&br, &hs->hdr, d0)) != 0) return e;
            CopyGrid(d1, d0);
            ReadDtdf(&br, d0);
            ReadDtdf(&br, d1);
            ReadInvf(&br, f, d0);
            std::memcpy(d1->invf, d0->invf, sizeof(d1->invf));
            if ((e = ReadEnvelope(&br, f, d0, false)) != 0) return e;
            if ((e = ReadNoise(&br, f, d0, false)) != 0) return e;
            if ((e = ReadEnvelope(&br, f, d1, true)) != 0) return e;
            if ((e = ReadNoise(&br, f, d1, true)) != 0) return e;
        } else {
            if ((e = ReadGrid(&br, &hs->hdr, d0)) != 0) return e;
            if ((e = ReadGrid(&br, &hs->hdr, d1)) != 0) return e;
            ReadDtdf(&br, d0);
            ReadDtdf(&br, d1);
            ReadInvf(&br, f, d0);
            ReadInvf(&br, f, d1);
            if ((e = ReadEnvelope(&br, f, d0, false)) != 0) return e;
            if ((e = ReadEnvelope(&br, f, d1, false)) != 0) return e;
            if ((e = ReadNoise(&br, f, d0, false)) != 0) return e;
            if ((e = ReadNoise(&br, f, d1, false)) != 0) return e;
        }
        ReadHarmonics(&br, f, d0);
        ReadHarmonics(&br, f, d1);
    }
    if (br.overrun) return kSbrErrOverrun;
    int32_t ext = ReadExtended(&br, c, c->num_ch == 1, want_ps);
    if (ext == kSbrErrOverrun) return ext;
    for (int ch = first; ch < first + c->num_ch; ++ch) EndFrame(&c->ch[ch], f);
    return ext;
}

}  // namespace aacdec
