#include "codec/mpeg4v/texture.h"

#include "codec/mpeg4v/tables.h"

namespace mp4v {

bool ReadTcoefMpeg4(BitReader *br, int16_t *blk, int i, const uint8_t *scan, bool intra,
                    CoefList *list) {
    const TcoefEntry *lut = intra ? kTcoefIntraLut.data() : kTcoefInterLut.data();
    const auto &maxLevel = intra ? kIntraMaxLevel : kInterMaxLevel;
    const auto &maxRun = intra ? kIntraMaxRun : kInterMaxRun;
    for (;;) {
        TcoefEntry e = lut[br->Peek(kTcoefPeek)];
        if (e.len == 0) return false;
        br->Skip(e.len);
        int run, level, last;
        if (e.level != 0) {
            run = e.run;
            last = e.last;
            level = br->Bit() ? -int(e.level) : int(e.level);
        } else if (!br->Bit()) {
            // escape type 1: level offset
            TcoefEntry f = lut[br->Peek(kTcoefPeek)];
            if (f.len == 0 || f.level == 0) return false;
            br->Skip(f.len);
            run = f.run;
            last = f.last;
            level = f.level + maxLevel[last][run];
            if (br->Bit()) level = -level;
        } else if (!br->Bit()) {
            // escape type 2: run offset
            TcoefEntry f = lut[br->Peek(kTcoefPeek)];
            if (f.len == 0 || f.level == 0) return false;
            br->Skip(f.len);
            last = f.last;
            run = f.run + maxRun[last][f.level] + 1;
            level = f.level;
            if (br->Bit()) level = -level;
        } else {
            // escape type 3: fixed length
            last = int(br->Bit());
            run = int(br->Read(6));
            if (!br->Bit()) return false;
            level = int(br->Read(12));
            if (level & 0x800) level -= 0x1000;
            if (!br->Bit()) return false;
            if (level == 0) return false;
        }
        if (!PutTcoef(blk, &i, scan, run, level, list)) return false;
        if (last) return !br->over;
        if (i > 63) return false;
    }
}

bool ReadTcoefH263(BitReader *br, int16_t *blk, int i, const uint8_t *scan, CoefList *list) {
    const TcoefEntry *lut = kTcoefInterLut.data();
    for (;;) {
        TcoefEntry e = lut[br->Peek(kTcoefPeek)];
        if (e.len == 0) return false;
        br->Skip(e.len);
        int run, level, last;
        if (e.level != 0) {
            run = e.run;
            last = e.last;
            level = br->Bit() ? -int(e.level) : int(e.level);
        } else {
            last = int(br->Bit());
            run = int(br->Read(6));
            level = int(br->Read(8));
            if (level == 0 || level == 128) return false;
            if (level > 128) level -= 256;
        }
        if (!PutTcoef(blk, &i, scan, run, level, list)) return false;
        if (last) return !br->over;
        if (i > 63) return false;
    }
}

BlockShape DequantH263(int16_t *blk, const CoefList &list, int q, bool intra) {
    BlockShape s{0, 0};
    int qadd = (q & 1) ? q : q - 1;
    for (int k = 0; k < list.n; ++k) {
        int p = list.pos[k];
        if (intra && p == 0) continue;
        int l = blk[p];
        if (l == 0) continue;
        int v = l > 0 ? 2 * q * l + qadd : 2 * q * l - qadd;
        blk[p] = int16_t(Sat2048(v));
        AddShape(&s, p);
    }
    return s;
}

BlockShape DequantMpeg(int16_t *blk, const CoefList &list, int q, bool intra,
                       const uint8_t *matrix) {
    BlockShape s{0, 0};
    for (int k = 0; k < list.n; ++k) {
        int p = list.pos[k];
        if (intra && p == 0) continue;
        int l = blk[p];
        if (l == 0) continue;
        int a = l < 0 ? -l : l;
        int v = intra ? (a * matrix[p] * q) >> 3 : ((2 * a + 1) * matrix[p] * q) >> 4;
        blk[p] = int16_t(Sat2048(l < 0 ? -v : v));
        AddShape(&s, p);
    }
    return s;
}

}  // namespace mp4v
