// The settings readers and the write sequence over arbitrary file contents and edit texts.
#include <unistd.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "camcfg/camcfg.h"

using namespace vt::camcfg;

namespace {
// A plain array: it must outlive the exit handler that removes the folder.
char g_folder[] = "/tmp/fuzz_camcfg.XXXXXX";

void RemoveFolder() {
    for (const char *name : {kQualityFile, kSoundFile, kSensitivityFile, kFrameFile, kTimeFile})
        unlink(SettingPath(g_folder, name).c_str());
    rmdir(g_folder);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const std::string folder = [] {
        if (!mkdtemp(g_folder)) std::abort();
        std::atexit(RemoveFolder);
        return std::string(g_folder);
    }();

    // The whole input is every code file's content.
    const char *files[] = {kQualityFile, kSoundFile, kSensitivityFile, kFrameFile};
    for (const char *name : files) {
        FILE *f = std::fopen(SettingPath(folder, name).c_str(), "wb");
        if (!f) return 0;
        if (size) std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    CameraSettings s;
    ReadSettings(folder, &s);
    for (Setting row : {Setting::kQuality, Setting::kSound, Setting::kSensitivity, Setting::kFrame})
        ButtonForCode(row, ReadSettingByte(folder, files[static_cast<int>(row)], 3));

    // The input split at newlines gives the six clock texts.
    std::string texts[6];
    size_t t = 0;
    for (size_t i = 0; i < size && t < 6; ++i) {
        if (data[i] == '\n') ++t;
        else if (texts[t].size() < 64) texts[t] += static_cast<char>(data[i]);
    }
    for (const std::string &text : texts) ParseDecimal(text);
    WriteOutcome out = WriteSettings(true, folder, s, texts);
    if (!out.completed) std::abort();
    return 0;
}
