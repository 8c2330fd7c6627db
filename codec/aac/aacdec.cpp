// Call interface of the AAC decoder: memory layout, argument checks, format detection, the frame
// pipeline (syntax, inverse quantisation, noise, joint stereo, TNS, filterbank) and PCM output.
#include "codec/aac/aacdec.h"

#include <cstring>

#include "codec/aac/aac_internal.h"
#include "codec/aac/sbr.h"

using namespace aacdec;

namespace {

constexpr uint32_t kHandleBytes = 4 * sizeof(void *);

uint32_t BlockSize(int i) {
    // The handle record holds four pointers; on a 64-bit build that is 32 bytes, not 16.
    return i == 0 ? kHandleBytes : kBlockSize[i];
}

int32_t CheckHandle(AacDecHandle handle, Handle **out) {
    if (!handle) return AACDEC_E_HANDLE;
    Handle *h = static_cast<Handle *>(handle);
    if (!h->stream || !h->chan || !h->work || !h->misc) return AACDEC_E_UNEXPECTED;
    *out = h;
    return 0;
}

bool StartsWithAdif(const uint8_t *p, int32_t len) {
    return len >= 4 && p[0] == 'A' && p[1] == 'D' && p[2] == 'I' && p[3] == 'F';
}

int32_t FindAdts(const uint8_t *p, int32_t len) {
    for (int32_t i = 0; i + 7 <= len; ++i)
        if (AdtsHeaderValidAt(p + i, len - i)) return i;
    return -1;
}

// Format detection at the start of a call; returns 0 and the offset of the frame, or a code.
int32_t DetectFormat(StreamState *s, const uint8_t *p, int32_t len, int32_t *skip) {
    *skip = 0;
    if (s->frame_count == 0 && StartsWithAdif(p, len)) s->format = AACDEC_FORMAT_ADIF;
    if (s->format == AACDEC_FORMAT_ADIF || (s->format == AACDEC_FORMAT_RAW && !s->rate_unlisted)) {
        if (AdtsHeaderValidAt(p, len)) s->format = AACDEC_FORMAT_ADTS;
        return 0;
    }
    int32_t at = FindAdts(p, len);
    if (at < 0)
        return s->format == AACDEC_FORMAT_ADTS ? AACDEC_ERR_NO_ADTS_HEADER
                                               : AACDEC_ERR_UNLISTED_RATE;
    s->format = AACDEC_FORMAT_ADTS;
    *skip = at;
    return 0;
}

void SilentIcs(IcsInfo *ics, int prev_shape) {
    std::memset(ics, 0, sizeof(*ics));
    ics->window_sequence = kOnlyLong;
    ics->window_shape = static_cast<uint8_t>(prev_shape);
    ics->num_windows = 1;
    ics->num_groups = 1;
    ics->group_len[0] = 1;
    int n = 0;
    ics->swb_offset = SwbOffsetLong(4, &n);
    ics->num_swb = static_cast<uint8_t>(n);
}

int OutputChannelsWhenEmpty(const StreamState *s) {
    int c = s->out_channels ? s->out_channels : s->config_channels;
    if (c < 1) c = 1;
    if (c > 2) c = 2;
    return c;
}

struct CallResult {
    int32_t code;
    int32_t bytes_used;
    int32_t channels;
    int32_t samples;  // per channel
};

bool SbrRuns(const StreamState *s, const AacDecParams *params) {
    return s->sbr_set_up && params->iSbrOff != 1;
}

// Parses the frame's SBR payloads, each for the channels of the element it follows; sets up the
// SBR stage on the first one. Returns the first SBR error code (0 or AACDEC_ERR_SBR_BASE + n) and
// per output channel whether its SBR data can be used.
int32_t ParseSbr(Handle *h, const AacDecParams *params, int core_channels,
                 bool usable[kMaxChannels]) {
    StreamState *s = h->stream;
    usable[0] = usable[1] = false;
    if (s->num_sbr == 0) return 0;
    SbrControl *ctl = SbrCtl(h);
    if (!s->sbr_set_up) {
        int mode = params->iPsMode;
        ctl->ps_enabled = mode == 2 || (mode == 0 && core_channels == 1);
    }
    int32_t rate = kSampleRates[s->sf_index >= 0 && s->sf_index < 12 ? s->sf_index : 0];
    // Set up on the first SBR data, header or not: until a header arrives the stage runs
    // without a high band, so the output rate does not change when it does.
    if (!s->sbr_set_up && rate * 2 <= 96000) {
        SbrClearHistories(h);
        s->sbr_set_up = 1;
        s->sbr_present = 1;
    }
    ctl->ps_in_frame = 0;
    ctl->ps_error = 0;
    int32_t first_error = 0;
    for (int i = 0; i < s->num_sbr; ++i) {
        const SbrPayload *p = &s->sbr[i];
        const bool cpe = p->element_id == kIdCpe;
        // PS data is taken from the mono element of the first channel only.
        const bool want_ps = ctl->ps_enabled != 0 && !cpe && p->channel == 0;
        bool changed = false;
        int32_t e = ReadSbrPayload(ctl, p, rate, want_ps, &changed);
        const bool good = s->sbr_set_up && (e == kSbrErrNone || e == kSbrErrPs);
        if (cpe) {
            usable[0] = usable[1] = good && core_channels == 2;
        } else if (p->channel < core_channels && p->channel < kMaxChannels) {
            usable[p->channel] = good;
        }
        if (e != kSbrErrNone && e != kSbrErrNoHeader && !first_error)
            first_error = AACDEC_ERR_SBR_BASE + e;
    }
    if (ctl->ps_in_frame) s->ps_present = 1;
    return first_error;
}

// Output of the frame's channels: through the SBR stage when it runs, else the core's PCM.
void Output(Handle *h, const AacDecParams *params, int channels, const bool sbr_ok[kMaxChannels],
            int16_t *pcm, CallResult *r) {
    StreamState *s = h->stream;
    r->channels = channels;
    r->samples = kFrameLen;
    if (!SbrRuns(s, params)) {
        if (pcm)
            for (int c = 0; c < channels; ++c)
                WritePcm(h->chan[c].spec, pcm + c * AACDEC_CH1_OFFSET);
        return;
    }
    r->samples = s->sbr_downsampled ? kFrameLen : 2 * kFrameLen;
    SbrCtl(h)->core_channels = channels;
    if (!pcm) {
        const SbrControl *ctl = SbrCtl(h);
        bool ps = channels == 1 && (ctl->ps_enabled || ctl->ps_in_frame);
        r->channels = s->mono_out ? 1 : (ps ? 2 : channels);
        return;
    }
    r->channels =
        SbrProcessFrame(h, channels, sbr_ok, s->sbr_downsampled != 0, s->mono_out != 0, pcm);
}

// One frame: everything after the argument checks. pcm is null in probe mode.
CallResult DecodeFrame(Handle *h, AacDecParams *params, const uint8_t *data, int32_t len,
                       int16_t *pcm) {
    StreamState *s = h->stream;
    CallResult r = {0, 0, 0, kFrameLen};

    if (params->iFrameLost == 1) {
        // Concealment: the missing frame contributes nothing, so the overlap of the last good
        // frame fades out through the filterbank (and the SBR stage, without a high band).
        ++s->lost_count;
        if (Multichannel(s)) {
            MixDown(h, 0);
            const bool no_sbr[kMaxChannels] = {false, false};
            Output(h, params, 2, no_sbr, pcm, &r);
            return r;
        }
        int ch = OutputChannelsWhenEmpty(s);
        if (SbrRuns(s, params) && SbrCtl(h)->core_channels) ch = SbrCtl(h)->core_channels;
        for (int c = 0; c < ch; ++c) {
            IcsInfo ics;
            SilentIcs(&ics, h->chan[c].prev_window_shape);
            std::memset(h->chan[c].spec, 0, sizeof(h->chan[c].spec));
            Synthesise(&ics, &h->chan[c], h->work);
        }
        const bool no_sbr[kMaxChannels] = {false, false};
        Output(h, params, ch, no_sbr, pcm, &r);
        return r;
    }
    s->lost_count = 0;

    if (s->frame_length != kFrameLen) {
        r.code = AACDEC_ERR_FRAME_LENGTH;
        r.bytes_used = len;
        return r;
    }

    // The next raw data block of the current ADTS frame, unless the input has moved on to a header
    // (the caller skipped ahead): then the rest of the frame is dropped.
    const bool next_block =
        s->format == AACDEC_FORMAT_ADTS && s->adts_blocks_left > 0 && !AdtsHeaderValidAt(data, len);
    if (!next_block) s->adts_blocks_left = 0;
    int32_t skip = 0;
    if (!next_block) {
        int32_t e = DetectFormat(s, data, len, &skip);
        if (e) {
            r.code = e;
            // Nothing decodable here; keep the last bytes in case a header starts in them.
            r.bytes_used = len > 6 ? len - 6 : len;
            return r;
        }
    }
    const uint8_t *frame = data + skip;
    int32_t avail = len - skip;
    BitReader br;
    BrInit(&br, frame, avail);

    int32_t frame_bytes = -1;
    int32_t crc = -1;
    int32_t block_crc = 0;  // bytes of the CRC word after this block
    if (next_block) {
        if (s->adts_bytes_left < avail) {
            br.size_bytes = s->adts_bytes_left;
            br.size_bits = static_cast<int64_t>(s->adts_bytes_left) * 8;
        }
        block_crc = s->adts_block_crc ? 2 : 0;
        --s->adts_blocks_left;
    } else if (s->format == AACDEC_FORMAT_ADTS) {
        int32_t prot_absent = 1, nblocks = 0, flen = 0;
        int32_t e = ReadAdtsHeader(h, &br, &flen, &prot_absent, &nblocks, &crc);
        if (e) {
            r.code = e;
            r.bytes_used = len;
            return r;
        }
        int32_t header = prot_absent ? 7 : 9 + 2 * nblocks;
        if (flen >= header) {
            frame_bytes = flen;
            if (flen < avail) {
                br.size_bytes = flen;
                br.size_bits = static_cast<int64_t>(flen) * 8;
            }
        }
        if (nblocks) {
            // The blocks' own CRC words are not checked; the blocks after this one follow in
            // later calls.
            crc = -1;
            block_crc = prot_absent ? 0 : 2;
            s->adts_block_crc = block_crc != 0;
            s->adts_blocks_left = nblocks;
        }
    } else if (s->format == AACDEC_FORMAT_ADIF && s->frame_count == 0) {
        int32_t e = ReadAdifHeader(h, &br);
        if (e) {
            r.code = e;
            r.bytes_used = len;
            return r;
        }
    }

    FrameResult fr;
    ReadRawDataBlock(h, &br, 0, crc, &fr);

    int64_t used_bits = br.pos < br.size_bits ? br.pos : br.size_bits;
    int32_t used = static_cast<int32_t>((used_bits + 7) / 8);
    if (next_block || s->adts_blocks_left > 0) {
        // Each raw data block ends byte-aligned, followed by its CRC word when the frame has them.
        const int32_t limit = static_cast<int32_t>(br.size_bytes);
        used = used + block_crc < limit ? used + block_crc : limit;
        if (!next_block) s->adts_bytes_left = frame_bytes > used ? frame_bytes - used : 0;
        else s->adts_bytes_left -= used;
        if (fr.fatal || s->adts_bytes_left <= 0) s->adts_blocks_left = 0;
    } else if (frame_bytes > 0 && (frame_bytes >= avail ||
                                   AdtsHeaderValidAt(frame + frame_bytes, avail - frame_bytes))) {
        // Trust aac_frame_length only when it lands on the end of the input or on the next
        // header; a damaged length would otherwise throw away the frames that follow.
        used = frame_bytes < avail ? frame_bytes : avail;
    }
    r.bytes_used = skip + used;

    if (fr.fatal) {
        r.code = AACDEC_ERR_FATAL;
        return r;
    }
    r.code = fr.error;

    if (Multichannel(s)) {
        MixDown(h, fr.mc_done);
        if (r.code == 0) r.code = fr.mc_error;
        bool sbr_ok[kMaxChannels] = {false, false};
        int32_t se = ParseSbr(h, params, 2, sbr_ok);
        if (r.code != 0) sbr_ok[0] = sbr_ok[1] = false;
        else r.code = se;
        Output(h, params, 2, sbr_ok, pcm, &r);
        return r;
    }

    int channels = fr.channels;
    if (channels == 0) {
        // Under SBR the output channels can outnumber the core's (PS): keep the core's count.
        channels = SbrRuns(s, params) && SbrCtl(h)->core_channels ? SbrCtl(h)->core_channels
                                                                  : OutputChannelsWhenEmpty(s);
    }
    bool ok[kMaxChannels] = {fr.ok[0] != 0, fr.ok[1] != 0};

    IcsInfo silent[kMaxChannels];
    const IcsInfo *ics[kMaxChannels];
    for (int c = 0; c < channels; ++c) {
        if (ok[c]) {
            ics[c] = &s->ch[c].ics;
            Dequantise(&s->ch[c], h->chan[c].spec);
            bool right = fr.is_cpe && c == 1;
            ApplyNoise(&s->ch[c], h->chan[c].spec, &h->misc->noise_seed, s, right,
                       right ? h->chan[0].spec : nullptr);
        } else {
            // Not in this block, or not read completely: silence through the filterbank.
            SilentIcs(&silent[c], h->chan[c].prev_window_shape);
            ics[c] = &silent[c];
            std::memset(h->chan[c].spec, 0, sizeof(h->chan[c].spec));
        }
    }
    if (fr.is_cpe && ok[0] && ok[1]) {
        ApplyMidSide(s, &s->ch[0], &s->ch[1], h->chan[0].spec, h->chan[1].spec);
        ApplyIntensity(s, &s->ch[1], h->chan[0].spec, h->chan[1].spec);
    }
    for (int c = 0; c < channels; ++c) {
        if (ok[c]) {
            int32_t te = ApplyTns(&s->ch[c], s->sf_index, h->chan[c].spec, h->misc);
            if (te && r.code == 0) r.code = te;
        }
        Synthesise(ics[c], &h->chan[c], h->work);
    }
    // SBR data of a block with core errors is not trusted.
    bool sbr_ok[kMaxChannels] = {false, false};
    int32_t se = ParseSbr(h, params, channels, sbr_ok);
    if (r.code != 0) sbr_ok[0] = sbr_ok[1] = false;
    else r.code = se;
    // The SBR stage takes the core's time samples here, before they become 16-bit output.
    Output(h, params, channels, sbr_ok, pcm, &r);
    return r;
}

int32_t CheckInput(const AacDecInBuf *in) {
    if (!in) return AACDEC_E_POINTER;
    if (!in->pData || in->iDataLen <= 0 || in->iDataLen > in->iBufLen) return AACDEC_E_INVALIDARG;
    return 0;
}

void FillOutputParams(const StreamState *s, AacDecParams *params, int channels) {
    int idx = s->sf_index;
    if (idx >= 0 && idx < 12 && !(s->format == AACDEC_FORMAT_RAW && s->rate_unlisted))
        params->iSampleRate =
            kSampleRates[idx] * (SbrRuns(s, params) && !s->sbr_downsampled ? 2 : 1);
    params->iChannels = channels;
    params->iSbrPresent = s->sbr_present;
    params->iPsPresent = s->ps_present;
    params->iFormat = s->format;
}

}  // namespace

extern "C" {

int32_t AacDecQueryMem(AacDecMemBlock *blocks) {
    if (!blocks) return AACDEC_E_POINTER;
    for (int i = 0; i < AACDEC_NUM_MEM_BLOCKS; ++i) {
        blocks[i].uSize = BlockSize(i);
        blocks[i].uAlignment = 4;
    }
    return 0;
}

int32_t AacDecInit(const char *version, AacDecHandle *handle, AacDecParams *params,
                   AacDecMemBlock *blocks) {
    if (handle) *handle = nullptr;
    if (!handle || !params) return AACDEC_E_POINTER;
    if (!version || std::strcmp(version, AACDEC_VERSION) != 0) return AACDEC_ERR_VERSION;
    if (!blocks) return AACDEC_E_POINTER;
    for (int i = 0; i < AACDEC_NUM_MEM_BLOCKS; ++i) {
        if (!blocks[i].pMem || (reinterpret_cast<uintptr_t>(blocks[i].pMem) & 3))
            return AACDEC_E_INVALIDARG;
        // A block smaller than announced would be written past its end.
        if (blocks[i].uSize < BlockSize(i)) return AACDEC_E_INVALIDARG;
    }
    for (int i = 0; i < AACDEC_NUM_MEM_BLOCKS; ++i) std::memset(blocks[i].pMem, 0, BlockSize(i));
    Handle *h = static_cast<Handle *>(blocks[0].pMem);
    h->stream = static_cast<StreamState *>(blocks[1].pMem);
    h->chan = static_cast<ChannelState *>(blocks[2].pMem);
    uintptr_t w = (reinterpret_cast<uintptr_t>(blocks[3].pMem) + 31) & ~static_cast<uintptr_t>(31);
    h->work = reinterpret_cast<WorkState *>(w);
    h->misc = static_cast<MiscState *>(blocks[4].pMem);

    StreamState *s = h->stream;
    s->format = (params->iFormat == AACDEC_FORMAT_ADTS || params->iFormat == AACDEC_FORMAT_ADIF)
                    ? params->iFormat
                    : AACDEC_FORMAT_RAW;
    int idx = RateToIndex(params->iSampleRate);
    s->sf_index = idx < 0 ? 0 : idx;
    s->rate_unlisted = idx < 0;
    s->config_channels = params->iChannels;
    s->frame_length = kFrameLen;
    params->iMuteLeft = 0;
    params->iMuteRight = 0;
    params->iSbrOff = 0;
    params->iSbrDownsampled = params->iSbrDownsampled == 1 ? 1 : 0;
    params->iMonoOut = params->iMonoOut == 1 ? 1 : 0;
    s->sbr_downsampled = params->iSbrDownsampled;
    s->mono_out = params->iMonoOut;
    s->frame_count = 0;
    h->misc->noise_seed = 0x1F2E3D4Cu;
    SbrClearHistories(h);
    s->initialised = 1;
    *handle = h;
    return 0;
}

int32_t AacDecProbe(AacDecHandle handle, AacDecParams *params, AacDecInBuf *in) {
    Handle *h = nullptr;
    int32_t e = CheckHandle(handle, &h);
    if (e) return e;
    e = CheckInput(in);
    if (e) return e;
    if (!params) return AACDEC_E_POINTER;
    if (!h->stream->initialised) return AACDEC_ERR_NOT_INITIALISED;
    CallResult r = DecodeFrame(h, params, in->pData, in->iDataLen, nullptr);
    params->iBytesUsed = r.bytes_used;
    bool fatal = r.code == AACDEC_ERR_FATAL || (r.code > 0 && r.code < 4101) ||
                 r.code == AACDEC_ERR_FRAME_LENGTH;
    if (!fatal) FillOutputParams(h->stream, params, r.channels);
    // The first real decode starts from silence, and parses the SBR data of its frame afresh.
    for (int c = 0; c < kMaxCoreChannels; ++c) {
        std::memset(h->chan[c].overlap, 0, sizeof(h->chan[c].overlap));
        h->chan[c].prev_window_shape = 0;
    }
    SbrControl *ctl = SbrCtl(h);
    int32_t ps_enabled = ctl->ps_enabled;
    std::memset(ctl, 0, sizeof(*ctl));
    ctl->ps_enabled = ps_enabled;
    SbrClearHistories(h);
    h->stream->adts_blocks_left = 0;
    return r.code;
}

int32_t AacDecDecode(AacDecHandle handle, AacDecParams *params, AacDecInBuf *in,
                     AacDecOutBuf *out) {
    Handle *h = nullptr;
    int32_t e = CheckHandle(handle, &h);
    if (e) return e;
    if (!h->stream->initialised) return AACDEC_ERR_NOT_INITIALISED;
    e = CheckInput(in);
    if (e) return e;
    if (!out) return AACDEC_E_POINTER;
    if (out->iBufLen <= 0) return AACDEC_E_INVALIDARG;
    if (!params) return AACDEC_E_POINTER;
    if (out->iBufLen < AACDEC_MIN_OUT_BYTES) return AACDEC_ERR_OUTPUT_TOO_SMALL;
    if (!out->pPcm) return AACDEC_E_POINTER;
    StreamState *s = h->stream;
    out->iBytesWritten = 0;
    CallResult r = DecodeFrame(h, params, in->pData, in->iDataLen, out->pPcm);
    params->iBytesUsed = r.bytes_used;
    bool fatal = r.code == AACDEC_ERR_FATAL || (r.code > 0 && r.code < 4101) ||
                 r.code == AACDEC_ERR_FRAME_LENGTH;
    if (fatal) return r.code;
    FillOutputParams(s, params, r.channels);
    s->out_channels = r.channels;
    if (params->iMuteLeft == 1) std::memset(out->pPcm, 0, r.samples * sizeof(int16_t));
    else if (params->iMuteRight == 1 && r.channels == 2)
        std::memset(out->pPcm + AACDEC_CH1_OFFSET, 0, r.samples * sizeof(int16_t));
    out->iBytesWritten = s->frame_count == 0 ? 0 : r.channels * r.samples * 2;
    ++s->frame_count;
    return r.code;
}

int32_t AacDecReset(AacDecHandle handle) {
    Handle *h = nullptr;
    int32_t e = CheckHandle(handle, &h);
    if (e) return e;
    h->stream->frame_count = 0;
    h->stream->initialised = 0;
    h->stream->sbr_set_up = 0;
    return 0;
}

int32_t AacDecSetFrameLength(AacDecHandle handle, int32_t frameLength) {
    Handle *h = nullptr;
    int32_t e = CheckHandle(handle, &h);
    if (e) return e;
    h->stream->frame_length = frameLength;
    return 0;
}

int32_t AacDecApplyConfig(AacDecHandle handle, const uint8_t *data, int32_t length) {
    Handle *h = nullptr;
    int32_t e = CheckHandle(handle, &h);
    if (e) return e;
    AacDecConfig cfg;
    e = AacDecParseConfig(data, length, &cfg);
    if (e) return e;
    StreamState *s = h->stream;
    s->frame_length = cfg.iFrameLength;
    if (cfg.iChannelConfig == 0) {
        // Skip to the PCE again: object type, rate and channel configuration, then the three
        // GASpecificConfig flags.
        BitReader br;
        BrInit(&br, data, length);
        int aot = static_cast<int>(BrRead(&br, 5));
        if (aot == 31) aot = 32 + static_cast<int>(BrRead(&br, 6));
        if (BrRead(&br, 4) == 15) BrSkip(&br, 24);
        BrSkip(&br, 4);
        if (aot == 5 || aot == 29) {
            if (BrRead(&br, 4) == 15) BrSkip(&br, 24);
            aot = static_cast<int>(BrRead(&br, 5));
            if (aot == 31) BrSkip(&br, 6);
        }
        BrSkip(&br, 1);
        if (BrBit(&br)) BrSkip(&br, 14);
        BrSkip(&br, 1);
        ProgramConfig pce = {};
        if (ReadPce(&br, &pce) == 0) {
            s->pce = pce;
            if (pce.channels) s->config_channels = pce.channels;
            UsePceMapping(s);
        }
    }
    return 0;
}

int32_t AacDecParseConfig(const uint8_t *data, int32_t length, AacDecConfig *config) {
    if (!data || !config) return AACDEC_E_POINTER;
    if (length <= 0) return AACDEC_E_INVALIDARG;
    std::memset(config, 0, sizeof(*config));
    BitReader br;
    BrInit(&br, data, length);
    auto object_type = [&br]() {
        int t = static_cast<int>(BrRead(&br, 5));
        if (t == 31) t = 32 + static_cast<int>(BrRead(&br, 6));
        return t;
    };
    auto rate = [&br]() {
        int idx = static_cast<int>(BrRead(&br, 4));
        if (idx == 15) return static_cast<int>(BrRead(&br, 24));
        static const int kRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                       22050, 16000, 12000, 11025, 8000,  7350};
        return idx < 13 ? kRates[idx] : 0;
    };
    int aot = object_type();
    config->iSampleRate = rate();
    config->iChannelConfig = static_cast<int32_t>(BrRead(&br, 4));
    config->iSbrSignalled = -1;
    config->iPsSignalled = -1;
    if (aot == 5 || aot == 29) {
        config->iSbrSignalled = 1;
        if (aot == 29) config->iPsSignalled = 1;
        config->iExtSampleRate = rate();
        aot = object_type();
    }
    config->iObjectType = aot;
    config->iFrameLength = 1024;
    if (aot == 1 || aot == 2 || aot == 3 || aot == 4 || aot == 6 || aot == 7 || aot == 17 ||
        aot == 19 || aot == 20 || aot == 21 || aot == 22 || aot == 23) {
        config->iFrameLength = BrBit(&br) ? 960 : 1024;
        if (BrBit(&br)) BrSkip(&br, 14);  // dependsOnCoreCoder
        BrSkip(&br, 1);                   // extensionFlag
        if (config->iChannelConfig == 0) {
            ProgramConfig pce = {};
            if (ReadPce(&br, &pce) == 0) config->iChannels = pce.channels;
        }
    }
    if (config->iChannelConfig > 0 && config->iChannelConfig <= 6)
        config->iChannels = config->iChannelConfig;
    if (config->iChannelConfig == 7) config->iChannels = 8;
    // Backward-compatible SBR signalling after the core configuration.
    if (config->iSbrSignalled == -1 && BrLeft(&br) >= 16 && BrPeek(&br, 11) == 0x2B7) {
        BrSkip(&br, 11);
        int ext_type = object_type();
        if (ext_type == 5) {
            config->iSbrSignalled = static_cast<int32_t>(BrBit(&br));
            if (!config->iSbrSignalled) config->iPsSignalled = 0;
            if (config->iSbrSignalled) {
                config->iExtSampleRate = rate();
                if (BrLeft(&br) >= 12 && BrPeek(&br, 11) == 0x548) {
                    BrSkip(&br, 11);
                    config->iPsSignalled = static_cast<int32_t>(BrBit(&br));
                }
            }
        }
    }
    if (br.overrun) return AACDEC_E_INVALIDARG;
    return 0;
}

}  // extern "C"
