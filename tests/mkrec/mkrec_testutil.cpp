#include "tests/mkrec/mkrec_testutil.h"

#include <algorithm>
#include <sstream>

#include "tests/common/testutil.h"
#include "tools/common/md5.h"

namespace vt::test::mkrec {

Bytes EncodeStream(const std::string &kind, double seconds, const std::string &extra) {
    TempDir dir;
    auto out = dir / "s.bin";
    std::string t = std::to_string(seconds);
    std::string cmd = "ffmpeg -nostdin -v error -y ";
    if (kind == "m4v") {
        cmd += "-f lavfi -i testsrc2=size=640x480:rate=30 -t " + t + " -c:v mpeg4 -bf 0 -g 10 " +
               extra + " -f m4v ";
    } else if (kind == "h263") {
        cmd += "-f lavfi -i testsrc2=size=352x288:rate=30000/1001 -t " + t + " -c:v h263 -g 10 " +
               extra + " -f h263 ";
    } else if (kind == "adts") {
        cmd += "-f lavfi -i sine=frequency=440:sample_rate=22050 -t " + t +
               " -ac 1 -c:a aac -b:a 48k " + extra + " -f adts ";
    } else {
        return {};
    }
    if (Run(cmd + Quote(out.string()) + " 2>/dev/null") != 0) return {};
    return ReadFileBytes(out);
}

uint32_t Be32(const Bytes &b, size_t pos) {
    if (pos + 4 > b.size()) return 0;
    return static_cast<uint32_t>(b[pos]) << 24 | static_cast<uint32_t>(b[pos + 1]) << 16 |
           static_cast<uint32_t>(b[pos + 2]) << 8 | b[pos + 3];
}

uint16_t Be16(const Bytes &b, size_t pos) {
    if (pos + 2 > b.size()) return 0;
    return static_cast<uint16_t>(b[pos] << 8 | b[pos + 1]);
}

std::vector<Box> Children(const Bytes &file, size_t begin, size_t end) {
    std::vector<Box> boxes;
    end = std::min(end, file.size());
    while (begin + 8 <= end) {
        Box b;
        b.pos = begin;
        b.size = Be32(file, begin);
        b.type.assign(reinterpret_cast<const char *>(file.data() + begin + 4), 4);
        if (b.size < 8 || b.size > end - begin) break;
        boxes.push_back(b);
        begin += b.size;
    }
    return boxes;
}

bool FindBox(const Bytes &file, const std::vector<std::string> &path, Box *out) {
    size_t begin = 0, end = file.size();
    for (const std::string &step : path) {
        std::string type = step.substr(0, 4);
        int index = step.size() > 5 ? std::stoi(step.substr(5)) : 0;
        bool found = false;
        for (const Box &b : Children(file, begin, end)) {
            if (b.type == type && index-- == 0) {
                *out = b;
                found = true;
                break;
            }
        }
        if (!found) return false;
        begin = out->Payload();
        end = out->End();
        // Full boxes and sample entries whose children follow fixed fields.
        if (type == "stsd") begin += 8;
        else if (type == "mp4v" || type == "s263") begin += 78;
        else if (type == "mp4a") begin += 28;
        else if (type == "mp4s") begin += 8;
        else if (type == "dref") begin += 8;
    }
    return true;
}

std::vector<Packet> ProbePackets(const std::filesystem::path &file, int stream) {
    std::string out;
    Run("ffprobe -v error -select_streams " + std::to_string(stream) +
            " -show_packets -show_data_hash md5 -show_entries packet=pts,size,pos,flags,data_hash "
            "-of csv=p=0 " +
            Quote(file.string()),
        &out);
    std::vector<Packet> packets;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        // pts,size,pos,flags,MD5:hash
        std::istringstream row(line);
        std::string pts, size, pos, flags, hash;
        std::getline(row, pts, ',');
        std::getline(row, size, ',');
        std::getline(row, pos, ',');
        std::getline(row, flags, ',');
        std::getline(row, hash, ',');
        Packet p;
        p.pts = std::stoll(pts);
        p.size = std::stoll(size);
        p.pos = std::stoll(pos);
        p.key = !flags.empty() && flags[0] == 'K';
        p.md5 = hash.size() > 4 ? hash.substr(4) : hash;
        packets.push_back(p);
    }
    return packets;
}

std::map<std::string, std::string> ProbeStream(const std::filesystem::path &file, int stream) {
    std::string out;
    Run("ffprobe -v error -count_packets -select_streams " + std::to_string(stream) +
            " -show_streams -of default=nw=1 " + Quote(file.string()),
        &out);
    std::map<std::string, std::string> kv;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        size_t eq = line.find('=');
        if (eq != std::string::npos) kv[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return kv;
}

std::string ProbeWarnings(const std::filesystem::path &file) {
    std::string out;
    Run("ffprobe -v warning -show_streams -show_packets " + Quote(file.string()) +
            " 2>&1 >/dev/null | grep -v '^Unsupported codec with id 0 for input stream 2$'",
        &out);
    return out;
}

std::string Md5(const Bytes &b) { return vt::Md5Hex(b.data(), b.size()); }

}  // namespace vt::test::mkrec
