// The media-data scanner: finds the camera's 100 ms stretches by their sensor records and reads
// the pictures and sound frames of each with our own decoders.
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "codec/aac/aacdec.h"
#include "codec/mpeg4v/mpeg4v.h"
#include "engine/io/file.h"
#include "engine/reader/reader.h"
#include "engine/repair/repair.h"

namespace {

// A stretch longer than this without a sensor record is damage, not 100 ms of media.
constexpr size_t kMaxStretch = 8u << 20;
constexpr size_t kWindow = 24u << 20;
constexpr uint32_t kMaxPicture = 4096;
constexpr size_t kCarInfoSize = 79;

// --- where the bytes come from ---------------------------------------------------------------

class Source {
public:
    virtual ~Source() = default;
    // The bytes [pos, pos + *got) with *got <= want, clamped to the end; null on a read error.
    virtual const uint8_t *Get(int64_t pos, size_t want, size_t *got) = 0;
    int64_t end = 0;
};

class MemorySource final : public Source {
public:
    MemorySource(const uint8_t *data, size_t size, int64_t base) : m_data(data), m_base(base) {
        end = base + int64_t(size);
    }
    const uint8_t *Get(int64_t pos, size_t want, size_t *got) override {
        *got = size_t(std::min<int64_t>(int64_t(want), std::max<int64_t>(0, end - pos)));
        return m_data + (pos - m_base);
    }

private:
    const uint8_t *m_data;
    int64_t m_base;
};

// A window over the file that slides forward; only the part being scanned is in memory.
class FileSource final : public Source {
public:
    FileSource(FileObj *f, int64_t start, int64_t stop) : m_file(f) {
        end = stop;
        m_pos = start;
    }
    const uint8_t *Get(int64_t pos, size_t want, size_t *got) override {
        want = size_t(std::min<int64_t>(int64_t(want), std::max<int64_t>(0, end - pos)));
        if (pos < m_pos || pos + int64_t(want) > m_pos + int64_t(m_buf.size())) {
            size_t n = size_t(std::min<int64_t>(int64_t(std::max(want, kWindow)), end - pos));
            m_buf.resize(n);
            size_t done = 0;
            while (done < n) {
                uint32_t step = uint32_t(std::min<size_t>(n - done, 1u << 30));
                int32_t r = FileReadAt(m_file, pos + int64_t(done), m_buf.data() + done, step);
                if (r < 0) return nullptr;
                if (r == 0) break;  // the file got shorter under us: scan what is there
                done += size_t(r);
            }
            m_buf.resize(done);
            m_pos = pos;
            if (done < n) end = pos + int64_t(done);
            want = std::min(want, done);
        }
        *got = want;
        return m_buf.data() + (pos - m_pos);
    }

private:
    FileObj *m_file;
    std::vector<uint8_t> m_buf;
    int64_t m_pos = 0;
};

// --- the decoders that tell where a sample ends ----------------------------------------------

class VideoProbe {
public:
    ~VideoProbe() {
        if (m_dec) Mp4vDecRelease(m_dec, m_mem);
    }
    bool Start(const std::vector<uint8_t> &config, bool short_header, int width, int height) {
        m_config = config;
        uint32_t w = uint32_t(std::clamp(width, 16, int(kMaxPicture)) + 15) & ~15u;
        uint32_t h = uint32_t(std::clamp(height, 16, int(kMaxPicture)) + 15) & ~15u;
        size_t y = size_t(w) * h + 16, c = size_t(w / 2) * (h / 2) + 16;
        m_frames.assign(3 * (y + 2 * c), 0);
        for (int i = 0; i < 3; ++i) {
            uint8_t *base = m_frames.data() + size_t(i) * (y + 2 * c);
            m_bufs[i] = Mp4vDecFrmBuffer{base, base + y, base + y + c, 0};
        }
        m_info = Mp4vDecConfigInfo{};
        m_info.pConfigData = m_config.empty() ? nullptr : m_config.data();
        m_info.uConfigDataLen = uint32_t(m_config.size());
        m_info.iIsShortHdrMode = short_header ? 1 : 0;
        m_info.iLowDelay = 1;
        Mp4vDecConfig cfg{&m_info, m_bufs, 3, w, h, nullptr};
        Mp4vDecQueryMem(&cfg, m_mem);
        for (int i = 0; i < 4; ++i) {
            m_blocks[i].assign(m_mem[i].uSize, 0);
            m_mem[i].pBlock = m_blocks[i].data();
        }
        int32_t is_short = 0;
        Mp4vDecInitResult res{&is_short, 0, 0};
        m_dec = Mp4vDecInit(m_mem, &cfg, &res);
        return m_dec != nullptr;
    }
    // Decodes the picture at p; the bytes it took, or 0 when it gave no picture. A picture cut
    // off by the end of the buffer takes all of it, like one that fills it exactly.
    uint32_t Picture(const uint8_t *p, uint32_t n, bool *intra) {
        Mp4vDecInput in{0, p, n, 1, 0, 0};
        int32_t info[2] = {-1, 0};
        Mp4vDecOutput out{};
        out.piPicInfo = info;
        uint32_t used = Mp4vDecDecode(m_dec, &in, &out);
        if (!out.pY || used == 0 || used > n) return 0;
        *intra = info[0] == 0;
        return used;
    }
    int32_t TimeResolution() const {
        // The decoder keeps its stream header record at the start of block 3, 8-byte aligned.
        if (!m_dec) return 0;
        uintptr_t p = (reinterpret_cast<uintptr_t>(m_mem[3].pBlock) + 7) & ~uintptr_t{7};
        return reinterpret_cast<const Mp4vStreamInfo *>(p)->iTimeIncrementResolution;
    }

private:
    void *m_dec = nullptr;
    std::vector<uint8_t> m_config, m_frames, m_blocks[4];
    Mp4vDecFrmBuffer m_bufs[3];
    Mp4vDecConfigInfo m_info{};
    Mp4vDecMemBlock m_mem[4] = {};
};

class AudioProbe {
public:
    ~AudioProbe() {
        if (m_handle) AacDecReset(m_handle);
    }
    bool Start(const std::vector<uint8_t> &config) {
        AacDecConfig cfg{};
        if (AacDecParseConfig(config.data(), int32_t(config.size()), &cfg) != 0) return false;
        AacDecQueryMem(m_mem);
        for (int i = 0; i < AACDEC_NUM_MEM_BLOCKS; ++i) {
            m_blocks[i].assign(m_mem[i].uSize + 16, 0);
            uintptr_t p = (reinterpret_cast<uintptr_t>(m_blocks[i].data()) + 15) & ~uintptr_t{15};
            m_mem[i].pMem = reinterpret_cast<void *>(p);
        }
        m_params = AacDecParams{};
        m_params.iSampleRate = cfg.iSampleRate;
        m_params.iChannels = cfg.iChannels ? cfg.iChannels : 2;
        m_params.iFormat = AACDEC_FORMAT_RAW;
        if (AacDecInit(AACDEC_VERSION, &m_handle, &m_params, m_mem) != 0) return false;
        AacDecSetFrameLength(m_handle, cfg.iFrameLength);
        AacDecApplyConfig(m_handle, config.data(), int32_t(config.size()));
        m_pcm.assign(AACDEC_MIN_OUT_BYTES / 2 * 2, 0);
        return true;
    }
    // The length of the frame at p, or 0 when no whole frame reads cleanly there.
    uint32_t Frame(const uint8_t *p, uint32_t n) {
        AacDecInBuf in{int32_t(std::min<uint32_t>(n, 0x7FFFFFFF)),
                       int32_t(std::min<uint32_t>(n, 0x7FFFFFFF)), p};
        AacDecOutBuf out{0, int32_t(m_pcm.size() * 2), m_pcm.data()};
        int32_t e = AacDecDecode(m_handle, &m_params, &in, &out);
        if (e != AACDEC_OK || m_params.iBytesUsed <= 0 || uint32_t(m_params.iBytesUsed) > n)
            return 0;
        return uint32_t(m_params.iBytesUsed);
    }

private:
    AacDecHandle m_handle = nullptr;
    AacDecParams m_params{};
    AacDecMemBlock m_mem[AACDEC_NUM_MEM_BLOCKS] = {};
    std::vector<uint8_t> m_blocks[AACDEC_NUM_MEM_BLOCKS];
    std::vector<int16_t> m_pcm;
};

// --- the scanner -------------------------------------------------------------------------------

bool IsStartCode(const uint8_t *p, size_t n, size_t i, bool short_header) {
    if (i + 4 > n || p[i] != 0 || p[i + 1] != 0) return false;
    return short_header ? (p[i + 2] & 0xFC) == 0x80 : p[i + 2] == 1;
}

// The headers in front of the first picture (visual object sequence, object layer): the video
// set-up as the camera wrote it into the file itself.
std::vector<uint8_t> LeadingHeaders(const uint8_t *p, size_t n) {
    for (size_t i = 0; i + 4 <= n; ++i)
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1 && (p[i + 3] == 0xB3 || p[i + 3] == 0xB6))
            return std::vector<uint8_t>(p, p + i);
    return {};
}

bool HasObjectLayer(const std::vector<uint8_t> &c) {
    for (size_t i = 0; i + 4 <= c.size(); ++i)
        if (c[i] == 0 && c[i + 1] == 0 && c[i + 2] == 1 && c[i + 3] >= 0x20 && c[i + 3] <= 0x2F)
            return true;
    return false;
}

// A record opens with the car information: text fields padded with zero bytes.
bool TextBlock(const uint8_t *r) {
    for (size_t i = 0; i < kCarInfoSize; ++i)
        if (r[i] != 0 && (r[i] < 0x20 || r[i] > 0x7E)) return false;
    return true;
}

class Scanner {
public:
    Scanner(Source *src, const RepairLayout *reference, RepairScan *out) : m_src(src), m_out(out) {
        out->with_reference = reference != nullptr;
        if (reference) out->layout = *reference;
        m_model = out->layout.model_id;
        m_record =
            std::max<uint32_t>(out->layout.record_size, kRepairModelIdOffset + kRepairModelIdSize);
    }

    MeResult Run(int64_t start) {
        int64_t pos = start;
        while (pos < m_src->end) {
            size_t got = 0;
            const uint8_t *p = m_src->Get(pos, kMaxStretch + m_record, &got);
            if (!p) return ME_ERR_FILE_IO;
            if (got == 0) break;
            size_t rec = FindRecord(p, got);
            if (rec != SIZE_MAX) {
                if (!Stretch(p, rec, pos, false)) return ME_ERR_MEMORY;
                m_out->samples[REPAIR_DATA].push_back({pos + int64_t(rec), m_record, 1});
                pos += int64_t(rec + m_record);
            } else if (pos + int64_t(got) >= m_src->end) {
                if (!Stretch(p, got, pos, true)) return ME_ERR_MEMORY;
                break;
            } else {
                // No record in a whole window: damage. Look for the next one past it.
                ++m_out->damaged_stretches;
                pos += int64_t(got - m_record);
            }
        }
        return ME_OK;
    }

private:
    size_t FindRecord(const uint8_t *p, size_t n) const {
        const size_t id = kRepairModelIdOffset;
        if (n < m_record) return SIZE_MAX;
        const uint8_t *from = p + id;
        size_t left = n - id;
        while (left >= m_model.size()) {
            const void *hit = memmem(from, left, m_model.data(), m_model.size());
            if (!hit) return SIZE_MAX;
            size_t at = size_t(static_cast<const uint8_t *>(hit) - p) - id;
            if (at + m_record > n) return SIZE_MAX;  // the file ends inside this record
            if (TextBlock(p + at)) return at;
            // The identifier elsewhere (the movie box names it too): look on.
            size_t skip = size_t(static_cast<const uint8_t *>(hit) - from) + 1;
            from += skip;
            left -= skip;
        }
        return SIZE_MAX;
    }

    bool StartVideo(const uint8_t *p, size_t n) {
        RepairLayout &l = m_out->layout;
        if (m_video_tried) return m_video != nullptr;
        m_video_tried = true;
        // The file's own headers win over the reference's: the picture size may have been changed.
        std::vector<uint8_t> own =
            l.video_short_header ? std::vector<uint8_t>() : LeadingHeaders(p, n);
        bool short_header = l.video_short_header;
        if (!l.have_video && n >= 4 && p[0] == 0 && p[1] == 0 && (p[2] & 0xFC) == 0x80)
            short_header = true;
        if (!short_header && HasObjectLayer(own)) l.video_config = own;
        if (!short_header && !HasObjectLayer(l.video_config)) return false;
        int w = l.width, h = l.height;
        if (!short_header) {
            uint32_t vw = 0, vh = 0;
            ReaderPictureSizeFromConfig(TAG_MP4V, l.video_config.data(),
                                        uint32_t(l.video_config.size()), &vw, &vh, nullptr,
                                        nullptr);
            if (vw && vh) w = int(vw), h = int(vh);
        }
        if (w <= 0 || h <= 0) w = h = 0;
        auto probe = std::make_unique<VideoProbe>();
        // A short-header picture says its own size; the largest common one covers it.
        if (!probe->Start(l.video_config, short_header, w ? w : 704, h ? h : 576)) return false;
        l.video_short_header = short_header;
        l.width = w;
        l.height = h;
        m_video = std::move(probe);
        return true;
    }

    bool StartAudio() {
        if (m_audio_tried) return m_audio != nullptr;
        m_audio_tried = true;
        if (!m_out->layout.have_audio) return false;
        auto probe = std::make_unique<AudioProbe>();
        if (!probe->Start(m_out->layout.audio_config)) return false;
        m_audio = std::move(probe);
        return true;
    }

    // One 100 ms stretch: [p, p + n) at file offset base, closed by a sensor record unless `last`.
    bool Stretch(const uint8_t *p, size_t n, int64_t base, bool last) {
        const bool short_header = m_out->layout.video_short_header;
        size_t off = 0;
        bool clean = true;
        if (n >= 4 && IsStartCode(p, n, 0, short_header) && StartVideo(p, n)) {
            std::vector<size_t> starts;
            bool picture = false;
            const bool sh = m_out->layout.video_short_header;
            for (size_t i = 0; i + 4 <= n; ++i) {
                if (!IsStartCode(p, n, i, sh)) continue;
                // A sample is the headers in front of a picture and the picture itself.
                if (starts.empty() || picture || sh) {
                    starts.push_back(i);
                    picture = false;
                }
                if (sh || p[i + 3] == 0xB6) picture = true;
                i += 2;
            }
            for (size_t k = 0; k < starts.size(); ++k) {
                const bool at_end = k + 1 == starts.size();
                size_t begin = starts[k], next = at_end ? n : starts[k + 1];
                bool intra = false;
                uint32_t used = m_video->Picture(p + begin, uint32_t(next - begin), &intra);
                size_t end = begin + used;
                // Stuffing of a picture that ended on a byte boundary is one whole byte.
                if (used && !sh && end < next && p[end] == 0x7F) ++end;
                bool fills = used && end + 1 >= next;
                if (used == 0 || (fills && at_end && last)) {
                    // Damaged, or running into the end of the file: cut off, or not, nothing says.
                    clean = last && at_end;
                    off = begin;
                    break;
                }
                if (fills) end = next;
                Add(REPAIR_VIDEO, base + int64_t(begin), end - begin, intra);
                off = end;
                if (end < next) break;  // what follows is sound: a start code in it was chance
            }
        }
        if (clean && off < n) {
            if (StartAudio()) {
                std::vector<RepairSample> frames;
                size_t at = off;
                while (at < n) {
                    uint32_t used =
                        m_audio->Frame(p + at, uint32_t(std::min<size_t>(n - at, 1u << 20)));
                    if (used == 0) break;
                    frames.push_back({base + int64_t(at), used, 1});
                    at += used;
                }
                // Inside the file the frames must meet the record exactly; at its end the last
                // frame may be cut off, and is not among them.
                if (at == n || last) {
                    for (const RepairSample &s : frames) m_out->samples[REPAIR_AUDIO].push_back(s);
                } else {
                    clean = false;
                }
            } else {
                m_out->audio_left_out = true;  // sound is there, but nothing says how to read it
            }
        }
        if (!clean && !last) ++m_out->damaged_stretches;
        return true;
    }

    void Add(int kind, int64_t offset, size_t size, bool sync) {
        m_out->samples[kind].push_back({offset, uint32_t(size), sync ? 1u : 0u});
    }

    Source *m_src;
    RepairScan *m_out;
    std::string m_model;
    uint32_t m_record;
    std::unique_ptr<VideoProbe> m_video;
    std::unique_ptr<AudioProbe> m_audio;
    bool m_video_tried = false, m_audio_tried = false;

public:
    int32_t VideoTimeResolution() const { return m_video ? m_video->TimeResolution() : 0; }
};

// Timing and totals once the samples are known.
void Finish(RepairScan *out, int32_t time_resolution) {
    RepairLayout &l = out->layout;
    auto &video = out->samples[REPAIR_VIDEO];
    auto &audio = out->samples[REPAIR_AUDIO];
    auto &data = out->samples[REPAIR_DATA];
    l.have_data = !data.empty();
    l.have_audio = l.have_audio && !audio.empty();
    bool had_video = !video.empty();
    if (!video.empty() && !video.front().sync) {
        // A picture that refers to one before it cannot start the track.
        auto first =
            std::find_if(video.begin(), video.end(), [](const RepairSample &s) { return s.sync; });
        video.erase(video.begin(), first);
    }
    l.have_video = !video.empty();
    if (l.have_video && (!out->with_reference || !l.video_timescale || !l.video_delta)) {
        // Without a reference: the pictures spread over the time the records cover.
        uint64_t ms = uint64_t(std::max<size_t>(data.size(), 1)) * l.data_delta * 1000 /
                      std::max<uint32_t>(l.data_timescale, 1);
        uint32_t scale = time_resolution > 0 ? uint32_t(time_resolution) : 30000;
        uint64_t delta = (uint64_t(scale) * ms + 500 * video.size()) / (1000 * video.size());
        l.video_timescale = scale;
        l.video_delta = uint32_t(std::max<uint64_t>(delta, 1));
    }
    if (!had_video) l.have_video = false;
    uint64_t longest = 0;
    if (l.have_video)
        longest =
            std::max(longest, uint64_t(video.size()) * l.video_delta * 1000 / l.video_timescale);
    if (l.have_audio && l.audio_rate)
        longest =
            std::max(longest, uint64_t(audio.size()) * l.audio_frame_length * 1000 / l.audio_rate);
    if (l.have_data)
        longest = std::max(longest, uint64_t(data.size()) * l.data_delta * 1000 /
                                        std::max<uint32_t>(l.data_timescale, 1));
    out->duration_ms = longest;
    out->outcome =
        video.empty() && audio.empty() && data.empty() ? REPAIR_NO_MEDIA : REPAIR_REBUILT;
}

// The camera's own signature block in front of the media data carries its model identifier.
void ModelFromHeader(const uint8_t *p, size_t n, RepairLayout *l) {
    for (size_t i = 0; i + 8 + kRepairModelIdSize <= n; ++i) {
        if (std::memcmp(p + i + 4, "skip", 4) != 0) continue;
        const uint8_t *m = p + i + 8;
        bool ok = true;
        for (uint32_t k = 0; k < kRepairModelIdSize && ok; ++k) ok = m[k] > 0x20 && m[k] < 0x7F;
        if (ok) l->model_id.assign(reinterpret_cast<const char *>(m), kRepairModelIdSize);
        return;
    }
}

}  // namespace

MeResult RepairScanBytes(const uint8_t *data, size_t size, int64_t base,
                         const RepairLayout *reference, RepairScan *out) {
    *out = RepairScan{};
    MemorySource src(data, size, base);
    out->media_start = base;
    out->media_end = src.end;
    Scanner scanner(&src, reference, out);
    MeResult r = scanner.Run(base);
    if (r != ME_OK) return r;
    Finish(out, scanner.VideoTimeResolution());
    return ME_OK;
}

MeResult RepairScanFile(const char *broken_path, const RepairLayout *reference, RepairScan *out) {
    *out = RepairScan{};
    ReaderTopLevel top;
    ReaderIndexState state = ReaderCheckIndex(broken_path, &top);
    if (state == READER_INDEX_UNREADABLE)
        return top.file_size ? ME_ERR_FILE_IO : ME_ERR_FILE_NOT_FOUND;
    RepairLayout own;
    if (state == READER_INDEX_PRESENT) {
        // An index that names data past the file's end was written for more than the card kept
        // (or for another file): the media data is scanned, with the index's own set-up.
        if (top.mdat_start < 0 || RepairLearnLayout(broken_path, &own) != ME_OK ||
            own.index_reach < uint64_t(top.file_size)) {
            out->outcome = REPAIR_NOTHING_TO_DO;
            return ME_OK;
        }
        if (!reference) reference = &own;
    } else if (state != READER_INDEX_MISSING) {
        return ME_OK;  // REPAIR_NO_MEDIA
    }
    FileObj *f = FileOpen(broken_path, FILE_READ);
    if (!f) return ME_ERR_FILE_NOT_FOUND;
    if (!reference) {
        uint8_t head[512];
        int32_t n =
            FileReadAt(f, 0, head, uint32_t(std::min<int64_t>(sizeof head, top.mdat_start)));
        if (n > 0) ModelFromHeader(head, size_t(n), &own);
    }
    int64_t stop = top.mdat_to_end ? top.file_size : std::min(top.mdat_end, top.file_size);
    FileSource src(f, top.mdat_payload, stop);
    out->media_start = top.mdat_payload;
    out->media_end = stop;
    Scanner scanner(&src, reference ? reference : &own, out);
    out->with_reference = reference != nullptr;
    MeResult r = scanner.Run(top.mdat_payload);
    FileClose(f);
    if (r != ME_OK) return r;
    if (!reference) out->layout.have_audio = false;
    Finish(out, scanner.VideoTimeResolution());
    return ME_OK;
}
