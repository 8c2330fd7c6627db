// Parametric stereo: the ps_data() reader on payloads built here bit by bit, the stereo synthesis
// on synthetic QMF-domain signals, and whole HE-AAC v2 streams against ffmpeg's float decoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "codec/aac/ps.h"
#include "tests/aac/aac_test_util.h"
#include "tests/common/testutil.h"

using namespace aacdec;

namespace {

// ---- payload building ----

class BitWriter {
public:
    void Put(uint32_t v, int n) {
        for (int i = n - 1; i >= 0; --i) {
            if (m_bits % 8 == 0) m_bytes.push_back(0);
            if ((v >> i) & 1) m_bytes.back() |= static_cast<uint8_t>(0x80 >> (m_bits % 8));
            ++m_bits;
        }
    }
    void Huff(const PsHuffEntry *t, int n, int value) {
        for (int i = 0; i < n; ++i) {
            if (t[i].value == value) {
                Put(t[i].code, t[i].len);
                return;
            }
        }
        ADD_FAILURE() << "no code for " << value;
    }
    int bits() const { return m_bits; }
    const std::vector<uint8_t> &bytes() const { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
    int m_bits = 0;
};

struct Table {
    const PsHuffEntry *t;
    int n;
};
const Table kIidDf{kHuffIidDf, 29}, kIidDt{kHuffIidDt, 29}, kIidFineDf{kHuffIidFineDf, 61};
const Table kIidFineDt{kHuffIidFineDt, 61}, kIccDf{kHuffIccDf, 15}, kIccDt{kHuffIccDt, 15};
const Table kIpdDf{kHuffIpdDf, 8}, kOpdDf{kHuffOpdDf, 8}, kIpdDt{kHuffIpdDt, 8},
    kOpdDt{kHuffOpdDt, 8};

// Writes one envelope of values, frequency- or time-differential.
void PutEnvelope(BitWriter *w, const Table &tab, const std::vector<int> &v,
                 const std::vector<int> *prev, bool wrap = false) {
    int acc = 0;
    for (size_t b = 0; b < v.size(); ++b) {
        int d = v[b] - (prev ? (*prev)[b] : acc);
        if (wrap) d = (d + 8) & 7;
        w->Huff(tab.t, tab.n, d);
        acc = v[b];
    }
}

// The extension block: its size in bytes (4 bits, 15 escapes to 8 more), the data, fill bits.
void PutExtension(BitWriter *w, const BitWriter &ext) {
    int bytes = (ext.bits() + 7) / 8;
    if (bytes >= 15) {
        w->Put(15, 4);
        w->Put(static_cast<uint32_t>(bytes - 15), 8);
    } else {
        w->Put(static_cast<uint32_t>(bytes), 4);
    }
    for (size_t i = 0; i < ext.bytes().size(); ++i) {
        int n = std::min(8, ext.bits() - static_cast<int>(i) * 8);
        w->Put(ext.bytes()[i] >> (8 - n), n);
    }
    w->Put(0, bytes * 8 - ext.bits());
}

struct Parsed {
    bool ok;
    PsFrame f;
    int64_t consumed;
};

Parsed Parse(PsState *st, const BitWriter &w, int32_t bits = -1) {
    // The payload sits in a heap buffer of exactly its size so that ASan sees any read past it.
    std::vector<uint8_t> copy = w.bytes();
    std::unique_ptr<uint8_t[]> buf(new uint8_t[copy.size() ? copy.size() : 1]);
    std::memcpy(buf.get(), copy.data(), copy.size());
    BitReader br;
    BrInit(&br, buf.get(), static_cast<int32_t>(copy.size()));
    Parsed p{};
    p.ok = ReadPsData(&br, bits < 0 ? w.bits() : bits, st, &p.f);
    p.consumed = br.pos;
    return p;
}

void PutHeader(BitWriter *w, int iid_mode, int icc_mode, bool ext) {
    w->Put(1, 1);  // enable_ps_header
    w->Put(iid_mode >= 0, 1);
    if (iid_mode >= 0) w->Put(static_cast<uint32_t>(iid_mode), 3);
    w->Put(icc_mode >= 0, 1);
    if (icc_mode >= 0) w->Put(static_cast<uint32_t>(icc_mode), 3);
    w->Put(ext, 1);
}

std::vector<int> Ramp(int n, int lo, int hi) {
    std::vector<int> v(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) v[static_cast<size_t>(i)] = lo + (i * 7) % (hi - lo + 1);
    return v;
}

void ExpectRow(const int8_t *row, const std::vector<int> &v, const std::string &what) {
    for (size_t b = 0; b < v.size(); ++b) EXPECT_EQ(row[b], v[b]) << what << " band " << b;
}

// ---- Huffman tables ----

TEST(PsHuffman, TablesArePrefixFreeCompleteAndCoverTheirRange) {
    struct Case {
        Table tab;
        int lo, hi;
    };
    const Case cases[] = {{kIidDf, -14, 14},     {kIidDt, -14, 14}, {kIidFineDf, -30, 30},
                          {kIidFineDt, -30, 30}, {kIccDf, -7, 7},   {kIccDt, -7, 7},
                          {kIpdDf, 0, 7},        {kIpdDt, 0, 7},    {kOpdDf, 0, 7},
                          {kOpdDt, 0, 7}};
    for (const Case &c : cases) {
        ASSERT_EQ(c.tab.n, c.hi - c.lo + 1);
        double kraft = 0;
        std::vector<int> seen(static_cast<size_t>(c.tab.n), 0);
        for (int i = 0; i < c.tab.n; ++i) {
            const PsHuffEntry &a = c.tab.t[i];
            ASSERT_GE(a.len, 1);
            ASSERT_LE(a.len, 20);
            ASSERT_LT(a.code, 1u << a.len);
            ASSERT_GE(a.value, c.lo);
            ASSERT_LE(a.value, c.hi);
            seen[static_cast<size_t>(a.value - c.lo)]++;
            kraft += std::ldexp(1.0, -a.len);
            if (i > 0) {
                EXPECT_LE(c.tab.t[i - 1].len, a.len) << "entries must come shortest first";
            }
            for (int j = 0; j < c.tab.n; ++j) {
                const PsHuffEntry &b = c.tab.t[j];
                if (i == j || b.len < a.len) continue;
                EXPECT_NE(b.code >> (b.len - a.len), a.code)
                    << "code " << i << " prefixes code " << j;
            }
        }
        EXPECT_DOUBLE_EQ(kraft, 1.0);
        for (int s : seen) EXPECT_EQ(s, 1);
    }
}

// ---- ps_data() ----

// Before any header a payload parses but cannot be used; the first header then takes effect.
TEST(PsRead, FirstHeaderTwentyBandsFrequencyDifferential) {
    PsState st;
    ResetPs(&st);
    BitWriter early;
    early.Put(0, 3);  // no header, fixed borders
    early.Put(1, 2);
    Parsed p0 = Parse(&st, early);
    ASSERT_TRUE(p0.ok);
    EXPECT_EQ(p0.f.usable, 0);

    BitWriter w;
    PutHeader(&w, 1, 1, false);  // 20 IID bands (default steps), 20 ICC bands, R_A
    w.Put(0, 1);                 // frame_class: fixed borders
    w.Put(1, 2);                 // one envelope
    std::vector<int> iid = Ramp(20, -7, 7), icc = Ramp(20, 0, 7);
    w.Put(0, 1);
    PutEnvelope(&w, kIidDf, iid, nullptr);
    w.Put(0, 1);
    PutEnvelope(&w, kIccDf, icc, nullptr);
    Parsed p = Parse(&st, w);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.consumed, w.bits());
    EXPECT_EQ(p.f.usable, 1);
    EXPECT_EQ(p.f.num_env, 1);
    EXPECT_EQ(p.f.border[1], 31);
    EXPECT_EQ(p.f.is34 | p.f.iid_fine | p.f.mix_b | p.f.ipdopd, 0);
    ExpectRow(p.f.iid[0], iid, "iid");
    ExpectRow(p.f.icc[0], icc, "icc");
}

// The header persists; time-differential coding refers to the last envelope of the previous frame
// and, within a frame, to the envelope before.
TEST(PsRead, HeaderPersistsAndTimeDifferentialChains) {
    PsState st;
    ResetPs(&st);
    std::vector<int> e0 = Ramp(10, -5, 5);
    {
        BitWriter w;
        PutHeader(&w, 0, 0, false);  // 10 bands
        w.Put(0, 1);
        w.Put(1, 2);
        w.Put(0, 1);
        PutEnvelope(&w, kIidDf, e0, nullptr);
        w.Put(0, 1);
        PutEnvelope(&w, kIccDf, Ramp(10, 0, 7), nullptr);
        ASSERT_TRUE(Parse(&st, w).ok);
    }
    // No header; two envelopes with borders at 9 and 31 (frame_class 1); both dt coded.
    std::vector<int> e1(10), e2(10);
    for (int b = 0; b < 10; ++b) {
        e1[b] = e0[b] + (b % 3) - 1;
        e2[b] = e1[b] - (b % 2);
    }
    BitWriter w;
    w.Put(0, 1);
    w.Put(1, 1);
    w.Put(1, 2);  // two envelopes
    w.Put(9, 5);
    w.Put(31, 5);
    w.Put(1, 1);
    PutEnvelope(&w, kIidDt, e1, &e0);
    w.Put(1, 1);
    PutEnvelope(&w, kIidDt, e2, &e1);
    std::vector<int> icc0 = Ramp(10, 0, 7);
    for (int e = 0; e < 2; ++e) {
        w.Put(1, 1);
        PutEnvelope(&w, kIccDt, icc0, &icc0);
    }
    Parsed p = Parse(&st, w);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.f.usable, 1);
    EXPECT_EQ(p.f.nr_iid, 10);
    ASSERT_EQ(p.f.num_env, 2);
    EXPECT_EQ(p.f.border[1], 9);
    EXPECT_EQ(p.f.border[2], 31);
    ExpectRow(p.f.iid[0], e1, "env 0");
    ExpectRow(p.f.iid[1], e2, "env 1");
    ExpectRow(p.f.icc[1], icc0, "icc env 1");
}

// Envelopes that stop short of the frame end get one more holding the last values; a frame
// without envelopes holds the previous frame's.
TEST(PsRead, EnvelopeFixUp) {
    struct Case {
        int frame_class, num_env_idx;
        std::vector<int> borders;
        int want_env;
        std::vector<int> want_borders;
    };
    const Case cases[] = {
        {0, 0, {}, 1, {-1, 31}},
        {0, 2, {}, 2, {-1, 15, 31}},
        {0, 3, {}, 4, {-1, 7, 15, 23, 31}},
        {1, 0, {20}, 2, {-1, 20, 31}},
        {1, 3, {3, 8, 8, 30}, 5, {-1, 3, 8, 8, 30, 31}},
        {1, 2, {4, 10, 31}, 3, {-1, 4, 10, 31}},
    };
    for (const Case &c : cases) {
        PsState st;
        ResetPs(&st);
        std::vector<int> prev = Ramp(20, -7, 7);
        {
            BitWriter w;
            PutHeader(&w, 1, -1, false);
            w.Put(0, 1);
            w.Put(1, 2);
            w.Put(0, 1);
            PutEnvelope(&w, kIidDf, prev, nullptr);
            ASSERT_TRUE(Parse(&st, w).ok);
        }
        BitWriter w;
        w.Put(0, 1);
        w.Put(static_cast<uint32_t>(c.frame_class), 1);
        w.Put(static_cast<uint32_t>(c.num_env_idx), 2);
        for (int b : c.borders) w.Put(static_cast<uint32_t>(b), 5);
        int coded = c.frame_class ? c.num_env_idx + 1 : (c.num_env_idx == 3 ? 4 : c.num_env_idx);
        std::vector<int> last = prev;
        for (int e = 0; e < coded; ++e) {
            std::vector<int> v = Ramp(20, -7 + e, 7 - e);
            w.Put(0, 1);
            PutEnvelope(&w, kIidDf, v, nullptr);
            last = v;
        }
        Parsed p = Parse(&st, w);
        std::string what =
            "class " + std::to_string(c.frame_class) + " idx " + std::to_string(c.num_env_idx);
        ASSERT_TRUE(p.ok) << what;
        ASSERT_EQ(p.f.num_env, c.want_env) << what;
        for (int e = 0; e <= c.want_env; ++e)
            EXPECT_EQ(p.f.border[e], c.want_borders[static_cast<size_t>(e)]) << what;
        ExpectRow(p.f.iid[c.want_env - 1], last, what);
        EXPECT_EQ(p.f.icc[0][0], 0) << "ICC off reads as full correlation";
    }
}

TEST(PsRead, FineIidThirtyFourBandsAndIpdOpdExtension) {
    PsState st;
    ResetPs(&st);
    BitWriter w;
    PutHeader(&w, 5, 2, true);  // fine IID in 34 bands, 34 ICC bands (R_A), extension on
    w.Put(0, 1);
    w.Put(1, 2);
    std::vector<int> iid = Ramp(34, -15, 15), icc = Ramp(34, 0, 7);
    w.Put(0, 1);
    PutEnvelope(&w, kIidFineDf, iid, nullptr);
    w.Put(0, 1);
    PutEnvelope(&w, kIccDf, icc, nullptr);
    // Extension: id 0 with IPD/OPD on 17 bands; sized in whole bytes.
    BitWriter ext;
    ext.Put(0, 2);
    ext.Put(1, 1);
    std::vector<int> ipd = Ramp(17, 0, 7), opd = Ramp(17, 1, 6);
    ext.Put(0, 1);
    PutEnvelope(&ext, kIpdDf, ipd, nullptr, true);
    ext.Put(0, 1);
    PutEnvelope(&ext, kOpdDf, opd, nullptr, true);
    ext.Put(0, 1);  // reserved_ps
    PutExtension(&w, ext);
    Parsed p = Parse(&st, w);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.consumed, w.bits());
    EXPECT_EQ(p.f.is34, 1);
    EXPECT_EQ(p.f.iid_fine, 1);
    EXPECT_EQ(p.f.ipdopd, 1);
    EXPECT_EQ(p.f.nr_pd, 17);
    ExpectRow(p.f.iid[0], iid, "iid");
    ExpectRow(p.f.icc[0], icc, "icc");
    ExpectRow(p.f.ipd[0], ipd, "ipd");
    ExpectRow(p.f.opd[0], opd, "opd");

    // A time-differential IPD step past 7 wraps around.
    BitWriter w2;
    w2.Put(0, 1);
    w2.Put(0, 1);
    w2.Put(1, 2);
    w2.Put(1, 1);
    PutEnvelope(&w2, kIidFineDt, iid, &iid);
    w2.Put(1, 1);
    PutEnvelope(&w2, kIccDt, icc, &icc);
    BitWriter e2;
    e2.Put(0, 2);
    e2.Put(1, 1);
    std::vector<int> ipd2(17), opd2 = opd;
    for (int b = 0; b < 17; ++b)
        ipd2[static_cast<size_t>(b)] = (ipd[static_cast<size_t>(b)] + 3) & 7;
    e2.Put(1, 1);
    PutEnvelope(&e2, kIpdDt, ipd2, &ipd, true);
    e2.Put(1, 1);
    PutEnvelope(&e2, kOpdDt, opd2, &opd, true);
    e2.Put(0, 1);
    PutExtension(&w2, e2);
    Parsed p2 = Parse(&st, w2);
    ASSERT_TRUE(p2.ok);
    ExpectRow(p2.f.ipd[0], ipd2, "ipd dt");
    ExpectRow(p2.f.iid[0], iid, "iid dt");
}

// Damaged payloads: false, the reader moved past the whole payload, and PS stays off until the
// next header (time-differential data would refer to values that were never decoded).
TEST(PsRead, DamagedPayloadsAreRejected) {
    auto good_frame = [](BitWriter *w) {
        PutHeader(w, 1, 1, false);
        w->Put(0, 1);
        w->Put(1, 2);
        w->Put(0, 1);
        PutEnvelope(w, kIidDf, Ramp(20, -7, 7), nullptr);
        w->Put(0, 1);
        PutEnvelope(w, kIccDf, Ramp(20, 0, 7), nullptr);
    };
    struct Case {
        const char *name;
        std::function<void(BitWriter *)> build;
        int cut_bits;  // payload length = written bits minus this
    };
    const Case cases[] = {
        {"truncated", good_frame, 5},
        {"reserved iid mode",
         [](BitWriter *w) { w->Put(1, 1), w->Put(1, 1), w->Put(6, 3), w->Put(0, 8); }, 0},
        {"reserved icc mode",
         [](BitWriter *w) { w->Put(1, 1), w->Put(0, 1), w->Put(1, 1), w->Put(7, 3), w->Put(0, 8); },
         0},
        {"borders going back",
         [](BitWriter *w) {
             PutHeader(w, -1, -1, false);
             w->Put(1, 1), w->Put(1, 2), w->Put(20, 5), w->Put(10, 5);
         },
         0},
        {"iid out of range",
         [](BitWriter *w) {
             PutHeader(w, 0, -1, false);
             w->Put(0, 1), w->Put(1, 2), w->Put(0, 1);
             w->Huff(kHuffIidDf, 29, 7);
             w->Huff(kHuffIidDf, 29, 1);  // 8
             for (int b = 2; b < 10; ++b) w->Huff(kHuffIidDf, 29, 0);
         },
         0},
        {"icc below zero",
         [](BitWriter *w) {
             PutHeader(w, -1, 0, false);
             w->Put(0, 1), w->Put(1, 2), w->Put(0, 1);
             w->Huff(kHuffIccDf, 15, -1);
             for (int b = 1; b < 10; ++b) w->Huff(kHuffIccDf, 15, 0);
         },
         0},
        {"extension longer than the payload",
         [](BitWriter *w) {
             PutHeader(w, -1, -1, true);
             w->Put(0, 1), w->Put(1, 2), w->Put(15, 4), w->Put(200, 8), w->Put(0, 16);
         },
         0},
    };
    for (const Case &c : cases) {
        PsState st;
        ResetPs(&st);
        BitWriter ok;
        good_frame(&ok);
        ASSERT_TRUE(Parse(&st, ok).ok);
        BitWriter w;
        c.build(&w);
        int bits = w.bits() - c.cut_bits;
        Parsed p = Parse(&st, w, bits);
        EXPECT_FALSE(p.ok) << c.name;
        EXPECT_EQ(p.consumed, bits) << c.name;
        EXPECT_EQ(p.f.usable, 0) << c.name;
        // A header-less frame after the damage stays unusable.
        BitWriter next;
        next.Put(0, 1), next.Put(0, 1), next.Put(1, 2);
        next.Put(0, 1);
        PutEnvelope(&next, kIidDf, Ramp(20, -7, 7), nullptr);
        next.Put(0, 1);
        PutEnvelope(&next, kIccDf, Ramp(20, 0, 7), nullptr);
        Parsed q = Parse(&st, next);
        EXPECT_TRUE(q.ok) << c.name;
        EXPECT_EQ(q.f.usable, 0) << c.name;
    }
}

TEST(PsRead, RandomPayloadsStayInsideTheirBits) {
    std::mt19937 rng(7);
    PsState st;
    ResetPs(&st);
    for (int iter = 0; iter < 3000; ++iter) {
        int len = 1 + static_cast<int>(rng() % 40);
        BitWriter w;
        if (iter % 3 == 0)
            PutHeader(&w, static_cast<int>(rng() % 6), static_cast<int>(rng() % 6), rng() & 1);
        while (w.bits() < len * 8) w.Put(rng() & 0xFF, 8);
        int bits = len * 8 - static_cast<int>(rng() % 8);
        Parsed p = Parse(&st, w, bits);
        ASSERT_LE(p.consumed, bits);
        if (!p.ok) {
            ASSERT_EQ(p.consumed, bits);
        } else {
            ASSERT_GE(p.f.num_env, 1);
            ASSERT_LE(p.f.num_env, kPsMaxEnv);
            ASSERT_EQ(p.f.border[p.f.num_env], 31);
        }
    }
}

// ---- stereo synthesis ----

using Slots = std::vector<int32_t>;  // [slot][band][re/im], 32 x 64 x 2

Slots Noise(std::mt19937 *rng, int amplitude) {
    Slots s(32 * 64 * 2);
    std::uniform_int_distribution<int> d(-amplitude, amplitude);
    for (auto &v : s) v = d(*rng);
    return s;
}

inline int32_t (*Rows(Slots &s))[64][2] { return reinterpret_cast<int32_t(*)[64][2]>(s.data()); }

// A frame with one envelope of the given IID/ICC indices in every band.
PsFrame ConstantFrame(bool is34, int iid, int icc) {
    PsFrame f{};
    f.usable = 1;
    f.num_env = 1;
    f.is34 = is34;
    f.nr_iid = f.nr_icc = is34 ? 34 : 20;
    f.border[0] = -1;
    f.border[1] = 31;
    for (int b = 0; b < kPsMaxPar; ++b) {
        f.iid[0][b] = static_cast<int8_t>(iid);
        f.icc[0][b] = static_cast<int8_t>(icc);
    }
    return f;
}

// Runs frames of noise through ApplyPs; returns mono input, left and right as continuous
// [slot][band] series.
struct PsRun {
    std::vector<int32_t> in, left, right;
    int slots = 0;
};
PsRun RunFrames(const std::vector<const PsFrame *> &frames, int amplitude, uint32_t seed = 1,
                int scale = 1) {
    std::mt19937 rng(seed);
    PsState st;
    ResetPs(&st);
    PsRun r;
    for (const PsFrame *f : frames) {
        Slots x = Noise(&rng, amplitude), y(x.size());
        for (auto &v : x) v *= scale;
        r.in.insert(r.in.end(), x.begin(), x.end());
        ApplyPs(&st, f, Rows(x), Rows(y), 32);
        r.left.insert(r.left.end(), x.begin(), x.end());
        r.right.insert(r.right.end(), y.begin(), y.end());
        r.slots += 32;
    }
    return r;
}

inline size_t At(int slot, int band, int c) {
    return (static_cast<size_t>(slot) * 64 + band) * 2 + c;
}

// IID 0 with full correlation is the identity: both outputs are the mono input 6 slots late,
// whatever the resolution, and also across resolution changes; frames that cannot be used (no
// PS header yet) give the same mono output.
TEST(PsApply, IdentityParametersGiveTheDelayedMonoSignal) {
    PsFrame f20 = ConstantFrame(false, 0, 0), f34 = ConstantFrame(true, 0, 0);
    PsFrame no_header = ConstantFrame(false, 7, 7);
    no_header.usable = 0;
    std::vector<std::vector<const PsFrame *>> sequences = {
        {&f20, &f20, &f20, &f20},
        {&f34, &f34, &f34, &f34},
        {&f20, &f34, nullptr, &no_header, &f20, &f34},
        {nullptr, nullptr, &no_header},
    };
    for (size_t si = 0; si < sequences.size(); ++si) {
        PsRun r = RunFrames(sequences[si], 1 << 24);
        int32_t worst = 0;
        for (int n = 6; n < r.slots; ++n)
            for (int k = 0; k < 64; ++k)
                for (int c = 0; c < 2; ++c) {
                    int32_t want = r.in[At(n - 6, k, c)];
                    worst = std::max(worst, std::abs(r.left[At(n, k, c)] - want));
                    worst = std::max(worst, std::abs(r.right[At(n, k, c)] - want));
                }
        // The hybrid filters reconstruct exactly but for rounding.
        EXPECT_LE(worst, 8) << "sequence " << si;
    }
}

double Energy(const std::vector<int32_t> &v, int from_slot, int to_slot, int band_lo, int band_hi) {
    double e = 0;
    for (int n = from_slot; n < to_slot; ++n)
        for (int k = band_lo; k < band_hi; ++k)
            for (int c = 0; c < 2; ++c) e += std::pow(static_cast<double>(v[At(n, k, c)]), 2);
    return e;
}

// A large IID pans the signal: left carries c2 = sqrt(2) c / sqrt(1 + c^2) and right c1 =
// sqrt(2) / sqrt(1 + c^2) of it, with c = 10^(IID/20).
TEST(PsApply, LargeIidPans) {
    struct Case {
        bool is34, fine;
        int iid;
        double db;
    };
    const Case cases[] = {{false, false, 7, 25},
                          {false, false, -7, -25},
                          {true, false, 4, 10},
                          {false, true, 15, 50},
                          {true, true, -11, -30}};
    for (const Case &c : cases) {
        PsFrame f = ConstantFrame(c.is34, c.iid, 0);
        f.iid_fine = c.fine;
        PsRun r =
            RunFrames({&f, nullptr, nullptr}, 1 << 24);  // frames without parameters hold them
        double cc = std::pow(10.0, c.db / 20);
        double c1 = std::sqrt(2.0) / std::sqrt(1 + cc * cc), c2 = cc * c1;
        double ein = Energy(r.in, 32, 90, 0, 64);
        double el = Energy(r.left, 38, 96, 0, 64), er = Energy(r.right, 38, 96, 0, 64);
        EXPECT_NEAR(std::sqrt(el / ein), c2, 0.01 * c2 + 1e-3) << c.iid;
        EXPECT_NEAR(std::sqrt(er / ein), c1, 0.01 * c1 + 1e-3) << c.iid;
    }
}

// ICC -1 with IID 0 puts the decorrelated signal in antiphase on the two sides; the decorrelated
// signal keeps the input's level and is uncorrelated with it.
TEST(PsApply, NegativeCorrelationGivesAntiphaseDecorrelatedOutput) {
    for (bool is34 : {false, true}) {
        PsFrame f = ConstantFrame(is34, 0, 7);
        PsRun r = RunFrames({&f, &f, &f, &f}, 1 << 24);
        int32_t worst = 0;
        for (int n = 64; n < r.slots; ++n)
            for (int k = 0; k < 64; ++k)
                for (int c = 0; c < 2; ++c)
                    worst = std::max(worst, std::abs(r.left[At(n, k, c)] + r.right[At(n, k, c)]));
        EXPECT_LE(worst, 2) << is34;
        double ein = Energy(r.in, 58, 122, 0, 64), el = Energy(r.left, 64, 128, 0, 64);
        EXPECT_GT(el / ein, 0.5) << is34;
        EXPECT_LT(el / ein, 1.5) << is34;
        double cross = 0;
        for (int n = 64; n < r.slots; ++n)
            for (int k = 0; k < 64; ++k)
                for (int c = 0; c < 2; ++c)
                    cross += static_cast<double>(r.left[At(n, k, c)]) * r.in[At(n - 6, k, c)];
        EXPECT_LT(std::fabs(cross) / std::sqrt(el * Energy(r.in, 58, 122, 0, 64)), 0.1) << is34;
    }
}

// Output scales with the input (up to rounding), and full-scale input (|x| < 2^28) with the
// strongest parameters stays in range.
TEST(PsApply, LinearInInputScaleAndNoOverflow) {
    PsFrame f = ConstantFrame(false, 3, 5), g = ConstantFrame(true, -5, 6);
    for (const PsFrame *p : {&f, &g}) {
        PsRun a = RunFrames({p, p, p}, 1 << 20, 3), b = RunFrames({p, p, p}, 1 << 20, 3, 64);
        double err = 0, ref = 0;
        for (size_t i = 0; i < a.left.size(); ++i) {
            err += std::pow(b.left[i] - 64.0 * a.left[i], 2) +
                   std::pow(b.right[i] - 64.0 * a.right[i], 2);
            ref += std::pow(64.0 * a.left[i], 2) + std::pow(64.0 * a.right[i], 2);
        }
        EXPECT_LT(err / ref, 1e-8);
    }
    PsFrame loud = ConstantFrame(false, 15, 7);
    loud.iid_fine = 1;
    PsRun big = RunFrames({&loud, &loud}, (1 << 28) - 1, 9);
    int32_t peak = 0;
    for (int32_t v : big.left) peak = std::max(peak, std::abs(v));
    EXPECT_GT(peak, 1 << 27);
    EXPECT_LT(peak, INT32_MAX);  // no saturation reached
}

// Whatever a caller leaves in a frame record (band counts, borders, indices), ApplyPs stays in
// bounds (checked under ASan/UBSan).
TEST(PsApply, ArbitraryFrameRecordsAreSafe) {
    std::mt19937 rng(11);
    PsState st;
    ResetPs(&st);
    Slots x(32 * 64 * 2), y(x.size());
    for (int i = 0; i < 200; ++i) {
        PsFrame f;
        auto *bytes = reinterpret_cast<uint8_t *>(&f);
        for (size_t j = 0; j < sizeof(f); ++j) bytes[j] = static_cast<uint8_t>(rng());
        f.usable = 1;
        f.num_env = static_cast<uint8_t>(1 + rng() % kPsMaxEnv);
        x = Noise(&rng, (1 << 28) - 1);
        ApplyPs(&st, &f, Rows(x), Rows(y), static_cast<int32_t>(rng() % 40) - 4);
    }
    SUCCEED();
}

// Interpolation: after a parameter change the mixing moves gradually across the envelope and
// reaches the new panning at its border. The signal arrives 6 slots late, and so does the change:
// the first 6 slots of a frame still finish the previous frame's envelope.
TEST(PsApply, MixingInterpolatesAcrossTheEnvelopeInStepWithTheSignal) {
    PsFrame centre = ConstantFrame(false, 0, 0), left = ConstantFrame(false, 7, 0);
    PsRun r = RunFrames({&centre, &centre, &left, &left}, 1 << 24);
    auto right_gain = [&](int n) {  // right-channel gain over output slots n..n+1
        return std::sqrt(Energy(r.right, n, n + 2, 10, 60) / Energy(r.in, n - 6, n - 4, 10, 60));
    };
    for (int n = 40; n < 70; n += 2) EXPECT_NEAR(right_gain(n), 1.0, 0.02) << n;
    double prev = 1.0;
    for (int n = 70; n < 102; n += 2) {
        double g = right_gain(n);
        EXPECT_LT(g, prev + 0.02) << n;
        prev = g;
    }
    double c = std::pow(10.0, 25.0 / 20), c1 = std::sqrt(2.0) / std::sqrt(1 + c * c);
    for (int n = 102; n < 128; n += 2) EXPECT_NEAR(right_gain(n), c1, 0.01) << n;
}

}  // namespace

// ---- whole HE-AAC v2 streams against ffmpeg's float decoder ----

namespace e2e {

// Interleaved 16-bit samples of a canonical WAV file (what decode-audio writes) and its channels.
std::vector<int16_t> ReadWav(const std::filesystem::path &p, int *channels) {
    std::vector<uint8_t> b = vt::test::ReadFileBytes(p);
    std::vector<int16_t> s;
    if (b.size() < 44 || std::memcmp(b.data(), "RIFF", 4) != 0 ||
        std::memcmp(&b[36], "data", 4) != 0)
        return s;
    *channels = b[22] | b[23] << 8;
    s.resize((b.size() - 44) / 2);
    std::memcpy(s.data(), &b[44], s.size() * 2);
    return s;
}

// SNR of each stereo channel of ours against the reference after the best alignment.
std::vector<double> AlignedSnr(const std::vector<int16_t> &ours, const std::vector<int16_t> &ref,
                               int *lag_out) {
    const long n_ours = static_cast<long>(ours.size() / 2),
               n_ref = static_cast<long>(ref.size() / 2);
    auto at = [](const std::vector<int16_t> &v, long i, int c) {
        return static_cast<double>(v[2 * i + c]);
    };
    const long base = n_ref / 4, win = std::min<long>(16384, n_ref / 2);
    double best = -1e300;
    for (int lag = -6144; lag <= 6144; ++lag) {
        double acc = 0;
        for (long i = base; i < base + win; i += 3)
            if (i + lag >= 0 && i + lag < n_ours)
                acc += at(ours, i + lag, 0) * at(ref, i, 0) + at(ours, i + lag, 1) * at(ref, i, 1);
        if (acc > best) best = acc, *lag_out = lag;
    }
    std::vector<double> snr;
    for (int c = 0; c < 2; ++c) {
        double sig = 0, err = 0;
        for (long i = 8192; i < n_ref; ++i) {  // past both decoders' start-up
            long j = i + *lag_out;
            if (j < 0 || j >= n_ours) continue;
            sig += at(ref, i, c) * at(ref, i, c);
            err += (at(ref, i, c) - at(ours, j, c)) * (at(ref, i, c) - at(ours, j, c));
        }
        snr.push_back(10 * std::log10(sig / std::max(err, 1e-9)));
    }
    return snr;
}

class PsStreams : public testing::TestWithParam<const char *> {};

TEST_P(PsStreams, MatchFloatReference) {
    std::filesystem::path file = vt::test::TestVector(std::string("aac/") + GetParam());
    if (file.empty()) GTEST_SKIP() << "test vectors absent";
    if (!vt::test::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    std::filesystem::path tool = vt::test::ToolPath();
    if (!std::filesystem::exists(tool)) GTEST_SKIP() << "vantrec-tool not built";
    vt::test::TempDir tmp;
    std::string err;
    std::string cmd = vt::test::Quote(tool.string()) + " decode-audio " +
                      vt::test::Quote(file.string()) + " " +
                      vt::test::Quote((tmp / "ours.wav").string()) + " 2>&1";
    ASSERT_EQ(vt::test::Run(cmd, &err), 0) << err;
    if (err.find("sbr=1") == std::string::npos) GTEST_SKIP() << "decoder without SBR: " << err;
    EXPECT_NE(err.find("ps=1"), std::string::npos) << err;
    int ours_ch = 0;
    std::vector<int16_t> ours = ReadWav(tmp / "ours.wav", &ours_ch);
    ASSERT_EQ(ours_ch, 2);
    std::string ref_cmd = "ffmpeg -v error -y -c:a aac -i " + vt::test::Quote(file.string()) +
                          " -ac 2 -f s16le -acodec pcm_s16le " +
                          vt::test::Quote((tmp / "ref.raw").string());
    ASSERT_EQ(vt::test::Run(ref_cmd), 0) << ref_cmd;
    std::vector<uint8_t> raw = vt::test::ReadFileBytes(tmp / "ref.raw");
    std::vector<int16_t> ref(raw.size() / 2);
    std::memcpy(ref.data(), raw.data(), ref.size() * 2);
    int lag = 0;
    std::vector<double> snr = AlignedSnr(ours, ref, &lag);
    // Not bit-exact between decoders, but ours agrees with the float reference at 88 dB or more
    // on all of these; 60 dB leaves room for rounding changes upstream, a real fault falls far
    // below.
    for (size_t c = 0; c < snr.size(); ++c)
        EXPECT_GE(snr[c], 60.0) << GetParam() << " channel " << c << " lag " << lag;
    std::printf("%s: lag %d, SNR %.1f / %.1f dB\n", GetParam(), lag, snr[0], snr[1]);
}

INSTANTIATE_TEST_SUITE_P(Conformance, PsStreams,
                         testing::Values("fate_al_sbr_ps_04_new.mp4", "fate_al_sbr_ps_06_new.mp4",
                                         "fate_tones_afconvert_16000_stereo_aac_he2.m4a",
                                         "fate_tones_afconvert_44100_stereo_aac_he2.m4a",
                                         "fate_tones_dolby_44100_stereo_aac_he2.mp4",
                                         "fate_tones_nero_16000_stereo_aac_he2.m4a",
                                         "fate_tones_nero_44100_stereo_aac_he2.m4a"),
                         [](const testing::TestParamInfo<const char *> &info) {
                             std::string s = info.param;
                             for (char &c : s)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return s;
                         });

}  // namespace e2e
