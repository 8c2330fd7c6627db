// Build-time generator for the decoder's constant tables: Huffman lookup tables, window halves,
// transform twiddles, |q|^(4/3), quarter-step gains and TNS coefficients, all as integers. Floating
// point is used here only; the decoder itself reads the emitted constants.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "codec/aac/gen/huffman_codes.h"

namespace {

constexpr int kRootBits = 9;

FILE *g_out = nullptr;

int32_t ToQ(double v, int frac_bits) {
    double s = std::ldexp(v, frac_bits);
    double r = std::floor(s + 0.5);
    if (r > 2147483647.0) r = 2147483647.0;
    if (r < -2147483648.0) r = -2147483648.0;
    return static_cast<int32_t>(r);
}

void EmitArray(const char *type, const char *name, const std::vector<int64_t> &v) {
    std::fprintf(g_out, "extern const %s %s[%zu];\nconst %s %s[%zu] = {", type, name, v.size(),
                 type, name, v.size());
    for (size_t i = 0; i < v.size(); ++i) {
        if (i % 8 == 0) std::fprintf(g_out, "\n   ");
        std::fprintf(g_out, " %lld,", static_cast<long long>(v[i]));
    }
    std::fprintf(g_out, "\n};\n\n");
}

// Value carried by a leaf: the unpacked coefficients of a spectral index, or the scale-factor index.
uint32_t LeafPayload(int book, int index) {
    if (book == 0) return static_cast<uint32_t>(index);
    if (book <= 4) {
        bool is_signed = book <= 2;
        uint32_t packed = 0;
        int rem = index;
        int vals[4];
        for (int i = 3; i >= 0; --i) {
            vals[i] = rem % 3;
            rem /= 3;
        }
        for (int i = 0; i < 4; ++i) {
            int v = is_signed ? vals[i] - 1 : vals[i];
            packed |= static_cast<uint32_t>(v & 0xF) << (4 * (3 - i));
        }
        return packed;
    }
    int mod = book <= 6 ? 9 : book <= 8 ? 8 : book <= 10 ? 13 : 17;
    bool is_signed = book <= 6;
    int a = index / mod, b = index % mod;
    if (is_signed) {
        a -= 4;
        b -= 4;
    }
    return (static_cast<uint32_t>(a & 0xFF) << 8) | static_cast<uint32_t>(b & 0xFF);
}

// Two-level lookup: a root table indexed by the next kRootBits bits, and for longer codes a
// subtable indexed by the following bits. Leaf: length in bits 24..28, payload in bits 0..15.
// Link: bit 31 set, subtable width in bits 24..28, subtable start (relative to the book) in 0..15.
bool BuildBook(int book, std::vector<uint32_t> *out) {
    const aacgen::CodeBook &cb = aacgen::kBooks[book];
    // Completeness and prefix-freedom: the Kraft sum of a complete prefix code is exactly 1.
    double kraft = 0;
    for (int i = 0; i < cb.count; ++i) kraft += std::ldexp(1.0, -cb.lengths[i]);
    if (std::fabs(kraft - 1.0) > 1e-12) {
        std::fprintf(stderr, "book %d: Kraft sum %.15f\n", book, kraft);
        return false;
    }
    std::vector<uint32_t> root(1u << kRootBits, 0);
    std::vector<int> sub_width(1u << kRootBits, 0);
    for (int i = 0; i < cb.count; ++i) {
        int len = cb.lengths[i];
        if (len > kRootBits) {
            uint32_t prefix = cb.codes[i] >> (len - kRootBits);
            if (len - kRootBits > sub_width[prefix]) sub_width[prefix] = len - kRootBits;
        }
    }
    std::vector<uint32_t> table(root.size(), 0);
    std::vector<uint32_t> filled(root.size(), 0);
    for (uint32_t p = 0; p < root.size(); ++p) {
        if (sub_width[p] == 0) continue;
        uint32_t start = static_cast<uint32_t>(table.size());
        table.resize(table.size() + (1u << sub_width[p]), 0);
        filled.resize(table.size(), 0);
        table[p] = 0x80000000u | (static_cast<uint32_t>(sub_width[p]) << 24) | start;
        filled[p] = 1;
    }
    for (int i = 0; i < cb.count; ++i) {
        int len = cb.lengths[i];
        uint32_t code = cb.codes[i];
        uint32_t payload = LeafPayload(book, i);
        if (len <= kRootBits) {
            uint32_t first = code << (kRootBits - len);
            for (uint32_t k = 0; k < (1u << (kRootBits - len)); ++k) {
                if (filled[first + k]) {
                    std::fprintf(stderr, "book %d: overlapping code %d\n", book, i);
                    return false;
                }
                table[first + k] = (static_cast<uint32_t>(len) << 24) | payload;
                filled[first + k] = 1;
            }
        } else {
            uint32_t prefix = code >> (len - kRootBits);
            int w = sub_width[prefix];
            uint32_t start = table[prefix] & 0xFFFF;
            int rest = len - kRootBits;
            uint32_t low = code & ((1u << rest) - 1);
            uint32_t first = low << (w - rest);
            for (uint32_t k = 0; k < (1u << (w - rest)); ++k) {
                if (filled[start + first + k]) {
                    std::fprintf(stderr, "book %d: overlapping long code %d\n", book, i);
                    return false;
                }
                table[start + first + k] = (static_cast<uint32_t>(rest) << 24) | payload;
                filled[start + first + k] = 1;
            }
        }
    }
    for (size_t k = 0; k < table.size(); ++k) {
        if (!filled[k]) {
            std::fprintf(stderr, "book %d: hole at %zu\n", book, k);
            return false;
        }
    }
    *out = table;
    return true;
}

double BesselI0(double x) {
    double sum = 1, term = 1;
    for (int k = 1; k < 60; ++k) {
        term *= (x / (2 * k)) * (x / (2 * k));
        sum += term;
    }
    return sum;
}

// Rising half of the Kaiser-Bessel-derived window of length n with parameter alpha.
std::vector<int64_t> KbdHalf(int n, double alpha) {
    int half = n / 2;
    std::vector<double> w(half + 1);
    double total = 0;
    for (int j = 0; j <= half; ++j) {
        double r = (j - n / 4.0) / (n / 4.0);
        w[j] = BesselI0(M_PI * alpha * std::sqrt(std::max(0.0, 1 - r * r)));
        total += w[j];
    }
    std::vector<int64_t> out(half);
    double acc = 0;
    for (int i = 0; i < half; ++i) {
        acc += w[i];
        out[i] = ToQ(std::sqrt(acc / total), 31);
    }
    return out;
}

std::vector<int64_t> SineHalf(int n) {
    std::vector<int64_t> out(n / 2);
    for (int i = 0; i < n / 2; ++i) out[i] = ToQ(std::sin(M_PI / n * (i + 0.5)), 31);
    return out;
}

// Interleaved cos/sin pairs of angle(k) for k < count.
template <class F>
std::vector<int64_t> Rotations(int count, F angle) {
    std::vector<int64_t> out;
    for (int k = 0; k < count; ++k) {
        double a = angle(k);
        out.push_back(ToQ(std::cos(a), 31));
        out.push_back(ToQ(std::sin(a), 31));
    }
    return out;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: gen_tables OUT.cpp\n");
        return 1;
    }
    g_out = std::fopen(argv[1], "w");
    if (!g_out) return 1;
    std::fprintf(g_out,
                 "// Generated at build time by codec/aac/gen/gen_tables.cpp; do not edit.\n");
    std::fprintf(g_out, "#include <cstdint>\n\nnamespace aacdec {\n\n");

    std::vector<int64_t> all;
    std::vector<int64_t> starts;
    for (int b = 0; b < 12; ++b) {
        std::vector<uint32_t> t;
        if (!BuildBook(b, &t)) return 1;
        starts.push_back(static_cast<int64_t>(all.size()));
        for (uint32_t v : t) all.push_back(v);
    }
    EmitArray("uint32_t", "kHuffTables", all);
    EmitArray("uint16_t", "kHuffStart", starts);

    EmitArray("int32_t", "kSineLong", SineHalf(2048));
    EmitArray("int32_t", "kSineShort", SineHalf(256));
    EmitArray("int32_t", "kKbdLong", KbdHalf(2048, 4.0));
    EmitArray("int32_t", "kKbdShort", KbdHalf(256, 6.0));

    // Pre- and post-rotations of the DCT-IV behind the IMDCT, for 1024 and 128 coefficients.
    EmitArray("int32_t", "kPreRotLong",
              Rotations(512, [](int k) { return M_PI * (k + 0.25) / 1024; }));
    EmitArray("int32_t", "kPostRotLong", Rotations(512, [](int k) { return M_PI * k / 1024.0; }));
    EmitArray("int32_t", "kPreRotShort",
              Rotations(64, [](int k) { return M_PI * (k + 0.25) / 128; }));
    EmitArray("int32_t", "kPostRotShort", Rotations(64, [](int k) { return M_PI * k / 128.0; }));
    // Pre-rotation of the 64-value DCT-IV of the SBR synthesis bank (the conjugate of the
    // IMDCT's, since the QMF FFT turns the other way); its post-rotation is the QMF twiddles.
    EmitArray("int32_t", "kQmfDct4Pre",
              Rotations(32, [](int k) { return M_PI * (k + 0.25) / 64; }));
    // FFT twiddles for 512 points; the 64-point transform steps through them by 8.
    EmitArray("int32_t", "kFftTwiddle", Rotations(256, [](int k) { return 2 * M_PI * k / 512; }));

    // |q|^(4/3): Q17 below 1024, Q13 from 1024 to 8192.
    std::vector<int64_t> pow43(8193);
    for (int q = 0; q <= 8192; ++q) pow43[q] = ToQ(std::pow(q, 4.0 / 3.0), q < 1024 ? 17 : 13);
    EmitArray("int32_t", "kPow43", pow43);

    std::vector<int64_t> quarter(4);
    for (int r = 0; r < 4; ++r) quarter[r] = ToQ(std::pow(2.0, r / 4.0), 30);
    EmitArray("int32_t", "kPow2Quarter", quarter);

    // TNS reflection coefficients indexed by (signed coefficient + 8) for 3- and 4-bit resolution.
    for (int res = 3; res <= 4; ++res) {
        double iq = ((1 << (res - 1)) - 0.5) / (M_PI / 2);
        double iqm = ((1 << (res - 1)) + 0.5) / (M_PI / 2);
        std::vector<int64_t> t(16, 0);
        for (int c = -8; c < 8; ++c) t[c + 8] = ToQ(std::sin(c / (c >= 0 ? iq : iqm)), 31);
        EmitArray("int32_t", res == 3 ? "kTnsCoef3" : "kTnsCoef4", t);
    }

    std::fprintf(g_out, "}  // namespace aacdec\n");
    std::fclose(g_out);
    return 0;
}
