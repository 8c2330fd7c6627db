#include "engine/player/codec_glue.h"

#include <cstring>
#include <utility>

#include "codec/aac/aacdec.h"
#include "codec/mpeg4v/mpeg4v.h"
#include "engine/core/mem.h"

namespace {

constexpr uint32_t kMaxPictureSide = 4096;

uint32_t Up16(uint32_t v) { return (v + 15) & ~15u; }

bool StartsWithStartCode(const uint8_t *p, uint32_t n) {
    return p && n >= 3 && p[0] == 0 && p[1] == 0 && p[2] == 1;
}

// Raw picture tags: the sample is the picture.
bool IsRawTag(uint32_t tag) {
    return tag == 0 || tag == MakeTag("I420") || tag == MakeTag("YV12") || tag == MakeTag("YUY2") ||
           tag == MakeTag("UYVY") || tag == MakeTag("YVYU");
}

void *AlignUp(void *p, uint32_t align) {
    if (align < 2) return p;
    uintptr_t v = reinterpret_cast<uintptr_t>(p);
    return reinterpret_cast<void *>((v + align - 1) / align * align);
}

}  // namespace

bool VideoTagIsMpeg4Family(uint32_t tag) {
    static const char *const kTags[] = {"MP4V", "MP4S", "XVID", "DIVX", "DX50",
                                        "FMP4", "DIV4", "DIV5", "H263", "S263"};
    for (const char *t : kTags) {
        uint32_t v = uint32_t(uint8_t(t[0])) | uint32_t(uint8_t(t[1])) << 8 |
                     uint32_t(uint8_t(t[2])) << 16 | uint32_t(uint8_t(t[3])) << 24;
        if (v == tag) return true;
    }
    return false;
}

MeResult VideoDecoderCreate(uint32_t tag, uint32_t width, uint32_t height, const uint8_t *config,
                            uint32_t config_length, const uint8_t *first, uint32_t first_length,
                            VideoDecoder **out) {
    *out = nullptr;
    const bool raw = IsRawTag(tag);
    if (!raw && !VideoTagIsMpeg4Family(tag)) return ME_ERR_VIDEO_CODEC;
    if (width == 0 || height == 0 || width > kMaxPictureSide || height > kMaxPictureSide)
        return ME_ERR_VIDEO_DECODER_INIT;
    VideoDecoder *d = MemNew<VideoDecoder>();
    if (!d) return ME_ERR_MEMORY;
    d->codec_tag = tag;
    d->width = width;
    d->height = height;
    d->pitch = Up16(width);
    const uint32_t hp = Up16(height);
    const uint32_t luma = d->pitch * hp, chroma = (d->pitch / 2) * (hp / 2);
    if (raw) {
        d->raw = 1;
        d->raw_picture = static_cast<uint8_t *>(MemAllocZero(luma + 2 * chroma));
        if (!d->raw_picture) {
            VideoDecoderDestroy(d);
            return ME_ERR_MEMORY;
        }
        *out = d;
        return ME_OK;
    }
    d->short_header = (tag == MakeTag("H263") || tag == MakeTag("S263")) ? 1 : 0;
    // Configuration: the stored headers when they start with a start code, else the first sample.
    const uint8_t *cfg = config;
    uint32_t cfg_len = config_length;
    if (!StartsWithStartCode(cfg, cfg_len)) {
        cfg = first;
        cfg_len = first_length;
    }
    Mp4vDecConfigInfo info{};
    info.pConfigData = cfg_len ? cfg : nullptr;
    info.uConfigDataLen = cfg ? cfg_len : 0;
    // "MP4V" without a parsable object layer header falls back to the short header.
    info.iIsShortHdrMode = d->short_header ? 1 : (tag == MakeTag("MP4V") ? -1 : 0);
    Mp4vDecFrmBuffer fb[3];
    const uint32_t frame_bytes = luma + 2 * chroma + 3 * 15;
    d->frames = static_cast<uint8_t *>(MemAllocZero(size_t(frame_bytes) * 3));
    if (!d->frames) {
        VideoDecoderDestroy(d);
        return ME_ERR_MEMORY;
    }
    for (int i = 0; i < 3; ++i) {
        uint8_t *base = d->frames + size_t(i) * frame_bytes;
        fb[i].pY = base;
        fb[i].pU = base + luma + 15;
        fb[i].pV = base + luma + chroma + 30;
        fb[i].uReserved = 0;
    }
    Mp4vDecConfig cfgrec{};
    cfgrec.pConfigInfo = &info;
    cfgrec.pFrmBuffers = fb;
    cfgrec.uFrmBufferNum = 3;
    cfgrec.uMaxDecodableWidth = d->pitch;
    cfgrec.uMaxDecodableHeight = hp;
    Mp4vDecMemBlock mem[4] = {};
    if (Mp4vDecGetMemNum() != 4 || Mp4vDecQueryMem(&cfgrec, mem) != 4) {
        VideoDecoderDestroy(d);
        return ME_ERR_VIDEO_DECODER_INIT;
    }
    for (int i = 0; i < 4; ++i) {
        d->mem_size[i] = mem[i].uSize;
        d->mem[i] = MemAllocZero(mem[i].uSize ? mem[i].uSize : 1);
        if (!d->mem[i]) {
            VideoDecoderDestroy(d);
            return ME_ERR_MEMORY;
        }
        mem[i].pBlock = d->mem[i];
    }
    int32_t is_short = 0;
    Mp4vDecInitResult res{};
    res.piIsShortHdr = &is_short;
    d->handle = Mp4vDecInit(mem, &cfgrec, &res);
    if (!d->handle) {
        VideoDecoderDestroy(d);
        return ME_ERR_VIDEO_DECODER_INIT;
    }
    d->short_header = is_short;
    *out = d;
    return ME_OK;
}

void VideoDecoderDestroy(VideoDecoder *d) {
    if (!d) return;
    if (d->handle) {
        Mp4vDecMemBlock mem[4];
        Mp4vDecRelease(d->handle, mem);
    }
    for (void *m : d->mem) MemFree(m);
    MemFree(d->frames);
    MemFree(d->raw_picture);
    MemFree(d);
}

static void PushStamp(VideoDecoder *d, int64_t t);
static bool PopSmallestStamp(VideoDecoder *d, int64_t *t);

// The coding type of the sample's first VOP (0 I, 1 P, 2 B, 3 S), or -1 without one.
static int FirstVopType(const VideoDecoder *d, const uint8_t *data, uint32_t length) {
    if (!d || d->short_header || d->raw || !data) return -1;
    for (uint32_t i = 0; i + 4 < length; ++i)
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && data[i + 3] == 0xB6)
            return data[i + 4] >> 6;
    return -1;
}

int VideoDecoderCheckInput(const VideoDecoder *d, const uint8_t *data, uint32_t length) {
    switch (FirstVopType(d, data, length)) {
        case 0: return 1;
        case 1:
        case 2: return 2;
        default: return 0;
    }
}

int VideoDecoderIsBidirectional(const VideoDecoder *d, const uint8_t *data, uint32_t length) {
    return FirstVopType(d, data, length) == 2 ? 1 : 0;
}

void VideoDecoderSkipBidirectional(VideoDecoder *d, int64_t time_ms) {
    if (!d || d->raw) return;
    // A B picture leaves the decoder as soon as it is decoded, with the smallest stamp queued.
    PushStamp(d, time_ms);
    int64_t gone;
    PopSmallestStamp(d, &gone);
}

static void PushStamp(VideoDecoder *d, int64_t t) {
    if (d->stamp_count == kVideoStampSlots) {  // never filled by sane streams: drop the oldest
        std::memmove(d->stamps, d->stamps + 1, sizeof(int64_t) * (kVideoStampSlots - 1));
        --d->stamp_count;
    }
    d->stamps[d->stamp_count++] = t;
}

static bool PopSmallestStamp(VideoDecoder *d, int64_t *t) {
    if (d->stamp_count == 0) return false;
    uint32_t best = 0;
    for (uint32_t i = 1; i < d->stamp_count; ++i)
        if (d->stamps[i] < d->stamps[best]) best = i;
    *t = d->stamps[best];
    d->stamps[best] = d->stamps[--d->stamp_count];
    return true;
}

static void RawToPicture(VideoDecoder *d, const uint8_t *s, uint32_t n, VideoPicture *pic) {
    const uint32_t w = d->width, h = d->height, p = d->pitch, hp = Up16(h);
    uint8_t *Y = d->raw_picture, *U = Y + size_t(p) * hp, *V = U + size_t(p / 2) * (hp / 2);
    const uint32_t tag = d->codec_tag;
    if (tag == MakeTag("YUY2") || tag == MakeTag("UYVY") || tag == MakeTag("YVYU")) {
        // Packed 4:2:2: luma of every row, chroma of the even rows.
        int yo = tag == MakeTag("UYVY") ? 1 : 0, uo = tag == MakeTag("UYVY") ? 0 : 1;
        int vo = tag == MakeTag("UYVY") ? 2 : 3;
        if (tag == MakeTag("YVYU")) std::swap(uo, vo);
        for (uint32_t row = 0; row < h; ++row) {
            const uint8_t *src = s + size_t(row) * w * 2;
            if (size_t(row + 1) * w * 2 > n) break;
            for (uint32_t x = 0; x + 1 < w + 1 && x < w; x += 2) {
                Y[row * p + x] = src[2 * x + yo];
                if (x + 1 < w) Y[row * p + x + 1] = src[2 * x + 2 + yo];
                if ((row & 1) == 0) {
                    U[(row / 2) * (p / 2) + x / 2] = src[2 * x + uo];
                    V[(row / 2) * (p / 2) + x / 2] = src[2 * x + vo];
                }
            }
        }
    } else {
        // Planar: I420 (and 0) carry U before V, YV12 V before U.
        const uint32_t cw = (w + 1) / 2, ch = (h + 1) / 2;
        const size_t need = size_t(w) * h + 2 * size_t(cw) * ch;
        if (n >= need) {
            const uint8_t *sy = s, *s1 = s + size_t(w) * h, *s2 = s1 + size_t(cw) * ch;
            if (tag == MakeTag("YV12")) std::swap(s1, s2);
            for (uint32_t row = 0; row < h; ++row) std::memcpy(Y + row * p, sy + row * w, w);
            for (uint32_t row = 0; row < ch; ++row) {
                std::memcpy(U + row * (p / 2), s1 + row * cw, cw);
                std::memcpy(V + row * (p / 2), s2 + row * cw, cw);
            }
        }
    }
    pic->y = Y;
    pic->u = U;
    pic->v = V;
    pic->stride = int32_t(p);
    pic->width = int32_t(w);
    pic->height = int32_t(h);
}

MeResult VideoDecoderDecode(VideoDecoder *d, const uint8_t *data, uint32_t length, int64_t time_ms,
                            uint32_t *consumed, VideoPicture *pic, int *got) {
    *got = 0;
    *consumed = length;
    if (!d || !data || length == 0) return ME_FAIL;
    if (d->raw) {
        RawToPicture(d, data, length, pic);
        pic->time_ms = time_ms;
        *got = 1;
        return ME_OK;
    }
    d->flushed = 0;
    Mp4vDecInput in{};
    in.pData = data;
    in.uDataLen = length;
    in.iFrameEnd = 1;
    int32_t info[2] = {-1, 0};
    Mp4vDecOutput o{};
    o.piPicInfo = info;
    uint32_t used = Mp4vDecDecode(d->handle, &in, &o);
    if (used > length) used = length;
    *consumed = used;
    PushStamp(d, time_ms);
    if (o.pY && o.uWidth && o.uHeight && o.uWidth <= d->pitch) {
        pic->y = o.pY;
        pic->u = o.pU;
        pic->v = o.pV;
        pic->stride = int32_t(o.uPitch);
        pic->width = int32_t(o.uWidth);
        pic->height = int32_t(o.uHeight);
        if (!PopSmallestStamp(d, &pic->time_ms)) pic->time_ms = time_ms;
        *got = 1;
    }
    // All but the last few bytes used counts as the whole sample.
    return length - used > 4 ? ME_ERR_MORE_OUTPUT : ME_OK;
}

void VideoDecoderForgetStamps(VideoDecoder *d) {
    if (!d || d->stamp_count == 0) return;
    // Whatever is queued stands for the one picture held back; it is older than anything after.
    d->stamps[0] = kVideoStaleTime;
    d->stamp_count = 1;
}

int VideoDecoderFlush(VideoDecoder *d, VideoPicture *pic) {
    if (!d || d->raw || !d->handle || d->flushed) return 0;
    d->flushed = 1;
    Mp4vDecInput in{};
    int32_t info[2] = {-1, 0};
    Mp4vDecOutput o{};
    o.piPicInfo = info;
    Mp4vDecDecode(d->handle, &in, &o);
    if (!o.pY || !o.uWidth || !o.uHeight) return 0;
    pic->y = o.pY;
    pic->u = o.pU;
    pic->v = o.pV;
    pic->stride = int32_t(o.uPitch);
    pic->width = int32_t(o.uWidth);
    pic->height = int32_t(o.uHeight);
    if (!PopSmallestStamp(d, &pic->time_ms)) return 0;
    return 1;
}

// ---- Audio -------------------------------------------------------------------------------------

bool AudioTagIsAac(uint32_t tag) {
    return tag == 253 || tag == 254 || tag == 255 || tag == MakeTag("raac") ||
           tag == MakeTag("racp");
}

MeResult AudioDecoderCreate(const AudioTrackInfo *track, const uint8_t *first,
                            uint32_t first_length, AudioDecoder **out) {
    *out = nullptr;
    if (!track || !AudioTagIsAac(track->codec_tag)) return ME_ERR_AUDIO_CODEC;
    AudioDecoder *d = MemNew<AudioDecoder>();
    if (!d) return ME_ERR_MEMORY;
    d->codec_tag = track->codec_tag;
    d->scratch = static_cast<int16_t *>(MemAllocZero(AACDEC_MIN_OUT_BYTES));
    AacDecMemBlock blocks[AACDEC_NUM_MEM_BLOCKS] = {};
    if (!d->scratch || AacDecQueryMem(blocks) != 0) {
        AudioDecoderDestroy(d);
        return ME_ERR_AUDIO_DECODER_INIT;
    }
    for (int i = 0; i < AACDEC_NUM_MEM_BLOCKS; ++i) {
        uint32_t align = blocks[i].uAlignment > 4 ? blocks[i].uAlignment : 4;
        d->mem_size[i] = blocks[i].uSize + align;
        d->mem[i] = MemAllocZero(d->mem_size[i]);
        if (!d->mem[i]) {
            AudioDecoderDestroy(d);
            return ME_ERR_MEMORY;
        }
        blocks[i].pMem = AlignUp(d->mem[i], align);
        d->blocks[i] = blocks[i].pMem;
    }
    // The engine parses the AudioSpecificConfig itself: core rate and channels come from it.
    AacDecParams params{};
    params.iSampleRate = int32_t(track->sample_rate);
    params.iChannels = int32_t(track->channels);
    // A track already marked as SBR (254) or SBR with parametric stereo (253) states the output
    // rate or channel count; the decoder is started with the core's.
    if (track->codec_tag == 254) params.iSampleRate /= 2;
    if (track->codec_tag == 253 && params.iChannels > 1) params.iChannels /= 2;
    params.iFormat = AACDEC_FORMAT_ADTS;
    int32_t frame_length = 1024;
    AacDecConfig asc{};
    if (track->config_length > 0 &&
        AacDecParseConfig(track->config, int32_t(track->config_length), &asc) == 0) {
        params.iFormat = AACDEC_FORMAT_RAW;
        if (asc.iSampleRate > 0) params.iSampleRate = asc.iSampleRate;
        if (asc.iChannels > 0) params.iChannels = asc.iChannels;
        frame_length = asc.iFrameLength;
        // An SBR output rate signalled equal to the core's asks for downsampled SBR; a
        // configuration that says PS is absent keeps a mono core mono.
        if (asc.iSbrSignalled == 1 && asc.iExtSampleRate > 0 &&
            asc.iExtSampleRate <= asc.iSampleRate)
            params.iSbrDownsampled = 1;
        if (asc.iPsSignalled == 0) params.iPsMode = 1;
    }
    if (params.iSampleRate <= 0 || params.iChannels <= 0) {
        AudioDecoderDestroy(d);
        return ME_ERR_AUDIO_DECODER_INIT;
    }
    d->init_rate = params.iSampleRate;
    d->init_channels = params.iChannels;
    d->init_format = params.iFormat;
    d->init_frame_length = frame_length;
    d->init_downsampled = params.iSbrDownsampled;
    d->ps_mode = params.iPsMode;
    AacDecHandle h = nullptr;
    if (AacDecInit(AACDEC_VERSION, &h, &params, blocks) != 0 || !h) {
        AudioDecoderDestroy(d);
        return ME_ERR_AUDIO_DECODER_INIT;
    }
    d->handle = h;
    if (AacDecSetFrameLength(h, frame_length) != 0) {
        AudioDecoderDestroy(d);
        return ME_ERR_AUDIO_DECODER_INIT;
    }
    // The configuration also carries the program configuration that orders the channels of
    // streams with channel configuration 0.
    if (params.iFormat == AACDEC_FORMAT_RAW && track->config_length <= kDecoderConfigMax) {
        d->config_length = track->config_length;
        std::memcpy(d->config, track->config, track->config_length);
        AacDecApplyConfig(h, d->config, int32_t(d->config_length));
    }
    if (first && first_length) {
        AacDecInBuf in{int32_t(first_length), int32_t(first_length), first};
        AacDecProbe(h, &params, &in);
    }
    d->format = params.iFormat;
    d->out_rate =
        uint32_t(params.iSampleRate > 0 ? params.iSampleRate : int32_t(track->sample_rate));
    d->out_channels = uint32_t(params.iChannels == 2 ? 2 : 1);
    d->frame_length =
        params.iSbrPresent && !d->init_downsampled ? 2 * kAudioFrameLength : kAudioFrameLength;
    // The engine's own identifiers for HE-AAC: 254 SBR, 253 SBR with parametric stereo.
    if (params.iSbrPresent) d->codec_tag = params.iPsPresent ? 253 : 254;
    if (d->out_rate == 0) {
        AudioDecoderDestroy(d);
        return ME_ERR_AUDIO_DECODER_INIT;
    }
    *out = d;
    return ME_OK;
}

MeResult AudioDecoderReset(AudioDecoder *d) {
    if (!d || !d->handle) return ME_FAIL;
    AacDecReset(d->handle);
    d->handle = nullptr;
    AacDecMemBlock blocks[AACDEC_NUM_MEM_BLOCKS] = {};
    if (AacDecQueryMem(blocks) != 0) return ME_ERR_AUDIO_DECODER_INIT;
    for (int i = 0; i < AACDEC_NUM_MEM_BLOCKS; ++i) blocks[i].pMem = d->blocks[i];
    AacDecParams params{};
    params.iSampleRate = d->init_rate;
    params.iChannels = d->init_channels;
    params.iFormat = d->format;
    params.iSbrDownsampled = d->init_downsampled;
    AacDecHandle h = nullptr;
    if (AacDecInit(AACDEC_VERSION, &h, &params, blocks) != 0 || !h)
        return ME_ERR_AUDIO_DECODER_INIT;
    d->handle = h;
    if (AacDecSetFrameLength(h, d->init_frame_length) != 0) return ME_ERR_AUDIO_DECODER_INIT;
    if (d->config_length) AacDecApplyConfig(h, d->config, int32_t(d->config_length));
    return ME_OK;
}

void AudioDecoderDestroy(AudioDecoder *d) {
    if (!d) return;
    if (d->handle) AacDecReset(d->handle);
    for (void *m : d->mem) MemFree(m);
    MemFree(d->scratch);
    MemFree(d);
}

MeResult AudioDecoderDecode(AudioDecoder *d, const uint8_t *data, uint32_t length,
                            int16_t *const *planes, uint32_t *consumed, uint32_t *samples) {
    *consumed = length;
    *samples = 0;
    if (!d || !data || length == 0) return ME_FAIL;
    AacDecParams params{};
    params.iFormat = d->format;
    params.iPsMode = d->ps_mode;
    AacDecInBuf in{int32_t(length), int32_t(length), data};
    AacDecOutBuf out{0, AACDEC_MIN_OUT_BYTES, d->scratch};
    int32_t res = AacDecDecode(d->handle, &params, &in, &out);
    uint32_t used = params.iBytesUsed > 0 ? uint32_t(params.iBytesUsed) : 0;
    if (used > length) used = length;
    const bool no_output = res == AACDEC_ERR_FATAL || res < 0 || (res > 0 && res < 4101) ||
                           res == AACDEC_ERR_FRAME_LENGTH || res >= 8192;
    if (no_output) {
        *consumed = length;  // a frame we cannot read is skipped whole
        return ME_ERR_STREAM_SYNTAX;
    }
    // A raw access unit is the whole sample: what the decoder leaves over is padding, never a
    // second frame (decoding it again would repeat audio and stretch the stream).
    *consumed = (used && d->format != AACDEC_FORMAT_RAW) ? used : length;
    uint32_t ch = params.iChannels == 2 ? 2 : 1;
    uint32_t n = out.iBytesWritten > 0 ? uint32_t(out.iBytesWritten) / (ch * 2) : 0;
    if (n > d->frame_length) n = d->frame_length;
    if (n > AACDEC_CH1_OFFSET) n = AACDEC_CH1_OFFSET;
    for (uint32_t c = 0; c < d->out_channels; ++c) {
        const int16_t *src = d->scratch + (c < ch ? c : 0) * AACDEC_CH1_OFFSET;
        std::memcpy(planes[c], src, n * sizeof(int16_t));
    }
    *samples = n;
    return length - *consumed > 4 ? ME_ERR_MORE_OUTPUT : ME_OK;
}
