#pragma once
// Builds small MP4 files in memory for reader tests, including deliberately broken ones.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace vt::test {

using Bytes = std::vector<uint8_t>;

inline void Put8(Bytes &b, uint32_t v) { b.push_back(uint8_t(v)); }
inline void Put16(Bytes &b, uint32_t v) {
    Put8(b, v >> 8);
    Put8(b, v);
}
inline void Put32(Bytes &b, uint32_t v) {
    Put16(b, v >> 16);
    Put16(b, v);
}
inline void Put64(Bytes &b, uint64_t v) {
    Put32(b, uint32_t(v >> 32));
    Put32(b, uint32_t(v));
}
inline void PutText(Bytes &b, const std::string &s) { b.insert(b.end(), s.begin(), s.end()); }
inline void Append(Bytes &b, const Bytes &c) { b.insert(b.end(), c.begin(), c.end()); }

inline Bytes Box(const std::string &type, const Bytes &payload) {
    Bytes b;
    Put32(b, uint32_t(payload.size() + 8));
    PutText(b, type);
    Append(b, payload);
    return b;
}

inline Bytes FullBox(const std::string &type, uint32_t version_flags, const Bytes &payload) {
    Bytes p;
    Put32(p, version_flags);
    Append(p, payload);
    return Box(type, p);
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes b;
    for (const Bytes &p : parts) Append(b, p);
    return b;
}

// One track of a synthetic file: its samples are filled with a pattern that names the sample.
struct TrackSpec {
    std::string handler = "vide";  // vide, soun, or sdsm for the camera's data track
    uint32_t timescale = 1000;
    std::vector<uint32_t> deltas;  // one per sample
    std::vector<uint32_t> sizes;   // one per sample
    std::vector<uint32_t> sync;    // 1-based sample numbers; empty = no stss box
    uint32_t samples_per_chunk = 1;
    uint32_t esds_object_type = 0x20;
    uint32_t buffer_size = 0;
    uint32_t bitrate = 0;
    Bytes config;
    uint8_t fill = 0;  // payload byte i of sample k is fill + k + i
};

inline uint8_t PatternByte(const TrackSpec &t, size_t sample, size_t i) {
    return uint8_t(t.fill + sample * 13 + i);
}

inline Bytes Esds(uint32_t object_type, uint32_t buffer_size, uint32_t bitrate,
                  const Bytes &config) {
    Bytes dsi;
    Put8(dsi, 5);
    Put8(dsi, uint32_t(config.size()));
    Append(dsi, config);
    Bytes dcd;
    Put8(dcd, object_type);
    Put8(dcd, 0x11);
    Put8(dcd, buffer_size >> 16);
    Put16(dcd, buffer_size & 0xFFFF);
    Put32(dcd, bitrate);
    Put32(dcd, bitrate);
    Append(dcd, dsi);
    Bytes es;
    Put16(es, 1);
    Put8(es, 0);
    Put8(es, 4);
    Put8(es, uint32_t(dcd.size()));
    Append(es, dcd);
    Bytes p;
    Put8(p, 3);
    Put8(p, uint32_t(es.size()));
    Append(p, es);
    return FullBox("esds", 0, p);
}

struct FileSpec {
    bool ftyp = true;         // false: the file starts with mdat
    bool large_mdat = false;  // mdat with a 64-bit size field
    bool co64 = false;        // 64-bit chunk offsets
};

// ftyp, mdat (all payloads, chunk by chunk, tracks interleaved), moov.
inline Bytes BuildMp4(const std::vector<TrackSpec> &tracks, FileSpec file = {}) {
    Bytes ftyp =
        file.ftyp ? Box("ftyp",
                        Concat({Bytes{'i', 's', 'o', 'm', 0, 0, 2, 0}, Bytes{'i', 's', 'o', 'm'}}))
                  : Bytes{};
    // Lay out chunks: interleave one chunk of each track in turn.
    std::vector<std::vector<uint32_t>> chunk_offsets(tracks.size());
    Bytes mdat;
    size_t mdat_header = ftyp.size() + (file.large_mdat ? 16 : 8);
    std::vector<size_t> next(tracks.size(), 0);
    bool more = true;
    while (more) {
        more = false;
        for (size_t t = 0; t < tracks.size(); ++t) {
            const TrackSpec &spec = tracks[t];
            if (next[t] >= spec.sizes.size()) continue;
            more = true;
            chunk_offsets[t].push_back(uint32_t(mdat_header + mdat.size()));
            for (uint32_t k = 0; k < spec.samples_per_chunk && next[t] < spec.sizes.size();
                 ++k, ++next[t])
                for (uint32_t i = 0; i < spec.sizes[next[t]]; ++i)
                    mdat.push_back(PatternByte(spec, next[t], i));
        }
    }
    Bytes moov_children;
    uint64_t longest = 0;
    for (size_t t = 0; t < tracks.size(); ++t) {
        const TrackSpec &s = tracks[t];
        uint64_t duration = 0;
        for (uint32_t d : s.deltas) duration += d;
        longest = std::max<uint64_t>(longest, duration * 1000 / s.timescale);
        Bytes tkhd;
        Put32(tkhd, 0);
        Put32(tkhd, 0);
        Put32(tkhd, uint32_t(t + 1));
        Put32(tkhd, 0);
        Put32(tkhd, uint32_t(duration * 1000 / s.timescale));
        tkhd.resize(tkhd.size() + 60, 0);
        Bytes mdhd;
        Put32(mdhd, 0);
        Put32(mdhd, 0);
        Put32(mdhd, s.timescale);
        Put32(mdhd, uint32_t(duration));
        Put32(mdhd, 0);
        Bytes hdlr;
        Put32(hdlr, 0);
        PutText(hdlr, s.handler);
        hdlr.resize(hdlr.size() + 12, 0);
        PutText(hdlr, s.handler == "sdsm" ? "RTNVdata" : "handler");
        Put8(hdlr, 0);
        Bytes entry;
        entry.resize(6, 0);
        Put16(entry, 1);
        std::string format;
        Bytes header;
        if (s.handler == "vide") {
            format = "mp4v";
            header.resize(16, 0);
            Put16(header, 320);
            Put16(header, 240);
            header.resize(header.size() + 50, 0);
        } else if (s.handler == "soun") {
            format = "mp4a";
            header.resize(8, 0);
            Put16(header, 2);
            Put16(header, 16);
            Put16(header, 0);
            Put16(header, 0);
            Put16(header, s.timescale);
            Put16(header, 0);
        } else {
            format = "mp4s";
        }
        Append(entry, header);
        Append(entry, Esds(s.esds_object_type, s.buffer_size, s.bitrate, s.config));
        Bytes stsd;
        Put32(stsd, 1);
        Append(stsd, Box(format, entry));
        Bytes stts;
        std::vector<std::pair<uint32_t, uint32_t>> runs;
        for (uint32_t d : s.deltas) {
            if (!runs.empty() && runs.back().second == d) ++runs.back().first;
            else runs.push_back({1, d});
        }
        Put32(stts, uint32_t(runs.size()));
        for (auto &r : runs) {
            Put32(stts, r.first);
            Put32(stts, r.second);
        }
        Bytes stsc;
        Put32(stsc, 1);
        Put32(stsc, 1);
        Put32(stsc, s.samples_per_chunk);
        Put32(stsc, 1);
        Bytes stsz;
        Put32(stsz, 0);
        Put32(stsz, uint32_t(s.sizes.size()));
        for (uint32_t z : s.sizes) Put32(stsz, z);
        Bytes stco;
        Put32(stco, uint32_t(chunk_offsets[t].size()));
        for (uint32_t o : chunk_offsets[t]) {
            if (file.co64) Put64(stco, o);
            else Put32(stco, o);
        }
        Bytes stbl =
            Concat({FullBox("stsd", 0, stsd), FullBox("stts", 0, stts), FullBox("stsc", 0, stsc),
                    FullBox("stsz", 0, stsz), FullBox(file.co64 ? "co64" : "stco", 0, stco)});
        if (!s.sync.empty()) {
            Bytes stss;
            Put32(stss, uint32_t(s.sync.size()));
            for (uint32_t n : s.sync) Put32(stss, n);
            Append(stbl, FullBox("stss", 0, stss));
        }
        Bytes media_header = s.handler == "vide"   ? FullBox("vmhd", 1, Bytes(8, 0))
                             : s.handler == "soun" ? FullBox("smhd", 0, Bytes(4, 0))
                                                   : FullBox("nmhd", 0, {});
        Bytes minf = Box("minf", Concat({media_header, Box("stbl", stbl)}));
        Bytes mdia =
            Box("mdia", Concat({FullBox("mdhd", 0, mdhd), FullBox("hdlr", 0, hdlr), minf}));
        Append(moov_children, Box("trak", Concat({FullBox("tkhd", 7, tkhd), mdia})));
    }
    Bytes mvhd;
    Put32(mvhd, 0);
    Put32(mvhd, 0);
    Put32(mvhd, 1000);
    Put32(mvhd, uint32_t(longest));
    mvhd.resize(mvhd.size() + 80, 0);
    Bytes moov = Box("moov", Concat({FullBox("mvhd", 0, mvhd), moov_children}));
    Bytes mdat_box;
    if (file.large_mdat) {
        Put32(mdat_box, 1);
        PutText(mdat_box, "mdat");
        Put64(mdat_box, mdat.size() + 16);
        Append(mdat_box, mdat);
    } else {
        mdat_box = Box("mdat", mdat);
    }
    return Concat({ftyp, mdat_box, moov});
}

}  // namespace vt::test
