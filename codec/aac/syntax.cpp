// Bitstream syntax of ISO/IEC 14496-3 AAC-LC: ADTS and ADIF headers, the program configuration,
// the raw data block with its elements, the individual channel stream and the ADTS CRC.
#include <cstring>

#include "codec/aac/aac_internal.h"
#include "codec/aac/aacdec.h"

namespace aacdec {

namespace {

constexpr uint16_t CrcEntry(int i) {
    uint16_t c = static_cast<uint16_t>(i << 8);
    for (int b = 0; b < 8; ++b)
        c = static_cast<uint16_t>((c & 0x8000) ? (c << 1) ^ 0x8005 : (c << 1));
    return c;
}

struct CrcTable {
    uint16_t v[256];
    constexpr CrcTable() : v() {
        for (int i = 0; i < 256; ++i) v[i] = CrcEntry(i);
    }
};
constexpr CrcTable kCrcTable;

uint16_t CrcZeros(uint16_t crc, int64_t nbits) {
    for (; nbits >= 8; nbits -= 8) crc = static_cast<uint16_t>((crc << 8) ^ kCrcTable.v[crc >> 8]);
    for (; nbits > 0; --nbits)
        crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x8005 : (crc << 1));
    return crc;
}

// Parts of a raw data block that the ADTS CRC protects.
struct CrcPart {
    int64_t start;
    int64_t end;      // end of the element's own bits
    int32_t protect;  // bits fed (zero padded past end); 0 = everything up to end
};
constexpr int kMaxCrcParts = 24;

struct BlockCtx {
    Handle *h;
    BitReader *br;
    int32_t error;
    CrcPart parts[kMaxCrcParts];
    int nparts;
    int crc_overflow;
    int spec_base;       // channel slot whose spectrum buffer takes channel 0 of the element
    int64_t second_ics;  // multichannel: start of a pair's second channel stream, else -1
};

void AddCrcPart(BlockCtx *c, int64_t start, int64_t end, int32_t protect) {
    if (c->nparts >= kMaxCrcParts) {
        c->crc_overflow = 1;
        return;
    }
    c->parts[c->nparts++] = {start, end, protect};
}

void SetError(BlockCtx *c, int32_t e) {
    if (c->error == 0) c->error = e;
}

void UsePceMappingImpl(StreamState *s) {
    if (!s->pce.slots) return;
    std::memcpy(s->slot_of_tag, s->pce.slot_of_tag, sizeof(s->slot_of_tag));
    s->slots_used = s->pce.slots;
}

int32_t SignExtend(uint32_t v, int bits) {
    uint32_t m = 1u << (bits - 1);
    return static_cast<int32_t>((v ^ m) - m);
}

// ---- ics_info ----
int32_t ReadIcsInfo(BlockCtx *c, IcsInfo *ics) {
    BitReader *br = c->br;
    int sf_index = c->h->stream->sf_index;
    BrSkip(br, 1);  // ics_reserved_bit
    ics->window_sequence = static_cast<uint8_t>(BrRead(br, 2));
    ics->window_shape = static_cast<uint8_t>(BrRead(br, 1));
    int num_swb = 0;
    if (ics->window_sequence == kEightShort) {
        ics->max_sfb = static_cast<uint8_t>(BrRead(br, 4));
        uint32_t grouping = BrRead(br, 7);
        ics->num_windows = 8;
        ics->num_groups = 1;
        ics->group_len[0] = 1;
        for (int i = 0; i < 7; ++i) {
            if (grouping & (1u << (6 - i))) {
                ics->group_len[ics->num_groups - 1]++;
            } else {
                ics->group_len[ics->num_groups++] = 1;
            }
        }
        ics->swb_offset = SwbOffsetShort(sf_index, &num_swb);
    } else {
        ics->max_sfb = static_cast<uint8_t>(BrRead(br, 6));
        ics->num_windows = 1;
        ics->num_groups = 1;
        ics->group_len[0] = 1;
        ics->swb_offset = SwbOffsetLong(sf_index, &num_swb);
        if (BrBit(br)) return AACDEC_ERR_PREDICTION;  // predictor_data_present
    }
    ics->num_swb = static_cast<uint8_t>(num_swb);
    if (ics->max_sfb > num_swb) return AACDEC_ERR_BAND_COUNT;
    return 0;
}

// ---- section_data ----
int32_t ReadSectionData(BlockCtx *c, ChannelData *cd) {
    BitReader *br = c->br;
    const IcsInfo &ics = cd->ics;
    int len_bits = ics.num_windows == 8 ? 3 : 5;
    uint32_t esc = (1u << len_bits) - 1;
    std::memset(cd->band_type, 0, sizeof(cd->band_type));
    for (int g = 0; g < ics.num_groups; ++g) {
        int k = 0;
        while (k < ics.max_sfb) {
            if (br->overrun) return AACDEC_ERR_FATAL;
            uint32_t cb = BrRead(br, 4);
            if (cb == kReservedHcb) return AACDEC_ERR_RESERVED_CODEBOOK;
            int len = 0;
            for (;;) {
                uint32_t incr = BrRead(br, len_bits);
                len += static_cast<int>(incr);
                if (incr != esc || br->overrun) break;
            }
            if (br->overrun) return AACDEC_ERR_FATAL;
            if (k + len > ics.max_sfb) return AACDEC_ERR_BAND_COUNT;
            for (int i = 0; i < len; ++i)
                cd->band_type[g * ics.num_swb + k + i] = static_cast<uint8_t>(cb);
            k += len;
        }
    }
    return 0;
}

// ---- scale_factor_data ----
int32_t ReadScaleFactors(BlockCtx *c, ChannelData *cd) {
    BitReader *br = c->br;
    const IcsInfo &ics = cd->ics;
    int scale = cd->global_gain;
    int noise = cd->global_gain - 90;
    int intensity = 0;
    bool noise_pcm = true;
    std::memset(cd->band_sf, 0, sizeof(cd->band_sf));
    for (int g = 0; g < ics.num_groups; ++g) {
        for (int sfb = 0; sfb < ics.max_sfb; ++sfb) {
            int idx = g * ics.num_swb + sfb;
            int bt = cd->band_type[idx];
            if (bt == kZeroHcb) continue;
            if (bt == kIntensityHcb || bt == kIntensityHcb2) {
                intensity += HuffDecode(br, 0) - 60;
                cd->band_sf[idx] = static_cast<int16_t>(intensity);
            } else if (bt == kNoiseHcb) {
                if (noise_pcm) {
                    noise_pcm = false;
                    noise += static_cast<int>(BrRead(br, 9)) - 256;
                } else {
                    noise += HuffDecode(br, 0) - 60;
                }
                cd->band_sf[idx] = static_cast<int16_t>(noise);
            } else {
                scale += HuffDecode(br, 0) - 60;
                cd->band_sf[idx] = static_cast<int16_t>(scale);
            }
            // Deltas are bounded per band, so the running values stay far inside int16 for any
            // number of bands; clamp anyway so damaged input cannot wrap them.
            if (scale < -4096) scale = -4096;
            if (scale > 4096) scale = 4096;
            if (noise < -4096) noise = -4096;
            if (noise > 4096) noise = 4096;
            if (intensity < -4096) intensity = -4096;
            if (intensity > 4096) intensity = 4096;
        }
        if (br->overrun) return AACDEC_ERR_FATAL;
    }
    return 0;
}

int32_t ReadPulse(BlockCtx *c, ChannelData *cd) {
    BitReader *br = c->br;
    PulseData &p = cd->pulse;
    p.num = static_cast<uint8_t>(BrRead(br, 2) + 1);
    p.start_sfb = static_cast<uint8_t>(BrRead(br, 6));
    for (int i = 0; i < p.num; ++i) {
        p.offset[i] = static_cast<uint8_t>(BrRead(br, 5));
        p.amp[i] = static_cast<uint8_t>(BrRead(br, 4));
    }
    if (cd->ics.num_windows == 8)
        return AACDEC_ERR_BAND_COUNT;  // pulses exist for long windows only
    if (p.start_sfb >= cd->ics.num_swb) return AACDEC_ERR_BAND_COUNT;
    return 0;
}

void ReadTns(BlockCtx *c, ChannelData *cd) {
    BitReader *br = c->br;
    TnsData &t = cd->tns;
    bool is_short = cd->ics.num_windows == 8;
    int nf_bits = is_short ? 1 : 2, len_bits = is_short ? 4 : 6, ord_bits = is_short ? 3 : 5;
    for (int w = 0; w < cd->ics.num_windows; ++w) {
        t.n_filt[w] = static_cast<uint8_t>(BrRead(br, nf_bits));
        if (!t.n_filt[w]) continue;
        int coef_res = 3 + static_cast<int>(BrBit(br));
        for (int f = 0; f < t.n_filt[w]; ++f) {
            TnsFilter &flt = t.filt[w][f];
            flt.length = static_cast<uint8_t>(BrRead(br, len_bits));
            int order = static_cast<int>(BrRead(br, ord_bits));
            flt.coef_res = static_cast<uint8_t>(coef_res);
            flt.order = static_cast<uint8_t>(order > 12 ? 12 : order);
            if (!order) continue;
            flt.direction = static_cast<uint8_t>(BrBit(br));
            flt.compress = static_cast<uint8_t>(BrBit(br));
            int bits = coef_res - flt.compress;
            for (int i = 0; i < order; ++i) {
                int32_t v = SignExtend(BrRead(br, bits), bits);
                if (i < 12) flt.coef[i] = static_cast<int8_t>(v);
            }
        }
    }
}

// Magnitude of an escape sequence (codebook 11, value 16): N leading ones, a zero, N + 4 bits.
int32_t ReadEscape(BitReader *br) {
    int n = 0;
    while (BrBit(br)) {
        ++n;
        if (br->overrun) return 0;
    }
    int bits = n + 4;
    if (bits > 48) return 8192;
    uint64_t word;
    if (bits > 32) {
        word = static_cast<uint64_t>(BrRead(br, bits - 32)) << 32;
        word |= BrRead(br, 32);
    } else {
        word = BrRead(br, bits);
    }
    uint64_t v = (uint64_t{1} << bits) + word;
    // Valid streams stop at 8191; larger values are clamped so they index the |q|^(4/3) table.
    return v > 8192 ? 8192 : static_cast<int32_t>(v);
}

// Quantised values of one band of one window into dst (width coefficients).
void ReadBandValues(BitReader *br, int cb, int32_t *dst, int width) {
    if (cb <= 4) {
        bool is_signed = cb <= 2;
        for (int k = 0; k < width; k += 4) {
            uint32_t packed = static_cast<uint32_t>(HuffDecode(br, cb));
            for (int i = 0; i < 4; ++i) {
                int32_t v = SignExtend((packed >> (4 * (3 - i))) & 0xF, 4);
                if (!is_signed && v && BrBit(br)) v = -v;
                dst[k + i] = v;
            }
        }
    } else {
        bool is_signed = cb <= 6;
        for (int k = 0; k < width; k += 2) {
            uint32_t packed = static_cast<uint32_t>(HuffDecode(br, cb));
            int32_t a = static_cast<int8_t>((packed >> 8) & 0xFF);
            int32_t b = static_cast<int8_t>(packed & 0xFF);
            if (!is_signed) {
                bool na = a && BrBit(br);
                bool nb = b && BrBit(br);
                if (cb == kEscHcb) {
                    if (a == 16) a = ReadEscape(br);
                    if (b == 16) b = ReadEscape(br);
                }
                if (na) a = -a;
                if (nb) b = -b;
            }
            dst[k] = a;
            dst[k + 1] = b;
        }
    }
}

int32_t ReadSpectralData(BlockCtx *c, ChannelData *cd, int32_t *spec) {
    BitReader *br = c->br;
    const IcsInfo &ics = cd->ics;
    std::memset(spec, 0, sizeof(int32_t) * kFrameLen);
    int win_len = ics.num_windows == 8 ? kShortLen : kFrameLen;
    int win = 0;
    for (int g = 0; g < ics.num_groups; ++g) {
        for (int sfb = 0; sfb < ics.max_sfb; ++sfb) {
            int cb = cd->band_type[g * ics.num_swb + sfb];
            if (cb == kZeroHcb || cb >= kNoiseHcb) continue;
            int start = ics.swb_offset[sfb];
            int width = ics.swb_offset[sfb + 1] - start;
            for (int w = 0; w < ics.group_len[g]; ++w) {
                ReadBandValues(br, cb, spec + (win + w) * win_len + start, width);
            }
            if (br->overrun) return AACDEC_ERR_FATAL;
        }
        win += ics.group_len[g];
    }
    if (cd->pulse.present) {
        const PulseData &p = cd->pulse;
        int k = ics.swb_offset[p.start_sfb];
        for (int i = 0; i < p.num; ++i) {
            k += p.offset[i];
            if (k >= kFrameLen) return AACDEC_ERR_BAND_COUNT;
            if (spec[k] > 0) spec[k] += p.amp[i];
            else spec[k] -= p.amp[i];
        }
    }
    return 0;
}

// individual_channel_stream; the ics_info was read already when the window is common.
int32_t ReadIcs(BlockCtx *c, int ch, bool common_window) {
    BitReader *br = c->br;
    ChannelData *cd = &c->h->stream->ch[ch];
    int32_t *spec = c->h->chan[c->spec_base + ch].spec;
    cd->global_gain = static_cast<uint8_t>(BrRead(br, 8));
    if (!common_window) {
        int32_t e = ReadIcsInfo(c, &cd->ics);
        if (e) return e;
    }
    int32_t e = ReadSectionData(c, cd);
    if (e) return e;
    e = ReadScaleFactors(c, cd);
    if (e) return e;
    cd->pulse.present = static_cast<uint8_t>(BrBit(br));
    if (cd->pulse.present) {
        e = ReadPulse(c, cd);
        if (e) return e;
    }
    cd->tns.present = static_cast<uint8_t>(BrBit(br));
    if (cd->tns.present) ReadTns(c, cd);
    if (BrBit(br)) return AACDEC_ERR_PREDICTION;  // gain control belongs to the SSR profile
    if (br->overrun) return AACDEC_ERR_FATAL;
    return ReadSpectralData(c, cd, spec);
}

int32_t ReadCpe(BlockCtx *c, int64_t *second_ics_start) {
    BitReader *br = c->br;
    StreamState *s = c->h->stream;
    BrSkip(br, 4);  // element_instance_tag
    bool common = BrBit(br) != 0;
    s->ms_mask_present = 0;
    std::memset(s->ms_used, 0, sizeof(s->ms_used));
    if (common) {
        int32_t e = ReadIcsInfo(c, &s->ch[0].ics);
        if (e) return e;
        s->ch[1].ics = s->ch[0].ics;
        const IcsInfo &ics = s->ch[0].ics;
        s->ms_mask_present = static_cast<int32_t>(BrRead(br, 2));
        if (s->ms_mask_present == 1) {
            for (int g = 0; g < ics.num_groups; ++g)
                for (int sfb = 0; sfb < ics.max_sfb; ++sfb)
                    s->ms_used[g * ics.num_swb + sfb] = static_cast<uint8_t>(BrBit(br));
        } else if (s->ms_mask_present == 2) {
            for (int g = 0; g < ics.num_groups; ++g)
                for (int sfb = 0; sfb < ics.max_sfb; ++sfb) s->ms_used[g * ics.num_swb + sfb] = 1;
        }
    }
    int32_t e = ReadIcs(c, 0, common);
    if (e) return e;
    *second_ics_start = br->pos;
    return ReadIcs(c, 1, common);
}

int32_t ReadPceImpl(BitReader *br, ProgramConfig *pce) {
    BrSkip(br, 4);  // element_instance_tag
    pce->object_type = static_cast<uint8_t>(BrRead(br, 2));
    pce->sf_index = static_cast<uint8_t>(BrRead(br, 4));
    int front = static_cast<int>(BrRead(br, 4));
    int side = static_cast<int>(BrRead(br, 4));
    int back = static_cast<int>(BrRead(br, 4));
    int lfe = static_cast<int>(BrRead(br, 2));
    int assoc = static_cast<int>(BrRead(br, 3));
    int cc = static_cast<int>(BrRead(br, 4));
    if (BrBit(br)) BrSkip(br, 4);  // mono mixdown
    if (BrBit(br)) BrSkip(br, 4);  // stereo mixdown
    if (BrBit(br)) {
        pce->matrix_mixdown = static_cast<uint8_t>(BrRead(br, 2) + 1);
        pce->pseudo_surround = static_cast<uint8_t>(BrBit(br));
    }
    int channels = 0;
    for (int i = 0; i < front + side + back; ++i) {
        bool cpe = BrBit(br) != 0;
        int tag = static_cast<int>(BrRead(br, 4));
        // Single-channel elements take the output channels in the order the PCE lists them.
        if (!cpe && channels < kMaxChannels && !pce->slot_of_tag[tag]) {
            pce->slot_of_tag[tag] = static_cast<uint8_t>(channels + 1);
            pce->slots = static_cast<uint8_t>(channels + 1);
        }
        channels += cpe ? 2 : 1;
    }
    for (int i = 0; i < lfe; ++i) {
        int tag = static_cast<int>(BrRead(br, 4));
        if (channels < kMaxChannels && !pce->slot_of_tag[16 + tag]) {
            pce->slot_of_tag[16 + tag] = static_cast<uint8_t>(channels + 1);
            pce->slots = static_cast<uint8_t>(channels + 1);
        }
        ++channels;
    }
    BrSkip(br, 4 * assoc + 5 * cc);
    BrAlign(br, 0);
    int comment = static_cast<int>(BrRead(br, 8));
    BrSkip(br, 8 * comment);
    if (br->overrun) return AACDEC_ERR_FATAL;
    pce->channels = static_cast<uint8_t>(channels > 255 ? 255 : channels);
    pce->present = 1;
    return 0;
}

void ReadFill(BlockCtx *c, int prev_element, int prev_channel) {
    BitReader *br = c->br;
    StreamState *s = c->h->stream;
    int count = static_cast<int>(BrRead(br, 4));
    if (count == 15) count += static_cast<int>(BrRead(br, 8)) - 1;
    if (count <= 0) return;
    int64_t start = br->pos;
    uint32_t ext_type = BrPeek(br, 4);
    if ((ext_type == 13 || ext_type == 14) && (prev_element == kIdSce || prev_element == kIdCpe) &&
        prev_channel >= 0 && count < kMaxSbrPayload && s->num_sbr < kMaxSbrElements &&
        BrLeft(br) >= 8 * count) {
        SbrPayload &p = s->sbr[s->num_sbr++];
        p.size = count;
        p.ext_type = static_cast<uint8_t>(ext_type);
        p.element_id = static_cast<uint8_t>(prev_element);
        p.channel = static_cast<uint8_t>(prev_channel);
        for (int i = 0; i < count; ++i) p.data[i] = static_cast<uint8_t>(BrRead(br, 8));
    }
    br->pos = start;
    BrSkip(br, static_cast<int64_t>(count) * 8);
}

int32_t ReadDse(BitReader *br) {
    BrSkip(br, 4);  // element_instance_tag
    bool align = BrBit(br) != 0;
    int count = static_cast<int>(BrRead(br, 8));
    if (count == 255) count += static_cast<int>(BrRead(br, 8));
    if (align) BrAlign(br, 0);
    BrSkip(br, static_cast<int64_t>(count) * 8);
    return br->overrun ? AACDEC_ERR_FATAL : 0;
}

// One SCE, LFE or CPE of a multichannel stream, read into the channel slots its tag holds and
// decoded there at once. *slot is -1 when the element has no room (more than eight channels) or
// appears twice in the block: the block ends there.
int32_t ReadMultichannelElement(BlockCtx *c, int id, FrameResult *res, int *slot) {
    StreamState *s = c->h->stream;
    BitReader *br = c->br;
    *slot = -1;
    c->second_ics = -1;
    const int count = id == kIdCpe ? 2 : 1;
    const int key = (id == kIdCpe ? 32 : id == kIdLfe ? 16 : 0) + static_cast<int>(BrPeek(br, 4));
    int first = s->mc_slot_of[key] - 1;
    if (first < 0) {
        if (s->mc_slots + count > kMaxCoreChannels) return 0;
        first = s->mc_slots;
        s->mc_slots += count;
        s->mc_slot_of[key] = static_cast<uint8_t>(first + 1);
        if (id == kIdCpe) {
            const bool front = s->mc_pairs++ == 0;
            s->mc_role[first] = front ? kRoleFrontLeft : kRoleSurroundLeft;
            s->mc_role[first + 1] = front ? kRoleFrontRight : kRoleSurroundRight;
        } else {
            // A single channel ahead of every pair is the front centre; one after them is behind.
            s->mc_role[first] = id == kIdLfe  ? kRoleLfe
                                : s->mc_pairs ? kRoleBackCentre
                                              : kRoleCentre;
        }
    }
    const int32_t mask = (count == 2 ? 3 : 1) << first;
    if (res->mc_done & mask) return 0;
    *slot = first;
    c->spec_base = first;
    int32_t e = 0;
    if (id == kIdCpe) {
        e = ReadCpe(c, &c->second_ics);
    } else {
        BrSkip(br, 4);
        e = ReadIcs(c, 0, false);
    }
    c->spec_base = 0;
    if (e) return e;
    int32_t te = DecodeChannelElement(c->h, first, count);
    if (te && !res->mc_error) res->mc_error = te;
    res->mc_done |= mask;
    return 0;
}

}  // namespace

int32_t ReadPce(BitReader *br, ProgramConfig *pce) { return ReadPceImpl(br, pce); }
void UsePceMapping(StreamState *s) { UsePceMappingImpl(s); }

uint16_t Crc16Bits(uint16_t crc, const uint8_t *data, int64_t size_bits, int64_t start_bit,
                   int64_t nbits, bool *past_end) {
    if (start_bit < 0 || nbits < 0) {
        *past_end = true;
        return crc;
    }
    if (start_bit + nbits > size_bits) {
        *past_end = true;
        nbits = size_bits > start_bit ? size_bits - start_bit : 0;
    }
    int64_t pos = start_bit;
    int sh = static_cast<int>(pos & 7);
    while (nbits >= 8) {
        int64_t i = pos >> 3;
        uint32_t b = data[i];
        if (sh) b = ((b << sh) | (data[i + 1] >> (8 - sh))) & 0xFF;
        crc = static_cast<uint16_t>((crc << 8) ^ kCrcTable.v[((crc >> 8) ^ b) & 0xFF]);
        pos += 8;
        nbits -= 8;
    }
    for (; nbits > 0; --nbits, ++pos) {
        uint32_t bit = (data[pos >> 3] >> (7 - (pos & 7))) & 1;
        bool top = ((crc >> 15) & 1) != bit;
        crc = static_cast<uint16_t>(crc << 1);
        if (top) crc ^= 0x8005;
    }
    return crc;
}

bool AdtsHeaderValidAt(const uint8_t *p, int32_t avail) {
    if (avail < 7) return false;
    if (p[0] != 0xFF || (p[1] & 0xF0) != 0xF0) return false;
    if ((p[1] >> 1) & 3) return false;  // layer
    int sfi = (p[2] >> 2) & 15;
    return sfi <= 11;  // any channel configuration: more than two channels are downmixed
}

int32_t ReadAdtsHeader(Handle *h, BitReader *br, int32_t *frame_length, int32_t *protection_absent,
                       int32_t *num_blocks, int32_t *crc) {
    StreamState *s = h->stream;
    BrSkip(br, 12 + 1 + 2);  // syncword, ID, layer
    *protection_absent = static_cast<int32_t>(BrBit(br));
    BrSkip(br, 2);  // profile: decoded as LC whatever it says
    s->sf_index = static_cast<int32_t>(BrRead(br, 4));
    BrSkip(br, 1);  // private bit
    int chan = static_cast<int>(BrRead(br, 3));
    if (chan) s->config_channels = chan == 7 ? 8 : chan;
    BrSkip(br, 4);  // original/copy, home, copyright bits
    *frame_length = static_cast<int32_t>(BrRead(br, 13));
    BrSkip(br, 11);  // buffer fullness
    *num_blocks = static_cast<int32_t>(BrRead(br, 2));
    *crc = -1;
    if (!*protection_absent) {
        if (*num_blocks) BrSkip(br, 16 * *num_blocks);  // raw_data_block_position
        *crc = static_cast<int32_t>(BrRead(br, 16));
    }
    return br->overrun ? AACDEC_ERR_FATAL : 0;
}

int32_t ReadAdifHeader(Handle *h, BitReader *br) {
    StreamState *s = h->stream;
    if (BrRead(br, 32) != 0x41444946u) return AACDEC_ERR_NO_ADIF_HEADER;  // "ADIF"
    if (BrBit(br)) BrSkip(br, 72);                                        // copyright_id
    BrSkip(br, 2);                                                        // original_copy, home
    bool vbr = BrBit(br) != 0;
    BrSkip(br, 23);  // bitrate
    int npce = static_cast<int>(BrRead(br, 4)) + 1;
    for (int i = 0; i < npce; ++i) {
        if (!vbr) BrSkip(br, 20);  // adif_buffer_fullness
        ProgramConfig pce = {};
        int32_t e = ReadPceImpl(br, &pce);
        if (e) return e;
        if (i == 0) {
            s->pce = pce;
            if (pce.sf_index <= 11) s->sf_index = pce.sf_index;
            s->config_channels = pce.channels;
            UsePceMappingImpl(s);
        }
    }
    BrAlign(br, 0);
    return br->overrun ? AACDEC_ERR_FATAL : 0;
}

void ReadRawDataBlock(Handle *h, BitReader *br, int32_t crc_start_bit, int32_t crc_value,
                      FrameResult *res) {
    StreamState *s = h->stream;
    BlockCtx c = {};
    c.h = h;
    c.br = br;
    res->error = 0;
    res->fatal = 0;
    res->channels = 0;
    res->is_cpe = 0;
    res->ok[0] = res->ok[1] = 0;
    int used[kMaxChannels] = {0, 0};
    s->num_sbr = 0;
    s->ms_mask_present = 0;
    int prev = -1, prev_ch = 0;  // the element before the current one and its first channel
    bool complete = false;
    const bool mc = Multichannel(s);
    res->mc_done = 0;
    res->mc_error = 0;
    for (;;) {
        if (br->overrun) {
            res->fatal = 1;
            SetError(&c, AACDEC_ERR_FATAL);
            break;
        }
        int id = static_cast<int>(BrRead(br, 3));
        int64_t el_start = br->pos;
        if (id == kIdEnd) {
            complete = true;
            break;
        }
        if (mc && (id == kIdSce || id == kIdLfe || id == kIdCpe)) {
            int slot = -1;
            int32_t e = ReadMultichannelElement(&c, id, res, &slot);
            if (slot < 0) break;
            prev_ch =
                slot == 0 && id == kIdCpe ? 0 : -1;  // SBR data is used for the front pair only
            if (e) {
                SetError(&c, e);
                if (e == AACDEC_ERR_FATAL) res->fatal = 1;
                break;
            }
            AddCrcPart(&c, el_start, br->pos, 192);
            if (c.second_ics >= 0) AddCrcPart(&c, c.second_ics, br->pos, 128);
        } else if (id == kIdSce || id == kIdLfe) {
            // Each single-channel element keeps the output channel it got when its tag first
            // appeared, so its filter history follows it whatever order the elements come in.
            int tag = static_cast<int>(BrRead(br, 4)) + (id == kIdLfe ? 16 : 0);
            int ch = s->slot_of_tag[tag] - 1;
            if (ch < 0) {
                if (res->is_cpe || s->slots_used >= kMaxChannels) break;  // two channels at most
                ch = s->slots_used++;
                s->slot_of_tag[tag] = static_cast<uint8_t>(ch + 1);
            }
            if (res->is_cpe || used[ch]) break;
            used[ch] = 1;
            prev_ch = ch;
            if (ch + 1 > res->channels) res->channels = ch + 1;
            int32_t e = ReadIcs(&c, ch, false);
            if (e) {
                SetError(&c, e);
                if (e == AACDEC_ERR_FATAL) res->fatal = 1;
                break;
            }
            res->ok[ch] = 1;
            AddCrcPart(&c, el_start, br->pos, 192);
        } else if (id == kIdCpe) {
            if (used[0] || used[1]) break;  // a pair is taken only as the first channel element
            used[0] = used[1] = 1;
            prev_ch = 0;
            res->channels = 2;
            res->is_cpe = 1;
            int64_t second = -1;
            int32_t e = ReadCpe(&c, &second);
            if (e) {
                SetError(&c, e);
                if (e == AACDEC_ERR_FATAL) res->fatal = 1;
                break;
            }
            res->ok[0] = res->ok[1] = 1;
            AddCrcPart(&c, el_start, br->pos, 192);
            AddCrcPart(&c, second, br->pos, 128);
        } else if (id == kIdCce) {
            SetError(&c, AACDEC_ERR_COUPLING);
            break;
        } else if (id == kIdDse) {
            if (ReadDse(br)) {
                res->fatal = 1;
                SetError(&c, AACDEC_ERR_FATAL);
                break;
            }
            AddCrcPart(&c, el_start, br->pos, 0);
        } else if (id == kIdPce) {
            ProgramConfig pce = {};
            if (ReadPceImpl(br, &pce)) break;
            s->pce = pce;
            if (pce.channels) s->config_channels = pce.channels;
            UsePceMappingImpl(s);
            AddCrcPart(&c, el_start, br->pos, 0);
        } else {  // FIL
            ReadFill(&c, prev, prev_ch);
        }
        prev = id;
    }
    if (complete && crc_value >= 0 && !res->fatal) {
        bool bad = c.crc_overflow != 0;
        uint16_t crc = 0xFFFF;
        crc = Crc16Bits(crc, br->data, br->size_bits, crc_start_bit, 56, &bad);
        for (int i = 0; i < c.nparts && !bad; ++i) {
            const CrcPart &p = c.parts[i];
            int64_t own = p.end - p.start;
            if (p.protect == 0) {
                if (own > 192 * 8) bad = true;
                crc = Crc16Bits(crc, br->data, br->size_bits, p.start, own, &bad);
            } else {
                int64_t n = own < p.protect ? own : p.protect;
                crc = Crc16Bits(crc, br->data, br->size_bits, p.start, n, &bad);
                crc = CrcZeros(crc, p.protect - n);
            }
        }
        if (bad || crc != static_cast<uint16_t>(crc_value)) SetError(&c, AACDEC_ERR_CRC);
    }
    res->error = c.error;
}

}  // namespace aacdec
