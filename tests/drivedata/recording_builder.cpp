#include "tests/drivedata/recording_builder.h"

#include <algorithm>
#include <cstring>

namespace vt::test {
namespace {

void AppendBe32(std::vector<uint8_t> *b, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) b->push_back(static_cast<uint8_t>(v >> s));
}

void AppendLe32(std::vector<uint8_t> *b, uint32_t v) {
    for (int s = 0; s < 32; s += 8) b->push_back(static_cast<uint8_t>(v >> s));
}

// A box with a flat payload.
std::vector<uint8_t> Leaf(const char *type, const std::vector<uint8_t> &payload) {
    std::vector<uint8_t> b;
    AppendBe32(&b, static_cast<uint32_t>(payload.size() + 8));
    b.insert(b.end(), type, type + 4);
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

std::vector<uint8_t> Leaf(const char *type, size_t zero_bytes) {
    return Leaf(type, std::vector<uint8_t>(zero_bytes, 0));
}

// A container box; reports where each child starts relative to the container's start.
std::vector<uint8_t> Container(const char *type, const std::vector<std::vector<uint8_t>> &kids,
                               std::vector<size_t> *child_at = nullptr) {
    std::vector<uint8_t> body;
    for (const auto &k : kids) {
        if (child_at) child_at->push_back(8 + body.size());
        body.insert(body.end(), k.begin(), k.end());
    }
    return Leaf(type, body);
}

std::vector<uint8_t> MediaTrak(const char *handler) {
    std::vector<uint8_t> hdlr(25, 0);
    std::memcpy(hdlr.data() + 8, handler, 4);
    auto stbl = Container("stbl", {Leaf("stsd", 16), Leaf("stts", 8), Leaf("stsc", 8),
                                   Leaf("stsz", 12), Leaf("stco", 8)});
    auto minf = Container("minf", {Leaf("vmhd", 12), Container("dinf", {Leaf("dref", 8)}), stbl});
    auto mdia = Container("mdia", {Leaf("mdhd", 24), Leaf("hdlr", hdlr), minf});
    return Container("trak", {Leaf("tkhd", 84), mdia});
}

}  // namespace

void PutBe32(std::vector<uint8_t> *bytes, uint64_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

void PutBe16(std::vector<uint8_t> *bytes, uint64_t at, uint16_t v) {
    (*bytes)[at] = static_cast<uint8_t>(v >> 8);
    (*bytes)[at + 1] = static_cast<uint8_t>(v);
}

std::vector<uint8_t> EncodeRecord(const SensorRecord &r) {
    std::vector<uint8_t> rec(131, 0);
    std::memcpy(rec.data(), r.text.data(), std::min<size_t>(r.text.size(), 20));
    std::memcpy(rec.data() + 20, r.second_field.data(),
                std::min<size_t>(r.second_field.size(), 17));
    PutBe32(&rec, 103, static_cast<uint32_t>(r.latitude));
    PutBe32(&rec, 107, static_cast<uint32_t>(r.longitude));
    for (int a = 0; a < 3; ++a) PutBe16(&rec, 114 + 2 * a, static_cast<uint16_t>(r.accel[a]));
    std::memcpy(rec.data() + 121, r.model.data(), std::min<size_t>(r.model.size(), 10));
    return rec;
}

RecordingLayout BuildRecording(const RecordingPlan &plan) {
    RecordingLayout out;
    std::vector<uint8_t> &f = out.bytes;
    auto ftyp =
        Leaf("ftyp", {'m', 'p', '4', '2', 0, 0, 0, 0, 'm', 'p', '4', '2', 'i', 's', 'o', 'm'});
    f.insert(f.end(), ftyp.begin(), ftyp.end());
    for (const char *t : {"free", "skip", "uuid"}) {
        auto b = Leaf(t, 8 + plan.extra_top_level);
        f.insert(f.end(), b.begin(), b.end());
    }

    // mdat: filler, then the records with filler between them.
    out.mdat_offset = f.size();
    std::vector<uint8_t> mdat_body(plan.filler_before, 0xAB);
    for (size_t i = 0; i < plan.records.size(); ++i) {
        if (i > 0) mdat_body.insert(mdat_body.end(), plan.filler_between, 0xCD);
        out.record_offsets.push_back(out.mdat_offset + 8 + mdat_body.size());
        auto rec = EncodeRecord(plan.records[i]);
        mdat_body.insert(mdat_body.end(), rec.begin(), rec.end());
    }
    auto mdat = Leaf("mdat", mdat_body);
    f.insert(f.end(), mdat.begin(), mdat.end());

    std::vector<int32_t> offsets;
    if (plan.override_offsets) {
        offsets = plan.chunk_offsets;
    } else {
        for (uint64_t o : out.record_offsets) offsets.push_back(static_cast<int32_t>(o));
    }
    std::vector<uint8_t> stco_payload;
    AppendBe32(&stco_payload, 0);
    AppendBe32(&stco_payload, static_cast<uint32_t>(offsets.size()));
    for (int32_t o : offsets) AppendBe32(&stco_payload, static_cast<uint32_t>(o));

    uint32_t n = static_cast<uint32_t>(plan.records.size());
    std::vector<uint8_t> stsz, stts, stsc;
    AppendBe32(&stsz, 0);
    AppendBe32(&stsz, 131);
    AppendBe32(&stsz, n);
    AppendBe32(&stts, 0);
    AppendBe32(&stts, 1);
    AppendBe32(&stts, n);
    AppendBe32(&stts, 100);
    AppendBe32(&stsc, 0);
    AppendBe32(&stsc, 1);
    AppendBe32(&stsc, 1);
    AppendBe32(&stsc, 1);
    AppendBe32(&stsc, 1);

    std::vector<size_t> stbl_at, minf_at, mdia_at, trak_at, moov_at;
    auto stbl = Container("stbl",
                          {Leaf("stsd", 24), Leaf("stts", stts), Leaf("stsc", stsc),
                           Leaf("stsz", stsz), Leaf("stco", stco_payload)},
                          &stbl_at);
    auto minf =
        Container("minf", {Leaf("nmhd", 4), Container("dinf", {Leaf("dref", 8)}), stbl}, &minf_at);
    std::vector<uint8_t> hdlr(25, 0);
    std::memcpy(hdlr.data() + 8, "data", 4);
    auto mdia = Container("mdia", {Leaf("mdhd", 24), Leaf("hdlr", hdlr), minf}, &mdia_at);
    auto trak = Container("trak", {Leaf("tkhd", 84), mdia}, &trak_at);
    auto moov = Container(
        "moov", {Leaf("mvhd", 100), Leaf("iods", 16), MediaTrak("vide"), MediaTrak("soun"), trak},
        &moov_at);
    out.moov_offset = f.size();
    out.data_trak_offset = out.moov_offset + moov_at[4];
    out.stco_offset = out.data_trak_offset + trak_at[1] + mdia_at[2] + minf_at[2] + stbl_at[4];
    f.insert(f.end(), moov.begin(), moov.end());
    return out;
}

std::vector<uint8_t> BuildBlockFile(const std::vector<BlockRecord> &records, uint32_t skip) {
    std::vector<uint8_t> f;
    AppendBe32(&f, 0x12345678);
    AppendLe32(&f, skip);
    f.insert(f.end(), skip + 4, 0x11);
    uint32_t length = static_cast<uint32_t>(101 + 36 * records.size());
    AppendLe32(&f, length);
    std::vector<uint8_t> block(length, 0);
    std::memcpy(block.data(), "BLOCK CAR TEXT", 14);
    std::memcpy(block.data() + 79, "20100307090500", 14);
    for (size_t j = 0; j < records.size(); ++j) {
        uint8_t *r = block.data() + 36 * j;
        r[101] = static_cast<uint8_t>(records[j].speed);
        for (int i = 0; i < 4; ++i) {
            r[104 + i] =
                static_cast<uint8_t>(static_cast<uint32_t>(records[j].latitude) >> (8 * i));
            r[108 + i] =
                static_cast<uint8_t>(static_cast<uint32_t>(records[j].longitude) >> (8 * i));
        }
        for (int a = 0; a < 3; ++a) {
            uint16_t v = static_cast<uint16_t>(records[j].accel[a]);
            r[114 + 2 * a] = static_cast<uint8_t>(v);
            r[115 + 2 * a] = static_cast<uint8_t>(v >> 8);
        }
    }
    f.insert(f.end(), block.begin(), block.end());
    return f;
}

}  // namespace vt::test
