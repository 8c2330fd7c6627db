#include "tests/mpeg4v/rvlc_writer.h"

#include <cstdlib>

#include "codec/mpeg4v/rvlc.h"
#include "codec/mpeg4v/tables.h"
#include "tests/mpeg4v/stream_builder.h"

namespace mp4vtest {
namespace {

using mp4v::Vlc;

constexpr int kResolution = 25;  // vop_time_increment in 5 bits
constexpr int kIncrementBits = 5;

struct Code {
    uint32_t bits;
    int len;
};

// The code whose lookup entry carries `val` (the decoder's tables are indexed by peeked bits).
template <size_t N>
Code FindCode(const std::array<Vlc, N> &lut, int peek, int val) {
    for (size_t i = 0; i < N; ++i)
        if (lut[i].len && lut[i].val == val)
            return Code{uint32_t(i >> (peek - lut[i].len)), lut[i].len};
    std::abort();
}

int DcThreshold(int code) {
    static const int kThr[8] = {32, 13, 15, 17, 19, 21, 23, 0};
    return kThr[code & 7];
}

int CeilLog2(int v) {
    int n = 0;
    while ((1 << n) < v) ++n;
    return n < 1 ? 1 : n;
}

class PacketWriter {
public:
    PacketWriter(BitWriter *w, Layout layout) : m_w(w), m_layout(layout) {}

    void Mcbpc(bool isP, int type, int cbpc) {
        Code c = isP ? FindCode(mp4v::kMcbpcInterLut, 9, type << 2 | cbpc)
                     : FindCode(mp4v::kMcbpcIntraLut, 9, type << 2 | cbpc);
        m_w->Put(c.bits, c.len);
    }
    void Stuffing(bool isP, int n) {
        for (int i = 0; i < n; ++i) {
            if (isP) m_w->Put(0, 1);  // not_coded comes again after stuffing
            Code c = isP ? FindCode(mp4v::kMcbpcInterLut, 9, mp4v::kMcbpcStuffing)
                         : FindCode(mp4v::kMcbpcIntraLut, 9, mp4v::kMcbpcStuffing);
            m_w->Put(c.bits, c.len);
        }
    }
    void Cbpy(bool intra, int cbpy) {
        Code c = FindCode(mp4v::kCbpyLut, 6, intra ? cbpy : 15 - cbpy);
        m_w->Put(c.bits, c.len);
    }
    void Dquant(int dq) {
        static const int kDq[4] = {-1, -2, 1, 2};
        for (uint32_t i = 0; i < 4; ++i)
            if (kDq[i] == dq) m_w->Put(i, 2);
    }
    void Mvd(int d, int fcode) {
        if (d == 0) {
            Code c = FindCode(mp4v::kMvdLut, 12, 0);
            m_w->Put(c.bits, c.len);
            return;
        }
        int rsize = fcode - 1, a = std::abs(d) - 1;
        Code c = FindCode(mp4v::kMvdLut, 12, (a >> rsize) + 1);
        m_w->Put(c.bits, c.len);
        m_w->Put(d < 0 ? 1 : 0, 1);
        if (rsize) m_w->Put(uint32_t(a & ((1 << rsize) - 1)), rsize);
    }
    void Dc(int block, int v) {
        int a = std::abs(v), size = 0;
        while ((1 << size) <= a) ++size;
        Code c = block < 4 ? FindCode(mp4v::kDcSizeLumaLut, 12, size)
                           : FindCode(mp4v::kDcSizeChromaLut, 12, size);
        m_w->Put(c.bits, c.len);
        if (size == 0) return;
        m_w->Put(uint32_t(v > 0 ? v : v + (1 << size) - 1), size);
        if (size > 8) m_w->Put(1, 1);
    }
    // One block's events from scan index `start` on (the caller knows there is at least one).
    void Events(const int16_t *level, int start, bool intra) {
        int lastPos = -1;
        for (int i = start; i < 64; ++i)
            if (level[i]) lastPos = i;
        int run = 0;
        for (int i = start; i <= lastPos; ++i) {
            if (!level[i]) {
                ++run;
                continue;
            }
            Event(i == lastPos, run, level[i], intra);
            run = 0;
        }
    }
    void InvalidTexture() {
        if (m_layout == Layout::kPartitionedRvlc) {
            m_w->Put(0x4000, 15);  // 1 and fourteen 0s: longer than any code
            return;
        }
        const auto &lut = mp4v::kTcoefInterLut;
        for (size_t i = 0; i < lut.size(); ++i)
            if (lut[i].len == 0) {
                m_w->Put(uint32_t(i), mp4v::kTcoefPeek);
                return;
            }
    }

private:
    void Event(bool last, int run, int level, bool intra) {
        int a = std::abs(level);
        if (m_layout == Layout::kPartitionedRvlc) {
            for (const mp4v::RvlcCode &c : mp4v::kRvlcCodes) {
                bool hit = intra ? (c.intraLast == last && c.intraRun == run && c.intraLevel == a)
                                 : (c.interLast == last && c.interRun == run && c.interLevel == a);
                if (hit) {
                    m_w->Put(c.code, c.len);
                    m_w->Put(level < 0 ? 1 : 0, 1);
                    return;
                }
            }
            m_w->Put(0, 4);  // escape, then its s bit
            m_w->Put(1, 1);
            m_w->Put(last ? 1 : 0, 1);
            m_w->Put(uint32_t(run), 6);
            m_w->Put(1, 1);
            m_w->Put(uint32_t(a), 11);
            m_w->Put(1, 1);
            m_w->Put(0, 4);  // closing escape, its s bit is the sign
            m_w->Put(level < 0 ? 1 : 0, 1);
            return;
        }
        const auto &lut = intra ? mp4v::kTcoefIntraLut : mp4v::kTcoefInterLut;
        for (size_t i = 0; i < lut.size(); ++i) {
            const auto &e = lut[i];
            if (e.len && e.level == a && e.run == run && e.last == (last ? 1 : 0)) {
                m_w->Put(uint32_t(i >> (mp4v::kTcoefPeek - e.len)), e.len);
                m_w->Put(level < 0 ? 1 : 0, 1);
                return;
            }
        }
        // Escape of the fixed-length kind.
        for (size_t i = 0; i < lut.size(); ++i)
            if (lut[i].len && lut[i].level == 0) {
                m_w->Put(uint32_t(i >> (mp4v::kTcoefPeek - lut[i].len)), lut[i].len);
                break;
            }
        m_w->Put(3, 2);
        m_w->Put(last ? 1 : 0, 1);
        m_w->Put(uint32_t(run), 6);
        m_w->Put(1, 1);
        m_w->Put(uint32_t(level) & 0xFFF, 12);
        m_w->Put(1, 1);
    }

    BitWriter *m_w;
    Layout m_layout;
};

// Per macroblock, what its syntax needs besides the content.
struct Derived {
    int type;
    int cbp;  // bit 5 = block 0
    int q;
    bool dcVlc;
};

bool BlockHasEvents(const MbContent &m, int b, bool dcVlc) {
    int start = m.intra && dcVlc ? 1 : 0;
    if (m.intra && !dcVlc && m.dc[b]) return true;
    for (int i = start; i < 64; ++i)
        if ((!m.intra || i > 0) && m.level[b][i]) return true;
    return false;
}

void WriteBlockEvents(PacketWriter *pw, const MbContent &m, int b, bool dcVlc) {
    if (!m.intra) {
        pw->Events(m.level[b], 0, false);
        return;
    }
    int16_t lv[64];
    for (int i = 0; i < 64; ++i) lv[i] = m.level[b][i];
    lv[0] = int16_t(dcVlc ? 0 : m.dc[b]);
    pw->Events(lv, dcVlc ? 1 : 0, true);
}

}  // namespace

std::vector<uint8_t> WriteLayer(int width, int height, Layout layout,
                                const std::vector<PictureContent> &pictures, const Damage &damage) {
    BitWriter w;
    VolFields vol;
    vol.width = width;
    vol.height = height;
    vol.resolution = kResolution;
    vol.resyncMarkerDisable = 0;
    vol.dataPartitioned = layout != Layout::kCombined;
    vol.reversibleVlc = layout == Layout::kPartitionedRvlc;
    WriteVol(&w, vol);
    const int mbw = (width + 15) / 16, mbCount = mbw * ((height + 15) / 16);
    const int mbBits = CeilLog2(mbCount);
    PacketWriter pw(&w, layout);
    for (size_t p = 0; p < pictures.size(); ++p) {
        const PictureContent &pic = pictures[p];
        const bool isP = pic.type == 1;
        w.StartCode(0xB6);
        w.Put(uint32_t(pic.type), 2);
        w.Put(0, 1);  // modulo_time_base
        w.Put(1, 1);
        w.Put(uint32_t(p % kResolution), kIncrementBits);
        w.Put(1, 1);
        w.Put(1, 1);  // vop_coded
        if (isP) w.Put(uint32_t(pic.rounding), 1);
        w.Put(uint32_t(pic.dcThrCode), 3);
        w.Put(uint32_t(pic.quant), 5);
        if (isP) w.Put(uint32_t(pic.fcode), 3);
        const int thr = DcThreshold(pic.dcThrCode);

        // Syntax values of every macroblock, in decoding order.
        std::vector<Derived> der(pic.mbs.size());
        {
            int q = pic.quant;
            size_t packet = 0;
            for (size_t i = 0; i < pic.mbs.size(); ++i) {
                bool first = packet < pic.packetStarts.size() && int(i) == pic.packetStarts[packet];
                if (first) ++packet;
                const MbContent &m = pic.mbs[i];
                Derived &d = der[i];
                int qBefore = q;
                if (!m.notCoded && m.dquant)
                    q = q + m.dquant < 1 ? 1 : q + m.dquant > 31 ? 31 : q + m.dquant;
                d.q = q;
                d.dcVlc = m.intra && (first ? q : qBefore) < thr;
                d.type = m.intra ? (m.dquant ? 4 : 3) : m.four ? 2 : (m.dquant ? 1 : 0);
                d.cbp = 0;
                for (int b = 0; b < 6; ++b)
                    if (!m.notCoded && BlockHasEvents(m, b, d.dcVlc)) d.cbp |= 32 >> b;
            }
        }

        for (size_t k = 0; k < pic.packetStarts.size(); ++k) {
            const int begin = pic.packetStarts[k];
            const int end =
                k + 1 < pic.packetStarts.size() ? pic.packetStarts[k + 1] : int(pic.mbs.size());
            const bool damaged = int(p) == damage.picture && int(k) == damage.packet;
            if (k > 0) {
                w.Stuff();
                w.Put(1, isP ? 16 + pic.fcode : 17);
                w.Put(uint32_t(begin), mbBits);
                w.Put(uint32_t(begin > 0 ? (der[size_t(begin) - 1].q) : pic.quant), 5);
                w.Put(0, 1);  // header_extension_code
            }
            auto texture = [&](int i) -> bool {
                const MbContent &m = pic.mbs[size_t(i)];
                const Derived &d = der[size_t(i)];
                if (damaged && i == damage.cutTextureMb) return false;
                if (damaged && i == damage.badTextureMb) {
                    pw.InvalidTexture();
                    return true;
                }
                const size_t at = w.BitPos();
                for (int b = 0; b < 6; ++b) {
                    if (layout == Layout::kCombined && m.intra && d.dcVlc) pw.Dc(b, m.dc[b]);
                    if (d.cbp & (32 >> b)) WriteBlockEvents(&pw, m, b, d.dcVlc);
                }
                if (damaged)
                    for (int f : damage.flipTextureMbs)
                        if (f == i && at + size_t(damage.flipOffset) < w.BitPos())
                            w.FlipBit(at + size_t(damage.flipOffset));
                return true;
            };
            auto motion = [&](const MbContent &m) {
                for (int v = 0; v < (m.four ? 4 : 1); ++v) {
                    pw.Mvd(m.mvd[v][0], pic.fcode);
                    pw.Mvd(m.mvd[v][1], pic.fcode);
                }
            };
            if (layout == Layout::kCombined) {
                for (int i = begin; i < end; ++i) {
                    const MbContent &m = pic.mbs[size_t(i)];
                    const Derived &d = der[size_t(i)];
                    pw.Stuffing(isP, m.stuffing);
                    if (isP) w.Put(m.notCoded ? 1 : 0, 1);
                    if (m.notCoded) continue;
                    pw.Mcbpc(isP, d.type, d.cbp & 3);
                    if (m.intra) w.Put(m.acPred ? 1 : 0, 1);
                    pw.Cbpy(m.intra, d.cbp >> 2);
                    if (m.dquant) pw.Dquant(m.dquant);
                    if (!m.intra) motion(m);
                    texture(i);
                }
                continue;
            }
            // First partition.
            for (int i = begin; i < end; ++i) {
                const MbContent &m = pic.mbs[size_t(i)];
                const Derived &d = der[size_t(i)];
                pw.Stuffing(isP, m.stuffing);
                if (isP) {
                    w.Put(m.notCoded ? 1 : 0, 1);
                    if (m.notCoded) continue;
                    pw.Mcbpc(true, d.type, d.cbp & 3);
                    if (!m.intra) motion(m);
                } else {
                    pw.Mcbpc(false, d.type, d.cbp & 3);
                    if (m.dquant) pw.Dquant(m.dquant);
                    if (d.dcVlc)
                        for (int b = 0; b < 6; ++b) pw.Dc(b, m.dc[b]);
                }
            }
            uint32_t marker = isP ? 0x1F001 : 0x6B001;
            if (damaged && damage.breakMarker) marker ^= 1;
            w.Put(marker, isP ? 17 : 19);
            // Second partition: the remaining headers, then the texture.
            for (int i = begin; i < end; ++i) {
                const MbContent &m = pic.mbs[size_t(i)];
                const Derived &d = der[size_t(i)];
                if (m.notCoded) continue;
                if (m.intra) w.Put(m.acPred ? 1 : 0, 1);
                pw.Cbpy(m.intra, d.cbp >> 2);
                if (isP) {
                    if (m.dquant) pw.Dquant(m.dquant);
                    if (d.dcVlc)
                        for (int b = 0; b < 6; ++b) pw.Dc(b, m.dc[b]);
                }
            }
            for (int i = begin; i < end; ++i) {
                if (pic.mbs[size_t(i)].notCoded) continue;
                if (!texture(i)) return w.Bytes();
            }
        }
        w.Stuff();
    }
    return w.Bytes();
}

}  // namespace mp4vtest
