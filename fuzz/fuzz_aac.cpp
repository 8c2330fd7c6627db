// Fuzz target for the AAC decoder: the first byte picks the format, rate and options (with its top
// bit set, a second byte picks the SBR options), the rest is fed through probe and decode the way
// a player would (stream formats by iBytesUsed, raw format as access units, each after a 16-bit
// length). The AudioSpecificConfig parser gets the same bytes.
#include <cstdint>
#include <cstring>
#include <vector>

#include "codec/aac/aacdec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return 0;
    static const int kRates[] = {44100, 48000, 8000, 22050, 16000, 96000, 44000, 0};
    uint8_t sel = data[0];
    int format = sel & 3;  // 3 = raw with the access unit lengths inline
    int rate = kRates[(sel >> 2) & 7];
    bool lost = (sel & 0x20) != 0;
    bool mute = (sel & 0x40) != 0;
    data += 1;
    size -= 1;
    // SBR options: bit 0 iSbrOff, 1 iSbrDownsampled, 2 iMonoOut, 3-4 iPsMode.
    uint8_t sbr = 0;
    if (sel & 0x80) {
        sbr = data[0];
        data += 1;
        size -= 1;
    }

    AacDecConfig cfg;
    AacDecParseConfig(data, static_cast<int32_t>(size), &cfg);

    AacDecMemBlock mem[AACDEC_NUM_MEM_BLOCKS];
    AacDecQueryMem(mem);
    std::vector<std::vector<uint8_t>> blocks;
    for (auto &m : mem) {
        blocks.emplace_back(m.uSize);
        m.pMem = blocks.back().data();
    }
    AacDecParams params = {};
    params.iSampleRate = rate;
    params.iChannels = 2;
    params.iFormat = format == 3 ? AACDEC_FORMAT_RAW : format;
    params.iSbrDownsampled = (sbr >> 1) & 1;
    params.iMonoOut = (sbr >> 2) & 1;
    params.iPsMode = (sbr >> 3) & 3;
    AacDecHandle h = nullptr;
    if (AacDecInit(AACDEC_VERSION, &h, &params, mem) != 0) return 0;
    params.iMuteLeft = mute;
    params.iSbrOff = sbr & 1;
    std::vector<int16_t> pcm(4096);
    // An exact-size copy per call, so any read past the data is caught.
    size_t pos = 0;
    bool probed = false;
    for (int calls = 0; pos < size && calls < 400; ++calls) {
        size_t len = size - pos;
        if (format == 3) {
            if (size - pos < 2) break;
            size_t unit = (static_cast<size_t>(data[pos]) << 8) | data[pos + 1];
            pos += 2;
            len = unit < size - pos ? unit : size - pos;
            if (len == 0) continue;
        }
        std::vector<uint8_t> chunk(data + pos, data + pos + len);
        AacDecInBuf in = {static_cast<int32_t>(len), static_cast<int32_t>(len), chunk.data()};
        if (!probed) {
            AacDecProbe(h, &params, &in);
            probed = true;
        }
        params.iFrameLost = lost && (calls % 7 == 3);
        AacDecOutBuf out = {0, 8192, pcm.data()};
        AacDecDecode(h, &params, &in, &out);
        if (format == 3) {
            pos += len;
        } else {
            if (params.iBytesUsed <= 0) break;
            pos += static_cast<size_t>(params.iBytesUsed);
        }
    }
    AacDecReset(h);
    return 0;
}
