#include "camcfg/camcfg.h"

#include <sys/stat.h>
#include <climits>
#include <cstdio>
#include <utility>

namespace vt::camcfg {
namespace {

enum class WriteResult { kOk, kCannotCreate, kWriteFailed };

WriteResult WriteBytes(const std::string &path, const void *data, size_t size) {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return WriteResult::kCannotCreate;
    bool ok = std::fwrite(data, 1, size, f) == size;
    // A full card shows up only when the buffered byte is flushed.
    if (std::fclose(f) != 0) ok = false;
    return ok ? WriteResult::kOk : WriteResult::kWriteFailed;
}

std::string FailedMessage(const char *name) { return std::string("Create ") + name + " Failed"; }

bool FitsWidth(int v, int width) {
    char buf[16];
    return std::snprintf(buf, sizeof buf, "%0*d", width, v) == width;
}

}  // namespace

std::string SettingPath(const std::string &folder, const char *name) {
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

int ReadSettingByte(const std::string &folder, const char *name, int default_code) {
    FILE *f = std::fopen(SettingPath(folder, name).c_str(), "rb");
    if (!f) return default_code;
    unsigned char code = 0;
    if (std::fread(&code, 1, 1, f) != 1) code = 0;
    std::fclose(f);
    return code;
}

bool WriteSettingByte(const std::string &folder, const char *name, uint8_t code) {
    return WriteBytes(SettingPath(folder, name), &code, 1) == WriteResult::kOk;
}

bool WriteTimeFile(const std::string &folder, int year, int month, int day, int hour, int minute,
                   int second) {
    if (!FitsWidth(year, 4) || !FitsWidth(month, 2) || !FitsWidth(day, 2) || !FitsWidth(hour, 2) ||
        !FitsWidth(minute, 2) || !FitsWidth(second, 2))
        return false;
    char text[kTimeFileLength + 1];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d-%02d-%02d-%02d", year, month, day, hour,
                  minute, second);
    return WriteBytes(SettingPath(folder, kTimeFile), text, kTimeFileLength) == WriteResult::kOk;
}

int ParseDecimal(const std::string &text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        v = v * 10 + (text[i] - '0');
        if (v > INT_MAX) v = INT_MAX + 1LL;  // saturate; keeps INT_MIN reachable
    }
    if (negative) v = -v;
    if (v > INT_MAX) v = INT_MAX;
    return static_cast<int>(v);
}

int ButtonForCode(Setting setting, int code) {
    int lowest = setting == Setting::kSound ? 0 : 1;
    if (code < lowest || code > 3) return -1;
    return 3 - code;
}

void ReadSettings(const std::string &folder, CameraSettings *settings) {
    struct Row {
        const char *file;
        Setting setting;
        int default_code;
        uint8_t *code;
    };
    const Row rows[] = {
        {kQualityFile, Setting::kQuality, kQualityDefault, &settings->quality},
        {kSensitivityFile, Setting::kSensitivity, kSensitivityDefault, &settings->sensitivity},
        {kSoundFile, Setting::kSound, kSoundDefault, &settings->sound},
        {kFrameFile, Setting::kFrame, kFrameDefault, &settings->frame},
    };
    for (const Row &r : rows) {
        int code = ReadSettingByte(folder, r.file, r.default_code);
        if (ButtonForCode(r.setting, code) >= 0) *r.code = static_cast<uint8_t>(code);
    }
}

WriteOutcome WriteSettings(bool folder_chosen, const std::string &folder,
                           const CameraSettings &settings, const std::string *time_texts) {
    WriteOutcome out;
    if (!folder_chosen || folder.empty()) {
        out.messages.push_back(kMsgSelectFolder);
        return out;
    }

    // The first file tells whether the folder exists; a missing one (not its parents) is made.
    WriteResult first = WriteBytes(SettingPath(folder, kQualityFile), &settings.quality, 1);
    if (first == WriteResult::kCannotCreate) {
        if (mkdir(folder.c_str(), 0777) != 0) {
            out.messages.push_back(kMsgConfirmPath);
            return out;
        }
        first = WriteBytes(SettingPath(folder, kQualityFile), &settings.quality, 1);
    }
    if (first != WriteResult::kOk) out.messages.push_back(FailedMessage(kQualityFile));

    const std::pair<const char *, uint8_t> rest[] = {
        {kSoundFile, settings.sound},
        {kSensitivityFile, settings.sensitivity},
        {kFrameFile, settings.frame},
    };
    for (const auto &[name, code] : rest)
        if (!WriteSettingByte(folder, name, code)) out.messages.push_back(FailedMessage(name));

    if (time_texts) {
        int v[6];
        for (int i = 0; i < 6; ++i) v[i] = ParseDecimal(time_texts[i]);
        if (!WriteTimeFile(folder, v[0], v[1], v[2], v[3], v[4], v[5]))
            out.messages.push_back(FailedMessage(kTimeFile));
    }

    out.messages.push_back(kMsgCreated);
    out.completed = true;
    return out;
}

}  // namespace vt::camcfg
