// ADTS frames that carry several raw data blocks, and streams of more than two channels, both made
// from ffmpeg's encoder output in the test set-up.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "tests/aac/aac_test_util.h"
#include "tests/common/testutil.h"

using namespace aactest;
namespace fs = std::filesystem;

namespace {

// A tone per channel; layout names ffmpeg's channel layout when it is not the default for the count.
// No noise substitution: its random noise differs between decoders.
std::vector<uint8_t> Encode(vt::test::TempDir &tmp, int channels, int rate, int kbps,
                            const std::string &layout = "") {
    fs::path out = tmp / ("enc" + std::to_string(channels) + layout + ".aac");
    std::string src;
    const char *tones[] = {"0.3*sin(2*PI*440*t)",  "0.25*sin(2*PI*660*t)", "0.2*sin(2*PI*1000*t)",
                           "0.05*sin(2*PI*60*t)",  "0.2*sin(2*PI*1500*t)", "0.15*sin(2*PI*2200*t)",
                           "0.1*sin(2*PI*3100*t)", "0.1*sin(2*PI*350*t)"};
    for (int c = 0; c < channels; ++c) src += std::string(c ? "|" : "") + tones[c % 8];
    std::string cmd = "ffmpeg -v error -y -f lavfi -i \"aevalsrc='" + src +
                      "':s=" + std::to_string(rate) + ":d=2\"" +
                      (layout.empty() ? "" : " -af channelmap=channel_layout=" + layout) +
                      " -c:a aac -aac_pns 0 -b:a " + std::to_string(kbps) + "k -f adts " +
                      vt::test::Quote(out.string());
    if (vt::test::Run(cmd) != 0) return {};
    return vt::test::ReadFileBytes(out);
}

struct AdtsFrame {
    std::vector<uint8_t> header;  // the first 7 bytes
    std::vector<uint8_t> block;   // the raw data block
};

std::vector<AdtsFrame> Frames(const std::vector<uint8_t> &adts) {
    std::vector<AdtsFrame> frames;
    size_t pos = 0;
    while (pos + 7 <= adts.size()) {
        const uint8_t *p = adts.data() + pos;
        size_t len = ((p[3] & 3u) << 11) | (p[4] << 3) | (p[5] >> 5);
        if (len < 7 || pos + len > adts.size() || (p[1] & 1) == 0 || (p[6] & 3) != 0) break;
        frames.push_back({std::vector<uint8_t>(p, p + 7), std::vector<uint8_t>(p + 7, p + len)});
        pos += len;
    }
    return frames;
}

// Regroups single-block frames into frames of `blocks` raw data blocks each. With crc the frames
// are protected: the header carries the block positions and a CRC word, and each block is
// followed by its own CRC word (placeholders: the decoder does not check the words of
// several-block frames). A one-block frame left over at the end stays unprotected.
std::vector<uint8_t> Regroup(const std::vector<AdtsFrame> &frames, int blocks, bool crc) {
    std::vector<uint8_t> out;
    for (size_t f = 0; f < frames.size(); f += static_cast<size_t>(blocks)) {
        const size_t n = std::min(frames.size() - f, static_cast<size_t>(blocks));
        std::vector<uint8_t> body, positions;
        for (size_t b = 0; b < n; ++b) {
            if (b) {
                positions.push_back(static_cast<uint8_t>(body.size() >> 8));
                positions.push_back(static_cast<uint8_t>(body.size()));
            }
            body.insert(body.end(), frames[f + b].block.begin(), frames[f + b].block.end());
            if (crc && n > 1) body.insert(body.end(), {0x5A, 0xA5});
        }
        std::vector<uint8_t> h = frames[f].header;
        if (crc && n > 1) {
            h[1] &= 0xFE;  // protection_absent 0
            h.insert(h.end(), positions.begin(), positions.end());
            h.insert(h.end(), {0x12, 0x34});
        }
        const size_t len = h.size() + body.size();
        h[3] = static_cast<uint8_t>((h[3] & ~3) | ((len >> 11) & 3));
        h[4] = static_cast<uint8_t>(len >> 3);
        h[5] = static_cast<uint8_t>((h[5] & 0x1F) | ((len & 7) << 5));
        h[6] = static_cast<uint8_t>((h[6] & ~3) | (n - 1));
        out.insert(out.end(), h.begin(), h.end());
        out.insert(out.end(), body.begin(), body.end());
    }
    return out;
}

// Every block of a several-block frame is decoded, in order, exactly as the same blocks in frames
// of their own: 1 to 4 blocks per frame, mono and stereo, with and without the protected layout.
TEST(AdtsBlocks, EveryRawDataBlockOfAFrameIsDecoded) {
    if (!vt::test::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    vt::test::TempDir tmp;
    for (int channels : {1, 2}) {
        auto single = Encode(tmp, channels, 44100, 96 * channels);
        auto frames = Frames(single);
        ASSERT_GT(frames.size(), 40u);
        Decoded want = DecodeStream(single, AACDEC_FORMAT_ADTS);
        ASSERT_EQ(want.channels, channels);
        for (int blocks = 2; blocks <= 4; ++blocks)
            for (bool crc : {false, true}) {
                SCOPED_TRACE(std::to_string(channels) + " channels, " + std::to_string(blocks) +
                             " blocks" + (crc ? ", protected" : ""));
                Decoded got = DecodeStream(Regroup(frames, blocks, crc), AACDEC_FORMAT_ADTS);
                EXPECT_EQ(got.frames, want.frames);
                for (int32_t code : got.codes) EXPECT_EQ(code, 0);
                EXPECT_EQ(got.channels, channels);
                EXPECT_TRUE(got.pcm == want.pcm)
                    << got.pcm.size() << " samples, want " << want.pcm.size();
            }
    }
}

// A caller that jumps from the middle of a several-block frame to the next header loses the rest
// of that frame only.
TEST(AdtsBlocks, AHeaderInPlaceOfTheNextBlockStartsAFreshFrame) {
    if (!vt::test::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    vt::test::TempDir tmp;
    auto frames = Frames(Encode(tmp, 2, 44100, 128));
    ASSERT_GT(frames.size(), 12u);
    auto grouped = Regroup(frames, 3, false);
    Decoder dec(AACDEC_FORMAT_ADTS);
    std::vector<int16_t> out(4096);
    AacDecInBuf in = {static_cast<int32_t>(grouped.size()), static_cast<int32_t>(grouped.size()),
                      grouped.data()};
    AacDecOutBuf ob = {0, 8192, out.data()};
    ASSERT_EQ(AacDecDecode(dec.handle(), &dec.params(), &in, &ob), 0);  // block 1 of frame 1
    const int32_t first_block = dec.params().iBytesUsed;
    const size_t frame_len = ((grouped[3] & 3u) << 11) | (grouped[4] << 3) | (grouped[5] >> 5);
    ASSERT_LT(static_cast<size_t>(first_block), frame_len);
    // Skip blocks 2 and 3: the next call sees the second frame's header.
    in.pData = grouped.data() + frame_len;
    in.iDataLen = in.iBufLen = static_cast<int32_t>(grouped.size() - frame_len);
    ASSERT_EQ(AacDecDecode(dec.handle(), &dec.params(), &in, &ob), 0);
    EXPECT_EQ(ob.iBytesWritten, 2 * 1024 * 2);
    EXPECT_LT(dec.params().iBytesUsed, static_cast<int32_t>(frame_len));
    EXPECT_GT(dec.params().iBytesUsed, 7);
}

// ---- more than two channels: the stereo downmix ----

struct Layout {
    const char *name;
    int channels;
};

class Downmix : public testing::TestWithParam<Layout> {};

// ffmpeg's own downmix of these layouts applies the standard's matrix with surround gain 1/sqrt(2)
// (a mono surround at half gain, the LFE left out), so ours must agree to a few LSB, in ADTS and
// as raw access units with the channel count an MP4 announces.
TEST_P(Downmix, MatchesTheReferenceStereoMix) {
    if (!vt::test::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    const Layout &l = GetParam();
    vt::test::TempDir tmp;
    auto bytes = Encode(tmp, l.channels, 48000, 64 * l.channels, l.name);
    ASSERT_FALSE(bytes.empty());
    fs::path file = tmp / "in.aac";
    ASSERT_TRUE(vt::test::WriteFileBytes(file, bytes));
    int ref_ch = 0;
    auto ref = ReferenceDecode(file.string(), &ref_ch, true);
    ASSERT_FALSE(ref.empty());

    Decoded ours = DecodeStream(bytes, AACDEC_FORMAT_ADTS);
    ASSERT_EQ(ours.channels, 2);
    EXPECT_EQ(ours.rate, 48000);
    for (int32_t code : ours.codes) EXPECT_EQ(code, 0);
    Comparison c = Compare(ours.pcm, ref, 2, 2);
    ASSERT_GT(c.compared, 48000u);
    EXPECT_LE(c.max_diff, 2);
    EXPECT_GE(c.snr_db, 85.0);

    int rate = 0, channels = 0;
    auto units = SplitAdts(bytes, &rate, &channels);
    Decoded raw = DecodeUnits(units, rate, l.channels);
    EXPECT_EQ(raw.channels, 2);
    EXPECT_EQ(raw.pcm, ours.pcm);
}

INSTANTIATE_TEST_SUITE_P(Aac, Downmix,
                         testing::Values(Layout{"3.0", 3}, Layout{"4.0", 4}, Layout{"5.0", 5},
                                         Layout{"5.1", 6}),
                         [](const testing::TestParamInfo<Layout> &i) {
                             return std::string("ch") + std::to_string(i.param.channels);
                         });

// A program configuration that asks for the matrix-mixdown gain A = 1/2 with pseudo surround:
// L' = (L + C/sqrt(2) - A (Ls + Rs)) / (1 + 1/sqrt(2) + 2A), R' = (R + C/sqrt(2) + A (Ls + Rs)) / (...),
// checked against that formula over ffmpeg's five-channel decode of the same 5.0 stream.
TEST(DownmixMatrix, ProgramConfigurationChoosesTheSurroundGainAndPseudoSurround) {
    if (!vt::test::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    vt::test::TempDir tmp;
    auto bytes = Encode(tmp, 5, 48000, 320, "5.0");
    ASSERT_FALSE(bytes.empty());
    fs::path file = tmp / "five.aac";
    ASSERT_TRUE(vt::test::WriteFileBytes(file, bytes));
    int ref_ch = 0;
    auto five = ReferenceDecode(file.string(), &ref_ch);
    ASSERT_EQ(ref_ch, 5);  // FL FR FC Ls Rs
    const double c = std::sqrt(0.5), a = 0.5, norm = 1 + c + 2 * a;
    std::vector<int16_t> want;
    for (size_t i = 0; i + 5 <= five.size(); i += 5) {
        const double surround = five[i + 3] + five[i + 4];
        want.push_back(
            static_cast<int16_t>(std::lround((five[i] + c * five[i + 2] - a * surround) / norm)));
        want.push_back(static_cast<int16_t>(
            std::lround((five[i + 1] + c * five[i + 2] + a * surround) / norm)));
    }

    // AudioSpecificConfig: AAC-LC, 48 kHz, channel configuration 0, then the PCE: front SCE 0 and
    // CPE 0, back CPE 1, matrix_mixdown_idx 1 with pseudo_surround_enable.
    std::vector<int> bits;
    auto put = [&bits](uint32_t v, int n) {
        for (int i = n - 1; i >= 0; --i) bits.push_back(static_cast<int>(v >> i & 1));
    };
    put(2, 5), put(3, 4), put(0, 4), put(0, 3);  // ASC and GASpecificConfig
    put(0, 4), put(1, 2), put(3, 4), put(2, 4), put(0, 4),
        put(1, 4);                                          // tag, profile, rate, front, side, back
    put(0, 2), put(0, 3), put(0, 4), put(0, 1), put(0, 1);  // lfe, assoc, cc, mono/stereo mixdown
    put(1, 1), put(1, 2), put(1, 1);                        // matrix mixdown 1, pseudo surround
    put(0, 1), put(0, 4), put(1, 1), put(0, 4), put(1, 1),
        put(1, 4);  // front SCE 0, CPE 0; back CPE 1
    while (bits.size() % 8) bits.push_back(0);
    put(0, 8);  // no comment
    std::vector<uint8_t> asc(bits.size() / 8);
    for (size_t i = 0; i < bits.size(); ++i)
        asc[i / 8] = static_cast<uint8_t>(asc[i / 8] << 1 | bits[i]);

    int rate = 0, channels = 0;
    auto units = SplitAdts(bytes, &rate, &channels);
    Decoder dec(AACDEC_FORMAT_RAW, 48000, 5);
    ASSERT_EQ(AacDecApplyConfig(dec.handle(), asc.data(), static_cast<int32_t>(asc.size())), 0);
    std::vector<int16_t> out(4096), ours;
    for (const auto &u : units) {
        AacDecInBuf in = {static_cast<int32_t>(u.size()), static_cast<int32_t>(u.size()), u.data()};
        AacDecOutBuf ob = {0, 8192, out.data()};
        ASSERT_EQ(AacDecDecode(dec.handle(), &dec.params(), &in, &ob), 0);
        ASSERT_EQ(dec.params().iChannels, 2);
        for (int i = 0; i < ob.iBytesWritten / 4; ++i) {
            ours.push_back(out[i]);
            ours.push_back(out[AACDEC_CH1_OFFSET + i]);
        }
    }
    Comparison cmp = Compare(ours, want, 2, 2);
    ASSERT_GT(cmp.compared, 48000u);
    EXPECT_LE(cmp.max_diff, 2);
    // The default gain without pseudo surround would be far off.
    Decoded plain = DecodeUnits(units, 48000, 5);
    EXPECT_GT(Compare(plain.pcm, want, 2, 2).max_diff, 50);
}

// Damaged multichannel streams and several-block frames: flipped bits anywhere, including the
// headers' channel configuration and block count, decode to the end without a fault (the
// sanitizer build checks every access).
TEST(AdtsBlocks, DamagedMultichannelFramesDecodeSafely) {
    if (!vt::test::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    vt::test::TempDir tmp;
    auto six = Encode(tmp, 6, 48000, 256, "5.1");
    ASSERT_FALSE(six.empty());
    const std::vector<uint8_t> inputs[] = {six, Regroup(Frames(six), 3, true)};
    std::mt19937 rng(99);
    for (const auto &clean : inputs)
        for (int round = 0; round < 12; ++round) {
            auto bad = clean;
            for (int k = 0; k < 40; ++k)
                bad[rng() % bad.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
            Decoded d = DecodeStream(bad, AACDEC_FORMAT_ADTS);
            EXPECT_GT(d.frames, 0) << "round " << round;
            EXPECT_LE(d.channels, 2);
        }
}

}  // namespace
