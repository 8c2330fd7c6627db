// The call interface: memory blocks, initialisation, the picture state machine, buffer rotation
// and output selection.
#include <cstddef>
#include <cstring>

#include "codec/mpeg4v/general.h"
#include "codec/mpeg4v/gmc.h"
#include "codec/mpeg4v/internal.h"

namespace mp4v {
namespace {

constexpr uint32_t kInstanceBlock = 516;
constexpr uint32_t kStreamInfoBytes = 248;
// Seven 32-bit words per frame descriptor on 32-bit targets; the three plane pointers grow
// with the pointer size elsewhere.
constexpr uint32_t kFrameDescBytes = uint32_t(sizeof(FrameDesc));
static_assert(sizeof(Instance) + 7 <= kInstanceBlock, "instance must fit its block");
static_assert(sizeof(Mp4vStreamInfo) + 7 <= kStreamInfoBytes, "stream info must fit");

inline uint8_t *AlignUp(void *p, size_t a) {
    uintptr_t v = reinterpret_cast<uintptr_t>(p);
    return reinterpret_cast<uint8_t *>((v + a - 1) & ~uintptr_t(a - 1));
}

struct Sizes {
    uint32_t s[4];
};

Sizes BlockSizes(uint32_t n, uint32_t maxW, uint32_t maxH) {
    uint64_t w = (uint64_t(maxW) + 15) / 16, h = (uint64_t(maxH) + 15) / 16;
    uint64_t b1 = 8 * w * h + 4 * w * (h + 16) + 2936;
    uint64_t b2 = 25 * w * h + 28;
    uint64_t b3 = uint64_t(kFrameDescBytes) * n + kStreamInfoBytes;
    auto cap = [](uint64_t v) { return v > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(v); };
    return Sizes{{kInstanceBlock, cap(b1), cap(b2), cap(b3)}};
}

// Next frame buffer in cyclic order that holds neither reference.
int PickBuffer(Instance *d, int avoid) {
    for (uint32_t k = 0; k < d->nframes; ++k) {
        int i = int((uint32_t(d->pick) + 1 + k) % d->nframes);
        if (i != d->past && i != d->future && i != avoid) {
            d->pick = i;
            return i;
        }
    }
    return 0;
}

void FillGrey(Instance *d, FrameDesc *f) {
    std::memset(f->y, 128, size_t(d->pitch) * size_t(d->rows));
    std::memset(f->u, 128, size_t(d->pitch / 2) * size_t(d->rows / 2));
    std::memset(f->v, 128, size_t(d->pitch / 2) * size_t(d->rows / 2));
}

void CopyPicture(Instance *d, FrameDesc *dst, const FrameDesc *src) {
    std::memcpy(dst->y, src->y, size_t(d->pitch) * size_t(d->rows));
    std::memcpy(dst->u, src->u, size_t(d->pitch / 2) * size_t(d->rows / 2));
    std::memcpy(dst->v, src->v, size_t(d->pitch / 2) * size_t(d->rows / 2));
}

// Buffer roles, quantiser maps and timing for a picture of `type` about to be decoded.
void PreparePicture(Instance *d, int type, int modulo, int incr) {
    d->vopType = type;
    if (d->lastType == kTypeI || d->lastType == kTypeP || d->lastType == kTypeS) d->curQ ^= 1;
    d->lastType = type;
    bool ref = type != kTypeB;
    int pick = PickBuffer(d, -1);
    if (ref) {
        int target = pick;
        if (d->deblock) {
            target = d->past >= 0 ? d->past : PickBuffer(d, pick);
            d->pick = pick;
        }
        d->pastReturned = d->futureReturned;
        d->past = d->future;
        d->future = target;
        d->cur = target;
        d->futureReturned = 0;
    } else {
        d->cur = pick;
    }
    FrameDesc *t = &d->frames[d->cur];
    int baseSeconds = d->past >= 0 ? d->frames[d->past].seconds : 0;
    t->type = type;
    t->seconds = baseSeconds + modulo;
    t->incr = incr;
    t->clean = 0;
    d->picSeconds = t->seconds;
    if (type == kTypeB && d->past >= 0 && d->future >= 0) {
        const FrameDesc *p = &d->frames[d->past], *f = &d->frames[d->future];
        int r = d->si->iTimeIncrementResolution;
        d->trd = r * (f->seconds - p->seconds) + f->incr - p->incr;
        d->trb = r * (t->seconds - p->seconds) + t->incr - p->incr;
        if (d->fieldT <= 0 && d->trb > 0) d->fieldT = d->trb;  // a zero unit would divide by 0
    }
    // Without a reference, prediction reads a grey picture held in a spare buffer (never the
    // target itself, which would make the copies overlap).
    if (type != kTypeI && d->past < 0) {
        int keepPick = d->pick;
        int grey = PickBuffer(d, d->cur);
        d->pick = keepPick;
        if (grey != d->cur) {
            FillGrey(d, &d->frames[grey]);
            d->frames[grey].type = -1;
            d->frames[grey].seconds = d->frames[grey].incr = 0;
            d->past = grey;
        } else {
            FillGrey(d, t);
        }
    }
    d->mbNext = 0;
    d->sliceStart = 0;
    d->quant = d->si->iVopQuant;
    d->rounding = (type == kTypeP || type == kTypeS) ? d->si->iVopRoundingType : 0;
    if (d->shortHdr) d->rounding = type == kTypeP ? d->si->iVopRoundingType : 0;
    d->state = kDecodeMbs;
}

// A complete picture: bookkeeping, then the choice of the picture to return (-1 none).
int FinishPicture(Instance *d) {
    FrameDesc *t = &d->frames[d->cur];
    if (!d->shortHdr && d->si->iOldEncoder && ((d->width & 15) || (d->height & 15)))
        FillOldEncoderEdges(d, t);
    int clean = 0;
    for (int i = 0; i < d->mbCount; ++i) clean += d->status[i] == 0;
    t->clean = clean;
    d->state = kPicDone;
    int type = d->vopType;
    int ret;
    const uint8_t *qmap = d->quantMap[d->curQ];
    if (type == kTypeB || d->lowDelay || d->resetStatus) {
        ret = d->cur;
        if (type != kTypeB) d->futureReturned = 1;
    } else {
        ret = d->past;
        if (ret >= 0 && d->frames[ret].type < 0) ret = -1;
        qmap = d->quantMap[d->curQ ^ 1];
        if (d->pastReturned) ret = -1;
    }
    if (ret >= 0 && d->deblock) {
        if (type == kTypeB) {
            PostFilter(d, t, t, qmap);
        } else {
            FrameDesc *out = &d->frames[d->pick];
            const FrameDesc *src = &d->frames[ret];
            PostFilter(d, src, out, qmap);
            out->type = src->type;
            out->clean = src->clean;
            out->seconds = src->seconds;
            out->incr = src->incr;
            ret = d->pick;
        }
    }
    return ret;
}

void FillOutput(Instance *d, int ret, Mp4vDecOutput *out) {
    out->uWidth = uint32_t(d->width);
    out->uHeight = uint32_t(d->height);
    out->uPitch = uint32_t(d->pitch);
    out->pMbStatus = d->status;
    if (ret < 0) {
        if (out->piPicInfo) {
            out->piPicInfo[0] = -1;
            out->piPicInfo[1] = 0;
        }
        out->pY = out->pU = out->pV = nullptr;
        out->uCleanPercent = 0;
        return;
    }
    const FrameDesc *f = &d->frames[ret];
    int duration;
    if (d->shortHdr) {
        duration = ((f->incr - d->prevTr) & 255) * 3003;
        d->prevTr = f->incr;
    } else {
        int64_t r = d->si->iTimeIncrementResolution > 0 ? d->si->iTimeIncrementResolution : 1;
        int64_t ticks = (int64_t(f->seconds) - d->prevSeconds) * r + f->incr - d->prevIncr;
        duration = int(ticks * 90000 / r);
        d->prevSeconds = f->seconds;
        d->prevIncr = f->incr;
    }
    if (out->piPicInfo) {
        out->piPicInfo[0] = f->type;
        out->piPicInfo[1] = duration;
    }
    out->pY = f->y;
    out->pU = f->u;
    out->pV = f->v;
    out->uCleanPercent = d->mbCount ? uint32_t(f->clean * 100 / d->mbCount) : 0;
}

bool HandleVop(Instance *d, BitReader *br) {
    Mp4vStreamInfo *si = d->si;
    if (!ParseVop(d, br)) return false;
    if (si->iWidth <= 0 || si->iHeight <= 0) return false;
    if (si->iWidth != d->width || si->iHeight != d->height || d->mbCount == 0) {
        if (!SetupGeometry(d, si->iWidth, si->iHeight)) {
            Print(d, "Error : VOL width/height is zero or larger than uMaxDecodableWidth/Height\n");
            return false;
        }
    }
    int type = si->iVopCodingType;
    if (type == kTypeS) {
        // S-VOPs exist only with GMC; the data-partitioned decoders have no mcsel syntax.
        if (si->iSpriteEnable != 2 || si->iSpriteWarpingPoints > 3 || si->iDataPartitioned)
            return false;
        SetupGmcWarp(d->gmc, si->iWidth, si->iHeight, si->iSpriteWarpingPoints,
                     si->iSpriteWarpingAccuracy, d->spriteTraj);
    }
    if (si->iVopNotCoded) {
        if (si->iPackedBitstream) return false;
        const FrameDesc *src = nullptr;
        int srcIdx = d->future;
        PreparePicture(d, type, si->iModuloTimeBase, si->iVopTimeIncrement);
        if (srcIdx >= 0 && srcIdx != d->cur) src = &d->frames[srcIdx];
        FrameDesc *t = &d->frames[d->cur];
        if (src) CopyPicture(d, t, src);
        else FillGrey(d, t);
        d->mbNext = d->mbCount;
        return true;
    }
    if (type == kTypeB && (d->past < 0 || d->future < 0)) return false;
    PreparePicture(d, type, si->iModuloTimeBase, si->iVopTimeIncrement);
    return true;
}

}  // namespace

bool SetupGeometry(Instance *d, int width, int height) {
    if (width <= 0 || height <= 0 || uint32_t(width) > d->maxW || uint32_t(height) > d->maxH)
        return false;
    d->width = width;
    d->height = height;
    d->mbw = (width + 15) / 16;
    d->mbh = (height + 15) / 16;
    d->mbCount = d->mbw * d->mbh;
    d->pitch = d->mbw * 16;
    d->rows = d->mbh * 16;
    int bits = CeilLog2(uint32_t(d->mbCount));
    d->mbNumBits = bits < 1 ? 1 : bits;
    d->gobRows = height <= 400 ? 1 : height <= 800 ? 2 : 4;

    uint8_t *m = AlignUp(d->blocks[2].pBlock, 4);
    d->mv = reinterpret_cast<int16_t *>(m);
    m += size_t(d->mbCount) * 16;
    d->status = m;
    m += d->mbCount;
    d->skip = m;
    m += d->mbCount;
    d->quantMap[0] = m;
    m += d->mbCount;
    d->quantMap[1] = m;
    m += d->mbCount;
    // Four bytes per macroblock (the offset so far is a multiple of 4), then one.
    d->texPos = reinterpret_cast<int32_t *>(m);
    m += size_t(d->mbCount) * 4;
    d->texDesc = m;
    std::memset(d->mv, 0, size_t(d->mbCount) * 16);
    std::memset(d->status, 255, size_t(d->mbCount));
    std::memset(d->skip, kMbSkipped, size_t(d->mbCount));
    std::memset(d->quantMap[0], 0, size_t(d->mbCount) * 2);

    uint8_t *s = AlignUp(d->blocks[1].pBlock, 16);
    d->coef = reinterpret_cast<int16_t *>(s);
    std::memset(s, 0, 128);
    s += 128;
    d->emu = s;
    s += 24 * 17 + 8;
    d->bidir = s;
    s += 384;
    d->leftPred = reinterpret_cast<PredLine *>(s);
    s += 4 * sizeof(PredLine);
    d->diagDc = reinterpret_cast<int16_t *>(s);
    s += 8;
    d->topLuma = reinterpret_cast<PredLine *>(s);
    s += size_t(d->mbw) * 2 * sizeof(PredLine);
    d->topChroma = reinterpret_cast<PredLine *>(s);
    s += size_t(d->mbw) * 2 * sizeof(PredLine);
    d->gmc = reinterpret_cast<GmcWarp *>(AlignUp(s, 8));
    // Field motion of the latest reference (interlaced direct mode) sits at the end of the block,
    // clear of the scratch laid out above.
    uintptr_t fieldAt = (reinterpret_cast<uintptr_t>(d->blocks[1].pBlock) + d->blocks[1].uSize -
                         size_t(d->mbCount) * 9) &
                        ~uintptr_t(3);
    d->fieldMv = reinterpret_cast<int16_t *>(fieldAt);
    d->fieldFlags = reinterpret_cast<uint8_t *>(fieldAt) + size_t(d->mbCount) * 8;
    std::memset(d->fieldFlags, 0, size_t(d->mbCount));

    d->past = d->future = d->cur = -1;
    d->futureReturned = 1;
    d->lastType = -1;
    for (uint32_t i = 0; i < d->nframes; ++i) d->frames[i].type = -1;
    d->state = kStart;
    return true;
}

}  // namespace mp4v

using namespace mp4v;

uint32_t Mp4vDecGetMemNum(void) { return 4; }

uint32_t Mp4vDecQueryMem(const Mp4vDecConfig *cfg, Mp4vDecMemBlock *mem) {
    if (!cfg || !mem) return 4;
    Sizes s = BlockSizes(cfg->uFrmBufferNum, cfg->uMaxDecodableWidth, cfg->uMaxDecodableHeight);
    for (int i = 0; i < 4; ++i) mem[i].uSize = s.s[i];
    return 4;
}

void *Mp4vDecInit(Mp4vDecMemBlock *mem, const Mp4vDecConfig *cfg, Mp4vDecInitResult *res) {
    if (!mem || !cfg || !cfg->pConfigInfo) return nullptr;
    const Mp4vDecConfigInfo *ci = cfg->pConfigInfo;
    auto say = [&](const char *t) {
        if (cfg->pfnPrint) cfg->pfnPrint(t);
    };
    if ((cfg->uMaxDecodableWidth & 15) || (cfg->uMaxDecodableHeight & 15)) {
        say("Error : uMaxDecodableWidth/Height is not multiple of 16\n");
        return nullptr;
    }
    if (cfg->uFrmBufferNum < 3) {
        say("Error : uFrmBufferNum is smaller than 3\n");
        return nullptr;
    }
    bool haveConfig = ci->pConfigData && ci->uConfigDataLen > 0;
    if (ci->iIsShortHdrMode == -1 && !haveConfig) {
        say("Error : iIsShortHdrMode is -1 but there is no config data\n");
        return nullptr;
    }
    // The caller's blocks and frame buffers must be there and large enough.
    Sizes need = BlockSizes(cfg->uFrmBufferNum, cfg->uMaxDecodableWidth, cfg->uMaxDecodableHeight);
    for (int i = 0; i < 4; ++i)
        if (!mem[i].pBlock || mem[i].uSize < need.s[i]) return nullptr;
    if (!cfg->pFrmBuffers) return nullptr;
    for (uint32_t i = 0; i < cfg->uFrmBufferNum; ++i)
        if (!cfg->pFrmBuffers[i].pY || !cfg->pFrmBuffers[i].pU || !cfg->pFrmBuffers[i].pV)
            return nullptr;

    Instance *d = reinterpret_cast<Instance *>(AlignUp(mem[0].pBlock, 8));
    std::memset(static_cast<void *>(d), 0, sizeof(Instance));
    for (int i = 0; i < 4; ++i) d->blocks[i] = mem[i];
    d->print = cfg->pfnPrint;
    d->si = reinterpret_cast<Mp4vStreamInfo *>(AlignUp(mem[3].pBlock, 8));
    std::memset(d->si, 0, sizeof(Mp4vStreamInfo));
    d->frames = reinterpret_cast<FrameDesc *>(AlignUp(d->si + 1, 8));
    d->nframes = cfg->uFrmBufferNum;
    d->maxW = cfg->uMaxDecodableWidth;
    d->maxH = cfg->uMaxDecodableHeight;
    for (uint32_t i = 0; i < d->nframes; ++i) {
        FrameDesc *f = &d->frames[i];
        f->y = AlignUp(cfg->pFrmBuffers[i].pY, 16);
        f->u = AlignUp(cfg->pFrmBuffers[i].pU, 16);
        f->v = AlignUp(cfg->pFrmBuffers[i].pV, 16);
        f->type = -1;
        f->clean = f->seconds = f->incr = 0;
    }
    d->shortHdr = ci->iIsShortHdrMode == 1 ? 1 : 0;
    d->deblock = ci->iDeblocking ? 1 : 0;
    d->lowDelay = ci->iLowDelay ? 1 : 0;
    d->past = d->future = d->cur = -1;
    d->pick = int(d->nframes) - 1;
    d->futureReturned = 1;
    d->lastType = -1;
    d->xvidBuild = d->divxBuild = -1;
    d->si->iResyncMarkerBits = 17;

    if (haveConfig) {
        const uint8_t *p = ci->pConfigData;
        uint32_t n = ci->uConfigDataLen;
        bool vol = false;
        for (uint32_t i = 0; i + 3 < n && !vol; ++i)
            vol =
                p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1 && p[i + 3] >= 0x20 && p[i + 3] <= 0x2F;
        d->shortHdr = vol ? 0 : 1;
        if (vol) {
            BitReader br;
            br.Init(p, n);
            uint32_t code;
            while (FindStartCode(&br, &code)) {
                if (code == 0xB2) {
                    SniffUserData(d, &br);
                } else if (code >= 0x20 && code <= 0x2F) {
                    ParseVol(d, &br);
                }
            }
            if (!SetupGeometry(d, d->si->iWidth, d->si->iHeight)) {
                say("Error : VOL width/height is zero or larger than uMaxDecodableWidth/Height\n");
                return nullptr;
            }
            d->volSeen = 1;
        }
    }
    if (d->shortHdr) d->lowDelay = 1;
    if (res) {
        if (res->piIsShortHdr) *res->piIsShortHdr = d->shortHdr;
        res->uWidth = d->shortHdr ? 0 : d->width;
        res->uHeight = d->shortHdr ? 0 : d->height;
    }
    return d;
}

uint32_t Mp4vDecDecode(void *h, const Mp4vDecInput *in, Mp4vDecOutput *out) {
    Instance *d = static_cast<Instance *>(h);
    if (!d || !in || !out) return 0;
    if (in->uDataLen == 0 || !in->pData) {
        int ret = -1;
        if (!d->lowDelay && d->future >= 0 && !d->futureReturned &&
            d->frames[d->future].type >= 0) {
            ret = d->future;
            d->futureReturned = 1;
            if (d->deblock) {
                int o = PickBuffer(d, -1);
                PostFilter(d, &d->frames[ret], &d->frames[o],
                           d->quantMap[d->lastType == kTypeB ? d->curQ ^ 1 : d->curQ]);
                FrameDesc *src = &d->frames[ret], *dst = &d->frames[o];
                dst->type = src->type;
                dst->clean = src->clean;
                dst->seconds = src->seconds;
                dst->incr = src->incr;
                ret = o;
            }
        }
        FillOutput(d, ret, out);
        return 0;
    }
    BitReader br;
    br.Init(in->pData, in->uDataLen);
    d->frameEnd = in->iFrameEnd;
    d->resetStatus = in->iResetStatus;
    if (d->resetStatus && d->mbCount) std::memset(d->status, 1, size_t(d->mbCount));
    // Macroblock data cannot continue across buffers: look for the next packet instead.
    if (d->state == kDecodeMbs) d->state = kResync;

    bool done = false;
    while (!done) {
        if (d->state == kStart || d->state == kPicDone) {
            if (d->shortHdr) {
                if (!FindShortHeader(&br)) break;
                if (!ParseShortHeader(d, &br)) continue;
                PreparePicture(d, d->si->iVopCodingType, 0, d->h263Tr);
            } else {
                uint32_t code;
                if (!FindStartCode(&br, &code)) break;
                if (code == 0xB2) {
                    SniffUserData(d, &br);
                } else if (code >= 0x20 && code <= 0x2F) {
                    ParseVol(d, &br);
                    d->volSeen = d->si->iWidth > 0 && d->si->iHeight > 0;
                } else if (code == 0xB6 && d->volSeen) {
                    if (!HandleVop(d, &br)) {
                        d->state = kPicDone;
                        continue;
                    }
                    if (d->mbNext >= d->mbCount) done = true;  // not coded: already complete
                }
                continue;
            }
        }
        if (d->state == kDecodeMbs) {
            const bool general = !d->shortHdr && UsesGeneralPath(d);
            bool complete = d->vopType == kTypeB
                                ? (general ? DecodeMbsGeneralB(d, &br) : DecodeMbsB(d, &br))
                            : d->shortHdr             ? DecodeMbsH263(d, &br)
                            : d->si->iDataPartitioned ? DecodeMbsPartitioned(d, &br)
                            : general                 ? DecodeMbsGeneral(d, &br)
                                                      : DecodeMbsIP(d, &br);
            if (complete) {
                done = true;
                break;
            }
            d->state = kResync;
        }
        if (d->state == kResync) {
            int r = d->shortHdr ? ParseGob(d, &br) : ParseVideoPacket(d, &br);
            if (r == 1) {
                d->state = kDecodeMbs;
            } else if (r == 0) {
                ConcealUpTo(d, d->mbCount);
                done = true;
            } else {
                break;
            }
        }
    }
    if (!done && (d->state == kDecodeMbs || d->state == kResync) && d->frameEnd) {
        ConcealUpTo(d, d->mbCount);
        done = true;
    }
    int ret = done ? FinishPicture(d) : -1;
    FillOutput(d, ret, out);
    int64_t unread = br.BitsLeft() / 8;
    if (unread > int64_t(in->uDataLen)) unread = in->uDataLen;
    return in->uDataLen - uint32_t(unread);
}

uint32_t Mp4vDecRelease(void *h, Mp4vDecMemBlock *mem) {
    Instance *d = static_cast<Instance *>(h);
    if (d && mem)
        for (int i = 0; i < 4; ++i) mem[i] = d->blocks[i];
    return 4;
}
