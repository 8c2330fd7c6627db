#include "app/recordings.h"

#include "drivedata/folder.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <strings.h>

namespace vt::app {

std::string ProgramFolder() {
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    buf[n] = 0;
    std::string path(buf);
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string ReadRememberedFolder(const std::string &file) {
    FILE *f = std::fopen(file.c_str(), "rb");
    if (f == nullptr) return {};
    char buf[kPathBytes + 1] = {};
    const size_t n = std::fread(buf, 1, kPathBytes, f);
    std::fclose(f);
    return std::string(buf, strnlen(buf, n));
}

bool WriteRememberedFolder(const std::string &file, const std::string &folder) {
    if (folder.size() >= kPathBytes || folder.find('\0') != std::string::npos) return false;
    char buf[kPathBytes] = {};
    std::memcpy(buf, folder.data(), folder.size());
    FILE *f = std::fopen(file.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(buf, 1, kPathBytes, f) == kPathBytes;
    return std::fclose(f) == 0 && ok;
}

bool IsRecordingName(const std::string &name) { return drivedata::IsRecordingName(name); }

bool ListRecordingNames(const std::string &folder, std::vector<std::string> *names) {
    return drivedata::ListRecordingNames(folder, names);
}

}  // namespace vt::app
