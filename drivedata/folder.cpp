#include "drivedata/folder.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>

namespace vt::drivedata {
namespace {

bool AllDigits(const std::string &s, size_t at, size_t n) {
    for (size_t i = at; i < at + n; ++i)
        if (s[i] < '0' || s[i] > '9') return false;
    return true;
}

int Number(const std::string &s, size_t at, size_t n) {
    int v = 0;
    for (size_t i = at; i < at + n; ++i) v = v * 10 + (s[i] - '0');
    return v;
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// Days from 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, int m, int d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

}  // namespace

bool IsRecordingName(const std::string &name) {
    if (name.size() < 5 || name[0] == '.') return false;
    return strcasecmp(name.c_str() + name.size() - 4, ".mp4") == 0;
}

bool IsRefusedName(const std::string &name) { return name.compare(0, 3, "HDA") == 0; }

bool ListRecordingNames(const std::string &folder, std::vector<std::string> *names) {
    names->clear();
    const std::string dir_path = folder.empty() ? std::string(".") : folder;
    DIR *dir = opendir(dir_path.c_str());
    if (dir == nullptr) return false;
    while (dirent *e = readdir(dir)) {
        const std::string name = e->d_name;
        if (!IsRecordingName(name)) continue;
        struct stat st;
        const std::string full = dir_path + "/" + name;
        if (stat(full.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        names->push_back(name);
    }
    closedir(dir);
    return true;
}

bool ListOrderLess(const std::string &a, const std::string &b) {
    const int c = strcasecmp(a.c_str(), b.c_str());
    return c != 0 ? c < 0 : a < b;
}

bool StartFromName(const std::string &name, DateTime *start) {
    const size_t slash = name.find_last_of('/');
    const std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    // YYYYMMDD_HHMMSS.mp4
    if (base.size() != 19 || base[8] != '_' || !IsRecordingName(base)) return false;
    if (!AllDigits(base, 0, 8) || !AllDigits(base, 9, 6)) return false;
    DateTime t{Number(base, 0, 4), Number(base, 4, 2),  Number(base, 6, 2),
               Number(base, 9, 2), Number(base, 11, 2), Number(base, 13, 2)};
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > DaysInMonth(t.year, t.month))
        return false;
    if (t.hour > 23 || t.minute > 59 || t.second > 59) return false;
    *start = t;
    return true;
}

int64_t LocalSeconds(const DateTime &t) {
    return DaysFromCivil(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

DateTime FromLocalSeconds(int64_t seconds) {
    int64_t days = seconds / 86400, rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    // Civil date from days since 1970-01-01.
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const int64_t y = yoe + era * 400 + (m <= 2);
    return DateTime{static_cast<int>(y),
                    m,
                    d,
                    static_cast<int>(rest / 3600),
                    static_cast<int>(rest / 60 % 60),
                    static_cast<int>(rest % 60)};
}

std::string FormatIsoLocal(const DateTime &t) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return buf;
}

}  // namespace vt::drivedata
