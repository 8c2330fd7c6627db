#pragma once
// Shared helpers of the AAC suites: running the decoder over a whole stream through its call
// interface, reference decoding with ffmpeg, and the comparisons.
#include <cstdint>
#include <string>
#include <vector>

#include "codec/aac/aacdec.h"

namespace aactest {

// One decoder instance in heap blocks.
class Decoder {
public:
    explicit Decoder(int format, int rate = 0, int channels = 0);
    AacDecHandle handle() const { return m_handle; }
    AacDecParams &params() { return m_params; }
    int32_t init_result() const { return m_init; }

private:
    std::vector<std::vector<uint8_t>> m_blocks;
    AacDecMemBlock m_mem[AACDEC_NUM_MEM_BLOCKS] = {};
    AacDecHandle m_handle = nullptr;
    AacDecParams m_params = {};
    int32_t m_init = -1;
};

struct Decoded {
    std::vector<int16_t> pcm;  // interleaved
    int channels = 0;
    int rate = 0;
    int frames = 0;
    std::vector<int32_t> codes;  // result of every decode call
};

// Decodes a whole ADTS/ADIF byte stream the way a file player would: probe, then decode and move
// on by iBytesUsed until the input is used up.
Decoded DecodeStream(const std::vector<uint8_t> &data, int format);
// Decodes raw access units (one per call).
Decoded DecodeUnits(const std::vector<std::vector<uint8_t>> &units, int rate, int channels);
// Splits an ADTS stream into its raw data blocks (headers and CRC removed).
std::vector<std::vector<uint8_t>> SplitAdts(const std::vector<uint8_t> &adts, int *rate,
                                            int *channels);

// ffmpeg's decode of FILE as interleaved 16-bit PCM; empty when ffmpeg is missing or fails. With
// stereo, ffmpeg downmixes a multichannel stream to two channels (its default matrix is the
// standard's with surround gain 1/sqrt(2)).
std::vector<int16_t> ReferenceDecode(const std::string &file, int *channels, bool stereo = false);

struct Comparison {
    int max_diff = 0;
    double snr_db = 0;
    double rms = 0;
    size_t compared = 0;
    int offset_frames = 0;
};
// Best alignment of ours against the reference within a few frames (the reference keeps the
// first frame, which we drop, and some encoders' priming makes it drop one itself).
Comparison Compare(const std::vector<int16_t> &ours, const std::vector<int16_t> &ref, int channels,
                   int ref_channels = -1, int ref_channel = -1);
// Per-band energies (dB) of channel c, in bands a third of an octave wide from 100 Hz.
std::vector<double> BandEnergiesDb(const std::vector<int16_t> &pcm, int channels, int c, int rate);

}  // namespace aactest
