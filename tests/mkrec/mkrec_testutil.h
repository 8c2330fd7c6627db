#pragma once
// Shared by the recording-writer tests: small encoded streams, a box reader for the written files,
// and ffprobe's view of them.
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace vt::test::mkrec {

using Bytes = std::vector<uint8_t>;

// Encodes a short test stream with ffmpeg's lavfi sources; returns empty bytes when ffmpeg fails.
// `kind`: "m4v" (640x480 30 fps, GOP 10), "h263" (352x288, GOP 10), "adts" (22050 Hz mono).
Bytes EncodeStream(const std::string &kind, double seconds, const std::string &extra = "");

struct Box {
    size_t pos = 0;  // of the size field
    uint32_t size = 0;
    std::string type;
    size_t Payload() const { return pos + 8; }
    size_t End() const { return pos + size; }
};

// The boxes between `begin` and `end`, read by their size fields; stops at a bad size.
std::vector<Box> Children(const Bytes &file, size_t begin, size_t end);
// Follows a path of box types from the top level ("moov", "trak#2" = the third trak).
bool FindBox(const Bytes &file, const std::vector<std::string> &path, Box *out);

uint32_t Be32(const Bytes &b, size_t pos);
uint16_t Be16(const Bytes &b, size_t pos);

// One `ffprobe -show_packets` row for a stream.
struct Packet {
    int64_t pts = 0;
    int64_t size = 0;
    int64_t pos = 0;
    bool key = false;
    std::string md5;
};
std::vector<Packet> ProbePackets(const std::filesystem::path &file, int stream);
// key=value pairs of ffprobe's -show_streams for one stream.
std::map<std::string, std::string> ProbeStream(const std::filesystem::path &file, int stream);
// What ffprobe writes on stderr at warning level, minus its note about the sensor stream it has
// no decoder for (the camera's private object type).
std::string ProbeWarnings(const std::filesystem::path &file);

std::string Md5(const Bytes &b);

}  // namespace vt::test::mkrec
