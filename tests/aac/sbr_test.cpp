// Spectral band replication and parametric stereo: conformance of every HE-AAC stream among the
// public test vectors against ffmpeg's float decoder, the SBR options, and damaged SBR data.
// Streams of our own are made by adding an SBR element (written here) to AAC-LC frames that
// ffmpeg's encoder produces, which gives an exact core-only reference.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>

#include "codec/aac/sbr.h"
#include "tests/aac/aac_test_util.h"
#include "tests/common/testutil.h"

using namespace aactest;
namespace fs = std::filesystem;

namespace {

bool Fatal(int32_t e) {
    return e == AACDEC_ERR_FATAL || (e > 0 && e < 4101) || e == AACDEC_ERR_FRAME_LENGTH;
}

struct Options {
    int sbr_off = 0, downsampled = 0, mono_out = 0, ps_mode = 0;
};

struct DecodeRun {
    Decoded d;
    std::vector<int> bytes;  // iBytesWritten of every decode that produced output
    int sbr = 0, ps = 0;
};

// Like DecodeStream, with the SBR options and every call's output size.
DecodeRun DecodeWith(const std::vector<uint8_t> &data, const Options &o) {
    DecodeRun r;
    AacDecMemBlock mem[AACDEC_NUM_MEM_BLOCKS];
    std::vector<std::vector<uint8_t>> blocks;
    AacDecQueryMem(mem);
    for (auto &m : mem) {
        blocks.emplace_back(m.uSize);
        m.pMem = blocks.back().data();
    }
    AacDecParams p = {};
    p.iFormat = AACDEC_FORMAT_ADTS;
    p.iSbrDownsampled = o.downsampled;
    p.iMonoOut = o.mono_out;
    p.iPsMode = o.ps_mode;
    AacDecHandle h = nullptr;
    if (AacDecInit(AACDEC_VERSION, &h, &p, mem) != 0) return r;
    std::vector<int16_t> out(4096);
    size_t pos = 0;
    bool probed = false;
    while (pos < data.size()) {
        AacDecInBuf in = {static_cast<int32_t>(data.size() - pos),
                          static_cast<int32_t>(data.size() - pos), data.data() + pos};
        if (!probed) {
            int32_t e = AacDecProbe(h, &p, &in);
            if (Fatal(e)) {
                if (p.iBytesUsed <= 0) break;
                pos += static_cast<size_t>(p.iBytesUsed);
                continue;
            }
            probed = true;
        }
        p.iSbrOff = o.sbr_off;
        AacDecOutBuf ob = {0, 8192, out.data()};
        int32_t e = AacDecDecode(h, &p, &in, &ob);
        r.d.codes.push_back(e);
        if (!Fatal(e)) {
            ++r.d.frames;
            r.bytes.push_back(ob.iBytesWritten);
            if (!r.d.channels) {
                r.d.channels = p.iChannels;
                r.d.rate = p.iSampleRate;
            }
            int ch = p.iChannels > 0 ? p.iChannels : 1;
            int n = ob.iBytesWritten / (2 * ch);
            for (int i = 0; i < n; ++i)
                for (int c = 0; c < r.d.channels; ++c)
                    r.d.pcm.push_back(out[(c < ch ? c : ch - 1) * AACDEC_CH1_OFFSET + i]);
            r.sbr = p.iSbrPresent;
            r.ps = p.iPsPresent;
        }
        if (p.iBytesUsed <= 0) break;
        pos += static_cast<size_t>(p.iBytesUsed);
    }
    return r;
}

// SNR of each of our channels against the reference after the best alignment (our first frame is
// silent, PS adds its own delay, and ffmpeg keeps encoder priming that MP4 edit lists would
// trim): a coarse search on a window in the middle of the stream, a
// fine one around its best, then the whole stream.
std::vector<double> AlignedSnr(const std::vector<int16_t> &ours, int och,
                               const std::vector<int16_t> &ref, int rch, int ref_channel,
                               int *offset) {
    const long no = static_cast<long>(ours.size()) / och, nr = static_cast<long>(ref.size()) / rch;
    auto rc = [&](int c) { return ref_channel >= 0 ? ref_channel : std::min(c, rch - 1); };
    auto snr_at = [&](long off, long from, long to, int c) {
        double s = 0, e = 0;
        for (long i = from; i < to; ++i) {
            long j = i + off;
            if (j < 0 || j >= nr) continue;
            double x = ref[static_cast<size_t>(j * rch + rc(c))],
                   y = ours[static_cast<size_t>(i * och + c)];
            s += x * x;
            e += (x - y) * (x - y);
        }
        return e > 0 ? 10 * std::log10(s / e) : 200.0;
    };
    long from = std::max(0L, no / 2 - 16384), to = std::min(no, no / 2 + 16384);
    long best = 0;
    double best_snr = -1e9;
    for (long off = -8192; off <= 8192; off += 64) {
        double s = snr_at(off, from, to, 0);
        if (s > best_snr) best_snr = s, best = off;
    }
    long coarse = best;
    for (long off = coarse - 64; off <= coarse + 64; ++off) {
        double s = snr_at(off, from, to, 0);
        if (s > best_snr) best_snr = s, best = off;
    }
    *offset = static_cast<int>(best);
    // The first frames are left out: before the first PS data of a stream the decoders' outputs
    // legitimately differ (ffmpeg starts its stereo image differently).
    std::vector<double> out;
    for (int c = 0; c < och; ++c) out.push_back(snr_at(best, std::min(8192L, no / 4), no, c));
    return out;
}

std::vector<uint8_t> AdtsOf(const fs::path &path, vt::test::TempDir &tmp) {
    std::string ext = path.extension().string();
    if (ext != ".mp4" && ext != ".m4a") return vt::test::ReadFileBytes(path);
    fs::path out = tmp / "s.aac";
    std::string cmd = "ffmpeg -v error -y -i " + vt::test::Quote(path.string()) +
                      " -vn -c:a copy -f adts " + vt::test::Quote(out.string());
    if (vt::test::Run(cmd) != 0) return {};
    return vt::test::ReadFileBytes(out);
}

struct HeVector {
    const char *file;
    int rate;         // output rate (ffmpeg's)
    int channels;     // our output channels
    int ref_channel;  // reference channel all of ours compare with; -1: the same index
    double min_snr;
    bool downmix = false;  // compare with ffmpeg's stereo downmix
};

std::string HeName(const testing::TestParamInfo<HeVector> &info) {
    std::string s = info.param.file;
    for (char &ch : s)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return s;
}

class HeAacVectors : public testing::TestWithParam<HeVector> {};

TEST_P(HeAacVectors, MatchFloatReference) {
    const HeVector &v = GetParam();
    fs::path path = vt::test::TestVector(std::string("aac/") + v.file);
    if (path.empty()) GTEST_SKIP() << "test vectors not present";
    if (!vt::test::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    vt::test::TempDir tmp;
    auto bytes = AdtsOf(path, tmp);
    ASSERT_FALSE(bytes.empty());
    DecodeRun r = DecodeWith(bytes, Options());
    ASSERT_GT(r.d.frames, 2);
    EXPECT_EQ(r.sbr, 1);
    EXPECT_EQ(r.d.rate, v.rate);
    ASSERT_EQ(r.d.channels, v.channels);
    for (int32_t code : r.d.codes) EXPECT_EQ(code, 0);
    // 2048 samples per channel for every frame after the first.
    EXPECT_EQ(r.bytes[0], 0);
    for (size_t i = 1; i < r.bytes.size(); ++i)
        ASSERT_EQ(r.bytes[i], v.channels * 2048 * 2) << "frame " << i;

    fs::path adts = tmp / "ref_in.aac";
    ASSERT_TRUE(vt::test::WriteFileBytes(adts, bytes));
    int ref_ch = 0;
    auto ref = ReferenceDecode(adts.string(), &ref_ch, v.downmix);
    ASSERT_FALSE(ref.empty());
    int off = 0;
    auto snr = AlignedSnr(r.d.pcm, r.d.channels, ref, ref_ch, v.ref_channel, &off);
    for (size_t c = 0; c < snr.size(); ++c)
        EXPECT_GE(snr[c], v.min_snr) << v.file << " channel " << c << " offset " << off;
    std::printf("%s: offset %d, SNR %.1f / %.1f dB\n", v.file, off, snr[0], snr.back());
}

INSTANTIATE_TEST_SUITE_P(
    Sbr, HeAacVectors,
    testing::Values(
        HeVector{"fate_al_sbr_cm_48_2.mp4", 48000, 2, -1, 60},  // header only after 380 frames
        // 5.1 to stereo: the SBR stage runs on the downmix with the front pair's SBR data, so the
        // high band is only close to a mix of every channel's own.
        HeVector{"fate_al_sbr_cm_48_5.1.mp4", 48000, 2, -1, 15, true},
        HeVector{"fate_al_sbr_sr_48_2_fsaac48.mp4", 96000, 2, -1, 60},  // 96 kHz output
        HeVector{"fate_tones_afconvert_16000_mono_aac_he.adts", 32000, 2, 0, 60},
        HeVector{"fate_tones_afconvert_16000_stereo_aac_he.m4a", 32000, 2, -1, 60},
        HeVector{"fate_tones_afconvert_44100_mono_aac_he.adts", 44100, 2, 0, 60},
        HeVector{"fate_tones_afconvert_44100_stereo_aac_he.m4a", 44100, 2, -1, 60},
        HeVector{"fate_tones_dolby_44100_mono_aac_he.mp4", 44100, 2, 0, 60},
        HeVector{"fate_tones_dolby_44100_stereo_aac_he.mp4", 44100, 2, -1, 60},
        HeVector{"fate_tones_nero_16000_mono_aac_he.m4a", 16000, 2, 0, 60},
        HeVector{"fate_tones_nero_16000_stereo_aac_he.m4a", 16000, 2, -1, 60},
        HeVector{"fate_tones_nero_44100_mono_aac_he.m4a", 44100, 2, 0, 60},
        HeVector{"fate_tones_nero_44100_stereo_aac_he.m4a", 44100, 2, -1, 60},
        // Parametric stereo.
        HeVector{"fate_al_sbr_ps_04_new.mp4", 32000, 2, -1, 40},  // PS from the 53rd frame on
        HeVector{"fate_al_sbr_ps_06_new.mp4", 32000, 2, -1, 40},
        HeVector{"fate_tones_afconvert_16000_stereo_aac_he2.m4a", 32000, 2, -1, 40},
        HeVector{"fate_tones_afconvert_44100_stereo_aac_he2.m4a", 44100, 2, -1, 40},
        HeVector{"fate_tones_dolby_44100_stereo_aac_he2.mp4", 44100, 2, -1, 40},
        HeVector{"fate_tones_nero_16000_stereo_aac_he2.m4a", 16000, 2, -1, 40},
        HeVector{"fate_tones_nero_44100_stereo_aac_he2.m4a", 44100, 2, -1, 40}),
    HeName);

// ---- streams of our own: AAC-LC frames from ffmpeg's encoder with an SBR element added ----

class BitWriter {
public:
    void Put(uint32_t v, int n) {
        for (int i = n - 1; i >= 0; --i) bits.push_back(static_cast<uint8_t>((v >> i) & 1));
    }
    std::vector<uint8_t> bits;
};

// CRC of bs_sbr_crc_bits straight from its definition: the remainder of the message times x^10
// divided by x^10 + x^9 + x^5 + x^4 + x + 1 (initial value zero).
uint32_t Crc10ByDivision(std::vector<uint8_t> bits) {
    static const uint8_t kGen[11] = {1, 1, 0, 0, 0, 1, 1, 0, 0, 1, 1};
    const size_t n = bits.size();
    bits.insert(bits.end(), 10, 0);
    for (size_t i = 0; i < n; ++i)
        if (bits[i])
            for (int j = 0; j < 11; ++j) bits[i + j] ^= kGen[j];
    uint32_t r = 0;
    for (size_t i = n; i < n + 10; ++i) r = (r << 1) | bits[i];
    return r;
}

// sbr_extension_data for a single channel element: a header, one FIXFIX envelope coded in
// frequency with every delta 0, noise floors likewise, optional PS-free extended data. With crc
// the payload is EXT_SBR_DATA_CRC with a correct bs_sbr_crc_bits. start and stop choose the band
// layout.
std::vector<uint8_t> SbrPayloadBits(int core_rate, int level, bool header, bool crc = false,
                                    int start = 5, int stop = 8) {
    aacdec::SbrHeader h = {};
    h.amp_res = 1;
    h.start_freq = static_cast<uint8_t>(start);
    h.stop_freq = static_cast<uint8_t>(stop);
    h.xover_band = 0;
    h.freq_scale = 2;
    h.alter_scale = 1;
    h.noise_bands = 2;
    h.limiter_bands = 2;
    h.limiter_gains = 2;
    h.interpol_freq = 1;
    h.smoothing_mode = 1;
    aacdec::SbrFreq f;
    if (aacdec::BuildSbrTables(&h, 2 * core_rate, &f) != 0) return {};
    BitWriter w;
    w.Put(crc ? 14 : 13, 4);  // EXT_SBR_DATA(_CRC)
    if (crc) w.Put(0, 10);    // bs_sbr_crc_bits, filled in below
    w.Put(header ? 1 : 0, 1);
    if (header) {
        w.Put(h.amp_res, 1);
        w.Put(h.start_freq, 4);
        w.Put(h.stop_freq, 4);
        w.Put(h.xover_band, 3);
        w.Put(0, 2);
        w.Put(0, 1);  // header_extra_1: defaults 2, 1, 2
        w.Put(0, 1);  // header_extra_2: defaults 2, 2, 1, 1
    }
    w.Put(0, 1);                                  // bs_data_extra
    w.Put(0, 2);                                  // FIXFIX
    w.Put(0, 2);                                  // one envelope (1.5 dB steps then)
    w.Put(1, 1);                                  // high frequency resolution
    w.Put(0, 1);                                  // df_env: frequency
    w.Put(0, 1);                                  // df_noise
    for (int i = 0; i < f.n_q; ++i) w.Put(2, 2);  // invf mode
    w.Put(static_cast<uint32_t>(level), 7);
    for (int j = 1; j < f.n_high; ++j) w.Put(0, 2);  // delta 0 in the 1.5 dB frequency table
    w.Put(10, 5);
    for (int j = 1; j < f.n_q; ++j) w.Put(0, 1);  // delta 0 in the 3 dB frequency table
    w.Put(0, 1);                                  // add_harmonic_flag
    w.Put(0, 1);                                  // bs_extended_data
    while (w.bits.size() % 8) w.bits.push_back(0);
    if (crc) {
        uint32_t c = Crc10ByDivision(std::vector<uint8_t>(w.bits.begin() + 14, w.bits.end()));
        for (int i = 0; i < 10; ++i) w.bits[4 + i] = static_cast<uint8_t>((c >> (9 - i)) & 1);
    }
    return w.bits;
}

std::vector<uint8_t> Pack(const std::vector<uint8_t> &bits) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < bits.size(); i += 8) {
        uint8_t b = 0;
        for (size_t k = 0; k < 8; ++k)
            b = static_cast<uint8_t>((b << 1) | (i + k < bits.size() ? bits[i + k] : 0));
        out.push_back(b);
    }
    return out;
}

// The elements of a raw data block without its END element and padding.
std::vector<uint8_t> ElementBits(const uint8_t *p, size_t len) {
    std::vector<uint8_t> bits;
    for (size_t i = 0; i < len; ++i)
        for (int b = 7; b >= 0; --b) bits.push_back((p[i] >> b) & 1);
    size_t last = bits.size();
    while (last > 0 && bits[last - 1] == 0) --last;
    bits.resize(last >= 3 ? last - 3 : 0);
    return bits;
}

// A FIL element carrying payload.
void PutFill(BitWriter *w, const std::vector<uint8_t> &payload) {
    size_t count = payload.size() / 8;
    w->Put(6, 3);
    if (count < 15) {
        w->Put(static_cast<uint32_t>(count), 4);
    } else {
        w->Put(15, 4);
        w->Put(static_cast<uint32_t>(count - 14), 8);
    }
    w->bits.insert(w->bits.end(), payload.begin(), payload.end());
}

// Inserts a FIL element with the SBR payload before the END element of every ADTS frame (but
// skip_frame). payload_at: the stream bit where each frame's payload starts.
std::vector<uint8_t> AddSbr(const std::vector<uint8_t> &adts, int core_rate, int level,
                            bool headers = true, bool crc = false, int skip_frame = -1,
                            std::vector<size_t> *payload_at = nullptr) {
    std::vector<uint8_t> out;
    size_t pos = 0;
    int frame = 0;
    while (pos + 7 <= adts.size()) {
        const uint8_t *p = adts.data() + pos;
        size_t len = ((p[3] & 3) << 11) | (p[4] << 3) | (p[5] >> 5);
        if (len < 7 || pos + len > adts.size() || (p[1] & 1) == 0) break;
        BitWriter w;
        w.bits = ElementBits(p + 7, len - 7);
        if (w.bits.empty()) break;
        auto payload = SbrPayloadBits(core_rate, level, headers && frame % 8 == 0, crc);
        if (frame != skip_frame) {
            PutFill(&w, payload);
            if (payload_at)
                payload_at->push_back(8 * (out.size() + 7) + w.bits.size() - payload.size());
        } else if (payload_at) {
            payload_at->push_back(0);
        }
        w.Put(7, 3);
        while (w.bits.size() % 8) w.bits.push_back(0);
        size_t nlen = 7 + w.bits.size() / 8;
        std::vector<uint8_t> hdr(p, p + 7);
        hdr[3] = static_cast<uint8_t>((hdr[3] & ~3) | ((nlen >> 11) & 3));
        hdr[4] = static_cast<uint8_t>(nlen >> 3);
        hdr[5] = static_cast<uint8_t>((hdr[5] & 0x1F) | ((nlen & 7) << 5));
        out.insert(out.end(), hdr.begin(), hdr.end());
        auto bytes = Pack(w.bits);
        out.insert(out.end(), bytes.begin(), bytes.end());
        pos += len;
        ++frame;
    }
    return out;
}

std::vector<uint8_t> EncodeLc(vt::test::TempDir &tmp, int rate, int channels,
                              const std::string &extra = "") {
    fs::path adts = tmp / "lc.aac";
    std::string cmd =
        "ffmpeg -v error -y -f lavfi -i \"aevalsrc='0.3*sin(2*PI*440*t)+0.2*sin(2*PI*2500*t)':s=" +
        std::to_string(rate) + ":d=1\" -ac " + std::to_string(channels) + " -c:a aac -b:a 48k " +
        extra + " -f adts " + vt::test::Quote(adts.string());
    if (vt::test::Run(cmd) != 0) return {};
    return vt::test::ReadFileBytes(adts);
}

class OwnStreams : public testing::Test {
protected:
    void SetUp() override {
        if (!vt::test::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
        lc = EncodeLc(tmp, 22050, 1);
        ASSERT_FALSE(lc.empty());
        he = AddSbr(lc, 22050, 24);
        ASSERT_GT(he.size(), lc.size());
    }
    vt::test::TempDir tmp;
    std::vector<uint8_t> lc, he;
};

TEST_F(OwnStreams, SbrOffGivesTheCoreOnlyDecode) {
    DecodeRun core = DecodeWith(lc, Options());
    Options o;
    o.sbr_off = 1;
    DecodeRun off = DecodeWith(he, o);
    EXPECT_EQ(off.sbr, 1);
    EXPECT_EQ(off.d.rate, 22050);
    EXPECT_EQ(off.d.channels, 1);
    EXPECT_EQ(off.d.pcm, core.d.pcm);
    for (int32_t code : off.d.codes) EXPECT_EQ(code, 0);
}

TEST_F(OwnStreams, SbrDoublesRateAndMatchesTheReference) {
    Options o;
    o.ps_mode = 1;
    DecodeRun r = DecodeWith(he, o);
    EXPECT_EQ(r.sbr, 1);
    EXPECT_EQ(r.ps, 0);
    EXPECT_EQ(r.d.rate, 44100);
    ASSERT_EQ(r.d.channels, 1);
    for (size_t i = 1; i < r.bytes.size(); ++i) EXPECT_EQ(r.bytes[i], 4096);
    for (int32_t code : r.d.codes) EXPECT_EQ(code, 0);
    fs::path file = tmp / "he.aac";
    ASSERT_TRUE(vt::test::WriteFileBytes(file, he));
    int ref_ch = 0;
    auto ref = ReferenceDecode(file.string(), &ref_ch);
    ASSERT_FALSE(ref.empty());
    int off = 0;
    auto snr = AlignedSnr(r.d.pcm, 1, ref, ref_ch, 0, &off);
    // The first and last frames (encoder priming, end of stream) keep this below the figures of
    // the public streams.
    EXPECT_GE(snr[0], 50) << "offset " << off;
}

TEST_F(OwnStreams, DamagedSbrFallsBackToTheCoreBandWithTheErrorCode) {
    std::mt19937 rng(7);
    bool any_sbr_error = false;
    for (int round = 0; round < 30; ++round) {
        auto bad = he;
        // Flip bits near the end of every frame, where the FIL element sits.
        size_t pos = 0;
        while (pos + 7 <= bad.size()) {
            size_t len = ((bad[pos + 3] & 3) << 11) | (bad[pos + 4] << 3) | (bad[pos + 5] >> 5);
            if (len < 16 || pos + len > bad.size()) break;
            size_t at = pos + len - 1 - rng() % 8;
            bad[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
            pos += len;
        }
        Options o;
        o.ps_mode = 1;
        DecodeRun r = DecodeWith(bad, o);
        ASSERT_GT(r.d.frames, 10);
        for (size_t i = 1; i < r.bytes.size(); ++i)
            ASSERT_EQ(r.bytes[i], 4096) << "round " << round;
        for (int32_t code : r.d.codes) {
            if (code >= AACDEC_ERR_SBR_BASE &&
                code <= AACDEC_ERR_SBR_BASE + static_cast<int>(aacdec::kSbrErrPs))
                any_sbr_error = true;
        }
    }
    EXPECT_TRUE(any_sbr_error);
}

TEST(SbrCrc, MatchesTheCatalogueCheckValue) {
    // CRC-10 with this generator, initial value 0, no reflection: "123456789" gives 0x199.
    const std::string msg = "123456789";
    std::vector<uint8_t> bits;
    for (char ch : msg)
        for (int b = 7; b >= 0; --b) bits.push_back((static_cast<uint8_t>(ch) >> b) & 1);
    EXPECT_EQ(Crc10ByDivision(bits), 0x199u);
    EXPECT_EQ(aacdec::SbrCrc10(reinterpret_cast<const uint8_t *>(msg.data()), 0, 72), 0x199u);
    // Any start bit: the same message behind three bits of something else.
    std::vector<uint8_t> shifted = {0xA0};
    for (char ch : msg) {
        shifted.back() |= static_cast<uint8_t>(static_cast<uint8_t>(ch) >> 3);
        shifted.push_back(static_cast<uint8_t>(static_cast<uint8_t>(ch) << 5));
    }
    EXPECT_EQ(aacdec::SbrCrc10(shifted.data(), 3, 72), 0x199u);
}

TEST_F(OwnStreams, CrcProtectedSbrDecodesLikeThePlainForm) {
    Options o;
    o.ps_mode = 1;
    DecodeRun plain = DecodeWith(he, o);
    DecodeRun crc = DecodeWith(AddSbr(lc, 22050, 24, true, true), o);
    ASSERT_GT(plain.d.frames, 10);
    EXPECT_EQ(crc.d.pcm, plain.d.pcm);
    EXPECT_EQ(crc.d.codes, plain.d.codes);
    for (int32_t code : crc.d.codes) EXPECT_EQ(code, 0);
}

TEST_F(OwnStreams, EveryFlippedBitUnderTheSbrCrcDropsThatFramesHighBand) {
    constexpr int kFrame = 9;  // not a header frame: the damage must not reach the next ones
    std::vector<size_t> at;
    auto good = AddSbr(lc, 22050, 24, true, true, -1, &at);
    ASSERT_GT(at.size(), static_cast<size_t>(kFrame + 2));
    const size_t payload_bits = SbrPayloadBits(22050, 24, false, true).size();
    Options o;
    o.ps_mode = 1;
    // The frame with a damaged payload must come out as if it had carried no SBR data at all.
    DecodeRun without = DecodeWith(AddSbr(lc, 22050, 24, true, true, kFrame), o);
    DecodeRun clean = DecodeWith(good, o);
    ASSERT_EQ(without.d.pcm.size(), clean.d.pcm.size());
    ASSERT_NE(without.d.pcm, clean.d.pcm);
    // From the CRC field to the payload's last bit (the extension type itself is not covered).
    for (size_t bit = 4; bit < payload_bits; ++bit) {
        auto bad = good;
        const size_t pos = at[kFrame] + bit;
        bad[pos / 8] ^= static_cast<uint8_t>(0x80 >> (pos % 8));
        DecodeRun r = DecodeWith(bad, o);
        ASSERT_EQ(r.d.codes.size(), clean.d.codes.size()) << "bit " << bit;
        for (size_t i = 0; i < r.d.codes.size(); ++i)
            ASSERT_EQ(r.d.codes[i], static_cast<int>(i) == kFrame
                                        ? AACDEC_ERR_SBR_BASE + static_cast<int>(aacdec::kSbrErrCrc)
                                        : 0)
                << "bit " << bit << " frame " << i;
        ASSERT_EQ(r.d.pcm, without.d.pcm) << "bit " << bit;
    }
}

// Raw access units through one decoder with parametric stereo off; PCM interleaved.
Decoded DecodeUnitsNoPs(const std::vector<std::vector<uint8_t>> &units, int rate, int channels) {
    Decoded d;
    Decoder dec(AACDEC_FORMAT_RAW, rate, channels);
    dec.params().iPsMode = 1;
    std::vector<int16_t> out(4096);
    for (const auto &u : units) {
        AacDecInBuf in = {static_cast<int32_t>(u.size()), static_cast<int32_t>(u.size()), u.data()};
        AacDecOutBuf ob = {0, 8192, out.data()};
        d.codes.push_back(AacDecDecode(dec.handle(), &dec.params(), &in, &ob));
        d.channels = dec.params().iChannels;
        d.rate = dec.params().iSampleRate;
        const int n = ob.iBytesWritten / 2 / (d.channels > 0 ? d.channels : 1);
        for (int i = 0; i < n; ++i)
            for (int c = 0; c < d.channels; ++c) d.pcm.push_back(out[c * AACDEC_CH1_OFFSET + i]);
    }
    return d;
}

// Two single channel elements, each followed by its own SBR payload, in one raw data block: each
// output channel must be its element's mono decode, high band included, whether the two headers
// agree or give the elements different band layouts (one of them with a last patch too narrow to
// keep, so the top bands lie outside every limiter band).
class SbrElements : public testing::TestWithParam<int> {};

TEST_P(SbrElements, EachSingleChannelElementUsesItsOwnSbrData) {
    if (!vt::test::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    const int own_layout = GetParam();
    vt::test::TempDir tmp;
    // No noise substitution: its random generator runs across channels, so two channels would
    // not reproduce the mono decodes.
    auto lc = EncodeLc(tmp, 22050, 1, "-aac_pns 0");
    ASSERT_FALSE(lc.empty());
    int rate = 0, channels = 0;
    auto units = SplitAdts(lc, &rate, &channels);
    ASSERT_GT(units.size(), 10u);
    std::vector<std::vector<uint8_t>> mono_a, mono_b, dual;
    for (size_t f = 0; f < units.size(); ++f) {
        auto elements = ElementBits(units[f].data(), units[f].size());
        ASSERT_GE(elements.size(), 7u);
        if (elements[0] && elements[1] && !elements[2]) {
            // The encoder's leading FIL element (its name in the first frame): not needed here.
            auto field = [&](size_t at, int n) {
                uint32_t v = 0;
                for (int i = 0; i < n; ++i) v = (v << 1) | elements[at + i];
                return v;
            };
            size_t count = field(3, 4), skip = 7;
            if (count == 15) count += field(7, 8) - 1, skip += 8;
            ASSERT_LT(skip + 8 * count + 7, elements.size());
            elements.erase(elements.begin(),
                           elements.begin() + static_cast<long>(skip + 8 * count));
        }
        ASSERT_EQ(elements[0] + elements[1] + elements[2], 0) << "block does not start with an SCE";
        auto second = elements;
        for (int i = 0; i < 4; ++i) second[3 + i] = i == 3;  // element_instance_tag 1
        const bool header = f % 8 == 0;
        auto pa = SbrPayloadBits(22050, 24, header),
             pb = own_layout == 1   ? SbrPayloadBits(22050, 40, header, false, 4, 9)
                  : own_layout == 2 ? SbrPayloadBits(22050, 40, header, false, 8, 5)
                                    : SbrPayloadBits(22050, 40, header);
        ASSERT_FALSE(pb.empty());
        BitWriter a, b, d;
        a.bits = elements;
        PutFill(&a, pa);
        a.Put(7, 3);
        b.bits = elements;
        PutFill(&b, pb);
        b.Put(7, 3);
        d.bits = elements;
        PutFill(&d, pa);
        d.bits.insert(d.bits.end(), second.begin(), second.end());
        PutFill(&d, pb);
        d.Put(7, 3);
        mono_a.push_back(Pack(a.bits));
        mono_b.push_back(Pack(b.bits));
        dual.push_back(Pack(d.bits));
    }
    Decoded ra = DecodeUnitsNoPs(mono_a, 22050, 1), rb = DecodeUnitsNoPs(mono_b, 22050, 1),
            rd = DecodeUnitsNoPs(dual, 22050, 2);
    ASSERT_EQ(ra.channels, 1);
    ASSERT_EQ(rd.channels, 2);
    EXPECT_EQ(rd.rate, 44100);
    for (int32_t code : rd.codes) EXPECT_EQ(code, 0);
    ASSERT_EQ(rd.pcm.size(), 2 * ra.pcm.size());
    ASSERT_EQ(rb.pcm.size(), ra.pcm.size());
    ASSERT_NE(ra.pcm, rb.pcm);  // the two envelopes differ, so the channels can tell them apart
    for (size_t i = 0; i < ra.pcm.size(); ++i) {
        ASSERT_EQ(rd.pcm[2 * i], ra.pcm[i]) << "channel 0, sample " << i;
        ASSERT_EQ(rd.pcm[2 * i + 1], rb.pcm[i]) << "channel 1, sample " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Sbr, SbrElements, testing::Values(0, 1, 2),
                         [](const testing::TestParamInfo<int> &i) {
                             return i.param == 0   ? "SameHeader"
                                    : i.param == 1 ? "OwnBandLayouts"
                                                   : "LastPatchDropped";
                         });

// ---- options on the public vectors ----

std::vector<uint8_t> VectorAdts(const char *name, vt::test::TempDir &tmp) {
    fs::path path = vt::test::TestVector(std::string("aac/") + name);
    if (path.empty()) return {};
    return AdtsOf(path, tmp);
}

// x through a windowed-sinc low-pass with its cut-off at `cut` of the Nyquist frequency.
std::vector<int16_t> LowPass(const std::vector<int16_t> &x, int channels, double cut) {
    const int kTaps = 255;
    std::vector<double> h(kTaps);
    double sum = 0;
    for (int i = 0; i < kTaps; ++i) {
        double t = i - (kTaps - 1) / 2.0;
        double sinc = t == 0 ? cut : std::sin(M_PI * cut * t) / (M_PI * t);
        h[i] = sinc * (0.54 - 0.46 * std::cos(2 * M_PI * i / (kTaps - 1)));
        sum += h[i];
    }
    size_t n = x.size() / channels;
    std::vector<int16_t> out;
    for (size_t i = 0; i + kTaps < n; ++i)
        for (int c = 0; c < channels; ++c) {
            double acc = 0;
            for (int k = 0; k < kTaps; ++k) acc += h[k] / sum * x[(i + k) * channels + c];
            out.push_back(static_cast<int16_t>(std::lround(std::clamp(acc, -32768.0, 32767.0))));
        }
    return out;
}

TEST(SbrOptions, DownsampledKeepsTheCoreRate) {
    if (!vt::test::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    vt::test::TempDir tmp;
    auto bytes = VectorAdts("fate_tones_nero_44100_stereo_aac_he.m4a", tmp);
    if (bytes.empty()) GTEST_SKIP() << "test vectors not present";
    Options o;
    o.downsampled = 1;
    DecodeRun ds = DecodeWith(bytes, o);
    EXPECT_EQ(ds.d.rate, 22050);
    EXPECT_EQ(ds.d.channels, 2);
    for (size_t i = 1; i < ds.bytes.size(); ++i) ASSERT_EQ(ds.bytes[i], 2 * 1024 * 2);
    // Below the SBR range the output is the core's, delayed by the QMF banks.
    o = Options();
    o.sbr_off = 1;
    DecodeRun core = DecodeWith(bytes, o);
    ASSERT_EQ(core.d.rate, 22050);
    int off = 0;
    auto snr = AlignedSnr(LowPass(ds.d.pcm, 2, 0.25), 2, LowPass(core.d.pcm, 2, 0.25), 2, -1, &off);
    for (double v : snr) EXPECT_GE(v, 30) << "offset " << off;
}

TEST(SbrOptions, MonoOutIsTheAverageOfBothChannels) {
    vt::test::TempDir tmp;
    auto bytes = VectorAdts("fate_tones_dolby_44100_stereo_aac_he.mp4", tmp);
    if (bytes.empty()) GTEST_SKIP() << "test vectors not present or no ffmpeg";
    Options o;
    o.mono_out = 1;
    DecodeRun mono = DecodeWith(bytes, o);
    DecodeRun st = DecodeWith(bytes, Options());
    EXPECT_EQ(mono.d.rate, 44100);
    ASSERT_EQ(mono.d.channels, 1);
    ASSERT_EQ(mono.d.pcm.size() * 2, st.d.pcm.size());
    for (size_t i = 0; i < mono.d.pcm.size(); ++i)
        ASSERT_EQ(mono.d.pcm[i], (st.d.pcm[2 * i] + st.d.pcm[2 * i + 1]) >> 1) << i;
}

TEST(SbrOptions, PsModeSelectsParametricStereo) {
    vt::test::TempDir tmp;
    auto bytes = VectorAdts("fate_tones_nero_44100_stereo_aac_he2.m4a", tmp);
    if (bytes.empty()) GTEST_SKIP() << "test vectors not present or no ffmpeg";
    struct Case {
        int mode, mono_out, channels, ps;
    };
    for (Case c : {Case{0, 0, 2, 1}, Case{2, 0, 2, 1}, Case{1, 0, 1, 0}, Case{0, 1, 1, 1}}) {
        Options o;
        o.ps_mode = c.mode;
        o.mono_out = c.mono_out;
        DecodeRun r = DecodeWith(bytes, o);
        EXPECT_EQ(r.d.channels, c.channels) << "mode " << c.mode;
        EXPECT_EQ(r.ps, c.ps) << "mode " << c.mode;
        EXPECT_EQ(r.d.rate, 44100);
        bool differ = false;
        if (c.channels == 2)
            for (size_t i = 0; i + 1 < r.d.pcm.size(); i += 2)
                differ |= r.d.pcm[i] != r.d.pcm[i + 1];
        EXPECT_EQ(differ, c.channels == 2) << "mode " << c.mode;
    }
}

TEST(SbrRobustness, DamagedHeAacV2FramesKeepTheirLength) {
    vt::test::TempDir tmp;
    auto bytes = VectorAdts("fate_tones_nero_16000_stereo_aac_he2.m4a", tmp);
    if (bytes.empty()) GTEST_SKIP() << "test vectors not present or no ffmpeg";
    std::mt19937 rng(11);
    for (int round = 0; round < 20; ++round) {
        auto bad = bytes;
        size_t pos = 0;
        while (pos + 7 <= bad.size()) {
            size_t len = ((bad[pos + 3] & 3) << 11) | (bad[pos + 4] << 3) | (bad[pos + 5] >> 5);
            if (len < 24 || pos + len > bad.size()) break;
            for (int k = 0; k < 3; ++k)
                bad[pos + len - 1 - rng() % 16] ^= static_cast<uint8_t>(1u << (rng() % 8));
            pos += len;
        }
        DecodeRun r = DecodeWith(bad, Options());
        ASSERT_GT(r.d.frames, 5);
        for (size_t i = 1; i < r.bytes.size(); ++i)
            ASSERT_EQ(r.bytes[i], 2 * 2048 * 2) << "round " << round;
    }
}

}  // namespace
