// decode-audio INPUT OUT.wav: decodes the first audio track of an MP4, or an ADTS or ADIF file,
// into a 16-bit PCM WAV at the decoder's output rate and channel count.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "codec/aac/aacdec.h"
#include "tools/vantrec-tool/command.h"
#include "tools/vantrec-tool/track_input.h"

namespace vt::tool {
namespace {

bool ReadFile(const char *path, std::vector<uint8_t> *out) {
    FILE *f = std::fopen(path, "rb");
    if (!f) return false;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0) out->insert(out->end(), buf, buf + n);
    std::fclose(f);
    return true;
}

void Put16(std::vector<uint8_t> *v, uint32_t x) {
    v->push_back(static_cast<uint8_t>(x));
    v->push_back(static_cast<uint8_t>(x >> 8));
}
void Put32(std::vector<uint8_t> *v, uint32_t x) {
    Put16(v, x & 0xFFFF);
    Put16(v, x >> 16);
}

bool WriteWav(const char *path, int rate, int channels, const std::vector<int16_t> &pcm) {
    std::vector<uint8_t> h;
    uint32_t data_bytes = static_cast<uint32_t>(pcm.size() * 2);
    h.insert(h.end(), {'R', 'I', 'F', 'F'});
    Put32(&h, 36 + data_bytes);
    h.insert(h.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    Put32(&h, 16);
    Put16(&h, 1);
    Put16(&h, static_cast<uint32_t>(channels));
    Put32(&h, static_cast<uint32_t>(rate));
    Put32(&h, static_cast<uint32_t>(rate * channels * 2));
    Put16(&h, static_cast<uint32_t>(channels * 2));
    Put16(&h, 16);
    h.insert(h.end(), {'d', 'a', 't', 'a'});
    Put32(&h, data_bytes);
    FILE *f = std::fopen(path, "wb");
    if (!f) return false;
    bool ok = std::fwrite(h.data(), 1, h.size(), f) == h.size();
    if (!pcm.empty()) ok = ok && std::fwrite(pcm.data(), 2, pcm.size(), f) == pcm.size();
    return std::fclose(f) == 0 && ok;
}

bool IsFatal(int32_t code) {
    return code == AACDEC_ERR_FATAL || (code > 0 && code < 4101) ||
           code == AACDEC_ERR_FRAME_LENGTH || code < -1;
}

struct Decoder {
    std::vector<std::vector<uint8_t>> blocks;
    AacDecMemBlock mem[AACDEC_NUM_MEM_BLOCKS] = {};
    AacDecHandle handle = nullptr;
    AacDecParams params = {};
    std::vector<int16_t> out = std::vector<int16_t>(4096);
    std::vector<int16_t> pcm;  // interleaved
    int channels = 0, rate = 0, frames = 0, sbr = 0, ps = 0;
    bool probed = false;

    bool Init(int rate_in, int channels_in, int format) {
        AacDecQueryMem(mem);
        for (auto &m : mem) {
            blocks.emplace_back(m.uSize + 8);
            uintptr_t p = (reinterpret_cast<uintptr_t>(blocks.back().data()) + 7) & ~uintptr_t{7};
            m.pMem = reinterpret_cast<void *>(p);
        }
        params.iSampleRate = rate_in;
        params.iChannels = channels_in;
        params.iFormat = format;
        return AacDecInit(AACDEC_VERSION, &handle, &params, mem) == 0;
    }

    // Feeds one chunk; returns the decoder code and the bytes it used.
    int32_t Feed(const uint8_t *data, int32_t len, int32_t *used) {
        AacDecInBuf in = {len, len, data};
        if (!probed) {
            int32_t e = AacDecProbe(handle, &params, &in);
            if (IsFatal(e)) {
                *used = params.iBytesUsed;
                return e;
            }
            probed = true;
        }
        AacDecOutBuf ob = {0, static_cast<int32_t>(out.size() * 2), out.data()};
        int32_t e = AacDecDecode(handle, &params, &in, &ob);
        *used = params.iBytesUsed;
        if (IsFatal(e)) return e;
        ++frames;
        if (!channels) {
            channels = params.iChannels;
            rate = params.iSampleRate;
        }
        sbr = params.iSbrPresent;
        ps = params.iPsPresent;
        int got_ch = params.iChannels > 0 ? params.iChannels : 1;
        const int n = ob.iBytesWritten / (2 * got_ch);
        // Interleave the decoder's channel planes; a channel the frame lacks repeats its last one.
        const size_t at = pcm.size();
        pcm.resize(at + static_cast<size_t>(n) * static_cast<size_t>(channels));
        for (int c = 0; c < channels; ++c) {
            const int16_t *plane = out.data() + (c < got_ch ? c : got_ch - 1) * AACDEC_CH1_OFFSET;
            int16_t *dst = pcm.data() + at + c;
            for (int i = 0; i < n; ++i) dst[static_cast<size_t>(i) * channels] = plane[i];
        }
        return e;
    }
};

int DecodeAudio(int argc, char **argv) {
    if (argc < 3) return Fail("usage: decode-audio INPUT OUT.wav");
    const char *input = argv[1];
    const char *output = argv[2];
    Decoder dec;
    TrackInfo info;
    std::vector<TrackSample> samples;
    std::string error;
    bool not_container = false;
    if (ReadWholeTrack(input, kTrackAudio, &info, &samples, &error, &not_container)) {
        AacDecConfig cfg = {};
        int rate = info.sample_rate, channels = info.channels;
        int frame_length = 1024;
        if (!info.config.empty() &&
            AacDecParseConfig(info.config.data(), static_cast<int32_t>(info.config.size()), &cfg) ==
                0) {
            rate = cfg.iSampleRate;
            if (cfg.iChannels) channels = cfg.iChannels;
            frame_length = cfg.iFrameLength;
            // An SBR output rate signalled equal to the core's asks for downsampled SBR; a
            // configuration that says PS is absent keeps a mono core mono.
            if (cfg.iSbrSignalled == 1 && cfg.iExtSampleRate > 0 &&
                cfg.iExtSampleRate <= cfg.iSampleRate)
                dec.params.iSbrDownsampled = 1;
            if (cfg.iPsSignalled == 0) dec.params.iPsMode = 1;
        }
        if (!dec.Init(rate, channels, AACDEC_FORMAT_RAW))
            return Fail("cannot start the AAC decoder");
        AacDecSetFrameLength(dec.handle, frame_length);
        if (!info.config.empty())
            AacDecApplyConfig(dec.handle, info.config.data(),
                              static_cast<int32_t>(info.config.size()));
        // Room for stereo output of every frame at once (SBR doubles it, once).
        dec.pcm.reserve(samples.size() * static_cast<size_t>(frame_length) * 2);
        int32_t last = 0;
        for (const TrackSample &s : samples) {
            if (s.data.empty()) continue;
            int32_t used = 0;
            last = dec.Feed(s.data.data(), static_cast<int32_t>(s.data.size()), &used);
            if (last == AACDEC_ERR_FRAME_LENGTH) break;
        }
        if (dec.frames == 0)
            return Fail("no audio frame decoded (decoder code " + std::to_string(last) + ")");
    } else {
        if (!not_container) return Fail(error);
        std::vector<uint8_t> data;
        if (!ReadFile(input, &data)) return Fail(std::string("cannot read ") + input);
        if (data.empty()) return Fail("empty input");
        int format = data.size() >= 4 && std::memcmp(data.data(), "ADIF", 4) == 0
                         ? AACDEC_FORMAT_ADIF
                         : AACDEC_FORMAT_ADTS;
        if (!dec.Init(0, 0, format)) return Fail("cannot start the AAC decoder");
        size_t pos = 0;
        int32_t last = 0;
        while (pos < data.size()) {
            int32_t used = 0;
            size_t left = data.size() - pos;
            int32_t len = left > (1u << 20) ? (1 << 20) : static_cast<int32_t>(left);
            last = dec.Feed(data.data() + pos, len, &used);
            if (used <= 0) break;
            pos += static_cast<size_t>(used);
        }
        if (dec.frames == 0)
            return Fail("no audio frame decoded (decoder code " + std::to_string(last) + ")");
    }
    if (!WriteWav(output, dec.rate, dec.channels, dec.pcm))
        return Fail(std::string("cannot write ") + output);
    std::fprintf(stderr, "frames=%d rate=%d channels=%d sbr=%d ps=%d\n", dec.frames, dec.rate,
                 dec.channels, dec.sbr, dec.ps);
    return 0;
}

}  // namespace

VT_TOOL_COMMAND("decode-audio", "decode-audio INPUT OUT.wav", DecodeAudio);

}  // namespace vt::tool
