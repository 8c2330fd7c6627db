// Conformance against an independent decoder (Debian's ffmpeg): streams made by its encoder over a
// grid of rates, bitrates and tools, and the public test bitstreams. Our output must stay within
// 4 LSB of the reference everywhere with at least 85 dB SNR; noise-substituted streams are
// compared by band energy.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "tests/aac/aac_test_util.h"
#include "tests/common/testutil.h"

using namespace aactest;
namespace fs = std::filesystem;

namespace {

// SNR is meaningful once the signal stands well above the rounding of either decoder: both round
// to 16 bits from about 2^-9 LSB of internal error, so a quiet signal alone caps the SNR (a 690 RMS
// stream that differs by at most 1 LSB measures 84 dB).
constexpr double kSnrMinRms = 1500;

void ExpectClose(const Decoded &ours, const std::vector<int16_t> &ref, int ref_channels,
                 const std::string &what, int ref_channel = -1) {
    ASSERT_GT(ours.frames, 1) << what;
    ASSERT_FALSE(ref.empty()) << what;
    Comparison c = Compare(ours.pcm, ref, ours.channels, ref_channels, ref_channel);
    ASSERT_GT(c.compared, 1024u) << what;
    EXPECT_LE(c.max_diff, 4) << what;
    if (c.rms >= kSnrMinRms) {
        EXPECT_GE(c.snr_db, 85.0) << what << " rms " << c.rms;
    }
}

void ExpectBandEnergies(const Decoded &ours, const std::vector<int16_t> &ref, int rate,
                        const std::string &what) {
    for (int c = 0; c < ours.channels; ++c) {
        // Drop the reference's first frame so both cover the same span.
        std::vector<int16_t> r(ref.begin() + 1024 * ours.channels, ref.end());
        auto a = BandEnergiesDb(ours.pcm, ours.channels, c, rate);
        auto b = BandEnergiesDb(r, ours.channels, c, rate);
        ASSERT_EQ(a.size(), b.size());
        for (size_t i = 0; i < a.size(); ++i) {
            if (b[i] < 60) continue;  // bands with hardly any energy say nothing
            EXPECT_NEAR(a[i], b[i], 0.5) << what << " channel " << c << " band " << i;
        }
    }
}

struct EncodeCase {
    int channels;
    int rate;
    int kbps;
    bool tns, ms, is, pns;
};

std::string CaseName(const testing::TestParamInfo<EncodeCase> &info) {
    const EncodeCase &c = info.param;
    return std::to_string(c.channels) + "ch_" + std::to_string(c.rate) + "_" +
           std::to_string(c.kbps) + "k" + (c.tns ? "_tns" : "") + (c.ms ? "_ms" : "") +
           (c.is ? "_is" : "") + (c.pns ? "_pns" : "");
}

class FfmpegStreams : public testing::TestWithParam<EncodeCase> {};

TEST_P(FfmpegStreams, MatchReference) {
    if (!vt::test::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    const EncodeCase &c = GetParam();
    vt::test::TempDir tmp;
    fs::path adts = tmp / "s.aac";
    // Tones, a sweep and clicks (the clicks force short windows); the right channel shares part of
    // the left so mid/side and intensity have something to do.
    std::string src =
        "aevalsrc='0.3*sin(2*PI*440*t)+0.2*sin(2*PI*(200+3000*t)*t)+0.4*lt(mod(t,0.5),0.002)*sin(2*"
        "PI*3000*t)"
        "|0.25*sin(2*PI*440*t)+0.1*sin(2*PI*1250*t)+0.15*sin(2*PI*(200+3000*t)*t)':s=" +
        std::to_string(c.rate) + ":d=2";
    std::string cmd = "ffmpeg -v error -y -f lavfi -i \"" + src + "\" -ac " +
                      std::to_string(c.channels) + " -c:a aac -b:a " + std::to_string(c.kbps) +
                      "k -aac_tns " + (c.tns ? "1" : "0") + " -aac_ms " + (c.ms ? "1" : "0") +
                      " -aac_is " + (c.is ? "1" : "0") + " -aac_pns " + (c.pns ? "1" : "0") +
                      " -f adts " + vt::test::Quote(adts.string());
    ASSERT_EQ(vt::test::Run(cmd), 0) << cmd;
    auto bytes = vt::test::ReadFileBytes(adts);
    int ref_ch = 0;
    auto ref = ReferenceDecode(adts.string(), &ref_ch);
    ASSERT_EQ(ref_ch, c.channels);

    Decoded ours = DecodeStream(bytes, AACDEC_FORMAT_ADTS);
    EXPECT_EQ(ours.channels, c.channels);
    EXPECT_EQ(ours.rate, c.rate);
    for (int32_t code : ours.codes) EXPECT_EQ(code, 0);
    if (c.pns) {
        ExpectBandEnergies(ours, ref, c.rate, CaseName({c, 0}));
        return;
    }
    ExpectClose(ours, ref, ref_ch, "adts");

    // The same access units without their headers, one per call, as the MP4 path delivers them.
    int rate = 0, channels = 0;
    auto units = SplitAdts(bytes, &rate, &channels);
    ASSERT_FALSE(units.empty());
    Decoded raw = DecodeUnits(units, rate, channels);
    EXPECT_EQ(raw.pcm, ours.pcm);
}

INSTANTIATE_TEST_SUITE_P(Aac, FfmpegStreams,
                         testing::Values(EncodeCase{1, 8000, 16, true, false, false, false},
                                         EncodeCase{1, 11025, 24, false, false, false, false},
                                         EncodeCase{1, 16000, 32, true, false, false, false},
                                         EncodeCase{1, 22050, 64, true, false, false, false},
                                         EncodeCase{1, 32000, 96, false, false, false, false},
                                         EncodeCase{1, 48000, 256, true, false, false, false},
                                         EncodeCase{2, 12000, 32, true, true, false, false},
                                         EncodeCase{2, 24000, 64, true, true, true, false},
                                         EncodeCase{2, 44100, 128, true, true, false, false},
                                         EncodeCase{2, 44100, 64, false, true, true, false},
                                         EncodeCase{2, 44100, 256, false, false, false, false},
                                         EncodeCase{2, 48000, 160, true, true, true, false},
                                         EncodeCase{2, 44100, 96, true, true, false, true},
                                         EncodeCase{1, 32000, 48, true, false, false, true}),
                         CaseName);

enum class Expect { kExact, kEnergy, kFirstChannel, kDownmix, kDecodesOnly };

struct VectorCase {
    const char *file;
    Expect expect;
    int ref_channel;  // for kFirstChannel: the reference channel our single channel must match
};

class TestVectors : public testing::TestWithParam<VectorCase> {};

TEST_P(TestVectors, MatchReference) {
    const VectorCase &v = GetParam();
    fs::path path = vt::test::TestVector(std::string("aac/") + v.file);
    if (path.empty()) GTEST_SKIP() << "test vectors not present";
    if (!vt::test::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    vt::test::TempDir tmp;
    fs::path stream = path;
    std::string ext = path.extension().string();
    if (ext == ".mp4" || ext == ".m4a") {
        // Until the container reader lands, take the access units out of the MP4 with ffmpeg; the
        // payload bits are unchanged.
        stream = tmp / "s.aac";
        std::string cmd = "ffmpeg -v error -y -i " + vt::test::Quote(path.string()) +
                          " -vn -c:a copy -f adts " + vt::test::Quote(stream.string());
        ASSERT_EQ(vt::test::Run(cmd), 0);
    }
    auto bytes = vt::test::ReadFileBytes(stream);
    int format = bytes.size() >= 4 && bytes[0] == 'A' && bytes[1] == 'D' && bytes[2] == 'I' &&
                         bytes[3] == 'F'
                     ? AACDEC_FORMAT_ADIF
                     : AACDEC_FORMAT_ADTS;
    Decoded ours = DecodeStream(bytes, format);
    ASSERT_GT(ours.frames, 2) << v.file;
    if (v.expect == Expect::kDecodesOnly) return;
    int ref_ch = 0;
    auto ref = ReferenceDecode(stream.string(), &ref_ch, v.expect == Expect::kDownmix);
    switch (v.expect) {
        case Expect::kExact:
            ASSERT_EQ(ref_ch, ours.channels);
            ExpectClose(ours, ref, ref_ch, v.file);
            break;
        case Expect::kEnergy: ExpectBandEnergies(ours, ref, ours.rate, v.file); break;
        case Expect::kFirstChannel:
            ASSERT_EQ(ours.channels, 1);
            ExpectClose(ours, ref, ref_ch, v.file, v.ref_channel);
            break;
        case Expect::kDownmix:
            ASSERT_EQ(ours.channels, 2);
            ExpectClose(ours, ref, 2, v.file);
            break;
        case Expect::kDecodesOnly: break;
    }
}

std::string VectorName(const testing::TestParamInfo<VectorCase> &info) {
    std::string s = info.param.file;
    for (char &ch : s)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    Aac, TestVectors,
    testing::Values(
        VectorCase{"fate_al04_44.mp4", Expect::kExact, -1},        // pulse data, TNS, DSE, PCE
        VectorCase{"fate_al05_44.mp4", Expect::kExact, -1},        // intensity and M/S
        VectorCase{"fate_al17_44.mp4", Expect::kExact, -1},        // two SCEs, short windows
        VectorCase{"fate_al18_44.mp4", Expect::kEnergy, -1},       // PNS in every frame
        VectorCase{"fate_al06_44.mp4", Expect::kDownmix, -1},      // SCE + CPE (3.0) to stereo
        VectorCase{"fate_al07_96.mp4", Expect::kDecodesOnly, -1},  // 96 kHz 5.1 with CCE
        VectorCase{"fate_foo.aac", Expect::kExact, -1},            // last frame cut
        VectorCase{"fate_id3v1.aac", Expect::kExact, -1},          // CRC, cut first frame, ID3v1
        VectorCase{"fate_id3v2.aac", Expect::kExact, -1},          // ID3v2 before the stream
        VectorCase{"fate_ct_faac-adts.aac", Expect::kExact, -1},
        VectorCase{"fate_square3.m4a", Expect::kExact, -1},
        VectorCase{"fate_102400samples_qt-lc-aac.m4a", Expect::kExact, -1},
        VectorCase{"androidx_bbb_1ch_8kHz_aac_lc.aac", Expect::kExact, -1},
        VectorCase{"androidx_bbb_1ch_16kHz_aac.mp4", Expect::kEnergy, -1},
        VectorCase{"androidx_sample_sef_slow_motion.mp4", Expect::kEnergy, -1},  // 12 kHz, PNS
        VectorCase{"androidx_sine.aac", Expect::kEnergy, -1},
        VectorCase{"bento4_video-h264-001.mp4", Expect::kExact, -1},
        VectorCase{"exo_sample.adts", Expect::kExact, -1},
        VectorCase{"gst_sine-1kHztone-48kHzrate-mono-s32le-200000samples-itunes.m4a",
                   Expect::kExact, -1},
        VectorCase{"fate_tones_dolby_44100_stereo_aac_lc.mp4", Expect::kExact, -1},
        VectorCase{"fate_tones_faac_16000_stereo_aac_lc.adts", Expect::kExact, -1},
        VectorCase{"fate_tones_nero_44100_stereo_aac_lc.m4a", Expect::kExact, -1},
        VectorCase{"fate_tones_afconvert_16000_mono_aac_lc.m4a", Expect::kExact, -1},
        VectorCase{"fate_tones_quicktimeX_44100_stereo_aac_lc.m4a", Expect::kExact, -1},
        VectorCase{"mutagen_adif.aac", Expect::kDecodesOnly, -1},  // truncated ADIF with a PCE
        VectorCase{"mutagen_empty.aac", Expect::kExact, -1}),
    VectorName);

TEST(AacVectors, CrcFramesPassAndACorruptedCrcIsReportedWithOutput) {
    fs::path path = vt::test::TestVector("aac/fate_id3v1.aac");
    if (path.empty()) GTEST_SKIP() << "test vectors not present";
    auto bytes = vt::test::ReadFileBytes(path);
    Decoded clean = DecodeStream(bytes, AACDEC_FORMAT_ADTS);
    int ok = 0;
    for (int32_t c : clean.codes) ok += c == 0;
    EXPECT_EQ(ok, 5);
    // The first complete frame starts after the 253-byte cut frame; its CRC word is at 7..8.
    ASSERT_EQ(bytes[253], 0xFF);
    bytes[253 + 7] ^= 0x01;
    Decoded bad = DecodeStream(bytes, AACDEC_FORMAT_ADTS);
    ASSERT_FALSE(bad.codes.empty());
    EXPECT_EQ(bad.codes[0], AACDEC_ERR_CRC);
    EXPECT_EQ(bad.frames, clean.frames);  // still decoded, and the output is the same
    EXPECT_EQ(bad.pcm, clean.pcm);
}

TEST(AacVectors, MuteFlagsSilenceTheirChannel) {
    fs::path path = vt::test::TestVector("aac/fate_foo.aac");
    if (path.empty()) GTEST_SKIP() << "test vectors not present";
    auto bytes = vt::test::ReadFileBytes(path);
    struct Case {
        int left, right;
        bool ch0_silent, ch1_silent;
    } cases[] = {
        {0, 0, false, false}, {1, 0, true, false}, {0, 1, false, true}, {1, 1, true, false}};
    for (const Case &c : cases) {
        Decoder d(AACDEC_FORMAT_ADTS);
        d.params().iMuteLeft = c.left;
        d.params().iMuteRight = c.right;
        std::vector<int16_t> pcm(4096);
        size_t pos = 0;
        long energy[2] = {0, 0};
        for (int f = 0; f < 20; ++f) {
            AacDecInBuf in = {static_cast<int32_t>(bytes.size() - pos),
                              static_cast<int32_t>(bytes.size() - pos), bytes.data() + pos};
            AacDecOutBuf out = {0, 8192, pcm.data()};
            ASSERT_EQ(AacDecDecode(d.handle(), &d.params(), &in, &out), 0);
            for (int i = 0; i < out.iBytesWritten / 4; ++i) {
                energy[0] += std::abs(pcm[i]);
                energy[1] += std::abs(pcm[AACDEC_CH1_OFFSET + i]);
            }
            pos += static_cast<size_t>(d.params().iBytesUsed);
        }
        EXPECT_EQ(energy[0] == 0, c.ch0_silent) << c.left << c.right;
        EXPECT_EQ(energy[1] == 0, c.ch1_silent) << c.left << c.right;
    }
}

TEST(AacVectors, NineSixtyFrameStreamIsRefused) {
    // The 960-line conformance stream cannot be carried in ADTS, so announce its frame length the
    // way the container glue does and check that no frame is decoded.
    Decoder d(AACDEC_FORMAT_RAW, 48000, 1);
    ASSERT_EQ(AacDecSetFrameLength(d.handle(), 960), 0);
    std::vector<uint8_t> unit = {0x00, 0xC8, 0x00, 0x00, 0xE0};
    std::vector<int16_t> pcm(4096);
    AacDecInBuf in = {5, 5, unit.data()};
    AacDecOutBuf out = {0, 8192, pcm.data()};
    EXPECT_EQ(AacDecDecode(d.handle(), &d.params(), &in, &out), AACDEC_ERR_FRAME_LENGTH);
    EXPECT_EQ(out.iBytesWritten, 0);
}

TEST(AacTool, DecodeAudioWritesWavAndSummary) {
    fs::path path = vt::test::TestVector("aac/fate_foo.aac");
    if (path.empty()) GTEST_SKIP() << "test vectors not present";
    vt::test::TempDir tmp;
    fs::path wav = tmp / "out.wav";
    std::string err_file = (tmp / "err.txt").string();
    std::string cmd = vt::test::Quote(vt::test::ToolPath().string()) + " decode-audio " +
                      vt::test::Quote(path.string()) + " " + vt::test::Quote(wav.string()) + " 2>" +
                      vt::test::Quote(err_file);
    ASSERT_EQ(vt::test::Run(cmd), 0);
    auto err = vt::test::ReadFileBytes(err_file);
    std::string text(err.begin(), err.end());
    EXPECT_NE(text.find("frames=85 rate=44100 channels=2 sbr=0 ps=0"), std::string::npos) << text;
    auto wavb = vt::test::ReadFileBytes(wav);
    ASSERT_GT(wavb.size(), 44u);
    EXPECT_EQ(std::string(wavb.begin(), wavb.begin() + 4), "RIFF");
    EXPECT_EQ(wavb[22], 2);
    // 85 complete frames, the first of which writes nothing; the cut last frame gives nothing.
    EXPECT_EQ(wavb.size() - 44, static_cast<size_t>(84) * 1024 * 2 * 2);

    std::string bad = vt::test::Quote(vt::test::ToolPath().string()) +
                      " decode-audio /nonexistent.aac " + vt::test::Quote(wav.string()) +
                      " 2>/dev/null";
    EXPECT_EQ(vt::test::Run(bad), 2);
}

TEST(AacTool, Mp4TrackDecodesLikeItsAccessUnits) {
    if (!vt::test::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    // Both carry their PCE in the AudioSpecificConfig; al17's decides which SCE is left.
    for (const char *name : {"fate_al17_44.mp4", "fate_al04_44.mp4", "fate_square3.m4a"}) {
        fs::path path = vt::test::TestVector(std::string("aac/") + name);
        if (path.empty()) GTEST_SKIP() << "test vectors not present";
        vt::test::TempDir tmp;
        fs::path wav = tmp / "out.wav";
        std::string cmd = vt::test::Quote(vt::test::ToolPath().string()) + " decode-audio " +
                          vt::test::Quote(path.string()) + " " + vt::test::Quote(wav.string()) +
                          " 2>/dev/null";
        ASSERT_EQ(vt::test::Run(cmd), 0) << name;
        fs::path adts = tmp / "s.aac";
        ASSERT_EQ(vt::test::Run("ffmpeg -v error -y -i " + vt::test::Quote(path.string()) +
                                " -vn -c:a copy -f adts " + vt::test::Quote(adts.string())),
                  0);
        Decoded ref = DecodeStream(vt::test::ReadFileBytes(adts), AACDEC_FORMAT_ADTS);
        auto bytes = vt::test::ReadFileBytes(wav);
        ASSERT_GT(bytes.size(), 44u);
        std::vector<int16_t> pcm((bytes.size() - 44) / 2);
        std::memcpy(pcm.data(), bytes.data() + 44, pcm.size() * 2);
        EXPECT_EQ(bytes[22], ref.channels) << name;
        EXPECT_EQ(pcm, ref.pcm) << name;
    }
}

}  // namespace
