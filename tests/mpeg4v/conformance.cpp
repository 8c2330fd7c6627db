// Shared by the conformance suites: our decoder and ffmpeg over the same raw stream.
#include "tests/mpeg4v/conformance.h"

#include <gtest/gtest.h>

#include <cmath>

#include "codec/mpeg4v/internal.h"
#include "tests/common/testutil.h"
#include "tests/mpeg4v/stream_builder.h"

namespace mp4vtest {

namespace fs = std::filesystem;
using vt::test::Quote;

// Decodes a raw elementary stream through the call interface, display order, cropped luma.
std::vector<Picture> DecodeOursWith(const std::vector<uint8_t> &stream, bool shortHdr,
                                    const DecodeOptions &opt, int *width, int *height,
                                    std::string *messages) {
    std::vector<uint8_t> config;
    auto units = mp4vtest::SplitUnits(stream, shortHdr, &config);
    mp4vtest::Decoder d;
    std::vector<Picture> pics;
    if (!d.Init(config, shortHdr ? 1 : (config.empty() ? 0 : -1), 2048, 2048, 3, opt.deblock))
        return pics;
    if (opt.forceGeneral) static_cast<mp4v::Instance *>(d.handle)->forceGeneral = 1;
    auto take = [&]() {
        if (!d.out.pY) return;
        Picture p;
        *width = int(d.out.uWidth);
        *height = int(d.out.uHeight);
        for (uint32_t r = 0; r < d.out.uHeight; ++r)
            p.y.insert(p.y.end(), d.out.pY + r * d.out.uPitch,
                       d.out.pY + r * d.out.uPitch + d.out.uWidth);
        uint32_t cw = (d.out.uWidth + 1) / 2, ch = (d.out.uHeight + 1) / 2, cp = d.out.uPitch / 2;
        for (const uint8_t *plane : {d.out.pU, d.out.pV})
            for (uint32_t r = 0; r < ch; ++r)
                p.uv.insert(p.uv.end(), plane + r * cp, plane + r * cp + cw);
        pics.push_back(std::move(p));
    };
    for (const auto &u : units) {
        size_t off = 0;
        while (off < u.size()) {
            std::vector<uint8_t> rest(u.begin() + long(off), u.end());
            uint32_t used = d.Decode(rest);
            take();
            if (used == 0 || rest.size() - used < 5) break;
            off += used;
        }
    }
    d.Flush();
    take();
    if (messages) *messages = mp4vtest::Decoder::Messages();
    return pics;
}

std::vector<Picture> DecodeFfmpeg(const fs::path &in, int w, int h) {
    vt::test::TempDir tmp;
    fs::path out = tmp / "ref.yuv";
    // One decoding thread: with frame threads ffmpeg's interlaced direct mode reads field
    // vectors of whichever reference its thread saw last, and its output varies.
    std::string cmd = "ffmpeg -nostdin -v error -y -threads 1 -i " + Quote(in.string()) +
                      " -fps_mode passthrough -f rawvideo -pix_fmt yuv420p " + Quote(out.string());
    std::vector<Picture> pics;
    if (vt::test::Run(cmd) != 0) return pics;
    auto bytes = vt::test::ReadFileBytes(out);
    size_t frame = size_t(w) * h + 2 * size_t((w + 1) / 2) * ((h + 1) / 2);
    for (size_t off = 0; off + frame <= bytes.size(); off += frame)
        pics.push_back(Picture{
            std::vector<uint8_t>(bytes.begin() + long(off), bytes.begin() + long(off) + w * h),
            {}});
    return pics;
}

double Psnr(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b) {
    double se = 0;
    for (size_t i = 0; i < a.size(); ++i) se += double(a[i] - b[i]) * (a[i] - b[i]);
    if (se == 0) return 99.0;
    return 10 * std::log10(255.0 * 255.0 * double(a.size()) / se);
}

void CompareWithFfmpeg(const fs::path &raw, bool shortHdr) {
    int w = 0, h = 0;
    auto ours = DecodeOurs(vt::test::ReadFileBytes(raw), shortHdr, &w, &h);
    ASSERT_FALSE(ours.empty());
    auto ref = DecodeFfmpeg(raw, w, h);
    ASSERT_EQ(ours.size(), ref.size());
    double sum = 0;
    for (size_t i = 0; i < ours.size(); ++i) {
        double p = Psnr(ours[i].y, ref[i].y);
        EXPECT_GE(p, 40.0) << "frame " << i;
        sum += p;
    }
    EXPECT_GE(sum / double(ours.size()), 50.0);
}

std::vector<Picture> DecodeOurs(const std::vector<uint8_t> &stream, bool shortHdr, int *width,
                                int *height, std::string *messages, int deblock) {
    DecodeOptions opt;
    opt.deblock = deblock;
    return DecodeOursWith(stream, shortHdr, opt, width, height, messages);
}

bool MakeStream(const fs::path &out, const std::string &size, const std::string &rate,
                const std::string &args, int frames) {
    std::string cmd = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=" + size +
                      ":rate=" + rate + " -frames:v " + std::to_string(frames) + " -threads 1 " +
                      args + " -f m4v " + Quote(out.string());
    int rc = vt::test::Run(cmd);
    EXPECT_EQ(rc, 0) << cmd;
    return rc == 0;
}

}  // namespace mp4vtest
