#include "tests/aac/aac_test_util.h"

#include <cmath>
#include <complex>
#include <cstring>

#include "tests/common/testutil.h"

namespace aactest {

namespace {
bool Fatal(int32_t e) {
    return e == AACDEC_ERR_FATAL || (e > 0 && e < 4101) || e == AACDEC_ERR_FRAME_LENGTH;
}

void Append(Decoded *d, const AacDecParams &p, const std::vector<int16_t> &out, int written) {
    if (!d->channels) {
        d->channels = p.iChannels;
        d->rate = p.iSampleRate;
    }
    int ch = p.iChannels > 0 ? p.iChannels : 1;
    int n = written / (2 * ch);
    for (int i = 0; i < n; ++i)
        for (int c = 0; c < d->channels; ++c)
            d->pcm.push_back(out[(c < ch ? c : ch - 1) * AACDEC_CH1_OFFSET + i]);
}
}  // namespace

Decoder::Decoder(int format, int rate, int channels) {
    AacDecQueryMem(m_mem);
    for (auto &m : m_mem) {
        m_blocks.emplace_back(m.uSize);
        m.pMem = m_blocks.back().data();
    }
    m_params.iFormat = format;
    m_params.iSampleRate = rate;
    m_params.iChannels = channels;
    m_init = AacDecInit(AACDEC_VERSION, &m_handle, &m_params, m_mem);
}

Decoded DecodeStream(const std::vector<uint8_t> &data, int format) {
    Decoded d;
    Decoder dec(format);
    std::vector<int16_t> out(4096);
    size_t pos = 0;
    bool probed = false;
    while (pos < data.size()) {
        AacDecInBuf in = {static_cast<int32_t>(data.size() - pos),
                          static_cast<int32_t>(data.size() - pos), data.data() + pos};
        if (!probed) {
            int32_t e = AacDecProbe(dec.handle(), &dec.params(), &in);
            if (Fatal(e)) {
                if (dec.params().iBytesUsed <= 0) break;
                pos += static_cast<size_t>(dec.params().iBytesUsed);
                continue;
            }
            probed = true;
        }
        AacDecOutBuf ob = {0, 8192, out.data()};
        int32_t e = AacDecDecode(dec.handle(), &dec.params(), &in, &ob);
        d.codes.push_back(e);
        if (!Fatal(e)) {
            ++d.frames;
            Append(&d, dec.params(), out, ob.iBytesWritten);
        }
        if (dec.params().iBytesUsed <= 0) break;
        pos += static_cast<size_t>(dec.params().iBytesUsed);
    }
    return d;
}

Decoded DecodeUnits(const std::vector<std::vector<uint8_t>> &units, int rate, int channels) {
    Decoded d;
    Decoder dec(AACDEC_FORMAT_RAW, rate, channels);
    std::vector<int16_t> out(4096);
    for (const auto &u : units) {
        AacDecInBuf in = {static_cast<int32_t>(u.size()), static_cast<int32_t>(u.size()), u.data()};
        AacDecOutBuf ob = {0, 8192, out.data()};
        int32_t e = AacDecDecode(dec.handle(), &dec.params(), &in, &ob);
        d.codes.push_back(e);
        if (!Fatal(e)) {
            ++d.frames;
            Append(&d, dec.params(), out, ob.iBytesWritten);
        }
    }
    return d;
}

std::vector<std::vector<uint8_t>> SplitAdts(const std::vector<uint8_t> &a, int *rate,
                                            int *channels) {
    static const int kRates[12] = {96000, 88200, 64000, 48000, 44100, 32000,
                                   24000, 22050, 16000, 12000, 11025, 8000};
    std::vector<std::vector<uint8_t>> units;
    size_t pos = 0;
    while (pos + 7 <= a.size()) {
        if (a[pos] != 0xFF || (a[pos + 1] & 0xF6) != 0xF0) {
            ++pos;
            continue;
        }
        bool crc = !(a[pos + 1] & 1);
        int sfi = (a[pos + 2] >> 2) & 15;
        if (sfi < 12) *rate = kRates[sfi];
        *channels = ((a[pos + 2] & 1) << 2) | (a[pos + 3] >> 6);
        size_t len = (static_cast<size_t>(a[pos + 3] & 3) << 11) |
                     (static_cast<size_t>(a[pos + 4]) << 3) | (a[pos + 5] >> 5);
        size_t hdr = crc ? 9 : 7;
        if (len < hdr || pos + len > a.size()) break;
        units.emplace_back(a.begin() + static_cast<long>(pos + hdr),
                           a.begin() + static_cast<long>(pos + len));
        pos += len;
    }
    return units;
}

std::vector<int16_t> ReferenceDecode(const std::string &file, int *channels, bool stereo) {
    std::vector<int16_t> pcm;
    if (!vt::test::HaveProgram("ffmpeg")) return pcm;
    std::string out;
    std::string probe_cmd =
        "ffprobe -v error -select_streams a:0 -show_entries stream=channels -of csv=p=0 " +
        vt::test::Quote(file);
    if (vt::test::Run(probe_cmd, &out) != 0) return pcm;
    *channels = stereo ? 2 : std::atoi(out.c_str());
    vt::test::TempDir tmp;
    auto raw = tmp / "ref.s16";
    std::string cmd = "ffmpeg -v error -y -i " + vt::test::Quote(file) + (stereo ? " -ac 2" : "") +
                      " -f s16le -acodec pcm_s16le " + vt::test::Quote(raw.string());
    if (vt::test::Run(cmd) != 0) return pcm;
    auto bytes = vt::test::ReadFileBytes(raw);
    pcm.resize(bytes.size() / 2);
    std::memcpy(pcm.data(), bytes.data(), pcm.size() * 2);
    return pcm;
}

Comparison Compare(const std::vector<int16_t> &ours, const std::vector<int16_t> &ref, int channels,
                   int ref_channels, int ref_channel) {
    if (ref_channels < 0) ref_channels = channels;
    Comparison best;
    best.max_diff = INT32_MAX;
    for (int off = 0; off <= 2; ++off) {
        size_t ref_frames = ref.size() / static_cast<size_t>(ref_channels);
        size_t our_frames = ours.size() / static_cast<size_t>(channels);
        size_t start = static_cast<size_t>(off) * 1024;
        if (ref_frames <= start) continue;
        size_t n = std::min(our_frames, ref_frames - start);
        Comparison c;
        c.offset_frames = off;
        c.compared = n;
        double se = 0, sp = 0;
        for (size_t i = 0; i < n; ++i) {
            for (int ch = 0; ch < channels; ++ch) {
                int rc = ref_channel >= 0 ? ref_channel : ch;
                int a = ours[i * static_cast<size_t>(channels) + static_cast<size_t>(ch)];
                int b =
                    ref[(start + i) * static_cast<size_t>(ref_channels) + static_cast<size_t>(rc)];
                int d = std::abs(a - b);
                if (d > c.max_diff) c.max_diff = d;
                se += static_cast<double>(d) * d;
                sp += static_cast<double>(b) * b;
            }
        }
        c.rms = n ? std::sqrt(sp / static_cast<double>(n * static_cast<size_t>(channels))) : 0;
        c.snr_db = se > 0 ? 10 * std::log10(sp / se) : 200;
        if (c.max_diff < best.max_diff) best = c;
    }
    return best;
}

std::vector<double> BandEnergiesDb(const std::vector<int16_t> &pcm, int channels, int c, int rate) {
    const int n = 2048;
    std::vector<double> edges;
    for (double f = 100; f < rate / 2.0; f *= 1.2599) edges.push_back(f);
    std::vector<double> energy(edges.size(), 0);
    size_t frames = pcm.size() / static_cast<size_t>(channels);
    std::vector<std::complex<double>> x(n);
    for (size_t s = 0; s + n <= frames; s += n) {
        for (int i = 0; i < n; ++i)
            x[i] = pcm[(s + static_cast<size_t>(i)) * static_cast<size_t>(channels) +
                       static_cast<size_t>(c)];
        // Iterative radix-2 FFT.
        for (int i = 1, j = 0; i < n; ++i) {
            int bit = n >> 1;
            for (; j & bit; bit >>= 1) j ^= bit;
            j ^= bit;
            if (i < j) std::swap(x[i], x[j]);
        }
        for (int len = 2; len <= n; len <<= 1) {
            std::complex<double> wl = std::polar(1.0, -2 * M_PI / len);
            for (int i = 0; i < n; i += len) {
                std::complex<double> w = 1;
                for (int k = 0; k < len / 2; ++k, w *= wl) {
                    auto u = x[i + k], v = x[i + k + len / 2] * w;
                    x[i + k] = u + v;
                    x[i + k + len / 2] = u - v;
                }
            }
        }
        for (int k = 1; k < n / 2; ++k) {
            double f = static_cast<double>(k) * rate / n;
            for (size_t b = 0; b + 1 < edges.size(); ++b)
                if (f >= edges[b] && f < edges[b + 1]) energy[b] += std::norm(x[k]);
        }
    }
    std::vector<double> db;
    for (size_t b = 0; b + 1 < edges.size(); ++b)
        db.push_back(energy[b] > 0 ? 10 * std::log10(energy[b]) : -1000);
    return db;
}

}  // namespace aactest
