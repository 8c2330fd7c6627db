// aac_bench [SECONDS]: makes a 44.1 kHz stereo 128 kbit/s ADTS stream with ffmpeg, decodes it with
// our decoder in-process and with `ffmpeg -threads 1 -c:a aac_fixed` (user CPU time as ffmpeg
// reports it with -benchmark), best of five runs each, and prints both times and their ratio.
// Then the same for HE-AAC v2 (SBR and parametric stereo): ffmpeg has no encoder for it, so the
// input is a public HE-AAC v2 test stream (../shared/testvectors) repeated to about a minute.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "codec/aac/aacdec.h"

namespace {

std::vector<uint8_t> ReadAll(const std::string &path) {
    std::vector<uint8_t> d;
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return d;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) d.insert(d.end(), buf, buf + n);
    std::fclose(f);
    return d;
}

double CpuSeconds() {
    rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6;
}

// Decodes the whole stream once; returns CPU seconds and the frame count.
double DecodeOnce(const std::vector<uint8_t> &data, int *frames) {
    AacDecMemBlock mem[AACDEC_NUM_MEM_BLOCKS];
    AacDecQueryMem(mem);
    std::vector<std::vector<uint8_t>> blocks;
    for (auto &m : mem) {
        blocks.emplace_back(m.uSize);
        m.pMem = blocks.back().data();
    }
    AacDecParams p = {};
    p.iFormat = AACDEC_FORMAT_ADTS;
    AacDecHandle h = nullptr;
    if (AacDecInit(AACDEC_VERSION, &h, &p, mem) != 0) return -1;
    std::vector<int16_t> pcm(4096);
    double t0 = CpuSeconds();
    size_t pos = 0;
    *frames = 0;
    while (pos < data.size()) {
        AacDecInBuf in = {static_cast<int32_t>(data.size() - pos),
                          static_cast<int32_t>(data.size() - pos), data.data() + pos};
        AacDecOutBuf out = {0, 8192, pcm.data()};
        int32_t e = AacDecDecode(h, &p, &in, &out);
        if (e == 0) ++*frames;
        if (p.iBytesUsed <= 0) break;
        pos += static_cast<size_t>(p.iBytesUsed);
    }
    return CpuSeconds() - t0;
}

double FfmpegOnce(const std::string &path) {
    std::string cmd = "ffmpeg -hide_banner -nostdin -threads 1 -benchmark -c:a aac_fixed -i '" +
                      path + "' -f null - 2>&1";
    FILE *p = popen(cmd.c_str(), "r");
    if (!p) return -1;
    char line[512];
    double utime = -1;
    while (std::fgets(line, sizeof line, p)) {
        const char *u = std::strstr(line, "utime=");
        if (u) utime = std::atof(u + 6);
    }
    pclose(p);
    return utime;
}

}  // namespace

int main(int argc, char **argv) {
    int seconds = argc > 1 ? std::atoi(argv[1]) : 120;
    std::string path = "/tmp/aac_bench_" + std::to_string(getpid()) + ".aac";
    std::string make =
        "ffmpeg -v error -y -f lavfi -i "
        "\"aevalsrc='0.3*sin(2*PI*440*t)+0.2*sin(2*PI*(200+300*mod(t,7))*t)"
        "+0.05*random(0)|0.25*sin(2*PI*660*t)+0.1*sin(2*PI*1250*t)+0.05*random(1)':s=44100:d=" +
        std::to_string(seconds) + "\" -c:a aac -b:a 128k -f adts '" + path + "'";
    if (std::system(make.c_str()) != 0) {
        std::fprintf(stderr, "aac_bench: ffmpeg is needed to make the input\n");
        return 2;
    }
    auto data = ReadAll(path);
    double ours = 1e9, ref = 1e9;
    int frames = 0;
    for (int i = 0; i < 5; ++i) {
        double t = DecodeOnce(data, &frames);
        if (t >= 0 && t < ours) ours = t;
        double r = FfmpegOnce(path);
        if (r > 0 && r < ref) ref = r;
    }
    std::remove(path.c_str());
    std::printf("aac decode, 44.1 kHz stereo 128 kbit/s, %d s, %d frames\n", seconds, frames);
    std::printf("ours: %.3f s CPU (%.1fx real time)\n", ours, seconds / ours);
    std::printf("ffmpeg -threads 1 -c:a aac_fixed: %.3f s CPU\n", ref);
    std::printf("ratio ours/ffmpeg: %.2f (target <= 1.50)\n", ours / ref);

    const char *vec =
        VT_SOURCE_DIR "/../shared/testvectors/aac/fate_tones_nero_44100_stereo_aac_he2.m4a";
    std::string one = "/tmp/aac_bench_he2_" + std::to_string(getpid()) + ".aac";
    std::string conv =
        std::string("ffmpeg -v error -y -i '") + vec + "' -vn -c:a copy -f adts '" + one + "'";
    if (std::system(conv.c_str()) != 0) {
        std::printf("he-aac v2: test vector not found, skipped\n");
        return 0;
    }
    auto unit = ReadAll(one);
    std::vector<uint8_t> he;
    for (int i = 0; i < 30; ++i) he.insert(he.end(), unit.begin(), unit.end());
    FILE *f = std::fopen(one.c_str(), "wb");
    if (f) {
        std::fwrite(he.data(), 1, he.size(), f);
        std::fclose(f);
    }
    ours = ref = 1e9;
    for (int i = 0; i < 5; ++i) {
        double t = DecodeOnce(he, &frames);
        if (t >= 0 && t < ours) ours = t;
        double r = FfmpegOnce(one);
        if (r > 0 && r < ref) ref = r;
    }
    std::remove(one.c_str());
    double he_seconds = frames * 2048.0 / 44100;
    std::printf("he-aac v2 decode, 44.1 kHz stereo output, %.0f s, %d frames\n", he_seconds,
                frames);
    std::printf("ours: %.3f s CPU (%.1fx real time)\n", ours, he_seconds / ours);
    std::printf("ffmpeg -threads 1 -c:a aac_fixed: %.3f s CPU\n", ref);
    std::printf("ratio ours/ffmpeg: %.2f (target <= 1.50)\n", ours / ref);
    return 0;
}
