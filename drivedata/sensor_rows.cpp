#include "drivedata/sensor_rows.h"

#include <cstdlib>
#include <cstring>

namespace vt::drivedata {
namespace {

// Keeps valid UTF-8 sequences and replaces every other byte with U+FFFD, so the exported text is
// always valid UTF-8 whatever the camera wrote.
std::string ToUtf8(const uint8_t *p, size_t n) {
    std::string out;
    size_t i = 0;
    while (i < n) {
        uint8_t c = p[i];
        size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        bool ok = len > 0 && i + len <= n;
        for (size_t k = 1; ok && k < len; ++k) ok = (p[i + k] & 0xC0) == 0x80;
        if (ok && len == 2) ok = c >= 0xC2;
        if (ok && len == 3) {
            uint32_t cp = ((c & 0x0Fu) << 12) | ((p[i + 1] & 0x3Fu) << 6) | (p[i + 2] & 0x3Fu);
            ok = cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF);
        }
        if (ok && len == 4) {
            uint32_t cp = ((c & 0x07u) << 18) | ((p[i + 1] & 0x3Fu) << 12) |
                          ((p[i + 2] & 0x3Fu) << 6) | (p[i + 3] & 0x3Fu);
            ok = cp >= 0x10000 && cp <= 0x10FFFF;
        }
        if (ok) {
            out.append(reinterpret_cast<const char *>(p + i), len);
            i += len;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

int Digits(const std::string &s, size_t at, size_t n) {
    int v = 0;
    for (size_t i = 0; i < n; ++i) v = v * 10 + (s[at + i] - '0');
    return v;
}

bool InRange(const DateTime &d) {
    return d.month >= 1 && d.month <= 12 && d.day >= 1 && d.day <= 31 && d.hour >= 0 &&
           d.hour <= 23 && d.minute >= 0 && d.minute <= 59 && d.second >= 0 && d.second <= 59;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

double PackedToDegrees(int32_t v) {
    // Truncating division keeps every part's sign, so the sum is signed like v.
    int32_t degrees = v / 1000000;
    int32_t minutes = (v % 1000000) / 10000;
    double seconds = (v % 10000) / 100.0;
    return degrees + minutes / 60.0 + seconds / 3600.0;
}

bool PackedIsValid(int32_t v, int max_degrees) {
    int64_t a = v < 0 ? -int64_t{v} : int64_t{v};
    return a / 1000000 <= max_degrees && (a % 1000000) / 10000 < 60 && (a % 10000) < 6000 &&
           std::abs(PackedToDegrees(v)) <= max_degrees;
}

bool ParseDateTime(const std::string &text, DateTime *out) {
    // Runs of digits with their positions.
    struct Run {
        size_t at, len;
    };
    std::vector<Run> runs;
    for (size_t i = 0; i < text.size();) {
        if (!IsDigit(text[i])) {
            ++i;
            continue;
        }
        size_t j = i;
        while (j < text.size() && IsDigit(text[j])) ++j;
        runs.push_back({i, j - i});
        i = j;
    }
    for (size_t r = 0; r < runs.size(); ++r) {
        DateTime d{};
        if (runs[r].len == 14) {  // YYYYMMDDhhmmss
            size_t a = runs[r].at;
            d = {Digits(text, a, 4),     Digits(text, a + 4, 2),  Digits(text, a + 6, 2),
                 Digits(text, a + 8, 2), Digits(text, a + 10, 2), Digits(text, a + 12, 2)};
        } else if (r + 6 <= runs.size()) {
            static const size_t kLens[6] = {4, 2, 2, 2, 2, 2};
            bool match = true;
            for (size_t k = 0; k < 6 && match; ++k) {
                match = runs[r + k].len == kLens[k];
                // Fields are separated by one or two characters ("/", " ", ":", ", ").
                if (match && k > 0) {
                    size_t gap = runs[r + k].at - (runs[r + k - 1].at + runs[r + k - 1].len);
                    match = gap >= 1 && gap <= 2;
                }
            }
            if (!match) continue;
            int v[6];
            for (size_t k = 0; k < 6; ++k) v[k] = Digits(text, runs[r + k].at, runs[r + k].len);
            d = {v[0], v[1], v[2], v[3], v[4], v[5]};
        } else {
            continue;
        }
        if (InRange(d)) {
            *out = d;
            return true;
        }
    }
    return false;
}

void CollectSensorRows(const SensorData *sd, std::vector<SensorRow> *rows) {
    rows->clear();
    uint32_t entries = EntryCount(sd);
    for (uint32_t k = 0; k < entries; ++k) {
        const uint8_t *rec;
        if (FindEntry(sd, k, &rec) != Lookup::kFound) continue;
        SensorRow row;
        row.time_ms = uint64_t{k} * 100;
        row.latitude_raw = ReadBe32(rec + kRecLatitudeOffset);
        row.longitude_raw = ReadBe32(rec + kRecLongitudeOffset);
        row.latitude = PackedToDegrees(row.latitude_raw);
        row.longitude = PackedToDegrees(row.longitude_raw);
        row.has_position = (row.latitude_raw != 0 || row.longitude_raw != 0) &&
                           PackedIsValid(row.latitude_raw, 90) &&
                           PackedIsValid(row.longitude_raw, 180);
        for (int a = 0; a < 3; ++a) row.accel[a] = RecordAccel(rec, static_cast<Axis>(a));

        const uint8_t *text = rec + kRecTextOffset;
        const void *zero = std::memchr(text, 0, kRecTextSize);
        size_t len =
            zero ? static_cast<size_t>(static_cast<const uint8_t *>(zero) - text) : kRecTextSize;
        row.text = ToUtf8(text, len);
        row.has_time = ParseDateTime(row.text, &row.time);
        if (!row.has_time) {
            // The date may sit in a later field of the block: read the whole block with its
            // padding as separators.
            std::string block(reinterpret_cast<const char *>(text), kRecTextSize);
            for (char &c : block)
                if (c == 0) c = ' ';
            row.has_time = ParseDateTime(block, &row.time);
        }
        rows->push_back(std::move(row));
    }
}

}  // namespace vt::drivedata
