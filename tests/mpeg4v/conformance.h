#pragma once
// Decoding a raw stream through our decoder and through Debian's ffmpeg, and comparing the two.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace mp4vtest {

struct Picture {
    std::vector<uint8_t> y;
    std::vector<uint8_t> uv;  // both chroma planes, cropped (ours only)
};

struct DecodeOptions {
    int deblock = 0;
    bool forceGeneral = false;  // progressive layers through the general decoders
};

// Decodes a raw elementary stream through the call interface: display order, cropped luma.
std::vector<Picture> DecodeOurs(const std::vector<uint8_t> &stream, bool shortHdr, int *width,
                                int *height, std::string *messages = nullptr, int deblock = 0);
std::vector<Picture> DecodeOursWith(const std::vector<uint8_t> &stream, bool shortHdr,
                                    const DecodeOptions &opt, int *width, int *height,
                                    std::string *messages = nullptr);

std::vector<Picture> DecodeFfmpeg(const std::filesystem::path &in, int w, int h);

double Psnr(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b);

// Same frame count, every frame's luma PSNR >= 40 dB, mean >= 50 dB (gtest expectations).
void CompareWithFfmpeg(const std::filesystem::path &raw, bool shortHdr);

// Makes a 12-frame stream from ffmpeg's testsrc2 with the given encoder arguments; false (and
// a gtest failure) when ffmpeg fails.
bool MakeStream(const std::filesystem::path &out, const std::string &size, const std::string &rate,
                const std::string &args, int frames = 12);

}  // namespace mp4vtest
