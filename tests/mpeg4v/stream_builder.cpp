#include "tests/mpeg4v/stream_builder.h"

#include <cstring>

namespace mp4vtest {

void BitWriter::Put(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
        if (m_bit == 0) m_bytes.push_back(0);
        if (value >> i & 1) m_bytes.back() |= uint8_t(0x80 >> m_bit);
        m_bit = (m_bit + 1) & 7;
    }
}

void BitWriter::StartCode(uint8_t code) {
    if (m_bit) Put(0, 8 - m_bit);
    Put(0x000001, 24);
    Put(code, 8);
}

void BitWriter::Stuff() {
    Put(0, 1);
    while (m_bit) Put(1, 1);
}

std::vector<uint8_t> BitWriter::Bytes() const { return m_bytes; }

void WriteVol(BitWriter *w, const VolFields &f) {
    w->StartCode(0x00);
    w->StartCode(0x20);
    w->Put(0, 1);  // random_accessible_vol
    w->Put(1, 8);  // simple object
    if (f.verid != 1) {
        w->Put(1, 1);
        w->Put(uint32_t(f.verid), 4);
        w->Put(1, 3);
    } else {
        w->Put(0, 1);
    }
    w->Put(1, 4);  // square pixels
    w->Put(0, 1);  // vol_control_parameters
    w->Put(uint32_t(f.shape), 2);
    w->Put(1, 1);
    w->Put(uint32_t(f.resolution), 16);
    w->Put(1, 1);
    w->Put(0, 1);  // fixed_vop_rate
    w->Put(1, 1);
    w->Put(uint32_t(f.width), 13);
    w->Put(1, 1);
    w->Put(uint32_t(f.height), 13);
    w->Put(1, 1);
    w->Put(uint32_t(f.interlaced), 1);
    w->Put(uint32_t(f.obmcDisable), 1);
    w->Put(uint32_t(f.spriteEnable), f.verid == 1 ? 1 : 2);
    if (f.spriteEnable == 2) {
        w->Put(uint32_t(f.warpingPoints), 6);
        w->Put(0, 2);
        w->Put(0, 1);
    }
    w->Put(0, 1);  // not_8_bit
    w->Put(uint32_t(f.quantType), 1);
    if (f.quantType) w->Put(0, 2);   // default matrices
    if (f.verid != 1) w->Put(0, 1);  // quarter_sample
    w->Put(1, 1);                    // complexity_estimation_disable
    w->Put(uint32_t(f.resyncMarkerDisable), 1);
    w->Put(uint32_t(f.dataPartitioned), 1);
    if (f.dataPartitioned) w->Put(uint32_t(f.reversibleVlc), 1);
    if (f.verid != 1) w->Put(0, 2);  // newpred, reduced resolution
    w->Put(0, 1);                    // scalability
    w->Stuff();
}

void WriteNotCodedVop(BitWriter *w, int type, int modulo, int increment, int incrementBits) {
    w->StartCode(0xB6);
    w->Put(uint32_t(type), 2);
    for (int i = 0; i < modulo; ++i) w->Put(1, 1);
    w->Put(0, 1);
    w->Put(1, 1);
    w->Put(uint32_t(increment), incrementBits);
    w->Put(1, 1);
    w->Put(0, 1);  // vop_coded
    w->Stuff();
}

std::vector<uint8_t> SkippedH263Picture(int tr, int sourceFormat, int mbCount) {
    BitWriter w;
    w.Put(0x20, 22);
    w.Put(uint32_t(tr), 8);
    w.Put(0x10, 5);  // marker 1, zero bit, no split screen, document camera or freeze release
    w.Put(uint32_t(sourceFormat), 3);
    w.Put(1, 1);  // P picture
    w.Put(0, 4);
    w.Put(5, 5);                                    // PQUANT
    w.Put(0, 1);                                    // CPM
    w.Put(0, 1);                                    // PEI
    for (int i = 0; i < mbCount; ++i) w.Put(1, 1);  // COD: not coded
    w.Put(0, 16);
    return w.Bytes();
}

std::string &Decoder::Messages() {
    static std::string text;
    return text;
}

namespace {
void Collect(const char *text) { Decoder::Messages() += text; }
}  // namespace

Decoder::~Decoder() {
    if (handle) {
        Mp4vDecMemBlock back[4];
        Mp4vDecRelease(handle, back);
    }
}

bool Decoder::Init(const std::vector<uint8_t> &config, int shortHdr, uint32_t maxW, uint32_t maxH,
                   uint32_t buffers, int deblock, int lowDelay) {
    Messages().clear();
    size_t pitch = (maxW + 15) & ~15u, rows = (maxH + 15) & ~15u;
    size_t y = pitch * rows + 16, c = pitch / 2 * rows / 2 + 16;
    m_frames.assign(buffers * (y + 2 * c), 0);
    std::vector<Mp4vDecFrmBuffer> bufs(buffers);
    for (uint32_t i = 0; i < buffers; ++i) {
        uint8_t *base = m_frames.data() + i * (y + 2 * c);
        bufs[i] = Mp4vDecFrmBuffer{base, base + y, base + y + c, 0};
    }
    static Mp4vDecConfigInfo ci;
    ci = Mp4vDecConfigInfo{};
    ci.pConfigData = config.empty() ? nullptr : config.data();
    ci.uConfigDataLen = uint32_t(config.size());
    ci.iIsShortHdrMode = shortHdr;
    ci.iDeblocking = deblock;
    ci.iLowDelay = lowDelay;
    Mp4vDecConfig cfg{&ci, bufs.data(), buffers, maxW, maxH, Collect};
    Mp4vDecQueryMem(&cfg, m_mem);
    m_blocks.assign(4, {});
    for (int i = 0; i < 4; ++i) {
        m_blocks[i].assign(m_mem[i].uSize, 0xA5);
        m_mem[i].pBlock = m_blocks[i].data();
    }
    initResult = Mp4vDecInitResult{&isShort, -1, -1};
    handle = Mp4vDecInit(m_mem, &cfg, &initResult);
    return handle != nullptr;
}

uint32_t Decoder::Decode(const std::vector<uint8_t> &data, int frameEnd, int resetStatus) {
    Mp4vDecInput in{0, data.data(), uint32_t(data.size()), frameEnd, 0, resetStatus};
    out = Mp4vDecOutput{};
    out.piPicInfo = picInfo;
    return Mp4vDecDecode(handle, &in, &out);
}

uint32_t Decoder::Flush() {
    Mp4vDecInput in{};
    out = Mp4vDecOutput{};
    out.piPicInfo = picInfo;
    return Mp4vDecDecode(handle, &in, &out);
}

const Mp4vStreamInfo *Decoder::Info() const {
    uintptr_t p = reinterpret_cast<uintptr_t>(m_blocks[3].data());
    return reinterpret_cast<const Mp4vStreamInfo *>((p + 7) & ~uintptr_t(7));
}

std::vector<std::vector<uint8_t>> SplitUnits(const std::vector<uint8_t> &b, bool shortHdr,
                                             std::vector<uint8_t> *config) {
    std::vector<std::vector<uint8_t>> units;
    std::vector<size_t> cuts;
    if (shortHdr) {
        for (size_t i = 0; i + 2 < b.size(); ++i)
            if (b[i] == 0 && b[i + 1] == 0 && (b[i + 2] & 0xFC) == 0x80) cuts.push_back(i);
    } else {
        // A unit runs from the first start code after the previous VOP to the next one.
        bool afterVop = true;
        for (size_t i = 0; i + 3 < b.size(); ++i) {
            if (b[i] || b[i + 1] || b[i + 2] != 1) continue;
            if (afterVop) cuts.push_back(i);
            afterVop = b[i + 3] == 0xB6;
            if (afterVop && config && config->empty() && cuts.size() == 1)
                config->assign(b.begin(), b.begin() + long(i));
        }
    }
    for (size_t k = 0; k < cuts.size(); ++k) {
        size_t end = k + 1 < cuts.size() ? cuts[k + 1] : b.size();
        units.emplace_back(b.begin() + long(cuts[k]), b.begin() + long(end));
    }
    return units;
}

}  // namespace mp4vtest
