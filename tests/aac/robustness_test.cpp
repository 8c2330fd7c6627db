// Damaged input: truncated frames, flipped bits and wrong lengths must give error codes, never a
// crash or an access outside the caller's buffers (the suite runs under ASan+UBSan).
#include <gtest/gtest.h>

#include <random>

#include "tests/aac/aac_test_util.h"
#include "tests/common/testutil.h"

using namespace aactest;

namespace {

bool KnownCode(int32_t e) {
    switch (e) {
        case 0:
        case AACDEC_ERR_FATAL:
        case AACDEC_ERR_NO_ADTS_HEADER:
        case AACDEC_ERR_NO_ADIF_HEADER:
        case AACDEC_ERR_BAND_COUNT:
        case AACDEC_ERR_CRC:
        case AACDEC_ERR_RESERVED_CODEBOOK:
        case AACDEC_ERR_PREDICTION:
        case AACDEC_ERR_COUPLING:
        case AACDEC_ERR_TNS_RANGE: return true;
        default: return false;
    }
}

std::vector<uint8_t> LoadVector(const char *name) {
    auto p = vt::test::TestVector(std::string("aac/") + name);
    return p.empty() ? std::vector<uint8_t>() : vt::test::ReadFileBytes(p);
}

TEST(AacRobustness, FlippedBitsInEveryKindOfStream) {
    const char *files[] = {"fate_ct_faac-adts.aac", "fate_id3v1.aac", "mutagen_adif.aac",
                           "fate_foo.aac"};
    bool any = false;
    for (const char *f : files) {
        auto clean = LoadVector(f);
        if (clean.empty()) continue;
        any = true;
        if (clean.size() > 60000) clean.resize(60000);
        std::mt19937 rng(1234);
        for (int round = 0; round < 12; ++round) {
            auto data = clean;
            int flips = 1 + round * 8;
            for (int i = 0; i < flips; ++i) {
                size_t at = rng() % data.size();
                data[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
            }
            int format = f[0] == 'm' ? AACDEC_FORMAT_ADIF : AACDEC_FORMAT_ADTS;
            Decoded d = DecodeStream(data, format);
            for (int32_t e : d.codes) EXPECT_TRUE(KnownCode(e)) << f << " code " << e;
            for (size_t i = 0; i < d.pcm.size(); i += 997) ASSERT_GE(d.pcm[i], -32768);
        }
    }
    if (!any) GTEST_SKIP() << "test vectors not present";
}

TEST(AacRobustness, TruncatedAndMislengthedUnits) {
    auto adts = LoadVector("fate_al05_44.mp4");  // MP4 bytes as garbage units are fine too
    auto clean = LoadVector("fate_foo.aac");
    if (clean.empty()) GTEST_SKIP() << "test vectors not present";
    int rate = 0, channels = 0;
    auto units = SplitAdts(clean, &rate, &channels);
    ASSERT_GT(units.size(), 20u);
    // Every unit cut at several lengths, and units glued to the next one: raw decoding must stay
    // inside the given bytes and report a truncated block as fatal.
    std::vector<std::vector<uint8_t>> damaged;
    for (size_t i = 0; i < 20; ++i) {
        for (size_t cut : {size_t{1}, size_t{3}, units[i].size() / 2, units[i].size() - 1}) {
            if (cut == 0 || cut >= units[i].size()) continue;
            damaged.emplace_back(units[i].begin(), units[i].begin() + static_cast<long>(cut));
        }
        auto glued = units[i];
        glued.insert(glued.end(), units[i + 1].begin(), units[i + 1].end());
        damaged.push_back(glued);
    }
    Decoded d = DecodeUnits(damaged, rate, channels);
    bool saw_fatal = false;
    for (int32_t e : d.codes) {
        EXPECT_TRUE(KnownCode(e)) << e;
        saw_fatal |= e == AACDEC_ERR_FATAL;
    }
    EXPECT_TRUE(saw_fatal);
    (void)adts;
}

TEST(AacRobustness, AdtsHeaderWithWrongFrameLength) {
    auto clean = LoadVector("fate_foo.aac");
    if (clean.empty()) GTEST_SKIP() << "test vectors not present";
    for (int len : {0, 5, 9, 100, 8191}) {
        auto data = clean;
        data[3] = static_cast<uint8_t>((data[3] & 0xFC) | ((len >> 11) & 3));
        data[4] = static_cast<uint8_t>(len >> 3);
        data[5] = static_cast<uint8_t>((data[5] & 0x1F) | ((len & 7) << 5));
        Decoded d = DecodeStream(data, AACDEC_FORMAT_ADTS);
        for (int32_t e : d.codes) EXPECT_TRUE(KnownCode(e)) << len << " " << e;
        // The decoder finds its way back to the following frames.
        EXPECT_GT(d.frames, 80) << len;
    }
}

TEST(AacRobustness, RandomBytesAsEveryFormat) {
    std::mt19937 rng(99);
    for (int format : {AACDEC_FORMAT_RAW, AACDEC_FORMAT_ADTS, AACDEC_FORMAT_ADIF}) {
        for (int round = 0; round < 200; ++round) {
            std::vector<uint8_t> data(1 + rng() % 700);
            for (auto &b : data) b = static_cast<uint8_t>(rng());
            if (round % 3 == 0 && data.size() > 7) {
                data[0] = 0xFF;
                data[1] = 0xF1;
            }
            Decoded d = format == AACDEC_FORMAT_RAW ? DecodeUnits({data, data}, 44100, 2)
                                                    : DecodeStream(data, format);
            for (int32_t e : d.codes) EXPECT_TRUE(KnownCode(e)) << format << " " << e;
        }
    }
}

}  // namespace
