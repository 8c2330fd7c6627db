#pragma once
// Hand-made bitstreams and a small harness around the decoder's call interface for the tests.
#include <cstdint>
#include <string>
#include <vector>

#include "codec/mpeg4v/mpeg4v.h"

namespace mp4vtest {

class BitWriter {
public:
    void Put(uint32_t value, int bits);
    void StartCode(uint8_t code);  // byte-aligns with zero bits first
    void Stuff();                  // 14496-2 stuffing: 0 then 1s up to the byte boundary
    std::vector<uint8_t> Bytes() const;
    // Bits written so far, and damage to one of them.
    size_t BitPos() const { return m_bytes.size() * 8 - size_t(m_bit ? 8 - m_bit : 0); }
    void FlipBit(size_t pos) { m_bytes[pos >> 3] ^= uint8_t(0x80 >> (pos & 7)); }

private:
    std::vector<uint8_t> m_bytes;
    int m_bit = 0;
};

struct VolFields {
    int width = 16, height = 16;
    int resolution = 30000;
    int verid = 1;
    int obmcDisable = 1;
    int shape = 0;
    int spriteEnable = 0, warpingPoints = 0;
    int quantType = 0;
    int interlaced = 0;
    int resyncMarkerDisable = 1;
    int dataPartitioned = 0, reversibleVlc = 0;
};
void WriteVol(BitWriter *w, const VolFields &f);
// A VOP header up to vop_coded (not-coded VOPs end there).
void WriteNotCodedVop(BitWriter *w, int type, int modulo, int increment, int incrementBits);
// A short-header P picture of the given size whose macroblocks are all skipped.
std::vector<uint8_t> SkippedH263Picture(int tr, int sourceFormat, int mbCount);

// Owns the memory blocks and frame buffers of one decoder instance.
class Decoder {
public:
    Decoder() = default;
    ~Decoder();
    Decoder(const Decoder &) = delete;
    Decoder &operator=(const Decoder &) = delete;

    // Returns false when Mp4vDecInit refused; `messages` collects the diagnostics.
    bool Init(const std::vector<uint8_t> &config, int shortHdr, uint32_t maxW, uint32_t maxH,
              uint32_t buffers = 3, int deblock = 0, int lowDelay = 0);
    uint32_t Decode(const std::vector<uint8_t> &data, int frameEnd = 1, int resetStatus = 0);
    uint32_t Flush();

    Mp4vDecOutput out{};
    int32_t picInfo[2] = {-1, 0};
    int32_t isShort = -1;
    Mp4vDecInitResult initResult{};
    const Mp4vStreamInfo *Info() const;
    void *handle = nullptr;
    static std::string &Messages();

private:
    std::vector<std::vector<uint8_t>> m_blocks;
    std::vector<uint8_t> m_frames;
    Mp4vDecMemBlock m_mem[4]{};
};

// Splits a raw elementary stream into access units the way a container would deliver them.
std::vector<std::vector<uint8_t>> SplitUnits(const std::vector<uint8_t> &stream, bool shortHdr,
                                             std::vector<uint8_t> *config);

}  // namespace mp4vtest
