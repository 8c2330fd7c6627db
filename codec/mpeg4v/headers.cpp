// Stream headers: video object layer, VOP, video packet, short-header picture and GOB, user data.
#include <cstring>

#include "codec/mpeg4v/internal.h"
#include "codec/mpeg4v/tables.h"

namespace mp4v {
namespace {

// Up to 64 values in zigzag order; 0 ends the list and the rest repeat the last value.
bool ReadMatrix(BitReader *br, uint8_t *m) {
    int last = 0;
    int i = 0;
    for (; i < 64; ++i) {
        int v = int(br->Read(8));
        if (v == 0) break;
        m[kZigzag[i]] = uint8_t(v);
        last = v;
    }
    if (i == 0 || br->over) return false;
    for (; i < 64; ++i) m[kZigzag[i]] = uint8_t(last);
    return true;
}

// define_vop_complexity_estimation_header: flag groups as laid out in 14496-2 6.2.3.
void ReadComplexityHeader(Mp4vStreamInfo *si, BitReader *br) {
    int method = int(br->Read(2));
    uint32_t word = (1u << 24) | (uint32_t(method) << 22);
    if (method == 0 || method == 1) {
        if (!br->Bit()) word |= br->Read(6) << 16;  // shape
        if (!br->Bit()) word |= br->Read(4) << 12;  // texture set 1
        br->Skip(1);
        if (!br->Bit()) word |= br->Read(4) << 8;  // texture set 2
        if (!br->Bit()) word |= br->Read(6) << 2;  // motion compensation
        br->Skip(1);
        if (method == 1 && !br->Bit()) word |= br->Read(2);  // version 2
    }
    si->iComplexityEstimation = int32_t(word);
}

// The VOP's complexity estimation fields (read_vop_complexity_estimation_header), skipped.
void SkipVopComplexity(const Mp4vStreamInfo *si, BitReader *br, int type) {
    uint32_t w = uint32_t(si->iComplexityEstimation);
    if (!(w & (1u << 24)) || ((w >> 22) & 3) > 1) return;
    auto f = [&](int bit, int bits) {
        if (w >> bit & 1) br->Skip(bits);
    };
    // bit positions: shape 21..16 (opaque, transparent, intra_cae, inter_cae, no_update,
    // upsampling); set 1 15..12 (intra, inter, inter4v, not_coded); set 2 11..8 (dct_coefs,
    // dct_lines, vlc_symbols, vlc_bits); motion 7..2 (apm, npm, interpolate_mc_q,
    // forw_back_mc_q, halfpel2, halfpel4); version 2: 1..0 (sadct, quarterpel).
    if (type != kTypeS) {
        for (int b = 21; b >= 16; --b) f(b, 8);
    }
    f(15, 8);  // intra blocks
    f(12, 8);  // not coded blocks
    f(11, 8);
    f(10, 8);
    f(9, 8);
    f(8, 4);  // vlc_bits
    if (type != kTypeI) {
        f(14, 8);  // inter blocks
        f(13, 8);  // inter4v blocks
        f(7, 8);   // apm
        f(6, 8);   // npm
        f(4, 8);   // forw_back_mc_q
        f(3, 8);   // halfpel2
        f(2, 8);   // halfpel4
    }
    if (type == kTypeB || type == kTypeS) f(5, 8);  // interpolate_mc_q
    if (type != kTypeS) {
        f(1, 8);
        if (type != kTypeI) f(0, 8);
    }
}

// 14496-2 Table B-33 (dmv_length) followed by dmv_code and a marker, per component. The values
// land in `traj` (per point: du, dv) when it is given.
void ReadSpriteTrajectory(const Mp4vStreamInfo *si, BitReader *br, int16_t (*traj)[2]) {
    for (int i = 0; i < si->iSpriteWarpingPoints * 2; ++i) {
        int len;
        uint32_t two = br->Peek(2);
        if (two == 0) {
            br->Skip(2);
            len = 0;
        } else if (br->Peek(3) < 7) {
            len = int(br->Read(3)) - 1;  // 010..110 -> 1..5
        } else {
            br->Skip(3);
            len = 6;
            // The code for 14 is eleven 1s and a 0: the terminating 0 is read for every length.
            while (br->Bit() && len < 14) ++len;
        }
        int value = 0;
        if (len > 0) {
            // A leading 0 marks a negative value, coded as its ones' complement.
            int code = int(br->Read(len));
            value = (code >> (len - 1)) ? code : code - (1 << len) + 1;
        }
        br->Skip(1);
        if (traj && i < 6) traj[i >> 1][i & 1] = int16_t(value);
    }
}

bool ReadDecimal(const char *s, int n, int *pos, int *value) {
    int start = *pos;
    int v = 0;
    while (*pos < n && s[*pos] >= '0' && s[*pos] <= '9') {
        if (v < 100000000) v = v * 10 + (s[*pos] - '0');
        ++*pos;
    }
    *value = v;
    return *pos > start;
}

}  // namespace

void Print(const Instance *d, const char *text) {
    if (d->print) d->print(text);
}

bool FindStartCode(BitReader *br, uint32_t *code) {
    br->AlignByte();
    size_t pos = br->BytePos();
    const uint8_t *s = br->start;
    size_t len = size_t(br->end - br->start);
    while (pos + 3 < len) {
        if (s[pos + 2] > 1) {
            pos += 3;
        } else if (s[pos] == 0 && s[pos + 1] == 0 && s[pos + 2] == 1) {
            *code = s[pos + 3];
            br->SeekByte(pos + 4);
            return true;
        } else {
            ++pos;
        }
    }
    br->SeekByte(len);
    return false;
}

void SniffUserData(Instance *d, BitReader *br) {
    char text[31];
    int n = 0;
    while (n < 30 && br->BitsLeft() >= 8) {
        if (br->BitsLeft() >= 24 && br->Peek(24) == 1) break;
        text[n++] = char(br->Read(8));
    }
    text[n] = 0;
    int pos = 4;
    int value;
    if (n >= 4 && std::memcmp(text, "XviD", 4) == 0) {
        if (ReadDecimal(text, n, &pos, &value)) d->xvidBuild = value;
    } else if (n >= 4 && std::memcmp(text, "DivX", 4) == 0) {
        if (ReadDecimal(text, n, &pos, &value)) {
            if (n - pos >= 5 && std::memcmp(text + pos, "Build", 5) == 0) pos += 5;
            else if (pos < n && text[pos] == 'b') pos += 1;
            else pos = -1;
            if (pos >= 0 && ReadDecimal(text, n, &pos, &value)) {
                d->divxBuild = value;
                if (pos < n && text[pos] == 'p') d->si->iPackedBitstream = 1;
            }
        }
    }
    if ((d->xvidBuild >= 1 && d->xvidBuild <= 12) || (d->divxBuild >= 1 && d->divxBuild <= 499))
        d->si->iOldEncoder = 1;
}

bool ParseVol(Instance *d, BitReader *br) {
    Mp4vStreamInfo *si = d->si;
    br->Skip(9);
    int verid = 1;
    if (br->Bit()) {
        verid = int(br->Read(4));
        br->Skip(3);
    }
    if (br->Read(4) == 15) br->Skip(16);
    if (br->Bit()) {
        br->Skip(3);
        if (br->Bit()) br->Skip(79);
    }
    if (br->Read(2) != 0) {
        Print(d, "NOT SUPPORTED : Arbitrary Shape\n");
        return false;
    }
    br->Skip(1);
    int res = int(br->Read(16));
    if (res == 0) {
        Print(d, "ERROR : vop_time_increment_resolution is 0\n");
        return false;
    }
    si->iTimeIncrementResolution = res;
    int bits = CeilLog2(uint32_t(res));
    si->iTimeIncrementBits = bits < 1 ? 1 : bits;
    br->Skip(1);
    if (br->Bit()) br->Skip(si->iTimeIncrementBits);
    br->Skip(1);
    si->iWidth = int32_t(br->Read(13));
    br->Skip(1);
    si->iHeight = int32_t(br->Read(13));
    br->Skip(1);
    si->iInterlaced = int32_t(br->Bit());
    if (!br->Bit()) {
        Print(d, "NOT SUPPORTED : OBMC\n");
        return false;
    }
    int sprite = int(br->Read(verid == 1 ? 1 : 2));
    si->iSpriteEnable = sprite;
    if (sprite == 2) {
        si->iSpriteWarpingPoints = int32_t(br->Read(6));
        if (si->iSpriteWarpingPoints > 3) {
            Print(d, "ERROR : GMC points > 3");
            return false;
        }
        si->iSpriteWarpingAccuracy = int32_t(br->Read(2));
        si->iSpriteBrightnessChange = int32_t(br->Bit());
    } else if (sprite != 0) {
        Print(d, "NOT SUPPORTED : sprite_enable\n");
        return false;
    }
    if (br->Bit()) {
        Print(d, "NOT SUPPORTED : Not 8bit\n");
        return false;
    }
    si->iQuantType = int32_t(br->Bit());
    if (si->iQuantType) {
        if (br->Bit()) {
            if (!ReadMatrix(br, si->aIntraQuantMatrix) || si->aIntraQuantMatrix[0] != 8) {
                Print(d, "ERROR : intra quant matrix\n");
                return false;
            }
        } else {
            std::memcpy(si->aIntraQuantMatrix, kDefaultIntraMatrix, 64);
        }
        if (br->Bit()) {
            if (!ReadMatrix(br, si->aInterQuantMatrix)) {
                Print(d, "ERROR : inter quant matrix\n");
                return false;
            }
        } else {
            std::memcpy(si->aInterQuantMatrix, kDefaultInterMatrix, 64);
        }
    }
    si->iQuarterSample = verid != 1 ? int32_t(br->Bit()) : 0;
    if (!br->Bit()) ReadComplexityHeader(si, br);
    else si->iComplexityEstimation = 0;
    br->Skip(1);
    si->iDataPartitioned = int32_t(br->Bit());
    si->iReversibleVlc = 0;
    if (si->iDataPartitioned) {
        if (si->iInterlaced) {
            Print(d, "Error : DP+Interlaced is forbidden\n");
            return false;
        }
        si->iReversibleVlc = int32_t(br->Bit());
    }
    if (verid != 1) {
        if (br->Bit()) {
            Print(d, "NOT SUPPORTED : NewPred\n");
            return false;
        }
        if (br->Bit()) {
            Print(d, "NOT SUPPORTED : reduced resolution vop\n");
            return false;
        }
    }
    if (br->Bit()) {
        Print(d, "NOT SUPPORTED : scalability\n");
        return false;
    }
    return true;
}

bool ParseVop(Instance *d, BitReader *br) {
    Mp4vStreamInfo *si = d->si;
    int type = int(br->Read(2));
    int modulo = 0;
    while (br->Bit() && !br->over) ++modulo;
    br->Skip(1);
    int incr = int(br->Read(si->iTimeIncrementBits));
    br->Skip(1);
    si->iVopCodingType = type;
    si->iModuloTimeBase = modulo;
    si->iVopTimeIncrement = incr;
    if (br->over) return false;
    if (!br->Bit()) {
        si->iVopNotCoded = 1;
        return true;
    }
    si->iVopNotCoded = 0;
    si->iVopRoundingType = (type == kTypeP || type == kTypeS) ? int32_t(br->Bit()) : 0;
    SkipVopComplexity(si, br, type);
    static const uint8_t kDcThreshold[8] = {32, 13, 15, 17, 19, 21, 23, 0};
    si->iIntraDcVlcThreshold = kDcThreshold[br->Read(3)];
    si->iTopFieldFirst = si->iAlternateVerticalScan = 0;
    if (si->iInterlaced) {
        si->iTopFieldFirst = int32_t(br->Bit());
        si->iAlternateVerticalScan = int32_t(br->Bit());
    }
    if (type == kTypeS && si->iSpriteEnable == 2) {
        std::memset(d->spriteTraj, 0, sizeof d->spriteTraj);
        ReadSpriteTrajectory(si, br, d->spriteTraj);
        if (si->iSpriteBrightnessChange) {
            // brightness_change_factor: 1 to 4 prefix bits select the field width.
            int w = br->Bit() ? (br->Bit() ? (br->Bit() ? (br->Bit() ? 10 : 9) : 7) : 6) : 5;
            br->Skip(w);
        }
    }
    si->iVopQuant = int32_t(br->Read(5));
    if (si->iVopQuant == 0) return false;
    si->iVopFcodeForward = si->iVopFcodeBackward = 0;
    if (type != kTypeI) {
        si->iVopFcodeForward = int32_t(br->Read(3));
        if (si->iVopFcodeForward == 0) return false;
    }
    if (type == kTypeB) {
        si->iVopFcodeBackward = int32_t(br->Read(3));
        if (si->iVopFcodeBackward == 0) return false;
    }
    if (type == kTypeI) {
        si->iResyncMarkerBits = 17;
    } else if (type == kTypeB) {
        int f = si->iVopFcodeForward > si->iVopFcodeBackward ? si->iVopFcodeForward
                                                             : si->iVopFcodeBackward;
        si->iResyncMarkerBits = 16 + f < 18 ? 18 : 16 + f;
    } else {
        si->iResyncMarkerBits = 16 + si->iVopFcodeForward;
    }
    return !br->over;
}

int ParseVideoPacket(Instance *d, BitReader *br) {
    const Mp4vStreamInfo *si = d->si;
    int markerBits = si->iResyncMarkerBits;
    br->AlignByte();
    for (;;) {
        if (br->BitsLeft() < 24) return -1;
        if (br->Peek(24) == 1) return 0;
        if (br->Peek(markerBits) != 1) {
            br->Skip(8);
            continue;
        }
        br->Skip(markerBits);
        int mb = int(br->Read(d->mbNumBits));
        int q = int(br->Read(5));
        if (mb < d->mbNext || mb >= d->mbCount || q == 0) {
            br->AlignByte();
            continue;
        }
        if (br->Bit()) {
            // header_extension_code repeats the VOP header's timing and types; the VOP header
            // already gave them, so they are read past.
            while (br->Bit() && !br->over) {
            }
            br->Skip(1);
            br->Skip(si->iTimeIncrementBits);
            br->Skip(1);
            int type = int(br->Read(2));
            br->Skip(3);
            if (type == kTypeS && si->iSpriteEnable == 2) ReadSpriteTrajectory(si, br, nullptr);
            if (type != kTypeI) br->Skip(3);
            if (type == kTypeB) br->Skip(3);
        }
        if (br->over) return -1;
        if (mb > d->mbNext) ConcealUpTo(d, mb);
        d->mbNext = mb;
        d->sliceStart = mb;
        d->quant = q;
        return 1;
    }
}

bool FindShortHeader(BitReader *br) {
    br->AlignByte();
    size_t pos = br->BytePos();
    const uint8_t *s = br->start;
    size_t len = size_t(br->end - br->start);
    while (pos + 3 < len) {
        if (s[pos] == 0 && s[pos + 1] == 0 && (s[pos + 2] & 0xFC) == 0x80) {
            br->SeekByte(pos);
            br->Skip(22);
            return true;
        }
        ++pos;
    }
    br->SeekByte(len);
    return false;
}

bool ParseShortHeader(Instance *d, BitReader *br) {
    static const int kFormats[6][2] = {{0, 0},     {128, 96},  {176, 144},
                                       {352, 288}, {704, 576}, {1408, 1152}};
    Mp4vStreamInfo *si = d->si;
    int tr = int(br->Read(8));
    br->Skip(5);
    int format = int(br->Read(3));
    int width = 0, height = 0, type = 0;
    int rounding = 0;
    if (format >= 1 && format <= 5) {
        width = kFormats[format][0];
        height = kFormats[format][1];
        type = int(br->Bit());
        br->Skip(4);
        si->iVopQuant = int32_t(br->Read(5));
        if (si->iVopQuant == 0) return false;
        if (br->Bit()) {
            Print(d, "Not supported H263 features\n");
            return false;
        }
    } else if (format == 7) {
        int ufep = int(br->Read(3));
        int custom = 0, customClock = 0;
        if (ufep == 1) {
            int f = int(br->Read(3));
            if (f >= 1 && f <= 5) {
                width = kFormats[f][0];
                height = kFormats[f][1];
            } else if (f == 6) {
                custom = 1;
            } else {
                return false;
            }
            customClock = int(br->Bit());
            br->Skip(1);
            if (br->Read(9) != 0) {
                Print(d, "Not supported H263 features\n");
                return false;
            }
            br->Skip(4);
        } else {
            // Without the optional part the picture keeps the size in use.
            width = d->width;
            height = d->height;
        }
        type = int(br->Read(3));
        if (type > 1) {
            Print(d, "Not supported H263 features\n");
            return false;
        }
        if (br->Read(2) != 0) {
            Print(d, "Not supported H263 features\n");
            return false;
        }
        rounding = int(br->Bit());
        br->Skip(3);
        if (br->Bit()) {
            Print(d, "Not supported H263 features\n");
            return false;
        }
        if (custom) {
            int par = int(br->Read(4));
            width = (int(br->Read(9)) + 1) * 4;
            br->Skip(1);
            height = int(br->Read(9)) * 4;
            if (par == 15) br->Skip(16);
        }
        if (customClock) {
            if (ufep == 1) br->Skip(8);
            br->Skip(2);
        }
        si->iVopQuant = int32_t(br->Read(5));
        if (si->iVopQuant == 0) return false;
    } else {
        return false;
    }
    while (br->Bit() && !br->over) br->Skip(8);
    if (br->over || width == 0 || height == 0) return false;
    if (width != d->width || height != d->height) {
        if (!SetupGeometry(d, width, height)) {
            Print(d, "Error : VOL width/height is zero or larger than uMaxDecodableWidth/Height\n");
            return false;
        }
    }
    si->iWidth = width;
    si->iHeight = height;
    si->iVopCodingType = type;
    si->iVopTimeIncrement = tr;
    si->iVopRoundingType = rounding;
    si->iVopNotCoded = 0;
    si->iVopFcodeForward = 1;
    si->iVopFcodeBackward = 0;
    d->h263Tr = tr;
    return true;
}

int ParseGob(Instance *d, BitReader *br) {
    {
        BitReader probe = *br;
        probe.AlignByte();
        if (probe.BitsLeft() >= 22 && probe.Peek(22) == 0x20) {
            *br = probe;
            return 0;
        }
    }
    while (br->BitsLeft() >= 17 + 5) {
        if (br->Peek(17) != 1) {
            br->Skip(1);
            continue;
        }
        br->Skip(17);
        int gn = int(br->Read(5));
        if (gn == 0 || gn == 31) return 0;  // picture start or end of sequence
        int mb = gn * d->mbw * d->gobRows;
        br->Skip(2);
        int q = int(br->Read(5));
        if (mb < d->mbNext || mb >= d->mbCount || q == 0) continue;
        if (br->over) return -1;
        if (mb > d->mbNext) ConcealUpTo(d, mb);
        d->mbNext = mb;
        d->sliceStart = mb;
        d->quant = q;
        return 1;
    }
    return -1;
}

}  // namespace mp4v
