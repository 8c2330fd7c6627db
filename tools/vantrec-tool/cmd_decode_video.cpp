// decode-video INPUT OUT.yuv [--deblock] [--max-frames N]
// INPUT is an MP4 (first video track) or a raw MPEG-4 Part 2 / H.263 elementary stream. OUT gets
// every returned picture in display order, then the flushed one, as planar I420 cropped to the
// display size.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "codec/mpeg4v/mpeg4v.h"
#include "tools/vantrec-tool/command.h"
#include "tools/vantrec-tool/track_input.h"

namespace vt::tool {
namespace {

bool ReadFile(const char *path, std::vector<uint8_t> *out) {
    FILE *f = std::fopen(path, "rb");
    if (!f) return false;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out->insert(out->end(), buf, buf + n);
    std::fclose(f);
    return true;
}

bool IsStartCode(const std::vector<uint8_t> &b, size_t i) {
    return i + 3 < b.size() && b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1;
}

// Splits a raw MPEG-4 stream into access units: each holds the headers before one VOP and the
// VOP. Returns the bytes before the first VOP (the stream headers) in *config.
void SplitMpeg4(const std::vector<uint8_t> &b, std::vector<std::vector<uint8_t>> *units,
                std::vector<uint8_t> *config) {
    std::vector<size_t> codes;
    for (size_t i = 0; i + 3 < b.size(); ++i)
        if (IsStartCode(b, i)) codes.push_back(i);
    size_t unitStart = 0;
    bool haveVop = false;
    for (size_t k = 0; k < codes.size(); ++k) {
        size_t pos = codes[k];
        bool vop = b[pos + 3] == 0xB6;
        if (haveVop) {
            units->emplace_back(b.begin() + long(unitStart), b.begin() + long(pos));
            unitStart = pos;
            haveVop = false;
        }
        if (vop) {
            if (units->empty() && config->empty()) config->assign(b.begin(), b.begin() + long(pos));
            haveVop = true;
        }
    }
    if (unitStart < b.size()) units->emplace_back(b.begin() + long(unitStart), b.end());
}

// Splits a raw H.263 stream at its byte-aligned picture start codes.
void SplitH263(const std::vector<uint8_t> &b, std::vector<std::vector<uint8_t>> *units) {
    std::vector<size_t> starts;
    for (size_t i = 0; i + 2 < b.size(); ++i)
        if (b[i] == 0 && b[i + 1] == 0 && (b[i + 2] & 0xFC) == 0x80) starts.push_back(i);
    for (size_t k = 0; k < starts.size(); ++k) {
        size_t end = k + 1 < starts.size() ? starts[k + 1] : b.size();
        units->emplace_back(b.begin() + long(starts[k]), b.begin() + long(end));
    }
}

struct Writer {
    FILE *f = nullptr;
    int frames = 0;
    unsigned width = 0, height = 0;
    bool ok = true;
    std::vector<uint8_t> frame;  // one picture's planes, written at once

    void Put(const Mp4vDecOutput &o) {
        if (!o.pY) return;
        const size_t w = o.uWidth, h = o.uHeight, cw = (w + 1) / 2, ch = (h + 1) / 2;
        frame.resize(w * h + 2 * cw * ch);
        uint8_t *out = frame.data();
        for (size_t r = 0; r < h; ++r, out += w) std::memcpy(out, o.pY + r * o.uPitch, w);
        for (size_t r = 0; r < ch; ++r, out += cw) std::memcpy(out, o.pU + r * o.uPitch / 2, cw);
        for (size_t r = 0; r < ch; ++r, out += cw) std::memcpy(out, o.pV + r * o.uPitch / 2, cw);
        ok &= std::fwrite(frame.data(), 1, frame.size(), f) == frame.size();
        width = o.uWidth;
        height = o.uHeight;
        ++frames;
    }
};

void PrintLine(const char *text) { std::fputs(text, stderr); }

int DecodeVideo(int argc, char **argv) {
    if (argc < 3) return Fail("usage: decode-video INPUT OUT.yuv [--deblock] [--max-frames N]");
    const char *input = argv[1], *output = argv[2];
    bool deblock = HasFlag(argc, argv, "--deblock");
    long maxFrames = -1;
    if (const char *m = Option(argc, argv, "--max-frames")) maxFrames = std::strtol(m, nullptr, 10);

    std::vector<std::vector<uint8_t>> units;
    std::vector<uint8_t> config;
    int shortHdr = 0;
    unsigned maxW = 2048, maxH = 2048;
    TrackInfo info;
    std::vector<TrackSample> samples;
    std::string error;
    bool notContainer = false;
    if (ReadWholeTrack(input, kTrackVideo, &info, &samples, &error, &notContainer)) {
        for (auto &s : samples) units.push_back(std::move(s.data));
        config = info.config;
        std::string tag = CodecTagText(info.codec_tag);
        shortHdr = config.empty() ? (tag == "H263" || tag == "h263" || tag == "s263") : -1;
        if (info.width > 0 && info.height > 0) {
            maxW = (unsigned(info.width) + 15) & ~15u;
            maxH = (unsigned(info.height) + 15) & ~15u;
        }
    } else {
        std::vector<uint8_t> bytes;
        if (!ReadFile(input, &bytes)) return Fail(std::string("cannot read ") + input);
        bool mpeg4 = false, h263 = false;
        for (size_t i = 0; i + 3 < bytes.size() && !mpeg4; ++i)
            mpeg4 = IsStartCode(bytes, i) && bytes[i + 3] >= 0x20 && bytes[i + 3] <= 0x2F;
        for (size_t i = 0; i + 2 < bytes.size() && !mpeg4 && !h263; ++i)
            h263 = bytes[i] == 0 && bytes[i + 1] == 0 && (bytes[i + 2] & 0xFC) == 0x80;
        if (mpeg4) {
            SplitMpeg4(bytes, &units, &config);
        } else if (h263) {
            SplitH263(bytes, &units);
            shortHdr = 1;
        } else {
            return Fail("not an MP4, MPEG-4 or H.263 stream");
        }
    }

    constexpr uint32_t kBuffers = 3;
    size_t pitch = maxW, rows = maxH;
    size_t ySize = pitch * rows + 16, cSize = pitch / 2 * rows / 2 + 16;
    std::vector<uint8_t> frameMem(kBuffers * (ySize + 2 * cSize));
    Mp4vDecFrmBuffer bufs[kBuffers];
    for (uint32_t i = 0; i < kBuffers; ++i) {
        uint8_t *base = frameMem.data() + i * (ySize + 2 * cSize);
        bufs[i] = Mp4vDecFrmBuffer{base, base + ySize, base + ySize + cSize, 0};
    }
    Mp4vDecConfigInfo ci{};
    ci.pConfigData = config.empty() ? nullptr : config.data();
    ci.uConfigDataLen = uint32_t(config.size());
    ci.iIsShortHdrMode = shortHdr;
    ci.iDeblocking = deblock ? 1 : 0;
    ci.iLowDelay = 0;
    Mp4vDecConfig cfg{&ci, bufs, kBuffers, maxW, maxH, PrintLine};
    Mp4vDecMemBlock mem[4];
    Mp4vDecQueryMem(&cfg, mem);
    std::vector<std::vector<uint8_t>> blocks(4);
    for (int i = 0; i < 4; ++i) {
        blocks[i].resize(mem[i].uSize);
        mem[i].pBlock = blocks[i].data();
    }
    int32_t isShort = 0;
    Mp4vDecInitResult res{&isShort, 0, 0};
    void *dec = Mp4vDecInit(mem, &cfg, &res);
    if (!dec) return Fail("cannot initialise the video decoder");

    FILE *f = std::fopen(output, "wb");
    // Whole pictures go out in one write each; the stream's own buffer would split them.
    if (f) std::setvbuf(f, nullptr, _IONBF, 0);
    if (!f) return Fail(std::string("cannot write ") + output);
    Writer w;
    w.f = f;
    int32_t picInfo[2];
    for (const auto &u : units) {
        size_t off = 0;
        while (off < u.size() && (maxFrames < 0 || w.frames < maxFrames)) {
            Mp4vDecInput in{0, u.data() + off, uint32_t(u.size() - off), 1, 0, 0};
            Mp4vDecOutput out{};
            out.piPicInfo = picInfo;
            uint32_t used = Mp4vDecDecode(dec, &in, &out);
            w.Put(out);
            if (used == 0 || u.size() - off - used < 5) break;
            off += used;
        }
    }
    if (maxFrames < 0 || w.frames < maxFrames) {
        Mp4vDecInput in{};
        Mp4vDecOutput out{};
        out.piPicInfo = picInfo;
        Mp4vDecDecode(dec, &in, &out);
        w.Put(out);
        if (w.width == 0) {
            w.width = out.uWidth;
            w.height = out.uHeight;
        }
    }
    Mp4vDecRelease(dec, mem);
    bool closed = std::fclose(f) == 0;
    if (!w.ok || !closed) return Fail(std::string("cannot write ") + output);
    std::fprintf(stderr, "frames=%d width=%u height=%u\n", w.frames, w.width, w.height);
    return 0;
}

}  // namespace

VT_TOOL_COMMAND("decode-video", "INPUT OUT.yuv [--deblock] [--max-frames N]", DecodeVideo);

}  // namespace vt::tool
