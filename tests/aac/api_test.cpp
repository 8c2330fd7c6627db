// The decoder's call interface: memory blocks, argument checks and their order, the frame
// counter, the error classes, and hand-built raw data blocks for the element rules.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "codec/aac/aacdec.h"
#include "tests/aac/aac_test_util.h"

using aactest::Decoder;

namespace {

class BitWriter {
public:
    void Put(uint32_t v, int n) {
        for (int i = n - 1; i >= 0; --i) {
            if (m_bits % 8 == 0) m_bytes.push_back(0);
            if ((v >> i) & 1) m_bytes.back() |= static_cast<uint8_t>(0x80 >> (m_bits % 8));
            ++m_bits;
        }
    }
    std::vector<uint8_t> Bytes() const { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
    int m_bits = 0;
};

// An individual channel stream with long windows and no coded bands (silence).
void PutSilentIcs(BitWriter *w, int max_sfb = 0, int first_cb = -1, bool predictor = false) {
    w->Put(100, 8);  // global_gain
    w->Put(0, 1);    // ics_reserved_bit
    w->Put(0, 2);    // ONLY_LONG_SEQUENCE
    w->Put(0, 1);    // window_shape
    w->Put(static_cast<uint32_t>(max_sfb), 6);
    w->Put(predictor ? 1 : 0, 1);
    if (predictor) return;
    if (max_sfb > 0) {
        // One section covering every band.
        w->Put(static_cast<uint32_t>(first_cb < 0 ? 0 : first_cb), 4);
        int left = max_sfb;
        while (left >= 31) {
            w->Put(31, 5);
            left -= 31;
        }
        w->Put(static_cast<uint32_t>(left), 5);
    }
    w->Put(0, 1);  // pulse_data_present
    w->Put(0, 1);  // tns_data_present
    w->Put(0, 1);  // gain_control_data_present
}

void PutSce(BitWriter *w, int tag = 0) {
    w->Put(0, 3);
    w->Put(static_cast<uint32_t>(tag), 4);
    PutSilentIcs(w);
}

void PutCpe(BitWriter *w) {
    w->Put(1, 3);
    w->Put(0, 4);
    w->Put(0, 1);  // common_window
    PutSilentIcs(w);
    PutSilentIcs(w);
}

std::vector<uint8_t> Finish(BitWriter *w) {
    w->Put(7, 3);  // END
    return w->Bytes();
}

struct Call {
    int32_t code;
    int32_t written;
    int32_t channels;
};

Call DecodeOne(Decoder *d, const std::vector<uint8_t> &unit, std::vector<int16_t> *pcm = nullptr) {
    std::vector<int16_t> local(4096, 0x5555);
    std::vector<int16_t> &out = pcm ? *pcm : local;
    out.assign(4096, 0x5555);
    AacDecInBuf in = {static_cast<int32_t>(unit.size()), static_cast<int32_t>(unit.size()),
                      unit.data()};
    AacDecOutBuf ob = {0, 8192, out.data()};
    int32_t e = AacDecDecode(d->handle(), &d->params(), &in, &ob);
    return {e, ob.iBytesWritten, d->params().iChannels};
}

std::vector<uint8_t> SilentMono() {
    BitWriter w;
    PutSce(&w);
    return Finish(&w);
}

TEST(AacApi, MemoryBlocksAreFiveAlignedBlocks) {
    EXPECT_EQ(AacDecQueryMem(nullptr), AACDEC_E_POINTER);
    AacDecMemBlock m[AACDEC_NUM_MEM_BLOCKS] = {};
    ASSERT_EQ(AacDecQueryMem(m), 0);
    const uint32_t sizes[5] = {static_cast<uint32_t>(4 * sizeof(void *)), 18496, 65768, 35872,
                               31600};
    for (int i = 0; i < AACDEC_NUM_MEM_BLOCKS; ++i) {
        EXPECT_EQ(m[i].uSize, sizes[i]) << i;
        EXPECT_EQ(m[i].uAlignment, 4u) << i;
    }
}

TEST(AacApi, InitRejectsBadArguments) {
    AacDecMemBlock m[AACDEC_NUM_MEM_BLOCKS];
    AacDecQueryMem(m);
    std::vector<std::vector<uint8_t>> store;
    for (auto &b : m) {
        store.emplace_back(b.uSize + 8);
        b.pMem = store.back().data();
    }
    AacDecParams p = {};
    AacDecHandle h = reinterpret_cast<AacDecHandle>(0x1234);
    EXPECT_EQ(AacDecInit("3.1", &h, &p, m), AACDEC_ERR_VERSION);
    EXPECT_EQ(h, nullptr);
    h = reinterpret_cast<AacDecHandle>(0x1234);
    EXPECT_EQ(AacDecInit(AACDEC_VERSION, &h, nullptr, m), AACDEC_E_POINTER);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(AacDecInit(AACDEC_VERSION, nullptr, &p, m), AACDEC_E_POINTER);

    struct Case {
        int block;
        int kind;  // 0 null, 1 address 2 mod 4, 2 too small
    } cases[] = {{0, 0}, {3, 0}, {1, 1}, {4, 1}, {2, 2}};
    for (const Case &c : cases) {
        AacDecMemBlock bad[AACDEC_NUM_MEM_BLOCKS];
        std::memcpy(bad, m, sizeof(bad));
        if (c.kind == 0) bad[c.block].pMem = nullptr;
        if (c.kind == 1) bad[c.block].pMem = static_cast<uint8_t *>(bad[c.block].pMem) + 2;
        if (c.kind == 2) bad[c.block].uSize -= 4;
        EXPECT_EQ(AacDecInit(AACDEC_VERSION, &h, &p, bad), AACDEC_E_INVALIDARG)
            << c.block << " " << c.kind;
        EXPECT_EQ(h, nullptr);
    }
    EXPECT_EQ(AacDecInit(AACDEC_VERSION, &h, &p, m), 0);
    EXPECT_EQ(h, m[0].pMem);
}

TEST(AacApi, InitNormalisesOptions) {
    AacDecParams p = {};
    p.iMuteLeft = p.iMuteRight = p.iSbrOff = 1;
    p.iSbrDownsampled = 7;
    p.iMonoOut = 1;
    AacDecMemBlock m[AACDEC_NUM_MEM_BLOCKS];
    AacDecQueryMem(m);
    std::vector<std::vector<uint8_t>> store;
    for (auto &b : m) {
        store.emplace_back(b.uSize);
        b.pMem = store.back().data();
    }
    AacDecHandle h = nullptr;
    ASSERT_EQ(AacDecInit(AACDEC_VERSION, &h, &p, m), 0);
    EXPECT_EQ(p.iMuteLeft, 0);
    EXPECT_EQ(p.iMuteRight, 0);
    EXPECT_EQ(p.iSbrOff, 0);
    EXPECT_EQ(p.iSbrDownsampled, 0);
    EXPECT_EQ(p.iMonoOut, 1);
}

TEST(AacApi, DecodeChecksArgumentsInOrder) {
    Decoder d(AACDEC_FORMAT_RAW, 44100, 1);
    ASSERT_EQ(d.init_result(), 0);
    auto unit = SilentMono();
    std::vector<int16_t> pcm(4096);
    AacDecInBuf in = {static_cast<int32_t>(unit.size()), static_cast<int32_t>(unit.size()),
                      unit.data()};
    AacDecOutBuf out = {0, 8192, pcm.data()};
    AacDecParams *p = &d.params();

    EXPECT_EQ(AacDecDecode(nullptr, p, &in, &out), AACDEC_E_HANDLE);
    void *broken[4] = {nullptr, nullptr, nullptr, nullptr};
    EXPECT_EQ(AacDecDecode(broken, p, &in, &out), AACDEC_E_UNEXPECTED);
    EXPECT_EQ(AacDecDecode(d.handle(), p, nullptr, &out), AACDEC_E_POINTER);
    AacDecInBuf bad = in;
    bad.pData = nullptr;
    EXPECT_EQ(AacDecDecode(d.handle(), p, &bad, &out), AACDEC_E_INVALIDARG);
    bad = in;
    bad.iDataLen = 0;
    EXPECT_EQ(AacDecDecode(d.handle(), p, &bad, &out), AACDEC_E_INVALIDARG);
    bad = in;
    bad.iBufLen = bad.iDataLen - 1;
    EXPECT_EQ(AacDecDecode(d.handle(), p, &bad, &out), AACDEC_E_INVALIDARG);
    EXPECT_EQ(AacDecDecode(d.handle(), p, &in, nullptr), AACDEC_E_POINTER);
    AacDecOutBuf small = out;
    small.iBufLen = 0;
    EXPECT_EQ(AacDecDecode(d.handle(), p, &in, &small), AACDEC_E_INVALIDARG);
    EXPECT_EQ(AacDecDecode(d.handle(), nullptr, &in, &out), AACDEC_E_POINTER);
    // 8191 bytes fails before any input is looked at, even garbage input.
    std::vector<uint8_t> garbage(16, 0xFF);
    AacDecInBuf gin = {16, 16, garbage.data()};
    small.iBufLen = 8191;
    EXPECT_EQ(AacDecDecode(d.handle(), p, &gin, &small), AACDEC_ERR_OUTPUT_TOO_SMALL);
    EXPECT_EQ(p->iBytesUsed, 0);

    // Not initialised: decode says so before looking at the input, probe after it.
    ASSERT_EQ(AacDecReset(d.handle()), 0);
    EXPECT_EQ(AacDecDecode(d.handle(), p, nullptr, &out), AACDEC_ERR_NOT_INITIALISED);
    EXPECT_EQ(AacDecProbe(d.handle(), p, nullptr), AACDEC_E_POINTER);
    EXPECT_EQ(AacDecProbe(d.handle(), p, &in), AACDEC_ERR_NOT_INITIALISED);
    EXPECT_EQ(AacDecReset(nullptr), AACDEC_E_HANDLE);
    EXPECT_EQ(AacDecReset(broken), AACDEC_E_UNEXPECTED);
}

TEST(AacApi, FirstFrameWritesNothingThenPlanarFrames) {
    Decoder mono(AACDEC_FORMAT_RAW, 44100, 1);
    auto unit = SilentMono();
    Call c1 = DecodeOne(&mono, unit);
    EXPECT_EQ(c1.code, 0);
    EXPECT_EQ(c1.written, 0);
    std::vector<int16_t> pcm;
    Call c2 = DecodeOne(&mono, unit, &pcm);
    EXPECT_EQ(c2.code, 0);
    EXPECT_EQ(c2.written, 2048);  // one channel of 1024 samples
    EXPECT_EQ(c2.channels, 1);
    EXPECT_EQ(mono.params().iSampleRate, 44100);
    EXPECT_EQ(mono.params().iBytesUsed, static_cast<int32_t>(unit.size()));
    for (int i = 0; i < 1024; ++i) ASSERT_EQ(pcm[i], 0);
    EXPECT_EQ(pcm[1024], 0x5555);  // nothing written between the channel planes

    BitWriter w;
    PutCpe(&w);
    auto stereo_unit = Finish(&w);
    Decoder stereo(AACDEC_FORMAT_RAW, 48000, 2);
    EXPECT_EQ(DecodeOne(&stereo, stereo_unit).written, 0);
    Call s2 = DecodeOne(&stereo, stereo_unit, &pcm);
    EXPECT_EQ(s2.written, 2 * 1024 * 2);
    EXPECT_EQ(s2.channels, 2);
    EXPECT_EQ(pcm[AACDEC_CH1_OFFSET], 0);
    EXPECT_EQ(pcm[1024], 0x5555);
}

TEST(AacApi, RawFormatWithUnlistedRateNeedsAdtsSync) {
    Decoder d(AACDEC_FORMAT_RAW, 44000, 1);
    Call c = DecodeOne(&d, SilentMono());
    EXPECT_EQ(c.code, AACDEC_ERR_UNLISTED_RATE);
    EXPECT_EQ(c.written, 0);
}

TEST(AacApi, AdtsFormatWithoutHeaderAndAdifWithoutMagic) {
    Decoder adts(AACDEC_FORMAT_ADTS);
    EXPECT_EQ(DecodeOne(&adts, SilentMono()).code, AACDEC_ERR_NO_ADTS_HEADER);
    Decoder adif(AACDEC_FORMAT_ADIF);
    EXPECT_EQ(DecodeOne(&adif, SilentMono()).code, AACDEC_ERR_NO_ADIF_HEADER);
}

TEST(AacApi, ElementRules) {
    struct Case {
        const char *name;
        int32_t code;
        int channels;
        std::vector<uint8_t> unit;
    };
    std::vector<Case> cases;
    {
        BitWriter w;  // three SCEs: the first two are decoded, the third ends the block
        PutSce(&w, 0);
        PutSce(&w, 1);
        PutSce(&w, 2);
        cases.push_back({"three SCEs", 0, 2, Finish(&w)});
    }
    {
        BitWriter w;  // coupling element after a channel: 4107 with that channel's output
        PutSce(&w);
        w.Put(2, 3);
        w.Put(0, 16);
        cases.push_back({"CCE", AACDEC_ERR_COUPLING, 1, Finish(&w)});
    }
    {
        BitWriter w;  // a pair after a single channel ends the block
        PutSce(&w);
        PutCpe(&w);
        cases.push_back({"SCE then CPE", 0, 1, Finish(&w)});
    }
    {
        BitWriter w;  // max_sfb beyond the 49 long bands of 44.1 kHz
        w.Put(0, 3);
        w.Put(0, 4);
        PutSilentIcs(&w, 50);
        cases.push_back({"max_sfb", AACDEC_ERR_BAND_COUNT, 1, Finish(&w)});
    }
    {
        BitWriter w;
        w.Put(0, 3);
        w.Put(0, 4);
        PutSilentIcs(&w, 4, 12);
        cases.push_back({"codebook 12", AACDEC_ERR_RESERVED_CODEBOOK, 1, Finish(&w)});
    }
    {
        BitWriter w;
        w.Put(0, 3);
        w.Put(0, 4);
        PutSilentIcs(&w, 0, -1, true);
        cases.push_back({"prediction", AACDEC_ERR_PREDICTION, 1, Finish(&w)});
    }
    {
        BitWriter w;  // DSE and FIL around the channel are read and skipped
        w.Put(4, 3);
        w.Put(0, 4);
        w.Put(0, 1);
        w.Put(2, 8);
        w.Put(0xABCD, 16);
        PutSce(&w);
        w.Put(6, 3);
        w.Put(3, 4);
        w.Put(0x000000, 24);  // EXT_FILL payload
        cases.push_back({"DSE and FIL", 0, 1, Finish(&w)});
    }
    for (const Case &c : cases) {
        Decoder d(AACDEC_FORMAT_RAW, 44100, 2);
        DecodeOne(&d, c.unit);
        Call r = DecodeOne(&d, c.unit);
        EXPECT_EQ(r.code, c.code) << c.name;
        EXPECT_EQ(r.channels, c.channels) << c.name;
        EXPECT_EQ(r.written, c.channels * 2048) << c.name;
    }
}

TEST(AacApi, FrameLengthOtherThan1024IsFatal) {
    Decoder d(AACDEC_FORMAT_RAW, 48000, 1);
    ASSERT_EQ(AacDecSetFrameLength(d.handle(), 960), 0);
    Call c = DecodeOne(&d, SilentMono());
    EXPECT_EQ(c.code, AACDEC_ERR_FRAME_LENGTH);
    EXPECT_EQ(c.written, 0);
}

TEST(AacApi, TruncatedBlockIsFatalWithoutOutput) {
    Decoder d(AACDEC_FORMAT_RAW, 44100, 1);
    DecodeOne(&d, SilentMono());
    auto unit = SilentMono();
    unit.resize(2);
    Call c = DecodeOne(&d, unit);
    EXPECT_EQ(c.code, AACDEC_ERR_FATAL);
    EXPECT_EQ(c.written, 0);
    EXPECT_EQ(d.params().iBytesUsed, 2);
}

TEST(AacApi, OddInputAddressReadsOnlyTheGivenBytes) {
    auto unit = SilentMono();
    // The unit sits at an odd address at the very start of its own allocation's payload+1, so a
    // read of the byte before it would be a read of the unrelated guard byte.
    std::vector<uint8_t> buf(unit.size() + 1, 0xFF);
    std::memcpy(buf.data() + 1, unit.data(), unit.size());
    Decoder d(AACDEC_FORMAT_RAW, 44100, 1);
    std::vector<int16_t> pcm(4096);
    for (int i = 0; i < 2; ++i) {
        AacDecInBuf in = {static_cast<int32_t>(unit.size()), static_cast<int32_t>(unit.size()),
                          buf.data() + 1};
        AacDecOutBuf ob = {0, 8192, pcm.data()};
        EXPECT_EQ(AacDecDecode(d.handle(), &d.params(), &in, &ob), 0);
        EXPECT_EQ(d.params().iBytesUsed, static_cast<int32_t>(unit.size()));
    }
}

TEST(AacApi, FrameLostConcealsWithoutReadingInput) {
    Decoder d(AACDEC_FORMAT_RAW, 44100, 1);
    DecodeOne(&d, SilentMono());
    d.params().iFrameLost = 1;
    std::vector<uint8_t> garbage(8, 0xAA);
    Call c = DecodeOne(&d, garbage);
    EXPECT_EQ(c.code, 0);
    EXPECT_EQ(c.written, 2048);
    EXPECT_EQ(d.params().iBytesUsed, 0);
}

TEST(AacApi, ConfigParsing) {
    struct Case {
        std::vector<uint8_t> asc;
        int aot, rate, chan_cfg, frame_length, sbr;
    } cases[] = {
        {{0x12, 0x10}, 2, 44100, 2, 1024, -1},
        {{0x11, 0x88}, 2, 48000, 1, 1024, -1},
        {{0x11, 0x8C}, 2, 48000, 1, 960, -1},
        {{0x2B, 0x92, 0x08, 0x00}, 2, 22050, 2, 1024, 1},        // explicit SBR (object type 5)
        {{0x13, 0x10, 0x56, 0xE5, 0x98}, 2, 24000, 2, 1024, 1},  // sync extension 0x2b7
    };
    for (const Case &c : cases) {
        AacDecConfig cfg;
        ASSERT_EQ(AacDecParseConfig(c.asc.data(), static_cast<int32_t>(c.asc.size()), &cfg), 0);
        EXPECT_EQ(cfg.iObjectType, c.aot);
        EXPECT_EQ(cfg.iSampleRate, c.rate);
        EXPECT_EQ(cfg.iChannelConfig, c.chan_cfg);
        EXPECT_EQ(cfg.iFrameLength, c.frame_length);
        EXPECT_EQ(cfg.iSbrSignalled, c.sbr);
    }
    AacDecConfig cfg;
    EXPECT_EQ(AacDecParseConfig(nullptr, 2, &cfg), AACDEC_E_POINTER);
    uint8_t one = 0x12;
    EXPECT_EQ(AacDecParseConfig(&one, 1, &cfg), AACDEC_E_INVALIDARG);
}

}  // namespace
